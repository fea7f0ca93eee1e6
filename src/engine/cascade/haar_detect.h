// OpenCV's Haar cascade search, with windows evaluated in vector lanes.
//
// detectHaar returns what cv::CascadeClassifier::detectMultiScale(image,
// found, scale_factor, min_neighbours, 0, min_size, max_size) returns for
// the same cascade file (loaded by haar_cascade.h) and 8-bit grey image:
// the same rectangles in the same order, as OpenCV 4.6 computes them on the
// CPU. At each size (haar_scales.h) the image is scaled with cv::resize
// (INTER_LINEAR_EXACT) and summed with cv::integral, as OpenCV does; every
// window origin of a row then gets its variance test and first stage at
// once (haar_kernels.h), OpenCV's rule that a window rejected by the first
// stage skips the next one is replayed in order to find the windows OpenCV
// visits, and only those that passed the first stage go on to the later
// stages. The candidates are grouped by cv::groupRectangles and clipped to
// the image, as detectMultiScale does.
//
// Order: OpenCV scans its stripes of rows on several threads, so with more
// than one thread the order of its candidates, and so of its grouped
// rectangles, can change from run to run. The order here is the one OpenCV
// gives with a single thread (cv::setNumThreads(1)): size by size, row by
// row, left to right.
//
// Scratch memory (the integral images of one size and the verdicts of one
// row) is kept per thread between calls, up to a few megabytes.
#ifndef MORVIK_HAAR_DETECT_H_
#define MORVIK_HAAR_DETECT_H_

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "engine/cascade/haar_cascade.h"
#include "engine/cascade/haar_kernels.h"

namespace morvik {

struct HaarSearch {
  double scale_factor = 1.1;
  int min_neighbours = 3;
  cv::Size min_size;  // no minimum when empty
  cv::Size max_size;  // the image's size when a side is 0
};

enum HaarDetectResult {
  kHaarDetected = 0,       // `found` holds the detections (maybe none)
  kHaarBadImage = -1,      // empty, or not 8-bit with one channel
  kHaarBadSearch = -2,     // scale factor not above 1, or too close to 1
  kHaarNoCascade = -3,     // the cascade has no stages
  kHaarImageTooLarge = -4  // integral images beyond the int range
};

// `counts`, when given, is filled for profiling.
HaarDetectResult detectHaar(const HaarCascade& cascade, const cv::Mat& image, const HaarSearch& search,
                            std::vector<cv::Rect>& found, HaarIsa isa = bestHaarIsa(),
                            HaarCounts* counts = nullptr);

// The scratch memory the calling thread keeps between searches, and its
// release (GlobalFree calls it).
size_t haarScratchBytes();
void releaseHaarScratch();
// What a thread keeps at most; a search that needs more gives it back.
constexpr size_t kHaarKeptScratchBytes = size_t{4} << 20;

}  // namespace morvik

#endif  // MORVIK_HAAR_DETECT_H_
