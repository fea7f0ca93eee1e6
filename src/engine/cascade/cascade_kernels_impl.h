// What the per-instruction-set paths of cascade_kernels.h share: a stage
// on one window, and the vector paths' entry points.
#ifndef MORVIK_CASCADE_KERNELS_IMPL_H_
#define MORVIK_CASCADE_KERNELS_IMPL_H_

#include <vector>

#include "engine/cascade/cascade_kernels.h"
#include "engine/cascade/haar_lanes.h"
#include "engine/cascade/lbp_lanes.h"

namespace morvik {
namespace cascade_impl {

template <typename Kind>
inline bool passesStage(const CascadeProgram<Kind>& p, const CascadeStage& stage, const int* w, float factor) {
  double sum = 0;
  const typename Kind::StumpCode* s = p.stumps.data() + stage.first;
  for (int i = 0; i < stage.count; ++i, ++s) {
    // Picked by index, not by a branch the stumps would mispredict.
    const double leaves[2] = {s->right, s->left};
    sum += leaves[takesLeft(*s, w, factor)];
  }
  return !(sum < stage.threshold);
}

#if defined(__AVX2__)
template <typename Kind>
void scanRowAvx2(const CascadeProgram<Kind>& p, const int* sums, int row_origin, int count,
                 std::vector<int>& detected, CascadeCounts* counts);
#endif
#if defined(__AVX512F__)
template <typename Kind>
void scanRowAvx512(const CascadeProgram<Kind>& p, const int* sums, int row_origin, int count,
                   std::vector<int>& detected, CascadeBacklog& backlog, CascadeCounts* counts);
template <typename Kind>
void decideBacklogAvx512(const CascadeProgram<Kind>& p, const int* sums, CascadeBacklog& backlog,
                         std::vector<int>& detected, CascadeCounts* counts);
#endif

}  // namespace cascade_impl
}  // namespace morvik

#endif  // MORVIK_CASCADE_KERNELS_IMPL_H_
