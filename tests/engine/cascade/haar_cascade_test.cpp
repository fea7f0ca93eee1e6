// The library's Haar cascade evaluator against OpenCV's
// CascadeClassifier::detectMultiScale: the same rectangles in the same
// order, on every instruction-set path this machine runs, for the eye
// cascade and the frontal face cascade; the files it refuses and the
// fallback to OpenCV for them; and the eyes HaarExtractEyesInfo places.
//
// OpenCV runs single-threaded here (see main below): with threads, the
// order of its candidates, and so of its grouped rectangles, may change
// from run to run.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include "face/eye_cascade.h"
#include "engine/cascade/cascade_file.h"
#include "engine/cascade/cascade_detect.h"
#include "engine/hog/hog_test_images.h"
#include "engine/cascade/haar_test_images.h"
#include "models/cascade_loader.h"
#include "models/cascade_model.h"
#include "models/opencv_cascade_check.h"
#include "morvik/config.h"
#include "morvik/global_cache.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using morvik::HaarCascade;
using morvik::CascadeIsa;
using morvik::CascadeSearch;
using testing_support::scratchPath;

// A cascade file read by both evaluators.
struct BothCascades {
  HaarCascade own;
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

BothCascades& eyes() { return cascadeFile(g_config.haar_eye_path_default); }
BothCascades& frontalFaces() { return cascadeFile(g_config.haar_face_path_default_alt); }

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

// OpenCV's rectangles, and the number of cases compared.
std::vector<cv::Rect> opencvRects(BothCascades& c, const cv::Mat& grey, const CascadeSearch& s) {
  std::vector<cv::Rect> found;
  c.opencv.detectMultiScale(grey, found, s.scale_factor, s.min_neighbours, 0, s.min_size, s.max_size);
  return found;
}

int g_compared = 0;

// Every path gives OpenCV's list. Returns its length.
size_t expectOpenCvRects(BothCascades& c, const cv::Mat& grey, const CascadeSearch& s, const std::string& what) {
  const std::vector<cv::Rect> expected = opencvRects(c, grey, s);
  for (CascadeIsa isa : runningIsas()) {
    std::vector<cv::Rect> found;
    EXPECT_EQ(morvik::detectCascade(c.own, grey, s, found, isa), morvik::kCascadeDetected);
    EXPECT_EQ(found, expected) << what << ", " << describe(grey, s) << ", " << isaName(isa);
    ++g_compared;
  }
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

cv::Mat grey(const cv::Mat& bgr) {
  cv::Mat g;
  cv::cvtColor(bgr, g, cv::COLOR_BGR2GRAY);
  return g;
}

const std::vector<std::string>& photoNames() {
  static const std::vector<std::string> names = {
      "faces/2007_007763.jpg", "faces/2008_001009.jpg", "faces/2008_001322.jpg",       "faces/2008_002079.jpg",
      "faces/bald_guys.jpg",   "faces/two_people.jpg",  "faces/Tom_Cruise_avp_2014_4.jpg", "people/obama/obama.jpg",
      "people/biden/biden.jpg", "misc/obama_partial_face.jpg", "misc/dogs.jpg"};
  return names;
}

// Every face the HOG finder reports in the test photographs, and every
// ground-truth box, as HaarExtractEyesInfo gets them (colour, unscaled).
const std::vector<cv::Mat>& testFaces() {
  static const std::vector<cv::Mat> faces = [] {
    std::vector<cv::Mat> all = haar_testing::groundTruthFaces();
    for (const std::string& name : photoNames())
      for (const cv::Mat& f : haar_testing::hogFaces(haar_testing::workingImage(name))) all.push_back(f);
    return all;
  }();
  return faces;
}

const std::vector<cv::Mat>& eyeSearchImages() {
  static const std::vector<cv::Mat> images = [] {
    std::vector<cv::Mat> out;
    for (const cv::Mat& f : testFaces()) out.push_back(haar_testing::eyeSearchImage(f));
    return out;
  }();
  return images;
}

// ---------------------------------------------------------------------------
// The eye-search images of faces: what the library's eye search sees.

TEST(HaarEyeSearch, SameRectanglesAsOpenCvOnEveryFace) {
  const std::vector<cv::Mat>& images = eyeSearchImages();
  ASSERT_GE(images.size(), 40u);
  size_t found = 0;
  for (size_t i = 0; i < images.size(); ++i) {
    ASSERT_FALSE(images[i].empty()) << i;
    found += expectOpenCvRects(eyes(), images[i], CascadeSearch(), "face " + std::to_string(i));
  }
  EXPECT_GT(found, images.size());  // most faces show both eyes
}

TEST(HaarEyeSearch, SameRectanglesWithOtherNeighboursFactorsAndSizes) {
  const std::vector<cv::Mat>& images = eyeSearchImages();
  const CascadeSearch searches[] = {
      search(1.1, 0),
      search(1.1, 1),
      search(1.05, 3),
      search(1.25, 1),
      search(2.0, 0),
      search(3.7, 0),
      search(1.1, 2, cv::Size(30, 30)),
      search(1.1, 0, cv::Size(), cv::Size(40, 40)),
      search(1.1, 0, cv::Size(24, 24), cv::Size(60, 50)),
      // A minimum equal to a maximum that no size hits: the nearest size.
      search(1.3, 0, cv::Size(37, 37), cv::Size(37, 37)),
      search(1.1, 0, cv::Size(500, 500)),
      search(1.1, 0, cv::Size(), cv::Size(-5, 30)),
  };
  for (size_t i = 0; i < images.size(); i += 3)
    for (const CascadeSearch& s : searches) expectOpenCvRects(eyes(), images[i], s, "face " + std::to_string(i));
}

TEST(HaarEyeSearch, ScaleFactorsCascadeScaleFactorPassesOn) {
  // The factors the eye search can be configured with, as the caller's
  // guard turns them into the factor handed to the search.
  const cv::Mat& image = eyeSearchImages().front();
  for (float configured : {1.01f, 1.5f, 7.0f, 109.0f, 1000.0f, 1e21f}) {
    const double factor = morvik::cascadeScaleFactor(configured, image.size());
    ASSERT_GT(factor, 1.0) << configured;
    expectOpenCvRects(eyes(), image, search(factor, 0), "configured " + std::to_string(configured));
  }
}

// ---------------------------------------------------------------------------
// Whole photographs, the eye cascade and the frontal face cascade.

TEST(HaarWholePhotos, SameRectanglesAsOpenCv) {
  for (const char* name : {"faces/2008_001322.jpg", "faces/two_people.jpg", "misc/dogs.jpg"}) {
    const cv::Mat image = grey(haar_testing::workingImage(name));
    ASSERT_FALSE(image.empty()) << name;
    expectOpenCvRects(eyes(), image, CascadeSearch(), name);
    expectOpenCvRects(frontalFaces(), image, search(1.1, 3, g_config.haar_face_min_face, image.size()), name);
    expectOpenCvRects(frontalFaces(), image, search(1.2, 0), name);
  }
}

TEST(HaarWholePhotos, FrontalFaceCascadeOnTheFaces) {
  const std::vector<cv::Mat>& faces = testFaces();
  for (size_t i = 0; i < faces.size(); i += 4)
    expectOpenCvRects(frontalFaces(), grey(faces[i]), search(1.1, 1), "face " + std::to_string(i));
}

// ---------------------------------------------------------------------------
// Synthetic images: noise, flat and nearly flat areas, odd shapes.

TEST(HaarSyntheticImages, NoiseAndFaceLikeBlobs) {
  for (uint64_t seed : {1u, 2u, 3u}) {
    for (const cv::Size size : {cv::Size(110, 110), cv::Size(97, 143), cv::Size(260, 180)}) {
      const cv::Mat noise = grey(hog_testing::noiseImage(size.height, size.width, seed));
      expectOpenCvRects(eyes(), noise, search(1.1, 0), "noise");
      const cv::Mat blobs = grey(hog_testing::blobImage(size.height, size.width, seed));
      expectOpenCvRects(eyes(), blobs, search(1.1, 0), "blobs");
      expectOpenCvRects(frontalFaces(), blobs, search(1.1, 0), "blobs");
    }
  }
}

TEST(HaarSyntheticImages, FlatAndNearlyFlatImagesPassNoVarianceTest) {
  for (int value : {0, 128, 255}) {
    const cv::Mat flat(120, 90, CV_8UC1, cv::Scalar(value));
    EXPECT_EQ(expectOpenCvRects(eyes(), flat, search(1.1, 0), "flat"), 0u);
  }
  // One bright pixel per window: tiny variance, right at the 0.1 limit.
  cv::Mat sparse(120, 120, CV_8UC1, cv::Scalar(100));
  for (int y = 0; y < sparse.rows; y += 7)
    for (int x = 0; x < sparse.cols; x += 5) sparse.at<uint8_t>(y, x) = 101;
  expectOpenCvRects(eyes(), sparse, search(1.1, 0), "sparse");
  // Steps and stripes.
  cv::Mat stripes(100, 130, CV_8UC1);
  for (int y = 0; y < stripes.rows; ++y)
    for (int x = 0; x < stripes.cols; ++x)
      stripes.at<uint8_t>(y, x) = static_cast<uint8_t>(((x / 3 + y / 5) % 2) * 200);
  expectOpenCvRects(eyes(), stripes, search(1.1, 0), "stripes");
}

TEST(HaarSyntheticImages, ImagesNearTheWindowSizeAndStrips) {
  const cv::Mat noise = grey(hog_testing::noiseImage(300, 300, 9));
  for (const cv::Size size : {cv::Size(20, 20), cv::Size(21, 20), cv::Size(20, 33), cv::Size(22, 22),
                              cv::Size(19, 40), cv::Size(40, 19), cv::Size(1, 300), cv::Size(300, 1),
                              cv::Size(300, 21), cv::Size(21, 300), cv::Size(1, 1)}) {
    const cv::Mat image = noise(cv::Rect(cv::Point(0, 0), size));
    expectOpenCvRects(eyes(), image, search(1.1, 0), "strip");
    expectOpenCvRects(eyes(), image, search(1.1, 3), "strip");
  }
}

TEST(HaarSyntheticImages, ViewsIntoLargerImages) {
  // Rows of a view are not contiguous: the scaled image and its integrals
  // must follow the view's step.
  const cv::Mat photo = grey(haar_testing::workingImage("faces/2008_001322.jpg"));
  expectOpenCvRects(eyes(), photo(cv::Rect(333, 151, 117, 103)), search(1.1, 0), "view");
}

TEST(HaarSyntheticImages, BrightLargeImageWhoseSquaredSumsWrap) {
  // OpenCV keeps squared sums in int: past about 33000 bright pixels they
  // wrap, and the variance takes them as unsigned.
  cv::Mat image(700, 900, CV_8UC1);
  cv::RNG(5).fill(image, cv::RNG::UNIFORM, 180, 256);
  cv::GaussianBlur(image, image, cv::Size(0, 0), 1.5);
  expectOpenCvRects(eyes(), image, search(1.3, 0), "bright");
}

// ---------------------------------------------------------------------------
// What the search refuses, and what it keeps between calls.

TEST(HaarSearchInput, RefusesWhatOpenCvWouldThrowOrLoopForeverOn) {
  HaarCascade& c = eyes().own;
  const cv::Mat image = eyeSearchImages().front();
  std::vector<cv::Rect> found{cv::Rect(1, 2, 3, 4)};
  EXPECT_EQ(morvik::detectCascade(c, cv::Mat(), CascadeSearch(), found), morvik::kCascadeBadImage);
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(morvik::detectCascade(c, cv::Mat(50, 50, CV_8UC3, cv::Scalar::all(9)), CascadeSearch(), found),
            morvik::kCascadeBadImage);
  EXPECT_EQ(morvik::detectCascade(c, cv::Mat(50, 50, CV_16UC1, cv::Scalar::all(9)), CascadeSearch(), found),
            morvik::kCascadeBadImage);
  for (double factor : {1.0, 0.5, -2.0, std::nan(""), std::nextafter(1.0, 2.0), 1.0 + 1e-9})
    EXPECT_EQ(morvik::detectCascade(c, image, search(factor, 3), found), morvik::kCascadeBadSearch) << factor;
  EXPECT_EQ(morvik::detectCascade(HaarCascade(), image, CascadeSearch(), found), morvik::kCascadeNoCascade);
  // Factors whose second size leaves the int range scan the first size
  // only, as a factor capped at the image's side does in OpenCV.
  std::vector<cv::Rect> capped;
  ASSERT_EQ(morvik::detectCascade(c, image, search(1e300, 0), found), morvik::kCascadeDetected);
  ASSERT_EQ(morvik::detectCascade(c, image, search(std::numeric_limits<double>::infinity(), 0), capped),
            morvik::kCascadeDetected);
  EXPECT_EQ(found, capped);
  EXPECT_EQ(found, opencvRects(eyes(), image, search(image.cols, 0)));
  // A refused call leaves nothing behind that changes the next one.
  expectOpenCvRects(eyes(), image, CascadeSearch(), "after refusals");
}

TEST(HaarSearchInput, ScratchMemoryStaysBounded) {
  const cv::Mat large = grey(hog_testing::noiseImage(1500, 1400, 3));
  std::vector<cv::Rect> found;
  ASSERT_EQ(morvik::detectCascade(eyes().own, large, search(1.5, 3), found), morvik::kCascadeDetected);
  EXPECT_LE(morvik::cascadeScratchBytes<morvik::HaarKind>(), morvik::kCascadeKeptScratchBytes);
  ASSERT_EQ(morvik::detectCascade(eyes().own, eyeSearchImages().front(), CascadeSearch(), found),
            morvik::kCascadeDetected);
  EXPECT_GT(morvik::cascadeScratchBytes<morvik::HaarKind>(), 0u);
  EXPECT_LE(morvik::cascadeScratchBytes<morvik::HaarKind>(), morvik::kCascadeKeptScratchBytes);
  GlobalFree();
  EXPECT_EQ(morvik::cascadeScratchBytes<morvik::HaarKind>(), 0u);
}

TEST(HaarSearchInput, ThreadsSearchingAtOnceGetTheSameRectangles) {
  const std::vector<cv::Mat>& images = eyeSearchImages();
  std::vector<std::vector<cv::Rect>> expected;
  for (const cv::Mat& image : images) expected.push_back(opencvRects(eyes(), image, CascadeSearch()));
  const HaarCascade& c = eyes().own;
  std::vector<int> mismatches(3, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&, t] {
      for (size_t i = static_cast<size_t>(t); i < images.size() * 3; i += 3) {
        std::vector<cv::Rect> found;
        morvik::detectCascade(c, images[i % images.size()], CascadeSearch(), found);
        if (found != expected[i % images.size()]) ++mismatches[static_cast<size_t>(t)];
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches, std::vector<int>(3, 0));
}

// ---------------------------------------------------------------------------
// Cascade files: what the reader takes, what it refuses, and the fallback.

std::string fileText(const std::string& path) {
  const std::vector<char> bytes = testing_support::fileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// The eye cascade with the first `from` of each edit replaced by its `to`.
std::string edited(const std::vector<std::pair<std::string, std::string>>& edits) {
  std::string text = fileText(g_config.haar_eye_path_default);
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
  const std::string path = scratchPath(name);
  std::ofstream(path, std::ios::binary) << text;
  files.paths.push_back(path);
  return path;
}

morvik::CascadeLoadResult loaded(const std::string& path) {
  HaarCascade c;
  const morvik::CascadeLoadResult rc = morvik::readCascadeFile(path, c);
  if (rc != morvik::kCascadeLoaded) EXPECT_TRUE(c.stages.empty() && c.features.empty() && c.stumps.empty());
  return rc;
}

const char kFirstNode[] = "0 -1 0 1.2963959574699402e-01</internalNodes>";
const char kFirstRect[] = "0 8 20 12 -1.</_>";
const char kLastFeatureEnd[] = "</rects></_></features>";

TEST(HaarCascadeFile, ReadsTheStumpCascadesOfTheLibrary) {
  EXPECT_EQ(loaded(g_config.haar_eye_path_default), morvik::kCascadeLoaded);
  EXPECT_EQ(loaded(g_config.haar_face_path_default_alt), morvik::kCascadeLoaded);
  HaarCascade a, b;
  ASSERT_EQ(morvik::readCascadeFile(g_config.haar_eye_path_default, a), morvik::kCascadeLoaded);
  ASSERT_EQ(morvik::readCascadeFile(g_config.haar_eye_path_default, b), morvik::kCascadeLoaded);
  EXPECT_NE(a.id, b.id);  // scratch memory laid out for one is not taken for the other
  EXPECT_EQ(a.window, eyes().opencv.getOriginalWindowSize());
}

TEST(HaarCascadeFile, RefusesFilesItDoesNotServe) {
  EXPECT_EQ(loaded(g_config.haar_face_path_default), morvik::kCascadeNotServed);  // LBP
  // A tree of two nodes.
  EXPECT_EQ(loaded(written("tree.xml", edited(std::string(kFirstNode) + "\n          <leafValues>\n"
                                                                         "            -7.7304208278656006e-01 "
                                                                         "6.8350148200988770e-01</leafValues>",
                                              "1 -1 0 1.2963959574699402e-01 -1 -2 1 0.05</internalNodes>\n"
                                              "          <leafValues>\n"
                                              "            -0.77 0.68 0.1</leafValues>"))),
            morvik::kCascadeNotServed);
  // A tilted feature, even one no stump uses.
  EXPECT_EQ(loaded(written("tilted.xml", edited(kLastFeatureEnd, "</rects></_><_><rects><_>6 2 4 4 -1.</_><_>7 3 2 2 "
                                                                 "2.</_></rects><tilted>1</tilted></_></features>"))),
            morvik::kCascadeNotServed);
  EXPECT_EQ(loaded(written("categorical.xml",
                           edited("<maxCatCount>0</maxCatCount>", "<maxCatCount>256</maxCatCount>"))),
            morvik::kCascadeNotServed);
  // The old format has no stage type where the new one has it.
  EXPECT_EQ(loaded(written("old.xml", "<?xml version=\"1.0\"?>\n<opencv_storage>\n<cascade "
                                      "type_id=\"opencv-haar-classifier\"><size>20 20</size><stages><_><trees><_><_>"
                                      "<feature><rects><_>0 0 2 2 -1.</_><_>0 0 1 1 2.</_></rects><tilted>0</tilted>"
                                      "</feature><threshold>0.1</threshold><left_val>-1</left_val><right_val>1"
                                      "</right_val></_></_></trees><stage_threshold>-1</stage_threshold><parent>-1"
                                      "</parent><next>-1</next></_></stages></cascade>\n</opencv_storage>\n")),
            morvik::kCascadeNotServed);
}

TEST(HaarCascadeFile, RefusesMissingAndDamagedFiles) {
  EXPECT_EQ(loaded("/nonexistent/eyes.xml"), morvik::kCascadeUnreadable);
  EXPECT_EQ(loaded(written("empty.xml", "")), morvik::kCascadeUnreadable);
  EXPECT_EQ(loaded(written("noise.xml", std::string("\x89PNG\r\n\x1a\n\0\0garbage", 18))), morvik::kCascadeUnreadable);
  const std::string text = fileText(g_config.haar_eye_path_default);
  EXPECT_EQ(loaded(written("cut.xml", text.substr(0, text.size() / 2))), morvik::kCascadeUnreadable);
  // OpenCV's XML reader follows a null pointer on a NUL byte in the text.
  EXPECT_EQ(loaded(written("nul.xml", edited("<stageType>", std::string("<stage\0Type>", 12)))),
            morvik::kCascadeUnreadable);
  // Larger than any cascade: not read at all (a sparse file, so cheap).
  const std::string huge = written("huge.xml", text);
  ASSERT_EQ(::truncate(huge.c_str(), static_cast<off_t>(morvik::kMaxCascadeFileBytes + 1)), 0);
  EXPECT_EQ(loaded(huge), morvik::kCascadeUnreadable);
  // Values OpenCV would index past its arrays with, or refuses itself.
  EXPECT_EQ(loaded(written("index.xml", edited(kFirstNode, "0 -1 99999 1.2963959574699402e-01</internalNodes>"))),
            morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("negative.xml", edited(kFirstNode, "0 -1 -1 1.2963959574699402e-01</internalNodes>"))),
            morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("outside.xml", edited(kFirstRect, "0 8 21 12 -1.</_>"))), morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("width.xml", edited(kFirstRect, "4 8 -3 12 -1.</_>"))), morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("fourth.xml", edited(kFirstRect, "0 8 20 12 -1.</_><_>0 0 1 1 1.</_><_>0 0 2 2 1.</_>"))),
            morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("short.xml", edited(kFirstRect, "0 8 20 -1.</_>"))), morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("window.xml", edited("<width>20</width>", "<width>0</width>"))), morvik::kCascadeDamaged);
  EXPECT_EQ(loaded(written("stages.xml", edited({{"<stages>", "<stagez>"}, {"</stages>", "</stagez>"}}))),
            morvik::kCascadeDamaged);
  // A number where a map of values belongs.
  EXPECT_EQ(loaded(written("map.xml", edited("<featureParams>\n    <maxCatCount>0</maxCatCount></featureParams>",
                                             "<featureParams>7</featureParams>"))),
            morvik::kCascadeDamaged);
}

// What goes to OpenCV's classifier is first held to what its evaluation
// indexes with: sound trees and tilted features pass, the rest is refused.
TEST(HaarCascadeFile, OpenCvIsGivenOnlyWhatItReadsSafely) {
  using morvik::openCvMayReadCascade;
  const std::string leaves = std::string(kFirstNode) +
                             "\n          <leafValues>\n"
                             "            -7.7304208278656006e-01 6.8350148200988770e-01</leafValues>";
  const auto tree = [&](const std::string& nodes, const std::string& values) {
    return edited(leaves, nodes + "</internalNodes>\n          <leafValues>\n            " + values + "</leafValues>");
  };
  const auto tilted = [&](const std::string& rects) {
    return edited(kLastFeatureEnd, "</rects></_><_><rects>" + rects + "</rects><tilted>1</tilted></_></features>");
  };
  EXPECT_TRUE(openCvMayReadCascade(g_config.haar_eye_path_default));
  EXPECT_TRUE(openCvMayReadCascade(g_config.haar_face_path_default));  // LBP
  EXPECT_TRUE(openCvMayReadCascade(written("sound_tree.xml", tree("1 -1 0 0.1 -1 -2 1 0.05", "-0.77 0.68 0.1"))));
  EXPECT_TRUE(openCvMayReadCascade(written("sound_tilted.xml", tilted("<_>6 2 4 4 -1.</_><_>7 3 2 2 2.</_>"))));

  // Leaves that do not match the nodes shift every later tree's.
  EXPECT_FALSE(openCvMayReadCascade(written("three_leaves.xml", tree("0 -1 0 0.1", "-0.77 0.68 0.1"))));
  EXPECT_FALSE(openCvMayReadCascade(written("few_leaves.xml", tree("1 -1 0 0.1 -1 -2 1 0.05", "-0.77 0.68"))));
  EXPECT_FALSE(openCvMayReadCascade(written("half_node.xml", tree("1 -1 0 0.1 -1 -2", "-0.77 0.68 0.1"))));
  // A child beyond the tree, a leaf beyond the leaves, a loop.
  EXPECT_FALSE(openCvMayReadCascade(written("far_child.xml", tree("2 -1 0 0.1 -1 -2 1 0.05", "-0.77 0.68 0.1"))));
  EXPECT_FALSE(openCvMayReadCascade(written("far_leaf.xml", tree("1 -1 0 0.1 -1 -3 1 0.05", "-0.77 0.68 0.1"))));
  EXPECT_FALSE(openCvMayReadCascade(written("loop.xml", tree("1 -1 0 0.1 1 -2 1 0.05", "-0.77 0.68 0.1"))));
  EXPECT_FALSE(openCvMayReadCascade(written("feature.xml", tree("0 -1 9999 0.1", "-0.77 0.68"))));
  // Rectangles outside the window, upright or tilted, and a fourth one.
  EXPECT_FALSE(openCvMayReadCascade(written("tilted_left.xml", tilted("<_>2 2 4 4 -1.</_><_>3 3 2 2 2.</_>"))));
  EXPECT_FALSE(openCvMayReadCascade(written("tilted_low.xml", tilted("<_>10 9 4 8 -1.</_>"))));
  EXPECT_FALSE(openCvMayReadCascade(written("outside.xml", edited(kFirstRect, "0 8 21 12 -1.</_>"))));
  EXPECT_FALSE(openCvMayReadCascade(
      written("four.xml", edited(kFirstRect, "0 8 20 12 -1.</_><_>0 8 1 1 1.</_><_>0 8 1 1 1.</_>"))));
  // Haar values taken as categories index past the subsets.
  EXPECT_FALSE(openCvMayReadCascade(
      written("categorical_haar.xml", edited("<maxCatCount>0</maxCatCount>", "<maxCatCount>256</maxCatCount>"))));
  EXPECT_FALSE(openCvMayReadCascade("/nonexistent/eyes.xml"));
}

TEST(HaarCascadeFile, ModelFallsBackToOpenCvForWhatItRefuses) {
  const cv::Mat& image = eyeSearchImages()[1];
  const std::vector<cv::Rect> expected = opencvRects(eyes(), image, CascadeSearch());
  struct Case {
    std::string path;
    bool own, loads;
  };
  const Case cases[] = {
      {g_config.haar_eye_path_default, true, true},
      // OpenCV takes these, with the same detections: the unused tilted
      // feature only makes it compute a tilted integral too.
      {written("tilted_model.xml", edited(kLastFeatureEnd, "</rects></_><_><rects><_>6 2 4 4 -1.</_><_>7 3 2 2 "
                                                           "2.</_></rects><tilted>1</tilted></_></features>")),
       false, true},
      {g_config.haar_face_path_default, true, true},  // LBP: the own LBP evaluator, other detections
      {"/nonexistent/eyes.xml", false, false},
      {written("outside_model.xml", edited(kFirstRect, "0 8 21 12 -1.</_>")), false, false},
      // OpenCV loads these and then reads past its features, or crashes in
      // its XML reader on the NUL byte.
      {written("index_model.xml", edited(kFirstNode, "0 -1 9999 1.2963959574699402e-01</internalNodes>")), false,
       false},
      {written("rect_model.xml", edited(kFirstRect, "0 8 20 12 -1. 0 14 20 6</_>")), false, false},
      {written("stump_leaves_model.xml",
               edited("6.8350148200988770e-01</leafValues>", "6.8350148200988770e-01 0.5</leafValues>")),
       false, false},
      {written("nul_model.xml", edited("<stageType>", std::string("<stage\0Type>", 12))), false, false},
  };
  for (const Case& c : cases) {
    morvik::CascadeModel model;
    ASSERT_EQ(model.load(c.path), c.loads) << c.path;
    if (!c.loads) continue;
    EXPECT_EQ(model.ownEvaluator(), c.own) << c.path;
    std::vector<cv::Rect> found;
    ASSERT_TRUE(model.detect(image, found, 1.1, 3, cv::Size(), cv::Size())) << c.path;
    if (c.path != g_config.haar_face_path_default) EXPECT_EQ(found, expected) << c.path;
    EXPECT_FALSE(model.detect(cv::Mat(40, 40, CV_8UC3), found, 1.1, 3, cv::Size(), cv::Size()));
  }
}

// The eye cascade with its window and every rectangle `k` times larger.
std::string enlargedEyes(int k) {
  std::istringstream in(fileText(g_config.haar_eye_path_default));
  std::ostringstream out;
  const std::regex rect(R"(^(\s*)(\d+) (\d+) (\d+) (\d+) (\S+)</_>(.*)$)");
  const std::regex side(R"(<(width|height)>20</(width|height)>)");
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, rect)) {
      out << m[1];
      for (int i = 2; i <= 5; ++i) out << std::stoi(m[i]) * k << " ";
      out << m[6] << "</_>" << m[7] << "\n";
    } else {
      out << std::regex_replace(line, side, "<$1>" + std::to_string(20 * k) + "</$2>") << "\n";
    }
  }
  return out.str();
}

TEST(HaarCascadeFile, WindowsWhoseSquaredSumsPassTheIntRange) {
  // In a window of 280 pixels, the squares of bright pixels in the variance
  // rectangle sum past 2^31: OpenCV takes that int sum as unsigned.
  BothCascades& large = cascadeFile(written("large.xml", enlargedEyes(14)));
  ASSERT_EQ(large.own.window, cv::Size(280, 280));
  cv::Mat face;
  cv::resize(eyeSearchImages()[17], face, cv::Size(), 14, 14, cv::INTER_LINEAR);
  face.convertTo(face, CV_8U, 0.35, 165);
  const CascadeSearch one_size = search(1.1, 0, cv::Size(280, 280), cv::Size(300, 300));
  EXPECT_GT(expectOpenCvRects(large, face, one_size, "bright, large window"), 0u);
}

// ---------------------------------------------------------------------------
// HaarExtractEyesInfo: the codes and points OpenCV's classifier gave it.

class EyesInfo : public ::testing::Test {
 protected:
  void TearDown() override {
    g_config.haar_eye_path_default = saved_;
    GlobalFree();
  }
  const std::string saved_ = g_config.haar_eye_path_default;
};

struct EyeResult {
  int code;
  mv::Point left, right;
  bool operator==(const EyeResult& o) const {
    return code == o.code && left.x == o.left.x && left.y == o.left.y && right.x == o.right.x && right.y == o.right.y;
  }
};

std::vector<EyeResult> eyesOfAllFaces(const std::string& cascade_path) {
  g_config.haar_eye_path_default = cascade_path;
  GlobalFree();
  std::vector<EyeResult> results;
  for (const cv::Mat& face : testFaces()) {
    cv::Mat f = face;
    EyeResult r{0, {0, 0}, {0, 0}};
    r.code = HaarExtractEyesInfo(f, &r.left, &r.right);
    results.push_back(r);
  }
  return results;
}

TEST_F(EyesInfo, SameCodesAndPointsAsWithOpenCvsClassifier) {
  // The eye cascade with an unused tilted feature: the model keeps
  // OpenCV's classifier for it, which finds what it finds in the original.
  const std::string opencv_path =
      written("eyes_opencv.xml", edited(kLastFeatureEnd, "</rects></_><_><rects><_>6 2 4 4 -1.</_><_>7 3 2 2 "
                                                         "2.</_></rects><tilted>1</tilted></_></features>"));
  const std::vector<EyeResult> before = eyesOfAllFaces(opencv_path);
  const std::vector<EyeResult> now = eyesOfAllFaces(saved_);
  ASSERT_EQ(now.size(), before.size());
  int both = 0;
  for (size_t i = 0; i < now.size(); ++i) {
    EXPECT_TRUE(now[i] == before[i]) << "face " << i << ": code " << now[i].code << " vs " << before[i].code;
    both += now[i].code == 0;
  }
  EXPECT_GT(both, static_cast<int>(now.size()) / 3);
}

TEST_F(EyesInfo, MissingCascadeIsStillErrorLoadCascade) {
  cv::Mat face = testFaces().front().clone();  // finding the faces loads models of its own
  g_config.haar_eye_path_default = "/nonexistent/eyes.xml";
  GlobalFree();
  mv::Point l{0, 0}, r{0, 0};
  EXPECT_EQ(HaarExtractEyesInfo(face, &l, &r), -3);
  EXPECT_TRUE(g_releases.empty());
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  cv::setNumThreads(1);
  const int rc = RUN_ALL_TESTS();
  if (g_compared > 0) std::cout << "Searches compared with OpenCV's: " << g_compared << std::endl;
  return rc;
}
