// The HOG scan's features are dlib's extract_fhog_features to the bit, for
// the scanner's configuration and others, on images of every size down to
// ones with no cells, with either kernel.
#include <cstring>
#include <string>

#include <dlib/image_transforms.h>
#include <dlib/opencv/cv_image.h>
#include <gtest/gtest.h>

#include "engine/hog/hog_features.h"
#include "engine/hog/hog_test_images.h"
#include "support/test_support.h"

namespace {

struct Config {
  int cell_size, rows_padding, cols_padding;
};

// The scanner's (cells of 8, a 10 x 10 filter), then others.
const Config kConfigs[] = {{8, 10, 10}, {8, 1, 1}, {4, 6, 9}, {3, 3, 2}, {2, 1, 4}};

void expectDlibsFeatures(const cv::Mat& bgr, const Config& config, morvik::HogIsa isa) {
  const dlib::cv_image<dlib::bgr_pixel> view(bgr);
  dlib::array<dlib::array2d<float>> expected;
  dlib::extract_fhog_features(view, expected, config.cell_size, config.rows_padding, config.cols_padding);
  morvik::ColorLevel level;
  morvik::levelFromImage(view, level);
  morvik::HogPlanes hog;
  // Planes that held another image's features before.
  morvik::extractFhog(level, config.cell_size, config.rows_padding + 3, config.cols_padding, hog, isa);
  morvik::extractFhog(level, config.cell_size, config.rows_padding, config.cols_padding, hog, isa);

  const std::string name = std::to_string(bgr.cols) + "x" + std::to_string(bgr.rows) + ", cells of " +
                           std::to_string(config.cell_size) + ", padding " + std::to_string(config.rows_padding) +
                           "x" + std::to_string(config.cols_padding) + ", " + hog_testing::isaName(isa);
  ASSERT_EQ(expected.size(), size_t(morvik::kHogPlanes)) << name;
  for (int p = 0; p < morvik::kHogPlanes; ++p) {
    ASSERT_EQ(expected[p].nr(), hog.nr) << name;
    ASSERT_EQ(expected[p].nc(), hog.nc) << name;
    for (long r = 0; r < hog.nr; ++r) {
      const float* ours = hog.plane(p) + r * hog.stride;
      ASSERT_EQ(0, std::memcmp(&expected[p][r][0], ours, sizeof(float) * hog.nc))
          << name << ": plane " << p << " row " << r;
    }
  }
}

TEST(HogFeatures, FeaturesOfPhotosAreDlibs) {
  const cv::Mat photo = testing_support::photo("faces/2008_001322.jpg");
  ASSERT_FALSE(photo.empty());
  const cv::Mat upsampled = hog_testing::pyramidUp(photo);
  cv::Mat working;
  cv::resize(photo, working, cv::Size(800, 600), 0, 0, cv::INTER_LINEAR);
  for (morvik::HogIsa isa : hog_testing::runnableIsas()) {
    for (const Config& config : kConfigs) {
      expectDlibsFeatures(photo, config, isa);
      expectDlibsFeatures(working, config, isa);
    }
    expectDlibsFeatures(upsampled, kConfigs[0], isa);
  }
}

TEST(HogFeatures, FeaturesOfSyntheticImagesAreDlibs) {
  // Noise has many pixels whose colour channels are equally strong, and
  // rows whose last pixels dlib takes one at a time; the smallest images
  // have no cells or fewer than three.
  const int shapes[][2] = {{1, 1}, {3, 5}, {16, 16}, {20, 27}, {24, 24}, {31, 47}, {64, 64}, {101, 333}, {375, 500}};
  uint64_t seed = 21;
  for (const auto& s : shapes) {
    const cv::Mat noise = hog_testing::noiseImage(s[0], s[1], seed++);
    const cv::Mat blobs = hog_testing::blobImage(s[0], s[1], seed++);
    for (morvik::HogIsa isa : hog_testing::runnableIsas()) {
      for (const Config& config : kConfigs) {
        expectDlibsFeatures(noise, config, isa);
        expectDlibsFeatures(blobs, config, isa);
      }
    }
  }
}

}  // namespace
