// The library side by side with the plain dlib code a user would write
// instead of calling it (dlib's face examples: frontal face detector,
// shape predictor, face chip, ResNet metric network, MMOD network), in one
// process and one run, on the same photographs. At the end a table gives,
// per stage, the medians of both sides and their ratio library/reference.
//
//   ./build/bench/bench_vs_dlib                      (5 repetitions, medians)
//   ./build/bench/bench_vs_dlib --benchmark_repetitions=3
//   ./build/bench/bench_vs_dlib --benchmark_filter=descriptor
//
// The library is used through libmorvik.so, as a host uses it: its copies of
// dlib's templates stay inside it, so the reference below runs on the code
// compiled here and the library on its own build, whatever flags each got.
//
// The ratios are of wall-clock medians; the calling thread's CPU time is
// printed beside them, which other load on a shared machine disturbs less.
// The first-call times (model loading on a new thread) and a few checks
// (same HOG rectangles, allocation-free pico scan) follow the table. The
// MMOD stages run under the malloc settings of the environment. Two rows
// compare the reference built for any x86-64 with its -march=native build.
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <dlib/dnn.h>
#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/findface.h"
#include "morvik/image.h"
#include "morvik/morvik.h"
#include "morvik/morvik_info.h"
#include "support/plain_dlib_net.h"
#include "morvik/pico.h"

// --- counting allocations ----------------------------------------------------
//
// Every malloc of the calling thread is counted while t_count_mallocs is
// set (operator new goes through malloc too), to show that a scan does not
// allocate. The memory still comes from glibc and goes back through its free.
extern "C" void* __libc_malloc(size_t size);
namespace {
thread_local bool t_count_mallocs = false;
thread_local unsigned long t_mallocs = 0;
}  // namespace
extern "C" void* malloc(size_t size) noexcept {
  if (t_count_mallocs) ++t_mallocs;
  return __libc_malloc(size);
}

namespace {

// --- the reference: plain dlib, as in dlib's examples ------------------------

namespace ref {

using namespace dlib;

using anet_type = plain_dlib::DescriptorNet;

// net_type of dlib's dnn_mmod_face_detection example.
template <long num_filters, typename SUBNET>
using con5d = con<num_filters, 5, 5, 2, 2, SUBNET>;
template <long num_filters, typename SUBNET>
using con5 = con<num_filters, 5, 5, 1, 1, SUBNET>;
template <typename SUBNET>
using downsampler = relu<affine<con5d<32, relu<affine<con5d<32, relu<affine<con5d<16, SUBNET>>>>>>>>>;
template <typename SUBNET>
using rcon5 = relu<affine<con5<45, SUBNET>>>;
using net_type = loss_mmod<con<1, 9, 9, 1, 1, rcon5<rcon5<rcon5<downsampler<input_rgb_image_pyramid<pyramid_down<6>>>>>>>>;

const std::string kShapeModel = "/usr/share/morvik/shape_predictor_68_face_landmarks.dat";
const std::string kMetricModel = "/usr/share/morvik/dlib_face_recognition_resnet_model_v1.dat";
const std::string kMmodModel = "/usr/share/morvik/mmod_human_face_detector.dat";

// What a program loads once (per thread: dlib's objects are not shared
// between threads that run them at the same time).
struct Models {
  frontal_face_detector hog = get_frontal_face_detector();
  shape_predictor sp;
  anet_type anet;
  Models() {
    deserialize(kShapeModel) >> sp;
    deserialize(kMetricModel) >> anet;
  }
};

Models& models() {
  thread_local Models m;
  return m;
}

net_type& mmod() {
  thread_local std::unique_ptr<net_type> net;
  if (!net) {
    net = std::make_unique<net_type>();
    deserialize(kMmodModel) >> *net;
  }
  return *net;
}

std::vector<rectangle> findHog(const cv::Mat& bgr) {
  cv_image<bgr_pixel> view(bgr);
  return models().hog(view);
}

full_object_detection landmarks(const cv::Mat& bgr, const rectangle& box) {
  cv_image<bgr_pixel> view(bgr);
  return models().sp(view, box);
}

matrix<float, 0, 1> descriptor(const cv::Mat& bgr, const rectangle& box) {
  Models& m = models();
  cv_image<bgr_pixel> view(bgr);
  const full_object_detection shape = m.sp(view, box);
  matrix<rgb_pixel> chip;
  extract_image_chip(view, get_face_chip_details(shape, 150, 0.25), chip);
  return m.anet(chip);
}

// As a user's program would hold it after dlib's load_image.
matrix<rgb_pixel> rgbImage(const cv::Mat& bgr) {
  matrix<rgb_pixel> rgb;
  assign_image(rgb, cv_image<bgr_pixel>(bgr));
  return rgb;
}

}  // namespace ref

// --- the reference built for any x86-64 ----------------------------------------------
//
// The same HOG detector and shape predictor code, compiled without
// -march=native in a module of its own (bench/portable), to show the gain
// of the native build.
namespace portable {

struct Module {
  void* state = nullptr;  // null when the module could not be loaded
  long (*hog)(void*, const unsigned char*, int, int, size_t) = nullptr;
  long (*landmarks)(void*, const unsigned char*, int, int, size_t, long, long, long, long) = nullptr;
};

const Module& module() {
  static const Module loaded = [] {
    Module m;
    void* handle = dlopen(MORVIK_PORTABLE_REFERENCE, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return m;
    auto open = reinterpret_cast<void* (*)(const char*)>(dlsym(handle, "portable_open"));
    m.hog = reinterpret_cast<decltype(m.hog)>(dlsym(handle, "portable_hog"));
    m.landmarks = reinterpret_cast<decltype(m.landmarks)>(dlsym(handle, "portable_landmarks"));
    if (open && m.hog && m.landmarks) m.state = open(ref::kShapeModel.c_str());
    return m;
  }();
  return loaded;
}

}  // namespace portable

// --- OpenBLAS threads ----------------------------------------------------------

// Looked up at run time: dlib reaches OpenBLAS through libblas.so.3, whose
// thread setting lives in libopenblas.so.0.
using BlasSetThreads = void (*)(int);
using BlasGetThreads = int (*)();

BlasSetThreads blasSet() {
  static auto fn = reinterpret_cast<BlasSetThreads>(dlsym(RTLD_DEFAULT, "openblas_set_num_threads"));
  return fn;
}

int blasDefaultThreads() {
  static const int n = [] {
    auto get = reinterpret_cast<BlasGetThreads>(dlsym(RTLD_DEFAULT, "openblas_get_num_threads"));
    return get ? get() : 0;
  }();
  return n;
}

// 0: the default count OpenBLAS chose at start.
void setBlasThreads(int n) {
  if (blasSet() == nullptr) return;
  blasSet()(n > 0 ? n : std::max(1, blasDefaultThreads()));
}

// --- the photographs ------------------------------------------------------------

std::string testdata(const std::string& relative) { return std::string(MORVIK_TESTDATA) + "/" + relative; }

cv::Mat photo(const std::string& name) { return cv::imread(testdata(name), cv::IMREAD_COLOR); }

struct Photos {
  cv::Mat small;     // 500 x 375 group photo
  cv::Mat big;       // 1280 x 960
  cv::Mat medium;    // 640 x 480
  cv::Mat portrait;  // 1126 x 661, two large faces
};

const Photos& photos() {
  static const Photos p = [] {
    Photos p;
    p.small = photo("faces/2008_001322.jpg");
    cv::resize(photo("faces/bald_guys.jpg"), p.big, cv::Size(1280, 960), 0, 0, cv::INTER_AREA);
    cv::resize(p.small, p.medium, cv::Size(640, 480), 0, 0, cv::INTER_CUBIC);
    p.portrait = photo("faces/two_people.jpg");
    return p;
  }();
  return p;
}

// The image the library's finders work on for `image`: its own scaling rule.
cv::Mat workingImage(const cv::Mat& image) {
  PreparedParams params;
  getImagePrepareParams(image, g_config.image_rescale_min, g_config.image_rescale_max, params);
  cv::Mat prepared;
  imagePrepare(image, params, prepared);
  return prepared;
}

std::string sizeName(const cv::Mat& m) { return std::to_string(m.cols) + "x" + std::to_string(m.rows); }

// The faces of the portrait as the reference detector finds them, and the
// library's first face with its eyes.
struct PortraitFaces {
  std::vector<dlib::rectangle> boxes;
  mv::Face face{};
  bool ok = false;
};

const PortraitFaces& portraitFaces() {
  static const PortraitFaces f = [] {
    PortraitFaces f;
    f.boxes = ref::findHog(photos().portrait);
    std::vector<mv::Face> faces(64);
    size_t n = faces.size();
    f.ok = ExtractFaces(&photos().portrait, faces.data(), &n, mv::FindDlib) == 0 && n > 0 && !f.boxes.empty();
    if (f.ok) f.face = faces[0];
    return f;
  }();
  return f;
}

dlib::rectangle toDlib(const mv::Rectangle& r) { return dlib::rectangle(r.x, r.y, r.x + r.w - 1, r.y + r.h - 1); }

// --- workers for throughput ----------------------------------------------------

// Threads that live across benchmark runs, so that each loads its models
// once, like a host's worker threads. round() runs the job once on every
// worker and returns when all have finished.
class Crew {
 public:
  Crew(int n, std::function<void()> job) : job_(std::move(job)) {
    for (int i = 0; i < n; ++i) threads_.emplace_back([this] { work(); });
    round();  // models load here, outside any measurement
  }
  ~Crew() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    start_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  Crew(const Crew&) = delete;
  Crew& operator=(const Crew&) = delete;

  void round() {
    std::unique_lock<std::mutex> lock(mutex_);
    pending_ = static_cast<int>(threads_.size());
    ++generation_;
    start_.notify_all();
    done_.wait(lock, [this] { return pending_ == 0; });
  }

 private:
  void work() {
    unsigned long seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        start_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
      }
      job_();
      std::lock_guard<std::mutex> lock(mutex_);
      if (--pending_ == 0) done_.notify_one();
    }
  }

  std::function<void()> job_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable start_, done_;
  unsigned long generation_ = 0;
  int pending_ = 0;
  bool stop_ = false;
};

// Per worker and round. The round ends with its slowest worker, so short
// rounds measure how evenly the workers finish more than their throughput.
constexpr int kFacesPerRound = 8;

void libraryDescriptorJob() {
  const PortraitFaces& f = portraitFaces();
  float out[128];
  for (int i = 0; i < kFacesPerRound; ++i) {
    mv::Face face = f.face;
    benchmark::DoNotOptimize(ExtractVector(&photos().portrait, &face, out));
  }
}

void referenceDescriptorJob() {
  const PortraitFaces& f = portraitFaces();
  for (int i = 0; i < kFacesPerRound; ++i) benchmark::DoNotOptimize(ref::descriptor(photos().portrait, toDlib(f.face.rect)));
}

// The whole analysis of a photo, as a host that indexes photos runs it:
// the faces of the chain 0x1E (LBP, Haar, HOG, CNN), then the descriptors
// of all of them in one call.
constexpr int kPhotosPerRound = 2;
constexpr auto kAnalysisChain = static_cast<mv::FindFaceAlgoType>(0x1E);

void libraryAnalysisJob() {
  std::vector<mv::Face> faces(64);
  std::vector<mv::FaceData> data(64);
  for (int i = 0; i < kPhotosPerRound; ++i) {
    size_t n = faces.size();
    if (ExtractFaces(&photos().small, faces.data(), &n, kAnalysisChain) != 0) continue;
    size_t described = data.size();
    benchmark::DoNotOptimize(ExtractInfo(&photos().small, faces.data(), n, data.data(), &described));
  }
}

Crew& crew(const std::string& job, int threads) {
  static std::map<std::pair<std::string, int>, std::unique_ptr<Crew>> crews;
  std::unique_ptr<Crew>& c = crews[{job, threads}];
  if (!c) {
    const std::function<void()> run = job == "library"     ? libraryDescriptorJob
                                      : job == "reference" ? referenceDescriptorJob
                                                           : libraryAnalysisJob;
    c = std::make_unique<Crew>(threads, run);
    c->round();  // each worker loads its models outside the timing
  }
  return *c;
}

// --- the stages -------------------------------------------------------------------

// Each benchmark's time per iteration, divided by `per`, is one unit of the
// stage (an image, a face).
struct Stage {
  std::string label;
  std::string library;    // benchmark names
  std::string reference;  // empty: the library alone
  double per_library = 1.0;
  double per_reference = 1.0;
  std::string goal;
  bool wall_only = false;  // the work runs on other threads than the timed one
};

std::vector<Stage>& stages() {
  static std::vector<Stage> s;
  return s;
}

std::map<std::string, std::string>& notes() {
  static std::map<std::string, std::string> n;
  return n;
}

using Body = std::function<void(benchmark::State&)>;

benchmark::internal::Benchmark* add(const std::string& name, Body body) {
  return benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& state) { body(state); })
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

int countLibraryFaces(const cv::Mat& image, mv::FindFaceAlgoType algo) {
  std::vector<mv::Face> faces(256);
  size_t n = faces.size();
  return ExtractFaces(&image, faces.data(), &n, algo) == 0 ? static_cast<int>(n) : 0;
}

// The faces found are counted once per image and selection (which also
// loads the models on this thread): the slow finders run few iterations.
void libraryFinds(benchmark::State& state, const cv::Mat& image, mv::FindFaceAlgoType algo) {
  setBlasThreads(0);
  static std::map<std::pair<const cv::Mat*, int>, int> found;
  const auto key = std::make_pair(&image, int(algo));
  auto it = found.find(key);
  if (it == found.end()) it = found.emplace(key, countLibraryFaces(image, algo)).first;
  std::vector<mv::Face> faces(256);
  for (auto _ : state) {
    size_t n = faces.size();
    benchmark::DoNotOptimize(ExtractFaces(&image, faces.data(), &n, algo));
  }
  state.counters["faces"] = it->second;
}

// One finder on one image, as ExtractFaces calls it (first call loads).
void finderFinds(benchmark::State& state, FindFaceAlgo& algo, cv::Mat& image) {
  std::vector<cv::Rect> faces;
  algo.findFaces(0, image, faces);
  for (auto _ : state) {
    faces.clear();
    benchmark::DoNotOptimize(algo.findFaces(0, image, faces));
  }
  state.counters["faces"] = double(faces.size());
}

void registerHog(const cv::Mat* image) {
  const std::string size = sizeName(*image);
  const std::string work = sizeName(workingImage(*image));
  // Both photographs may share a working size: the names say where each
  // working image came from.
  const std::string from = work + " from " + size;
  const std::string lib = "hog/library ExtractFaces 0x08/" + size;
  const std::string finder = "hog/library finder/" + from;
  const std::string refHog = "hog/reference detector/" + from;
  const std::string refEyes = "hog/reference detector+landmarks/" + from;
  const std::string native = "hog/reference detector/" + size + " own size";
  const std::string working = "hog/library working image/" + from;
  const std::string eyes = "hog/library eyes of the found faces/" + from;

  add(lib, [image](benchmark::State& s) { libraryFinds(s, *image, mv::FindDlib); });
  add(finder, [image](benchmark::State& s) {
    setBlasThreads(0);
    cv::Mat work = workingImage(*image);
    DlibFindFaceAlgo algo;
    finderFinds(s, algo, work);
  });
  // The rest of ExtractFaces: the working image, and the eyes of every
  // face found (eye cascade, landmarks when it fails).
  add(working, [image](benchmark::State& s) {
    for (auto _ : s) benchmark::DoNotOptimize(workingImage(*image));
  });
  add(eyes, [image](benchmark::State& s) {
    MorvikInfo info(mv::FindDlib);
    info.loadImage(*image);
    PreparedImage prepared;
    PreparedParams params;
    getImagePrepareParams(*image, g_config.image_rescale_min, g_config.image_rescale_max, params);
    info.prepareImage(params, prepared);
    DlibFindFaceAlgo algo;
    std::vector<cv::Rect> found;
    algo.findFaces(0, prepared.image, found);
    if (found.empty()) return s.SkipWithError("no face");
    auto once = [&] {
      for (const cv::Rect& r : found) {
        mv::Face face{};
        face.rect = r;
        benchmark::DoNotOptimize(info.fillEyesInfo(prepared, face));
      }
    };
    once();
    for (auto _ : s) once();
    s.counters["faces"] = double(found.size());
  });
  add(refHog, [image](benchmark::State& s) {
    const cv::Mat work = workingImage(*image);
    std::vector<dlib::rectangle> faces = ref::findHog(work);
    for (auto _ : s) benchmark::DoNotOptimize(faces = ref::findHog(work));
    s.counters["faces"] = double(faces.size());
  });
  // What a user writes to get faces with eyes: the detector, then the
  // landmarks of every face.
  add(refEyes, [image](benchmark::State& s) {
    const cv::Mat work = workingImage(*image);
    ref::findHog(work);
    for (auto _ : s) {
      for (const dlib::rectangle& r : ref::findHog(work)) benchmark::DoNotOptimize(ref::landmarks(work, r));
    }
  });
  if (image->cols != workingImage(*image).cols) {
    add(native, [image](benchmark::State& s) {
      std::vector<dlib::rectangle> faces;
      for (auto _ : s) benchmark::DoNotOptimize(faces = ref::findHog(*image));
      s.counters["faces"] = double(faces.size());
    });
  }
  // What dlib's examples do for faces this small: upsample once, then detect.
  const std::string upsampled = "hog/reference detector/" + size + " upsampled once";
  if (image == &photos().small) {
    add(upsampled, [image](benchmark::State& s) {
      std::vector<dlib::rectangle> faces;
      for (auto _ : s) {
        dlib::array2d<dlib::bgr_pixel> up;
        dlib::assign_image(up, dlib::cv_image<dlib::bgr_pixel>(*image));
        dlib::pyramid_up(up);
        benchmark::DoNotOptimize(faces = ref::models().hog(up));
      }
      s.counters["faces"] = double(faces.size());
    });
  }
  const std::string portableHog = "hog/reference built for any x86-64/" + from;
  add(portableHog, [image](benchmark::State& s) {
    const portable::Module& m = portable::module();
    if (m.state == nullptr) return s.SkipWithError("the portable module did not load");
    const cv::Mat work = workingImage(*image);
    long n = 0;
    for (auto _ : s) benchmark::DoNotOptimize(n = m.hog(m.state, work.data, work.rows, work.cols, work.step));
    s.counters["faces"] = double(n);
  });
  // The goal is for the finder against the detector on the same pixels;
  // ExtractFaces also finds the eyes of every face, which the plain
  // detector does not.
  stages().push_back({"HOG " + from + ": finder alone", finder, refHog, 1, 1, "<= 1.0"});
  stages().push_back({"HOG " + size + " (works at " + work + "): ExtractFaces", lib, refHog, 1, 1, ""});
  stages().push_back({"HOG " + size + ": ExtractFaces vs detector+landmarks of every face", lib, refEyes, 1, 1, ""});
  stages().push_back({"  part: working image " + from + " (library only)", working, "", 1, 1, ""});
  stages().push_back({"  part: eyes of the found faces at " + work + " (library only)", eyes, "", 1, 1, ""});
  if (image->cols != workingImage(*image).cols)
    stages().push_back({"HOG " + size + ": reference at its own size", "", native, 1, 1, ""});
  stages().push_back({"HOG " + from + ": reference built for any x86-64 / -march=native", portableHog, refHog, 1, 1,
                      ""});
  if (image == &photos().small)
    stages().push_back({"HOG " + size + ": ExtractFaces vs reference upsampled once", lib, upsampled, 1, 1, "<= 0.5"});
}

void registerLandmarks() {
  const std::string lib = "landmarks/library dlib_get_shape";
  const std::string refName = "landmarks/reference shape_predictor";
  const double n = double(std::max<size_t>(1, portraitFaces().boxes.size()));
  add(lib, [](benchmark::State& s) {
    cv::Mat image = photos().portrait;
    std::vector<cv::Rect> boxes;
    // The library's call widens its rectangle by one pixel: hand it the one
    // that becomes the reference's box.
    for (const dlib::rectangle& r : portraitFaces().boxes)
      boxes.emplace_back(r.left(), r.top(), r.width() - 1, r.height() - 1);
    if (boxes.empty()) return s.SkipWithError("no face");
    dlib_get_shape(image, boxes[0]);
    for (auto _ : s) {
      for (cv::Rect& b : boxes) benchmark::DoNotOptimize(dlib_get_shape(image, b));
    }
  });
  add(refName, [](benchmark::State& s) {
    const std::vector<dlib::rectangle>& boxes = portraitFaces().boxes;
    if (boxes.empty()) return s.SkipWithError("no face");
    for (auto _ : s) {
      for (const dlib::rectangle& b : boxes) benchmark::DoNotOptimize(ref::landmarks(photos().portrait, b));
    }
  });
  const std::string portableName = "landmarks/reference built for any x86-64";
  add(portableName, [](benchmark::State& s) {
    const portable::Module& m = portable::module();
    if (m.state == nullptr) return s.SkipWithError("the portable module did not load");
    const std::vector<dlib::rectangle>& boxes = portraitFaces().boxes;
    if (boxes.empty()) return s.SkipWithError("no face");
    const cv::Mat& p = photos().portrait;
    for (auto _ : s) {
      for (const dlib::rectangle& b : boxes)
        benchmark::DoNotOptimize(
            m.landmarks(m.state, p.data, p.rows, p.cols, p.step, b.left(), b.top(), b.right(), b.bottom()));
    }
  });
  stages().push_back({"landmarks per face (" + sizeName(photos().portrait) + " portrait)", lib, refName, n, n, ""});
  stages().push_back({"landmarks per face: reference built for any x86-64 / -march=native", portableName, refName, n,
                      n, ""});
}

void registerDescriptor(int blas) {
  const std::string tag = blas == 1 ? "blas=1" : "blas=default";
  const std::string lib = "descriptor/library ExtractVector/" + tag;
  const std::string refName = "descriptor/reference landmarks+chip+net/" + tag;
  add(lib, [blas](benchmark::State& s) {
    setBlasThreads(blas);
    const PortraitFaces& f = portraitFaces();
    if (!f.ok) return s.SkipWithError("no face");
    float out[128];
    mv::Face face = f.face;
    ExtractVector(&photos().portrait, &face, out);
    for (auto _ : s) {
      face = f.face;
      benchmark::DoNotOptimize(ExtractVector(&photos().portrait, &face, out));
    }
  });
  add(refName, [blas](benchmark::State& s) {
    setBlasThreads(blas);
    const PortraitFaces& f = portraitFaces();
    if (!f.ok) return s.SkipWithError("no face");
    const dlib::rectangle box = toDlib(f.face.rect);
    ref::descriptor(photos().portrait, box);
    for (auto _ : s) benchmark::DoNotOptimize(ref::descriptor(photos().portrait, box));
  });
  stages().push_back({"descriptor per face, known eyes, " + tag, lib, refName, 1, 1, blas == 1 ? "<= 0.5" : ""});
}

// Where the library's descriptor time goes besides the network: the
// alignment (rotation, crop, landmark refit) and the descriptor of the
// aligned crop (landmarks on the crop, chip, network).
void registerDescriptorParts() {
  const std::string align = "descriptor parts/library alignFace";
  const std::string net = "descriptor parts/library DlibExtractFaceVector on the aligned crop";
  add(align, [](benchmark::State& s) {
    setBlasThreads(1);
    const PortraitFaces& f = portraitFaces();
    if (!f.ok) return s.SkipWithError("no face");
    for (auto _ : s) {
      mv::Face face = f.face;
      cv::Mat cropped;
      benchmark::DoNotOptimize(alignFace(photos().portrait, &face.rect, &face.left_eye, &face.right_eye, cropped,
                                         !face.from_shape, g_config.align_desired_size, g_config.align_desired_eyes));
    }
  });
  add(net, [](benchmark::State& s) {
    setBlasThreads(1);
    const PortraitFaces& f = portraitFaces();
    if (!f.ok) return s.SkipWithError("no face");
    mv::Face face = f.face;
    cv::Mat cropped;
    alignFace(photos().portrait, &face.rect, &face.left_eye, &face.right_eye, cropped, !face.from_shape,
              g_config.align_desired_size, g_config.align_desired_eyes);
    cv::Mat crop = cropped.clone();
    std::vector<float> v;
    DlibExtractFaceVector(crop, v);
    for (auto _ : s) benchmark::DoNotOptimize(DlibExtractFaceVector(crop, v));
    s.SetLabel("crop " + sizeName(crop));
  });
  // ExtractVector rotates only the region around the face that the crop
  // and its landmark refit read; the public alignFace rotates the whole
  // image, so this part is an upper bound.
  stages().push_back({"  part: alignFace, whole image rotated (library only)", align, "", 1, 1, ""});
  stages().push_back({"  part: descriptor of the aligned crop vs reference", net,
                      "descriptor/reference landmarks+chip+net/blas=1", 1, 1, ""});
}

std::string throughputName(bool library, int threads, int blas) {
  return std::string("throughput/") + (library ? "library" : "reference") + "/threads:" + std::to_string(threads) +
         "/" + (blas == 1 ? "blas=1" : "blas=default");
}

void registerThroughput(int blas) {
  for (int threads : {1, 2}) {
    for (bool library : {true, false}) {
      add(throughputName(library, threads, blas), [library, threads, blas](benchmark::State& s) {
        if (!portraitFaces().ok) return s.SkipWithError("no face");
        setBlasThreads(blas);
        Crew& c = crew(library ? "library" : "reference", threads);
        for (auto _ : s) c.round();
      });
    }
    const double per = double(threads * kFacesPerRound);
    stages().push_back({"descriptor throughput, " + std::to_string(threads) + " calling thread(s), " +
                            (blas == 1 ? "blas=1" : "blas=default") + ", ms per face",
                        throughputName(true, threads, blas), throughputName(false, threads, blas), per, per, "",
                        true});
  }
}

std::string analysisName(int threads, int blas) {
  return "throughput/analysis 0x1E + descriptors/threads:" + std::to_string(threads) + "/" +
         (blas == 1 ? "blas=1" : "blas=default");
}

// Photos analysed per second by one and by two calling threads.
void registerAnalysisThroughput(int blas) {
  for (int threads : {1, 2}) {
    add(analysisName(threads, blas), [threads, blas](benchmark::State& s) {
      setBlasThreads(blas);
      Crew& c = crew("analysis", threads);
      for (auto _ : s) c.round();
    });
    const double per = double(threads * kPhotosPerRound);
    stages().push_back({"analysis throughput (0x1E, then descriptors), " + std::to_string(threads) +
                            " calling thread(s), " + (blas == 1 ? "blas=1" : "blas=default") + ", ms per photo",
                        analysisName(threads, blas), "", per, per, "", true});
  }
}

// Plain dlib's MMOD network on the image as it is.
void referenceMmod(benchmark::State& s, const cv::Mat& image) {
  setBlasThreads(0);
  const dlib::matrix<dlib::rgb_pixel> rgb = ref::rgbImage(image);
  ref::net_type& net = ref::mmod();
  std::vector<dlib::mmod_rect> found;
  for (auto _ : s) benchmark::DoNotOptimize(found = net(rgb));
  s.counters["faces"] = double(found.size());
}

// The finder takes the photograph as ExtractFaces hands it over: brought to
// the working size first (that step is timed too), then the network.
void libraryCnnFinder(benchmark::State& s, const cv::Mat& image) {
  setBlasThreads(0);
  CnnFindFaceAlgo algo;
  std::vector<cv::Rect> faces;
  cv::Mat work = workingImage(image);
  algo.findFaces(0, work, faces);  // loads the network
  for (auto _ : s) {
    work = workingImage(image);
    faces.clear();
    benchmark::DoNotOptimize(algo.findFaces(0, work, faces));
  }
  s.counters["faces"] = double(faces.size());
}

void registerCnn(const cv::Mat* image, int repetitions) {
  const std::string size = sizeName(*image);
  const std::string work = sizeName(workingImage(*image));
  const std::string lib = "cnn/library ExtractFaces 0x10/" + size;
  const std::string finder = "cnn/library finder/" + size + " via " + work;
  const std::string refName = "cnn/reference MMOD net/" + size;
  add(lib, [image](benchmark::State& s) { libraryFinds(s, *image, mv::FindCNN); })
      ->Iterations(1)
      ->Repetitions(repetitions);
  add(finder, [image](benchmark::State& s) { libraryCnnFinder(s, *image); })
      ->Iterations(1)
      ->Repetitions(repetitions);
  add(refName, [image](benchmark::State& s) { referenceMmod(s, *image); })
      ->Iterations(1)
      ->Repetitions(repetitions);
  const std::string refWork = "cnn/reference MMOD net/" + work + " from " + size;
  add(refWork, [image](benchmark::State& s) { referenceMmod(s, workingImage(*image)); })
      ->Iterations(1)
      ->Repetitions(repetitions);
  stages().push_back({"MMOD CNN " + size + ": finder (working image " + work + " and network)", finder, refName, 1, 1,
                      image->cols == 500 ? "<= 0.2 (5x faster)" : ""});
  stages().push_back({"MMOD CNN " + size + ": ExtractFaces (finder, then the eyes of every face)", lib, refName, 1,
                      1, ""});
  stages().push_back({"MMOD CNN " + size + ": finder vs reference at " + work, finder, refWork, 1, 1, ""});
}

void registerPico() {
  const std::string lib = "pico/library ExtractFaces 0x20/" + sizeName(photos().medium);
  const std::string finder = "pico/library finder/" + sizeName(photos().medium);
  const std::string scan = "pico/scan and clustering/" + sizeName(photos().medium);
  add(lib, [](benchmark::State& s) { libraryFinds(s, photos().medium, mv::FindPico); });
  add(finder, [](benchmark::State& s) {
    cv::Mat image = photos().medium.clone();
    PicoFindFaceAlgo algo;
    finderFinds(s, algo, image);
  });
  add(scan, [](benchmark::State& s) {
    std::vector<char> cascade;
    read_file(g_config.pico_path.c_str(), cascade);
    if (!validPicoCascade(cascade)) return s.SkipWithError("no pico cascade");
    cv::Mat grey;
    cv::cvtColor(photos().medium, grey, cv::COLOR_BGR2GRAY);
    std::vector<float> rcsq(4 * size_t(g_config.pico_maxdetections));
    int clusters = 0;
    auto once = [&] {
      const int n = find_objects(rcsq.data(), g_config.pico_maxdetections, cascade.data(), g_config.pico_angle,
                                 grey.ptr<uint8_t>(), grey.rows, grey.cols, int(grey.step[0]), g_config.pico_scalefactor,
                                 g_config.pico_stridefactor, g_config.pico_minsize, g_config.pico_maxsize);
      clusters = cluster_detections(rcsq.data(), n);
    };
    t_mallocs = 0;
    t_count_mallocs = true;
    once();
    t_count_mallocs = false;
    const unsigned long mallocs = t_mallocs;
    for (auto _ : s) {
      once();
      benchmark::DoNotOptimize(clusters);
    }
    s.counters["clusters"] = clusters;
    s.counters["mallocs_per_scan"] = double(mallocs);
    notes()["pico scan allocations"] = std::to_string(mallocs) + " malloc calls in one scan and clustering";
  });
  stages().push_back({"pico " + sizeName(photos().medium) + ": ExtractFaces 0x20 (works at " +
                          sizeName(workingImage(photos().medium)) + ")",
                      lib, "", 1, 1, ""});
  stages().push_back({"pico " + sizeName(photos().medium) + ": finder alone at its own size", finder, "", 1, 1, ""});
  stages().push_back({"pico " + sizeName(photos().medium) + ": scan and clustering (grey)", scan, "", 1, 1, ""});
}

void registerAll() {
  registerHog(&photos().small);
  registerHog(&photos().big);
  registerLandmarks();
  registerDescriptor(1);
  registerDescriptor(0);
  registerDescriptorParts();
  registerThroughput(1);
  registerThroughput(0);
  registerAnalysisThroughput(1);
  registerAnalysisThroughput(0);
  registerCnn(&photos().small, 3);
  registerCnn(&photos().big, 3);
  registerPico();
}

// --- collecting medians -----------------------------------------------------------

// Passes the aggregates (or the single runs when there are none) to the
// console and keeps every run's time per iteration for the final table.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") shown.push_back(run);
        continue;
      }
      if (run.error_occurred) {
        shown.push_back(run);
        continue;
      }
      const double ms = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
      times_[run.run_name.function_name].push_back(ms);
      cpu_[run.run_name.function_name].push_back(run.GetAdjustedCPUTime() /
                                                 benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3);
      if (run.repetitions <= 1) shown.push_back(run);
    }
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
  }

  // Median time per iteration in ms; negative when the benchmark did not run.
  double median(const std::string& name, bool cpu = false) const {
    const auto& times = cpu ? cpu_ : times_;
    auto it = times.find(name);
    if (it == times.end() || it->second.empty()) return -1.0;
    std::vector<double> v = it->second;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
  }

 private:
  std::map<std::string, std::vector<double>> times_;
  std::map<std::string, std::vector<double>> cpu_;  // the calling thread's CPU time
};

double lookup(const TableReporter& r, const std::string& name, bool cpu = false) {
  return name.empty() ? -1.0 : r.median(name, cpu);
}

std::string ms(double t) {
  if (t < 0.0) return "-";
  char buf[32];
  std::snprintf(buf, sizeof buf, t < 10.0 ? "%.3f" : "%.1f", t);
  return buf;
}

// Wall-clock medians decide; the calling thread's CPU time is shown beside
// them because it suffers less from other load on a shared machine (it
// leaves out OpenBLAS's own threads and the throughput workers).
void printTable(const TableReporter& r) {
  std::printf("\n%-78s | %9s | %9s | %6s | %9s | %9s | %6s | %s\n", "stage (median ms per unit)", "library",
              "reference", "ratio", "lib cpu", "ref cpu", "ratio", "goal (wall ratio)");
  std::printf("%s\n", std::string(160, '-').c_str());
  auto ratio = [](double a, double b) {
    char buf[32] = "-";
    if (a > 0 && b > 0) std::snprintf(buf, sizeof buf, "%.2f", a / b);
    return std::string(buf);
  };
  for (const Stage& s : stages()) {
    auto unit = [&](const std::string& name, double per, bool cpu) {
      const double t = lookup(r, name, cpu);
      return t < 0 ? -1.0 : t / per;
    };
    const double l = unit(s.library, s.per_library, false), f = unit(s.reference, s.per_reference, false);
    const double lc = s.wall_only ? -1 : unit(s.library, s.per_library, true);
    const double fc = s.wall_only ? -1 : unit(s.reference, s.per_reference, true);
    std::printf("%-78s | %9s | %9s | %6s | %9s | %9s | %6s | %s\n", s.label.c_str(), ms(l).c_str(), ms(f).c_str(),
                ratio(l, f).c_str(), ms(lc).c_str(), ms(fc).c_str(), ratio(lc, fc).c_str(), s.goal.c_str());
  }
  // Scaling of the throughput with a second calling thread.
  for (int blas : {1, 0}) {
    for (bool library : {true, false}) {
      const double one = lookup(r, throughputName(library, 1, blas)) / kFacesPerRound;
      const double two = lookup(r, throughputName(library, 2, blas)) / (2 * kFacesPerRound);
      if (one > 0 && two > 0)
        std::printf("throughput 2 threads / 1 thread, %-9s %-12s: %.2fx (goal >= 1.8)\n", library ? "library" : "reference",
                    blas == 1 ? "blas=1" : "blas=default", one / two);
    }
    const double one = lookup(r, analysisName(1, blas)) / kPhotosPerRound;
    const double two = lookup(r, analysisName(2, blas)) / (2 * kPhotosPerRound);
    if (one > 0 && two > 0)
      std::printf("throughput 2 threads / 1 thread, analysis  %-12s: %.2fx\n", blas == 1 ? "blas=1" : "blas=default",
                  one / two);
  }
}

// --- first calls --------------------------------------------------------------------

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

template <typename Fn>
double timed(Fn fn) {
  const auto a = std::chrono::steady_clock::now();
  fn();
  return seconds(a, std::chrono::steady_clock::now()) * 1e3;
}

double medianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1.0 : v[v.size() / 2];
}

// Model loading on a thread that has none: the first ExtractFaces (HOG) and
// the first ExtractVector, each against the same call once loaded, and the
// first ExtractVector of a second thread while the first holds its models;
// and what the plain reference pays to load, against reading the files'
// bytes.
std::string firstCalls() {
  std::string out;
  char line[256];
  auto readBytes = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<char> bytes(in ? static_cast<size_t>(in.tellg()) : 0);
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<size_t>(in.gcount());
  };
  for (const std::string& path : {ref::kShapeModel, ref::kMetricModel, ref::kMmodModel}) readBytes(path);  // cache
  double readAll = 0.0;
  for (const std::string& path : {ref::kShapeModel, ref::kMetricModel, ref::kMmodModel}) {
    size_t size = 0;
    const double t = timed([&] { size = readBytes(path); });
    if (path != ref::kMmodModel) readAll += t;
    std::snprintf(line, sizeof line, "  read %-55s %9zu bytes %8.1f ms\n", path.c_str(), size, t);
    out += line;
  }

  const PortraitFaces& f = portraitFaces();
  std::vector<double> faces1, faces2, vector1, vector2, vectorOther, refHog, refSp, refNet;
  for (int round = 0; round < 3; ++round) {
    std::thread([&] {
      setBlasThreads(0);
      std::vector<mv::Face> faces(256);
      size_t n = faces.size();
      float v[128];
      faces1.push_back(timed([&] { ExtractFaces(&photos().small, faces.data(), &n, mv::FindDlib); }));
      n = faces.size();
      faces2.push_back(timed([&] { ExtractFaces(&photos().small, faces.data(), &n, mv::FindDlib); }));
      mv::Face face = f.face;
      vector1.push_back(timed([&] { ExtractVector(&photos().portrait, &face, v); }));
      face = f.face;
      vector2.push_back(timed([&] { ExtractVector(&photos().portrait, &face, v); }));
      // Another thread's first call while this one holds its models.
      std::thread([&] {
        setBlasThreads(0);
        mv::Face other = f.face;
        float w[128];
        vectorOther.push_back(timed([&] { ExtractVector(&photos().portrait, &other, w); }));
        GlobalFree();
      }).join();
      GlobalFree();
    }).join();
    std::thread([&] {
      setBlasThreads(0);
      refHog.push_back(timed([] { dlib::frontal_face_detector d = dlib::get_frontal_face_detector(); }));
      refSp.push_back(timed([] {
        dlib::shape_predictor sp;
        dlib::deserialize(ref::kShapeModel) >> sp;
      }));
      refNet.push_back(timed([] {
        auto net = std::make_unique<ref::anet_type>();
        dlib::deserialize(ref::kMetricModel) >> *net;
      }));
    }).join();
  }
  auto row = [&](const char* what, const std::vector<double>& v) {
    std::string all;
    for (double t : v) all += " " + ms(t);
    std::snprintf(line, sizeof line, "  %-62s median %8.1f ms  (runs:%s)\n", what, medianOf(v), all.c_str());
    out += line;
  };
  row("library first ExtractFaces 0x08 on a new thread (500x375)", faces1);
  row("library second ExtractFaces 0x08 on that thread", faces2);
  row("library first ExtractVector on that thread (after ExtractFaces)", vector1);
  row("library second ExtractVector on that thread", vector2);
  row("library first ExtractVector on another thread meanwhile", vectorOther);
  row("reference get_frontal_face_detector()", refHog);
  row("reference deserialize shape_predictor", refSp);
  row("reference deserialize anet_type", refNet);
  std::snprintf(line, sizeof line, "  reading the bytes of the landmark and metric models: %.1f ms\n", readAll);
  out += line;
  return out;
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

}  // namespace

int main(int argc, char** argv) {
  // Five repetitions and their medians unless the command line says otherwise.
  std::vector<char*> args(argv, argv + argc);
  bool repetitions = false;
  for (int i = 1; i < argc; ++i) repetitions |= std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
  std::string defaultRepetitions = "--benchmark_repetitions=5";
  if (!repetitions) args.push_back(&defaultRepetitions[0]);
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;

  const std::string loadBefore = loadAverage();
  std::printf("OpenBLAS: %s, default threads %d\n", blasSet() ? "found" : "not found", blasDefaultThreads());
  const char* mmapMax = std::getenv("MALLOC_MMAP_MAX_");
  std::printf("malloc: MALLOC_MMAP_MAX_=%s\n", mmapMax ? mmapMax : "(unset, default)");
  std::printf("reference compiled with:%s%s%s\n",
#ifdef __OPTIMIZE__
              " optimised",
#else
              " unoptimised",
#endif
#ifdef __AVX2__
              " AVX2",
#else
              " no-AVX2",
#endif
#ifdef __FMA__
              " FMA"
#else
              ""
#endif
  );
  const std::string first = firstCalls();

  const PortraitFaces& f = portraitFaces();
  if (f.ok) {
    // The two sides describe the same face by different routes (the library
    // aligns by the eyes first); their distance shows how close they land.
    float v[128];
    mv::Face face = f.face;
    ExtractVector(&photos().portrait, &face, v);
    const dlib::matrix<float, 0, 1> r = ref::descriptor(photos().portrait, toDlib(f.face.rect));
    double d = 0.0;
    for (long i = 0; i < 128; ++i) d += (v[i] - r(i)) * (v[i] - r(i));
    char buf[128];
    std::snprintf(buf, sizeof buf, "%.4f", std::sqrt(d));
    notes()["descriptor distance library/reference, same face"] = buf;
    const double tilt = std::atan2(double(f.face.right_eye.y - f.face.left_eye.y),
                                   double(f.face.right_eye.x - f.face.left_eye.x)) * 180.0 / 3.141592653589793;
    std::snprintf(buf, sizeof buf, "%dx%d at (%d,%d), eyes from %s, eye-line tilt %.1f deg", f.face.rect.w,
                  f.face.rect.h, f.face.rect.x, f.face.rect.y, f.face.from_shape ? "the landmarks" : "the eye cascade",
                  tilt);
    notes()["descriptor face (ExtractFaces 0x08 on the portrait)"] = buf;
  }
  {
    // At the same working size the library's HOG finder must find exactly
    // the reference's rectangles.
    for (const cv::Mat* image : {&photos().small, &photos().big}) {
      cv::Mat work = workingImage(*image);
      std::vector<cv::Rect> lib;
      DlibFindFaceAlgo algo;
      algo.findFaces(0, work, lib);
      const std::vector<dlib::rectangle> refFaces = ref::findHog(work);
      bool same = lib.size() == refFaces.size();
      for (size_t i = 0; same && i < lib.size(); ++i)
        same = lib[i].x == refFaces[i].left() && lib[i].y == refFaces[i].top() &&
               lib[i].width == long(refFaces[i].width()) && lib[i].height == long(refFaces[i].height());
      notes()["HOG rectangles at " + sizeName(work) + " from " + sizeName(*image)] =
          std::to_string(lib.size()) + " library / " + std::to_string(refFaces.size()) + " reference, " +
          (same ? "identical" : "DIFFERENT");
    }
  }

  registerAll();
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  printTable(reporter);
  std::printf("\nFirst calls (model loading):\n%s", first.c_str());
  std::printf("\nNotes:\n");
  for (const auto& note : notes()) std::printf("  %s: %s\n", note.first.c_str(), note.second.c_str());
  std::printf("  load average before: %s, after: %s\n", loadBefore.c_str(), loadAverage().c_str());
  benchmark::Shutdown();
  return 0;
}
