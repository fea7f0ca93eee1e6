// Integral images of one size of a cascade search; see cascade_integrals.h.
//
// Each row of a plane is padded by kCascadeLanePadding ints, so that the vector
// lanes past a row's last window read the padding, never past the memory.
#include "engine/cascade/cascade_integrals.h"

#include <limits>

#if defined(__AVX512F__)
#include <immintrin.h>
#endif

#include <opencv2/imgproc.hpp>

#include "engine/cascade/cascade_kernels.h"

namespace morvik {
namespace {

// Offsets and indices stay well inside the int range.
constexpr int64_t kMaxInts = std::numeric_limits<int>::max() / 2;

template <typename T>
void ensure(std::vector<T>& v, size_t n) {
  if (v.size() < n) v.resize(n);
}

// Column c of each row of `flat` goes to the even or the odd plane.
void split(const cv::Mat& flat, const CascadeLayout& l, int* out) {
#if defined(__AVX512F__)
  const bool vector = cascadeIsaRuns(CascadeIsa::kAvx512);
#endif
  for (int y = 0; y < flat.rows; ++y) {
    const int* row = flat.ptr<int>(y);
    int* even = out + static_cast<size_t>(y) * l.stride;
    int* odd = even + l.odd;
    int x = 0;
#if defined(__AVX512F__)
    const __m512i evens = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odds = _mm512_add_epi32(evens, _mm512_set1_epi32(1));
    for (; vector && x + 32 <= flat.cols; x += 32) {
      const __m512i a = _mm512_loadu_si512(row + x);
      const __m512i b = _mm512_loadu_si512(row + x + 16);
      _mm512_storeu_si512(even + (x >> 1), _mm512_permutex2var_epi32(a, evens, b));
      _mm512_storeu_si512(odd + (x >> 1), _mm512_permutex2var_epi32(a, odds, b));
    }
#endif
    for (; x + 1 < flat.cols; x += 2) {
      even[x >> 1] = row[x];
      odd[x >> 1] = row[x + 1];
    }
    if (x < flat.cols) even[x >> 1] = row[x];
  }
}

}  // namespace

bool CascadeIntegrals::plan(cv::Size largest, bool squares) {
  const int64_t rows = int64_t{largest.height} + 1;
  const int64_t cols = int64_t{largest.width} + 1;
  const int64_t images = squares ? 2 : 1;
  // Step 1: the integral's own columns.
  const int64_t stride1 = cols + kCascadeLanePadding;
  const int64_t region1 = stride1 * rows + kCascadeLanePadding;
  // Step 2: even and odd columns as two planes.
  const int64_t stride2 = (cols + 1) / 2 + kCascadeLanePadding;
  const int64_t plane2 = stride2 * rows + kCascadeLanePadding;
  if (2 * region1 > kMaxInts || 4 * plane2 > kMaxInts) return false;
  squares_ = squares;
  layouts_[0] = CascadeLayout{static_cast<int>(stride1), 0, 0, squares ? static_cast<int>(region1) : 0};
  layouts_[1] = CascadeLayout{static_cast<int>(stride2), 1, static_cast<int>(plane2),
                           squares ? static_cast<int>(2 * plane2) : 0};
  plane_ints_[0] = static_cast<size_t>(images * region1);
  plane_ints_[1] = static_cast<size_t>(images * 2 * plane2);
  return true;
}

bool CascadeIntegrals::compute(const cv::Mat& image, cv::Size size, int step) {
  cv::Mat scaled = image;
  if (size != image.size()) {
    ensure(scaled_, static_cast<size_t>(size.area()));
    scaled = cv::Mat(size, CV_8UC1, scaled_.data());
    cv::resize(image, scaled, size, 0, 0, cv::INTER_LINEAR_EXACT);
    if (scaled.data != scaled_.data()) return false;
  }
  const CascadeLayout& l = layout(step);
  ensure(planes_, plane_ints_[step == 2]);
  const cv::Size isize(size.width + 1, size.height + 1);
  if (step != 2) return integrate(scaled, isize, planes_.data(), static_cast<size_t>(l.stride), l.squares);
  const size_t area = static_cast<size_t>(isize.area());
  ensure(flat_, squares_ ? 2 * area : area);
  if (!integrate(scaled, isize, flat_.data(), static_cast<size_t>(isize.width), static_cast<int>(area)))
    return false;
  const cv::Mat sum(isize, CV_32SC1, flat_.data());
  split(sum, l, planes_.data());
  if (squares_) split(cv::Mat(isize, CV_32SC1, flat_.data() + area), l, planes_.data() + l.squares);
  return true;
}

bool CascadeIntegrals::integrate(const cv::Mat& scaled, cv::Size isize, int* out, size_t stride, int squares) const {
  const size_t row_bytes = stride * sizeof(int);
  cv::Mat sum(isize, CV_32SC1, out, row_bytes);
  if (!squares_) {
    cv::integral(scaled, sum, CV_32S);
    return sum.data == reinterpret_cast<uint8_t*>(out);
  }
  cv::Mat sqsum(isize, CV_32SC1, out + squares, row_bytes);
  cv::integral(scaled, sum, sqsum, CV_32S, CV_32S);
  return sum.data == reinterpret_cast<uint8_t*>(out) && sqsum.data == reinterpret_cast<uint8_t*>(out + squares);
}

size_t CascadeIntegrals::bytes() const {
  return scaled_.capacity() + (planes_.capacity() + flat_.capacity()) * sizeof(int);
}

}  // namespace morvik
