// An LBP cascade laid out for one arrangement of integral images in memory
// (HaarLayout, haar_program.h): each stump's 16 cell corners become fixed
// offsets from a window's origin, so that the windows of a row can be
// evaluated in vector lanes with plain loads.
#ifndef MORVIK_LBP_PROGRAM_H_
#define MORVIK_LBP_PROGRAM_H_

#include <cstdint>
#include <vector>

#include "engine/cascade/haar_program.h"
#include "engine/cascade/lbp_cascade.h"

namespace morvik {

// One stump with its block's corners: corner[4 * r + c] is the offset of
// the block's corner c cells across and r cells down (OpenCV's ofs[]). The
// leaves are OpenCV's floats, widened once here (exactly) for the stage's
// double sum.
struct LbpStumpCode {
  int corner[16];
  uint32_t subset[kLbpSubsetWords];
  double left, right;
};

struct LbpProgram {
  uint64_t cascade = 0;  // LbpCascade::id it was made from
  HaarLayout layout;
  std::vector<LbpStumpCode> stumps;
  std::vector<LbpStage> stages;
};

// Lays `cascade` out for `layout` (nothing is done when `program` already is).
void layOutLbp(const LbpCascade& cascade, const HaarLayout& layout, LbpProgram& program);

}  // namespace morvik

#endif  // MORVIK_LBP_PROGRAM_H_
