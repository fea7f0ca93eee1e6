// Models shared between threads: one parsed model per path and content,
// while any thread holds it; a changed file is parsed again.
#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <dlib/matrix.h>
#include <dlib/serialize.h>
#include <gtest/gtest.h>

#include "models/model_file.h"
#include "support/test_support.h"

namespace {

using Model = dlib::matrix<float>;

void writeModel(const std::string& path, float value) {
  Model m(2, 3);
  m = value;
  dlib::serialize(path) << m;
}

std::shared_ptr<const Model> load(const std::string& path) {
  return morvik::sharedModelFile<Model>(path, [](const Model&) {});
}

TEST(SharedModelFile, ThreadsLoadingTheSameFileShareOneModel) {
  const std::string path = testing_support::scratchPath("shared_model.dat");
  writeModel(path, 1.5f);
  std::shared_ptr<const Model> first = load(path), second;
  std::thread other([&] { second = load(path); });
  other.join();
  EXPECT_EQ(first.get(), second.get());
  EXPECT_EQ(1.5f, (*second)(1, 2));
}

TEST(SharedModelFile, AChangedFileIsParsedAgain) {
  const std::string path = testing_support::scratchPath("changed_model.dat");
  writeModel(path, 1.0f);
  std::shared_ptr<const Model> before = load(path);
  writeModel(path, 2.0f);
  std::shared_ptr<const Model> after = load(path);
  EXPECT_NE(before.get(), after.get());
  EXPECT_EQ(1.0f, (*before)(0, 0));  // holders of the old model keep it
  EXPECT_EQ(2.0f, (*after)(0, 0));
}

TEST(SharedModelFile, ParsedAgainOnceNoThreadHoldsIt) {
  const std::string path = testing_support::scratchPath("dropped_model.dat");
  writeModel(path, 3.0f);
  std::weak_ptr<const Model> dropped = load(path);
  EXPECT_TRUE(dropped.expired());  // freed with its last holder
  EXPECT_EQ(3.0f, (*load(path))(0, 0));
}

TEST(SharedModelFile, RefusedAndBrokenModelsAreNotKept) {
  const std::string path = testing_support::scratchPath("refused_model.dat");
  writeModel(path, 4.0f);
  auto refuse = [](const Model&) { throw dlib::serialization_error("refused"); };
  EXPECT_THROW((morvik::sharedModelFile<Model>(path, refuse)), dlib::serialization_error);
  std::shared_ptr<const Model> accepted = load(path);
  EXPECT_EQ(4.0f, (*accepted)(0, 0));

  // Broken bytes are reported in dlib's words, naming the file.
  std::ofstream(path, std::ios::trunc) << "not a model";
  try {
    load(path);
    FAIL() << "a broken file loaded";
  } catch (const dlib::serialization_error& e) {
    const std::string expected = "An error occurred while trying to read the first object from the file '" + path + "'.";
    EXPECT_EQ(0u, std::string(e.what()).find(expected)) << e.what();
  }
  try {
    load(testing_support::scratchPath("no_such_model.dat"));
    FAIL() << "a missing file loaded";
  } catch (const dlib::serialization_error& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("Unable to open")) << e.what();
  }
}

TEST(ModelBytes, FilesOfMegabytesAreReadWhole) {
  // Both sides of the size where buffers move from the heap to mappings of
  // their own.
  for (size_t size : {size_t{1000}, (size_t{2} << 20) - 1, size_t{2} << 20, (size_t{5} << 20) + 3}) {
    const std::string path = testing_support::scratchPath("bytes.dat");
    std::string written(size, '\0');
    for (size_t i = 0; i < size; ++i) written[i] = static_cast<char>(i * 131 + i / 4093);
    std::ofstream(path, std::ios::binary) << written;
    morvik::ModelBytes bytes = morvik::readModelFile(path);
    ASSERT_EQ(size, bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), written.begin())) << size;
    morvik::ModelBytes copy = bytes;
    copy.resize(size / 2);
    copy.shrink_to_fit();
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), written.begin())) << size;
  }
}

// The digest of a model file read a chunk at a time is the digest of its
// bytes; any change to them changes it.
TEST(ModelDigest, ChunksGiveTheDigestOfTheWhole) {
  const std::string path = testing_support::scratchPath("digest.dat");
  std::string written((size_t{3} << 20) + 5, '\0');
  for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<char>(i * 7 + i / 251);
  std::ofstream(path, std::ios::binary) << written;
  const morvik::ModelBytes bytes = morvik::readModelFile(path);
  const uint64_t whole = morvik::digestOf(bytes.data(), bytes.size());
  uint64_t read_digest = 0;
  morvik::readModelFile(path, &read_digest);
  EXPECT_EQ(whole, read_digest);
  EXPECT_EQ(whole, morvik::fileDigest(path));
  // One byte changed, or one more, changes it.
  std::string changed = written;
  changed[written.size() / 2] ^= 1;
  std::ofstream(path, std::ios::binary) << changed;
  EXPECT_NE(whole, morvik::fileDigest(path));
  std::ofstream(path, std::ios::binary) << written << 'x';
  EXPECT_NE(whole, morvik::fileDigest(path));
  EXPECT_THROW(morvik::fileDigest(testing_support::scratchPath("")), dlib::serialization_error);
}

}  // namespace
