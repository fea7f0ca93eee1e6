// A cascade laid out for one arrangement of integral images in memory
// (cascade_layout.h): every corner a stump reads becomes a fixed offset from
// a window's origin, so that the windows of a row can be evaluated in
// vector lanes with plain loads.
#ifndef MORVIK_CASCADE_PROGRAM_H_
#define MORVIK_CASCADE_PROGRAM_H_

#include <cstdint>
#include <vector>

#include "engine/cascade/cascade.h"
#include "engine/cascade/cascade_layout.h"

namespace morvik {

template <typename Kind>
struct CascadeProgram {
  uint64_t cascade = 0;  // Cascade::id it was made from
  CascadeLayout layout;
  typename Kind::WindowCode window;  // what is read before the stages
  std::vector<typename Kind::StumpCode> stumps;
  std::vector<CascadeStage> stages;

  size_t bytes() const {
    return stumps.capacity() * sizeof(typename Kind::StumpCode) + stages.capacity() * sizeof(CascadeStage);
  }
};

// Lays `cascade` out for `layout` (nothing is done when `program` already is).
template <typename Kind>
void layOutCascade(const Cascade<Kind>& cascade, const CascadeLayout& layout, CascadeProgram<Kind>& program) {
  if (program.cascade == cascade.id && program.layout == layout) return;
  program.cascade = cascade.id;
  program.layout = layout;
  Kind::layOutWindow(cascade.window, layout, program.window);
  program.stages = cascade.stages;
  program.stumps.resize(cascade.stumps.size());
  for (size_t i = 0; i < cascade.stumps.size(); ++i) {
    const typename Kind::Stump& s = cascade.stumps[i];
    Kind::layOutStump(s, cascade.features[static_cast<size_t>(s.feature)], layout, program.stumps[i]);
  }
}

}  // namespace morvik

#endif  // MORVIK_CASCADE_PROGRAM_H_
