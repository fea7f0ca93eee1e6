// Helpers shared by the fuzz targets.
#ifndef MORVIK_FUZZ_SUPPORT_H_
#define MORVIK_FUZZ_SUPPORT_H_

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>

namespace fuzz_support {

// Swallows the library's log: millions of "Loaded ..." lines would only slow
// the fuzzer down. The text is still formatted, so that code runs too.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
};

inline void silenceLog() {
  static NullBuffer sink;
  std::clog.rdbuf(&sink);
}

// Writes the input to a file of this process's own and returns its path;
// the loaders under test take file names.
inline std::string writeScratch(const char* tag, const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
  }();
  const std::string path = dir + "/morvik_fuzz_" + tag + "_" + std::to_string(::getpid());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return path;
}

// A broken invariant of the library: stop so that libFuzzer saves the input.
#define FUZZ_EXPECT(cond)                                                          \
  do {                                                                             \
    if (!(cond)) {                                                                 \
      std::fprintf(stderr, "%s:%d: expectation failed: %s\n", __FILE__, __LINE__, \
                   #cond);                                                         \
      std::abort();                                                                \
    }                                                                              \
  } while (0)

}  // namespace fuzz_support

#endif  // MORVIK_FUZZ_SUPPORT_H_
