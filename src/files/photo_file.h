// Reading a photo file whole, within a bound set by the decoder's limit:
// a file larger than the largest image the decoder would accept, stored
// uncompressed, cannot hold one, and is refused before a byte is read.
#ifndef MORVIK_FILES_PHOTO_FILE_H_
#define MORVIK_FILES_PHOTO_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace morvik {

// Bytes per pixel of an uncompressed 8-bit colour image, and room for
// headers and metadata (EXIF, ICC profiles, thumbnails).
constexpr uint64_t kPhotoBytesPerPixel = 3;
constexpr uint64_t kPhotoOverheadBytes = uint64_t{1} << 20;

// The most bytes a photo may have when at most `max_pixels` are decoded
// ("image.max_decoded_pixels").
constexpr uint64_t photoByteLimit(uint64_t max_pixels) {
  return max_pixels * kPhotoBytesPerPixel + kPhotoOverheadBytes;
}

// The bytes of the regular file at `path` when it has at most
// photoByteLimit(max_pixels); false with the reason in `error` ("no such
// file", "is a directory", "not a regular file", "empty file", "too large
// for an image").
bool readPhotoFile(const std::string& path, uint64_t max_pixels, std::vector<unsigned char>& bytes,
                   std::string& error);

}  // namespace morvik

#endif  // MORVIK_FILES_PHOTO_FILE_H_
