// The face descriptor: dlib's ResNet metric network over a 150x150 face
// chip, and the Euclidean comparison of two descriptors.
//
// This is the only translation unit that instantiates the metric network;
// its templates are expensive to compile, so nothing else includes them.
#include <cmath>
#include <exception>
#include <vector>

#include <dlib/dnn.h>
#include <dlib/image_transforms/interpolation.h>
#include <opencv2/core.hpp>

#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "analysis/metric_network.h"
#include "morvik/global_cache.h"
#include "analysis/describe_models.h"
#include "models/model_file.h"
#include "morvik/morvik.h"

namespace {

using namespace dlib;
using morvik::MetricNet;

constexpr unsigned long kChipSize = 150;
constexpr unsigned long kBatchSize = 16;

struct LoadMetricNet {
  bool operator()(MetricNet& net) const {
    morvik::deserializeModelFile(g_config.dlib_anet, net);
    morvik::fuseConvEpilogues(net);
    return true;
  }
};

// The thread's network; throws dlib::serialization_error when the file is
// missing or holds another network, and then nothing is cached.
std::shared_ptr<MetricNet> metricNet() { return cachedModel<MetricNet>(LoadMetricNet{}); }

int computeDescriptor(MetricNet& net, const cv::Mat& image, std::vector<float>& vector) {
  // dlib reports a wrong pixel type with a fatal_error, and aborts the
  // process on the second one: refuse such images before dlib sees them.
  if (image.type() != CV_8UC3 || image.empty()) return MV_EXCEPTION;
  const double padding = g_config.dlib_chip_padding;
  if (!(padding >= 0.0) || !std::isfinite(padding)) return MV_EXCEPTION;

  cv_image<bgr_pixel> view(image);
  rectangle whole(0, 0, image.cols, image.rows);
  full_object_detection shape = dlib_get_shape(view, whole);
  if (shape.num_parts() != 68 && shape.num_parts() != 5) return MV_EXCEPTION;

  std::vector<matrix<rgb_pixel>> chips(1);
  extract_image_chip(view, get_face_chip_details(shape, kChipSize, padding), chips[0]);
  std::vector<matrix<float, 0, 1>> out = net(chips, kBatchSize);
  if (out.empty()) return MV_CREATE_VECTOR;
  vector.assign(out[0].begin(), out[0].end());
  return 0;
}

}  // namespace

void morvik::loadDescribeModels() {
  if (GlobalCache<MetricNet, LoadMetricNet>::loaded()) return;
  morvik::LandmarkPrefetch landmarks = morvik::prefetchLandmarkModel();
  try {
    metricNet();
  } catch (...) {
    // Reported when the network is used: nothing was cached.
  }
  morvik::adoptLandmarkModel(landmarks);
}

int DlibExtractFaceVector(const cv::Mat& image, std::vector<float>& vector) {
  std::shared_ptr<MetricNet> net = metricNet();  // load failures propagate
  try {
    return computeDescriptor(*net, image, vector);
  } catch (...) {
    return MV_EXCEPTION;
  }
}

int DlibCompareVectors(std::vector<float>& a, std::vector<float>& b, double& distance) {
  if (a.size() != b.size()) return MV_INVALID_ARGS;
  // Single precision throughout, summed in index order, so that the
  // distance is reproducible bit for bit.
  float sum = 0.0f;
  for (size_t i = 0; i < a.size(); ++i) {
    const float d = a[i] - b[i];
    sum += d * d;
  }
  distance = static_cast<double>(std::sqrt(sum));
  return 0;
}
