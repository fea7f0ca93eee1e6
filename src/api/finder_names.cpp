// The finders' names, the one table from which the command line and the
// Python package read "hog", "cnn", "hog+cnn", ...
#include <cstddef>

#include "morvik/morvik.h"
// After morvik.h, so that the shared entry points keep their C++ declarations.
#include "morvik/morvik_c.h"

namespace {

struct FinderName {
  const char* name;
  int bits;
};

// "dlib" is the HOG finder's older name, kept for scripts that use it.
const FinderName kFinderNames[] = {
    {"yunet", MV_FIND_YUNET_ALWAYS},
    {"lbp", MV_FIND_LBP},   {"haar", MV_FIND_HAAR}, {"hog", MV_FIND_DLIB},         {"cnn", MV_FIND_CNN},
    {"pico", MV_FIND_PICO}, {"confirm", MV_FIND_CONFIRM}, {"dlib", MV_FIND_DLIB},
};

}  // namespace

extern "C" {

MORVIK_API int MvFinderName(size_t index, const char** name, int* bits) {
  if (name == nullptr || bits == nullptr) return MV_INVALID_ARGS;
  if (index >= sizeof(kFinderNames) / sizeof(kFinderNames[0])) return MV_INVALID_ARGS;
  *name = kFinderNames[index].name;
  *bits = kFinderNames[index].bits;
  return MV_OK;
}

}  // extern "C"
