// OpenCV's cascade search with windows in vector lanes; see haar_detect.h.
#include "engine/haar_detect.h"

#include <algorithm>

#include <opencv2/objdetect.hpp>

#include "engine/haar_integrals.h"
#include "engine/haar_program.h"
#include "engine/haar_scales.h"

namespace morvik {
namespace {

// detectMultiScale's grouping tolerance (GROUP_EPS).
constexpr double kGroupEps = 0.2;

struct Scratch {
  HaarIntegrals integrals;
  HaarProgram programs[2];  // for steps 1 and 2
  std::vector<int> detected;
  HaarBacklog backlog;

  size_t bytes() const {
    size_t n = integrals.bytes() + detected.capacity() * sizeof(int) + backlog.bytes();
    for (const HaarProgram& p : programs)
      n += p.stumps.capacity() * sizeof(HaarStumpCode) + p.stages.capacity() * sizeof(HaarStage);
    return n;
  }
};

thread_local Scratch t_scratch;

// The windows of one size that pass every stage, as rectangles in image
// pixels, appended in OpenCV's order.
void scanScale(const HaarScale& scale, const HaarProgram& program, const int* sums, Scratch& s, HaarIsa isa,
               HaarCounts* counts, std::vector<cv::Rect>& candidates) {
  const int stride = program.layout.stride;
  const int count = (scale.columns + scale.step - 1) / scale.step;
  std::vector<int>& detected = s.detected;
  detected.clear();
  s.backlog.reset(program.stages.size());
  for (int y = 0; y < scale.rows; y += scale.step)
    haarScanRow(program, sums, y * stride, count, detected, s.backlog, isa, counts);
  haarDecideBacklog(program, sums, s.backlog, detected, isa, counts);
  std::sort(detected.begin(), detected.end());
  for (const int origin : detected) {
    const int x = origin % stride * scale.step;
    const int y = origin / stride;
    candidates.emplace_back(cvRound(x * scale.factor), cvRound(y * scale.factor), scale.window.width,
                            scale.window.height);
  }
}

HaarDetectResult scanAll(const HaarCascade& cascade, const cv::Mat& image, const std::vector<HaarScale>& scales,
                         Scratch& s, HaarIsa isa, HaarCounts* counts, std::vector<cv::Rect>& candidates) {
  if (!s.integrals.plan(scales[0].image)) return kHaarImageTooLarge;
  for (const HaarScale& scale : scales) {
    if (scale.rows <= 0 || scale.columns <= 0) continue;
    HaarProgram& program = s.programs[scale.step == 2];
    layOutHaar(cascade, s.integrals.layout(scale.step), program);
    if (!s.integrals.compute(image, scale.image, scale.step)) return kHaarImageTooLarge;
    scanScale(scale, program, s.integrals.sums(), s, isa, counts, candidates);
  }
  return kHaarDetected;
}

// CascadeClassifier::detectMultiScale's last step (clipObjects).
void clipToImage(cv::Size size, std::vector<cv::Rect>& rects) {
  const cv::Rect whole(0, 0, size.width, size.height);
  size_t kept = 0;
  for (const cv::Rect& r : rects) {
    const cv::Rect c = whole & r;
    if (!c.empty()) rects[kept++] = c;
  }
  rects.resize(kept);
}

}  // namespace

HaarDetectResult detectHaar(const HaarCascade& cascade, const cv::Mat& image, const HaarSearch& search,
                            std::vector<cv::Rect>& found, HaarIsa isa, HaarCounts* counts) {
  found.clear();
  if (image.empty() || image.type() != CV_8UC1 || image.dims != 2) return kHaarBadImage;
  if (cascade.stages.empty()) return kHaarNoCascade;
  std::vector<HaarScale> scales;
  if (!planHaarScales(image.size(), cascade.window, search.scale_factor, search.min_size, search.max_size, scales))
    return kHaarBadSearch;
  if (counts != nullptr) *counts = HaarCounts{0, 0, std::vector<int64_t>(cascade.stages.size(), 0)};
  if (scales.empty()) return kHaarDetected;

  Scratch& s = t_scratch;
  const HaarDetectResult rc = scanAll(cascade, image, scales, s, isa, counts, found);
  if (s.bytes() > kHaarKeptScratchBytes) releaseHaarScratch();
  if (rc != kHaarDetected) {
    found.clear();
    return rc;
  }
  cv::groupRectangles(found, search.min_neighbours, kGroupEps);
  clipToImage(image.size(), found);
  return kHaarDetected;
}

size_t haarScratchBytes() { return t_scratch.bytes(); }

void releaseHaarScratch() { t_scratch = Scratch(); }

}  // namespace morvik
