// The working-size rule, scaling to it, and clipping rectangles to images.

#include <algorithm>
#include <cstdint>

#include <opencv2/imgproc.hpp>

#include "check.h"
#include "morvik/image.h"
#include "morvik/morvik.h"

namespace {

// Truncated working length of `length` at factor 1/rescale, never below 1:
// an extremely elongated image keeps a one-pixel short side instead of an
// empty working image.
int scaledLength(int length, double rescale) { return std::max(1, static_cast<int>(length / rescale)); }

int saturate(int64_t v) {
  return static_cast<int>(std::min<int64_t>(std::max<int64_t>(v, INT32_MIN), INT32_MAX));
}

}  // namespace

int getImagePrepareParams(const cv::Mat& image, int min, int max, PreparedParams& params) {
  params = PreparedParams();
  const int cols = image.cols;
  const int rows = image.rows;
  // A negative bound is treated as switched off, like 0.
  if (max > 0) {
    if (cols > max && cols >= rows) {
      params.rescale = static_cast<double>(cols) / max;
      params.size = cv::Size(max, scaledLength(rows, params.rescale));
    } else if (rows > max) {
      params.rescale = static_cast<double>(rows) / max;
      params.size = cv::Size(scaledLength(cols, params.rescale), max);
    }
    if (params.rescale != 0.0) MV_CHECK(params.rescale > 1.0);
  }
  if (params.rescale == 0.0 && min > 0 && cols > 0 && rows > 0) {
    if (cols >= rows && cols < min) {
      params.rescale = static_cast<double>(cols) / min;
      params.size = cv::Size(min, scaledLength(rows, params.rescale));
    } else if (rows < min) {
      params.rescale = static_cast<double>(rows) / min;
      params.size = cv::Size(scaledLength(cols, params.rescale), min);
    }
    if (params.rescale != 0.0) MV_CHECK(params.rescale < 1.0);
  }
  if (params.rescale != 0.0) params.scale = 1.0 / params.rescale;
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
    rect.width = saturate(right);
    rect.x = 0;
  }
  if (rect.y < 0) {
    rect.height = saturate(bottom);
    rect.y = 0;
  }
  if (right >= image.cols) rect.width = saturate(int64_t{image.cols} - rect.x - 1);
  if (bottom >= image.rows) rect.height = saturate(int64_t{image.rows} - rect.y - 1);
}
