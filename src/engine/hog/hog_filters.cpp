// The HOG detector's filter scores; see hog_filters.h.
//
// For each term, the row pass writes a scratch image and the column pass
// adds it to the scores. A pass computes, for every output, sum_n in[n] *
// f[n] over taps n: in full groups of eight outputs with three partial sums
// (taps 0, 3, 6, ..., taps 1, 4, 7, ... and taps 2, 5, 8, ..., any taps past
// the last full triple going to the first), added as p0 + (p1 + p2); in the
// last partial group with one sum. The AVX2 path holds the taps in
// registers, which dlib's loops reload for every group of outputs.
#include "engine/hog/hog_filters.h"

#include <immintrin.h>

#include <algorithm>

namespace morvik {
namespace {

#define MV_AVX2 __attribute__((target("avx2,fma")))

// One pass: rows x [c0, c1) outputs at dst + r * dst_stride + c, output
// (r, c) summing taps in src + r * src_stride + c - shift + n * tap_step. Columns
// from c0 + 8 * ((c1 - c0) / 8) on take one sum. add: dst += the sums.
struct Pass {
  const float* src;
  long src_stride, tap_step, shift;
  float* dst;
  long dst_stride;
  long rows, c0, c1;
  const float* f;
  int len;
  bool add;
};

// ---- portable -----------------------------------------------------------

float grouped(const float* in, long step, const float* f, int len) {
  float p0 = 0, p1 = 0, p2 = 0;
  int n = 0;
  for (; n < len - 2; n += 3) {
    p0 += in[n * step] * f[n];
    p1 += in[(n + 1) * step] * f[n + 1];
    p2 += in[(n + 2) * step] * f[n + 2];
  }
  for (; n < len; ++n) p0 += in[n * step] * f[n];
  return p0 + (p1 + p2);
}

float plain(const float* in, long step, const float* f, int len) {
  float p = 0;
  for (int n = 0; n < len; ++n) p += in[n * step] * f[n];
  return p;
}

void passPortable(const Pass& p) {
  const long full = p.c0 + (p.c1 - p.c0) / 8 * 8;
  for (long r = 0; r < p.rows; ++r) {
    const float* in = p.src + r * p.src_stride;
    float* out = p.dst + r * p.dst_stride;
    for (long c = p.c0; c < p.c1; ++c) {
      const float v = c < full ? grouped(in + (c - p.shift), p.tap_step, p.f, p.len)
                              : plain(in + (c - p.shift), p.tap_step, p.f, p.len);
      out[c] = p.add ? v + out[c] : v;
    }
  }
}

// ---- AVX2 ---------------------------------------------------------------

// kLen taps known when compiled (0: p.len taps, broadcast as used).
template <int kLen>
MV_AVX2 __attribute__((always_inline)) inline void passRows(const Pass& p) {
  const int len = kLen ? kLen : p.len;
  __m256 taps[kLen ? kLen : 1];
  if (kLen)
    for (int n = 0; n < kLen; ++n) taps[n] = _mm256_set1_ps(p.f[n]);
  auto tap = [&](int n) { return kLen ? taps[kLen ? n : 0] : _mm256_set1_ps(p.f[n]); };
  const long full = p.c0 + (p.c1 - p.c0) / 8 * 8;
  const long step = p.tap_step;
  for (long r = 0; r < p.rows; ++r) {
    const float* in = p.src + r * p.src_stride;
    float* out = p.dst + r * p.dst_stride;
    long c = p.c0;
    for (; c < full; c += 8) {
      const float* x = in + (c - p.shift);
      __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps(), s2 = _mm256_setzero_ps();
      int n = 0;
      for (; n < len - 2; n += 3) {
        s0 = _mm256_add_ps(s0, _mm256_mul_ps(_mm256_loadu_ps(x + n * step), tap(n)));
        s1 = _mm256_add_ps(s1, _mm256_mul_ps(_mm256_loadu_ps(x + (n + 1) * step), tap(n + 1)));
        s2 = _mm256_add_ps(s2, _mm256_mul_ps(_mm256_loadu_ps(x + (n + 2) * step), tap(n + 2)));
      }
      for (; n < len; ++n) s0 = _mm256_add_ps(s0, _mm256_mul_ps(_mm256_loadu_ps(x + n * step), tap(n)));
      s0 = _mm256_add_ps(s0, _mm256_add_ps(s1, s2));
      if (p.add) s0 = _mm256_add_ps(s0, _mm256_loadu_ps(out + c));
      _mm256_storeu_ps(out + c, s0);
    }
    if (c < p.c1) {
      // The last few outputs, with one sum; the lanes past c1 fall in the
      // rows' slack or in columns outside the area, and are not kept.
      const float* x = in + (c - p.shift);
      __m256 s = _mm256_setzero_ps();
      for (int n = 0; n < len; ++n) s = _mm256_add_ps(s, _mm256_mul_ps(_mm256_loadu_ps(x + n * step), tap(n)));
      alignas(32) float v[8];
      _mm256_store_ps(v, s);
      for (long k = 0; c + k < p.c1; ++k) out[c + k] = p.add ? v[k] + out[c + k] : v[k];
    }
  }
}

template <int kLen>
MV_AVX2 __attribute__((noinline)) void passFixed(const Pass& p) {
  passRows<kLen>(p);
}

MV_AVX2 void passAvx2(const Pass& p) {
  switch (p.len) {
    case 8: return passFixed<8>(p);
    case 9: return passFixed<9>(p);
    case 10: return passFixed<10>(p);
    case 11: return passFixed<11>(p);
    case 12: return passFixed<12>(p);
    default: return passFixed<0>(p);
  }
}

void runPass(const Pass& p, HogIsa isa) {
  if (p.rows <= 0 || p.c1 <= p.c0) return;
  if (isa == HogIsa::kAvx2)
    passAvx2(p);
  else
    passPortable(p);
}

}  // namespace

bool separableFilter(const FullFilters& filters, const TermFilters& row_filters, const TermFilters& col_filters,
                     HogFilter& filter) {
  filter.terms.clear();
  if (filters.empty() || row_filters.size() != filters.size() || col_filters.size() != filters.size()) return false;
  unsigned long count = 0;
  for (const auto& r : row_filters) count += r.size();
  // dlib's apply_filters_to_fhog makes this choice.
  if (count > filters.size() * std::min(filters[0].nr(), filters[0].nc()) / 3.0) return false;
  for (size_t i = 0; i < row_filters.size(); ++i) {
    if (col_filters[i].size() != row_filters[i].size()) return false;
    for (size_t j = 0; j < row_filters[i].size(); ++j) {
      const auto& rf = row_filters[i][j];
      const auto& cf = col_filters[i][j];
      filter.terms.push_back(SeparableTerm{int(i), std::vector<float>(rf.begin(), rf.end()),
                                           std::vector<float>(cf.begin(), cf.end())});
    }
  }
  return true;
}

dlib::rectangle scoreImage(const HogFilter& filter, const HogPlanes& hog, ScoreImage& scores,
                           std::vector<float>& scratch, HogIsa isa) {
  scores.nr = hog.nr;
  scores.nc = hog.nc;
  scores.stride = hog.stride;
  if (filter.terms.empty() || hog.nr == 0 || hog.nc == 0) return dlib::rectangle();
  if (scores.data.size() < size_t(hog.nr * hog.stride)) scores.data.resize(hog.nr * hog.stride);
  if (scratch.size() < size_t(hog.nr * hog.stride)) scratch.resize(hog.nr * hog.stride);

  dlib::rectangle area;
  bool first = true;
  for (const SeparableTerm& t : filter.terms) {
    const long rows = long(t.col.size()), cols = long(t.row.size());
    const long first_row = rows / 2, first_col = cols / 2;
    const long last_row = hog.nr - (rows - 1) / 2, last_col = hog.nc - (cols - 1) / 2;
    area = dlib::rectangle(first_col, first_row, last_col - 1, last_row - 1);
    const Pass row_pass{hog.plane(t.plane), hog.stride, 1, first_col, scratch.data(), hog.stride, hog.nr,
                        first_col, last_col, t.row.data(), int(cols), false};
    runPass(row_pass, isa);
    const Pass col_pass{scratch.data(), hog.stride, hog.stride, 0, scores.data.data() + first_row * hog.stride,
                        hog.stride, last_row - first_row, first_col, last_col, t.col.data(), int(rows), !first};
    runPass(col_pass, isa);
    first = false;
  }
  return area;
}

}  // namespace morvik
