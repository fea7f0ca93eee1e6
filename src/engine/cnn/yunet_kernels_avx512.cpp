// The YuNet kernels with AVX-512: sixteen lanes are one vector. This file
// alone is compiled for AVX-512F; it runs only where the processor has it.
// GCC 12 takes the undefined upper halves inside its own AVX-512
// intrinsics for uninitialised variables (its bug 105593); the pragma must
// come before anything includes them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include <type_traits>

#include "engine/cnn/yunet_kernels.h"

namespace morvik {
namespace {

struct V {
  using R = __m512;
  static constexpr int kGroup = 4;
  // 16 of the 32 registers hold sums (8 in the depthwise layers, whose
  // nine weights stay in registers too).
  static constexpr int pointwisePixels(int group) { return 16 / group; }
  static constexpr int kFirstPixels = 16;
  static constexpr int kDepthwisePixels = 8;
  static R load(const float* p) { return _mm512_loadu_ps(p); }
  static void store(float* p, R r) { _mm512_storeu_ps(p, r); }
  static R broadcast(float x) { return _mm512_set1_ps(x); }
  static R fma(R a, R b, R c) { return _mm512_fmadd_ps(a, b, c); }
  static R max(R a, R b) { return _mm512_max_ps(a, b); }
  // The maximum with zero as its second operand: NaN becomes 0.
  static R relu(R a) { return _mm512_max_ps(a, _mm512_setzero_ps()); }
};

#include "engine/cnn/yunet_kernel_body.h"

}  // namespace

const YunetKernels* yunetAvx512Kernels() { return &kKernels; }

}  // namespace morvik
