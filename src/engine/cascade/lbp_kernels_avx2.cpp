// The LBP cascade's arithmetic over 8 consecutive windows at once (AVX2);
// see lbp_kernels.h. Lane for lane, the operations are the portable path's:
// int cell sums and comparisons, double stage sums.
#include "engine/cascade/lbp_kernels_impl.h"

#if defined(__AVX2__)

#include <immintrin.h>

#include "engine/cascade/cascade_skips.h"

namespace morvik {
namespace lbp_impl {
namespace {

constexpr int kLanes = 8;

int firstLanes(int n) { return n >= kLanes ? 0xFF : (1 << n) - 1; }

__m256i at(const int* w, int offset) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + offset)); }

// The bit of `code` for lanes whose cell sum is at least the centre's.
__m256i bitIfNotBelow(__m256i cell, __m256i centre, int bit, __m256i code) {
  return _mm256_or_si256(code, _mm256_andnot_si256(_mm256_cmpgt_epi32(centre, cell), _mm256_set1_epi32(bit)));
}

// The 8 windows' codes. The cells' a - b - c + d are taken as differences
// of row differences: the same int sums, as int addition wraps alike in
// any order.
inline __attribute__((always_inline)) __m256i codes(const LbpStumpCode& s, const int* w) {
  __m256i across[4][3];
  for (int r = 0; r < 4; ++r) {
    __m256i corner[4];
    for (int c = 0; c < 4; ++c) corner[c] = at(w, s.corner[4 * r + c]);
    for (int c = 0; c < 3; ++c) across[r][c] = _mm256_sub_epi32(corner[c], corner[c + 1]);
  }
  __m256i cell[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) cell[r][c] = _mm256_sub_epi32(across[r][c], across[r + 1][c]);
  const __m256i centre = cell[1][1];
  __m256i code = _mm256_setzero_si256();
  code = bitIfNotBelow(cell[0][0], centre, 128, code);
  code = bitIfNotBelow(cell[0][1], centre, 64, code);
  code = bitIfNotBelow(cell[0][2], centre, 32, code);
  code = bitIfNotBelow(cell[1][2], centre, 16, code);
  code = bitIfNotBelow(cell[2][2], centre, 8, code);
  code = bitIfNotBelow(cell[2][1], centre, 4, code);
  code = bitIfNotBelow(cell[2][0], centre, 2, code);
  return bitIfNotBelow(cell[1][0], centre, 1, code);
}

// All ones in the lanes whose code is in the stump's subset.
inline __attribute__((always_inline)) __m256i inSubset(const LbpStumpCode& s, __m256i code) {
  const __m256i subset = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.subset));
  const __m256i word = _mm256_permutevar8x32_epi32(subset, _mm256_srli_epi32(code, 5));
  const __m256i bit = _mm256_srlv_epi32(word, _mm256_and_si256(code, _mm256_set1_epi32(31)));
  return _mm256_cmpeq_epi32(_mm256_and_si256(bit, _mm256_set1_epi32(1)), _mm256_set1_epi32(1));
}

// One stage: the lanes that pass it.
int stage(const LbpProgram& p, const LbpStage& st, const int* w) {
  __m256d lo = _mm256_setzero_pd();
  __m256d hi = _mm256_setzero_pd();
  const LbpStumpCode* s = p.stumps.data() + st.first;
  for (int i = 0; i < st.count; ++i, ++s) {
    const __m256 in = _mm256_castsi256_ps(inSubset(*s, codes(*s, w)));
    // The leaves were floats: narrowing them back is exact.
    const __m256 leaf = _mm256_blendv_ps(_mm256_set1_ps(static_cast<float>(s->right)),
                                         _mm256_set1_ps(static_cast<float>(s->left)), in);
    lo = _mm256_add_pd(lo, _mm256_cvtps_pd(_mm256_castps256_ps128(leaf)));
    hi = _mm256_add_pd(hi, _mm256_cvtps_pd(_mm256_extractf128_ps(leaf, 1)));
  }
  const __m256d t = _mm256_set1_pd(st.threshold);
  return _mm256_movemask_pd(_mm256_cmp_pd(lo, t, _CMP_NLT_UQ)) |
         (_mm256_movemask_pd(_mm256_cmp_pd(hi, t, _CMP_NLT_UQ)) << 4);
}

}  // namespace

void scanRowAvx2(const LbpProgram& p, const int* sums, int row_origin, int count, std::vector<int>& detected,
                 LbpCounts* counts) {
  const size_t stages = p.stages.size();
  bool skip = false;
  for (int k = 0; k < count; k += kLanes) {
    const int lanes = count - k < kLanes ? count - k : kLanes;
    const int* w = sums + row_origin + k;
    const int all = firstLanes(lanes);
    const int pass = stage(p, p.stages[0], w) & all;
    uint32_t visited;
    uint32_t live = replaySkips(static_cast<uint32_t>(all), static_cast<uint32_t>(pass), lanes, skip, &visited);
    if (counts != nullptr) {
      counts->windows += __builtin_popcount(visited);
      counts->passing[0] += __builtin_popcount(live);
    }
    for (size_t s = 1; live != 0 && s < stages; ++s) {
      live &= static_cast<uint32_t>(stage(p, p.stages[s], w));
      if (counts != nullptr) counts->passing[s] += __builtin_popcount(live);
    }
    for (; live != 0; live &= live - 1) detected.push_back(row_origin + k + __builtin_ctz(live));
  }
}

}  // namespace lbp_impl
}  // namespace morvik

#endif  // __AVX2__
