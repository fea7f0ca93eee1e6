// The cascade's arithmetic over 8 consecutive windows at once (AVX2); see
// haar_kernels.h. Lane for lane, the operations are the portable path's:
// int sums, float feature values, double variance and stage sums.
#include "engine/cascade/haar_kernels_impl.h"

#if defined(__AVX2__)

#include <immintrin.h>

namespace morvik {
namespace haar_impl {
namespace {

constexpr int kLanes = 8;

int firstLanes(int n) { return n >= kLanes ? 0xFF : (1 << n) - 1; }

// The rectangle sums of 8 windows whose origins are consecutive from w.
__m256i rectSums(const int* w, const int c[4]) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + c[0]));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + c[1]));
  const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + c[2]));
  const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + c[3]));
  return _mm256_add_epi32(_mm256_sub_epi32(_mm256_sub_epi32(a, b), d), e);
}

// Unsigned ints to double, exactly.
__m256d unsignedToDouble(__m128i v) {
  const __m128i flipped = _mm_xor_si128(v, _mm_set1_epi32(static_cast<int>(0x80000000u)));
  return _mm256_add_pd(_mm256_cvtepi32_pd(flipped), _mm256_set1_pd(2147483648.0));
}

// The variance test: the lanes that pass it; their factors go to *factor.
int variance(const HaarProgram& p, const int* w, __m256* factor) {
  const __m256i s = rectSums(w, p.norm);
  const __m256i q = rectSums(w + p.layout.squares, p.norm);
  const __m256d area = _mm256_set1_pd(p.area);
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

// One stage: the lanes that pass it.
int stage(const HaarProgram& p, const HaarStage& st, const int* w, __m256 factor) {
  __m256d lo = _mm256_setzero_pd();
  __m256d hi = _mm256_setzero_pd();
  const HaarStumpCode* s = p.stumps.data() + st.first;
  for (int i = 0; i < st.count; ++i, ++s) {
    const __m256 s0 = _mm256_cvtepi32_ps(rectSums(w, s->corner[0]));
    const __m256 s1 = _mm256_cvtepi32_ps(rectSums(w, s->corner[1]));
    __m256 v = _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(s->weight[0]), s0),
                             _mm256_mul_ps(_mm256_set1_ps(s->weight[1]), s1));
    if (s->third)
      v = _mm256_add_ps(v, _mm256_mul_ps(_mm256_set1_ps(s->weight[2]), _mm256_cvtepi32_ps(rectSums(w, s->corner[2]))));
    v = _mm256_mul_ps(v, factor);
    const __m256 below = _mm256_cmp_ps(v, _mm256_set1_ps(s->threshold), _CMP_LT_OQ);
    // The leaves were floats: narrowing them back is exact.
    const __m256 leaf = _mm256_blendv_ps(_mm256_set1_ps(static_cast<float>(s->right)),
                                         _mm256_set1_ps(static_cast<float>(s->left)), below);
    lo = _mm256_add_pd(lo, _mm256_cvtps_pd(_mm256_castps256_ps128(leaf)));
    hi = _mm256_add_pd(hi, _mm256_cvtps_pd(_mm256_extractf128_ps(leaf, 1)));
  }
  const __m256d t = _mm256_set1_pd(st.threshold);
  return _mm256_movemask_pd(_mm256_cmp_pd(lo, t, _CMP_NLT_UQ)) |
         (_mm256_movemask_pd(_mm256_cmp_pd(hi, t, _CMP_NLT_UQ)) << 4);
}

}  // namespace

void scanRowAvx2(const HaarProgram& p, const int* sums, int row_origin, int count, std::vector<int>& detected,
                 HaarCounts* counts) {
  const size_t stages = p.stages.size();
  bool skip = false;
  for (int k = 0; k < count; k += kLanes) {
    const int lanes = count - k < kLanes ? count - k : kLanes;
    const int* w = sums + row_origin + k;
    __m256 factor;
    const int ok = variance(p, w, &factor) & firstLanes(lanes);
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

}  // namespace haar_impl
}  // namespace morvik

#endif  // __AVX2__
