// The HOG detector's scan, dlib's and the library's, whole and by part
// (pyramid, fHOG features, filter scores), on the 500 x 375 group photo at
// the library's working size and upsampled once as dlib's examples do.
// Run: OPENBLAS_NUM_THREADS=1 ./build/bench/bench_hog_scan
//      --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <opencv2/imgcodecs.hpp>

#include "engine/hog/hog_detection.h"
#include "engine/hog/hog_features.h"
#include "engine/hog/hog_filters.h"
#include "engine/hog/hog_pyramid.h"
#include "engine/hog/hog_test_images.h"
#include "morvik/config.h"
#include "morvik/image.h"

namespace {

const cv::Mat& photo() {
  static const cv::Mat p = cv::imread(std::string(MORVIK_TESTDATA) + "/faces/2008_001322.jpg", cv::IMREAD_COLOR);
  return p;
}

// 0: the photo as the library's finders get it; 1: upsampled once.
const cv::Mat& image(int which) {
  static const cv::Mat images[2] = {
      [] {
        PreparedParams params;
        getImagePrepareParams(photo(), g_config.image_rescale_min, g_config.image_rescale_max, params);
        cv::Mat prepared;
        imagePrepare(photo(), params, prepared);
        return prepared;
      }(),
      hog_testing::pyramidUp(photo()),
  };
  return images[which];
}

void label(benchmark::State& state, const cv::Mat& m) {
  state.SetLabel(std::to_string(m.cols) + "x" + std::to_string(m.rows));
}

dlib::frontal_face_detector& detector() {
  static dlib::frontal_face_detector d = dlib::get_frontal_face_detector();
  return d;
}

// dlib's levels: its pyramid as the scanner builds it.
std::vector<dlib::array2d<dlib::bgr_pixel>> dlibLevels(const cv::Mat& m) {
  std::vector<dlib::array2d<dlib::bgr_pixel>> levels(1);
  dlib::assign_image(levels[0], dlib::cv_image<dlib::bgr_pixel>(m));
  dlib::pyramid_down<6> pyr;
  while (levels.back().nc() * 5 / 6 >= 64 && levels.back().nr() * 5 / 6 >= 64) {
    levels.emplace_back();
    pyr(levels[levels.size() - 2], levels.back());
  }
  return levels;
}

std::vector<morvik::ColorLevel> ownLevels(const cv::Mat& m, size_t count) {
  std::vector<morvik::ColorLevel> levels(count);
  morvik::levelFromImage(dlib::cv_image<dlib::bgr_pixel>(m), levels[0]);
  for (size_t l = 1; l < count; ++l) morvik::pyramidDown(levels[l - 1], levels[l]);
  return levels;
}

void DlibDetector(benchmark::State& state) {
  const cv::Mat& m = image(state.range(0));
  dlib::cv_image<dlib::bgr_pixel> view(m);
  for (auto _ : state) benchmark::DoNotOptimize(detector()(view));
  label(state, m);
}

void OwnDetector(benchmark::State& state) {
  const cv::Mat& m = image(state.range(0));
  dlib::cv_image<dlib::bgr_pixel> view(m);
  for (auto _ : state) benchmark::DoNotOptimize(morvik::detectHog(detector(), view, 0.0, int(state.range(1))));
  label(state, m);
}

void DlibPyramid(benchmark::State& state) {
  const cv::Mat& m = image(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(dlibLevels(m));
  label(state, m);
}

void OwnPyramid(benchmark::State& state) {
  const cv::Mat& m = image(state.range(0));
  const size_t count = dlibLevels(m).size();
  for (auto _ : state) benchmark::DoNotOptimize(ownLevels(m, count));
  label(state, m);
}

void DlibFeatures(benchmark::State& state) {
  const auto levels = dlibLevels(image(state.range(0)));
  dlib::array<dlib::array2d<float>> hog;
  for (auto _ : state)
    for (const auto& level : levels) dlib::extract_fhog_features(level, hog, 8, 10, 10);
  label(state, image(state.range(0)));
}

void OwnFeatures(benchmark::State& state) {
  const auto levels = ownLevels(image(state.range(0)), dlibLevels(image(state.range(0))).size());
  morvik::HogPlanes hog;
  for (auto _ : state)
    for (const auto& level : levels) morvik::extractFhog(level, 8, 10, 10, hog);
  label(state, image(state.range(0)));
}

void DlibFilters(benchmark::State& state) {
  std::vector<dlib::array<dlib::array2d<float>>> feats;
  for (const auto& level : dlibLevels(image(state.range(0)))) {
    feats.emplace_back();
    dlib::extract_fhog_features(level, feats.back(), 8, 10, 10);
  }
  dlib::array2d<float> saliency;
  for (auto _ : state)
    for (unsigned long i = 0; i < detector().num_detectors(); ++i)
      for (const auto& f : feats)
        dlib::impl::apply_filters_to_fhog(detector().get_processed_w(i).get_detect_argument(), f, saliency);
  label(state, image(state.range(0)));
}

void OwnFilters(benchmark::State& state) {
  const auto levels = ownLevels(image(state.range(0)), dlibLevels(image(state.range(0))).size());
  std::vector<morvik::HogPlanes> feats(levels.size());
  for (size_t l = 0; l < levels.size(); ++l) morvik::extractFhog(levels[l], 8, 10, 10, feats[l]);
  std::vector<morvik::HogFilter> filters(detector().num_detectors());
  for (size_t i = 0; i < filters.size(); ++i) {
    const auto& bank = detector().get_processed_w(i).get_detect_argument();
    morvik::separableFilter(bank.filters, bank.row_filters, bank.col_filters, filters[i]);
  }
  morvik::ScoreImage scores;
  std::vector<float> scratch;
  for (auto _ : state)
    for (const auto& filter : filters)
      for (const auto& f : feats) benchmark::DoNotOptimize(morvik::scoreImage(filter, f, scores, scratch));
  label(state, image(state.range(0)));
}

BENCHMARK(DlibDetector)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(OwnDetector)->Args({0, 1})->Args({0, 2})->Args({1, 1})->Args({1, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(DlibPyramid)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(OwnPyramid)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DlibFeatures)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(OwnFeatures)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DlibFilters)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(OwnFilters)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
