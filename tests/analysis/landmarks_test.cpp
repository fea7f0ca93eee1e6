// Landmark shapes: eye centres, enclosing rectangles and the per-thread model.
#include <dlib/image_processing/full_object_detection.h>
#include <dlib/serialize.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/global_cache.h"
#include "morvik/morvik.h"
#include "morvik/morvik_info.h"
#include "analysis/landmarks.h"
#include "models/landmark_model.h"
#include "support/test_support.h"

namespace {

using testing_support::photo;

dlib::full_object_detection shapeInside(const dlib::rectangle& rect) {
  std::vector<dlib::point> parts(68, dlib::point(rect.left() + 10, rect.top() + 10));
  return dlib::full_object_detection(rect, parts);
}

TEST(LandmarkEyes, IntegerMeansOfEachEyeOutline) {
  dlib::full_object_detection shape = shapeInside(dlib::rectangle(0, 0, 99, 99));
  const long xs[6] = {10, 11, 11, 12, 12, 12};
  for (int i = 0; i < 6; ++i) {
    shape.part(36 + i) = dlib::point(xs[i], 20 + i);
    shape.part(42 + i) = dlib::point(60 + i, 21);
  }
  mv::Point left{0, 0}, right{0, 0};
  dlib_get_eyes(shape, left, right);
  EXPECT_EQ(left.x, 11);  // 68 / 6, truncated
  EXPECT_EQ(left.y, 22);  // 135 / 6
  EXPECT_EQ(right.x, 62);
  EXPECT_EQ(right.y, 21);
}

TEST(LandmarkEyes, ShapeWithoutEyeOutlinesHasNoEyes) {
  dlib::full_object_detection shape(dlib::rectangle(0, 0, 9, 9), std::vector<dlib::point>(5));
  mv::Point left{4, 4}, right{5, 5};
  dlib_get_eyes(shape, left, right);
  EXPECT_EQ(left.x, 0);
  EXPECT_EQ(right.y, 0);
}

TEST(LandmarkRect, EnclosesRectangleAndParts) {
  dlib::full_object_detection shape = shapeInside(dlib::rectangle(10, 20, 59, 89));
  mv::Rectangle r{0, 0, 0, 0};
  ASSERT_TRUE(DlibUpdateOptimalFaceRect(shape, &r));
  EXPECT_EQ(r.x, 10);
  EXPECT_EQ(r.y, 20);
  EXPECT_EQ(r.w, 50);
  EXPECT_EQ(r.h, 70);

  shape.part(3) = dlib::point(4, 30);  // left of the rectangle
  shape.part(8) = dlib::point(30, 95);  // below it
  ASSERT_TRUE(DlibUpdateOptimalFaceRect(shape, &r));
  EXPECT_EQ(r.x, 4);
  EXPECT_EQ(r.w, 56);
  EXPECT_EQ(r.h, 76);
  EXPECT_FALSE(DlibUpdateOptimalFaceRect(shape, nullptr));
}

TEST(LandmarkRect, EmptyDlibRectangleConvertsToZeroSize) {
  mv::Rectangle r{1, 1, 1, 1};
  copyrect(r, dlib::rectangle(5, 6, 4, 10));
  EXPECT_EQ(r.x, 5);
  EXPECT_EQ(r.w, 0);
  EXPECT_EQ(r.h, 0);
}

class LandmarkModel : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = photo("faces/Tom_Cruise_avp_2014_4.jpg");
    ASSERT_FALSE(image_.empty());
    face_ = cv::Rect(150, 180, 280, 300);
  }
  void TearDown() override { g_config.dlib_shape = saved_; }
  cv::Mat image_;
  cv::Rect face_;
  std::string saved_ = g_config.dlib_shape;
};

TEST_F(LandmarkModel, ShapeOfARealFaceHasEyesInTheUpperHalf) {
  MorvikInfo info(mv::FindNone);
  dlib::full_object_detection shape = info.getShape(image_, face_);
  ASSERT_EQ(shape.num_parts(), 68u);
  EXPECT_EQ(shape.get_rect(), dlib::rectangle(150, 180, 429, 479));
  mv::Point left, right;
  dlib_get_eyes(shape, left, right);
  EXPECT_LT(left.x, right.x);
  EXPECT_GT(left.y, face_.y);
  EXPECT_LT(left.y, face_.y + face_.height / 2 + 20);
}

TEST_F(LandmarkModel, OpenCvRectangleIsOnePixelLargerForThePredictor) {
  cv::Rect r = face_;
  dlib::full_object_detection shape = dlib_get_shape(image_, r);
  EXPECT_EQ(shape.get_rect(), dlib::rectangle(150, 180, 430, 480));
  // The refit encloses that one-pixel-larger rectangle and every landmark.
  mv::Rectangle expected{0, 0, 0, 0};
  DlibUpdateOptimalFaceRect(shape, &expected);
  cv::Rect refit = face_;
  ASSERT_TRUE(DlibUpdateOptimalFaceRect(image_, refit));
  EXPECT_EQ(refit, static_cast<cv::Rect>(expected));
  EXPECT_LE(refit.x, face_.x);
  EXPECT_GE(refit.br().x, face_.br().x + 1);
  EXPECT_GE(refit.br().y, face_.br().y + 1);
}

TEST_F(LandmarkModel, LoadedOncePerThreadAndAgainAfterGlobalFree) {
  GlobalFree();
  cv::Rect r = face_;
  const size_t before = g_releases.size();
  dlib_get_shape(image_, r);
  EXPECT_EQ(g_releases.size(), before + 1);
  dlib_get_shape(image_, r);
  EXPECT_EQ(g_releases.size(), before + 1);
  GlobalFree();
  EXPECT_TRUE(g_releases.empty());
  dlib_get_shape(image_, r);
  EXPECT_EQ(g_releases.size(), 1u);
}

TEST_F(LandmarkModel, MissingModelThrowsAndCachesNothing) {
  GlobalFree();
  g_config.dlib_shape = "/nonexistent/shape.dat";
  cv::Rect r = face_;
  EXPECT_THROW(dlib_get_shape(image_, r), dlib::serialization_error);
  EXPECT_TRUE(g_releases.empty());
  g_config.dlib_shape = saved_;
  EXPECT_EQ(dlib_get_shape(image_, r).num_parts(), 68u);
}

TEST_F(LandmarkModel, RectangleOutsideTheImageIsAccepted) {
  cv::Rect r(-100, 700, 200, 200);
  EXPECT_EQ(dlib_get_shape(image_, r).num_parts(), 68u);
}

// The box the model's mean shape is placed in, found back from the shape.
TEST_F(LandmarkModel, MeanShapeBoxFindsTheBoxOfThePlacedMeanShape) {
  std::ifstream in(g_config.dlib_shape, std::ios::binary);
  morvik::LandmarkModel model;
  morvik::deserialize(model, in);
  const dlib::matrix<float, 0, 1>& mean = model.mean_shape();
  ASSERT_EQ(mean.size(), 136);
  const dlib::rectangle fallback(1, 2, 3, 4);
  for (const dlib::rectangle& box : {dlib::rectangle(150, 180, 1150, 1180), dlib::rectangle(-400, 30, 1600, 2030),
                                     dlib::rectangle(7, 9, 207, 209)}) {
    // The unit square spans the box's corners, (1, 1) its bottom-right pixel.
    const double side = box.right() - box.left();
    std::vector<dlib::point> parts;
    for (long i = 0; i < 68; ++i)
      parts.emplace_back(std::lround(box.left() + mean(2 * i) * side), std::lround(box.top() + mean(2 * i + 1) * side));
    const dlib::rectangle found = morvik::meanShapeBox(dlib::full_object_detection(box, parts), fallback);
    EXPECT_NEAR(found.left(), box.left(), 1) << box;
    EXPECT_NEAR(found.top(), box.top(), 1) << box;
    EXPECT_NEAR(found.right(), box.right(), 1) << box;
    EXPECT_NEAR(found.bottom(), box.bottom(), 1) << box;
  }
}

TEST_F(LandmarkModel, MeanShapeBoxKeepsTheFallbackForShapesWithoutABox) {
  const dlib::rectangle fallback(1, 2, 30, 40);
  const dlib::rectangle any(0, 0, 99, 99);
  // Not the model's points; all points on one pixel; far off any image.
  EXPECT_EQ(morvik::meanShapeBox(dlib::full_object_detection(any, std::vector<dlib::point>(5)), fallback), fallback);
  EXPECT_EQ(morvik::meanShapeBox(dlib::full_object_detection(any, std::vector<dlib::point>(68, dlib::point(5, 5))),
                                 fallback),
            fallback);
  std::vector<dlib::point> far;
  for (long i = 0; i < 68; ++i) far.emplace_back(4000000000000L + i * 1000000000000L, i);
  EXPECT_EQ(morvik::meanShapeBox(dlib::full_object_detection(any, far), fallback), fallback);
}

}  // namespace
