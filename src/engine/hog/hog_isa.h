// Which instructions the HOG scan's kernels run with.
//
// Each kernel has a portable path and an AVX2 path that perform the same
// IEEE operations in the same order, so both give the same bits; tests ask
// for the portable one to check it on machines that would never take it.
#ifndef MORVIK_HOG_ISA_H_
#define MORVIK_HOG_ISA_H_

namespace morvik {

enum class HogIsa { kPortable, kAvx2 };

// AVX2 when this processor has it.
inline HogIsa bestHogIsa() {
  static const HogIsa best = __builtin_cpu_supports("avx2") ? HogIsa::kAvx2 : HogIsa::kPortable;
  return best;
}

}  // namespace morvik

#endif  // MORVIK_HOG_ISA_H_
