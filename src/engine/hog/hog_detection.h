// engine/hog: dlib's HOG object detector, with a scan of our own.
//
// What it computes: the rectangles dlib's object_detector over
// scan_fhog_pyramid<pyramid_down<6>> returns for an image and a threshold.
// What it guarantees: the same rectangles in the same order, bit for bit,
// on any number of threads: every level, feature and score is the one dlib
// computes (hog_pyramid.h, hog_features.h, hog_filters.h).
//
// dlib's scanner builds the image's pyramid (pyramid_down<6>), extracts
// fHOG features from every level and slides each of the detector's filters
// (five for the frontal face model) over every level, then the detector
// merges what they find. Here each step is computed as dlib computes it
// (hog_pyramid, hog_features, hog_filters) with faster kernels, the levels
// are scanned on several threads, and the merge is dlib's, in dlib's order,
// so the rectangles are the ones dlib's detector returns for the same image
// and threshold, in the same order. Configurations the scan does not cover
// (cells of one pixel, filters dlib slides whole) go to dlib's scanner.
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

// The same detections with the values dlib's detector gives them with its
// rect_detection overload (each one's margin over its filter's threshold),
// in the same order.
std::vector<dlib::rect_detection> detectHogScored(const HogDetector& detector,
                                                  const dlib::cv_image<dlib::bgr_pixel>& image,
                                                  double adjust_threshold, int threads);

}  // namespace morvik

#endif  // MORVIK_HOG_DETECTION_H_
