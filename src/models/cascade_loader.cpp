#include "models/cascade_loader.h"

#include <algorithm>
#include <cmath>

#include "models/opencv_cascade_check.h"

namespace morvik {

bool loadCascade(cv::CascadeClassifier& cascade, const std::string& path) {
  // OpenCV logs its own error line for a file it cannot open, and its
  // reader crashes on some damaged ones (cascade_file.h) and misreads
  // others (opencv_cascade_check.h); a missing or damaged model is reported
  // by result code only.
  if (!openCvMayReadCascade(path)) return false;
  try {
    return cascade.load(path) && !cascade.empty();
  } catch (const cv::Exception&) {
    return false;
  }
}

namespace {

// More sizes than any sane factor gives (1.1 scans about 70 sizes of an
// 800-pixel image).
constexpr double kMaxScanSizes = 10000;

}  // namespace

double cascadeScaleFactor(float configured, cv::Size image) {
  const double factor = configured;
  if (!(factor > 1.0)) return 0;  // NaN too
  const double largest = std::max({image.width, image.height, 2});
  if (std::log(largest) / std::log(factor) > kMaxScanSizes) return 0;
  return std::min(factor, largest);
}

}  // namespace morvik
