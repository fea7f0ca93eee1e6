// Haar features, one of the kinds a cascade (cascade.h) is made of.
//
// A feature is up to three weighted rectangles of the window; its value,
// the weighted sum of their pixel sums scaled by the window's variance
// factor, takes a stump's left leaf when below the stump's threshold. The
// evaluator serves upright features only (OpenCV's tilted ones and
// categorical Haar cascades are left to OpenCV). This header says how a
// Haar cascade's values are read from its file and laid out for the
// search; their arithmetic on windows is haar_lanes.h.
#ifndef MORVIK_HAAR_KIND_H_
#define MORVIK_HAAR_KIND_H_

#include <opencv2/core.hpp>

#include "engine/cascade/cascade.h"
#include "engine/cascade/cascade_kind.h"

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

// A stump laid out for the search: its feature's corners as offsets a, b,
// c, d per rectangle (sum = a - b - c + d). `third` is false when the
// third weight is 0: OpenCV then leaves that rectangle out of the value.
// The leaves are OpenCV's floats, widened once here (exactly) for the
// stage's double sum.
struct HaarStumpCode {
  int corner[3][4];
  float weight[3];
  float threshold;
  double left, right;
  bool third;
};

// What a window's variance test reads: the corners of the rectangle the
// variance is taken over, its area (as OpenCV's int product) and where the
// squared sums are.
struct HaarWindowCode {
  int norm[4] = {0, 0, 0, 0};
  double area = 0.0;
  int squares = 0;
};

// The search needs the squared sums for the variance test; few windows
// pass the later stages, so pairing half-empty vectors pays.
using HaarKind = CascadeKind<HaarFeature, HaarStump, HaarStumpCode, HaarWindowCode, true, true>;
MORVIK_CASCADE_KIND_DEFINED_ELSEWHERE(HaarKind);

using HaarCascade = Cascade<HaarKind>;

}  // namespace morvik

#endif  // MORVIK_HAAR_KIND_H_
