// Opening an OpenCV cascade file for the library's own cascade readers
// (haar_cascade.h, lbp_cascade.h).
#ifndef MORVIK_CASCADE_FILE_H_
#define MORVIK_CASCADE_FILE_H_

#include <string>

#include <opencv2/core.hpp>

namespace morvik {

// Opens `path` for reading. False when the file is missing or is not XML,
// YAML or JSON that cv::FileStorage parses; a missing file is reported by
// the result only, where OpenCV would log an error line.
bool openCascadeFile(const std::string& path, cv::FileStorage& fs);

}  // namespace morvik

#endif  // MORVIK_CASCADE_FILE_H_
