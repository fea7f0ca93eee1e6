#include "check.h"

#include <cstdio>
#include <cstdlib>

namespace morvik {

void checkFailed(const char* expr, const char* file, int line, const char* function) {
  std::fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, function, expr);
  std::fflush(stderr);
  std::abort();
}

}  // namespace morvik
