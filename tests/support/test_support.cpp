#include "support/test_support.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>

#include <opencv2/imgcodecs.hpp>

namespace testing_support {

std::string testdata(const std::string& relative) { return std::string(MORVIK_TESTDATA) + "/" + relative; }

cv::Mat photo(const std::string& relative) { return cv::imread(testdata(relative), cv::IMREAD_COLOR); }

std::vector<char> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string scratchPath(const std::string& name) {
  static std::atomic<int> counter{0};
  const char* tmp = getenv("TMPDIR");
  return std::string(tmp ? tmp : "/tmp") + "/morvik_test_" + std::to_string(getpid()) + "_" +
         std::to_string(counter++) + "_" + name;
}

}  // namespace testing_support
