// The lines of a JSON-lines index read in chunks, never more than a bounded
// line at a time: a line past kMaxRecordBytes (a record is about 3 KB a
// face) is skipped as damaged without being held in memory.
#ifndef MORVIK_TOOLS_LINE_READER_H_
#define MORVIK_TOOLS_LINE_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// Room for a record of the default 256 faces with long photo paths.
constexpr size_t kMaxRecordBytes = size_t{1} << 20;

class LineReader {
 public:
  // Reads the file open at `fd` (not owned) from byte `offset` on.
  LineReader(int fd, uint64_t offset);

  enum Result { kLine, kTooLong, kEnd };
  // The next line, without its newline, in `line`; `ended` tells whether a
  // newline followed it (a last line may still be being written). A line
  // too long is consumed up to its newline and reported as kTooLong with
  // `line` empty.
  Result next(std::string& line, bool& ended);
  // Just after what next() last returned.
  uint64_t offset() const { return offset_; }

 private:
  bool fill();

  int fd_;
  uint64_t offset_;    // of buffer_[pos_]
  uint64_t file_pos_;  // of the next byte to read from the file
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
};

}  // namespace cli

#endif  // MORVIK_TOOLS_LINE_READER_H_
