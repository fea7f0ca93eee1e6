// Internal consistency checks. They stay on in every build: they guard
// states that valid use never reaches, and stop the process with the
// expression, file, line and function when one is reached.
#ifndef MORVIK_CHECK_H_
#define MORVIK_CHECK_H_

namespace morvik {
[[noreturn]] void checkFailed(const char* expr, const char* file, int line, const char* function);
}

#define MV_CHECK(expr) \
  ((expr) ? static_cast<void>(0) : ::morvik::checkFailed(#expr, __FILE__, __LINE__, __PRETTY_FUNCTION__))

#endif  // MORVIK_CHECK_H_
