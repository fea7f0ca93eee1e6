// The eye search: OpenCV's CascadeClassifier::detectMultiScale (default
// threads and one thread) against the library's Haar evaluator on the
// eye-search images of the faces the HOG finder reports in
// faces/2008_001322.jpg and faces/bald_guys.jpg (at the library's working
// size, as ExtractFaces sees them), and HaarExtractEyesInfo per face with
// the evaluator against the steps it took with OpenCV's classifier.
// Times are per face. Survival counts how many of the windows OpenCV visits
// pass the variance test and each stage.
// Run: ./build/bench/bench_eye_search --benchmark_repetitions=5
//      --benchmark_report_aggregates_only=true
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include "face/eye_cascade.h"
#include "engine/cascade/cascade_detect.h"
#include "engine/cascade/haar_test_images.h"
#include "image/image_convert.h"
#include "morvik/config.h"

namespace {

constexpr double kFactor = 1.1;
constexpr int kNeighbours = 3;

struct FaceSet {
  std::vector<cv::Mat> faces;   // colour crops, as HaarExtractEyesInfo gets them
  std::vector<cv::Mat> search;  // their eye-search images
};

FaceSet facesOf(const std::string& photo) {
  FaceSet s;
  s.faces = haar_testing::hogFaces(haar_testing::workingImage(photo));
  for (const cv::Mat& f : s.faces) s.search.push_back(haar_testing::eyeSearchImage(f));
  return s;
}

const FaceSet& faceSet(int which) {
  static const FaceSet sets[2] = {facesOf("faces/2008_001322.jpg"), facesOf("faces/bald_guys.jpg")};
  return sets[which];
}

const char* setName(int which) { return which == 0 ? "2008_001322" : "bald_guys"; }

const morvik::HaarCascade& ownCascade() {
  static const morvik::HaarCascade c = [] {
    morvik::HaarCascade loaded;
    morvik::readCascadeFile(g_config.haar_eye_path_default, loaded);
    return loaded;
  }();
  return c;
}

cv::CascadeClassifier& opencvCascade() {
  static cv::CascadeClassifier c(g_config.haar_eye_path_default);
  return c;
}

bool ready(benchmark::State& state, const FaceSet& set) {
  if (set.faces.empty() || ownCascade().stages.empty() || opencvCascade().empty()) {
    state.SkipWithError("test photograph or eye cascade missing");
    return false;
  }
  return true;
}

void perFace(benchmark::State& state, const FaceSet& set) {
  state.counters["per_face"] = benchmark::Counter(static_cast<double>(set.faces.size()),
                                                  benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
  state.SetLabel(std::string(setName(static_cast<int>(state.range(0)))) + ", " + std::to_string(set.faces.size()) +
                 " faces");
}

// state.range(1): OpenCV's threads (0: its default).
void OpenCvDetectMultiScale(benchmark::State& state) {
  const FaceSet& set = faceSet(static_cast<int>(state.range(0)));
  if (!ready(state, set)) return;
  const int saved = cv::getNumThreads();
  if (state.range(1) > 0) cv::setNumThreads(static_cast<int>(state.range(1)));
  std::vector<cv::Rect> found;
  for (auto _ : state)
    for (const cv::Mat& image : set.search)
      opencvCascade().detectMultiScale(image, found, kFactor, kNeighbours, 0, cv::Size(), cv::Size());
  cv::setNumThreads(saved);
  perFace(state, set);
}

// state.range(1): the instruction-set path (morvik::CascadeIsa).
void OwnDetectHaar(benchmark::State& state) {
  const FaceSet& set = faceSet(static_cast<int>(state.range(0)));
  if (!ready(state, set)) return;
  const auto isa = static_cast<morvik::CascadeIsa>(state.range(1));
  if (!morvik::cascadeIsaRuns(isa)) {
    state.SkipWithError("instruction set not available");
    return;
  }
  morvik::CascadeSearch search;
  search.scale_factor = kFactor;
  search.min_neighbours = kNeighbours;
  std::vector<cv::Rect> found;
  for (auto _ : state)
    for (const cv::Mat& image : set.search) morvik::detectCascade(ownCascade(), image, search, found, isa);
  perFace(state, set);
}

// Windows per face and the share of them that pass each step.
void Survival(benchmark::State& state) {
  const FaceSet& set = faceSet(static_cast<int>(state.range(0)));
  if (!ready(state, set)) return;
  morvik::CascadeCounts total;
  total.passing.assign(ownCascade().stages.size(), 0);
  std::vector<cv::Rect> found;
  for (auto _ : state) {
    for (const cv::Mat& image : set.search) {
      morvik::CascadeCounts counts;
      morvik::detectCascade(ownCascade(), image, morvik::CascadeSearch(), found, morvik::bestCascadeIsa(), &counts);
      total.windows += counts.windows;
      total.checked += counts.checked;
      for (size_t s = 0; s < counts.passing.size(); ++s) total.passing[s] += counts.passing[s];
    }
  }
  const double windows = static_cast<double>(total.windows);
  state.counters["windows_per_face"] = windows / static_cast<double>(state.iterations() * set.faces.size());
  state.counters["variance_%"] = 100.0 * static_cast<double>(total.checked) / windows;
  for (size_t s = 0; s < total.passing.size(); ++s) {
    char name[32];
    std::snprintf(name, sizeof name, "stage%02zu_%%", s);
    state.counters[name] = 100.0 * static_cast<double>(total.passing[s]) / windows;
  }
  state.SetLabel(setName(static_cast<int>(state.range(0))));
}

void HaarExtractEyesInfoNow(benchmark::State& state) {
  const FaceSet& set = faceSet(static_cast<int>(state.range(0)));
  if (!ready(state, set)) return;
  mv::Point left{0, 0}, right{0, 0};
  for (auto _ : state)
    for (const cv::Mat& face : set.faces) {
      cv::Mat f = face;
      benchmark::DoNotOptimize(HaarExtractEyesInfo(f, &left, &right));
    }
  perFace(state, set);
}

// The steps HaarExtractEyesInfo took with OpenCV's classifier (default
// threads): grey, scaled, searched. What follows the search costs nothing.
void HaarExtractEyesInfoBefore(benchmark::State& state) {
  const FaceSet& set = faceSet(static_cast<int>(state.range(0)));
  if (!ready(state, set)) return;
  std::vector<cv::Rect> found;
  for (auto _ : state)
    for (const cv::Mat& face : set.faces) {
      cv::Mat grey;
      morvik::toGrey8(face, grey);
      const cv::Mat search = haar_testing::prepared(grey, g_config.haar_eye_rescale_min, g_config.haar_eye_rescale_max);
      opencvCascade().detectMultiScale(search, found, g_config.haar_eye_scale_factor, g_config.haar_eye_min_neighbours,
                                       0, cv::Size(), cv::Size());
    }
  perFace(state, set);
}

void bothSets(benchmark::internal::Benchmark* b, std::vector<int64_t> seconds) {
  for (int64_t set : {0, 1})
    for (int64_t second : seconds) b->Args({set, second});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(OpenCvDetectMultiScale)->Apply([](benchmark::internal::Benchmark* b) { bothSets(b, {0, 1}); });
BENCHMARK(OwnDetectHaar)->Apply([](benchmark::internal::Benchmark* b) {
  bothSets(b, {static_cast<int64_t>(morvik::CascadeIsa::kPortable), static_cast<int64_t>(morvik::CascadeIsa::kAvx2),
               static_cast<int64_t>(morvik::CascadeIsa::kAvx512)});
});
BENCHMARK(Survival)->Arg(0)->Arg(1)->Iterations(1);
BENCHMARK(HaarExtractEyesInfoBefore)->Apply([](benchmark::internal::Benchmark* b) { bothSets(b, {0}); });
BENCHMARK(HaarExtractEyesInfoNow)->Apply([](benchmark::internal::Benchmark* b) { bothSets(b, {0}); });

}  // namespace

BENCHMARK_MAIN();
