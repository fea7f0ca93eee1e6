// Face analysis: the analysis object MorvikInfo (morvik/morvik_info.h)
// carries one image from loading to results. It walks the finders' scales
// (morvik_info.cpp), places the eyes of each face with the eye cascade and
// falls back to the 68-point landmarks (eyes.cpp, face/eye_cascade), and for
// each face to describe aligns it, fits the landmarks and runs the metric
// network (face_data.cpp, landmarks, descriptor_network). Models come from
// the per-thread caches of src/models.
//
// Landmark fits inside the library beyond the public wrappers.
#ifndef MORVIK_LANDMARKS_H_
#define MORVIK_LANDMARKS_H_

#include <dlib/geometry/rectangle.h>
#include <dlib/image_processing/full_object_detection.h>
#include <opencv2/core.hpp>

// DlibUpdateOptimalFaceRect(image, rect) on an image of which only `loaded`
// holds its pixels (8-bit BGR). Returns false, leaving `rect` alone, when
// the fit read pixels of the image outside `loaded`.
bool refitFaceRectWithin(cv::Mat& image, cv::Rect& rect, const cv::Rect& loaded);

namespace morvik {

// The face box in the landmark model's own terms for a face whose
// landmarks are `shape`: the square in which the model's mean shape best
// matches them (least squares over its size and place). Finders draw boxes
// of their own sizes and margins; a fit started from this box starts where
// the model was trained to start. `fallback` when the shape does not have
// the model's points or gives no usable square.
dlib::rectangle meanShapeBox(const dlib::full_object_detection& shape, const dlib::rectangle& fallback);

}  // namespace morvik

#endif  // MORVIK_LANDMARKS_H_
