// The process-wide lock and release list behind the per-thread model caches.

#include "morvik/global_cache.h"

#include <cerrno>
#include <system_error>

#include "check.h"
#include "engine/cnn/conv_scratch.h"
#include "engine/cnn/yunet.h"
#include "engine/cascade/haar_detect.h"
#include "engine/cascade/lbp_detect.h"
#include "morvik/morvik.h"

pthread_mutex_t g_mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
std::vector<void (*)()> g_releases;

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
  morvik::releaseHaarScratch();
  morvik::releaseLbpScratch();
  morvik::releaseYunetScratch();
}
