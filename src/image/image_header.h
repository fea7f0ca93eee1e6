// The dimensions an encoded image declares, read from its header alone.
//
// cv::imdecode allocates the pixels a header claims before it reads any of
// them, so a file of a few hundred bytes can ask for gigabytes; OpenCV 4.6
// has no public way to learn the size without decoding. This reads the
// headers of the formats its decoders take, the way those decoders read
// them, so that an oversized image can be turned away first. It is written
// for hostile input: every read is bounds-checked and every walk through the
// data only moves forward.
#ifndef MORVIK_IMAGE_HEADER_H_
#define MORVIK_IMAGE_HEADER_H_

#include <cstddef>
#include <cstdint>

namespace morvik {

// True when `data` starts as a PNG, JPEG, BMP, PNM/PAM, WebP, TIFF, Sun
// raster or Radiance HDR image whose header gives its dimensions: `width`
// and `height` are then the ones the decoder allocates (a zero, which the
// decoder refuses, is reported as such; a JPEG's EXIF orientation may swap
// the two, the pixel count stays). False when the format is none of these or
// the header is cut short or malformed: the decoder then has the last word.
// Never reads outside [data, data + length).
bool peekImageSize(const unsigned char* data, size_t length, uint64_t& width, uint64_t& height);

}  // namespace morvik

#endif  // MORVIK_IMAGE_HEADER_H_
