// Frontal faces from an OpenCV cascade, kept only when both eyes are seen
// (unless "find.eye_check" is 0). The cascades are searched by the
// library's own evaluators when they serve the files (OpenCV's detections
// in its single-threaded order, several times faster and on the calling
// thread only), by OpenCV's classifier otherwise.
#include <vector>

#include "models/cascade_loader.h"
#include "models/cascade_model.h"
#include "check.h"
#include "face/eye_cascade.h"
#include "image/image_convert.h"
#include "morvik/config.h"
#include "morvik/findface.h"
#include "morvik/global_cache.h"
#include "morvik/morvik.h"

int HaarFindFaceAlgo::findFaces(size_t, cv::Mat& image, std::vector<cv::Rect>& faces) {
  if (image.cols == 0) return MV_INVALID_ARGS;
  cv::Mat grey;
  if (morvik::toGrey8(image, grey) != 0) return MV_INVALID_ARGS;
  const double scale_factor = morvik::cascadeScaleFactor(g_config.haar_face_scale_factor, grey.size());
  if (scale_factor == 0) return MV_INVALID_ARGS;

  // Both models are looked up on every call, whichever this instance uses.
  auto lbp = cachedModel<morvik::CascadeModel>(
      [](morvik::CascadeModel& c) { return c.load(g_config.haar_face_path_default); });
  auto haar = cachedModel<morvik::CascadeModel>(
      [](morvik::CascadeModel& c) { return c.load(g_config.haar_face_path_default_alt); });
  morvik::CascadeModel* cascade = lbp_ ? lbp.get() : haar.get();
  if (cascade == nullptr) return MV_LOAD_CASCADE;

  std::vector<cv::Rect> candidates;
  if (!cascade->detect(grey, candidates, scale_factor, g_config.haar_face_min_neighbours,
                       g_config.haar_face_min_face, cv::Size(image.cols, image.rows)))
    return MV_INVALID_ARGS;
  if (candidates.empty()) return MV_NO_FACE;

  faces.clear();
  faces.reserve(candidates.size());
  mv::Point left{0, 0}, right{0, 0};
  // "find.eye_check" 0 keeps every candidate: more small faces, and more
  // that are not faces (the combined finder's merge confirms those).
  const bool eye_check = g_config.find_eye_check != 0;
  for (const cv::Rect& c : candidates) {
    MV_CHECK(c.width != 0 && c.height != 0);
    cv::Mat face = grey(c);
    if (!eye_check || HaarExtractEyesInfo(face, &left, &right) == 0) faces.push_back(c);
  }
  return faces.empty() ? -4 : 0;
}
