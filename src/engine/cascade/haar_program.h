// A Haar cascade laid out for one arrangement of integral images in memory.
//
// The search keeps the integral and squared integral images of each size
// in scratch memory so that the origins of the windows of one row are
// consecutive ints: at a step of 1 those are the integral's own columns; at
// a step of 2 the even and the odd columns are stored as two planes, and
// window k of a row starts at column k of the even plane. Each stump's
// rectangle corners then become fixed offsets from a window's origin, and
// the windows of a row can be evaluated in vector lanes with plain loads.
#ifndef MORVIK_HAAR_PROGRAM_H_
#define MORVIK_HAAR_PROGRAM_H_

#include <cstdint>
#include <vector>

#include "engine/cascade/haar_cascade.h"

namespace morvik {

struct HaarLayout {
  int stride = 0;   // ints between rows of a plane
  int split = 0;    // 1 when columns are split into even and odd planes
  int odd = 0;      // ints from the even plane to the odd one (split only)
  int squares = 0;  // ints from the sums to the squared sums

  // The offset of pixel (x, y) of the integral from a window's origin.
  int offset(int x, int y) const { return (split && (x & 1) ? odd : 0) + y * stride + (x >> split); }
  bool operator==(const HaarLayout& o) const {
    return stride == o.stride && split == o.split && odd == o.odd && squares == o.squares;
  }
};

// One stump with its feature's corners as offsets a, b, c, d per rectangle
// (sum = a - b - c + d). `third` is false when the third weight is 0:
// OpenCV then leaves that rectangle out of the value. The leaves are
// OpenCV's floats, widened once here (exactly) for the stage's double sum.
struct HaarStumpCode {
  int corner[3][4];
  float weight[3];
  float threshold;
  double left, right;
  bool third;
};

struct HaarProgram {
  uint64_t cascade = 0;  // HaarCascade::id it was made from
  HaarLayout layout;
  int norm[4] = {0, 0, 0, 0};  // corners of the rectangle the variance is taken over
  double area = 0.0;           // its area, as OpenCV's int product
  std::vector<HaarStumpCode> stumps;
  std::vector<HaarStage> stages;
};

// Lays `cascade` out for `layout` (nothing is done when `program` already is).
void layOutHaar(const HaarCascade& cascade, const HaarLayout& layout, HaarProgram& program);

}  // namespace morvik

#endif  // MORVIK_HAAR_PROGRAM_H_
