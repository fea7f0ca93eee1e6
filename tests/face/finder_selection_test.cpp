// The pico, HOG, CNN and confirmer selections through ExtractFaces, as a
// host uses them.
#include <vector>

#include <gtest/gtest.h>

#include "morvik/findface.h"
#include "morvik/morvik.h"
#include "morvik/types.h"
#include "support/test_support.h"

using testing_support::photo;

namespace {

constexpr mv::FindFaceAlgoType kPico = mv::FindFaceAlgoType(0x20);
constexpr mv::FindFaceAlgoType kHog = mv::FindFaceAlgoType(0x08);
constexpr mv::FindFaceAlgoType kCnn = mv::FindFaceAlgoType(0x10);
constexpr mv::FindFaceAlgoType kLightOnly = mv::FindFaceAlgoType(0x40);
constexpr mv::FindFaceAlgoType kPicoConfirmed = mv::FindFaceAlgoType(0x60);
constexpr mv::FindFaceAlgoType kPicoLbpConfirmed = mv::FindFaceAlgoType(0x62);

// The faces of `name`, or the result code when there are none.
int findFaces(const char* name, mv::FindFaceAlgoType algo, std::vector<mv::Face>& faces) {
  cv::Mat image = photo(name);
  faces.assign(64, mv::Face{});
  size_t count = faces.size();
  const int rc = ExtractFaces(&image, faces.data(), &count, algo);
  faces.resize(rc == 0 ? count : 0);
  return rc;
}

bool inside(const mv::Face& face, const cv::Mat& image) {
  return face.rect.x >= 0 && face.rect.y >= 0 && face.rect.w > 0 && face.rect.h > 0 &&
         face.rect.x + face.rect.w <= image.cols && face.rect.y + face.rect.h <= image.rows;
}

}  // namespace

TEST(PicoSelection, FindsEveryPortraitOfPeople) {
  for (const char* name : {"people/obama/obama.jpg", "people/obama/obama2.jpg", "people/obama/obama3.jpg",
                           "people/biden/biden.jpg", "people/biden/biden2.jpg"}) {
    std::vector<mv::Face> faces;
    ASSERT_EQ(findFaces(name, kPico, faces), 0) << name;
    ASSERT_GE(faces.size(), 1u) << name;
    const cv::Mat image = photo(name);
    EXPECT_TRUE(inside(faces[0], image)) << name;
    EXPECT_EQ(faces[0].angle, 0.0);
    // A portrait: the largest face is a sizeable part of the picture.
    EXPECT_GT(faces[0].rect.w, image.cols / 10) << name;
  }
}

TEST(NetworkSelections, DogsHaveNoHumanFace) {
  std::vector<mv::Face> faces;
  EXPECT_EQ(findFaces("misc/dogs.jpg", kHog, faces), -4);
  EXPECT_EQ(findFaces("misc/dogs.jpg", kCnn, faces), -4);
  // The light-only selection offers two scales but has a finder for the
  // first only; the search still ends with "no face".
  EXPECT_EQ(findFaces("misc/dogs.jpg", kLightOnly, faces), -4);
}

TEST(NetworkSelections, HogFindsTwoPeople) {
  std::vector<mv::Face> faces;
  ASSERT_EQ(findFaces("faces/two_people.jpg", kHog, faces), 0);
  EXPECT_EQ(faces.size(), 2u);
}

TEST(NetworkSelections, LightOnlySeesFacesNearItsWindowSize) {
  // The light network scans one size only: the faces of two_people.jpg,
  // about 140 pixels in the working image, are too large for it, and the
  // selection has no finder for the CNN scale that follows.
  std::vector<mv::Face> faces;
  EXPECT_EQ(findFaces("faces/two_people.jpg", kLightOnly, faces), -4);
  // Faces of 45 to 53 pixels are 72 to 85 in the working image: the
  // network's own size.
  ASSERT_EQ(findFaces("faces/2008_002079.jpg", kLightOnly, faces), 0);
  EXPECT_GE(faces.size(), 2u);
}

TEST(ConfirmedSelections, PicoFacesAreRefittedByTheNetwork) {
  std::vector<mv::Face> plain, confirmed, both;
  const char* name = "faces/Tom_Cruise_avp_2014_4.jpg";
  ASSERT_EQ(findFaces(name, kPico, plain), 0);
  ASSERT_EQ(findFaces(name, kPicoConfirmed, confirmed), 0);
  ASSERT_EQ(findFaces(name, kPicoLbpConfirmed, both), 0);
  ASSERT_EQ(confirmed.size(), 1u);
  // The confirmed rectangle is the network's, near the pico square.
  const cv::Rect a = plain[0].rect, b = confirmed[0].rect;
  const double inter = (a & b).area();
  EXPECT_GT(inter / (a.area() + b.area() - inter), 0.3);
  EXPECT_NE(a, b);
  // Pico comes first in the chain, so adding LBP changes nothing here.
  EXPECT_EQ(cv::Rect(both[0].rect), b);
}

TEST(ConfirmedSelections, ConfirmerDropsPicoFacesWithoutAFace) {
  DefaultFindFaceAlgo finder(kPicoConfirmed);
  ASSERT_EQ(finder.finders().size(), 1u);
  ASSERT_EQ(finder.confirmers().size(), 1u);
  ASSERT_NE(dynamic_cast<CnnLightConfirmer*>(finder.confirmers()[0]), nullptr);
  // Pico takes a dog for a face; the network must drop it.
  cv::Mat image = photo("misc/dogs.jpg");
  std::vector<rotrect> faces;
  const auto scales = finder.getScales(image);
  ASSERT_EQ(scales.size(), 1u);
  cv::Mat working;
  imagePrepare(image, scales[0], working);
  std::vector<cv::Rect> candidates;
  ASSERT_EQ(finder.finders()[0]->findFaces(0, working, candidates), 0) << "pico sees no dog face";
  EXPECT_EQ(finder.findFaces(0, working, faces), -4);
  EXPECT_TRUE(faces.empty());
}
