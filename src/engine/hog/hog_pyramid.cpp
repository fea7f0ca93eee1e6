// The HOG scanner's pyramid; see hog_pyramid.h.
//
// dlib's colour resize, per output row: column positions in float lanes of
// four, started from double values and advanced by 4 * x_scale each step;
// each channel then ((tlf * tl + trf * tr) + blf * bl) + brf * br in float,
// truncated to a byte, until the right neighbour of a group's last column
// leaves the row; the columns left are interpolated in double. The column
// positions do not depend on the row, so they are worked out once a level.
#include "engine/hog/hog_pyramid.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>

namespace morvik {
namespace {

#define MV_AVX2 __attribute__((target("avx2,fma")))

// Bytes of slack after each row: a full 16-byte load from any column.
constexpr long kRowSlack = 16;

// Where each output column reads, as dlib's four-lane loop finds it.
struct Columns {
  long simd = 0;                     // columns [0, simd) take the float path
  std::vector<int32_t> left;         // per float column
  std::vector<float> lr, inv_lr;     // its weights
};

Columns floatColumns(long in_nc, long out_nc, double x_scale) {
  Columns cols;
  const double x = -4 * x_scale;
  float lane[4] = {float(x), float(x + x_scale), float(x + 2 * x_scale), float(x + 3 * x_scale)};
  const float step = float(4 * x_scale);
  for (long c = 0;; c += 4) {
    int32_t left[4];
    float lr[4];
    for (int k = 0; k < 4; ++k) {
      lane[k] += step;
      left[k] = static_cast<int32_t>(lane[k]);  // truncation, as cvttps
      lr[k] = lane[k] - float(left[k]);
    }
    // dlib stops on the input side only; its float positions fall behind on
    // rows of tens of thousands of pixels, so the output side is checked too.
    if (left[3] + 1 >= in_nc || c + 4 > out_nc) break;
    for (int k = 0; k < 4; ++k) {
      cols.left.push_back(left[k]);
      cols.lr.push_back(lr[k]);
      cols.inv_lr.push_back(1.0f - lr[k]);
    }
    cols.simd = c + 4;
  }
  return cols;
}

struct Row {
  const uint8_t* top[3];
  const uint8_t* bottom[3];
  uint8_t* out[3];
  double tb_frac;
};

inline uint8_t floatPixel(float tlf, float trf, float blf, float brf, const uint8_t* top, const uint8_t* bottom,
                          long left) {
  const float v = tlf * float(top[left]) + trf * float(top[left + 1]) + blf * float(bottom[left]) +
                  brf * float(bottom[left + 1]);
  return static_cast<unsigned char>(static_cast<int32_t>(v));
}

void floatColumnsPortable(const Row& row, const Columns& cols, long c0, long c1) {
  const float tb = float(row.tb_frac), inv_tb = float(1 - row.tb_frac);
  for (long c = c0; c < c1; ++c) {
    const float tlf = inv_tb * cols.inv_lr[c], trf = inv_tb * cols.lr[c];
    const float blf = tb * cols.inv_lr[c], brf = tb * cols.lr[c];
    for (int k = 0; k < 3; ++k)
      row.out[k][c] = floatPixel(tlf, trf, blf, brf, row.top[k], row.bottom[k], cols.left[c]);
  }
}

// Eight columns from the sixteen input bytes at their first column's left
// neighbour: each pair of neighbours is picked out of two vectors.
struct Group {
  int32_t base;
  alignas(32) int32_t idx[8];  // left - base, below 15
};

std::vector<Group> groupsOf(const Columns& cols, long& covered) {
  std::vector<Group> groups;
  covered = 0;
  for (long c = 0; c + 8 <= cols.simd; c += 8) {
    Group g;
    g.base = cols.left[c];
    for (int k = 0; k < 8; ++k) {
      const int32_t d = cols.left[c + k] - g.base;
      if (d < 0 || d > 14) return groups;
      g.idx[k] = d;
    }
    groups.push_back(g);
    covered = c + 8;
  }
  return groups;
}

MV_AVX2 inline void bytesToFloats(const uint8_t* p, __m256& lo, __m256& hi) {
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  lo = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(b));
  hi = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(b, 8)));
}

MV_AVX2 inline __m256 pick(__m256 lo, __m256 hi, __m256i idx, __m256 high) {
  return _mm256_blendv_ps(_mm256_permutevar8x32_ps(lo, idx), _mm256_permutevar8x32_ps(hi, idx), high);
}

MV_AVX2 void floatColumnsAvx2(const Row& row, const Columns& cols, const std::vector<Group>& groups) {
  const __m256 tb = _mm256_set1_ps(float(row.tb_frac)), inv_tb = _mm256_set1_ps(float(1 - row.tb_frac));
  const __m256i one = _mm256_set1_epi32(1), seven = _mm256_set1_epi32(7), byte = _mm256_set1_epi32(0xFF);
  for (size_t g = 0; g < groups.size(); ++g) {
    const long c = 8 * long(g);
    const __m256i l = _mm256_load_si256(reinterpret_cast<const __m256i*>(groups[g].idx));
    const __m256i r = _mm256_add_epi32(l, one);
    const __m256 l_high = _mm256_castsi256_ps(_mm256_cmpgt_epi32(l, seven));
    const __m256 r_high = _mm256_castsi256_ps(_mm256_cmpgt_epi32(r, seven));
    const __m256 lr = _mm256_loadu_ps(&cols.lr[c]), inv_lr = _mm256_loadu_ps(&cols.inv_lr[c]);
    const __m256 tlf = _mm256_mul_ps(inv_tb, inv_lr), trf = _mm256_mul_ps(inv_tb, lr);
    const __m256 blf = _mm256_mul_ps(tb, inv_lr), brf = _mm256_mul_ps(tb, lr);
    for (int k = 0; k < 3; ++k) {
      __m256 t0, t1, b0, b1;
      bytesToFloats(row.top[k] + groups[g].base, t0, t1);
      bytesToFloats(row.bottom[k] + groups[g].base, b0, b1);
      __m256 v = _mm256_mul_ps(tlf, pick(t0, t1, l, l_high));
      v = _mm256_add_ps(v, _mm256_mul_ps(trf, pick(t0, t1, r, r_high)));
      v = _mm256_add_ps(v, _mm256_mul_ps(blf, pick(b0, b1, l, l_high)));
      v = _mm256_add_ps(v, _mm256_mul_ps(brf, pick(b0, b1, r, r_high)));
      const __m256i i = _mm256_and_si256(_mm256_cvttps_epi32(v), byte);
      const __m128i w = _mm_packus_epi32(_mm256_castsi256_si128(i), _mm256_extracti128_si256(i, 1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(row.out[k] + c), _mm_packus_epi16(w, w));
    }
  }
}

// The columns after the float path, in double as dlib's last loop does.
void doubleColumns(const Row& row, long in_nc, long out_nc, double x_scale, long c0) {
  const double tb = row.tb_frac;
  double x = -x_scale + c0 * x_scale;
  for (long c = c0; c < out_nc; ++c) {
    x += x_scale;
    const long left = static_cast<long>(std::floor(x));
    const long right = std::min(left + 1, in_nc - 1);
    const double lr = x - left;
    for (int k = 0; k < 3; ++k) {
      const double v = (1 - tb) * ((1 - lr) * row.top[k][left] + lr * row.top[k][right]) +
                       tb * ((1 - lr) * row.bottom[k][left] + lr * row.bottom[k][right]);
      row.out[k][c] = static_cast<unsigned char>(v);
    }
  }
}

}  // namespace

void ColorLevel::setSize(long rows, long cols) {
  nr = rows;
  nc = cols;
  stride = cols + kRowSlack;
  data.assign(3 * nr * stride, 0);
}

void levelFromImage(const dlib::cv_image<dlib::bgr_pixel>& image, ColorLevel& level) {
  level.setSize(image.nr(), image.nc());
  uint8_t* red = level.plane(0);
  uint8_t* green = level.plane(1);
  uint8_t* blue = level.plane(2);
  for (long r = 0; r < level.nr; ++r) {
    const dlib::bgr_pixel* in = &image[r][0];
    const long o = r * level.stride;
    for (long c = 0; c < level.nc; ++c) {
      red[o + c] = in[c].red;
      green[o + c] = in[c].green;
      blue[o + c] = in[c].blue;
    }
  }
}

void pyramidDown(const ColorLevel& in, ColorLevel& down, HogIsa isa) {
  // dlib: set_image_size(down, ((N-1)*nr)/N + 0.5, ...) with N = 6.
  down.setSize((5 * in.nr) / 6, (5 * in.nc) / 6);
  if (down.nr == 0 || down.nc == 0 || in.nr == 0 || in.nc == 0) return;
  const double x_scale = (in.nc - 1) / (double)std::max<long>(down.nc - 1, 1);
  const double y_scale = (in.nr - 1) / (double)std::max<long>(down.nr - 1, 1);
  const Columns cols = floatColumns(in.nc, down.nc, x_scale);
  long grouped = 0;
  const std::vector<Group> groups = isa == HogIsa::kAvx2 ? groupsOf(cols, grouped) : std::vector<Group>();
  double y = -y_scale;
  for (long r = 0; r < down.nr; ++r) {
    y += y_scale;
    const long top = static_cast<long>(std::floor(y));
    const long bottom = std::min(top + 1, in.nr - 1);
    Row row;
    row.tb_frac = y - top;
    for (int k = 0; k < 3; ++k) {
      row.top[k] = in.plane(k) + top * in.stride;
      row.bottom[k] = in.plane(k) + bottom * in.stride;
      row.out[k] = down.plane(k) + r * down.stride;
    }
    if (!groups.empty()) floatColumnsAvx2(row, cols, groups);
    floatColumnsPortable(row, cols, grouped, cols.simd);
    doubleColumns(row, in.nc, down.nc, x_scale, cols.simd);
  }
}

}  // namespace morvik
