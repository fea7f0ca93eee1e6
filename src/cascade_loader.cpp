#include "cascade_loader.h"

namespace morvik {

bool loadCascade(cv::CascadeClassifier& cascade, const std::string& path) {
  try {
    return cascade.load(path) && !cascade.empty();
  } catch (const cv::Exception&) {
    return false;
  }
}

}  // namespace morvik
