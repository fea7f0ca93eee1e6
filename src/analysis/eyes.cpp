// Placing the eyes of one face: the eye cascade first, the landmark shape
// when the cascade does not deliver both eyes.
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "check.h"
#include "face/eye_cascade.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/image.h"
#include "morvik/morvik_info.h"

namespace {

// Rotations this small are not worth resampling the image for.
constexpr double kMinRotation = 3.0;

cv::Point rectCentre(const mv::Rectangle& r) { return cv::Point(r.x + (r.w >> 1), r.y + (r.h >> 1)); }

// Eye search on the (possibly rotated) search image; `rect` is the face on
// it. Returns true when the landmarks placed the eyes.
bool placeEyes(MorvikInfo& info, const cv::Mat& search, mv::Face& face, const cv::Rect& rect) {
  cv::Rect crop = rect;
  correctBorders(crop, search);
  // A face wholly outside the image leaves nothing for the cascade to look
  // at; the landmarks still give an answer for it.
  if (crop.width > 0 && crop.height > 0) {
    cv::Mat view = search(crop);
    if (HaarExtractEyesInfo(view, &face.left_eye, &face.right_eye) == 0) {
      face.left_eye.x += crop.x;
      face.left_eye.y += crop.y;
      face.right_eye.x += crop.x;
      face.right_eye.y += crop.y;
      return false;
    }
  }
  dlib::full_object_detection shape = info.getShape(search, rect);
  MV_CHECK(shape.num_parts());
  dlib_get_eyes(shape, face.left_eye, face.right_eye);
  DlibUpdateOptimalFaceRect(shape, &face.rect);
  return true;
}

}  // namespace

bool MorvikInfo::fillEyesInfo(const PreparedImage& prepared, mv::Face& fd) {
  MV_CHECK(prepared.image.cols != 0 && fd.rect.w > 0 && fd.rect.h > 0);
  const int half_w = fd.rect.w >> 1;
  const int half_h = fd.rect.h >> 1;

  if (std::fabs(fd.angle) <= kMinRotation) return placeEyes(*this, prepared.image, fd, fd.rect);

  // Search the face upright: turn the image about the face centre, which
  // therefore stays in place.
  const cv::Point c = rectCentre(fd.rect);
  const cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(static_cast<float>(c.x), static_cast<float>(c.y)),
                                            fd.angle, 1.0);
  cv::Mat search;
  cv::warpAffine(prepared.image, search, m, prepared.image.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                 cv::Scalar());
  std::vector<cv::Point> rpoints;
  cv::transform(std::vector<cv::Point>{c}, rpoints, m);
  MV_CHECK(rpoints.size() == 1);
  const cv::Rect rect(rpoints[0].x - half_w, rpoints[0].y - half_h, fd.rect.w, fd.rect.h);

  const bool from_shape = placeEyes(*this, search, fd, rect);

  cv::Mat back;
  cv::invertAffineTransform(m, back);
  const std::vector<cv::Point> points{rectCentre(fd.rect), cv::Point(fd.left_eye.x, fd.left_eye.y),
                                      cv::Point(fd.right_eye.x, fd.right_eye.y)};
  cv::transform(points, rpoints, back);
  MV_CHECK(rpoints.size() == 3);
  fd.rect.x = rpoints[0].x - (fd.rect.w >> 1);
  fd.rect.y = rpoints[0].y - (fd.rect.h >> 1);
  fd.left_eye = rpoints[1];
  fd.right_eye = rpoints[2];
  return from_shape;
}
