// Opening a path for reading only when it names a regular file. A FIFO
// would block open() until a writer came, a device (/dev/zero) never ends
// and a directory "opens" with a bogus length: all are refused before a
// byte is read, whoever asks (library, command-line tool).
#ifndef MORVIK_FILES_REGULAR_FILE_H_
#define MORVIK_FILES_REGULAR_FILE_H_

#include <cstdint>
#include <string>

namespace morvik {

// The descriptor (close-on-exec, blocking reads) of the regular file at
// `path`, with its size in `size` when asked; -1 otherwise, with errno set:
// EISDIR for a directory, EINVAL for any other kind of file, else open()'s.
int openRegularFile(const char* path, uint64_t* size = nullptr);

// The reason for errno `error` after openRegularFile, in a user's words.
std::string openFailure(int error);

// Closes its descriptor.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the descriptor held and holds `fd` instead.
  void reset(int fd);
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Reads up to `size` bytes, retrying short reads; the count read.
size_t readFully(int fd, void* into, size_t size);

}  // namespace morvik

#endif  // MORVIK_FILES_REGULAR_FILE_H_
