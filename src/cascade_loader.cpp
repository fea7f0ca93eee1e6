#include "cascade_loader.h"

#include <fstream>

namespace morvik {

bool loadCascade(cv::CascadeClassifier& cascade, const std::string& path) {
  // OpenCV logs its own error line for a file it cannot open; a missing
  // model is reported by result code only.
  if (!std::ifstream(path).is_open()) return false;
  try {
    return cascade.load(path) && !cascade.empty();
  } catch (const cv::Exception&) {
    return false;
  }
}

}  // namespace morvik
