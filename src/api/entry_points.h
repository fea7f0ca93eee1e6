// Library interface: the functions with C linkage that hosts call, the
// public records they exchange (morvik/morvik.h, morvik/morvik_c.h) and the
// result codes with their messages. Each entry point checks its arguments,
// runs one analysis object (src/analysis) on the caller's thread and copies
// the results into the caller's arrays, which are written only on success.
// The specified entry points let the documented exceptions through; the
// pure-C and pixel-buffer ones turn every exception into a result code.
#ifndef MORVIK_API_ENTRY_POINTS_H_
#define MORVIK_API_ENTRY_POINTS_H_

#include <cstddef>

namespace morvik {

// The rule every entry point with an output array applies: the array, the
// in/out count and a capacity of at least one record must all be given.
inline bool missingOutput(const void* data, const size_t* data_size) {
  return data == nullptr || data_size == nullptr || *data_size == 0;
}

}  // namespace morvik

#endif  // MORVIK_API_ENTRY_POINTS_H_
