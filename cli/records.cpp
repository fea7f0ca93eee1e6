#include "records.h"

#include <cstdlib>
#include <stdexcept>

#include "json.h"
#include "morvik/collection.h"

namespace cli {
namespace {

std::string pointText(const mv::Point& p) {
  return "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
}

// The record the library wrote, or an exception when it could not.
std::string takeRecord(int rc, char* text, size_t length) {
  if (rc != MV_OK) throw std::runtime_error(std::string("cannot write a record: ") + GetResult(rc));
  std::string record(text, length);
  std::free(text);
  return record;
}

}  // namespace

std::string rectText(const mv::Rectangle& r) {
  return std::to_string(r.w) + "x" + std::to_string(r.h) + " at (" + std::to_string(r.x) + "," +
         std::to_string(r.y) + ")";
}

std::string faceLine(size_t index, const mv::Face& face) {
  std::string line = "  #" + std::to_string(index + 1) + "  " + rectText(face.rect) + "  eyes " +
                     pointText(face.left_eye) + " " + pointText(face.right_eye);
  if (face.from_shape) line += "  (eyes from landmarks)";
  if (face.angle != 0.0) line += "  angle " + shortest(face.angle);
  return line;
}

std::string descriptorLine(const mv::FaceData& data) {
  std::string line = "      descriptor";
  for (const float v : data.vector) line += " " + shortest(v);
  return line;
}

std::string photoRecord(const std::string& photo, const std::vector<mv::Face>& faces,
                        const std::vector<mv::FaceData>* data) {
  char* text = nullptr;
  size_t length = 0;
  const int rc = MvFormatPhotoRecord(photo.data(), photo.size(), reinterpret_cast<const MvFace*>(faces.data()),
                                     faces.size(), data ? reinterpret_cast<const MvFaceData*>(data->data()) : nullptr,
                                     data ? data->size() : 0, &text, &length);
  return takeRecord(rc, text, length);
}

std::string errorRecord(const std::string& photo, const Status& status) {
  char* text = nullptr;
  size_t length = 0;
  const int rc = MvFormatErrorRecord(photo.data(), photo.size(), status.code, status.detail.data(),
                                     status.detail.size(), &text, &length);
  return takeRecord(rc, text, length);
}

}  // namespace cli
