// Diagnostic stream output of the public records.

#include <ostream>

#include "morvik/types.h"

std::ostream& operator<<(std::ostream& os, const mv::Point& p) { return os << "[" << p.x << "," << p.y << "]"; }

std::ostream& operator<<(std::ostream& os, const mv::Rectangle& r) {
  return os << "[" << r.x << "," << r.y << "," << r.w << "," << r.h << "]";
}

// The left-hand eye is written first, although the right-hand one comes
// first in memory.
std::ostream& operator<<(std::ostream& os, const mv::FaceData& f) {
  return os << "[" << f.rect << ", " << f.left_eye << ", " << f.right_eye << "]";
}

std::ostream& operator<<(std::ostream& os, const mv::FaceDataEx& f) {
  return os << static_cast<const mv::FaceData&>(f);
}

std::ostream& operator<<(std::ostream& os, const std::vector<cv::Rect>& rects) {
  os << "[";
  for (size_t i = 0; i < rects.size(); ++i) {
    const cv::Rect& r = rects[i];
    if (i != 0) os << ",";
    os << "[" << r.width << " x " << r.height << " from (" << r.x << ", " << r.y << ")]";
  }
  return os << "]";
}
