// Turning a face upright by its eyes and cutting it out of the image.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "image/alignment.h"
#include "check.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/image.h"
#include "image/image_size.h"
#include "image/region_warp.h"
#include "morvik/morvik.h"

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

// The rotation about the face's centre and the face's box carried through
// it; false for an empty face box or an angle that is not a number.
bool faceRotation(double angle, const mv::Rectangle& faceRect, cv::Mat& rotation, cv::Rect& box) {
  if (faceRect.w == 0 || faceRect.h == 0 || !std::isfinite(angle)) return false;
  const cv::Point2f centre = faceCentre(faceRect);
  rotation = cv::getRotationMatrix2D(centre, angle, 1.0);
  box = cv::RotatedRect(centre, cv::Size2f(static_cast<float>(faceRect.w), static_cast<float>(faceRect.h)),
                        static_cast<float>(angle))
            .boundingRect();
  return true;
}

}  // namespace

int rotateImage(double angle, const cv::Mat& image, mv::Rectangle* faceRect, mv::Point* left_eye,
                mv::Point* right_eye, cv::Mat& rotated, cv::Mat& rotation) {
  if (faceRect == nullptr) return MV_INVALID_ARGS;
  if (std::abs(angle) <= kMaxUnrotatedAngle) {
    if (image.cols > 0 && &image != &rotated) rotated = image;
    return 0;
  }
  // A host may call this directly: an empty face box or an angle that is
  // not a number is refused rather than stopping the process.
  cv::Rect box;
  if (!faceRotation(angle, *faceRect, rotation, box)) return MV_INVALID_ARGS;
  if (image.cols > 0)
    cv::warpAffine(image, rotated, rotation, image.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                   cv::Scalar::all(0));
  rotateEyes(rotation, left_eye, right_eye);
  *faceRect = box;
  return 0;
}

namespace {

// The rotated image as far as the crop needs it. The landmark refit reads
// around the face, mostly within a quarter of the box of it: the box grown
// by half is warped first, by twice if the fit reads beyond that, the rest
// of the image only if it reads beyond that too. Every pixel warped is the
// one the whole warp gives; the others stay black.
class PartlyRotated {
 public:
  PartlyRotated(const cv::Mat& image, const cv::Mat& rotation)
      : image_(image), rotation_(rotation), rotated_(cv::Mat::zeros(image.size(), image.type())) {}

  cv::Mat& image() { return rotated_; }

  // Warps the smallest rectangle holding `region` and what is loaded.
  void load(const cv::Rect& region) {
    cv::Rect wanted = region & cv::Rect(cv::Point(), rotated_.size());
    if (wanted.empty() || (wanted & loaded_) == wanted) return;
    if (!loaded_.empty()) wanted |= loaded_;
    cv::Mat pixels = rotated_(wanted);  // written in place
    MV_CHECK(morvik::warpAffineRegion(image_, rotation_, rotated_.size(), wanted, pixels));
    MV_CHECK(pixels.data == rotated_(wanted).data);
    loaded_ = wanted;
  }

  void loadAll() { load(cv::Rect(cv::Point(), rotated_.size())); }

  const cv::Rect& loaded() const { return loaded_; }

 private:
  const cv::Mat& image_;
  const cv::Mat& rotation_;
  cv::Mat rotated_;
  cv::Rect loaded_;
};

// r grown about its centre to `quarters` quarters of its width and height.
cv::Rect grown(const cv::Rect& r, int quarters) {
  const int64_t w = int64_t{r.width} * quarters / 4, h = int64_t{r.height} * quarters / 4;
  return cv::Rect(morvik::saturateToInt(int64_t{r.x} - (w - r.width) / 2),
                  morvik::saturateToInt(int64_t{r.y} - (h - r.height) / 2), morvik::saturateToInt(w),
                  morvik::saturateToInt(h));
}

double eyeLineAngle(const mv::Point& left_eye, const mv::Point& right_eye) {
  const int64_t dy = int64_t{right_eye.y} - left_eye.y;
  const int64_t dx = int64_t{right_eye.x} - left_eye.x;
  return std::atan2(static_cast<double>(dy), static_cast<double>(dx)) * 180.0 / kPi;
}

// Crops the face box (refitted to the landmarks when `optimal`) from
// `working`, which the refit reads; `load` makes sure a region of it holds
// its pixels before they are read.
template <typename Load, typename Refit>
int cropFace(cv::Mat& working, const Load& load, mv::Rectangle* faceRect, cv::Mat& cropped, bool optimal,
             const Refit& refit) {
  cv::Rect r = *faceRect;
  correctBorders(r, working);
  // A face wholly outside the image leaves nothing to cut.
  if (!coversImage(r, working)) return MV_INVALID_ARGS;
  if (optimal && refit(r)) {
    correctBorders(r, working);
    if (!coversImage(r, working)) return MV_INVALID_ARGS;
  }
  load(r);
  cropped = working(r);
  return 0;
}

// `refit` null: the whole image is rotated.
int align(const cv::Mat& image, mv::Rectangle* faceRect, mv::Point* left_eye, mv::Point* right_eye,
          cv::Mat& cropped, bool optimal, PartialRefit refit) {
  if (image.cols == 0 || faceRect == nullptr || left_eye == nullptr || right_eye == nullptr) return MV_INVALID_ARGS;
  // An empty face cannot be rotated or cropped.
  if (faceRect->w < 1 || faceRect->h < 1) return MV_INVALID_ARGS;
  // The landmark fit views the image as 8-bit BGR; anything else would make
  // dlib raise a fatal error.
  if (optimal && image.type() != CV_8UC3) return MV_INVALID_ARGS;

  const bool level = left_eye->x == right_eye->x && left_eye->y == right_eye->y;
  const double angle = level ? 0.0 : eyeLineAngle(*left_eye, *right_eye);
  cv::Mat rotation;
  if (refit == nullptr || std::abs(angle) <= kMaxUnrotatedAngle) {
    // Small tilts leave `working` the image itself.
    cv::Mat working;
    rotateImage(angle, image, faceRect, left_eye, right_eye, working, rotation);
    return cropFace(working, [](const cv::Rect&) {}, faceRect, cropped, optimal,
                    [&](cv::Rect& r) { return DlibUpdateOptimalFaceRect(working, r); });
  }
  cv::Rect box;
  if (!faceRotation(angle, *faceRect, rotation, box)) return MV_INVALID_ARGS;
  rotateEyes(rotation, left_eye, right_eye);
  *faceRect = box;
  PartlyRotated rotated(image, rotation);
  const auto load = [&](const cv::Rect& r) { rotated.load(r); };
  return cropFace(rotated.image(), load, faceRect, cropped, optimal, [&](cv::Rect& r) {
    // The fit reads within half again the box on the test faces; a fit
    // that reads beyond the pixels warped so far is made again on more.
    for (const int quarters : {6, 8}) {
      rotated.load(grown(r, quarters));
      if (refit(rotated.image(), r, rotated.loaded())) return true;
    }
    rotated.loadAll();
    return DlibUpdateOptimalFaceRect(rotated.image(), r);
  });
}

}  // namespace

int alignFace(const cv::Mat& image, mv::Rectangle* faceRect, mv::Point* left_eye, mv::Point* right_eye,
              cv::Mat& cropped, bool optimal, cv::Size /*desired_size*/, cv::Size_<double> /*desired_eyes*/) {
  return align(image, faceRect, left_eye, right_eye, cropped, optimal, nullptr);
}

int alignFaceCrop(const cv::Mat& image, mv::Rectangle* faceRect, mv::Point* left_eye, mv::Point* right_eye,
                  cv::Mat& cropped, bool optimal, PartialRefit refit) {
  MV_CHECK(refit != nullptr);
  return align(image, faceRect, left_eye, right_eye, cropped, optimal, refit);
}
