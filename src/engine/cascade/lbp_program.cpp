// Laying an LBP cascade out for the integral images' arrangement; see
// lbp_program.h.
#include "engine/cascade/lbp_program.h"

namespace morvik {

void layOutLbp(const LbpCascade& cascade, const HaarLayout& layout, LbpProgram& program) {
  if (program.cascade == cascade.id && program.layout == layout) return;
  program.cascade = cascade.id;
  program.layout = layout;
  program.stages = cascade.stages;
  program.stumps.resize(cascade.stumps.size());
  for (size_t i = 0; i < cascade.stumps.size(); ++i) {
    const LbpStump& s = cascade.stumps[i];
    const cv::Rect& cell = cascade.cells[static_cast<size_t>(s.feature)];
    LbpStumpCode& code = program.stumps[i];
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) code.corner[4 * r + c] = layout.offset(cell.x + c * cell.width, cell.y + r * cell.height);
    for (int w = 0; w < kLbpSubsetWords; ++w) code.subset[w] = s.subset[w];
    code.left = s.left;
    code.right = s.right;
  }
}

}  // namespace morvik
