// An LBP stump's arithmetic on windows (lbp_kind.h): OpenCV 4.6's
// LBPEvaluator::OptFeature::calc and the subset test of
// predictCategoricalStump, on one window, 8 (AVX2) or 16 (AVX-512). Lane
// for lane the operations are the one window's: int cell sums and
// comparisons. LBP windows have no test before the stages: every window
// passes it, with a factor of 0 that no stump reads.
#ifndef MORVIK_LBP_LANES_H_
#define MORVIK_LBP_LANES_H_

#include <cstdint>

#include "engine/cascade/cascade_lanes.h"
#include "engine/cascade/lbp_kind.h"

namespace morvik {
namespace cascade_impl {

// OpenCV's p[a] - p[b] - p[c] + p[d] in int, wrapping as its int
// arithmetic does in practice on integral images past 2^31.
inline int cellSum(const int* w, const int* corner, int a, int b, int c, int d) {
  return static_cast<int>(static_cast<uint32_t>(w[corner[a]]) - static_cast<uint32_t>(w[corner[b]]) -
                          static_cast<uint32_t>(w[corner[c]]) + static_cast<uint32_t>(w[corner[d]]));
}

inline bool windowFactor(const LbpWindowCode&, const int*, float*) { return true; }

// LBPEvaluator::OptFeature::calc, then the code's bit of the subset.
inline bool takesLeft(const LbpStumpCode& s, const int* w, float) {
  const int* o = s.corner;
  const int centre = cellSum(w, o, 5, 6, 9, 10);
  const int code =
      (cellSum(w, o, 0, 1, 4, 5) >= centre ? 128 : 0) | (cellSum(w, o, 1, 2, 5, 6) >= centre ? 64 : 0) |
      (cellSum(w, o, 2, 3, 6, 7) >= centre ? 32 : 0) | (cellSum(w, o, 6, 7, 10, 11) >= centre ? 16 : 0) |
      (cellSum(w, o, 10, 11, 14, 15) >= centre ? 8 : 0) | (cellSum(w, o, 9, 10, 13, 14) >= centre ? 4 : 0) |
      (cellSum(w, o, 8, 9, 12, 13) >= centre ? 2 : 0) | (cellSum(w, o, 4, 5, 8, 9) >= centre ? 1 : 0);
  return (s.subset[code >> 5] >> (code & 31)) & 1u;
}

#if defined(__AVX2__)
inline int windowFactors(const LbpWindowCode&, const int*, __m256* factor) {
  *factor = _mm256_setzero_ps();
  return 0xFF;
}

// The bit of `code` for lanes whose cell sum is at least the centre's.
inline __m256i bitIfNotBelow(__m256i cell, __m256i centre, int bit, __m256i code) {
  return _mm256_or_si256(code, _mm256_andnot_si256(_mm256_cmpgt_epi32(centre, cell), _mm256_set1_epi32(bit)));
}

// The 8 windows' codes. The cells' a - b - c + d are taken as differences
// of row differences: the same int sums, as int addition wraps alike in
// any order.
inline __attribute__((always_inline)) __m256i codes8(const LbpStumpCode& s, const int* w) {
  __m256i across[4][3];
  for (int r = 0; r < 4; ++r) {
    __m256i corner[4];
    for (int c = 0; c < 4; ++c) corner[c] = load8(w, s.corner[4 * r + c]);
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

// All ones in the lanes of 8 windows whose code is in the stump's subset.
inline __attribute__((always_inline)) __m256 leftLanes(const LbpStumpCode& s, const int* w, __m256) {
  const __m256i code = codes8(s, w);
  const __m256i subset = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.subset));
  const __m256i word = _mm256_permutevar8x32_epi32(subset, _mm256_srli_epi32(code, 5));
  const __m256i bit = _mm256_srlv_epi32(word, _mm256_and_si256(code, _mm256_set1_epi32(31)));
  return _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(bit, _mm256_set1_epi32(1)), _mm256_set1_epi32(1)));
}
#endif  // __AVX2__

#if defined(__AVX512F__)
inline __mmask16 windowFactors(const LbpWindowCode&, const int*, __m512* factor) {
  *factor = _mm512_setzero_ps();
  return 0xFFFF;
}

// The lanes of 16 windows whose code is in the stump's subset. The cells'
// a - b - c + d are taken as differences of row differences: the same int
// sums, as int addition wraps alike in any order. The code is not built:
// its top three bits (the top row's cells) pick the subset's word, the
// other five the bit, each set where the cell's sum is at least the
// centre's.
template <typename Lanes>
inline __attribute__((always_inline)) __mmask16 leftLanes(const LbpStumpCode& s, const Lanes& at, __m512) {
  __m512i across[4][3];
  for (int r = 0; r < 4; ++r) {
    __m512i corner[4];
    for (int c = 0; c < 4; ++c) corner[c] = at(s.corner[4 * r + c]);
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
#endif  // __AVX512F__

}  // namespace cascade_impl
}  // namespace morvik

#endif  // MORVIK_LBP_LANES_H_
