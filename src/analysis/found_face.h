// How a face that a finder reported in pixels of a working image becomes a
// face of the loaded image with its eyes: the analysis object's walk and the
// walk over all members both report faces this way.
#ifndef MORVIK_ANALYSIS_FOUND_FACE_H_
#define MORVIK_ANALYSIS_FOUND_FACE_H_

#include "morvik/findface.h"
#include "morvik/image.h"
#include "morvik/morvik_info.h"
#include "morvik/types.h"

namespace morvik {

// `found` (pixels of prepared.image) in pixels of the loaded image, with its
// finder's score and points. A finder that gave the five points gave the
// eyes too: points 0 and 1 are taken as they are, without an eye search,
// and from_shape stays false (neither the eyes nor the box come from the
// landmark shape, so alignment fits the box to the landmarks as it does for
// the eye cascade's eyes). Other faces have their eyes located on
// prepared.image (fillEyesInfo). -1 for a box without area.
int reportFace(MorvikInfo& info, const PreparedImage& prepared, const rotrect& found, mv::FoundFace& face);

}  // namespace morvik

#endif  // MORVIK_ANALYSIS_FOUND_FACE_H_
