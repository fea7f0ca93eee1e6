// What the per-instruction-set halves of haar_kernels.h share: the scalar
// arithmetic of one window.
#ifndef MORVIK_HAAR_KERNELS_IMPL_H_
#define MORVIK_HAAR_KERNELS_IMPL_H_

#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/cascade/cascade_skips.h"
#include "engine/cascade/haar_kernels.h"

namespace morvik {
namespace haar_impl {

// OpenCV's a - b - c + d of int sums, wrapping as its int arithmetic does
// in practice on integral images past 2^31.
inline int rectSum(const int* w, const int c[4]) {
  return static_cast<int>(static_cast<uint32_t>(w[c[0]]) - static_cast<uint32_t>(w[c[1]]) -
                          static_cast<uint32_t>(w[c[2]]) + static_cast<uint32_t>(w[c[3]]));
}

// HaarEvaluator::setWindow: true, with the factor, when the window's
// variance lets the stages run.
inline bool varianceFactor(const HaarProgram& p, const int* w, float* factor) {
  const int sum = rectSum(w, p.norm);
  const unsigned sqsum = static_cast<unsigned>(rectSum(w + p.layout.squares, p.norm));
  double nf = p.area * sqsum - static_cast<double>(sum) * sum;
  if (!(nf > 0.)) return false;
  nf = std::sqrt(nf);
  *factor = static_cast<float>(1. / nf);
  return p.area * *factor < 1e-1;
}

inline float featureValue(const HaarStumpCode& s, const int* w, float factor) {
  float v = s.weight[0] * static_cast<float>(rectSum(w, s.corner[0])) +
            s.weight[1] * static_cast<float>(rectSum(w, s.corner[1]));
  if (s.third) v += s.weight[2] * static_cast<float>(rectSum(w, s.corner[2]));
  return v * factor;
}

inline bool passesStage(const HaarProgram& p, const HaarStage& stage, const int* w, float factor) {
  double sum = 0;
  const HaarStumpCode* s = p.stumps.data() + stage.first;
  for (int i = 0; i < stage.count; ++i, ++s) {
    // Picked by index, not by a branch the stumps would mispredict.
    const double leaves[2] = {s->right, s->left};
    sum += leaves[featureValue(*s, w, factor) < s->threshold];
  }
  return !(sum < stage.threshold);
}

#if defined(__AVX2__)
void scanRowAvx2(const HaarProgram& p, const int* sums, int row_origin, int count, std::vector<int>& detected,
                 HaarCounts* counts);
#endif
#if defined(__AVX512F__)
void scanRowAvx512(const HaarProgram& p, const int* sums, int row_origin, int count, std::vector<int>& detected,
                   HaarBacklog& backlog, HaarCounts* counts);
void decideBacklogAvx512(const HaarProgram& p, const int* sums, HaarBacklog& backlog, std::vector<int>& detected,
                         HaarCounts* counts);
#endif

}  // namespace haar_impl
}  // namespace morvik

#endif  // MORVIK_HAAR_KERNELS_IMPL_H_
