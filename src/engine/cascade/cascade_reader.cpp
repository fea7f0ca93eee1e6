// Reading a cascade file; see cascade.h.
//
// Values are converted exactly as OpenCV's CascadeClassifierImpl::Data::read
// converts them (the same FileNode conversions, the stage threshold lowered
// by 1e-5f in float), and each kind's features as its evaluator's read
// does (haar_kind.h, lbp_kind.h), since the evaluator must reach OpenCV's
// decisions bit for bit.
#include <atomic>
#include <cstdint>

#include "engine/cascade/cascade.h"
#include "engine/cascade/cascade_file.h"
#include "engine/cascade/haar_kind.h"
#include "engine/cascade/lbp_kind.h"

namespace morvik {
namespace {

constexpr float kThresholdEps = 1e-5f;   // OpenCV's THRESHOLD_EPS
constexpr int kMaxWindowSide = 1000000;  // beyond this OpenCV refuses the file

std::atomic<uint64_t> g_next_id{1};

template <typename Kind>
CascadeLoadResult readStump(const cv::FileNode& tree, typename Kind::Stump& stump) {
  const cv::FileNode nodes = tree["internalNodes"];
  const cv::FileNode leaves = tree["leafValues"];
  if (nodes.empty() || leaves.empty()) return kCascadeDamaged;
  const CascadeLoadResult rc = Kind::stumpShape(nodes.size(), leaves.size());
  if (rc != kCascadeLoaded) return rc;
  cv::FileNodeIterator it = nodes.begin();
  ++it;  // left and right: a stump's leaves are taken in file order
  ++it;
  stump.feature = (int)*it;
  ++it;
  Kind::readSplit(it, stump);
  it = leaves.begin();
  stump.left = (float)*it;
  ++it;
  stump.right = (float)*it;
  return kCascadeLoaded;
}

template <typename Kind>
CascadeLoadResult readStages(const cv::FileNode& root, Cascade<Kind>& c) {
  const cv::FileNode stages = root["stages"];
  if (stages.empty() || stages.size() == 0) return kCascadeDamaged;
  for (cv::FileNodeIterator it = stages.begin(); it != stages.end(); ++it) {
    const cv::FileNode node = *it;
    CascadeStage stage;
    stage.threshold = (float)node["stageThreshold"] - kThresholdEps;
    const cv::FileNode weak = node["weakClassifiers"];
    if (weak.empty() || weak.size() == 0) return kCascadeDamaged;
    stage.first = static_cast<int>(c.stumps.size());
    for (cv::FileNodeIterator w = weak.begin(); w != weak.end(); ++w) {
      typename Kind::Stump stump;
      const CascadeLoadResult rc = readStump<Kind>(*w, stump);
      if (rc != kCascadeLoaded) return rc;
      c.stumps.push_back(stump);
    }
    stage.count = static_cast<int>(c.stumps.size()) - stage.first;
    c.stages.push_back(stage);
  }
  return kCascadeLoaded;
}

template <typename Kind>
CascadeLoadResult readFeatures(const cv::FileNode& root, Cascade<Kind>& c) {
  const cv::FileNode features = root["features"];
  if (features.empty() || features.size() == 0) return kCascadeDamaged;
  c.features.resize(features.size());
  size_t i = 0;
  for (cv::FileNodeIterator it = features.begin(); it != features.end(); ++it, ++i) {
    const CascadeLoadResult rc = Kind::readFeature(*it, c.window, c.features[i]);
    if (rc != kCascadeLoaded) return rc;
  }
  for (const typename Kind::Stump& s : c.stumps)
    if (s.feature < 0 || static_cast<size_t>(s.feature) >= c.features.size()) return kCascadeDamaged;
  return kCascadeLoaded;
}

template <typename Kind>
CascadeLoadResult readCascade(const cv::FileNode& root, Cascade<Kind>& c) {
  if (!root.isMap()) return kCascadeNotServed;
  if ((cv::String)root["stageType"] != "BOOST") return kCascadeNotServed;
  if ((cv::String)root["featureType"] != Kind::featureType()) return kCascadeNotServed;
  c.window = cv::Size((int)root["width"], (int)root["height"]);
  if (c.window.width <= 0 || c.window.height <= 0) return kCascadeDamaged;
  if (c.window.width > kMaxWindowSide || c.window.height > kMaxWindowSide) return kCascadeDamaged;
  const cv::FileNode params = root["featureParams"];
  if (params.empty()) return kCascadeDamaged;
  CascadeLoadResult rc = Kind::readParams(params);
  if (rc != kCascadeLoaded) return rc;
  rc = readStages(root, c);
  if (rc != kCascadeLoaded) return rc;
  return readFeatures(root, c);
}

}  // namespace

template <typename Kind>
CascadeLoadResult readCascadeFile(const std::string& path, Cascade<Kind>& cascade) {
  cascade = Cascade<Kind>();
  cv::FileStorage fs;
  if (!openCascadeFile(path, fs)) return kCascadeUnreadable;
  Cascade<Kind> c;
  CascadeLoadResult rc;
  try {
    rc = readCascade(fs.getFirstTopLevelNode(), c);
  } catch (const cv::Exception&) {
    return kCascadeDamaged;  // a node of the wrong kind where a map was expected
  }
  if (rc != kCascadeLoaded) return rc;
  c.id = g_next_id.fetch_add(1);
  cascade = std::move(c);
  return kCascadeLoaded;
}

template CascadeLoadResult readCascadeFile(const std::string&, Cascade<HaarKind>&);
template CascadeLoadResult readCascadeFile(const std::string&, Cascade<LbpKind>&);

}  // namespace morvik
