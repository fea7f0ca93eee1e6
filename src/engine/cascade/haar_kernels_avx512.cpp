// The cascade's arithmetic over 16 consecutive windows at once (AVX-512F);
// see haar_kernels.h. Lane for lane, the operations are the portable
// path's: int sums, float feature values, double variance and stage sums.
#include "engine/cascade/haar_kernels_impl.h"

#if defined(__AVX512F__)

// GCC 12 takes the undefined upper halves inside its own AVX-512
// intrinsics for uninitialised variables (its bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include <vector>

namespace morvik {
namespace haar_impl {
namespace {

constexpr int kLanes = 16;

__mmask16 firstLanes(int n) { return n >= kLanes ? __mmask16(0xFFFF) : __mmask16((1u << n) - 1); }

// Where the 16 lanes' windows are: consecutive from one origin, or eight
// consecutive from each of two.
struct Consecutive {
  const int* w;
  __m512i operator()(int offset) const { return _mm512_loadu_si512(w + offset); }
};

struct Paired {
  const int* low;
  const int* high;
  inline __attribute__((always_inline)) __m512i operator()(int offset) const {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(low + offset));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(high + offset));
    return _mm512_inserti64x4(_mm512_zextsi256_si512(a), b, 1);
  }
};

template <typename Lanes>
inline __attribute__((always_inline)) __m512i rectSums(const Lanes& at, const int c[4]) {
  return _mm512_add_epi32(_mm512_sub_epi32(_mm512_sub_epi32(at(c[0]), at(c[1])), at(c[2])), at(c[3]));
}

__m256i lowHalf(__m512i v) { return _mm512_extracti64x4_epi64(v, 0); }
__m256i highHalf(__m512i v) { return _mm512_extracti64x4_epi64(v, 1); }

__m512 join(__m256 lo, __m256 hi) {
  return _mm512_castpd_ps(_mm512_insertf64x4(_mm512_zextpd256_pd512(_mm256_castps_pd(lo)), _mm256_castps_pd(hi), 1));
}

// The variance test: the lanes that pass it; their factors go to *factor.
__mmask16 variance(const HaarProgram& p, const int* w, __m512* factor) {
  const __m512i s = rectSums(Consecutive{w}, p.norm);
  const __m512i q = rectSums(Consecutive{w + p.layout.squares}, p.norm);
  const __m512d area = _mm512_set1_pd(p.area);
  const __m512d one = _mm512_set1_pd(1.0);
  const __m512d limit = _mm512_set1_pd(1e-1);
  __m256 half[2];
  __mmask8 ok[2];
  for (int h = 0; h < 2; ++h) {
    const __m512d sd = _mm512_cvtepi32_pd(h ? highHalf(s) : lowHalf(s));
    const __m512d qd = _mm512_cvtepu32_pd(h ? highHalf(q) : lowHalf(q));
    const __m512d nf = _mm512_sub_pd(_mm512_mul_pd(area, qd), _mm512_mul_pd(sd, sd));
    const __mmask8 positive = _mm512_cmp_pd_mask(nf, _mm512_setzero_pd(), _CMP_GT_OQ);
    half[h] = _mm512_cvtpd_ps(_mm512_div_pd(one, _mm512_sqrt_pd(nf)));
    ok[h] = _mm512_mask_cmp_pd_mask(positive, _mm512_mul_pd(area, _mm512_cvtps_pd(half[h])), limit, _CMP_LT_OQ);
  }
  *factor = join(half[0], half[1]);
  return static_cast<__mmask16>(ok[0] | (ok[1] << 8));
}

// One stage: the lanes that pass it.
template <typename Lanes>
__mmask16 stage(const HaarProgram& p, const HaarStage& st, const Lanes& w, __m512 factor) {
  __m512d lo = _mm512_setzero_pd();
  __m512d hi = _mm512_setzero_pd();
  const HaarStumpCode* s = p.stumps.data() + st.first;
  for (int i = 0; i < st.count; ++i, ++s) {
    const __m512 s0 = _mm512_cvtepi32_ps(rectSums(w, s->corner[0]));
    const __m512 s1 = _mm512_cvtepi32_ps(rectSums(w, s->corner[1]));
    __m512 v = _mm512_add_ps(_mm512_mul_ps(_mm512_set1_ps(s->weight[0]), s0),
                             _mm512_mul_ps(_mm512_set1_ps(s->weight[1]), s1));
    if (s->third)
      v = _mm512_add_ps(v, _mm512_mul_ps(_mm512_set1_ps(s->weight[2]), _mm512_cvtepi32_ps(rectSums(w, s->corner[2]))));
    v = _mm512_mul_ps(v, factor);
    const __mmask16 below = _mm512_cmp_ps_mask(v, _mm512_set1_ps(s->threshold), _CMP_LT_OQ);
    // sum + (below ? left : right), as one add per lane.
    const __m512d left = _mm512_set1_pd(s->left);
    const __m512d right = _mm512_set1_pd(s->right);
    lo = _mm512_mask_add_pd(_mm512_add_pd(lo, right), static_cast<__mmask8>(below), lo, left);
    hi = _mm512_mask_add_pd(_mm512_add_pd(hi, right), static_cast<__mmask8>(below >> 8), hi, left);
  }
  const __m512d t = _mm512_set1_pd(st.threshold);
  const __mmask8 plo = _mm512_cmp_pd_mask(lo, t, _CMP_NLT_UQ);
  const __mmask8 phi = _mm512_cmp_pd_mask(hi, t, _CMP_NLT_UQ);
  return static_cast<__mmask16>(plo | (phi << 8));
}

// Below this many live lanes, a vector's halves go to the backlog. Measured
// on the eye search: any threshold from 3 to 16 gives nearly the same
// times; keeping every vector whole (a threshold of 1) takes 15% longer.
constexpr int kBacklogLanes = 6;

void leaveHalf(std::vector<HaarHalf>& to, int origin, uint32_t live, const float* factors) {
  if (live == 0) return;
  HaarHalf h;
  h.origin = origin;
  h.live = live;
  for (int i = 0; i < 8; ++i) h.factors[i] = factors[i];
  to.push_back(h);
}

void detectLanes(std::vector<int>& detected, int origin, uint32_t live) {
  for (; live != 0; live &= live - 1) detected.push_back(origin + __builtin_ctz(live));
}

}  // namespace

void scanRowAvx512(const HaarProgram& p, const int* sums, int row_origin, int count, std::vector<int>& detected,
                   HaarBacklog& backlog, HaarCounts* counts) {
  const size_t stages = p.stages.size();
  bool skip = false;
  for (int k = 0; k < count; k += kLanes) {
    const int lanes = count - k < kLanes ? count - k : kLanes;
    const Consecutive w{sums + row_origin + k};
    __m512 factor;
    const __mmask16 ok = variance(p, w.w, &factor) & firstLanes(lanes);
    const __mmask16 pass = ok ? stage(p, p.stages[0], w, factor) & ok : 0;
    uint32_t visited;
    uint32_t live = replaySkips(ok, pass, lanes, skip, &visited);
    if (counts != nullptr) {
      counts->windows += __builtin_popcount(visited);
      counts->checked += __builtin_popcount(visited & ok);
      counts->passing[0] += __builtin_popcount(live);
    }
    size_t s = 1;
    for (; live != 0 && s < stages && __builtin_popcount(live) >= kBacklogLanes; ++s) {
      live &= stage(p, p.stages[s], w, factor);
      if (counts != nullptr) counts->passing[s] += __builtin_popcount(live);
    }
    if (live == 0) continue;
    if (s == stages) {
      detectLanes(detected, row_origin + k, live);
      continue;
    }
    alignas(64) float factors[kLanes];
    _mm512_store_ps(factors, factor);
    leaveHalf(backlog.stages[s], row_origin + k, live & 0xFF, factors);
    leaveHalf(backlog.stages[s], row_origin + k + 8, live >> 8, factors + 8);
  }
}

void decideBacklogAvx512(const HaarProgram& p, const int* sums, HaarBacklog& backlog, std::vector<int>& detected,
                         HaarCounts* counts) {
  const size_t stages = p.stages.size();
  for (size_t s = 1; s < stages; ++s) {
    std::vector<HaarHalf>& halves = backlog.stages[s];
    for (size_t i = 0; i < halves.size(); i += 2) {
      const HaarHalf a = halves[i];
      // An odd half out is paired with itself, its copy's lanes dead.
      const HaarHalf b = i + 1 < halves.size() ? halves[i + 1] : HaarHalf{a.origin, 0, {}};
      const __m512 factor = join(_mm256_loadu_ps(a.factors), _mm256_loadu_ps(b.factors));
      const Paired w{sums + a.origin, sums + b.origin};
      const uint32_t live = (a.live | (b.live << 8)) & stage(p, p.stages[s], w, factor);
      if (counts != nullptr) counts->passing[s] += __builtin_popcount(live);
      if (s + 1 == stages) {
        detectLanes(detected, a.origin, live & 0xFF);
        detectLanes(detected, b.origin, live >> 8);
      } else {
        leaveHalf(backlog.stages[s + 1], a.origin, live & 0xFF, a.factors);
        leaveHalf(backlog.stages[s + 1], b.origin, live >> 8, b.factors);
      }
    }
    halves.clear();
  }
}

}  // namespace haar_impl
}  // namespace morvik

#endif  // __AVX512F__
