// Scaling an input image to its working size.

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include "morvik/config.h"
#include "morvik/image.h"

namespace {

cv::Mat noiseImage(int cols, int rows) {
  cv::Mat image(rows, cols, CV_8UC3);
  cv::randu(image, cv::Scalar::all(0), cv::Scalar::all(255));
  return image;
}

void BM_ImagePrepare_1280x960(benchmark::State& state) {
  const cv::Mat image = noiseImage(1280, 960);
  PreparedParams params;
  getImagePrepareParams(image, g_config.image_rescale_min, g_config.image_rescale_max, params);
  cv::Mat prepared;
  for (auto _ : state) {
    imagePrepare(image, params, prepared);
    benchmark::DoNotOptimize(prepared.data);
  }
}
BENCHMARK(BM_ImagePrepare_1280x960)->Unit(benchmark::kMillisecond);

void BM_ImagePrepare_CopyAtOwnSize(benchmark::State& state) {
  const cv::Mat image = noiseImage(640, 480);
  PreparedParams params;  // no scaling: a deep copy
  cv::Mat prepared;
  for (auto _ : state) {
    imagePrepare(image, params, prepared);
    benchmark::DoNotOptimize(prepared.data);
  }
}
BENCHMARK(BM_ImagePrepare_CopyAtOwnSize)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
