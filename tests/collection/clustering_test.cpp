// Grouping faces by person: synthetic people come out whole and apart,
// and so do the people of the test photographs.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "collection/synthetic_descriptors.h"
#include "morvik/collection.h"
#include "morvik/morvik.h"
#include "support/forked_child.h"
#include "support/test_support.h"

namespace {

using testing_support::clusteredDescriptors;
using testing_support::photo;

// The descriptor of the largest face that dlib's HOG finder sees.
std::vector<float> largestFace(const std::string& file) {
  const cv::Mat image = photo(file);
  std::vector<float> descriptor(128);
  mv::Face faces[8];
  size_t count = 8;
  EXPECT_EQ(ExtractFaces(&image, faces, &count, mv::FindDlib), MV_OK) << file;
  EXPECT_EQ(ExtractVector(&image, &faces[0], descriptor.data()), MV_OK) << file;
  return descriptor;
}

// Every group holds one person, and every person is in one group.
void expectGroupsArePeople(const std::vector<uint32_t>& labels, const std::vector<size_t>& person) {
  std::map<uint32_t, std::set<size_t>> people_of_group;
  std::map<size_t, std::set<uint32_t>> groups_of_person;
  for (size_t i = 0; i < labels.size(); ++i) {
    people_of_group[labels[i]].insert(person[i]);
    groups_of_person[person[i]].insert(labels[i]);
  }
  for (const auto& [group, people] : people_of_group) EXPECT_EQ(people.size(), 1u) << "group " << group;
  for (const auto& [who, groups] : groups_of_person) EXPECT_EQ(groups.size(), 1u) << "person " << who;
}

TEST(Cluster, SyntheticPeopleStayWholeAndApart) {
  // 40 people with 1 to 12 faces each, in mixed order.
  std::vector<float> faces;
  std::vector<size_t> person;
  const std::vector<float> pool = clusteredDescriptors(40 * 12, 40, 0.3f, 21);
  for (size_t i = 0; i < 40 * 12; ++i) {
    const size_t who = i % 40;
    if (i / 40 > who % 12) continue;
    faces.insert(faces.end(), pool.begin() + i * 128, pool.begin() + (i + 1) * 128);
    person.push_back(who);
  }
  std::vector<uint32_t> labels(person.size());
  size_t clusters = 0;
  size_t calls = 0;
  auto progress = [](void* calls, uint64_t done, uint64_t total) {
    ++*static_cast<size_t*>(calls);
    EXPECT_LE(done, total);
  };
  ASSERT_EQ(MvCluster(faces.data(), person.size(), 0.5, labels.data(), &clusters, progress, &calls), MV_OK);
  EXPECT_EQ(clusters, 40u);
  EXPECT_GE(calls, 1u);
  expectGroupsArePeople(labels, person);
  // Group 0 is the largest: the people with 12 faces come first.
  std::vector<size_t> sizes(clusters, 0);
  for (const uint32_t label : labels) ++sizes[label];
  for (size_t g = 1; g < clusters; ++g) EXPECT_GE(sizes[g - 1], sizes[g]);
  EXPECT_EQ(sizes[0], 12u);
}

TEST(Cluster, ThePeopleOfTheTestPhotographs) {
  const std::vector<std::pair<std::string, size_t>> files = {
      {"people/obama/obama.jpg", 0}, {"people/biden/biden.jpg", 1},  {"people/obama/obama2.jpg", 0},
      {"people/biden/biden2.jpg", 1}, {"people/obama/obama3.jpg", 0}};
  std::vector<float> faces;
  std::vector<size_t> person;
  for (const auto& [file, who] : files) {
    const std::vector<float> d = largestFace(file);
    faces.insert(faces.end(), d.begin(), d.end());
    person.push_back(who);
  }
  std::vector<uint32_t> labels(files.size());
  size_t clusters = 0;
  ASSERT_EQ(MvCluster(faces.data(), files.size(), 0.5, labels.data(), &clusters, nullptr, nullptr), MV_OK);
  EXPECT_EQ(clusters, 2u);
  expectGroupsArePeople(labels, person);
  EXPECT_EQ(labels[0], 0u);  // the three photos of the first man are the larger group
}

TEST(Cluster, ACrowdOfNearIdenticalFacesIsOneGroup) {
  // Every face within the threshold of every other: the pairs would grow
  // with the square of the crowd, the neighbour lists stay bounded.
  constexpr size_t kCrowd = 10000;
  const std::vector<float> faces = clusteredDescriptors(kCrowd, 1, 0.05f, 31);
  std::vector<uint32_t> labels(kCrowd, 7);
  size_t clusters = 0;
  ASSERT_EQ(MvCluster(faces.data(), kCrowd, 0.5, labels.data(), &clusters, nullptr, nullptr), MV_OK);
  EXPECT_EQ(clusters, 1u);
  EXPECT_EQ(std::count(labels.begin(), labels.end(), 0u), static_cast<long>(kCrowd));
}

TEST(Cluster, NonFiniteValuesAndOverflowingCountsAreRefused) {
  std::vector<float> faces = clusteredDescriptors(4, 2, 0.1f, 6);
  std::vector<uint32_t> labels(4);
  size_t clusters = 9;
  faces[3 * 128 + 100] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(MvCluster(faces.data(), 4, 0.5, labels.data(), &clusters, nullptr, nullptr), MV_INVALID_ARGS);
  faces[3 * 128 + 100] = -INFINITY;
  EXPECT_EQ(MvCluster(faces.data(), 4, 0.5, labels.data(), &clusters, nullptr, nullptr), MV_INVALID_ARGS);
  // A count whose bytes a size_t cannot hold is a caller's mistake, not an
  // allocation that fails.
  const size_t overflowing = std::numeric_limits<size_t>::max() / 256;
  EXPECT_EQ(MvCluster(faces.data(), overflowing, 0.5, labels.data(), &clusters, nullptr, nullptr), MV_INVALID_ARGS);
  EXPECT_EQ(clusters, 9u);
}

TEST(Cluster, EdgeCases) {
  size_t clusters = 7;
  EXPECT_EQ(MvCluster(nullptr, 0, 0.5, nullptr, &clusters, nullptr, nullptr), MV_OK);
  EXPECT_EQ(clusters, 0u);
  const std::vector<float> faces = clusteredDescriptors(3, 3, 0.1f, 5);
  std::vector<uint32_t> labels(3);
  EXPECT_EQ(MvCluster(faces.data(), 3, 0.0, labels.data(), &clusters, nullptr, nullptr), MV_INVALID_ARGS);
  EXPECT_EQ(MvCluster(faces.data(), 3, 0.5, nullptr, &clusters, nullptr, nullptr), MV_INVALID_ARGS);
  ASSERT_EQ(MvCluster(faces.data(), 3, 0.5, labels.data(), &clusters, nullptr, nullptr), MV_OK);
  EXPECT_EQ(clusters, 3u);  // three people far apart: three groups of one
  MvIndex* index = nullptr;
  ASSERT_EQ(MvIndexCreate(MV_INDEX_AUTO, &index), MV_OK);
  ASSERT_EQ(MvIndexAdd(index, faces.data(), 3), MV_OK);
  EXPECT_EQ(MvIndexCluster(index, 0.5, labels.data(), 2, &clusters, nullptr, nullptr), MV_INVALID_ARGS);
  EXPECT_EQ(MvIndexCluster(index, 0.5, labels.data(), 3, &clusters, nullptr, nullptr), MV_OK);
  MvIndexFree(index);
}

}  // namespace

// A host that forks after clustering (Python's multiprocessing does) gets a
// child that clusters and searches: OpenMP's threads stayed in the parent,
// so the child's collection work runs on its one thread.
TEST(ClusteringFork, AChildForkedAfterAClusteringClustersAndSearches) {
  const size_t count = 3000;
  const std::vector<float> faces = clusteredDescriptors(count, 30, 0.3f, 11);
  MvIndex* index = nullptr;
  ASSERT_EQ(MvIndexCreate(MV_INDEX_EXACT, &index), MV_OK);
  ASSERT_EQ(MvIndexAdd(index, faces.data(), count), MV_OK);
  std::vector<uint32_t> labels(count);
  size_t groups = 0;
  ASSERT_EQ(MvIndexCluster(index, 0.5, labels.data(), labels.size(), &groups, nullptr, nullptr), MV_OK);
  const size_t parent_groups = groups;
  const std::string child = testing_support::inForkedChild(
      [&] {
        std::vector<uint32_t> again(count);
        size_t found_groups = 0;
        if (MvIndexCluster(index, 0.5, again.data(), again.size(), &found_groups, nullptr, nullptr) != MV_OK) return 1;
        if (found_groups != parent_groups || again != labels) return 2;
        MvNeighbor neighbors[5];
        size_t found = 5;
        if (MvIndexSearch(index, faces.data(), 5, MV_SEARCH_EXACT, neighbors, &found) != MV_OK || found != 5) return 3;
        return neighbors[0].id == 0 ? 0 : 4;
      },
      60);
  EXPECT_EQ(child, "exit 0");
  MvIndexFree(index);
}
