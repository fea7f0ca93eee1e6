// Bytes offered as an OpenCV cascade file to the library's own readers: each
// reader either refuses them, leaving its cascade empty, or loads a cascade
// that then searches an image without reading outside the cascade, the
// image or the scratch memory, finding rectangles inside the image, the same
// ones on every instruction set. The same bytes then go to a CascadeModel,
// which hands what the own readers refuse to OpenCV's classifier.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "engine/cascade/cascade_detect.h"
#include "engine/cascade/cascade_detect.h"
#include "fuzz_support.h"
#include "models/cascade_model.h"

namespace {

using morvik::CascadeIsa;

// A small grey image with structure at several scales, so that stumps take
// both leaves.
cv::Mat testImage() {
  cv::Mat image(48, 56, CV_8UC1);
  for (int r = 0; r < image.rows; ++r) {
    for (int c = 0; c < image.cols; ++c) {
      image.at<uint8_t>(r, c) = static_cast<uint8_t>((r * 37) ^ (c * 11) ^ ((r / 8 + c / 8) * 64));
    }
  }
  return image;
}

// The searches every loaded cascade runs: the finders' usual one, and one
// that keeps every window that passes, at finer scales.
std::vector<morvik::CascadeSearch> searches() {
  morvik::CascadeSearch usual;
  morvik::CascadeSearch all;
  all.scale_factor = 1.05;
  all.min_neighbours = 0;
  return {usual, all};
}

std::vector<CascadeIsa> isas() {
  std::vector<CascadeIsa> out;
  for (CascadeIsa isa : {CascadeIsa::kPortable, CascadeIsa::kAvx2, CascadeIsa::kAvx512}) {
    if (morvik::cascadeIsaRuns(isa)) out.push_back(isa);
  }
  return out;
}

void checkFound(const cv::Mat& image, const std::vector<cv::Rect>& found) {
  const cv::Rect whole(0, 0, image.cols, image.rows);
  for (const cv::Rect& r : found) FUZZ_EXPECT(r.width > 0 && r.height > 0 && (r & whole) == r);
}

template <typename Cascade, typename Detect>
void searchEverywhere(const Cascade& cascade, Detect detect) {
  static const cv::Mat image = testImage();
  for (const morvik::CascadeSearch& search : searches()) {
    std::vector<cv::Rect> first;
    bool have_first = false;
    for (CascadeIsa isa : isas()) {
      std::vector<cv::Rect> found;
      const morvik::CascadeDetectResult rc = detect(cascade, image, search, found, isa);
      FUZZ_EXPECT(rc == morvik::kCascadeDetected || rc == morvik::kCascadeNoCascade);
      FUZZ_EXPECT(rc == morvik::kCascadeDetected || found.empty());
      checkFound(image, found);
      if (!have_first) {
        first = found;
        have_first = true;
      } else {
        FUZZ_EXPECT(found == first);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::silenceLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz_support::writeScratch("cascade", data, size);

  morvik::HaarCascade haar;
  const morvik::CascadeLoadResult haar_rc = morvik::readCascadeFile(path, haar);
  if (haar_rc == morvik::kCascadeLoaded) {
    FUZZ_EXPECT(!haar.stages.empty() && haar.window.width > 0 && haar.window.height > 0);
    searchEverywhere(haar, [](const morvik::HaarCascade& c, const cv::Mat& image, const morvik::CascadeSearch& s,
                              std::vector<cv::Rect>& found,
                              CascadeIsa isa) { return morvik::detectCascade(c, image, s, found, isa); });
  } else {
    FUZZ_EXPECT(haar.stages.empty() && haar.features.empty() && haar.stumps.empty());
  }

  morvik::LbpCascade lbp;
  const morvik::CascadeLoadResult lbp_rc = morvik::readCascadeFile(path, lbp);
  if (lbp_rc == morvik::kCascadeLoaded) {
    // A file is a Haar cascade or an LBP one, never both.
    FUZZ_EXPECT(haar_rc != morvik::kCascadeLoaded);
    FUZZ_EXPECT(!lbp.stages.empty() && lbp.window.width > 0 && lbp.window.height > 0);
    searchEverywhere(lbp, [](const morvik::LbpCascade& c, const cv::Mat& image, const morvik::CascadeSearch& s,
                             std::vector<cv::Rect>& found,
                             CascadeIsa isa) { return morvik::detectCascade(c, image, s, found, isa); });
  } else {
    FUZZ_EXPECT(lbp.stages.empty() && lbp.features.empty() && lbp.stumps.empty());
  }

  static const cv::Mat image = testImage();
  morvik::CascadeModel model;
  if (model.load(path)) {
    const bool own = haar_rc == morvik::kCascadeLoaded || lbp_rc == morvik::kCascadeLoaded;
    FUZZ_EXPECT(model.ownEvaluator() == own);
    std::vector<cv::Rect> found;
    FUZZ_EXPECT(model.detect(image, found, 1.1, 3, cv::Size(), cv::Size()));
    checkFound(image, found);
  } else {
    FUZZ_EXPECT(model.evaluator() == morvik::CascadeModel::Evaluator::kNone);
  }
  return 0;
}
