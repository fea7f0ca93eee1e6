// Photos are read only from regular files no larger than the largest image
// the decoder accepts could be.
#include "files/photo_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

using testing_support::scratchPath;
using testing_support::testdata;

std::string refusal(const std::string& path, uint64_t max_pixels) {
  std::vector<unsigned char> bytes;
  std::string error;
  if (morvik::readPhotoFile(path, max_pixels, bytes, error)) return "read";
  EXPECT_TRUE(bytes.empty() || error == "empty file");
  return error;
}

constexpr uint64_t kDefaultPixels = 100000000;

}  // namespace

TEST(PhotoFile, ReadsAPhotoWhole) {
  const std::string path = testdata("people/obama/obama.jpg");
  std::vector<unsigned char> bytes;
  std::string error;
  ASSERT_TRUE(morvik::readPhotoFile(path, kDefaultPixels, bytes, error)) << error;
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(bytes.size(), static_cast<size_t>(info.st_size));
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);
}

// /dev/zero, a FIFO and a folder are refused before a byte is read.
TEST(PhotoFile, RefusesWhatIsNoRegularFile) {
  const std::string fifo = scratchPath("photo_fifo.jpg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(refusal("/dev/zero", kDefaultPixels), "not a regular file");
  EXPECT_EQ(refusal(fifo, kDefaultPixels), "not a regular file");
  EXPECT_EQ(refusal(testdata("people"), kDefaultPixels), "is a directory");
  EXPECT_EQ(refusal(scratchPath("missing.jpg"), kDefaultPixels), "no such file");
  std::remove(fifo.c_str());
}

TEST(PhotoFile, RefusesFilesLargerThanTheDecoderLimitAllows) {
  const std::string path = scratchPath("large.ppm");
  const uint64_t pixels = 1000;
  const uint64_t limit = morvik::photoByteLimit(pixels);
  EXPECT_EQ(limit, pixels * 3 + (1u << 20));
  // A sparse file: its size is what counts, nothing is read.
  { std::ofstream(path, std::ios::binary) << "P6"; }
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(limit + 1)), 0);
  EXPECT_EQ(refusal(path, pixels), "too large for an image");
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(limit)), 0);
  EXPECT_EQ(refusal(path, pixels), "read");
  ASSERT_EQ(truncate(path.c_str(), 0), 0);
  EXPECT_EQ(refusal(path, pixels), "empty file");
  std::remove(path.c_str());
}
