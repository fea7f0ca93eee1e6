// The LBP cascade's arithmetic on windows: OpenCV 4.6's
// LBPEvaluator::OptFeature::calc and predictCategoricalStump, operation for
// operation, and the order in which its CPU loop visits a row's windows.
//
// Per stump, OpenCV sums the nine cells of the feature's block from the
// integral image in int (a - b - c + d), sets one bit of an 8-bit code for
// each outer cell whose sum is at least the centre's (clockwise from the
// top-left cell, 128 down to 1), and takes the left leaf when the code's
// bit is set in the stump's subset. A stage adds its stumps' leaves in
// double, in order, and the window fails it when the sum is below the
// stage's threshold. There is no variance test: every window the loop
// visits runs the first stage, and a window that fails it makes the loop
// skip the next one.
//
// Each path (portable, AVX2 over 8 windows, AVX-512 over 16) performs those
// operations in that order, so every path reaches OpenCV's decisions bit
// for bit (int sums wrap alike in any order of the four terms); tests ask
// for each path by name. The vector paths take the first stage of a run of
// consecutive windows at once, replay the skips (cascade_skips.h) to learn
// which of them OpenCV visits, and carry those that passed through the
// later stages in the same lanes.
#ifndef MORVIK_LBP_KERNELS_H_
#define MORVIK_LBP_KERNELS_H_

#include <cstdint>
#include <vector>

#include "engine/cascade/haar_kernels.h"
#include "engine/cascade/lbp_program.h"

namespace morvik {

// What a search did, for profiling: windows OpenCV visits and those that
// pass each stage.
struct LbpCounts {
  int64_t windows = 0;
  std::vector<int64_t> passing;
};

// The `count` windows of the row whose origins are consecutive from
// sums + row_origin, as OpenCV's loop visits them: the origins of those
// that pass every stage are appended to `detected`, in order. The vector
// paths read up to kHaarLanePadding ints past the row's last window origin
// (and its corners), in lanes whose results are dropped. `isa` is one of
// haar_kernels.h's paths; `counts` may be null.
void lbpScanRow(const LbpProgram& program, const int* sums, int row_origin, int count, std::vector<int>& detected,
                HaarIsa isa, LbpCounts* counts);

}  // namespace morvik

#endif  // MORVIK_LBP_KERNELS_H_
