// OpenCV's cascade search with windows in vector lanes; see haar_detect.h.
#include "engine/cascade/haar_detect.h"

#include "engine/cascade/cascade_results.h"
#include "engine/cascade/haar_integrals.h"
#include "engine/cascade/haar_program.h"
#include "engine/cascade/haar_scales.h"

namespace morvik {
namespace {

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
  appendWindows(scale, stride, detected, candidates);
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
  groupWindows(image.size(), search.min_neighbours, found);
  return kHaarDetected;
}

size_t haarScratchBytes() { return t_scratch.bytes(); }

void releaseHaarScratch() { t_scratch = Scratch(); }

}  // namespace morvik
