#include "collection/clustering.h"

#include <algorithm>
#include <numeric>

#include <dlib/clustering.h>

namespace morvik {
namespace {

constexpr size_t kBatch = 1024;

// Group numbers by size, largest first; among groups of the same size the
// one whose first face comes first.
size_t renumberBySize(const std::vector<unsigned long>& raw, std::vector<uint32_t>& labels) {
  size_t groups = 0;
  for (const unsigned long label : raw) groups = std::max<size_t>(groups, label + 1);
  std::vector<size_t> sizes(groups, 0), first(groups, raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    ++sizes[raw[i]];
    first[raw[i]] = std::min(first[raw[i]], i);
  }
  std::vector<size_t> order(groups);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return sizes[a] != sizes[b] ? sizes[a] > sizes[b] : first[a] < first[b];
  });
  std::vector<uint32_t> rank(groups);
  for (size_t r = 0; r < groups; ++r) rank[order[r]] = static_cast<uint32_t>(r);
  labels.resize(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) labels[i] = rank[raw[i]];
  return groups;
}

}  // namespace

size_t clusterFaces(const FaceIndex& index, double threshold, std::vector<uint32_t>& labels,
                    MvProgress progress, void* context) {
  const size_t n = index.size();
  labels.clear();
  if (n == 0) return 0;
  // Each face is an edge to itself, as in dlib's example, so that a face
  // without neighbours still gets a group of its own.
  std::vector<dlib::sample_pair> edges;
  std::vector<float> batch(kBatch * kDescriptorSize);
  std::vector<std::pair<uint64_t, uint64_t>> pairs;
  for (size_t first = 0; first < n; first += kBatch) {
    const size_t count = std::min(kBatch, n - first);
    index.vectors(first, count, batch.data());
    pairs.clear();
    index.range(batch.data(), count, threshold, pairs);
    for (const auto& pair : pairs) {
      const uint64_t a = first + pair.first, b = pair.second;
      if (a < b) edges.emplace_back(a, b);
    }
    if (progress) progress(context, first + count, n);
  }
  for (size_t i = 0; i < n; ++i) edges.emplace_back(i, i);
  std::vector<unsigned long> raw;
  dlib::chinese_whispers(edges, raw);
  return renumberBySize(raw, labels);
}

}  // namespace morvik
