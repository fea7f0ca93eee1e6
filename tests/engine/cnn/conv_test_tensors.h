// Tensor helpers shared by the convolution kernels' tests.
#ifndef MORVIK_TESTS_CONV_TEST_TENSORS_H_
#define MORVIK_TESTS_CONV_TEST_TENSORS_H_

#include <algorithm>
#include <cmath>
#include <cstring>

#include <dlib/dnn.h>

namespace conv_test {

// Gaussian values from a fixed seed.
inline void randomize(dlib::resizable_tensor& t, unsigned long seed) {
  dlib::rand rnd(seed);
  for (float& v : t) v = static_cast<float>(rnd.get_random_gaussian());
}

inline bool sameBits(const dlib::tensor& a, const dlib::tensor& b) {
  return a.size() == b.size() && std::memcmp(a.host(), b.host(), a.size() * sizeof(float)) == 0;
}

// Largest difference relative to the largest magnitude in the reference;
// infinite when the shapes differ.
inline float relativeDifference(const dlib::tensor& expected, const dlib::tensor& actual) {
  if (expected.num_samples() != actual.num_samples() || expected.k() != actual.k() ||
      expected.nr() != actual.nr() || expected.nc() != actual.nc())
    return INFINITY;
  float scale = 0.0f, diff = 0.0f;
  for (size_t i = 0; i < expected.size(); ++i) {
    scale = std::max(scale, std::abs(expected.host()[i]));
    diff = std::max(diff, std::abs(expected.host()[i] - actual.host()[i]));
  }
  return scale > 0.0f ? diff / scale : diff;
}

}  // namespace conv_test

#endif  // MORVIK_TESTS_CONV_TEST_TENSORS_H_
