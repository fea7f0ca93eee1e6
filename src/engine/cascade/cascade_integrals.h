// The integral and squared integral images of one size of a cascade search,
// in the arrangement of cascade_layout.h, computed as OpenCV computes them:
// the image scaled by cv::resize (INTER_LINEAR_EXACT) and summed by
// cv::integral into int sums and int squared sums. LBP cascades need the
// sums only, as OpenCV's LBPEvaluator computes them.
#ifndef MORVIK_CASCADE_INTEGRALS_H_
#define MORVIK_CASCADE_INTEGRALS_H_

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "engine/cascade/cascade_layout.h"

namespace morvik {

class CascadeIntegrals {
 public:
  // Lays out memory for scaled images of up to `largest` pixels, for
  // window steps of 1 and 2, with squared sums when `squares` is set
  // (CascadeLayout::squares is 0 without). False when the images would not be
  // addressable with int offsets.
  bool plan(cv::Size largest, bool squares = true);

  // The arrangement for windows `step` (1 or 2) pixels apart.
  const CascadeLayout& layout(int step) const { return layouts_[step == 2]; }

  // Scales `image` to `size` (at most the planned size) and computes its
  // integral images (as planned) in the arrangement for `step`. False if OpenCV did not
  // write where it was asked to.
  bool compute(const cv::Mat& image, cv::Size size, int step);

  // The sums' origin; window (k, y) of a row starts at y * stride + k.
  const int* sums() const { return planes_.data(); }

  size_t bytes() const;

 private:
  // cv::integral of `scaled` into `out` (rows `stride` ints apart), and
  // of its squares `squares` ints further when planned.
  bool integrate(const cv::Mat& scaled, cv::Size isize, int* out, size_t stride, int squares) const;

  bool squares_ = true;
  CascadeLayout layouts_[2];
  size_t plane_ints_[2] = {0, 0};  // ints the sums and squared sums take, per step
  std::vector<uint8_t> scaled_;
  std::vector<int> planes_;  // sums then any squared sums, in the layout
  std::vector<int> flat_;    // cv::integral's output before a split into planes
};

}  // namespace morvik

#endif  // MORVIK_CASCADE_INTEGRALS_H_
