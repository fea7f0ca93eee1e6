// Alignment inside the library.
#ifndef MORVIK_ALIGNMENT_H_
#define MORVIK_ALIGNMENT_H_

#include <opencv2/core.hpp>

#include "morvik/types.h"

// alignFace for the library's own descriptors: the same crop, pixel for
// pixel, but only the part of the rotated image the crop and the landmark
// refit read is computed, and the crop is a view of an image that is black
// elsewhere.
int alignFaceCrop(const cv::Mat& image, mv::Rectangle* faceRect, mv::Point* left_eye, mv::Point* right_eye,
                  cv::Mat& cropped, bool optimal);

#endif  // MORVIK_ALIGNMENT_H_
