// The HOG detector's filters in parallel; see hog_detection.h.
#include "engine/hog_detection.h"

#include <algorithm>
#include <utility>

#include "engine/parallel.h"

namespace morvik {

std::vector<dlib::rectangle> detectHog(const HogDetector& detector, const dlib::cv_image<dlib::bgr_pixel>& image,
                                       double adjust_threshold, int threads) {
  // The detector's own scanner is private and loading changes it; a scanner
  // with the same configuration holds this call's pyramid.
  HogScanner scanner;
  scanner.copy_configuration(detector.get_scanner());
  scanner.load(image);

  // Each filter's threshold is the last element of its weight vector.
  const unsigned long filters = detector.num_detectors();
  const long dims = scanner.get_num_dimensions();
  std::vector<std::vector<std::pair<double, dlib::rectangle>>> found(filters);
  parallelFor(static_cast<long>(filters), threads, [&](long i, int) {
    const auto& w = detector.get_processed_w(i);
    scanner.detect(w.get_detect_argument(), found[i], w.w(dims) + adjust_threshold);
  });

  // dlib's merge: all detections in filter order, strongest first, then
  // each one that overlaps none already kept.
  std::vector<dlib::rect_detection> all;
  for (unsigned long i = 0; i < filters; ++i) {
    const double thresh = detector.get_processed_w(i).w(dims);
    for (const auto& d : found[i]) {
      dlib::rect_detection det;
      det.detection_confidence = d.first - thresh;
      det.weight_index = i;
      det.rect = d.second;
      all.push_back(det);
    }
  }
  if (filters > 1) std::sort(all.rbegin(), all.rend());
  const dlib::test_box_overlap& overlaps = detector.get_overlap_tester();
  std::vector<dlib::rectangle> kept;
  for (const dlib::rect_detection& det : all) {
    const bool covered =
        std::any_of(kept.begin(), kept.end(), [&](const dlib::rectangle& r) { return overlaps(r, det.rect); });
    if (!covered) kept.push_back(det.rect);
  }
  return kept;
}

}  // namespace morvik
