// Rotation about the face centre and the aligned crop, on synthetic images.
#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "morvik/image.h"

namespace {

// A 400 x 300 image whose pixel values encode their position, so that a
// view can be told apart from a copy and a rotation from none.
cv::Mat gradient() {
  cv::Mat image(300, 400, CV_8UC3);
  for (int y = 0; y < image.rows; ++y)
    for (int x = 0; x < image.cols; ++x) image.at<cv::Vec3b>(y, x) = cv::Vec3b(x % 256, y % 256, (x + y) % 256);
  return image;
}

bool sharesPixels(const cv::Mat& view, const cv::Mat& image, int x, int y) {
  return view.data == image.ptr(y, x);
}

// --- rotateImage ------------------------------------------------------------

TEST(RotateImage, NullOrEmptyRectangleAndNanAngleAreRefused) {
  cv::Mat image = gradient(), rotated, rotation;
  EXPECT_EQ(-1, rotateImage(20.0, image, nullptr, nullptr, nullptr, rotated, rotation));
  mv::Rectangle empty{10, 10, 0, 20};
  EXPECT_EQ(-1, rotateImage(20.0, image, &empty, nullptr, nullptr, rotated, rotation));
  mv::Rectangle box{10, 10, 20, 20};
  EXPECT_EQ(-1, rotateImage(std::nan(""), image, &box, nullptr, nullptr, rotated, rotation));
  EXPECT_EQ(box.w, 20);
  EXPECT_TRUE(rotated.empty());
}

TEST(RotateImage, ThreeDegreesOrLessIsNoRotation) {
  const cv::Mat image = gradient();
  for (double angle : {0.0, 3.0, -3.0, 2.29}) {
    mv::Rectangle rect{100, 60, 100, 80};
    mv::Point left{110, 90}, right{170, 92};
    cv::Mat rotated, rotation;
    ASSERT_EQ(0, rotateImage(angle, image, &rect, &left, &right, rotated, rotation)) << angle;
    EXPECT_EQ(image.data, rotated.data) << angle;  // shared, not copied
    EXPECT_TRUE(rotation.empty()) << angle;
    EXPECT_EQ(100, rect.x);
    EXPECT_EQ(100, rect.w);
    EXPECT_EQ(110, left.x);
    EXPECT_EQ(92, right.y);
  }
}

TEST(RotateImage, JustAboveThreeDegreesRotates) {
  const cv::Mat image = gradient();
  mv::Rectangle rect{100, 60, 100, 80};
  cv::Mat rotated, rotation;
  ASSERT_EQ(0, rotateImage(3.0000001, image, &rect, nullptr, nullptr, rotated, rotation));
  EXPECT_NE(image.data, rotated.data);
  EXPECT_EQ(image.size(), rotated.size());
  EXPECT_EQ(CV_64F, rotation.type());
  EXPECT_EQ(2, rotation.rows);
  EXPECT_EQ(3, rotation.cols);
}

TEST(RotateImage, WithoutEyesStillTurnsImageAndRectangle) {
  const cv::Mat image = gradient();
  mv::Rectangle rect{100, 60, 100, 80};
  cv::Mat rotated, rotation;
  ASSERT_EQ(0, rotateImage(30.0, image, &rect, nullptr, nullptr, rotated, rotation));
  // A 100 x 80 box turned by 30 degrees needs 126.6 x 119.3; the integer
  // box around it takes whole pixels on both sides and counts both ends.
  const double w = 100 * std::cos(M_PI / 6) + 80 * std::sin(M_PI / 6);
  const double h = 100 * std::sin(M_PI / 6) + 80 * std::cos(M_PI / 6);
  EXPECT_GE(rect.w, w);
  EXPECT_LE(rect.w, w + 3);
  EXPECT_GE(rect.h, h);
  EXPECT_LE(rect.h, h + 3);
  // Still centred on the old centre (150, 100).
  EXPECT_NEAR(150, rect.x + rect.w / 2.0, 1.0);
  EXPECT_NEAR(100, rect.y + rect.h / 2.0, 1.0);
  // The corners uncovered by the turned picture are black.
  EXPECT_EQ(cv::Vec3b(0, 0, 0), rotated.at<cv::Vec3b>(299, 399));
}

TEST(RotateImage, PointsAreRoundedToTheNearestPixel) {
  const cv::Mat image = gradient();
  // Eyes tilted by atan2(10, 50) = 11.31 degrees about the centre (130, 110).
  mv::Rectangle rect{80, 60, 100, 100};
  mv::Point left{100, 100}, right{150, 110};
  const double angle = std::atan2(10.0, 50.0) * 180.0 / M_PI;
  cv::Mat rotated, rotation;
  ASSERT_EQ(0, rotateImage(angle, image, &rect, &left, &right, rotated, rotation));
  // Exact positions: left (98.62, 106.08), right (149.61, 106.08);
  // truncation would give 98 and 149.
  EXPECT_EQ(99, left.x);
  EXPECT_EQ(106, left.y);
  EXPECT_EQ(150, right.x);
  EXPECT_EQ(106, right.y);
}

TEST(RotateImage, OnlyTheGivenEyeIsMoved) {
  const cv::Mat image = gradient();
  mv::Rectangle rect{80, 60, 100, 100};
  mv::Point right{150, 110};
  cv::Mat rotated, rotation;
  ASSERT_EQ(0, rotateImage(std::atan2(10.0, 50.0) * 180.0 / M_PI, image, &rect, nullptr, &right, rotated, rotation));
  EXPECT_EQ(150, right.x);
  EXPECT_EQ(106, right.y);
}

// --- alignFace --------------------------------------------------------------

class AlignFace : public ::testing::Test {
 protected:
  int align(mv::Rectangle& rect, mv::Point& left, mv::Point& right) {
    return alignFace(image_, &rect, &left, &right, cropped_, false, cv::Size(300, 300), cv::Size_<double>(0.25, 0.2));
  }
  cv::Mat image_ = gradient();
  cv::Mat cropped_;
};

TEST_F(AlignFace, BadArgumentsAreRefused) {
  mv::Rectangle rect{80, 60, 100, 100};
  mv::Point left{100, 100}, right{150, 100};
  const cv::Size size(300, 300);
  const cv::Size_<double> eyes(0.25, 0.2);
  EXPECT_EQ(-1, alignFace(cv::Mat(), &rect, &left, &right, cropped_, false, size, eyes));
  EXPECT_EQ(-1, alignFace(image_, nullptr, &left, &right, cropped_, false, size, eyes));
  EXPECT_EQ(-1, alignFace(image_, &rect, nullptr, &right, cropped_, false, size, eyes));
  EXPECT_EQ(-1, alignFace(image_, &rect, &left, nullptr, cropped_, false, size, eyes));
  mv::Rectangle flat{80, 60, 0, 100};
  EXPECT_EQ(-1, alignFace(image_, &flat, &left, &right, cropped_, false, size, eyes));
  // The landmark fit needs an 8-bit BGR image.
  cv::Mat grey(300, 400, CV_8UC1, cv::Scalar(128));
  EXPECT_EQ(-1, alignFace(grey, &rect, &left, &right, cropped_, true, size, eyes));
  EXPECT_TRUE(cropped_.empty());
  EXPECT_EQ(100, left.x);
}

TEST_F(AlignFace, LevelEyesGiveAViewOfTheImage) {
  mv::Rectangle rect{80, 60, 100, 100};
  mv::Point left{100, 100}, right{150, 100};
  ASSERT_EQ(0, align(rect, left, right));
  EXPECT_EQ(cv::Size(100, 100), cropped_.size());
  EXPECT_TRUE(sharesPixels(cropped_, image_, 80, 60));
}

TEST_F(AlignFace, SmallTiltIsLeftAlone) {
  mv::Rectangle rect{80, 60, 100, 100};
  mv::Point left{100, 100}, right{150, 102};  // 2.29 degrees
  ASSERT_EQ(0, align(rect, left, right));
  EXPECT_TRUE(sharesPixels(cropped_, image_, 80, 60));
  EXPECT_EQ(80, rect.x);
  EXPECT_EQ(100, rect.w);
  EXPECT_EQ(102, right.y);
}

TEST_F(AlignFace, EqualEyesNeverRotate) {
  mv::Rectangle rect{-30, 250, 500, 90};  // whatever the rectangle
  mv::Point left{120, 120}, right{120, 120};
  ASSERT_EQ(0, align(rect, left, right));
  EXPECT_TRUE(sharesPixels(cropped_, image_, 0, 250));
  EXPECT_EQ(-30, rect.x);
}

TEST_F(AlignFace, TiltedEyesAreLevelledAndTheBoxGrows) {
  mv::Rectangle rect{80, 60, 100, 100};
  mv::Point left{100, 100}, right{150, 110};  // 11.31 degrees
  ASSERT_EQ(0, align(rect, left, right));
  EXPECT_EQ(left.y, right.y);
  EXPECT_GT(rect.w, 100);
  EXPECT_GT(rect.h, 100);
  EXPECT_NEAR(130, rect.x + rect.w / 2.0, 1.0);
  EXPECT_NEAR(110, rect.y + rect.h / 2.0, 1.0);
  // The crop is the whole grown box (it lies inside the image), from the
  // rotated picture, not from the original.
  EXPECT_EQ(cv::Size(rect.w, rect.h), cropped_.size());
  EXPECT_FALSE(sharesPixels(cropped_, image_, rect.x, rect.y));
}

TEST_F(AlignFace, EyesInReverseOrderTurnThePictureUpsideDown) {
  image_ = cv::Mat(300, 400, CV_8UC3, cv::Scalar::all(0));
  image_(cv::Rect(110, 80, 10, 10)).setTo(cv::Scalar::all(255));  // above-left of the centre
  mv::Rectangle rect{100, 70, 60, 60};                             // centre (130, 100)
  mv::Point left{150, 100}, right{100, 100};                       // 180 degrees
  ASSERT_EQ(0, align(rect, left, right));
  EXPECT_EQ(100, left.y);
  EXPECT_EQ(100, right.y);
  EXPECT_EQ(110, left.x);
  EXPECT_EQ(160, right.x);
  // The square moved below-right of the centre: crop pixel (x, y) holds
  // image pixel (2 * 130 - x, 2 * 100 - y).
  const cv::Vec3b white(255, 255, 255);
  EXPECT_EQ(white, cropped_.at<cv::Vec3b>(115 - rect.y, 145 - rect.x));
  EXPECT_NE(white, cropped_.at<cv::Vec3b>(85 - rect.y, 115 - rect.x));
}

TEST_F(AlignFace, CropIsClampedToTheImage) {
  // Reaching the right edge loses the last column.
  mv::Rectangle rect{300, 50, 100, 100};
  mv::Point left{320, 80}, right{370, 80};
  ASSERT_EQ(0, align(rect, left, right));
  EXPECT_EQ(cv::Size(99, 100), cropped_.size());
  EXPECT_EQ(300, rect.x);
  EXPECT_EQ(100, rect.w);  // the clamped rectangle is not written back

  mv::Rectangle corner{-20, -10, 100, 100};
  mv::Point l2{10, 30}, r2{50, 30};
  ASSERT_EQ(0, align(corner, l2, r2));
  EXPECT_EQ(cv::Size(80, 90), cropped_.size());
  EXPECT_TRUE(sharesPixels(cropped_, image_, 0, 0));
}

TEST_F(AlignFace, FaceWhollyOutsideTheImageIsRefused) {
  const mv::Rectangle outside[] = {{500, 50, 50, 50},    {-200, -200, 50, 50},
                                   {50, 400, 50, 50},    {399, 299, 5, 5},
                                   {INT32_MAX - 10, 50, 100, 50}};
  for (mv::Rectangle rect : outside) {
    mv::Point left{10, 10}, right{40, 10};
    EXPECT_EQ(-1, align(rect, left, right)) << rect.x << "," << rect.y;
    EXPECT_TRUE(cropped_.empty());
  }
}

TEST_F(AlignFace, OptimalRefitStaysInsideTheImage) {
  // No face here: the landmarks still land somewhere, and the refitted crop
  // is clamped to the picture.
  mv::Rectangle rect{250, 150, 150, 150};
  mv::Point left{280, 200}, right{340, 200};
  ASSERT_EQ(0, alignFace(image_, &rect, &left, &right, cropped_, true, cv::Size(300, 300),
                         cv::Size_<double>(0.25, 0.2)));
  ASSERT_FALSE(cropped_.empty());
  cv::Size whole;
  cv::Point offset;
  cropped_.locateROI(whole, offset);
  EXPECT_LT(offset.x + cropped_.cols, image_.cols);
  EXPECT_LT(offset.y + cropped_.rows, image_.rows);
}

}  // namespace
