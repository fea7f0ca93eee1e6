#include "photo_records.h"

#include <fstream>

#include "json_reader.h"

namespace cli {
namespace {

bool readInt(const JsonLine& json, uint32_t object, const char* key, int32_t& value) {
  return json.integer(json.member(object, key), value);
}

bool readRect(const JsonLine& json, uint32_t node, mv::Rectangle& r) {
  return readInt(json, node, "x", r.x) && readInt(json, node, "y", r.y) && readInt(json, node, "w", r.w) &&
         readInt(json, node, "h", r.h);
}

bool readPoint(const JsonLine& json, uint32_t node, mv::Point& p) {
  return readInt(json, node, "x", p.x) && readInt(json, node, "y", p.y);
}

bool readFace(const JsonLine& json, uint32_t node, mv::FaceData& data) {
  if (!readRect(json, json.member(node, "rect"), data.rect) ||
      !readPoint(json, json.member(node, "left_eye"), data.left_eye) ||
      !readPoint(json, json.member(node, "right_eye"), data.right_eye)) {
    return false;
  }
  const uint32_t descriptor = json.member(node, "descriptor");
  if (descriptor == JsonLine::kNone || json.at(descriptor).type != JsonLine::kArray) return false;
  size_t n = 0;
  for (uint32_t v = json.at(descriptor).first_child; v != JsonLine::kNone; v = json.at(v).next) {
    if (n == 128 || !json.number(v, data.vector[n])) return false;
    ++n;
  }
  return n == 128;
}

// One record; false for anything that is not one.
enum class Record { kFaces, kFailed, kDamaged };
Record readRecord(JsonLine& json, const std::string& line, uint64_t offset, std::vector<IndexedFace>& faces) {
  if (!json.parse(line)) return Record::kDamaged;
  std::string photo;
  if (!json.text(json.member(json.root(), "photo"), photo)) return Record::kDamaged;
  if (json.member(json.root(), "error") != JsonLine::kNone) return Record::kFailed;
  const uint32_t list = json.member(json.root(), "faces");
  if (list == JsonLine::kNone || json.at(list).type != JsonLine::kArray) return Record::kDamaged;
  DescribedBy by;
  int32_t value = 0;
  if (readInt(json, json.root(), "finder", value)) by.finder = value;
  if (readInt(json, json.root(), "align_mode", value)) by.align_mode = value;
  const size_t before = faces.size();
  for (uint32_t item = json.at(list).first_child; item != JsonLine::kNone; item = json.at(item).next) {
    IndexedFace face;
    face.photo = photo;
    face.face_number = faces.size() - before + 1;
    face.line_offset = offset;
    face.described_by = by;
    if (!readFace(json, item, face.data)) {
      faces.resize(before);
      return Record::kDamaged;
    }
    faces.push_back(std::move(face));
  }
  return Record::kFaces;
}

bool blank(const std::string& line) { return line.find_first_not_of(" \t\r") == std::string::npos; }

}  // namespace

Status readIndex(const std::string& path, IndexContents& index, uint64_t from) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return failure(MV_INVALID_ARGS, "cannot read the index " + path);
  in.seekg(static_cast<std::streamoff>(from));
  if (!in) return failure(MV_INVALID_ARGS, "cannot read the index " + path);
  JsonLine json;
  std::string line;
  uint64_t offset = from;
  index.end_offset = from;
  while (std::getline(in, line)) {
    const uint64_t start = offset;
    const bool last = in.eof();  // no newline after it
    offset += line.size() + (last ? 0 : 1);
    if (blank(line)) {
      if (!last) index.end_offset = offset;
      continue;
    }
    const Record record = readRecord(json, line, start, index.faces);
    // A last line without its newline that is no record may be one still
    // being written: it is left for a later read.
    if (last && record == Record::kDamaged) break;
    index.end_offset = offset;
    switch (record) {
      case Record::kFaces: ++index.photos; break;
      case Record::kFailed:
        ++index.photos;
        ++index.failed_photos;
        break;
      case Record::kDamaged: ++index.damaged_lines; break;
    }
  }
  return okStatus();
}

Status readFacesAt(const std::string& path, const std::vector<FaceAt>& wanted, std::vector<IndexedFace>& faces) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return failure(MV_INVALID_ARGS, "cannot read the index " + path);
  JsonLine json;
  std::string line;
  faces.clear();
  std::vector<IndexedFace> record;
  uint64_t record_offset = UINT64_MAX;
  for (const FaceAt& at : wanted) {
    if (at.line_offset != record_offset) {
      record.clear();
      in.clear();
      in.seekg(static_cast<std::streamoff>(at.line_offset));
      if (!in || !std::getline(in, line) || readRecord(json, line, at.line_offset, record) != Record::kFaces) {
        return failure(MV_INVALID_ARGS, "the index " + path + " changed while it was read");
      }
      record_offset = at.line_offset;
    }
    if (at.face_number == 0 || at.face_number > record.size()) {
      return failure(MV_INVALID_ARGS, "the index " + path + " changed while it was read");
    }
    faces.push_back(record[at.face_number - 1]);
  }
  return okStatus();
}

}  // namespace cli
