// Tier: stable interface (the C/C++ entry points and records hosts build on).
// Public records exchanged with the host. Their layouts are fixed: hosts
// exchange whole arrays of them by byte copy (x86-64, natural alignment).
#ifndef MORVIK_TYPES_H_
#define MORVIK_TYPES_H_

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

#include <opencv2/core.hpp>

#include "morvik/export.h"

namespace mv {

// A pixel position. For eye fields (0, 0) means "no eye position known".
struct MORVIK_API Point {
  int32_t x;
  int32_t y;

  Point& operator=(const cv::Point& p);
  // The centre of the rectangle (halves floored).
  Point& operator=(const cv::Rect& r);
};

// Same layout and meaning as cv::Rect.
struct MORVIK_API Rectangle {
  int32_t x;
  int32_t y;
  int32_t w;
  int32_t h;

  Rectangle& operator=(const cv::Rect& r);
  operator cv::Rect() const;
};

// One face with its eye centres. "left" and "right" name the sides of the
// image as stored (left_eye has the smaller x), not the person's.
struct Face {
  bool from_shape;  // eyes and rectangle were fitted from the 68-point shape
  double angle;     // in-plane rotation in degrees, as the finder reported it
  Rectangle rect;
  Point right_eye;
  Point left_eye;
};

// A face as the search found it, with what its finder knew of it beyond the
// box. The points are those of finders that give them (the YuNet finder):
// the eye on the image's left, the eye on its right, the nose tip, the mouth
// corner on the left and the one on the right, in pixels of the image.
struct FoundFace {
  Face face;
  float score;          // the finder's own score of the face (MvFoundFace); NaN when it gives none
  int32_t point_count;  // 5 when `points` are set, else 0
  Point points[5];
};

// One face with its 128-value descriptor.
struct MORVIK_API FaceData {
  Rectangle rect;
  Point right_eye;
  Point left_eye;
  float vector[128];

  // The descriptor widened to double; always 128 elements.
  std::vector<double> double_vector() const;
};

// An owned byte buffer from malloc; released with free.
struct MORVIK_API Data {
  unsigned char* data = nullptr;
  size_t size = 0;

  Data() = default;
  Data(const Data& other);
  Data(Data&& other) noexcept;
  ~Data();

  Data& operator=(const Data& other);
  Data& operator=(Data&& other) noexcept;
  Data& operator=(const std::vector<char>& bytes);
  Data& operator=(const std::vector<unsigned char>& bytes);
  // Encodes the image in the format that "image.format" names.
  Data& operator=(const cv::Mat& image);

  // Releases the buffer and leaves the record empty.
  void clear();
};

// A FaceData with the aligned face image, encoded. The FaceData part has the
// same offsets as a FaceData, so the record can be read as one.
struct MORVIK_API FaceDataEx : FaceData {
  Data image_data;

  FaceDataEx& operator=(const FaceData& other);  // image_data is kept
  FaceDataEx& operator=(const FaceDataEx& other);
  FaceDataEx& operator=(const cv::Mat& image);

  // A copy of the encoded image bytes.
  std::vector<char> image() const;
};

// Output record of ExtractFacesInfoAngle.
struct FaceDataAngle {
  FaceData data;
  double angle;
};

// Bit set selecting the face finders; see the finder interface. The values
// are morvik_c.h's MV_FIND_ bits.
enum FindFaceAlgoType : uint8_t {
  FindNone = 0x00,
  FindLBP = 0x02,
  FindHaar = 0x04,
  FindDlib = 0x08,
  FindCNN = 0x10,
  FindPico = 0x20,
  FindConfirm = 0x40,
  // The YuNet finder, first in the chain, when the option "find.yunet" is 1;
  // with the option at 0 (its default) the bit selects nothing.
  FindYunet = 0x80,
};

// Finder selections wider than the byte above, for the entry points that
// take 32 bits: bits 0x01 to 0x80 mean what they mean in a
// FindFaceAlgoType, and this bit selects the YuNet finder whatever
// "find.yunet" says.
constexpr uint32_t FindYunetAlways = 0x100;

MORVIK_API bool operator==(const FaceData& a, const FaceData& b);
MORVIK_API bool operator==(const FaceDataEx& a, const FaceDataEx& b);

}  // namespace mv

// Diagnostic stream output.
MORVIK_API std::ostream& operator<<(std::ostream& os, const mv::Point& p);
MORVIK_API std::ostream& operator<<(std::ostream& os, const mv::Rectangle& r);
MORVIK_API std::ostream& operator<<(std::ostream& os, const mv::FaceData& f);
MORVIK_API std::ostream& operator<<(std::ostream& os, const mv::FaceDataEx& f);
MORVIK_API std::ostream& operator<<(std::ostream& os, const std::vector<cv::Rect>& rects);

#endif  // MORVIK_TYPES_H_
