// The face index written by `morvik index`: one JSON record per photo per
// line (the records of records.h), read back by `morvik search` and
// `morvik cluster`.
#ifndef MORVIK_TOOLS_PHOTO_RECORDS_H_
#define MORVIK_TOOLS_PHOTO_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "morvik/morvik.h"
#include "records.h"
#include "status.h"

namespace cli {

struct IndexedFace {
  std::string photo;
  size_t face_number = 0;  // 1 for the photo's largest face
  uint64_t line_offset = 0;  // where the photo's record starts in the file
  mv::FaceData data{};
  DescribedBy described_by;  // how the record's descriptors were made
};

struct IndexContents {
  std::vector<IndexedFace> faces;
  size_t photos = 0;           // records with faces or without
  size_t failed_photos = 0;    // records of photos that could not be described
  size_t damaged_lines = 0;    // lines that are not index records
  uint64_t end_offset = 0;     // just after the last whole line read
};

// -1 when the file cannot be read; damaged lines are counted, not fatal.
// Reads the whole lines from byte `from` on (a line still being written,
// without its newline, is left for later) and adds them to `index`.
Status readIndex(const std::string& path, IndexContents& index, uint64_t from = 0);

// Where each record of an index lies, for resuming and reordering it.
struct RecordLine {
  std::string photo;
  bool described = false;  // false for the record of a photo that failed
  uint64_t offset = 0;
  uint64_t length = 0;     // without the newline
};
struct RecordLines {
  std::vector<RecordLine> records;
  uint64_t end_offset = 0;  // just after the last whole line
  uint64_t size = 0;        // of the file when read
};
// -1 when the file cannot be read; damaged lines are skipped.
Status readRecordLines(const std::string& path, RecordLines& lines);

// The faces of the records that start at the given offsets, one per
// (offset, face number) asked, in the same order; -1 when a record is no
// longer there.
struct FaceAt {
  uint64_t line_offset;
  uint32_t face_number;
};
Status readFacesAt(const std::string& path, const std::vector<FaceAt>& wanted, std::vector<IndexedFace>& faces);

}  // namespace cli

#endif  // MORVIK_TOOLS_PHOTO_RECORDS_H_
