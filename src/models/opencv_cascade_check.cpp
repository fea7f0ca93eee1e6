// Checking a cascade file before OpenCV reads it; see opencv_cascade_check.h.
//
// The values are taken as CascadeClassifierImpl::Data::read and the Haar and
// LBP evaluators' readers take them, and held to what their evaluation
// indexes with.
#include "models/opencv_cascade_check.h"

#include <cstdint>

#include <opencv2/core.hpp>

#include "engine/cascade/cascade_file.h"

namespace morvik {
namespace {

constexpr int kMaxWindowSide = 1000000;  // beyond this OpenCV refuses the file
constexpr int kLbpCodes = 256;           // an LBP feature's code is one byte
constexpr int kMaxCategories = 1 << 16;
constexpr int kMaxHaarRects = 3;  // OpenCV's HaarEvaluator::Feature::RECT_NUM

struct Layout {
  bool lbp = false;
  cv::Size window;
  int node_values = 0;  // values of one internal node
};

// A tree of `values` node values and `leaves` leaves, over `features`.
bool treeFits(const cv::FileNode& nodes, const cv::FileNode& leaves, const Layout& layout, size_t features) {
  if (!nodes.isSeq() || !leaves.isSeq()) return false;
  const size_t values = nodes.size();
  if (values == 0 || values % layout.node_values != 0) return false;
  const int64_t count = static_cast<int64_t>(values / layout.node_values);
  // The leaves of later trees are found by counting count + 1 per tree.
  if (static_cast<int64_t>(leaves.size()) != count + 1) return false;
  cv::FileNodeIterator it = nodes.begin();
  for (int64_t i = 0; i < count; ++i) {
    const int left = (int)*it;
    ++it;
    const int right = (int)*it;
    ++it;
    const int feature = (int)*it;
    ++it;
    for (int k = 3; k < layout.node_values; ++k) ++it;
    if (feature < 0 || static_cast<size_t>(feature) >= features) return false;
    // A child is a later node (> 0) or a leaf (-leaf, 0 for the first).
    for (const int child : {left, right}) {
      if (child > 0 && (child <= i || child >= count)) return false;
      if (child <= 0 && -int64_t{child} > count) return false;
    }
  }
  return true;
}

bool stagesFit(const cv::FileNode& root, const Layout& layout, size_t features) {
  const cv::FileNode stages = root["stages"];
  if (!stages.isSeq() || stages.size() == 0) return false;
  for (cv::FileNodeIterator s = stages.begin(); s != stages.end(); ++s) {
    const cv::FileNode weak = (*s)["weakClassifiers"];
    if (!weak.isSeq() || weak.size() == 0) return false;
    for (cv::FileNodeIterator t = weak.begin(); t != weak.end(); ++t) {
      if (!treeFits((*t)["internalNodes"], (*t)["leafValues"], layout, features)) return false;
    }
  }
  return true;
}

bool inside(int64_t x0, int64_t y0, int64_t x1, int64_t y1, cv::Size window) {
  return x0 >= 0 && y0 >= 0 && x0 <= x1 && y0 <= y1 && x1 <= window.width && y1 <= window.height;
}

bool haarFeatureFits(const cv::FileNode& feature, cv::Size window) {
  const cv::FileNode rects = feature["rects"];
  if (!rects.isSeq() || rects.size() == 0 || rects.size() > kMaxHaarRects) return false;
  const bool tilted = (int)feature["tilted"] != 0;
  for (cv::FileNodeIterator r = rects.begin(); r != rects.end(); ++r) {
    const cv::FileNode values = *r;
    if (!values.isSeq() || values.size() != 5) return false;
    cv::FileNodeIterator v = values.begin();
    int x = 0, y = 0, w = 0, h = 0;
    v >> x >> y >> w >> h;
    if (w < 0 || h < 0) return false;
    // A tilted rectangle runs w to the lower right and h to the lower left.
    const bool fits = tilted ? inside(int64_t{x} - h, y, int64_t{x} + w, int64_t{y} + w + h, window)
                             : inside(x, y, int64_t{x} + w, int64_t{y} + h, window);
    if (!fits) return false;
  }
  return true;
}

bool lbpFeatureFits(const cv::FileNode& feature, cv::Size window) {
  const cv::FileNode rect = feature["rect"];
  if (!rect.isSeq() || rect.size() != 4) return false;
  cv::FileNodeIterator v = rect.begin();
  int x = 0, y = 0, w = 0, h = 0;
  v >> x >> y >> w >> h;
  if (w < 0 || h < 0) return false;
  // The feature's block is three cells across and down.
  return inside(x, y, int64_t{x} + 3 * int64_t{w}, int64_t{y} + 3 * int64_t{h}, window);
}

// The number of features, or 0 when one does not fit the window.
int64_t featuresFitting(const cv::FileNode& root, const Layout& layout) {
  const cv::FileNode features = root["features"];
  if (!features.isSeq() || features.size() == 0) return 0;
  for (cv::FileNodeIterator f = features.begin(); f != features.end(); ++f) {
    const bool fits = layout.lbp ? lbpFeatureFits(*f, layout.window) : haarFeatureFits(*f, layout.window);
    if (!fits) return 0;
  }
  return static_cast<int64_t>(features.size());
}

// Whether OpenCV may read `root`: true for files it reads as another format.
bool cascadeFits(const cv::FileNode& root) {
  if (!root.isMap()) return true;
  const std::string stage_type = (cv::String)root["stageType"];
  const std::string feature_type = (cv::String)root["featureType"];
  if (stage_type != "BOOST" || (feature_type != "HAAR" && feature_type != "LBP")) return true;

  Layout layout;
  layout.lbp = feature_type == "LBP";
  layout.window = cv::Size((int)root["width"], (int)root["height"]);
  if (layout.window.width <= 0 || layout.window.height <= 0) return false;
  if (layout.window.width > kMaxWindowSide || layout.window.height > kMaxWindowSide) return false;
  const cv::FileNode params = root["featureParams"];
  if (params.empty()) return false;
  const int categories = (int)params["maxCatCount"];
  // Haar values are not categories, and an LBP code indexes a subset of at
  // least 256 categories.
  if (layout.lbp ? categories < kLbpCodes || categories > kMaxCategories : categories != 0) return false;
  layout.node_values = 3 + (categories > 0 ? (categories + 31) / 32 : 1);

  const int64_t features = featuresFitting(root, layout);
  return features > 0 && stagesFit(root, layout, static_cast<size_t>(features));
}

}  // namespace

bool openCvMayReadCascade(const std::string& path) {
  cv::FileStorage fs;
  if (!openCascadeFile(path, fs)) return false;
  try {
    return cascadeFits(fs.getFirstTopLevelNode());
  } catch (const cv::Exception&) {
    return false;  // a node of the wrong kind where a map was expected
  }
}

}  // namespace morvik
