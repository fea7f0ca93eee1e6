// An OpenCV stump cascade as the library's evaluator reads it, over one
// kind of feature (haar_kind.h, lbp_kind.h).
//
// OpenCV's new-format cascade files (the <cascade> node) hold boosted
// stages of weak classifiers over one kind of feature. The evaluator
// (cascade_detect.h) serves those whose weak classifiers are all stumps
// (one node each) over features it computes; the reader takes them with
// cv::FileStorage, value for value as CascadeClassifier::load does, and
// says which files it does not serve (for OpenCV's classifier) and which
// are damaged.
#ifndef MORVIK_CASCADE_H_
#define MORVIK_CASCADE_H_

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace morvik {

// Stumps [first, first + count) of the cascade; a window passes the stage
// when the sum of their leaves is not below `threshold`.
struct CascadeStage {
  int first = 0;
  int count = 0;
  float threshold = 0.0f;
};

// `Kind` names the features and the stumps over them.
template <typename Kind>
struct Cascade {
  cv::Size window;
  std::vector<typename Kind::Feature> features;
  std::vector<typename Kind::Stump> stumps;
  std::vector<CascadeStage> stages;
  // Distinguishes loaded cascades for the scratch memory that caches work
  // derived from one (0: none loaded).
  uint64_t id = 0;
};

enum CascadeLoadResult {
  kCascadeLoaded = 0,
  kCascadeUnreadable = -1,  // missing, or not a file cv::FileStorage reads
  kCascadeNotServed = -2,   // old format, another feature kind, trees, features the kind leaves to OpenCV
  kCascadeDamaged = -3,     // a cascade of the kind, but with values out of range or missing
};

// Reads the cascade file at `path`. On any result but kCascadeLoaded,
// `cascade` is left empty. kCascadeDamaged covers what OpenCV's own reader
// takes but its evaluator would read outside its buffers for (a feature
// index past the features, a feature reaching out of the window, ...).
template <typename Kind>
CascadeLoadResult readCascadeFile(const std::string& path, Cascade<Kind>& cascade);

}  // namespace morvik

#endif  // MORVIK_CASCADE_H_
