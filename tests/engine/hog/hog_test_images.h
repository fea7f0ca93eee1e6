// Images for the HOG scan's tests: seeded noise, and noise over smooth
// face-like blobs, on which many windows score near the detector's
// threshold.
#ifndef MORVIK_TESTS_HOG_TEST_IMAGES_H_
#define MORVIK_TESTS_HOG_TEST_IMAGES_H_

#include <vector>

#include <dlib/image_transforms.h>
#include <dlib/opencv/cv_image.h>
#include <dlib/opencv/to_open_cv.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/hog/hog_isa.h"

namespace hog_testing {

inline cv::Mat noiseImage(int rows, int cols, uint64_t seed) {
  cv::Mat image(rows, cols, CV_8UC3);
  cv::RNG rng(seed);
  rng.fill(image, cv::RNG::UNIFORM, 0, 256);
  return image;
}

// Soft ellipses with two dark eyes and a mouth, blurred, under light noise.
inline cv::Mat blobImage(int rows, int cols, uint64_t seed) {
  cv::RNG rng(seed);
  cv::Mat image(rows, cols, CV_8UC3, cv::Scalar(rng.uniform(60, 200), rng.uniform(60, 200), rng.uniform(60, 200)));
  const int blobs = 3 + rows * cols / 40000;
  for (int i = 0; i < blobs; ++i) {
    const int size = rng.uniform(40, std::max(41, std::min(rows, cols) / 2));
    const cv::Point c(rng.uniform(0, cols), rng.uniform(0, rows));
    const cv::Scalar skin(rng.uniform(90, 180), rng.uniform(120, 200), rng.uniform(160, 255));
    cv::ellipse(image, c, cv::Size(size * 2 / 5, size / 2), rng.uniform(-15.0, 15.0), 0, 360, skin, cv::FILLED);
    const cv::Scalar dark(rng.uniform(0, 60), rng.uniform(0, 60), rng.uniform(0, 60));
    cv::circle(image, c + cv::Point(-size / 6, -size / 8), size / 14 + 1, dark, cv::FILLED);
    cv::circle(image, c + cv::Point(size / 6, -size / 8), size / 14 + 1, dark, cv::FILLED);
    cv::line(image, c + cv::Point(-size / 8, size / 5), c + cv::Point(size / 8, size / 5), dark, size / 20 + 1);
  }
  cv::GaussianBlur(image, image, cv::Size(0, 0), 2.5);
  cv::Mat noise(rows, cols, CV_8UC3);
  cv::RNG(seed + 1).fill(noise, cv::RNG::NORMAL, 0, 6);
  cv::add(image, noise, image);
  return image;
}

// The image upsampled as dlib's examples do before detecting.
inline cv::Mat pyramidUp(const cv::Mat& bgr) {
  dlib::array2d<dlib::bgr_pixel> up;
  dlib::assign_image(up, dlib::cv_image<dlib::bgr_pixel>(bgr));
  dlib::pyramid_up(up);
  return dlib::toMat(up).clone();
}

// The kernels this machine can run: the portable ones always.
inline std::vector<morvik::HogIsa> runnableIsas() {
  std::vector<morvik::HogIsa> isas{morvik::HogIsa::kPortable};
  if (morvik::bestHogIsa() == morvik::HogIsa::kAvx2) isas.push_back(morvik::HogIsa::kAvx2);
  return isas;
}

inline const char* isaName(morvik::HogIsa isa) { return isa == morvik::HogIsa::kAvx2 ? "avx2" : "portable"; }

}  // namespace hog_testing

#endif  // MORVIK_TESTS_HOG_TEST_IMAGES_H_
