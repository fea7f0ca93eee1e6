// The portable path of the cascade's stages, and the choice of path; see
// cascade_kernels.h.
#include "engine/cascade/cascade_kernels.h"

#include "engine/cascade/cascade_kernels_impl.h"
#include "engine/cascade/haar_kind.h"
#include "engine/cascade/lbp_kind.h"

namespace morvik {
namespace {

using cascade_impl::passesStage;
using cascade_impl::windowFactor;

// The stage the window fails, or the number of stages when it passes them
// all.
template <typename Kind>
int failedStage(const CascadeProgram<Kind>& p, const int* w, float factor, CascadeCounts* counts) {
  const int stages = static_cast<int>(p.stages.size());
  int s = 0;
  for (; s < stages && passesStage(p, p.stages[static_cast<size_t>(s)], w, factor); ++s)
    if (counts != nullptr) ++counts->passing[static_cast<size_t>(s)];
  return s;
}

// OpenCV's own loop over the row, one window at a time.
template <typename Kind>
void scanRowPortable(const CascadeProgram<Kind>& p, const int* sums, int row_origin, int count,
                     std::vector<int>& detected, CascadeCounts* counts) {
  const int stages = static_cast<int>(p.stages.size());
  for (int k = 0; k < count; ++k) {
    if (counts != nullptr) ++counts->windows;
    const int* w = sums + row_origin + k;
    float factor = 0.0f;
    if (!windowFactor(p.window, w, &factor)) continue;
    if (counts != nullptr) ++counts->checked;
    const int failed = failedStage(p, w, factor, counts);
    if (failed == 0)
      ++k;  // the next window is skipped
    else if (failed == stages)
      detected.push_back(row_origin + k);
  }
}

}  // namespace

bool cascadeIsaRuns(CascadeIsa isa) {
  switch (isa) {
    case CascadeIsa::kPortable:
      return true;
    case CascadeIsa::kAvx2: {
#if defined(__AVX2__)
      static const bool runs = __builtin_cpu_supports("avx2");
      return runs;
#else
      return false;
#endif
    }
    case CascadeIsa::kAvx512: {
#if defined(__AVX512F__)
      static const bool runs = __builtin_cpu_supports("avx512f");
      return runs;
#else
      return false;
#endif
    }
  }
  return false;
}

CascadeIsa bestCascadeIsa() {
  static const CascadeIsa best = cascadeIsaRuns(CascadeIsa::kAvx512) ? CascadeIsa::kAvx512
                                 : cascadeIsaRuns(CascadeIsa::kAvx2) ? CascadeIsa::kAvx2
                                                                     : CascadeIsa::kPortable;
  return best;
}

void CascadeBacklog::reset(size_t count) {
  stages.resize(count);
  for (std::vector<CascadeHalf>& s : stages) s.clear();
}

size_t CascadeBacklog::bytes() const {
  size_t n = 0;
  for (const std::vector<CascadeHalf>& s : stages) n += s.capacity() * sizeof(CascadeHalf);
  return n;
}

template <typename Kind>
void scanCascadeRow(const CascadeProgram<Kind>& program, const int* sums, int row_origin, int count,
                    std::vector<int>& detected, CascadeBacklog& backlog, CascadeIsa isa, CascadeCounts* counts) {
  if (count <= 0 || program.stages.empty()) return;
#if defined(__AVX512F__)
  if (isa == CascadeIsa::kAvx512 && cascadeIsaRuns(isa))
    return cascade_impl::scanRowAvx512(program, sums, row_origin, count, detected, backlog, counts);
#endif
#if defined(__AVX2__)
  if (isa == CascadeIsa::kAvx2 && cascadeIsaRuns(isa))
    return cascade_impl::scanRowAvx2(program, sums, row_origin, count, detected, counts);
#endif
  (void)backlog, (void)isa;
  scanRowPortable(program, sums, row_origin, count, detected, counts);
}

template <typename Kind>
void decideCascadeBacklog(const CascadeProgram<Kind>& program, const int* sums, CascadeBacklog& backlog,
                          std::vector<int>& detected, CascadeIsa isa, CascadeCounts* counts) {
#if defined(__AVX512F__)
  if constexpr (Kind::kPairsHalves) {
    if (isa == CascadeIsa::kAvx512 && cascadeIsaRuns(isa))
      return cascade_impl::decideBacklogAvx512(program, sums, backlog, detected, counts);
  }
#endif
  // The other paths leave nothing in the backlog.
  (void)program, (void)sums, (void)backlog, (void)detected, (void)isa, (void)counts;
}

#define MORVIK_CASCADE_KERNELS_FOR(Kind)                                                                     \
  template void scanCascadeRow(const CascadeProgram<Kind>&, const int*, int, int, std::vector<int>&,         \
                               CascadeBacklog&, CascadeIsa, CascadeCounts*);                                 \
  template void decideCascadeBacklog(const CascadeProgram<Kind>&, const int*, CascadeBacklog&, std::vector<int>&, \
                                     CascadeIsa, CascadeCounts*);
MORVIK_CASCADE_KERNELS_FOR(HaarKind)
MORVIK_CASCADE_KERNELS_FOR(LbpKind)
#undef MORVIK_CASCADE_KERNELS_FOR

}  // namespace morvik
