// Banded convolution for dlib tensors; see tiled_conv.h for why.
#include "engine/cnn/tiled_conv.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace morvik {
namespace {

// Kept between calls so that steady use maps no new memory.
thread_local std::vector<float> t_scratch;

// Bands start at multiples of this many output pixels.
constexpr long kBandQuantum = 64;

struct ConvShape {
  long channels, in_nr, in_nc;
  long filter_nr, filter_nc;
  long stride_y, stride_x, padding_y, padding_x;
  long out_nr, out_nc;

  long window() const { return channels * filter_nr * filter_nc; }
};

// Unrolls output pixels [p0, p1) (row-major) of one sample into `cols`:
// one row per output pixel holding the filter window at that pixel,
// channel by channel, filter row by filter row; positions outside the
// input are 0. This is the layout dlib's own unrolling produces. FR and FC
// fix the filter size at compile time (0: the shape's), so that the few
// values of a filter row are copied without a loop.
template <int FR, int FC>
void unrollPixelsOf(const ConvShape& s, const float* sample, long p0, long p1, float* cols) {
  const long fr = FR ? FR : s.filter_nr;
  const long fc = FC ? FC : s.filter_nc;
  float* t = cols;
  for (long p = p0; p < p1; ++p) {
    const long top = (p / s.out_nc) * s.stride_y - s.padding_y;
    const long left = (p % s.out_nc) * s.stride_x - s.padding_x;
    const bool inside_x = left >= 0 && left + fc <= s.in_nc;
    const bool inside_y = top >= 0 && top + fr <= s.in_nr;
    if (inside_x && inside_y) {
      const float* corner = sample + top * s.in_nc + left;
      for (long k = 0; k < s.channels; ++k, corner += s.in_nr * s.in_nc) {
        for (long y = 0; y < fr; ++y, t += fc) {
          const float* row = corner + y * s.in_nc;
          for (long x = 0; x < fc; ++x) t[x] = row[x];
        }
      }
      continue;
    }
    for (long k = 0; k < s.channels; ++k) {
      const float* plane = sample + k * s.in_nr * s.in_nc;
      for (long y = top; y < top + fr; ++y, t += fc) {
        if (y < 0 || y >= s.in_nr) {
          std::fill_n(t, fc, 0.0f);
        } else if (inside_x) {
          const float* row = plane + y * s.in_nc + left;
          for (long x = 0; x < fc; ++x) t[x] = row[x];
        } else {
          const float* row = plane + y * s.in_nc;
          for (long x = 0; x < fc; ++x) {
            const long xx = left + x;
            t[x] = (xx >= 0 && xx < s.in_nc) ? row[xx] : 0.0f;
          }
        }
      }
    }
  }
}

// The networks' filter sizes get their own copies of the loop.
void unrollPixels(const ConvShape& s, const float* sample, long p0, long p1, float* cols) {
  if (s.filter_nr == 3 && s.filter_nc == 3) return unrollPixelsOf<3, 3>(s, sample, p0, p1, cols);
  if (s.filter_nr == 5 && s.filter_nc == 5) return unrollPixelsOf<5, 5>(s, sample, p0, p1, cols);
  if (s.filter_nr == 7 && s.filter_nc == 7) return unrollPixelsOf<7, 7>(s, sample, p0, p1, cols);
  if (s.filter_nr == 9 && s.filter_nc == 9) return unrollPixelsOf<9, 9>(s, sample, p0, p1, cols);
  unrollPixelsOf<0, 0>(s, sample, p0, p1, cols);
}

// dest (num_filters x pixels) = filters (num_filters x window) times the
// transpose of cols (pixels x window): the expression dlib's layer
// evaluates, so that it reaches BLAS with the same arguments.
void multiply(const float* filters, long num_filters, long window, const float* cols, long pixels, float* dest) {
  dlib::set_ptrm(dest, num_filters, pixels) =
      dlib::mat(filters, num_filters, window) * dlib::trans(dlib::mat(cols, pixels, window));
}

}  // namespace

void convolveTiled(const dlib::tensor& data, const float* filters, long num_filters, long filter_nr,
                   long filter_nc, long stride_y, long stride_x, long padding_y, long padding_x,
                   dlib::resizable_tensor& output, size_t scratch_budget) {
  DLIB_CASSERT(stride_y > 0 && stride_x > 0 && num_filters > 0);
  DLIB_CASSERT(filter_nr <= data.nr() + 2 * padding_y && filter_nc <= data.nc() + 2 * padding_x);
  ConvShape s{data.k(), data.nr(), data.nc(), filter_nr, filter_nc, stride_y, stride_x, padding_y, padding_x,
              1 + (data.nr() + 2 * padding_y - filter_nr) / stride_y,
              1 + (data.nc() + 2 * padding_x - filter_nc) / stride_x};
  output.set_size(data.num_samples(), num_filters, s.out_nr, s.out_nc);
  if (output.size() == 0) return;

  const long pixels = s.out_nr * s.out_nc;
  const size_t pixel_floats = static_cast<size_t>(s.window());
  long band = std::max<long>(1, static_cast<long>(scratch_budget / sizeof(float) / pixel_floats));
  band = band >= pixels ? pixels : std::max(kBandQuantum, band / kBandQuantum * kBandQuantum);
  const bool banded = band < pixels;
  const size_t cols_floats = static_cast<size_t>(band) * s.window();
  const size_t band_out_floats = banded ? static_cast<size_t>(band) * num_filters : 0;
  if (t_scratch.size() < cols_floats + band_out_floats) t_scratch.resize(cols_floats + band_out_floats);
  float* cols = t_scratch.data();
  float* band_out = cols + cols_floats;

  const long in_sample = s.channels * s.in_nr * s.in_nc;
  for (long n = 0; n < data.num_samples(); ++n) {
    const float* sample = data.host() + n * in_sample;
    float* out = output.host() + n * num_filters * pixels;
    if (!banded) {
      unrollPixels(s, sample, 0, pixels, cols);
      multiply(filters, num_filters, s.window(), cols, pixels, out);
      continue;
    }
    for (long p0 = 0; p0 < pixels; p0 += band) {
      const long count = std::min(band, pixels - p0);
      unrollPixels(s, sample, p0, p0 + count, cols);
      multiply(filters, num_filters, s.window(), cols, count, band_out);
      for (long f = 0; f < num_filters; ++f)
        std::memcpy(out + f * pixels + p0, band_out + f * count, sizeof(float) * count);
    }
  }
}

void releaseConvScratch() { std::vector<float>().swap(t_scratch); }

}  // namespace morvik
