// Writing a file whole or not at all, and never through a name someone
// else prepared: the bytes go to a new file beside the target, created
// with O_EXCL|O_NOFOLLOW under a random name (so a symlink or file planted
// there is never followed or reused), flushed, and renamed over the
// target. Every file the library and the command-line tool write goes
// through here.
#ifndef MORVIK_FILES_ATOMIC_FILE_H_
#define MORVIK_FILES_ATOMIC_FILE_H_

#include <cstddef>
#include <string>

namespace morvik {

class AtomicFile {
 public:
  // Throws std::runtime_error naming the path when no temporary file can
  // be created beside `path`.
  explicit AtomicFile(std::string path);
  // Removes the temporary file unless committed.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  int fd() const { return fd_; }
  const std::string& temporaryPath() const { return temporary_; }
  // False once any write failed (it stays failed).
  bool write(const void* data, size_t size);
  // Flushes, closes and renames into place; throws std::runtime_error.
  void commit();

 private:
  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  bool ok_ = true;
  bool committed_ = false;
};

// The whole of `bytes` as the file at `path`; false with the reason in
// `error` when it could not be written (the old file, if any, is intact).
bool writeFileAtomically(const std::string& path, const void* bytes, size_t size, std::string& error);

}  // namespace morvik

#endif  // MORVIK_FILES_ATOMIC_FILE_H_
