// Writes a JSON-lines face index of synthetic faces, one face per record as
// `morvik index` writes them, with unit-length random descriptors: the
// haystack for bench/search_million.sh.
//
//   synthetic_index COUNT [SEED] > synthetic.jsonl
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "collection/synthetic_descriptors.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: synthetic_index COUNT [SEED] > FILE.jsonl\n");
    return 1;
  }
  const size_t count = std::strtoull(argv[1], nullptr, 10);
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 1;
  constexpr size_t kBatch = 10000;
  std::string line;
  char number[32];
  for (size_t first = 0; first < count; first += kBatch) {
    const size_t n = std::min(kBatch, count - first);
    const std::vector<float> faces = testing_support::randomDescriptors(n, seed * 100003u + first / kBatch);
    for (size_t i = 0; i < n; ++i) {
      std::snprintf(number, sizeof(number), "%07zu", first + i);
      line = "{\"photo\":\"synthetic/";
      line += number;
      line += ".jpg\",\"faces\":[{\"rect\":{\"x\":10,\"y\":10,\"w\":100,\"h\":100},"
              "\"left_eye\":{\"x\":40,\"y\":50},\"right_eye\":{\"x\":80,\"y\":50},\"from_shape\":false,"
              "\"angle\":0,\"descriptor\":[";
      for (size_t j = 0; j < 128; ++j) {
        if (j > 0) line += ',';
        const auto end = std::to_chars(number, number + sizeof(number), faces[i * 128 + j]).ptr;
        line.append(number, end);
      }
      line += "]}]}\n";
      std::fwrite(line.data(), 1, line.size(), stdout);
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
