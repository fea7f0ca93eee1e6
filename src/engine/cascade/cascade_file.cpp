// Opening a cascade file; see cascade_file.h.
#include "engine/cascade/cascade_file.h"

#include <cstring>

#include "files/regular_file.h"

namespace morvik {
namespace {

bool compressedName(const std::string& path) {
  return path.size() >= 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
}

}  // namespace

bool cascadeFileReadable(const std::string& path) {
  uint64_t size = 0;
  const FileDescriptor file(openRegularFile(path.c_str(), &size));
  if (!file.valid() || size > kMaxCascadeFileBytes) return false;
  // Read in pieces, so that the check costs no memory.
  char piece[1 << 16];
  const bool compressed = compressedName(path);
  size_t total = 0;
  for (size_t got; (got = readFully(file.get(), piece, sizeof piece)) > 0;) {
    total += got;
    if (total > kMaxCascadeFileBytes) return false;
    if (!compressed && std::memchr(piece, '\0', got) != nullptr) return false;
  }
  return true;
}

bool openCascadeFile(const std::string& path, cv::FileStorage& fs) {
  if (!cascadeFileReadable(path)) return false;
  try {
    return fs.open(path, cv::FileStorage::READ);
  } catch (const cv::Exception&) {
    return false;
  }
}

}  // namespace morvik
