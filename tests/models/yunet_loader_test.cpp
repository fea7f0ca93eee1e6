// Loading the YuNet model: the file "yunet.path" names, read only when it
// is a regular file of bounded size (a FIFO, a device, a directory, a
// missing, cut or oversized file get the model-load code without waiting
// or reading them), and cached per thread until GlobalFree.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "models/yunet_loader.h"
#include "morvik/config.h"
#include "morvik/global_cache.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using morvik::YunetNetwork;

class YunetLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = g_config.yunet_path;
    GlobalFree();
  }
  void TearDown() override {
    g_config.yunet_path = saved_;
    GlobalFree();
    for (const std::string& path : scratch_) ::unlink(path.c_str());
  }

  std::string writeFile(const std::vector<char>& bytes) {
    const std::string path = testing_support::scratchPath("yunet.bin");
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    scratch_.push_back(path);
    return path;
  }

  static int loadFile(const std::string& path) {
    std::shared_ptr<const YunetNetwork> net;
    const int rc = morvik::loadYunetModelFile(path, net);
    EXPECT_EQ(rc == MV_OK, net != nullptr) << path;
    return rc;
  }

  std::string saved_;
  std::vector<std::string> scratch_;
};

TEST_F(YunetLoader, LoadsTheConfiguredFile) {
  EXPECT_EQ(loadFile(g_config.yunet_path), MV_OK);
  std::shared_ptr<const YunetNetwork> net;
  ASSERT_EQ(morvik::loadYunetModel(net), MV_OK);
  EXPECT_NE(net, nullptr);
}

TEST_F(YunetLoader, RefusesWhatIsNotTheModelsFile) {
  const std::vector<char> model = testing_support::fileBytes(g_config.yunet_path);
  ASSERT_FALSE(model.empty());
  EXPECT_EQ(loadFile(testing_support::scratchPath("missing.bin")), MV_LOAD_CASCADE);
  EXPECT_EQ(loadFile("/tmp"), MV_LOAD_CASCADE);
  EXPECT_EQ(loadFile("/dev/zero"), MV_LOAD_CASCADE);
  EXPECT_EQ(loadFile(writeFile({})), MV_LOAD_CASCADE);
  EXPECT_EQ(loadFile(writeFile(std::vector<char>(model.begin(), model.begin() + 100000))), MV_LOAD_CASCADE);
  std::vector<char> oversized = model;
  oversized.resize(morvik::kMaxYunetModelBytes + 1, 0);
  EXPECT_EQ(loadFile(writeFile(oversized)), MV_LOAD_CASCADE);
  // A copy is the model.
  EXPECT_EQ(loadFile(writeFile(model)), MV_OK);
}

// Opening a FIFO would wait for a writer; it is refused at once.
TEST_F(YunetLoader, RefusesAFifoWithoutWaiting) {
  const std::string path = testing_support::scratchPath("yunet.fifo");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  scratch_.push_back(path);
  EXPECT_EQ(loadFile(path), MV_LOAD_CASCADE);
}

TEST_F(YunetLoader, CachesPerThreadUntilGlobalFree) {
  std::shared_ptr<const YunetNetwork> first, second, other;
  ASSERT_EQ(morvik::loadYunetModel(first), MV_OK);
  // A changed path is read at the thread's next load, after GlobalFree.
  g_config.yunet_path = testing_support::scratchPath("missing.bin");
  ASSERT_EQ(morvik::loadYunetModel(second), MV_OK);
  EXPECT_EQ(first, second);
  std::thread([&other] { EXPECT_EQ(morvik::loadYunetModel(other), MV_LOAD_CASCADE); }).join();
  EXPECT_EQ(other, nullptr);
  GlobalFree();
  std::shared_ptr<const YunetNetwork> none;
  EXPECT_EQ(morvik::loadYunetModel(none), MV_LOAD_CASCADE);
  EXPECT_EQ(none, nullptr);
  // Nothing was cached by the failure: the next load reads the file again.
  g_config.yunet_path = saved_;
  ASSERT_EQ(morvik::loadYunetModel(second), MV_OK);
  EXPECT_NE(second, nullptr);
}

}  // namespace
