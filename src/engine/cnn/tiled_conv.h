// engine/cnn: the layers of dlib's networks (the CNN face detector and the
// descriptor network) that the engine computes itself: the convolutions
// (this layer, with direct_conv.h and filter_lane_conv.h as its kernels),
// the affine and relu layers folded into them (fused_epilogue.h), pooling
// (pooling.h) and the detector's image pyramid (pyramid_input.h), with the
// scratch memory they keep per thread (conv_scratch.h).
// What it guarantees: the pyramid, the pooling, the folded layers and an
// unbanded convolution give dlib's values bit for bit; banded convolutions
// and the direct kernels sum in another order than dlib's BLAS call and may
// differ from dlib's in the last bits of a value, and the direct kernels'
// values never depend on the number of threads.
//
// A convolution layer for dlib networks: dlib's con_ with its scratch
// memory kept between calls and, where asked, bounded.
//
// dlib unrolls the whole input into one matrix (one row per output pixel,
// one column per filter weight), multiplies it by the filters in one BLAS
// call and frees it. For the face detector on a 500x375 photo that matrix
// reaches 400 MB in one layer; glibc maps such blocks fresh from the kernel
// and returns them on every call, so most of the time goes to page faults.
//
// Unbanded, the layer makes dlib's BLAS call on dlib's matrix, unrolled by
// a faster loop into a per-thread buffer that is kept: results are dlib's
// bit for bit. Banded, it uses a direct kernel where the processor has
// one (direct_conv.h for the detector's filter sizes, filter_lane_conv.h
// for the others), and otherwise makes one call per band of output pixels
// into a bounded buffer. OpenBLAS rounds partial sums differently
// for different matrix widths (as it does for different thread counts), so
// banded outputs may differ from dlib's in the last bits.
//
// A layer may also take over the affine and relu layers above it (see
// fused_epilogue.h); it then applies them to its output itself.
//
// The layer reads and writes model files exactly as dlib's con_ does.
#ifndef MORVIK_TILED_CONV_H_
#define MORVIK_TILED_CONV_H_

#include <cstddef>
#include <optional>

#include <dlib/dnn.h>

#include "engine/cnn/conv_scratch.h"
#include "engine/cnn/direct_conv.h"
#include "engine/cnn/filter_lane_conv.h"

namespace morvik {

// The unrolled band of a banded layer, in bytes (at least 64 pixels).
// Smaller bands leave OpenBLAS's threads more time waiting than working.
constexpr size_t kConvBandBudget = size_t{16} << 20;
// No bands: the whole input is unrolled at once, as dlib does.
constexpr size_t kConvUnbanded = ~size_t{0};

// output = the convolution of data with the filters (num_filters x data.k()
// x filter_nr x filter_nc, row-major, no bias), laid out as dlib lays out a
// con_ layer's output. scratch_budget bounds the unrolled band (see above).
void convolveTiled(const dlib::tensor& data, const float* filters, long num_filters, long filter_nr,
                   long filter_nc, long stride_y, long stride_x, long padding_y, long padding_x,
                   dlib::resizable_tensor& output, size_t scratch_budget);

template <long NumFilters, long NR, long NC, int StrideY, int StrideX, size_t Budget>
class tiled_con_ : public dlib::con_<NumFilters, NR, NC, StrideY, StrideX> {
  using base = dlib::con_<NumFilters, NR, NC, StrideY, StrideX>;

 public:
  template <typename SUBNET>
  void forward(const SUBNET& sub, dlib::resizable_tensor& output) {
    const dlib::tensor& input = sub.get_output();
    const long window = input.k() * this->nr() * this->nc();
    const long weights = this->num_filters() * window;
    const long biases = this->bias_is_disabled() ? 0 : this->num_filters();
    dlib::tensor& params = this->get_layer_params();
    // Parameters that do not match the input are dlib's to report.
    if (params.size() != static_cast<size_t>(weights + biases)) {
      base::forward(sub, output);
      if (epilogue_.has_value()) applyEpilogue(output);
      return;
    }
    const dlib::tensor& weights_view = params;
    const float* filters = weights_view.host();
    // Layers that need not match dlib bit for bit take a direct kernel
    // where this processor has one; it adds the biases and applies the
    // epilogue itself.
    if (Budget != kConvUnbanded && convolveDirectly(input, filters, biases != 0 ? filters + weights : nullptr, output))
      return;
    convolveTiled(input, filters, this->num_filters(), this->nr(), this->nc(), StrideY, StrideX, this->padding_y(),
                  this->padding_x(), output, Budget);
    if (biases != 0) {
      dlib::alias_tensor bias(1, this->num_filters());
      dlib::tt::add(1, output, 1, bias(params, weights));
    }
    if (epilogue_.has_value()) applyEpilogue(output);
  }

  // From now on this layer also does the work of the affine layer (scale
  // and shift, num_filters values each) and, with relu, of the relu layer
  // above it; those layers must then pass their input through unchanged.
  void takeEpilogue(const dlib::tensor& scale, const dlib::tensor& shift, bool relu) {
    scale_.copy_size(scale);
    memcpy(scale_, scale);  // dlib's tensor copy, found by argument lookup
    shift_.copy_size(shift);
    memcpy(shift_, shift);
    epilogue_ = ConvEpilogue{scale_.host(), shift_.host(), relu};
    lanes_.clear();
  }
  bool hasEpilogue() const { return epilogue_.has_value(); }

  // Copies keep an epilogue of their own.
  tiled_con_() = default;
  tiled_con_(const tiled_con_& other) : base(other) { copyEpilogue(other); }
  tiled_con_& operator=(const tiled_con_& other) {
    if (this == &other) return *this;
    base::operator=(other);
    copyEpilogue(other);
    return *this;
  }

 private:
  // The detector's kernel for the filter sizes it serves; the filter-lane
  // kernel, with the filters packed once, for the others.
  bool convolveDirectly(const dlib::tensor& input, const float* filters, const float* biases,
                        dlib::resizable_tensor& output) {
    const ConvEpilogue* epilogue = epilogue_.has_value() ? &*epilogue_ : nullptr;
    if (convolveDirect(input, filters, biases, this->num_filters(), this->nr(), this->nc(), StrideY, StrideX,
                       this->padding_y(), this->padding_x(), output, epilogue))
      return true;
    const long window = input.k() * this->nr() * this->nc();
    if (!lanes_.packedFrom(filters, this->num_filters(), window))
      lanes_.pack(filters, biases, epilogue, this->num_filters(), window);
    return convolveFilterLanes(input, lanes_, this->nr(), this->nc(), StrideY, StrideX, this->padding_y(),
                               this->padding_x(), output);
  }

  // dlib's own steps, for outputs the direct kernel did not compute.
  void applyEpilogue(dlib::resizable_tensor& output) const {
    if (epilogue_->scale != nullptr) dlib::tt::affine_transform_conv(output, output, scale_, shift_);
    if (epilogue_->relu) dlib::tt::relu(output, output);
  }
  void copyEpilogue(const tiled_con_& other) {
    epilogue_.reset();
    lanes_.clear();
    if (other.epilogue_.has_value()) takeEpilogue(other.scale_, other.shift_, other.epilogue_->relu);
  }

  dlib::resizable_tensor scale_, shift_;  // (1, num_filters) each
  std::optional<ConvEpilogue> epilogue_;   // points into scale_ and shift_
  FilterLanePack lanes_;                   // packed from this layer's parameters on first use
};

// dlib's results bit for bit.
template <long NumFilters, long NR, long NC, int StrideY, int StrideX, typename SUBNET>
using tcon = dlib::add_layer<tiled_con_<NumFilters, NR, NC, StrideY, StrideX, kConvUnbanded>, SUBNET>;

// Bounded memory, and the direct kernel where the processor has it; last
// bits may differ from dlib's.
template <long NumFilters, long NR, long NC, int StrideY, int StrideX, typename SUBNET>
using banded_con = dlib::add_layer<tiled_con_<NumFilters, NR, NC, StrideY, StrideX, kConvBandBudget>, SUBNET>;

}  // namespace morvik

#endif  // MORVIK_TILED_CONV_H_
