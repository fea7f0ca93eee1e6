// dlib's fHOG features; see hog_features.h.
//
// Three steps, as in dlib: every pixel adds its gradient magnitude to the
// orientation histograms of its four nearest cells, weighted bilinearly;
// each cell gets the energy of its unsigned histogram; each cell's features
// are its histogram clipped and scaled by the energies of the four blocks
// around it. Sums of floats are taken in dlib's order: the histograms in
// pixel order, row by row, and four block values as the build's dlib::sum
// adds the lanes of a simd4f.
#include "engine/hog/hog_features.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>

#include <dlib/simd.h>

namespace morvik {
namespace {

#define MV_AVX2 __attribute__((target("avx2,fma")))

constexpr long kSlack = 8;
constexpr int kBins = 18;

// dlib's orientation directions, rounded to float as its matrix holds them.
constexpr float kDirX[9] = {1.0000f, 0.9397f, 0.7660f, 0.500f, 0.1736f, -0.1736f, -0.5000f, -0.7660f, -0.9397f};
constexpr float kDirY[9] = {0.0000f, 0.3420f, 0.6428f, 0.8660f, 0.9848f, 0.9848f, 0.8660f, 0.6428f, 0.3420f};
constexpr float kEps = 0.0001f;

// How dlib::sum adds the four lanes of a simd4f in this build: one dpps
// or two hadds pair neighbours, SSE2 alone pairs lanes two apart.
inline float laneSum(float a0, float a1, float a2, float a3) {
#if defined(DLIB_HAVE_SSE41) || defined(DLIB_HAVE_SSE3)
  return (a0 + a1) + (a2 + a3);
#elif defined(DLIB_HAVE_SSE2)
  return (a0 + a2) + (a1 + a3);
#else
  return a0 + a1 + a2 + a3;
#endif
}

// Orientation histograms of cells_nr + 2 rows of cells_nc + 2 cells, one
// plane per bin; the outer ring takes the weights that fall off the image.
struct Histograms {
  long nr, nc, stride;
  std::vector<float> v;
  Histograms(long rows, long cols) : nr(rows), nc(cols), stride(cols + kSlack), v(kBins * rows * stride, 0.0f) {}
  float* at(int bin, long r, long c) { return v.data() + (bin * nr + r) * stride + c; }
  const float* at(int bin, long r, long c) const { return v.data() + (bin * nr + r) * stride + c; }
};

inline void addPixel(Histograms& h, int bin, long r, long c, float w_tl, float w_bl, float w_tr, float w_br) {
  float* p = h.at(bin, r, c);
  p[0] += w_tl;
  p[h.stride] += w_bl;
  p[1] += w_tr;
  p[h.stride + 1] += w_br;
}

struct Image {
  const uint8_t* plane[3];
  long stride;
  int at(int k, long r, long c) const { return plane[k][r * stride + c]; }
};

// One row of pixels: what dlib's per-row set-up computes.
struct PixelRow {
  long y;
  long hist_row;  // iyp + 1
  float vy0, vy1;
};

PixelRow pixelRow(long y, int cell_size) {
  PixelRow row;
  row.y = y;
  const float yp = ((float)y + 0.5) / (float)cell_size - 0.5;
  const int iyp = (int)std::floor(yp);
  row.vy0 = yp - iyp;
  row.vy1 = 1.0 - row.vy0;
  row.hist_row = iyp + 1;
  return row;
}

// The horizontal interpolation of dlib's eight-pixel loop, the same for
// every row: each column's left cell and the weights of both cells.
struct ColumnWeights {
  std::vector<int32_t> cell;
  std::vector<float> vx0, vx1;
  ColumnWeights(long n, int cell_size) : cell(n), vx0(n), vx1(n) {
    for (long x = 0; x < n; ++x) {
      const float xp = ((float)x + 0.5f) / (float)cell_size + 0.5f;
      cell[x] = static_cast<int32_t>(xp);
      vx0[x] = xp - float(cell[x]);
      vx1[x] = 1.0f - vx0[x];
    }
  }
};

// dlib's eight-pixel loop, one lane at a time: of equally strong channels
// the later one gives the gradient.
void vectorPixelPortable(const Image& img, const PixelRow& row, long x, const ColumnWeights& cw, Histograms& h) {
  const long y = row.y;
  float gx[3], gy[3], len[3];
  for (int k = 0; k < 3; ++k) {
    gx[k] = float(img.at(k, y, x + 1) - img.at(k, y, x - 1));
    gy[k] = float(img.at(k, y + 1, x) - img.at(k, y - 1, x));
    len[k] = gx[k] * gx[k] + gy[k] * gy[k];
  }
  const bool rg = len[0] > len[1];
  const float tx = rg ? gx[0] : gx[1], ty = rg ? gy[0] : gy[1], tl = rg ? len[0] : len[1];
  const bool tb = tl > len[2];
  const float grad_x = tb ? tx : gx[2], grad_y = tb ? ty : gy[2], v2 = tb ? tl : len[2];

  const int32_t ixp = cw.cell[x];
  const float vx0 = cw.vx0[x], vx1 = cw.vx1[x];
  const float v = std::sqrt(v2);
  float best_dot = 0, best_o = 0;
  for (int o = 0; o < 9; ++o) {
    float dot = grad_x * kDirX[o] + grad_y * kDirY[o];
    bool cmp = dot > best_dot;
    best_dot = cmp ? dot : best_dot;
    dot *= -1;
    best_o = cmp ? o : best_o;
    cmp = dot > best_dot;
    best_dot = cmp ? dot : best_dot;
    best_o = cmp ? o + 9 : best_o;
  }
  const float wx1 = vx1 * v, wx0 = vx0 * v;
  addPixel(h, static_cast<int32_t>(best_o), row.hist_row, ixp, row.vy1 * wx1, row.vy0 * wx1, row.vy1 * wx0,
           row.vy0 * wx0);
}

// dlib's loop for the pixels after the last full group of eight: of
// equally strong channels the earlier one gives the gradient, and the
// weights are multiplied in another order.
void scalarPixel(const Image& img, const PixelRow& row, long x, int cell_size, Histograms& h) {
  const long y = row.y;
  float gx = 0, gy = 0, v = 0;
  for (int k = 0; k < 3; ++k) {
    const float cx = float(img.at(k, y, x + 1) - img.at(k, y, x - 1));
    const float cy = float(img.at(k, y + 1, x) - img.at(k, y - 1, x));
    const float len = cx * cx + cy * cy;
    if (k == 0 || len > v) {
      v = len;
      gx = cx;
      gy = cy;
    }
  }
  float best_dot = 0;
  int best_o = 0;
  for (int o = 0; o < 9; ++o) {
    const float dot = kDirX[o] * gx + kDirY[o] * gy;
    if (dot > best_dot) {
      best_dot = dot;
      best_o = o;
    } else if (-dot > best_dot) {
      best_dot = -dot;
      best_o = o + 9;
    }
  }
  v = std::sqrt(v);
  const float xp = ((double)x + 0.5) / (double)cell_size - 0.5;
  const int ixp = (int)std::floor(xp);
  const float vx0 = xp - ixp;
  const float vx1 = 1.0 - vx0;
  addPixel(h, best_o, row.hist_row, ixp + 1, row.vy1 * vx1 * v, row.vy0 * vx1 * v, row.vy1 * vx0 * v,
           row.vy0 * vx0 * v);
}

MV_AVX2 inline __m256 load8(const uint8_t* p) {
  return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}

// Pixels [x, x + 8) of the row, then their additions in pixel order. The
// orientation is found with one comparison per direction where dlib makes
// two: |dot| beats the best so far exactly when dot or -dot does, and then
// the sign of dot tells which.
MV_AVX2 void vectorPixelsAvx2(const Image& img, const PixelRow& row, long x, const ColumnWeights& cw,
                              Histograms& h) {
  const long y = row.y, s = img.stride;
  __m256 gx[3], gy[3], len[3];
  for (int k = 0; k < 3; ++k) {
    const uint8_t* p = img.plane[k] + y * s + x;
    gx[k] = _mm256_sub_ps(load8(p + 1), load8(p - 1));
    gy[k] = _mm256_sub_ps(load8(p + s), load8(p - s));
    len[k] = _mm256_add_ps(_mm256_mul_ps(gx[k], gx[k]), _mm256_mul_ps(gy[k], gy[k]));
  }
  // blendv takes its second operand where the mask is set.
  __m256 cmp = _mm256_cmp_ps(len[0], len[1], _CMP_GT_OQ);
  const __m256 tx = _mm256_blendv_ps(gx[1], gx[0], cmp);
  const __m256 ty = _mm256_blendv_ps(gy[1], gy[0], cmp);
  const __m256 tl = _mm256_blendv_ps(len[1], len[0], cmp);
  cmp = _mm256_cmp_ps(tl, len[2], _CMP_GT_OQ);
  const __m256 grad_x = _mm256_blendv_ps(gx[2], tx, cmp);
  const __m256 grad_y = _mm256_blendv_ps(gy[2], ty, cmp);
  const __m256 v = _mm256_sqrt_ps(_mm256_blendv_ps(len[2], tl, cmp));

  const __m256i ixp = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&cw.cell[x]));
  const __m256 vx0 = _mm256_loadu_ps(&cw.vx0[x]), vx1 = _mm256_loadu_ps(&cw.vx1[x]);

  __m256 best_dot = _mm256_setzero_ps(), best_o = _mm256_setzero_ps();
  const __m256 sign = _mm256_set1_ps(-0.0f);
  for (int o = 0; o < 9; ++o) {
    const __m256 dot = _mm256_add_ps(_mm256_mul_ps(grad_x, _mm256_set1_ps(kDirX[o])),
                                     _mm256_mul_ps(grad_y, _mm256_set1_ps(kDirY[o])));
    const __m256 a = _mm256_andnot_ps(sign, dot);
    const __m256 c = _mm256_cmp_ps(a, best_dot, _CMP_GT_OQ);
    best_dot = _mm256_max_ps(a, best_dot);
    const __m256 bin = _mm256_blendv_ps(_mm256_set1_ps(float(o)), _mm256_set1_ps(float(o + 9)), dot);
    best_o = _mm256_blendv_ps(best_o, bin, c);
  }
  const __m256 wx1 = _mm256_mul_ps(vx1, v), wx0 = _mm256_mul_ps(vx0, v);
  const __m256 vy0 = _mm256_set1_ps(row.vy0), vy1 = _mm256_set1_ps(row.vy1);
  alignas(32) int32_t bins[8], cols[8];
  alignas(32) float w11[8], w01[8], w10[8], w00[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(bins), _mm256_cvttps_epi32(best_o));
  _mm256_store_si256(reinterpret_cast<__m256i*>(cols), ixp);
  _mm256_store_ps(w11, _mm256_mul_ps(vy1, wx1));
  _mm256_store_ps(w01, _mm256_mul_ps(vy0, wx1));
  _mm256_store_ps(w10, _mm256_mul_ps(vy1, wx0));
  _mm256_store_ps(w00, _mm256_mul_ps(vy0, wx0));
  for (int k = 0; k < 8; ++k) addPixel(h, bins[k], row.hist_row, cols[k], w11[k], w01[k], w10[k], w00[k]);
}

// The four blocks around each cell, as dlib's z1 + z2 + z3 + z4 lanes:
// block k starts at norm row y + kBlockY[k], column x + kBlockX[k].
constexpr int kBlockY[4] = {1, 0, 1, 0};
constexpr int kBlockX[4] = {1, 1, 0, 0};

struct Norms {
  long nr, nc, stride;
  std::vector<float> v;
  Norms(long rows, long cols) : nr(rows), nc(cols), stride(cols + kSlack), v(rows * stride, 0.0f) {}
  const float* row(long r) const { return v.data() + r * stride; }
};

void cellEnergies(const Histograms& h, Norms& norm) {
  for (long r = 0; r < norm.nr; ++r) {
    float* out = norm.v.data() + r * norm.stride;
    for (int o = 0; o < 9; ++o) {
      const float* a = h.at(o, r + 1, 1);
      const float* b = h.at(o + 9, r + 1, 1);
      for (long c = 0; c < norm.nc; ++c) out[c] += (a[c] + b[c]) * (a[c] + b[c]);
    }
  }
}

struct Output {
  HogPlanes* hog;
  long row_offset, col_offset;
  float* at(int p, long y, long x) const {
    return hog->plane(p) + (y + row_offset) * hog->stride + x + col_offset;
  }
};

void normalizeCellPortable(const Histograms& h, const Norms& norm, long y, long x, const Output& out) {
  float nn[4], n[4];
  for (int k = 0; k < 4; ++k) {
    const float* r0 = norm.row(y + kBlockY[k]) + x + kBlockX[k];
    const float* r1 = r0 + norm.stride;
    nn[k] = 0.2f * std::sqrt(r0[0] + r0[1] + r1[0] + r1[1] + kEps);
    n[k] = 0.1f / nn[k];
  }
  auto feature = [&](float hv, float* lanes) {
    for (int k = 0; k < 4; ++k) lanes[k] = (hv < nn[k] ? hv : nn[k]) * n[k];
    return laneSum(lanes[0], lanes[1], lanes[2], lanes[3]);
  };
  float t[4] = {0, 0, 0, 0};
  for (int o = 0; o < kBins; o += 3) {
    float l0[4], l1[4], l2[4];
    *out.at(o, y, x) = feature(*h.at(o, y + 2, x + 2), l0);
    *out.at(o + 1, y, x) = feature(*h.at(o + 1, y + 2, x + 2), l1);
    *out.at(o + 2, y, x) = feature(*h.at(o + 2, y + 2, x + 2), l2);
    for (int k = 0; k < 4; ++k) t[k] += l0[k] + l1[k] + l2[k];
  }
  for (int o = 0; o < 9; ++o) {
    float l[4];
    *out.at(o + kBins, y, x) = feature(*h.at(o, y + 2, x + 2) + *h.at(o + 9, y + 2, x + 2), l);
  }
  for (int k = 0; k < 4; ++k) *out.at(27 + k, y, x) = t[k] * float(2 * 0.2357);
}

MV_AVX2 inline __m256 vLaneSum(__m256 a0, __m256 a1, __m256 a2, __m256 a3) {
#if defined(DLIB_HAVE_SSE41) || defined(DLIB_HAVE_SSE3)
  return _mm256_add_ps(_mm256_add_ps(a0, a1), _mm256_add_ps(a2, a3));
#elif defined(DLIB_HAVE_SSE2)
  return _mm256_add_ps(_mm256_add_ps(a0, a2), _mm256_add_ps(a1, a3));
#else
  return _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(a0, a1), a2), a3);
#endif
}

// Cells [x, x + 8) of row y, one cell per lane. min(h, nn) is minps(h, nn).
MV_AVX2 void normalizeCellsAvx2(const Histograms& h, const Norms& norm, long y, long x, const Output& out) {
  __m256 nn[4], n[4];
  for (int k = 0; k < 4; ++k) {
    const float* r0 = norm.row(y + kBlockY[k]) + x + kBlockX[k];
    const float* r1 = r0 + norm.stride;
    __m256 z = _mm256_add_ps(_mm256_loadu_ps(r0), _mm256_loadu_ps(r0 + 1));
    z = _mm256_add_ps(z, _mm256_loadu_ps(r1));
    z = _mm256_add_ps(z, _mm256_loadu_ps(r1 + 1));
    nn[k] = _mm256_mul_ps(_mm256_set1_ps(0.2f), _mm256_sqrt_ps(_mm256_add_ps(z, _mm256_set1_ps(kEps))));
    n[k] = _mm256_div_ps(_mm256_set1_ps(0.1f), nn[k]);
  }
  __m256 t[4] = {_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps()};
  for (int o = 0; o < kBins; o += 3) {
    __m256 l[3][4];
    for (int j = 0; j < 3; ++j) {
      const __m256 hv = _mm256_loadu_ps(h.at(o + j, y + 2, x + 2));
      for (int k = 0; k < 4; ++k) l[j][k] = _mm256_mul_ps(_mm256_min_ps(hv, nn[k]), n[k]);
      _mm256_storeu_ps(out.at(o + j, y, x), vLaneSum(l[j][0], l[j][1], l[j][2], l[j][3]));
    }
    for (int k = 0; k < 4; ++k) t[k] = _mm256_add_ps(t[k], _mm256_add_ps(_mm256_add_ps(l[0][k], l[1][k]), l[2][k]));
  }
  for (int o = 0; o < 9; ++o) {
    const __m256 hv = _mm256_add_ps(_mm256_loadu_ps(h.at(o, y + 2, x + 2)), _mm256_loadu_ps(h.at(o + 9, y + 2, x + 2)));
    __m256 l[4];
    for (int k = 0; k < 4; ++k) l[k] = _mm256_mul_ps(_mm256_min_ps(hv, nn[k]), n[k]);
    _mm256_storeu_ps(out.at(o + kBins, y, x), vLaneSum(l[0], l[1], l[2], l[3]));
  }
  const __m256 scale = _mm256_set1_ps(float(2 * 0.2357));
  for (int k = 0; k < 4; ++k) _mm256_storeu_ps(out.at(27 + k, y, x), _mm256_mul_ps(t[k], scale));
}

}  // namespace

void HogPlanes::setSize(long rows, long cols) {
  nr = rows;
  nc = cols;
  stride = cols + kSlack;
  data.assign(kHogPlanes * nr * stride, 0.0f);
}

void extractFhog(const ColorLevel& image, int cell_size, int rows_padding, int cols_padding, HogPlanes& hog,
                 HogIsa isa) {
  const int cells_nr = (int)((float)image.nr / (float)cell_size + 0.5);
  const int cells_nc = (int)((float)image.nc / (float)cell_size + 0.5);
  const int hog_nr = std::max(cells_nr - 2, 0);
  const int hog_nc = std::max(cells_nc - 2, 0);
  if (hog_nr == 0 || hog_nc == 0) {
    hog.setSize(0, 0);
    return;
  }
  hog.setSize(hog_nr + rows_padding - 1, hog_nc + cols_padding - 1);
  const bool avx2 = isa == HogIsa::kAvx2;

  Histograms h(cells_nr + 2, cells_nc + 2);
  const Image img{{image.plane(0), image.plane(1), image.plane(2)}, image.stride};
  const int visible_nr = std::min((long)cells_nr * cell_size, image.nr) - 1;
  const int visible_nc = std::min((long)cells_nc * cell_size, image.nc) - 1;
  const ColumnWeights columns(std::max(visible_nc, 0) + 8, cell_size);
  for (int y = 1; y < visible_nr; y++) {
    const PixelRow row = pixelRow(y, cell_size);
    int x = 1;
    for (; x < visible_nc - 7; x += 8) {
      if (avx2) {
        vectorPixelsAvx2(img, row, x, columns, h);
      } else {
        for (int k = 0; k < 8; ++k) vectorPixelPortable(img, row, x + k, columns, h);
      }
    }
    for (; x < visible_nc; x++) scalarPixel(img, row, x, cell_size, h);
  }

  Norms norm(cells_nr, cells_nc);
  cellEnergies(h, norm);
  const Output out{&hog, (rows_padding - 1) / 2, (cols_padding - 1) / 2};
  for (long y = 0; y < hog_nr; ++y) {
    long x = 0;
    if (avx2)
      for (; x + 8 <= hog_nc; x += 8) normalizeCellsAvx2(h, norm, y, x, out);
    for (; x < hog_nc; ++x) normalizeCellPortable(h, norm, y, x, out);
  }
}

}  // namespace morvik
