// Collection: the nearest-neighbour index of face descriptors and the
// grouping of faces by person. FAISS does the searching: an exact flat L2
// index while the collection is small, an inverted-file index (IVF, flat
// codes) above kExactLimit faces, where scanning every descriptor would
// take longer than a query may. The exported entry points are in
// morvik/collection.h; this header is the C++ side they share.
#ifndef MORVIK_COLLECTION_FACE_INDEX_H_
#define MORVIK_COLLECTION_FACE_INDEX_H_

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "morvik/collection.h"

namespace faiss {
struct Index;
}

namespace morvik {

constexpr size_t kDescriptorSize = 128;
// Up to this many faces the automatic index is exact. FAISS as Debian
// builds it compares two descriptors in about 150 ns (portable code, no
// vector instructions), so a flat scan of 20 000 takes 3 ms.
constexpr size_t kExactLimit = MV_INDEX_EXACT_LIMIT;

// The distance the library reports everywhere (CompareVectors): single
// precision, summed in index order, so that it is reproducible bit for bit.
inline double descriptorDistance(const float* a, const float* b) {
  float sum = 0.0f;
  for (size_t i = 0; i < kDescriptorSize; ++i) {
    const float d = a[i] - b[i];
    sum += d * d;
  }
  return static_cast<double>(std::sqrt(sum));
}

struct Neighbor {
  uint64_t id;
  double distance;
};

class FaceIndex {
 public:
  // `policy`: MV_INDEX_AUTO, MV_INDEX_EXACT or MV_INDEX_APPROXIMATE.
  explicit FaceIndex(int policy);
  ~FaceIndex();
  FaceIndex(const FaceIndex&) = delete;
  FaceIndex& operator=(const FaceIndex&) = delete;

  int policy() const { return policy_; }
  // MV_INDEX_EXACT or MV_INDEX_APPROXIMATE: what is built now.
  int structure() const;
  size_t size() const;
  // Number of faces the approximate index's lists were trained on (0 when exact).
  size_t trainedSize() const { return trained_; }
  // Bytes held by the index's own structures.
  size_t memoryBytes() const;

  // Appends `count` descriptors; their ids follow on from size(). Throws
  // std::invalid_argument for a value that is not finite.
  void add(const float* vectors, size_t count);
  // The k closest faces, nearest first, with descriptorDistance. `exact`
  // scans every descriptor whatever the structure. A query with a value
  // that is not finite: std::invalid_argument.
  std::vector<Neighbor> search(const float* query, size_t k, bool exact) const;
  // Of the k faces nearest each of `count` queries (as the structure finds
  // them), those within `radius` (descriptorDistance < radius); appends
  // (query number, id) pairs.
  void nearby(const float* queries, size_t count, size_t k, double radius,
              std::vector<std::pair<uint64_t, uint64_t>>& pairs) const;
  // Copies descriptors [first, first + count) into `out`.
  void vectors(size_t first, size_t count, float* out) const;

  // The FAISS index itself, for the file reader and writer.
  const faiss::Index& faissIndex() const { return *index_; }
  // Takes over an index FAISS read from a file, once its structure holds
  // together (std::invalid_argument otherwise).
  void adopt(std::unique_ptr<faiss::Index> index, size_t trained);

 private:
  // Rebuilds as the structure the policy asks for at `total` faces, when
  // that differs from what is built (the exact index outgrew its limit, or
  // the lists were trained on too few faces for what the index now holds).
  void reshapeFor(size_t total, const float* extra, size_t extra_count);
  void buildApproximate(std::vector<float>& all, size_t count);
  int wantedStructure(size_t total) const;

  int policy_;
  size_t trained_ = 0;
  std::unique_ptr<faiss::Index> index_;
};

}  // namespace morvik

#endif  // MORVIK_COLLECTION_FACE_INDEX_H_
