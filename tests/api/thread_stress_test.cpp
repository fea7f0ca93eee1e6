// Many threads calling the entry points at once, for a bounded time: finding,
// describing, the combined call, comparison, option reads and releasing the
// thread's models. Every answer must equal the one-thread answer.
//
// MORVIK_STRESS_SECONDS lengthens the run (default 3 seconds); the
// ThreadSanitizer build runs this program too.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using testing_support::fileBytes;
using testing_support::photo;
using testing_support::testdata;

constexpr int kThreads = 8;
constexpr int kDescribingThreads = 4;
constexpr size_t kCapacity = 16;
// The cheapest finder that finds every face of these photos.
constexpr mv::FindFaceAlgoType kAlgo = mv::FindLBP;

double stressSeconds() {
  const char* env = std::getenv("MORVIK_STRESS_SECONDS");
  const double seconds = env != nullptr ? std::atof(env) : 0.0;
  return seconds > 0.0 ? seconds : 3.0;
}

bool sameBytes(const void* a, const void* b, size_t size) { return std::memcmp(a, b, size) == 0; }

// Faces of equal area come in no defined order (the cascade search runs in
// parallel inside OpenCV); records are compared in rectangle order.
template <typename Record>
void sortByRect(std::vector<Record>& records) {
  std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
    return std::tie(a.rect.x, a.rect.y, a.rect.w, a.rect.h) < std::tie(b.rect.x, b.rect.y, b.rect.w, b.rect.h);
  });
}

// Field by field: the record has padding after `from_shape`.
bool sameFace(const mv::Face& a, const mv::Face& b) {
  return a.from_shape == b.from_shape && sameBytes(&a.angle, &b.angle, sizeof(a.angle)) &&
         sameBytes(&a.rect, &b.rect, sizeof(a.rect)) && sameBytes(&a.right_eye, &b.right_eye, sizeof(a.right_eye)) &&
         sameBytes(&a.left_eye, &b.left_eye, sizeof(a.left_eye));
}

struct FacesResult {
  int rc = 0;
  std::vector<mv::Face> faces;
  bool operator==(const FacesResult& o) const {
    return rc == o.rc && std::equal(faces.begin(), faces.end(), o.faces.begin(), o.faces.end(), sameFace);
  }
};

struct InfoResult {
  int rc = 0;
  std::vector<mv::FaceData> data;
  std::vector<std::vector<char>> images;  // encoded face images of ExtractInfoEx
  bool operator==(const InfoResult& o) const {
    return rc == o.rc && data.size() == o.data.size() &&
           sameBytes(data.data(), o.data.data(), data.size() * sizeof(mv::FaceData)) && images == o.images;
  }
};

FacesResult extractFaces(const cv::Mat& image) {
  FacesResult r;
  r.faces.resize(kCapacity);
  size_t n = kCapacity;
  r.rc = ExtractFaces(&image, r.faces.data(), &n, kAlgo);
  r.faces.resize(r.rc == 0 ? n : 0);
  sortByRect(r.faces);
  return r;
}

// The faces are given in a fixed order, so the records come in that order.
InfoResult extractInfoEx(const cv::Mat& image, const std::vector<mv::Face>& faces) {
  InfoResult r;
  std::vector<mv::FaceDataEx> records(faces.size());
  size_t n = records.size();
  std::vector<mv::Face> input = faces;
  r.rc = ExtractInfoEx(&image, input.data(), input.size(), records.data(), &n);
  if (r.rc != 0) return r;
  for (size_t i = 0; i < n; ++i) {
    r.data.push_back(records[i]);
    r.images.push_back(records[i].image());
  }
  return r;
}

InfoResult extractFacesInfo(const std::vector<char>& bytes) {
  InfoResult r;
  std::vector<mv::FaceData> records(kCapacity);
  size_t n = kCapacity;
  r.rc = ExtractFacesInfo(bytes.data(), bytes.size(), records.data(), &n, kAlgo);
  if (r.rc == 0) {
    records.resize(n);
    sortByRect(records);
    r.data = records;
  }
  return r;
}

struct Distance {
  int rc = 0;
  double value = -1.0;
  bool operator==(const Distance& o) const { return rc == o.rc && sameBytes(&value, &o.value, sizeof(value)); }
};

Distance compare(const mv::FaceData& a, const mv::FaceData& b) {
  Distance d;
  d.rc = CompareVectors(a.vector, sizeof(a.vector), b.vector, sizeof(b.vector), &d.value);
  return d;
}

// A few options of each kind, read back as raw bytes.
const char* const kOptions[] = {"image.rescale_max", "align.desired_eyes.width", "haar.face.scale_factor",
                                "dlib.anet", "pico.path"};

std::vector<std::vector<unsigned char>> readOptions() {
  std::vector<std::vector<unsigned char>> values;
  for (const char* name : kOptions) {
    std::vector<unsigned char> buffer(32, 0);
    const int rc = GetOption(name, buffer.data(), buffer.size());
    buffer.push_back(static_cast<unsigned char>(rc));
    values.push_back(buffer);
  }
  return values;
}

// What one photo gives on a single thread.
struct Expected {
  cv::Mat image;
  std::vector<char> bytes;
  FacesResult faces;
  InfoResult info;
  InfoResult combined;
};

enum Op { kExtractFaces, kExtractInfoEx, kExtractFacesInfo, kCompareVectors, kGetOption, kGlobalFree, kOps };
const char* const kOpNames[kOps] = {"ExtractFaces", "ExtractInfoEx", "ExtractFacesInfo",
                                    "CompareVectors", "GetOption", "GlobalFree"};

class ThreadStress : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"faces/2008_001322.jpg", "people/obama/obama2.jpg", "faces/two_people.jpg"}) {
      Expected e;
      e.image = photo(name);
      e.bytes = fileBytes(testdata(name));
      ASSERT_FALSE(e.image.empty()) << name;
      e.faces = extractFaces(e.image);
      ASSERT_EQ(e.faces.rc, 0) << name;
      e.info = extractInfoEx(e.image, e.faces.faces);
      ASSERT_EQ(e.info.rc, 0) << name;
      e.combined = extractFacesInfo(e.bytes);
      ASSERT_EQ(e.combined.rc, 0) << name;
      expected_.push_back(e);
    }
    distance_ = compare(expected_[1].info.data[0], expected_[2].info.data[0]);
    ASSERT_EQ(distance_.rc, 0);
    options_ = readOptions();
    GlobalFree();
  }
  void TearDown() override { GlobalFree(); }

  // Runs operation `op` on one photo; true when it gave the expected answer.
  bool runOp(int op, const Expected& e) const {
    switch (op) {
      case kExtractFaces: return extractFaces(e.image) == e.faces;
      case kExtractInfoEx: return extractInfoEx(e.image, e.faces.faces) == e.info;
      case kExtractFacesInfo: return extractFacesInfo(e.bytes) == e.combined;
      case kCompareVectors: return compare(expected_[1].info.data[0], expected_[2].info.data[0]) == distance_;
      case kGetOption: return readOptions() == options_;
      case kGlobalFree: GlobalFree(); return true;
    }
    return false;
  }

  std::vector<Expected> expected_;
  Distance distance_;
  std::vector<std::vector<unsigned char>> options_;
};

}  // namespace

TEST_F(ThreadStress, EveryAnswerEqualsTheSingleThreadAnswer) {
  std::atomic<long> runs[kOps] = {};
  std::atomic<long> mismatches[kOps] = {};
  std::atomic<long> exceptions{0};
  auto runCounted = [&](int op, const Expected& e) {
    try {
      if (!runOp(op, e)) ++mismatches[op];
    } catch (const std::exception& ex) {
      std::cerr << kOpNames[op] << " threw: " << ex.what() << std::endl;
      ++exceptions;
    }
    ++runs[op];
  };

  // Four threads describe faces and keep their models; four find faces and
  // drop their models again and again, so loads, registrations and
  // GlobalFree meet the describing threads' work. The landmark model alone
  // takes about a second to read, which rules out dropping it in every
  // thread. Each thread first runs its operations once, all threads at the
  // same time, so the first loads are concurrent too; only then starts the
  // timed part.
  const std::vector<int> describing = {kExtractInfoEx, kExtractFacesInfo, kExtractFaces, kCompareVectors, kGetOption};
  const std::vector<int> releasing = {kExtractFaces, kGlobalFree, kCompareVectors, kGetOption};
  std::atomic<int> warm{0};
  std::atomic<bool> started{false};
  std::chrono::steady_clock::time_point deadline;
  std::vector<std::thread> threads;
  const auto begin = std::chrono::steady_clock::now();
  for (int t = 0; t < kThreads; ++t) {
    const std::vector<int>& ops = t < kDescribingThreads ? describing : releasing;
    threads.emplace_back([&, t] {
      auto step = [&](size_t i) {
        runCounted(ops[(t + i) % ops.size()], expected_[(t + i / ops.size()) % expected_.size()]);
      };
      size_t i = 0;
      for (; i < ops.size(); ++i) step(i);
      ++warm;
      while (!started.load()) std::this_thread::yield();
      for (; std::chrono::steady_clock::now() < deadline; ++i) step(i);
    });
  }
  while (warm.load() < kThreads) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                     std::chrono::duration<double>(stressSeconds()));
  const std::chrono::duration<double> warm_up = std::chrono::steady_clock::now() - begin;
  started = true;
  for (std::thread& th : threads) th.join();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin;

  long total = 0;
  std::cout << kThreads << " threads, warm-up " << warm_up.count() << " s, then " << stressSeconds()
            << " s (all done after " << elapsed.count() << " s):";
  for (int op = 0; op < kOps; ++op) {
    std::cout << " " << kOpNames[op] << " " << runs[op].load();
    total += runs[op].load();
    EXPECT_EQ(mismatches[op].load(), 0) << kOpNames[op];
  }
  std::cout << "; " << total << " thread-iterations" << std::endl;
  RecordProperty("thread_iterations", std::to_string(total));
  EXPECT_EQ(exceptions.load(), 0);
}
