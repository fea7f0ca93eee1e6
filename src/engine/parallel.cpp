// Helper threads for the calls; see parallel.h.
//
// The helpers are started on first need and then wait, asleep, for the next
// call that wants them: starting a thread costs tens of microseconds, and
// the descriptor network alone spreads two dozen layers over threads per
// face. A call borrows the helpers that are idle when it asks, and runs
// every task itself when none is, so calls on several threads never wait
// for each other's helpers.
#include "engine/parallel.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace morvik {
namespace {

constexpr int kMaxThreads = 16;

std::atomic<int> g_analyses{0};

// One parallelFor: its tasks, taken in order from a shared counter by the
// calling thread and the helpers lent to it.
class Job {
 public:
  Job(long count, const std::function<void(long, int)>& task) : count_(count), task_(task) {}

  void work(int worker) {
    for (long i = next_++; i < count_; i = next_++) {
      try {
        task_(i, worker);
      } catch (...) {
        next_ = count_;  // the others stop after their current task
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failure_) failure_ = std::current_exception();
      }
    }
  }

  void lend() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++helpers_;
  }

  // A helper is done; after this it must not touch the job, which the
  // caller may destroy as soon as the last helper is done.
  void helperDone() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--helpers_ == 0) done_.notify_one();
  }

  // Waits for the helpers, then rethrows the first failure of any task.
  void finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return helpers_ == 0; });
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  const long count_;
  const std::function<void(long, int)>& task_;
  std::atomic<long> next_{0};
  std::mutex mutex_;
  std::condition_variable done_;
  int helpers_ = 0;  // under mutex_
  std::exception_ptr failure_;
};

// The process's helper threads, at most one fewer than the processor has
// cores. They live until the library is unloaded.
class HelperPool {
 public:
  static HelperPool& instance() {
    static HelperPool pool;
    return pool;
  }

  ~HelperPool() {
    if (forked()) {
      // A child of fork() has none of these threads: nothing to join.
      for (auto& h : helpers_) h.release();
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      for (auto& h : helpers_) h->wake.notify_one();
    }
    for (auto& h : helpers_) h->thread.join();
  }

  // Lends up to `wanted` idle helpers to the job, as workers 1, 2, ...;
  // returns how many it lent. Starts helpers as far as the limit allows.
  int lend(Job& job, int wanted) {
    // In a child of fork() the helpers (and maybe the mutex's owner) stayed
    // behind in the parent: the child's calls run alone.
    if (forked()) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    int lent = 0;
    for (auto& h : helpers_) {
      if (lent == wanted) break;
      if (h->job == nullptr) assign(*h, job, ++lent);
    }
    while (lent < wanted && static_cast<int>(helpers_.size()) < limit_) {
      auto h = std::make_unique<Helper>();
      try {
        h->thread = std::thread([this, raw = h.get()] { loop(*raw); });
      } catch (...) {
        break;  // no thread to spare: fewer helpers
      }
      helpers_.push_back(std::move(h));
      assign(*helpers_.back(), job, ++lent);
    }
    return lent;
  }

 private:
  struct Helper {
    std::thread thread;
    std::condition_variable wake;
    Job* job = nullptr;  // under the pool's mutex
    int worker = 0;
  };

  bool forked() const { return getpid() != pid_; }

  HelperPool() : pid_(getpid()), limit_(std::clamp(static_cast<int>(std::thread::hardware_concurrency()) - 1, 0, kMaxThreads - 1)) {}

  void assign(Helper& h, Job& job, int worker) {
    job.lend();
    h.job = &job;
    h.worker = worker;
    h.wake.notify_one();
  }

  void loop(Helper& h) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      h.wake.wait(lock, [&] { return stopping_ || h.job != nullptr; });
      if (h.job == nullptr) return;
      Job* job = h.job;
      const int worker = h.worker;
      lock.unlock();
      job->work(worker);
      lock.lock();
      // Idle again before the caller hears of it, so that its next call
      // finds this helper free.
      h.job = nullptr;
      lock.unlock();
      job->helperDone();
      lock.lock();
    }
  }

  const pid_t pid_;
  const int limit_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Helper>> helpers_;
  bool stopping_ = false;
};

}  // namespace

int callThreads() {
  using Getter = int (*)();
  // Only an OpenBLAS the process has already loaded is asked.
  static const Getter openblas = [] {
    void* lib = dlopen("libopenblas.so.0", RTLD_LAZY | RTLD_NOLOAD);
    return lib ? reinterpret_cast<Getter>(dlsym(lib, "openblas_get_num_threads")) : nullptr;
  }();
  const int n = openblas ? openblas() : static_cast<int>(std::thread::hardware_concurrency());
  // Analyses on several threads already keep the cores busy; helpers would
  // only make them take turns.
  if (g_analyses.load(std::memory_order_relaxed) > 1) return 1;
  return std::clamp(n, 1, kMaxThreads);
}

void parallelFor(long count, int threads, const std::function<void(long task, int worker)>& task) {
  Job job(count, task);
  const long wanted = std::min<long>(std::max(threads, 1), count) - 1;
  if (wanted > 0) HelperPool::instance().lend(job, static_cast<int>(wanted));
  job.work(0);
  job.finish();
}

void enterAnalysis() { g_analyses.fetch_add(1, std::memory_order_relaxed); }
void leaveAnalysis() { g_analyses.fetch_sub(1, std::memory_order_relaxed); }

}  // namespace morvik
