// The YuNet network, image to faces (score 0.2), with its model loaded:
// on one thread for each group photo of boxes.csv (500 x 375, or 360 x
// 480) and for a 640 x 480 photo; bald_guys.jpg (1986 x 1545) on one and
// two threads; each instruction set on the 640 x 480 photo; the chain 0x1E
// (LBP, Haar, HOG, CNN) on the group photos beside them; and the largest
// working image, with its peak memory. The counters give the multiply-adds
// per second, to set against the floor: the network's multiply-adds
// (yunetMultiplyAdds) at this processor's peak rate.
// Run: OPENBLAS_NUM_THREADS=1 ./build/bench/bench_yunet --benchmark_repetitions=5
//      --benchmark_report_aggregates_only=true
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/cnn/yunet.h"
#include "models/yunet_loader.h"
#include "morvik/config.h"
#include "morvik/morvik.h"
#include "resident_memory.h"

namespace {

constexpr float kScore = 0.2f;

cv::Mat photo(const std::string& name) {
  return cv::imread(std::string(MORVIK_TESTDATA) + "/" + name, cv::IMREAD_COLOR);
}

struct Photo {
  const char* name;
  cv::Mat image;
};

// 0-3: the group photos (500 x 375 but 2008_001009, 360 x 480); 4: 640 x
// 480; 5: bald_guys.
const Photo& photoAt(int64_t which) {
  static const std::vector<Photo> photos = [] {
    std::vector<Photo> p = {{"2007_007763", photo("faces/2007_007763.jpg")},
                            {"2008_001009", photo("faces/2008_001009.jpg")},
                            {"2008_001322", photo("faces/2008_001322.jpg")},
                            {"2008_002079", photo("faces/2008_002079.jpg")},
                            {"two_people 640x480", cv::Mat()},
                            {"bald_guys", photo("faces/bald_guys.jpg")}};
    cv::resize(photo("faces/two_people.jpg"), p[4].image, cv::Size(640, 480), 0, 0, cv::INTER_AREA);
    return p;
  }();
  return photos[static_cast<size_t>(which)];
}

const morvik::YunetNetwork* network() {
  static const std::shared_ptr<const morvik::YunetNetwork> net = [] {
    std::shared_ptr<const morvik::YunetNetwork> loaded;
    morvik::loadYunetModelFile(g_config.yunet_path, loaded);
    return loaded;
  }();
  return net.get();
}

void run(benchmark::State& state, const cv::Mat& image, int threads, morvik::YunetIsa isa) {
  const morvik::YunetNetwork* net = network();
  if (net == nullptr || image.empty()) {
    state.SkipWithError("model or photo missing");
    return;
  }
  if (!morvik::yunetIsaServed(isa)) {
    state.SkipWithError("this processor lacks the instruction set");
    return;
  }
  std::vector<morvik::YunetFace> faces;
  for (auto _ : state) {
    faces.clear();
    morvik::detectYunetFaces(*net, image, kScore, faces, threads, isa);
    benchmark::DoNotOptimize(faces.data());
  }
  state.counters["faces"] = static_cast<double>(faces.size());
  state.counters["madds"] = benchmark::Counter(morvik::yunetMultiplyAdds(image.rows, image.cols),
                                               benchmark::Counter::kIsIterationInvariantRate);
}

// state.range(0): the photo; range(1): threads.
void BM_Yunet(benchmark::State& state) {
  const Photo& p = photoAt(state.range(0));
  state.SetLabel(std::string(p.name) + ", " + std::to_string(state.range(1)) + " thread(s)");
  run(state, p.image, static_cast<int>(state.range(1)), morvik::bestYunetIsa());
}
BENCHMARK(BM_Yunet)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({3, 1})
    ->Args({4, 1})
    ->Args({5, 1})
    ->Args({5, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// state.range(0): the instruction set, on the 640 x 480 photo, one thread.
void BM_YunetIsa(benchmark::State& state) {
  const auto isa = static_cast<morvik::YunetIsa>(state.range(0));
  const char* names[] = {"portable", "AVX2", "AVX-512"};
  state.SetLabel(names[state.range(0)]);
  run(state, photoAt(4).image, 1, isa);
}
BENCHMARK(BM_YunetIsa)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The peak resident memory, in KiB (VmHWM).
double peakKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      double kb = 0;
      status >> kb;
      return kb;
    }
    status.ignore(4096, '\n');
  }
  return 0.0;
}

// The largest working image the library makes by default (4096 x 4096,
// "image.max_working_pixels"), of noise, on one thread: its time, and how
// far the process's peak memory rises above what it held before (the
// image's 48 MiB included; the maps are freed after the call).
void BM_YunetLargest(benchmark::State& state) {
  cv::Mat image(4096, 4096, CV_8UC3);
  cv::randu(image, cv::Scalar::all(0), cv::Scalar::all(255));
  const double before = bench_support::residentKiB();
  run(state, image, 1, morvik::bestYunetIsa());
  state.counters["peak_MiB"] = (peakKiB() - before) / 1024;
}
BENCHMARK(BM_YunetLargest)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The chain 0x1E through ExtractFaces, as hosts call it (one thread with
// OPENBLAS_NUM_THREADS=1).
void BM_Chain1E(benchmark::State& state) {
  const Photo& p = photoAt(state.range(0));
  state.SetLabel(p.name);
  cv::Mat image = p.image;
  std::vector<mv::Face> faces(256);
  for (auto _ : state) {
    size_t count = faces.size();
    benchmark::DoNotOptimize(ExtractFaces(&image, faces.data(), &count, static_cast<mv::FindFaceAlgoType>(0x1E)));
  }
}
BENCHMARK(BM_Chain1E)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
