// The analysis object: what it accepts as an image, how it walks the
// scales, orders and limits faces, and maps them back.
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "morvik/morvik_info.h"
#include "support/test_support.h"

namespace {

using testing_support::fileBytes;
using testing_support::photo;
using testing_support::testdata;

TEST(MorvikInfoLoad, NoFacesBeforeAnImage) {
  MorvikInfo info(mv::FindLBP);
  std::vector<mv::Face> faces(3);
  EXPECT_EQ(info.getFaces(faces, 0), -9);
  EXPECT_EQ(faces.size(), 3u);
  PreparedImage prepared;
  EXPECT_EQ(info.prepareImage(PreparedParams(), prepared), -1);
  EXPECT_TRUE(info.getImage(0).empty());
}

TEST(MorvikInfoLoad, RefusedImagesKeepThePreviousOne) {
  MorvikInfo info(mv::FindLBP);
  const cv::Mat good(20, 30, CV_8UC3, cv::Scalar(1, 2, 3));
  ASSERT_EQ(info.loadImage(good), 0);
  EXPECT_EQ(info.loadImage(cv::Mat()), -9);
  EXPECT_EQ(info.loadImage(cv::Mat(20, 30, CV_16UC3, cv::Scalar::all(0))), -2);
  EXPECT_EQ(info.loadImage(cv::Mat(20, 30, CV_32FC1, cv::Scalar::all(0))), -2);
  EXPECT_EQ(info.loadImage(cv::Mat(20, 30, CV_8UC2, cv::Scalar::all(0))), -2);
  EXPECT_EQ(info.loadImage(cv::Mat(20, 30, CV_8UC(5), cv::Scalar::all(0))), -2);
  EXPECT_EQ(info.image().size(), good.size());
  EXPECT_EQ(info.image().at<cv::Vec3b>(0, 0), cv::Vec3b(1, 2, 3));
}

TEST(MorvikInfoLoad, GreyAndAlphaBecomeBgr) {
  MorvikInfo info(mv::FindLBP);
  ASSERT_EQ(info.loadImage(cv::Mat(10, 12, CV_8UC1, cv::Scalar(77))), 0);
  EXPECT_EQ(info.image().type(), CV_8UC3);
  EXPECT_EQ(info.image().at<cv::Vec3b>(5, 5), cv::Vec3b(77, 77, 77));
  ASSERT_EQ(info.loadImage(cv::Mat(10, 12, CV_8UC4, cv::Scalar(1, 2, 3, 4))), 0);
  EXPECT_EQ(info.image().type(), CV_8UC3);
  EXPECT_EQ(info.image().at<cv::Vec3b>(5, 5), cv::Vec3b(1, 2, 3));
}

TEST(MorvikInfoLoad, KeepsItsOwnCopy) {
  MorvikInfo info(mv::FindLBP);
  cv::Mat caller(10, 10, CV_8UC3, cv::Scalar(5, 5, 5));
  ASSERT_EQ(info.loadImage(caller), 0);
  caller.setTo(cv::Scalar(9, 9, 9));
  EXPECT_EQ(info.image().at<cv::Vec3b>(0, 0), cv::Vec3b(5, 5, 5));
  // A view with a row stride is copied as pixels, not as memory.
  cv::Mat big(40, 40, CV_8UC3, cv::Scalar(0, 0, 0));
  big(cv::Rect(10, 10, 5, 5)).setTo(cv::Scalar(200, 100, 50));
  ASSERT_EQ(info.loadImage(big(cv::Rect(10, 10, 20, 20))), 0);
  EXPECT_EQ(info.image().at<cv::Vec3b>(4, 4), cv::Vec3b(200, 100, 50));
  EXPECT_EQ(info.image().at<cv::Vec3b>(5, 5), cv::Vec3b(0, 0, 0));
}

TEST(MorvikInfoLoad, FilesAndBytes) {
  MorvikInfo info(mv::FindLBP);
  EXPECT_EQ(info.loadImage("/nonexistent/photo.jpg"), -2);
  EXPECT_EQ(info.imagePath(), "/nonexistent/photo.jpg");
  EXPECT_EQ(info.loadImage(static_cast<const char*>(nullptr)), -2);
  const char junk[] = "not an image at all";
  EXPECT_EQ(info.loadImage(junk, sizeof junk), -2);
  EXPECT_EQ(info.loadImage(static_cast<const void*>(nullptr), 10), -1);
  const std::string path = testdata("faces/2008_001322.jpg");
  ASSERT_EQ(info.loadImage(path.c_str()), 0);
  EXPECT_EQ(info.image().size(), cv::Size(500, 375));
  const std::vector<char> bytes = fileBytes(path);
  ASSERT_EQ(info.loadImage(bytes.data(), bytes.size()), 0);
  EXPECT_EQ(info.image().type(), CV_8UC3);
}

TEST(MorvikInfoRescale, MultipliesAndTruncates) {
  MorvikInfo info(mv::FindLBP);
  mv::Face face{};
  face.rect = cv::Rect(-3, 5, 11, 7);
  face.left_eye = cv::Point(3, 4);
  face.right_eye = cv::Point(7, 4);
  face.angle = 12.5;
  mv::Face same = face;
  PreparedParams params;
  EXPECT_FALSE(info.rescaleFaceInfo(params, same));
  params.rescale = 1.0;
  EXPECT_FALSE(info.rescaleFaceInfo(params, same));
  EXPECT_EQ(same.rect.x, -3);
  params.rescale = 1.5;
  ASSERT_TRUE(info.rescaleFaceInfo(params, face));
  EXPECT_EQ(face.rect.x, -4);  // -4.5 toward zero
  EXPECT_EQ(face.rect.y, 7);
  EXPECT_EQ(face.rect.w, 16);
  EXPECT_EQ(face.rect.h, 10);
  EXPECT_EQ(face.left_eye.x, 4);
  EXPECT_EQ(face.right_eye.x, 10);
  EXPECT_EQ(face.angle, 12.5);
}

TEST(MorvikInfoPrepare, WorkingImageFollowsTheParameters) {
  MorvikInfo info(mv::FindLBP);
  ASSERT_EQ(info.loadImage(cv::Mat(100, 200, CV_8UC1, cv::Scalar(50))), 0);
  PreparedParams params;
  params.rescale = 2.0;
  params.scale = 0.5;
  params.size = cv::Size(100, 50);
  PreparedImage prepared;
  ASSERT_EQ(info.prepareImage(params, prepared), 0);
  EXPECT_EQ(prepared.image.size(), cv::Size(100, 50));
  EXPECT_EQ(prepared.image.type(), CV_8UC3);
  EXPECT_EQ(prepared.rescale, 2.0);
}

TEST(MorvikInfoPrepare, OwnSizeIsTheLoadedImageWithoutACopy) {
  MorvikInfo info(mv::FindLBP);
  ASSERT_EQ(info.loadImage(cv::Mat(80, 60, CV_8UC3, cv::Scalar(1, 2, 3))), 0);
  PreparedImage prepared;
  ASSERT_EQ(info.prepareImage(PreparedParams(), prepared), 0);
  EXPECT_EQ(prepared.image.data, info.image().data);
  EXPECT_EQ(prepared.rescale, 0.0);
}

TEST(MorvikInfoFaces, LargestFirstAndCappedWithEyesInside) {
  MorvikInfo info(mv::FindLBP);
  ASSERT_EQ(info.loadImage(photo("faces/2007_007763.jpg")), 0);
  std::vector<mv::Face> all;
  ASSERT_EQ(info.getFaces(all, 0), 0);
  ASSERT_GE(all.size(), 2u);
  for (size_t i = 1; i < all.size(); ++i)
    EXPECT_GE(all[i - 1].rect.w * all[i - 1].rect.h, all[i].rect.w * all[i].rect.h);
  std::vector<mv::Face> one;
  ASSERT_EQ(info.getFaces(one, 1), 0);  // the finder is reused
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].rect.w * one[0].rect.h, all[0].rect.w * all[0].rect.h);
}

TEST(MorvikInfoFaces, NoFaceLeavesTheListAlone) {
  MorvikInfo info(static_cast<mv::FindFaceAlgoType>(mv::FindLBP | mv::FindHaar));
  ASSERT_EQ(info.loadImage(cv::Mat(300, 400, CV_8UC3, cv::Scalar(128, 128, 128))), 0);
  std::vector<mv::Face> faces(2);
  EXPECT_EQ(info.getFaces(faces, 0), -4);
  EXPECT_EQ(faces.size(), 2u);
}

}  // namespace
