// The HOG scan's pyramid levels hold dlib's pyramid_down<6> bytes, for
// photos, noise and shapes down to a pixel, with either kernel.
#include <string>

#include <dlib/image_transforms.h>
#include <dlib/opencv/cv_image.h>
#include <gtest/gtest.h>

#include "engine/hog/hog_pyramid.h"
#include "engine/hog/hog_test_images.h"
#include "support/test_support.h"

namespace {

using morvik::ColorLevel;

// Pixels where level differs from dlib's image; the first one in `where`.
long mismatches(const ColorLevel& level, const dlib::array2d<dlib::bgr_pixel>& dlibs, std::string& where) {
  long bad = 0;
  for (long r = 0; r < dlibs.nr(); ++r) {
    for (long c = 0; c < dlibs.nc(); ++c) {
      const dlib::bgr_pixel& p = dlibs[r][c];
      const long o = r * level.stride + c;
      if (p.red == level.plane(0)[o] && p.green == level.plane(1)[o] && p.blue == level.plane(2)[o]) continue;
      if (bad++ == 0) where = "row " + std::to_string(r) + " column " + std::to_string(c);
    }
  }
  return bad;
}

void expectDlibsLevels(const cv::Mat& bgr, morvik::HogIsa isa, int levels) {
  const dlib::cv_image<dlib::bgr_pixel> view(bgr);
  dlib::array2d<dlib::bgr_pixel> expected, next;
  dlib::assign_image(expected, view);
  ColorLevel level, down;
  morvik::levelFromImage(view, level);
  dlib::pyramid_down<6> pyr;
  for (int l = 0; l <= levels; ++l) {
    const std::string name = std::to_string(bgr.cols) + "x" + std::to_string(bgr.rows) + " level " +
                             std::to_string(l) + " " + hog_testing::isaName(isa);
    ASSERT_EQ(expected.nr(), level.nr) << name;
    ASSERT_EQ(expected.nc(), level.nc) << name;
    std::string where;
    EXPECT_EQ(0, mismatches(level, expected, where)) << name << ", first at " << where;
    if (expected.size() == 0) return;
    pyr(expected, next);
    dlib::swap(expected, next);
    morvik::pyramidDown(level, down, isa);
    std::swap(level, down);
  }
}

TEST(HogPyramid, LevelsOfPhotosAreDlibs) {
  const cv::Mat photo = testing_support::photo("faces/2008_001322.jpg");
  ASSERT_FALSE(photo.empty());
  // The photo as the detector gets it with dlib's pyramid_up.
  const cv::Mat upsampled = hog_testing::pyramidUp(photo);
  for (morvik::HogIsa isa : hog_testing::runnableIsas()) {
    expectDlibsLevels(photo, isa, 12);
    expectDlibsLevels(upsampled, isa, 15);
  }
}

TEST(HogPyramid, LevelsOfNoiseOfAnyShapeAreDlibs) {
  const int shapes[][2] = {{1, 1}, {2, 3}, {5, 7}, {64, 13}, {13, 64}, {97, 333}, {480, 641}};
  uint64_t seed = 11;
  for (const auto& s : shapes) {
    const cv::Mat image = hog_testing::noiseImage(s[0], s[1], seed++);
    for (morvik::HogIsa isa : hog_testing::runnableIsas()) expectDlibsLevels(image, isa, 8);
  }
}

}  // namespace
