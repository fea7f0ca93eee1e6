// The YuNet model file's reader: the network's own file is read; every
// damage to it (a cut, a changed field of the header or of any tensor's
// record, misplaced data, a weight that is not finite) is refused with the
// model-load code, leaving the caller's network alone.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "engine/cnn/yunet.h"
#include "morvik/config.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Where one tensor record's fields lie in the file.
struct Record {
  size_t start, name, index, role, flags, dtype, rank, dims, offset, count;
  uint64_t data_offset, elements;
};

uint64_t readLe(const Bytes& b, size_t at, size_t width) {
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) v |= static_cast<uint64_t>(b[at + i]) << (8 * i);
  return v;
}

void writeLe(Bytes& b, size_t at, size_t width, uint64_t v) {
  for (size_t i = 0; i < width; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

std::vector<Record> records(const Bytes& b) {
  std::vector<Record> out;
  size_t p = 16;
  for (uint64_t t = 0; t < readLe(b, 8, 4); ++t) {
    Record r{};
    r.start = p;
    r.name = p + 2;
    p = r.name + readLe(b, p, 2);
    r.index = p;
    r.role = p + 2;
    r.flags = p + 3;
    r.dtype = p + 4;
    r.rank = p + 5;
    r.dims = p + 6;
    p = r.dims + 4 * readLe(b, r.rank, 1);
    r.offset = p;
    r.count = p + 8;
    r.data_offset = readLe(b, r.offset, 8);
    r.elements = readLe(b, r.count, 8);
    p += 16;
    out.push_back(r);
  }
  return out;
}

class YunetModel : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<char> file = testing_support::fileBytes(g_config.yunet_path);
    bytes_.assign(file.begin(), file.end());
    ASSERT_EQ(bytes_.size(), 221120u) << g_config.yunet_path;
    records_ = records(bytes_);
    ASSERT_EQ(records_.size(), 106u);
  }

  static int parse(const Bytes& b) {
    std::shared_ptr<const morvik::YunetNetwork> net;
    const int rc = morvik::parseYunetModel(b.data(), b.size(), net);
    EXPECT_EQ(rc == 0, net != nullptr);
    return rc;
  }

  void setFloat(Bytes& b, const Record& r, uint64_t element, float value) const {
    std::memcpy(b.data() + r.data_offset + 4 * element, &value, sizeof(value));
  }

  Bytes bytes_;
  std::vector<Record> records_;
};

TEST_F(YunetModel, ReadsTheNetworksFile) {
  std::shared_ptr<const morvik::YunetNetwork> net;
  ASSERT_EQ(morvik::parseYunetModel(bytes_.data(), bytes_.size(), net), MV_OK);
  EXPECT_NE(net, nullptr);
}

TEST_F(YunetModel, RefusesCutFiles) {
  std::shared_ptr<const morvik::YunetNetwork> none;
  EXPECT_EQ(morvik::parseYunetModel(nullptr, 0, none), MV_LOAD_CASCADE);
  const size_t last_end = records_.back().data_offset + 4 * records_.back().elements;
  for (size_t size : {size_t{0}, size_t{3}, size_t{15}, size_t{16}, size_t{100}, records_.back().start,
                      records_[0].data_offset, records_[50].data_offset + 4, last_end - 1})
    EXPECT_EQ(parse(Bytes(bytes_.begin(), bytes_.begin() + static_cast<long>(size))), MV_LOAD_CASCADE) << size;
  // The data end within the last 64 bytes: a file cut to that end is read.
  EXPECT_EQ(parse(Bytes(bytes_.begin(), bytes_.begin() + static_cast<long>(last_end))), MV_OK);
}

TEST_F(YunetModel, RefusesExtraBytes) {
  Bytes longer = bytes_;
  longer.resize(bytes_.size() + 64, 0);
  EXPECT_EQ(parse(longer), MV_LOAD_CASCADE);
}

// Every byte of the header and of the records is checked: changing any of
// them is refused.
TEST_F(YunetModel, RefusesAnyChangedHeaderOrRecordByte) {
  const size_t end = records_.back().count + 8;
  Bytes changed = bytes_;
  for (size_t at = 0; at < end; ++at) {
    for (unsigned char flip : {0x01, 0x80}) {
      changed[at] ^= flip;
      EXPECT_EQ(parse(changed), MV_LOAD_CASCADE) << "byte " << at << " ^ " << int(flip);
      changed[at] ^= flip;
    }
  }
}

TEST_F(YunetModel, RefusesWrongFields) {
  struct Change {
    const char* what;
    size_t at, width;
    uint64_t value;
  };
  const Record& pw = records_[22];  // a pointwise weight of 64 x 64
  const Record& dw = records_[24];  // a depthwise weight of 3 x 3 x 64
  const Change changes[] = {
      {"version", 4, 4, 2},
      {"tensor count", 8, 4, 105},
      {"data start unaligned", 12, 4, records_[0].data_offset + 4},
      {"data start inside the records", 12, 4, 64},
      {"layer index", pw.index, 2, 12},
      {"role", pw.role, 1, 1},
      {"flags without pointwise", pw.flags, 1, 0},
      {"ReLU on a pointwise", pw.flags, 1, 6},
      {"ReLU missing on a depthwise", dw.flags, 1, 1},
      {"dtype", pw.dtype, 1, 1},
      {"rank", pw.rank, 1, 3},
      {"outputs", pw.dims, 4, 32},
      {"inputs", pw.dims + 4, 4, 16},
      {"kernel", dw.dims, 4, 5},
      {"element count", pw.count, 8, 4095},
      {"huge element count", pw.count, 8, uint64_t{1} << 62},
      {"offset unaligned", pw.offset, 8, pw.data_offset + 4},
      {"offset beyond the file", pw.offset, 8, uint64_t{1} << 40},
      {"overlapping data", pw.offset, 8, records_[21].data_offset},
      {"data out of order", pw.offset, 8, records_[40].data_offset},
  };
  for (const Change& c : changes) {
    Bytes changed = bytes_;
    writeLe(changed, c.at, c.width, c.value);
    EXPECT_EQ(parse(changed), MV_LOAD_CASCADE) << c.what;
  }
}

TEST_F(YunetModel, RefusesWeightsThatAreNotFinite) {
  const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                       -std::numeric_limits<float>::infinity()};
  for (size_t t : {size_t{0}, size_t{1}, size_t{22}, size_t{24}, size_t{105}}) {
    for (float value : bad) {
      Bytes changed = bytes_;
      setFloat(changed, records_[t], records_[t].elements - 1, value);
      EXPECT_EQ(parse(changed), MV_LOAD_CASCADE) << "tensor " << t;
    }
  }
}

// The first layer's taps 27 to 31 are zeros in the network's file; values
// there would belong to another network.
TEST_F(YunetModel, RefusesValuesInTheFirstLayersUnusedColumns) {
  Bytes changed = bytes_;
  setFloat(changed, records_[0], 5 * 32 + 29, 0.5f);
  EXPECT_EQ(parse(changed), MV_LOAD_CASCADE);
  // A finite change of a used weight is still a network.
  changed = bytes_;
  setFloat(changed, records_[0], 5 * 32 + 26, 0.5f);
  EXPECT_EQ(parse(changed), MV_OK);
}

}  // namespace
