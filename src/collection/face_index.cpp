#include "collection/face_index.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <stdexcept>

#include <faiss/IndexFlat.h>
#include <faiss/IndexIVFFlat.h>
#include <faiss/invlists/InvertedLists.h>

#include "collection/omp_threads.h"

namespace morvik {
namespace {

// Inverted lists: about 2 sqrt(n) of them (2048 at most), each trained on
// up to 64 faces (k-means on two cores stays within seconds for a million
// faces), and a query visits one list in 64 (at least 16): at a million
// faces that compares about 16 000 descriptors, a few milliseconds with
// FAISS's portable distance code.
constexpr size_t kMinLists = 64;
constexpr size_t kMaxLists = 2048;
constexpr size_t kTrainingPerList = 64;
constexpr size_t kMinProbes = 16;
constexpr size_t kProbeFraction = 64;
// The lists are trained again when the index has grown this many times over
// the faces they were trained on.
constexpr size_t kRetrainGrowth = 4;
// Candidates fetched beyond k, so that the final order is by the library's
// own distance rather than FAISS's (which differs in the last bits).
constexpr size_t kExtraCandidates = 16;

size_t listsFor(size_t count) {
  const size_t lists = static_cast<size_t>(2.0 * std::sqrt(static_cast<double>(count)));
  return std::clamp(lists, kMinLists, kMaxLists);
}

size_t probesFor(size_t lists) { return std::max(kMinProbes, lists / kProbeFraction); }

const faiss::IndexIVFFlat* asIvf(const faiss::Index* index) {
  return dynamic_cast<const faiss::IndexIVFFlat*>(index);
}

// NaN and infinities would reach FAISS's heaps and k-means, where they do
// not compare; every descriptor and query is a finite point.
void requireFinite(const float* values, size_t count) {
  if (!std::all_of(values, values + count * kDescriptorSize, [](float v) { return std::isfinite(v); })) {
    throw std::invalid_argument("a descriptor holds a value that is not finite");
  }
}

// The same for descriptors stored as FAISS's codes (bytes).
void requireFiniteCodes(const std::vector<uint8_t>& codes) {
  for (size_t at = 0; at + sizeof(float) <= codes.size(); at += sizeof(float)) {
    float value;
    std::memcpy(&value, codes.data() + at, sizeof value);
    if (!std::isfinite(value)) throw std::invalid_argument("a stored descriptor holds a value that is not finite");
  }
}

// An inverted file read from a file: FAISS asserts (aborts) on lists,
// ids or a quantizer that contradict each other, so they are checked here
// first. Every id names one face below the count, once.
void checkInvertedFile(const faiss::IndexIVFFlat& ivf) {
  const auto* quantizer = dynamic_cast<const faiss::IndexFlatL2*>(ivf.quantizer);
  if (quantizer == nullptr || quantizer->d != static_cast<int>(kDescriptorSize) ||
      static_cast<size_t>(quantizer->ntotal) != ivf.nlist || ivf.nlist == 0) {
    throw std::invalid_argument("the quantizer does not hold one centre per list");
  }
  requireFinite(quantizer->get_xb(), ivf.nlist);
  if (ivf.nprobe == 0 || ivf.nprobe > ivf.nlist) throw std::invalid_argument("lists to visit out of range");
  const auto* lists = dynamic_cast<const faiss::ArrayInvertedLists*>(ivf.invlists);
  if (lists == nullptr || lists->nlist != ivf.nlist || lists->code_size != kDescriptorSize * sizeof(float)) {
    throw std::invalid_argument("inverted lists of another kind");
  }
  const auto total = static_cast<size_t>(ivf.ntotal);
  std::vector<bool> seen(total, false);
  size_t held = 0;
  for (size_t list = 0; list < lists->nlist; ++list) {
    if (lists->codes[list].size() != lists->ids[list].size() * lists->code_size) {
      throw std::invalid_argument("a list's codes and ids differ in number");
    }
    requireFiniteCodes(lists->codes[list]);
    for (const faiss::Index::idx_t id : lists->ids[list]) {
      if (id < 0 || static_cast<size_t>(id) >= total || seen[static_cast<size_t>(id)]) {
        throw std::invalid_argument("a list names a face the index does not hold, or one twice");
      }
      seen[static_cast<size_t>(id)] = true;
      ++held;
    }
  }
  if (held != total) throw std::invalid_argument("the lists do not hold every face");
}

}  // namespace

FaceIndex::FaceIndex(int policy)
    : policy_(policy), index_(std::make_unique<faiss::IndexFlatL2>(kDescriptorSize)) {
  if (policy != MV_INDEX_AUTO && policy != MV_INDEX_EXACT && policy != MV_INDEX_APPROXIMATE) {
    throw std::invalid_argument("unknown index policy");
  }
}

FaceIndex::~FaceIndex() = default;

int FaceIndex::structure() const { return asIvf(index_.get()) ? MV_INDEX_APPROXIMATE : MV_INDEX_EXACT; }

size_t FaceIndex::size() const { return static_cast<size_t>(index_->ntotal); }

size_t FaceIndex::memoryBytes() const {
  const size_t n = size();
  if (const faiss::IndexIVFFlat* ivf = asIvf(index_.get())) {
    // Descriptor and id in the lists, the id's place in the direct map, the
    // list centroids.
    return n * (kDescriptorSize * sizeof(float) + 2 * sizeof(faiss::Index::idx_t)) +
           ivf->nlist * kDescriptorSize * sizeof(float);
  }
  return n * kDescriptorSize * sizeof(float);
}

int FaceIndex::wantedStructure(size_t total) const {
  if (policy_ == MV_INDEX_EXACT) return MV_INDEX_EXACT;
  if (policy_ == MV_INDEX_APPROXIMATE) return total >= kMinLists ? MV_INDEX_APPROXIMATE : MV_INDEX_EXACT;
  return total > kExactLimit ? MV_INDEX_APPROXIMATE : MV_INDEX_EXACT;
}

void FaceIndex::add(const float* vectors, size_t count) {
  if (count == 0) return;
  requireFinite(vectors, count);
  BoundedThreads threads;
  const size_t total = size() + count;
  const int wanted = wantedStructure(total);
  const bool retrain = wanted == MV_INDEX_APPROXIMATE &&
                       (structure() == MV_INDEX_EXACT || total > kRetrainGrowth * trained_);
  if (wanted != structure() || retrain) {
    reshapeFor(total, vectors, count);
    return;
  }
  index_->add(static_cast<faiss::Index::idx_t>(count), vectors);
}

void FaceIndex::reshapeFor(size_t total, const float* extra, size_t extra_count) {
  std::vector<float> all(total * kDescriptorSize);
  const size_t held = size();
  vectors(0, held, all.data());
  std::copy(extra, extra + extra_count * kDescriptorSize, all.begin() + held * kDescriptorSize);
  if (wantedStructure(total) == MV_INDEX_EXACT) {
    auto flat = std::make_unique<faiss::IndexFlatL2>(kDescriptorSize);
    flat->add(static_cast<faiss::Index::idx_t>(total), all.data());
    index_ = std::move(flat);
    trained_ = 0;
    return;
  }
  buildApproximate(all, total);
}

void FaceIndex::buildApproximate(std::vector<float>& all, size_t count) {
  const size_t lists = listsFor(count);
  auto quantizer = std::make_unique<faiss::IndexFlatL2>(kDescriptorSize);
  auto ivf = std::make_unique<faiss::IndexIVFFlat>(quantizer.get(), kDescriptorSize, lists);
  ivf->own_fields = true;
  quantizer.release();
  ivf->cp.niter = 20;
  ivf->cp.seed = 1234;  // the same faces give the same index
  ivf->nprobe = probesFor(lists);
  ivf->set_direct_map_type(faiss::DirectMap::Array);
  // Training faces drawn at random (with a fixed seed: the same faces give
  // the same index). Every n-th face would do as well for photos taken in
  // any order, but not for a collection whose order repeats, where it would
  // train the lists on a few people only.
  const size_t wanted = std::min(count, lists * kTrainingPerList);
  std::vector<uint32_t> order(count);
  std::iota(order.begin(), order.end(), 0u);
  std::mt19937 rng(1234);
  std::vector<float> sample(wanted * kDescriptorSize);
  for (size_t i = 0; i < wanted; ++i) {
    std::swap(order[i], order[i + rng() % (count - i)]);
    std::copy_n(all.data() + size_t{order[i]} * kDescriptorSize, kDescriptorSize,
                sample.data() + i * kDescriptorSize);
  }
  order = std::vector<uint32_t>();
  ivf->train(static_cast<faiss::Index::idx_t>(wanted), sample.data());
  sample = std::vector<float>();
  ivf->add(static_cast<faiss::Index::idx_t>(count), all.data());
  index_ = std::move(ivf);
  trained_ = count;
}

void FaceIndex::adopt(std::unique_ptr<faiss::Index> index, size_t trained) {
  if (index == nullptr || index->d != static_cast<int>(kDescriptorSize) ||
      index->metric_type != faiss::METRIC_L2) {
    throw std::invalid_argument("not an index of face descriptors");
  }
  if (auto* ivf = dynamic_cast<faiss::IndexIVFFlat*>(index.get())) {
    checkInvertedFile(*ivf);
    // The map from id to place is made from the lists just checked, never
    // taken from the file: a stored entry outside its list would be read.
    ivf->set_direct_map_type(faiss::DirectMap::NoMap);
    ivf->set_direct_map_type(faiss::DirectMap::Array);
    trained_ = std::min(trained, static_cast<size_t>(ivf->ntotal));
  } else if (const auto* flat = dynamic_cast<faiss::IndexFlatL2*>(index.get())) {
    requireFinite(flat->get_xb(), static_cast<size_t>(flat->ntotal));
    trained_ = 0;
  } else {
    throw std::invalid_argument("not an index of face descriptors");
  }
  index_ = std::move(index);
}

void FaceIndex::vectors(size_t first, size_t count, float* out) const {
  if (first > size() || count > size() - first) throw std::out_of_range("no such face");
  if (count == 0) return;
  if (const auto* flat = dynamic_cast<const faiss::IndexFlatL2*>(index_.get())) {
    std::copy_n(flat->get_xb() + first * kDescriptorSize, count * kDescriptorSize, out);
    return;
  }
  index_->reconstruct_n(static_cast<faiss::Index::idx_t>(first), static_cast<faiss::Index::idx_t>(count), out);
}

std::vector<Neighbor> FaceIndex::search(const float* query, size_t k, bool exact) const {
  requireFinite(query, 1);
  const size_t n = size();
  k = std::min(k, n);
  if (k == 0) return {};
  BoundedThreads threads(1);
  const size_t fetched = std::min(n, k + kExtraCandidates);
  std::vector<float> distances(fetched);
  std::vector<faiss::Index::idx_t> ids(fetched);
  const faiss::IndexIVFFlat* ivf = asIvf(index_.get());
  faiss::SearchParametersIVF params;
  if (ivf) params.nprobe = exact ? ivf->nlist : ivf->nprobe;
  index_->search(1, query, static_cast<faiss::Index::idx_t>(fetched), distances.data(), ids.data(),
                 ivf ? &params : nullptr);
  std::vector<Neighbor> found;
  std::vector<float> vector(kDescriptorSize);
  for (const faiss::Index::idx_t id : ids) {
    if (id < 0) continue;  // fewer faces in the visited lists than asked
    index_->reconstruct(id, vector.data());
    found.push_back({static_cast<uint64_t>(id), descriptorDistance(query, vector.data())});
  }
  std::sort(found.begin(), found.end(), [](const Neighbor& a, const Neighbor& b) {
    return a.distance != b.distance ? a.distance < b.distance : a.id < b.id;
  });
  if (found.size() > k) found.resize(k);
  return found;
}

void FaceIndex::nearby(const float* queries, size_t count, size_t k, double radius,
                       std::vector<std::pair<uint64_t, uint64_t>>& pairs) const {
  k = std::min(k, size());
  if (count == 0 || k == 0) return;
  // The exact index answers a batch with BLAS products (threaded by BLAS
  // itself), each followed by a parallel update of the queries' heaps: there
  // OpenMP's threads mostly wait for each other at every block's end (three
  // times the processor time of one thread for 20 000 faces on a busy
  // machine). The inverted file's batch is one parallel loop over queries.
  BoundedThreads threads(asIvf(index_.get()) ? kCollectionThreads : 1);
  std::vector<float> distances(count * k);
  std::vector<faiss::Index::idx_t> ids(count * k);
  index_->search(static_cast<faiss::Index::idx_t>(count), queries, static_cast<faiss::Index::idx_t>(k),
                 distances.data(), ids.data());
  // FAISS compares squared distances in its own arithmetic: a margin keeps
  // the faces at the boundary, which the library's distance then decides.
  const float margin = static_cast<float>(radius * radius * 1.001 + 1e-6);
  std::vector<float> vector(kDescriptorSize);
  for (size_t q = 0; q < count; ++q) {
    for (size_t j = q * k; j < (q + 1) * k; ++j) {
      if (ids[j] < 0 || !(distances[j] < margin)) continue;
      index_->reconstruct(ids[j], vector.data());
      if (descriptorDistance(queries + q * kDescriptorSize, vector.data()) < radius) {
        pairs.emplace_back(q, static_cast<uint64_t>(ids[j]));
      }
    }
  }
}

}  // namespace morvik
