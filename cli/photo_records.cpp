#include "photo_records.h"

#include <cerrno>

#include "files/regular_file.h"
#include "json_reader.h"
#include "line_reader.h"

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
  const morvik::FileDescriptor file(morvik::openRegularFile(path.c_str()));
  if (!file.valid()) {
    return failure(MV_INVALID_ARGS, "cannot read the index " + path + ": " + morvik::openFailure(errno));
  }
  LineReader lines(file.get(), from);
  JsonLine json;
  std::string line;
  bool ended = false;
  index.end_offset = from;
  for (LineReader::Result got; (got = lines.next(line, ended)) != LineReader::kEnd;) {
    const uint64_t start = index.end_offset;
    if (got == LineReader::kLine && blank(line)) {
      if (ended) index.end_offset = lines.offset();
      continue;
    }
    const Record record =
        got == LineReader::kTooLong ? Record::kDamaged : readRecord(json, line, start, index.faces);
    // A last line without its newline that is no record may be one still
    // being written: it is left for a later read.
    if (!ended && record == Record::kDamaged) break;
    index.end_offset = lines.offset();
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

Status readRecordLines(const std::string& path, RecordLines& lines) {
  const morvik::FileDescriptor file(morvik::openRegularFile(path.c_str(), &lines.size));
  if (!file.valid()) {
    return failure(MV_INVALID_ARGS, "cannot read the index " + path + ": " + morvik::openFailure(errno));
  }
  LineReader reader(file.get(), 0);
  JsonLine json;
  std::string line;
  std::vector<IndexedFace> faces;
  bool ended = false;
  lines.records.clear();
  lines.end_offset = 0;
  uint64_t position = 0;
  for (LineReader::Result got; (got = reader.next(line, ended)) != LineReader::kEnd;) {
    const uint64_t start = position;
    position = reader.offset();
    // A last line without its newline is no whole line, even when it holds
    // a whole record.
    if (ended) lines.end_offset = position;
    if (got != LineReader::kLine) continue;
    faces.clear();
    const Record record = readRecord(json, line, start, faces);
    if (record == Record::kDamaged) continue;
    RecordLine entry;
    json.text(json.member(json.root(), "photo"), entry.photo);
    entry.described = record == Record::kFaces;
    entry.offset = start;
    entry.length = line.size();
    lines.records.push_back(std::move(entry));
  }
  return okStatus();
}

Status readFacesAt(const std::string& path, const std::vector<FaceAt>& wanted, std::vector<IndexedFace>& faces) {
  const morvik::FileDescriptor file(morvik::openRegularFile(path.c_str()));
  if (!file.valid()) {
    return failure(MV_INVALID_ARGS, "cannot read the index " + path + ": " + morvik::openFailure(errno));
  }
  JsonLine json;
  std::string line;
  bool ended = false;
  faces.clear();
  std::vector<IndexedFace> record;
  uint64_t record_offset = UINT64_MAX;
  for (const FaceAt& at : wanted) {
    if (at.line_offset != record_offset) {
      record.clear();
      LineReader lines(file.get(), at.line_offset);
      if (lines.next(line, ended) != LineReader::kLine ||
          readRecord(json, line, at.line_offset, record) != Record::kFaces) {
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
