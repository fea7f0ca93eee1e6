// The YuNet network against the faces its authors' own code gives on every
// test photograph (the reference file beside the model): the same number
// of faces, each integer coordinate within 1 pixel and each score within
// 0.01 of the reference's, on every instruction set this processor runs.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/cnn/yunet.h"
#include "models/yunet_loader.h"
#include "morvik/config.h"
#include "support/test_support.h"

namespace {

using morvik::YunetFace;

// The reference's scores are int(score * 100) of faces kept at 0.2.
constexpr float kMinScore = 0.2f;
constexpr int kCoordinates = 14;  // x, y, w, h and five points

// Beside the photographs, in the models' folder.
const std::string kReference =
    std::string(MORVIK_TESTDATA) + "/../models/reference/libfacedetection_yunet_testdata.csv";

struct ReferenceFace {
  int score;
  int v[kCoordinates];
};

std::map<std::string, std::vector<ReferenceFace>> readReference() {
  std::map<std::string, std::vector<ReferenceFace>> faces;
  std::ifstream in(kReference);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string image, field;
    std::getline(fields, image, ',');
    ReferenceFace face{};
    std::getline(fields, field, ',');
    face.score = std::stoi(field);
    for (int& v : face.v) {
      std::getline(fields, field, ',');
      v = std::stoi(field);
    }
    faces[image].push_back(face);
  }
  return faces;
}

// The face's integers as the reference writes them: truncated toward zero.
void integers(const YunetFace& f, int v[kCoordinates]) {
  v[0] = static_cast<int>(f.x1);
  v[1] = static_cast<int>(f.y1);
  v[2] = static_cast<int>(f.x2 - f.x1);
  v[3] = static_cast<int>(f.y2 - f.y1);
  for (int i = 0; i < 10; ++i) v[4 + i] = static_cast<int>(f.points[i]);
}

int coordinateDistance(const ReferenceFace& r, const YunetFace& f) {
  int v[kCoordinates];
  integers(f, v);
  int worst = 0;
  for (int i = 0; i < kCoordinates; ++i) worst = std::max(worst, std::abs(v[i] - r.v[i]));
  return worst;
}

// How far the score lies outside [r, r + 1) / 100, the scores the
// reference's integer stands for.
float scoreDistance(const ReferenceFace& r, const YunetFace& f) {
  const float low = r.score / 100.0f, high = (r.score + 1) / 100.0f;
  return std::max({0.0f, low - f.score, f.score - high});
}

struct Worst {
  int coordinate = 0;
  float score = 0;
};

// Matches each reference face with the closest face not yet matched (the
// order of faces with nearly equal scores may differ) and checks both.
void compare(const std::string& image, const std::vector<ReferenceFace>& reference,
             const std::vector<YunetFace>& found, Worst& worst) {
  ASSERT_EQ(found.size(), reference.size()) << image;
  std::vector<bool> used(found.size(), false);
  for (size_t r = 0; r < reference.size(); ++r) {
    size_t best = found.size();
    for (size_t f = 0; f < found.size(); ++f)
      if (!used[f] && (best == found.size() ||
                       coordinateDistance(reference[r], found[f]) < coordinateDistance(reference[r], found[best])))
        best = f;
    ASSERT_LT(best, found.size());
    used[best] = true;
    const int d = coordinateDistance(reference[r], found[best]);
    const float s = scoreDistance(reference[r], found[best]);
    EXPECT_LE(d, 1) << image << " reference face " << r;
    EXPECT_LE(s, 0.01f) << image << " reference face " << r << " score " << found[best].score;
    worst.coordinate = std::max(worst.coordinate, d);
    worst.score = std::max(worst.score, s);
  }
}

class YunetPhotos : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(morvik::loadYunetModelFile(g_config.yunet_path, net_), 0) << g_config.yunet_path;
    reference_ = readReference();
    ASSERT_GE(reference_.size(), 15u) << kReference;
  }
  static std::shared_ptr<const morvik::YunetNetwork> net_;
  static std::map<std::string, std::vector<ReferenceFace>> reference_;
};

std::shared_ptr<const morvik::YunetNetwork> YunetPhotos::net_;
std::map<std::string, std::vector<ReferenceFace>> YunetPhotos::reference_;

class YunetReference : public YunetPhotos, public ::testing::WithParamInterface<morvik::YunetIsa> {};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

TEST_P(YunetReference, EveryPhotoGivesTheReferenceFaces) {
  ASSERT_NE(net_, nullptr);
  if (!morvik::yunetIsaServed(GetParam())) GTEST_SKIP() << "this processor lacks the instruction set";
  // The portable kernel under the sanitizer takes minutes for every photo;
  // it gives the other paths' bits (the paths test), so a few photos serve.
  const size_t photos = kSanitized && GetParam() == morvik::YunetIsa::kPortable ? 3 : reference_.size();
  Worst worst;
  size_t seen = 0;
  for (const auto& entry : reference_) {
    if (seen++ == photos) break;
    const cv::Mat image = testing_support::photo(entry.first);
    ASSERT_FALSE(image.empty()) << entry.first;
    std::vector<YunetFace> found;
    ASSERT_EQ(morvik::detectYunetFaces(*net_, image, kMinScore, found, 0, GetParam()), 0);
    for (size_t i = 1; i < found.size(); ++i) EXPECT_GE(found[i - 1].score, found[i].score) << entry.first;
    compare(entry.first, entry.second, found, worst);
  }
  std::printf("largest differences from the reference: %d px, score %.4f beyond its integer's range\n",
              worst.coordinate, worst.score);
  RecordProperty("largest_coordinate_difference", worst.coordinate);
  RecordProperty("largest_score_difference", std::to_string(worst.score));
}

INSTANTIATE_TEST_SUITE_P(Isa, YunetReference,
                         ::testing::Values(morvik::YunetIsa::kPortable, morvik::YunetIsa::kAvx2,
                                           morvik::YunetIsa::kAvx512));

// The faces are appended: what the caller already holds stays.
TEST_F(YunetPhotos, AppendsToTheFacesGiven) {
  ASSERT_NE(net_, nullptr);
  const cv::Mat image = testing_support::photo("faces/two_people.jpg");
  std::vector<YunetFace> found(1, YunetFace{1, 2, 3, 4, 0.5f, {}});
  ASSERT_EQ(morvik::detectYunetFaces(*net_, image, kMinScore, found), 0);
  ASSERT_EQ(found.size(), 1 + reference_["faces/two_people.jpg"].size());
  EXPECT_EQ(found[0].x2, 3.0f);
}

}  // namespace
