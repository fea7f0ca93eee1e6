// Loading of OpenCV cascade files for the model caches.
#ifndef MORVIK_CASCADE_LOADER_H_
#define MORVIK_CASCADE_LOADER_H_

#include <string>

#include <opencv2/core.hpp>

#include <opencv2/objdetect.hpp>

namespace morvik {

// False when the file is missing, unreadable or not a cascade (OpenCV throws
// for malformed XML; that is a failed load here, not an error of the call).
bool loadCascade(cv::CascadeClassifier& cascade, const std::string& path);

// The scale factor to hand to detectMultiScale for an image of `image`
// pixels, or 0 when the configured factor cannot be used. OpenCV throws for
// a factor of 1 or less, never ends its size loop once the window size
// leaves the int range, and makes one scaled image per size, so a factor
// barely above 1 would take hours. A factor beyond the image's larger side
// scans the first size only, as every such factor does, and is capped
// there: the detections are the same.
double cascadeScaleFactor(float configured, cv::Size image);

}  // namespace morvik

#endif  // MORVIK_CASCADE_LOADER_H_
