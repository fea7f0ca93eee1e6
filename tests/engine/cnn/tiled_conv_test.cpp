// The convolution layer with kept scratch memory: unbanded it must give
// dlib's results bit for bit (descriptors are compared exactly by hosts);
// banded, every output pixel must come from its own band.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

#include <dlib/dnn.h>
#include <gtest/gtest.h>

#include "engine/cnn/tiled_conv.h"

namespace {

struct Case {
  long samples, channels, rows, cols;
  long filters, filter_nr, filter_nc, stride, padding;
};

void randomize(dlib::resizable_tensor& t, unsigned long seed) {
  dlib::rand rnd(seed);
  for (float& v : t) v = static_cast<float>(rnd.get_random_gaussian());
}

// dlib's own convolution of the same data, the reference.
dlib::resizable_tensor dlibConvolution(const Case& c, const dlib::tensor& data, const dlib::tensor& filters) {
  dlib::tt::tensor_conv conv;
  conv.setup(data, filters, c.stride, c.stride, c.padding, c.padding);
  dlib::resizable_tensor out;
  conv(false, out, data, filters);
  return out;
}

bool sameBits(const dlib::tensor& a, const dlib::tensor& b) {
  return a.num_samples() == b.num_samples() && a.k() == b.k() && a.nr() == b.nr() && a.nc() == b.nc() &&
         std::memcmp(a.host(), b.host(), a.size() * sizeof(float)) == 0;
}

// Largest difference relative to the largest magnitude in the reference.
float relativeDifference(const dlib::tensor& expected, const dlib::tensor& actual) {
  float scale = 0.0f, diff = 0.0f;
  for (size_t i = 0; i < expected.size(); ++i) {
    scale = std::max(scale, std::abs(expected.host()[i]));
    diff = std::max(diff, std::abs(expected.host()[i] - actual.host()[i]));
  }
  return scale > 0.0f ? diff / scale : diff;
}

class TiledConvolution : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    const Case c = GetParam();
    data.set_size(c.samples, c.channels, c.rows, c.cols);
    filters.set_size(c.filters, c.channels, c.filter_nr, c.filter_nc);
    randomize(data, 1);
    randomize(filters, 2);
    expected = dlibConvolution(c, data, filters);
  }

  dlib::resizable_tensor convolve(size_t budget) {
    const Case c = GetParam();
    dlib::resizable_tensor out;
    morvik::convolveTiled(data, filters.host(), c.filters, c.filter_nr, c.filter_nc, c.stride, c.stride, c.padding,
                          c.padding, out, budget);
    return out;
  }

  dlib::resizable_tensor data, filters, expected;
};

TEST_P(TiledConvolution, UnbandedIsDlibBitForBit) {
  EXPECT_TRUE(sameBits(expected, convolve(morvik::kConvUnbanded)));
  // The kept scratch buffer is reused, and its old contents do not leak in.
  EXPECT_TRUE(sameBits(expected, convolve(morvik::kConvUnbanded)));
}

TEST_P(TiledConvolution, BandsCoverEveryOutputOnce) {
  const Case c = GetParam();
  const size_t pixel_bytes = sizeof(float) * c.channels * c.filter_nr * c.filter_nc;
  // Bands of about 200 and 64 pixels, and the smallest band.
  for (size_t budget : {pixel_bytes * 200, pixel_bytes * 64, size_t{1}}) {
    const dlib::resizable_tensor out = convolve(budget);
    ASSERT_EQ(expected.nr(), out.nr());
    ASSERT_EQ(expected.nc(), out.nc());
    ASSERT_EQ(expected.k(), out.k());
    // Only the rounding of partial sums may differ; a misplaced band would
    // differ by whole values.
    EXPECT_LT(relativeDifference(expected, out), 1e-5f) << "budget " << budget;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, TiledConvolution,
    ::testing::Values(Case{1, 3, 61, 47, 16, 5, 5, 2, 0},    // the detector's downsampling layers
                      Case{1, 32, 23, 29, 45, 5, 5, 1, 2},   // its padded 5x5 layers
                      Case{1, 45, 19, 17, 1, 9, 9, 1, 4},    // its single 9x9 output filter
                      Case{2, 3, 40, 40, 32, 7, 7, 2, 0},    // the descriptor's stem, two samples
                      Case{1, 8, 12, 12, 8, 3, 3, 1, 1},     // a residual block
                      Case{1, 4, 5, 5, 3, 5, 5, 1, 2}));     // a filter as large as the input

TEST(TiledConvolution, RefusesAFilterLargerThanThePaddedInput) {
  dlib::resizable_tensor data(1, 1, 4, 4), out;
  const float filters[7 * 7] = {};
  EXPECT_THROW(morvik::convolveTiled(data, filters, 1, 7, 7, 1, 1, 1, 1, out, morvik::kConvUnbanded),
               dlib::fatal_error);
}

// The layer in a network: same output as dlib's con layer with the same
// weights, read from dlib's own serialisation of that layer.
TEST(TiledConvolution, LayerReadsDlibsFormatAndComputesTheSameOutput) {
  using Input = dlib::input<dlib::matrix<float>>;
  dlib::con<6, 3, 3, 1, 1, Input> plain;
  dlib::matrix<float> image = dlib::matrix_cast<float>(dlib::randm(20, 30));
  plain(image);  // sets up random weights
  std::stringstream stream;
  serialize(plain, stream);  // found by ADL, as dlib itself calls it

  morvik::tcon<6, 3, 3, 1, 1, Input> tiled;
  deserialize(tiled, stream);
  EXPECT_TRUE(sameBits(plain(image), tiled(image)));
}

}  // namespace
