// The collection's entry points (morvik/collection.h). An MvIndex is the
// stored form of an index: the FAISS index with what its file carries
// besides. Nothing thrown below crosses the C boundary: invalid input and
// untrustworthy files become -1, everything else -8.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "collection/clustering.h"
#include "collection/face_index.h"
#include "collection/index_file.h"
#include "digest/digest.h"
#include "files/regular_file.h"
#include "morvik/collection.h"
#include "morvik/morvik.h"

struct MvIndex {
  morvik::StoredIndex stored;
};

namespace {

template <typename Body>
int guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::invalid_argument&) {
    return MV_INVALID_ARGS;
  } catch (const std::out_of_range&) {
    return MV_INVALID_ARGS;
  } catch (const std::runtime_error&) {
    // An index file that cannot be read or trusted, or cannot be written.
    return MV_INVALID_ARGS;
  } catch (...) {
    return MV_EXCEPTION;
  }
}

// The digest of a file's first `length` bytes, read a chunk at a time.
int digestFile(const char* path, uint64_t length, uint64_t& value) {
  uint64_t size = 0;
  const int fd = morvik::openRegularFile(path, &size);
  if (fd < 0) return MV_INVALID_ARGS;
  int rc = MV_OK;
  if (length == std::numeric_limits<uint64_t>::max()) length = size;
  if (length > size) rc = MV_INVALID_ARGS;
  if (rc == MV_OK) {
    morvik::Digest digest;
    std::vector<char> chunk(1 << 20);
    for (uint64_t left = length; left > 0;) {
      const ssize_t n = ::read(fd, chunk.data(), static_cast<size_t>(std::min<uint64_t>(left, chunk.size())));
      if (n <= 0) {
        rc = MV_INVALID_ARGS;
        break;
      }
      digest.add(chunk.data(), static_cast<size_t>(n));
      left -= static_cast<uint64_t>(n);
    }
    value = digest.value();
  }
  ::close(fd);
  return rc;
}

// A count of descriptors whose bytes a size_t can hold.
bool describable(size_t count) {
  return count <= std::numeric_limits<size_t>::max() / (morvik::kDescriptorSize * sizeof(float));
}

}  // namespace

extern "C" {

MORVIK_API int MvIndexCreate(int32_t policy, MvIndex** index) {
  if (index == nullptr) return MV_INVALID_ARGS;
  return guarded([&]() -> int {
    auto created = std::make_unique<MvIndex>();
    created->stored.index = std::make_unique<morvik::FaceIndex>(policy);
    *index = created.release();
    return MV_OK;
  });
}

MORVIK_API void MvIndexFree(MvIndex* index) { delete index; }

MORVIK_API int MvIndexAdd(MvIndex* index, const float* vectors, size_t count) {
  if (index == nullptr || (vectors == nullptr && count > 0)) return MV_INVALID_ARGS;
  if (!describable(count)) return MV_INVALID_ARGS;
  return guarded([&]() -> int {
    index->stored.index->add(vectors, count);
    return MV_OK;
  });
}

MORVIK_API int MvIndexGetInfo(const MvIndex* index, MvIndexInfo* info) {
  if (index == nullptr || info == nullptr) return MV_INVALID_ARGS;
  const morvik::FaceIndex& faces = *index->stored.index;
  info->count = faces.size();
  info->policy = faces.policy();
  info->structure = faces.structure();
  info->memory = faces.memoryBytes();
  return MV_OK;
}

MORVIK_API int MvIndexSearch(const MvIndex* index, const float* query, size_t k, uint32_t flags,
                             MvNeighbor* results, size_t* found) {
  if (index == nullptr || query == nullptr || results == nullptr || found == nullptr || k == 0 ||
      *found < k || (flags & ~MV_SEARCH_EXACT) != 0) {
    return MV_INVALID_ARGS;
  }
  return guarded([&]() -> int {
    const auto neighbors = index->stored.index->search(query, k, (flags & MV_SEARCH_EXACT) != 0);
    for (size_t i = 0; i < neighbors.size(); ++i) results[i] = {neighbors[i].id, neighbors[i].distance};
    *found = neighbors.size();
    return MV_OK;
  });
}

MORVIK_API int MvIndexGetVectors(const MvIndex* index, size_t first, size_t count, float* out) {
  if (index == nullptr || (out == nullptr && count > 0)) return MV_INVALID_ARGS;
  return guarded([&]() -> int {
    index->stored.index->vectors(first, count, out);
    return MV_OK;
  });
}

MORVIK_API int MvIndexSetSource(MvIndex* index, const MvIndexSource* source) {
  if (index == nullptr || source == nullptr) return MV_INVALID_ARGS;
  index->stored.source = *source;
  return MV_OK;
}

MORVIK_API int MvIndexGetSource(const MvIndex* index, MvIndexSource* source) {
  if (index == nullptr || source == nullptr) return MV_INVALID_ARGS;
  *source = index->stored.source;
  return MV_OK;
}

MORVIK_API int MvIndexSetAttachment(MvIndex* index, const void* data, size_t size) {
  if (index == nullptr || (data == nullptr && size > 0)) return MV_INVALID_ARGS;
  return guarded([&]() -> int {
    const auto* bytes = static_cast<const unsigned char*>(data);
    index->stored.attachment.assign(bytes, bytes + size);
    return MV_OK;
  });
}

MORVIK_API int MvIndexGetAttachment(const MvIndex* index, const void** data, size_t* size) {
  if (index == nullptr || data == nullptr || size == nullptr) return MV_INVALID_ARGS;
  *data = index->stored.attachment.data();
  *size = index->stored.attachment.size();
  return MV_OK;
}

MORVIK_API int MvIndexSave(const MvIndex* index, const char* path) {
  if (index == nullptr || path == nullptr || *path == '\0') return MV_INVALID_ARGS;
  return guarded([&]() -> int {
    morvik::writeIndexFile(path, index->stored);
    return MV_OK;
  });
}

MORVIK_API int MvIndexLoad(const char* path, MvIndex** index) {
  if (path == nullptr || index == nullptr) return MV_INVALID_ARGS;
  return guarded([&]() -> int {
    auto loaded = std::make_unique<MvIndex>();
    loaded->stored = morvik::readIndexFile(path);
    *index = loaded.release();
    return MV_OK;
  });
}

MORVIK_API int MvFileDigest(const char* path, uint64_t length, uint64_t* digest) {
  if (path == nullptr || digest == nullptr) return MV_INVALID_ARGS;
  return guarded([&]() -> int {
    uint64_t value = 0;
    const int rc = digestFile(path, length, value);
    if (rc == MV_OK) *digest = value;
    return rc;
  });
}

MORVIK_API int MvIndexCluster(const MvIndex* index, double threshold, uint32_t* labels, size_t count,
                              size_t* clusters, MvProgress progress, void* context) {
  if (index == nullptr || clusters == nullptr || !(threshold > 0.0) ||
      count < index->stored.index->size() || (labels == nullptr && count > 0)) {
    return MV_INVALID_ARGS;
  }
  return guarded([&]() -> int {
    std::vector<uint32_t> found;
    const size_t groups = morvik::clusterFaces(*index->stored.index, threshold, found, progress, context);
    std::copy(found.begin(), found.end(), labels);
    *clusters = groups;
    return MV_OK;
  });
}

MORVIK_API int MvCluster(const float* vectors, size_t count, double threshold, uint32_t* labels,
                         size_t* clusters, MvProgress progress, void* context) {
  if ((vectors == nullptr || labels == nullptr) && count > 0) return MV_INVALID_ARGS;
  if (clusters == nullptr || !(threshold > 0.0) || !describable(count)) return MV_INVALID_ARGS;
  return guarded([&]() -> int {
    morvik::FaceIndex index(MV_INDEX_AUTO);
    index.add(vectors, count);
    std::vector<uint32_t> found;
    const size_t groups = morvik::clusterFaces(index, threshold, found, progress, context);
    std::copy(found.begin(), found.end(), labels);
    *clusters = groups;
    return MV_OK;
  });
}

}  // extern "C"
