// The shortcut sum with its relu; see fused_epilogue.h.
#include "engine/cnn/fused_epilogue.h"

#include <algorithm>

namespace morvik {
namespace {

// dlib's relu of one value: NaN and negatives give 0, -0 stays.
inline float relu(float v) { return v >= 0.0f ? v : 0.0f; }

void addPlane(const float* x, const float* y, size_t n, bool clamp, float* out) {
  if (clamp) {
    for (size_t i = 0; i < n; ++i) out[i] = relu(x[i] + y[i]);
  } else {
    for (size_t i = 0; i < n; ++i) out[i] = x[i] + y[i];
  }
}

// A channel only one tensor has: dlib adds it to 0, which turns -0 into 0.
void addToZero(const float* x, size_t n, bool clamp, float* out) {
  for (size_t i = 0; i < n; ++i) {
    const float v = 0.0f + x[i];
    out[i] = clamp ? relu(v) : v;
  }
}

}  // namespace

bool addAndRelu(const dlib::tensor& a, const dlib::tensor& b, bool relu, dlib::resizable_tensor& output) {
  if (a.num_samples() != b.num_samples() || a.nr() != b.nr() || a.nc() != b.nc()) return false;
  const long channels = std::max(a.k(), b.k());
  output.set_size(a.num_samples(), channels, a.nr(), a.nc());
  const size_t plane = static_cast<size_t>(a.nr() * a.nc());
  float* out = output.host();
  for (long n = 0; n < a.num_samples(); ++n) {
    const float* x = a.host() + n * a.k() * plane;
    const float* y = b.host() + n * b.k() * plane;
    for (long k = 0; k < channels; ++k, out += plane) {
      if (k < a.k() && k < b.k())
        addPlane(x + k * plane, y + k * plane, plane, relu, out);
      else
        addToZero(k < a.k() ? x + k * plane : y + k * plane, plane, relu, out);
    }
  }
  return true;
}

}  // namespace morvik
