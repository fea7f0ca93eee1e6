// Encoded image bytes from a host: whatever they hold, finding and
// describing ends in a result code with sound records.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "morvik/morvik.h"

namespace {

// One face per call: each described face costs a pass of the descriptor
// network, the same whatever the bytes were.
constexpr size_t kCapacity = 1;

int setInt(const char* name, int value) { return SetOption(name, &value, sizeof value); }

// A small working size keeps every input to milliseconds; the finders and
// the descriptor network stay loaded across inputs (they are cached per
// thread).
void configure() {
  FUZZ_EXPECT(setInt("image.rescale_max", 192) == MV_OK);
  FUZZ_EXPECT(setInt("image.rescale_min", 192) == MV_OK);
  FUZZ_EXPECT(setInt("pico.minsize", 24) == MV_OK);
  FUZZ_EXPECT(setInt("pico.maxsize", 192) == MV_OK);
  FUZZ_EXPECT(setInt("haar.face.min_face.width", 24) == MV_OK);
  FUZZ_EXPECT(setInt("haar.face.min_face.height", 24) == MV_OK);
}

bool knownCode(int rc) {
  switch (rc) {
    case MV_OK: case MV_NO_EYE: case MV_ONE_EYE: case MV_INVALID_ARGS: case MV_PARSE_IMAGE:
    case MV_NO_FACE: case MV_ENCODE_IMAGE: case MV_CREATE_VECTOR: case MV_EXCEPTION:
    case MV_NO_IMAGE:
      return true;
    default:
      return false;
  }
}

void checkRecord(const mv::FaceData& d) {
  FUZZ_EXPECT(d.rect.w >= 0 && d.rect.h >= 0);
  for (float v : d.vector) FUZZ_EXPECT(std::isfinite(v));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::silenceLog();
  configure();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Two fast finders, picked by the input so that both see every kind of
  // image; the CNN finders cost seconds per image under the sanitizers.
  const mv::FindFaceAlgoType algo = (size % 2 == 0) ? mv::FindPico : mv::FindLBP;

  std::vector<mv::FaceData> plain(kCapacity);
  size_t plain_size = kCapacity;
  const int rc = ExtractFacesInfo(data, size, plain.data(), &plain_size, algo);
  FUZZ_EXPECT(knownCode(rc));
  if (rc == MV_OK) {
    FUZZ_EXPECT(plain_size <= kCapacity);
    for (size_t i = 0; i < plain_size; ++i) checkRecord(plain[i]);
  } else {
    FUZZ_EXPECT(plain_size == kCapacity);  // written only on success
  }

  std::vector<mv::FaceDataEx> extended(kCapacity);
  size_t extended_size = kCapacity;
  const int rc_ex = ExtractFacesInfoEx(data, size, extended.data(), &extended_size, algo);
  FUZZ_EXPECT(knownCode(rc_ex));
  // Same bytes, same finder: the plain records are the first part of the
  // extended ones.
  FUZZ_EXPECT(rc_ex == rc);
  if (rc_ex == MV_OK) {
    FUZZ_EXPECT(extended_size == plain_size);
    for (size_t i = 0; i < extended_size; ++i) {
      checkRecord(extended[i]);
      FUZZ_EXPECT(extended[i].image_data.data != nullptr && extended[i].image_data.size > 0);
    }
  }
  // The records release their encoded images when the vector goes.
  return 0;
}
