// The YuNet kernels with AVX2: sixteen lanes as two vectors of eight.
// This file alone is compiled for AVX2 and FMA; it runs only where the
// processor has them.
#include <immintrin.h>

#include <type_traits>

#include "engine/cnn/yunet_kernels.h"

namespace morvik {
namespace {

struct V {
  struct R {
    __m256 lo, hi;
  };
  static constexpr int kGroup = 2;
  // Eight of the 16 registers hold sums: enough to keep both multiply-add
  // units busy while each sum waits on its last multiply-add.
  static constexpr int pointwisePixels(int group) { return 4 / group; }
  static constexpr int kFirstPixels = 4;
  static constexpr int kDepthwisePixels = 4;
  static R load(const float* p) { return R{_mm256_loadu_ps(p), _mm256_loadu_ps(p + 8)}; }
  static void store(float* p, const R& r) {
    _mm256_storeu_ps(p, r.lo);
    _mm256_storeu_ps(p + 8, r.hi);
  }
  static R broadcast(float x) {
    const __m256 v = _mm256_set1_ps(x);
    return R{v, v};
  }
  static R fma(const R& a, const R& b, const R& c) {
    return R{_mm256_fmadd_ps(a.lo, b.lo, c.lo), _mm256_fmadd_ps(a.hi, b.hi, c.hi)};
  }
  static R max(const R& a, const R& b) { return R{_mm256_max_ps(a.lo, b.lo), _mm256_max_ps(a.hi, b.hi)}; }
  // The maximum with zero as its second operand: NaN becomes 0.
  static R relu(const R& a) {
    const __m256 zero = _mm256_setzero_ps();
    return R{_mm256_max_ps(a.lo, zero), _mm256_max_ps(a.hi, zero)};
  }
};

#include "engine/cnn/yunet_kernel_body.h"

}  // namespace

const YunetKernels* yunetAvx2Kernels() { return &kKernels; }

}  // namespace morvik
