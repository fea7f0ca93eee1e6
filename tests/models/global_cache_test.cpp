// The per-thread model cache: one load per thread, registration, release
// through GlobalFree, and loader failures.

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "models/forked_child.h"
#include "morvik/findface.h"
#include "morvik/global_cache.h"
#include "morvik/morvik.h"
#include "support/forked_child.h"
#include "support/test_support.h"

namespace {

std::atomic<int> g_loads{0};

struct Model {
  int value = 0;
};

std::shared_ptr<Model> countingModel() {
  return cachedModel<Model>([](Model& m) {
    ++g_loads;
    m.value = 42;
    return true;
  });
}

size_t registrations() {
  GlobalLock lock;
  return g_releases.size();
}

class GlobalCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalFree();
    g_loads = 0;
  }
  void TearDown() override { GlobalFree(); }
};

}  // namespace

TEST_F(GlobalCacheTest, LoadsOncePerThreadAndRegistersOnce) {
  EXPECT_EQ(registrations(), 0u);
  auto first = countingModel();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->value, 42);
  EXPECT_EQ(registrations(), 1u);
  auto second = countingModel();
  EXPECT_EQ(first.get(), second.get());
  EXPECT_EQ(g_loads, 1);
  EXPECT_EQ(registrations(), 1u);
}

TEST_F(GlobalCacheTest, GlobalFreeDropsTheInstanceAndNextUseReloads) {
  std::weak_ptr<Model> weak = countingModel();
  GlobalFree();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(registrations(), 0u);
  countingModel();
  EXPECT_EQ(g_loads, 2);
  GlobalFree();
  GlobalFree();  // an empty list is fine
  EXPECT_EQ(registrations(), 0u);
}

TEST_F(GlobalCacheTest, FailedLoadCachesAndRegistersNothing) {
  int attempts = 0;
  auto failing = [&attempts](Model&) {
    ++attempts;
    return false;
  };
  EXPECT_FALSE((GlobalCache<Model, decltype(failing)>::get(failing)));
  EXPECT_FALSE((GlobalCache<Model, decltype(failing)>::get(failing)));
  EXPECT_EQ(attempts, 2);
  EXPECT_EQ(registrations(), 0u);

  auto throwing = [](Model&) -> bool { throw std::runtime_error("broken model"); };
  EXPECT_THROW((GlobalCache<Model, decltype(throwing)>::get(throwing)), std::runtime_error);
  EXPECT_EQ(registrations(), 0u);
  // The lock was released on the exceptional path: another thread can load.
  std::thread other([] { countingModel(); });
  other.join();
  EXPECT_EQ(registrations(), 1u);
}

TEST_F(GlobalCacheTest, ThreadsHoldTheirOwnInstances) {
  Model* main_model = countingModel().get();
  Model* other_model = nullptr;
  std::thread other([&] { other_model = countingModel().get(); });
  other.join();
  EXPECT_NE(main_model, other_model);
  EXPECT_EQ(g_loads, 2);
  EXPECT_EQ(registrations(), 2u) << "the same release function, once per load";
}

TEST_F(GlobalCacheTest, GlobalFreeOnOneThreadLeavesOtherThreadsModels) {
  std::atomic<int> step{0};
  std::weak_ptr<Model> worker_model;
  bool worker_kept = false;
  std::thread worker([&] {
    worker_model = countingModel();
    step = 1;
    while (step != 2) std::this_thread::yield();
    // The main thread's GlobalFree emptied the list but did not touch this
    // thread's instance.
    worker_kept = !worker_model.expired() && countingModel().get() == worker_model.lock().get();
    GlobalFree();  // no longer registered: the instance stays
    worker_kept = worker_kept && !worker_model.expired();
  });
  while (step != 1) std::this_thread::yield();
  GlobalFree();
  EXPECT_EQ(registrations(), 0u);
  step = 2;
  worker.join();
  EXPECT_TRUE(worker_kept);
  EXPECT_EQ(g_loads, 1);
}

TEST_F(GlobalCacheTest, RecursiveLockAllowsNestedUse) {
  GlobalLock outer;
  GlobalLock inner;
  countingModel();  // registers while the lock is held
  EXPECT_EQ(registrations(), 1u);
}

// A fork while another thread loads a model (and so holds the lock) must
// not leave the child with a lock no thread of its own will release.
TEST_F(GlobalCacheTest, AForkDuringALoadLeavesTheChildALockItCanTake) {
  std::atomic<bool> holding{false};
  std::thread loader([&] {
    GlobalLock lock;  // as a load holds it
    holding = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  });
  while (!holding) std::this_thread::yield();
  EXPECT_FALSE(morvik::forkedChild());
  const std::string child = testing_support::inForkedChild(
      [] {
        if (!morvik::forkedChild()) return 2;
        GlobalLock lock;
        return countingModel() && registrations() >= 1 ? 0 : 1;
      },
      20);
  loader.join();
  EXPECT_EQ(child, "exit 0");
  EXPECT_FALSE(morvik::forkedChild());
}

// The same with real models: the process forks while another thread makes
// its first call, and the child finds faces itself.
TEST_F(GlobalCacheTest, AForkDuringAFirstCallLeavesAChildThatFindsFaces) {
  const cv::Mat image = testing_support::photo("people/obama/obama2.jpg");
  ASSERT_FALSE(image.empty());
  const auto findFaces = [&image] {
    mv::Face faces[4];
    size_t n = 4;
    return ExtractFaces(&image, faces, &n, mv::FindDlib);
  };
  std::atomic<bool> started{false};
  int thread_rc = -100;
  std::thread first([&] {
    started = true;
    thread_rc = findFaces();
  });
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::string child = testing_support::inForkedChild([&] { return findFaces() == MV_OK ? 0 : 1; }, 60);
  first.join();
  EXPECT_EQ(thread_rc, MV_OK);
  EXPECT_EQ(child, "exit 0");
}
