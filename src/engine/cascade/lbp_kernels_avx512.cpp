// The LBP cascade's arithmetic over 16 consecutive windows at once
// (AVX-512F); see lbp_kernels.h. Lane for lane, the operations are the
// portable path's: int cell sums and comparisons, double stage sums.
#include "engine/cascade/lbp_kernels_impl.h"

#if defined(__AVX512F__)

// GCC 12 takes the undefined upper halves inside its own AVX-512
// intrinsics for uninitialised variables (its bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include "engine/cascade/cascade_skips.h"

namespace morvik {
namespace lbp_impl {
namespace {

constexpr int kLanes = 16;

__mmask16 firstLanes(int n) { return n >= kLanes ? __mmask16(0xFFFF) : __mmask16((1u << n) - 1); }

// The lanes of 16 windows whose code is in the stump's subset. The cells'
// a - b - c + d are taken as differences of row differences: the same int
// sums, as int addition wraps alike in any order. The code is not built:
// its top three bits (the top row's cells) pick the subset's word, the
// other five the bit, each set where the cell's sum is at least the
// centre's.
inline __attribute__((always_inline)) __mmask16 inSubset(const LbpStumpCode& s, const int* w) {
  __m512i across[4][3];
  for (int r = 0; r < 4; ++r) {
    __m512i corner[4];
    for (int c = 0; c < 4; ++c) corner[c] = _mm512_loadu_si512(w + s.corner[4 * r + c]);
    for (int c = 0; c < 3; ++c) across[r][c] = _mm512_sub_epi32(corner[c], corner[c + 1]);
  }
  __m512i cell[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) cell[r][c] = _mm512_sub_epi32(across[r][c], across[r + 1][c]);
  const __m512i centre = cell[1][1];
  // Code bits 128, 64, 32: the word.
  __m512i word = _mm512_maskz_mov_epi32(_mm512_cmpge_epi32_mask(cell[0][0], centre), _mm512_set1_epi32(4));
  word = _mm512_mask_or_epi32(word, _mm512_cmpge_epi32_mask(cell[0][1], centre), word, _mm512_set1_epi32(2));
  word = _mm512_mask_or_epi32(word, _mm512_cmpge_epi32_mask(cell[0][2], centre), word, _mm512_set1_epi32(1));
  // Code bits 16 down to 1: the bit, shifted into place one power at a time.
  const __m512i* low[5] = {&cell[1][2], &cell[2][2], &cell[2][1], &cell[2][0], &cell[1][0]};
  __m512i bit = _mm512_set1_epi32(1);
  bit = _mm512_mask_slli_epi32(bit, _mm512_cmpge_epi32_mask(*low[0], centre), bit, 16);
  bit = _mm512_mask_slli_epi32(bit, _mm512_cmpge_epi32_mask(*low[1], centre), bit, 8);
  bit = _mm512_mask_slli_epi32(bit, _mm512_cmpge_epi32_mask(*low[2], centre), bit, 4);
  bit = _mm512_mask_slli_epi32(bit, _mm512_cmpge_epi32_mask(*low[3], centre), bit, 2);
  bit = _mm512_mask_slli_epi32(bit, _mm512_cmpge_epi32_mask(*low[4], centre), bit, 1);
  const __m512i subset = _mm512_zextsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.subset)));
  return _mm512_test_epi32_mask(_mm512_permutexvar_epi32(word, subset), bit);
}

// One stage: the lanes that pass it.
__mmask16 stage(const LbpProgram& p, const LbpStage& st, const int* w) {
  __m512d lo = _mm512_setzero_pd();
  __m512d hi = _mm512_setzero_pd();
  const LbpStumpCode* s = p.stumps.data() + st.first;
  for (int i = 0; i < st.count; ++i, ++s) {
    const __mmask16 in = inSubset(*s, w);
    // sum + (in ? left : right), as one add per lane.
    const __m512d left = _mm512_set1_pd(s->left);
    const __m512d right = _mm512_set1_pd(s->right);
    lo = _mm512_mask_add_pd(_mm512_add_pd(lo, right), static_cast<__mmask8>(in), lo, left);
    hi = _mm512_mask_add_pd(_mm512_add_pd(hi, right), static_cast<__mmask8>(in >> 8), hi, left);
  }
  const __m512d t = _mm512_set1_pd(st.threshold);
  const __mmask8 plo = _mm512_cmp_pd_mask(lo, t, _CMP_NLT_UQ);
  const __mmask8 phi = _mm512_cmp_pd_mask(hi, t, _CMP_NLT_UQ);
  return static_cast<__mmask16>(plo | (phi << 8));
}

}  // namespace

void scanRowAvx512(const LbpProgram& p, const int* sums, int row_origin, int count, std::vector<int>& detected,
                   LbpCounts* counts) {
  const size_t stages = p.stages.size();
  bool skip = false;
  for (int k = 0; k < count; k += kLanes) {
    const int lanes = count - k < kLanes ? count - k : kLanes;
    const int* w = sums + row_origin + k;
    const __mmask16 all = firstLanes(lanes);
    const __mmask16 pass = stage(p, p.stages[0], w) & all;
    uint32_t visited;
    uint32_t live = replaySkips(all, pass, lanes, skip, &visited);
    if (counts != nullptr) {
      counts->windows += __builtin_popcount(visited);
      counts->passing[0] += __builtin_popcount(live);
    }
    for (size_t s = 1; live != 0 && s < stages; ++s) {
      live &= stage(p, p.stages[s], w);
      if (counts != nullptr) counts->passing[s] += __builtin_popcount(live);
    }
    for (; live != 0; live &= live - 1) detected.push_back(row_origin + k + __builtin_ctz(live));
  }
}

}  // namespace lbp_impl
}  // namespace morvik

#endif  // __AVX512F__
