// What the MMOD detector networks share outside their network templates:
// turning the network's detections into face rectangles. Kept free of
// dlib/dnn.h so that only the two network translation units pay for it.
#ifndef MORVIK_CNN_DETECTIONS_H_
#define MORVIK_CNN_DETECTIONS_H_

#include <vector>

#include <dlib/image_processing/full_object_detection.h>
#include <opencv2/core.hpp>

namespace morvik {

// Replaces `faces` with the detections that are not ignored and whose
// confidence reaches "dlib.cnn.confidence", in the network's order, not
// clipped to the image. Returns their number.
int keepConfidentFaces(const std::vector<dlib::mmod_rect>& detections, std::vector<cv::Rect>& faces);

}  // namespace morvik

#endif  // MORVIK_CNN_DETECTIONS_H_
