// Bytes offered as a collection's index file. The header's sizes and
// digests are first made to agree with the bytes (as the library's writer
// would have made them), so that what is tried is the structure behind the
// digests, as a crafted file presents it. The reader either refuses the
// file or loads an index whose every answer names a face it holds.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "collection/index_file.h"
#include "fuzz_support.h"
#include "morvik/collection.h"
#include "morvik/morvik.h"

namespace {

// Grouping costs a search per face: larger loaded indexes are searched only.
constexpr uint64_t kMostClustered = 2000;

bool finite(const std::vector<float>& v) {
  for (const float x : v) {
    if (!std::isfinite(x)) return false;
  }
  return true;
}

void searchEveryWay(const MvIndex* index, const std::vector<float>& query, uint64_t count) {
  for (const uint32_t flags : {0u, static_cast<uint32_t>(MV_SEARCH_EXACT)}) {
    MvNeighbor found[8];
    size_t n = 8;
    const int rc = MvIndexSearch(index, query.data(), 8, flags, found, &n);
    FUZZ_EXPECT(rc == MV_OK);
    FUZZ_EXPECT(n <= 8 && n <= count);
    for (size_t i = 0; i < n; ++i) {
      FUZZ_EXPECT(found[i].id < count);
      FUZZ_EXPECT(found[i].distance >= 0.0);
    }
  }
}

void groupFaces(const MvIndex* index, uint64_t count) {
  std::vector<uint32_t> labels(static_cast<size_t>(count) + 1);
  size_t clusters = 0;
  FUZZ_EXPECT(MvIndexCluster(index, 0.5, labels.data(), labels.size(), &clusters, nullptr, nullptr) == MV_OK);
  FUZZ_EXPECT(clusters <= count);
  for (size_t i = 0; i < count; ++i) FUZZ_EXPECT(labels[i] < clusters);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<unsigned char> bytes(data, data + size);
  morvik::sealIndexImage(bytes);
  const std::string path = fuzz_support::writeScratch("index", bytes.data(), bytes.size());
  MvIndex* index = nullptr;
  const int rc = MvIndexLoad(path.c_str(), &index);
  FUZZ_EXPECT(rc == MV_OK || rc == MV_INVALID_ARGS);
  FUZZ_EXPECT((rc == MV_OK) == (index != nullptr));
  if (rc != MV_OK) return 0;

  MvIndexInfo info{};
  FUZZ_EXPECT(MvIndexGetInfo(index, &info) == MV_OK);
  std::vector<float> query(128, 0.05f);
  searchEveryWay(index, query, info.count);
  if (info.count > 0) {
    // A stored face is found at distance 0 by the exact search.
    FUZZ_EXPECT(MvIndexGetVectors(index, 0, 1, query.data()) == MV_OK);
    FUZZ_EXPECT(finite(query));
    searchEveryWay(index, query, info.count);
    std::vector<float> last(128);
    FUZZ_EXPECT(MvIndexGetVectors(index, static_cast<size_t>(info.count) - 1, 1, last.data()) == MV_OK);
  }
  if (info.count <= kMostClustered) groupFaces(index, info.count);
  const void* attachment = nullptr;
  size_t attachment_size = 0;
  FUZZ_EXPECT(MvIndexGetAttachment(index, &attachment, &attachment_size) == MV_OK);
  FUZZ_EXPECT(attachment_size <= size);
  MvIndexFree(index);
  return 0;
}
