// Paths that are not regular files are refused before open() can block or
// a byte is read; regular files read whole.
#include "files/regular_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

using testing_support::scratchPath;

// Closes what it opened, so a test failure leaks no descriptor.
int openAndClose(const std::string& path, uint64_t* size = nullptr) {
  const int fd = morvik::openRegularFile(path.c_str(), size);
  const int error = errno;
  if (fd >= 0) ::close(fd);
  errno = error;
  return fd;
}

}  // namespace

TEST(RegularFile, OpensARegularFileWithItsSize) {
  const std::string path = scratchPath("regular.bin");
  std::ofstream(path, std::ios::binary) << "twelve bytes";
  uint64_t size = 0;
  const morvik::FileDescriptor file(morvik::openRegularFile(path.c_str(), &size));
  ASSERT_TRUE(file.valid());
  EXPECT_EQ(size, 12u);
  char bytes[32] = {};
  EXPECT_EQ(morvik::readFully(file.get(), bytes, sizeof bytes), 12u);
  EXPECT_STREQ(bytes, "twelve bytes");
  std::remove(path.c_str());
}

TEST(RegularFile, RefusesEveryOtherKindOfPath) {
  const std::string fifo = scratchPath("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = scratchPath("folder");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const std::string link = scratchPath("zero_link");
  ASSERT_EQ(symlink("/dev/zero", link.c_str()), 0);

  // A FIFO without a writer: refused at once, not waited on.
  EXPECT_EQ(openAndClose(fifo), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(morvik::openFailure(EINVAL), "not a regular file");
  EXPECT_EQ(openAndClose("/dev/zero"), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(openAndClose(link), -1);  // a link to a device is a device
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(openAndClose(folder), -1);
  EXPECT_EQ(errno, EISDIR);
  EXPECT_EQ(morvik::openFailure(EISDIR), "is a directory");
  EXPECT_EQ(openAndClose(scratchPath("missing")), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(morvik::openRegularFile(nullptr), -1);

  std::remove(fifo.c_str());
  std::remove(link.c_str());
  rmdir(folder.c_str());
}
