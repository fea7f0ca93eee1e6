// The process's resident memory, as the benchmarks report it.
#ifndef MORVIK_BENCH_RESIDENT_MEMORY_H_
#define MORVIK_BENCH_RESIDENT_MEMORY_H_

#include <fstream>
#include <string>

namespace bench_support {

// VmRSS of /proc/self/status, in KiB; 0 when it cannot be read.
inline double residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      double kb = 0;
      status >> kb;
      return kb;
    }
    status.ignore(4096, '\n');
  }
  return 0.0;
}

}  // namespace bench_support

#endif  // MORVIK_BENCH_RESIDENT_MEMORY_H_
