// The HOG finder, the CNN finders with their conversions and scale lists,
// and the light-CNN confirmer. Network passes are expensive (about a
// second each), so only a handful of tests run one.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <dlib/error.h>
#include <dlib/serialize.h>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "face/detections.h"
#include "face/confirmation.h"
#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/findface.h"
#include "morvik/global_cache.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

using testing_support::photo;

namespace {

double iou(const cv::Rect& a, const cv::Rect& b) {
  const double inter = (a & b).area();
  return inter / (a.area() + b.area() - inter);
}

dlib::mmod_rect detection(long left, long top, long right, long bottom, double confidence,
                          bool ignore = false) {
  dlib::mmod_rect d(dlib::rectangle(left, top, right, bottom));
  d.detection_confidence = confidence;
  d.ignore = ignore;
  return d;
}

class CnnConfidence : public ::testing::Test {
 protected:
  void TearDown() override {
    g_config.dlib_cnn_confidence = confidence_;
    g_config.dlib_dnet = dnet_;
  }
  float confidence_ = g_config.dlib_cnn_confidence;
  std::string dnet_ = g_config.dlib_dnet;
};

// The faces of two_people.jpg found by the HOG finder, shared by the tests
// that need real face rectangles.
const std::vector<cv::Rect>& twoPeopleFaces() {
  static const std::vector<cv::Rect> faces = [] {
    DlibFindFaceAlgo hog;
    cv::Mat image = photo("faces/two_people.jpg");
    std::vector<cv::Rect> found;
    hog.findFaces(0, image, found);
    std::sort(found.begin(), found.end(), [](const cv::Rect& a, const cv::Rect& b) { return a.x < b.x; });
    return found;
  }();
  return faces;
}

}  // namespace

// --- Conversions --------------------------------------------------------------

TEST(DlibRect, InclusiveCornersBecomeWidthAndHeight) {
  EXPECT_EQ(morvik::toCvRect(dlib::rectangle(10, 20, 39, 59)), cv::Rect(10, 20, 30, 40));
  EXPECT_EQ(morvik::toCvRect(dlib::rectangle(-5, -7, 4, 2)), cv::Rect(-5, -7, 10, 10));
  EXPECT_EQ(morvik::toCvRect(dlib::rectangle(10, 20, 9, 59)), cv::Rect(10, 20, 0, 0));
  EXPECT_EQ(morvik::toCvRect(dlib::rectangle(10, 20, 39, 19)), cv::Rect(10, 20, 0, 0));
}

TEST_F(CnnConfidence, DetectionsAtOrAboveThresholdPass) {
  g_config.dlib_cnn_confidence = 0.5f;
  const std::vector<dlib::mmod_rect> found = {
      detection(0, 0, 9, 9, 0.5),          // equal: passes
      detection(1, 1, 10, 10, 0.4999),     // just below: dropped
      detection(2, 2, 11, 11, 3.0, true),  // ignored
      detection(-4, -6, 20, 30, 0.9),      // past the border: kept as it is
  };
  std::vector<cv::Rect> faces = {cv::Rect(7, 7, 7, 7)};
  EXPECT_EQ(morvik::keepConfidentFaces(found, faces), 2);
  ASSERT_EQ(faces.size(), 2u);
  EXPECT_EQ(faces[0], cv::Rect(0, 0, 10, 10));
  EXPECT_EQ(faces[1], cv::Rect(-4, -6, 25, 37));

  g_config.dlib_cnn_confidence = 0.0f;
  EXPECT_EQ(morvik::keepConfidentFaces(found, faces), 3);
  EXPECT_EQ(morvik::keepConfidentFaces({}, faces), 0);
  EXPECT_TRUE(faces.empty());
}

TEST(Cv2Dlib, SwapsChannelsAndHonoursRowStride) {
  cv::Mat big(6, 8, CV_8UC3);
  for (int r = 0; r < big.rows; ++r)
    for (int c = 0; c < big.cols; ++c) big.at<cv::Vec3b>(r, c) = cv::Vec3b(uchar(r), uchar(c), uchar(r * 10 + c));
  cv::Mat roi = big(cv::Rect(2, 1, 4, 3));
  ASSERT_FALSE(roi.isContinuous());
  dlib::cv_image<dlib::bgr_pixel> view(roi);
  dlib::matrix<dlib::rgb_pixel> rgb(1, 1);
  cv2dlib(view, rgb);
  ASSERT_EQ(rgb.nr(), 3);
  ASSERT_EQ(rgb.nc(), 4);
  for (long r = 0; r < 3; ++r) {
    for (long c = 0; c < 4; ++c) {
      EXPECT_EQ(rgb(r, c).blue, r + 1);
      EXPECT_EQ(rgb(r, c).green, c + 2);
      EXPECT_EQ(rgb(r, c).red, (r + 1) * 10 + c + 2);
    }
  }
  cv::Mat empty(0, 5, CV_8UC3);
  ASSERT_EQ(empty.channels(), 3);
  dlib::cv_image<dlib::bgr_pixel> none(empty);
  cv2dlib(none, rgb);
  EXPECT_EQ(rgb.size(), 0);
}

// --- Scale lists -----------------------------------------------------------------

TEST(CnnScales, WorkingScaleThenCnnScaleWhenResized) {
  CnnFindFaceAlgo cnn;
  auto scales = cnn.getScales(cv::Mat(1280, 1280, CV_8UC3));
  ASSERT_EQ(scales.size(), 1u);
  EXPECT_EQ(scales[0].size, cv::Size(800, 800));  // the working scale

  scales = cnn.getScales(cv::Mat(1000, 1000, CV_8UC3));
  ASSERT_EQ(scales.size(), 2u);
  EXPECT_EQ(scales[1].size, cv::Size(1280, 1280));
  EXPECT_DOUBLE_EQ(scales[1].scale, 1.28);

  scales = CnnLightFindFaceAlgo().getScales(cv::Mat(2000, 2000, CV_8UC3));
  ASSERT_EQ(scales.size(), 2u);
  EXPECT_EQ(scales[1].size, cv::Size(1280, 1280));
  EXPECT_DOUBLE_EQ(scales[1].rescale, 2000.0 / 1280);
}

TEST(CnnScales, CnnFaceHasItsOwnScaleOnly) {
  CNNFaceFindFaceAlgo finder;
  EXPECT_STREQ(finder.getName(), "CNNFace");
  EXPECT_TRUE(finder.getScales(cv::Mat(250, 250, CV_8UC3)).empty());
  auto scales = finder.getScales(cv::Mat(640, 640, CV_8UC3));
  ASSERT_EQ(scales.size(), 1u);
  EXPECT_EQ(scales[0].size, cv::Size(300, 300));
}

TEST(CnnFinders, FactoryAndContract) {
  std::unique_ptr<FindFaceAlgo> light(newCnnFinder(true));
  std::unique_ptr<FindFaceAlgo> full(newCnnFinder(false));
  EXPECT_NE(dynamic_cast<CnnLightFindFaceAlgo*>(light.get()), nullptr);
  EXPECT_NE(dynamic_cast<CnnFindFaceAlgo*>(full.get()), nullptr);
  EXPECT_STREQ(full->getName(), "CNN");
  cv::Mat empty;
  std::vector<cv::Rect> faces;
  EXPECT_EQ(full->findFaces(0, empty, faces), -1);
  EXPECT_EQ(light->findFaces(0, empty, faces), -1);
  std::vector<rotrect> rotated;
  cv::Mat image(10, 10, CV_8UC3);
  EXPECT_EQ(full->findFaces(0, image, rotated), -12);
  cv::Mat grey(10, 10, CV_8UC1);
  EXPECT_THROW(light->findFaces(0, grey, faces), dlib::fatal_error);
}

// --- Networks ------------------------------------------------------------------

TEST_F(CnnConfidence, MissingNetworkThrowsAndCachesNothing) {
  GlobalFree();
  g_config.dlib_dnet = testing_support::scratchPath("no_such_net.dat");
  dlib::matrix<dlib::rgb_pixel> image(20, 20);
  std::vector<cv::Rect> faces = {cv::Rect(1, 1, 1, 1)};
  const size_t registered = g_releases.size();
  EXPECT_THROW(DlibCNNLightExtractFaceInfo(image, faces), dlib::serialization_error);
  EXPECT_THROW(DlibCNNExtractFaceInfo(image, faces), dlib::serialization_error);
  EXPECT_EQ(faces.size(), 1u);
  EXPECT_EQ(g_releases.size(), registered);
}

TEST(CnnFinders, FullAndLightFindTheFacesOfAGroup) {
  GlobalFree();
  const size_t registered = g_releases.size();
  cv::Mat image = photo("faces/2008_001322.jpg");  // three faces, 63 to 90 pixels
  const std::vector<cv::Rect> truth = {{104, 162, 76, 76}, {232, 218, 63, 63}, {344, 155, 90, 90}};
  for (bool light : {false, true}) {
    std::unique_ptr<FindFaceAlgo> finder(newCnnFinder(light));
    std::vector<cv::Rect> faces;
    ASSERT_EQ(finder->findFaces(0, image, faces), 0) << light;
    int matched = 0;
    for (const cv::Rect& t : truth) {
      for (const cv::Rect& f : faces) matched += iou(t, f) >= 0.4 ? 1 : 0;
    }
    EXPECT_GE(matched, 2) << (light ? "light" : "full");
  }
  // Each network type has its own cache: two loads, two registrations.
  EXPECT_EQ(g_releases.size(), registered + 2);
}

TEST(CnnFinders, NoFaceClearsTheList) {
  cv::Mat image = photo("misc/dogs.jpg");
  cv::Mat small;
  cv::resize(image, small, cv::Size(), 0.5, 0.5);
  std::vector<cv::Rect> faces = {cv::Rect(1, 2, 3, 4)};
  CnnLightFindFaceAlgo light;
  EXPECT_EQ(light.findFaces(0, small, faces), -4);
  EXPECT_TRUE(faces.empty());
}

TEST(CnnFinders, TinyImagesHoldNoFace) {
  // The networks' first filters need more rows and columns than these
  // have; the answer is "no face", not dlib's fatal error (a second one of
  // which would end the process).
  CnnFindFaceAlgo full;
  CnnLightFindFaceAlgo light;
  CnnLightConfirmer confirmer(0);  // no scaling: the crop stays tiny
  for (const cv::Size size : {cv::Size(1, 1), cv::Size(9, 9), cv::Size(800, 5), cv::Size(5, 800),
                              cv::Size(15, 15)}) {
    cv::Mat image(size, CV_8UC3, cv::Scalar(90, 120, 150));
    std::vector<cv::Rect> faces = {cv::Rect(1, 1, 1, 1)};
    EXPECT_EQ(full.findFaces(0, image, faces), -4) << size;
    EXPECT_EQ(light.findFaces(0, image, faces), -4) << size;
    EXPECT_TRUE(faces.empty());
    cv::Rect candidate(0, 0, size.width, size.height);
    EXPECT_EQ(confirmer.confirmFace(candidate, image, candidate), -4) << size;
  }
}

// --- HOG ---------------------------------------------------------------------------

TEST(HogFinder, FindsTwoFacesAndReplacesTheList) {
  DlibFindFaceAlgo hog;
  EXPECT_STREQ(hog.getName(), "Dlib");
  cv::Mat image = photo("faces/two_people.jpg");
  std::vector<cv::Rect> faces(5, cv::Rect(1, 1, 1, 1));
  ASSERT_EQ(hog.findFaces(0, image, faces), 0);
  EXPECT_EQ(faces.size(), 2u);
  for (const cv::Rect& f : faces) {
    EXPECT_GT(f.width, 60);
    EXPECT_NEAR(f.width, f.height, 2);  // the HOG model's windows are about square
  }
}

TEST(HogFinder, NoFaceLeavesTheListAlone) {
  DlibFindFaceAlgo hog;
  cv::Mat image = photo("misc/dogs.jpg");
  std::vector<cv::Rect> faces = {cv::Rect(1, 2, 3, 4)};
  EXPECT_EQ(hog.findFaces(0, image, faces), -4);
  ASSERT_EQ(faces.size(), 1u);
  EXPECT_EQ(faces[0], cv::Rect(1, 2, 3, 4));
}

TEST(HogFinder, RejectsEmptyAndGreyImages) {
  DlibFindFaceAlgo hog;
  cv::Mat empty;
  std::vector<cv::Rect> faces;
  EXPECT_EQ(hog.findFaces(0, empty, faces), -1);
  cv::Mat grey(50, 50, CV_8UC1, cv::Scalar(0));
  EXPECT_THROW(hog.findFaces(0, grey, faces), dlib::fatal_error);
  std::vector<rotrect> rotated(2);
  EXPECT_EQ(hog.findFaces(0, grey, rotated), -12);
  EXPECT_EQ(rotated.size(), 2u);
}

TEST(HogFinder, TinyImagesHoldNoFace) {
  DlibFindFaceAlgo hog;
  PicoFindFaceAlgo pico;
  for (const cv::Size size : {cv::Size(1, 1), cv::Size(800, 3), cv::Size(3, 800)}) {
    cv::Mat image(size, CV_8UC3, cv::Scalar(90, 120, 150));
    std::vector<cv::Rect> faces;
    EXPECT_EQ(hog.findFaces(0, image, faces), -4) << size;
    EXPECT_EQ(pico.findFaces(0, image, faces), -4) << size;
  }
}

// --- Confirmer ---------------------------------------------------------------------

TEST(Confirmer, ScalesOnlyWhenFarFromTarget) {
  EXPECT_EQ(morvik::confirmScaleFactor(97, 95), 0.0);
  EXPECT_EQ(morvik::confirmScaleFactor(98, 95), 0.0);
  EXPECT_DOUBLE_EQ(morvik::confirmScaleFactor(99, 95), 95.0 / 99);
  EXPECT_DOUBLE_EQ(morvik::confirmScaleFactor(91, 95), 95.0 / 91);
  EXPECT_EQ(morvik::confirmScaleFactor(40, 0), 0.0);
  EXPECT_EQ(morvik::confirmScaleFactor(40, -10), 0.0);
}

TEST(Confirmer, RefusesDegenerateInput) {
  CnnLightConfirmer confirmer(95);
  cv::Mat crop(50, 50, CV_8UC3, cv::Scalar(0, 0, 0));
  cv::Rect result(9, 9, 9, 9);
  EXPECT_EQ(confirmer.confirmFace(cv::Rect(0, 0, 0, 10), crop, result), -1);
  EXPECT_EQ(confirmer.confirmFace(cv::Rect(0, 0, -20, 10), crop, result), -1);
  EXPECT_EQ(confirmer.confirmFace(cv::Rect(0, 0, 10, 10), cv::Mat(), result), -1);
  EXPECT_EQ(result, cv::Rect(9, 9, 9, 9));
  cv::Mat grey(50, 50, CV_8UC1);
  EXPECT_THROW(confirmer.confirmFace(cv::Rect(0, 0, 95, 10), grey, result), dlib::fatal_error);
}

TEST(Confirmer, ChoosesTheDetectionNearestTheCandidate) {
  const auto& faces = twoPeopleFaces();
  ASSERT_EQ(faces.size(), 2u);
  cv::Mat image = photo("faces/two_people.jpg");
  CnnLightConfirmer confirmer(82);
  for (const cv::Rect& face : faces) {
    // The whole photograph as the crop: both faces are in it, the candidate
    // decides which one is returned, and the result comes back in the
    // photograph's pixels.
    cv::Rect result = face;
    ASSERT_EQ(confirmer.confirmFace(result, image, result), 0);
    EXPECT_GT(iou(result, face), 0.4) << face << " " << result;
  }
}

TEST(Confirmer, RejectsACropWithoutFace) {
  cv::Mat image = photo("misc/dogs.jpg");
  CnnLightConfirmer confirmer(95);
  cv::Rect result(3, 3, 3, 3);
  cv::Rect candidate(image.cols / 4, image.rows / 4, image.cols / 4, image.cols / 4);
  EXPECT_EQ(confirmer.confirmFace(candidate, image, result), -4);
  EXPECT_EQ(result, cv::Rect(3, 3, 3, 3));
}
