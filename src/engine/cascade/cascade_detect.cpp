// OpenCV's cascade search with windows in vector lanes; see
// cascade_detect.h.
#include "engine/cascade/cascade_detect.h"

#include "engine/cascade/cascade_integrals.h"
#include "engine/cascade/cascade_program.h"
#include "engine/cascade/cascade_results.h"
#include "engine/cascade/cascade_scales.h"

namespace morvik {
namespace {

template <typename Kind>
struct Scratch {
  CascadeIntegrals integrals;
  CascadeProgram<Kind> programs[2];  // for steps 1 and 2
  std::vector<int> detected;
  CascadeBacklog backlog;

  size_t bytes() const {
    return integrals.bytes() + detected.capacity() * sizeof(int) + backlog.bytes() + programs[0].bytes() +
           programs[1].bytes();
  }
};

template <typename Kind>
Scratch<Kind>& threadScratch() {
  static thread_local Scratch<Kind> scratch;
  return scratch;
}

// The windows of one size that pass every stage, as rectangles in image
// pixels, appended in OpenCV's order.
template <typename Kind>
void scanScale(const CascadeScale& scale, const CascadeProgram<Kind>& program, const int* sums, Scratch<Kind>& s,
               CascadeIsa isa, CascadeCounts* counts, std::vector<cv::Rect>& candidates) {
  const int stride = program.layout.stride;
  const int count = (scale.columns + scale.step - 1) / scale.step;
  std::vector<int>& detected = s.detected;
  detected.clear();
  s.backlog.reset(program.stages.size());
  for (int y = 0; y < scale.rows; y += scale.step)
    scanCascadeRow(program, sums, y * stride, count, detected, s.backlog, isa, counts);
  decideCascadeBacklog(program, sums, s.backlog, detected, isa, counts);
  appendWindows(scale, stride, detected, candidates);
}

template <typename Kind>
CascadeDetectResult scanAll(const Cascade<Kind>& cascade, const cv::Mat& image,
                            const std::vector<CascadeScale>& scales, Scratch<Kind>& s, CascadeIsa isa,
                            CascadeCounts* counts, std::vector<cv::Rect>& candidates) {
  if (!s.integrals.plan(scales[0].image, Kind::kSquares)) return kCascadeImageTooLarge;
  for (const CascadeScale& scale : scales) {
    if (scale.rows <= 0 || scale.columns <= 0) continue;
    CascadeProgram<Kind>& program = s.programs[scale.step == 2];
    layOutCascade(cascade, s.integrals.layout(scale.step), program);
    if (!s.integrals.compute(image, scale.image, scale.step)) return kCascadeImageTooLarge;
    scanScale(scale, program, s.integrals.sums(), s, isa, counts, candidates);
  }
  return kCascadeDetected;
}

}  // namespace

template <typename Kind>
CascadeDetectResult detectCascade(const Cascade<Kind>& cascade, const cv::Mat& image, const CascadeSearch& search,
                                  std::vector<cv::Rect>& found, CascadeIsa isa, CascadeCounts* counts) {
  found.clear();
  if (image.empty() || image.type() != CV_8UC1 || image.dims != 2) return kCascadeBadImage;
  if (cascade.stages.empty()) return kCascadeNoCascade;
  std::vector<CascadeScale> scales;
  if (!planCascadeScales(image.size(), cascade.window, search.scale_factor, search.min_size, search.max_size,
                         scales))
    return kCascadeBadSearch;
  if (counts != nullptr) *counts = CascadeCounts{0, 0, std::vector<int64_t>(cascade.stages.size(), 0)};
  if (scales.empty()) return kCascadeDetected;

  Scratch<Kind>& s = threadScratch<Kind>();
  const CascadeDetectResult rc = scanAll(cascade, image, scales, s, isa, counts, found);
  if (s.bytes() > kCascadeKeptScratchBytes) s = Scratch<Kind>();
  if (rc != kCascadeDetected) {
    found.clear();
    return rc;
  }
  groupWindows(image.size(), search.min_neighbours, found);
  return kCascadeDetected;
}

template <typename Kind>
size_t cascadeScratchBytes() {
  return threadScratch<Kind>().bytes();
}

void releaseCascadeScratch() {
  threadScratch<HaarKind>() = Scratch<HaarKind>();
  threadScratch<LbpKind>() = Scratch<LbpKind>();
}

#define MORVIK_CASCADE_DETECT_FOR(Kind)                                                                         \
  template CascadeDetectResult detectCascade(const Cascade<Kind>&, const cv::Mat&, const CascadeSearch&,        \
                                             std::vector<cv::Rect>&, CascadeIsa, CascadeCounts*);               \
  template size_t cascadeScratchBytes<Kind>();
MORVIK_CASCADE_DETECT_FOR(HaarKind)
MORVIK_CASCADE_DETECT_FOR(LbpKind)
#undef MORVIK_CASCADE_DETECT_FOR

}  // namespace morvik
