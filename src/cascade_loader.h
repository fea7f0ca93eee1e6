// Loading of OpenCV cascade files for the model caches.
#ifndef MORVIK_CASCADE_LOADER_H_
#define MORVIK_CASCADE_LOADER_H_

#include <string>

#include <opencv2/objdetect.hpp>

namespace morvik {

// False when the file is missing, unreadable or not a cascade (OpenCV throws
// for malformed XML; that is a failed load here, not an error of the call).
bool loadCascade(cv::CascadeClassifier& cascade, const std::string& path);

}  // namespace morvik

#endif  // MORVIK_CASCADE_LOADER_H_
