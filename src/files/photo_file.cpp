#include "files/photo_file.h"

#include <cerrno>

#include "files/regular_file.h"

namespace morvik {

bool readPhotoFile(const std::string& path, uint64_t max_pixels, std::vector<unsigned char>& bytes,
                   std::string& error) {
  uint64_t size = 0;
  const FileDescriptor file(openRegularFile(path.c_str(), &size));
  if (!file.valid()) {
    error = errno == ENOENT ? "no such file" : openFailure(errno);
    return false;
  }
  if (size == 0) {
    error = "empty file";
    return false;
  }
  if (size > photoByteLimit(max_pixels)) {
    error = "too large for an image";
    return false;
  }
  bytes.resize(static_cast<size_t>(size));
  // A file that shrank since it was opened gives what it has left.
  bytes.resize(readFully(file.get(), bytes.data(), bytes.size()));
  if (bytes.empty()) error = "empty file";
  return !bytes.empty();
}

}  // namespace morvik
