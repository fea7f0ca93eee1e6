// OpenCV's rule that a window rejected by a cascade's first stage makes its
// CPU loop skip the next window of the row, replayed over a run of windows
// whose first stage was decided at once.
#ifndef MORVIK_CASCADE_SKIPS_H_
#define MORVIK_CASCADE_SKIPS_H_

#include <cstdint>

namespace morvik {

// OpenCV's walk over `lanes` consecutive windows given, per lane, whether
// the window may run the stages at all (`ok`: the Haar variance test) and
// whether it passed the first stage (`pass`). `skip` carries "the next
// window is skipped" from one run of lanes to the next. Returns the lanes
// visited that passed the first stage; *visited gets every lane visited.
inline uint32_t replaySkips(uint32_t ok, uint32_t pass, int lanes, bool& skip, uint32_t* visited) {
  uint32_t live = 0, seen = 0;
  uint32_t next_skipped = skip;
  for (int k = 0; k < lanes; ++k) {
    const uint32_t here = next_skipped ^ 1u;
    const uint32_t okk = (ok >> k) & here;
    const uint32_t passk = (pass >> k) & 1u;
    seen |= here << k;
    live |= (okk & passk) << k;
    next_skipped = okk & (passk ^ 1u);
  }
  skip = next_skipped != 0;
  *visited = seen;
  return live;
}

}  // namespace morvik

#endif  // MORVIK_CASCADE_SKIPS_H_
