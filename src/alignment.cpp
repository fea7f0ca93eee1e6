// Turning a face upright by its eyes and cutting it out of the image.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "check.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/image.h"

namespace {

// Small tilts are left alone: rotating costs a full warp of the image and
// blurs it, for no gain in the descriptor.
constexpr double kMaxUnrotatedAngle = 3.0;
constexpr double kPi = 3.141592653589793;

// The rotation centre: the rectangle's centre with halves floored.
cv::Point2f faceCentre(const mv::Rectangle& r) {
  const int64_t cx = int64_t{r.x} + (r.w >> 1);
  const int64_t cy = int64_t{r.y} + (r.h >> 1);
  return cv::Point2f(static_cast<float>(cx), static_cast<float>(cy));
}

// Carries the given eye points (left first) through the rotation, rounding
// to the nearest pixel.
void rotateEyes(const cv::Mat& rotation, mv::Point* left_eye, mv::Point* right_eye) {
  std::vector<cv::Point> points;
  if (left_eye) points.emplace_back(left_eye->x, left_eye->y);
  if (right_eye) points.emplace_back(right_eye->x, right_eye->y);
  if (points.empty()) return;
  std::vector<cv::Point> rpoints;
  cv::transform(points, rpoints, rotation);
  MV_CHECK(rpoints.size() == points.size());
  if (left_eye) *left_eye = rpoints.front();
  if (right_eye) *right_eye = rpoints.back();
}

// A clamped rectangle that still covers at least one pixel of the image.
// (64-bit sums: a caller's rectangle may be far off the image.)
bool coversImage(const cv::Rect& r, const cv::Mat& image) {
  return r.width > 0 && r.height > 0 && r.x >= 0 && r.y >= 0 && int64_t{r.x} + r.width <= image.cols &&
         int64_t{r.y} + r.height <= image.rows;
}

}  // namespace

int rotateImage(double angle, const cv::Mat& image, mv::Rectangle* faceRect, mv::Point* left_eye,
                mv::Point* right_eye, cv::Mat& rotated, cv::Mat& rotation) {
  if (faceRect == nullptr) return -1;
  if (std::abs(angle) <= kMaxUnrotatedAngle) {
    if (image.cols > 0 && &image != &rotated) rotated = image;
    return 0;
  }
  // A host may call this directly: an empty face box or an angle that is
  // not a number is refused rather than stopping the process.
  if (faceRect->w == 0 || faceRect->h == 0 || !std::isfinite(angle)) return -1;

  const cv::Point2f centre = faceCentre(*faceRect);
  rotation = cv::getRotationMatrix2D(centre, angle, 1.0);
  const cv::Rect box = cv::RotatedRect(centre, cv::Size2f(static_cast<float>(faceRect->w),
                                                          static_cast<float>(faceRect->h)),
                                       static_cast<float>(angle))
                           .boundingRect();
  if (image.cols > 0)
    cv::warpAffine(image, rotated, rotation, image.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                   cv::Scalar::all(0));
  rotateEyes(rotation, left_eye, right_eye);
  *faceRect = box;
  return 0;
}

int alignFace(const cv::Mat& image, mv::Rectangle* faceRect, mv::Point* left_eye, mv::Point* right_eye,
              cv::Mat& cropped, bool optimal, cv::Size /*desired_size*/, cv::Size_<double> /*desired_eyes*/) {
  if (image.cols == 0 || faceRect == nullptr || left_eye == nullptr || right_eye == nullptr) return -1;
  // An empty face cannot be rotated or cropped.
  if (faceRect->w < 1 || faceRect->h < 1) return -1;
  // The landmark fit views the image as 8-bit BGR; anything else would make
  // dlib raise a fatal error.
  if (optimal && image.type() != CV_8UC3) return -1;

  cv::Mat working;
  if (left_eye->x == right_eye->x && left_eye->y == right_eye->y) {
    working = image;
  } else {
    const int64_t dy = int64_t{right_eye->y} - left_eye->y;
    const int64_t dx = int64_t{right_eye->x} - left_eye->x;
    const double angle = std::atan2(static_cast<double>(dy), static_cast<double>(dx)) * 180.0 / kPi;
    cv::Mat rotation;
    rotateImage(angle, image, faceRect, left_eye, right_eye, working, rotation);
  }

  cv::Rect r = *faceRect;
  correctBorders(r, working);
  // A face wholly outside the image leaves nothing to cut.
  if (!coversImage(r, working)) return -1;
  if (optimal && DlibUpdateOptimalFaceRect(working, r)) {
    correctBorders(r, working);
    if (!coversImage(r, working)) return -1;
  }
  cropped = working(r);
  return 0;
}
