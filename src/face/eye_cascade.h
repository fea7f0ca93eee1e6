// The eye cascade: both eyes, one eye or none in the image of one face.
#ifndef MORVIK_EYE_CASCADE_H_
#define MORVIK_EYE_CASCADE_H_

#include <opencv2/core.hpp>

#include "morvik/types.h"

// 0: both eyes placed; 2: one eye (in *left, *right is (0, 0)); 1: none;
// -1: empty image, null point or unusable options; -3: eye cascade missing.
// Points are in pixels of `face`; *left has the smaller x. Internal: the
// eyes reach hosts through the analysis and the entry points.
int HaarExtractEyesInfo(cv::Mat& face, mv::Point* left, mv::Point* right);

#endif  // MORVIK_EYE_CASCADE_H_
