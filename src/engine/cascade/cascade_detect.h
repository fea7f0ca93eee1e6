// OpenCV's cascade search for stump cascades of Haar or LBP features, with
// windows evaluated in vector lanes.
//
// What it computes: detectCascade returns what
// cv::CascadeClassifier::detectMultiScale(image, found, scale_factor,
// min_neighbours, 0, min_size, max_size) returns for the same cascade file
// (read by cascade.h) and 8-bit grey image.
//
// What it guarantees: the same rectangles in the same order, bit for bit,
// as OpenCV 4.6 computes them on the CPU with a single thread
// (cv::setNumThreads(1)): size by size, row by row, left to right. OpenCV
// scans its stripes of rows on several threads, so with more than one
// thread the order of its candidates, and so of its grouped rectangles,
// can change from run to run; the rectangles themselves are the same.
// Every instruction-set path (CascadeIsa) gives the same results.
//
// How: at each size (cascade_scales.h) the image is scaled with cv::resize
// (INTER_LINEAR_EXACT) and summed with cv::integral, as OpenCV does
// (cascade_integrals.h; squared sums for Haar features only, as OpenCV's
// LBPEvaluator has none); every window origin of a row then gets its
// kind's test (Haar: the variance) and the first stage at once
// (cascade_kernels.h), OpenCV's rule that a window rejected by the first
// stage skips the next one is replayed in order to find the windows OpenCV
// visits, and only those that passed the first stage go on to the later
// stages. The candidates are grouped by cv::groupRectangles and clipped to
// the image, as detectMultiScale does (cascade_results.h).
// LBPEvaluator::setWindow's bounds test never refuses a window the loop
// visits, so no LBP window is dropped for it.
//
// Scratch memory (the integral images of one size, the programs and the
// verdicts of one size) is kept per thread and per kind between calls, up
// to kCascadeKeptScratchBytes.
#ifndef MORVIK_CASCADE_DETECT_H_
#define MORVIK_CASCADE_DETECT_H_

#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

#include "engine/cascade/cascade.h"
#include "engine/cascade/cascade_kernels.h"
#include "engine/cascade/haar_kind.h"
#include "engine/cascade/lbp_kind.h"

namespace morvik {

struct CascadeSearch {
  double scale_factor = 1.1;
  int min_neighbours = 3;
  cv::Size min_size;  // no minimum when empty
  cv::Size max_size;  // the image's size when a side is 0
};

enum CascadeDetectResult {
  kCascadeDetected = 0,       // `found` holds the detections (maybe none)
  kCascadeBadImage = -1,      // empty, or not 8-bit with one channel
  kCascadeBadSearch = -2,     // scale factor not above 1, or too close to 1
  kCascadeNoCascade = -3,     // the cascade has no stages
  kCascadeImageTooLarge = -4  // integral images beyond the int range
};

// `Kind` is HaarKind or LbpKind. `counts`, when given, is filled for
// profiling.
template <typename Kind>
CascadeDetectResult detectCascade(const Cascade<Kind>& cascade, const cv::Mat& image, const CascadeSearch& search,
                                  std::vector<cv::Rect>& found, CascadeIsa isa = bestCascadeIsa(),
                                  CascadeCounts* counts = nullptr);

// The scratch memory the calling thread keeps between searches of `Kind`,
// and the release of every kind's (GlobalFree calls it).
template <typename Kind>
size_t cascadeScratchBytes();
void releaseCascadeScratch();
// What a thread keeps at most per kind; a search that needs more gives it
// back.
constexpr size_t kCascadeKeptScratchBytes = size_t{4} << 20;

}  // namespace morvik

#endif  // MORVIK_CASCADE_DETECT_H_
