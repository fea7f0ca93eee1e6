// Pooling as dlib pools; see pooling.h.
#include "engine/cnn/pooling.h"

#include <algorithm>

namespace morvik {
namespace {

// The part of window (r, c) that lies on the plane, as dlib places it: a
// rectangle of window_nr x window_nc centred on the window's anchor, then
// clipped.
struct Window {
  long top, bottom, left, right;  // inclusive
};

struct Geometry {
  long window_nr, window_nc, stride_y, stride_x, padding_y, padding_x;
  long in_nr, in_nc, out_nr, out_nc;

  Window at(long r, long c) const {
    const long y = r * stride_y + window_nr / 2 - padding_y;
    const long x = c * stride_x + window_nc / 2 - padding_x;
    Window w;
    w.top = std::max(0L, y - window_nr / 2);
    w.left = std::max(0L, x - window_nc / 2);
    w.bottom = std::min(in_nr - 1, y - window_nr / 2 + window_nr - 1);
    w.right = std::min(in_nc - 1, x - window_nc / 2 + window_nc - 1);
    return w;
  }
};

bool setUp(const dlib::tensor& src, long window_nr, long window_nc, long stride_y, long stride_x, long padding_y,
           long padding_x, Geometry& g) {
  if (window_nr <= 0 || window_nc <= 0 || stride_y <= 0 || stride_x <= 0 || padding_y < 0 || padding_x < 0 ||
      padding_y >= window_nr || padding_x >= window_nc)
    return false;
  if (window_nr > src.nr() + 2 * padding_y || window_nc > src.nc() + 2 * padding_x) return false;
  g = Geometry{window_nr, window_nc, stride_y, stride_x, padding_y, padding_x, src.nr(), src.nc(), 0, 0};
  g.out_nr = 1 + (src.nr() + 2 * padding_y - window_nr) / stride_y;
  g.out_nc = 1 + (src.nc() + 2 * padding_x - window_nc) / stride_x;
  return true;
}

// Runs pool(plane, window) for every output of every plane.
template <typename Pool>
bool poolPlanes(const dlib::tensor& src, const Geometry& g, dlib::resizable_tensor& dest, const Pool& pool) {
  dest.set_size(src.num_samples(), src.k(), g.out_nr, g.out_nc);
  if (src.size() == 0) {
    dest = 0;
    return true;
  }
  // Every window must hold a value; dlib never places an empty one, but
  // the maximum of nothing would read outside the plane.
  for (long r = 0; r < g.out_nr; ++r) {
    const Window w = g.at(r, 0);
    const Window last = g.at(r, g.out_nc - 1);
    if (w.top > w.bottom || w.left > w.right || last.left > last.right) return false;
  }
  const long planes = src.num_samples() * src.k();
  const long in_plane = g.in_nr * g.in_nc;
  const float* in = src.host();
  float* out = dest.host();
  // Without padding every window lies whole on the plane (the descriptor
  // network's case): its corner moves by the strides alone.
  const bool whole = g.padding_y == 0 && g.padding_x == 0;
  for (long p = 0; p < planes; ++p, in += in_plane) {
    for (long r = 0; r < g.out_nr; ++r) {
      if (whole) {
        Window w{r * g.stride_y, r * g.stride_y + g.window_nr - 1, 0, g.window_nc - 1};
        for (long c = 0; c < g.out_nc; ++c, w.left += g.stride_x, w.right += g.stride_x)
          *out++ = pool(in, w, g.in_nc);
      } else {
        for (long c = 0; c < g.out_nc; ++c) *out++ = pool(in, g.at(r, c), g.in_nc);
      }
    }
  }
  return true;
}

}  // namespace

bool maxPool(const dlib::tensor& src, long window_nr, long window_nc, long stride_y, long stride_x, long padding_y,
             long padding_x, dlib::resizable_tensor& dest) {
  Geometry g;
  if (!setUp(src, window_nr, window_nc, stride_y, stride_x, padding_y, padding_x, g)) return false;
  return poolPlanes(src, g, dest, [](const float* plane, const Window& w, long nc) {
    // The first value, then any that is greater: equal values (0 and -0)
    // keep the first.
    float best = plane[w.top * nc + w.left];
    for (long y = w.top; y <= w.bottom; ++y)
      for (long x = w.left; x <= w.right; ++x)
        if (plane[y * nc + x] > best) best = plane[y * nc + x];
    return best;
  });
}

bool avgPool(const dlib::tensor& src, long window_nr, long window_nc, long stride_y, long stride_x, long padding_y,
             long padding_x, dlib::resizable_tensor& dest) {
  Geometry g;
  if (!setUp(src, window_nr, window_nc, stride_y, stride_x, padding_y, padding_x, g)) return false;
  return poolPlanes(src, g, dest, [](const float* plane, const Window& w, long nc) {
    float sum = 0;
    for (long y = w.top; y <= w.bottom; ++y)
      for (long x = w.left; x <= w.right; ++x) sum += plane[y * nc + x];
    // dlib divides the float sum by the (long) count of values.
    return sum / ((w.bottom - w.top + 1) * (w.right - w.left + 1));
  });
}

}  // namespace morvik
