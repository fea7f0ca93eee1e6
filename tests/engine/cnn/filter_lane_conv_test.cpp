// The descriptor network's direct convolution: dlib's results up to the
// rounding of partial sums, for every output (padded edges, a map whose
// pixel count no run divides, a block of filters completed with zeros,
// several samples), whatever the thread count.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <dlib/dnn.h>
#include <gtest/gtest.h>

#include "engine/cnn/conv_test_tensors.h"

#include "engine/cnn/filter_lane_conv.h"

namespace {

using conv_test::randomize;
using conv_test::relativeDifference;
using conv_test::sameBits;

struct Case {
  long samples, channels, rows, cols;
  long filters, filter_size, stride, padding;
};

class FilterLaneConvolution : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    const Case c = GetParam();
    data.set_size(c.samples, c.channels, c.rows, c.cols);
    filters.set_size(c.filters, c.channels, c.filter_size, c.filter_size);
    biases.set_size(1, c.filters);
    randomize(data, 1);
    randomize(filters, 2);
    randomize(biases, 3);

    dlib::tt::tensor_conv conv;
    conv.setup(data, filters, c.stride, c.stride, c.padding, c.padding);
    conv(false, expected, data, filters);
    with_bias = expected;
    dlib::tt::add(1, with_bias, 1, biases);
  }

  // false when this processor has no kernel.
  bool convolve(const float* bias, int threads, dlib::resizable_tensor& out,
                const morvik::ConvEpilogue* epilogue = nullptr,
                morvik::FilterLaneIsa isa = morvik::bestFilterLaneIsa()) {
    const Case c = GetParam();
    return morvik::convolveFilterLanes(data, filters.host(), bias, c.filters, c.filter_size, c.filter_size,
                                       c.stride, c.stride, c.padding, c.padding, out, epilogue, threads, isa);
  }

  dlib::resizable_tensor data, filters, biases, expected, with_bias;
};

TEST_P(FilterLaneConvolution, MatchesDlibWithAndWithoutBiases) {
  dlib::resizable_tensor out;
  if (!convolve(nullptr, 1, out)) GTEST_SKIP() << "no AVX2 on this processor";
  // A wrong tap, pixel or filter differs by whole values, not by 1e-5.
  EXPECT_LT(relativeDifference(expected, out), 1e-5f);
  ASSERT_TRUE(convolve(biases.host(), 1, out));
  EXPECT_LT(relativeDifference(with_bias, out), 1e-5f);
}

TEST_P(FilterLaneConvolution, ThreadsDoNotChangeABit) {
  dlib::resizable_tensor one, three;
  if (!convolve(biases.host(), 1, one)) GTEST_SKIP() << "no AVX2 on this processor";
  ASSERT_TRUE(convolve(biases.host(), 3, three));
  EXPECT_TRUE(sameBits(one, three));
}

// AVX-512 runs are twice as wide and hold two blocks, with the tails of
// maps and filter blocks falling elsewhere; the sums stay AVX2's.
TEST_P(FilterLaneConvolution, InstructionSetsGiveTheSameBits) {
  const Case c = GetParam();
  dlib::resizable_tensor scale(1, c.filters), shift(1, c.filters);
  randomize(scale, 6);
  randomize(shift, 7);
  const morvik::ConvEpilogue both{scale.host(), shift.host(), true};
  dlib::resizable_tensor avx2, avx512;
  if (!convolve(biases.host(), 1, avx2, &both, morvik::FilterLaneIsa::kAvx2)) GTEST_SKIP() << "no AVX2";
  if (!convolve(biases.host(), 2, avx512, &both, morvik::FilterLaneIsa::kAvx512)) GTEST_SKIP() << "no AVX-512";
  EXPECT_TRUE(sameBits(avx2, avx512));
}

// The epilogue writes what dlib's affine and relu layers write over the
// stored sums, bit for bit, including the sign of zeros and NaN inputs.
TEST_P(FilterLaneConvolution, EpilogueIsDlibsAffineAndRelu) {
  const Case c = GetParam();
  dlib::resizable_tensor scale(1, c.filters), shift(1, c.filters);
  randomize(scale, 4);
  randomize(shift, 5);
  // Filter 0 scales by -1 and shifts by -0: a zero sum becomes -0.0,
  // which relu keeps.
  scale.host()[0] = -1.0f;
  shift.host()[0] = -0.0f;
  std::fill_n(filters.host(), filters.size() / c.filters, 0.0f);
  biases.host()[0] = 0.0f;
  data.host()[data.size() - 1] = NAN;

  dlib::resizable_tensor plain, fused, fused_affine;
  if (!convolve(biases.host(), 1, plain)) GTEST_SKIP() << "no AVX2 on this processor";
  dlib::resizable_tensor expected_affine;
  expected_affine.copy_size(plain);
  dlib::tt::affine_transform_conv(expected_affine, plain, scale, shift);
  dlib::resizable_tensor expected_relu = expected_affine;
  dlib::tt::relu(expected_relu, expected_relu);

  const morvik::ConvEpilogue affine_only{scale.host(), shift.host(), false};
  ASSERT_TRUE(convolve(biases.host(), 1, fused_affine, &affine_only));
  EXPECT_TRUE(sameBits(expected_affine, fused_affine));
  const morvik::ConvEpilogue both{scale.host(), shift.host(), true};
  ASSERT_TRUE(convolve(biases.host(), 2, fused, &both));
  EXPECT_TRUE(sameBits(expected_relu, fused));
  EXPECT_TRUE(std::signbit(fused.host()[0])) << "-0.0 kept";
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, FilterLaneConvolution,
    ::testing::Values(Case{1, 3, 150, 150, 32, 7, 2, 0},   // the descriptor's first layer
                      Case{1, 32, 35, 35, 32, 3, 1, 1},    // its widest residual maps
                      Case{1, 32, 35, 35, 64, 3, 2, 0},    // a downsampling layer
                      Case{1, 128, 8, 8, 256, 3, 2, 0},    // maps of 3 pixels by 3
                      Case{1, 256, 4, 4, 256, 3, 1, 1},    // 16 pixels: the last run partial
                      Case{1, 64, 17, 17, 48, 3, 1, 1},    // three blocks: two runs of blocks differ
                      Case{3, 5, 7, 9, 20, 3, 1, 1},       // samples, a partial block of filters
                      Case{1, 2, 5, 5, 3, 5, 1, 2},        // a filter as large as the input
                      Case{2, 4, 11, 6, 1, 4, 3, 2}));     // one filter, an even size, stride 3

TEST(FilterLaneConvolutionShapes, LeavesShapesItDoesNotServeToTheCaller) {
  dlib::resizable_tensor data(1, 2, 6, 6), out(1, 1, 1, 1);
  out.host()[0] = 42.0f;
  const std::vector<float> filters(4 * 2 * 9 * 9, 1.0f);
  // A filter larger than the padded input, padding as large as the filter,
  // no stride.
  EXPECT_FALSE(morvik::convolveFilterLanes(data, filters.data(), nullptr, 4, 9, 9, 1, 1, 1, 1, out));
  EXPECT_FALSE(morvik::convolveFilterLanes(data, filters.data(), nullptr, 4, 3, 3, 1, 1, 3, 3, out));
  EXPECT_FALSE(morvik::convolveFilterLanes(data, filters.data(), nullptr, 4, 3, 3, 0, 1, 0, 0, out));
  EXPECT_EQ(1u, out.size());
  EXPECT_EQ(42.0f, out.host()[0]);
}

}  // namespace
