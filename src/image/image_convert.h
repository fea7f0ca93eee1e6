// Image handling: reading files and decoding image bytes (image_io.cpp),
// the working-size rule that decides how large an image every finder and
// the eye search see, scaling to it and clipping rectangles
// (image_scaling.cpp), the conversion of caller images into the pixels the
// pipeline works on (this header), and turning a face upright by its eyes
// and cutting it out (alignment, region_warp). The functions exported for
// hosts are declared in morvik/image.h.
//
// The one rule for turning caller images into the pixels the pipeline works
// on: 8-bit BGR for everything that looks at colour, 8-bit grey for the
// cascades. Every step that receives an image from outside goes through here.
#ifndef MORVIK_IMAGE_CONVERT_H_
#define MORVIK_IMAGE_CONVERT_H_

#include <opencv2/core.hpp>

namespace morvik {

// 0 when `image` holds 8-bit pixels with 1, 3 or 4 channels; -9 when it is
// empty; -2 for any other depth or channel count.
int checkImage8(const cv::Mat& image);

// Makes `bgr` an 8-bit three-channel BGR image with its own buffer: grey is
// expanded, an alpha channel is dropped, BGR is copied. `src` and `bgr` must
// be different objects. Returns the code of checkImage8; `bgr` is left alone
// on failure.
int toBgr8(const cv::Mat& src, cv::Mat& bgr);

// Makes `grey` an 8-bit one-channel image: a header sharing `src`'s pixels
// when `src` already is one, otherwise a converted copy. Same codes as above.
int toGrey8(const cv::Mat& src, cv::Mat& grey);

}  // namespace morvik

#endif  // MORVIK_IMAGE_CONVERT_H_
