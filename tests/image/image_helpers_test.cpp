// Reading, decoding, the working-size rule, scaling and clipping.

#include <fstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "morvik/image.h"
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
