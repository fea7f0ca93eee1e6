// The cascade finders' searches: OpenCV's CascadeClassifier::detectMultiScale
// (default threads and one thread) against the library's evaluators, for
// the LBP finder's cascade (lbpcascade_frontalface.xml) and the Haar
// finder's (haarcascade_frontalface_alt.xml), with the finders' options, on
// faces/2008_001322.jpg at 800x600 (the finders' working size) and
// faces/bald_guys.jpg scaled to 1280x960; then the whole finder
// (HaarFindFaceAlgo, eye check included) as it is and as it was with
// OpenCV's classifier. Survival counts how many of the windows OpenCV
// visits pass each stage of the LBP cascade.
// Run: ./build/bench/bench_cascade_finders --benchmark_repetitions=5
//      --benchmark_report_aggregates_only=true
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include "face/eye_cascade.h"
#include "engine/cascade/cascade_detect.h"
#include "models/cascade_loader.h"
#include "morvik/config.h"
#include "morvik/findface.h"

namespace {

// The photographs, as the finders see them (grey for the searches).
struct Photo {
  const char* name;
  cv::Mat colour;
  cv::Mat grey;
};

Photo load(const char* name, const char* file, cv::Size size) {
  Photo p{name, cv::Mat(), cv::Mat()};
  const cv::Mat decoded = cv::imread(std::string(MORVIK_TESTDATA) + "/" + file, cv::IMREAD_COLOR);
  if (decoded.empty()) return p;
  cv::resize(decoded, p.colour, size, 0, 0, size.area() < decoded.size().area() ? cv::INTER_AREA : cv::INTER_LINEAR);
  cv::cvtColor(p.colour, p.grey, cv::COLOR_BGR2GRAY);
  return p;
}

const Photo& photo(int64_t which) {
  static const Photo photos[2] = {load("2008_001322 800x600", "faces/2008_001322.jpg", cv::Size(800, 600)),
                                  load("bald_guys 1280x960", "faces/bald_guys.jpg", cv::Size(1280, 960))};
  return photos[which];
}

// state.range(0) of the searches: 0 the LBP cascade, 1 the Haar cascade.
const std::string& cascadePath(int64_t which) {
  return which == 0 ? g_config.haar_face_path_default : g_config.haar_face_path_default_alt;
}
const char* cascadeName(int64_t which) { return which == 0 ? "LBP" : "Haar"; }

cv::CascadeClassifier& opencvCascade(int64_t which) {
  static cv::CascadeClassifier c[2] = {cv::CascadeClassifier(cascadePath(0)), cv::CascadeClassifier(cascadePath(1))};
  return c[which];
}

const morvik::LbpCascade& ownLbp() {
  static const morvik::LbpCascade c = [] {
    morvik::LbpCascade loaded;
    morvik::readCascadeFile(cascadePath(0), loaded);
    return loaded;
  }();
  return c;
}

const morvik::HaarCascade& ownHaar() {
  static const morvik::HaarCascade c = [] {
    morvik::HaarCascade loaded;
    morvik::readCascadeFile(cascadePath(1), loaded);
    return loaded;
  }();
  return c;
}

morvik::CascadeSearch finderSearch(const cv::Mat& image) {
  morvik::CascadeSearch s;
  s.scale_factor = morvik::cascadeScaleFactor(g_config.haar_face_scale_factor, image.size());
  s.min_neighbours = g_config.haar_face_min_neighbours;
  s.min_size = g_config.haar_face_min_face;
  s.max_size = image.size();
  return s;
}

bool ready(benchmark::State& state, const Photo& p) {
  if (p.grey.empty() || ownLbp().stages.empty() || ownHaar().stages.empty() || opencvCascade(0).empty() ||
      opencvCascade(1).empty()) {
    state.SkipWithError("test photograph or cascade missing");
    return false;
  }
  return true;
}

void label(benchmark::State& state, const Photo& p, size_t found) {
  state.SetLabel(std::string(cascadeName(state.range(0))) + ", " + p.name + ", " + std::to_string(found) +
                 " rectangles");
}

// Args: cascade, photo, OpenCV's threads (0: its default).
void OpenCvDetectMultiScale(benchmark::State& state) {
  const Photo& p = photo(state.range(1));
  if (!ready(state, p)) return;
  const int saved = cv::getNumThreads();
  if (state.range(2) > 0) cv::setNumThreads(static_cast<int>(state.range(2)));
  const morvik::CascadeSearch s = finderSearch(p.grey);
  std::vector<cv::Rect> found;
  for (auto _ : state)
    opencvCascade(state.range(0)).detectMultiScale(p.grey, found, s.scale_factor, s.min_neighbours, 0, s.min_size,
                                                   s.max_size);
  cv::setNumThreads(saved);
  label(state, p, found.size());
}

// Args: cascade, photo, instruction-set path (morvik::CascadeIsa).
void OwnDetect(benchmark::State& state) {
  const Photo& p = photo(state.range(1));
  if (!ready(state, p)) return;
  const auto isa = static_cast<morvik::CascadeIsa>(state.range(2));
  if (!morvik::cascadeIsaRuns(isa)) {
    state.SkipWithError("instruction set not available");
    return;
  }
  const morvik::CascadeSearch s = finderSearch(p.grey);
  std::vector<cv::Rect> found;
  for (auto _ : state) {
    if (state.range(0) == 0)
      morvik::detectCascade(ownLbp(), p.grey, s, found, isa);
    else
      morvik::detectCascade(ownHaar(), p.grey, s, found, isa);
  }
  label(state, p, found.size());
}

// The LBP windows per search and the share of them that pass each stage.
void LbpSurvival(benchmark::State& state) {
  const Photo& p = photo(state.range(0));
  if (!ready(state, p)) return;
  morvik::CascadeCounts counts;
  std::vector<cv::Rect> found;
  for (auto _ : state)
    morvik::detectCascade(ownLbp(), p.grey, finderSearch(p.grey), found, morvik::bestCascadeIsa(), &counts);
  const double windows = static_cast<double>(counts.windows);
  state.counters["windows"] = windows;
  for (size_t s = 0; s < counts.passing.size(); ++s) {
    char name[32];
    std::snprintf(name, sizeof name, "stage%02zu_%%", s);
    state.counters[name] = 100.0 * static_cast<double>(counts.passing[s]) / windows;
  }
  state.SetLabel(p.name);
}

// Args: cascade, photo. The finder as it is: the library's evaluators.
void FinderNow(benchmark::State& state) {
  const Photo& p = photo(state.range(1));
  if (!ready(state, p)) return;
  HaarFindFaceAlgo finder(state.range(0) == 0);
  std::vector<cv::Rect> faces;
  cv::Mat image = p.colour;
  for (auto _ : state) benchmark::DoNotOptimize(finder.findFaces(0, image, faces));
  label(state, p, faces.size());
}

// Args: cascade, photo, OpenCV's threads (0: its default). The finder's
// steps as they were with OpenCV's classifier: grey, search, eye check.
void FinderBefore(benchmark::State& state) {
  const Photo& p = photo(state.range(1));
  if (!ready(state, p)) return;
  const int saved = cv::getNumThreads();
  if (state.range(2) > 0) cv::setNumThreads(static_cast<int>(state.range(2)));
  const morvik::CascadeSearch s = finderSearch(p.grey);
  std::vector<cv::Rect> candidates, faces;
  for (auto _ : state) {
    cv::Mat grey;
    cv::cvtColor(p.colour, grey, cv::COLOR_BGR2GRAY);
    opencvCascade(state.range(0)).detectMultiScale(grey, candidates, s.scale_factor, s.min_neighbours, 0,
                                                   s.min_size, s.max_size);
    faces.clear();
    for (const cv::Rect& c : candidates) {
      cv::Mat face = grey(c);
      mv::Point left{0, 0}, right{0, 0};
      if (HaarExtractEyesInfo(face, &left, &right) == 0) faces.push_back(c);
    }
  }
  cv::setNumThreads(saved);
  label(state, p, faces.size());
}

void cases(benchmark::internal::Benchmark* b, std::vector<int64_t> thirds) {
  for (int64_t cascade : {0, 1})
    for (int64_t p : {0, 1})
      for (int64_t third : thirds) b->Args({cascade, p, third});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(OpenCvDetectMultiScale)->Apply([](benchmark::internal::Benchmark* b) { cases(b, {0, 1}); });
BENCHMARK(OwnDetect)->Apply([](benchmark::internal::Benchmark* b) {
  cases(b, {static_cast<int64_t>(morvik::CascadeIsa::kPortable), static_cast<int64_t>(morvik::CascadeIsa::kAvx2),
            static_cast<int64_t>(morvik::CascadeIsa::kAvx512)});
});
BENCHMARK(LbpSurvival)->Arg(0)->Arg(1)->Iterations(1);
BENCHMARK(FinderBefore)->Apply([](benchmark::internal::Benchmark* b) { cases(b, {0, 1}); });
BENCHMARK(FinderNow)->Apply([](benchmark::internal::Benchmark* b) {
  for (int64_t cascade : {0, 1})
    for (int64_t p : {0, 1}) b->Args({cascade, p});
  b->Unit(benchmark::kMillisecond);
});

}  // namespace

BENCHMARK_MAIN();
