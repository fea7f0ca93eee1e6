// The combined finder: which members a selection creates, how scale indices
// reach them, and how candidates travel through a confirmer.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "morvik/findface.h"
#include "morvik/morvik_info.h"

namespace {

std::vector<std::string> names(const DefaultFindFaceAlgo& d) {
  std::vector<std::string> out;
  for (FindFaceAlgo* f : d.finders()) out.push_back(f->getName());
  return out;
}

// Reports fixed rectangles through the rectangle overload only.
class FixedFinder : public FindFaceAlgo {
 public:
  explicit FixedFinder(std::vector<cv::Rect> faces, int* calls = nullptr) : faces_(std::move(faces)), calls_(calls) {}
  const char* getName() override { return "Fixed"; }
  using FindFaceAlgo::findFaces;
  int findFaces(size_t, cv::Mat& image, std::vector<cv::Rect>& faces) override {
    if (calls_) ++*calls_;
    if (image.cols == 0) return -1;
    if (faces_.empty()) return -4;
    faces = faces_;
    return 0;
  }

 private:
  std::vector<cv::Rect> faces_;
  int* calls_;
};

// Records what it was shown and answers with the candidate moved by
// `shift`, or rejects candidates narrower than `min_width`.
class RecordingConfirmer : public FaceConfirmer {
 public:
  struct Seen {
    cv::Rect candidate;
    cv::Size crop;
    cv::Point crop_origin;  // in the image the finder saw
  };
  RecordingConfirmer(std::vector<Seen>* seen, cv::Point shift, int min_width = 0)
      : seen_(seen), shift_(shift), min_width_(min_width) {}
  int confirmFace(const cv::Rect& face, const cv::Mat& crop, cv::Rect& result) override {
    cv::Size whole;
    cv::Point origin;
    crop.locateROI(whole, origin);
    seen_->push_back({face, crop.size(), origin});
    if (face.width < min_width_) return -4;
    result = cv::Rect(face.x + shift_.x, face.y + shift_.y, face.width + 2, face.height + 2);
    return 0;
  }

 private:
  std::vector<Seen>* seen_;
  cv::Point shift_;
  int min_width_;
};

TEST(CombinedFinderTable, FixedOrderWhateverTheBits) {
  DefaultFindFaceAlgo all(static_cast<mv::FindFaceAlgoType>(0x3E));
  std::vector<std::string> got = names(all);
  // The network finder may not be available in every build.
  if (got.size() == 5) {
    EXPECT_EQ(got.back(), "CNN");
    got.pop_back();
  }
  EXPECT_EQ(got, (std::vector<std::string>{"Pico", "LBP", "Haar", "Dlib"}));
  EXPECT_TRUE(all.confirmers().empty());
  EXPECT_STREQ(all.getName(), "Default");
}

TEST(CombinedFinderTable, ConfirmBitAddsOneConfirmerPerFinderButNotForCnn) {
  DefaultFindFaceAlgo d(static_cast<mv::FindFaceAlgoType>(0x5E));
  ASSERT_EQ(d.confirmers().size(), d.finders().size());
  EXPECT_EQ(names(d)[0], "LBP");
  for (size_t i = 0; i < 3; ++i) EXPECT_NE(d.confirmers()[i], nullptr) << i;
  if (d.finders().size() == 4) EXPECT_EQ(d.confirmers()[3], nullptr);
}

TEST(CombinedFinderTable, SelectionsWithoutFinders) {
  const cv::Mat image(100, 100, CV_8UC3, cv::Scalar(90, 90, 90));
  for (int type : {0x00, 0x01, 0x80, 0x41}) {
    DefaultFindFaceAlgo d(static_cast<mv::FindFaceAlgoType>(type));
    EXPECT_TRUE(d.finders().empty()) << type;
    EXPECT_TRUE(d.getScales(image).empty()) << type;
  }
  MorvikInfo info(mv::FindNone);
  ASSERT_EQ(info.loadImage(image), 0);
  std::vector<mv::Face> faces(1);
  EXPECT_EQ(info.getFaces(faces, 0), -4);
  EXPECT_EQ(faces.size(), 1u);
}

TEST(CombinedFinderTable, LightNetworkAloneHasNoConfirmer) {
  DefaultFindFaceAlgo d(mv::FindConfirm);
  EXPECT_LE(d.finders().size(), 1u);
  EXPECT_TRUE(d.confirmers().empty());
}

TEST(CombinedFinder, IndexWithoutFinderIsNoFaceAndTouchesNothing) {
  cv::Mat image(50, 50, CV_8UC3, cv::Scalar::all(0));
  std::vector<rotrect> faces(2);
  faces[0].rect = cv::Rect(1, 2, 3, 4);
  DefaultFindFaceAlgo light(mv::FindConfirm);
  EXPECT_EQ(light.findFaces(1, image, faces), -4);
  DefaultFindFaceAlgo none(mv::FindNone);
  EXPECT_EQ(none.findFaces(0, image, faces), -4);
  DefaultFindFaceAlgo lbp(mv::FindLBP);
  EXPECT_EQ(lbp.findFaces(7, image, faces), -4);
  ASSERT_EQ(faces.size(), 2u);
  EXPECT_EQ(faces[0].rect, cv::Rect(1, 2, 3, 4));
}

TEST(CombinedFinder, RectangleOverloadIsNotSupported) {
  DefaultFindFaceAlgo d(mv::FindLBP);
  cv::Mat image(50, 50, CV_8UC3, cv::Scalar::all(0));
  std::vector<cv::Rect> rects;
  EXPECT_EQ(d.findFaces(0, image, rects), -12);
}

TEST(CombinedFinder, IndexPicksOneMemberAndAnglesAreZero) {
  int first = 0, second = 0;
  DefaultFindFaceAlgo d(mv::FindNone);
  d.addFinder(new FixedFinder({}, &first), nullptr);
  d.addFinder(new FixedFinder({cv::Rect(5, 6, 20, 20), cv::Rect(30, 30, 10, 10)}, &second), nullptr);
  cv::Mat image(100, 100, CV_8UC3, cv::Scalar::all(0));
  EXPECT_EQ(d.getScales(image).size(), 2u);
  std::vector<rotrect> faces;
  EXPECT_EQ(d.findFaces(0, image, faces), -4);
  EXPECT_TRUE(faces.empty());
  faces.resize(5);
  faces[3].angle = 7.0;
  ASSERT_EQ(d.findFaces(1, image, faces), 0);
  ASSERT_EQ(faces.size(), 2u);  // earlier entries are replaced, not kept
  EXPECT_EQ(faces[0].rect, cv::Rect(5, 6, 20, 20));
  EXPECT_EQ(faces[1].rect, cv::Rect(30, 30, 10, 10));
  EXPECT_EQ(faces[0].angle, 0.0);
  EXPECT_EQ(faces[1].angle, 0.0);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
}

TEST(CombinedFinderConfirmation, CropMarginsAndMappingBack) {
  std::vector<RecordingConfirmer::Seen> seen;
  DefaultFindFaceAlgo d(mv::FindNone);
  d.addFinder(new FixedFinder({cv::Rect(40, 50, 20, 24)}), new RecordingConfirmer(&seen, cv::Point(-1, 3)));
  cv::Mat image(200, 200, CV_8UC3, cv::Scalar::all(0));
  std::vector<rotrect> faces;
  ASSERT_EQ(d.findFaces(0, image, faces), 0);
  ASSERT_EQ(seen.size(), 1u);
  // q = 20 >> 2 = 5 on every side, from the width for both axes.
  EXPECT_EQ(seen[0].candidate, cv::Rect(5, 5, 20, 24));
  EXPECT_EQ(seen[0].crop, cv::Size(30, 34));
  EXPECT_EQ(seen[0].crop_origin, cv::Point(35, 45));  // a view into the image
  ASSERT_EQ(faces.size(), 1u);
  EXPECT_EQ(faces[0].rect, cv::Rect(40 - 1, 50 + 3, 22, 26));
}

TEST(CombinedFinderConfirmation, FacesAtTheBorders) {
  std::vector<RecordingConfirmer::Seen> seen;
  DefaultFindFaceAlgo d(mv::FindNone);
  // Left/top edge: no margin there. Bottom-right corner: clipped one pixel
  // before the edge. Narrow face: no margin at all.
  d.addFinder(new FixedFinder({cv::Rect(0, 2, 40, 40), cv::Rect(170, 170, 30, 30), cv::Rect(100, 100, 3, 3)}),
              new RecordingConfirmer(&seen, cv::Point(0, 0)));
  cv::Mat image(200, 200, CV_8UC3, cv::Scalar::all(0));
  std::vector<rotrect> faces;
  ASSERT_EQ(d.findFaces(0, image, faces), 0);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].crop_origin, cv::Point(0, 0));
  EXPECT_EQ(seen[0].candidate, cv::Rect(0, 2, 40, 40));
  EXPECT_EQ(seen[0].crop, cv::Size(50, 52));
  EXPECT_EQ(seen[1].crop_origin, cv::Point(163, 163));
  EXPECT_EQ(seen[1].crop, cv::Size(36, 36));
  EXPECT_EQ(seen[1].candidate, cv::Rect(7, 7, 30, 30));
  EXPECT_EQ(seen[2].candidate, cv::Rect(0, 0, 3, 3));
  EXPECT_EQ(seen[2].crop, cv::Size(3, 3));
  ASSERT_EQ(faces.size(), 3u);
  EXPECT_EQ(faces[0].rect, cv::Rect(0, 2, 42, 42));
  EXPECT_EQ(faces[1].rect, cv::Rect(170, 170, 32, 32));
}

TEST(CombinedFinderConfirmation, RejectedFacesAreDroppedInOrder) {
  std::vector<RecordingConfirmer::Seen> seen;
  DefaultFindFaceAlgo d(mv::FindNone);
  d.addFinder(new FixedFinder({cv::Rect(10, 10, 30, 30), cv::Rect(60, 60, 10, 10), cv::Rect(100, 10, 40, 40)}),
              new RecordingConfirmer(&seen, cv::Point(0, 0), 20));
  cv::Mat image(200, 200, CV_8UC3, cv::Scalar::all(0));
  std::vector<rotrect> faces;
  ASSERT_EQ(d.findFaces(0, image, faces), 0);
  ASSERT_EQ(faces.size(), 2u);
  EXPECT_EQ(faces[0].rect.x, 10);
  EXPECT_EQ(faces[1].rect.x, 100);

  DefaultFindFaceAlgo all_rejected(mv::FindNone);
  all_rejected.addFinder(new FixedFinder({cv::Rect(60, 60, 10, 10)}),
                         new RecordingConfirmer(&seen, cv::Point(0, 0), 20));
  EXPECT_EQ(all_rejected.findFaces(0, image, faces), -4);
  EXPECT_TRUE(faces.empty());
}

TEST(CombinedFinderConfirmation, UnconfirmedMemberBesideConfirmedOne) {
  std::vector<RecordingConfirmer::Seen> seen;
  DefaultFindFaceAlgo d(mv::FindNone);
  d.addFinder(new FixedFinder({}), new RecordingConfirmer(&seen, cv::Point(0, 0)));
  d.addFinder(new FixedFinder({cv::Rect(10, 10, 30, 30)}), nullptr);
  ASSERT_EQ(d.confirmers().size(), 2u);
  cv::Mat image(200, 200, CV_8UC3, cv::Scalar::all(0));
  std::vector<rotrect> faces;
  ASSERT_EQ(d.findFaces(1, image, faces), 0);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(faces[0].rect, cv::Rect(10, 10, 30, 30));
}

}  // namespace
