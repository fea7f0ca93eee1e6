// Faces whose finder gave five points (the YuNet finder): their eyes are
// points 0 and 1, mapped back to the loaded image without an eye search,
// and the description uses them; merged with other members' faces they
// keep them.
#include <cmath>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "morvik/config.h"
#include "morvik/morvik.h"
#include "morvik/morvik_info.h"
#include "support/test_support.h"

namespace {

using testing_support::photo;
using testing_support::ScopedOption;
using testing_support::testdata;

std::vector<mv::FoundFace> networkFaces(const cv::Mat& image, mv::FindFaceAlgoType algo = mv::FindYunet) {
  MorvikInfo info(algo);
  EXPECT_EQ(info.loadImage(image), 0);
  std::vector<mv::FoundFace> faces;
  EXPECT_EQ(info.findFaces(faces, 0), 0);
  return faces;
}

bool samePoint(const mv::Point& a, const mv::Point& b) { return a.x == b.x && a.y == b.y; }

}  // namespace

TEST(NetworkEyes, EyesAreTheFirstTwoPoints) {
  ScopedOption<int> on("find.yunet", 1);
  const std::vector<mv::FoundFace> faces = networkFaces(photo("faces/2008_001322.jpg"));
  ASSERT_EQ(faces.size(), 3u);
  for (const mv::FoundFace& f : faces) {
    EXPECT_EQ(f.point_count, 5);
    EXPECT_FALSE(f.face.from_shape);
    EXPECT_TRUE(samePoint(f.face.left_eye, f.points[0]));
    EXPECT_TRUE(samePoint(f.face.right_eye, f.points[1]));
    EXPECT_LT(f.face.left_eye.x, f.face.right_eye.x);
    EXPECT_GE(f.score, g_config.yunet_score);
  }
  // getFaces reports the same records.
  MorvikInfo info(mv::FindYunet);
  ASSERT_EQ(info.loadImage(photo("faces/2008_001322.jpg")), 0);
  std::vector<mv::Face> plain;
  ASSERT_EQ(info.getFaces(plain, 0), 0);
  ASSERT_EQ(plain.size(), faces.size());
  for (size_t i = 0; i < plain.size(); ++i) {
    EXPECT_TRUE(samePoint(plain[i].left_eye, faces[i].face.left_eye));
    EXPECT_EQ(plain[i].rect.w, faces[i].face.rect.w);
  }
}

TEST(NetworkEyes, PointsMapBackFromAShrunkenWorkingImage) {
  ScopedOption<int> on("find.yunet", 1);
  const cv::Mat image = photo("faces/bald_guys.jpg");  // 1986 x 1545
  std::vector<mv::FoundFace> full, half;
  {
    ScopedOption<int> own_size("yunet.rescale_max", 0);
    full = networkFaces(image);
  }
  {
    ScopedOption<int> shrink("yunet.rescale_max", image.cols / 2);
    half = networkFaces(image);
  }
  ASSERT_FALSE(half.empty());
  size_t paired = 0;
  for (const mv::FoundFace& h : half) {
    for (const mv::FoundFace& f : full) {
      const int dx = std::abs((h.face.rect.x + h.face.rect.w / 2) - (f.face.rect.x + f.face.rect.w / 2));
      const int dy = std::abs((h.face.rect.y + h.face.rect.h / 2) - (f.face.rect.y + f.face.rect.h / 2));
      if (dx > f.face.rect.w / 4 || dy > f.face.rect.h / 4) continue;
      ++paired;
      // Same face: its eyes land within a few pixels of the full-size ones
      // (not at half their coordinates).
      EXPECT_LE(std::abs(h.face.left_eye.x - f.face.left_eye.x), f.face.rect.w / 8 + 2);
      EXPECT_LE(std::abs(h.face.left_eye.y - f.face.left_eye.y), f.face.rect.h / 8 + 2);
      EXPECT_LE(std::abs(h.face.right_eye.x - f.face.right_eye.x), f.face.rect.w / 8 + 2);
      break;
    }
  }
  EXPECT_GE(paired, half.size() * 3 / 4);
}

TEST(NetworkEyes, DescriptionUsesTheNetworksEyes) {
  ScopedOption<int> on("find.yunet", 1);
  const std::vector<char> bytes = testing_support::fileBytes(testdata("faces/two_people.jpg"));
  ASSERT_FALSE(bytes.empty());
  cv::Mat image = cv::imdecode(cv::Mat(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<char*>(bytes.data())),
                               cv::IMREAD_ANYCOLOR);
  std::vector<mv::Face> faces(4);
  size_t count = faces.size();
  ASSERT_EQ(ExtractFaces(&image, faces.data(), &count, mv::FindYunet), 0);
  ASSERT_EQ(count, 2u);
  std::vector<mv::FaceData> data(4);
  size_t data_count = data.size();
  ASSERT_EQ(ExtractFacesInfo(bytes.data(), bytes.size(), data.data(), &data_count, mv::FindYunet), 0);
  ASSERT_EQ(data_count, count);
  for (size_t i = 0; i < count; ++i) {
    EXPECT_TRUE(samePoint(data[i].left_eye, faces[i].left_eye));
    EXPECT_TRUE(samePoint(data[i].right_eye, faces[i].right_eye));
  }
  // ExtractVector on the finder's record uses its eyes as they stand: the
  // same descriptor as the combined call's.
  float vector[128];
  ASSERT_EQ(ExtractVector(&image, &faces[0], vector), 0);
  for (int k = 0; k < 128; ++k) EXPECT_EQ(vector[k], data[0].vector[k]);
}

TEST(NetworkEyes, MergedMembersKeepTheNetworksFaces) {
  ScopedOption<int> on("find.yunet", 1);
  const cv::Mat image = photo("faces/2008_002079.jpg");
  const std::vector<mv::FoundFace> alone = networkFaces(image);
  std::vector<mv::FoundFace> merged;
  {
    ScopedOption<int> all("find.all_members", 1);
    merged = networkFaces(image, static_cast<mv::FindFaceAlgoType>(mv::FindYunet | mv::FindDlib));
  }
  ASSERT_GE(merged.size(), alone.size());
  // Every face of the network alone is in the merged list, box and points
  // unchanged: the member first in the chain gives the merged face.
  for (const mv::FoundFace& a : alone) {
    bool seen = false;
    for (const mv::FoundFace& m : merged) {
      if (m.face.rect.x == a.face.rect.x && m.face.rect.y == a.face.rect.y && m.face.rect.w == a.face.rect.w) {
        seen = m.point_count == 5 && samePoint(m.points[2], a.points[2]);
      }
    }
    EXPECT_TRUE(seen);
  }
}
