// The labelled pairs of an LFW folder (pairs.csv: photo a, photo b, 1 when
// both show one person), read by the labelled-pairs test and benchmark.
#ifndef MORVIK_TESTS_LFW_PAIRS_H_
#define MORVIK_TESTS_LFW_PAIRS_H_

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

struct LfwPair {
  std::string a, b;  // paths relative to the folder
  bool same;
};

// Empty when the folder has no pairs.csv.
inline std::vector<LfwPair> readLfwPairs(const std::string& dir) {
  std::ifstream in(dir + "/pairs.csv");
  std::vector<LfwPair> pairs;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::stringstream fields(line);
    LfwPair p;
    std::string same;
    std::getline(fields, p.a, ',');
    std::getline(fields, p.b, ',');
    std::getline(fields, same, ',');
    p.same = same == "1";
    pairs.push_back(p);
  }
  return pairs;
}

}  // namespace testing_support

#endif  // MORVIK_TESTS_LFW_PAIRS_H_
