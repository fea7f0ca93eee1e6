// The face detector's input layer: dlib's input_rgb_image_pyramid, with the
// tiled pyramid built by several threads.
//
// dlib zeroes the whole tiled image (tens of megabytes for a photo), copies
// the photo into it on one thread and then resizes each level from the one
// before with one thread per colour channel. Here only the padding is
// zeroed, and the copy and every level's resize are split by rows over the
// call's threads. Each row is computed with dlib's own arithmetic, so the
// tensor is dlib's bit for bit.
//
// The layer reads and writes model files exactly as dlib's does.
#ifndef MORVIK_PYRAMID_INPUT_H_
#define MORVIK_PYRAMID_INPUT_H_

#include <iterator>
#include <vector>

#include <dlib/dnn.h>

namespace morvik {

// One plane of a tiled pyramid tensor: rows of `stride` floats.
struct Plane {
  float* data;
  long nr, nc, stride;
};

// Rows [r0, r1) of dlib's bilinear resize of src into dst (dlib's
// resize_image for float images, whose rows do not depend on each other).
void resizeRows(const Plane& src, const Plane& dst, long r0, long r1);

// Fills data, already sized to the tiled pyramid of `levels` (level 0 holds
// the photo), from the photo: planes of the three colour channels less
// their means, divided by 256, and zero outside the levels.
void buildTiledPyramid(const dlib::matrix<dlib::rgb_pixel>& photo, const float means[3],
                       const std::vector<dlib::rectangle>& levels, dlib::resizable_tensor& data);

template <typename Pyramid>
class threaded_input_rgb_image_pyramid : public dlib::input_rgb_image_pyramid<Pyramid> {
  using base = dlib::input_rgb_image_pyramid<Pyramid>;

 public:
  using typename base::input_type;

  template <typename forward_iterator>
  void to_tensor(forward_iterator ibegin, forward_iterator iend, dlib::resizable_tensor& data) const {
    // Batches of several photos are dlib's to lay out.
    if (std::distance(ibegin, iend) != 1) return base::to_tensor(ibegin, iend, data);
    const dlib::matrix<dlib::rgb_pixel>& photo = *ibegin;
    Pyramid pyramid;
    std::vector<dlib::rectangle>& levels = data.annotation().get<std::vector<dlib::rectangle>>();
    long nr = 0, nc = 0;
    dlib::impl::compute_tiled_image_pyramid_details(pyramid, photo.nr(), photo.nc(), this->get_pyramid_padding(),
                                                    this->get_pyramid_outer_padding(), levels, nr, nc);
    data.set_size(1, 3, nr, nc);
    const float means[3] = {this->get_avg_red(), this->get_avg_green(), this->get_avg_blue()};
    buildTiledPyramid(photo, means, levels, data);
  }
};

}  // namespace morvik

#endif  // MORVIK_PYRAMID_INPUT_H_
