// The cascade finder on its own: inputs, models and the two-eye rule.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "models/cascade_loader.h"
#include "morvik/config.h"
#include "morvik/findface.h"
#include "morvik/global_cache.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using testing_support::photo;

class CascadeFinder : public ::testing::Test {
 protected:
  void TearDown() override {
    g_config.haar_face_path_default = lbp_path_;
    g_config.haar_face_scale_factor = scale_;
  }
  std::string lbp_path_ = g_config.haar_face_path_default;
  float scale_ = g_config.haar_face_scale_factor;
};

TEST_F(CascadeFinder, NamesAndDefaultScale) {
  HaarFindFaceAlgo lbp(true), haar(false);
  EXPECT_STREQ(lbp.getName(), "LBP");
  EXPECT_STREQ(haar.getName(), "Haar");
  const std::vector<PreparedParams> scales = lbp.getScales(cv::Mat(1200, 1600, CV_8UC3));
  ASSERT_EQ(scales.size(), 1u);
  EXPECT_EQ(scales[0].rescale, 2.0);
  EXPECT_EQ(scales[0].size, cv::Size(800, 600));
}

TEST_F(CascadeFinder, RefusesWhatItCannotSearch) {
  HaarFindFaceAlgo lbp(true);
  std::vector<cv::Rect> faces{cv::Rect(1, 1, 1, 1)};
  cv::Mat empty;
  EXPECT_EQ(lbp.findFaces(0, empty, faces), -1);
  cv::Mat deep(100, 100, CV_16UC1, cv::Scalar::all(0));
  EXPECT_EQ(lbp.findFaces(0, deep, faces), -1);
  cv::Mat tiny(10, 10, CV_8UC3, cv::Scalar::all(0));
  EXPECT_EQ(lbp.findFaces(0, tiny, faces), -4);
  std::vector<rotrect> rfaces(1);
  EXPECT_EQ(lbp.findFaces(0, tiny, rfaces), -12);
  EXPECT_EQ(rfaces.size(), 1u);
  g_config.haar_face_scale_factor = 1.0f;  // OpenCV would throw on it
  cv::Mat image = photo("faces/two_people.jpg");
  EXPECT_EQ(lbp.findFaces(0, image, faces), -1);
  ASSERT_EQ(faces.size(), 1u);
  EXPECT_EQ(faces[0], cv::Rect(1, 1, 1, 1));
}

TEST_F(CascadeFinder, ExtremeScaleFactorsEndTheSearch) {
  HaarFindFaceAlgo lbp(true);
  cv::Mat image = photo("faces/two_people.jpg");
  std::vector<cv::Rect> faces;
  // Any factor beyond the image scans the first window size only. Above
  // about 1e8 OpenCV's size loop would never end, filling memory.
  g_config.haar_face_scale_factor = 5000.0f;
  const int rc = lbp.findFaces(0, image, faces);
  const std::vector<cv::Rect> first_size = faces;
  g_config.haar_face_scale_factor = 1e21f;
  EXPECT_EQ(lbp.findFaces(0, image, faces), rc);
  EXPECT_EQ(faces, first_size);
  // So close to 1 that the scan would take millions of sizes: refused as 1 is.
  g_config.haar_face_scale_factor = std::nextafter(1.0f, 2.0f);
  EXPECT_EQ(lbp.findFaces(0, image, faces), -1);
  g_config.haar_face_scale_factor = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(lbp.findFaces(0, image, faces), -1);
  // The shipped factor is untouched.
  EXPECT_EQ(morvik::cascadeScaleFactor(1.1f, image.size()), double(1.1f));
}

TEST_F(CascadeFinder, GreyColourAndAlphaAgree) {
  cv::Mat bgr, grey, bgra;
  cv::resize(photo("faces/two_people.jpg"), bgr, cv::Size(), 0.5, 0.5, cv::INTER_AREA);
  cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
  cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
  HaarFindFaceAlgo finder(true);
  std::vector<cv::Rect> a, b, c;
  ASSERT_EQ(finder.findFaces(0, bgr, a), 0);
  ASSERT_EQ(finder.findFaces(0, grey, b), 0);
  ASSERT_EQ(finder.findFaces(0, bgra, c), 0);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c);
}

TEST_F(CascadeFinder, FaceWithOneVisibleEyeIsDropped) {
  // The face cascade finds this portrait, the eye cascade only one eye.
  cv::Mat image = photo("faces/Tom_Cruise_avp_2014_4.jpg");
  HaarFindFaceAlgo haar(false);
  std::vector<cv::Rect> faces{cv::Rect(1, 1, 1, 1)};
  EXPECT_EQ(haar.findFaces(0, image, faces), -4);
  EXPECT_TRUE(faces.empty());
}

TEST_F(CascadeFinder, MissingModelIsErrorLoadCascadeForItsUserOnly) {
  GlobalFree();
  g_config.haar_face_path_default = "/nonexistent/lbp.xml";
  cv::Mat image = photo("faces/two_people.jpg");
  HaarFindFaceAlgo lbp(true), haar(false);
  std::vector<cv::Rect> faces;
  EXPECT_EQ(lbp.findFaces(0, image, faces), -3);
  EXPECT_EQ(lbp.findFaces(0, image, faces), -3);
  EXPECT_EQ(haar.findFaces(0, image, faces), 0);
  g_config.haar_face_path_default = lbp_path_;
  EXPECT_EQ(lbp.findFaces(0, image, faces), 0);  // retried once the file is back
}

TEST_F(CascadeFinder, MissingFirstModelFallsThroughTheChain) {
  GlobalFree();
  g_config.haar_face_path_default = "/nonexistent/lbp.xml";
  const cv::Mat image = photo("faces/two_people.jpg");
  mv::Face faces[4];
  size_t n = 4;
  EXPECT_EQ(ExtractFaces(&image, faces, &n, mv::FindLBP), -4);
  n = 4;
  EXPECT_EQ(ExtractFaces(&image, faces, &n, static_cast<mv::FindFaceAlgoType>(mv::FindLBP | mv::FindHaar)), 0);
  EXPECT_EQ(n, 2u);
}

}  // namespace
