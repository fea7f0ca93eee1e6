// The face index written by `morvik index`: one JSON record per photo per
// line (the records of records.h), read back by `morvik search`.
#ifndef MORVIK_TOOLS_INDEX_FILE_H_
#define MORVIK_TOOLS_INDEX_FILE_H_

#include <cstddef>
#include <string>
#include <vector>

#include "morvik/morvik.h"
#include "status.h"

namespace cli {

struct IndexedFace {
  std::string photo;
  size_t face_number = 0;  // 1 for the photo's largest face
  mv::FaceData data{};
};

struct IndexContents {
  std::vector<IndexedFace> faces;
  size_t photos = 0;           // records with faces or without
  size_t failed_photos = 0;    // records of photos that could not be described
  size_t damaged_lines = 0;    // lines that are not index records
};

// -1 when the file cannot be read; damaged lines are counted, not fatal.
Status readIndex(const std::string& path, IndexContents& index);

}  // namespace cli

#endif  // MORVIK_TOOLS_INDEX_FILE_H_
