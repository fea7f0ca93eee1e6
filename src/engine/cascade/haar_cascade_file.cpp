// Reading a cascade file; see haar_cascade.h.
//
// Values are converted exactly as OpenCV's CascadeClassifierImpl::Data::read
// and HaarEvaluator::read convert them (the same FileNode conversions, the
// stage threshold lowered by 1e-5f in float), since the evaluator must
// reach OpenCV's decisions bit for bit. Where OpenCV would index out of
// range (a feature index beyond the features, a fourth rectangle, a
// rectangle of negative size) the file is refused here instead.
#include <atomic>
#include <cstdint>

#include "engine/cascade/cascade_file.h"
#include "engine/cascade/haar_cascade.h"

namespace morvik {
namespace {

constexpr float kThresholdEps = 1e-5f;  // OpenCV's THRESHOLD_EPS
constexpr int kMaxWindowSide = 1000000;  // beyond this OpenCV refuses the file

std::atomic<uint64_t> g_next_id{1};

HaarLoadResult readStump(const cv::FileNode& tree, HaarStump& stump) {
  const cv::FileNode nodes = tree["internalNodes"];
  const cv::FileNode leaves = tree["leafValues"];
  if (nodes.empty() || leaves.empty()) return kHaarDamaged;
  // A stump is one node (left, right, feature, threshold) and two leaves;
  // deeper trees are evaluated otherwise by OpenCV.
  if (nodes.size() != 4 || leaves.size() != 2) return kHaarNotServed;
  cv::FileNodeIterator it = nodes.begin();
  ++it;  // left and right: a stump's leaves are taken in file order
  ++it;
  stump.feature = (int)*it;
  ++it;
  stump.threshold = (float)*it;
  it = leaves.begin();
  stump.left = (float)*it;
  ++it;
  stump.right = (float)*it;
  return kHaarLoaded;
}

HaarLoadResult readStages(const cv::FileNode& root, HaarCascade& c) {
  const cv::FileNode stages = root["stages"];
  if (stages.empty() || stages.size() == 0) return kHaarDamaged;
  for (cv::FileNodeIterator it = stages.begin(); it != stages.end(); ++it) {
    const cv::FileNode node = *it;
    HaarStage stage;
    stage.threshold = (float)node["stageThreshold"] - kThresholdEps;
    const cv::FileNode weak = node["weakClassifiers"];
    if (weak.empty() || weak.size() == 0) return kHaarDamaged;
    stage.first = static_cast<int>(c.stumps.size());
    for (cv::FileNodeIterator w = weak.begin(); w != weak.end(); ++w) {
      HaarStump stump;
      const HaarLoadResult rc = readStump(*w, stump);
      if (rc != kHaarLoaded) return rc;
      c.stumps.push_back(stump);
    }
    stage.count = static_cast<int>(c.stumps.size()) - stage.first;
    c.stages.push_back(stage);
  }
  return kHaarLoaded;
}

// Every corner of the rectangle must lie in the window, so that a window's
// reads stay inside the integral images.
bool insideWindow(const HaarRect& r, cv::Size window) {
  const int64_t right = int64_t{r.x} + r.width;
  const int64_t bottom = int64_t{r.y} + r.height;
  return r.x >= 0 && r.y >= 0 && r.width >= 0 && r.height >= 0 && r.x < window.width && r.y < window.height &&
         right <= window.width && bottom <= window.height;
}

HaarLoadResult readFeature(const cv::FileNode& node, cv::Size window, HaarFeature& feature) {
  const cv::FileNode rects = node["rects"];
  if (rects.empty()) return kHaarDamaged;
  if (rects.size() > 3) return kHaarDamaged;
  int i = 0;
  for (cv::FileNodeIterator it = rects.begin(); it != rects.end(); ++it, ++i) {
    const cv::FileNode values = *it;
    if (values.size() != 5) return kHaarDamaged;
    HaarRect& r = feature.rect[i];
    cv::FileNodeIterator v = values.begin();
    v >> r.x >> r.y >> r.width >> r.height >> r.weight;
    if (!insideWindow(r, window)) return kHaarDamaged;
  }
  if ((int)node["tilted"] != 0) return kHaarNotServed;
  return kHaarLoaded;
}

HaarLoadResult readFeatures(const cv::FileNode& root, HaarCascade& c) {
  const cv::FileNode features = root["features"];
  if (features.empty() || features.size() == 0) return kHaarDamaged;
  c.features.resize(features.size());
  size_t i = 0;
  for (cv::FileNodeIterator it = features.begin(); it != features.end(); ++it, ++i) {
    const HaarLoadResult rc = readFeature(*it, c.window, c.features[i]);
    if (rc != kHaarLoaded) return rc;
  }
  for (const HaarStump& s : c.stumps)
    if (s.feature < 0 || static_cast<size_t>(s.feature) >= c.features.size()) return kHaarDamaged;
  return kHaarLoaded;
}

HaarLoadResult readCascade(const cv::FileNode& root, HaarCascade& c) {
  if (!root.isMap()) return kHaarNotServed;
  if ((cv::String)root["stageType"] != "BOOST") return kHaarNotServed;
  if ((cv::String)root["featureType"] != "HAAR") return kHaarNotServed;
  c.window = cv::Size((int)root["width"], (int)root["height"]);
  if (c.window.width <= 0 || c.window.height <= 0) return kHaarDamaged;
  if (c.window.width > kMaxWindowSide || c.window.height > kMaxWindowSide) return kHaarDamaged;
  const cv::FileNode params = root["featureParams"];
  if (params.empty()) return kHaarDamaged;
  if ((int)params["maxCatCount"] > 0) return kHaarNotServed;
  HaarLoadResult rc = readStages(root, c);
  if (rc != kHaarLoaded) return rc;
  return readFeatures(root, c);
}

}  // namespace

HaarLoadResult loadHaarCascade(const std::string& path, HaarCascade& cascade) {
  cascade = HaarCascade();
  cv::FileStorage fs;
  if (!openCascadeFile(path, fs)) return kHaarUnreadable;
  HaarCascade c;
  HaarLoadResult rc;
  try {
    rc = readCascade(fs.getFirstTopLevelNode(), c);
  } catch (const cv::Exception&) {
    return kHaarDamaged;  // a node of the wrong kind where a map was expected
  }
  if (rc != kHaarLoaded) return rc;
  c.id = g_next_id.fetch_add(1);
  cascade = std::move(c);
  return kHaarLoaded;
}

}  // namespace morvik
