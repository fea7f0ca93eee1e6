// A feature map of the YuNet network: rows of pixels with their channels
// innermost, framed by one pixel of zeros on every side, which is the
// depthwise layers' zero padding: their windows then read the frame
// instead of testing for edges.
#ifndef MORVIK_YUNET_MAP_H_
#define MORVIK_YUNET_MAP_H_

#include <algorithm>
#include <cstddef>
#include <new>
#include <vector>

namespace morvik {

// Floats on 64-byte boundaries: every row of 16 channels and more, and
// every pixel of them, then starts a cache line, and no vector load of 16
// channels straddles two.
template <typename T>
struct YunetAlignedAllocator {
  using value_type = T;
  static constexpr std::align_val_t kAlignment{64};
  YunetAlignedAllocator() = default;
  template <typename U>
  YunetAlignedAllocator(const YunetAlignedAllocator<U>& /*other*/) {}
  T* allocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(::operator new(n * sizeof(T), kAlignment));
  }
  void deallocate(T* p, size_t /*n*/) noexcept { ::operator delete(p, kAlignment); }
  template <typename U>
  bool operator==(const YunetAlignedAllocator<U>& /*other*/) const {
    return true;
  }
  template <typename U>
  bool operator!=(const YunetAlignedAllocator<U>& /*other*/) const {
    return false;
  }
};

using YunetFloats = std::vector<float, YunetAlignedAllocator<float>>;

class YunetMap {
 public:
  // Makes the map h x w x c, keeping its memory when it is large enough.
  // The frame is zero; the inside is left as it was, for the layers to
  // write.
  void shape(long h, long w, long c) {
    h_ = h;
    w_ = w;
    c_ = c;
    const size_t need = static_cast<size_t>((h + 2) * stride());
    if (data_.size() < need) data_.resize(need);
    std::fill_n(data_.data(), stride(), 0.0f);
    std::fill_n(data_.data() + (h + 1) * stride(), stride(), 0.0f);
    for (long y = 0; y < h; ++y) {
      std::fill_n(row(y) - c, c, 0.0f);
      std::fill_n(row(y) + w * c, c, 0.0f);
    }
  }
  void release() { YunetFloats().swap(data_); }
  size_t bytes() const { return data_.capacity() * sizeof(float); }

  long h() const { return h_; }
  long w() const { return w_; }
  long c() const { return c_; }
  // Floats from one row to the next.
  long stride() const { return (w_ + 2) * c_; }
  // Row y in [-1, h] at column 0.
  float* row(long y) { return data_.data() + (y + 1) * stride() + c_; }
  const float* row(long y) const { return data_.data() + (y + 1) * stride() + c_; }
  // The same at column -1.
  const float* framed(long y) const { return row(y) - c_; }

 private:
  long h_ = 0, w_ = 0, c_ = 0;
  YunetFloats data_;
};

}  // namespace morvik

#endif  // MORVIK_YUNET_MAP_H_
