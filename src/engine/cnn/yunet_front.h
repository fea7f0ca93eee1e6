// The YuNet network's front, from the image to C3 (stride 8), computed a
// row at a time.
//
// The layers at strides 2 and 4 hold most of the network's work and its
// largest maps (16 to 64 channels at a quarter and a sixteenth of the
// image's pixels). Whole maps would go back and forth between the cores
// and memory at every layer; here each layer keeps only the few rows its
// next layer still reads, in rings that stay in the core's caches, and a
// row is computed when the layer after it asks for it. Horizontal bands of
// C3 go to the helper threads, each band computing the rows above and
// below it that its windows reach: every value is computed the same way
// in any band, so the result does not depend on the number of bands.
#ifndef MORVIK_YUNET_FRONT_H_
#define MORVIK_YUNET_FRONT_H_

#include <vector>

#include <opencv2/core.hpp>

#include "engine/cnn/yunet_kernels.h"
#include "engine/cnn/yunet_map.h"

namespace morvik {

// Computes C3 of the BGR image padded with zeros to hp x wp (multiples of
// 32) into c3, shaped here (hp / 8 x wp / 8 x 64), in `bands` bands on at
// most `threads` threads. rings[worker] is each thread's ring memory,
// kept by the caller between calls.
void runYunetFront(const YunetNetwork& net, const YunetKernels& kernels, const cv::Mat& bgr, long hp, long wp,
                   long bands, int threads, std::vector<YunetFloats>& rings, YunetMap& c3);

}  // namespace morvik

#endif  // MORVIK_YUNET_FRONT_H_
