// The one conversion of dlib detection rectangles (inclusive right and
// bottom) to OpenCV rectangles, shared by the HOG and CNN finders.
#ifndef MORVIK_DLIB_RECT_H_
#define MORVIK_DLIB_RECT_H_

#include <dlib/geometry/rectangle.h>
#include <opencv2/core.hpp>

namespace morvik {

// x = left, y = top, width = right - left + 1, height = bottom - top + 1;
// an empty rectangle becomes 0 x 0 at (left, top). Not clipped.
inline cv::Rect toCvRect(const dlib::rectangle& r) {
  if (r.is_empty()) return cv::Rect(int(r.left()), int(r.top()), 0, 0);
  return cv::Rect(int(r.left()), int(r.top()), int(r.width()), int(r.height()));
}

}  // namespace morvik

#endif  // MORVIK_DLIB_RECT_H_
