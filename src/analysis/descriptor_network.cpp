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
#include <dlib/rand.h>
#include <opencv2/core.hpp>

#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "analysis/metric_network.h"
#include "morvik/global_cache.h"
#include "analysis/box_descriptor.h"
#include "analysis/describe_models.h"
#include "analysis/hog_box.h"
#include "analysis/landmarks.h"
#include "models/model_file.h"
#include "morvik/morvik.h"

namespace {

using namespace dlib;
using morvik::MetricNet;

constexpr unsigned long kChipSize = 150;
constexpr unsigned long kBatchSize = 16;
// Landmark fits after the first in "align.mode" 2 (and in 3 without a HOG
// box): a second one measured no better on labelled pairs.
constexpr int kBoxSettling = 1;

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

// The chip's descriptor; with "describe.jitters" above 1, the mean of the
// descriptors of that many jittered copies, as dlib's num_jitters gives
// them. Each face starts the generator afresh from dlib's fixed seed, so a
// face's descriptor does not depend on the faces described before it.
int describeChip(MetricNet& net, const matrix<rgb_pixel>& chip, std::vector<float>& vector) {
  const int jitters = g_config.describe_jitters;
  std::vector<matrix<rgb_pixel>> chips;
  if (jitters <= 1) {
    chips.push_back(chip);
  } else {
    dlib::rand rnd;
    chips.reserve(static_cast<size_t>(jitters));
    for (int i = 0; i < jitters; ++i) chips.push_back(jitter_image(chip, rnd));
  }
  std::vector<matrix<float, 0, 1>> out = net(chips, kBatchSize);
  if (out.empty()) return MV_CREATE_VECTOR;
  if (out.size() == 1) {
    vector.assign(out[0].begin(), out[0].end());
    return 0;
  }
  matrix<float, 0, 1> sum = out[0];
  for (size_t i = 1; i < out.size(); ++i) sum += out[i];
  sum /= static_cast<float>(out.size());
  vector.assign(sum.begin(), sum.end());
  return 0;
}

bool usablePadding(double padding) { return padding >= 0.0 && std::isfinite(padding); }

int computeDescriptor(MetricNet& net, const cv::Mat& image, std::vector<float>& vector) {
  // dlib reports a wrong pixel type with a fatal_error, and aborts the
  // process on the second one: refuse such images before dlib sees them.
  if (image.type() != CV_8UC3 || image.empty()) return MV_EXCEPTION;
  const double padding = g_config.dlib_chip_padding;
  if (!usablePadding(padding)) return MV_EXCEPTION;

  cv_image<bgr_pixel> view(image);
  rectangle whole(0, 0, image.cols, image.rows);
  full_object_detection shape = dlib_get_shape(view, whole);
  if (shape.num_parts() != 68 && shape.num_parts() != 5) return MV_EXCEPTION;

  matrix<rgb_pixel> chip;
  extract_image_chip(view, get_face_chip_details(shape, kChipSize, padding), chip);
  return describeChip(net, chip, vector);
}

int computeBoxDescriptor(MetricNet& net, const cv::Mat& image, const cv::Rect& box,
                         morvik::BoxDescription& description, std::vector<float>& vector) {
  if (image.type() != CV_8UC3 || image.empty() || box.width < 1 || box.height < 1) return MV_EXCEPTION;
  const double padding = g_config.dlib_chip_padding;
  if (!usablePadding(padding)) return MV_EXCEPTION;

  // Mode 3 starts from dlib's HOG box of the face, as plain dlib does, and
  // falls back to mode 2 where the HOG finder does not see the face.
  cv::Rect start = box;
  bool settle = g_config.align_mode == 2;
  if (g_config.align_mode == 3) settle = !morvik::hogBoxNear(image, box, start);

  cv_image<bgr_pixel> view(image);
  rectangle rect(start.x, start.y, int64_t{start.x} + start.width - 1, int64_t{start.y} + start.height - 1);
  full_object_detection shape = dlib_get_shape(view, rect);
  if (shape.num_parts() != 68) return MV_EXCEPTION;
  if (settle) {
    // The landmarks fitted again from the box the model itself would have
    // drawn around them, whatever box the finder drew.
    for (int i = 0; i < kBoxSettling; ++i) {
      rect = morvik::meanShapeBox(shape, rect);
      shape = dlib_get_shape(view, rect);
    }
  }

  matrix<rgb_pixel> chip;
  extract_image_chip(view, get_face_chip_details(shape, kChipSize, padding), chip);
  const int rc = describeChip(net, chip, vector);
  if (rc != 0) return rc;
  cv::Mat bgr(static_cast<int>(chip.nr()), static_cast<int>(chip.nc()), CV_8UC3);
  for (long r = 0; r < chip.nr(); ++r) {
    for (long c = 0; c < chip.nc(); ++c) {
      const rgb_pixel& p = chip(r, c);
      bgr.at<cv::Vec3b>(static_cast<int>(r), static_cast<int>(c)) = cv::Vec3b(p.blue, p.green, p.red);
    }
  }
  description.chip = bgr;
  dlib_get_eyes(shape, description.left_eye, description.right_eye);
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

int morvik::describeFaceBox(const cv::Mat& image, const cv::Rect& box, BoxDescription& description,
                            std::vector<float>& vector) {
  std::shared_ptr<MetricNet> net = metricNet();  // load failures propagate
  try {
    return computeBoxDescriptor(*net, image, box, description, vector);
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
