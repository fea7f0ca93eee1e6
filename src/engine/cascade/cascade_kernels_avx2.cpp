// The cascade's stages over 8 consecutive windows at once (AVX2); see
// cascade_kernels.h. Lane for lane, the operations are the portable
// path's: the kind's arithmetic (haar_lanes.h, lbp_lanes.h), double stage
// sums.
#include "engine/cascade/cascade_kernels_impl.h"

#if defined(__AVX2__)

#include <immintrin.h>

#include "engine/cascade/cascade_skips.h"

namespace morvik {
namespace cascade_impl {
namespace {

constexpr int kLanes = 8;

int firstLanes(int n) { return n >= kLanes ? 0xFF : (1 << n) - 1; }

// One stage: the lanes that pass it.
template <typename Kind>
int stage(const CascadeProgram<Kind>& p, const CascadeStage& st, const int* w, __m256 factor) {
  __m256d lo = _mm256_setzero_pd();
  __m256d hi = _mm256_setzero_pd();
  const typename Kind::StumpCode* s = p.stumps.data() + st.first;
  for (int i = 0; i < st.count; ++i, ++s) {
    const __m256 left = leftLanes(*s, w, factor);
    // The leaves were floats: narrowing them back is exact.
    const __m256 leaf = _mm256_blendv_ps(_mm256_set1_ps(static_cast<float>(s->right)),
                                         _mm256_set1_ps(static_cast<float>(s->left)), left);
    lo = _mm256_add_pd(lo, _mm256_cvtps_pd(_mm256_castps256_ps128(leaf)));
    hi = _mm256_add_pd(hi, _mm256_cvtps_pd(_mm256_extractf128_ps(leaf, 1)));
  }
  const __m256d t = _mm256_set1_pd(st.threshold);
  return _mm256_movemask_pd(_mm256_cmp_pd(lo, t, _CMP_NLT_UQ)) |
         (_mm256_movemask_pd(_mm256_cmp_pd(hi, t, _CMP_NLT_UQ)) << 4);
}

}  // namespace

template <typename Kind>
void scanRowAvx2(const CascadeProgram<Kind>& p, const int* sums, int row_origin, int count,
                 std::vector<int>& detected, CascadeCounts* counts) {
  const size_t stages = p.stages.size();
  bool skip = false;
  for (int k = 0; k < count; k += kLanes) {
    const int lanes = count - k < kLanes ? count - k : kLanes;
    const int* w = sums + row_origin + k;
    __m256 factor;
    const int ok = windowFactors(p.window, w, &factor) & firstLanes(lanes);
    const int pass = ok ? stage(p, p.stages[0], w, factor) & ok : 0;
    uint32_t visited;
    uint32_t live = replaySkips(static_cast<uint32_t>(ok), static_cast<uint32_t>(pass), lanes, skip, &visited);
    if (counts != nullptr) {
      counts->windows += __builtin_popcount(visited);
      counts->checked += __builtin_popcount(visited & static_cast<uint32_t>(ok));
      counts->passing[0] += __builtin_popcount(live);
    }
    for (size_t s = 1; live != 0 && s < stages; ++s) {
      live &= static_cast<uint32_t>(stage(p, p.stages[s], w, factor));
      if (counts != nullptr) counts->passing[s] += __builtin_popcount(live);
    }
    for (; live != 0; live &= live - 1) detected.push_back(row_origin + k + __builtin_ctz(live));
  }
}

template void scanRowAvx2(const CascadeProgram<HaarKind>&, const int*, int, int, std::vector<int>&, CascadeCounts*);
template void scanRowAvx2(const CascadeProgram<LbpKind>&, const int*, int, int, std::vector<int>&, CascadeCounts*);

}  // namespace cascade_impl
}  // namespace morvik

#endif  // __AVX2__
