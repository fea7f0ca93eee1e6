// The sizes of a cascade search; see cascade_scales.h. Every rounding is
// OpenCV's: cvRound of a double for the size loop, of a float wherever
// OpenCV multiplies or divides by the float factor.
#include "engine/cascade/cascade_scales.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace morvik {
namespace {

// cvRound(window * factor) in the size loop, or INT64_MAX (larger than any
// image, which ends the loop) when the product leaves the int range
// (OpenCV's conversion would give INT_MIN there and never end the loop).
int64_t loopWindowSide(int side, double factor) {
  const double v = side * factor;
  if (!(v < static_cast<double>(std::numeric_limits<int>::max()))) return std::numeric_limits<int64_t>::max();
  return cvRound(v);
}

cv::Size windowAt(cv::Size window, float factor) {
  return cv::Size(cvRound(window.width * factor), cvRound(window.height * factor));
}

// OpenCV squares these differences in int; wrap as its code does in
// practice, without the undefined behaviour.
int wrapped(int64_t v) { return static_cast<int>(static_cast<uint32_t>(v)); }

double distance(cv::Size min_size, cv::Size w) {
  const int dw = wrapped(int64_t{min_size.width} - w.width);
  const int dh = wrapped(int64_t{min_size.height} - w.height);
  return wrapped(wrapped(int64_t{dw} * dw) + int64_t{wrapped(int64_t{dh} * dh)});
}

bool allFactors(cv::Size image, cv::Size window, double step, std::vector<float>& all) {
  for (double factor = 1;; factor *= step) {
    const int64_t w = loopWindowSide(window.width, factor);
    const int64_t h = loopWindowSide(window.height, factor);
    if (w < 0 || h < 0 || w > image.width || h > image.height) return true;
    if (all.size() == static_cast<size_t>(kMaxCascadeScales)) return false;
    all.push_back(static_cast<float>(factor));
  }
}

std::vector<float> keptFactors(const std::vector<float>& all, cv::Size window, cv::Size min_size,
                               cv::Size max_size) {
  std::vector<float> kept;
  for (float f : all) {
    const cv::Size w = windowAt(window, f);
    if (w.width > max_size.width || w.height > max_size.height) break;
    if (w.width < min_size.width || w.height < min_size.height) continue;
    kept.push_back(f);
  }
  if (!kept.empty() || all.empty()) return kept;
  // No size in range (a minimum equal to a maximum that no step hits):
  // the size nearest the minimum, the first of equals.
  size_t best = 0;
  double best_d = distance(min_size, windowAt(window, all[0]));
  for (size_t i = 1; i < all.size(); ++i) {
    const double d = distance(min_size, windowAt(window, all[i]));
    if (best_d > d) {
      best = i;
      best_d = d;
    }
  }
  kept.push_back(all[best]);
  return kept;
}

}  // namespace

bool planCascadeScales(cv::Size image, cv::Size window, double factor, cv::Size min_size, cv::Size max_size,
                    std::vector<CascadeScale>& scales) {
  scales.clear();
  if (!(factor > 1.0)) return false;
  if (max_size.height == 0 || max_size.width == 0) max_size = image;
  if (image.height < window.height || image.width < window.width) return true;

  std::vector<float> all;
  if (!allFactors(image, window, factor, all)) return false;
  for (float f : keptFactors(all, window, min_size, max_size)) {
    CascadeScale s;
    s.factor = f;
    s.image = cv::Size(cvRound(image.width / f), cvRound(image.height / f));
    s.window = windowAt(window, f);
    s.step = f >= 2 ? 1 : 2;
    s.columns = std::max(s.image.width + 1 - window.width, 0);
    s.rows = std::max(s.image.height + 1 - window.height, 0);
    scales.push_back(s);
  }
  if (scales.empty()) return true;

  // OpenCV's stripes: as many as 32-pixel columns of the first size's
  // working width, each a whole number of steps high. With no stripe
  // (OpenCV would divide by zero) nothing is scanned.
  const int stripes = cvCeil(scales[0].columns / 32.);
  for (CascadeScale& s : scales) {
    if (stripes == 0) {
      s.rows = 0;
      continue;
    }
    const int64_t stripe = std::max((s.rows / s.step + stripes - 1) / stripes, 1) * int64_t{s.step};
    s.rows = static_cast<int>(std::min<int64_t>(stripe * stripes, s.rows));
  }
  return true;
}

}  // namespace morvik
