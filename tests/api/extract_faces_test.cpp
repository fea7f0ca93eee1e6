// ExtractFaces end to end with the installed models.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "morvik/findface.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using testing_support::photo;
using testing_support::testdata;

constexpr auto kLbp = mv::FindLBP;
constexpr auto kHaar = mv::FindHaar;
constexpr auto kBoth = static_cast<mv::FindFaceAlgoType>(mv::FindLBP | mv::FindHaar);

std::vector<mv::Face> extract(const cv::Mat& image, mv::FindFaceAlgoType algo, int* rc_out = nullptr,
                              size_t capacity = 64) {
  std::vector<mv::Face> faces(capacity == 0 ? 256 : capacity);
  size_t n = capacity;
  const int rc = ExtractFaces(&image, faces.data(), &n, algo);
  if (rc_out) *rc_out = rc;
  faces.resize(rc == 0 ? n : 0);
  return faces;
}

bool inside(const mv::Point& p, const mv::Rectangle& r) {
  return p.x >= r.x && p.x <= r.x + r.w && p.y >= r.y && p.y <= r.y + r.h;
}

void expectWellFormed(const std::vector<mv::Face>& faces, const cv::Mat& image) {
  for (size_t i = 0; i < faces.size(); ++i) {
    const mv::Face& f = faces[i];
    EXPECT_GT(f.rect.w, 0);
    EXPECT_TRUE(inside(f.left_eye, f.rect)) << i;
    EXPECT_TRUE(inside(f.right_eye, f.rect)) << i;
    EXPECT_LT(f.left_eye.x, f.right_eye.x) << i;
    EXPECT_TRUE(cv::Rect(0, 0, image.cols, image.rows).contains(cv::Point(f.left_eye.x, f.left_eye.y))) << i;
    EXPECT_EQ(f.angle, 0.0);
    if (i > 0) EXPECT_GE(faces[i - 1].rect.w * faces[i - 1].rect.h, f.rect.w * f.rect.h);
  }
}

TEST(ExtractFacesArgs, NullPointersWriteNothing) {
  const cv::Mat image = photo("faces/two_people.jpg");
  mv::Face faces[4];
  size_t n = 4;
  EXPECT_EQ(ExtractFaces(nullptr, faces, &n, kLbp), -1);
  EXPECT_EQ(ExtractFaces(&image, nullptr, &n, kLbp), -1);
  EXPECT_EQ(ExtractFaces(&image, faces, nullptr, kLbp), -1);
  EXPECT_EQ(n, 4u);
}

TEST(ExtractFacesArgs, UnusableImagesAreRefusedWithoutTouchingTheOutput) {
  mv::Face faces[2];
  std::memset(faces, 0x5a, sizeof faces);
  size_t n = 2;
  const cv::Mat empty;
  EXPECT_EQ(ExtractFaces(&empty, faces, &n, kLbp), -9);
  const cv::Mat deep(100, 100, CV_16UC3, cv::Scalar::all(0));
  EXPECT_EQ(ExtractFaces(&deep, faces, &n, kLbp), -2);
  const cv::Mat two(100, 100, CV_8UC2, cv::Scalar::all(0));
  EXPECT_EQ(ExtractFaces(&two, faces, &n, kLbp), -2);
  const cv::Mat floats(100, 100, CV_32FC3, cv::Scalar::all(0));
  EXPECT_EQ(ExtractFaces(&floats, faces, &n, kLbp), -2);
  const cv::Mat blank(300, 400, CV_8UC3, cv::Scalar(128, 128, 128));
  EXPECT_EQ(ExtractFaces(&blank, faces, &n, kBoth), -4);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(faces)[0], 0x5a);
}

TEST(ExtractFacesSelections, CascadesFindBothPeople) {
  const cv::Mat image = photo("faces/two_people.jpg");
  for (mv::FindFaceAlgoType algo : {kLbp, kHaar, kBoth}) {
    int rc = 0;
    const std::vector<mv::Face> faces = extract(image, algo, &rc);
    ASSERT_EQ(rc, 0) << int(algo);
    ASSERT_EQ(faces.size(), 2u) << int(algo);
    expectWellFormed(faces, image);
    // One man on each side of the picture.
    EXPECT_NE(faces[0].rect.x < image.cols / 2, faces[1].rect.x < image.cols / 2);
  }
  // LBP comes first in the chain and answers for both.
  const std::vector<mv::Face> lbp = extract(image, kLbp);
  const std::vector<mv::Face> both = extract(image, kBoth);
  EXPECT_EQ(std::memcmp(lbp.data(), both.data(), sizeof(mv::Face) * 2), 0);
}

TEST(ExtractFacesSelections, CapacityKeepsTheLargest) {
  const cv::Mat image = photo("faces/bald_guys.jpg");
  const std::vector<mv::Face> all = extract(image, kLbp, nullptr, 0);
  ASSERT_GE(all.size(), 5u);
  expectWellFormed(all, image);
  int rc = 0;
  const std::vector<mv::Face> two = extract(image, kLbp, &rc, 2);
  ASSERT_EQ(rc, 0);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].rect.w * two[0].rect.h, all[0].rect.w * all[0].rect.h);
  EXPECT_EQ(two[1].rect.w * two[1].rect.h, all[1].rect.w * all[1].rect.h);
}

// The cascades search in parallel and report equal-sized faces in any
// order; the list must not depend on that.
TEST(ExtractFacesSelections, EqualSizedFacesComeInTheSameOrderEveryTime) {
  const cv::Mat image = photo("faces/bald_guys.jpg");
  const std::vector<mv::Face> first = extract(image, kHaar, nullptr, 0);
  ASSERT_GE(first.size(), 10u);
  for (int run = 0; run < 6; ++run) {
    const std::vector<mv::Face> again = extract(image, kHaar, nullptr, 0);
    ASSERT_EQ(first.size(), again.size());
    for (size_t i = 0; i < first.size(); ++i) {
      EXPECT_EQ(first[i].rect.x, again[i].rect.x) << "run " << run << " face " << i;
      EXPECT_EQ(first[i].rect.y, again[i].rect.y) << "run " << run << " face " << i;
    }
  }
}

TEST(ExtractFacesCoordinates, FacesAreInPixelsOfTheCallersImage) {
  // obama.jpg is searched shrunk, its half-size copy enlarged, to nearly
  // the same working image: the faces must come back at the two scales.
  const cv::Mat image = photo("people/obama/obama.jpg");
  cv::Mat half;
  cv::resize(image, half, cv::Size(image.cols / 2, image.rows / 2), 0, 0, cv::INTER_AREA);
  const std::vector<mv::Face> big = extract(image, kLbp);
  const std::vector<mv::Face> small = extract(half, kLbp);
  ASSERT_EQ(big.size(), 1u);
  ASSERT_EQ(small.size(), 1u);
  const double tolerance = big[0].rect.w * 0.08;
  EXPECT_NEAR(big[0].rect.x, 2 * small[0].rect.x, tolerance);
  EXPECT_NEAR(big[0].rect.y, 2 * small[0].rect.y, tolerance);
  EXPECT_NEAR(big[0].rect.w, 2 * small[0].rect.w, tolerance);
  EXPECT_NEAR(big[0].left_eye.x, 2 * small[0].left_eye.x, tolerance);
  EXPECT_NEAR(big[0].right_eye.y, 2 * small[0].right_eye.y, tolerance);
}

TEST(ExtractFacesImages, GreyAndAlphaInputs) {
  const cv::Mat rgba = cv::imread(testdata("misc/32bit.png"), cv::IMREAD_UNCHANGED);
  ASSERT_EQ(rgba.channels(), 4);
  cv::Mat bgr;
  cv::cvtColor(rgba, bgr, cv::COLOR_BGRA2BGR);
  int rc4 = 0, rc3 = 0;
  const std::vector<mv::Face> from_alpha = extract(rgba, kBoth, &rc4);
  const std::vector<mv::Face> from_bgr = extract(bgr, kBoth, &rc3);
  EXPECT_EQ(rc4, rc3);
  ASSERT_EQ(from_alpha.size(), from_bgr.size());
  if (!from_bgr.empty())
    EXPECT_EQ(std::memcmp(from_alpha.data(), from_bgr.data(), sizeof(mv::Face) * from_bgr.size()), 0);

  cv::Mat grey;
  cv::cvtColor(photo("faces/two_people.jpg"), grey, cv::COLOR_BGR2GRAY);
  const std::vector<mv::Face> faces = extract(grey, kLbp);
  EXPECT_GE(faces.size(), 1u);  // the grey working image differs a little
  expectWellFormed(faces, grey);
}

TEST(ExtractFacesImages, FacesCutByTheBorder) {
  // Slide the left edge of the picture across the left-hand man's face.
  const cv::Mat image = photo("faces/two_people.jpg");
  for (int cut : {240, 270, 300, 330}) {
    const cv::Mat part = image(cv::Rect(cut, 0, image.cols - cut, image.rows)).clone();
    int rc = 0;
    const std::vector<mv::Face> faces = extract(part, kBoth, &rc);
    ASSERT_EQ(rc, 0) << cut;
    expectWellFormed(faces, part);
  }
  // And the top edge across both faces.
  for (int cut : {60, 100}) {
    const cv::Mat part = image(cv::Rect(0, cut, image.cols, image.rows - cut)).clone();
    int rc = 0;
    const std::vector<mv::Face> faces = extract(part, kBoth, &rc);
    EXPECT_TRUE(rc == 0 || rc == -4) << cut;
    expectWellFormed(faces, part);
  }
}

// The HOG and network finders answer for faces that the cascades miss
// (profile, cut by the border, squinting eyes).
TEST(ExtractFacesImages, EveryPortraitHasAFace) {
  const cv::Mat probe = photo("people/obama/obama.jpg");
  DlibFindFaceAlgo hog;
  cv::Mat working = probe.clone();
  std::vector<cv::Rect> found;
  if (hog.findFaces(0, working, found) != 0) GTEST_SKIP() << "HOG finder not available in this build";
  const auto algo = static_cast<mv::FindFaceAlgoType>(0x1E);
  for (const char* name : {"people/obama/obama.jpg", "people/obama/obama2.jpg", "people/obama/obama3.jpg",
                           "people/biden/biden.jpg", "people/biden/biden2.jpg", "misc/obama_partial_face.jpg"}) {
    const cv::Mat image = photo(name);
    int rc = 0;
    const std::vector<mv::Face> faces = extract(image, algo, &rc);
    EXPECT_EQ(rc, 0) << name;
    EXPECT_GE(faces.size(), 1u) << name;
    expectWellFormed(faces, image);
  }
}

}  // namespace
