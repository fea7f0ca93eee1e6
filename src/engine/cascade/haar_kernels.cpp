// The portable path of the cascade's arithmetic, and the choice of path;
// see haar_kernels.h.
#include "engine/cascade/haar_kernels.h"

#include "engine/cascade/haar_kernels_impl.h"

namespace morvik {
namespace {

using haar_impl::passesStage;
using haar_impl::varianceFactor;

// The stage the window fails, or the number of stages when it passes them
// all.
int failedStage(const HaarProgram& p, const int* w, float factor, HaarCounts* counts) {
  const int stages = static_cast<int>(p.stages.size());
  int s = 0;
  for (; s < stages && passesStage(p, p.stages[static_cast<size_t>(s)], w, factor); ++s)
    if (counts != nullptr) ++counts->passing[static_cast<size_t>(s)];
  return s;
}

// OpenCV's own loop over the row, one window at a time.
void scanRowPortable(const HaarProgram& p, const int* sums, int row_origin, int count, std::vector<int>& detected,
                     HaarCounts* counts) {
  const int stages = static_cast<int>(p.stages.size());
  for (int k = 0; k < count; ++k) {
    if (counts != nullptr) ++counts->windows;
    const int* w = sums + row_origin + k;
    float factor = 1.0f;
    if (!varianceFactor(p, w, &factor)) continue;
    if (counts != nullptr) ++counts->checked;
    const int failed = failedStage(p, w, factor, counts);
    if (failed == 0)
      ++k;  // the next window is skipped
    else if (failed == stages)
      detected.push_back(row_origin + k);
  }
}

}  // namespace

bool haarIsaRuns(HaarIsa isa) {
  switch (isa) {
    case HaarIsa::kPortable:
      return true;
    case HaarIsa::kAvx2: {
#if defined(__AVX2__)
      static const bool runs = __builtin_cpu_supports("avx2");
      return runs;
#else
      return false;
#endif
    }
    case HaarIsa::kAvx512: {
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

HaarIsa bestHaarIsa() {
  static const HaarIsa best = haarIsaRuns(HaarIsa::kAvx512) ? HaarIsa::kAvx512
                              : haarIsaRuns(HaarIsa::kAvx2) ? HaarIsa::kAvx2
                                                            : HaarIsa::kPortable;
  return best;
}

void HaarBacklog::reset(size_t count) {
  stages.resize(count);
  for (std::vector<HaarHalf>& s : stages) s.clear();
}

size_t HaarBacklog::bytes() const {
  size_t n = 0;
  for (const std::vector<HaarHalf>& s : stages) n += s.capacity() * sizeof(HaarHalf);
  return n;
}

void haarScanRow(const HaarProgram& program, const int* sums, int row_origin, int count,
                 std::vector<int>& detected, HaarBacklog& backlog, HaarIsa isa, HaarCounts* counts) {
  if (count <= 0 || program.stages.empty()) return;
#if defined(__AVX512F__)
  if (isa == HaarIsa::kAvx512 && haarIsaRuns(isa))
    return haar_impl::scanRowAvx512(program, sums, row_origin, count, detected, backlog, counts);
#endif
#if defined(__AVX2__)
  if (isa == HaarIsa::kAvx2 && haarIsaRuns(isa))
    return haar_impl::scanRowAvx2(program, sums, row_origin, count, detected, counts);
#endif
  (void)backlog;
  scanRowPortable(program, sums, row_origin, count, detected, counts);
}

void haarDecideBacklog(const HaarProgram& program, const int* sums, HaarBacklog& backlog,
                       std::vector<int>& detected, HaarIsa isa, HaarCounts* counts) {
#if defined(__AVX512F__)
  if (isa == HaarIsa::kAvx512 && haarIsaRuns(isa))
    return haar_impl::decideBacklogAvx512(program, sums, backlog, detected, counts);
#endif
  // The other paths leave nothing in the backlog.
  (void)program, (void)sums, (void)backlog, (void)detected, (void)isa, (void)counts;
}

}  // namespace morvik
