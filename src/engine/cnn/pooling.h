// The descriptor network's pooling layers, computed in one plain pass.
//
// dlib pools through its matrix expressions, window by window: for the
// descriptor network that costs more than some of its convolutions. These
// passes visit each window's values in dlib's order and keep dlib's
// arithmetic (the maximum by "greater than", starting from the window's
// first value; the mean as a float sum from zero divided by the count), so
// every output is dlib's bit for bit.
//
// The layers read and write model files exactly as dlib's max_pool_ and
// avg_pool_ do.
#ifndef MORVIK_POOLING_H_
#define MORVIK_POOLING_H_

#include <dlib/dnn.h>

namespace morvik {

// dlib's pooling of src into dest with a window of window_nr x window_nc
// placed every stride rows and columns, padding zeros around src; false,
// touching nothing, for a window that does not fit the padded input or a
// size dlib would refuse.
bool maxPool(const dlib::tensor& src, long window_nr, long window_nc, long stride_y, long stride_x, long padding_y,
             long padding_x, dlib::resizable_tensor& dest);
bool avgPool(const dlib::tensor& src, long window_nr, long window_nc, long stride_y, long stride_x, long padding_y,
             long padding_x, dlib::resizable_tensor& dest);

template <long NR, long NC, int SY, int SX>
class fast_max_pool_ : public dlib::max_pool_<NR, NC, SY, SX> {
  using base = dlib::max_pool_<NR, NC, SY, SX>;

 public:
  template <typename SUBNET>
  void forward(const SUBNET& sub, dlib::resizable_tensor& output) {
    if (!maxPool(sub.get_output(), NR, NC, SY, SX, this->padding_y(), this->padding_x(), output))
      base::forward(sub, output);
  }
};

template <long NR, long NC, int SY, int SX>
class fast_avg_pool_ : public dlib::avg_pool_<NR, NC, SY, SX> {
  using base = dlib::avg_pool_<NR, NC, SY, SX>;

 public:
  template <typename SUBNET>
  void forward(const SUBNET& sub, dlib::resizable_tensor& output) {
    if (!avgPool(sub.get_output(), NR, NC, SY, SX, this->padding_y(), this->padding_x(), output))
      base::forward(sub, output);
  }
};

template <long NR, long NC, int SY, int SX, typename SUBNET>
using fast_max_pool = dlib::add_layer<fast_max_pool_<NR, NC, SY, SX>, SUBNET>;
template <long NR, long NC, int SY, int SX, typename SUBNET>
using fast_avg_pool = dlib::add_layer<fast_avg_pool_<NR, NC, SY, SX>, SUBNET>;

}  // namespace morvik

#endif  // MORVIK_POOLING_H_
