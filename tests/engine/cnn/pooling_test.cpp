// The descriptor network's pooling passes: dlib's outputs bit for bit for
// every window geometry dlib accepts (windows clipped at padded edges,
// strides that leave rows out, windows as large as the input), including
// ties between 0 and -0, and dlib's own layer for what they refuse.
#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>

#include <dlib/dnn.h>
#include <gtest/gtest.h>

#include "engine/cnn/conv_test_tensors.h"
#include "engine/cnn/pooling.h"

namespace {

using conv_test::randomize;
using conv_test::sameBits;

struct Geometry {
  long samples, channels, rows, cols;
  long window_nr, window_nc, stride_y, stride_x, padding_y, padding_x;
};

class Pooling : public ::testing::TestWithParam<Geometry> {
 protected:
  void SetUp() override {
    const Geometry g = GetParam();
    src.set_size(g.samples, g.channels, g.rows, g.cols);
    randomize(src, 3);
    // Relu'd maps: many zeros of both signs, which the maximum must keep
    // in dlib's order.
    float* v = src.host();
    for (size_t i = 0; i < src.size(); ++i) {
      if (v[i] < 0) v[i] = (i % 3 == 0) ? -0.0f : 0.0f;
    }
  }

  dlib::resizable_tensor expected(bool max) const {
    const Geometry g = GetParam();
    dlib::tt::pooling p;
    if (max)
      p.setup_max_pooling(g.window_nr, g.window_nc, g.stride_y, g.stride_x, g.padding_y, g.padding_x);
    else
      p.setup_avg_pooling(g.window_nr, g.window_nc, g.stride_y, g.stride_x, g.padding_y, g.padding_x);
    dlib::resizable_tensor out;
    p(out, src);
    return out;
  }

  dlib::resizable_tensor src;
};

TEST_P(Pooling, MaximumIsDlibs) {
  const Geometry g = GetParam();
  dlib::resizable_tensor out;
  ASSERT_TRUE(morvik::maxPool(src, g.window_nr, g.window_nc, g.stride_y, g.stride_x, g.padding_y, g.padding_x, out));
  EXPECT_TRUE(sameBits(expected(true), out));
}

TEST_P(Pooling, MeanIsDlibs) {
  const Geometry g = GetParam();
  dlib::resizable_tensor out;
  ASSERT_TRUE(morvik::avgPool(src, g.window_nr, g.window_nc, g.stride_y, g.stride_x, g.padding_y, g.padding_x, out));
  EXPECT_TRUE(sameBits(expected(false), out));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, Pooling,
    ::testing::Values(Geometry{1, 32, 72, 72, 3, 3, 2, 2, 0, 0},   // the descriptor's stem pooling
                      Geometry{1, 64, 35, 35, 2, 2, 2, 2, 0, 0},   // its shortcuts: an odd map
                      Geometry{1, 256, 3, 3, 2, 2, 2, 2, 0, 0},    // the last shortcut: one output
                      Geometry{2, 3, 9, 7, 3, 3, 1, 1, 1, 1},      // padded: clipped windows count less
                      Geometry{1, 2, 10, 11, 4, 3, 3, 2, 2, 1},    // even window, uneven strides
                      Geometry{1, 1, 5, 5, 5, 5, 1, 1, 0, 0},      // a window as large as the map
                      Geometry{3, 4, 1, 8, 1, 2, 1, 2, 0, 1}));    // one row

TEST(PoolingShapes, RefusesWhatDlibWouldNotPool) {
  dlib::resizable_tensor src(1, 2, 4, 4), out(1, 1, 1, 1);
  out.host()[0] = 42.0f;
  EXPECT_FALSE(morvik::maxPool(src, 6, 6, 1, 1, 0, 0, out));   // window beyond the padded input
  EXPECT_FALSE(morvik::avgPool(src, 3, 3, 1, 1, 3, 0, out));   // padding as large as the window
  EXPECT_FALSE(morvik::maxPool(src, 3, 3, 0, 1, 0, 0, out));   // no stride
  EXPECT_EQ(1u, out.size());
  EXPECT_EQ(42.0f, out.host()[0]);
}

// The layers read and write dlib's bytes, so a model file holding dlib's
// pooling layers loads into them, and they pool as dlib's do.
TEST(PoolingLayers, AreDlibsLayersInFiles) {
  using DlibNet = dlib::avg_pool<2, 2, 2, 2, dlib::max_pool<3, 3, 2, 2, dlib::input<dlib::matrix<float>>>>;
  using FastNet = morvik::fast_avg_pool<2, 2, 2, 2, morvik::fast_max_pool<3, 3, 2, 2, dlib::input<dlib::matrix<float>>>>;
  dlib::matrix<float> image(31, 40);
  dlib::rand rnd(5);
  for (float& v : image) v = static_cast<float>(rnd.get_random_gaussian());
  DlibNet dlib_net;
  std::ostringstream bytes;
  serialize(dlib_net, bytes);  // the network's own, found by argument lookup
  FastNet fast_net;
  std::istringstream in(bytes.str());
  deserialize(fast_net, in);
  std::ostringstream again;
  serialize(fast_net, again);
  EXPECT_EQ(bytes.str(), again.str());
  EXPECT_TRUE(sameBits(dlib_net(image), fast_net(image)));
}

}  // namespace
