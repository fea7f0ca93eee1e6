// Laying a cascade out for the integral images' arrangement; see
// haar_program.h.
#include "engine/cascade/haar_program.h"

namespace morvik {
namespace {

// OpenCV's CV_SUM_OFS: top-left, top-right, bottom-left, bottom-right.
void corners(const HaarLayout& layout, int x, int y, int w, int h, int out[4]) {
  out[0] = layout.offset(x, y);
  out[1] = layout.offset(x + w, y);
  out[2] = layout.offset(x, y + h);
  out[3] = layout.offset(x + w, y + h);
}

}  // namespace

void layOutHaar(const HaarCascade& cascade, const HaarLayout& layout, HaarProgram& program) {
  if (program.cascade == cascade.id && program.layout == layout) return;
  program.cascade = cascade.id;
  program.layout = layout;
  // OpenCV's normrect: the window less a border of one pixel. For windows
  // of one or two pixels its size is 0 or negative, and so is the variance.
  const int nw = cascade.window.width - 2;
  const int nh = cascade.window.height - 2;
  corners(layout, 1, 1, nw, nh, program.norm);
  program.area = static_cast<double>(static_cast<int64_t>(nw) * nh);
  program.stages = cascade.stages;
  program.stumps.resize(cascade.stumps.size());
  for (size_t i = 0; i < cascade.stumps.size(); ++i) {
    const HaarStump& s = cascade.stumps[i];
    const HaarFeature& f = cascade.features[static_cast<size_t>(s.feature)];
    HaarStumpCode& code = program.stumps[i];
    for (int r = 0; r < 3; ++r) {
      corners(layout, f.rect[r].x, f.rect[r].y, f.rect[r].width, f.rect[r].height, code.corner[r]);
      code.weight[r] = f.rect[r].weight;
    }
    code.threshold = s.threshold;
    code.left = s.left;
    code.right = s.right;
    code.third = f.rect[2].weight != 0.0f;
  }
}

}  // namespace morvik
