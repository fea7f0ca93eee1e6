// Alignment inside the library.
#ifndef MORVIK_ALIGNMENT_H_
#define MORVIK_ALIGNMENT_H_

#include <opencv2/core.hpp>

#include "morvik/types.h"

// DlibUpdateOptimalFaceRect(image, rect) on an image of which only `loaded`
// holds its pixels: false, leaving `rect` alone, when the fit read pixels
// outside `loaded`. The landmark fit belongs to the analysis, which passes
// it in (analysis/landmarks.h's refitFaceRectWithin).
using PartialRefit = bool (*)(cv::Mat& image, cv::Rect& rect, const cv::Rect& loaded);

// alignFace for the library's own descriptors: the same crop, pixel for
// pixel, but only the part of the rotated image the crop and the landmark
// refit read is computed, and the crop is a view of an image that is black
// elsewhere. `refit` is tried on the part first when `optimal`.
int alignFaceCrop(const cv::Mat& image, mv::Rectangle* faceRect, mv::Point* left_eye, mv::Point* right_eye,
                  cv::Mat& cropped, bool optimal, PartialRefit refit);

#endif  // MORVIK_ALIGNMENT_H_
