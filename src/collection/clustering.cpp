#include "collection/clustering.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <stdexcept>

#include <dlib/clustering.h>

namespace morvik {
namespace {

constexpr size_t kBatch = 1024;
// Each face is joined to at most this many of its nearest faces closer than
// the threshold (and to those that count it among theirs). A person whose
// faces have fewer close neighbours than this is joined exactly as by
// every close pair; a crowd of near-identical faces becomes a graph that
// grows with the number of faces rather than its square, and chinese
// whispers still carries one label across it.
constexpr size_t kNeighbours = 32;

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
  if (n > std::numeric_limits<uint32_t>::max()) throw std::invalid_argument("too many faces to group");
  // Each edge once, as (smaller id, larger id): a face and its neighbour
  // usually find each other.
  std::vector<std::pair<uint32_t, uint32_t>> links;
  std::vector<float> batch(kBatch * kDescriptorSize);
  std::vector<std::pair<uint64_t, uint64_t>> pairs;
  for (size_t first = 0; first < n; first += kBatch) {
    const size_t count = std::min(kBatch, n - first);
    index.vectors(first, count, batch.data());
    pairs.clear();
    // One more than the neighbours kept: the face itself comes first.
    index.nearby(batch.data(), count, kNeighbours + 1, threshold, pairs);
    for (const auto& pair : pairs) {
      const uint64_t a = first + pair.first, b = pair.second;
      if (a != b) links.emplace_back(static_cast<uint32_t>(std::min(a, b)), static_cast<uint32_t>(std::max(a, b)));
    }
    if (progress) progress(context, first + count, n);
  }
  std::sort(links.begin(), links.end());
  links.erase(std::unique(links.begin(), links.end()), links.end());
  std::vector<dlib::sample_pair> edges;
  edges.reserve(links.size() + n);
  for (const auto& link : links) edges.emplace_back(link.first, link.second);
  links = {};
  // Each face is an edge to itself, as in dlib's example, so that a face
  // without neighbours still gets a group of its own.
  for (size_t i = 0; i < n; ++i) edges.emplace_back(i, i);
  std::vector<unsigned long> raw;
  dlib::chinese_whispers(edges, raw);
  return renumberBySize(raw, labels);
}

}  // namespace morvik
