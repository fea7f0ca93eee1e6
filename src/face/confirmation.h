// How a candidate face is put before a confirmer: the scale it is brought
// to and the part of the image around it that the confirmer sees. The
// chain's confirmers and the merge of all members share these.
#ifndef MORVIK_FACE_CONFIRMATION_H_
#define MORVIK_FACE_CONFIRMATION_H_

#include <opencv2/core.hpp>

#include "morvik/findface.h"

namespace morvik {

// The factor that brings a candidate `face_width` pixels wide to about
// `target_width`; 0.0 (no scaling) when the target is off (0 or less) or
// the width is already within 3 pixels of it.
double confirmScaleFactor(int face_width, int target_width);

// Asks `confirmer` about `face` (pixels of `image`), showing it the face
// with a quarter of its width as margin on every side (less where the image
// starts). True when it agrees; `face` is then the confirmer's rectangle in
// pixels of `image`. A candidate outside the image is never confirmed.
bool confirmInContext(FaceConfirmer& confirmer, const cv::Mat& image, cv::Rect& face);

}  // namespace morvik

#endif  // MORVIK_FACE_CONFIRMATION_H_
