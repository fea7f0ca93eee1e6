// Describing faces the caller knows: ExtractInfo, ExtractInfoEx,
// ExtractVector, and the face data requests of the analysis object.
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "morvik/config.h"
#include "morvik/morvik.h"
#include "morvik/morvik_info.h"
#include "support/test_support.h"

namespace {

using testing_support::photo;

constexpr auto kCascades = static_cast<mv::FindFaceAlgoType>(mv::FindLBP | mv::FindHaar);

// The two faces of the group photo as the face search returns them.
class Describe : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    image_ = new cv::Mat(photo("faces/two_people.jpg"));
    faces_ = new std::vector<mv::Face>(2);
    size_t n = faces_->size();
    ASSERT_EQ(0, ExtractFaces(image_, faces_->data(), &n, kCascades));
    ASSERT_EQ(2u, n);
  }
  static void TearDownTestSuite() {
    delete image_;
    delete faces_;
  }
  static mv::Face face(size_t i) { return (*faces_)[i]; }
  static mv::Face eyeless(size_t i) {
    mv::Face f = face(i);
    f.left_eye = mv::Point{0, 0};
    f.right_eye = mv::Point{0, 0};
    return f;
  }
  static cv::Mat* image_;
  static std::vector<mv::Face>* faces_;
};

cv::Mat* Describe::image_ = nullptr;
std::vector<mv::Face>* Describe::faces_ = nullptr;

mv::FaceData filled(unsigned char byte) {
  mv::FaceData d;
  std::memset(static_cast<void*>(&d), byte, sizeof(d));
  return d;
}

bool sameBytes(const mv::FaceData& a, const mv::FaceData& b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

// --- arguments and images -------------------------------------------------------

TEST_F(Describe, ArgumentsAreCheckedFirst) {
  mv::Face f = face(0);
  mv::FaceData d = filled(0xAB);
  const mv::FaceData before = d;
  size_t size = 1;
  EXPECT_EQ(-1, ExtractInfo(nullptr, &f, 1, &d, &size));
  EXPECT_EQ(-1, ExtractInfo(image_, nullptr, 1, &d, &size));
  EXPECT_EQ(-1, ExtractInfo(image_, &f, 1, nullptr, &size));
  EXPECT_EQ(-1, ExtractInfo(image_, &f, 1, &d, nullptr));
  size = 0;
  EXPECT_EQ(-1, ExtractInfo(image_, &f, 1, &d, &size));
  size = 1;
  const cv::Mat empty;
  EXPECT_EQ(-4, ExtractInfo(&empty, &f, 0, &d, &size));  // count 0, image never looked at
  EXPECT_EQ(1u, size);
  EXPECT_TRUE(sameBytes(before, d));

  float v[128];
  EXPECT_EQ(-1, ExtractVector(nullptr, &f, v));
  EXPECT_EQ(-1, ExtractVector(image_, nullptr, v));
  EXPECT_EQ(-1, ExtractVector(image_, &f, nullptr));
  mv::FaceDataEx ex;
  EXPECT_EQ(-1, ExtractInfoEx(image_, &f, 1, &ex, nullptr));
  EXPECT_EQ(-4, ExtractInfoEx(image_, &f, 0, &ex, &size));
}

TEST_F(Describe, UnusableImagesGiveTheCodesOfTheFaceSearch) {
  mv::Face f = face(0);
  float v[128] = {};
  const cv::Mat empty;
  EXPECT_EQ(-9, ExtractVector(&empty, &f, v));
  cv::Mat wide;
  image_->convertTo(wide, CV_16UC3);
  EXPECT_EQ(-2, ExtractVector(&wide, &f, v));
  const cv::Mat two(100, 100, CV_8UC2, cv::Scalar::all(9));
  EXPECT_EQ(-2, ExtractVector(&two, &f, v));
  mv::FaceData d{};
  size_t size = 1;
  EXPECT_EQ(-2, ExtractInfo(&wide, &f, 1, &d, &size));
  EXPECT_EQ(-9, ExtractInfo(&empty, &f, 1, &d, &size));
}

TEST_F(Describe, GreyAndFourChannelImagesAreDescribed) {
  mv::Face f = face(0);
  float colour[128], grey[128], bgra[128];
  ASSERT_EQ(0, ExtractVector(image_, &f, colour));
  cv::Mat g, a;
  cv::cvtColor(*image_, g, cv::COLOR_BGR2GRAY);
  cv::cvtColor(*image_, a, cv::COLOR_BGR2BGRA);
  ASSERT_EQ(0, ExtractVector(&g, &f, grey));
  ASSERT_EQ(0, ExtractVector(&a, &f, bgra));
  EXPECT_EQ(0, std::memcmp(colour, bgra, sizeof(colour)));  // alpha dropped, nothing else
  double d = 0.0;
  ASSERT_EQ(0, CompareVectors(colour, 512, grey, 512, &d));
  EXPECT_LT(d, 0.6);  // the same man without colour
}

TEST_F(Describe, FaceWithoutAreaIsRefused) {
  mv::Face f = face(0);
  f.rect.w = 0;
  mv::FaceData d = filled(0x5A);
  const mv::FaceData before = d;
  size_t size = 1;
  EXPECT_EQ(-1, ExtractInfo(image_, &f, 1, &d, &size));
  EXPECT_EQ(1u, size);
  EXPECT_TRUE(sameBytes(before, d));
}

TEST_F(Describe, FaceWhollyOutsideTheImageIsRefused) {
  for (mv::Face f : {face(0), eyeless(0)}) {
    f.rect.x = image_->cols + 50;
    f.left_eye.x += image_->cols + 50;
    f.right_eye.x += image_->cols + 50;
    float v[128];
    EXPECT_EQ(-1, ExtractVector(image_, &f, v));
  }
}

TEST_F(Describe, FarOffRectanglesAreRefused) {
  // Rectangles whose edges do not fit 32 bits, or that miss the image.
  const mv::Rectangle far[] = {{INT32_MAX - 10, 100, 100, 100}, {10, 10, INT32_MAX, 100},
                               {100, INT32_MAX - 5, 100, 100},   {INT32_MIN, 100, 100, 100},
                               {-500, -500, 400, 400},           {100, 10, 100, INT32_MAX}};
  for (const mv::Rectangle& r : far) {
    for (mv::Face f : {face(0), eyeless(0)}) {
      f.rect = r;
      float v[128];
      EXPECT_EQ(-1, ExtractVector(image_, &f, v)) << r.x << "," << r.y << "," << r.w << "," << r.h;
    }
  }
}

TEST_F(Describe, TinyFacesAndImagesAreHandled) {
  // Whatever the landmarks make of them, these end in a code, not a crash.
  const cv::Mat tiny = (*image_)(cv::Rect(200, 100, 3, 2)).clone();
  const mv::Rectangle rects[] = {{0, 0, 1, 1}, {1, 1, 2, 1}, {0, 0, 3, 2}};
  for (const mv::Rectangle& r : rects) {
    for (const cv::Mat* image : {static_cast<const cv::Mat*>(&tiny), static_cast<const cv::Mat*>(image_)}) {
      for (mv::Face f : {face(0), eyeless(0)}) {
        f.rect = r;
        float v[128];
        const int rc = ExtractVector(image, &f, v);
        EXPECT_TRUE(rc == 0 || rc == -1) << rc;
      }
    }
  }
}

// --- results ----------------------------------------------------------------------

TEST_F(Describe, CountIsBoundedByTheCapacity) {
  mv::Face three[3] = {face(0), face(1), face(0)};
  mv::FaceData out[3] = {filled(1), filled(2), filled(3)};
  const mv::FaceData third = out[2];
  size_t size = 2;
  ASSERT_EQ(0, ExtractInfo(image_, three, 3, out, &size));
  EXPECT_EQ(2u, size);
  EXPECT_TRUE(sameBytes(third, out[2]));
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(three[i].rect.x, out[i].rect.x);
    EXPECT_EQ(three[i].left_eye.x, out[i].left_eye.x);
    EXPECT_EQ(three[i].right_eye.y, out[i].right_eye.y);
  }
}

TEST_F(Describe, EyelessFaceGetsEyesAndTheCallersRecordStays) {
  mv::Face f = eyeless(0);
  const mv::Face before = f;
  float v[128] = {};
  ASSERT_EQ(0, ExtractVector(image_, &f, v));
  EXPECT_EQ(0, std::memcmp(&before, &f, sizeof(f)));

  mv::FaceData d{};
  size_t size = 1;
  ASSERT_EQ(0, ExtractInfo(image_, &f, 1, &d, &size));
  EXPECT_FALSE(d.left_eye.x == 0 && d.left_eye.y == 0);
  EXPECT_LT(d.left_eye.x, d.right_eye.x);
  EXPECT_EQ(0, std::memcmp(v, d.vector, sizeof(v)));
  // The eyes it found describe the face like the eyes of the face search.
  float searched[128];
  mv::Face g = face(0);
  ASSERT_EQ(0, ExtractVector(image_, &g, searched));
  double dist = 1.0;
  ASSERT_EQ(0, CompareVectors(v, 512, searched, 512, &dist));
  EXPECT_LT(dist, 0.3);
}

// --- with images --------------------------------------------------------------

std::vector<unsigned char> bytesOf(const mv::Data& d) { return std::vector<unsigned char>(d.data, d.data + d.size); }

TEST_F(Describe, ExtractInfoExHandsBackTheCropEncoded) {
  // The crops as the analysis object makes them.
  MorvikInfo info(kCascades);
  ASSERT_EQ(0, info.loadImage(*image_));
  std::vector<mv::Face> list(faces_->begin(), faces_->end());
  std::vector<mv::FaceDataEx> expected;
  ASSERT_EQ(0, info.getFacesInfo(list, expected));

  // The caller's records hold buffers of their own, which are released.
  mv::FaceDataEx out[2];
  for (mv::FaceDataEx& r : out) {
    r.image_data.data = static_cast<unsigned char*>(std::malloc(100));
    r.image_data.size = 100;
  }
  size_t size = 2;
  ASSERT_EQ(0, ExtractInfoEx(image_, faces_->data(), 2, out, &size));
  ASSERT_EQ(2u, size);
  for (size_t i = 0; i < 2; ++i) {
    ASSERT_GT(out[i].image_data.size, 8u);
    EXPECT_NE(expected[i].image_data.data, out[i].image_data.data);  // a copy of its own
    const std::vector<unsigned char> png = bytesOf(out[i].image_data);
    EXPECT_EQ(0x89, png[0]);
    EXPECT_EQ('P', png[1]);
    const cv::Mat decoded = cv::imdecode(png, cv::IMREAD_UNCHANGED);
    EXPECT_EQ(info.getImage(i).size(), decoded.size());
    EXPECT_EQ(3, decoded.channels());
    EXPECT_EQ(0, cv::norm(decoded, info.getImage(i), cv::NORM_INF));  // lossless
    EXPECT_EQ(0, std::memcmp(static_cast<const mv::FaceData*>(&out[i]),
                             static_cast<const mv::FaceData*>(&expected[i]), sizeof(mv::FaceData)));
  }
  // The caller frees what it received (the test runs under the leak checker).
  for (mv::FaceDataEx& r : out) r.image_data.clear();
}

TEST_F(Describe, ImageFormatOptionIsFollowed) {
  const mv::OptionString jpg{".jpg", 4, {}};
  ASSERT_EQ(0, SetOption("image.format", const_cast<mv::OptionString*>(&jpg), sizeof(jpg)));
  mv::Face f = face(1);
  mv::FaceDataEx out;
  size_t size = 1;
  const int rc = ExtractInfoEx(image_, &f, 1, &out, &size);
  g_config.image_format = ".png";
  ASSERT_EQ(0, rc);
  const std::vector<unsigned char> jpeg = bytesOf(out.image_data);
  ASSERT_GT(jpeg.size(), 2u);
  EXPECT_EQ(0xFF, jpeg[0]);
  EXPECT_EQ(0xD8, jpeg[1]);
  EXPECT_FALSE(cv::imdecode(jpeg, cv::IMREAD_COLOR).empty());
}

TEST_F(Describe, FailureLeavesTheCallersRecordsAlone) {
  mv::Face two[2] = {face(0), face(1)};
  two[1].rect.h = 0;
  mv::FaceDataEx out[2];
  out[0].image_data.data = static_cast<unsigned char*>(std::malloc(10));
  out[0].image_data.size = 10;
  unsigned char* const kept = out[0].image_data.data;
  size_t size = 2;
  EXPECT_EQ(-1, ExtractInfoEx(image_, two, 2, out, &size));
  EXPECT_EQ(2u, size);
  EXPECT_EQ(kept, out[0].image_data.data);
  EXPECT_EQ(10u, out[0].image_data.size);
}

// --- face data requests of the analysis object ------------------------------------

TEST_F(Describe, EmptyRequestClearsTheOutputAndKeepsTheCrops) {
  MorvikInfo info(kCascades);
  ASSERT_EQ(0, info.loadImage(*image_));
  std::vector<mv::Face> one{face(0)};
  std::vector<mv::FaceData> data;
  ASSERT_EQ(0, info.getFacesInfo(one, data));
  const cv::Mat crop = info.getImage(0);
  ASSERT_FALSE(crop.empty());

  std::vector<mv::Face> none;
  EXPECT_EQ(0, info.getFacesInfo(none, data));
  EXPECT_TRUE(data.empty());
  EXPECT_EQ(crop.data, info.getImage(0).data);
  EXPECT_TRUE(info.getImage(1).empty());
}

TEST_F(Describe, FaceWithoutAreaEndsTheRequest) {
  MorvikInfo info(kCascades);
  ASSERT_EQ(0, info.loadImage(*image_));
  std::vector<mv::Face> three{face(0), face(1), face(0)};
  three[1].rect.w = 0;
  std::vector<mv::FaceData> data;
  EXPECT_EQ(-1, info.getFacesInfo(three, data));
  EXPECT_EQ(1u, data.size());
}

TEST_F(Describe, OneKnownEyeIsUsedAsItIs) {
  MorvikInfo info(kCascades);
  ASSERT_EQ(0, info.loadImage(*image_));
  mv::Face f = face(0);
  f.left_eye = mv::Point{10, 0};
  f.right_eye = mv::Point{0, 0};
  std::vector<mv::Face> list{f};
  std::vector<mv::FaceData> data;
  ASSERT_EQ(0, info.getFacesInfo(list, data));
  EXPECT_EQ(10, data[0].left_eye.x);
  EXPECT_EQ(0, data[0].left_eye.y);
  EXPECT_EQ(0, data[0].right_eye.x);
  EXPECT_EQ(0, list[0].right_eye.x);
}

TEST_F(Describe, RequestsWithoutAnImageOrRepeatedAreSafe) {
  MorvikInfo info(kCascades);
  std::vector<mv::Face> list{face(0)};
  std::vector<mv::FaceData> first, second;
  EXPECT_EQ(-9, info.getFacesInfo(list, first));
  std::vector<mv::FaceData> found;
  EXPECT_EQ(-9, info.getFacesInfo(found, 2));

  ASSERT_EQ(0, info.loadImage(*image_));
  ASSERT_EQ(0, info.getFacesInfo(list, first));
  ASSERT_EQ(0, info.getFacesInfo(list, second));  // the crop slot is refilled
  EXPECT_TRUE(sameBytes(first[0], second[0]));
}

TEST_F(Describe, SearchAndDescribeInOneRequest) {
  MorvikInfo info(kCascades);
  ASSERT_EQ(0, info.loadImage(*image_));
  std::vector<mv::FaceDataEx> data;
  ASSERT_EQ(0, info.getFacesInfo(data, 1));
  ASSERT_EQ(1u, data.size());
  EXPECT_EQ(face(0).rect.x, data[0].rect.x);
  EXPECT_GT(data[0].image_data.size, 0u);
}

}  // namespace
