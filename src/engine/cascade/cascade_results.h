// What the cascade search (cascade_detect.h) does once a size's windows
// are decided: the windows as rectangles in image pixels, and
// detectMultiScale's last steps, grouping and clipping.
#ifndef MORVIK_CASCADE_RESULTS_H_
#define MORVIK_CASCADE_RESULTS_H_

#include <vector>

#include <opencv2/core.hpp>

#include "engine/cascade/cascade_scales.h"

namespace morvik {

// Appends the windows of `scale` whose origins (offsets from the integral
// images' origin, rows `stride` ints apart, a column per step) are in
// `origins`, as OpenCV's rectangles, in its single-threaded scan order.
// Sorts `origins`.
void appendWindows(const CascadeScale& scale, int stride, std::vector<int>& origins, std::vector<cv::Rect>& rects);

// cv::groupRectangles with detectMultiScale's tolerance, then the
// rectangles cut to the image, empty ones dropped (its clipObjects).
void groupWindows(cv::Size image, int min_neighbours, std::vector<cv::Rect>& rects);

}  // namespace morvik

#endif  // MORVIK_CASCADE_RESULTS_H_
