// Face finders: the finder interface (morvik/findface.h), the combined
// finder that turns a selection of bits into an ordered chain of members,
// the members themselves (the LBP and Haar cascades, the pixel-comparison
// cascade "pico", dlib's HOG detector and the two MMOD CNN detectors) and
// the CNN confirmer that may check each member's candidates. A member
// reports faces in pixels of the working image it was handed; the analysis
// object maps them back. This header holds what the members share: the
// turning of dlib's detections into face rectangles. It stays free of
// dlib/dnn.h, so that only the two network translation units pay for it.
#ifndef MORVIK_FACE_DETECTIONS_H_
#define MORVIK_FACE_DETECTIONS_H_

#include <vector>

#include <dlib/geometry/rectangle.h>
#include <dlib/image_processing/full_object_detection.h>
#include <opencv2/core.hpp>

namespace morvik {

// The one conversion of dlib detection rectangles (inclusive right and
// bottom) to OpenCV rectangles, shared by the HOG and CNN finders:
// x = left, y = top, width = right - left + 1, height = bottom - top + 1;
// an empty rectangle becomes 0 x 0 at (left, top). Not clipped.
inline cv::Rect toCvRect(const dlib::rectangle& r) {
  if (r.is_empty()) return cv::Rect(int(r.left()), int(r.top()), 0, 0);
  return cv::Rect(int(r.left()), int(r.top()), int(r.width()), int(r.height()));
}

// Replaces `faces` with the MMOD detections that are not ignored and whose
// confidence reaches "dlib.cnn.confidence", in the network's order, not
// clipped to the image, and `confidences`, when given, with their
// confidences. Returns their number.
int keepConfidentFaces(const std::vector<dlib::mmod_rect>& detections, std::vector<cv::Rect>& faces,
                       std::vector<float>* confidences = nullptr);

}  // namespace morvik

#endif  // MORVIK_FACE_DETECTIONS_H_
