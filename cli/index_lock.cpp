#include "index_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "morvik/morvik.h"

namespace cli {
namespace {

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

std::string indexLockPath(const std::string& index_path) { return index_path + ".lock"; }

IndexLock::~IndexLock() {
  if (fd_ < 0) return;
  // Unlinked while still held: a run waiting on this file finds it gone
  // and takes a new one.
  ::unlink(path_.c_str());
  ::close(fd_);
}

Status IndexLock::acquire(const std::string& index_path) {
  path_ = indexLockPath(index_path);
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return failure(MV_INVALID_ARGS, "cannot lock the index (" + path_ + ": " + std::strerror(errno) + ")");
    struct stat held, named;
    if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
      ::close(fd);
      return failure(MV_INVALID_ARGS, "cannot lock the index (" + path_ + " is not a regular file)");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) return failure(MV_INVALID_ARGS, "another run is writing this index");
      return failure(MV_INVALID_ARGS, "cannot lock the index (" + std::string(std::strerror(error)) + ")");
    }
    // The file may have been unlinked by the run that held it just before
    // our lock: only the lock on the file the name still names counts.
    if (::stat(path_.c_str(), &named) == 0 && sameFile(held, named)) {
      fd_ = fd;
      return okStatus();
    }
    ::close(fd);
  }
  return failure(MV_INVALID_ARGS, "cannot lock the index (" + path_ + " keeps changing)");
}

}  // namespace cli
