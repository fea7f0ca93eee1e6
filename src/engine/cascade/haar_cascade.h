// An OpenCV Haar cascade of stumps, as the library's own evaluator reads it.
//
// OpenCV's new-format cascade files (the <cascade> node that
// haarcascade_eye.xml and haarcascade_frontalface_alt.xml have) hold boosted
// stages of weak classifiers over Haar features. The evaluator
// (haar_detect.h) serves those whose weak classifiers are all stumps (one
// node each) over upright features; the loader reads them with
// cv::FileStorage, value for value as CascadeClassifier::load does, and
// refuses everything else, so that the caller keeps OpenCV's classifier
// for it.
#ifndef MORVIK_HAAR_CASCADE_H_
#define MORVIK_HAAR_CASCADE_H_

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace morvik {

// One weighted rectangle of a feature, in pixels of the window. A feature
// with fewer than three rectangles has empty ones of weight 0.
struct HaarRect {
  int x = 0, y = 0, width = 0, height = 0;
  float weight = 0.0f;
};

struct HaarFeature {
  HaarRect rect[3];
};

// A weak classifier: `left` when the feature's value is below `threshold`.
struct HaarStump {
  int feature = 0;
  float threshold = 0.0f;
  float left = 0.0f;
  float right = 0.0f;
};

// Stumps [first, first + count) of the cascade; a window passes the stage
// when the sum of their leaves is not below `threshold`.
struct HaarStage {
  int first = 0;
  int count = 0;
  float threshold = 0.0f;
};

struct HaarCascade {
  cv::Size window;
  std::vector<HaarFeature> features;
  std::vector<HaarStump> stumps;
  std::vector<HaarStage> stages;
  // Distinguishes loaded cascades for the scratch memory that caches work
  // derived from one (0: none loaded).
  uint64_t id = 0;
};

enum HaarLoadResult {
  kHaarLoaded = 0,
  kHaarUnreadable = -1,  // missing, or not a file cv::FileStorage reads
  kHaarNotServed = -2,   // old format, LBP, trees, tilted or categorical features
  kHaarDamaged = -3,     // a cascade, but with values out of range or missing
};

// Reads the cascade file at `path`. On any result but kHaarLoaded,
// `cascade` is left empty.
HaarLoadResult loadHaarCascade(const std::string& path, HaarCascade& cascade);

}  // namespace morvik

#endif  // MORVIK_HAAR_CASCADE_H_
