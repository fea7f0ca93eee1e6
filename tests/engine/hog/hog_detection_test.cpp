// The HOG detector with the own scan must return what dlib's own detector
// returns: the same rectangles in the same order, for photos at several
// sizes, for synthetic images, for any thread count and threshold, and
// for detectors the scan leaves to dlib's scanner.
#include <algorithm>
#include <string>
#include <vector>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "engine/hog/hog_detection.h"
#include "engine/hog/hog_test_images.h"
#include "face/frontal_faces_model.h"
#include "support/test_support.h"

namespace {

// Below 0 many overlapping candidates compete in the merge.
const double kAdjustments[] = {0.0, -0.6, 0.4, -1.0};

// Every threshold and thread count, against detector(image, adjust); the
// number of boxes dlib found at the lowest threshold.
size_t expectDlibsBoxes(morvik::HogDetector& detector, const cv::Mat& image, const std::string& name) {
  const dlib::cv_image<dlib::bgr_pixel> view(image);
  size_t most = 0;
  for (double adjust : kAdjustments) {
    const std::vector<dlib::rectangle> expected = detector(view, adjust);
    most = std::max(most, expected.size());
    for (int threads : {1, 2, 5}) {
      EXPECT_EQ(expected, morvik::detectHog(detector, view, adjust, threads))
          << name << ", threshold adjustment " << adjust << ", " << threads << " threads";
    }
    // With their values: those of dlib's rect_detection overload.
    std::vector<dlib::rect_detection> scored;
    detector(view, scored, adjust);
    const std::vector<dlib::rect_detection> own = morvik::detectHogScored(detector, view, adjust, 2);
    EXPECT_EQ(own.size(), scored.size()) << name;
    for (size_t i = 0; i < own.size() && i < scored.size(); ++i) {
      EXPECT_EQ(own[i].rect, scored[i].rect) << name;
      EXPECT_NEAR(own[i].detection_confidence, scored[i].detection_confidence, 1e-5) << name;
    }
  }
  return most;
}

cv::Mat resized(const cv::Mat& image, double scale) {
  cv::Mat out;
  cv::resize(image, out, cv::Size(), scale, scale, cv::INTER_LINEAR);
  return out;
}

class HogDetection : public ::testing::TestWithParam<std::string> {};

TEST_P(HogDetection, SameRectanglesAsDlibsDetector) {
  const cv::Mat image = testing_support::photo(GetParam());
  ASSERT_FALSE(image.empty());
  dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
  // The size the finders work at, and the photo's own.
  expectDlibsBoxes(detector, resized(image, 800.0 / std::max(image.cols, image.rows)), GetParam() + " at 800");
  expectDlibsBoxes(detector, image, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Photos, HogDetection,
                         ::testing::Values("faces/bald_guys.jpg", "faces/2008_001322.jpg", "misc/dogs.jpg",
                                           "people/obama/obama2.jpg"));

TEST(HogDetectionSizes, SameRectanglesOnAnUpsampledPhoto) {
  const cv::Mat photo = testing_support::photo("faces/2008_001322.jpg");
  ASSERT_FALSE(photo.empty());
  dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
  EXPECT_GT(expectDlibsBoxes(detector, hog_testing::pyramidUp(photo), "upsampled 2008_001322"), 0u);
  expectDlibsBoxes(detector, resized(photo, 0.37), "2008_001322 at 0.37");
}

TEST(HogDetectionSizes, SameRectanglesOnSyntheticImages) {
  dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
  size_t candidates = 0;
  for (uint64_t seed = 1; seed <= 6; ++seed) {
    const int rows = 200 + 53 * int(seed), cols = 260 + 71 * int(seed);
    expectDlibsBoxes(detector, hog_testing::noiseImage(rows, cols, seed), "noise " + std::to_string(seed));
    candidates += expectDlibsBoxes(detector, hog_testing::blobImage(rows, cols, seed), "blobs " + std::to_string(seed));
  }
  // The blobs give windows near the threshold: some pass the lowest one.
  EXPECT_GT(candidates, 0u);
  // Images with too few cells for one window, or for any features.
  for (const auto& shape : {cv::Size(1, 1), cv::Size(15, 9), cv::Size(79, 81), cv::Size(400, 30)})
    expectDlibsBoxes(detector, hog_testing::noiseImage(shape.height, shape.width, 3), "small noise");
}

TEST(HogDetectionSizes, DetectorsLeftToDlibsScannerGiveItsRectangles) {
  // Filters of full rank, which dlib slides whole, and separable ones.
  for (int rank : {1, 7}) {
    morvik::HogScanner scanner;
    scanner.set_detection_window_size(64, 64);
    scanner.set_padding(1);
    const long n = scanner.get_num_dimensions();
    const long rows = scanner.get_fhog_window_height(), cols = scanner.get_fhog_window_width();
    dlib::rand rnd(rank);
    dlib::matrix<double, 0, 1> w(n + 1);
    w = 0;
    for (long p = 0; p < 31; ++p)
      for (int k = 0; k < rank; ++k) {
        std::vector<double> u(rows), v(cols);
        for (double& x : u) x = rnd.get_random_gaussian();
        for (double& x : v) x = rnd.get_random_gaussian();
        for (long i = 0; i < rows; ++i)
          for (long j = 0; j < cols; ++j) w(p * rows * cols + i * cols + j) += 0.02 * u[i] * v[j];
      }
    w(n) = 0.5;
    morvik::HogDetector detector(scanner, dlib::test_box_overlap(), w);
    expectDlibsBoxes(detector, hog_testing::blobImage(240, 320, 9 + rank), "rank " + std::to_string(rank));
  }
}

// The finder loads the model decompressed at build time: it must be the one
// this dlib decompresses.
TEST(FrontalFacesModel, IsDlibsBuiltInModel) {
  const std::string dlibs = dlib::get_serialized_frontal_faces();
  ASSERT_EQ(dlibs.size(), morvik::kFrontalFacesModelSize);
  EXPECT_EQ(0, dlibs.compare(0, dlibs.size(), reinterpret_cast<const char*>(morvik::kFrontalFacesModel),
                             morvik::kFrontalFacesModelSize));
}

}  // namespace
