#include "collection_index.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <iostream>

namespace cli {
namespace {

constexpr char kTableMagic[4] = {'M', 'V', 'F', 'T'};
constexpr uint32_t kTableVersion = 1;
constexpr size_t kLargeBatch = 100000;

// The attachment: counts of the JSON lines, then one entry per face id.
struct TableHeader {
  char magic[4];
  uint32_t version;
  uint64_t photos;
  uint64_t failed_photos;
  uint64_t damaged_lines;
  uint64_t faces;
};
struct TableEntry {
  uint64_t line_offset;
  uint32_t face_number;
  uint32_t reserved;
};

std::vector<unsigned char> packTable(const Collection& c) {
  TableHeader header{};
  std::memcpy(header.magic, kTableMagic, sizeof kTableMagic);
  header.version = kTableVersion;
  header.photos = c.photos;
  header.failed_photos = c.failed_photos;
  header.damaged_lines = c.damaged_lines;
  header.faces = c.faces.size();
  std::vector<unsigned char> bytes(sizeof header + c.faces.size() * sizeof(TableEntry));
  std::memcpy(bytes.data(), &header, sizeof header);
  for (size_t i = 0; i < c.faces.size(); ++i) {
    const TableEntry entry{c.faces[i].line_offset, c.faces[i].face_number, 0};
    std::memcpy(bytes.data() + sizeof header + i * sizeof entry, &entry, sizeof entry);
  }
  return bytes;
}

bool unpackTable(const void* data, size_t size, size_t count, Collection& c) {
  TableHeader header;
  if (size < sizeof header) return false;
  std::memcpy(&header, data, sizeof header);
  if (std::memcmp(header.magic, kTableMagic, sizeof kTableMagic) != 0 || header.version != kTableVersion ||
      header.faces != count || size != sizeof header + count * sizeof(TableEntry)) {
    return false;
  }
  c.photos = header.photos;
  c.failed_photos = header.failed_photos;
  c.damaged_lines = header.damaged_lines;
  c.faces.resize(count);
  const auto* entries = static_cast<const unsigned char*>(data) + sizeof header;
  for (size_t i = 0; i < count; ++i) {
    TableEntry entry;
    std::memcpy(&entry, entries + i * sizeof entry, sizeof entry);
    c.faces[i] = {entry.line_offset, entry.face_number};
  }
  return true;
}

Status libraryFailure(int rc, const std::string& what) { return failure(rc, what); }

struct SourceState {
  uint64_t size = 0;
  int64_t mtime_ns = 0;
};

Status statSource(const std::string& jsonl, SourceState& state) {
  struct stat info;
  if (::stat(jsonl.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return failure(MV_INVALID_ARGS, "cannot read the index " + jsonl);
  }
  state.size = static_cast<uint64_t>(info.st_size);
  state.mtime_ns = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return okStatus();
}

// Adds the faces of the JSON lines from `from` on to the collection.
Status addLines(const std::string& jsonl, uint64_t from, Collection& c, uint64_t& covered, size_t& added) {
  IndexContents contents;
  Status status = readIndex(jsonl, contents, from);
  if (!status.ok()) return status;
  std::vector<float> vectors(contents.faces.size() * 128);
  for (size_t i = 0; i < contents.faces.size(); ++i) {
    const IndexedFace& face = contents.faces[i];
    std::memcpy(vectors.data() + i * 128, face.data.vector, sizeof face.data.vector);
    c.faces.push_back({face.line_offset, static_cast<uint32_t>(face.face_number)});
  }
  // A million faces take a minute or two: say what is going on.
  if (contents.faces.size() >= kLargeBatch && verbose()) {
    std::cerr << "morvik: " << collectionIndexPath(jsonl) << ": indexing " << contents.faces.size() << " faces\n";
  }
  const int rc = MvIndexAdd(c.index(), vectors.data(), contents.faces.size());
  if (rc != MV_OK) return libraryFailure(rc, "cannot add the faces to the index");
  c.photos += contents.photos;
  c.failed_photos += contents.failed_photos;
  c.damaged_lines += contents.damaged_lines;
  covered = contents.end_offset;
  added = contents.faces.size();
  return okStatus();
}

// Records what the index covers and writes it; a folder that cannot be
// written only costs the next run a rebuild.
void save(const std::string& jsonl, const SourceState& state, uint64_t covered, Collection& c) {
  MvIndexSource source{state.size, state.mtime_ns, 0, covered};
  const std::vector<unsigned char> table = packTable(c);
  const std::string path = collectionIndexPath(jsonl);
  int rc = MvFileDigest(jsonl.c_str(), covered, &source.digest);
  if (rc == MV_OK) rc = MvIndexSetSource(c.index(), &source);
  if (rc == MV_OK) rc = MvIndexSetAttachment(c.index(), table.data(), table.size());
  if (rc == MV_OK) rc = MvIndexSave(c.index(), path.c_str());
  if (rc != MV_OK) std::cerr << "morvik: " << path << ": cannot write the index; it is rebuilt next time\n";
}

Status build(const std::string& jsonl, int policy, const SourceState& state, Collection& c) {
  MvIndex* index = nullptr;
  const int rc = MvIndexCreate(policy, &index);
  if (rc != MV_OK) return libraryFailure(rc, "cannot create the index");
  c.reset(index);
  c.faces.clear();
  c.photos = c.failed_photos = c.damaged_lines = 0;
  uint64_t covered = 0;
  size_t added = 0;
  Status status = addLines(jsonl, 0, c, covered, added);
  if (!status.ok()) return status;
  save(jsonl, state, covered, c);
  return okStatus();
}

// The same faces under another policy, from the index's own descriptors.
Status repolicy(int policy, Collection& c) {
  MvIndexInfo info;
  int rc = MvIndexGetInfo(c.index(), &info);
  std::vector<float> vectors(info.count * 128);
  if (rc == MV_OK) rc = MvIndexGetVectors(c.index(), 0, info.count, vectors.data());
  MvIndex* index = nullptr;
  if (rc == MV_OK) rc = MvIndexCreate(policy, &index);
  if (rc == MV_OK) rc = MvIndexAdd(index, vectors.data(), info.count);
  if (rc != MV_OK) {
    MvIndexFree(index);
    return libraryFailure(rc, "cannot rebuild the index");
  }
  MvIndexSource source;
  MvIndexGetSource(c.index(), &source);
  MvIndexSetSource(index, &source);
  c.reset(index);
  return okStatus();
}

// What was done to the index file, for --verbose.
void note(const std::string& path, const std::string& text) {
  if (verbose()) std::cerr << "morvik: " << path << ": " << text << "\n";
}

}  // namespace

std::string collectionIndexPath(const std::string& jsonl) { return jsonl + ".mvx"; }

std::string structureName(const Collection& c) {
  MvIndexInfo info{};
  MvIndexGetInfo(c.index(), &info);
  return info.structure == MV_INDEX_APPROXIMATE ? "approximate" : "exact";
}

Status openCollection(const std::string& jsonl, const CollectionRequest& request, Collection& c) {
  SourceState state;
  Status status = statSource(jsonl, state);
  if (!status.ok()) return status;
  const std::string path = collectionIndexPath(jsonl);
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return build(jsonl, request.policy, state, c);

  MvIndex* loaded = nullptr;
  if (MvIndexLoad(path.c_str(), &loaded) != MV_OK) {
    note(path, "damaged index file: rebuilt from the JSON lines");
    return build(jsonl, request.policy, state, c);
  }
  c.reset(loaded);
  MvIndexInfo index_info{};
  MvIndexSource source{};
  const void* table = nullptr;
  size_t table_size = 0;
  if (MvIndexGetInfo(loaded, &index_info) != MV_OK || MvIndexGetSource(loaded, &source) != MV_OK ||
      MvIndexGetAttachment(loaded, &table, &table_size) != MV_OK ||
      !unpackTable(table, table_size, index_info.count, c)) {
    note(path, "damaged index file: rebuilt from the JSON lines");
    return build(jsonl, request.policy, state, c);
  }
  const int policy = request.force ? request.policy : index_info.policy;
  uint64_t digest = 0;
  if (source.covered > state.size || MvFileDigest(jsonl.c_str(), source.covered, &digest) != MV_OK ||
      digest != source.digest) {
    note(path, "the JSON lines changed: index rebuilt");
    return build(jsonl, policy, state, c);
  }
  bool changed = false;
  if (policy != index_info.policy) {
    status = repolicy(policy, c);
    if (!status.ok()) return status;
    changed = true;
  }
  uint64_t covered = source.covered;
  if (state.size != source.covered || state.mtime_ns != source.mtime_ns || state.size != source.size) {
    size_t added = 0;
    status = addLines(jsonl, source.covered, c, covered, added);
    if (!status.ok()) return status;
    if (added > 0) note(path, "extended by " + std::to_string(added) + " faces");
    changed = changed || covered != source.covered || state.mtime_ns != source.mtime_ns ||
              state.size != source.size;
  }
  if (changed) save(jsonl, state, covered, c);
  return okStatus();
}

}  // namespace cli
