// Reading files and decoding encoded image bytes; printf-style formatting.

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <limits>

#include <opencv2/imgcodecs.hpp>

#include "files/regular_file.h"
#include "image/image_decode.h"
#include "image/image_header.h"
#include "morvik/config.h"
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
  // Only regular files are read: a FIFO would block, a device never end,
  // and a directory reports a bogus length.
  uint64_t size = 0;
  const morvik::FileDescriptor file(morvik::openRegularFile(path, &size));
  if (!file.valid()) return clampedLength(bytes);
  bytes.resize(static_cast<size_t>(size));
  bytes.resize(morvik::readFully(file.get(), bytes.data(), bytes.size()));
  return clampedLength(bytes);
}

namespace morvik {

bool decodableSize(uint64_t width, uint64_t height) {
  const uint64_t limit = static_cast<uint64_t>(std::max(g_config.image_max_decoded_pixels, 0));
  // Each side within the limit first, so that the product cannot wrap.
  return width <= limit && height <= limit && width * height <= limit;
}

int decodeWithinLimit(const void* bytes, size_t length, int flags, cv::Mat& image) {
  image.release();
  if (bytes == nullptr || length == 0) return MV_PARSE_IMAGE;
  // The decoder takes the length as a column count.
  if (length > static_cast<size_t>(std::numeric_limits<int>::max())) return MV_PARSE_IMAGE;
  uint64_t width = 0, height = 0;
  const auto* data = static_cast<const unsigned char*>(bytes);
  if (peekImageSize(data, length, width, height) && !decodableSize(width, height)) return MV_PARSE_IMAGE;
  const cv::Mat wrapped(1, static_cast<int>(length), CV_8UC1, const_cast<unsigned char*>(data));
  cv::Mat decoded = cv::imdecode(wrapped, flags);
  if (decoded.empty() || !decodableSize(uint64_t(decoded.cols), uint64_t(decoded.rows))) return MV_PARSE_IMAGE;
  image = decoded;
  return MV_OK;
}

}  // namespace morvik

int decodeImage(const void* data, size_t length, cv::Mat& image) {
  // The decoder reads a buffer of our own, never the caller's memory.
  std::vector<unsigned char> buffer;
  if (data != nullptr && length != 0) {
    const auto* begin = static_cast<const unsigned char*>(data);
    buffer.assign(begin, begin + length);
  }
  cv::Mat decoded;
  const int rc = morvik::decodeWithinLimit(buffer.data(), buffer.size(), cv::IMREAD_ANYCOLOR, decoded);
  image = decoded;
  return rc;
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
