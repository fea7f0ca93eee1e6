#include "config/log_switch.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "morvik/morvik_c.h"

namespace morvik {
namespace {

// Read on first use, which may be during the start-up load of the
// configuration, before any other static of this file is constructed.
std::atomic<bool>& logSwitch() {
  static std::atomic<bool> enabled{[] {
    const char* env = std::getenv("MORVIK_LOG");
    return env == nullptr || std::strcmp(env, "0") != 0;
  }()};
  return enabled;
}

}  // namespace

bool loggingEnabled() { return logSwitch().load(std::memory_order_relaxed); }
void setLogging(bool enabled) { logSwitch().store(enabled, std::memory_order_relaxed); }

}  // namespace morvik

extern "C" {

MORVIK_API void MvSetLogging(int enabled) { morvik::setLogging(enabled != 0); }
MORVIK_API int MvGetLogging(void) { return morvik::loggingEnabled() ? 1 : 0; }

}  // extern "C"
