// Decoding of encoded image bytes within the decoded-size limit.
//
// A file of a few hundred bytes can claim 60000 x 60000 pixels in its
// header, and the decoder allocates them before it finds the data missing.
// Every decode in the library goes through here: the header's dimensions are
// read first and an image over "image.max_decoded_pixels" is refused before
// anything is allocated; formats whose header is not read here are checked
// once decoded.
#ifndef MORVIK_IMAGE_IMAGE_DECODE_H_
#define MORVIK_IMAGE_IMAGE_DECODE_H_

#include <cstddef>
#include <cstdint>

#include <opencv2/core.hpp>

namespace morvik {

// Whether an image of width x height may be decoded.
bool decodableSize(uint64_t width, uint64_t height);

// Decodes `length` bytes at `bytes` (read in place) with cv::imdecode's
// `flags` into `image`. -2 for bytes that do not decode, for an image over
// the limit and for more bytes than the decoder can take; `image` is empty
// then. Exceptions of the decoder pass through.
int decodeWithinLimit(const void* bytes, size_t length, int flags, cv::Mat& image);

}  // namespace morvik

#endif  // MORVIK_IMAGE_IMAGE_DECODE_H_
