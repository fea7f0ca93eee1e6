// Tier: class interface (for hosts that link the library's classes directly).
// Per-thread model cache. Every model is loaded once per thread, on first
// use, under the process-wide lock; GlobalFree drops the calling thread's
// models through the release functions registered at load time.
#ifndef MORVIK_GLOBAL_CACHE_H_
#define MORVIK_GLOBAL_CACHE_H_

#include <pthread.h>

#include <memory>
#include <vector>

#include "morvik/export.h"

// Recursive: GlobalFree holds it while release functions take it again, and
// a load holds it while GlobalRegister takes it again.
MORVIK_API extern pthread_mutex_t g_mutex;
MORVIK_API extern std::vector<void (*)()> g_releases;

// Scoped lock of g_mutex; throws std::system_error when locking fails.
class MORVIK_API GlobalLock {
 public:
  GlobalLock();
  ~GlobalLock();
  GlobalLock(const GlobalLock&) = delete;
  GlobalLock& operator=(const GlobalLock&) = delete;
};

// Appends a release function to g_releases (under the lock).
MORVIK_API void GlobalRegister(void (*release)());

// One cached model per thread and per instantiation. Each use site passes
// its own loader type (a lambda), so each has its own instance. The loader
// fills a newly made T and returns false when loading failed; it may throw.
template <typename T, typename Loader>
class GlobalCache {
 public:
  // The calling thread's instance, loading it first when there is none.
  // Returns null when the loader reported failure; nothing is cached then,
  // so the next call tries again.
  static std::shared_ptr<T> get(const Loader& loader) {
    if (g_object) return g_object;  // hit path: no lock
    GlobalLock lock;
    auto model = std::make_shared<T>();
    if (!loader(*model)) return nullptr;
    GlobalRegister(&release);
    g_object = model;
    return model;
  }

  static void release() {
    GlobalLock lock;
    g_object.reset();
  }

  static bool loaded() { return static_cast<bool>(g_object); }

 private:
  static thread_local std::shared_ptr<T> g_object;
};

template <typename T, typename Loader>
thread_local std::shared_ptr<T> GlobalCache<T, Loader>::g_object;

// The cached model of one use site; each lambda type is its own cache.
template <typename T, typename Loader>
std::shared_ptr<T> cachedModel(const Loader& loader) {
  return GlobalCache<T, Loader>::get(loader);
}

#endif  // MORVIK_GLOBAL_CACHE_H_
