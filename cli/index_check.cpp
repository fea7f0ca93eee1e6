#include "index_check.h"

#include <sys/stat.h>

#include <fstream>

#include "json_reader.h"
#include "morvik/morvik.h"

namespace cli {
namespace {

// A record holds at most kLargestMaxFaces descriptors; a first line longer
// than this is not one that `morvik index` wrote.
constexpr size_t kLongestFirstLine = 64u << 20;

Status notAnIndex(const std::string& why) {
  return failure(MV_PARSE_IMAGE, "not an index written by morvik index (" + why + ")");
}

}  // namespace

Status checkIndexFile(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return notAnIndex("no such file");
  if (!S_ISREG(info.st_mode)) return notAnIndex("not a regular file");
  if (info.st_size == 0) return okStatus();
  std::ifstream in(path, std::ios::binary);
  if (!in) return notAnIndex("cannot be read");
  std::string line;
  char c;
  while (line.size() < kLongestFirstLine && in.get(c) && c != '\n') line += c;
  if (line.size() >= kLongestFirstLine) return notAnIndex("its first line is not a photo record");
  JsonLine json;
  if (!json.parse(line) || json.at(json.root()).type != JsonLine::kObject) {
    return notAnIndex("its first line is not a photo record");
  }
  const uint32_t photo = json.member(json.root(), "photo");
  if (photo == JsonLine::kNone || json.at(photo).type != JsonLine::kString) {
    return notAnIndex("its first line is not a photo record");
  }
  return okStatus();
}

}  // namespace cli
