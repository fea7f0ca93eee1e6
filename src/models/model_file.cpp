// Reading dlib model files.
#include "models/model_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "files/regular_file.h"

namespace morvik {

ModelBytes readModelFile(const std::string& path, uint64_t* digest) {
  ModelFileSource file(path);
  ModelBytes bytes(file.size());
  // The file may have shrunk since it was opened: what is there is parsed,
  // and dlib reports what is missing.
  bytes.resize(file.read(bytes.data(), bytes.size()));
  if (digest != nullptr) *digest = file.digest();
  return bytes;
}

MemoryStreambuf::MemoryStreambuf(char* data, size_t size) { setg(data, data, data + size); }

MemoryStreambuf::pos_type MemoryStreambuf::seekoff(off_type offset, std::ios_base::seekdir dir,
                                                   std::ios_base::openmode which) {
  const off_type size = egptr() - eback();
  off_type base = 0;
  if (dir == std::ios_base::cur) base = gptr() - eback();
  if (dir == std::ios_base::end) base = size;
  const off_type target = base + offset;
  if (!(which & std::ios_base::in) || target < 0 || target > size) return pos_type(off_type(-1));
  setg(eback(), eback() + target, egptr());
  return pos_type(target);
}

MemoryStreambuf::pos_type MemoryStreambuf::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

dlib::serialization_error modelFileError(const dlib::serialization_error& e, const std::string& path) {
  std::string text = e.info;
  const std::string stream = "from the stream.";
  const size_t at = text.find(stream);
  if (at != std::string::npos) text.replace(at, stream.size(), "from the file '" + path + "'.");
  return dlib::serialization_error(text);
}

ModelFileSource::ModelFileSource(const std::string& path) {
  const dlib::serialization_error unreadable("Unable to open " + path + " for reading.");
  uint64_t size = 0;
  fd_ = openRegularFile(path.c_str(), &size);
  if (fd_ < 0) throw unreadable;
  size_ = static_cast<size_t>(size);
}

ModelFileSource::~ModelFileSource() { ::close(fd_); }

size_t ModelFileSource::read(char* into, size_t size) {
  // Never past the length at opening, as a whole read would not go.
  size = std::min(size, size_ - std::min(size_, read_));
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd_, into + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // the file shrank, or cannot be read further
    done += static_cast<size_t>(got);
  }
  read_ += done;
  digest_.add(into, done);
  return done;
}

uint64_t ModelFileSource::digestToEnd() {
  std::vector<char> chunk(size_t{1} << 20);
  while (read(chunk.data(), chunk.size()) == chunk.size()) {
  }
  return digest();
}

uint64_t fileDigest(const std::string& path) { return ModelFileSource(path).digestToEnd(); }

bool streamFaster(const std::string& path, LandmarkModel& model, uint64_t& digest) {
  ModelFileSource file(path);
  if (!readLandmarkModel(file, file.size(), model)) return false;
  // The digest covers the whole file, also bytes after the model (which
  // dlib ignores too).
  digest = file.digestToEnd();
  return true;
}

}  // namespace morvik
