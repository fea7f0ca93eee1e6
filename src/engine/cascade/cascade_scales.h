// The sizes a cascade search scans, chosen as OpenCV 4.6's
// CascadeClassifier::detectMultiScale chooses them on the CPU.
//
// The window grows by the factor (a double product, kept as float) while
// it fits the image; sizes outside [min, max] are dropped, and when none is
// left the one nearest the minimum is kept. At each size the image is
// scaled down by the factor and windows of the cascade's own size are tried
// every `step` pixels across and down (2 below a factor of 2, 1 from 2 on).
// OpenCV cuts the rows into stripes whose count comes from the first
// size's width; the stripes can stop short of the last row or two, and
// those rows are not scanned: `rows` says where the scan ends.
#ifndef MORVIK_CASCADE_SCALES_H_
#define MORVIK_CASCADE_SCALES_H_

#include <vector>

#include <opencv2/core.hpp>

namespace morvik {

struct CascadeScale {
  float factor = 1.0f;  // image pixels per scaled pixel
  cv::Size image;       // the scaled image
  cv::Size window;      // a detection's size in image pixels
  int step = 1;         // between window origins, across and down
  int columns = 0;      // window origins x lie in [0, columns)
  int rows = 0;         // window origins y lie in [0, rows)
};

// More sizes than cascadeScaleFactor (models/cascade_loader.h) ever lets
// through; OpenCV would scan them for hours.
constexpr int kMaxCascadeScales = 16384;

// Fills `scales` for an image of `image` pixels and a cascade window of
// `window` pixels. A zero `max_size` side means the image's size. Returns
// false, with `scales` empty, when `factor` is not above 1 (NaN too) or
// gives more than kMaxCascadeScales sizes. An image smaller than the window
// has no sizes. A factor so large that the second window would not fit an
// int ends the list, where OpenCV would loop forever.
bool planCascadeScales(cv::Size image, cv::Size window, double factor, cv::Size min_size, cv::Size max_size,
                    std::vector<CascadeScale>& scales);

}  // namespace morvik

#endif  // MORVIK_CASCADE_SCALES_H_
