// Grouping faces by person when one person fills the collection: every
// face is within the threshold of every other, the case whose pairs grow
// with the square of the crowd. Time and memory of MvCluster at 20 000
// and 100 000 near-identical faces (the target: 100 000 in under 60 s and
// 1 GB), and at 100 000 faces of 5 000 people for comparison.
//
// Run (on demand, about a minute):
//   ./build/bench/bench_cluster --benchmark_counters_tabular=true
// Counters: groups found, peak_MiB the process's peak resident memory
// (VmHWM) after the call, which includes the descriptors themselves.
//
// Measured on 2 cores shared with other builds (load average about 15, so
// the wall times are several times what an idle machine gives): 100 000
// near-identical faces in one group, 65 s of processor time over both
// threads (57% FAISS's portable distance code scanning the inverted lists,
// 18% chinese_whispers) and 426 MiB at the peak; 20 000 of them 3 s of
// processor time and 130 MiB.
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "collection/synthetic_descriptors.h"
#include "morvik/collection.h"
#include "morvik/morvik.h"

namespace {

double peakMiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      double kb = 0;
      status >> kb;
      return kb / 1024.0;
    }
    status.ignore(4096, '\n');
  }
  return 0.0;
}

// state.range(0) faces of state.range(1) people.
void BM_Cluster(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const auto people = static_cast<size_t>(state.range(1));
  const float spread = people == 1 ? 0.05f : 0.3f;
  const std::vector<float> faces = testing_support::clusteredDescriptors(n, people, spread, 41);
  std::vector<uint32_t> labels(n);
  size_t groups = 0;
  for (auto _ : state) {
    if (MvCluster(faces.data(), n, 0.5, labels.data(), &groups, nullptr, nullptr) != MV_OK) {
      state.SkipWithError("MvCluster failed");
      return;
    }
  }
  state.counters["groups"] = static_cast<double>(groups);
  state.counters["peak_MiB"] = peakMiB();
}

BENCHMARK(BM_Cluster)
    ->Args({20000, 1})
    ->Args({100000, 1})
    ->Args({100000, 5000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
