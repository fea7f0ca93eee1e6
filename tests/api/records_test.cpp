// Public records: zero initialisation, conversions, ownership of the image
// buffers, equality and diagnostic output.

#include <cstring>
#include <sstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "morvik/config.h"
#include "morvik/morvik.h"
#include "morvik/types.h"

namespace {

template <typename T>
bool allZeroBytes(const T& value) {
  const auto* p = reinterpret_cast<const unsigned char*>(&value);
  for (size_t i = 0; i < sizeof(T); ++i)
    if (p[i] != 0) return false;
  return true;
}

template <typename T>
void fillWithGarbageAndValueInit(void* storage) {
  std::memset(storage, 0xAB, sizeof(T));
  new (storage) T();
}

std::vector<unsigned char> bytes(std::initializer_list<unsigned char> list) { return list; }

}  // namespace

TEST(Records, ValueInitialisedRecordsAreAllZeroBytes) {
  alignas(16) unsigned char storage[sizeof(mv::FaceDataEx)];
  fillWithGarbageAndValueInit<mv::Face>(storage);
  EXPECT_TRUE(allZeroBytes(*reinterpret_cast<mv::Face*>(storage)));
  fillWithGarbageAndValueInit<mv::FaceData>(storage);
  EXPECT_TRUE(allZeroBytes(*reinterpret_cast<mv::FaceData*>(storage)));
  fillWithGarbageAndValueInit<mv::FaceDataEx>(storage);
  EXPECT_TRUE(allZeroBytes(*reinterpret_cast<mv::FaceDataEx*>(storage)));
  reinterpret_cast<mv::FaceDataEx*>(storage)->~FaceDataEx();
  mv::Data empty;
  EXPECT_EQ(empty.data, nullptr);
  EXPECT_EQ(empty.size, 0u);
}

TEST(Records, PointAndRectangleConversions) {
  mv::Point p{};
  p = cv::Rect(0, 0, 5, 7);
  EXPECT_EQ(p.x, 2);
  EXPECT_EQ(p.y, 3);
  p = cv::Rect(-3, -3, 3, 3);  // halves are floored
  EXPECT_EQ(p.x, -2);
  p = cv::Point(11, -4);
  EXPECT_EQ(p.x, 11);
  EXPECT_EQ(p.y, -4);
  mv::Rectangle r{};
  r = cv::Rect(1, 2, 3, 4);
  EXPECT_EQ(cv::Rect(r), cv::Rect(1, 2, 3, 4));
  EXPECT_EQ(r.w, 3);
  EXPECT_EQ(r.h, 4);
}

TEST(Records, DataCopiesOwnAndReleaseTheirBuffers) {
  mv::Data a;
  a = bytes({1, 2, 3});
  ASSERT_EQ(a.size, 3u);
  mv::Data b(a);
  ASSERT_NE(b.data, a.data);
  EXPECT_EQ(std::memcmp(a.data, b.data, 3), 0);

  a = std::vector<char>();  // releases and empties
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.size, 0u);

  mv::Data odd;  // a buffer with a zero size copies as empty
  odd.data = static_cast<unsigned char*>(std::malloc(4));
  mv::Data c;
  c = bytes({9});
  c = odd;
  EXPECT_EQ(c.data, nullptr);
  EXPECT_EQ(c.size, 0u);

  b = b;  // self-assignment keeps the bytes
  ASSERT_EQ(b.size, 3u);
  EXPECT_EQ(b.data[2], 3);

  mv::Data moved(std::move(b));
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(moved.size, 3u);
}

TEST(Records, FaceDataExAssignments) {
  mv::FaceDataEx ex{};
  ex.image_data = bytes({7, 8});
  unsigned char* const buffer = ex.image_data.data;

  mv::FaceData fd{};
  fd.rect = cv::Rect(1, 2, 3, 4);
  fd.vector[127] = 0.5f;
  ex = fd;  // the image is kept
  EXPECT_EQ(ex.image_data.data, buffer);
  EXPECT_EQ(ex.rect.w, 3);
  EXPECT_EQ(ex.vector[127], 0.5f);

  mv::FaceDataEx copy{};
  copy = ex;  // deep copy of the image
  EXPECT_NE(copy.image_data.data, ex.image_data.data);
  EXPECT_EQ(copy.image(), ex.image());
  EXPECT_TRUE(static_cast<const mv::FaceData&>(copy) == fd);
  // Equal images in separate buffers: unequal records.
  EXPECT_FALSE(copy == ex);
  mv::FaceDataEx same;
  std::memcpy(static_cast<void*>(&same), &ex, sizeof(ex));
  EXPECT_TRUE(same == ex);
  std::memset(static_cast<void*>(&same), 0, sizeof(same));  // not an owner: forget the byte copy

  fd.vector[0] = 1.0f;
  EXPECT_FALSE(static_cast<const mv::FaceData&>(ex) == fd);
  EXPECT_EQ(fd.double_vector().size(), 128u);
  EXPECT_EQ(fd.double_vector()[0], 1.0);
  EXPECT_TRUE(mv::FaceDataEx().image().empty());
}

TEST(Records, ImageIsEncodedInTheConfiguredFormat) {
  cv::Mat image(20, 30, CV_8UC3, cv::Scalar(10, 20, 30));
  mv::FaceDataEx ex{};
  ex = image;
  ASSERT_GT(ex.image_data.size, 8u);
  EXPECT_EQ(std::memcmp(ex.image_data.data, "\x89PNG", 4), 0);
  cv::Mat decoded = cv::imdecode(ex.image(), cv::IMREAD_UNCHANGED);
  EXPECT_EQ(decoded.size(), image.size());

  const std::string saved = g_config.image_format;
  g_config.image_format = ".jpg";
  ex = image;
  EXPECT_EQ(ex.image_data.data[0], 0xFF);
  EXPECT_EQ(ex.image_data.data[1], 0xD8);
  // An unknown format encodes nothing and leaves the record empty.
  g_config.image_format = ".nope";
  ex = image;
  EXPECT_EQ(ex.image_data.data, nullptr);
  EXPECT_EQ(ex.image_data.size, 0u);
  g_config.image_format = saved;
}

TEST(Records, StreamOutput) {
  std::ostringstream out;
  out << mv::Rectangle{10, 20, 30, 40} << mv::Point{-1, 2};
  EXPECT_EQ(out.str(), "[10,20,30,40][-1,2]");

  mv::FaceDataEx fd{};
  fd.rect = cv::Rect(1, 2, 3, 4);
  fd.right_eye = cv::Point(9, 9);
  fd.left_eye = cv::Point(5, 6);
  out.str("");
  out << static_cast<const mv::FaceData&>(fd);
  EXPECT_EQ(out.str(), "[[1,2,3,4], [5,6], [9,9]]");  // left-hand eye first
  out.str("");
  out << fd;
  EXPECT_EQ(out.str(), "[[1,2,3,4], [5,6], [9,9]]");

  out.str("");
  out << std::vector<cv::Rect>{cv::Rect(10, 20, 30, 40), cv::Rect(1, 2, 5, 6)} << std::vector<cv::Rect>{};
  EXPECT_EQ(out.str(), "[[30 x 40 from (10, 20)],[5 x 6 from (1, 2)]][]");
}
