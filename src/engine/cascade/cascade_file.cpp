// Opening a cascade file; see cascade_file.h.
#include "engine/cascade/cascade_file.h"

#include <cstring>
#include <fstream>

namespace morvik {
namespace {

bool compressedName(const std::string& path) {
  return path.size() >= 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
}

}  // namespace

bool cascadeFileReadable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return false;
  // Read in pieces, so that a huge file costs no memory before its size
  // refuses it.
  char piece[1 << 16];
  const bool compressed = compressedName(path);
  size_t total = 0;
  while (in) {
    in.read(piece, sizeof(piece));
    const size_t got = static_cast<size_t>(in.gcount());
    total += got;
    if (total > kMaxCascadeFileBytes) return false;
    if (!compressed && std::memchr(piece, '\0', got) != nullptr) return false;
  }
  return !in.bad();
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
