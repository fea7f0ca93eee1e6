// Bytes offered as a landmark model: the library's reader either gives them
// up to dlib or builds from them the model dlib builds, and its check of
// the model's parts reads only inside them.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include <dlib/image_processing/shape_predictor.h>

#include "fuzz_support.h"
#include "landmark_model_reader.h"

namespace {

std::string serialized(const dlib::shape_predictor& model) {
  std::ostringstream out;
  dlib::serialize(model, out);
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  dlib::shape_predictor fast;
  if (!morvik::readLandmarkModel(bytes, size, fast)) return 0;
  morvik::consistentLandmarkModel(fast);

  // Whatever the reader took, dlib takes too, to the same model. (Its sizes
  // are bounded by the input, since the reader took them.)
  dlib::shape_predictor slow;
  std::istringstream in(std::string(bytes, size));
  try {
    dlib::deserialize(slow, in);
  } catch (const dlib::serialization_error&) {
    FUZZ_EXPECT(false);
  }
  FUZZ_EXPECT(serialized(fast) == serialized(slow));
  return 0;
}
