// dlib's fHOG features (extract_fhog_features) of a pyramid level, for
// cells of two pixels or more.
//
// The 31 planes per cell are Felzenszwalb's: 18 signed and 9 unsigned
// orientation energies and 4 block gradient energies, each normalised by
// its four 2x2 blocks of cells. Every value is the float dlib computes:
// the same operations on the same values in the same order, including the
// places where dlib's vector and scalar loops differ (which of equally
// strong colour channels gives the gradient, how pixel weights are
// multiplied) and the way the build sums four lanes.
#ifndef MORVIK_HOG_FEATURES_H_
#define MORVIK_HOG_FEATURES_H_

#include <vector>

#include "engine/hog/hog_isa.h"
#include "engine/hog/hog_pyramid.h"

namespace morvik {

constexpr int kHogPlanes = 31;

// kHogPlanes planes of nr x nc floats, rows of `stride` floats (at least
// nc plus eight, so that eight floats may be loaded from any column).
struct HogPlanes {
  long nr = 0, nc = 0, stride = 0;
  std::vector<float> data;

  void setSize(long rows, long cols);
  float* plane(int p) { return data.data() + p * nr * stride; }
  const float* plane(int p) const { return data.data() + p * nr * stride; }
};

// hog = extract_fhog_features(image, cell_size, rows_padding, cols_padding)
// with cell_size >= 2: zero outside the cells, empty planes when the image
// has fewer than three cells a side.
void extractFhog(const ColorLevel& image, int cell_size, int rows_padding, int cols_padding, HogPlanes& hog,
                 HogIsa isa = bestHogIsa());

}  // namespace morvik

#endif  // MORVIK_HOG_FEATURES_H_
