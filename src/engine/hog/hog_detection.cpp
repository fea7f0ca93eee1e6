// The HOG detector with a scan of our own; see hog_detection.h.
#include "engine/hog/hog_detection.h"

#include <algorithm>
#include <utility>

#include "engine/hog/hog_features.h"
#include "engine/hog/hog_filters.h"
#include "engine/hog/hog_pyramid.h"
#include "engine/parallel.h"

namespace morvik {
namespace {

using Detections = std::vector<std::pair<double, dlib::rectangle>>;

// dlib's merge: all detections in filter order, strongest first, then each
// one that overlaps none already kept. thresholds[i] is filter i's own.
std::vector<dlib::rect_detection> merge(const HogDetector& detector, const std::vector<Detections>& found,
                                        const std::vector<double>& thresholds) {
  std::vector<dlib::rect_detection> all;
  for (size_t i = 0; i < found.size(); ++i) {
    for (const auto& d : found[i]) {
      dlib::rect_detection det;
      det.detection_confidence = d.first - thresholds[i];
      det.weight_index = i;
      det.rect = d.second;
      all.push_back(det);
    }
  }
  if (found.size() > 1) std::sort(all.rbegin(), all.rend());
  const dlib::test_box_overlap& overlaps = detector.get_overlap_tester();
  std::vector<dlib::rect_detection> kept;
  for (const dlib::rect_detection& det : all) {
    const bool covered = std::any_of(kept.begin(), kept.end(),
                                     [&](const dlib::rect_detection& k) { return overlaps(k.rect, det.rect); });
    if (!covered) kept.push_back(det);
  }
  return kept;
}

std::vector<double> ownThresholds(const HogDetector& detector) {
  const long dims = detector.get_scanner().get_num_dimensions();
  std::vector<double> t;
  for (unsigned long i = 0; i < detector.num_detectors(); ++i) t.push_back(detector.get_processed_w(i).w(dims));
  return t;
}

// dlib's scanner, with the filters on several threads: for what the own
// scan does not cover (cells of one pixel, filters dlib slides whole).
std::vector<dlib::rect_detection> detectWithDlibsScanner(const HogDetector& detector,
                                                         const dlib::cv_image<dlib::bgr_pixel>& image,
                                                         double adjust_threshold, int threads) {
  // The detector's own scanner is private and loading changes it; a scanner
  // with the same configuration holds this call's pyramid.
  HogScanner scanner;
  scanner.copy_configuration(detector.get_scanner());
  scanner.load(image);
  const std::vector<double> thresholds = ownThresholds(detector);
  std::vector<Detections> found(detector.num_detectors());
  parallelFor(static_cast<long>(found.size()), threads, [&](long i, int) {
    scanner.detect(detector.get_processed_w(i).get_detect_argument(), found[i], thresholds[i] + adjust_threshold);
  });
  return merge(detector, found, thresholds);
}

// How many levels dlib's scanner builds for an image of this size.
unsigned long levelCount(const HogScanner& config, long nr, long nc) {
  dlib::pyramid_down<6> pyr;
  dlib::rectangle rect(nc, nr);
  unsigned long levels = 0;
  do {
    rect = pyr.rect_down(rect);
    ++levels;
  } while (rect.width() >= config.get_min_pyramid_layer_width() &&
           rect.height() >= config.get_min_pyramid_layer_height() && levels < config.get_max_pyramid_levels());
  return levels;
}

// What one worker keeps between the levels it scans.
struct LevelScratch {
  HogPlanes hog;
  ScoreImage scores;
  std::vector<float> pass;
};

}  // namespace

std::vector<dlib::rectangle> detectHog(const HogDetector& detector, const dlib::cv_image<dlib::bgr_pixel>& image,
                                       double adjust_threshold, int threads) {
  const std::vector<dlib::rect_detection> found = detectHogScored(detector, image, adjust_threshold, threads);
  std::vector<dlib::rectangle> rects;
  rects.reserve(found.size());
  for (const dlib::rect_detection& d : found) rects.push_back(d.rect);
  return rects;
}

std::vector<dlib::rect_detection> detectHogScored(const HogDetector& detector,
                                                  const dlib::cv_image<dlib::bgr_pixel>& image,
                                                  double adjust_threshold, int threads) {
  const HogScanner& config = detector.get_scanner();
  const unsigned long num_filters = detector.num_detectors();
  std::vector<HogFilter> filters(num_filters);
  bool own = config.get_cell_size() >= 2;
  for (unsigned long i = 0; own && i < num_filters; ++i) {
    const auto& bank = detector.get_processed_w(i).get_detect_argument();
    own = separableFilter(bank.filters, bank.row_filters, bank.col_filters, filters[i]);
  }
  if (!own) return detectWithDlibsScanner(detector, image, adjust_threshold, threads);

  const int cell_size = static_cast<int>(config.get_cell_size());
  const long fhog_nr = static_cast<long>(config.get_fhog_window_height());
  const long fhog_nc = static_cast<long>(config.get_fhog_window_width());
  const long padding = static_cast<long>(config.get_padding());
  const long box_nr = fhog_nr - 2 * padding, box_nc = fhog_nc - 2 * padding;

  std::vector<ColorLevel> levels(levelCount(config, image.nr(), image.nc()));
  levelFromImage(image, levels[0]);
  for (size_t l = 1; l < levels.size(); ++l) pyramidDown(levels[l - 1], levels[l]);

  const std::vector<double> thresholds = ownThresholds(detector);
  // found[l][i]: filter i's detections on level l, in dlib's scan order.
  std::vector<std::vector<Detections>> found(levels.size(), std::vector<Detections>(num_filters));
  const int workers = std::max(1, std::min<int>(threads, static_cast<int>(levels.size())));
  std::vector<LevelScratch> scratch(workers);
  const dlib::default_fhog_feature_extractor& fe = config.get_feature_extractor();
  parallelFor(static_cast<long>(levels.size()), workers, [&](long l, int worker) {
    LevelScratch& s = scratch[worker];
    extractFhog(levels[l], cell_size, fhog_nr, fhog_nc, s.hog);
    dlib::pyramid_down<6> pyr;
    for (unsigned long i = 0; i < num_filters; ++i) {
      const dlib::rectangle area = scoreImage(filters[i], s.hog, s.scores, s.pass);
      const double thresh = thresholds[i] + adjust_threshold;
      for (long r = area.top(); r <= area.bottom(); ++r) {
        const float* row = s.scores.row(r);
        for (long c = area.left(); c <= area.right(); ++c) {
          if (row[c] < thresh) continue;
          const dlib::rectangle box = fe.feats_to_image(dlib::centered_rect(dlib::point(c, r), box_nc, box_nr),
                                                        cell_size, fhog_nr, fhog_nc);
          found[l][i].emplace_back(row[c], pyr.rect_up(box, l));
        }
      }
    }
  });

  // Each filter's detections over all levels, sorted as dlib sorts them.
  std::vector<Detections> per_filter(num_filters);
  for (unsigned long i = 0; i < num_filters; ++i) {
    for (const auto& level : found) per_filter[i].insert(per_filter[i].end(), level[i].begin(), level[i].end());
    std::sort(per_filter[i].rbegin(), per_filter[i].rend(), dlib::impl::compare_pair_rect);
  }
  return merge(detector, per_filter, thresholds);
}

}  // namespace morvik
