// Built with -ffp-contract=off (see CMakeLists.txt): OpenCV's own arithmetic
// has no fused multiply-adds, and one here would move a position by a
// rounding step.
#include "image/region_warp.h"

#include <vector>

#include <opencv2/imgproc.hpp>

namespace morvik {
namespace {

// OpenCV's fixed point for warp positions: 10 fractional bits while
// building them, 5 (a 32-step table of weights) when sampling.
constexpr int kAbBits = 10;
constexpr int kAbScale = 1 << kAbBits;
constexpr int kInterBits = cv::INTER_BITS;
constexpr int kTabSize = cv::INTER_TAB_SIZE;
constexpr int kRoundDelta = kAbScale / kTabSize / 2;

// The inverse of a forward matrix, computed as cv::warpAffine computes it.
void inverse(const cv::Mat& forward, double m[6]) {
  cv::Mat view(2, 3, CV_64F, m);
  forward.convertTo(view, CV_64F);
  double d = m[0] * m[4] - m[1] * m[3];
  d = d != 0 ? 1. / d : 0;
  const double a11 = m[4] * d, a22 = m[0] * d;
  m[0] = a11;
  m[1] *= -d;
  m[3] *= -d;
  m[4] = a22;
  const double b1 = -m[0] * m[2] - m[1] * m[5];
  const double b2 = -m[3] * m[2] - m[4] * m[5];
  m[2] = b1;
  m[5] = b2;
}

}  // namespace

bool warpAffineRegion(const cv::Mat& src, const cv::Mat& forward, cv::Size size, const cv::Rect& region,
                      cv::Mat& region_pixels) {
  if (src.empty() || forward.rows != 2 || forward.cols != 3 || region.empty() || region.x < 0 || region.y < 0 ||
      region.width > size.width - region.x || region.height > size.height - region.y)
    return false;
  double m[6];
  inverse(forward, m);

  // Column parts, as OpenCV makes them for the whole width.
  std::vector<int> adelta(static_cast<size_t>(region.width)), bdelta(adelta.size());
  for (int x = 0; x < region.width; ++x) {
    adelta[x] = cv::saturate_cast<int>(m[0] * (region.x + x) * kAbScale);
    bdelta[x] = cv::saturate_cast<int>(m[3] * (region.x + x) * kAbScale);
  }
  cv::Mat xy(region.size(), CV_16SC2), alpha(region.size(), CV_16UC1);
  for (int y = 0; y < region.height; ++y) {
    const int row = region.y + y;
    const int x0 = cv::saturate_cast<int>((m[1] * row + m[2]) * kAbScale) + kRoundDelta;
    const int y0 = cv::saturate_cast<int>((m[4] * row + m[5]) * kAbScale) + kRoundDelta;
    short* positions = xy.ptr<short>(y);
    ushort* weights = alpha.ptr<ushort>(y);
    for (int x = 0; x < region.width; ++x) {
      const int px = (x0 + adelta[x]) >> (kAbBits - kInterBits);
      const int py = (y0 + bdelta[x]) >> (kAbBits - kInterBits);
      positions[2 * x] = cv::saturate_cast<short>(px >> kInterBits);
      positions[2 * x + 1] = cv::saturate_cast<short>(py >> kInterBits);
      weights[x] = static_cast<ushort>((py & (kTabSize - 1)) * kTabSize + (px & (kTabSize - 1)));
    }
  }
  cv::remap(src, region_pixels, xy, alpha, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
  return true;
}

}  // namespace morvik
