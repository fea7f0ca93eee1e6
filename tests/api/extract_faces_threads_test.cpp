// ExtractFaces on several threads at once: each thread has its own models,
// and releasing them on one thread leaves the others working.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using testing_support::photo;

constexpr auto kAlgo = static_cast<mv::FindFaceAlgoType>(mv::FindLBP | mv::FindHaar);

struct Result {
  int rc = 0;
  std::vector<mv::Face> faces;
  bool operator==(const Result& o) const {
    return rc == o.rc && faces.size() == o.faces.size() &&
           std::memcmp(faces.data(), o.faces.data(), faces.size() * sizeof(mv::Face)) == 0;
  }
};

Result run(const cv::Mat& image) {
  Result r;
  r.faces.resize(64);
  size_t n = r.faces.size();
  r.rc = ExtractFaces(&image, r.faces.data(), &n, kAlgo);
  r.faces.resize(r.rc == 0 ? n : 0);
  // Faces of equal area come in no defined order; compare them as a set.
  std::sort(r.faces.begin(), r.faces.end(), [](const mv::Face& a, const mv::Face& b) {
    return std::tie(a.rect.x, a.rect.y, a.rect.w) < std::tie(b.rect.x, b.rect.y, b.rect.w);
  });
  return r;
}

class ExtractFacesThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"faces/two_people.jpg", "faces/2008_001322.jpg", "faces/2007_007763.jpg",
                             "people/obama/obama2.jpg"}) {
      images_.push_back(photo(name));
      ASSERT_FALSE(images_.back().empty()) << name;
      expected_.push_back(run(images_.back()));
      ASSERT_EQ(expected_.back().rc, 0) << name;
    }
  }
  std::vector<cv::Mat> images_;
  std::vector<Result> expected_;
};

TEST_F(ExtractFacesThreads, SameResultsAsOneThread) {
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (size_t t = 0; t < images_.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        const size_t i = (t + round) % images_.size();
        if (!(run(images_[i]) == expected_[i])) ++mismatches;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST_F(ExtractFacesThreads, GlobalFreeOnOneThreadDoesNotDisturbAnother) {
  std::atomic<bool> stop{false};
  std::atomic<int> mismatches{0};
  std::atomic<int> worker_runs{0};
  std::thread worker([&] {
    while (!stop.load() || worker_runs.load() < 6) {
      const size_t i = worker_runs.load() % images_.size();
      if (!(run(images_[i]) == expected_[i])) ++mismatches;
      ++worker_runs;
    }
  });
  std::thread releaser([&] {
    for (int round = 0; round < 6; ++round) {
      const size_t i = (round + 1) % images_.size();
      if (!(run(images_[i]) == expected_[i])) ++mismatches;
      GlobalFree();
    }
    stop = true;
  });
  releaser.join();
  worker.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_GE(worker_runs.load(), 6);
}

}  // namespace
