// The working-size rule, scaling to it, and clipping rectangles to images.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <opencv2/imgproc.hpp>

#include "check.h"
#include "image/image_size.h"
#include "morvik/config.h"
#include "morvik/image.h"
#include "morvik/morvik.h"

namespace {

// The rule's size of an image, or the image's own size when the rule
// leaves it alone.
cv::Size ruleSize(const cv::Mat& image, const PreparedParams& params) {
  return params.rescale == 0.0 ? image.size() : params.size;
}

// Replaces a working size that leaves the bound by the largest one within
// it, at the same aspect.
void boundWorkingSize(const cv::Mat& image, PreparedParams& params) {
  if (image.cols <= 0 || image.rows <= 0 || morvik::withinWorkingBound(ruleSize(image, params))) return;
  const double wanted = params.rescale == 0.0 ? 1.0 : 1.0 / params.rescale;
  const double scale = morvik::boundedFactor(image.size(), wanted);
  params.scale = scale;
  params.rescale = 1.0 / scale;
  params.size = cv::Size(std::max(1, morvik::saturateToInt(image.cols * scale)),
                         std::max(1, morvik::saturateToInt(image.rows * scale)));
  MV_CHECK(morvik::withinWorkingBound(params.size));
}

}  // namespace

namespace morvik {

int saturateToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  if (v <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  return static_cast<int>(v);
}

int saturateToInt(int64_t v) {
  return static_cast<int>(std::min<int64_t>(std::max<int64_t>(v, INT32_MIN), INT32_MAX));
}

int scaledLength(int64_t length, double rescale) {
  return std::max(1, saturateToInt(static_cast<double>(length) / rescale));
}

cv::Rect scaledRect(const cv::Rect& r, double factor) {
  return cv::Rect(saturateToInt(r.x * factor), saturateToInt(r.y * factor), saturateToInt(r.width * factor),
                  saturateToInt(r.height * factor));
}

WorkingBound workingBound() {
  return WorkingBound{g_config.image_max_working_pixels, g_config.image_max_working_side};
}

bool withinWorkingBound(const cv::Size& size) {
  const WorkingBound bound = workingBound();
  return size.width <= bound.max_side && size.height <= bound.max_side && pixelCount(size) <= bound.max_pixels;
}

double boundedFactor(const cv::Size& size, double factor) {
  if (size.width <= 0 || size.height <= 0 || !(factor > 0.0)) return factor;
  const WorkingBound bound = workingBound();
  const double w = size.width, h = size.height;
  // Resizing rounds or truncates the lengths, so the test is on the
  // lengths rounded up: whichever way a resize goes, it stays within.
  auto fits = [&](double f) {
    const double cw = std::ceil(w * f), ch = std::ceil(h * f);
    return cw <= bound.max_side && ch <= bound.max_side && cw * ch <= static_cast<double>(bound.max_pixels);
  };
  if (fits(factor)) return factor;
  // (w f + 1)(h f + 1) <= max_pixels holds the area even with both lengths
  // rounded up.
  const double area = w * h, sides = w + h;
  const double by_area =
      (-sides + std::sqrt(sides * sides + 4.0 * area * (static_cast<double>(bound.max_pixels) - 1.0))) /
      (2.0 * area);
  double f = std::min({factor, bound.max_side / w, bound.max_side / h, by_area});
  // Floating-point rounding may leave a length an ulp past the bound.
  for (int i = 0; !fits(f); ++i) f = i < 16 ? std::nextafter(f, 0.0) : f * 0.999;
  return f;
}

}  // namespace morvik

int getImagePrepareParams(const cv::Mat& image, int min, int max, PreparedParams& params) {
  params = PreparedParams();
  const int cols = image.cols;
  const int rows = image.rows;
  // A negative bound is treated as switched off, like 0.
  if (max > 0) {
    if (cols > max && cols >= rows) {
      params.rescale = static_cast<double>(cols) / max;
      params.size = cv::Size(max, morvik::scaledLength(rows, params.rescale));
    } else if (rows > max) {
      params.rescale = static_cast<double>(rows) / max;
      params.size = cv::Size(morvik::scaledLength(cols, params.rescale), max);
    }
    if (params.rescale != 0.0) MV_CHECK(params.rescale > 1.0);
  }
  if (params.rescale == 0.0 && min > 0 && cols > 0 && rows > 0) {
    if (cols >= rows && cols < min) {
      params.rescale = static_cast<double>(cols) / min;
      params.size = cv::Size(min, morvik::scaledLength(rows, params.rescale));
    } else if (rows < min) {
      params.rescale = static_cast<double>(rows) / min;
      params.size = cv::Size(morvik::scaledLength(cols, params.rescale), min);
    }
    if (params.rescale != 0.0) MV_CHECK(params.rescale < 1.0);
  }
  if (params.rescale != 0.0) params.scale = 1.0 / params.rescale;
  // No finder, eye search or confirmer ever works on more than the bound:
  // a strip the rule would enlarge to gigapixels is enlarged only up to it,
  // and an image left at its size beyond it is shrunk to it.
  boundWorkingSize(image, params);
  return MV_OK;
}

int imagePrepare(const cv::Mat& image, const PreparedParams& params, cv::Mat& prepared) {
  if (params.rescale == 0.0) {
    prepared = image.clone();
    return MV_OK;
  }
  MV_CHECK(params.size.width > 0 && params.size.height > 0);
  cv::Mat resized;
  cv::resize(image, resized, params.size, 0, 0, cv::INTER_CUBIC);
  prepared = resized;
  return MV_OK;
}

void correctBorders(cv::Rect& rect, const cv::Mat& image) {
  // Edges in 64 bits: a caller's rectangle may reach past the 32-bit range.
  const int64_t right = int64_t{rect.x} + rect.width;
  const int64_t bottom = int64_t{rect.y} + rect.height;
  if (rect.x < 0) {
    rect.width = morvik::saturateToInt(right);
    rect.x = 0;
  }
  if (rect.y < 0) {
    rect.height = morvik::saturateToInt(bottom);
    rect.y = 0;
  }
  if (right >= image.cols) rect.width = morvik::saturateToInt(int64_t{image.cols} - rect.x - 1);
  if (bottom >= image.rows) rect.height = morvik::saturateToInt(int64_t{image.rows} - rect.y - 1);
}
