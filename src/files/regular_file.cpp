#include "files/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace morvik {
namespace {

// What open(2) gives for no file; errno says why.
constexpr int kNoFile = -1;

}  // namespace

int openRegularFile(const char* path, uint64_t* size) {
  if (path == nullptr) {
    errno = EINVAL;
    return kNoFile;
  }
  // O_NONBLOCK: opening a FIFO then returns at once instead of waiting for
  // a writer, so that fstat can refuse it.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return kNoFile;
  struct stat info;
  int error = 0;
  if (::fstat(fd, &info) != 0) {
    error = errno;
  } else if (S_ISDIR(info.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(info.st_mode)) {
    error = EINVAL;
  } else {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) error = errno;
  }
  if (error != 0) {
    ::close(fd);
    errno = error;
    return kNoFile;
  }
  if (size != nullptr) *size = static_cast<uint64_t>(info.st_size);
  return fd;
}

std::string openFailure(int error) {
  if (error == EISDIR) return "is a directory";
  if (error == EINVAL) return "not a regular file";
  return std::strerror(error);
}

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

void FileDescriptor::reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

size_t readFully(int fd, void* into, size_t size) {
  char* p = static_cast<char*>(into);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, p + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace morvik
