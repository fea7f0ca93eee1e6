// dlib's HOG frontal face detector with the model that dlib itself ships.
#include <memory>
#include <sstream>
#include <string>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>

#include "check.h"
#include "face/detections.h"
#include "face/frontal_faces.h"
#include "face/frontal_faces_model.h"
#include "engine/hog/hog_detection.h"
#include "morvik/findface.h"
#include "morvik/global_cache.h"
#include "engine/parallel.h"
#include "morvik/morvik.h"

namespace {

using morvik::HogDetector;

// The model of dlib::get_serialized_frontal_faces(), decompressed when the
// library was built.
bool loadBuiltinFrontalFaces(HogDetector& detector) {
  std::istringstream model(
      std::string(reinterpret_cast<const char*>(morvik::kFrontalFacesModel), morvik::kFrontalFacesModelSize));
  dlib::deserialize(detector, model);
  return true;
}

}  // namespace

std::shared_ptr<HogDetector> morvik::frontalFacesDetector() {
  std::shared_ptr<HogDetector> detector =
      cachedModel<HogDetector>([](HogDetector& d) { return loadBuiltinFrontalFaces(d); });
  MV_CHECK(detector);
  return detector;
}

int DlibFindFaceAlgo::findDetailedFaces(size_t /*index*/, cv::Mat& image, std::vector<rotrect>& faces) {
  if (image.cols == 0 || image.cols > morvik::kMaxHogImageWidth) return MV_INVALID_ARGS;
  std::shared_ptr<HogDetector> pffd = morvik::frontalFacesDetector();
  // Throws dlib::fatal_error for anything but 8-bit BGR.
  dlib::cv_image<dlib::bgr_pixel> view(image);
  const std::vector<dlib::rect_detection> found = morvik::detectHogScored(*pffd, view, 0.0, morvik::callThreads());
  if (found.empty()) return MV_NO_FACE;
  faces.assign(found.size(), rotrect());
  for (size_t i = 0; i < found.size(); ++i) {
    faces[i].rect = morvik::toCvRect(found[i].rect);
    faces[i].score = static_cast<float>(found[i].detection_confidence);
  }
  return 0;
}

int DlibFindFaceAlgo::findFaces(size_t index, cv::Mat& image, std::vector<cv::Rect>& faces) {
  std::vector<rotrect> found;
  const int rc = findDetailedFaces(index, image, found);
  if (rc != 0) return rc;
  faces.resize(found.size());
  for (size_t i = 0; i < found.size(); ++i) faces[i] = found[i].rect;
  return 0;
}
