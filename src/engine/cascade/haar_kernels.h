// The cascade's arithmetic on windows: OpenCV 4.6's HaarEvaluator::setWindow
// and predictOrderedStump, operation for operation, and the order in which
// its CPU loop visits a row's windows.
//
// Per window, OpenCV takes the sum and the (unsigned) squared sum of the
// variance rectangle in int, computes nf = area * sqsum - sum * sum in
// double and, when nf > 0, the factor (float)(1 / sqrt(nf)); a window
// with nf <= 0 or area * factor >= 0.1 is rejected before any stage. A
// feature's value is w0 * s0 + w1 * s1 (+ w2 * s2 when w2 != 0) in float,
// times the factor; a stage adds its stumps' leaves in double, in order,
// and the window fails it when the sum is below the stage's threshold. A
// window that fails the first stage makes the loop skip the next one.
//
// Each path (portable, AVX2 over 8 windows, AVX-512 over 16) performs those
// IEEE operations in that order, with no fused multiply-add, so every path
// reaches OpenCV's decisions bit for bit; tests ask for each path by name.
// The vector paths take the variance test and the first stage of a run of
// consecutive windows at once, replay the skips to learn which of them
// OpenCV visits, and carry those that passed through the later stages in
// the same lanes while enough of them are alive. Survivors are not gathered
// into full vectors: on the processors measured, a 16-lane gather costs
// about as much as 20 plain vector loads. When few lanes are left, the
// AVX-512 path instead leaves each half of the vector (8 consecutive
// windows) to a backlog, where halves from anywhere waiting for the same
// stage are paired into one vector: two plain loads per corner.
#ifndef MORVIK_HAAR_KERNELS_H_
#define MORVIK_HAAR_KERNELS_H_

#include <cstdint>
#include <vector>

#include "engine/cascade/haar_program.h"

namespace morvik {

enum class HaarIsa { kPortable, kAvx2, kAvx512 };

// The widest path this build has and this processor runs.
HaarIsa bestHaarIsa();
// Whether `isa` can run here.
bool haarIsaRuns(HaarIsa isa);

// Vector paths read up to this many ints past a row's last window origin
// (and its rectangles' corners), in lanes whose results are dropped; the
// integral images' memory must extend that far.
constexpr int kHaarLanePadding = 16;

// What a search did, for profiling: windows OpenCV visits, those that pass
// the variance test, and those that pass each stage.
struct HaarCounts {
  int64_t windows = 0;
  int64_t checked = 0;
  std::vector<int64_t> passing;
};

// Eight consecutive windows waiting for a later stage: the first one's
// origin, the live ones (bits) and their variance factors.
struct HaarHalf {
  int origin;
  uint32_t live;
  float factors[8];
};

// The halves of one size waiting, by the stage they must pass next.
struct HaarBacklog {
  std::vector<std::vector<HaarHalf>> stages;
  void reset(size_t count);  // empties every list, keeps the memory
  size_t bytes() const;
};

// The `count` windows of the row whose origins are consecutive from
// sums + row_origin, as OpenCV's loop visits them: the origins of those
// that pass every stage are appended to `detected`; undecided ones may be
// left to `backlog`. `counts` may be null.
void haarScanRow(const HaarProgram& program, const int* sums, int row_origin, int count,
                 std::vector<int>& detected, HaarBacklog& backlog, HaarIsa isa, HaarCounts* counts);

// Decides every window of the backlog, appending the origins of those that
// pass every stage to `detected`. Origins grow in OpenCV's scan order:
// sorting `detected` afterwards gives that order back.
void haarDecideBacklog(const HaarProgram& program, const int* sums, HaarBacklog& backlog,
                       std::vector<int>& detected, HaarIsa isa, HaarCounts* counts);

}  // namespace morvik

#endif  // MORVIK_HAAR_KERNELS_H_
