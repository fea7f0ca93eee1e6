// The portable path of the LBP cascade's arithmetic, and the choice of
// path; see lbp_kernels.h.
#include "engine/cascade/lbp_kernels.h"

#include "engine/cascade/lbp_kernels_impl.h"

namespace morvik {
namespace {

using lbp_impl::passesStage;

// The stage the window fails, or the number of stages when it passes them
// all.
int failedStage(const LbpProgram& p, const int* w, LbpCounts* counts) {
  const int stages = static_cast<int>(p.stages.size());
  int s = 0;
  for (; s < stages && passesStage(p, p.stages[static_cast<size_t>(s)], w); ++s)
    if (counts != nullptr) ++counts->passing[static_cast<size_t>(s)];
  return s;
}

// OpenCV's own loop over the row, one window at a time.
void scanRowPortable(const LbpProgram& p, const int* sums, int row_origin, int count, std::vector<int>& detected,
                     LbpCounts* counts) {
  const int stages = static_cast<int>(p.stages.size());
  for (int k = 0; k < count; ++k) {
    if (counts != nullptr) ++counts->windows;
    const int failed = failedStage(p, sums + row_origin + k, counts);
    if (failed == 0)
      ++k;  // the next window is skipped
    else if (failed == stages)
      detected.push_back(row_origin + k);
  }
}

}  // namespace

void lbpScanRow(const LbpProgram& program, const int* sums, int row_origin, int count, std::vector<int>& detected,
                HaarIsa isa, LbpCounts* counts) {
  if (count <= 0 || program.stages.empty()) return;
#if defined(__AVX512F__)
  if (isa == HaarIsa::kAvx512 && haarIsaRuns(isa))
    return lbp_impl::scanRowAvx512(program, sums, row_origin, count, detected, counts);
#endif
#if defined(__AVX2__)
  if (isa == HaarIsa::kAvx2 && haarIsaRuns(isa))
    return lbp_impl::scanRowAvx2(program, sums, row_origin, count, detected, counts);
#endif
  (void)isa;
  scanRowPortable(program, sums, row_origin, count, detected, counts);
}

}  // namespace morvik
