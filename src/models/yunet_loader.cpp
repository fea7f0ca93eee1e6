// Reading the YuNet model file and caching the network per thread; see
// yunet_loader.h.
#include "models/yunet_loader.h"

#include <vector>

#include <dlib/serialize.h>

#include "models/model_file.h"
#include "morvik/config.h"
#include "morvik/global_cache.h"
#include "morvik/morvik.h"

namespace morvik {
namespace {

struct ThreadYunet {
  std::shared_ptr<const YunetNetwork> net;
};

struct LoadYunet {
  bool operator()(ThreadYunet& model) const {
    return loadYunetModelFile(g_config.yunet_path, model.net) == MV_OK;
  }
};

}  // namespace

int loadYunetModelFile(const std::string& path, std::shared_ptr<const YunetNetwork>& out) {
  std::vector<unsigned char> bytes;
  try {
    ModelFileSource file(path);
    if (file.size() > kMaxYunetModelBytes) return MV_LOAD_CASCADE;
    bytes.resize(file.size());
    // A file that shrank since it was opened is parsed as it now is, and
    // the layout refuses it.
    bytes.resize(file.read(reinterpret_cast<char*>(bytes.data()), bytes.size()));
  } catch (const dlib::serialization_error&) {
    return MV_LOAD_CASCADE;  // not a regular file that can be read
  }
  return parseYunetModel(bytes.data(), bytes.size(), out);
}

int loadYunetModel(std::shared_ptr<const YunetNetwork>& out) {
  std::shared_ptr<ThreadYunet> model = cachedModel<ThreadYunet>(LoadYunet{});
  if (!model) return MV_LOAD_CASCADE;
  out = model->net;
  return MV_OK;
}

}  // namespace morvik
