// A cascade file for searching, with the library's evaluators when one
// serves the file; see cascade_model.h.
#include "models/cascade_model.h"

#include "engine/cascade/cascade_detect.h"
#include "models/cascade_loader.h"

namespace morvik {
namespace {

CascadeSearch searchOf(double scale_factor, int min_neighbours, cv::Size min_size, cv::Size max_size) {
  CascadeSearch search;
  search.scale_factor = scale_factor;
  search.min_neighbours = min_neighbours;
  search.min_size = min_size;
  search.max_size = max_size;
  return search;
}

}  // namespace

bool CascadeModel::load(const std::string& path) {
  evaluator_ = Evaluator::kNone;
  const CascadeLoadResult haar = readCascadeFile(path, haar_);
  if (haar == kCascadeLoaded) {
    evaluator_ = Evaluator::kHaar;
    return true;
  }
  const CascadeLoadResult lbp = readCascadeFile(path, lbp_);
  if (lbp == kCascadeLoaded) {
    evaluator_ = Evaluator::kLbp;
    return true;
  }
  // Damaged files OpenCV's classifier either refuses too or takes and then
  // reads past its buffers with (a feature index beyond the features, a
  // rectangle outside the window).
  if (haar == kCascadeDamaged || lbp == kCascadeDamaged) return false;
  // Old-format, tree and tilted cascades and LBP files of other category
  // counts: OpenCV decides, as it always has.
  if (!loadCascade(opencv_, path)) return false;
  evaluator_ = Evaluator::kOpenCv;
  return true;
}

bool CascadeModel::detect(const cv::Mat& grey, std::vector<cv::Rect>& found, double scale_factor, int min_neighbours,
                          cv::Size min_size, cv::Size max_size) {
  found.clear();
  if (grey.type() != CV_8UC1) return false;
  const CascadeSearch search = searchOf(scale_factor, min_neighbours, min_size, max_size);
  switch (evaluator_) {
    case Evaluator::kHaar:
      return detectCascade(haar_, grey, search, found) == kCascadeDetected;
    case Evaluator::kLbp:
      return detectCascade(lbp_, grey, search, found) == kCascadeDetected;
    case Evaluator::kOpenCv:
      opencv_.detectMultiScale(grey, found, scale_factor, min_neighbours, 0, min_size, max_size);
      return true;
    case Evaluator::kNone:
      break;
  }
  return false;
}

}  // namespace morvik
