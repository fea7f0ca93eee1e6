// Detection quality of the cascade selections against hand-marked boxes,
// and the placement of the eyes they report.
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using testing_support::photo;
using testing_support::testdata;

struct Score {
  int truths = 0;
  int matched_truths = 0;
  int found = 0;
  int matched_found = 0;
  double recall() const { return truths ? double(matched_truths) / truths : 0.0; }
  double precision() const { return found ? double(matched_found) / found : 0.0; }
};

std::string describe(const mv::Face& f) {
  std::ostringstream out;
  ::operator<<(out, f.rect) << " eyes ";
  ::operator<<(out, f.left_eye) << " ";
  ::operator<<(out, f.right_eye);
  return out.str();
}

bool eyeInside(const mv::Point& p, const mv::Rectangle& r) {
  return p.x >= r.x && p.x <= r.x + r.w && p.y >= r.y && p.y <= r.y + r.h;
}

Score score(mv::FindFaceAlgoType algo) {
  Score s;
  for (const auto& entry : testing_support::markedFaces()) {
    const cv::Mat image = photo(entry.first);
    EXPECT_FALSE(image.empty()) << entry.first;
    std::vector<mv::Face> faces(64);
    size_t n = faces.size();
    const int rc = ExtractFaces(&image, faces.data(), &n, algo);
    if (rc != 0) n = 0;
    faces.resize(n);
    s.truths += static_cast<int>(entry.second.size());
    s.found += static_cast<int>(n);
    for (const cv::Rect& truth : entry.second) {
      for (const mv::Face& f : faces) {
        if (testing_support::overlap(truth, f.rect) >= 0.4) {
          ++s.matched_truths;
          break;
        }
      }
    }
    for (const mv::Face& f : faces) {
      for (const cv::Rect& truth : entry.second) {
        if (testing_support::overlap(truth, f.rect) >= 0.4) {
          ++s.matched_found;
          break;
        }
      }
      EXPECT_TRUE(eyeInside(f.left_eye, f.rect) && eyeInside(f.right_eye, f.rect))
          << entry.first << " algo " << int(algo) << " " << describe(f);
      EXPECT_LT(f.left_eye.x, f.right_eye.x) << entry.first;
    }
  }
  std::cout << "selection 0x" << std::hex << int(algo) << std::dec << ": recall " << s.matched_truths << "/"
            << s.truths << " = " << s.recall() << ", precision " << s.matched_found << "/" << s.found << " = "
            << s.precision() << std::endl;
  return s;
}

// Both cascades keep only faces in which the eye cascade sees two eyes,
// which costs recall on the small faces of these group photos (about a
// third are found); the floors guard against regressions.
TEST(DetectionQuality, LbpCascade) {
  const Score s = score(mv::FindLBP);
  EXPECT_GE(s.recall(), 0.3);
  EXPECT_GE(s.precision(), 0.8);
}

TEST(DetectionQuality, HaarCascade) {
  const Score s = score(mv::FindHaar);
  EXPECT_GE(s.recall(), 0.3);
  EXPECT_GE(s.precision(), 0.8);
}

}  // namespace
