// Opening an OpenCV cascade file, for the library's own cascade reader
// (cascade.h) and before OpenCV's CascadeClassifier is given one
// (models/cascade_loader.h).
#ifndef MORVIK_CASCADE_FILE_H_
#define MORVIK_CASCADE_FILE_H_

#include <cstddef>
#include <string>

#include <opencv2/core.hpp>

namespace morvik {

// Larger than any cascade OpenCV ships (the largest is under 3 MB); a file
// beyond it is not read.
constexpr size_t kMaxCascadeFileBytes = size_t{64} << 20;

// Whether OpenCV's file reader may be given `path`: false when the file is
// missing, unreadable, larger than kMaxCascadeFileBytes, or text with a NUL
// byte in it, on which OpenCV 4.6's XML reader follows a null pointer.
// Cascade files are text, so no cascade is refused for it. A name ending in
// ".gz" is read by OpenCV through zlib: its bytes are not the text, and it
// is let through as before.
bool cascadeFileReadable(const std::string& path);

// Opens `path` for reading. False when cascadeFileReadable refuses it or it
// is not XML, YAML or JSON that cv::FileStorage parses; a missing file is
// reported by the result only, where OpenCV would log an error line.
bool openCascadeFile(const std::string& path, cv::FileStorage& fs);

}  // namespace morvik

#endif  // MORVIK_CASCADE_FILE_H_
