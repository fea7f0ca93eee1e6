// The pixel-comparison cascade on hand-made cascades, where every pixel a
// tree reads and every sum it forms is known, and on the shipped model.
#include <pthread.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "morvik/config.h"
#include "morvik/findface.h"
#include "morvik/global_cache.h"
#include "morvik/morvik.h"
#include "morvik/pico.h"
#include "support/test_support.h"

using testing_support::scratchPath;

namespace {

struct Node {
  int8_t r1, c1, r2, c2;
};

struct Tree {
  std::vector<Node> nodes;     // 2^d - 1, heap order
  std::vector<float> leaves;   // 2^d
  float threshold;
};

template <typename T>
void put(std::vector<char>& out, T value) {
  const char* p = reinterpret_cast<const char*>(&value);
  out.insert(out.end(), p, p + sizeof value);
}

std::vector<char> makeCascade(int32_t depth, const std::vector<Tree>& trees) {
  std::vector<char> out;
  put<int32_t>(out, 0);
  put<int32_t>(out, 0);
  put<int32_t>(out, depth);
  put<int32_t>(out, int32_t(trees.size()));
  for (const Tree& t : trees) {
    for (const Node& n : t.nodes) {
      put(out, n.r1);
      put(out, n.c1);
      put(out, n.r2);
      put(out, n.c2);
    }
    for (float leaf : t.leaves) put(out, leaf);
    put(out, t.threshold);
  }
  return out;
}

// One node comparing the pixel half a window above the centre (row offset
// -128/256 of the size) with the one just under half a window below it.
// Leaf 0 (p1 > p2) gives `dark`, leaf 1 (p1 <= p2) gives `bright`.
Tree verticalTree(float dark, float bright, float threshold) {
  return Tree{{{-128, 0, 127, 0}}, {dark, bright}, threshold};
}

std::string writeCascade(const std::vector<char>& bytes) {
  const std::string path = scratchPath("cascade.dat");
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  return path;
}

// Keeps the pico options of the store as they were and drops the thread's
// cached detector around each test.
class PicoOptions : public ::testing::Test {
 protected:
  void SetUp() override { GlobalFree(); }
  void TearDown() override {
    g_config.pico_path = saved_.pico_path;
    g_config.pico_angle = saved_.pico_angle;
    g_config.pico_maxdetections = saved_.pico_maxdetections;
    g_config.pico_scalefactor = saved_.pico_scalefactor;
    g_config.pico_stridefactor = saved_.pico_stridefactor;
    g_config.pico_minsize = saved_.pico_minsize;
    g_config.pico_maxsize = saved_.pico_maxsize;
    g_config.pico_qthreshold = saved_.pico_qthreshold;
    GlobalFree();
  }

  struct Saved {
    std::string pico_path = g_config.pico_path;
    float pico_angle = g_config.pico_angle;
    int pico_maxdetections = g_config.pico_maxdetections;
    float pico_scalefactor = g_config.pico_scalefactor;
    float pico_stridefactor = g_config.pico_stridefactor;
    int pico_minsize = g_config.pico_minsize;
    int pico_maxsize = g_config.pico_maxsize;
    float pico_qthreshold = g_config.pico_qthreshold;
  } saved_;
};

cv::Mat blank(int rows = 20, int cols = 20) { return cv::Mat(rows, cols, CV_8UC1, cv::Scalar(0)); }

int classify(const std::vector<char>& cascade, float* q, int r, int c, int s, const cv::Mat& grey) {
  return run_cascade(cascade.data(), q, r, c, s, grey.ptr<uint8_t>(), grey.rows, grey.cols,
                     int(grey.step[0]));
}

int classifyRotated(const std::vector<char>& cascade, float* q, int r, int c, int s, float angle,
                    const cv::Mat& grey) {
  return run_rotated_cascade(cascade.data(), q, r, c, s, angle, grey.ptr<uint8_t>(), grey.rows,
                             grey.cols, int(grey.step[0]));
}

}  // namespace

// --- One window -------------------------------------------------------------

TEST(PicoWindow, TreeWalkFollowsPixelComparison) {
  const auto cascade = makeCascade(1, {verticalTree(-1.0f, 2.0f, 0.0f)});
  cv::Mat image = blank();
  float q = 99;
  // Window at (10, 10), size 8: p1 at row (2560 - 1024) / 256 = 6, p2 at
  // row (2560 + 1016) / 256 = 13, both in column 10. Equal pixels: leaf 1.
  EXPECT_EQ(classify(cascade, &q, 10, 10, 8, image), 1);
  EXPECT_FLOAT_EQ(q, 2.0f);
  image.at<uint8_t>(6, 10) = 200;  // p1 > p2: leaf 0, sum -1 <= 0
  EXPECT_EQ(classify(cascade, &q, 10, 10, 8, image), -1);
  EXPECT_FLOAT_EQ(q, -1.0f);
  image.at<uint8_t>(13, 10) = 200;  // equal again
  EXPECT_EQ(classify(cascade, &q, 10, 10, 8, image), 1);
}

TEST(PicoWindow, DeeperTreeUsesHeapOrder) {
  // Node 1 compares rows; node 2 (taken when p1 > p2) and node 3 compare
  // columns. Leaves 0..3 carry distinct outputs so the path shows in q.
  Tree tree{{{-128, 0, 127, 0}, {0, -128, 0, 127}, {0, 127, 0, -128}}, {1, 2, 3, 4}, 0.0f};
  const auto cascade = makeCascade(2, {tree});
  cv::Mat image = blank();
  float q;
  // All equal: node 1 -> 3 (p1 <= p2), node 3 -> 7: leaf 3.
  ASSERT_EQ(classify(cascade, &q, 10, 10, 8, image), 1);
  EXPECT_FLOAT_EQ(q, 4.0f);
  // Node 1 -> 2, then node 2 compares column 6 with column 13 of row 10.
  image.at<uint8_t>(6, 10) = 50;
  ASSERT_EQ(classify(cascade, &q, 10, 10, 8, image), 1);
  EXPECT_FLOAT_EQ(q, 2.0f);  // leaf 1 (node 5)
  image.at<uint8_t>(10, 6) = 50;
  ASSERT_EQ(classify(cascade, &q, 10, 10, 8, image), 1);
  EXPECT_FLOAT_EQ(q, 1.0f);  // leaf 0 (node 4)
}

TEST(PicoWindow, RejectsAtFirstTreeAtOrBelowItsThreshold) {
  const auto cascade = makeCascade(
      1, {verticalTree(1.0f, 1.0f, 0.5f), verticalTree(0.5f, 0.5f, 1.5f), verticalTree(9, 9, -100)});
  float q;
  // 1 > 0.5 passes; 1.5 <= 1.5 stops with the partial sum; the third tree
  // is never added.
  EXPECT_EQ(classify(cascade, &q, 10, 10, 8, blank()), -1);
  EXPECT_FLOAT_EQ(q, 1.5f);
}

TEST(PicoWindow, AcceptedConfidenceSubtractsLastThreshold) {
  const auto cascade = makeCascade(1, {verticalTree(3, 3, 1.0f), verticalTree(4, 4, 2.0f)});
  float q;
  EXPECT_EQ(classify(cascade, &q, 10, 10, 8, blank()), 1);
  EXPECT_FLOAT_EQ(q, 7.0f - 2.0f);
}

TEST(PicoWindow, CascadeWithoutTreesAcceptsWithZero) {
  const auto cascade = makeCascade(3, {});
  float q = 5;
  EXPECT_EQ(classify(cascade, &q, 10, 10, 8, blank()), 1);
  EXPECT_EQ(q, 0.0f);
}

TEST(PicoWindow, BorderTestsUseTruncatingDivision) {
  const auto cascade = makeCascade(0, {});  // accepts whatever fits
  const cv::Mat image = blank();
  float q;
  // Size 8: rows r - 4 .. r + 4 must lie in 0 .. 19.
  EXPECT_EQ(classify(cascade, &q, 4, 10, 8, image), 1);
  EXPECT_EQ(classify(cascade, &q, 3, 10, 8, image), -1);  // (768 - 1024) / 256 = -1
  EXPECT_EQ(classify(cascade, &q, 15, 10, 8, image), 1);
  EXPECT_EQ(classify(cascade, &q, 16, 10, 8, image), -1);  // 20 is not < 20
  EXPECT_EQ(classify(cascade, &q, 10, 3, 8, image), -1);
  EXPECT_EQ(classify(cascade, &q, 10, 16, 8, image), -1);
  // Size 7: (768 - 896) / 256 truncates to 0, so row 3 still passes.
  EXPECT_EQ(classify(cascade, &q, 3, 10, 7, image), 1);
  EXPECT_EQ(classify(cascade, &q, 2, 10, 7, image), -1);
}

TEST(PicoWindow, RotatedQuarterTurnReadsTurnedOffsets) {
  // Node (0, -128, 0, 127): upright it compares columns 6 and 13 of row 10;
  // a quarter turn (qsin = 256 s, qcos = 0) moves the pair to rows 14 and
  // 6 of column 10.
  const auto cascade = makeCascade(1, {Tree{{{0, -128, 0, 127}}, {-1.0f, 2.0f}, 0.0f}});
  cv::Mat image = blank();
  image.at<uint8_t>(14, 10) = 200;
  float q;
  EXPECT_EQ(classify(cascade, &q, 10, 10, 8, image), 1);
  EXPECT_EQ(classifyRotated(cascade, &q, 10, 10, 8, 0.25f, image), -1);
  image.at<uint8_t>(14, 10) = 0;
  image.at<uint8_t>(10, 6) = 200;
  EXPECT_EQ(classify(cascade, &q, 10, 10, 8, image), -1);
  EXPECT_EQ(classifyRotated(cascade, &q, 10, 10, 8, 0.25f, image), 1);
  // Angle 0 through the rotated path reads the upright pixels.
  EXPECT_EQ(classifyRotated(cascade, &q, 10, 10, 8, 0.0f, image), -1);
}

TEST(PicoWindow, RotatedBorderNeedsRoomForTheTurnedSquare) {
  const auto cascade = makeCascade(0, {});
  const cv::Mat image = blank();
  float q;
  // 46341 * 8 = 370728: row 5 truncates to 0, row 4 to -1; row 14 reaches
  // 19, row 15 reaches 20.
  EXPECT_EQ(classifyRotated(cascade, &q, 5, 10, 8, 0.1f, image), 1);
  EXPECT_EQ(classifyRotated(cascade, &q, 4, 10, 8, 0.1f, image), -1);
  EXPECT_EQ(classifyRotated(cascade, &q, 14, 10, 8, 0.1f, image), 1);
  EXPECT_EQ(classifyRotated(cascade, &q, 15, 10, 8, 0.1f, image), -1);
  EXPECT_EQ(classifyRotated(cascade, &q, 10, 4, 8, 0.1f, image), -1);
}

TEST(PicoWindow, OutOfRangeInputsAreRejectedWithoutReading) {
  const auto cascade = makeCascade(0, {});
  const cv::Mat image = blank();
  float q;
  EXPECT_EQ(classify(cascade, &q, 10, 10, -8, image), -1);
  EXPECT_EQ(classifyRotated(cascade, &q, 10, 10, -8, 0.1f, image), -1);
  EXPECT_EQ(classifyRotated(cascade, &q, 10, 10, 8, 1.5f, image), -1);
  EXPECT_EQ(classifyRotated(cascade, &q, 10, 10, 8, -0.1f, image), -1);
}

// --- Scan ---------------------------------------------------------------------

TEST(PicoScan, VisitsSizesThenRowsThenColumns) {
  const auto cascade = makeCascade(0, {});
  const cv::Mat image = blank();
  std::vector<float> rcsq(4 * 1000);
  // Size 8, step 1: r and c run 5 .. 15, 121 windows; then size 8.8 runs
  // 5.4 .. 14.4 (10 x 10); 9.68 exceeds the maximum.
  const int n = find_objects(rcsq.data(), 1000, cascade.data(), 0.0f, image.ptr<uint8_t>(), 20, 20,
                             20, 1.1f, 0.1f, 8.0f, 9.0f);
  ASSERT_EQ(n, 121 + 100);
  EXPECT_FLOAT_EQ(rcsq[0], 5.0f);
  EXPECT_FLOAT_EQ(rcsq[1], 5.0f);
  EXPECT_FLOAT_EQ(rcsq[2], 8.0f);
  EXPECT_FLOAT_EQ(rcsq[4 * 1 + 1], 6.0f);  // next column
  EXPECT_FLOAT_EQ(rcsq[4 * 11 + 0], 6.0f);  // next row
  EXPECT_FLOAT_EQ(rcsq[4 * 121 + 2], 8.8f);
  EXPECT_FLOAT_EQ(rcsq[4 * 121 + 0], 5.4f);
}

TEST(PicoScan, StopsAtBufferCapacity) {
  const auto cascade = makeCascade(0, {});
  const cv::Mat image = blank();
  std::vector<float> rcsq(4 * 10 + 4, -7.0f);
  EXPECT_EQ(find_objects(rcsq.data(), 10, cascade.data(), 0.0f, image.ptr<uint8_t>(), 20, 20, 20,
                         1.1f, 0.1f, 8.0f, 9.0f),
            10);
  EXPECT_EQ(rcsq[40], -7.0f);  // nothing written past the tenth detection
  EXPECT_EQ(find_objects(rcsq.data(), 0, cascade.data(), 0.0f, image.ptr<uint8_t>(), 20, 20, 20,
                         1.1f, 0.1f, 8.0f, 9.0f),
            0);
}

TEST(PicoScan, DegenerateSizesEndTheScan) {
  const auto cascade = makeCascade(0, {});
  const cv::Mat image = blank();
  std::vector<float> rcsq(4 * 4096);
  const uint8_t* px = image.ptr<uint8_t>();
  EXPECT_EQ(find_objects(rcsq.data(), 4096, cascade.data(), 0.0f, px, 20, 20, 20, 1.1f, 0.1f, 10, 9), 0);
  // A scale factor that does not grow the window scans one size only
  // instead of looping forever.
  EXPECT_EQ(find_objects(rcsq.data(), 4096, cascade.data(), 0.0f, px, 20, 20, 20, 1.0f, 0.1f, 8, 20), 121);
  EXPECT_EQ(find_objects(rcsq.data(), 4096, cascade.data(), 0.0f, px, 20, 20, 20, 0.5f, 0.1f, 8, 20), 121);
  // Sizes from zero start at one pixel.
  EXPECT_GT(find_objects(rcsq.data(), 4096, cascade.data(), 0.0f, px, 20, 20, 20, 2.0f, 0.1f, 0, 2), 0);
  EXPECT_EQ(rcsq[2], 1.0f);
}

// Past 2^24 a float no longer grows by a step of one: a scan of a longer
// side ends there instead of spinning on one position. The pixels of the
// one-column image are never read (no window fits across it), and the
// long row is one buffer read with a row stride of zero.
TEST(PicoScan, PositionsPastFloatPrecisionEndTheScan) {
  const auto cascade = makeCascade(1, {verticalTree(-1.0f, -1.0f, 5.0f)});  // rejects every window
  std::vector<float> rcsq(4 * 16);
  const int kLong = 1 << 25;
  const uint8_t pixel = 0;
  EXPECT_EQ(find_objects(rcsq.data(), 16, cascade.data(), 0.0f, &pixel, kLong, 1, 1, 1.1f, 0.1f, 2, 2), 0);
  const std::vector<uint8_t> row(size_t(kLong) + 8, 0);
  EXPECT_EQ(find_objects(rcsq.data(), 16, cascade.data(), 0.0f, row.data(), 4, kLong, 0, 1.1f, 0.1f, 2, 2), 0);
}

// --- Clustering ---------------------------------------------------------------

TEST(PicoCluster, OverlapIsIntersectionOverUnion) {
  EXPECT_FLOAT_EQ(get_overlap(10, 10, 4, 10, 10, 4), 1.0f);
  EXPECT_FLOAT_EQ(get_overlap(10, 10, 4, 10, 20, 4), 0.0f);
  EXPECT_FLOAT_EQ(get_overlap(0, 0, 2, 0, 1, 2), 2.0f / 6.0f);
  EXPECT_FLOAT_EQ(get_overlap(0, 0, 4, 0, 0, 2), 4.0f / 16.0f);
}

TEST(PicoCluster, ChainsOfOverlapsFormOneCluster) {
  // A-B and B-C overlap by 1/3 (shift 2 of 4: 8/24), A and C not at all:
  // one cluster through B. D is far away; E overlaps D by 1/7 only.
  std::vector<float> rcsq = {10, 10, 4, 1,  10, 12, 4, 2,  10, 14, 4, 3,
                             50, 50, 4, 10, 50, 53, 4, 20};
  int labels[5];
  EXPECT_EQ(find_connected_components(labels, rcsq.data(), 5), 3);
  EXPECT_EQ(labels[0], 1);
  EXPECT_EQ(labels[1], 1);
  EXPECT_EQ(labels[2], 1);
  EXPECT_EQ(labels[3], 2);
  EXPECT_EQ(labels[4], 3);

  ASSERT_EQ(cluster_detections(rcsq.data(), 5), 3);
  EXPECT_FLOAT_EQ(rcsq[0], 10.0f);
  EXPECT_FLOAT_EQ(rcsq[1], 12.0f);
  EXPECT_FLOAT_EQ(rcsq[2], 4.0f);
  EXPECT_FLOAT_EQ(rcsq[3], 6.0f);  // confidences add up
  EXPECT_FLOAT_EQ(rcsq[4 + 1], 50.0f);
  EXPECT_FLOAT_EQ(rcsq[4 + 3], 10.0f);
  EXPECT_FLOAT_EQ(rcsq[8 + 1], 53.0f);
  EXPECT_FLOAT_EQ(rcsq[8 + 3], 20.0f);
}

TEST(PicoCluster, DepthFirstStepSpreadsTheStartLabel) {
  std::vector<float> rcsq = {10, 10, 4, 1, 10, 12, 4, 1, 10, 14, 4, 1, 40, 40, 4, 1};
  int labels[4] = {7, 0, 0, 0};
  ccdfs(labels, 0, rcsq.data(), 4);
  EXPECT_EQ(labels[1], 7);
  EXPECT_EQ(labels[2], 7);
  EXPECT_EQ(labels[3], 0);
  // An unlabelled start has nothing to spread and must not loop.
  int unlabelled[4] = {0, 0, 0, 0};
  ccdfs(unlabelled, 1, rcsq.data(), 4);
  EXPECT_EQ(unlabelled[0], 0);
  ccdfs(unlabelled, 9, rcsq.data(), 4);  // outside the list
}

TEST(PicoCluster, OverlapMustExceedThreshold) {
  // Squares of 10 shifted by 6 overlap by 40 / 160 = 0.25, shifted by 5
  // by 50 / 150 = 1/3.
  std::vector<float> rcsq = {0, 0, 10, 1, 0, 6, 10, 1};
  int labels[2];
  EXPECT_EQ(find_connected_components(labels, rcsq.data(), 2), 2);
  rcsq[5] = 5;  // 50 / 150
  EXPECT_EQ(find_connected_components(labels, rcsq.data(), 2), 1);
}

namespace {

void* clusterLongChain(void* arg) {
  auto* rcsq = static_cast<std::vector<float>*>(arg);
  int count = cluster_detections(rcsq->data(), int(rcsq->size() / 4));
  return reinterpret_cast<void*>(intptr_t(count));
}

}  // namespace

TEST(PicoCluster, LongChainNeedsLittleStack) {
  // 4096 windows each shifted by one pixel: every neighbour overlaps, so a
  // recursive walk would nest 4096 calls deep. Run it on a thread with a
  // small stack.
  std::vector<float> rcsq;
  for (int i = 0; i < kPicoMaxClustered; ++i) {
    rcsq.insert(rcsq.end(), {100.0f, float(i), 10.0f, 1.0f});
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 128 * 1024);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, clusterLongChain, &rcsq), 0);
  void* result = nullptr;
  pthread_join(thread, &result);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(intptr_t(result), 1);
  EXPECT_FLOAT_EQ(rcsq[1], (kPicoMaxClustered - 1) / 2.0f);
  EXPECT_FLOAT_EQ(rcsq[3], float(kPicoMaxClustered));
}

TEST(PicoCluster, AtMost4096DetectionsTakePart) {
  std::vector<float> rcsq;
  for (int i = 0; i < 5000; ++i) rcsq.insert(rcsq.end(), {0.0f, float(i * 100), 10.0f, 1.0f});
  EXPECT_EQ(cluster_detections(rcsq.data(), 5000), kPicoMaxClustered);
  int labels[kPicoMaxClustered];
  EXPECT_EQ(find_connected_components(labels, rcsq.data(), 5000), kPicoMaxClustered);
  EXPECT_EQ(cluster_detections(rcsq.data(), 0), 0);
}

// --- Cascade file -------------------------------------------------------------

TEST(PicoCascadeFile, ValidationChecksHeaderAgainstSize) {
  const auto good = makeCascade(1, {verticalTree(1, 1, 0), verticalTree(1, 1, 0)});
  EXPECT_TRUE(validPicoCascade(good));
  EXPECT_TRUE(validPicoCascade(makeCascade(0, {})));
  EXPECT_FALSE(validPicoCascade({}));
  EXPECT_FALSE(validPicoCascade(std::vector<char>(good.begin(), good.begin() + 15)));
  EXPECT_FALSE(validPicoCascade(std::vector<char>(good.begin(), good.end() - 1)));

  auto patched = [&](int offset, int32_t value) {
    std::vector<char> bytes = good;
    std::memcpy(bytes.data() + offset, &value, sizeof value);
    return bytes;
  };
  EXPECT_FALSE(validPicoCascade(patched(8, -1)));
  EXPECT_FALSE(validPicoCascade(patched(8, 31)));
  EXPECT_FALSE(validPicoCascade(patched(8, 2)));  // trees of depth 2 need 32 bytes each
  EXPECT_FALSE(validPicoCascade(patched(12, -1)));
  EXPECT_FALSE(validPicoCascade(patched(12, 3)));
  EXPECT_FALSE(validPicoCascade(patched(12, 0x7fffffff)));
  EXPECT_TRUE(validPicoCascade(patched(12, 1)));  // trailing bytes are harmless
}

TEST_F(PicoOptions, BadCascadeFilesAreRefused) {
  const auto good = makeCascade(1, {verticalTree(1, 1, 0)});
  const std::vector<std::vector<char>> bad = {
      {}, std::vector<char>(good.begin(), good.end() - 4), makeCascade(-1, {}),
      std::vector<char>(good.begin(), good.begin() + 10)};
  for (const auto& bytes : bad) {
    g_config.pico_path = writeCascade(bytes);
    try {
      PicoDetector detector;
      ADD_FAILURE() << "accepted a cascade of " << bytes.size() << " bytes";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Can't open pico config");
    }
  }
  g_config.pico_path = scratchPath("missing.dat");
  EXPECT_THROW(PicoDetector(), std::runtime_error);

  // Through the finder: nothing is cached, so the next search tries again.
  PicoFindFaceAlgo finder;
  cv::Mat image(100, 100, CV_8UC3, cv::Scalar(0, 0, 0));
  std::vector<cv::Rect> faces;
  const size_t registered = g_releases.size();
  EXPECT_THROW(finder.findFaces(0, image, faces), std::runtime_error);
  EXPECT_EQ(g_releases.size(), registered);
  // Every window scores 1: the 14 windows of sizes 80 to 96.8 merge into
  // one cluster of confidence 14.
  g_config.pico_path = writeCascade(good);
  EXPECT_EQ(finder.findFaces(0, image, faces), 0);
  EXPECT_EQ(faces.size(), 1u);
  EXPECT_EQ(g_releases.size(), registered + 1);
}

TEST_F(PicoOptions, ReloadKeepsWorkingCascadeWhenFileIsBad) {
  // Every window of the test image scores 1.
  g_config.pico_path = writeCascade(makeCascade(1, {verticalTree(1, 1, 0)}));
  g_config.pico_minsize = 20;
  g_config.pico_maxsize = 20;
  g_config.pico_qthreshold = 0.5f;
  PicoDetector detector;
  std::vector<cv::Rect> faces;
  const size_t before = detector.detect(blank(40, 40), faces);
  ASSERT_GT(before, 0u);

  // A header that promises trees the file lacks would have the scan read
  // past the cascade; an empty file would stop the process in detect().
  const auto good = makeCascade(1, {verticalTree(1, 1, 0)});
  const std::vector<std::vector<char>> bad = {
      {}, std::vector<char>(good.begin(), good.end() - 4), makeCascade(-1, {})};
  for (const auto& bytes : bad) {
    EXPECT_FALSE(detector.loadCascade(writeCascade(bytes))) << bytes.size() << " bytes";
    EXPECT_EQ(detector.detect(blank(40, 40), faces), before);
  }
  EXPECT_FALSE(detector.loadCascade(scratchPath("missing.dat")));
  EXPECT_EQ(detector.detect(blank(40, 40), faces), before);

  // A whole cascade is taken: this one rejects every window.
  EXPECT_TRUE(detector.loadCascade(writeCascade(makeCascade(1, {verticalTree(-1, -1, 0)}))));
  EXPECT_EQ(detector.detect(blank(40, 40), faces), 0u);
}

// --- Detector -----------------------------------------------------------------

TEST_F(PicoOptions, DetectorReportsClustersAboveQThreshold) {
  // One tree that accepts a window only where its upper probe is darker
  // than its lower one, with confidence 1 per window.
  g_config.pico_path = writeCascade(makeCascade(1, {verticalTree(-1.0f, 1.0f, 0.0f)}));
  g_config.pico_minsize = 20;
  g_config.pico_maxsize = 20;
  PicoDetector detector;
  cv::Mat image(100, 100, CV_8UC1, cv::Scalar(100));
  image(cv::Rect(0, 0, 100, 40)) = cv::Scalar(200);  // everything bright above row 40
  std::vector<cv::Rect> faces{cv::Rect(1, 2, 3, 4)};
  g_config.pico_qthreshold = 1e9f;
  EXPECT_EQ(detector.detect(image, faces), 0u);
  EXPECT_TRUE(faces.empty());

  // Windows whose upper probe (row r - 10) is bright and lower probe
  // (row r + 9) dark are refused: r 31 to 49. The 400 windows above
  // (r 11..29, c 11..89, stride 2) and the 800 below (r 51..89) form two
  // clusters centred at rows 20 and 70, column 50.
  g_config.pico_qthreshold = 5.0f;
  ASSERT_EQ(detector.detect(image, faces), 2u);
  EXPECT_EQ(faces[0], cv::Rect(40, 10, 20, 20));
  EXPECT_EQ(faces[1], cv::Rect(40, 60, 20, 20));
  g_config.pico_qthreshold = 800.0f;  // a sum of q, reached only by the larger
  ASSERT_EQ(detector.detect(image, faces), 1u);
  EXPECT_EQ(faces[0], cv::Rect(40, 60, 20, 20));
  g_config.pico_qthreshold = 5.0f;
  detector.detect(image, faces);
  // Colour input is converted to grey first and finds the same squares.
  cv::Mat colour;
  cv::cvtColor(image, colour, cv::COLOR_GRAY2BGR);
  std::vector<cv::Rect> from_colour;
  EXPECT_EQ(detector.detect(colour, from_colour), faces.size());
  EXPECT_EQ(from_colour, faces);
  // Pixels the scan cannot read give nothing rather than garbage.
  cv::Mat wide;
  image.convertTo(wide, CV_16U);
  EXPECT_EQ(detector.detect(wide, from_colour), 0u);
}

TEST_F(PicoOptions, OptionsBeyondLimitsAreCapped) {
  g_config.pico_path = writeCascade(makeCascade(0, {}));  // every window is a detection
  g_config.pico_minsize = 10;
  g_config.pico_maxsize = 60;
  g_config.pico_maxdetections = 16;
  PicoDetector small;
  EXPECT_EQ(small.capacity(), 16u);
  // The cached buffer stays at 16 when the option grows afterwards.
  g_config.pico_maxdetections = 1 << 20;
  g_config.pico_qthreshold = -1.0f;
  cv::Mat image(200, 200, CV_8UC1, cv::Scalar(0));
  std::vector<cv::Rect> faces;
  const size_t n = small.detect(image, faces);
  EXPECT_GE(n, 1u);
  EXPECT_LE(n, 16u);

  PicoDetector large;  // built with 2^20: no more than clustering can use
  EXPECT_EQ(large.capacity(), size_t(kPicoMaxClustered));
  g_config.pico_maxdetections = -5;
  PicoDetector none;
  EXPECT_EQ(none.capacity(), 0u);
  EXPECT_EQ(none.detect(image, faces), 0u);

  // Angles outside a full turn are clamped to it.
  g_config.pico_maxdetections = 4096;
  std::vector<cv::Rect> clamped, limit;
  g_config.pico_angle = 7.5f;
  large.detect(image, clamped);
  g_config.pico_angle = 1.0f;
  large.detect(image, limit);
  EXPECT_EQ(clamped, limit);
  g_config.pico_angle = -3.0f;
  large.detect(image, clamped);
  g_config.pico_angle = 0.0f;
  large.detect(image, limit);
  EXPECT_EQ(clamped, limit);
}

TEST_F(PicoOptions, FinderContract) {
  PicoFindFaceAlgo finder;
  EXPECT_STREQ(finder.getName(), "Pico");
  cv::Mat empty;
  std::vector<cv::Rect> faces;
  EXPECT_EQ(finder.findFaces(0, empty, faces), -1);
  std::vector<rotrect> rotated(1);
  cv::Mat image(100, 100, CV_8UC3, cv::Scalar(0, 0, 0));
  EXPECT_EQ(finder.findFaces(0, image, rotated), -12);
  EXPECT_EQ(rotated.size(), 1u);
  // minsize above maxsize: no scan at all.
  g_config.pico_minsize = 500;
  g_config.pico_maxsize = 100;
  GlobalFree();
  cv::Mat face = testing_support::photo("faces/Tom_Cruise_avp_2014_4.jpg");
  EXPECT_EQ(finder.findFaces(0, face, faces), -4);
}

TEST_F(PicoOptions, FindsFacesOfPortraits) {
  PicoFindFaceAlgo finder;
  for (const char* name : {"people/obama/obama.jpg", "people/obama/obama2.jpg", "people/obama/obama3.jpg",
                           "people/biden/biden.jpg", "people/biden/biden2.jpg",
                           "faces/Tom_Cruise_avp_2014_4.jpg"}) {
    cv::Mat image = testing_support::photo(name);
    ASSERT_FALSE(image.empty()) << name;
    cv::Mat working;
    imagePrepare(image, finder.getScales(image)[0], working);
    std::vector<cv::Rect> faces;
    EXPECT_EQ(finder.findFaces(0, working, faces), 0) << name;
    EXPECT_GE(faces.size(), 1u) << name;
  }
}
