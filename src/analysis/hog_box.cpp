#include "analysis/hog_box.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <dlib/opencv/cv_image.h>
#include <opencv2/imgproc.hpp>

#include "engine/hog/hog_detection.h"
#include "face/face_merge.h"
#include "face/frontal_faces.h"

namespace {

// The searched neighbourhood reaches this many face sides past each edge
// of the box: room for a HOG box drawn with another margin or centre.
constexpr double kMargin = 0.5;
// Faces smaller than this are enlarged by doubling, as dlib's own face
// recognition upsamples an image in which it finds nothing; at most four
// times, beyond which the photo holds too little of the face.
constexpr int kSmallestSide = 90;
constexpr double kLargestEnlargement = 4.0;
// A neighbourhood of more than this share of the photo gives way to the
// whole photo: the search costs at most that much more, and the boxes are
// then exactly those the finder draws on the photo (its cells and pyramid
// levels start at the photo's corner, not the neighbourhood's).
constexpr double kWholePhotoShare = 0.25;
// The detector's window: a smaller neighbourhood cannot hold a face.
constexpr int kWindow = 80;

// The box grown by kMargin sides on every edge, clipped to the image.
cv::Rect neighbourhood(const cv::Mat& image, const cv::Rect& box) {
  const int64_t side = std::max(box.width, box.height);
  const int64_t margin = static_cast<int64_t>(side * kMargin);
  const int64_t x0 = std::max<int64_t>(0, int64_t{box.x} - margin);
  const int64_t y0 = std::max<int64_t>(0, int64_t{box.y} - margin);
  const int64_t x1 = std::min<int64_t>(image.cols, int64_t{box.x} + box.width + margin);
  const int64_t y1 = std::min<int64_t>(image.rows, int64_t{box.y} + box.height + margin);
  if (x1 <= x0 || y1 <= y0) return cv::Rect();
  return cv::Rect(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0), static_cast<int>(y1 - y0));
}

// How much the neighbourhood is resized before the search.
double searchScale(const cv::Rect& box) {
  const int side = std::max(box.width, box.height);
  double scale = 1.0;
  while (side * scale < kSmallestSide && scale < kLargestEnlargement) scale *= 2.0;
  if (side > morvik::kHogBoxLargestFace) scale = double{morvik::kHogBoxLargestFace} / side;
  return scale;
}

}  // namespace

bool morvik::hogBoxNear(const cv::Mat& image, const cv::Rect& box, cv::Rect& found) {
  if (image.type() != CV_8UC3 || image.empty() || box.width < 1 || box.height < 1) return false;
  cv::Rect region = neighbourhood(image, box);
  if (region.empty()) return false;
  if (double(region.area()) > kWholePhotoShare * double(image.cols) * double(image.rows))
    region = cv::Rect(0, 0, image.cols, image.rows);
  const double scale = searchScale(box);
  if (region.width * scale < kWindow || region.height * scale < kWindow) return false;

  cv::Mat searched = image(region);
  if (scale != 1.0) {
    cv::Mat resized;
    cv::resize(searched, resized, cv::Size(), scale, scale, scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
    searched = resized;
  }
  if (searched.cols > kMaxHogImageWidth) return false;
  dlib::cv_image<dlib::bgr_pixel> view(searched);
  const std::vector<dlib::rectangle> hog = detectHog(*frontalFacesDetector(), view, 0.0, 1);

  const cv::Rect2d wanted(box.x, box.y, box.width, box.height);
  // The HOG box of this face is the one that overlaps the given box as the
  // merged finders' boxes of one face do, the most.
  double best = morvik::kSameFaceOverlap;
  bool any = false;
  for (const dlib::rectangle& r : hog) {
    // dlib's rectangles include their right and bottom edges.
    const cv::Rect2d mapped(region.x + r.left() / scale, region.y + r.top() / scale, (r.right() + 1 - r.left()) / scale,
                            (r.bottom() + 1 - r.top()) / scale);
    const double shared = morvik::overlap(mapped, wanted);
    if (shared < best) continue;
    best = shared;
    any = true;
    found = cv::Rect(cvRound(mapped.x), cvRound(mapped.y), std::max(1, cvRound(mapped.width)),
                     std::max(1, cvRound(mapped.height)));
  }
  return any;
}
