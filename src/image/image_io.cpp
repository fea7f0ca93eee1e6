// Reading files and decoding encoded image bytes; printf-style formatting.

#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <limits>

#include <opencv2/imgcodecs.hpp>

#include "morvik/image.h"
#include "morvik/morvik.h"

namespace {

int clampedLength(const std::vector<char>& bytes) {
  const size_t length = bytes.size();
  return length > static_cast<size_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                        : static_cast<int>(length);
}

}  // namespace

int read_file(const char* path, std::vector<char>& bytes) {
  if (path == nullptr) return 0;
  // A directory opens as a stream but reports a bogus length: only regular
  // files are read.
  struct stat info;
  if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return clampedLength(bytes);
  std::fstream file(path, std::ios::in | std::ios::binary);
  if (file.is_open()) {
    file.seekg(0, std::ios::end);
    const std::streamoff n = file.tellg();
    if (n >= 0) {
      bytes.resize(static_cast<size_t>(n));
      file.seekg(0, std::ios::beg);
      if (n > 0 && !file.read(bytes.data(), n)) bytes.resize(static_cast<size_t>(file.gcount()));
    }
  }
  return clampedLength(bytes);
}

int decodeImage(const void* data, size_t length, cv::Mat& image) {
  // The decoder reads a buffer of our own, never the caller's memory.
  std::vector<unsigned char> buffer;
  if (data != nullptr && length != 0) {
    const auto* begin = static_cast<const unsigned char*>(data);
    buffer.assign(begin, begin + length);
  }
  cv::Mat decoded;
  if (!buffer.empty()) decoded = cv::imdecode(buffer, cv::IMREAD_ANYCOLOR);
  image = decoded;
  return image.cols == 0 ? MV_PARSE_IMAGE : MV_OK;
}

std::string sformat(std::string format, ...) {
  size_t length = 2 * format.size() + 50;
  std::string result;
  for (;;) {
    result.resize(length);
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(&result[0], length, format.c_str(), args);
    va_end(args);
    if (n < 0) {
      length *= 2;
    } else if (static_cast<size_t>(n) >= length) {
      length = static_cast<size_t>(n) + 1;
    } else {
      result.resize(static_cast<size_t>(n));
      return result;
    }
  }
}
