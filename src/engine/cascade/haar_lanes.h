// A Haar stump's arithmetic on windows (haar_kind.h): OpenCV 4.6's
// HaarEvaluator::setWindow and the feature of predictOrderedStump,
// operation for operation, on one window, 8 (AVX2) or 16 (AVX-512).
//
// Per window, OpenCV takes the sum and the (unsigned) squared sum of the
// variance rectangle in int, computes nf = area * sqsum - sum * sum in
// double and, when nf > 0, the factor (float)(1 / sqrt(nf)); a window
// with nf <= 0 or area * factor >= 0.1 is rejected before any stage. A
// feature's value is w0 * s0 + w1 * s1 (+ w2 * s2 when w2 != 0) in float,
// times the factor, and the stump takes its left leaf when the value is
// below its threshold. Every path performs those IEEE operations in that
// order, with no fused multiply-add: int sums, float feature values,
// double variance.
#ifndef MORVIK_HAAR_LANES_H_
#define MORVIK_HAAR_LANES_H_

#include <cmath>
#include <cstdint>

#include "engine/cascade/cascade_lanes.h"
#include "engine/cascade/haar_kind.h"

namespace morvik {
namespace cascade_impl {

// OpenCV's a - b - c + d of int sums, wrapping as its int arithmetic does
// in practice on integral images past 2^31.
inline int rectSum(const int* w, const int c[4]) {
  return static_cast<int>(static_cast<uint32_t>(w[c[0]]) - static_cast<uint32_t>(w[c[1]]) -
                          static_cast<uint32_t>(w[c[2]]) + static_cast<uint32_t>(w[c[3]]));
}

// HaarEvaluator::setWindow: true, with the factor, when the window's
// variance lets the stages run.
inline bool windowFactor(const HaarWindowCode& win, const int* w, float* factor) {
  const int sum = rectSum(w, win.norm);
  const unsigned sqsum = static_cast<unsigned>(rectSum(w + win.squares, win.norm));
  double nf = win.area * sqsum - static_cast<double>(sum) * sum;
  if (!(nf > 0.)) return false;
  nf = std::sqrt(nf);
  *factor = static_cast<float>(1. / nf);
  return win.area * *factor < 1e-1;
}

inline bool takesLeft(const HaarStumpCode& s, const int* w, float factor) {
  float v = s.weight[0] * static_cast<float>(rectSum(w, s.corner[0])) +
            s.weight[1] * static_cast<float>(rectSum(w, s.corner[1]));
  if (s.third) v += s.weight[2] * static_cast<float>(rectSum(w, s.corner[2]));
  return v * factor < s.threshold;
}

#if defined(__AVX2__)
// The rectangle sums of 8 windows whose origins are consecutive from w.
inline __m256i rectSums8(const int* w, const int c[4]) {
  return _mm256_add_epi32(_mm256_sub_epi32(_mm256_sub_epi32(load8(w, c[0]), load8(w, c[1])), load8(w, c[2])),
                          load8(w, c[3]));
}

// Unsigned ints to double, exactly.
inline __m256d unsignedToDouble(__m128i v) {
  const __m128i flipped = _mm_xor_si128(v, _mm_set1_epi32(static_cast<int>(0x80000000u)));
  return _mm256_add_pd(_mm256_cvtepi32_pd(flipped), _mm256_set1_pd(2147483648.0));
}

// The variance test of 8 windows: the lanes that pass it; their factors go
// to *factor.
inline int windowFactors(const HaarWindowCode& win, const int* w, __m256* factor) {
  const __m256i s = rectSums8(w, win.norm);
  const __m256i q = rectSums8(w + win.squares, win.norm);
  const __m256d area = _mm256_set1_pd(win.area);
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d limit = _mm256_set1_pd(1e-1);
  __m128 half[2];
  int ok = 0;
  for (int h = 0; h < 2; ++h) {
    const __m256d sd = _mm256_cvtepi32_pd(h ? _mm256_extracti128_si256(s, 1) : _mm256_castsi256_si128(s));
    const __m256d qd = unsignedToDouble(h ? _mm256_extracti128_si256(q, 1) : _mm256_castsi256_si128(q));
    const __m256d nf = _mm256_sub_pd(_mm256_mul_pd(area, qd), _mm256_mul_pd(sd, sd));
    const __m256d positive = _mm256_cmp_pd(nf, _mm256_setzero_pd(), _CMP_GT_OQ);
    half[h] = _mm256_cvtpd_ps(_mm256_div_pd(one, _mm256_sqrt_pd(nf)));
    const __m256d small = _mm256_cmp_pd(_mm256_mul_pd(area, _mm256_cvtps_pd(half[h])), limit, _CMP_LT_OQ);
    ok |= _mm256_movemask_pd(_mm256_and_pd(positive, small)) << (4 * h);
  }
  *factor = _mm256_set_m128(half[1], half[0]);
  return ok;
}

// All ones in the lanes of 8 windows that take the stump's left leaf.
inline __attribute__((always_inline)) __m256 leftLanes(const HaarStumpCode& s, const int* w, __m256 factor) {
  const __m256 s0 = _mm256_cvtepi32_ps(rectSums8(w, s.corner[0]));
  const __m256 s1 = _mm256_cvtepi32_ps(rectSums8(w, s.corner[1]));
  __m256 v =
      _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(s.weight[0]), s0), _mm256_mul_ps(_mm256_set1_ps(s.weight[1]), s1));
  if (s.third)
    v = _mm256_add_ps(v, _mm256_mul_ps(_mm256_set1_ps(s.weight[2]), _mm256_cvtepi32_ps(rectSums8(w, s.corner[2]))));
  v = _mm256_mul_ps(v, factor);
  return _mm256_cmp_ps(v, _mm256_set1_ps(s.threshold), _CMP_LT_OQ);
}
#endif  // __AVX2__

#if defined(__AVX512F__)
template <typename Lanes>
inline __attribute__((always_inline)) __m512i rectSums16(const Lanes& at, const int c[4]) {
  return _mm512_add_epi32(_mm512_sub_epi32(_mm512_sub_epi32(at(c[0]), at(c[1])), at(c[2])), at(c[3]));
}

// The variance test of 16 consecutive windows: the lanes that pass it;
// their factors go to *factor.
inline __mmask16 windowFactors(const HaarWindowCode& win, const int* w, __m512* factor) {
  const __m512i s = rectSums16(Consecutive{w}, win.norm);
  const __m512i q = rectSums16(Consecutive{w + win.squares}, win.norm);
  const __m512d area = _mm512_set1_pd(win.area);
  const __m512d one = _mm512_set1_pd(1.0);
  const __m512d limit = _mm512_set1_pd(1e-1);
  __m256 half[2];
  __mmask8 ok[2];
  for (int h = 0; h < 2; ++h) {
    const __m512d sd = _mm512_cvtepi32_pd(h ? _mm512_extracti64x4_epi64(s, 1) : _mm512_extracti64x4_epi64(s, 0));
    const __m512d qd = _mm512_cvtepu32_pd(h ? _mm512_extracti64x4_epi64(q, 1) : _mm512_extracti64x4_epi64(q, 0));
    const __m512d nf = _mm512_sub_pd(_mm512_mul_pd(area, qd), _mm512_mul_pd(sd, sd));
    const __mmask8 positive = _mm512_cmp_pd_mask(nf, _mm512_setzero_pd(), _CMP_GT_OQ);
    half[h] = _mm512_cvtpd_ps(_mm512_div_pd(one, _mm512_sqrt_pd(nf)));
    ok[h] = _mm512_mask_cmp_pd_mask(positive, _mm512_mul_pd(area, _mm512_cvtps_pd(half[h])), limit, _CMP_LT_OQ);
  }
  *factor = join(half[0], half[1]);
  return static_cast<__mmask16>(ok[0] | (ok[1] << 8));
}

// The lanes of 16 windows that take the stump's left leaf.
template <typename Lanes>
inline __attribute__((always_inline)) __mmask16 leftLanes(const HaarStumpCode& s, const Lanes& at, __m512 factor) {
  const __m512 s0 = _mm512_cvtepi32_ps(rectSums16(at, s.corner[0]));
  const __m512 s1 = _mm512_cvtepi32_ps(rectSums16(at, s.corner[1]));
  __m512 v =
      _mm512_add_ps(_mm512_mul_ps(_mm512_set1_ps(s.weight[0]), s0), _mm512_mul_ps(_mm512_set1_ps(s.weight[1]), s1));
  if (s.third)
    v = _mm512_add_ps(v, _mm512_mul_ps(_mm512_set1_ps(s.weight[2]), _mm512_cvtepi32_ps(rectSums16(at, s.corner[2]))));
  v = _mm512_mul_ps(v, factor);
  return _mm512_cmp_ps_mask(v, _mm512_set1_ps(s.threshold), _CMP_LT_OQ);
}
#endif  // __AVX512F__

}  // namespace cascade_impl
}  // namespace morvik

#endif  // MORVIK_HAAR_LANES_H_
