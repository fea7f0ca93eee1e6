// The landmark model's parts in dlib's serialization format, read straight
// from memory. The format, as dlib writes it:
//   integer:  a control byte (bit 7: negative; low 4 bits: byte count, 1 to
//             the integer's size), then the magnitude, low byte first;
//   float:    mantissa (64-bit integer) and exponent (16-bit integer), the
//             value being mantissa * 2^exponent, with reserved exponents
//             for infinities and NaN (dlib::float_details);
//   vector:   element count (unsigned), then the elements;
//   column:   -rows and -1 (older writers: rows and 1), then the values;
//   model:    version 1, initial shape (column), forests (vector of vectors
//             of trees: splits (idx1, idx2, threshold), leaf values
//             (columns)), anchor indices, deltas (pairs of floats).
#include "landmark_model_reader.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include <dlib/float_details.h>
#include <dlib/image_processing/shape_predictor.h>

namespace morvik {
namespace {

// dlib keeps a model's parts private and fills them only in its own
// reader. An explicit instantiation is the one place C++ lets a private
// member be named from outside; this one hands out a pointer to it.
template <typename Tag, typename Tag::type Member>
struct PrivateMember {
  friend typename Tag::type memberOf(Tag) { return Member; }
};

struct InitialShape {
  using type = dlib::matrix<float, 0, 1> dlib::shape_predictor::*;
  friend type memberOf(InitialShape);
};
struct Forests {
  using type = std::vector<std::vector<dlib::impl::regression_tree>> dlib::shape_predictor::*;
  friend type memberOf(Forests);
};
struct AnchorIndices {
  using type = std::vector<std::vector<unsigned long>> dlib::shape_predictor::*;
  friend type memberOf(AnchorIndices);
};
struct Deltas {
  using type = std::vector<std::vector<dlib::vector<float, 2>>> dlib::shape_predictor::*;
  friend type memberOf(Deltas);
};

template struct PrivateMember<InitialShape, &dlib::shape_predictor::initial_shape>;
template struct PrivateMember<Forests, &dlib::shape_predictor::forests>;
template struct PrivateMember<AnchorIndices, &dlib::shape_predictor::anchor_idx>;
template struct PrivateMember<Deltas, &dlib::shape_predictor::deltas>;

// dlib's value of a float: std::ldexp(float(mantissa), exponent), or an
// infinity or NaN for its reserved exponents. A normal result is exact, so
// it is made here by adding to the exponent bits; ldexp, a library call,
// takes the rest (zero, subnormals, overflow, the reserved exponents).
float toFloat(dlib::int64 mantissa, dlib::int16 exponent) {
  const float x = static_cast<float>(mantissa);
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  const int biased = static_cast<int>((bits >> 23) & 0xFF) + exponent;
  if (x != 0.0f && biased >= 1 && biased <= 254) {
    bits += static_cast<uint32_t>(exponent) << 23;
    float scaled;
    std::memcpy(&scaled, &bits, sizeof scaled);
    return scaled;
  }
  return static_cast<float>(dlib::float_details(mantissa, exponent));
}

// Values in dlib's format from a run of bytes. The first fault stops it:
// ok() turns false and every later read returns 0 without moving.
class Reader {
 public:
  Reader(const char* data, size_t size)
      : at_(reinterpret_cast<const unsigned char*>(data)), end_(at_ + size) {}

  bool ok() const { return ok_; }
  void stop() { ok_ = false; }
  size_t left() const { return static_cast<size_t>(end_ - at_); }

  template <typename T>
  T signedInt() {
    static_assert(std::numeric_limits<T>::is_signed && sizeof(T) <= 8, "a signed integer");
    if (!ok_ || at_ == end_) return fail<T>();
    const unsigned char control = *at_;
    // Bits 4-6 are reserved; dlib ignores them in an integer.
    const uint64_t magnitude = bytes(control & 0x0F, sizeof(T));
    if (!ok_) return 0;
    // dlib builds the value in T and negates it there: the same bits as
    // the magnitude cut to T, negated in unsigned arithmetic.
    return static_cast<T>((control & 0x80) != 0 ? 0 - magnitude : magnitude);
  }

  template <typename T>
  T unsignedInt() {
    static_assert(!std::numeric_limits<T>::is_signed && sizeof(T) <= 8, "an unsigned integer");
    if (!ok_ || at_ == end_) return fail<T>();
    // A set sign bit makes the count too large, which dlib refuses.
    const uint64_t magnitude = bytes(*at_ & 0x8F, sizeof(T));
    return static_cast<T>(magnitude);
  }

  float real() {
    // Bits 4-6 set mark dlib's older text format; dlib reads that itself.
    if (!ok_ || at_ == end_ || (*at_ & 0x70) != 0) return fail<float>();
    const auto mantissa = signedInt<dlib::int64>();
    const auto exponent = signedInt<dlib::int16>();
    if (!ok_) return 0;
    return toFloat(mantissa, exponent);
  }

  // A count of elements that each take at least `least` bytes; one the
  // remaining bytes cannot hold is a fault (dlib would try to allocate it).
  size_t count(size_t least) {
    const auto n = unsignedInt<unsigned long>();
    if (ok_ && n > left() / least) return fail<size_t>();
    return n;
  }

 private:
  template <typename T>
  T fail() {
    stop();
    return T();
  }

  // Skips the control byte and reads `size` bytes of magnitude, low first.
  uint64_t bytes(unsigned size, size_t largest) {
    if (size == 0 || size > largest || left() < 1 + size) return fail<uint64_t>();
    const unsigned char* digits = at_ + 1;
    uint64_t magnitude = 0;
    if (left() >= 1 + 8) {
      // Eight bytes in one load (x86-64 is little-endian), the excess masked.
      std::memcpy(&magnitude, digits, 8);
      if (size < 8) magnitude &= (uint64_t{1} << (8 * size)) - 1;
    } else {
      for (unsigned i = size; i-- > 0;) magnitude = (magnitude << 8) | digits[i];
    }
    at_ += 1 + size;
    return magnitude;
  }

  const unsigned char* at_;
  const unsigned char* end_;
  bool ok_ = true;
};

// The smallest encodings: an integer is 2 bytes, a float 4.
constexpr size_t kIntBytes = 2;
constexpr size_t kFloatBytes = 2 * kIntBytes;

void readColumn(Reader& in, dlib::matrix<float, 0, 1>& column) {
  long rows = in.signedInt<long>();
  long cols = in.signedInt<long>();
  // Negative sizes mark the newer format; the most negative one has no
  // positive counterpart.
  if (rows == std::numeric_limits<long>::min() || cols == std::numeric_limits<long>::min()) {
    in.stop();
    return;
  }
  if (rows < 0 || cols < 0) {
    rows = -rows;
    cols = -cols;
  }
  if (!in.ok() || cols != 1 || rows < 0 || static_cast<size_t>(rows) > in.left() / kFloatBytes) {
    in.stop();
    return;
  }
  column.set_size(rows);
  for (long r = 0; r < rows && in.ok(); ++r) column(r) = in.real();
}

void readTree(Reader& in, dlib::impl::regression_tree& tree) {
  tree.splits.resize(in.count(2 * kIntBytes + kFloatBytes));
  for (dlib::impl::split_feature& split : tree.splits) {
    split.idx1 = in.unsignedInt<unsigned long>();
    split.idx2 = in.unsignedInt<unsigned long>();
    split.thresh = in.real();
    if (!in.ok()) return;
  }
  tree.leaf_values.resize(in.count(2 * kIntBytes));
  for (dlib::matrix<float, 0, 1>& leaf : tree.leaf_values) {
    readColumn(in, leaf);
    if (!in.ok()) return;
  }
}

bool finite(const dlib::matrix<float, 0, 1>& values) {
  for (long i = 0; i < values.size(); ++i)
    if (!std::isfinite(values(i))) return false;
  return true;
}

bool consistentTree(const dlib::impl::regression_tree& tree, size_t pixels, long shape_size) {
  // A walk from the root ends at index at most 2 * splits, leaf splits.
  if (tree.leaf_values.size() < tree.splits.size() + 1) return false;
  for (const dlib::impl::split_feature& split : tree.splits)
    if (split.idx1 >= pixels || split.idx2 >= pixels) return false;
  for (const dlib::matrix<float, 0, 1>& leaf : tree.leaf_values)
    if (leaf.size() != shape_size || !finite(leaf)) return false;
  return true;
}

}  // namespace

bool consistentLandmarkModel(const dlib::shape_predictor& model) {
  const dlib::matrix<float, 0, 1>& initial_shape = model.*memberOf(InitialShape{});
  const auto& forests = model.*memberOf(Forests{});
  const auto& anchor_indices = model.*memberOf(AnchorIndices{});
  const auto& deltas = model.*memberOf(Deltas{});
  const long shape_size = initial_shape.size();
  if (shape_size % 2 != 0 || !finite(initial_shape)) return false;
  if (anchor_indices.size() != forests.size() || deltas.size() != forests.size()) return false;
  const unsigned long points = static_cast<unsigned long>(shape_size / 2);
  for (size_t c = 0; c < forests.size(); ++c) {
    const size_t pixels = deltas[c].size();
    if (anchor_indices[c].size() != pixels) return false;
    for (unsigned long anchor : anchor_indices[c])
      if (anchor >= points) return false;
    for (const dlib::vector<float, 2>& delta : deltas[c])
      if (!std::isfinite(delta.x()) || !std::isfinite(delta.y())) return false;
    for (const dlib::impl::regression_tree& tree : forests[c])
      if (!consistentTree(tree, pixels, shape_size)) return false;
  }
  return true;
}

bool readLandmarkModel(const char* data, size_t size, dlib::shape_predictor& model) {
  Reader in(data, size);
  if (in.signedInt<int>() != 1) return false;

  dlib::matrix<float, 0, 1> initial_shape;
  readColumn(in, initial_shape);

  std::vector<std::vector<dlib::impl::regression_tree>> forests(in.count(kIntBytes));
  for (auto& forest : forests) {
    forest.resize(in.count(2 * kIntBytes));
    for (dlib::impl::regression_tree& tree : forest) {
      readTree(in, tree);
      if (!in.ok()) return false;
    }
  }

  std::vector<std::vector<unsigned long>> anchor_indices(in.count(kIntBytes));
  for (auto& anchors : anchor_indices) {
    anchors.resize(in.count(kIntBytes));
    for (unsigned long& anchor : anchors) anchor = in.unsignedInt<unsigned long>();
    if (!in.ok()) return false;
  }

  std::vector<std::vector<dlib::vector<float, 2>>> deltas(in.count(kIntBytes));
  for (auto& level : deltas) {
    level.resize(in.count(2 * kFloatBytes));
    for (dlib::vector<float, 2>& delta : level) {
      delta.x() = in.real();
      delta.y() = in.real();
    }
    if (!in.ok()) return false;
  }
  if (!in.ok()) return false;

  model.*memberOf(InitialShape{}) = std::move(initial_shape);
  model.*memberOf(Forests{}) = std::move(forests);
  model.*memberOf(AnchorIndices{}) = std::move(anchor_indices);
  model.*memberOf(Deltas{}) = std::move(deltas);
  return true;
}

}  // namespace morvik
