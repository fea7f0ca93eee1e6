// Reading, decoding, the working-size rule, scaling and clipping.

#include <climits>
#include <cmath>
#include <cstdint>
#include <fstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "image/image_size.h"
#include "morvik/image.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

using testing_support::scratchPath;

namespace {

struct ScaleCase {
  int cols, rows, min, max;
  double rescale;
  int width, height;
};

PreparedParams paramsFor(int cols, int rows, int min, int max) {
  cv::Mat image(rows, cols, CV_8UC1);
  PreparedParams params;
  params.scale = 42.0;  // every field is reset
  EXPECT_EQ(getImagePrepareParams(image, min, max, params), 0);
  return params;
}

}  // namespace

TEST(WorkingSize, TableOfBounds) {
  const ScaleCase cases[] = {
      {1600, 1200, 800, 800, 2.0, 800, 600},      {1200, 1600, 800, 800, 2.0, 600, 800},
      {1000, 1000, 800, 800, 1.25, 800, 800},     {801, 600, 800, 800, 1.00125, 800, 599},
      {800, 600, 800, 800, 0.75, 1066, 800},      {799, 600, 800, 800, 0.99875, 800, 600},
      {600, 800, 800, 800, 0.0, 0, 0},            {5000, 100, 0, 0, 0.0, 0, 0},
      {220, 50, 110, 110, 2.0, 110, 25},          {50, 60, 110, 110, 60.0 / 110, 91, 110},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.cols << "x" << c.rows << " min " << c.min << " max " << c.max);
    const PreparedParams p = paramsFor(c.cols, c.rows, c.min, c.max);
    EXPECT_DOUBLE_EQ(p.rescale, c.rescale);
    EXPECT_EQ(p.size, cv::Size(c.width, c.height));
    if (c.rescale == 0.0) {
      EXPECT_EQ(p.scale, 0.0);
    } else {
      EXPECT_DOUBLE_EQ(p.scale, 1.0 / c.rescale);
    }
  }
}

TEST(WorkingSize, DegenerateImagesKeepAtLeastOnePixel) {
  PreparedParams p = paramsFor(2000, 1, 800, 800);
  EXPECT_DOUBLE_EQ(p.rescale, 2.5);
  EXPECT_EQ(p.size, cv::Size(800, 1));
  p = paramsFor(1, 5000, 800, 800);
  EXPECT_EQ(p.size, cv::Size(1, 800));

  cv::Mat wide(1, 2000, CV_8UC3, cv::Scalar(1, 2, 3)), prepared;
  EXPECT_EQ(imagePrepare(wide, paramsFor(2000, 1, 800, 800), prepared), 0);
  EXPECT_EQ(prepared.size(), cv::Size(800, 1));
}

TEST(WorkingSize, NegativeBoundsAreSwitchedOff) {
  PreparedParams p = paramsFor(1600, 1200, -1, -800);
  EXPECT_EQ(p.rescale, 0.0);
  p = paramsFor(300, 200, 800, -5);  // only the lower bound acts
  EXPECT_EQ(p.size, cv::Size(800, 533));
}

TEST(WorkingSize, PrepareCopiesOrResizes) {
  cv::Mat image(600, 800, CV_8UC3, cv::Scalar(5, 6, 7));
  cv::Mat copy;
  EXPECT_EQ(imagePrepare(image, PreparedParams(), copy), 0);
  ASSERT_EQ(copy.size(), image.size());
  copy.at<cv::Vec3b>(0, 0) = cv::Vec3b(0, 0, 0);
  EXPECT_EQ(image.at<cv::Vec3b>(0, 0), cv::Vec3b(5, 6, 7)) << "a deep copy, not a view";

  PreparedParams half;
  half.scale = 0.5;
  half.rescale = 2.0;
  half.size = cv::Size(400, 300);
  cv::Mat in_place = image.clone();
  EXPECT_EQ(imagePrepare(in_place, half, in_place), 0);
  EXPECT_EQ(in_place.size(), cv::Size(400, 300));
  EXPECT_EQ(in_place.at<cv::Vec3b>(150, 200), cv::Vec3b(5, 6, 7));
}

TEST(Clipping, CorrectBorders) {
  cv::Mat image(100, 100, CV_8UC1);
  cv::Rect r(-10, 5, 50, 50);
  correctBorders(r, image);
  EXPECT_EQ(r, cv::Rect(0, 5, 40, 50));
  r = cv::Rect(60, 60, 40, 40);
  correctBorders(r, image);
  EXPECT_EQ(r, cv::Rect(60, 60, 39, 39));
  r = cv::Rect(10, 10, 20, 20);
  correctBorders(r, image);
  EXPECT_EQ(r, cv::Rect(10, 10, 20, 20));
  r = cv::Rect(-20, -30, 200, 200);  // larger than the image on all sides
  correctBorders(r, image);
  EXPECT_EQ(r, cv::Rect(0, 0, 99, 99));
  r = cv::Rect(INT32_MAX - 5, INT32_MIN + 5, 100, 100);  // edges past the 32-bit range
  correctBorders(r, image);
  EXPECT_EQ(r.y, 0);
  EXPECT_LE(r.width, 0);
  EXPECT_LE(r.height, 0);
  r = cv::Rect(120, 10, 10, 10);  // beyond the right edge: not a usable rectangle
  correctBorders(r, image);
  EXPECT_LE(r.width, 0);
}

TEST(ImageInput, ReadFile) {
  std::vector<char> bytes;
  EXPECT_EQ(read_file(nullptr, bytes), 0);
  EXPECT_EQ(read_file("/nonexistent/file", bytes), 0);
  EXPECT_EQ(read_file("/tmp", bytes), 0) << "a directory reads as nothing";

  const std::string path = scratchPath("bytes.bin");
  std::ofstream(path, std::ios::binary) << std::string("ab\0cd", 5);
  bytes.assign(10, 'x');  // a longer vector is cut to the file's length
  EXPECT_EQ(read_file(path.c_str(), bytes), 5);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("ab\0cd", 5));
  std::remove(path.c_str());
}

TEST(ImageInput, DecodeImage) {
  cv::Mat colour(12, 16, CV_8UC3, cv::Scalar(1, 2, 3)), grey(12, 16, CV_8UC1, cv::Scalar(9)), out;
  std::vector<unsigned char> png;
  ASSERT_TRUE(cv::imencode(".png", colour, png));
  EXPECT_EQ(decodeImage(png.data(), png.size(), out), 0);
  EXPECT_EQ(out.type(), CV_8UC3);
  EXPECT_EQ(out.at<cv::Vec3b>(0, 0), cv::Vec3b(1, 2, 3));
  ASSERT_TRUE(cv::imencode(".png", grey, png));
  EXPECT_EQ(decodeImage(png.data(), png.size(), out), 0);
  EXPECT_EQ(out.channels(), 1) << "grey stays one channel";

  const char junk[] = "this is not an image";
  EXPECT_EQ(decodeImage(junk, sizeof(junk), out), -2);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(decodeImage(junk, 0, out), -2);
  EXPECT_EQ(decodeImage(nullptr, 0, out), -2);
  png.resize(png.size() / 2);  // truncated file
  EXPECT_NO_THROW(decodeImage(png.data(), png.size(), out));
}

TEST(Formatting, Sformat) {
  EXPECT_EQ(sformat("%d", 7), "7");
  const std::string long_text(500, 'z');
  EXPECT_EQ(sformat("<%s>", long_text.c_str()), "<" + long_text + ">");
  EXPECT_EQ(sformat("%s=%.2f", "pi", 3.14159), "pi=3.14");
  EXPECT_EQ(sformat(""), "");
}

namespace {

// A matrix header of any size: the working-size rule reads the size only,
// so no pixels are allocated.
PreparedParams paramsForHeader(int cols, int rows, int min, int max) {
  static unsigned char pixel = 0;
  const cv::Mat image(rows, cols, CV_8UC1, &pixel);
  PreparedParams params;
  EXPECT_EQ(getImagePrepareParams(image, min, max, params), 0);
  return params;
}

int64_t area(const cv::Size& s) { return int64_t{s.width} * s.height; }

class WorkingBound : public ::testing::Test {
 protected:
  void TearDown() override {
    int pixels = 16777216, side = 8192;
    SetOption("image.max_working_pixels", &pixels, sizeof pixels);
    SetOption("image.max_working_side", &side, sizeof side);
  }
};

}  // namespace

TEST_F(WorkingBound, StripsAreEnlargedOnlyUpToTheBound) {
  // One row of 800: the rule alone would make it 640000 x 800.
  PreparedParams p = paramsForHeader(800, 1, 800, 800);
  EXPECT_EQ(p.size, cv::Size(8192, 10));
  EXPECT_DOUBLE_EQ(p.scale, 8192.0 / 800);
  EXPECT_DOUBLE_EQ(p.rescale, 800.0 / 8192);
  // One column of 800 rows is left alone by the rule, and so by the bound.
  p = paramsForHeader(1, 800, 800, 800);
  EXPECT_EQ(p.rescale, 0.0);
  EXPECT_EQ(p.size, cv::Size());
  // One column of 20 rows grows until its height is 800: a 40-pixel-wide
  // column, within the bound.
  p = paramsForHeader(1, 20, 800, 800);
  EXPECT_EQ(p.size, cv::Size(40, 800));
  // Two rows: 800 x 2 would become 320000 x 800.
  p = paramsForHeader(800, 2, 800, 800);
  EXPECT_EQ(p.size, cv::Size(8192, 20));
  // Huge bounds from the caller are held to the same limit.
  p = paramsForHeader(3, 2000, INT_MAX, INT_MAX);
  EXPECT_LE(p.size.height, 8192);
  EXPECT_LE(area(p.size), 16777216);
}

TEST_F(WorkingBound, ImagesLeftAtTheirSizeAreShrunkToTheBound) {
  PreparedParams p = paramsForHeader(20000, 20000, 0, 0);
  EXPECT_GE(p.size.width, 4094);
  EXPECT_LE(area(p.size), 16777216);
  EXPECT_EQ(p.size.width, p.size.height);
  EXPECT_GT(p.rescale, 1.0);
  p = paramsForHeader(30000, 9000, 0, 0);
  EXPECT_LE(area(p.size), 16777216);
  EXPECT_GT(area(p.size), 16000000);
  // Down to the longest side allowed, at most a pixel short of it.
  for (int cols : {100000, INT_MAX}) {
    p = paramsForHeader(cols, 1, 0, 0);
    EXPECT_GE(p.size.width, 8191) << cols;
    EXPECT_LE(p.size.width, 8192) << cols;
    EXPECT_EQ(p.size.height, 1) << cols;
  }
}

TEST_F(WorkingBound, OrdinaryPhotosKeepTheRulesSize) {
  // The CNN's scale of a 4:1 panorama, and a photo left at its size.
  PreparedParams p = paramsForHeader(1280, 320, 1280, 1280);
  EXPECT_EQ(p.size, cv::Size(5120, 1280));
  EXPECT_DOUBLE_EQ(p.rescale, 0.25);
  p = paramsForHeader(4000, 3000, 0, 0);
  EXPECT_EQ(p.rescale, 0.0);
  EXPECT_EQ(p.size, cv::Size());
}

TEST_F(WorkingBound, FollowsTheOptions) {
  int side = 1024;
  ASSERT_EQ(SetOption("image.max_working_side", &side, sizeof side), MV_OK);
  EXPECT_EQ(paramsForHeader(800, 1, 800, 800).size, cv::Size(1024, 1));
  int pixels = 65536;
  ASSERT_EQ(SetOption("image.max_working_pixels", &pixels, sizeof pixels), MV_OK);
  const PreparedParams p = paramsForHeader(800, 600, 800, 800);
  EXPECT_LE(area(p.size), 65536);
  EXPECT_NEAR(double(p.size.width) / p.size.height, 800.0 / 600, 0.02);
}

TEST_F(WorkingBound, FactorsForResizesStayWithin) {
  // What the confirmer asks for a tiny candidate in a long crop.
  const double f = morvik::boundedFactor(cv::Size(8192, 10), 95.0);
  EXPECT_LT(f, 95.0);
  cv::Mat crop(10, 8192, CV_8UC1, cv::Scalar(0)), scaled;
  cv::resize(crop, scaled, cv::Size(), f, f, cv::INTER_CUBIC);
  EXPECT_TRUE(morvik::withinWorkingBound(scaled.size())) << scaled.size();
  EXPECT_EQ(morvik::boundedFactor(cv::Size(100, 100), 2.0), 2.0);
}

TEST(SizeArithmetic, SaturatesInsteadOfOverflowing) {
  EXPECT_EQ(morvik::saturateToInt(1e300), INT_MAX);
  EXPECT_EQ(morvik::saturateToInt(-1e300), INT_MIN);
  EXPECT_EQ(morvik::saturateToInt(std::nan("")), 0);
  EXPECT_EQ(morvik::saturateToInt(-2.7), -2);
  EXPECT_EQ(morvik::saturateToInt(int64_t{1} << 40), INT_MAX);
  EXPECT_EQ(morvik::scaledLength(INT_MAX, 1e-3), INT_MAX);
  EXPECT_EQ(morvik::scaledLength(3, 1000.0), 1);
  EXPECT_EQ(morvik::pixelCount(cv::Size(INT_MAX, INT_MAX)), int64_t{INT_MAX} * INT_MAX);
  EXPECT_EQ(morvik::scaledRect(cv::Rect(1 << 30, 0, 1 << 30, 10), 4.0), cv::Rect(INT_MAX, 0, INT_MAX, 40));
}

namespace {

void putBig32(std::vector<unsigned char>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

// A PNG signature and header chunk that claim width x height, and nothing
// after them: a decoder that trusts the header allocates the pixels first.
std::vector<unsigned char> pngClaiming(uint32_t width, uint32_t height) {
  std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  putBig32(png, 13);
  png.insert(png.end(), {'I', 'H', 'D', 'R'});
  putBig32(png, width);
  putBig32(png, height);
  png.insert(png.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
  putBig32(png, 0);                        // CRC, not checked before the pixels
  png.resize(png.size() + 64, 0);
  return png;
}

class DecodeLimit : public ::testing::Test {
 protected:
  void TearDown() override {
    int limit = 100000000;
    SetOption("image.max_decoded_pixels", &limit, sizeof limit);
  }
};

}  // namespace

TEST_F(DecodeLimit, HeadersClaimingHugeImagesAreRefusedBeforeDecoding) {
  const std::vector<unsigned char> huge = pngClaiming(60000, 60000);
  cv::Mat image(2, 2, CV_8UC3);
  EXPECT_EQ(decodeImage(huge.data(), huge.size(), image), MV_PARSE_IMAGE);
  EXPECT_TRUE(image.empty());
  std::vector<mv::FaceData> data(1);
  size_t count = 1;
  EXPECT_EQ(ExtractFacesInfo(huge.data(), huge.size(), data.data(), &count, mv::FindPico), MV_PARSE_IMAGE);
  EXPECT_EQ(count, 1u);
}

TEST_F(DecodeLimit, FollowsTheOption) {
  const std::vector<char> jpeg = testing_support::fileBytes(testing_support::testdata("faces/2007_007763.jpg"));
  ASSERT_FALSE(jpeg.empty());
  cv::Mat image;
  ASSERT_EQ(decodeImage(jpeg.data(), jpeg.size(), image), MV_OK);
  const int pixels = image.cols * image.rows;
  int limit = pixels - 1;
  ASSERT_EQ(SetOption("image.max_decoded_pixels", &limit, sizeof limit), MV_OK);
  EXPECT_EQ(decodeImage(jpeg.data(), jpeg.size(), image), MV_PARSE_IMAGE);
  limit = pixels;
  ASSERT_EQ(SetOption("image.max_decoded_pixels", &limit, sizeof limit), MV_OK);
  EXPECT_EQ(decodeImage(jpeg.data(), jpeg.size(), image), MV_OK);
  // A format whose header is not read ahead is held to the limit once
  // decoded.
  std::vector<unsigned char> pfm;
  ASSERT_TRUE(cv::imencode(".pfm", cv::Mat(30, 40, CV_32FC3, cv::Scalar(0.5, 0.5, 0.5)), pfm));
  limit = 1199;
  ASSERT_EQ(SetOption("image.max_decoded_pixels", &limit, sizeof limit), MV_OK);
  EXPECT_EQ(decodeImage(pfm.data(), pfm.size(), image), MV_PARSE_IMAGE);
  limit = 1200;
  ASSERT_EQ(SetOption("image.max_decoded_pixels", &limit, sizeof limit), MV_OK);
  EXPECT_EQ(decodeImage(pfm.data(), pfm.size(), image), MV_OK);
}
