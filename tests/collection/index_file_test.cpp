// The index file: what is saved loads back the same, and a file that was
// cut short, damaged or is not an index is refused instead of read.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <xxhash.h>

#include "collection/synthetic_descriptors.h"
#include "morvik/collection.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using testing_support::clusteredDescriptors;
using testing_support::fileBytes;
using testing_support::scratchPath;

void writeBytes(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// An index of `count` faces saved at `path`, with a source and attachment.
void saveIndex(const std::string& path, int32_t policy, const std::vector<float>& faces) {
  MvIndex* index = nullptr;
  ASSERT_EQ(MvIndexCreate(policy, &index), MV_OK);
  ASSERT_EQ(MvIndexAdd(index, faces.data(), faces.size() / 128), MV_OK);
  const MvIndexSource source{1234, 5678, 0xABCDEF, 1000};
  ASSERT_EQ(MvIndexSetSource(index, &source), MV_OK);
  const std::string attachment = "what each face stands for";
  ASSERT_EQ(MvIndexSetAttachment(index, attachment.data(), attachment.size()), MV_OK);
  ASSERT_EQ(MvIndexSave(index, path.c_str()), MV_OK);
  MvIndexFree(index);
}

void expectSameSearch(const std::vector<float>& faces, const std::string& path, int32_t structure) {
  MvIndex* loaded = nullptr;
  ASSERT_EQ(MvIndexLoad(path.c_str(), &loaded), MV_OK);
  MvIndexInfo info;
  ASSERT_EQ(MvIndexGetInfo(loaded, &info), MV_OK);
  EXPECT_EQ(info.count, faces.size() / 128);
  EXPECT_EQ(info.structure, structure);
  MvIndexSource source;
  ASSERT_EQ(MvIndexGetSource(loaded, &source), MV_OK);
  EXPECT_EQ(source.size, 1234u);
  EXPECT_EQ(source.mtime_ns, 5678);
  EXPECT_EQ(source.digest, 0xABCDEFu);
  EXPECT_EQ(source.covered, 1000u);
  const void* data = nullptr;
  size_t size = 0;
  ASSERT_EQ(MvIndexGetAttachment(loaded, &data, &size), MV_OK);
  EXPECT_EQ(std::string(static_cast<const char*>(data), size), "what each face stands for");
  for (size_t id : {size_t{0}, faces.size() / 128 - 1}) {
    MvNeighbor best[1];
    size_t found = 1;
    ASSERT_EQ(MvIndexSearch(loaded, &faces[id * 128], 1, 0, best, &found), MV_OK);
    ASSERT_EQ(found, 1u);
    EXPECT_EQ(best[0].id, id);
    EXPECT_EQ(best[0].distance, 0.0);
  }
  MvIndexFree(loaded);
}

TEST(IndexFile, SavedIndexesLoadBackTheSame) {
  const std::string path = scratchPath("faces.mvx");
  const std::vector<float> few = clusteredDescriptors(300, 30, 0.3f, 1);
  saveIndex(path, MV_INDEX_EXACT, few);
  expectSameSearch(few, path, MV_INDEX_EXACT);
  const std::vector<float> many = clusteredDescriptors(5000, 500, 0.3f, 2);
  saveIndex(path, MV_INDEX_APPROXIMATE, many);  // replaces the file
  expectSameSearch(many, path, MV_INDEX_APPROXIMATE);
  // No temporary file is left beside it.
  EXPECT_FALSE(std::ifstream(path + ".tmp" + std::to_string(getpid())).good());
  std::remove(path.c_str());
}

TEST(IndexFile, DamagedFilesAreRefused) {
  const std::string path = scratchPath("damaged.mvx");
  saveIndex(path, MV_INDEX_EXACT, clusteredDescriptors(200, 20, 0.3f, 3));
  const std::vector<char> good = fileBytes(path);
  ASSERT_GT(good.size(), 200u * 512);
  MvIndex* index = nullptr;
  // Cut short anywhere: in the header, in FAISS's part, in the attachment.
  for (size_t keep : {size_t{0}, size_t{10}, size_t{143}, good.size() / 2, good.size() - 1}) {
    writeBytes(path, std::vector<char>(good.begin(), good.begin() + static_cast<long>(keep)));
    EXPECT_EQ(MvIndexLoad(path.c_str(), &index), MV_INVALID_ARGS) << "cut to " << keep;
    EXPECT_EQ(index, nullptr);
  }
  // One byte changed anywhere, or one byte more.
  for (size_t at : {size_t{9}, size_t{100}, size_t{300}, good.size() / 2, good.size() - 3}) {
    std::vector<char> bad = good;
    bad[at] ^= 0x10;
    writeBytes(path, bad);
    EXPECT_EQ(MvIndexLoad(path.c_str(), &index), MV_INVALID_ARGS) << "byte " << at;
  }
  std::vector<char> longer = good;
  longer.push_back('x');
  writeBytes(path, longer);
  EXPECT_EQ(MvIndexLoad(path.c_str(), &index), MV_INVALID_ARGS);
  // Not an index at all, a folder, nothing.
  writeBytes(path, std::vector<char>(4096, 'j'));
  EXPECT_EQ(MvIndexLoad(path.c_str(), &index), MV_INVALID_ARGS);
  EXPECT_EQ(MvIndexLoad("/tmp", &index), MV_INVALID_ARGS);
  EXPECT_EQ(MvIndexLoad("/no/such/index.mvx", &index), MV_INVALID_ARGS);
  EXPECT_EQ(index, nullptr);
  writeBytes(path, good);
  ASSERT_EQ(MvIndexLoad(path.c_str(), &index), MV_OK);
  MvIndexFree(index);
  std::remove(path.c_str());
}

TEST(IndexFile, AFolderThatCannotBeWrittenLeavesNothing) {
  MvIndex* index = nullptr;
  ASSERT_EQ(MvIndexCreate(MV_INDEX_AUTO, &index), MV_OK);
  EXPECT_EQ(MvIndexSave(index, "/no/such/folder/index.mvx"), MV_INVALID_ARGS);
  EXPECT_EQ(MvIndexSave(index, ""), MV_INVALID_ARGS);
  MvIndexFree(index);
}

// A FIFO would block the open, a device never end: both are refused at
// once, by the loader and by the digest.
TEST(IndexFile, PathsThatAreNoRegularFilesAreRefusedAtOnce) {
  const std::string fifo = scratchPath("index_fifo.mvx");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  MvIndex* index = nullptr;
  uint64_t digest = 0;
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(MvIndexLoad(path.c_str(), &index), MV_INVALID_ARGS);
    EXPECT_EQ(index, nullptr);
    EXPECT_EQ(MvFileDigest(path.c_str(), UINT64_MAX, &digest), MV_INVALID_ARGS);
    EXPECT_EQ(MvFileDigest(path.c_str(), 10, &digest), MV_INVALID_ARGS);
  }
  std::remove(fifo.c_str());
}

// A link planted where a write once put its temporary file (PATH.tmpPID),
// or at the index itself, is never written through; the folder is left
// with the index and the planted link only.
TEST(IndexFile, ASaveNeverWritesThroughAPlantedLink) {
  const std::string folder = scratchPath("planted");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const std::string victim = scratchPath("victim.txt");
  writeBytes(victim, std::vector<char>{'k', 'e', 'e', 'p'});
  const std::string path = folder + "/faces.mvx";
  const std::string old_temporary = path + ".tmp" + std::to_string(getpid());
  ASSERT_EQ(symlink(victim.c_str(), old_temporary.c_str()), 0);
  saveIndex(path, MV_INDEX_EXACT, clusteredDescriptors(50, 5, 0.3f, 3));
  EXPECT_EQ(fileBytes(victim), (std::vector<char>{'k', 'e', 'e', 'p'}));
  // The index itself a link: replaced by the new file, its target intact.
  std::remove(path.c_str());
  ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
  saveIndex(path, MV_INDEX_EXACT, clusteredDescriptors(50, 5, 0.3f, 3));
  EXPECT_EQ(fileBytes(victim), (std::vector<char>{'k', 'e', 'e', 'p'}));
  struct stat info;
  ASSERT_EQ(lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  size_t entries = 0;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") ++entries;
    }
    closedir(dir);
  }
  EXPECT_EQ(entries, 2u);
  std::remove(path.c_str());
  std::remove(old_temporary.c_str());
  rmdir(folder.c_str());
  std::remove(victim.c_str());
}

TEST(FileDigest, CoversTheBytesAsked) {
  const std::string path = scratchPath("digest.txt");
  writeBytes(path, std::vector<char>{'a', 'b', 'c', 'd'});
  uint64_t whole = 0, prefix = 0, again = 0;
  ASSERT_EQ(MvFileDigest(path.c_str(), UINT64_MAX, &whole), MV_OK);
  ASSERT_EQ(MvFileDigest(path.c_str(), 3, &prefix), MV_OK);
  EXPECT_NE(whole, prefix);
  writeBytes(path, std::vector<char>{'a', 'b', 'c', 'x', 'y'});
  ASSERT_EQ(MvFileDigest(path.c_str(), 3, &again), MV_OK);
  EXPECT_EQ(again, prefix);  // the first three bytes did not change
  EXPECT_EQ(MvFileDigest(path.c_str(), 6, &again), MV_INVALID_ARGS);
  EXPECT_EQ(MvFileDigest("/no/such/file", UINT64_MAX, &again), MV_INVALID_ARGS);
  std::remove(path.c_str());
}

// MvFileDigest is XXH3 (64 bits, seed 0) of the bytes, as `xxhsum -H3` gives it.
TEST(FileDigest, IsXxh3OfTheBytes) {
  const std::string path = scratchPath("xxh3.bin");
  std::vector<char> bytes((size_t{1} << 20) * 3 + 77);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + i / 977);
  writeBytes(path, bytes);
  uint64_t digest = 0;
  for (size_t length : {size_t{0}, size_t{1}, size_t{240}, size_t{1} << 20, bytes.size()}) {
    ASSERT_EQ(MvFileDigest(path.c_str(), length, &digest), MV_OK);
    EXPECT_EQ(digest, XXH3_64bits(bytes.data(), length)) << length;
  }
  ASSERT_EQ(MvFileDigest(path.c_str(), 0, &digest), MV_OK);
  EXPECT_EQ(digest, 0x2D06800538D394C2ull);  // XXH3's digest of no bytes
  std::remove(path.c_str());
}

// An index file of version 1 (the digests before XXH3), written by the
// library of that version: refused like a damaged file, so hosts rebuild it.
TEST(IndexFile, AFileOfTheFormerVersionIsRefused) {
  const std::string path = std::string(MORVIK_SOURCE_DIR) + "/tests/collection/data/index_v1.jsonl.mvx";
  const std::vector<char> bytes = fileBytes(path);
  ASSERT_GT(bytes.size(), 144u);
  ASSERT_EQ(bytes[8], 1);  // the version field
  MvIndex* index = nullptr;
  EXPECT_EQ(MvIndexLoad(path.c_str(), &index), MV_INVALID_ARGS);
  EXPECT_EQ(index, nullptr);
}

}  // namespace
