// Where a vector's lanes read the windows of a cascade search: 8 (AVX2) or
// 16 (AVX-512) windows whose origins are consecutive, or two runs of 8 from
// anywhere (the AVX-512 backlog, cascade_kernels.h). For the kinds'
// arithmetic (haar_lanes.h, lbp_lanes.h) and the kernels.
#ifndef MORVIK_CASCADE_LANES_H_
#define MORVIK_CASCADE_LANES_H_

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace morvik {
namespace cascade_impl {

#if defined(__AVX2__)
// The ints at `offset` from 8 consecutive window origins starting at w.
inline __m256i load8(const int* w, int offset) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + offset));
}
#endif

#if defined(__AVX512F__)
// 16 windows consecutive from one origin.
struct Consecutive {
  const int* w;
  inline __attribute__((always_inline)) __m512i operator()(int offset) const {
    return _mm512_loadu_si512(w + offset);
  }
};

// 8 windows consecutive from each of two origins.
struct Paired {
  const int* low;
  const int* high;
  inline __attribute__((always_inline)) __m512i operator()(int offset) const {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(low + offset));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(high + offset));
    return _mm512_inserti64x4(_mm512_zextsi256_si512(a), b, 1);
  }
};

// Two halves' floats as one vector.
inline __m512 join(__m256 lo, __m256 hi) {
  return _mm512_castpd_ps(_mm512_insertf64x4(_mm512_zextpd256_pd512(_mm256_castps_pd(lo)), _mm256_castps_pd(hi), 1));
}
#endif

}  // namespace cascade_impl
}  // namespace morvik

#endif  // MORVIK_CASCADE_LANES_H_
