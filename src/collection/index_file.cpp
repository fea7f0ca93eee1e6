#include "collection/index_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <faiss/Index.h>
#include <faiss/impl/io.h>
#include <faiss/index_io.h>

#include "digest/digest.h"
#include "files/atomic_file.h"
#include "files/regular_file.h"

namespace morvik {
namespace {

constexpr char kMagic[8] = {'M', 'V', 'I', 'N', 'D', 'E', 'X', '\0'};
// 2: the digests are XXH3's. Files of version 1 are refused as damaged,
// which makes their hosts rebuild them.
constexpr uint32_t kVersion = 2;

struct Header {
  char magic[8];
  uint32_t version;
  uint32_t header_size;
  uint32_t dimension;
  int32_t policy;
  uint64_t count;
  uint64_t trained;
  MvIndexSource source;
  uint64_t payload_size;
  uint64_t payload_digest;
  uint64_t attachment_size;
  uint64_t attachment_digest;
  uint64_t reserved[4];
  uint64_t header_digest;  // of every byte before it
};
static_assert(sizeof(Header) == 144, "the header's layout is fixed");

[[noreturn]] void fail(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + ": " + path);
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool writeAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool readAll(int fd, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// FAISS's serialisation straight into the file, digested on the way.
struct DigestingWriter : faiss::IOWriter {
  explicit DigestingWriter(int fd) : fd(fd) {}
  size_t operator()(const void* ptr, size_t size, size_t nitems) override {
    const size_t bytes = size * nitems;
    if (!ok || !writeAll(fd, ptr, bytes)) {
      ok = false;
      return 0;
    }
    digest.add(ptr, bytes);
    written += bytes;
    return nitems;
  }
  int fd;
  Digest digest;
  uint64_t written = 0;
  bool ok = true;
};

// FAISS's reader over a part of the file already checked; it cannot read
// past that part.
struct BoundedReader : faiss::IOReader {
  BoundedReader(int fd, uint64_t left) : fd(fd), left(left) {}
  size_t operator()(void* ptr, size_t size, size_t nitems) override {
    if (size == 0 || nitems == 0) return 0;
    const uint64_t items = std::min<uint64_t>(nitems, left / size);
    if (items > 0 && !readAll(fd, ptr, items * size)) return 0;
    left -= items * size;
    return items;
  }
  int fd;
  uint64_t left;
};

// The digest of the next `size` bytes of the file.
bool digestPart(int fd, uint64_t size, uint64_t& value) {
  Digest digest;
  std::vector<char> chunk(1 << 20);
  while (size > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size, chunk.size()));
    if (!readAll(fd, chunk.data(), n)) return false;
    digest.add(chunk.data(), n);
    size -= n;
  }
  value = digest.value();
  return true;
}

}  // namespace

void writeIndexFile(const std::string& path, const StoredIndex& stored) {
  AtomicFile file(path);
  const std::string& temporary = file.temporaryPath();
  Header header{};
  std::memcpy(header.magic, kMagic, sizeof kMagic);
  header.version = kVersion;
  header.header_size = sizeof(Header);
  header.dimension = kDescriptorSize;
  header.policy = stored.index->policy();
  header.count = stored.index->size();
  header.trained = stored.index->trainedSize();
  header.source = stored.source;
  // The header is written last, over this placeholder: a file cut short
  // anywhere has no valid header.
  if (!file.write(&header, sizeof header)) fail("cannot write the index", temporary);
  DigestingWriter writer(file.fd());
  faiss::write_index(&stored.index->faissIndex(), &writer);
  if (!writer.ok) fail("cannot write the index", temporary);
  header.payload_size = writer.written;
  header.payload_digest = writer.digest.value();
  header.attachment_size = stored.attachment.size();
  header.attachment_digest = digestOf(stored.attachment.data(), stored.attachment.size());
  if (!file.write(stored.attachment.data(), stored.attachment.size())) fail("cannot write the index", temporary);
  header.header_digest = digestOf(&header, offsetof(Header, header_digest));
  if (::pwrite(file.fd(), &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
    fail("cannot write the index", temporary);
  }
  file.commit();
}

StoredIndex readIndexFile(const std::string& path) {
  uint64_t size = 0;
  Fd fd(openRegularFile(path.c_str(), &size));
  if (fd.get() < 0) fail("cannot read the index (" + openFailure(errno) + ")", path);
  Header header;
  if (!readAll(fd.get(), &header, sizeof header) || std::memcmp(header.magic, kMagic, sizeof kMagic) != 0) {
    fail("not an index file", path);
  }
  if (header.header_digest != digestOf(&header, offsetof(Header, header_digest)) ||
      header.version != kVersion || header.header_size != sizeof(Header) ||
      header.dimension != kDescriptorSize) {
    fail("damaged index file (header)", path);
  }
  if (header.payload_size > size || header.attachment_size > size ||
      sizeof(Header) + header.payload_size + header.attachment_size != size) {
    fail("damaged index file (truncated or extended)", path);
  }
  uint64_t digest = 0;
  if (!digestPart(fd.get(), header.payload_size, digest) || digest != header.payload_digest) {
    fail("damaged index file (index)", path);
  }
  StoredIndex stored;
  stored.attachment.resize(header.attachment_size);
  if (!readAll(fd.get(), stored.attachment.data(), stored.attachment.size()) ||
      digestOf(stored.attachment.data(), stored.attachment.size()) != header.attachment_digest) {
    fail("damaged index file (attachment)", path);
  }
  checkIndexLayout(fd.get(), sizeof(Header), header.payload_size, header.count);
  if (::lseek(fd.get(), sizeof(Header), SEEK_SET) != static_cast<off_t>(sizeof(Header))) {
    fail("cannot read the index", path);
  }
  BoundedReader reader(fd.get(), header.payload_size);
  std::unique_ptr<faiss::Index> index;
  try {
    index.reset(faiss::read_index(&reader));
  } catch (const std::exception& e) {
    fail(std::string("damaged index file (") + e.what() + ")", path);
  }
  if (index == nullptr || reader.left != 0 || static_cast<uint64_t>(index->ntotal) != header.count) {
    fail("damaged index file (contents)", path);
  }
  stored.index = std::make_unique<FaceIndex>(header.policy);
  stored.index->adopt(std::move(index), header.trained);
  stored.source = header.source;
  return stored;
}

void sealIndexImage(std::vector<unsigned char>& bytes) {
  if (bytes.size() < sizeof(Header)) return;
  Header header;
  std::memcpy(&header, bytes.data(), sizeof header);
  const uint64_t after = bytes.size() - sizeof(Header);
  header.attachment_size = std::min<uint64_t>(header.attachment_size, after);
  header.payload_size = after - header.attachment_size;
  // The FAISS part goes through the reader's own digest of a file's part.
  Fd part(::memfd_create("index part", MFD_CLOEXEC));
  const unsigned char* payload = bytes.data() + sizeof(Header);
  if (part.get() < 0 || !writeAll(part.get(), payload, header.payload_size) ||
      ::lseek(part.get(), 0, SEEK_SET) != 0 || !digestPart(part.get(), header.payload_size, header.payload_digest)) {
    throw std::runtime_error("cannot digest the index's part");
  }
  header.attachment_digest = digestOf(payload + header.payload_size, header.attachment_size);
  header.header_digest = digestOf(&header, offsetof(Header, header_digest));
  std::memcpy(bytes.data(), &header, sizeof header);
}

}  // namespace morvik
