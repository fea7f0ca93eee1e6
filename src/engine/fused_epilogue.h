// The networks' affine and relu layers, folded into the convolution below
// them.
//
// After every convolution of the detector come an affine layer (its batch
// normalisation, read for inference) and a relu; in the descriptor network
// an affine layer, then a relu or the sum with a shortcut. Run as dlib runs
// them, each is a single-threaded pass over the whole output, in the
// detector tens of megabytes. The convolution can apply both to its sums before it
// stores them, rounding as dlib rounds, so the values do not change; the
// layers then pass their input through.
//
// The layers read and write model files exactly as dlib's affine_ and
// relu_ do. Until fuseConvEpilogues hands their work to a convolution they
// behave as dlib's.
#ifndef MORVIK_FUSED_EPILOGUE_H_
#define MORVIK_FUSED_EPILOGUE_H_

#include <dlib/dnn.h>

#include "engine/tiled_conv.h"

namespace morvik {

namespace fused {

// The input, unchanged, in output (dlib runs these layers in place, so
// the two are normally one tensor).
inline void passThrough(const dlib::tensor& input, dlib::tensor& output) {
  if (&input != &output) memcpy(output, input);  // dlib's tensor copy, by argument lookup
}

}  // namespace fused

// dlib's Layer (an in-place layer), passing its input through once its
// work is handed over.
template <typename Layer>
class fusable_ : public Layer {
 public:
  void forward_inplace(const dlib::tensor& input, dlib::tensor& output) {
    if (handed_over_) return fused::passThrough(input, output);
    Layer::forward_inplace(input, output);
  }
  void handOver() { handed_over_ = true; }
  bool handedOver() const { return handed_over_; }

 private:
  bool handed_over_ = false;
};

using fusable_affine_ = fusable_<dlib::affine_>;
using fusable_relu_ = fusable_<dlib::relu_>;

template <typename SUBNET>
using fusable_affine = dlib::add_layer<fusable_affine_, SUBNET>;
template <typename SUBNET>
using fusable_relu = dlib::add_layer<fusable_relu_, SUBNET>;

namespace fused {

// Walks the layers from the top: an affine layer right below a
// convolution's consumer and the convolution right below it make a pair;
// with a relu right above the affine layer, a triple.
class Folder {
 public:
  void operator()(fusable_relu_& relu) {
    relu_ = &relu;
    affine_ = nullptr;
  }
  void operator()(fusable_affine_& affine) {
    if (!foldable(affine)) return reset();
    affine_ = &affine;
  }
  template <long N, long NR, long NC, int SY, int SX, size_t Budget>
  void operator()(tiled_con_<N, NR, NC, SY, SX, Budget>& con) {
    if (affine_ != nullptr && affine_->get_gamma().size() == static_cast<size_t>(con.num_filters())) {
      con.takeEpilogue(affine_->get_gamma(), affine_->get_beta(), relu_ != nullptr);
      affine_->handOver();
      if (relu_ != nullptr) relu_->handOver();
    }
    reset();
  }
  template <typename Other>
  void operator()(Other&) {
    reset();
  }

 private:
  static bool foldable(const fusable_affine_& affine) {
    return affine.get_mode() == dlib::CONV_MODE && !affine.is_disabled();
  }
  void reset() {
    relu_ = nullptr;
    affine_ = nullptr;
  }

  fusable_relu_* relu_ = nullptr;
  fusable_affine_* affine_ = nullptr;
};

}  // namespace fused

// Hands the work of every affine layer right above a convolution, and of
// a relu right above that affine layer, to the convolution, in a freshly
// loaded network. Call once per loaded network.
template <typename Net>
void fuseConvEpilogues(Net& net) {
  fused::Folder folder;
  dlib::visit_computational_layers(net, [&folder](auto& layer) { folder(layer); });
}

}  // namespace morvik

#endif  // MORVIK_FUSED_EPILOGUE_H_
