// Landmark fits inside the library beyond the public wrappers.
#ifndef MORVIK_LANDMARKS_H_
#define MORVIK_LANDMARKS_H_

#include <opencv2/core.hpp>

// DlibUpdateOptimalFaceRect(image, rect) on an image of which only `loaded`
// holds its pixels (8-bit BGR). Returns false, leaving `rect` alone, when
// the fit read pixels of the image outside `loaded`.
bool refitFaceRectWithin(cv::Mat& image, cv::Rect& rect, const cv::Rect& loaded);

#endif  // MORVIK_LANDMARKS_H_
