// Each finder on a 500 x 375 group photo and on a 1280 x 960 image, with
// its model already loaded; pico also on 640 x 480, and its raw scan.
// Run: ./build/bench/bench_finders --benchmark_repetitions=5
//      --benchmark_report_aggregates_only=true
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/findface.h"
#include "morvik/image.h"
#include "morvik/pico.h"

namespace {

cv::Mat photo(const std::string& name) {
  return cv::imread(std::string(MORVIK_TESTDATA) + "/" + name, cv::IMREAD_COLOR);
}

// 0: the 500 x 375 group photo; 1: 1280 x 960; 2: 640 x 480.
const cv::Mat& image(int which) {
  static const cv::Mat images[3] = {
      photo("faces/2008_001322.jpg"),
      [] {
        cv::Mat big;
        cv::resize(photo("faces/bald_guys.jpg"), big, cv::Size(1280, 960), 0, 0, cv::INTER_AREA);
        return big;
      }(),
      [] {
        cv::Mat medium;
        cv::resize(photo("faces/2008_001322.jpg"), medium, cv::Size(640, 480), 0, 0, cv::INTER_CUBIC);
        return medium;
      }(),
  };
  return images[which];
}

void runFinder(benchmark::State& state, FindFaceAlgo& finder) {
  cv::Mat input = image(int(state.range(0))).clone();
  std::vector<cv::Rect> faces;
  finder.findFaces(0, input, faces);  // loads the model
  for (auto _ : state) {
    faces.clear();
    benchmark::DoNotOptimize(finder.findFaces(0, input, faces));
  }
  state.counters["faces"] = double(faces.size());
  state.SetLabel(std::to_string(input.cols) + "x" + std::to_string(input.rows));
}

void BM_Pico(benchmark::State& state) {
  PicoFindFaceAlgo finder;
  runFinder(state, finder);
}
BENCHMARK(BM_Pico)->Arg(0)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond);

// The scan and clustering alone, on a grey 640 x 480 image: no allocation.
void BM_PicoScan(benchmark::State& state) {
  std::vector<char> cascade;
  read_file(g_config.pico_path.c_str(), cascade);
  if (!validPicoCascade(cascade)) {
    state.SkipWithError("no pico cascade");
    return;
  }
  cv::Mat grey;
  cv::cvtColor(image(2), grey, cv::COLOR_BGR2GRAY);
  std::vector<float> rcsq(4 * 2048);
  int clusters = 0;
  for (auto _ : state) {
    int n = find_objects(rcsq.data(), 2048, cascade.data(), 0.0f, grey.ptr<uint8_t>(), grey.rows, grey.cols,
                         int(grey.step[0]), 1.1f, 0.1f, 80.0f, 800.0f);
    clusters = cluster_detections(rcsq.data(), n);
    benchmark::DoNotOptimize(clusters);
  }
  state.counters["clusters"] = clusters;
}
BENCHMARK(BM_PicoScan)->Unit(benchmark::kMillisecond);

void BM_Hog(benchmark::State& state) {
  DlibFindFaceAlgo finder;
  runFinder(state, finder);
}
BENCHMARK(BM_Hog)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Cnn(benchmark::State& state) {
  CnnFindFaceAlgo finder;
  runFinder(state, finder);
}
BENCHMARK(BM_Cnn)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_CnnLight(benchmark::State& state) {
  CnnLightFindFaceAlgo finder;
  runFinder(state, finder);
}
BENCHMARK(BM_CnnLight)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One confirmation: a face of the group photo with a quarter-width margin,
// scaled to the pico target width.
void BM_ConfirmFace(benchmark::State& state) {
  CnnLightConfirmer confirmer(g_config.confirmer_pico);
  const cv::Mat& group = image(0);
  const cv::Rect face(104, 162, 76, 76);
  const int q = face.width / 4;
  cv::Rect area(face.x - q, face.y - q, face.width + 2 * q, face.height + 2 * q);
  const cv::Mat crop = group(area);
  cv::Rect result;
  confirmer.confirmFace(cv::Rect(q, q, face.width, face.height), crop, result);
  for (auto _ : state) {
    cv::Rect candidate(q, q, face.width, face.height);
    benchmark::DoNotOptimize(confirmer.confirmFace(candidate, crop, candidate));
  }
}
BENCHMARK(BM_ConfirmFace)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
