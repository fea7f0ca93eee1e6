// The cascade's stages on the windows of a row, and the order in which
// OpenCV 4.6's CPU loop visits them (its predictOrderedStump and
// predictCategoricalStump).
//
// A window first gets its kind's test (Haar: the variance; LBP: none); a
// stage adds its stumps' leaves in double, in order, and the window fails
// it when the sum is below the stage's threshold. A window that fails the
// first stage makes the loop skip the next one.
//
// Each path (portable, AVX2 over 8 windows, AVX-512 over 16) performs the
// kind's IEEE operations (haar_lanes.h, lbp_lanes.h) in OpenCV's order, so
// every path reaches OpenCV's decisions bit for bit; tests ask for each
// path by name. The vector paths take the test and the first stage of a
// run of consecutive windows at once, replay the skips to learn which of
// them OpenCV visits (cascade_skips.h), and carry those that passed through
// the later stages in the same lanes while enough of them are alive.
// Survivors are not gathered into full vectors: on the processors
// measured, a 16-lane gather costs about as much as 20 plain vector loads.
// For kinds that pair halves (Kind::kPairsHalves), when few lanes are left
// the AVX-512 path instead leaves each half of the vector (8 consecutive
// windows) to a backlog, where halves from anywhere waiting for the same
// stage are paired into one vector: two plain loads per corner.
#ifndef MORVIK_CASCADE_KERNELS_H_
#define MORVIK_CASCADE_KERNELS_H_

#include <cstdint>
#include <vector>

#include "engine/cascade/cascade_program.h"

namespace morvik {

enum class CascadeIsa { kPortable, kAvx2, kAvx512 };

// The widest path this build has and this processor runs.
CascadeIsa bestCascadeIsa();
// Whether `isa` can run here.
bool cascadeIsaRuns(CascadeIsa isa);

// Vector paths read up to this many ints past a row's last window origin
// (and its corners), in lanes whose results are dropped; the integral
// images' memory must extend that far.
constexpr int kCascadeLanePadding = 16;

// What a search did, for profiling: windows OpenCV visits, those that pass
// the kind's test before the stages, and those that pass each stage.
struct CascadeCounts {
  int64_t windows = 0;
  int64_t checked = 0;
  std::vector<int64_t> passing;
};

// Eight consecutive windows waiting for a later stage: the first one's
// origin, the live ones (bits) and their variance factors.
struct CascadeHalf {
  int origin;
  uint32_t live;
  float factors[8];
};

// The halves of one size waiting, by the stage they must pass next.
struct CascadeBacklog {
  std::vector<std::vector<CascadeHalf>> stages;
  void reset(size_t count);  // empties every list, keeps the memory
  size_t bytes() const;
};

// The `count` windows of the row whose origins are consecutive from
// sums + row_origin, as OpenCV's loop visits them: the origins of those
// that pass every stage are appended to `detected`; undecided ones may be
// left to `backlog`. `counts` may be null.
template <typename Kind>
void scanCascadeRow(const CascadeProgram<Kind>& program, const int* sums, int row_origin, int count,
                    std::vector<int>& detected, CascadeBacklog& backlog, CascadeIsa isa, CascadeCounts* counts);

// Decides every window of the backlog, appending the origins of those that
// pass every stage to `detected`. Origins grow in OpenCV's scan order:
// sorting `detected` afterwards gives that order back.
template <typename Kind>
void decideCascadeBacklog(const CascadeProgram<Kind>& program, const int* sums, CascadeBacklog& backlog,
                          std::vector<int>& detected, CascadeIsa isa, CascadeCounts* counts);

}  // namespace morvik

#endif  // MORVIK_CASCADE_KERNELS_H_
