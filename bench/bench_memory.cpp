// Resident memory of the models: what each model adds when it is first
// loaded on one thread, and what every further thread that uses all models
// adds (models are cached per thread, so each thread holds its own copies).
// Each model is loaded by one minimal pass over a small blank image, so the
// figures are the models plus the smallest working buffers.
//
// Run: ./build/bench/bench_memory
// Counters: rss_MB is the resident size after the step, delta_MB what the
// step added; threadN_MB what the N-th extra thread added, per_thread_MB
// their mean.
#include <malloc.h>

#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <dlib/image_processing/full_object_detection.h>
#include <opencv2/core.hpp>

#include "resident_memory.h"
#include "face/eye_cascade.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/findface.h"
#include "morvik/global_cache.h"

namespace {

// VmRSS of /proc/self/status, in MiB.
double residentMB() { return bench_support::residentKiB() / 1024.0; }

cv::Mat blank(int size) { return cv::Mat(size, size, CV_8UC3, cv::Scalar(128, 128, 128)); }

void faceCascades() {
  cv::Mat image = blank(64);
  std::vector<cv::Rect> faces;
  HaarFindFaceAlgo(true).findFaces(0, image, faces);  // looks up both face cascades
}

void eyeCascade() {
  cv::Mat image = blank(64);
  mv::Point left, right;
  HaarExtractEyesInfo(image, &left, &right);
}

void pico() {
  cv::Mat image = blank(64);
  std::vector<cv::Rect> faces;
  PicoFindFaceAlgo().findFaces(0, image, faces);
}

void hog() {
  cv::Mat image = blank(96);
  std::vector<cv::Rect> faces;
  DlibFindFaceAlgo().findFaces(0, image, faces);
}

void landmarks() {
  cv::Mat image = blank(64);
  cv::Rect rect(8, 8, 48, 48);
  dlib_get_shape(image, rect);
}

void descriptorNetwork() {
  std::vector<float> vector;
  DlibExtractFaceVector(blank(150), vector);
}

dlib::matrix<dlib::rgb_pixel> rgbBlank() {
  dlib::matrix<dlib::rgb_pixel> image(64, 64);
  image = dlib::rgb_pixel(128, 128, 128);
  return image;
}

void cnnFull() {
  dlib::matrix<dlib::rgb_pixel> image = rgbBlank();
  std::vector<cv::Rect> faces;
  DlibCNNExtractFaceInfo(image, faces);
}

void cnnLight() {
  dlib::matrix<dlib::rgb_pixel> image = rgbBlank();
  std::vector<cv::Rect> faces;
  DlibCNNLightExtractFaceInfo(image, faces);
}

struct Model {
  const char* name;
  void (*load)();
};

// In the order of the steps below; the landmark model comes before the
// descriptor network, which needs it.
const Model kModels[] = {{"face_cascades", faceCascades}, {"eye_cascade", eyeCascade},
                         {"pico", pico},                  {"hog", hog},
                         {"landmarks", landmarks},         {"descriptor_network", descriptorNetwork},
                         {"cnn_full", cnnFull},            {"cnn_light", cnnLight}};

void loadAll() {
  for (const Model& m : kModels) m.load();
}

// One step per model, on the main thread: the models stay loaded, so each
// step shows what its model adds to the ones before.
void BM_LoadModel(benchmark::State& state, void (*load)()) {
  const double before = residentMB();
  for (auto _ : state) load();
  const double after = residentMB();
  state.counters["rss_MB"] = after;
  state.counters["delta_MB"] = after - before;
}

// Starts up to `extra` threads one after the other; each loads every model
// and then waits, so all their copies stay resident. The resident size is
// read after each thread has loaded; freed memory of earlier runs cannot
// hide growth because every thread adds to what is already held.
void BM_ExtraThreads(benchmark::State& state) {
  const int extra = static_cast<int>(state.range(0));
  loadAll();  // the main thread's copies are not part of the growth
  std::vector<double> growth(extra, 0.0);
  for (auto _ : state) {
    std::mutex mutex;
    std::condition_variable cv;
    int loaded = 0;
    bool done = false;
    std::vector<std::thread> threads;
    double previous = residentMB();
    for (int t = 0; t < extra; ++t) {
      threads.emplace_back([&] {
        loadAll();
        std::unique_lock<std::mutex> lock(mutex);
        ++loaded;
        cv.notify_all();
        cv.wait(lock, [&] { return done; });
      });
      std::unique_lock<std::mutex> lock(mutex);
      cv.wait(lock, [&] { return loaded == t + 1; });
      const double now = residentMB();
      growth[t] = now - previous;
      previous = now;
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      done = true;
    }
    cv.notify_all();
    for (std::thread& th : threads) th.join();  // their models go with them
  }
  double total = 0.0;
  for (int t = 0; t < extra; ++t) {
    state.counters["thread" + std::to_string(t + 1) + "_MB"] = growth[t];
    total += growth[t];
  }
  state.counters["per_thread_MB"] = total / extra;
  // After the threads end their models are freed; what stays resident is
  // held by the allocator until it is trimmed.
  state.counters["rss_after_join_MB"] = residentMB();
  malloc_trim(0);
  state.counters["rss_after_trim_MB"] = residentMB();
}

}  // namespace

int main(int argc, char** argv) {
  for (const Model& m : kModels) {
    benchmark::RegisterBenchmark((std::string("BM_LoadModel/") + m.name).c_str(), BM_LoadModel, m.load)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("BM_ExtraThreads", BM_ExtraThreads)
      ->Arg(4)
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
