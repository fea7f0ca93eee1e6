// The nearest-neighbour index: the exact index is a brute-force scan, the
// approximate one finds nearly all of the exact neighbours, and the
// automatic policy switches between them at the limit.
#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "collection/face_index.h"
#include "collection/synthetic_descriptors.h"
#include "morvik/collection.h"
#include "morvik/morvik.h"

namespace {

using morvik::FaceIndex;
using morvik::Neighbor;
using testing_support::clusteredDescriptors;
using testing_support::randomDescriptors;

// Every face compared with the query by CompareVectors, nearest first.
std::vector<Neighbor> bruteForce(const std::vector<float>& faces, const float* query, size_t k) {
  std::vector<Neighbor> all;
  for (size_t i = 0; i < faces.size() / 128; ++i) {
    double d = 0.0;
    EXPECT_EQ(0, CompareVectors(&faces[i * 128], 512, query, 512, &d));
    all.push_back({i, d});
  }
  std::sort(all.begin(), all.end(), [](const Neighbor& a, const Neighbor& b) {
    return a.distance != b.distance ? a.distance < b.distance : a.id < b.id;
  });
  all.resize(std::min(k, all.size()));
  return all;
}

TEST(FaceIndex, ExactSearchIsABruteForceScan) {
  const std::vector<float> faces = randomDescriptors(5000, 7);
  const std::vector<float> queries = clusteredDescriptors(50, 50, 0.3f, 8);
  FaceIndex index(MV_INDEX_AUTO);
  index.add(faces.data(), 3000);  // in two parts, as an index grows
  index.add(faces.data() + 3000 * 128, 2000);
  ASSERT_EQ(index.structure(), MV_INDEX_EXACT);
  ASSERT_EQ(index.size(), 5000u);
  for (size_t q = 0; q < 50; ++q) {
    const std::vector<Neighbor> want = bruteForce(faces, &queries[q * 128], 10);
    const std::vector<Neighbor> got = index.search(&queries[q * 128], 10, false);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(got[i].id, want[i].id) << "query " << q << " rank " << i;
      EXPECT_EQ(got[i].distance, want[i].distance) << "query " << q << " rank " << i;
    }
  }
  // A database face finds itself at distance 0.
  const std::vector<Neighbor> self = index.search(&faces[1234 * 128], 1, false);
  ASSERT_EQ(self.size(), 1u);
  EXPECT_EQ(self[0].id, 1234u);
  EXPECT_EQ(self[0].distance, 0.0);
  // Asking for more than there is gives everything.
  FaceIndex small(MV_INDEX_EXACT);
  small.add(faces.data(), 3);
  EXPECT_EQ(small.search(queries.data(), 10, false).size(), 3u);
  EXPECT_TRUE(FaceIndex(MV_INDEX_AUTO).search(queries.data(), 5, false).empty());
}

TEST(FaceIndex, ApproximateRecallOnClusteredFaces) {
  // 100 000 faces of 2 000 people, 50 photos each; the queries are new
  // photos of some of them.
  constexpr size_t kFaces = 100000, kPeople = 2000, kQueries = 200;
  const std::vector<float> faces = clusteredDescriptors(kFaces, kPeople, 0.35f, 11);
  // New photos of the indexed people: the same centres, other steps.
  const std::vector<float> asked = clusteredDescriptors(kQueries, kPeople, 0.35f, 11, 1);
  FaceIndex index(MV_INDEX_AUTO);
  index.add(faces.data(), kFaces);
  ASSERT_EQ(index.structure(), MV_INDEX_APPROXIMATE);
  ASSERT_EQ(index.size(), kFaces);
  size_t hits = 0;
  for (size_t q = 0; q < kQueries; ++q) {
    const float* query = &asked[q * 128];
    std::set<uint64_t> exact;
    for (const Neighbor& n : index.search(query, 10, true)) exact.insert(n.id);
    ASSERT_EQ(exact.size(), 10u);
    for (const Neighbor& n : index.search(query, 10, false)) hits += exact.count(n.id);
  }
  const double recall = static_cast<double>(hits) / (kQueries * 10);
  EXPECT_GE(recall, 0.95);
  // The exact scan through the approximate index is the brute-force one.
  const std::vector<Neighbor> want = bruteForce(faces, &asked[0], 5);
  const std::vector<Neighbor> got = index.search(&asked[0], 5, true);
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i].id, want[i].id);
  // Every descriptor comes back as it was given.
  std::vector<float> back(3 * 128);
  index.vectors(kFaces - 3, 3, back.data());
  EXPECT_TRUE(std::equal(back.begin(), back.end(), faces.end() - 3 * 128));
}

TEST(FaceIndex, PoliciesDecideTheStructure) {
  const size_t limit = morvik::kExactLimit;
  const std::vector<float> faces = randomDescriptors(limit + 100, 3);
  FaceIndex automatic(MV_INDEX_AUTO);
  automatic.add(faces.data(), limit);
  EXPECT_EQ(automatic.structure(), MV_INDEX_EXACT);
  automatic.add(faces.data() + limit * 128, 100);  // past the limit: rebuilt approximate
  EXPECT_EQ(automatic.structure(), MV_INDEX_APPROXIMATE);
  EXPECT_EQ(automatic.size(), limit + 100);
  std::vector<float> back(128);
  automatic.vectors(limit + 50, 1, back.data());
  EXPECT_TRUE(std::equal(back.begin(), back.end(), faces.begin() + (limit + 50) * 128));

  FaceIndex exact(MV_INDEX_EXACT);
  exact.add(faces.data(), limit + 100);
  EXPECT_EQ(exact.structure(), MV_INDEX_EXACT);
  EXPECT_THROW(FaceIndex(7), std::invalid_argument);
}

TEST(FaceIndexEntryPoints, BadArgumentsAreRefused) {
  MvIndex* index = nullptr;
  EXPECT_EQ(MvIndexCreate(9, &index), MV_INVALID_ARGS);
  EXPECT_EQ(index, nullptr);
  ASSERT_EQ(MvIndexCreate(MV_INDEX_AUTO, &index), MV_OK);
  const std::vector<float> faces = randomDescriptors(10, 5);
  EXPECT_EQ(MvIndexAdd(index, nullptr, 3), MV_INVALID_ARGS);
  ASSERT_EQ(MvIndexAdd(index, faces.data(), 10), MV_OK);
  MvNeighbor results[4];
  size_t found = 2;
  EXPECT_EQ(MvIndexSearch(index, faces.data(), 4, 0, results, &found), MV_INVALID_ARGS);  // room for 2
  found = 4;
  EXPECT_EQ(MvIndexSearch(index, faces.data(), 4, 0x80, results, &found), MV_INVALID_ARGS);
  ASSERT_EQ(MvIndexSearch(index, faces.data(), 4, MV_SEARCH_EXACT, results, &found), MV_OK);
  EXPECT_EQ(found, 4u);
  EXPECT_EQ(results[0].id, 0u);
  // Values that are not finite: the whole call is refused, nothing added.
  std::vector<float> bad(faces.begin(), faces.begin() + 3 * 128);
  for (const float value : {std::nanf(""), INFINITY, -INFINITY}) {
    bad[2 * 128 + 5] = value;
    EXPECT_EQ(MvIndexAdd(index, bad.data(), 3), MV_INVALID_ARGS) << value;
    found = 4;
    EXPECT_EQ(MvIndexSearch(index, &bad[2 * 128], 4, 0, results, &found), MV_INVALID_ARGS) << value;
    EXPECT_EQ(MvIndexSearch(index, &bad[2 * 128], 4, MV_SEARCH_EXACT, results, &found), MV_INVALID_ARGS);
  }
  float out[128];
  EXPECT_EQ(MvIndexGetVectors(index, 10, 1, out), MV_INVALID_ARGS);
  EXPECT_EQ(MvIndexGetVectors(index, 9, 1, out), MV_OK);
  MvIndexInfo info;
  ASSERT_EQ(MvIndexGetInfo(index, &info), MV_OK);
  EXPECT_EQ(info.count, 10u);
  EXPECT_EQ(info.structure, MV_INDEX_EXACT);
  EXPECT_EQ(info.memory, 10u * 512);
  MvIndexFree(index);
  MvIndexFree(nullptr);
}

}  // namespace
