// The MMOD face detector network. Both detectors use the same trained
// weights and differ only in the input layer's pyramid: pyramid_down<6>
// scans an image pyramid, pyramid_down<1> the image at its own size.
//
// Include this header from exactly one translation unit per pyramid type:
// dlib's network templates take minutes to compile.
#ifndef MORVIK_CNN_NET_H_
#define MORVIK_CNN_NET_H_

#include <memory>
#include <vector>

#include <dlib/dnn.h>
#include <opencv2/core.hpp>

#include "check.h"
#include "face/detections.h"
#include "morvik/config.h"
#include "morvik/global_cache.h"
#include "models/model_file.h"
#include "engine/cnn/fused_epilogue.h"
#include "engine/cnn/pyramid_input.h"
#include "engine/cnn/tiled_conv.h"

namespace morvik {
namespace cnn {

// The input layer builds its image pyramid with several threads
// (pyramid_input.h). The trained model has batch normalisation layers; for
// inference they are read as affine layers, which the convolutions below
// them apply together with the relu (fused_epilogue.h). The convolutions are computed in bands
// so that a photo's huge temporaries are not mapped afresh on every call.
template <long N, typename SUBNET>
using con5d = banded_con<N, 5, 5, 2, 2, SUBNET>;
template <long N, typename SUBNET>
using con5 = banded_con<N, 5, 5, 1, 1, SUBNET>;
template <typename SUBNET>
using downsampler = fusable_relu<fusable_affine<con5d<32, fusable_relu<fusable_affine<con5d<32,
                    fusable_relu<fusable_affine<con5d<16, SUBNET>>>>>>>>>;
template <typename SUBNET>
using rcon5 = fusable_relu<fusable_affine<con5<45, SUBNET>>>;

template <typename Pyramid>
using MmodNet = dlib::loss_mmod<banded_con<1, 9, 9, 1, 1,
                rcon5<rcon5<rcon5<downsampler<threaded_input_rgb_image_pyramid<Pyramid>>>>>>>;

// Runs the calling thread's network of type Net, loading it from
// "dlib.dnet" on first use. A missing or foreign model file throws
// dlib::serialization_error and caches nothing.
// Below this many rows or columns the network's first filters do not fit
// the input and dlib stops with a fatal error (7 pixels for the single
// level, 10 for the pyramid); such an image holds no detectable face.
constexpr long kMinNetInput = 16;

template <typename Net>
int detectFaces(dlib::matrix<dlib::rgb_pixel>& image, std::vector<cv::Rect>& faces,
                std::vector<float>* confidences = nullptr) {
  if (image.nr() < kMinNetInput || image.nc() < kMinNetInput) {
    faces.clear();
    if (confidences != nullptr) confidences->clear();
    return 0;
  }
  std::shared_ptr<Net> pnet = cachedModel<Net>([](Net& net) {
    deserializeModelFile(g_config.dlib_dnet, net);
    fuseConvEpilogues(net);
    return true;
  });
  MV_CHECK(pnet);
  return keepConfidentFaces((*pnet)(image), faces, confidences);
}

}  // namespace cnn
}  // namespace morvik

#endif  // MORVIK_CNN_NET_H_
