#include "records.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <stdexcept>
#include <utility>

#include "json.h"
#include "morvik/collection.h"
#include "photo_records.h"

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

std::string faceLine(size_t index, const mv::FoundFace& found) {
  const mv::Face& face = found.face;
  std::string line = "  #" + std::to_string(index + 1) + "  " + rectText(face.rect) + "  eyes " +
                     pointText(face.left_eye) + " " + pointText(face.right_eye);
  if (face.from_shape) line += "  (eyes from landmarks)";
  if (face.angle != 0.0) line += "  angle " + shortest(face.angle);
  if (!std::isnan(found.score)) line += "  score " + shortest(found.score);
  return line;
}

std::string descriptorLine(const mv::FaceData& data) {
  std::string line = "      descriptor";
  for (const float v : data.vector) line += " " + shortest(v);
  return line;
}

DescribedBy describedNow(uint32_t algo) {
  DescribedBy by;
  by.finder = algo;
  int mode = 0;
  if (GetOption("align.mode", &mode, sizeof(mode)) == MV_OK) by.align_mode = mode;
  return by;
}

std::string describedByText(const DescribedBy& by) {
  if (by.finder < 0 || by.align_mode < 0) return "not recorded";
  char finder[16];
  std::snprintf(finder, sizeof(finder), "0x%02X", static_cast<unsigned>(by.finder));
  return std::string("finder ") + finder + ", align.mode " + std::to_string(by.align_mode);
}

bool warnMixedDescriptions(const std::string& where, const std::vector<IndexedFace>& faces,
                           const DescribedBy* expected) {
  std::map<std::pair<int, int>, size_t> ways;
  for (const IndexedFace& face : faces) ++ways[{face.described_by.finder, face.described_by.align_mode}];
  const bool mixed = ways.size() > 1;
  const bool other = expected != nullptr && !ways.empty() &&
                     (mixed || ways.begin()->first != std::make_pair(expected->finder, expected->align_mode));
  if (!mixed && !other) return false;
  std::cerr << "morvik: WARNING: " << where << ": descriptors made in different ways are compared, and their "
            << "distances mean nothing:";
  if (expected != nullptr) std::cerr << " the query by " << describedByText(*expected) << ";";
  for (const auto& [way, count] : ways) {
    std::cerr << " " << count << (count == 1 ? " face" : " faces") << " by "
              << describedByText(DescribedBy{way.first, way.second}) << ";";
  }
  std::cerr << " index the photos again, or give the same --algo and -o align.mode=N\n";
  return true;
}

std::string photoRecord(const std::string& photo, const std::vector<mv::FoundFace>& faces,
                        const std::vector<mv::FaceData>* data, const DescribedBy* by) {
  char* text = nullptr;
  size_t length = 0;
  const int rc = MvFormatPhotoRecord(
      photo.data(), photo.size(), reinterpret_cast<const MvFoundFace*>(faces.data()), faces.size(),
      data ? reinterpret_cast<const MvFaceData*>(data->data()) : nullptr, data ? data->size() : 0,
      by ? by->finder : -1, by ? by->align_mode : -1, &text, &length);
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
