#include "files/atomic_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace morvik {
namespace {

constexpr int kAttempts = 64;

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A hidden sibling of `path` with 64 random bits in its name.
std::string temporarySibling(const std::string& path) {
  uint64_t nonce = 0;
  if (::getrandom(&nonce, sizeof nonce, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof nonce)) {
    nonce = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
            (static_cast<uint64_t>(::getpid()) << 32);
  }
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(nonce));
  return folder + "." + name + suffix + ".part";
}

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
  throw std::runtime_error(what + " (" + std::strerror(error) + "): " + path);
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  if (path_.empty() || path_.back() == '/') fail("cannot write", path_, EISDIR);
  for (int attempt = 0; attempt < kAttempts && fd_ < 0; ++attempt) {
    temporary_ = temporarySibling(path_);
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) fail("cannot write", path_, errno);
  }
  if (fd_ < 0) fail("cannot write", path_, EEXIST);
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_) ::unlink(temporary_.c_str());
}

bool AtomicFile::write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (ok_ && size > 0) {
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok_ = false;
      break;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return ok_;
}

void AtomicFile::commit() {
  if (!ok_) fail("cannot write", path_, EIO);
  if (::fsync(fd_) != 0) fail("cannot write", path_, errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail("cannot write", path_, errno);
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) fail("cannot replace", path_, errno);
  committed_ = true;
  const int folder = ::open(folderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
}

bool writeFileAtomically(const std::string& path, const void* bytes, size_t size, std::string& error) {
  try {
    AtomicFile file(path);
    file.write(bytes, size);
    file.commit();
    return true;
  } catch (const std::runtime_error& e) {
    error = e.what();
    return false;
  }
}

}  // namespace morvik
