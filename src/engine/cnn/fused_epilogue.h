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
// The relu above a shortcut sum is folded into the sum in the same way:
// one pass adds and clamps.
//
// The layers read and write model files exactly as dlib's affine_, relu_
// and add_prev_ do. Until fuseConvEpilogues hands their work on they
// behave as dlib's.
#ifndef MORVIK_FUSED_EPILOGUE_H_
#define MORVIK_FUSED_EPILOGUE_H_

#include <dlib/dnn.h>

#include "engine/cnn/tiled_conv.h"

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

// dlib's sum of two tensors, then, with relu, dlib's relu (x where x >= 0,
// else 0; NaN gives 0), each value rounded as dlib's add and relu round it.
// Where one tensor has fewer channels than the other (the shortcut of a
// downsampling block) dlib adds 0 for the missing ones. Sizes output to
// the larger tensor; false, touching nothing, when the two differ in
// anything but their channels.
bool addAndRelu(const dlib::tensor& a, const dlib::tensor& b, bool relu, dlib::resizable_tensor& output);

// dlib's add_prev_: the sum of its input and the tagged layer's output;
// once a relu above it is handed over, clamped in the same pass.
template <template <typename> class Tag>
class fusable_add_prev_ : public dlib::add_prev_<Tag> {
  using base = dlib::add_prev_<Tag>;

 public:
  template <typename SUBNET>
  void forward(const SUBNET& sub, dlib::resizable_tensor& output) {
    if (!relu_) return base::forward(sub, output);
    if (addAndRelu(sub.get_output(), dlib::layer<Tag>(sub).get_output(), true, output)) return;
    base::forward(sub, output);
    dlib::tt::relu(output, output);
  }
  void takeRelu() { relu_ = true; }
  bool hasRelu() const { return relu_; }

 private:
  bool relu_ = false;
};

template <typename SUBNET>
using fusable_add_prev1 = dlib::add_layer<fusable_add_prev_<dlib::tag1>, SUBNET>;
template <typename SUBNET>
using fusable_add_prev2 = dlib::add_layer<fusable_add_prev_<dlib::tag2>, SUBNET>;

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
  template <template <typename> class Tag>
  void operator()(fusable_add_prev_<Tag>& add) {
    if (relu_ != nullptr) {
      add.takeRelu();
      relu_->handOver();
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
// a relu right above that affine layer, to the convolution, and of a relu
// right above a shortcut sum to the sum, in a freshly loaded network. Call
// once per loaded network.
template <typename Net>
void fuseConvEpilogues(Net& net) {
  fused::Folder folder;
  dlib::visit_computational_layers(net, [&folder](auto& layer) { folder(layer); });
}

}  // namespace morvik

#endif  // MORVIK_FUSED_EPILOGUE_H_
