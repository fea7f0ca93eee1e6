// The YuNet network's kernels and threads: the portable, AVX2 and AVX-512
// kernels and any number of threads give the same faces, bit for bit, on
// photographs and on noise (where, at score 0, hundreds of candidates of
// every level reach the suppression); images of odd sizes run; unusable
// images are refused.
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/cnn/yunet.h"
#include "models/yunet_loader.h"
#include "morvik/config.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using morvik::YunetFace;
using morvik::YunetIsa;

class YunetPaths : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(morvik::loadYunetModelFile(g_config.yunet_path, net_), 0); }

  void SetUp() override { ASSERT_NE(net_, nullptr); }

  static std::vector<YunetFace> detect(const cv::Mat& image, float min_score, int threads, YunetIsa isa) {
    std::vector<YunetFace> faces;
    EXPECT_EQ(morvik::detectYunetFaces(*net_, image, min_score, faces, threads, isa), 0);
    return faces;
  }

  static cv::Mat noise(int rows, int cols, int seed) {
    cv::Mat image(rows, cols, CV_8UC3);
    cv::RNG rng(seed);
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
    return image;
  }

  static std::shared_ptr<const morvik::YunetNetwork> net_;
};

std::shared_ptr<const morvik::YunetNetwork> YunetPaths::net_;

void expectSameBits(const std::vector<YunetFace>& a, const std::vector<YunetFace>& b, const char* what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (size_t i = 0; i < a.size(); ++i)
    EXPECT_EQ(std::memcmp(&a[i], &b[i], sizeof(YunetFace)), 0) << what << ": face " << i;
}

std::vector<YunetIsa> servedIsas() {
  std::vector<YunetIsa> isas;
  for (YunetIsa isa : {YunetIsa::kPortable, YunetIsa::kAvx2, YunetIsa::kAvx512})
    if (morvik::yunetIsaServed(isa)) isas.push_back(isa);
  return isas;
}

TEST_F(YunetPaths, InstructionSetsGiveTheSameBits) {
  const std::vector<YunetIsa> isas = servedIsas();
  if (isas.size() < 2) GTEST_SKIP() << "only the portable kernels run here";
  const cv::Mat images[] = {testing_support::photo("faces/2008_002079.jpg"), noise(101, 77, 1),
                            noise(45, 260, 2)};
  for (const cv::Mat& image : images) {
    ASSERT_FALSE(image.empty());
    // Score 0 keeps every cell: the comparison sees the heads' values.
    const std::vector<YunetFace> portable = detect(image, 0.0f, 1, YunetIsa::kPortable);
    ASSERT_FALSE(portable.empty());
    for (YunetIsa isa : isas) expectSameBits(portable, detect(image, 0.0f, 1, isa), "instruction set");
  }
}

TEST_F(YunetPaths, ThreadCountDoesNotChangeTheFaces) {
  const cv::Mat images[] = {testing_support::photo("faces/2007_007763.jpg"), noise(300, 200, 3)};
  for (const cv::Mat& image : images) {
    ASSERT_FALSE(image.empty());
    const std::vector<YunetFace> one = detect(image, 0.0f, 1, morvik::bestYunetIsa());
    for (int threads : {2, 3, 8}) expectSameBits(one, detect(image, 0.0f, threads, morvik::bestYunetIsa()), "threads");
    expectSameBits(one, [&] {
      std::vector<YunetFace> faces;
      EXPECT_EQ(morvik::detectYunetFaces(*net_, image, 0.0f, faces), 0);
      return faces;
    }(), "default threads");
  }
}

// Strips, single pixels and sizes no stride divides run to completion with
// finite faces in score order, within the selection's bounds.
TEST_F(YunetPaths, OddSizesRun) {
  const cv::Size sizes[] = {{1, 1}, {800, 1}, {1, 800}, {33, 31}, {95, 97}, {3000, 2}};
  for (const cv::Size& size : sizes) {
    const std::vector<YunetFace> faces = detect(noise(size.height, size.width, 4), 0.0f, 2, morvik::bestYunetIsa());
    EXPECT_LE(faces.size(), morvik::kYunetMaxFaces);
    for (size_t i = 0; i < faces.size(); ++i) {
      EXPECT_TRUE(std::isfinite(faces[i].x1) && std::isfinite(faces[i].y2) && std::isfinite(faces[i].points[9]));
      EXPECT_TRUE(faces[i].score >= 0.0f && faces[i].score <= 1.0f);
      if (i > 0) EXPECT_GE(faces[i - 1].score, faces[i].score);
    }
  }
}

// A higher threshold keeps the faces above it, in the same order.
TEST_F(YunetPaths, ThresholdKeepsTheFacesAboveIt) {
  const cv::Mat image = testing_support::photo("faces/2008_002079.jpg");
  const std::vector<YunetFace> all = detect(image, 0.2f, 0, morvik::bestYunetIsa());
  const std::vector<YunetFace> high = detect(image, 0.8f, 0, morvik::bestYunetIsa());
  ASSERT_LT(high.size(), all.size());
  ASSERT_FALSE(high.empty());
  for (size_t i = 0; i < high.size(); ++i) EXPECT_EQ(std::memcmp(&high[i], &all[i], sizeof(YunetFace)), 0);
  EXPECT_LT(all[high.size()].score, 0.8f);
  EXPECT_TRUE(detect(image, 1.5f, 0, morvik::bestYunetIsa()).empty());
}

TEST_F(YunetPaths, RefusesUnusableImages) {
  std::vector<YunetFace> faces;
  EXPECT_EQ(morvik::detectYunetFaces(*net_, cv::Mat(), 0.2f, faces), MV_INVALID_ARGS);
  EXPECT_EQ(morvik::detectYunetFaces(*net_, cv::Mat(10, 10, CV_8UC1, cv::Scalar(0)), 0.2f, faces), MV_INVALID_ARGS);
  EXPECT_EQ(morvik::detectYunetFaces(*net_, cv::Mat(10, 10, CV_8UC4, cv::Scalar(0)), 0.2f, faces), MV_INVALID_ARGS);
  EXPECT_EQ(morvik::detectYunetFaces(*net_, cv::Mat(10, 10, CV_32FC3, cv::Scalar(0)), 0.2f, faces), MV_INVALID_ARGS);
  EXPECT_TRUE(faces.empty());
}

// A view into a larger image reads only its own pixels.
TEST_F(YunetPaths, ReadsAViewsOwnPixels) {
  const cv::Mat image = testing_support::photo("faces/two_people.jpg");
  const cv::Rect part(100, 50, 500, 400);
  expectSameBits(detect(image(part).clone(), 0.0f, 1, morvik::bestYunetIsa()),
                 detect(image(part), 0.0f, 1, morvik::bestYunetIsa()), "view");
}

}  // namespace
