// A finder's face as the analysis reports it; see found_face.h.
#include "analysis/found_face.h"

#include "image/image_size.h"
#include "morvik/morvik.h"

namespace morvik {

int reportFace(MorvikInfo& info, const PreparedImage& prepared, const rotrect& found, mv::FoundFace& face) {
  mv::FoundFace out{};
  out.face.from_shape = false;
  out.face.angle = found.angle;
  out.face.rect = found.rect;
  out.score = found.score;
  if (out.face.rect.w < 1 || out.face.rect.h < 1) return MV_INVALID_ARGS;
  if (!found.hasPoints()) {
    out.face.from_shape = info.fillEyesInfo(prepared, out.face);
    info.rescaleFaceInfo(prepared, out.face);
    face = out;
    return MV_OK;
  }
  info.rescaleFaceInfo(prepared, out.face);
  // The points map back from their float positions, so that a shrunken
  // working image costs them no more than the truncation at the end.
  const double r = prepared.rescale == 0.0 ? 1.0 : prepared.rescale;
  out.point_count = rotrect::kPoints;
  for (int i = 0; i < rotrect::kPoints; ++i) {
    out.points[i].x = saturateToInt(found.points[i].x * r);
    out.points[i].y = saturateToInt(found.points[i].y * r);
  }
  out.face.left_eye = out.points[0];
  out.face.right_eye = out.points[1];
  face = out;
  return MV_OK;
}

}  // namespace morvik
