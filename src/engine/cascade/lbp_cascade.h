// An OpenCV LBP cascade of stumps, as the library's own evaluator reads it.
//
// OpenCV's new-format LBP cascades (lbpcascade_frontalface.xml) hold
// boosted stages of stumps over local binary patterns: a feature is a block
// of 3 x 3 equal cells, its value the 8-bit code that says which outer
// cells' sums are at least the centre cell's, and a stump takes its left
// leaf when that code is in its 256-bit subset. The evaluator
// (lbp_detect.h) serves the cascades whose weak classifiers are all such
// stumps over 256 categories; the loader reads them with cv::FileStorage,
// value for value as CascadeClassifier::load does, and says which files it
// does not serve (for OpenCV's classifier) and which are damaged.
#ifndef MORVIK_LBP_CASCADE_H_
#define MORVIK_LBP_CASCADE_H_

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace morvik {

// The code's 256 categories as bits: category c is bit c % 32 of word c / 32.
constexpr int kLbpSubsetWords = 8;

// A weak classifier: `left` when the feature's code is in `subset`.
struct LbpStump {
  int feature = 0;
  uint32_t subset[kLbpSubsetWords] = {};
  float left = 0.0f;
  float right = 0.0f;
};

// Stumps [first, first + count) of the cascade; a window passes the stage
// when the sum of their leaves is not below `threshold`.
struct LbpStage {
  int first = 0;
  int count = 0;
  float threshold = 0.0f;
};

struct LbpCascade {
  cv::Size window;
  // Each feature's top-left cell, in pixels of the window; the block is
  // three cells across and down, inside the window.
  std::vector<cv::Rect> cells;
  std::vector<LbpStump> stumps;
  std::vector<LbpStage> stages;
  // Distinguishes loaded cascades for the scratch memory that caches work
  // derived from one (0: none loaded).
  uint64_t id = 0;
};

enum LbpLoadResult {
  kLbpLoaded = 0,
  kLbpUnreadable = -1,  // missing, or not a file cv::FileStorage reads
  kLbpNotServed = -2,   // old format, Haar, trees, other category counts
  kLbpDamaged = -3,     // an LBP cascade with values out of range or missing
};

// Reads the cascade file at `path`. On any result but kLbpLoaded, `cascade`
// is left empty. kLbpDamaged covers what OpenCV's own reader takes but its
// evaluator would read outside its buffers for (a feature index past the
// features, a block reaching out of the window, subsets of fewer than 256
// categories).
LbpLoadResult loadLbpCascade(const std::string& path, LbpCascade& cascade);

}  // namespace morvik

#endif  // MORVIK_LBP_CASCADE_H_
