// A direct convolution with the filters, not the pixels, in the vector
// lanes: for the descriptor network's small feature maps.
//
// The detector's kernel (direct_conv.h) puts eight neighbouring output
// pixels of one filter in a vector. The descriptor network's maps are 35,
// 17, 8, 4 and 2 pixels wide, so most of those lanes would compute padding.
// Here a vector holds one output pixel of eight filters: 6 pixels by 16
// filters of sums stay in registers while every input value of the window
// is broadcast once and every weight loaded once per run, as a matrix
// product's inner kernel does, and no lane is wasted on a narrow row.
//
// Each output is one chain of fused multiply-adds from its bias, over the
// channels, rows and columns of its window in that order, so values depend
// neither on the number of threads nor on the instruction set (AVX2, or
// AVX-512 where the processor has it: a vector of 16 filters and runs of 12
// pixels); they may differ from dlib's BLAS sums in the last bits.
#ifndef MORVIK_FILTER_LANE_CONV_H_
#define MORVIK_FILTER_LANE_CONV_H_

#include <vector>

#include <dlib/dnn.h>

#include "engine/cnn/conv_scratch.h"
#include "engine/cnn/direct_conv.h"

namespace morvik {

enum class FilterLaneIsa { kAvx2, kAvx512 };

// The widest instruction set this processor runs the kernel with (kAvx2
// also when it has neither: the kernel then refuses every call).
FilterLaneIsa bestFilterLaneIsa();

// A layer's filters, biases and epilogue packed for the kernel: packing a
// large layer costs more than convolving its small map, so a layer packs
// once and keeps the result.
class FilterLanePack {
 public:
  // Packs num_filters filters of `window` weights each (channels x rows x
  // columns), with biases (or null) and the epilogue (or null).
  void pack(const float* filters, const float* biases, const ConvEpilogue* epilogue, long num_filters,
            long window);
  void clear() { *this = FilterLanePack(); }

  // True when the pack was made from these filters and this many values.
  bool packedFrom(const float* filters, long num_filters, long window) const {
    return source_ == filters && num_filters_ == num_filters && window_ == window && !values_.empty();
  }

  long numFilters() const { return num_filters_; }
  long window() const { return window_; }
  long slots() const;
  const float* blocks() const { return values_.data(); }
  const float* biases() const { return values_.data() + slots() * window_; }
  const float* scales() const { return affine_ ? biases() + slots() : nullptr; }
  const float* shifts() const { return affine_ ? biases() + 2 * slots() : nullptr; }
  bool relu() const { return relu_; }

 private:
  std::vector<float> values_;
  const float* source_ = nullptr;
  long num_filters_ = 0, window_ = 0;
  bool affine_ = false, relu_ = false;
};

// The convolution of data with packed filters of filter_nr x filter_nc
// (window = data.k() * filter_nr * filter_nc), laid out as dlib lays out a
// con_ layer's output, with the pack's biases and epilogue. Returns false,
// touching nothing, when this processor has no AVX2, the pack's window does
// not match, or the filter does not fit the padded input; the caller then
// convolves another way. threads is the most threads to use; 0 uses
// callThreads(), fewer when the layer is too small to pay for them. isa
// (tests choose it) is refused when the processor lacks it.
bool convolveFilterLanes(const dlib::tensor& data, const FilterLanePack& pack, long filter_nr, long filter_nc,
                         long stride_y, long stride_x, long padding_y, long padding_x,
                         dlib::resizable_tensor& output, int threads = 0,
                         FilterLaneIsa isa = bestFilterLaneIsa());

// The same packing the filters for this call only.
// output = the convolution of data with the filters (num_filters x data.k()
// x filter_nr x filter_nc, row-major) plus biases (num_filters values, or
// null), laid out as dlib lays out a con_ layer's output, then the epilogue
// if one is given.
bool convolveFilterLanes(const dlib::tensor& data, const float* filters, const float* biases, long num_filters,
                         long filter_nr, long filter_nc, long stride_y, long stride_x, long padding_y,
                         long padding_x, dlib::resizable_tensor& output, const ConvEpilogue* epilogue = nullptr,
                         int threads = 0, FilterLaneIsa isa = bestFilterLaneIsa());

}  // namespace morvik

#endif  // MORVIK_FILTER_LANE_CONV_H_
