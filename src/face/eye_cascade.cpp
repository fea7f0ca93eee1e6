#include "face/eye_cascade.h"

#include <cstdlib>
#include <iostream>
#include <vector>

#include "config/log_switch.h"
#include "models/cascade_loader.h"
#include "models/cascade_model.h"
#include "image/image_convert.h"
#include "image/image_size.h"
#include "morvik/config.h"
#include "morvik/global_cache.h"
#include "morvik/image.h"
#include "morvik/morvik.h"

namespace {

mv::Point centre(const cv::Rect& r) {
  mv::Point p;
  p = r;
  return p;
}

// Eye points come from the scaled search image; bring them back to the face.
void unscale(mv::Point& p, double rescale) {
  if (rescale <= 0.0) return;
  p.x = morvik::saturateToInt(p.x * rescale);
  p.y = morvik::saturateToInt(p.y * rescale);
}

int oneEye(const cv::Rect& first, double rescale, mv::Point* left, mv::Point* right) {
  *left = centre(first);
  unscale(*left, rescale);
  *right = mv::Point{0, 0};
  return 2;
}

// Eyes lie in the upper middle of a face: drop detections whose centre row
// falls outside the configured band.
std::vector<cv::Rect> inEyeBand(const std::vector<cv::Rect>& found, int height) {
  if (g_config.haar_eye_skip == 0) return found;
  const int ymin = morvik::saturateToInt(static_cast<double>(g_config.haar_eye_skip_y_min) * height / 100.0);
  const int ymax = morvik::saturateToInt(static_cast<double>(g_config.haar_eye_skip_y_max) * height / 100.0);
  std::vector<cv::Rect> kept;
  for (const cv::Rect& r : found) {
    const int row = r.y + (r.height >> 1);
    if (ymin <= row && row <= ymax) kept.push_back(r);
  }
  return kept;
}

}  // namespace

int HaarExtractEyesInfo(cv::Mat& face, mv::Point* left, mv::Point* right) {
  if (face.cols == 0 || left == nullptr || right == nullptr) return MV_INVALID_ARGS;
  cv::Mat grey;
  if (morvik::toGrey8(face, grey) != 0) return MV_INVALID_ARGS;
  // Checked before any work; the factor itself is taken for the searched
  // size below.
  if (morvik::cascadeScaleFactor(g_config.haar_eye_scale_factor, grey.size()) == 0) return MV_INVALID_ARGS;

  PreparedParams params;
  int rc = getImagePrepareParams(grey, g_config.haar_eye_rescale_min, g_config.haar_eye_rescale_max, params);
  if (rc != 0) return rc;
  cv::Mat search = grey;
  if (params.rescale != 0.0) {
    rc = imagePrepare(grey, params, search);
    if (rc != 0) return rc;
  }

  // The library's own evaluator for the eye cascade it serves (OpenCV's
  // detections, several times faster); cv::CascadeClassifier for any other.
  auto cascade = cachedModel<morvik::CascadeModel>(
      [](morvik::CascadeModel& c) { return c.load(g_config.haar_eye_path_default); });
  if (!cascade) return MV_LOAD_CASCADE;

  std::vector<cv::Rect> found;
  const double scale_factor = morvik::cascadeScaleFactor(g_config.haar_eye_scale_factor, search.size());
  if (scale_factor == 0) return MV_INVALID_ARGS;
  if (!cascade->detect(search, found, scale_factor, g_config.haar_eye_min_neighbours, cv::Size(), cv::Size()))
    return MV_INVALID_ARGS;
  if (found.empty()) return 1;
  if (found.size() == 1) return oneEye(found[0], params.rescale, left, right);

  const std::vector<cv::Rect> candidates = inEyeBand(found, search.rows);
  if (candidates.empty()) {
    if (morvik::loggingEnabled()) std::cerr << "All points are filtered for image" << std::endl;
    return 1;
  }
  const cv::Rect* leftmost = &candidates[0];
  const cv::Rect* rightmost = &candidates[0];
  for (const cv::Rect& r : candidates) {
    if (r.x < leftmost->x) leftmost = &r;
    if (r.x > rightmost->x) rightmost = &r;
  }
  const int threshold = g_config.haar_eye_equal_treshold;
  if (threshold != 0 && std::abs(leftmost->x - rightmost->x) < threshold)
    return oneEye(found[0], params.rescale, left, right);

  *left = centre(*leftmost);
  *right = centre(*rightmost);
  unscale(*right, params.rescale);
  unscale(*left, params.rescale);
  return 0;
}
