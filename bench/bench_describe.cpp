// Describing faces through the library's entry points, one and two calling
// threads (bench_vs_dlib sets them beside plain dlib code).
//
//   ./build/bench/bench_describe --benchmark_min_time=2
//
// items_per_second counts descriptors; 1000 / items_per_second is the time
// per descriptor in milliseconds.
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>

#include "morvik/config.h"
#include "morvik/image.h"
#include "morvik/morvik.h"

namespace {

constexpr auto kCascades = static_cast<mv::FindFaceAlgoType>(mv::FindLBP | mv::FindHaar);

std::string testdata(const std::string& relative) { return std::string(MORVIK_TESTDATA) + "/" + relative; }

struct Scene {
  cv::Mat image;
  std::vector<unsigned char> bytes;
  std::vector<mv::Face> faces;
};

const Scene& scene() {
  static const Scene s = [] {
    Scene s;
    s.image = cv::imread(testdata("faces/two_people.jpg"), cv::IMREAD_COLOR);
    cv::imencode(".jpg", s.image, s.bytes, {cv::IMWRITE_JPEG_QUALITY, 95});
    s.faces.resize(2);
    size_t n = 2;
    if (ExtractFaces(&s.image, s.faces.data(), &n, kCascades) != 0) s.faces.clear();
    s.faces.resize(n);
    return s;
  }();
  return s;
}

void BM_ExtractVector(benchmark::State& state) {
  const Scene& s = scene();
  if (s.faces.empty()) return state.SkipWithError("no face found");
  mv::Face face = s.faces[0];
  float descriptor[128];
  if (ExtractVector(&s.image, &face, descriptor) != 0) return state.SkipWithError("ExtractVector failed");
  for (auto _ : state) {
    benchmark::DoNotOptimize(ExtractVector(&s.image, &face, descriptor));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExtractVector)->Unit(benchmark::kMillisecond)->UseRealTime()->Threads(1)->Threads(2);

// One face described in each "align.mode" (0 the library's default; 3
// adds the HOG finder's search near the face to 1's landmark fit).
void BM_ExtractVectorByAlignMode(benchmark::State& state) {
  const Scene& s = scene();
  if (s.faces.empty()) return state.SkipWithError("no face found");
  int mode = static_cast<int>(state.range(0));
  if (SetOption("align.mode", &mode, sizeof(mode)) != 0) return state.SkipWithError("align.mode refused");
  float descriptor[128];
  for (auto _ : state) {
    mv::Face face = s.faces[0];
    benchmark::DoNotOptimize(ExtractVector(&s.image, &face, descriptor));
    benchmark::ClobberMemory();
  }
  mode = 0;
  SetOption("align.mode", &mode, sizeof(mode));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExtractVectorByAlignMode)->Unit(benchmark::kMillisecond)->UseRealTime()->DenseRange(0, 3);

void BM_ExtractFacesInfo(benchmark::State& state) {
  const Scene& s = scene();
  std::vector<mv::FaceData> data(2);
  size_t size = 2;
  if (ExtractFacesInfo(s.bytes.data(), s.bytes.size(), data.data(), &size, kCascades) != 0 || size != 2)
    return state.SkipWithError("ExtractFacesInfo did not find both faces");
  for (auto _ : state) {
    size = 2;
    benchmark::DoNotOptimize(ExtractFacesInfo(s.bytes.data(), s.bytes.size(), data.data(), &size, kCascades));
  }
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_ExtractFacesInfo)->Unit(benchmark::kMillisecond)->UseRealTime()->Threads(1)->Threads(2);

// The alignment step on its own (rotation by the eyes, crop, landmark refit),
// which the library's sequence adds to the plain one: loading a copy of the
// image comes with it.
void BM_AlignmentStep(benchmark::State& state) {
  const Scene& s = scene();
  if (s.faces.empty()) return state.SkipWithError("no face found");
  for (auto _ : state) {
    cv::Mat copy = s.image.clone();
    mv::Face face = s.faces[0];
    cv::Mat cropped;
    benchmark::DoNotOptimize(alignFace(copy, &face.rect, &face.left_eye, &face.right_eye, cropped, !face.from_shape,
                                       g_config.align_desired_size, g_config.align_desired_eyes));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AlignmentStep)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
