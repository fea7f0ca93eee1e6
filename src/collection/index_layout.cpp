#include "collection/index_layout.h"

#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <vector>

#include "collection/face_index.h"

namespace morvik {
namespace {

// FAISS names each structure by four characters read as a little-endian word.
constexpr uint32_t tag(const char (&name)[5]) {
  return uint32_t{static_cast<uint8_t>(name[0])} | uint32_t{static_cast<uint8_t>(name[1])} << 8 |
         uint32_t{static_cast<uint8_t>(name[2])} << 16 | uint32_t{static_cast<uint8_t>(name[3])} << 24;
}
constexpr uint32_t kFlatL2 = tag("IxF2");
constexpr uint32_t kIvfFlat = tag("IwFl");
constexpr uint32_t kArrayLists = tag("ilar");
constexpr uint32_t kEveryListSize = tag("full");
constexpr uint32_t kSomeListSizes = tag("sprs");
constexpr int32_t kMetricL2 = 1;  // faiss::METRIC_L2
// faiss::DirectMap::NoMap and ::Array; the library never writes a hash table.
constexpr int8_t kNoMap = 0;
constexpr int8_t kArrayMap = 1;
constexpr uint64_t kVectorBytes = kDescriptorSize * sizeof(float);
constexpr uint64_t kIdBytes = sizeof(int64_t);

[[noreturn]] void refuse(const std::string& what) { throw std::runtime_error("damaged index file (" + what + ")"); }

// The FAISS part of the file, read front to back without FAISS.
class Walk {
 public:
  Walk(int fd, uint64_t offset, uint64_t size) : fd_(fd), offset_(offset), left_(size) {}

  uint64_t left() const { return left_; }

  template <typename T>
  T read() {
    T value;
    bytes(&value, sizeof value);
    return value;
  }

  void bytes(void* into, uint64_t size) {
    if (size > left_) refuse("a part runs past its end");
    char* p = static_cast<char*>(into);
    while (size > 0) {
      const ssize_t n = ::pread(fd_, p, static_cast<size_t>(size), static_cast<off_t>(offset_));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) refuse("cannot be read");
      const auto got = static_cast<uint64_t>(n);
      p += got;
      offset_ += got;
      left_ -= got;
      size -= got;
    }
  }

  void skip(uint64_t size) {
    if (size > left_) refuse("a part runs past its end");
    offset_ += size;
    left_ -= size;
  }

  // A declared number of items of `item` bytes each: the bytes that follow
  // must be able to hold them.
  uint64_t count(uint64_t item) {
    const uint64_t n = read<uint64_t>();
    if (n > left_ / item) refuse("a declared size exceeds the file");
    return n;
  }

 private:
  int fd_;
  uint64_t offset_;
  uint64_t left_;
};

// faiss::Index's own fields; returns the number of vectors.
uint64_t indexFields(Walk& walk) {
  const auto dimension = walk.read<int32_t>();
  const auto total = walk.read<int64_t>();
  walk.skip(2 * sizeof(int64_t));  // fields FAISS no longer uses
  const auto trained = walk.read<uint8_t>();
  const auto metric = walk.read<int32_t>();
  if (dimension != static_cast<int32_t>(kDescriptorSize)) refuse("not of 128-value descriptors");
  if (total < 0) refuse("a negative count");
  if (trained != 1) refuse("an untrained index");
  if (metric != kMetricL2) refuse("not of Euclidean distances");
  return static_cast<uint64_t>(total);
}

uint64_t flatBody(Walk& walk) {
  const uint64_t total = indexFields(walk);
  const uint64_t floats = walk.count(sizeof(float));
  if (total > walk.left() / kVectorBytes || floats != total * kDescriptorSize) refuse("descriptors miscounted");
  walk.skip(floats * sizeof(float));
  return total;
}

// The number of faces in each of the `lists` lists.
std::vector<uint64_t> listSizes(Walk& walk, uint64_t lists) {
  const auto kind = walk.read<uint32_t>();
  const uint64_t n = walk.count(sizeof(uint64_t));
  std::vector<uint64_t> declared(static_cast<size_t>(n));
  walk.bytes(declared.data(), n * sizeof(uint64_t));
  if (kind == kEveryListSize) {
    if (n != lists) refuse("list sizes miscounted");
    return declared;
  }
  if (kind != kSomeListSizes || n % 2 != 0) refuse("list sizes");
  // (list, size) pairs of the lists that are not empty, in list order.
  std::vector<uint64_t> sizes(static_cast<size_t>(lists), 0);
  for (size_t i = 0; i < declared.size(); i += 2) {
    const uint64_t list = declared[i];
    if (list >= lists || (i > 0 && list <= declared[i - 2])) refuse("list sizes out of order");
    sizes[static_cast<size_t>(list)] = declared[i + 1];
  }
  return sizes;
}

uint64_t invertedFileBody(Walk& walk) {
  const uint64_t total = indexFields(walk);
  const auto lists = walk.read<uint64_t>();
  const auto probes = walk.read<uint64_t>();
  // The quantizer holds one centre per list: its size bounds the lists' by
  // the file's before FAISS makes room for them.
  if (walk.read<uint32_t>() != kFlatL2 || flatBody(walk) != lists || lists == 0) {
    refuse("the quantizer does not hold one centre per list");
  }
  if (probes == 0 || probes > lists) refuse("lists to visit");
  const auto map = walk.read<int8_t>();
  const uint64_t mapped = walk.count(kIdBytes);
  if ((map != kNoMap && map != kArrayMap) || mapped != (map == kArrayMap ? total : 0)) refuse("direct map");
  walk.skip(mapped * kIdBytes);
  if (walk.read<uint32_t>() != kArrayLists || walk.read<uint64_t>() != lists ||
      walk.read<uint64_t>() != kVectorBytes) {
    refuse("inverted lists");
  }
  uint64_t held = 0;
  for (const uint64_t size : listSizes(walk, lists)) {
    if (size > total - held) refuse("the lists hold more faces than the index");
    held += size;
  }
  constexpr uint64_t kEntryBytes = kVectorBytes + kIdBytes;
  if (held != total || total > walk.left() / kEntryBytes || walk.left() != total * kEntryBytes) {
    refuse("the lists do not hold the index's faces");
  }
  walk.skip(walk.left());
  return total;
}

}  // namespace

void checkIndexLayout(int fd, uint64_t offset, uint64_t size, uint64_t count) {
  Walk walk(fd, offset, size);
  const auto kind = walk.read<uint32_t>();
  uint64_t total = 0;
  if (kind == kFlatL2) {
    total = flatBody(walk);
  } else if (kind == kIvfFlat) {
    total = invertedFileBody(walk);
  } else {
    refuse("not an index of a kind the library writes");
  }
  if (total != count) refuse("the index does not hold the faces its header counts");
  if (walk.left() != 0) refuse("bytes after the index");
}

}  // namespace morvik
