// The cascade's stages over 16 consecutive windows at once (AVX-512F), and
// the backlog of half vectors; see cascade_kernels.h. Lane for lane, the
// operations are the portable path's: the kind's arithmetic
// (haar_lanes.h, lbp_lanes.h), double stage sums.
#include "engine/cascade/cascade_kernels_impl.h"

#if defined(__AVX512F__)

// GCC 12 takes the undefined upper halves inside its own AVX-512
// intrinsics for uninitialised variables (its bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include "engine/cascade/cascade_skips.h"

namespace morvik {
namespace cascade_impl {
namespace {

constexpr int kLanes = 16;

__mmask16 firstLanes(int n) { return n >= kLanes ? __mmask16(0xFFFF) : __mmask16((1u << n) - 1); }

// One stage: the lanes that pass it.
template <typename Kind, typename Lanes>
__mmask16 stage(const CascadeProgram<Kind>& p, const CascadeStage& st, const Lanes& w, __m512 factor) {
  __m512d lo = _mm512_setzero_pd();
  __m512d hi = _mm512_setzero_pd();
  const typename Kind::StumpCode* s = p.stumps.data() + st.first;
  for (int i = 0; i < st.count; ++i, ++s) {
    const __mmask16 left = leftLanes(*s, w, factor);
    // sum + (left ? left leaf : right leaf), as one add per lane.
    const __m512d l = _mm512_set1_pd(s->left);
    const __m512d r = _mm512_set1_pd(s->right);
    lo = _mm512_mask_add_pd(_mm512_add_pd(lo, r), static_cast<__mmask8>(left), lo, l);
    hi = _mm512_mask_add_pd(_mm512_add_pd(hi, r), static_cast<__mmask8>(left >> 8), hi, l);
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

void leaveHalf(std::vector<CascadeHalf>& to, int origin, uint32_t live, const float* factors) {
  if (live == 0) return;
  CascadeHalf h;
  h.origin = origin;
  h.live = live;
  for (int i = 0; i < 8; ++i) h.factors[i] = factors[i];
  to.push_back(h);
}

void detectLanes(std::vector<int>& detected, int origin, uint32_t live) {
  for (; live != 0; live &= live - 1) detected.push_back(origin + __builtin_ctz(live));
}

}  // namespace

template <typename Kind>
void scanRowAvx512(const CascadeProgram<Kind>& p, const int* sums, int row_origin, int count,
                   std::vector<int>& detected, CascadeBacklog& backlog, CascadeCounts* counts) {
  const size_t stages = p.stages.size();
  // Without pairing, every window is decided in its own vector.
  const int backlog_lanes = Kind::kPairsHalves ? kBacklogLanes : 0;
  bool skip = false;
  for (int k = 0; k < count; k += kLanes) {
    const int lanes = count - k < kLanes ? count - k : kLanes;
    const Consecutive w{sums + row_origin + k};
    __m512 factor;
    const __mmask16 ok = windowFactors(p.window, w.w, &factor) & firstLanes(lanes);
    const __mmask16 pass = ok ? stage(p, p.stages[0], w, factor) & ok : 0;
    uint32_t visited;
    uint32_t live = replaySkips(ok, pass, lanes, skip, &visited);
    if (counts != nullptr) {
      counts->windows += __builtin_popcount(visited);
      counts->checked += __builtin_popcount(visited & ok);
      counts->passing[0] += __builtin_popcount(live);
    }
    size_t s = 1;
    for (; live != 0 && s < stages && __builtin_popcount(live) >= backlog_lanes; ++s) {
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

template <typename Kind>
void decideBacklogAvx512(const CascadeProgram<Kind>& p, const int* sums, CascadeBacklog& backlog,
                         std::vector<int>& detected, CascadeCounts* counts) {
  const size_t stages = p.stages.size();
  for (size_t s = 1; s < stages; ++s) {
    std::vector<CascadeHalf>& halves = backlog.stages[s];
    for (size_t i = 0; i < halves.size(); i += 2) {
      const CascadeHalf a = halves[i];
      // An odd half out is paired with itself, its copy's lanes dead.
      const CascadeHalf b = i + 1 < halves.size() ? halves[i + 1] : CascadeHalf{a.origin, 0, {}};
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

template void scanRowAvx512(const CascadeProgram<HaarKind>&, const int*, int, int, std::vector<int>&,
                            CascadeBacklog&, CascadeCounts*);
template void scanRowAvx512(const CascadeProgram<LbpKind>&, const int*, int, int, std::vector<int>&,
                            CascadeBacklog&, CascadeCounts*);
template void decideBacklogAvx512(const CascadeProgram<HaarKind>&, const int*, CascadeBacklog&, std::vector<int>&,
                                  CascadeCounts*);

}  // namespace cascade_impl
}  // namespace morvik

#endif  // __AVX512F__
