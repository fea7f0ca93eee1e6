// The face collection's index on synthetic descriptors: build time, query
// latency, recall of the approximate index against the exact scan, and
// memory per face, at 10 000, 100 000 and 1 000 000 faces.
//
// Two kinds of collection: "random", unit-length random 128-vectors (the
// hardest case for an approximate index: no structure at all), queried
// with new photos of indexed faces (a small step from one of them); and
// "clustered", people with 20 photos each, queried with new photos of them.
//
// Run (on demand, about ten minutes and 3 GB for all sizes):
//   ./build/bench/bench_collection --benchmark_counters_tabular=true
// Counters: bytes_per_face is what the index holds per face, rss_per_face
// the resident memory the build added per face; compared the descriptors a
// query compared (inverted file only); recall1 and recall10 are
// the share of the exact scan's first (ten) neighbours that the search
// found (for the approximate search only).
#include <cmath>
#include <fstream>
#include <random>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <faiss/IndexIVF.h>

#include "resident_memory.h"
#include "collection/face_index.h"
#include "collection/synthetic_descriptors.h"
#include "morvik/collection.h"

namespace {

using morvik::FaceIndex;
using morvik::Neighbor;

constexpr size_t kQueries = 500;
constexpr size_t kRecallQueries = 200;
constexpr float kPhotoStep = 0.35f;  // between two photos of one person

enum Kind { kRandom = 0, kClustered = 1 };

struct Collection {
  std::vector<float> queries;
  std::unique_ptr<FaceIndex> index;
};

std::map<std::pair<int, size_t>, Collection>& built() {
  static std::map<std::pair<int, size_t>, Collection> collections;
  return collections;
}

double residentBytes() { return bench_support::residentKiB() * 1024.0; }

std::vector<float> facesOf(Kind kind, size_t n) {
  if (kind == kRandom) return testing_support::randomDescriptors(n, 1);
  return testing_support::clusteredDescriptors(n, n / 20, kPhotoStep, 1);
}

// New photos of indexed people.
std::vector<float> queriesOf(Kind kind, size_t n, const std::vector<float>& faces) {
  if (kind == kClustered) return testing_support::clusteredDescriptors(kQueries, n / 20, kPhotoStep, 1, 1);
  std::mt19937 rng(2);
  std::normal_distribution<float> step(0.0f, kPhotoStep / std::sqrt(128.0f));
  std::vector<float> queries(kQueries * 128);
  for (size_t q = 0; q < kQueries; ++q) {
    const float* face = &faces[(q * 7919 % n) * 128];
    for (size_t j = 0; j < 128; ++j) queries[q * 128 + j] = face[j] + step(rng);
    testing_support::normalise(&queries[q * 128]);
  }
  return queries;
}

void BM_Build(benchmark::State& state) {
  const Kind kind = static_cast<Kind>(state.range(0));
  const size_t n = static_cast<size_t>(state.range(1));
  std::vector<float> faces = facesOf(kind, n);
  Collection collection;
  collection.queries = queriesOf(kind, n, faces);
  double rss_added = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    collection.index.reset();
    const double before = residentBytes();
    auto index = std::make_unique<FaceIndex>(MV_INDEX_AUTO);
    state.ResumeTiming();
    index->add(faces.data(), n);
    state.PauseTiming();
    rss_added = residentBytes() - before;
    collection.index = std::move(index);
    state.ResumeTiming();
  }
  state.counters["faces"] = static_cast<double>(n);
  state.counters["approximate"] = collection.index->structure() == MV_INDEX_APPROXIMATE;
  state.counters["bytes_per_face"] = static_cast<double>(collection.index->memoryBytes()) / n;
  state.counters["rss_per_face"] = rss_added / n;
  if (const auto* ivf = dynamic_cast<const faiss::IndexIVF*>(&collection.index->faissIndex())) {
    state.counters["lists"] = static_cast<double>(ivf->nlist);
    state.counters["imbalance"] = ivf->invlists->imbalance_factor();
  }
  built()[{kind, n}] = std::move(collection);
}

void BM_Search(benchmark::State& state) {
  const Kind kind = static_cast<Kind>(state.range(0));
  const size_t n = static_cast<size_t>(state.range(1));
  const bool exact = state.range(2) != 0;
  auto found = built().find({kind, n});
  if (found == built().end()) {
    state.SkipWithError("run BM_Build of the same size first");
    return;
  }
  const Collection& c = found->second;
  size_t q = 0;
  faiss::indexIVF_stats.reset();
  for (auto _ : state) {
    benchmark::DoNotOptimize(c.index->search(&c.queries[q * 128], 10, exact));
    q = (q + 1) % kQueries;
  }
  state.counters["faces"] = static_cast<double>(n);
  // Descriptors compared per query by the inverted file (0 for the flat index).
  state.counters["compared"] =
      static_cast<double>(faiss::indexIVF_stats.ndis) / static_cast<double>(state.iterations());
  if (exact) return;  // the exact scan is its own reference
  // Recall against the exact scan.
  size_t first = 0, ten = 0;
  for (size_t i = 0; i < kRecallQueries; ++i) {
    const std::vector<Neighbor> truth = c.index->search(&c.queries[i * 128], 10, true);
    const std::vector<Neighbor> got = c.index->search(&c.queries[i * 128], 10, exact);
    std::set<uint64_t> want;
    for (const Neighbor& t : truth) want.insert(t.id);
    first += !got.empty() && got[0].id == truth[0].id;
    for (const Neighbor& g : got) ten += want.count(g.id);
  }
  state.counters["recall1"] = static_cast<double>(first) / kRecallQueries;
  state.counters["recall10"] = static_cast<double>(ten) / (kRecallQueries * 10);
}

// Each size is built, then searched, before the next one is built.
void registerAll() {
  for (const int64_t n : {10000, 100000, 1000000}) {
    for (const int64_t kind : {kRandom, kClustered}) {
      const std::string name = std::string(kind == kRandom ? "random" : "clustered") + "/" + std::to_string(n);
      benchmark::RegisterBenchmark(("BM_Build/" + name).c_str(), BM_Build)
          ->Args({kind, n})
          ->Iterations(1)
          ->Unit(benchmark::kMillisecond);
      for (const int64_t exact : {0, 1}) {
        auto* search =
            benchmark::RegisterBenchmark(("BM_Search/" + name + (exact ? "/exact" : "/auto")).c_str(), BM_Search);
        search->Args({kind, n, exact})->Unit(benchmark::kMicrosecond);
        if (exact && n >= 1000000) search->Iterations(20);  // a fifth of a second each
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
