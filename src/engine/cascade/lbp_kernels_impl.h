// What the per-instruction-set halves of lbp_kernels.h share: the scalar
// arithmetic of one window.
#ifndef MORVIK_LBP_KERNELS_IMPL_H_
#define MORVIK_LBP_KERNELS_IMPL_H_

#include <cstdint>
#include <vector>

#include "engine/cascade/lbp_kernels.h"

namespace morvik {
namespace lbp_impl {

// OpenCV's p[a] - p[b] - p[c] + p[d] in int, wrapping as its int
// arithmetic does in practice on integral images past 2^31.
inline int cellSum(const int* w, const int* corner, int a, int b, int c, int d) {
  return static_cast<int>(static_cast<uint32_t>(w[corner[a]]) - static_cast<uint32_t>(w[corner[b]]) -
                          static_cast<uint32_t>(w[corner[c]]) + static_cast<uint32_t>(w[corner[d]]));
}

// LBPEvaluator::OptFeature::calc.
inline int lbpCode(const LbpStumpCode& s, const int* w) {
  const int* o = s.corner;
  const int centre = cellSum(w, o, 5, 6, 9, 10);
  return (cellSum(w, o, 0, 1, 4, 5) >= centre ? 128 : 0) | (cellSum(w, o, 1, 2, 5, 6) >= centre ? 64 : 0) |
         (cellSum(w, o, 2, 3, 6, 7) >= centre ? 32 : 0) | (cellSum(w, o, 6, 7, 10, 11) >= centre ? 16 : 0) |
         (cellSum(w, o, 10, 11, 14, 15) >= centre ? 8 : 0) | (cellSum(w, o, 9, 10, 13, 14) >= centre ? 4 : 0) |
         (cellSum(w, o, 8, 9, 12, 13) >= centre ? 2 : 0) | (cellSum(w, o, 4, 5, 8, 9) >= centre ? 1 : 0);
}

inline bool passesStage(const LbpProgram& p, const LbpStage& stage, const int* w) {
  double sum = 0;
  const LbpStumpCode* s = p.stumps.data() + stage.first;
  for (int i = 0; i < stage.count; ++i, ++s) {
    const int code = lbpCode(*s, w);
    sum += (s->subset[code >> 5] >> (code & 31)) & 1u ? s->left : s->right;
  }
  return !(sum < stage.threshold);
}

#if defined(__AVX2__)
void scanRowAvx2(const LbpProgram& p, const int* sums, int row_origin, int count, std::vector<int>& detected,
                 LbpCounts* counts);
#endif
#if defined(__AVX512F__)
void scanRowAvx512(const LbpProgram& p, const int* sums, int row_origin, int count, std::vector<int>& detected,
                   LbpCounts* counts);
#endif

}  // namespace lbp_impl
}  // namespace morvik

#endif  // MORVIK_LBP_KERNELS_IMPL_H_
