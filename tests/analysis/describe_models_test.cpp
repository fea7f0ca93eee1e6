// A thread's first description loads the landmark model and the metric
// network side by side; faults still surface where the models are used.
#include <string>
#include <thread>
#include <vector>

#include <dlib/serialize.h>
#include <gtest/gtest.h>

#include "analysis/describe_models.h"
#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "support/test_support.h"

namespace {

const std::string kMissing = "/nonexistent/model.dat";

class DescribeModels : public ::testing::Test {
 protected:
  void SetUp() override {
    shape_ = g_config.dlib_shape;
    anet_ = g_config.dlib_anet;
    face_ = testing_support::photo("faces/Tom_Cruise_avp_2014_4.jpg")(cv::Rect(100, 100, 360, 420));
  }
  void TearDown() override {
    g_config.dlib_shape = shape_;
    g_config.dlib_anet = anet_;
  }

  // Runs fn on a thread of its own, which has no models yet.
  template <typename Fn>
  static void onNewThread(Fn fn) {
    std::thread thread(fn);
    thread.join();
  }

  // The landmark fit on the test face, through the thread's model.
  bool fitsLandmarks() {
    cv::Rect whole(0, 0, face_.cols, face_.rows);
    try {
      return dlib_get_shape(face_, whole).num_parts() == 68;
    } catch (const dlib::serialization_error&) {
      return false;
    }
  }

  std::string shape_, anet_;
  cv::Mat face_;
};

TEST_F(DescribeModels, BothModelsAreTheThreadsAfterwards) {
  bool landmarks = false;
  int descriptor = -1;
  onNewThread([&] {
    morvik::loadDescribeModels();
    // With the files out of reach, only models already held can serve.
    g_config.dlib_shape = kMissing;
    g_config.dlib_anet = kMissing;
    landmarks = fitsLandmarks();
    std::vector<float> v;
    descriptor = DlibExtractFaceVector(face_, v);
  });
  EXPECT_TRUE(landmarks);
  EXPECT_EQ(0, descriptor);
}

TEST_F(DescribeModels, FaultsSurfaceWhereTheModelsAreUsed) {
  onNewThread([&] {
    g_config.dlib_shape = kMissing;
    g_config.dlib_anet = kMissing;
    EXPECT_NO_THROW(morvik::loadDescribeModels());
    EXPECT_FALSE(fitsLandmarks());
    std::vector<float> v;
    EXPECT_THROW(DlibExtractFaceVector(face_, v), dlib::serialization_error);
    // Nothing broken was kept: with the files back, both load.
    g_config.dlib_shape = shape_;
    g_config.dlib_anet = anet_;
    EXPECT_TRUE(fitsLandmarks());
    EXPECT_EQ(0, DlibExtractFaceVector(face_, v));
  });
}

TEST_F(DescribeModels, APrefetchOfAFileNoLongerConfiguredIsDropped) {
  onNewThread([&] {
    morvik::LandmarkPrefetch prefetch = morvik::prefetchLandmarkModel();
    ASSERT_TRUE(prefetch.model.valid());
    g_config.dlib_shape = kMissing;
    morvik::adoptLandmarkModel(prefetch);
    EXPECT_FALSE(fitsLandmarks());  // the thread loads the missing file itself
    g_config.dlib_shape = shape_;
    EXPECT_TRUE(fitsLandmarks());
    // Once the thread holds a model, nothing more is started.
    EXPECT_FALSE(morvik::prefetchLandmarkModel().model.valid());
  });
}

}  // namespace
