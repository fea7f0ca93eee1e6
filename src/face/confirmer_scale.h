// The confirmer's choice of scale, apart so that it can be checked alone.
#ifndef MORVIK_CONFIRMER_SCALE_H_
#define MORVIK_CONFIRMER_SCALE_H_

namespace morvik {

// The factor that brings a candidate `face_width` pixels wide to about
// `target_width`; 0.0 (no scaling) when the target is off (0 or less) or
// the width is already within 3 pixels of it.
double confirmScaleFactor(int face_width, int target_width);

}  // namespace morvik

#endif  // MORVIK_CONFIRMER_SCALE_H_
