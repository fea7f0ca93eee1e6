#include "index_resume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <stdexcept>

#include "files/atomic_file.h"
#include "morvik/morvik.h"

namespace cli {
namespace {

Status refused(const std::string& why) { return failure(MV_INVALID_ARGS, "--out " + why + "; nothing written"); }

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool readAt(int fd, uint64_t offset, std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pread(fd, &bytes[done], bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

Status checkIndexOutput(const std::string& out, const std::vector<std::string>& photos, IndexOutput& output) {
  struct stat named;
  if (::stat(out.c_str(), &named) != 0) {
    if (errno == ENOENT) return okStatus();
    return refused("cannot be examined (" + morvik::openFailure(errno) + ")");
  }
  if (!S_ISREG(named.st_mode)) return refused("is not a regular file");
  for (const std::string& photo : photos) {
    struct stat info;
    if (::stat(photo.c_str(), &info) == 0 && info.st_dev == named.st_dev && info.st_ino == named.st_ino) {
      return refused("names one of the photos (" + photo + ")");
    }
  }
  output.exists = true;
  Status status = readRecordLines(out, output.existing);
  if (!status.ok()) return refused(status.detail);
  if (output.existing.size > 0 && output.existing.records.empty()) return refused("is not a JSON-lines index");
  for (const RecordLine& record : output.existing.records) {
    if (record.described) output.described.insert(record.photo);
  }
  return okStatus();
}

Status openForAppend(const std::string& out, const IndexOutput& output, morvik::FileDescriptor& file) {
  const int flags = O_WRONLY | O_APPEND | O_CLOEXEC;
  // A new file is made, never one found in its place; an existing one must
  // still be a regular file (O_NONBLOCK: a FIFO put there does not block).
  file.reset(output.exists ? ::open(out.c_str(), flags | O_NONBLOCK)
                            : ::open(out.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW, 0666));
  struct stat info;
  if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return failure(MV_INVALID_ARGS, "cannot write the index: " + morvik::openFailure(file.valid() ? EINVAL : errno));
  }
  if (output.exists && static_cast<uint64_t>(info.st_size) > output.existing.end_offset &&
      !writeAll(file.get(), "\n", 1)) {
    return failure(MV_INVALID_ARGS, "cannot write the index");
  }
  return okStatus();
}

bool appendRecord(int fd, const std::string& record) {
  std::string line;
  line.reserve(record.size() + 1);
  line.append(record).push_back('\n');
  return writeAll(fd, line.data(), line.size());
}

Status putInOrder(const std::string& out, const std::vector<std::string>& photos) {
  RecordLines lines;
  Status status = readRecordLines(out, lines);
  if (!status.ok()) return status;
  std::map<std::string, const RecordLine*> last;
  for (const RecordLine& record : lines.records) last[record.photo] = &record;
  std::vector<const RecordLine*> order;
  for (const std::string& photo : photos) {
    const auto found = last.find(photo);
    if (found == last.end() || found->second == nullptr) continue;
    order.push_back(found->second);
    found->second = nullptr;  // a photo listed twice is written once
  }
  for (const RecordLine& record : lines.records) {
    const auto found = last.find(record.photo);
    if (found->second == &record) order.push_back(&record);
  }
  const morvik::FileDescriptor source(morvik::openRegularFile(out.c_str()));
  if (!source.valid()) return failure(MV_INVALID_ARGS, "cannot read the index: " + morvik::openFailure(errno));
  try {
    morvik::AtomicFile file(out);
    std::string bytes;
    for (const RecordLine* record : order) {
      bytes.resize(record->length);
      if (!readAt(source.get(), record->offset, bytes)) return failure(MV_INVALID_ARGS, "the index changed while it was read");
      bytes.push_back('\n');
      if (!file.write(bytes.data(), bytes.size())) break;
    }
    file.commit();
  } catch (const std::runtime_error& e) {
    return failure(MV_INVALID_ARGS, e.what());
  }
  return okStatus();
}

}  // namespace cli
