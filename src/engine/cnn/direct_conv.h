// A direct convolution for the face detector network's layers.
//
// Unrolling a photo's pyramid into a matrix for BLAS writes 25 copies of
// every input value and leaves OpenBLAS's second thread waiting while one
// thread unrolls. Here each output is summed straight from a zero-padded
// copy of a few input rows, with AVX2 fused multiply-adds, by as many
// threads as OpenBLAS is allowed (see parallel.h).
// The sums are taken in another order than BLAS takes them, so values may
// differ from dlib's in the last bits; they do not depend on the number of
// threads.
#ifndef MORVIK_DIRECT_CONV_H_
#define MORVIK_DIRECT_CONV_H_

#include <dlib/dnn.h>

namespace morvik {

// What the layers after a convolution do to each filter's sums, applied
// before the sums are stored: output = scale * sum + shift per filter (an
// inference-time batch normalisation), then relu when asked. Rounded as
// dlib's affine_transform_conv and relu round it, so the values are the
// ones those layers would have written, and their passes over the whole
// output are saved.
struct ConvEpilogue {
  const float* scale = nullptr;  // num_filters values; null for no affine step
  const float* shift = nullptr;  // num_filters values
  bool relu = false;
};

// output = the convolution of data with the filters (num_filters x data.k()
// x filter_nr x filter_nc, row-major) plus biases (num_filters values, or
// null for none), laid out as dlib lays out a con_ layer's output, then
// the epilogue if one is given. Returns false, touching nothing, when this
// processor or this shape is not served (stride other than 1 or 2 in both
// directions, filter widths other than 5 and 9); the caller then convolves
// another way.
bool convolveDirect(const dlib::tensor& data, const float* filters, const float* biases, long num_filters,
                    long filter_nr, long filter_nc, long stride_y, long stride_x, long padding_y, long padding_x,
                    dlib::resizable_tensor& output, const ConvEpilogue* epilogue = nullptr);

// The same with up to `threads` threads, however small the layer (tests).
bool convolveDirect(const dlib::tensor& data, const float* filters, const float* biases, long num_filters,
                    long filter_nr, long filter_nc, long stride_y, long stride_x, long padding_y, long padding_x,
                    dlib::resizable_tensor& output, int threads, const ConvEpilogue* epilogue = nullptr);

}  // namespace morvik

#endif  // MORVIK_DIRECT_CONV_H_
