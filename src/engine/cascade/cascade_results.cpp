// Windows to rectangles, grouping and clipping; see cascade_results.h.
#include "engine/cascade/cascade_results.h"

#include <algorithm>

#include <opencv2/objdetect.hpp>

namespace morvik {
namespace {

// detectMultiScale's grouping tolerance (GROUP_EPS).
constexpr double kGroupEps = 0.2;

}  // namespace

void appendWindows(const CascadeScale& scale, int stride, std::vector<int>& origins, std::vector<cv::Rect>& rects) {
  std::sort(origins.begin(), origins.end());
  for (const int origin : origins) {
    const int x = origin % stride * scale.step;
    const int y = origin / stride;
    rects.emplace_back(cvRound(x * scale.factor), cvRound(y * scale.factor), scale.window.width,
                       scale.window.height);
  }
}

void groupWindows(cv::Size image, int min_neighbours, std::vector<cv::Rect>& rects) {
  cv::groupRectangles(rects, min_neighbours, kGroupEps);
  const cv::Rect whole(0, 0, image.width, image.height);
  size_t kept = 0;
  for (const cv::Rect& r : rects) {
    const cv::Rect c = whole & r;
    if (!c.empty()) rects[kept++] = c;
  }
  rects.resize(kept);
}

}  // namespace morvik
