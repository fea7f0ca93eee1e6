// Opening a cascade file; see cascade_file.h.
#include "engine/cascade_file.h"

#include <fstream>

namespace morvik {

bool openCascadeFile(const std::string& path, cv::FileStorage& fs) {
  if (!std::ifstream(path).is_open()) return false;
  try {
    return fs.open(path, cv::FileStorage::READ);
  } catch (const cv::Exception&) {
    return false;
  }
}

}  // namespace morvik
