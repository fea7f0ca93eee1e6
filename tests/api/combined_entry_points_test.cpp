// Finding and describing the faces of encoded image bytes in one call.
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using testing_support::fileBytes;
using testing_support::photo;
using testing_support::testdata;

constexpr auto kCascades = static_cast<mv::FindFaceAlgoType>(mv::FindLBP | mv::FindHaar);

std::vector<unsigned char> encode(const cv::Mat& image, const char* ext) {
  std::vector<unsigned char> bytes;
  EXPECT_TRUE(cv::imencode(ext, image, bytes));
  return bytes;
}

template <typename T>
T filled(unsigned char byte) {
  T record;
  std::memset(static_cast<void*>(&record), byte, sizeof(record));
  return record;
}

template <typename T>
bool sameBytes(const T& a, const T& b) {
  return std::memcmp(static_cast<const void*>(&a), static_cast<const void*>(&b), sizeof(T)) == 0;
}

bool allZero(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i] != 0) return false;
  return true;
}

class Combined : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    two_ = new std::vector<char>(fileBytes(testdata("faces/two_people.jpg")));
    // The left half of the group photo holds one of the two men.
    const cv::Mat image = photo("faces/two_people.jpg");
    std::vector<unsigned char> half = encode(image(cv::Rect(0, 0, image.cols / 2, image.rows)), ".jpg");
    one_ = new std::vector<char>(half.begin(), half.end());
  }
  static void TearDownTestSuite() {
    delete two_;
    delete one_;
  }
  static std::vector<char>* two_;  // two faces
  static std::vector<char>* one_;  // one face
};

std::vector<char>* Combined::two_ = nullptr;
std::vector<char>* Combined::one_ = nullptr;

TEST_F(Combined, ArgumentsAreCheckedFirst) {
  mv::FaceData d[1];
  mv::FaceDataEx ex[1];
  mv::FaceDataAngle a[1];
  size_t size = 1;
  const char* bytes = two_->data();
  for (size_t length : {size_t{0}, two_->size()}) {
    const char* b = length == 0 ? bytes : nullptr;
    EXPECT_EQ(-1, ExtractFacesInfo(b, length, d, &size, kCascades));
    EXPECT_EQ(-1, ExtractFacesInfoEx(b, length, ex, &size, kCascades));
    EXPECT_EQ(-1, ExtractFacesInfoAngle(b, length, a, &size, kCascades));
  }
  EXPECT_EQ(-1, ExtractFacesInfo(bytes, two_->size(), nullptr, &size, kCascades));
  EXPECT_EQ(-1, ExtractFacesInfo(bytes, two_->size(), d, nullptr, kCascades));
  size = 0;
  EXPECT_EQ(-1, ExtractFacesInfo(bytes, two_->size(), d, &size, kCascades));
  EXPECT_EQ(-1, ExtractFacesInfoAngle(bytes, two_->size(), a, &size, kCascades));
}

TEST_F(Combined, LengthsThatDoNotFitThirtyTwoBitsAreRefused) {
  // The decoder would see the length modulo 2^32 as a signed column count;
  // the bytes past the real buffer are never read.
  mv::FaceData d[1];
  mv::FaceDataEx ex[1];
  mv::FaceDataAngle a[1];
  for (size_t length : {size_t{1} << 31, (size_t{1} << 32) + two_->size(), ~size_t{0}}) {
    size_t size = 1;
    EXPECT_EQ(-1, ExtractFacesInfo(two_->data(), length, d, &size, kCascades));
    EXPECT_EQ(-1, ExtractFacesInfoEx(two_->data(), length, ex, &size, kCascades));
    EXPECT_EQ(-1, ExtractFacesInfoAngle(two_->data(), length, a, &size, kCascades));
    EXPECT_EQ(1u, size);
  }
}

TEST_F(Combined, BytesThatAreNotAnImage) {
  const std::vector<char> text(1000, 'x');
  mv::FaceData d[1];
  size_t size = 1;
  EXPECT_EQ(-2, ExtractFacesInfo(text.data(), text.size(), d, &size, kCascades));
  // A truncated file is not an image either.
  EXPECT_EQ(-2, ExtractFacesInfo(two_->data(), 100, d, &size, kCascades));
  EXPECT_EQ(1u, size);
}

TEST_F(Combined, ImageWithoutFaceLeavesTheOutputAlone) {
  const std::vector<unsigned char> blank = encode(cv::Mat(300, 400, CV_8UC3, cv::Scalar(90, 120, 150)), ".jpg");
  mv::FaceData d[2] = {filled<mv::FaceData>(0x33), filled<mv::FaceData>(0x44)};
  const mv::FaceData first = d[0];
  size_t size = 2;
  EXPECT_EQ(-4, ExtractFacesInfo(blank.data(), blank.size(), d, &size, kCascades));
  EXPECT_EQ(2u, size);
  EXPECT_TRUE(sameBytes(first, d[0]));

  mv::FaceDataAngle a[2] = {filled<mv::FaceDataAngle>(0x55), filled<mv::FaceDataAngle>(0x55)};
  const mv::FaceDataAngle before = a[1];
  EXPECT_EQ(-4, ExtractFacesInfoAngle(blank.data(), blank.size(), a, &size, kCascades));
  EXPECT_TRUE(sameBytes(before, a[1]));
  EXPECT_EQ(2u, size);
}

TEST_F(Combined, CapacityBeyondTheFacesFound) {
  mv::FaceData d[3] = {filled<mv::FaceData>(1), filled<mv::FaceData>(2), filled<mv::FaceData>(3)};
  const mv::FaceData second = d[1];
  size_t size = 3;
  ASSERT_EQ(0, ExtractFacesInfo(one_->data(), one_->size(), d, &size, kCascades));
  ASSERT_EQ(1u, size);
  EXPECT_TRUE(sameBytes(second, d[1]));
  EXPECT_GT(d[0].rect.w, 0);

  // The angle form writes every record: the face, then zero records.
  mv::FaceDataAngle a[3] = {filled<mv::FaceDataAngle>(7), filled<mv::FaceDataAngle>(7),
                            filled<mv::FaceDataAngle>(7)};
  size = 3;
  ASSERT_EQ(0, ExtractFacesInfoAngle(one_->data(), one_->size(), a, &size, kCascades));
  ASSERT_EQ(1u, size);
  EXPECT_TRUE(sameBytes(d[0], a[0].data));
  EXPECT_EQ(0.0, a[0].angle);
  EXPECT_TRUE(allZero(&a[1], 2 * sizeof(mv::FaceDataAngle)));
}

TEST_F(Combined, CapacityOfOneKeepsTheLargerFace) {
  mv::FaceData both[2];
  size_t size = 2;
  ASSERT_EQ(0, ExtractFacesInfo(two_->data(), two_->size(), both, &size, kCascades));
  ASSERT_EQ(2u, size);
  EXPECT_GE(int64_t{both[0].rect.w} * both[0].rect.h, int64_t{both[1].rect.w} * both[1].rect.h);

  mv::FaceData one[1];
  size = 1;
  ASSERT_EQ(0, ExtractFacesInfo(two_->data(), two_->size(), one, &size, kCascades));
  ASSERT_EQ(1u, size);
  EXPECT_TRUE(sameBytes(both[0], one[0]));
}

TEST_F(Combined, GreyJpegIsAnalysed) {
  cv::Mat grey;
  cv::cvtColor(photo("faces/two_people.jpg"), grey, cv::COLOR_BGR2GRAY);
  const std::vector<unsigned char> bytes = encode(grey, ".jpg");
  ASSERT_EQ(1, cv::imdecode(bytes, cv::IMREAD_ANYCOLOR).channels());
  mv::FaceData d[2];
  size_t size = 2;
  ASSERT_EQ(0, ExtractFacesInfo(bytes.data(), bytes.size(), d, &size, kCascades));
  EXPECT_GE(size, 1u);
}

TEST_F(Combined, FaceImagesComeWithTheDescriptors) {
  mv::FaceData plain[2];
  size_t size = 2;
  ASSERT_EQ(0, ExtractFacesInfo(two_->data(), two_->size(), plain, &size, kCascades));

  mv::FaceDataEx ex[2];
  size = 2;
  ASSERT_EQ(0, ExtractFacesInfoEx(two_->data(), two_->size(), ex, &size, kCascades));
  ASSERT_EQ(2u, size);
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(sameBytes(plain[i], static_cast<const mv::FaceData&>(ex[i])));
    const std::vector<char> image = ex[i].image();
    const cv::Mat crop = cv::imdecode(image, cv::IMREAD_COLOR);
    ASSERT_FALSE(crop.empty());
    // The crop is the face box, refitted to the landmarks.
    EXPECT_NEAR(plain[i].rect.w, crop.cols, plain[i].rect.w / 2);
  }
  // Calling again into the same records replaces (and frees) their images.
  size = 2;
  ASSERT_EQ(0, ExtractFacesInfoEx(two_->data(), two_->size(), ex, &size, kCascades));
  for (mv::FaceDataEx& r : ex) r.image_data.clear();
}

}  // namespace
