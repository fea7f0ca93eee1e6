// Model cache and model files: every model lives in a per-thread cache
// (morvik/global_cache.h) and is loaded on the thread's first use under the
// process-wide lock g_mutex, which also guards the release list that
// GlobalFree walks. This folder holds that cache, the readers of dlib model
// files (this header), the landmark model's own layout and reader, the
// loading of OpenCV cascades and the huge-page memory of large models.
//
// Reading dlib model files.
//
// dlib parses a model value by value through the stream; from an open file
// every value is a call into the file buffer. Reading the whole file first
// and parsing from memory cuts the load time of the large models (the
// landmark model is 100 MB) by about a third. Errors are dlib's, with the
// same texts as when dlib reads the file itself.
#ifndef MORVIK_MODEL_FILE_H_
#define MORVIK_MODEL_FILE_H_

#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <streambuf>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <dlib/serialize.h>

#include "digest/digest.h"
#include "models/landmark_model_reader.h"
#include "models/model_memory.h"

namespace morvik {

using ModelBytes = std::vector<char, ModelBytesAllocator<char>>;

// The bytes of a model file, and their digest (digest/digest.h) when asked;
// throws dlib::serialization_error when it is not a regular file that can
// be read.
ModelBytes readModelFile(const std::string& path, uint64_t* digest = nullptr);

// dlib's error for a model that could not be parsed, naming the file.
dlib::serialization_error modelFileError(const dlib::serialization_error& e, const std::string& path);

// A model file read a chunk at a time, each chunk added to its digest;
// throws dlib::serialization_error when it is not a regular file that can
// be opened.
class ModelFileSource : public ByteSource {
 public:
  explicit ModelFileSource(const std::string& path);
  ~ModelFileSource() override;
  ModelFileSource(const ModelFileSource&) = delete;
  ModelFileSource& operator=(const ModelFileSource&) = delete;

  size_t size() const { return size_; }  // when opened
  size_t read(char* into, size_t size) override;
  // Of the bytes read so far.
  uint64_t digest() const { return digest_.value(); }
  // Reads what is left of the file and returns the digest of all of it.
  uint64_t digestToEnd();

 private:
  int fd_ = -1;
  size_t size_ = 0;
  size_t read_ = 0;
  Digest digest_;
};

// The digest of a model file, read without holding it in memory.
uint64_t fileDigest(const std::string& path);

// A read-only stream buffer over bytes in memory. dlib reads a model a few
// bytes at a time; with all bytes in the get area those reads are pointer
// steps instead of virtual calls, which parses the landmark model in about
// 60% of the time dlib's own vector stream takes.
class MemoryStreambuf : public std::streambuf {
 public:
  MemoryStreambuf(char* data, size_t size);

 protected:
  pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;
};

// Models with a reader of their own, faster than dlib's. false sends the
// bytes to dlib, which also words the faults.
inline bool readFaster(const ModelBytes& bytes, LandmarkModel& model) {
  return readLandmarkModel(bytes.data(), bytes.size(), model);
}
template <typename T>
bool readFaster(const ModelBytes& /*bytes*/, T& /*item*/) {
  return false;
}

// The same straight from the file, which then never lies in memory whole:
// for the landmark model that spares 100 MB of fresh pages, whose zeroing
// costs more than reading the file into them. Sets the digest of the bytes
// read.
bool streamFaster(const std::string& path, LandmarkModel& model, uint64_t& digest);
template <typename T>
bool streamFaster(const std::string& /*path*/, T& /*item*/, uint64_t& /*digest*/) {
  return false;
}

// dlib's reader of a model from bytes in memory, with its error texts.
template <typename T>
void deserializeWithDlib(ModelBytes& bytes, const std::string& path, T& item) {
  MemoryStreambuf buffer(bytes.data(), bytes.size());
  std::istream in(&buffer);
  try {
    dlib::proxy_deserialize(in) >> item;
  } catch (const dlib::serialization_error& e) {
    throw modelFileError(e, path);
  }
}

template <typename T>
void deserializeModelBytes(ModelBytes& bytes, const std::string& path, T& item) {
  if (!readFaster(bytes, item)) deserializeWithDlib(bytes, path, item);
}

template <typename T>
void deserializeModelFile(const std::string& path, T& item) {
  ModelBytes bytes = readModelFile(path);
  deserializeModelBytes(bytes, path, item);
}

// Parses the model file at `path` into `item` and returns the digest of
// the bytes parsed.
template <typename T>
uint64_t loadModelFile(const std::string& path, T& item) {
  uint64_t digest = 0;
  if (streamFaster(path, item, digest)) return digest;
  ModelBytes bytes = readModelFile(path, &digest);
  // Bytes the streaming reader gave up go to dlib: the reader in memory
  // would give them up too.
  if constexpr (std::is_same<T, LandmarkModel>::value) {
    deserializeWithDlib(bytes, path, item);
  } else {
    deserializeModelBytes(bytes, path, item);
  }
  return digest;
}

// A parsed model that every thread loading the same bytes from the same
// path shares, for models that are only read once parsed. The file is read
// on every call, and parsed (then checked by `accept`, which throws to
// refuse it) only when no thread holds a model of the same path and bytes:
// so a changed file is seen at the next load, as when each thread parses
// its own copy, and the model is freed with its last holder.
template <typename T, typename Accept>
std::shared_ptr<const T> sharedModelFile(const std::string& path, const Accept& accept) {
  static std::mutex mutex;
  static std::map<std::string, std::pair<uint64_t, std::weak_ptr<const T>>> parsed;
  std::lock_guard<std::mutex> lock(mutex);
  auto found = parsed.find(path);
  if (found != parsed.end()) {
    std::shared_ptr<const T> model = found->second.second.lock();
    if (model && fileDigest(path) == found->second.first) return model;
  }
  auto model = std::make_shared<T>();
  const uint64_t digest = loadModelFile(path, *model);
  accept(*model);
  parsed[path] = {digest, model};
  return model;
}

}  // namespace morvik

#endif  // MORVIK_MODEL_FILE_H_
