// Local binary patterns, one of the kinds a cascade (cascade.h) is made of.
//
// A feature is a block of 3 x 3 equal cells; its value, the 8-bit code that
// says which outer cells' sums are at least the centre cell's, takes a
// stump's left leaf when it is in the stump's 256-bit subset. The evaluator
// serves cascades over 256 categories (other counts are left to OpenCV).
// This header says how an LBP cascade's values are read from its file and
// laid out for the search; their arithmetic on windows is lbp_lanes.h.
#ifndef MORVIK_LBP_KIND_H_
#define MORVIK_LBP_KIND_H_

#include <cstdint>

#include <opencv2/core.hpp>

#include "engine/cascade/cascade.h"
#include "engine/cascade/cascade_kind.h"

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

// A stump laid out for the search, with its block's corners:
// corner[4 * r + c] is the offset of the block's corner c cells across and
// r cells down (OpenCV's ofs[]). The leaves are OpenCV's floats, widened
// once here (exactly) for the stage's double sum.
struct LbpStumpCode {
  int corner[16];
  uint32_t subset[kLbpSubsetWords];
  double left, right;
};

// LBP windows need no test before the stages.
struct LbpWindowCode {};

// Each feature is its block's top-left cell, in pixels of the window; the
// block is three cells across and down, inside the window. OpenCV's
// LBPEvaluator has no squared sums. The first stage passes most windows
// and the later ones leave the lanes mostly empty: the live lanes of half
// vectors are barely denser, so pairing them does not pay.
using LbpKind = CascadeKind<cv::Rect, LbpStump, LbpStumpCode, LbpWindowCode, false, false>;
MORVIK_CASCADE_KIND_DEFINED_ELSEWHERE(LbpKind);

using LbpCascade = Cascade<LbpKind>;

}  // namespace morvik

#endif  // MORVIK_LBP_KIND_H_
