#include "records.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <utility>

#include "json.h"
#include "photo_records.h"

namespace cli {
namespace {

std::string pointText(const mv::Point& p) {
  return "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
}

void writeRect(Json& json, const mv::Rectangle& r) {
  json.beginObject().key("x").value(r.x).key("y").value(r.y).key("w").value(r.w).key("h").value(r.h);
  json.endObject();
}

void writePoint(Json& json, const mv::Point& p) {
  json.beginObject().key("x").value(p.x).key("y").value(p.y).endObject();
}

void writeFace(Json& json, const mv::FoundFace& found, const mv::FaceData* data) {
  const mv::Face& face = found.face;
  json.beginObject();
  json.key("rect");
  writeRect(json, data ? data->rect : face.rect);
  json.key("left_eye");
  writePoint(json, data ? data->left_eye : face.left_eye);
  json.key("right_eye");
  writePoint(json, data ? data->right_eye : face.right_eye);
  json.key("from_shape").value(face.from_shape);
  json.key("angle").value(face.angle);
  json.key("score").value(found.score);  // NaN, the finder's "none", is written as null
  json.key("points").beginArray();
  for (int i = 0; i < found.point_count; ++i) writePoint(json, found.points[i]);
  json.endArray();
  if (data) {
    json.key("descriptor").beginArray();
    for (const float v : data->vector) json.value(v);
    json.endArray();
  }
  json.endObject();
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
  Json json;
  json.beginObject().key("photo").value(photo);
  if (by != nullptr) json.key("finder").value(by->finder).key("align_mode").value(by->align_mode);
  json.key("faces").beginArray();
  for (size_t i = 0; i < faces.size(); ++i) {
    writeFace(json, faces[i], data && i < data->size() ? &(*data)[i] : nullptr);
  }
  json.endArray().endObject();
  return json.text();
}

std::string errorRecord(const std::string& photo, const Status& status) {
  Json json;
  json.beginObject().key("photo").value(photo).key("error").beginObject();
  json.key("code").value(status.code).key("message").value(GetResult(status.code));
  json.key("detail").value(status.detail).endObject().endObject();
  return json.text();
}

}  // namespace cli
