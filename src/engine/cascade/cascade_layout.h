// How a cascade search keeps the integral images of one size in memory.
//
// The search keeps the integral (and for Haar features the squared
// integral) images of each size in scratch memory so that the origins of
// the windows of one row are consecutive ints: at a step of 1 those are the
// integral's own columns; at a step of 2 the even and the odd columns are
// stored as two planes, and window k of a row starts at column k of the
// even plane. Every corner a stump reads then becomes a fixed offset from
// a window's origin (cascade_program.h), and the windows of a row can be
// evaluated in vector lanes with plain loads.
#ifndef MORVIK_CASCADE_LAYOUT_H_
#define MORVIK_CASCADE_LAYOUT_H_

namespace morvik {

struct CascadeLayout {
  int stride = 0;   // ints between rows of a plane
  int split = 0;    // 1 when columns are split into even and odd planes
  int odd = 0;      // ints from the even plane to the odd one (split only)
  int squares = 0;  // ints from the sums to the squared sums (0: none)

  // The offset of pixel (x, y) of the integral from a window's origin.
  int offset(int x, int y) const { return (split && (x & 1) ? odd : 0) + y * stride + (x >> split); }
  bool operator==(const CascadeLayout& o) const {
    return stride == o.stride && split == o.split && odd == o.odd && squares == o.squares;
  }
};

}  // namespace morvik

#endif  // MORVIK_CASCADE_LAYOUT_H_
