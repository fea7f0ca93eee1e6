// The face detector's direct convolution: dlib's results up to the rounding
// of partial sums, for every output (edges, the last partial run of a row,
// the block of filters completed with zeros), whatever the thread count.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <dlib/dnn.h>
#include <gtest/gtest.h>

#include "engine/cnn/conv_test_tensors.h"

#include "engine/cnn/direct_conv.h"

namespace {

using conv_test::randomize;
using conv_test::relativeDifference;
using conv_test::sameBits;

struct Case {
  long samples, channels, rows, cols;
  long filters, filter_size, stride, padding;
};

class DirectConvolution : public ::testing::TestWithParam<Case> {
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

  // false when this processor has no direct kernel.
  bool convolve(const float* bias, int threads, dlib::resizable_tensor& out,
                const morvik::ConvEpilogue* epilogue = nullptr) {
    const Case c = GetParam();
    return morvik::convolveDirect(data, filters.host(), bias, c.filters, c.filter_size, c.filter_size, c.stride,
                                  c.stride, c.padding, c.padding, out, threads, epilogue);
  }

  dlib::resizable_tensor data, filters, biases, expected, with_bias;
};

TEST_P(DirectConvolution, MatchesDlibWithAndWithoutBiases) {
  dlib::resizable_tensor out;
  if (!convolve(nullptr, 1, out)) GTEST_SKIP() << "no AVX2 on this processor";
  // A wrong tap or a misplaced run differs by whole values, not by 1e-5.
  EXPECT_LT(relativeDifference(expected, out), 1e-5f);
  ASSERT_TRUE(convolve(biases.host(), 1, out));
  EXPECT_LT(relativeDifference(with_bias, out), 1e-5f);
}

TEST_P(DirectConvolution, ThreadsDoNotChangeABit) {
  dlib::resizable_tensor one, three;
  if (!convolve(biases.host(), 1, one)) GTEST_SKIP() << "no AVX2 on this processor";
  ASSERT_TRUE(convolve(biases.host(), 3, three));
  ASSERT_EQ(one.size(), three.size());
  EXPECT_EQ(0, std::memcmp(one.host(), three.host(), one.size() * sizeof(float)));
}

// The epilogue writes what dlib's affine and relu layers write over the
// stored sums, bit for bit, including the sign of zeros and NaN inputs.
TEST_P(DirectConvolution, EpilogueIsDlibsAffineAndRelu) {
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
  dlib::resizable_tensor expected = expected_affine;
  dlib::tt::relu(expected, expected);

  const morvik::ConvEpilogue affine_only{scale.host(), shift.host(), false};
  ASSERT_TRUE(convolve(biases.host(), 1, fused_affine, &affine_only));
  EXPECT_TRUE(sameBits(expected_affine, fused_affine));
  const morvik::ConvEpilogue both{scale.host(), shift.host(), true};
  ASSERT_TRUE(convolve(biases.host(), 2, fused, &both));
  EXPECT_TRUE(sameBits(expected, fused));
  EXPECT_TRUE(std::signbit(fused.host()[0])) << "-0.0 kept";

  const morvik::ConvEpilogue relu_only{nullptr, nullptr, true};
  ASSERT_TRUE(convolve(biases.host(), 1, fused, &relu_only));
  dlib::resizable_tensor expected_relu = plain;
  dlib::tt::relu(expected_relu, expected_relu);
  EXPECT_TRUE(sameBits(expected_relu, fused));
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, DirectConvolution,
    ::testing::Values(Case{1, 3, 61, 47, 16, 5, 2, 0},     // the detector's downsampling layers
                      Case{1, 16, 40, 130, 32, 5, 2, 0},   // rows of several runs, the last one partial
                      Case{1, 32, 23, 29, 45, 5, 1, 2},    // its padded 5x5 layers, 45 filters
                      Case{1, 45, 19, 17, 1, 9, 1, 4},     // its single 9x9 output filter
                      Case{2, 4, 30, 24, 6, 5, 1, 2},      // two samples, one run per row exactly
                      Case{1, 2, 5, 5, 3, 5, 1, 2},        // a filter as large as the input
                      Case{1, 3, 9, 9, 5, 9, 2, 1},        // stride 2 with padding, a single output row
                      Case{1, 1, 6, 200, 2, 5, 1, 0},      // a long row of runs, no padding
                      Case{1, 7, 21, 37, 10, 5, 2, 0},     // blocks of 5 filters, stride 2, a partial run
                      Case{1, 5, 13, 45, 15, 5, 1, 2}));   // blocks of 5 filters, runs of 16 and a partial one

TEST(DirectConvolutionShapes, LeavesShapesItDoesNotServeToTheCaller) {
  dlib::resizable_tensor data(1, 2, 12, 12), out(1, 1, 1, 1);
  out.host()[0] = 42.0f;
  const std::vector<float> filters(4 * 2 * 7 * 7, 1.0f);
  // 3x3 and 7x7 filters, unequal strides, a filter larger than the padded
  // input and padding as large as the filter.
  EXPECT_FALSE(morvik::convolveDirect(data, filters.data(), nullptr, 4, 3, 3, 1, 1, 1, 1, out, 1));
  EXPECT_FALSE(morvik::convolveDirect(data, filters.data(), nullptr, 4, 7, 7, 2, 2, 0, 0, out, 1));
  EXPECT_FALSE(morvik::convolveDirect(data, filters.data(), nullptr, 4, 5, 5, 1, 2, 0, 0, out, 1));
  EXPECT_FALSE(morvik::convolveDirect(data, filters.data(), nullptr, 4, 5, 5, 1, 1, 5, 5, out, 1));
  dlib::resizable_tensor tiny(1, 2, 3, 3);
  EXPECT_FALSE(morvik::convolveDirect(tiny, filters.data(), nullptr, 4, 9, 9, 1, 1, 2, 2, out, 1));
  EXPECT_EQ(1u, out.size());
  EXPECT_EQ(42.0f, out.host()[0]);
}

}  // namespace
