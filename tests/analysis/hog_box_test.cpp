// The HOG finder's box near another finder's box: exactly the finder's own
// box where the neighbourhood gives way to the whole photo, a box of the
// same face from a local search in a large photo, nothing where the finder
// sees no face or the box is unusable.
#include <algorithm>
#include <cstdint>
#include <vector>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "analysis/hog_box.h"
#include "support/test_support.h"

namespace {

using testing_support::overlap;

cv::Rect toCv(const dlib::rectangle& r) {
  return cv::Rect(static_cast<int>(r.left()), static_cast<int>(r.top()), static_cast<int>(r.width()),
                  static_cast<int>(r.height()));
}

// A box such as another finder draws: taller than the HOG box, with the
// forehead and chin, and moved by a tenth of its side.
cv::Rect otherFindersBox(const cv::Rect& hog) {
  return cv::Rect(hog.x + hog.width / 10, hog.y - hog.height / 6, hog.width, hog.height * 4 / 3);
}

std::vector<dlib::rectangle> hogFaces(const cv::Mat& image) {
  dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
  return detector(dlib::cv_image<dlib::bgr_pixel>(image));
}

// A photo of one face, and the HOG finder's box of it.
struct OneFace {
  cv::Mat photo;
  cv::Rect face;
};

OneFace oneFace() {
  OneFace one{testing_support::photo("people/obama/obama2.jpg"), cv::Rect()};
  if (one.photo.empty()) return one;
  const std::vector<dlib::rectangle> whole = hogFaces(one.photo);
  if (!whole.empty()) one.face = toCv(whole.front());
  return one;
}

TEST(HogBoxNear, AFaceFillingThePhotoGetsTheFindersOwnBox) {
  const OneFace one = oneFace();
  ASSERT_FALSE(one.face.empty());
  const cv::Mat portrait = testing_support::portraitAround(one.photo, one.face);
  const std::vector<dlib::rectangle> own = hogFaces(portrait);
  ASSERT_EQ(1u, own.size());
  cv::Rect found;
  ASSERT_TRUE(morvik::hogBoxNear(portrait, otherFindersBox(toCv(own.front())), found));
  EXPECT_EQ(toCv(own.front()), found);
}

TEST(HogBoxNear, FacesOfALargerPhotoGetABoxOfTheSameFace) {
  const cv::Mat photo = testing_support::photo("faces/bald_guys.jpg");
  ASSERT_FALSE(photo.empty());
  const std::vector<dlib::rectangle> whole = hogFaces(photo);
  ASSERT_GE(whole.size(), 3u);
  for (const dlib::rectangle& r : whole) {
    const cv::Rect hog = toCv(r);
    cv::Rect found;
    ASSERT_TRUE(morvik::hogBoxNear(photo, otherFindersBox(hog), found)) << hog;
    EXPECT_GT(overlap(found, hog), 0.6) << hog << " " << found;
  }
}

TEST(HogBoxNear, NoBoxWhereTheFinderSeesNoFace) {
  const OneFace one = oneFace();
  ASSERT_FALSE(one.face.empty());
  cv::Mat upside_down;
  cv::flip(one.photo, upside_down, 0);
  const cv::Rect flipped(one.face.x, one.photo.rows - one.face.y - one.face.height, one.face.width, one.face.height);
  cv::Rect found(1, 2, 3, 4);
  EXPECT_FALSE(morvik::hogBoxNear(upside_down, flipped, found));
  const cv::Mat grey(600, 800, CV_8UC3, cv::Scalar(128, 128, 128));
  EXPECT_FALSE(morvik::hogBoxNear(grey, cv::Rect(300, 200, 120, 120), found));
  EXPECT_EQ(cv::Rect(1, 2, 3, 4), found);  // untouched when false
}

TEST(HogBoxNear, UnusableImagesAndBoxesGiveNoBox) {
  const cv::Mat photo = testing_support::photo("people/obama/obama2.jpg");
  ASSERT_FALSE(photo.empty());
  cv::Rect found;
  EXPECT_FALSE(morvik::hogBoxNear(cv::Mat(), cv::Rect(0, 0, 10, 10), found));
  cv::Mat grey;
  cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
  EXPECT_FALSE(morvik::hogBoxNear(grey, cv::Rect(0, 0, 100, 100), found));
  const cv::Mat strip(1, 5000, CV_8UC3, cv::Scalar(9, 9, 9));
  EXPECT_FALSE(morvik::hogBoxNear(strip, cv::Rect(0, 0, 1, 1), found));
  EXPECT_FALSE(morvik::hogBoxNear(strip, cv::Rect(100, 0, 4000, 1), found));
  for (const cv::Rect& box : {cv::Rect(0, 0, 0, 10), cv::Rect(5, 5, -3, 10), cv::Rect(-5000, -5000, 10, 10),
                              cv::Rect(photo.cols + 10, 0, 50, 50), cv::Rect(0, 0, 1, 1),
                              cv::Rect(INT32_MAX - 20, INT32_MAX - 20, 20, 20),
                              cv::Rect(INT32_MIN + 1, INT32_MIN + 1, INT32_MAX, INT32_MAX)}) {
    EXPECT_NO_THROW(morvik::hogBoxNear(photo, box, found)) << box;
  }
  // A box far larger than the photo searches the photo, reduced.
  EXPECT_NO_THROW(morvik::hogBoxNear(photo, cv::Rect(-100000, -100000, 200000, 200000), found));
}

}  // namespace
