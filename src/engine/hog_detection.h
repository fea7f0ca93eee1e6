// dlib's HOG object detector, with its filters run on several threads.
//
// The detector computes the image's HOG pyramid once, then slides each of
// its filters (five for the frontal face model) over it and merges what
// they find. The filters are independent, so they run in parallel here;
// the merge is dlib's, in dlib's order, so the rectangles are the ones
// dlib's detector returns for the same image and threshold.
#ifndef MORVIK_HOG_DETECTION_H_
#define MORVIK_HOG_DETECTION_H_

#include <vector>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>

namespace morvik {

using HogScanner = dlib::scan_fhog_pyramid<dlib::pyramid_down<6>, dlib::default_fhog_feature_extractor>;
using HogDetector = dlib::object_detector<HogScanner>;

// The widest image the detector may be handed. dlib builds its pyramid with
// a bilinear resize whose column positions are summed in float; from about
// 78000 input columns on they fall behind and the resize writes past the
// end of its output image. Working images stay far below this (see
// image/image_size.h); the finder refuses anything wider.
constexpr long kMaxHogImageWidth = 65536;

// What detector(image, adjust_threshold) returns, computed with up to
// `threads` threads.
std::vector<dlib::rectangle> detectHog(const HogDetector& detector, const dlib::cv_image<dlib::bgr_pixel>& image,
                                       double adjust_threshold, int threads);

}  // namespace morvik

#endif  // MORVIK_HOG_DETECTION_H_
