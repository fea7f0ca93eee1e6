// The tiled pyramid, built by several threads; see pyramid_input.h.
//
// This file is compiled without fused multiply-adds: dlib's resize rounds
// each product and each sum.
#include "engine/cnn/pyramid_input.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <dlib/simd.h>

#include "engine/parallel.h"

namespace morvik {
namespace {

// Below this many output pixels a level is resized by one thread: starting
// another costs more than it saves.
constexpr long kPixelsPerThread = 60000;
constexpr long kRowsPerTask = 16;

// Zero outside the levels: each row of each plane, wherever no level
// covers it.
void zeroPadding(const std::vector<dlib::rectangle>& levels, dlib::resizable_tensor& data) {
  const long nr = data.nr(), nc = data.nc();
  std::vector<std::pair<long, long>> spans;
  for (long r = 0; r < nr; ++r) {
    spans.clear();
    for (const dlib::rectangle& l : levels)
      if (l.top() <= r && r <= l.bottom()) spans.emplace_back(l.left(), l.right() + 1);
    std::sort(spans.begin(), spans.end());
    for (long k = 0; k < data.k(); ++k) {
      float* row = data.host() + (k * nr + r) * nc;
      long x = 0;
      for (const auto& s : spans) {
        if (s.first > x) std::fill(row + x, row + s.first, 0.0f);
        x = std::max(x, s.second);
      }
      if (x < nc) std::fill(row + x, row + nc, 0.0f);
    }
  }
}

Plane levelPlane(dlib::resizable_tensor& data, long k, const dlib::rectangle& level) {
  float* origin = data.host() + (k * data.nr() + level.top()) * data.nc() + level.left();
  return Plane{origin, static_cast<long>(level.height()), static_cast<long>(level.width()), data.nc()};
}

// Rows [r0, r1) of level 0: the photo's channel k as dlib's input layer
// writes it.
void copyRows(const dlib::matrix<dlib::rgb_pixel>& photo, long k, float mean, const Plane& dst, long r0, long r1) {
  for (long r = r0; r < r1; ++r) {
    float* p = dst.data + r * dst.stride;
    for (long c = 0; c < photo.nc(); ++c) {
      const dlib::rgb_pixel& px = photo(r, c);
      const unsigned char v = k == 0 ? px.red : k == 1 ? px.green : px.blue;
      p[c] = (v - mean) / 256.0;
    }
  }
}

// Runs work(k, r0, r1) over the three planes' rows [0, rows), in tasks of
// kRowsPerTask rows, on up to `threads` threads.
template <typename Work>
void overRows(long rows, int threads, const Work& work) {
  const long per_plane = (rows + kRowsPerTask - 1) / kRowsPerTask;
  parallelFor(3 * per_plane, threads, [&](long task, int) {
    const long k = task / per_plane;
    const long r0 = (task % per_plane) * kRowsPerTask;
    work(k, r0, std::min(rows, r0 + kRowsPerTask));
  });
}

int threadsFor(long pixels) {
  return static_cast<int>(std::clamp<long>(pixels / kPixelsPerThread, 1, callThreads()));
}

}  // namespace

void resizeRows(const Plane& in, const Plane& out, long r0, long r1) {
  if (out.nr == 0 || out.nc == 0 || in.nr == 0 || in.nc == 0) return;
  const double x_scale = (in.nc - 1) / (double)std::max<long>((out.nc - 1), 1);
  const double y_scale = (in.nr - 1) / (double)std::max<long>((out.nr - 1), 1);
  // The row position is a running sum, as in dlib: it is summed the same way
  // up to the first row wanted.
  double y = -y_scale;
  for (long r = 0; r < r0; ++r) y += y_scale;
  for (long r = r0; r < r1; ++r) {
    y += y_scale;
    const long top = static_cast<long>(std::floor(y));
    const long bottom = std::min(top + 1, in.nr - 1);
    const double tb_frac = y - top;
    const float* in_top = in.data + top * in.stride;
    const float* in_bottom = in.data + bottom * in.stride;
    float* out_row = out.data + r * out.stride;
    double x = -4 * x_scale;

    const dlib::simd4f _tb_frac = tb_frac;
    const dlib::simd4f _inv_tb_frac = 1 - tb_frac;
    const dlib::simd4f _x_scale = 4 * x_scale;
    dlib::simd4f _x(x, x + x_scale, x + 2 * x_scale, x + 3 * x_scale);
    long c = 0;
    for (;; c += 4) {
      _x += _x_scale;
      dlib::simd4i left = dlib::simd4i(_x);

      dlib::simd4f _lr_frac = _x - left;
      dlib::simd4f _inv_lr_frac = 1 - _lr_frac;
      dlib::simd4i right = left + 1;

      dlib::simd4f tlf = _inv_tb_frac * _inv_lr_frac;
      dlib::simd4f trf = _inv_tb_frac * _lr_frac;
      dlib::simd4f blf = _tb_frac * _inv_lr_frac;
      dlib::simd4f brf = _tb_frac * _lr_frac;

      dlib::int32 fleft[4];
      dlib::int32 fright[4];
      left.store(fleft);
      right.store(fright);

      // dlib stops on the input side only. Its column positions are summed in
      // float and fall behind on rows wider than about 78000 pixels, so on
      // those the output side ends first: the rest goes to the exact loop
      // below instead of past the end of the row.
      if (fright[3] >= in.nc || c + 4 > out.nc) break;
      dlib::simd4f tl(in_top[fleft[0]], in_top[fleft[1]], in_top[fleft[2]], in_top[fleft[3]]);
      dlib::simd4f tr(in_top[fright[0]], in_top[fright[1]], in_top[fright[2]], in_top[fright[3]]);
      dlib::simd4f bl(in_bottom[fleft[0]], in_bottom[fleft[1]], in_bottom[fleft[2]], in_bottom[fleft[3]]);
      dlib::simd4f br(in_bottom[fright[0]], in_bottom[fright[1]], in_bottom[fright[2]], in_bottom[fright[3]]);

      dlib::simd4f result = dlib::simd4f(tlf * tl + trf * tr + blf * bl + brf * br);
      float fout[4];
      result.store(fout);
      out_row[c] = fout[0];
      out_row[c + 1] = fout[1];
      out_row[c + 2] = fout[2];
      out_row[c + 3] = fout[3];
    }
    x = -x_scale + c * x_scale;
    for (; c < out.nc; ++c) {
      x += x_scale;
      const long left = static_cast<long>(std::floor(x));
      const long right = std::min(left + 1, in.nc - 1);
      const float lr_frac = x - left;
      const float tl = in_top[left], tr = in_top[right], bl = in_bottom[left], br = in_bottom[right];
      const float temp = (1 - tb_frac) * ((1 - lr_frac) * tl + lr_frac * tr) + tb_frac * ((1 - lr_frac) * bl + lr_frac * br);
      out_row[c] = temp;
    }
  }
}

void buildTiledPyramid(const dlib::matrix<dlib::rgb_pixel>& photo, const float means[3],
                       const std::vector<dlib::rectangle>& levels, dlib::resizable_tensor& data) {
  zeroPadding(levels, data);
  if (levels.empty()) return;
  overRows(photo.nr(), threadsFor(photo.size()), [&](long k, long r0, long r1) {
    copyRows(photo, k, means[k], levelPlane(data, k, levels[0]), r0, r1);
  });
  for (size_t i = 1; i < levels.size(); ++i) {
    overRows(levels[i].height(), threadsFor(levels[i].area()), [&](long k, long r0, long r1) {
      resizeRows(levelPlane(data, k, levels[i - 1]), levelPlane(data, k, levels[i]), r0, r1);
    });
  }
}

}  // namespace morvik
