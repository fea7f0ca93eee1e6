// The process-wide lock and release list behind the per-thread model caches.

#include "morvik/global_cache.h"

#include <atomic>
#include <cerrno>
#include <system_error>

#include "check.h"
#include "engine/cnn/conv_scratch.h"
#include "engine/cascade/cascade_detect.h"
#include "engine/cnn/yunet.h"
#include "models/forked_child.h"
#include "morvik/morvik.h"

pthread_mutex_t g_mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
std::vector<void (*)()> g_releases;

namespace {

std::atomic<bool> g_forked_child{false};

// fork() copies the lock in whatever state it is: held by a thread that
// loads a model, it would stay held for ever in the child, where that
// thread does not exist. The fork waits for the lock instead (a load takes
// a second or so), so the child gets it free and the caches whole.
void lockBeforeFork() { pthread_mutex_lock(&g_mutex); }
void unlockInParent() { pthread_mutex_unlock(&g_mutex); }
void unlockInChild() {
  // Made anew: the owner recorded in the lock is the forking thread's id in
  // the parent, which its copy in the child no longer has.
  const pthread_mutex_t fresh = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
  g_mutex = fresh;
  g_forked_child.store(true, std::memory_order_relaxed);
}

[[maybe_unused]] const int g_fork_handlers = pthread_atfork(lockBeforeFork, unlockInParent, unlockInChild);

}  // namespace

bool morvik::forkedChild() { return g_forked_child.load(std::memory_order_relaxed); }

GlobalLock::GlobalLock() {
  const int rc = pthread_mutex_lock(&g_mutex);
  if (rc != 0) throw std::system_error(rc, std::system_category(), "g_mutex");
}

GlobalLock::~GlobalLock() { pthread_mutex_unlock(&g_mutex); }

void GlobalRegister(void (*ptr)()) {
  GlobalLock lock;
  MV_CHECK(ptr);
  g_releases.push_back(ptr);
}

extern "C" void GlobalFree() {
  GlobalLock lock;
  // Each release function drops the calling thread's instance only; models
  // of other threads live on until their thread ends.
  const uint32_t n = static_cast<uint32_t>(g_releases.size());
  for (uint32_t i = 0; i < n; ++i) g_releases.at(i)();
  g_releases.clear();
  morvik::releaseConvScratch();
  morvik::releaseDirectConvScratch();
  morvik::releaseFilterLaneScratch();
  morvik::releaseCascadeScratch();
  morvik::releaseYunetScratch();
}
