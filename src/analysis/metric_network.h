// The shape of dlib's ResNet metric network that maps a 150x150 RGB face
// chip to 128 values. The model file must hold a network of exactly this
// shape. Including this header instantiates dlib's network templates, which
// compile slowly: only the descriptor code (and its benchmark) include it.
#ifndef MORVIK_METRIC_NETWORK_H_
#define MORVIK_METRIC_NETWORK_H_

#include <type_traits>

#include <dlib/dnn.h>

#include "engine/cnn/fused_epilogue.h"
#include "engine/cnn/pooling.h"
#include "engine/cnn/tiled_conv.h"

namespace morvik {
namespace metric {

using namespace dlib;

// A direct convolution with the filters in the vector lanes (the maps are
// small), which also applies the affine layer above it and, where one
// follows, the relu (fused_epilogue.h). Sums are taken in another order
// than BLAS takes them: values may differ from dlib's in the last bits.
// The shortcut sums apply the relu above them; the pooling layers are
// dlib's, computed in one pass (pooling.h): both give dlib's bits.
template <long N, long NR, long NC, int SY, int SX, typename SUBNET>
using con = banded_con<N, NR, NC, SY, SX, SUBNET>;
template <typename SUBNET>
using affine = fusable_affine<SUBNET>;
template <typename SUBNET>
using frelu = fusable_relu<SUBNET>;
template <typename SUBNET>
using add_prev1 = fusable_add_prev1<SUBNET>;
template <typename SUBNET>
using add_prev2 = fusable_add_prev2<SUBNET>;
template <long NR, long NC, int SY, int SX, typename SUBNET>
using max_pool = fast_max_pool<NR, NC, SY, SX, SUBNET>;
template <long NR, long NC, int SY, int SX, typename SUBNET>
using avg_pool = fast_avg_pool<NR, NC, SY, SX, SUBNET>;

// R(N): two 3x3 convolutions with a shortcut around them.
template <int N, typename SUBNET>
using residual = frelu<add_prev1<affine<con<N, 3, 3, 1, 1, frelu<affine<con<N, 3, 3, 1, 1, tag1<SUBNET>>>>>>>>;

// D(N): the same with a stride-2 first convolution; the shortcut is
// averaged down to match.
template <int N, typename SUBNET>
using residual_down = frelu<add_prev2<avg_pool<2, 2, 2, 2,
    skip1<tag2<affine<con<N, 3, 3, 1, 1, frelu<affine<con<N, 3, 3, 2, 2, tag1<SUBNET>>>>>>>>>>>;

template <typename SUBNET>
using level0 = residual_down<256, SUBNET>;
template <typename SUBNET>
using level1 = residual<256, residual<256, residual_down<256, SUBNET>>>;
template <typename SUBNET>
using level2 = residual<128, residual<128, residual_down<128, SUBNET>>>;
template <typename SUBNET>
using level3 = residual<64, residual<64, residual<64, residual_down<64, SUBNET>>>>;
template <typename SUBNET>
using level4 = residual<32, residual<32, residual<32, SUBNET>>>;

using MetricNet = loss_metric<fc_no_bias<128, avg_pool_everything<
    level0<level1<level2<level3<level4<
    max_pool<3, 3, 2, 2, frelu<affine<con<32, 7, 7, 2, 2,
    input_rgb_image_sized<150>>>>>>>>>>>>>;

// The exact layer arguments matter: the model file must match this shape.
static_assert(std::is_base_of<con_<32, 7, 7, 2, 2, 0, 0>, tiled_con_<32, 7, 7, 2, 2, kConvBandBudget>>::value,
              "stem convolution without padding");
static_assert(std::is_base_of<con_<8, 3, 3, 1, 1, 1, 1>, tiled_con_<8, 3, 3, 1, 1, kConvBandBudget>>::value,
              "residual convolutions padded by one");

}  // namespace metric

using MetricNet = metric::MetricNet;

}  // namespace morvik

#endif  // MORVIK_METRIC_NETWORK_H_
