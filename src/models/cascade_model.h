// An OpenCV cascade file ready to search with: the library's own evaluators
// (engine/cascade/cascade_detect.h, for stump Haar and stump LBP cascades)
// when one serves the file, OpenCV's
// cv::CascadeClassifier otherwise. Either way a search returns what
// detectMultiScale returns for the file (in OpenCV's single-threaded order).
#ifndef MORVIK_CASCADE_MODEL_H_
#define MORVIK_CASCADE_MODEL_H_

#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include "engine/cascade/haar_kind.h"
#include "engine/cascade/lbp_kind.h"

namespace morvik {

class CascadeModel {
 public:
  enum class Evaluator { kNone, kHaar, kLbp, kOpenCv };

  // False when the file is missing, neither the own readers nor OpenCV's
  // take it, or it is a Haar or LBP cascade the own readers find damaged
  // (values out of range or missing), which OpenCV would read outside its
  // buffers for; the model is empty then.
  bool load(const std::string& path);

  // Which evaluator holds the cascade.
  Evaluator evaluator() const { return evaluator_; }
  // Whether one of the library's own evaluators holds it.
  bool ownEvaluator() const { return evaluator_ == Evaluator::kHaar || evaluator_ == Evaluator::kLbp; }

  // detectMultiScale(grey, found, scale_factor, min_neighbours, 0,
  // min_size, max_size) for an 8-bit grey image and a factor that
  // cascadeScaleFactor (cascade_loader.h) let through. False, with `found`
  // empty, when the search cannot run (no cascade, an image of another
  // type, or one too large for the own evaluators' scratch memory).
  bool detect(const cv::Mat& grey, std::vector<cv::Rect>& found, double scale_factor, int min_neighbours,
              cv::Size min_size, cv::Size max_size);

 private:
  Evaluator evaluator_ = Evaluator::kNone;
  HaarCascade haar_;
  LbpCascade lbp_;
  cv::CascadeClassifier opencv_;
};

}  // namespace morvik

#endif  // MORVIK_CASCADE_MODEL_H_
