// The image pyramid of dlib's HOG scanner (pyramid_down<6> on colour
// images), with each level kept as three planes of bytes.
//
// dlib resizes a colour image four columns at a time, with the column
// positions summed in float, and the columns left over in double. The
// levels here are computed with those same operations, so every byte is
// the one dlib's level holds; the planes let the feature extractor load
// eight neighbouring pixels of a channel at once.
#ifndef MORVIK_HOG_PYRAMID_H_
#define MORVIK_HOG_PYRAMID_H_

#include <cstdint>
#include <vector>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>

#include "engine/hog/hog_isa.h"

namespace morvik {

// A colour image as planes of red, green and blue bytes, each of nr rows
// of `stride` bytes. Rows are padded so that eight bytes may be loaded
// from any column.
struct ColorLevel {
  long nr = 0, nc = 0, stride = 0;
  std::vector<uint8_t> data;

  void setSize(long rows, long cols);
  uint8_t* plane(int channel) { return data.data() + channel * nr * stride; }
  const uint8_t* plane(int channel) const { return data.data() + channel * nr * stride; }
};

// level = image, as planes.
void levelFromImage(const dlib::cv_image<dlib::bgr_pixel>& image, ColorLevel& level);

// down = dlib's pyramid_down<6> of `in`: 5/6 of its rows and columns.
void pyramidDown(const ColorLevel& in, ColorLevel& down, HogIsa isa = bestHogIsa());

}  // namespace morvik

#endif  // MORVIK_HOG_PYRAMID_H_
