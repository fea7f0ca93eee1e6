// OpenCV's LBP cascade search, with windows evaluated in vector lanes.
//
// detectLbp returns what cv::CascadeClassifier::detectMultiScale(image,
// found, scale_factor, min_neighbours, 0, min_size, max_size) returns for
// the same LBP cascade file (loaded by lbp_cascade.h) and 8-bit grey
// image: the same rectangles in the same order, as OpenCV 4.6 computes them
// on the CPU. The search is the Haar search's (haar_detect.h) with the
// LBP evaluator's arithmetic: the same sizes (haar_scales.h), each scaled
// with cv::resize (INTER_LINEAR_EXACT) and summed with cv::integral (no
// squared sums: OpenCV's LBPEvaluator has none), every window origin of a
// row run through the first stage at once (lbp_kernels.h), OpenCV's skips
// replayed, the survivors taken through the later stages, and the
// candidates grouped and clipped as detectMultiScale does them
// (cascade_results.h). LBPEvaluator::setWindow's bounds test never
// refuses a window the loop visits, so no window is dropped for it.
//
// Order: as for the Haar search, OpenCV's single-threaded order (size by
// size, row by row, left to right); with threads OpenCV's can change from
// run to run.
//
// The search's options and result codes are the Haar search's. Scratch
// memory (the integral image of one size) is kept per thread between calls,
// up to kHaarKeptScratchBytes.
#ifndef MORVIK_LBP_DETECT_H_
#define MORVIK_LBP_DETECT_H_

#include <vector>

#include <opencv2/core.hpp>

#include "engine/cascade/haar_detect.h"
#include "engine/cascade/lbp_cascade.h"
#include "engine/cascade/lbp_kernels.h"

namespace morvik {

// `counts`, when given, is filled for profiling.
HaarDetectResult detectLbp(const LbpCascade& cascade, const cv::Mat& image, const HaarSearch& search,
                           std::vector<cv::Rect>& found, HaarIsa isa = bestHaarIsa(), LbpCounts* counts = nullptr);

// The scratch memory the calling thread keeps between searches, and its
// release (GlobalFree calls it).
size_t lbpScratchBytes();
void releaseLbpScratch();

}  // namespace morvik

#endif  // MORVIK_LBP_DETECT_H_
