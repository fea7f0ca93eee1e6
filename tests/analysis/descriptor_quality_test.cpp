// Descriptors of real photographs: the same man stays close, different men
// stay apart, with the threshold 0.6 that the installed model is made for,
// with either way of aligning a face ("align.mode" 0 and 1).
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using testing_support::fileBytes;
using testing_support::photo;
using testing_support::testdata;

constexpr double kSamePerson = 0.6;
constexpr auto kCascades = static_cast<mv::FindFaceAlgoType>(mv::FindLBP | mv::FindHaar);

struct Portrait {
  std::string person;
  std::string file;
  std::vector<float> descriptor;
};

double distance(const std::vector<float>& a, const std::vector<float>& b) {
  double d = -1.0;
  EXPECT_EQ(0, CompareVectors(a.data(), a.size() * sizeof(float), b.data(), b.size() * sizeof(float), &d));
  return d;
}

// The largest face as dlib's own HOG detector sees it, without eyes, so
// that the descriptor step places them itself. (The cascade finders keep
// only faces in which they see two eyes, which not every portrait gives.)
mv::Face largestFace(const cv::Mat& image) {
  // Detect on a copy of at most 800 pixels a side; the portraits are large.
  const double scale = std::min(1.0, 800.0 / std::max(image.cols, image.rows));
  cv::Mat small;
  cv::resize(image, small, cv::Size(), scale, scale, cv::INTER_AREA);
  dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
  dlib::cv_image<dlib::bgr_pixel> view(small);
  mv::Face face{};
  for (const dlib::rectangle& r : detector(view)) {
    const auto back = [scale](long v) { return static_cast<int32_t>(v / scale); };
    const mv::Rectangle rect{back(r.left()), back(r.top()), back(r.width()), back(r.height())};
    if (int64_t{rect.w} * rect.h > int64_t{face.rect.w} * face.rect.h) face.rect = rect;
  }
  return face;
}

// The descriptor of the largest face of a photograph.
std::vector<float> largestFaceDescriptor(const std::string& file) {
  const cv::Mat image = photo(file);
  EXPECT_FALSE(image.empty()) << file;
  mv::Face face = largestFace(image);
  EXPECT_GT(face.rect.w, 0) << file;
  std::vector<float> descriptor(128, 0.0f);
  EXPECT_EQ(0, ExtractVector(&image, &face, descriptor.data())) << file;
  return descriptor;
}

int setAlignMode(int mode) { return SetOption("align.mode", &mode, sizeof(mode)); }

// The portraits' descriptors per alignment mode, computed once per mode.
class DescriptorQuality : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, setAlignMode(GetParam()));
    static std::map<int, std::vector<Portrait>> described;
    if (!described.count(GetParam())) {
      std::vector<Portrait> portraits{
          {"obama", "people/obama/obama.jpg", {}},   {"obama", "people/obama/obama2.jpg", {}},
          {"obama", "people/obama/obama3.jpg", {}},  {"biden", "people/biden/biden.jpg", {}},
          {"biden", "people/biden/biden2.jpg", {}},
      };
      for (Portrait& p : portraits) p.descriptor = largestFaceDescriptor(p.file);
      described[GetParam()] = portraits;
    }
    portraits_ = &described[GetParam()];
  }
  void TearDown() override { setAlignMode(0); }
  const std::vector<Portrait>* portraits_ = nullptr;
};

TEST_P(DescriptorQuality, SameManIsCloserThanThresholdAndDifferentMenFarther) {
  const std::vector<Portrait>& all = *portraits_;
  for (size_t i = 0; i < all.size(); ++i) {
    for (size_t j = i + 1; j < all.size(); ++j) {
      const double d = distance(all[i].descriptor, all[j].descriptor);
      std::cout << "distance " << all[i].file << " - " << all[j].file << ": " << d << "\n";
      if (all[i].person == all[j].person)
        EXPECT_LT(d, kSamePerson) << all[i].file << " vs " << all[j].file;
      else
        EXPECT_GT(d, kSamePerson) << all[i].file << " vs " << all[j].file;
    }
  }
}

TEST_P(DescriptorQuality, BothFacesOfAGroupPhotoMatchTheirMan) {
  const std::vector<char> bytes = fileBytes(testdata("faces/two_people.jpg"));
  ASSERT_FALSE(bytes.empty());
  mv::FaceData data[2] = {};
  size_t size = 2;
  ASSERT_EQ(0, ExtractFacesInfo(bytes.data(), bytes.size(), data, &size, kCascades));
  ASSERT_EQ(2u, size);

  // Obama stands on the left of the picture, Biden on the right.
  std::map<std::string, int32_t> matched;  // person -> x of the matching face
  for (const mv::FaceData& face : data) {
    const std::vector<float> descriptor(face.vector, face.vector + 128);
    std::map<std::string, double> nearest;  // person -> smallest distance
    for (const Portrait& p : *portraits_) {
      const double d = distance(descriptor, p.descriptor);
      std::cout << "face at x=" << face.rect.x << " - " << p.file << ": " << d << "\n";
      if (!nearest.count(p.person) || d < nearest[p.person]) nearest[p.person] = d;
    }
    const std::string best = nearest["obama"] < nearest["biden"] ? "obama" : "biden";
    const std::string other = best == "obama" ? "biden" : "obama";
    EXPECT_LT(nearest[best], kSamePerson);
    EXPECT_GT(nearest[other], kSamePerson);
    matched[best] = face.rect.x;
  }
  ASSERT_EQ(2u, matched.size());
  EXPECT_LT(matched["obama"], matched["biden"]);
}

INSTANTIATE_TEST_SUITE_P(AlignModes, DescriptorQuality, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "AlignMode" + std::to_string(info.param);
                         });

}  // namespace
