// Operators and ownership rules of the public records.

#include <cstdlib>
#include <cstring>

#include <opencv2/imgcodecs.hpp>

#include "morvik/config.h"
#include "morvik/types.h"

// Hosts exchange arrays of these records by byte copy: the layouts are part
// of the interface.
static_assert(sizeof(mv::Point) == 8 && offsetof(mv::Point, x) == 0 && offsetof(mv::Point, y) == 4, "Point");
static_assert(sizeof(mv::Rectangle) == 16 && offsetof(mv::Rectangle, x) == 0 &&
                  offsetof(mv::Rectangle, y) == 4 && offsetof(mv::Rectangle, w) == 8 &&
                  offsetof(mv::Rectangle, h) == 12,
              "Rectangle");
static_assert(sizeof(mv::Face) == 48 && offsetof(mv::Face, from_shape) == 0 && offsetof(mv::Face, angle) == 8 &&
                  offsetof(mv::Face, rect) == 16 && offsetof(mv::Face, right_eye) == 32 &&
                  offsetof(mv::Face, left_eye) == 40,
              "Face");
static_assert(sizeof(mv::FaceData) == 544 && offsetof(mv::FaceData, rect) == 0 &&
                  offsetof(mv::FaceData, right_eye) == 16 && offsetof(mv::FaceData, left_eye) == 24 &&
                  offsetof(mv::FaceData, vector) == 32,
              "FaceData");
static_assert(sizeof(mv::Data) == 16 && offsetof(mv::Data, data) == 0 && offsetof(mv::Data, size) == 8, "Data");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(sizeof(mv::FaceDataEx) == 560 && offsetof(mv::FaceDataEx, rect) == 0 &&
                  offsetof(mv::FaceDataEx, vector) == 32 && offsetof(mv::FaceDataEx, image_data) == 544,
              "FaceDataEx");
#pragma GCC diagnostic pop
static_assert(sizeof(mv::FaceDataAngle) == 552 && offsetof(mv::FaceDataAngle, data) == 0 &&
                  offsetof(mv::FaceDataAngle, angle) == 544,
              "FaceDataAngle");
static_assert(sizeof(mv::FindFaceAlgoType) == 1, "FindFaceAlgoType");
static_assert(std::is_trivially_copyable<mv::Face>::value && std::is_trivially_copyable<mv::FaceData>::value,
              "plain records");

namespace mv {

Point& Point::operator=(const cv::Point& p) {
  x = p.x;
  y = p.y;
  return *this;
}

Point& Point::operator=(const cv::Rect& r) {
  x = r.x + (r.width >> 1);
  y = r.y + (r.height >> 1);
  return *this;
}

Rectangle& Rectangle::operator=(const cv::Rect& r) {
  x = r.x;
  y = r.y;
  w = r.width;
  h = r.height;
  return *this;
}

Rectangle::operator cv::Rect() const { return cv::Rect(x, y, w, h); }

std::vector<double> FaceData::double_vector() const { return std::vector<double>(vector, vector + 128); }

// --- Data: a malloc buffer that the record owns --------------------------------

namespace {

// Copies `size` bytes into a new malloc buffer owned by `d`; empty for no
// bytes. Throws std::bad_alloc when the allocation fails.
void assignBytes(Data& d, const void* bytes, size_t size) {
  d.clear();
  if (bytes == nullptr || size == 0) return;
  void* copy = std::malloc(size);
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, bytes, size);
  d.data = static_cast<unsigned char*>(copy);
  d.size = size;
}

}  // namespace

Data::Data(const Data& other) { *this = other; }

Data::Data(Data&& other) noexcept : data(other.data), size(other.size) {
  other.data = nullptr;
  other.size = 0;
}

Data::~Data() { clear(); }

void Data::clear() {
  std::free(data);
  data = nullptr;
  size = 0;
}

Data& Data::operator=(const Data& other) {
  if (this != &other) assignBytes(*this, other.data, other.size);
  return *this;
}

Data& Data::operator=(Data&& other) noexcept {
  if (this != &other) {
    clear();
    data = other.data;
    size = other.size;
    other.data = nullptr;
    other.size = 0;
  }
  return *this;
}

Data& Data::operator=(const std::vector<char>& bytes) {
  assignBytes(*this, bytes.data(), bytes.size());
  return *this;
}

Data& Data::operator=(const std::vector<unsigned char>& bytes) {
  assignBytes(*this, bytes.data(), bytes.size());
  return *this;
}

Data& Data::operator=(const cv::Mat& image) {
  // The encoder's success flag is not needed: a failed encoding leaves the
  // vector empty, and so the record.
  std::vector<unsigned char> encoded;
  try {
    cv::imencode(g_config.image_format, image, encoded, {cv::IMWRITE_JPEG_QUALITY, 100});
  } catch (const cv::Exception&) {
    encoded.clear();  // an unknown format or an empty image gives no bytes
  }
  return *this = encoded;
}

// --- FaceDataEx ---------------------------------------------------------------

FaceDataEx& FaceDataEx::operator=(const FaceData& other) {
  if (static_cast<const FaceData*>(this) != &other) std::memcpy(static_cast<FaceData*>(this), &other, sizeof(FaceData));
  return *this;
}

FaceDataEx& FaceDataEx::operator=(const FaceDataEx& other) {
  if (this != &other) {
    std::memcpy(static_cast<FaceData*>(this), static_cast<const FaceData*>(&other), sizeof(FaceData));
    image_data = other.image_data;
  }
  return *this;
}

FaceDataEx& FaceDataEx::operator=(const cv::Mat& image) {
  image_data = image;
  return *this;
}

std::vector<char> FaceDataEx::image() const {
  if (image_data.data == nullptr || image_data.size == 0) return {};
  const char* begin = reinterpret_cast<const char*>(image_data.data);
  return std::vector<char>(begin, begin + image_data.size);
}

bool operator==(const FaceData& a, const FaceData& b) { return std::memcmp(&a, &b, sizeof(FaceData)) == 0; }

bool operator==(const FaceDataEx& a, const FaceDataEx& b) {
  return std::memcmp(&a, &b, sizeof(FaceDataEx)) == 0;
}

}  // namespace mv
