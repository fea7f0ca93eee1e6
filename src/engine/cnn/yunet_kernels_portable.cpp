// The YuNet kernels in plain C++: sixteen lanes as an array, each
// multiply-add a std::fma, rounded once as the vector instructions round.
#include <cmath>
#include <type_traits>

#include "engine/cnn/yunet_kernels.h"

namespace morvik {
namespace {

struct V {
  struct R {
    float v[kYunetLanes];
  };
  static constexpr int kGroup = 1;
  static constexpr int pointwisePixels(int) { return 4; }
  static constexpr int kFirstPixels = 4;
  static constexpr int kDepthwisePixels = 4;
  static R load(const float* p) {
    R r;
    for (int i = 0; i < kYunetLanes; ++i) r.v[i] = p[i];
    return r;
  }
  static void store(float* p, const R& r) {
    for (int i = 0; i < kYunetLanes; ++i) p[i] = r.v[i];
  }
  static R broadcast(float x) {
    R r;
    for (int i = 0; i < kYunetLanes; ++i) r.v[i] = x;
    return r;
  }
  static R fma(const R& a, const R& b, const R& c) {
    R r;
    for (int i = 0; i < kYunetLanes; ++i) r.v[i] = std::fma(a.v[i], b.v[i], c.v[i]);
    return r;
  }
  static R max(const R& a, const R& b) {
    R r;
    for (int i = 0; i < kYunetLanes; ++i) r.v[i] = a.v[i] > b.v[i] ? a.v[i] : b.v[i];
    return r;
  }
  // As the vector paths' maximum with zero: NaN becomes 0.
  static R relu(const R& a) {
    R r;
    for (int i = 0; i < kYunetLanes; ++i) r.v[i] = a.v[i] > 0.0f ? a.v[i] : 0.0f;
    return r;
  }
};

#include "engine/cnn/yunet_kernel_body.h"

}  // namespace

const YunetKernels* yunetPortableKernels() { return &kKernels; }

}  // namespace morvik
