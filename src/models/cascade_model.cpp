// A cascade file for searching, with the library's evaluator when it serves
// the file; see cascade_model.h.
#include "models/cascade_model.h"

#include "engine/haar_detect.h"
#include "models/cascade_loader.h"

namespace morvik {

bool CascadeModel::load(const std::string& path) {
  own_ = loadHaarCascade(path, haar_) == kHaarLoaded;
  if (own_) return true;
  // Old-format, LBP, tree and tilted cascades, and files the own reader
  // finds damaged: OpenCV decides, as it always has.
  return loadCascade(opencv_, path);
}

bool CascadeModel::detect(const cv::Mat& grey, std::vector<cv::Rect>& found, double scale_factor, int min_neighbours,
                          cv::Size min_size, cv::Size max_size) {
  found.clear();
  if (grey.type() != CV_8UC1) return false;
  if (own_) {
    HaarSearch search;
    search.scale_factor = scale_factor;
    search.min_neighbours = min_neighbours;
    search.min_size = min_size;
    search.max_size = max_size;
    return detectHaar(haar_, grey, search, found) == kHaarDetected;
  }
  if (opencv_.empty()) return false;
  opencv_.detectMultiScale(grey, found, scale_factor, min_neighbours, 0, min_size, max_size);
  return true;
}

}  // namespace morvik
