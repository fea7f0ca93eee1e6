// An OpenCV cascade file ready to search with: the library's own evaluator
// (engine/haar_detect.h) when it serves the file, OpenCV's
// cv::CascadeClassifier otherwise. Either way a search returns what
// detectMultiScale returns for the file (in OpenCV's single-threaded order).
#ifndef MORVIK_CASCADE_MODEL_H_
#define MORVIK_CASCADE_MODEL_H_

#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include "engine/haar_cascade.h"

namespace morvik {

class CascadeModel {
 public:
  // False when the file is missing or neither reader takes it; the model is
  // empty then.
  bool load(const std::string& path);

  // Whether the library's own evaluator holds the cascade.
  bool ownEvaluator() const { return own_; }

  // detectMultiScale(grey, found, scale_factor, min_neighbours, 0,
  // min_size, max_size) for an 8-bit grey image and a factor that
  // cascadeScaleFactor (cascade_loader.h) let through. False, with `found`
  // empty, when the search cannot run (no cascade, an image of another
  // type, or one too large for the own evaluator's scratch memory).
  bool detect(const cv::Mat& grey, std::vector<cv::Rect>& found, double scale_factor, int min_neighbours,
              cv::Size min_size, cv::Size max_size);

 private:
  bool own_ = false;
  HaarCascade haar_;
  cv::CascadeClassifier opencv_;
};

}  // namespace morvik

#endif  // MORVIK_CASCADE_MODEL_H_
