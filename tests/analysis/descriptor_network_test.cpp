// The descriptor network against dlib's own network with the same model:
// on every face of the test photographs the 128 values agree within 1e-5,
// and every pair of faces gets the same same-person decision at a distance
// that agrees within 1e-5.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include <dlib/dnn.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "support/plain_dlib_net.h"
#include "support/test_support.h"

namespace {

using namespace dlib;

using ReferenceNet = plain_dlib::DescriptorNet;

constexpr double kSamePerson = 0.6;
constexpr float kTolerance = 1e-5f;

struct Face {
  std::string where;
  std::vector<float> ours, reference;
};

// Every face dlib's HOG detector sees in the photo (on a copy of at most
// 800 pixels a side), cut out of the photo with a margin.
std::vector<cv::Mat> faceImages(const cv::Mat& image) {
  const double scale = std::min(1.0, 800.0 / std::max(image.cols, image.rows));
  cv::Mat small;
  cv::resize(image, small, cv::Size(), scale, scale, cv::INTER_AREA);
  frontal_face_detector detector = get_frontal_face_detector();
  cv_image<bgr_pixel> view(small);
  std::vector<cv::Mat> faces;
  for (const rectangle& r : detector(view)) {
    const int margin = static_cast<int>(r.width() / scale / 4);
    cv::Rect box(static_cast<int>(r.left() / scale) - margin, static_cast<int>(r.top() / scale) - margin,
                 static_cast<int>(r.width() / scale) + 2 * margin, static_cast<int>(r.height() / scale) + 2 * margin);
    box &= cv::Rect(0, 0, image.cols, image.rows);
    if (box.area() > 0) faces.push_back(image(box).clone());
  }
  return faces;
}

// dlib's network on the chip the library cuts from the same landmarks.
std::vector<float> referenceDescriptor(ReferenceNet& net, const cv::Mat& face) {
  cv_image<bgr_pixel> view(face);
  rectangle whole(0, 0, face.cols, face.rows);
  const full_object_detection shape = dlib_get_shape(view, whole);
  matrix<rgb_pixel> chip;
  extract_image_chip(view, get_face_chip_details(shape, 150, 0.25), chip);
  const matrix<float, 0, 1> out = net(chip);
  return std::vector<float>(out.begin(), out.end());
}

double distance(const std::vector<float>& a, const std::vector<float>& b) {
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) sum += (double{a[i]} - b[i]) * (double{a[i]} - b[i]);
  return std::sqrt(sum);
}

class DescriptorNetwork : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    faces_ = new std::vector<Face>;
    ReferenceNet net;
    deserialize(g_config.dlib_anet) >> net;
    for (const char* file : {"faces/2007_007763.jpg", "faces/2008_001009.jpg", "faces/2008_001322.jpg",
                             "faces/2008_002079.jpg", "faces/Tom_Cruise_avp_2014_4.jpg", "faces/bald_guys.jpg",
                             "faces/two_people.jpg", "people/obama/obama.jpg", "people/obama/obama2.jpg",
                             "people/obama/obama3.jpg", "people/biden/biden.jpg", "people/biden/biden2.jpg",
                             "misc/obama_partial_face.jpg"}) {
      const std::vector<cv::Mat> images = faceImages(testing_support::photo(file));
      for (size_t i = 0; i < images.size(); ++i) {
        Face face{std::string(file) + " face " + std::to_string(i), {}, {}};
        if (DlibExtractFaceVector(images[i], face.ours) != 0) continue;
        face.reference = referenceDescriptor(net, images[i]);
        faces_->push_back(std::move(face));
      }
    }
  }
  static void TearDownTestSuite() {
    delete faces_;
    faces_ = nullptr;
  }
  static std::vector<Face>* faces_;
};

std::vector<Face>* DescriptorNetwork::faces_ = nullptr;

TEST_F(DescriptorNetwork, ValuesAgreeWithDlibsOnEveryFace) {
  ASSERT_GE(faces_->size(), 30u) << "fewer faces than the photos hold";
  float largest = 0.0f;
  for (const Face& face : *faces_) {
    ASSERT_EQ(128u, face.ours.size()) << face.where;
    ASSERT_EQ(128u, face.reference.size()) << face.where;
    for (size_t i = 0; i < 128; ++i) {
      const float d = std::abs(face.ours[i] - face.reference[i]);
      largest = std::max(largest, d);
      EXPECT_LE(d, kTolerance) << face.where << ", value " << i;
    }
  }
  std::cout << "largest difference from dlib's values over " << faces_->size() << " faces: " << largest << "\n";
}

TEST_F(DescriptorNetwork, EveryPairGetsDlibsDistanceAndDecision) {
  double largest = 0.0;
  for (size_t a = 0; a < faces_->size(); ++a) {
    for (size_t b = a + 1; b < faces_->size(); ++b) {
      const Face& fa = (*faces_)[a];
      const Face& fb = (*faces_)[b];
      const double ours = distance(fa.ours, fb.ours);
      const double reference = distance(fa.reference, fb.reference);
      largest = std::max(largest, std::abs(ours - reference));
      EXPECT_NEAR(reference, ours, kTolerance) << fa.where << " / " << fb.where;
      EXPECT_EQ(reference < kSamePerson, ours < kSamePerson) << fa.where << " / " << fb.where;
    }
  }
  std::cout << "largest distance difference from dlib's: " << largest << "\n";
}

}  // namespace
