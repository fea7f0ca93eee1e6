// The library's LBP cascade evaluator against OpenCV's
// CascadeClassifier::detectMultiScale: the same rectangles in the same
// order, on every instruction-set path this machine runs, for the frontal
// face LBP cascade the LBP finder uses; the files its reader refuses, and
// the cascade model's choice of evaluator for them.
//
// OpenCV runs single-threaded here (see main below): with threads, the
// order of its candidates, and so of its grouped rectangles, may change
// from run to run.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include "engine/cascade/haar_test_images.h"
#include "engine/hog/hog_test_images.h"
#include "engine/cascade/cascade_detect.h"
#include "models/cascade_loader.h"
#include "models/cascade_model.h"
#include "morvik/config.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using morvik::CascadeIsa;
using morvik::CascadeSearch;
using morvik::LbpCascade;

// The LBP cascade read by both evaluators.
struct BothCascades {
  LbpCascade own;
  cv::CascadeClassifier opencv;
};

BothCascades& cascadeFile(const std::string& path) {
  static std::vector<std::pair<std::string, std::unique_ptr<BothCascades>>> loaded;
  for (auto& entry : loaded)
    if (entry.first == path) return *entry.second;
  auto both = std::make_unique<BothCascades>();
  EXPECT_EQ(morvik::readCascadeFile(path, both->own), morvik::kCascadeLoaded) << path;
  EXPECT_TRUE(both->opencv.load(path)) << path;
  loaded.emplace_back(path, std::move(both));
  return *loaded.back().second;
}

BothCascades& faces() { return cascadeFile(g_config.haar_face_path_default); }

std::vector<CascadeIsa> runningIsas() {
  std::vector<CascadeIsa> isas;
  for (CascadeIsa isa : {CascadeIsa::kPortable, CascadeIsa::kAvx2, CascadeIsa::kAvx512})
    if (morvik::cascadeIsaRuns(isa)) isas.push_back(isa);
  return isas;
}

const char* isaName(CascadeIsa isa) {
  switch (isa) {
    case CascadeIsa::kPortable: return "portable";
    case CascadeIsa::kAvx2: return "AVX2";
    case CascadeIsa::kAvx512: return "AVX-512";
  }
  return "?";
}

std::string describe(const cv::Mat& image, const CascadeSearch& s) {
  std::ostringstream out;
  out << image.cols << "x" << image.rows << " factor " << s.scale_factor << " neighbours " << s.min_neighbours
      << " min " << s.min_size << " max " << s.max_size;
  return out.str();
}

std::vector<cv::Rect> opencvRects(BothCascades& c, const cv::Mat& grey, const CascadeSearch& s) {
  std::vector<cv::Rect> found;
  c.opencv.detectMultiScale(grey, found, s.scale_factor, s.min_neighbours, 0, s.min_size, s.max_size);
  return found;
}

int g_compared = 0;
int g_rectangles = 0;

// Every path gives OpenCV's list. Returns its length.
size_t expectOpenCvRects(BothCascades& c, const cv::Mat& grey, const CascadeSearch& s, const std::string& what) {
  const std::vector<cv::Rect> expected = opencvRects(c, grey, s);
  for (CascadeIsa isa : runningIsas()) {
    std::vector<cv::Rect> found;
    EXPECT_EQ(morvik::detectCascade(c.own, grey, s, found, isa), morvik::kCascadeDetected);
    EXPECT_EQ(found, expected) << what << ", " << describe(grey, s) << ", " << isaName(isa);
    ++g_compared;
  }
  g_rectangles += static_cast<int>(expected.size());
  return expected.size();
}

CascadeSearch search(double factor, int neighbours, cv::Size min_size = cv::Size(), cv::Size max_size = cv::Size()) {
  CascadeSearch s;
  s.scale_factor = factor;
  s.min_neighbours = neighbours;
  s.min_size = min_size;
  s.max_size = max_size;
  return s;
}

// The LBP finder's own search of an image.
CascadeSearch finderSearch(const cv::Mat& image) {
  return search(double(g_config.haar_face_scale_factor), g_config.haar_face_min_neighbours,
                g_config.haar_face_min_face, image.size());
}

cv::Mat grey(const cv::Mat& bgr) {
  cv::Mat g;
  if (bgr.channels() == 4)
    cv::cvtColor(bgr, g, cv::COLOR_BGRA2GRAY);
  else
    cv::cvtColor(bgr, g, cv::COLOR_BGR2GRAY);
  return g;
}

cv::Mat scaledTo(const cv::Mat& image, int longer_side) {
  const double f = double(longer_side) / std::max(image.cols, image.rows);
  cv::Mat out;
  cv::resize(image, out, cv::Size(), f, f, f < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
  return out;
}

const std::vector<std::string>& photoNames() {
  static const std::vector<std::string> names = {
      "faces/2007_007763.jpg",  "faces/2008_001009.jpg",   "faces/2008_001322.jpg",
      "faces/2008_002079.jpg",  "faces/bald_guys.jpg",     "faces/two_people.jpg",
      "faces/Tom_Cruise_avp_2014_4.jpg", "people/obama/obama.jpg", "people/obama/obama2.jpg",
      "people/obama/obama3.jpg", "people/biden/biden.jpg",  "people/biden/biden2.jpg",
      "misc/obama_partial_face.jpg", "misc/dogs.jpg",       "misc/32bit.png"};
  return names;
}

// The grey working image ExtractFaces hands the finder (800 pixels across
// the longer side).
const std::vector<cv::Mat>& workingImages() {
  static const std::vector<cv::Mat> images = [] {
    std::vector<cv::Mat> out;
    for (const std::string& name : photoNames()) {
      const cv::Mat photo = cv::imread(haar_testing::testdata(name), cv::IMREAD_UNCHANGED);
      out.push_back(photo.empty() ? photo
                                  : grey(haar_testing::prepared(photo, g_config.image_rescale_min,
                                                                g_config.image_rescale_max)));
    }
    return out;
  }();
  return images;
}

// ---------------------------------------------------------------------------
// Photographs: the finder's search at its working size, and others.

TEST(LbpWholePhotos, FinderSearchAtTheWorkingSize) {
  size_t found = 0;
  for (size_t i = 0; i < photoNames().size(); ++i) {
    const cv::Mat& image = workingImages()[i];
    ASSERT_FALSE(image.empty()) << photoNames()[i];
    EXPECT_EQ(std::max(image.cols, image.rows), 800) << photoNames()[i];
    found += expectOpenCvRects(faces(), image, finderSearch(image), photoNames()[i]);
  }
  EXPECT_GT(found, photoNames().size());  // most photographs show faces
}

TEST(LbpWholePhotos, OtherSizes) {
  for (size_t i = 0; i < photoNames().size(); i += 2) {
    const cv::Mat& image = workingImages()[i];
    for (int side : {333, 517, 1280}) {
      const cv::Mat scaled = scaledTo(image, side);
      expectOpenCvRects(faces(), scaled, finderSearch(scaled), photoNames()[i] + " at " + std::to_string(side));
    }
  }
  // The photographs as decoded, up to 2333 pixels high.
  for (const char* name : {"faces/bald_guys.jpg", "people/obama/obama3.jpg"}) {
    const cv::Mat image = grey(testing_support::photo(name));
    expectOpenCvRects(faces(), image, finderSearch(image), name);
  }
}

TEST(LbpWholePhotos, FactorsNeighboursAndSizes) {
  const CascadeSearch searches[] = {
      search(1.1, 0),
      search(1.1, 1),
      search(1.1, 3),
      search(1.05, 3, cv::Size(40, 40)),
      search(1.25, 1),
      search(1.5, 0),
      search(2.0, 0),
      search(3.7, 1),
      search(1.1, 2, cv::Size(90, 60)),
      search(1.1, 0, cv::Size(), cv::Size(60, 60)),
      search(1.2, 1, cv::Size(30, 30), cv::Size(120, 100)),
      // A minimum equal to a maximum that no size hits: the nearest size.
      search(1.3, 0, cv::Size(57, 57), cv::Size(57, 57)),
      search(1.1, 0, cv::Size(900, 900)),
      search(1.1, 0, cv::Size(), cv::Size(-5, 30)),
  };
  for (size_t i : {2u, 4u, 5u, 13u})
    for (const CascadeSearch& s : searches) expectOpenCvRects(faces(), workingImages()[i], s, photoNames()[i]);
}

TEST(LbpWholePhotos, ScaleFactorsCascadeScaleFactorPassesOn) {
  const cv::Mat& image = workingImages()[5];
  for (float configured : {1.01f, 1.5f, 7.0f, 800.0f, 1000.0f, 1e21f}) {
    const double factor = morvik::cascadeScaleFactor(configured, image.size());
    ASSERT_GT(factor, 1.0) << configured;
    expectOpenCvRects(faces(), image, search(factor, 0), "configured " + std::to_string(configured));
  }
}

TEST(LbpWholePhotos, ViewsIntoLargerImages) {
  // Rows of a view are not contiguous: the scaled image and its integral
  // must follow the view's step, at the first size too (factor 1).
  const cv::Mat& photo = workingImages()[2];
  expectOpenCvRects(faces(), photo(cv::Rect(211, 97, 377, 301)), search(1.1, 0), "view");
  expectOpenCvRects(faces(), photo(cv::Rect(3, 5, 91, 77)), search(1.1, 0), "small view");
}

// ---------------------------------------------------------------------------
// Synthetic images: noise, flat areas, odd shapes.

TEST(LbpSyntheticImages, NoiseAndBlobs) {
  for (uint64_t seed : {1u, 2u, 3u}) {
    for (const cv::Size size : {cv::Size(110, 110), cv::Size(97, 143), cv::Size(260, 180), cv::Size(640, 480)}) {
      const cv::Mat noise = grey(hog_testing::noiseImage(size.height, size.width, seed));
      expectOpenCvRects(faces(), noise, search(1.1, 0), "noise");
      cv::Mat smooth;
      cv::GaussianBlur(noise, smooth, cv::Size(0, 0), 2.0);
      expectOpenCvRects(faces(), smooth, search(1.1, 0), "smooth noise");
      const cv::Mat blobs = grey(hog_testing::blobImage(size.height, size.width, seed));
      expectOpenCvRects(faces(), blobs, search(1.1, 0), "blobs");
    }
  }
}

TEST(LbpSyntheticImages, FlatImagesAndStripes) {
  // Every cell equals the centre: code 255 everywhere.
  for (int value : {0, 128, 255}) {
    const cv::Mat flat(120, 90, CV_8UC1, cv::Scalar(value));
    expectOpenCvRects(faces(), flat, search(1.1, 0), "flat");
  }
  cv::Mat stripes(200, 230, CV_8UC1);
  for (int y = 0; y < stripes.rows; ++y)
    for (int x = 0; x < stripes.cols; ++x)
      stripes.at<uint8_t>(y, x) = static_cast<uint8_t>(((x / 3 + y / 5) % 2) * 200);
  expectOpenCvRects(faces(), stripes, search(1.1, 0), "stripes");
  cv::Mat ramp(150, 170, CV_8UC1);
  for (int y = 0; y < ramp.rows; ++y)
    for (int x = 0; x < ramp.cols; ++x) ramp.at<uint8_t>(y, x) = static_cast<uint8_t>((x + 2 * y) & 255);
  expectOpenCvRects(faces(), ramp, search(1.1, 0), "ramp");
}

TEST(LbpSyntheticImages, ImagesNearTheWindowSizeAndStrips) {
  const cv::Mat noise = grey(hog_testing::noiseImage(400, 400, 9));
  for (const cv::Size size : {cv::Size(24, 24), cv::Size(25, 24), cv::Size(24, 39), cv::Size(26, 26),
                              cv::Size(23, 40), cv::Size(40, 23), cv::Size(1, 400), cv::Size(400, 1),
                              cv::Size(400, 25), cv::Size(25, 400), cv::Size(1, 1), cv::Size(47, 33)}) {
    const cv::Mat image = noise(cv::Rect(cv::Point(0, 0), size)).clone();
    expectOpenCvRects(faces(), image, search(1.1, 0), "strip");
    expectOpenCvRects(faces(), image, search(1.1, 3), "strip");
  }
}

TEST(LbpSyntheticImages, BrightImageWhoseIntegralWraps) {
  // Past about 8.4 million bright pixels the int integral wraps; the cell
  // sums, differences of it, do not.
  cv::Mat image(2100, 4200, CV_8UC1);
  cv::RNG(5).fill(image, cv::RNG::UNIFORM, 200, 256);
  cv::GaussianBlur(image, image, cv::Size(0, 0), 1.5);
  expectOpenCvRects(faces(), image, search(1.1, 0, cv::Size(), cv::Size(27, 27)), "bright");
}

// ---------------------------------------------------------------------------
// What the search refuses, and what it keeps between calls.

TEST(LbpSearchInput, RefusesWhatOpenCvWouldThrowOrLoopForeverOn) {
  const LbpCascade& c = faces().own;
  const cv::Mat& image = workingImages()[5];
  std::vector<cv::Rect> found{cv::Rect(1, 2, 3, 4)};
  EXPECT_EQ(morvik::detectCascade(c, cv::Mat(), CascadeSearch(), found), morvik::kCascadeBadImage);
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(morvik::detectCascade(c, cv::Mat(50, 50, CV_8UC3, cv::Scalar::all(9)), CascadeSearch(), found),
            morvik::kCascadeBadImage);
  EXPECT_EQ(morvik::detectCascade(c, cv::Mat(50, 50, CV_32FC1, cv::Scalar::all(9)), CascadeSearch(), found),
            morvik::kCascadeBadImage);
  for (double factor : {1.0, 0.5, -2.0, std::nan(""), std::nextafter(1.0, 2.0), 1.0 + 1e-9})
    EXPECT_EQ(morvik::detectCascade(c, image, search(factor, 3), found), morvik::kCascadeBadSearch) << factor;
  EXPECT_EQ(morvik::detectCascade(LbpCascade(), image, CascadeSearch(), found), morvik::kCascadeNoCascade);
  // Factors whose second size leaves the int range scan the first size
  // only, as a factor capped at the image's side does in OpenCV.
  std::vector<cv::Rect> capped;
  ASSERT_EQ(morvik::detectCascade(c, image, search(1e300, 0), found), morvik::kCascadeDetected);
  ASSERT_EQ(morvik::detectCascade(c, image, search(std::numeric_limits<double>::infinity(), 0), capped),
            morvik::kCascadeDetected);
  EXPECT_EQ(found, capped);
  EXPECT_EQ(found, opencvRects(faces(), image, search(image.cols, 0)));
  // A refused call leaves nothing behind that changes the next one.
  expectOpenCvRects(faces(), image, finderSearch(image), "after refusals");
}

TEST(LbpSearchInput, ScratchMemoryStaysBoundedAndIsReleased) {
  const cv::Mat large = grey(hog_testing::noiseImage(1900, 1700, 3));
  std::vector<cv::Rect> found;
  ASSERT_EQ(morvik::detectCascade(faces().own, large, search(1.5, 3), found), morvik::kCascadeDetected);
  EXPECT_LE(morvik::cascadeScratchBytes<morvik::LbpKind>(), morvik::kCascadeKeptScratchBytes);
  const cv::Mat& image = workingImages()[2];
  ASSERT_EQ(morvik::detectCascade(faces().own, image, finderSearch(image), found), morvik::kCascadeDetected);
  EXPECT_GT(morvik::cascadeScratchBytes<morvik::LbpKind>(), 0u);
  EXPECT_LE(morvik::cascadeScratchBytes<morvik::LbpKind>(), morvik::kCascadeKeptScratchBytes);
  GlobalFree();
  EXPECT_EQ(morvik::cascadeScratchBytes<morvik::LbpKind>(), 0u);
}

TEST(LbpSearchInput, ThreadsSearchingAtOnceGetTheSameRectangles) {
  const std::vector<cv::Mat>& images = workingImages();
  std::vector<std::vector<cv::Rect>> expected;
  for (const cv::Mat& image : images) expected.push_back(opencvRects(faces(), image, finderSearch(image)));
  const LbpCascade& c = faces().own;
  std::vector<int> mismatches(3, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&, t] {
      for (size_t i = static_cast<size_t>(t); i < images.size() * 2; i += 3) {
        const cv::Mat& image = images[i % images.size()];
        std::vector<cv::Rect> found;
        morvik::detectCascade(c, image, finderSearch(image), found);
        if (found != expected[i % images.size()]) ++mismatches[static_cast<size_t>(t)];
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches, std::vector<int>(3, 0));
}

// ---------------------------------------------------------------------------
// Cascade files: what the reader takes, what it refuses, and the model's
// evaluator for each.

std::string fileText(const std::string& path) {
  const std::vector<char> bytes = testing_support::fileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// The LBP cascade with the first `from` of each edit replaced by its `to`.
std::string edited(const std::vector<std::pair<std::string, std::string>>& edits) {
  std::string text = fileText(g_config.haar_face_path_default);
  for (const auto& e : edits) {
    const size_t at = text.find(e.first);
    EXPECT_NE(at, std::string::npos) << e.first;
    if (at != std::string::npos) text.replace(at, e.first.size(), e.second);
  }
  return text;
}

std::string edited(const std::string& from, const std::string& to) { return edited({{from, to}}); }

// Files the tests write, removed when the program ends.
struct ScratchFiles {
  std::vector<std::string> paths;
  ~ScratchFiles() {
    for (const std::string& p : paths) std::remove(p.c_str());
  }
};

std::string written(const std::string& name, const std::string& text) {
  static ScratchFiles files;
  const std::string path = testing_support::scratchPath(name);
  std::ofstream(path, std::ios::binary) << text;
  files.paths.push_back(path);
  return path;
}

morvik::CascadeLoadResult loaded(const std::string& path) {
  LbpCascade c;
  const morvik::CascadeLoadResult rc = morvik::readCascadeFile(path, c);
  if (rc != morvik::kCascadeLoaded) EXPECT_TRUE(c.stages.empty() && c.features.empty() && c.stumps.empty());
  return rc;
}

// The first stump's node and leaves, and the first feature's cell (the
// file has Windows line ends).
const char kFirstNode[] =
    "0 -1 46 -67130709 -21569 -1426120013 -1275125205 -21585\r\n            -16385 587145899 -24005</internalNodes>";
const char kFirstLeaves[] = "-0.6543210148811340 0.8888888955116272</leafValues>";
const char kFirstRect[] = "0 0 3 5</rect>";

// Every node with eight more subset words, declared as 512 categories:
// OpenCV evaluates it as the original (codes use the first 256 bits).
std::string with512Categories() {
  std::string text = edited("<maxCatCount>256</maxCatCount>", "<maxCatCount>512</maxCatCount>");
  for (size_t at = text.find("</internalNodes>"); at != std::string::npos;
       at = text.find("</internalNodes>", at + 40)) {
    text.insert(at, " 0 0 0 0 0 0 0 0");
  }
  return text;
}

TEST(LbpCascadeFile, ReadsTheFrontalFaceCascade) {
  LbpCascade a, b;
  ASSERT_EQ(morvik::readCascadeFile(g_config.haar_face_path_default, a), morvik::kCascadeLoaded);
  ASSERT_EQ(morvik::readCascadeFile(g_config.haar_face_path_default, b), morvik::kCascadeLoaded);
  EXPECT_NE(a.id, b.id);  // scratch memory laid out for one is not taken for the other
  EXPECT_EQ(a.window, faces().opencv.getOriginalWindowSize());
  EXPECT_EQ(a.stages.size(), 20u);
  EXPECT_EQ(a.stumps.size(), 139u);
  EXPECT_EQ(a.features.size(), 136u);
  // The first stump's subset words, as OpenCV reads the file's ints.
  EXPECT_EQ(a.stumps[0].feature, 46);
  EXPECT_EQ(a.stumps[0].subset[0], static_cast<uint32_t>(-67130709));
  EXPECT_EQ(a.stumps[0].subset[7], static_cast<uint32_t>(-24005));
}

TEST(LbpCascadeFile, RefusesFilesItDoesNotServe) {
  EXPECT_EQ(loaded(g_config.haar_face_path_default_alt), morvik::kCascadeNotServed);  // Haar
  EXPECT_EQ(loaded(g_config.haar_eye_path_default), morvik::kCascadeNotServed);
  // A tree of two nodes, with its three leaves.
  EXPECT_EQ(loaded(written("tree.xml", edited({{kFirstNode, "1 -1 46 0 0 0 0 0 0 0 0 0 -1 13 0 0 0 0 0 0 0 "
                                                              "0</internalNodes>"},
                                                {kFirstLeaves, "-0.65 0.88 0.1</leafValues>"}}))),
            morvik::kCascadeNotServed);
  EXPECT_EQ(loaded(written("cat512.xml", with512Categories())), morvik::kCascadeNotServed);
  EXPECT_EQ(loaded(written("hog.xml", edited("<featureType>LBP</featureType>", "<featureType>HOG</featureType>"))),
            morvik::kCascadeNotServed);
}

TEST(LbpCascadeFile, RefusesMissingAndDamagedFiles) {
  EXPECT_EQ(loaded("/nonexistent/lbp.xml"), morvik::kCascadeUnreadable);
  EXPECT_EQ(loaded(written("empty.xml", "")), morvik::kCascadeUnreadable);
  EXPECT_EQ(loaded(written("noise.xml", std::string("\x89PNG\r\n\x1a\n\0\0garbage", 18))), morvik::kCascadeUnreadable);
  const std::string text = fileText(g_config.haar_face_path_default);
  EXPECT_EQ(loaded(written("cut.xml", text.substr(0, text.size() / 2))), morvik::kCascadeUnreadable);
  // Values OpenCV's evaluator would read past its arrays with.
  EXPECT_EQ(loaded(written("index.xml", edited("0 -1 46 -67130709", "0 -1 9999 -67130709"))), morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("negative.xml", edited("0 -1 46 -67130709", "0 -1 -1 -67130709"))), morvik::kCascadeDamaged);
  // OpenCV checks the first cell only; the block reaches past the window.
  EXPECT_EQ(loaded(written("outside.xml", edited(kFirstRect, "0 0 9 5</rect>"))), morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("down.xml", edited(kFirstRect, "0 10 3 5</rect>"))), morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("width.xml", edited(kFirstRect, "9 0 -3 5</rect>"))), morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("short_rect.xml", edited(kFirstRect, "0 0 3</rect>"))), morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("cat100.xml", edited("<maxCatCount>256</maxCatCount>", "<maxCatCount>100</maxCatCount>"))),
            morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("cat0.xml", edited("<maxCatCount>256</maxCatCount>", "<maxCatCount>0</maxCatCount>"))),
            morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("cat_huge.xml",
                           edited("<maxCatCount>256</maxCatCount>", "<maxCatCount>2147483647</maxCatCount>"))),
            morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("node.xml", edited(kFirstNode, "0 -1 46 -67130709 -21569</internalNodes>"))),
            morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("leaves.xml", edited(kFirstLeaves, "-0.65 0.88 0.5</leafValues>"))),
            morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("window.xml", edited("<width>24</width>", "<width>0</width>"))), morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("stages.xml", edited({{"<stages>", "<stagez>"}, {"</stages>", "</stagez>"}}))),
            morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("features.xml", edited({{"<features>", "<featurez>"}, {"</features>", "</featurez>"}}))),
            morvik::kCascadeDamaged);
  // A number where a map of values belongs.
  EXPECT_EQ(loaded(written("map.xml", edited("<featureParams>\r\n    <maxCatCount>256</maxCatCount></featureParams>",
                                             "<featureParams>7</featureParams>"))),
            morvik::kCascadeDamaged);
}

TEST(LbpCascadeFile, ModelPicksItsEvaluatorAndRefusesWhatOpenCvWouldMisread) {
  const cv::Mat& image = workingImages()[5];
  const CascadeSearch s = finderSearch(image);
  const std::vector<cv::Rect> expected = opencvRects(faces(), image, s);
  ASSERT_FALSE(expected.empty());
  using Evaluator = morvik::CascadeModel::Evaluator;
  struct Case {
    std::string path;
    bool loads;
    Evaluator evaluator;
  };
  const Case cases[] = {
      {g_config.haar_face_path_default, true, Evaluator::kLbp},
      // OpenCV takes this one, with the original's detections.
      {written("cat512_model.xml", with512Categories()), true, Evaluator::kOpenCv},
      {g_config.haar_face_path_default_alt, true, Evaluator::kHaar},
      {"/nonexistent/lbp.xml", false, Evaluator::kNone},
      // OpenCV would load these and read outside its buffers.
      {written("outside_model.xml", edited(kFirstRect, "0 0 9 5</rect>")), false, Evaluator::kNone},
      {written("index_model.xml", edited("0 -1 46 -67130709", "0 -1 9999 -67130709")), false, Evaluator::kNone},
  };
  for (const Case& c : cases) {
    morvik::CascadeModel model;
    ASSERT_EQ(model.load(c.path), c.loads) << c.path;
    EXPECT_EQ(model.evaluator(), c.evaluator) << c.path;
    if (!c.loads) continue;
    std::vector<cv::Rect> found;
    ASSERT_TRUE(model.detect(image, found, s.scale_factor, s.min_neighbours, s.min_size, s.max_size)) << c.path;
    if (c.evaluator != Evaluator::kHaar) EXPECT_EQ(found, expected) << c.path;
    EXPECT_FALSE(model.detect(cv::Mat(40, 40, CV_8UC3), found, 1.1, 3, cv::Size(), cv::Size()));
    EXPECT_TRUE(found.empty());
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  cv::setNumThreads(1);
  const int rc = RUN_ALL_TESTS();
  if (g_compared > 0)
    std::cout << "Searches compared with OpenCV's: " << g_compared << " (" << g_rectangles << " rectangles each path)"
              << std::endl;
  return rc;
}
