// A part of a warp is the same part of OpenCV's whole warp, bit for bit;
// and the library's aligned crops, which warp only around the face, are
// the crops of the whole rotated image.
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "image/alignment.h"
#include "analysis/landmarks.h"
#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/image.h"
#include "image/region_warp.h"
#include "support/test_support.h"

namespace {

bool identical(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

cv::Mat wholeWarp(const cv::Mat& src, const cv::Mat& forward) {
  cv::Mat out;
  cv::warpAffine(src, out, forward, src.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
  return out;
}

// Random images of 1, 3 and 4 channels and the photograph, turned about
// random centres (some also shifted and stretched), cut in random regions.
TEST(RegionWarp, EveryRegionIsThatPartOfTheWholeWarp) {
  std::mt19937 random(11);
  const cv::Mat photo = testing_support::photo("faces/two_people.jpg");
  const int types[] = {CV_8UC1, CV_8UC3, CV_8UC4};
  int compared = 0;
  for (int t = 0; t < 60; ++t) {
    cv::Mat src;
    if (t % 4 == 0 && !photo.empty()) {
      src = photo;
    } else {
      src.create(10 + static_cast<int>(random() % 300), 10 + static_cast<int>(random() % 200), types[t % 3]);
      cv::randu(src, cv::Scalar::all(0), cv::Scalar::all(256));
    }
    const double angle = std::uniform_real_distribution<double>(-180, 180)(random);
    const cv::Point2f centre(static_cast<float>(random() % src.cols), static_cast<float>(random() % src.rows));
    cv::Mat forward = cv::getRotationMatrix2D(centre, angle, 1.0);
    if (t % 3 == 0) {
      forward.at<double>(0, 2) += std::uniform_real_distribution<double>(-40, 40)(random);
      forward.at<double>(1, 1) *= 1.13;
    }
    const cv::Mat whole = wholeWarp(src, forward);
    for (int k = 0; k < 4; ++k) {
      const int x = static_cast<int>(random() % src.cols), y = static_cast<int>(random() % src.rows);
      const cv::Rect region(x, y, 1 + static_cast<int>(random() % (src.cols - x)),
                            1 + static_cast<int>(random() % (src.rows - y)));
      cv::Mat part;
      ASSERT_TRUE(morvik::warpAffineRegion(src, forward, src.size(), region, part));
      ASSERT_TRUE(identical(whole(region), part)) << "case " << t << ", angle " << angle;
      ++compared;
    }
    // Written in place into a view of the right size and type.
    cv::Mat canvas = cv::Mat::zeros(src.size(), src.type());
    const cv::Rect all(cv::Point(), src.size());
    cv::Mat view = canvas(all);
    ASSERT_TRUE(morvik::warpAffineRegion(src, forward, src.size(), all, view));
    EXPECT_TRUE(identical(whole, canvas));
  }
  EXPECT_EQ(240, compared);
}

TEST(RegionWarp, RegionsOutsideTheOutputAndOtherMatricesAreRefused) {
  const cv::Mat src(40, 50, CV_8UC3, cv::Scalar(1, 2, 3));
  const cv::Mat forward = cv::getRotationMatrix2D(cv::Point2f(20, 20), 30, 1.0);
  cv::Mat part(1, 1, CV_8UC1, cv::Scalar(9));
  EXPECT_FALSE(morvik::warpAffineRegion(src, forward, src.size(), cv::Rect(45, 0, 10, 10), part));
  EXPECT_FALSE(morvik::warpAffineRegion(src, forward, src.size(), cv::Rect(-1, 0, 10, 10), part));
  EXPECT_FALSE(morvik::warpAffineRegion(src, forward, src.size(), cv::Rect(0, 0, 0, 10), part));
  EXPECT_FALSE(morvik::warpAffineRegion(src, cv::Mat::eye(3, 3, CV_64F), src.size(), cv::Rect(0, 0, 5, 5), part));
  EXPECT_FALSE(morvik::warpAffineRegion(cv::Mat(), forward, src.size(), cv::Rect(0, 0, 5, 5), part));
  EXPECT_EQ(9, part.at<uchar>(0, 0));
}

// The landmark refit on a partly loaded image says when it read beyond
// the loaded part, and otherwise fits what the whole image fits.
TEST(RegionWarp, RefitKnowsWhetherItReadOnlyLoadedPixels) {
  cv::Mat image = testing_support::photo("faces/two_people.jpg");
  if (image.empty()) GTEST_SKIP() << "no test photograph";
  const cv::Rect face(792, 71, 175, 177);
  cv::Rect whole = face;
  ASSERT_TRUE(DlibUpdateOptimalFaceRect(image, whole));

  cv::Rect fitted = face;
  EXPECT_TRUE(refitFaceRectWithin(image, fitted, cv::Rect(cv::Point(), image.size())));
  EXPECT_EQ(whole, fitted);
  fitted = face;
  EXPECT_TRUE(refitFaceRectWithin(image, fitted, cv::Rect(700, 0, 426, 350)));
  EXPECT_EQ(whole, fitted);
  fitted = face;
  EXPECT_FALSE(refitFaceRectWithin(image, fitted, cv::Rect(850, 120, 40, 40)));
  EXPECT_EQ(face, fitted);
}

// Tilted faces at either side of the photograph, refitted or not, one
// through its corner and one very small: the same crop, rectangle and eyes
// as alignFace gives.
TEST(RegionWarp, AlignedCropsAreThoseOfTheWholeRotatedImage) {
  const cv::Mat image = testing_support::photo("faces/two_people.jpg");
  if (image.empty()) GTEST_SKIP() << "no test photograph";
  const struct {
    mv::Rectangle rect;
    mv::Point left, right;
  } faces[] = {
      {{792, 71, 175, 177}, {830, 140}, {920, 161}},
      {{250, 150, 190, 190}, {300, 230}, {390, 200}},
      {{-30, -20, 150, 140}, {10, 40}, {80, 10}},
      {{1000, 560, 160, 150}, {1040, 600}, {1100, 640}},
      {{860, 140, 12, 12}, {862, 145}, {870, 149}},
  };
  for (const auto& f : faces) {
    for (bool optimal : {true, false}) {
      mv::Rectangle rect_a = f.rect, rect_b = f.rect;
      mv::Point left_a = f.left, right_a = f.right, left_b = f.left, right_b = f.right;
      cv::Mat whole, part;
      const int rc_a = alignFace(image, &rect_a, &left_a, &right_a, whole, optimal, g_config.align_desired_size,
                                 g_config.align_desired_eyes);
      const int rc_b = alignFaceCrop(image, &rect_b, &left_b, &right_b, part, optimal, refitFaceRectWithin);
      const std::string where = "face at " + std::to_string(f.rect.x) + "," + std::to_string(f.rect.y) +
                                (optimal ? ", refitted" : "");
      ASSERT_EQ(rc_a, rc_b) << where;
      if (rc_a != 0) continue;
      EXPECT_TRUE(identical(whole, part)) << where;
      EXPECT_EQ(rect_a.x, rect_b.x) << where;
      EXPECT_EQ(rect_a.w, rect_b.w) << where;
      EXPECT_EQ(left_a.x, left_b.x) << where;
      EXPECT_EQ(right_a.y, right_b.y) << where;
    }
  }
}

}  // namespace
