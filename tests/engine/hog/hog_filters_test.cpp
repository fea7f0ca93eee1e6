// The HOG scan's filter scores are the ones dlib's scanner leaves in its
// saliency image, to the bit, over the same area: for each filter of the
// frontal face model and for separable filters of other sizes, with either
// kernel. Filters dlib slides whole are refused.
#include <cstring>
#include <string>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <gtest/gtest.h>

#include "engine/hog/hog_detection.h"
#include "engine/hog/hog_filters.h"
#include "engine/hog/hog_test_images.h"
#include "support/test_support.h"

namespace {

using Bank = morvik::HogScanner::fhog_filterbank;

morvik::HogPlanes planesOf(const dlib::array<dlib::array2d<float>>& feats) {
  morvik::HogPlanes hog;
  hog.setSize(feats[0].nr(), feats[0].nc());
  for (int p = 0; p < morvik::kHogPlanes; ++p)
    for (long r = 0; r < hog.nr; ++r)
      if (hog.nc > 0) std::memcpy(hog.plane(p) + r * hog.stride, &feats[p][r][0], sizeof(float) * hog.nc);
  return hog;
}

// Scores of every filter on the features of `bgr`, against dlib's.
void expectDlibsScores(const cv::Mat& bgr, const std::vector<Bank>& banks, long fhog_nr, long fhog_nc) {
  dlib::array<dlib::array2d<float>> feats;
  dlib::extract_fhog_features(dlib::cv_image<dlib::bgr_pixel>(bgr), feats, 8, fhog_nr, fhog_nc);
  const morvik::HogPlanes hog = planesOf(feats);
  for (size_t i = 0; i < banks.size(); ++i) {
    morvik::HogFilter filter;
    ASSERT_TRUE(morvik::separableFilter(banks[i].filters, banks[i].row_filters, banks[i].col_filters, filter));
    dlib::array2d<float> saliency;
    const dlib::rectangle expected_area = dlib::impl::apply_filters_to_fhog(banks[i], feats, saliency);
    for (morvik::HogIsa isa : hog_testing::runnableIsas()) {
      const std::string name = std::to_string(bgr.cols) + "x" + std::to_string(bgr.rows) + ", filter " +
                               std::to_string(i) + ", " + hog_testing::isaName(isa);
      morvik::ScoreImage scores;
      std::vector<float> scratch;
      const dlib::rectangle area = morvik::scoreImage(filter, hog, scores, scratch, isa);
      ASSERT_EQ(expected_area.is_empty(), area.is_empty()) << name;
      if (area.is_empty()) continue;
      ASSERT_EQ(expected_area, area) << name;
      for (long r = area.top(); r <= area.bottom(); ++r)
        ASSERT_EQ(0, std::memcmp(&saliency[r][area.left()], scores.row(r) + area.left(), sizeof(float) * area.width()))
            << name << ": row " << r;
    }
  }
}

std::vector<Bank> faceBanks() {
  const dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
  std::vector<Bank> banks;
  for (unsigned long i = 0; i < detector.num_detectors(); ++i)
    banks.push_back(detector.get_processed_w(i).get_detect_argument());
  return banks;
}

TEST(HogFilters, ScoresOfTheFaceModelAreDlibs) {
  const std::vector<Bank> banks = faceBanks();
  const cv::Mat photo = testing_support::photo("faces/2008_001322.jpg");
  ASSERT_FALSE(photo.empty());
  cv::Mat small;
  cv::resize(photo, small, cv::Size(97, 83), 0, 0, cv::INTER_AREA);
  // Sizes whose rows of scores end in full groups of eight and in partial ones.
  for (const cv::Mat& image : {photo, small, hog_testing::noiseImage(250, 333, 5), hog_testing::blobImage(480, 640, 6),
                               hog_testing::blobImage(121, 200, 7)})
    expectDlibsScores(image, banks, 10, 10);
}

// A filter of rows x cols cells whose planes are sums of `rank` outer
// products of seeded random vectors.
dlib::matrix<double, 0, 1> lowRankWeights(long rows, long cols, int rank, unsigned long seed) {
  dlib::rand rnd(seed);
  dlib::matrix<double, 0, 1> w(rows * cols * morvik::kHogPlanes + 1);
  w = 0;
  for (int p = 0; p < morvik::kHogPlanes; ++p) {
    for (int k = 0; k < rank; ++k) {
      dlib::matrix<double, 0, 1> u(rows), v(cols);
      for (long i = 0; i < rows; ++i) u(i) = rnd.get_random_gaussian();
      for (long j = 0; j < cols; ++j) v(j) = rnd.get_random_gaussian();
      for (long i = 0; i < rows; ++i)
        for (long j = 0; j < cols; ++j) w(p * rows * cols + i * cols + j) += u(i) * v(j) * 0.05;
    }
  }
  return w;
}

TEST(HogFilters, ScoresOfSeparableFiltersOfOtherSizesAreDlibs) {
  const cv::Mat image = hog_testing::blobImage(300, 420, 8);
  // Windows of 6 x 13 and 15 x 7 cells: taps in no whole number of triples.
  for (const auto& window : {std::pair<long, long>{48, 104}, std::pair<long, long>{120, 56}}) {
    morvik::HogScanner scanner;
    scanner.set_detection_window_size(window.second, window.first);
    scanner.set_padding(0);
    const long rows = scanner.get_fhog_window_height(), cols = scanner.get_fhog_window_width();
    const Bank bank = scanner.build_fhog_filterbank(lowRankWeights(rows, cols, 1, rows * 100 + cols));
    ASSERT_EQ(bank.num_separable_filters(), size_t(morvik::kHogPlanes));
    expectDlibsScores(image, {bank}, rows, cols);
  }
}

TEST(HogFilters, RefusesFiltersDlibSlidesWhole) {
  morvik::HogScanner scanner;
  scanner.set_detection_window_size(80, 80);
  scanner.set_padding(0);
  const Bank bank = scanner.build_fhog_filterbank(lowRankWeights(10, 10, 6, 3));
  morvik::HogFilter filter;
  EXPECT_FALSE(morvik::separableFilter(bank.filters, bank.row_filters, bank.col_filters, filter));
}

}  // namespace
