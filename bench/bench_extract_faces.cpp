// ExtractFaces with the cascade selections: warm (models loaded on this
// thread) and cold (first call on a new thread, which loads the models).
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>

#include "morvik/morvik.h"

namespace {

const cv::Mat& image(const std::string& name) {
  static std::vector<std::pair<std::string, cv::Mat>> cache;
  for (const auto& entry : cache)
    if (entry.first == name) return entry.second;
  cache.emplace_back(name, cv::imread(std::string(MORVIK_TESTDATA) + "/faces/" + name, cv::IMREAD_COLOR));
  return cache.back().second;
}

int extract(const cv::Mat& img, mv::FindFaceAlgoType algo) {
  mv::Face faces[64];
  size_t n = 64;
  const int rc = ExtractFaces(&img, faces, &n, algo);
  benchmark::DoNotOptimize(faces);
  return rc;
}

void BM_ExtractFaces(benchmark::State& state, const char* name, mv::FindFaceAlgoType algo) {
  const cv::Mat& img = image(name);
  if (img.empty()) {
    state.SkipWithError("test photograph missing");
    return;
  }
  extract(img, algo);  // load the models on this thread
  for (auto _ : state) benchmark::DoNotOptimize(extract(img, algo));
}

void BM_ExtractFacesFirstCallOnNewThread(benchmark::State& state, const char* name, mv::FindFaceAlgoType algo) {
  const cv::Mat& img = image(name);
  if (img.empty()) {
    state.SkipWithError("test photograph missing");
    return;
  }
  for (auto _ : state) {
    std::thread t([&] { benchmark::DoNotOptimize(extract(img, algo)); });
    t.join();
  }
}

#define MORVIK_BENCH(fn, label, file, algo)                                                     \
  BENCHMARK_CAPTURE(fn, label, file, algo)->Unit(benchmark::kMillisecond)->UseRealTime() \
      ->Repetitions(5)->ReportAggregatesOnly(true)

MORVIK_BENCH(BM_ExtractFaces, 2008_001322_LBP, "2008_001322.jpg", mv::FindLBP);
MORVIK_BENCH(BM_ExtractFaces, 2008_001322_Haar, "2008_001322.jpg", mv::FindHaar);
MORVIK_BENCH(BM_ExtractFaces, bald_guys_LBP, "bald_guys.jpg", mv::FindLBP);
MORVIK_BENCH(BM_ExtractFaces, bald_guys_Haar, "bald_guys.jpg", mv::FindHaar);
MORVIK_BENCH(BM_ExtractFacesFirstCallOnNewThread, 2008_001322_LBP, "2008_001322.jpg", mv::FindLBP)->Iterations(2);
MORVIK_BENCH(BM_ExtractFacesFirstCallOnNewThread, bald_guys_Haar, "bald_guys.jpg", mv::FindHaar)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
