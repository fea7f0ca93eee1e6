// Reading a YuNet model file against the layer table; see yunet_model.h.
#include "engine/cnn/yunet_model.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "morvik/morvik.h"

namespace morvik {
namespace {

constexpr char kMagic[4] = {'Y', 'N', 'W', 'B'};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kLayers = 53;
constexpr uint32_t kTensors = 2 * kLayers;
constexpr uint64_t kAlignment = 64;
constexpr size_t kMaxDims = 4;
constexpr uint8_t kFlagDepthwise = 1, kFlagPointwise = 2, kFlagRelu = 4;
constexpr uint8_t kRoleWeight = 0, kRoleBias = 1;
constexpr uint8_t kFloat32 = 0;

// What the file must say about one layer.
struct LayerSpec {
  std::string name;  // without the role's suffix
  uint8_t flags;
  int channels_in, channels_out;  // a depthwise layer's are equal
};

struct BlockShape {
  std::string name;
  int in, out;
  bool relu;
};

std::vector<BlockShape> blockShapes() {
  std::vector<BlockShape> shapes = {
      {"backbone__model0_dp", 16, 16, true},   {"backbone__model1_dp1", 16, 16, true},
      {"backbone__model1_dp2", 16, 32, true},  {"backbone__model2_dp1", 32, 32, true},
      {"backbone__model2_dp2", 32, 64, true},  {"backbone__model3_dp1", 64, 64, true},
      {"backbone__model3_dp2", 64, 64, true},  {"backbone__model4_dp1", 64, 64, true},
      {"backbone__model4_dp2", 64, 64, true},  {"backbone__model5_dp1", 64, 64, true},
      {"backbone__model5_dp2", 64, 64, true},  {"neck__lateral_convs__0", 64, 64, true},
      {"neck__lateral_convs__1", 64, 64, true}, {"neck__lateral_convs__2", 64, 64, true},
  };
  const std::pair<const char*, int> heads[] = {{"cls", 1}, {"bbox", 4}, {"obj", 1}, {"kps", 10}};
  for (const auto& head : heads)
    for (int level = 0; level < kYunetLevels; ++level)
      shapes.push_back({std::string("bbox_head__multi_level_") + head.first + "__" + std::to_string(level), 64,
                       head.second, false});
  return shapes;
}

const std::vector<LayerSpec>& layerTable() {
  static const std::vector<LayerSpec> table = [] {
    std::vector<LayerSpec> layers = {
        {"backbone__model0_pw", kFlagPointwise | kFlagRelu, kYunetFirstStored, kYunetFirstChannels}};
    for (const BlockShape& b : blockShapes()) {
      layers.push_back({b.name + "_pw", kFlagPointwise, b.in, b.out});
      layers.push_back({b.name + "_dw", static_cast<uint8_t>(kFlagDepthwise | (b.relu ? kFlagRelu : 0)), b.out,
                        b.out});
    }
    return layers;
  }();
  return table;
}

// Little-endian fields read with bounds checks; a read past the end
// fails the reader, which then reads zeros.
class Reader {
 public:
  Reader(const unsigned char* bytes, size_t size) : bytes_(bytes), size_(size) {}
  bool ok() const { return ok_; }
  size_t position() const { return pos_; }
  uint64_t take(size_t width) {
    if (!ok_ || size_ - pos_ < width) {
      ok_ = false;
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v |= static_cast<uint64_t>(bytes_[pos_ + i]) << (8 * i);
    pos_ += width;
    return v;
  }
  std::string text(size_t length) {
    if (!ok_ || size_ - pos_ < length) {
      ok_ = false;
      return std::string();
    }
    std::string s(reinterpret_cast<const char*>(bytes_ + pos_), length);
    pos_ += length;
    return s;
  }

 private:
  const unsigned char* bytes_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

struct Tensor {
  uint64_t offset = 0, count = 0;
};

std::vector<uint32_t> expectedDims(const LayerSpec& layer, uint8_t role) {
  if (role == kRoleBias) return {static_cast<uint32_t>(layer.channels_out)};
  if (layer.flags & kFlagDepthwise) return {3, 3, static_cast<uint32_t>(layer.channels_out)};
  return {static_cast<uint32_t>(layer.channels_out), static_cast<uint32_t>(layer.channels_in)};
}

// Reads the record of tensor t and checks it against the table.
bool readRecord(Reader& in, uint32_t t, Tensor& tensor) {
  const LayerSpec& layer = layerTable()[t / 2];
  const uint8_t role = static_cast<uint8_t>(t % 2);
  const std::string name = in.text(in.take(2));
  const uint64_t index = in.take(2);
  const uint64_t file_role = in.take(1), flags = in.take(1), dtype = in.take(1), rank = in.take(1);
  if (!in.ok() || name != layer.name + (role == kRoleWeight ? "_weight" : "_bias") || index != t / 2 ||
      file_role != role || flags != layer.flags || dtype != kFloat32 || rank > kMaxDims)
    return false;
  const std::vector<uint32_t> dims = expectedDims(layer, role);
  if (rank != dims.size()) return false;
  uint64_t elements = 1;
  for (uint32_t d : dims) {
    if (in.take(4) != d) return false;
    elements *= d;
  }
  tensor.offset = in.take(8);
  tensor.count = in.take(8);
  return in.ok() && tensor.count == elements;
}

uint64_t alignUp(uint64_t n) { return (n + kAlignment - 1) / kAlignment * kAlignment; }

// Reads every record and checks that the data lie one after the other
// from the declared start, each at the next multiple of 64, the last
// ending within the file's final 64 bytes.
bool readLayout(const unsigned char* bytes, size_t size, std::vector<Tensor>& tensors) {
  Reader in(bytes, size);
  if (in.text(4) != std::string(kMagic, 4) || in.take(4) != kVersion || in.take(4) != kTensors) return false;
  const uint64_t data_start = in.take(4);
  tensors.resize(kTensors);
  for (uint32_t t = 0; t < kTensors; ++t)
    if (!readRecord(in, t, tensors[t])) return false;
  if (data_start % kAlignment != 0 || data_start < in.position()) return false;
  uint64_t next = data_start;
  for (const Tensor& tensor : tensors) {
    if (tensor.offset != next || tensor.offset > size || (size - tensor.offset) / sizeof(float) < tensor.count)
      return false;
    next = alignUp(tensor.offset + tensor.count * sizeof(float));
  }
  return alignUp(size) == next;
}

// The values of a tensor; false when one is not finite.
bool values(const unsigned char* bytes, const Tensor& tensor, std::vector<float>& out) {
  out.resize(tensor.count);
  std::memcpy(out.data(), bytes + tensor.offset, tensor.count * sizeof(float));
  for (float v : out)
    if (!std::isfinite(v)) return false;
  return true;
}

// Packs the pointwise layer's [out][in] weights as [in][out_padded] at
// column `first` of `pack`, and its biases likewise.
void packPointwise(const std::vector<float>& w, const std::vector<float>& b, int in, int out, int padded,
                   int first, YunetBlock& block) {
  for (int o = 0; o < out; ++o) {
    for (int i = 0; i < in; ++i) block.pw[i * padded + first + o] = w[o * in + i];
    block.pw_bias[first + o] = b[o];
  }
}

void packDepthwise(const std::vector<float>& w, const std::vector<float>& b, int channels, int padded,
                   int first, YunetBlock& block) {
  for (int tap = 0; tap < 9; ++tap)
    for (int c = 0; c < channels; ++c) block.dw[tap * padded + first + c] = w[tap * channels + c];
  for (int c = 0; c < channels; ++c) block.dw_bias[first + c] = b[c];
}

void shapeBlock(YunetBlock& block, int in, int out, bool relu) {
  block.in = in;
  block.out = (out + kYunetLanes - 1) / kYunetLanes * kYunetLanes;
  block.relu = relu;
  block.pw.assign(static_cast<size_t>(in) * block.out, 0.0f);
  block.pw_bias.assign(block.out, 0.0f);
  block.dw.assign(static_cast<size_t>(9) * block.out, 0.0f);
  block.dw_bias.assign(block.out, 0.0f);
}

// The head channels' first index for each head, in the table's order.
constexpr int kHeadFirst[4] = {kYunetCls, kYunetBox, kYunetObj, kYunetPoints};

bool pack(const unsigned char* bytes, const std::vector<Tensor>& tensors, YunetNetwork& net) {
  std::vector<float> w, b;
  if (!values(bytes, tensors[0], w) || !values(bytes, tensors[1], b)) return false;
  for (int o = 0; o < kYunetFirstChannels; ++o) {
    for (int j = 0; j < kYunetFirstStored; ++j) {
      const float v = w[o * kYunetFirstStored + j];
      if (j >= kYunetFirstTaps) {
        if (v != 0.0f) return false;  // the unused columns are zero in the network's own file
      } else {
        net.first[j * kYunetFirstChannels + o] = v;
      }
    }
    net.first_bias[o] = b[o];
  }
  const std::vector<BlockShape> shapes = blockShapes();
  for (int i = 0; i < kYunetLevels; ++i) shapeBlock(net.heads[i], 64, kYunetLanes, false);
  std::vector<float> dw, dwb;
  for (size_t s = 0; s < shapes.size(); ++s) {
    const size_t t = 2 + 4 * s;
    if (!values(bytes, tensors[t], w) || !values(bytes, tensors[t + 1], b) || !values(bytes, tensors[t + 2], dw) ||
        !values(bytes, tensors[t + 3], dwb))
      return false;
    const BlockShape& wanted = shapes[s];
    int first = 0;
    YunetBlock* block;
    if (s < kYunetBlocks) {
      block = &net.blocks[s];
      shapeBlock(*block, wanted.in, wanted.out, wanted.relu);
    } else {
      const size_t head = (s - kYunetBlocks) / kYunetLevels, level = (s - kYunetBlocks) % kYunetLevels;
      block = &net.heads[level];
      first = kHeadFirst[head];
    }
    packPointwise(w, b, wanted.in, wanted.out, block->out, first, *block);
    packDepthwise(dw, dwb, wanted.out, block->out, first, *block);
  }
  return true;
}

}  // namespace

int parseYunetModel(const unsigned char* bytes, size_t size, std::shared_ptr<const YunetNetwork>& out) {
  if (bytes == nullptr) return MV_LOAD_CASCADE;
  std::vector<Tensor> tensors;
  if (!readLayout(bytes, size, tensors)) return MV_LOAD_CASCADE;
  auto net = std::make_shared<YunetNetwork>();
  if (!pack(bytes, tensors, *net)) return MV_LOAD_CASCADE;
  out = std::move(net);
  return MV_OK;
}

}  // namespace morvik
