// Index files crafted with valid digests: the reader checks the FAISS part
// as input it cannot trust. Sizes beyond the file, dimensions other than
// 128, a quantizer that does not match the lists, ids past the face count
// are refused; a direct map pointing outside its lists is never used.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "collection/index_file.h"
#include "collection/synthetic_descriptors.h"
#include "morvik/collection.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using testing_support::clusteredDescriptors;
using testing_support::randomDescriptors;
using testing_support::scratchPath;
using Bytes = std::vector<unsigned char>;

// FAISS's fields, at their offsets from the start of an index's own bytes.
constexpr size_t kDimensionAt = 4;
constexpr size_t kCountAt = 8;
constexpr size_t kTrainedAt = 32;
constexpr size_t kMetricAt = 33;
constexpr size_t kFieldsEnd = 37;
constexpr size_t kVectorBytes = 128 * sizeof(float);

Bytes savedImage(int32_t policy, const std::vector<float>& faces) {
  const std::string path = scratchPath("layout.mvx");
  MvIndex* index = nullptr;
  EXPECT_EQ(MvIndexCreate(policy, &index), MV_OK);
  EXPECT_EQ(MvIndexAdd(index, faces.data(), faces.size() / 128), MV_OK);
  EXPECT_EQ(MvIndexSetAttachment(index, "table", 5), MV_OK);
  EXPECT_EQ(MvIndexSave(index, path.c_str()), MV_OK);
  MvIndexFree(index);
  const std::vector<char> bytes = testing_support::fileBytes(path);
  std::remove(path.c_str());
  return Bytes(bytes.begin(), bytes.end());
}

template <typename T>
T get(const Bytes& bytes, size_t at) {
  T value;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

template <typename T>
void put(Bytes& bytes, size_t at, T value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

// Where FAISS's part begins: the first of its index tags after the header.
size_t faissStart(const Bytes& bytes) {
  for (size_t at = 8; at + 4 <= bytes.size(); ++at) {
    if (std::memcmp(&bytes[at], "IxF2", 4) == 0 || std::memcmp(&bytes[at], "IwFl", 4) == 0) return at;
  }
  ADD_FAILURE() << "no FAISS index in the file";
  return 0;
}

// The places of an inverted file's parts, as FAISS lays them out.
struct InvertedFile {
  size_t start, lists_at, probes_at, quantizer, centres_count_at, centres_at, map_at, map_count_at, map_at_entries,
      lists_header, list_kind_at, sizes_count_at, sizes_at, data_at;
  uint64_t count, lists;
  bool sparse;

  explicit InvertedFile(const Bytes& b) {
    start = faissStart(b);
    count = get<uint64_t>(b, start + kCountAt);
    lists_at = start + kFieldsEnd;
    probes_at = lists_at + 8;
    quantizer = probes_at + 8;
    lists = get<uint64_t>(b, lists_at);
    centres_count_at = quantizer + kFieldsEnd;
    centres_at = centres_count_at + 8;
    map_at = centres_at + lists * kVectorBytes;
    map_count_at = map_at + 1;
    map_at_entries = map_count_at + 8;
    lists_header = map_at_entries + get<uint64_t>(b, map_count_at) * 8;
    list_kind_at = lists_header + 20;
    sparse = std::memcmp(&b[list_kind_at], "sprs", 4) == 0;
    sizes_count_at = list_kind_at + 4;
    sizes_at = sizes_count_at + 8;
    data_at = sizes_at + get<uint64_t>(b, sizes_count_at) * 8;
  }
  // The size of the first list that holds faces, and where it is stored.
  size_t firstSizeAt(const Bytes& b) const {
    if (sparse) return sizes_at + 8;
    for (size_t i = 0; i < lists; ++i) {
      if (get<uint64_t>(b, sizes_at + i * 8) > 0) return sizes_at + i * 8;
    }
    return sizes_at;
  }
  // Where the ids of the first list that holds faces begin.
  size_t firstIdsAt(const Bytes& b) const { return data_at + get<uint64_t>(b, firstSizeAt(b)) * kVectorBytes; }
};

int loadImage(Bytes bytes, MvIndex** index) {
  morvik::sealIndexImage(bytes);
  const std::string path = scratchPath("crafted.mvx");
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  *index = nullptr;
  const int rc = MvIndexLoad(path.c_str(), index);
  std::remove(path.c_str());
  return rc;
}

void expectRefused(const Bytes& bytes, const std::string& what) {
  MvIndex* index = nullptr;
  EXPECT_EQ(loadImage(bytes, &index), MV_INVALID_ARGS) << what;
  EXPECT_EQ(index, nullptr) << what;
  MvIndexFree(index);
}

TEST(IndexLayout, SealingWhatTheWriterWroteChangesNothing) {
  for (const int32_t policy : {MV_INDEX_EXACT, MV_INDEX_APPROXIMATE}) {
    const std::vector<float> faces = clusteredDescriptors(300, 30, 0.3f, 7);
    const Bytes good = savedImage(policy, faces);
    Bytes sealed = good;
    morvik::sealIndexImage(sealed);
    EXPECT_EQ(sealed, good) << "policy " << policy;
  }
  // A descriptor changed behind the digests is read as it now stands.
  const std::vector<float> faces = randomDescriptors(20, 8);
  Bytes bytes = savedImage(MV_INDEX_EXACT, faces);
  const size_t first_value = faissStart(bytes) + kFieldsEnd + 8;
  put<float>(bytes, first_value, 0.5f);
  MvIndex* index = nullptr;
  ASSERT_EQ(loadImage(bytes, &index), MV_OK);
  float back[128];
  ASSERT_EQ(MvIndexGetVectors(index, 0, 1, back), MV_OK);
  EXPECT_EQ(back[0], 0.5f);
  EXPECT_EQ(back[1], faces[1]);
  MvIndexFree(index);
}

TEST(IndexLayout, CraftedExactIndexesAreRefused) {
  const Bytes good = savedImage(MV_INDEX_EXACT, randomDescriptors(20, 9));
  const size_t f = faissStart(good);
  const size_t floats_at = f + kFieldsEnd;
  ASSERT_EQ(get<uint64_t>(good, floats_at), 20u * 128);
  Bytes bad = good;
  put<int32_t>(bad, f + kDimensionAt, 8);
  expectRefused(bad, "dimension 8");
  bad = good;
  put<uint64_t>(bad, floats_at, uint64_t{1} << 28);  // a gigabyte announced by a 10 KB file
  expectRefused(bad, "2^28 floats");
  bad = good;
  put<int64_t>(bad, f + kCountAt, 21);
  put<uint64_t>(bad, floats_at, 21 * 128);
  expectRefused(bad, "more faces than stored");
  bad = good;
  put<int32_t>(bad, f + kMetricAt, 0);  // inner product
  expectRefused(bad, "another metric");
  bad = good;
  bad[f + kTrainedAt] = 2;  // not a bool
  expectRefused(bad, "trained 2");
  bad = good;
  put<float>(bad, floats_at + 8 + 4 * 5, std::numeric_limits<float>::quiet_NaN());
  expectRefused(bad, "a NaN descriptor");
  bad = good;
  std::memcpy(&bad[f], "IxFI", 4);
  expectRefused(bad, "an inner-product index");
  expectRefused(Bytes(good.begin(), good.begin() + static_cast<long>(f + 20)), "cut inside FAISS's fields");
  MvIndex* index = nullptr;
  ASSERT_EQ(loadImage(good, &index), MV_OK);
  MvIndexFree(index);
}

TEST(IndexLayout, CraftedInvertedFilesAreRefused) {
  const std::vector<float> faces = clusteredDescriptors(600, 60, 0.3f, 10);
  const Bytes good = savedImage(MV_INDEX_APPROXIMATE, faces);
  const InvertedFile layout(good);
  ASSERT_EQ(layout.count, 600u);
  ASSERT_EQ(layout.lists, 64u);
  ASSERT_EQ(get<uint64_t>(good, layout.map_count_at), 600u);
  ASSERT_EQ(layout.data_at + 600 * (kVectorBytes + 8) + 5, good.size());

  Bytes bad = good;
  put<int32_t>(bad, layout.quantizer + kDimensionAt, 8);
  expectRefused(bad, "a quantizer of dimension 8");
  // One centre more than lists, stored in full.
  bad = good;
  put<int64_t>(bad, layout.quantizer + kCountAt, 65);
  put<uint64_t>(bad, layout.centres_count_at, 65 * 128);
  bad.insert(bad.begin() + static_cast<long>(layout.map_at), kVectorBytes, 0);
  expectRefused(bad, "65 centres for 64 lists");
  bad = good;
  put<uint64_t>(bad, layout.lists_at, uint64_t{1} << 40);
  expectRefused(bad, "2^40 lists");
  bad = good;
  put<uint64_t>(bad, layout.probes_at, 0);
  expectRefused(bad, "no list to visit");
  bad = good;
  put<uint64_t>(bad, layout.firstSizeAt(good), uint64_t{1} << 40);
  expectRefused(bad, "an inflated list size");
  bad = good;
  put<uint64_t>(bad, layout.firstSizeAt(good), get<uint64_t>(good, layout.firstSizeAt(good)) + 1);
  expectRefused(bad, "a list one face longer");
  bad = good;
  put<int64_t>(bad, layout.firstIdsAt(good), 600);
  expectRefused(bad, "an id past the face count");
  bad = good;
  put<int64_t>(bad, layout.firstIdsAt(good), -1);
  expectRefused(bad, "a negative id");
  bad = good;
  put<int64_t>(bad, layout.firstIdsAt(good), get<int64_t>(good, layout.firstIdsAt(good) + 8));
  expectRefused(bad, "one face twice");
  bad = good;
  put<uint64_t>(bad, layout.map_count_at, uint64_t{1} << 50);
  expectRefused(bad, "a direct map of 2^50 entries");

  // A direct-map entry pointing outside its list: the map is made again
  // from the lists, and every face is found where it is.
  bad = good;
  for (size_t id = 0; id < 600; id += 7) put<int64_t>(bad, layout.map_at_entries + id * 8, (int64_t{5000} << 32) | 77);
  MvIndex* index = nullptr;
  ASSERT_EQ(loadImage(bad, &index), MV_OK);
  for (size_t id = 0; id < 600; id += 7) {
    MvNeighbor best[1];
    size_t found = 1;
    ASSERT_EQ(MvIndexSearch(index, &faces[id * 128], 1, MV_SEARCH_EXACT, best, &found), MV_OK);
    EXPECT_EQ(best[0].id, id);
    EXPECT_EQ(best[0].distance, 0.0);
  }
  MvIndexFree(index);
}

}  // namespace
