// The eye cascade on the image of one face, and the analysis step that falls
// back to the landmarks.
#include <cmath>
#include <fstream>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "face/eye_cascade.h"
#include "morvik/config.h"
#include "morvik/global_cache.h"
#include "morvik/morvik.h"
#include "morvik/morvik_info.h"
#include "support/test_support.h"

namespace {

using testing_support::photo;
using testing_support::scratchPath;
using testing_support::StreamCapture;

bool inside(const mv::Point& p, const cv::Rect& r) { return r.contains(cv::Point(p.x, p.y)); }

class EyeCascade : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = photo("people/obama/obama.jpg");
    ASSERT_FALSE(image_.empty());
    face_ = image_(face_rect_).clone();
  }
  void TearDown() override {
    g_config.haar_eye_path_default = saved_.haar_eye_path_default;
    g_config.haar_eye_skip = saved_.haar_eye_skip;
    g_config.haar_eye_skip_y_min = saved_.haar_eye_skip_y_min;
    g_config.haar_eye_skip_y_max = saved_.haar_eye_skip_y_max;
    g_config.haar_eye_equal_treshold = saved_.haar_eye_equal_treshold;
    g_config.haar_eye_scale_factor = saved_.haar_eye_scale_factor;
  }
  struct Saved {
    std::string haar_eye_path_default = g_config.haar_eye_path_default;
    int haar_eye_skip = g_config.haar_eye_skip;
    int haar_eye_skip_y_min = g_config.haar_eye_skip_y_min;
    int haar_eye_skip_y_max = g_config.haar_eye_skip_y_max;
    int haar_eye_equal_treshold = g_config.haar_eye_equal_treshold;
    float haar_eye_scale_factor = g_config.haar_eye_scale_factor;
  } saved_;
  cv::Mat image_;
  const cv::Rect face_rect_{348, 95, 292, 292};
  cv::Mat face_;
};

TEST_F(EyeCascade, RefusesEmptyImageAndNullPoints) {
  mv::Point l{0, 0}, r{0, 0};
  cv::Mat empty;
  EXPECT_EQ(HaarExtractEyesInfo(empty, &l, &r), -1);
  EXPECT_EQ(HaarExtractEyesInfo(face_, nullptr, &r), -1);
  EXPECT_EQ(HaarExtractEyesInfo(face_, &l, nullptr), -1);
  cv::Mat deep(50, 50, CV_16UC3, cv::Scalar::all(0));
  EXPECT_EQ(HaarExtractEyesInfo(deep, &l, &r), -1);
  g_config.haar_eye_scale_factor = 1.0f;  // OpenCV would throw on it
  EXPECT_EQ(HaarExtractEyesInfo(face_, &l, &r), -1);
  // Millions of sizes: refused the same way.
  g_config.haar_eye_scale_factor = std::nextafter(1.0f, 2.0f);
  EXPECT_EQ(HaarExtractEyesInfo(face_, &l, &r), -1);
}

TEST_F(EyeCascade, HugeScaleFactorScansOneSize) {
  // OpenCV's size loop would never end for this factor.
  mv::Point l{0, 0}, r{0, 0};
  g_config.haar_eye_scale_factor = 1000.0f;
  const int rc = HaarExtractEyesInfo(face_, &l, &r);
  mv::Point l2{0, 0}, r2{0, 0};
  g_config.haar_eye_scale_factor = 1e21f;
  EXPECT_EQ(HaarExtractEyesInfo(face_, &l2, &r2), rc);
  EXPECT_EQ(l2.x, l.x);
  EXPECT_EQ(l2.y, l.y);
  EXPECT_EQ(r2.x, r.x);
  EXPECT_EQ(r2.y, r.y);
}

TEST_F(EyeCascade, BothEyesInTheUpperHalfOfTheFace) {
  mv::Point l{0, 0}, r{0, 0};
  ASSERT_EQ(HaarExtractEyesInfo(face_, &l, &r), 0);
  EXPECT_LT(l.x, r.x);
  EXPECT_GT(r.x - l.x, face_.cols / 5);
  for (const mv::Point& p : {l, r}) {
    EXPECT_TRUE(inside(p, cv::Rect(0, 0, face_.cols, face_.rows / 2 + 30)));
  }
}

TEST_F(EyeCascade, GreyAndAlphaImagesGiveTheSameEyes) {
  mv::Point l{0, 0}, r{0, 0}, gl{0, 0}, gr{0, 0}, al{0, 0}, ar{0, 0};
  cv::Mat grey, bgra;
  cv::cvtColor(face_, grey, cv::COLOR_BGR2GRAY);
  cv::cvtColor(face_, bgra, cv::COLOR_BGR2BGRA);
  ASSERT_EQ(HaarExtractEyesInfo(face_, &l, &r), 0);
  ASSERT_EQ(HaarExtractEyesInfo(grey, &gl, &gr), 0);
  ASSERT_EQ(HaarExtractEyesInfo(bgra, &al, &ar), 0);
  EXPECT_EQ(l.x, gl.x);
  EXPECT_EQ(r.y, gr.y);
  EXPECT_EQ(l.x, al.x);
  EXPECT_EQ(r.y, ar.y);
}

TEST_F(EyeCascade, BandFilterDropsEverythingOutsideIt) {
  g_config.haar_eye_skip = 1;
  g_config.haar_eye_skip_y_min = 0;
  g_config.haar_eye_skip_y_max = 1;
  mv::Point l{0, 0}, r{0, 0};
  StreamCapture err(std::cerr);
  EXPECT_EQ(HaarExtractEyesInfo(face_, &l, &r), 1);
  EXPECT_NE(err.text().find("All points are filtered for image"), std::string::npos);
}

TEST_F(EyeCascade, DetectionsCloserThanTheThresholdAreOneEye) {
  mv::Point l{0, 0}, r{0, 0};
  ASSERT_EQ(HaarExtractEyesInfo(face_, &l, &r), 0);
  g_config.haar_eye_equal_treshold = 100000;
  mv::Point l1{0, 0}, r1{7, 7};
  EXPECT_EQ(HaarExtractEyesInfo(face_, &l1, &r1), 2);
  EXPECT_EQ(r1.x, 0);
  EXPECT_EQ(r1.y, 0);
  // The first detection in the cascade's order, whichever that is.
  EXPECT_TRUE(inside(l1, cv::Rect(0, 0, face_.cols, face_.rows)));
}

TEST_F(EyeCascade, MissingOrDamagedModelIsErrorLoadCascadeAndRetried) {
  GlobalFree();
  mv::Point l{0, 0}, r{0, 0};
  g_config.haar_eye_path_default = "/nonexistent/eyes.xml";
  EXPECT_EQ(HaarExtractEyesInfo(face_, &l, &r), -3);
  EXPECT_TRUE(g_releases.empty());

  const std::string damaged = scratchPath("eyes.xml");
  std::ofstream(damaged) << "<?xml version=\"1.0\"?>\n<opencv_storage><cascade><stageType>";
  g_config.haar_eye_path_default = damaged;
  EXPECT_EQ(HaarExtractEyesInfo(face_, &l, &r), -3);
  std::remove(damaged.c_str());

  g_config.haar_eye_path_default = saved_.haar_eye_path_default;
  EXPECT_EQ(HaarExtractEyesInfo(face_, &l, &r), 0);
  EXPECT_EQ(g_releases.size(), 1u);
}

class FillEyes : public EyeCascade {
 protected:
  mv::Face face(const cv::Rect& r, double angle = 0.0) {
    mv::Face f{};
    f.rect = r;
    f.angle = angle;
    return f;
  }
  PreparedImage prepared() {
    PreparedImage p;
    p.image = image_;
    return p;
  }
  MorvikInfo info_{mv::FindNone};
};

TEST_F(FillEyes, CascadeEyesKeepTheRectangle) {
  for (double angle : {0.0, 3.0, -3.0}) {
    mv::Face f = face(face_rect_, angle);
    EXPECT_FALSE(info_.fillEyesInfo(prepared(), f)) << angle;
    EXPECT_EQ(static_cast<cv::Rect>(f.rect), face_rect_);
    EXPECT_TRUE(inside(f.left_eye, face_rect_));
    EXPECT_TRUE(inside(f.right_eye, face_rect_));
    EXPECT_LT(f.left_eye.x, f.right_eye.x);
  }
}

TEST_F(FillEyes, RotatedSearchKeepsSizeAndCentre) {
  for (double angle : {3.5, -10.0}) {
    mv::Face f = face(face_rect_, angle);
    const bool from_shape = info_.fillEyesInfo(prepared(), f);
    EXPECT_EQ(f.rect.w, from_shape ? f.rect.w : face_rect_.width);
    if (!from_shape) {
      EXPECT_NEAR(f.rect.x, face_rect_.x, 1);
      EXPECT_NEAR(f.rect.y, face_rect_.y, 1);
    }
    EXPECT_TRUE(inside(f.left_eye, face_rect_)) << angle;
    EXPECT_TRUE(inside(f.right_eye, face_rect_)) << angle;
    EXPECT_EQ(f.angle, angle);
  }
}

TEST_F(FillEyes, LandmarksWhenTheCascadeFails) {
  g_config.haar_eye_equal_treshold = 100000;  // every pair of eyes counts as one
  mv::Face f = face(face_rect_);
  EXPECT_TRUE(info_.fillEyesInfo(prepared(), f));
  const cv::Rect refit = f.rect;
  EXPECT_GE(refit.width, face_rect_.width);
  EXPECT_TRUE(inside(f.left_eye, refit));
  EXPECT_TRUE(inside(f.right_eye, refit));
  EXPECT_LT(f.left_eye.x, f.right_eye.x);
}

TEST_F(FillEyes, FacesTouchingOrLeavingTheImage) {
  const cv::Rect cut(-80, image_.rows - 200, 300, 300);  // off the left and bottom edges
  mv::Face f = face(cut);
  info_.fillEyesInfo(prepared(), f);
  EXPECT_NE(f.left_eye.x | f.left_eye.y, 0);
  const cv::Rect outside(image_.cols + 10, 10, 100, 100);  // nothing of it is in the image
  mv::Face g = face(outside);
  EXPECT_TRUE(info_.fillEyesInfo(prepared(), g));
}

}  // namespace
