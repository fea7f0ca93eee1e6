// The index records through their entry points: the layout of a record, the
// faces that carry a descriptor, strings kept byte for byte, and the
// arguments refused. (tests/python/test_encoded.py checks index files
// written before the writer moved into the library against it, byte for
// byte.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>

#include "morvik/morvik.h"
// After morvik.h, so that the shared entry points keep their C++ declarations.
#include "morvik/morvik_c.h"
#include "morvik/collection.h"

namespace {

std::string taken(char* text, size_t length) {
  EXPECT_NE(text, nullptr);
  if (text == nullptr) return {};
  EXPECT_EQ(text[length], '\0');
  std::string record(text, length);
  std::free(text);
  return record;
}

std::string photoRecord(const std::string& photo, const MvFoundFace* faces, size_t count, const MvFaceData* data,
                        size_t data_count, int64_t finder = -1, int64_t align_mode = -1) {
  char* text = nullptr;
  size_t length = 0;
  EXPECT_EQ(MvFormatPhotoRecord(photo.data(), photo.size(), faces, count, data, data_count, finder, align_mode,
                                &text, &length),
            MV_C_OK);
  return taken(text, length);
}

std::string errorRecord(const std::string& photo, int code, const std::string& detail) {
  char* text = nullptr;
  size_t length = 0;
  EXPECT_EQ(MvFormatErrorRecord(photo.data(), photo.size(), code, detail.data(), detail.size(), &text, &length),
            MV_C_OK);
  return taken(text, length);
}

// A face as a finder without score or points (the cascades, pico) gives it.
MvFoundFace someFace(int32_t x, double angle) {
  MvFoundFace found{};
  MvFace& face = found.face;
  face.rect = {x, 20, 30, 40};
  face.left_eye = {x + 5, 30};
  face.right_eye = {x + 20, 31};
  face.from_shape = true;
  face.angle = angle;
  found.score = std::numeric_limits<float>::quiet_NaN();
  found.point_count = 0;
  return found;
}

TEST(PhotoRecord, DescribedFacesCarryTheDescriptionsBoxAndValues) {
  const MvFoundFace faces[2] = {someFace(10, 2.5), someFace(-7, 0.0)};
  MvFaceData data{};
  data.rect = {11, 21, 31, 41};
  data.left_eye = {1, 2};
  data.right_eye = {3, 4};
  for (int i = 0; i < 128; ++i) data.vector[i] = static_cast<float>(i) / 4.0f - 1.0f;
  const std::string record = photoRecord("a.jpg", faces, 2, &data, 1);
  EXPECT_EQ(record.rfind("{\"photo\":\"a.jpg\",\"faces\":[{\"rect\":{\"x\":11,\"y\":21,\"w\":31,\"h\":41},"
                         "\"left_eye\":{\"x\":1,\"y\":2},\"right_eye\":{\"x\":3,\"y\":4},"
                         "\"from_shape\":true,\"angle\":2.5,\"descriptor\":[-1,-0.75,-0.5,-0.25,0,0.25,",
                         0),
            0u)
      << record;
  EXPECT_NE(record.find(",30.75]},{\"rect\":{\"x\":-7,\"y\":20,\"w\":30,\"h\":40},\"left_eye\":{\"x\":-2,"
                        "\"y\":30},\"right_eye\":{\"x\":13,\"y\":31},\"from_shape\":true,\"angle\":0}]}"),
            std::string::npos)
      << record;
  // Descriptions beyond the faces are not written; no face, no descriptor.
  EXPECT_EQ(photoRecord("a.jpg", faces, 0, &data, 1), "{\"photo\":\"a.jpg\",\"faces\":[]}");
  EXPECT_EQ(photoRecord("a.jpg", faces, 1, nullptr, 0).find("descriptor"), std::string::npos);
}

TEST(PhotoRecord, NumbersThatDoNotReadBackAreNull) {
  MvFoundFace face = someFace(0, std::numeric_limits<double>::quiet_NaN());
  MvFaceData data{};
  data.vector[0] = std::numeric_limits<float>::infinity();
  data.vector[1] = 0.1f;
  const std::string record = photoRecord("p", &face, 1, &data, 1);
  EXPECT_NE(record.find("\"angle\":null,\"descriptor\":[null,0.1,0,"), std::string::npos) << record;
}

TEST(PhotoRecord, ScorePointsAndTheWayOfDescribingAreWrittenWhenGiven) {
  MvFoundFace found = someFace(3, 0.0);
  found.score = 0.875f;
  found.point_count = 5;
  for (int i = 0; i < 5; ++i) found.points[i] = {i, -i};
  const std::string record = photoRecord("a.jpg", &found, 1, nullptr, 0, 0x100, 1);
  EXPECT_EQ(record.rfind("{\"photo\":\"a.jpg\",\"finder\":256,\"align_mode\":1,\"faces\":[", 0), 0u) << record;
  EXPECT_NE(record.find("\"angle\":0,\"score\":0.875,\"points\":[{\"x\":0,\"y\":0},{\"x\":1,\"y\":-1},"
                        "{\"x\":2,\"y\":-2},{\"x\":3,\"y\":-3},{\"x\":4,\"y\":-4}]}"),
            std::string::npos)
      << record;
  // A score without points (HOG), and a point count past the record's five.
  found.point_count = 0;
  EXPECT_NE(photoRecord("a.jpg", &found, 1, nullptr, 0).find("\"score\":0.875,\"points\":[]}"), std::string::npos);
  found.point_count = 1000;
  EXPECT_NE(photoRecord("a.jpg", &found, 1, nullptr, 0).find("{\"x\":4,\"y\":-4}]}"), std::string::npos);
  // Either way unknown: neither is written.
  EXPECT_EQ(photoRecord("a.jpg", &found, 1, nullptr, 0, 0x100, -1).find("finder"), std::string::npos);
}

TEST(PhotoRecord, StringsAreKeptByteForByteAndBytesOutsideUtf8Escaped) {
  const std::string photo("q\"\\\n\r\t\x01\x7f\xe9\0z\xc3\xa9", 13);
  const std::string record = photoRecord(photo, nullptr, 0, nullptr, 0);
  EXPECT_EQ(record,
            std::string("{\"photo\":\"q\\\"\\\\\\n\\r\\t\\u0001\x7f\\udce9\\u0000z\xc3\xa9\",\"faces\":[]}"));
  EXPECT_EQ(errorRecord("", MV_C_NO_FACE, "d\""),
            std::string("{\"photo\":\"\",\"error\":{\"code\":-4,\"message\":\"") + GetResult(MV_C_NO_FACE) +
                "\",\"detail\":\"d\\\"\"}}");
  EXPECT_NE(errorRecord("x", 12345, "").find("\"code\":12345,\"message\":\"Unknown error\""), std::string::npos);
}

TEST(PhotoRecord, BadArgumentsWriteNothing) {
  const MvFoundFace face = someFace(0, 0.0);
  const MvFaceData data{};
  char* text = nullptr;
  size_t length = 7;
  EXPECT_EQ(MvFormatPhotoRecord(nullptr, 1, &face, 1, &data, 1, -1, -1, &text, &length), MV_C_INVALID_ARGS);
  EXPECT_EQ(MvFormatPhotoRecord("p", 1, nullptr, 1, &data, 1, -1, -1, &text, &length), MV_C_INVALID_ARGS);
  EXPECT_EQ(MvFormatPhotoRecord("p", 1, &face, 1, nullptr, 1, -1, -1, &text, &length), MV_C_INVALID_ARGS);
  EXPECT_EQ(MvFormatPhotoRecord("p", 1, &face, 1, &data, 1, -1, -1, nullptr, &length), MV_C_INVALID_ARGS);
  EXPECT_EQ(MvFormatPhotoRecord("p", 1, &face, 1, &data, 1, -1, -1, &text, nullptr), MV_C_INVALID_ARGS);
  EXPECT_EQ(MvFormatErrorRecord(nullptr, 2, -1, "d", 1, &text, &length), MV_C_INVALID_ARGS);
  EXPECT_EQ(MvFormatErrorRecord("p", 1, -1, nullptr, 1, &text, &length), MV_C_INVALID_ARGS);
  EXPECT_EQ(MvFormatErrorRecord("p", 1, -1, "d", 1, nullptr, &length), MV_C_INVALID_ARGS);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(length, 7u);
  // Null texts of no bytes are empty texts.
  ASSERT_EQ(MvFormatErrorRecord(nullptr, 0, -1, nullptr, 0, &text, &length), MV_C_OK);
  EXPECT_EQ(taken(text, length).rfind("{\"photo\":\"\",\"error\":", 0), 0u);
}

}  // namespace
