#include "support/test_support.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <sstream>

#include <opencv2/imgcodecs.hpp>

namespace testing_support {

std::string testdata(const std::string& relative) { return std::string(MORVIK_TESTDATA) + "/" + relative; }

std::map<std::string, std::vector<cv::Rect>> markedFaces() {
  std::map<std::string, std::vector<cv::Rect>> boxes;
  std::ifstream in(testdata("faces/boxes.csv"));
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::replace(line.begin(), line.end(), ',', ' ');
    std::istringstream fields(line);
    std::string image;
    cv::Rect r;
    if (fields >> image >> r.x >> r.y >> r.width >> r.height) boxes[image].push_back(r);
  }
  return boxes;
}

double overlap(const cv::Rect& a, const cv::Rect& b) {
  const double common = (a & b).area();
  const double all = a.area() + b.area() - common;
  return all > 0 ? common / all : 0.0;
}

cv::Mat portraitAround(const cv::Mat& photo, const cv::Rect& face) {
  const cv::Rect cut = cv::Rect(face.x - face.width / 2, face.y - face.height / 2, face.width * 2, face.height * 2) &
                       cv::Rect(0, 0, photo.cols, photo.rows);
  return photo(cut).clone();
}

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
