// Files are written whole through a new file beside the target and never
// through anything planted at a name the write could use.
#include "files/atomic_file.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

using testing_support::scratchPath;

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> namesIn(const std::string& folder) {
  std::set<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.insert(name);
  }
  closedir(dir);
  return names;
}

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = scratchPath("atomic");
    ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
    victim_ = scratchPath("victim.txt");
    std::ofstream(victim_) << "precious";
  }
  void TearDown() override {
    for (const std::string& name : namesIn(folder_)) std::remove((folder_ + "/" + name).c_str());
    rmdir(folder_.c_str());
    std::remove(victim_.c_str());
  }
  std::string folder_;
  std::string victim_;
};

}  // namespace

TEST_F(AtomicFileTest, WritesAndReplacesWholeFilesLeavingNothingElse) {
  const std::string path = folder_ + "/out.json";
  std::string error;
  ASSERT_TRUE(morvik::writeFileAtomically(path, "first", 5, error)) << error;
  EXPECT_EQ(contents(path), "first");
  ASSERT_TRUE(morvik::writeFileAtomically(path, "second", 6, error)) << error;
  EXPECT_EQ(contents(path), "second");
  EXPECT_EQ(namesIn(folder_), std::set<std::string>{"out.json"});
}

TEST_F(AtomicFileTest, AnAbandonedWriteLeavesTheOldFile) {
  const std::string path = folder_ + "/out.json";
  std::string error;
  ASSERT_TRUE(morvik::writeFileAtomically(path, "old", 3, error)) << error;
  {
    morvik::AtomicFile file(path);
    EXPECT_EQ(file.temporaryPath().rfind(folder_ + "/.out.json.", 0), 0u) << file.temporaryPath();
    EXPECT_TRUE(file.write("new", 3));
    // Not committed: as when the process fails half way.
  }
  EXPECT_EQ(contents(path), "old");
  EXPECT_EQ(namesIn(folder_), std::set<std::string>{"out.json"});
}

// Two writes of one file at once (two threads, or two processes with the
// same pid in different namespaces) never share a temporary file.
TEST_F(AtomicFileTest, TemporaryNamesDiffer) {
  const std::string path = folder_ + "/out.json";
  morvik::AtomicFile a(path);
  morvik::AtomicFile b(path);
  EXPECT_NE(a.temporaryPath(), b.temporaryPath());
  const std::string name = a.temporaryPath().substr(folder_.size());
  EXPECT_EQ(name.find(std::to_string(getpid())), std::string::npos) << name;
  struct stat info;
  EXPECT_EQ(lstat(a.temporaryPath().c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
}

TEST_F(AtomicFileTest, ALinkAtTheTargetIsReplacedNotFollowed) {
  const std::string path = folder_ + "/out.json";
  ASSERT_EQ(symlink(victim_.c_str(), path.c_str()), 0);
  std::string error;
  ASSERT_TRUE(morvik::writeFileAtomically(path, "mine", 4, error)) << error;
  EXPECT_EQ(contents(victim_), "precious");
  struct stat info;
  ASSERT_EQ(lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(contents(path), "mine");
}

TEST_F(AtomicFileTest, AFolderThatCannotBeWrittenIsAnError) {
  std::string error;
  EXPECT_FALSE(morvik::writeFileAtomically(folder_ + "/missing/out.json", "x", 1, error));
  EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
  EXPECT_THROW(morvik::AtomicFile(folder_ + "/missing/out.json"), std::runtime_error);
}
