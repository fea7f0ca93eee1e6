// A check of a new-format OpenCV cascade file before OpenCV's
// CascadeClassifier is given it. OpenCV 4.6 reads such files without
// checking their values and then indexes with them: a tree whose node
// count and leaf count disagree shifts every later tree's leaves, a child
// index or feature index beyond its array, a fourth rectangle of a feature,
// or a rectangle outside the window make it read or write past its buffers,
// and a child that points back makes the search loop for ever.
#ifndef MORVIK_OPENCV_CASCADE_CHECK_H_
#define MORVIK_OPENCV_CASCADE_CHECK_H_

#include <string>

namespace morvik {

// False when `path` cannot be opened (cascade_file.h) or is a new-format
// Haar or LBP cascade with values OpenCV would misread as above. Files in
// other formats (the old Haar format) are left for OpenCV to take or refuse.
bool openCvMayReadCascade(const std::string& path);

}  // namespace morvik

#endif  // MORVIK_OPENCV_CASCADE_CHECK_H_
