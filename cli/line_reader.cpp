#include "line_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cli {

LineReader::LineReader(int fd, uint64_t offset)
    : fd_(fd), offset_(offset), file_pos_(offset), buffer_(size_t{1} << 16) {}

bool LineReader::fill() {
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer_.data(), buffer_.size(), static_cast<off_t>(file_pos_));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    pos_ = 0;
    end_ = static_cast<size_t>(n);
    file_pos_ += static_cast<uint64_t>(n);
    return true;
  }
}

LineReader::Result LineReader::next(std::string& line, bool& ended) {
  line.clear();
  ended = false;
  bool too_long = false;
  bool any = false;
  for (;;) {
    if (pos_ == end_ && !fill()) break;
    any = true;
    const char* start = buffer_.data() + pos_;
    const char* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - pos_));
    const size_t take = newline ? static_cast<size_t>(newline - start) : end_ - pos_;
    if (!too_long && line.size() + take > kMaxRecordBytes) {
      too_long = true;
      line.clear();
      line.shrink_to_fit();
    }
    if (!too_long) line.append(start, take);
    pos_ += take;
    offset_ += take;
    if (newline) {
      ++pos_;
      ++offset_;
      ended = true;
      break;
    }
  }
  if (too_long) return kTooLong;
  return any ? kLine : kEnd;
}

}  // namespace cli
