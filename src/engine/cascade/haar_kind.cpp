// Haar features read and laid out; see haar_kind.h.
//
// Values are converted exactly as OpenCV's HaarEvaluator::read converts
// them. Where OpenCV would index out of range (a fourth rectangle, a
// rectangle of negative size or outside the window) the file is refused.
#include "engine/cascade/haar_kind.h"

#include <cstdint>

namespace morvik {
namespace {

// Every corner of the rectangle must lie in the window, so that a window's
// reads stay inside the integral images.
bool insideWindow(const HaarRect& r, cv::Size window) {
  const int64_t right = int64_t{r.x} + r.width;
  const int64_t bottom = int64_t{r.y} + r.height;
  return r.x >= 0 && r.y >= 0 && r.width >= 0 && r.height >= 0 && r.x < window.width && r.y < window.height &&
         right <= window.width && bottom <= window.height;
}

// OpenCV's CV_SUM_OFS: top-left, top-right, bottom-left, bottom-right.
void corners(const CascadeLayout& layout, int x, int y, int w, int h, int out[4]) {
  out[0] = layout.offset(x, y);
  out[1] = layout.offset(x + w, y);
  out[2] = layout.offset(x, y + h);
  out[3] = layout.offset(x + w, y + h);
}

}  // namespace

template <>
const char* HaarKind::featureType() { return "HAAR"; }

template <>
CascadeLoadResult HaarKind::readParams(const cv::FileNode& params) {
  return (int)params["maxCatCount"] > 0 ? kCascadeNotServed : kCascadeLoaded;
}

template <>
CascadeLoadResult HaarKind::stumpShape(size_t node_values, size_t leaves) {
  // A stump is one node (left, right, feature, threshold) and two leaves;
  // deeper trees are evaluated otherwise by OpenCV.
  return node_values == 4 && leaves == 2 ? kCascadeLoaded : kCascadeNotServed;
}

template <>
void HaarKind::readSplit(cv::FileNodeIterator& it, HaarStump& stump) {
  stump.threshold = (float)*it;
}

template <>
CascadeLoadResult HaarKind::readFeature(const cv::FileNode& node, cv::Size window, HaarFeature& feature) {
  const cv::FileNode rects = node["rects"];
  if (rects.empty()) return kCascadeDamaged;
  if (rects.size() > 3) return kCascadeDamaged;
  int i = 0;
  for (cv::FileNodeIterator it = rects.begin(); it != rects.end(); ++it, ++i) {
    const cv::FileNode values = *it;
    if (values.size() != 5) return kCascadeDamaged;
    HaarRect& r = feature.rect[i];
    cv::FileNodeIterator v = values.begin();
    v >> r.x >> r.y >> r.width >> r.height >> r.weight;
    if (!insideWindow(r, window)) return kCascadeDamaged;
  }
  if ((int)node["tilted"] != 0) return kCascadeNotServed;
  return kCascadeLoaded;
}

template <>
void HaarKind::layOutWindow(cv::Size window, const CascadeLayout& layout, HaarWindowCode& code) {
  // OpenCV's normrect: the window less a border of one pixel. For windows
  // of one or two pixels its size is 0 or negative, and so is the variance.
  const int nw = window.width - 2;
  const int nh = window.height - 2;
  corners(layout, 1, 1, nw, nh, code.norm);
  code.area = static_cast<double>(static_cast<int64_t>(nw) * nh);
  code.squares = layout.squares;
}

template <>
void HaarKind::layOutStump(const HaarStump& stump, const HaarFeature& feature, const CascadeLayout& layout,
                           HaarStumpCode& code) {
  for (int r = 0; r < 3; ++r) {
    const HaarRect& rect = feature.rect[r];
    corners(layout, rect.x, rect.y, rect.width, rect.height, code.corner[r]);
    code.weight[r] = rect.weight;
  }
  code.threshold = stump.threshold;
  code.left = stump.left;
  code.right = stump.right;
  code.third = feature.rect[2].weight != 0.0f;
}

}  // namespace morvik
