// Bytes offered as a landmark model: the library's reader either gives them
// up to dlib or builds from them the model dlib builds, flattened, with
// parts that fit together.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include <dlib/image_processing/shape_predictor.h>

#include "fuzz_support.h"
#include "models/landmark_model.h"
#include "models/landmark_model_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  morvik::LandmarkModel fast;
  if (!morvik::readLandmarkModel(bytes, size, fast)) return 0;
  FUZZ_EXPECT(fast.fits());

  // Whatever the reader took, dlib takes too, to the same model. (Its sizes
  // are bounded by the input, since the reader took them.)
  dlib::shape_predictor slow;
  std::istringstream in(std::string(bytes, size));
  try {
    dlib::deserialize(slow, in);
  } catch (const dlib::serialization_error&) {
    FUZZ_EXPECT(false);
  }
  morvik::LandmarkModel flat;
  FUZZ_EXPECT(morvik::flattenLandmarkModel(slow, flat));
  FUZZ_EXPECT(fast == flat);

  return 0;
}
