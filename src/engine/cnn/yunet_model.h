// The YuNet model: its layer table, the file layout read against it, and
// the weights packed as the kernels read them.
//
// The file (little-endian): "YNWB", u32 version 1, u32 tensor count 106,
// u32 offset of the first tensor's data; then per tensor u16 name length
// and the name, u16 layer index, u8 role (0 weight, 1 bias), u8 flags (1:
// 3 x 3 depthwise, 2: 1 x 1 pointwise, 4: ReLU after), u8 dtype (0:
// float32), u8 dimension count and u32 dimensions, u64 offset (a multiple
// of 64) and u64 element count; then the data. Tensors come in layer
// order, weight before bias. Layer 0 is the first 3 x 3 stride-2
// convolution stored as a pointwise [16][32] (27 taps, 5 zero columns);
// every other layer is half of a block: a pointwise then a depthwise.
#ifndef MORVIK_YUNET_MODEL_H_
#define MORVIK_YUNET_MODEL_H_

#include <array>
#include <vector>

#include "engine/cnn/yunet.h"
#include "engine/cnn/yunet_map.h"

namespace morvik {

// Channels are handled in groups of 16, a vector of AVX-512.
constexpr int kYunetLanes = 16;
// The first convolution: 3 x 3 taps of 3 colours into 16 channels.
constexpr int kYunetFirstTaps = 27;
constexpr int kYunetFirstStored = 32;
constexpr int kYunetFirstChannels = 16;

// A pointwise convolution followed by a depthwise one, with biases, packed:
// pointwise weights as [in][out], depthwise as [tap][channel], every
// output count rounded up to a multiple of 16 with zero weights and biases.
struct YunetBlock {
  int in = 0;
  int out = 0;  // rounded up to 16
  bool relu = false;
  YunetFloats pw, pw_bias, dw, dw_bias;
};

// The blocks in the order they run: the backbone's eleven, then the
// neck's N3, N4 and N5; then one per head level, whose four heads (class,
// box, objectness, five points: 1 + 4 + 1 + 10 = 16 channels) run as one.
enum YunetBlockIndex : int {
  kYunetC3First = 5,  // first block at stride 8
  kYunetC4First = 7,
  kYunetC5First = 9,
  kYunetN3 = 11,
  kYunetN4 = 12,
  kYunetN5 = 13,
  kYunetBlocks = 14,
};
constexpr int kYunetLevels = 3;  // strides 8, 16, 32

// Channels of a level's head output.
enum YunetHeadChannel : int {
  kYunetCls = 0,
  kYunetBox = 1,  // four: dx, dy, log w, log h
  kYunetObj = 5,
  kYunetPoints = 6,  // ten: x, y of five points
};

class YunetNetwork {
 public:
  // [tap j = (ky * 3 + kx) * 3 + colour][channel] and the biases.
  alignas(64) std::array<float, kYunetFirstTaps * kYunetFirstChannels> first{};
  alignas(64) std::array<float, kYunetFirstChannels> first_bias{};
  std::array<YunetBlock, kYunetBlocks> blocks;
  std::array<YunetBlock, kYunetLevels> heads;
};

}  // namespace morvik

#endif  // MORVIK_YUNET_MODEL_H_
