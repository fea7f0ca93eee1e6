// Loading the YuNet face network's model file ("yunet.path"), cached per
// thread like every other model.
#ifndef MORVIK_YUNET_LOADER_H_
#define MORVIK_YUNET_LOADER_H_

#include <cstddef>
#include <memory>
#include <string>

#include "engine/cnn/yunet.h"

namespace morvik {

// The layout holds 221,120 bytes; a file beyond this is not the model and
// is refused before it is read.
constexpr size_t kMaxYunetModelBytes = 1 << 20;

// Reads and parses the model file at `path`: 0, or MV_LOAD_CASCADE when it
// is not a readable regular file of at most kMaxYunetModelBytes holding
// the network (out untouched then).
int loadYunetModelFile(const std::string& path, std::shared_ptr<const YunetNetwork>& out);

// The calling thread's network from the file "yunet.path" names, loaded on
// its first use under the process-wide lock and dropped by GlobalFree: 0,
// or MV_LOAD_CASCADE (nothing cached then; the next call tries again).
int loadYunetModel(std::shared_ptr<const YunetNetwork>& out);

}  // namespace morvik

#endif  // MORVIK_YUNET_LOADER_H_
