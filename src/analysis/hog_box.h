// The box dlib's HOG finder draws around a face that another finder found.
//
// dlib's landmark model was trained from that finder's boxes: fitted from
// one, the landmarks start where the model expects them, and the chip they
// cut is the one plain dlib would cut, whichever finder found the face.
#ifndef MORVIK_HOG_BOX_H_
#define MORVIK_HOG_BOX_H_

#include <opencv2/core.hpp>

namespace morvik {

// Faces larger than this (pixels a side) are searched reduced to it, which
// keeps the search of a large face's neighbourhood to a few tens of
// milliseconds: the finder would see such a face at a coarse level of its
// pyramid anyway. Smaller faces are searched at their size (or enlarged).
constexpr int kHogBoxLargestFace = 400;

// The HOG finder's box (x, y, width, height in `image`) for the face in
// `box` of `image` (8-bit BGR). Only the neighbourhood of `box` is searched,
// brought to a size at which the finder sees faces (it finds them from about
// 80 pixels on) and at which the search stays cheap for large faces. False
// when the finder finds no face there that overlaps `box` enough to be the
// same face.
bool hogBoxNear(const cv::Mat& image, const cv::Rect& box, cv::Rect& found);

}  // namespace morvik

#endif  // MORVIK_HOG_BOX_H_
