// MvFindFaces: the faces of ExtractFaces with each finder's score and
// points, a selection wider than one byte, and no exception past it.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvik/config.h"
#include "morvik/morvik.h"
// After morvik.h, so that the shared entry points keep their C++ declarations.
#include "morvik/morvik_c.h"
#include "support/test_support.h"

namespace {

using testing_support::photo;
using testing_support::ScopedOption;

MvImage viewOf(const cv::Mat& bgr) {
  MvImage image{};
  image.pixels = bgr.data;
  image.width = bgr.cols;
  image.height = bgr.rows;
  image.stride = bgr.step[0];
  image.format = MV_PIXELS_BGR;
  return image;
}

int findFaces(const cv::Mat& bgr, uint32_t finders, std::vector<MvFoundFace>& faces) {
  const MvImage image = viewOf(bgr);
  faces.assign(64, MvFoundFace{});
  size_t count = faces.size();
  const int rc = MvFindFaces(&image, faces.data(), &count, finders);
  faces.resize(rc == MV_OK ? count : 0);
  return rc;
}

bool sameFace(const MvFace& a, const mv::Face& b) {
  return a.rect.x == b.rect.x && a.rect.y == b.rect.y && a.rect.w == b.rect.w && a.rect.h == b.rect.h &&
         a.left_eye.x == b.left_eye.x && a.left_eye.y == b.left_eye.y && a.right_eye.x == b.right_eye.x &&
         a.right_eye.y == b.right_eye.y && a.from_shape == b.from_shape && a.angle == b.angle;
}

}  // namespace

TEST(MvFindFaces, OtherFindersGiveExtractFacesRecordsWithoutPoints) {
  cv::Mat image = photo("faces/2008_001322.jpg");
  for (uint32_t finders : {0x02u, 0x08u, 0x10u, 0x20u}) {
    std::vector<mv::Face> expected(64);
    size_t count = expected.size();
    ASSERT_EQ(ExtractFaces(&image, expected.data(), &count, static_cast<mv::FindFaceAlgoType>(finders)), MV_OK);
    std::vector<MvFoundFace> found;
    ASSERT_EQ(findFaces(image, finders, found), MV_OK);
    ASSERT_EQ(found.size(), count) << finders;
    for (size_t i = 0; i < count; ++i) {
      EXPECT_TRUE(sameFace(found[i].face, expected[i])) << finders << " face " << i;
      // HOG gives its detection value, the CNN detector its confidence;
      // the cascades give none.
      if (finders == 0x08u) {
        EXPECT_GE(found[i].score, 0.0f);
      } else if (finders == 0x10u) {
        EXPECT_GE(found[i].score, g_config.dlib_cnn_confidence);
      } else {
        EXPECT_TRUE(std::isnan(found[i].score));
      }
      EXPECT_EQ(found[i].point_count, 0);
    }
  }
}

TEST(MvFindFaces, WideBitSelectsTheNetworkFirstWithoutTheOption) {
  cv::Mat image = photo("faces/2008_002079.jpg");
  std::vector<MvFoundFace> alone, chained;
  ASSERT_EQ(findFaces(image, MV_FIND_YUNET_ALWAYS, alone), MV_OK);
  ASSERT_EQ(findFaces(image, MV_FIND_YUNET_ALWAYS | 0x1Eu, chained), MV_OK);
  // First in the chain: it answers for the photo, the others never run.
  ASSERT_EQ(chained.size(), alone.size());
  for (size_t i = 0; i < alone.size(); ++i) {
    EXPECT_EQ(chained[i].score, alone[i].score);
    EXPECT_EQ(chained[i].point_count, 5);
    EXPECT_EQ(chained[i].face.rect.x, alone[i].face.rect.x);
  }
  // Largest first, like every search.
  for (size_t i = 1; i < alone.size(); ++i) {
    EXPECT_GE(alone[i - 1].face.rect.w * alone[i - 1].face.rect.h, alone[i].face.rect.w * alone[i].face.rect.h);
  }
  // The byte's own bit needs the option.
  std::vector<MvFoundFace> none;
  EXPECT_EQ(findFaces(image, MV_FIND_YUNET, none), MV_NO_FACE);
  ScopedOption<int> on("find.yunet", 1);
  std::vector<MvFoundFace> by_option;
  ASSERT_EQ(findFaces(image, MV_FIND_YUNET, by_option), MV_OK);
  EXPECT_EQ(by_option.size(), alone.size());
}

TEST(MvFindFaces, CapacityCutsToTheLargestFaces) {
  cv::Mat image = photo("faces/2007_007763.jpg");
  std::vector<MvFoundFace> all;
  ASSERT_EQ(findFaces(image, MV_FIND_YUNET_ALWAYS, all), MV_OK);
  ASSERT_GT(all.size(), 2u);
  const MvImage view = viewOf(image);
  MvFoundFace two[2];
  size_t count = 2;
  ASSERT_EQ(MvFindFaces(&view, two, &count, MV_FIND_YUNET_ALWAYS), MV_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(two[0].face.rect.w, all[0].face.rect.w);
  EXPECT_EQ(two[1].score, all[1].score);
}

TEST(MvFindFaces, RefusesBadArgumentsAndCatchesExceptions) {
  cv::Mat image = photo("faces/two_people.jpg");
  const MvImage view = viewOf(image);
  MvFoundFace faces[2];
  size_t count = 2;
  EXPECT_EQ(MvFindFaces(nullptr, faces, &count, MV_FIND_YUNET_ALWAYS), MV_INVALID_ARGS);
  EXPECT_EQ(MvFindFaces(&view, nullptr, &count, MV_FIND_YUNET_ALWAYS), MV_INVALID_ARGS);
  EXPECT_EQ(MvFindFaces(&view, faces, nullptr, MV_FIND_YUNET_ALWAYS), MV_INVALID_ARGS);
  EXPECT_EQ(MvFindFaces(&view, faces, &count, 0x400u), MV_INVALID_ARGS);
  EXPECT_EQ(count, 2u);

  // A missing pico cascade throws inside the search; the C entry point
  // answers -8 instead.
  mv::OptionString saved{};
  ASSERT_EQ(GetOption("pico.path", &saved, sizeof saved), MV_OK);
  const std::string previous(saved.text, saved.length);
  const std::string missing = "/nonexistent/facefinder.dat";
  mv::OptionString path{missing.c_str(), missing.size(), {}};
  ASSERT_EQ(SetOption("pico.path", &path, sizeof path), MV_OK);
  GlobalFree();
  EXPECT_EQ(MvFindFaces(&view, faces, &count, MV_FIND_PICO), MV_EXCEPTION);
  path = mv::OptionString{previous.c_str(), previous.size(), {}};
  ASSERT_EQ(SetOption("pico.path", &path, sizeof path), MV_OK);
}
