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
#include "models/landmark_model_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include <dlib/float_details.h>

namespace morvik {
namespace {

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

// The magnitude of `size` bytes (1 to 8), low first, in one load of eight
// (x86-64 is little-endian) with the excess masked; digits must have eight
// bytes in hand.
uint64_t magnitudeOf(const unsigned char* digits, unsigned size) {
  uint64_t magnitude;
  std::memcpy(&magnitude, digits, 8);
  if (size < 8) magnitude &= (uint64_t{1} << (8 * size)) - 1;
  return magnitude;
}

// dlib builds a value in its type and negates it there: the same bits as
// the magnitude negated in unsigned arithmetic, cut to the type.
uint64_t withSign(unsigned char control, uint64_t magnitude) {
  return (control & 0x80) != 0 ? 0 - magnitude : magnitude;
}

// Values in dlib's format from a run of bytes, in memory or pulled from a
// source a chunk at a time. The first fault stops it: ok() turns false and
// every later read returns 0 without moving.
class Reader {
 public:
  Reader(const char* data, size_t size)
      : at_(reinterpret_cast<const unsigned char*>(data)), end_(at_ + size) {}
  Reader(ByteSource& source, size_t size) : source_(&source), pending_(size), chunk_(kChunkBytes) {
    at_ = end_ = reinterpret_cast<const unsigned char*>(chunk_.data());
  }

  bool ok() const { return ok_; }
  void stop() { ok_ = false; }
  // The bytes not yet read, pulled or not.
  size_t left() const { return static_cast<size_t>(end_ - at_) + pending_; }

  template <typename T>
  T signedInt() {
    static_assert(std::numeric_limits<T>::is_signed && sizeof(T) <= 8, "a signed integer");
    pull();
    if (!ok_ || at_ == end_) return fail<T>();
    const unsigned char control = *at_;
    // Bits 4-6 are reserved; dlib ignores them in an integer.
    const uint64_t magnitude = bytes(control & 0x0F, sizeof(T));
    if (!ok_) return 0;
    return static_cast<T>(withSign(control, magnitude));
  }

  template <typename T>
  T unsignedInt() {
    static_assert(!std::numeric_limits<T>::is_signed && sizeof(T) <= 8, "an unsigned integer");
    pull();
    if (!ok_ || at_ == end_) return fail<T>();
    // A set sign bit makes the count too large, which dlib refuses.
    const uint64_t magnitude = bytes(*at_ & 0x8F, sizeof(T));
    return static_cast<T>(magnitude);
  }

  float real() {
    // Bits 4-6 set mark dlib's older text format; dlib reads that itself.
    pull();
    if (!ok_ || at_ == end_ || (*at_ & 0x70) != 0) return fail<float>();
    const auto mantissa = signedInt<dlib::int64>();
    const auto exponent = signedInt<dlib::int16>();
    if (!ok_) return 0;
    return toFloat(mantissa, exponent);
  }

  // `count` floats into `out`: a tight loop over those the chunk surely
  // holds whole, real() for any it does not take and at a chunk's end.
  void reals(float* out, size_t count) {
    size_t i = 0;
    while (i < count && ok_) {
      pull();
      const size_t sure = std::min(count - i, inHand() / kLongestFloat);
      const size_t done = plainReals(out + i, sure);
      i += done;
      if (done == sure && sure != 0) continue;
      out[i++] = real();
    }
  }

  // A count of elements that each take at least `least` bytes; one the
  // remaining bytes cannot hold is a fault (dlib would try to allocate it).
  size_t count(size_t least) {
    const auto n = unsignedInt<unsigned long>();
    if (ok_ && n > left() / least) return fail<size_t>();
    return n;
  }

 private:
  // A chunk fits in a core's cache; the longest value (an integer: a
  // control byte and 8 bytes) is always whole in it when any byte is left.
  static constexpr size_t kChunkBytes = size_t{256} << 10;
  static constexpr size_t kLongestValue = 1 + 8;
  static constexpr size_t kLongestFloat = (1 + 8) + (1 + 2);

  template <typename T>
  T fail() {
    stop();
    return T();
  }

  size_t inHand() const { return static_cast<size_t>(end_ - at_); }

  // Reads up to `count` floats, all surely whole in hand, as real() reads
  // them; stops before the first one in a form real() must judge (the
  // text format, a size out of range).
  size_t plainReals(float* out, size_t count) {
    const unsigned char* p = at_;
    size_t i = 0;
    for (; i < count; ++i) {
      const unsigned control = p[0];
      const unsigned size = control & 0x0F;
      if ((control & 0x70) != 0 || size == 0 || size > 8) break;
      const auto mantissa = static_cast<dlib::int64>(withSign(control, magnitudeOf(p + 1, size)));
      const unsigned char* e = p + 1 + size;
      const unsigned e_size = e[0] & 0x0F;
      if (e_size == 0 || e_size > 2) break;
      const uint64_t e_magnitude = e_size == 1 ? e[1] : (uint64_t{e[2]} << 8 | e[1]);
      const auto exponent = static_cast<dlib::int16>(withSign(e[0], e_magnitude));
      out[i] = toFloat(mantissa, exponent);
      p = e + 1 + e_size;
    }
    at_ = p;
    return i;
  }

  // Tops the chunk up from the source when the next value may not be whole
  // in it. A source that ends early (its file shrank) stops the reader.
  void pull() {
    if (pending_ == 0 || inHand() >= kLongestValue) return;
    const size_t kept = inHand();
    std::memmove(chunk_.data(), at_, kept);
    const size_t wanted = std::min(chunk_.size() - kept, pending_);
    const size_t got = source_->read(chunk_.data() + kept, wanted);
    at_ = reinterpret_cast<const unsigned char*>(chunk_.data());
    end_ = at_ + kept + got;
    pending_ -= got;
    if (got < wanted) {
      pending_ = 0;
      stop();
    }
  }

  // Skips the control byte and reads `size` bytes of magnitude, low first.
  uint64_t bytes(unsigned size, size_t largest) {
    if (size == 0 || size > largest || inHand() < 1 + size) return fail<uint64_t>();
    const unsigned char* digits = at_ + 1;
    uint64_t magnitude = 0;
    if (inHand() >= 1 + 8) {
      magnitude = magnitudeOf(digits, size);
    } else {
      for (unsigned i = size; i-- > 0;) magnitude = (magnitude << 8) | digits[i];
    }
    at_ += 1 + size;
    return magnitude;
  }

  const unsigned char* at_;
  const unsigned char* end_;
  ByteSource* source_ = nullptr;
  size_t pending_ = 0;  // bytes the source has yet to give
  std::vector<char> chunk_;
  bool ok_ = true;
};

// The smallest encodings: an integer is 2 bytes, a float 4.
constexpr size_t kIntBytes = 2;
constexpr size_t kFloatBytes = 2 * kIntBytes;

// A column's size: -rows and -1 (older writers: rows and 1); 0 at a fault.
long columnRows(Reader& in) {
  long rows = in.signedInt<long>();
  long cols = in.signedInt<long>();
  // The most negative size has no positive counterpart.
  if (rows == std::numeric_limits<long>::min() || cols == std::numeric_limits<long>::min()) {
    in.stop();
    return 0;
  }
  if (rows < 0 || cols < 0) {
    rows = -rows;
    cols = -cols;
  }
  if (!in.ok() || cols != 1 || rows < 0 || static_cast<size_t>(rows) > in.left() / kFloatBytes) {
    in.stop();
    return 0;
  }
  return rows;
}

void readColumn(Reader& in, dlib::matrix<float, 0, 1>& column) {
  const long rows = columnRows(in);
  if (!in.ok()) return;
  column.set_size(rows);
  if (rows > 0) in.reals(&column(0), static_cast<size_t>(rows));
}

// A tree's splits and leaves, appended to the flat arrays. Every leaf must
// be a whole shape of `shape` values.
void readTree(Reader& in, long shape, LandmarkParts& parts) {
  LandmarkParts::Tree tree{};
  tree.splits = in.count(2 * kIntBytes + kFloatBytes);
  for (size_t s = 0; s < tree.splits && in.ok(); ++s) {
    LandmarkParts::Split split;
    split.idx1 = in.unsignedInt<unsigned long>();
    split.idx2 = in.unsignedInt<unsigned long>();
    split.thresh = in.real();
    parts.splits.push_back(split);
  }
  tree.leaves = in.count(2 * kIntBytes);
  for (size_t l = 0; l < tree.leaves && in.ok(); ++l) {
    if (columnRows(in) != shape) {
      in.stop();
      return;
    }
    // Within the capacity reserved for every value the bytes can hold.
    const size_t first = parts.leaves.size();
    parts.leaves.resize(first + static_cast<size_t>(shape));
    in.reals(parts.leaves.data() + first, static_cast<size_t>(shape));
  }
  parts.trees.push_back(tree);
}

bool readModel(Reader& in, LandmarkModel& model) {
  if (in.signedInt<int>() != 1) return false;

  LandmarkParts parts;
  readColumn(in, parts.initial_shape);
  const long shape = parts.initial_shape.size();
  if (!in.ok() || shape == 0) return false;
  // No reallocation while reading: room for as many values as the bytes
  // left could hold, of which only the pages written become memory.
  parts.leaves.reserve(in.left() / kFloatBytes);

  parts.cascade_trees.resize(in.count(kIntBytes));
  for (size_t& trees : parts.cascade_trees) {
    trees = in.count(2 * kIntBytes);
    for (size_t t = 0; t < trees && in.ok(); ++t) readTree(in, shape, parts);
    if (!in.ok()) return false;
  }

  parts.anchors.resize(in.count(kIntBytes));
  for (auto& anchors : parts.anchors) {
    anchors.resize(in.count(kIntBytes));
    for (unsigned long& anchor : anchors) anchor = in.unsignedInt<unsigned long>();
    if (!in.ok()) return false;
  }

  parts.deltas.resize(in.count(kIntBytes));
  for (auto& level : parts.deltas) {
    level.resize(in.count(2 * kFloatBytes));
    for (dlib::vector<float, 2>& delta : level) {
      delta.x() = in.real();
      delta.y() = in.real();
    }
    if (!in.ok()) return false;
  }
  if (!in.ok()) return false;

  LandmarkModel read;
  if (!read.assign(std::move(parts))) return false;
  model = std::move(read);
  return true;
}

}  // namespace

bool readLandmarkModel(const char* data, size_t size, LandmarkModel& model) {
  Reader in(data, size);
  return readModel(in, model);
}

bool readLandmarkModel(ByteSource& source, size_t size, LandmarkModel& model) {
  Reader in(source, size);
  return readModel(in, model);
}

}  // namespace morvik
