// The YuNet network's convolutions, one row of output at a time, on maps
// stored pixel by pixel with the channels innermost.
//
// Every output is one chain of fused multiply-adds starting from its bias:
// the first convolution over its 27 taps in the file's order, a pointwise
// layer over its input channels in order, a depthwise layer over its nine
// taps row by row. The portable kernels, AVX2's and AVX-512's follow the
// same chains, so they give the same bits; only how many outputs are in
// flight at once differs.
#ifndef MORVIK_YUNET_KERNELS_H_
#define MORVIK_YUNET_KERNELS_H_

#include "engine/cnn/yunet.h"
#include "engine/cnn/yunet_model.h"

namespace morvik {

struct YunetKernels {
  // The first convolution with its ReLU: out_w pixels of 16 channels from
  // three rows of the float image (3 colours a pixel), each pointing at
  // column -1 (a zero), rows 2y - 1, 2y and 2y + 1 for output row y.
  void (*first)(const float* const rows[3], long out_w, const YunetNetwork& net, float* out);
  // A block's pointwise layer on `pixels` pixels of block.in channels,
  // writing block.out channels each.
  void (*pointwise)(const float* in, long pixels, const YunetBlock& block, float* out);
  // A block's depthwise layer (with its ReLU if it has one) on one row:
  // rows y - 1, y, y + 1 of block.out channels, each pointing at column -1
  // of a row whose columns -1 and width are zeros.
  void (*depthwise)(const float* const rows[3], long width, const YunetBlock& block, float* out);
  // 2 x 2 max pooling of rows a and b (2 * out_w pixels of `channels`)
  // into out_w pixels.
  void (*pool)(const float* a, const float* b, long out_w, int channels, float* out);
};

// The kernels of an instruction set; null when the build has none for it.
const YunetKernels* yunetPortableKernels();
const YunetKernels* yunetAvx2Kernels();
const YunetKernels* yunetAvx512Kernels();

}  // namespace morvik

#endif  // MORVIK_YUNET_KERNELS_H_
