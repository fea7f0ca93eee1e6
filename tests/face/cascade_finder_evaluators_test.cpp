// The cascade finders on the library's own evaluators against the same
// finders on OpenCV's classifier: ExtractFaces gives the same faces
// (rectangles, eyes) with the LBP finder, the Haar finder, both, and the
// chain lbp+haar+hog+cnn on every test photograph. The finders take
// OpenCV's classifier for cascade files the own readers do not serve, so
// the comparison runs the finder twice: on the shipped files, and on
// copies OpenCV reads to the same cascade (checked here too) but the own
// readers leave to OpenCV. Also: the models a finder refuses, and what
// GlobalFree releases.
//
// OpenCV runs single-threaded here (see main below), the order the own
// evaluators give.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include "engine/cascade/cascade_detect.h"
#include "models/cascade_model.h"
#include "morvik/config.h"
#include "morvik/findface.h"
#include "morvik/global_cache.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using Evaluator = morvik::CascadeModel::Evaluator;

std::string fileText(const std::string& path) {
  const std::vector<char> bytes = testing_support::fileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

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

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The LBP cascade with eight more subset words per node, declared as 512
// categories: LBP codes use the first 256 bits, so OpenCV evaluates it as
// the original; the own reader serves 256 only.
const std::string& lbpForOpenCv() {
  static const std::string path = [] {
    std::string text = replaced(fileText(g_config.haar_face_path_default), "<maxCatCount>256</maxCatCount>",
                                "<maxCatCount>512</maxCatCount>");
    for (size_t at = text.find("</internalNodes>"); at != std::string::npos;
         at = text.find("</internalNodes>", at + 40))
      text.insert(at, " 0 0 0 0 0 0 0 0");
    return written("lbp_opencv.xml", text);
  }();
  return path;
}

// The Haar cascade with an unused tilted feature: OpenCV only computes a
// tilted integral besides; the own reader serves upright features only.
const std::string& haarForOpenCv() {
  static const std::string path =
      written("haar_opencv.xml",
              replaced(fileText(g_config.haar_face_path_default_alt), "</rects></_></features>",
                       "</rects></_><_><rects><_>6 2 4 4 -1.</_><_>7 3 2 2 2.</_></rects><tilted>1</tilted></_>"
                       "</features>"));
  return path;
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

// Photographs as a host decodes them (the PNG with its alpha channel).
const std::vector<cv::Mat>& photos() {
  static const std::vector<cv::Mat> images = [] {
    std::vector<cv::Mat> out;
    for (const std::string& name : photoNames())
      out.push_back(cv::imread(testing_support::testdata(name), cv::IMREAD_UNCHANGED));
    return out;
  }();
  return images;
}

class FinderEvaluators : public ::testing::Test {
 protected:
  void TearDown() override {
    g_config.haar_face_path_default = lbp_;
    g_config.haar_face_path_default_alt = haar_;
    GlobalFree();
  }
  // Both finders' cascade files, with the models of the old ones dropped.
  void useCascades(const std::string& lbp, const std::string& haar) {
    g_config.haar_face_path_default = lbp;
    g_config.haar_face_path_default_alt = haar;
    GlobalFree();
  }
  const std::string lbp_ = g_config.haar_face_path_default;
  const std::string haar_ = g_config.haar_face_path_default_alt;
};

struct Found {
  int rc = 0;
  std::vector<mv::Face> faces;
};

Found extract(const cv::Mat& image, int algo) {
  Found f;
  f.faces.resize(512);
  size_t n = f.faces.size();
  f.rc = ExtractFaces(&image, f.faces.data(), &n, static_cast<mv::FindFaceAlgoType>(algo));
  f.faces.resize(f.rc == 0 ? n : 0);
  return f;
}

std::string describe(const Found& f) {
  std::ostringstream out;
  out << "rc " << f.rc << ":";
  for (const mv::Face& face : f.faces)
    out << " [" << face.rect << " eyes " << face.left_eye << " " << face.right_eye << " shape " << face.from_shape
        << " angle " << face.angle << "]";
  return out.str();
}

bool sameFaces(const Found& a, const Found& b) {
  if (a.rc != b.rc || a.faces.size() != b.faces.size()) return false;
  for (size_t i = 0; i < a.faces.size(); ++i) {
    const mv::Face& x = a.faces[i];
    const mv::Face& y = b.faces[i];
    if (static_cast<cv::Rect>(x.rect) != static_cast<cv::Rect>(y.rect) || x.left_eye.x != y.left_eye.x ||
        x.left_eye.y != y.left_eye.y || x.right_eye.x != y.right_eye.x || x.right_eye.y != y.right_eye.y ||
        x.from_shape != y.from_shape || x.angle != y.angle)
      return false;
  }
  return true;
}

constexpr int kChains[] = {mv::FindLBP, mv::FindHaar, mv::FindLBP | mv::FindHaar,
                           mv::FindLBP | mv::FindHaar | mv::FindDlib | mv::FindCNN};

TEST_F(FinderEvaluators, OpenCvReadsTheCopiesAsTheShippedCascades) {
  struct Pair {
    std::string shipped, copy;
    Evaluator own;
  };
  const Pair pairs[] = {{g_config.haar_face_path_default, lbpForOpenCv(), Evaluator::kLbp},
                        {g_config.haar_face_path_default_alt, haarForOpenCv(), Evaluator::kHaar}};
  for (const Pair& p : pairs) {
    morvik::CascadeModel shipped, copy;
    ASSERT_TRUE(shipped.load(p.shipped));
    ASSERT_TRUE(copy.load(p.copy));
    EXPECT_EQ(shipped.evaluator(), p.own) << p.shipped;
    EXPECT_EQ(copy.evaluator(), Evaluator::kOpenCv) << p.copy;
    cv::CascadeClassifier a(p.shipped), b(p.copy);
    size_t found = 0;
    for (size_t i = 0; i < photos().size(); ++i) {
      // At the finders' working size, 800 pixels across the longer side.
      const cv::Mat& photo = photos()[i];
      const double f = 800.0 / std::max(photo.cols, photo.rows);
      cv::Mat grey;
      cv::cvtColor(photo, grey, photo.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
      cv::resize(grey, grey, cv::Size(), f, f, f < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
      std::vector<cv::Rect> ra, rb;
      a.detectMultiScale(grey, ra, 1.1, 3, 0, cv::Size(40, 40), grey.size());
      b.detectMultiScale(grey, rb, 1.1, 3, 0, cv::Size(40, 40), grey.size());
      EXPECT_EQ(ra, rb) << p.copy << ", " << photoNames()[i];
      found += ra.size();
    }
    EXPECT_GT(found, 5u) << p.shipped;
  }
}

TEST_F(FinderEvaluators, ExtractFacesGivesTheFacesOpenCvsClassifierGave) {
  std::vector<Found> before;
  useCascades(lbpForOpenCv(), haarForOpenCv());
  for (const cv::Mat& image : photos())
    for (int algo : kChains) before.push_back(extract(image, algo));
  useCascades(lbp_, haar_);
  size_t k = 0, with_faces = 0;
  for (size_t i = 0; i < photos().size(); ++i)
    for (int algo : kChains) {
      const Found now = extract(photos()[i], algo);
      EXPECT_TRUE(sameFaces(now, before[k]))
          << photoNames()[i] << " algo " << algo << "\n  now:    " << describe(now) << "\n  before: " << describe(before[k]);
      with_faces += now.faces.empty() ? 0 : 1;
      ++k;
    }
  // Most photographs show faces to some cascade.
  EXPECT_GT(with_faces, before.size() / 2);
}

TEST_F(FinderEvaluators, DamagedLbpFileIsErrorLoadCascadeAndRetried) {
  // A block reaching out of the window: OpenCV would load it and read
  // outside its buffers; the finder refuses it and caches nothing.
  const std::string damaged =
      written("lbp_damaged.xml", replaced(fileText(lbp_), "0 0 3 5</rect>", "0 0 9 5</rect>"));
  useCascades(damaged, haar_);
  cv::Mat image = photos()[5].clone();
  HaarFindFaceAlgo lbp(true), haar(false);
  std::vector<cv::Rect> faces;
  EXPECT_EQ(lbp.findFaces(0, image, faces), -3);
  EXPECT_EQ(lbp.findFaces(0, image, faces), -3);
  EXPECT_EQ(haar.findFaces(0, image, faces), 0);
  g_config.haar_face_path_default = lbp_;
  EXPECT_EQ(lbp.findFaces(0, image, faces), 0);
}

TEST_F(FinderEvaluators, GlobalFreeReleasesTheModelsAndScratchMemory) {
  GlobalFree();
  cv::Mat image = photos()[2].clone();
  HaarFindFaceAlgo lbp(true), haar(false);
  std::vector<cv::Rect> faces;
  ASSERT_EQ(lbp.findFaces(0, image, faces), 0);
  ASSERT_EQ(haar.findFaces(0, image, faces), 0);
  EXPECT_GT(morvik::cascadeScratchBytes<morvik::LbpKind>(), 0u);
  EXPECT_GT(morvik::cascadeScratchBytes<morvik::HaarKind>(), 0u);
  EXPECT_FALSE(g_releases.empty());
  GlobalFree();
  EXPECT_TRUE(g_releases.empty());
  EXPECT_EQ(morvik::cascadeScratchBytes<morvik::LbpKind>(), 0u);
  EXPECT_EQ(morvik::cascadeScratchBytes<morvik::HaarKind>(), 0u);
  // Loaded again on the next call.
  EXPECT_EQ(lbp.findFaces(0, image, faces), 0);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  cv::setNumThreads(1);
  return RUN_ALL_TESTS();
}
