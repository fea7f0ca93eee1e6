// The descriptor of a face image and the comparison of two descriptors.
#include <cstring>
#include <string>
#include <vector>

#include <dlib/serialize.h>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/morvik.h"
#include "morvik/morvik_info.h"
#include "support/test_support.h"

namespace {

using testing_support::photo;

// --- comparison ---------------------------------------------------------------

TEST(DlibCompareVectors, IsTheEuclideanDistance) {
  std::vector<float> a{3.0f, 0.0f}, b{0.0f, 4.0f};
  double d = -1.0;
  EXPECT_EQ(0, DlibCompareVectors(a, b, d));
  EXPECT_DOUBLE_EQ(5.0, d);
  EXPECT_EQ(0, DlibCompareVectors(a, a, d));
  EXPECT_EQ(0.0, d);
}

TEST(DlibCompareVectors, DifferentLengthsAreRefused) {
  std::vector<float> a(128, 1.0f), b(127, 1.0f);
  double d = 42.0;
  EXPECT_EQ(-1, DlibCompareVectors(a, b, d));
  EXPECT_EQ(42.0, d);
}

TEST(DlibCompareVectors, EmptyVectorsAreEqual) {
  std::vector<float> a, b;
  double d = 42.0;
  EXPECT_EQ(0, DlibCompareVectors(a, b, d));
  EXPECT_EQ(0.0, d);
}

TEST(CompareVectors, ArgumentsAreChecked) {
  float a[128] = {}, b[128] = {};
  double d = 42.0;
  EXPECT_EQ(-1, CompareVectors(nullptr, 512, b, 512, &d));
  EXPECT_EQ(-1, CompareVectors(a, 512, nullptr, 512, &d));
  EXPECT_EQ(-1, CompareVectors(a, 0, b, 0, &d));
  EXPECT_EQ(-1, CompareVectors(a, 512, b, 508, &d));
  EXPECT_EQ(-1, CompareVectors(a, 512, b, 512, nullptr));
  EXPECT_EQ(42.0, d);
}

TEST(CompareVectors, SizesAreBytesAndPartialFloatsAreIgnored) {
  float a[128], b[128];
  for (int i = 0; i < 128; ++i) {
    a[i] = 0.01f * i;
    b[i] = a[i];
  }
  double d = 42.0;
  EXPECT_EQ(0, CompareVectors(a, 512, b, 512, &d));
  EXPECT_EQ(0.0, d);

  b[0] = 1.0f;  // read only when at least 4 bytes are passed
  d = 42.0;
  EXPECT_EQ(0, CompareVectors(a, 3, b, 3, &d));
  EXPECT_EQ(0.0, d);
  EXPECT_EQ(0, CompareVectors(a, 7, b, 7, &d));
  EXPECT_DOUBLE_EQ(1.0, d);
}

// --- descriptor ---------------------------------------------------------------

void setString(const char* key, const std::string& value) {
  mv::OptionString s{value.c_str(), value.size(), {}};
  ASSERT_EQ(0, SetOption(key, &s, sizeof(s)));
}

void setFloat(const char* key, float value) { ASSERT_EQ(0, SetOption(key, &value, sizeof(value))); }

class Descriptor : public ::testing::Test {
 protected:
  // A face image: the central part of a portrait.
  static cv::Mat face() {
    static const cv::Mat image = photo("faces/Tom_Cruise_avp_2014_4.jpg");
    return image(cv::Rect(100, 100, 360, 420));
  }
  void TearDown() override {
    // Leave the defaults and the cache as the other tests expect them.
    g_config.dlib_anet = "/usr/share/morvik/dlib_face_recognition_resnet_model_v1.dat";
    g_config.dlib_shape = "/usr/share/morvik/shape_predictor_68_face_landmarks.dat";
    g_config.dlib_chip_padding = 0.25f;
  }
};

TEST_F(Descriptor, HasTheNetworksOutputOf128Values) {
  std::vector<float> v;
  ASSERT_EQ(0, DlibExtractFaceVector(face(), v));
  ASSERT_EQ(128u, v.size());
  double norm = 0.0;
  for (float x : v) norm += double{x} * x;
  EXPECT_GT(norm, 0.0);

  // Through the analysis object: the same values, in order.
  MorvikInfo info(mv::FindLBP);
  mv::FaceData fd{};
  ASSERT_EQ(0, info.fillFaceVector(fd, face()));
  EXPECT_EQ(0, std::memcmp(fd.vector, v.data(), sizeof(fd.vector)));
}

TEST_F(Descriptor, IsDeterministicAndSelfDistanceIsZero) {
  std::vector<float> a, b;
  ASSERT_EQ(0, DlibExtractFaceVector(face(), a));
  ASSERT_EQ(0, DlibExtractFaceVector(face().clone(), b));  // view or copy alike
  double d = -1.0;
  EXPECT_EQ(0, DlibCompareVectors(a, b, d));
  EXPECT_EQ(0.0, d);
}

TEST_F(Descriptor, ChipPaddingIsReadAtEveryCall) {
  std::vector<float> a, b;
  ASSERT_EQ(0, DlibExtractFaceVector(face(), a));
  setFloat("dlib.chip_padding", 0.4f);
  ASSERT_EQ(0, DlibExtractFaceVector(face(), b));
  double d = 0.0;
  EXPECT_EQ(0, DlibCompareVectors(a, b, d));
  EXPECT_GT(d, 0.0);
}

TEST_F(Descriptor, UnusablePaddingIsACaughtFailure) {
  // dlib refuses a negative padding with a fatal error, which it turns
  // into an abort the second time: it must never be reached.
  for (float padding : {-0.1f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
    setFloat("dlib.chip_padding", padding);
    std::vector<float> v{1.0f};
    EXPECT_EQ(-8, DlibExtractFaceVector(face(), v));
    EXPECT_EQ(1u, v.size());
  }
}

TEST_F(Descriptor, ImagesOtherThanEightBitBgrAreACaughtFailure) {
  cv::Mat grey, bgra, wide;
  cv::cvtColor(face(), grey, cv::COLOR_BGR2GRAY);
  cv::cvtColor(face(), bgra, cv::COLOR_BGR2BGRA);
  face().convertTo(wide, CV_16UC3);
  // Twice each: a second dlib fatal error would abort the process.
  for (int round = 0; round < 2; ++round) {
    for (const cv::Mat& image : {grey, bgra, wide, cv::Mat()}) {
      std::vector<float> v;
      EXPECT_EQ(-8, DlibExtractFaceVector(image, v));
      EXPECT_TRUE(v.empty());
    }
  }
}

TEST_F(Descriptor, MissingLandmarkModelIsACaughtFailure) {
  std::vector<float> warm;
  ASSERT_EQ(0, DlibExtractFaceVector(face(), warm));  // network cached
  GlobalFree();
  setString("dlib.shape", "/nonexistent/shape.dat");
  MorvikInfo info(mv::FindLBP);
  mv::FaceData fd{};
  fd.vector[0] = 7.0f;
  EXPECT_EQ(-8, info.fillFaceVector(fd, face()));
  EXPECT_EQ(7.0f, fd.vector[0]);
  GlobalFree();
}

TEST_F(Descriptor, MissingNetworkReachesTheCaller) {
  GlobalFree();
  setString("dlib.anet", "/nonexistent/anet.dat");
  MorvikInfo info(mv::FindLBP);
  mv::FaceData fd{};
  EXPECT_THROW(info.fillFaceVector(fd, face()), dlib::serialization_error);
  // Nothing was cached: the next call with the right file loads it.
  setString("dlib.anet", "/usr/share/morvik/dlib_face_recognition_resnet_model_v1.dat");
  EXPECT_EQ(0, info.fillFaceVector(fd, face()));
  GlobalFree();
}

}  // namespace
