// Reading an LBP cascade file; see lbp_cascade.h.
//
// Values are converted exactly as OpenCV's CascadeClassifierImpl::Data::read
// and LBPEvaluator::read convert them (the same FileNode conversions, the
// stage threshold lowered by 1e-5f in float), since the evaluator must
// reach OpenCV's decisions bit for bit.
#include <atomic>
#include <cstdint>

#include "engine/cascade/cascade_file.h"
#include "engine/cascade/lbp_cascade.h"

namespace morvik {
namespace {

constexpr float kThresholdEps = 1e-5f;   // OpenCV's THRESHOLD_EPS
constexpr int kMaxWindowSide = 1000000;  // beyond this OpenCV refuses the file
constexpr int kCategories = 32 * kLbpSubsetWords;
// More categories than any LBP code has; OpenCV takes such files (the codes
// use the first 256 bits of each subset) and keeps them.
constexpr int kMaxCategories = 1 << 16;
// A stump's node: left, right, feature and the subset's words.
constexpr size_t kStumpNodeValues = 3 + kLbpSubsetWords;

std::atomic<uint64_t> g_next_id{1};

LbpLoadResult readStump(const cv::FileNode& tree, LbpStump& stump) {
  const cv::FileNode nodes = tree["internalNodes"];
  const cv::FileNode leaves = tree["leafValues"];
  if (nodes.empty() || leaves.empty()) return kLbpDamaged;
  // Several nodes of the same length make a deeper tree, which OpenCV
  // evaluates otherwise; any other length it would misread.
  if (nodes.size() % kStumpNodeValues != 0) return kLbpDamaged;
  if (nodes.size() != kStumpNodeValues) return kLbpNotServed;
  // OpenCV takes a stump's two leaves in file order, whatever the node's
  // left and right say; a third leaf would shift every later stump's.
  if (leaves.size() != 2) return kLbpDamaged;
  cv::FileNodeIterator it = nodes.begin();
  ++it;
  ++it;
  stump.feature = (int)*it;
  ++it;
  for (uint32_t& word : stump.subset) {
    word = static_cast<uint32_t>((int)*it);
    ++it;
  }
  it = leaves.begin();
  stump.left = (float)*it;
  ++it;
  stump.right = (float)*it;
  return kLbpLoaded;
}

LbpLoadResult readStages(const cv::FileNode& root, LbpCascade& c) {
  const cv::FileNode stages = root["stages"];
  if (stages.empty() || stages.size() == 0) return kLbpDamaged;
  for (cv::FileNodeIterator it = stages.begin(); it != stages.end(); ++it) {
    const cv::FileNode node = *it;
    LbpStage stage;
    stage.threshold = (float)node["stageThreshold"] - kThresholdEps;
    const cv::FileNode weak = node["weakClassifiers"];
    if (weak.empty() || weak.size() == 0) return kLbpDamaged;
    stage.first = static_cast<int>(c.stumps.size());
    for (cv::FileNodeIterator w = weak.begin(); w != weak.end(); ++w) {
      LbpStump stump;
      const LbpLoadResult rc = readStump(*w, stump);
      if (rc != kLbpLoaded) return rc;
      c.stumps.push_back(stump);
    }
    stage.count = static_cast<int>(c.stumps.size()) - stage.first;
    c.stages.push_back(stage);
  }
  return kLbpLoaded;
}

// The whole block of 3 x 3 cells must lie in the window, so that a window's
// reads stay inside the integral image. OpenCV checks the first cell only.
bool blockInsideWindow(const cv::Rect& cell, cv::Size window) {
  const int64_t right = int64_t{cell.x} + 3 * int64_t{cell.width};
  const int64_t bottom = int64_t{cell.y} + 3 * int64_t{cell.height};
  return cell.x >= 0 && cell.y >= 0 && cell.width >= 0 && cell.height >= 0 && right <= window.width &&
         bottom <= window.height;
}

LbpLoadResult readFeatures(const cv::FileNode& root, LbpCascade& c) {
  const cv::FileNode features = root["features"];
  if (features.empty() || features.size() == 0) return kLbpDamaged;
  c.cells.resize(features.size());
  size_t i = 0;
  for (cv::FileNodeIterator it = features.begin(); it != features.end(); ++it, ++i) {
    const cv::FileNode rect = (*it)["rect"];
    if (rect.size() != 4) return kLbpDamaged;
    cv::Rect& cell = c.cells[i];
    cv::FileNodeIterator v = rect.begin();
    v >> cell.x >> cell.y >> cell.width >> cell.height;
    if (!blockInsideWindow(cell, c.window)) return kLbpDamaged;
  }
  for (const LbpStump& s : c.stumps)
    if (s.feature < 0 || static_cast<size_t>(s.feature) >= c.cells.size()) return kLbpDamaged;
  return kLbpLoaded;
}

LbpLoadResult readCategories(const cv::FileNode& root) {
  const cv::FileNode params = root["featureParams"];
  if (params.empty()) return kLbpDamaged;
  const int categories = (int)params["maxCatCount"];
  // Fewer than 256 categories: OpenCV would read past the subsets.
  if (categories < kCategories || categories > kMaxCategories) return kLbpDamaged;
  return categories == kCategories ? kLbpLoaded : kLbpNotServed;
}

LbpLoadResult readCascade(const cv::FileNode& root, LbpCascade& c) {
  if (!root.isMap()) return kLbpNotServed;
  if ((cv::String)root["stageType"] != "BOOST") return kLbpNotServed;
  if ((cv::String)root["featureType"] != "LBP") return kLbpNotServed;
  c.window = cv::Size((int)root["width"], (int)root["height"]);
  if (c.window.width <= 0 || c.window.height <= 0) return kLbpDamaged;
  if (c.window.width > kMaxWindowSide || c.window.height > kMaxWindowSide) return kLbpDamaged;
  LbpLoadResult rc = readCategories(root);
  if (rc != kLbpLoaded) return rc;
  rc = readStages(root, c);
  if (rc != kLbpLoaded) return rc;
  return readFeatures(root, c);
}

}  // namespace

LbpLoadResult loadLbpCascade(const std::string& path, LbpCascade& cascade) {
  cascade = LbpCascade();
  cv::FileStorage fs;
  if (!openCascadeFile(path, fs)) return kLbpUnreadable;
  LbpCascade c;
  LbpLoadResult rc;
  try {
    rc = readCascade(fs.getFirstTopLevelNode(), c);
  } catch (const cv::Exception&) {
    return kLbpDamaged;  // a node of the wrong kind where a map was expected
  }
  if (rc != kLbpLoaded) return rc;
  c.id = g_next_id.fetch_add(1);
  cascade = std::move(c);
  return kLbpLoaded;
}

}  // namespace morvik
