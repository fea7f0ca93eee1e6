// Describing a face from its box in the loaded image, as dlib's own face
// recognition does: the 68 landmarks fitted on the box, the 150x150 chip
// cut from the image by them ("dlib.chip_padding"), the metric network on
// the chip ("describe.jitters" copies averaged when above 1).
#ifndef MORVIK_BOX_DESCRIPTOR_H_
#define MORVIK_BOX_DESCRIPTOR_H_

#include <vector>

#include <opencv2/core.hpp>

#include "morvik/types.h"

namespace morvik {

struct BoxDescription {
  cv::Mat chip;               // the 150x150 chip, 8-bit BGR
  mv::Point left_eye{0, 0};   // landmark eye centres in the image
  mv::Point right_eye{0, 0};
};

// The descriptor of the face in `box` (x, y, width, height; the landmark
// fit gets the inclusive box x, y, x + width - 1, y + height - 1, as a
// detector's box converts) of `image` (8-bit BGR). 0, -7 or -8 as
// DlibExtractFaceVector; a network file that cannot be loaded propagates
// as its exception.
int describeFaceBox(const cv::Mat& image, const cv::Rect& box, BoxDescription& description,
                    std::vector<float>& vector);

}  // namespace morvik

#endif  // MORVIK_BOX_DESCRIPTOR_H_
