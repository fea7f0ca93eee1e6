// The HOG detector with its filters on several threads must return what
// dlib's own detector returns: the same rectangles in the same order, for
// any thread count and threshold.
#include <algorithm>
#include <string>
#include <vector>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "face/frontal_faces_model.h"
#include "engine/hog_detection.h"
#include "support/test_support.h"

namespace {

class HogDetection : public ::testing::TestWithParam<std::string> {};

TEST_P(HogDetection, SameRectanglesAsDlibsDetector) {
  cv::Mat image = testing_support::photo(GetParam());
  ASSERT_FALSE(image.empty());
  // The size the finders work at.
  const double scale = 800.0 / std::max(image.cols, image.rows);
  cv::resize(image, image, cv::Size(), scale, scale, cv::INTER_LINEAR);
  dlib::cv_image<dlib::bgr_pixel> view(image);
  dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
  // Below 0 many overlapping candidates compete in the merge.
  for (double adjust : {0.0, -0.6, 0.4}) {
    const std::vector<dlib::rectangle> expected = detector(view, adjust);
    for (int threads : {1, 2, 5}) {
      EXPECT_EQ(expected, morvik::detectHog(detector, view, adjust, threads))
          << "threshold adjustment " << adjust << ", " << threads << " threads";
    }
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

INSTANTIATE_TEST_SUITE_P(Photos, HogDetection,
                         ::testing::Values("faces/bald_guys.jpg", "faces/2008_001322.jpg", "misc/dogs.jpg",
                                           "people/obama/obama2.jpg"));

}  // namespace
