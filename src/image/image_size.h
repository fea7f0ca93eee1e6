// Arithmetic on image sizes and coordinates, and the bound on working
// images.
//
// OpenCV holds images of up to 2^31 - 1 rows and columns, so products of
// sizes, and sizes multiplied by scale factors, overflow 32 bits long before
// an image is absurd. Every such computation in the library goes through
// these helpers: products in 64 bits, and conversions back to int that
// saturate instead of being undefined.
#ifndef MORVIK_IMAGE_IMAGE_SIZE_H_
#define MORVIK_IMAGE_IMAGE_SIZE_H_

#include <cstdint>

#include <opencv2/core.hpp>

namespace morvik {

// Pixels of a width x height image (0 for a negative side).
inline int64_t pixelCount(int64_t width, int64_t height) {
  return width <= 0 || height <= 0 ? 0 : width * height;
}
inline int64_t pixelCount(const cv::Size& size) { return pixelCount(size.width, size.height); }
inline int64_t pixelCount(const cv::Rect& rect) { return pixelCount(rect.width, rect.height); }

// `v` truncated towards zero and clamped to the range of int; NaN gives 0.
int saturateToInt(double v);
int saturateToInt(int64_t v);

// The length `length` takes at the factor 1/rescale: length / rescale,
// truncated, never below 1 (an extremely elongated image keeps a one-pixel
// short side instead of an empty working image) and never past INT_MAX.
int scaledLength(int64_t length, double rescale);

// `rect` with every field multiplied by `factor`, each truncated and
// saturated as saturateToInt does.
cv::Rect scaledRect(const cv::Rect& rect, double factor);

// The bound on every image the library works on, from the options
// "image.max_working_pixels" and "image.max_working_side".
struct WorkingBound {
  int64_t max_pixels;
  int max_side;
};
WorkingBound workingBound();

// Whether a working image of `size` stays within the bound.
bool withinWorkingBound(const cv::Size& size);

// The factor, at most `factor`, at which an image of `size` resized by it
// stays within the bound: `factor` itself for every image that does, a
// smaller one for the rest. The one rule behind every working size (the
// finders' scales, the eye search, the confirmer's crops).
double boundedFactor(const cv::Size& size, double factor);

}  // namespace morvik

#endif  // MORVIK_IMAGE_IMAGE_SIZE_H_
