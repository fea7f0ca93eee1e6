// The detector's input layer builds dlib's tiled pyramid, bit for bit, for
// photos of every shape the detector takes: many levels or one.
#include <cstring>

#include <dlib/dnn.h>
#include <gtest/gtest.h>

#include "engine/cnn/pyramid_input.h"

namespace {

dlib::matrix<dlib::rgb_pixel> noisyPhoto(long rows, long cols, unsigned long seed) {
  dlib::rand rnd(seed);
  dlib::matrix<dlib::rgb_pixel> photo(rows, cols);
  for (long r = 0; r < rows; ++r)
    for (long c = 0; c < cols; ++c)
      photo(r, c) = dlib::rgb_pixel(rnd.get_random_8bit_number(), rnd.get_random_8bit_number(),
                                    rnd.get_random_8bit_number());
  return photo;
}

template <typename Pyramid>
void expectDlibsTensor(const dlib::matrix<dlib::rgb_pixel>& photo) {
  dlib::input_rgb_image_pyramid<Pyramid> dlibs;
  morvik::threaded_input_rgb_image_pyramid<Pyramid> ours;
  dlib::resizable_tensor expected, actual;
  dlibs.to_tensor(&photo, &photo + 1, expected);
  // A tensor that held another photo's pyramid before, as a network's does.
  const dlib::matrix<dlib::rgb_pixel> other = noisyPhoto(photo.nr() + 31, photo.nc() + 7, 99);
  ours.to_tensor(&other, &other + 1, actual);
  ours.to_tensor(&photo, &photo + 1, actual);

  ASSERT_EQ(expected.num_samples(), actual.num_samples());
  ASSERT_EQ(expected.k(), actual.k());
  ASSERT_EQ(expected.nr(), actual.nr());
  ASSERT_EQ(expected.nc(), actual.nc());
  EXPECT_EQ(expected.annotation().get<std::vector<dlib::rectangle>>(),
            actual.annotation().get<std::vector<dlib::rectangle>>());
  EXPECT_EQ(0, std::memcmp(expected.host(), actual.host(), expected.size() * sizeof(float)))
      << photo.nc() << "x" << photo.nr();
}

TEST(PyramidInput, BuildsDlibsTiledPyramid) {
  // A photo at the detector's working size, odd shapes, and photos of the
  // least size the detector takes (smaller ones make dlib's own layer fail).
  const long shapes[][2] = {{600, 800}, {375, 500}, {97, 333}, {23, 17}, {16, 16}, {16, 41}};
  unsigned long seed = 1;
  for (const auto& s : shapes) {
    const dlib::matrix<dlib::rgb_pixel> photo = noisyPhoto(s[0], s[1], seed++);
    expectDlibsTensor<dlib::pyramid_down<6>>(photo);
    expectDlibsTensor<dlib::pyramid_down<1>>(photo);
  }
}

TEST(PyramidInput, ResizesRowsAsTheWholeImage) {
  // Any split of the rows gives the rows of the whole resize.
  std::vector<float> src(61 * 83), whole(50 * 69, -1.0f), split(50 * 69, -2.0f);
  dlib::rand rnd(7);
  for (float& v : src) v = static_cast<float>(rnd.get_random_gaussian());
  const morvik::Plane in{src.data(), 61, 83, 83};
  const morvik::Plane a{whole.data(), 50, 69, 69}, b{split.data(), 50, 69, 69};
  morvik::resizeRows(in, a, 0, 50);
  for (long r0 = 0; r0 < 50; r0 += 13) morvik::resizeRows(in, b, r0, std::min(50L, r0 + 13));
  EXPECT_EQ(0, std::memcmp(whole.data(), split.data(), whole.size() * sizeof(float)));
}

TEST(PyramidInput, WideRowsEndAtTheOutputsEdge) {
  // 78052 -> 65043 is the narrowest pyramid step where column positions
  // summed in float fall far enough behind to run past the output row.
  for (long in_nc : {78051L, 78052L, 257202L}) {
    SCOPED_TRACE(in_nc);
    const long out_nc = in_nc * 5 / 6;
    std::vector<float> src(2 * in_nc);
    for (long i = 0; i < 2 * in_nc; ++i) src[i] = static_cast<float>(i % 251);
    constexpr float kGuard = -12345.0f;
    std::vector<float> dst(2 * out_nc + 256, kGuard);
    const morvik::Plane in{src.data(), 2, in_nc, in_nc}, out{dst.data(), 2, out_nc, out_nc};
    morvik::resizeRows(in, out, 0, 2);
    for (size_t i = 2 * out_nc; i < dst.size(); ++i) ASSERT_EQ(dst[i], kGuard) << "written past the output at " << i;
    for (long i = 0; i < 2 * out_nc; ++i) ASSERT_NE(dst[i], kGuard) << "output left unwritten at " << i;
  }
}

}  // namespace
