// Helper threads for one call; see parallel.h.
#include "engine/parallel.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace morvik {
namespace {

constexpr int kMaxThreads = 16;

}  // namespace

int callThreads() {
  using Getter = int (*)();
  // Only an OpenBLAS the process has already loaded is asked.
  static const Getter openblas = [] {
    void* lib = dlopen("libopenblas.so.0", RTLD_LAZY | RTLD_NOLOAD);
    return lib ? reinterpret_cast<Getter>(dlsym(lib, "openblas_get_num_threads")) : nullptr;
  }();
  const int n = openblas ? openblas() : static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(n, 1, kMaxThreads);
}

void parallelFor(long count, int threads, const std::function<void(long task, int worker)>& task) {
  std::atomic<long> next{0};
  std::exception_ptr failure;
  std::mutex failure_mutex;
  auto work = [&](int worker) {
    for (long i = next++; i < count; i = next++) {
      try {
        task(i, worker);
      } catch (...) {
        next = count;  // the others stop after their current task
        std::lock_guard<std::mutex> lock(failure_mutex);
        if (!failure) failure = std::current_exception();
      }
    }
  };
  const long helpers_wanted = std::min<long>(std::max(threads, 1), count) - 1;
  std::vector<std::thread> helpers;
  try {
    helpers.reserve(helpers_wanted);
    for (int w = 1; w <= helpers_wanted; ++w) helpers.emplace_back(work, w);
  } catch (...) {
    // No thread to spare: the calling thread takes what is left.
  }
  work(0);
  for (std::thread& t : helpers) t.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace morvik
