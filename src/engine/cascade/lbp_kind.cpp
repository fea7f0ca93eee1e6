// LBP features read and laid out; see lbp_kind.h.
//
// Values are converted exactly as OpenCV's LBPEvaluator::read converts
// them. Where OpenCV's evaluator would read outside its buffers (a block
// reaching out of the window, subsets of fewer than 256 categories) the
// file is refused.
#include "engine/cascade/lbp_kind.h"

namespace morvik {
namespace {

constexpr int kCategories = 32 * kLbpSubsetWords;
// More categories than any LBP code has; OpenCV takes such files (the codes
// use the first 256 bits of each subset) and keeps them.
constexpr int kMaxCategories = 1 << 16;
// A stump's node: left, right, feature and the subset's words.
constexpr size_t kStumpNodeValues = 3 + kLbpSubsetWords;

// The whole block of 3 x 3 cells must lie in the window, so that a window's
// reads stay inside the integral image. OpenCV checks the first cell only.
bool blockInsideWindow(const cv::Rect& cell, cv::Size window) {
  const int64_t right = int64_t{cell.x} + 3 * int64_t{cell.width};
  const int64_t bottom = int64_t{cell.y} + 3 * int64_t{cell.height};
  return cell.x >= 0 && cell.y >= 0 && cell.width >= 0 && cell.height >= 0 && right <= window.width &&
         bottom <= window.height;
}

}  // namespace

template <>
const char* LbpKind::featureType() { return "LBP"; }

template <>
CascadeLoadResult LbpKind::readParams(const cv::FileNode& params) {
  const int categories = (int)params["maxCatCount"];
  // Fewer than 256 categories: OpenCV would read past the subsets.
  if (categories < kCategories || categories > kMaxCategories) return kCascadeDamaged;
  return categories == kCategories ? kCascadeLoaded : kCascadeNotServed;
}

template <>
CascadeLoadResult LbpKind::stumpShape(size_t node_values, size_t leaves) {
  // Several nodes of the same length make a deeper tree, which OpenCV
  // evaluates otherwise; any other length it would misread.
  if (node_values % kStumpNodeValues != 0) return kCascadeDamaged;
  if (node_values != kStumpNodeValues) return kCascadeNotServed;
  // OpenCV takes a stump's two leaves in file order, whatever the node's
  // left and right say; a third leaf would shift every later stump's.
  return leaves == 2 ? kCascadeLoaded : kCascadeDamaged;
}

template <>
void LbpKind::readSplit(cv::FileNodeIterator& it, LbpStump& stump) {
  for (uint32_t& word : stump.subset) {
    word = static_cast<uint32_t>((int)*it);
    ++it;
  }
}

template <>
CascadeLoadResult LbpKind::readFeature(const cv::FileNode& node, cv::Size window, cv::Rect& cell) {
  const cv::FileNode rect = node["rect"];
  if (rect.size() != 4) return kCascadeDamaged;
  cv::FileNodeIterator v = rect.begin();
  v >> cell.x >> cell.y >> cell.width >> cell.height;
  return blockInsideWindow(cell, window) ? kCascadeLoaded : kCascadeDamaged;
}

// LBP windows need no test before the stages.
template <>
void LbpKind::layOutWindow(cv::Size, const CascadeLayout&, LbpWindowCode&) {}

template <>
void LbpKind::layOutStump(const LbpStump& stump, const cv::Rect& cell, const CascadeLayout& layout,
                          LbpStumpCode& code) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      code.corner[4 * r + c] = layout.offset(cell.x + c * cell.width, cell.y + r * cell.height);
  for (int w = 0; w < kLbpSubsetWords; ++w) code.subset[w] = stump.subset[w];
  code.left = stump.left;
  code.right = stump.right;
}

}  // namespace morvik
