// Confirmation of a finder's candidate by the light CNN detector. The crop
// is scaled so that the candidate has about the target width, because the
// light detector looks at one size only.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include <opencv2/imgproc.hpp>

#include "face/confirmation.h"
#include "image/image_size.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/findface.h"
#include "morvik/morvik.h"

FaceConfirmer::~FaceConfirmer() = default;

namespace {

cv::Point centreOf(const cv::Rect& r) { return cv::Point(r.x + r.width / 2, r.y + r.height / 2); }

// Wide enough that no pair of image coordinates overflows.
int64_t squaredDistance(const cv::Point& a, const cv::Point& b) {
  const int64_t dx = int64_t{a.x} - b.x, dy = int64_t{a.y} - b.y;
  return dx * dx + dy * dy;
}

}  // namespace

namespace morvik {

double confirmScaleFactor(int face_width, int target_width) {
  constexpr int kTolerance = 3;  // within this many pixels the crop is used as it is
  if (target_width <= 0 || std::abs(face_width - target_width) <= kTolerance) return 0.0;
  return double(target_width) / face_width;
}

bool confirmInContext(FaceConfirmer& confirmer, const cv::Mat& image, cv::Rect& face) {
  const cv::Rect r = face;
  const int q = r.width >> 2;
  const int mx = std::min(r.x, q);
  const int my = std::min(r.y, q);
  cv::Rect area(r.x - mx, r.y - my, r.width + mx + q, r.height + my + q);
  correctBorders(area, image);
  // A candidate outside the image has nothing around it to confirm.
  if (area.width <= 0 || area.height <= 0) return false;
  cv::Rect candidate(mx, my, r.width, r.height);
  if (confirmer.confirmFace(candidate, image(area), candidate) != 0) return false;
  face = cv::Rect(r.x - mx + candidate.x, r.y - my + candidate.y, candidate.width, candidate.height);
  return true;
}

}  // namespace morvik

int CnnLightConfirmer::confirmFace(const cv::Rect& face, const cv::Mat& crop, cv::Rect& result) {
  // A negative width would turn into a negative scale factor.
  if (face.width <= 0 || crop.cols == 0) return MV_INVALID_ARGS;

  // A tiny candidate asks for a large enlargement; the crop is never made
  // larger than any working image may be.
  double c = morvik::confirmScaleFactor(face.width, target_width_);
  if (c != 0.0) c = morvik::boundedFactor(crop.size(), c);
  cv::Mat scaled = crop;
  if (c != 0.0) cv::resize(crop, scaled, cv::Size(), c, c, cv::INTER_CUBIC);
  if (scaled.cols == 0) return MV_NO_FACE;

  dlib::cv_image<dlib::bgr_pixel> view(scaled);
  dlib::matrix<dlib::rgb_pixel> rgb;
  cv2dlib(view, rgb);
  std::vector<cv::Rect> detections;
  if (DlibCNNLightExtractFaceInfo(rgb, detections) == 0) return MV_NO_FACE;

  cv::Point target = centreOf(face);
  if (c != 0.0) target = cv::Point(morvik::saturateToInt(target.x * c), morvik::saturateToInt(target.y * c));
  const cv::Rect nearest = *std::min_element(
      detections.begin(), detections.end(), [&](const cv::Rect& a, const cv::Rect& b) {
        return squaredDistance(centreOf(a), target) < squaredDistance(centreOf(b), target);
      });
  result = c != 0.0 ? morvik::scaledRect(nearest, 1.0 / c) : nearest;
  return 0;
}
