// Raw pixel buffers of any geometry from a host: widths and heights from 1
// to 20000, every pixel format, padded rows and every finder selection, the
// YuNet finder's too (bit 0x80 with "find.yunet" 1, and through MvFindFaces).
// Whatever the shape, the pixel entry points end in a result code with
// sound records, within bounded memory and time.
//
// Input layout (little-endian): width u16, height u16 (each taken modulo
// 20000, plus 1), format u8, row padding u8, finder bits u8, call u8 (modulo
// 3: which describing call follows; the next bit: MvFindFaces with the YuNet
// finder added instead of MvExtractFacesPixels), then the bytes the pixels
// are filled with (repeated; zero when none).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "morvik/morvik.h"
#include "morvik/morvik_c.h"

namespace {

constexpr int kMaxSide = 20000;
// Larger areas are cut down (keeping the shape's longer side): the shapes
// that matter are the thin ones, and a full 20000 x 20000 buffer would
// cost each input seconds.
constexpr int64_t kMaxArea = int64_t{1} << 18;
constexpr size_t kHeader = 8;

int setInt(const char* name, int value) { return SetOption(name, &value, sizeof value); }

// The library's own working sizes, with the bounds lowered so that every
// input stays within milliseconds while each bound is still met often.
void configure() {
  FUZZ_EXPECT(setInt("dlib.cnn.rescale_min", 256) == MV_OK);
  FUZZ_EXPECT(setInt("dlib.cnn.rescale_max", 256) == MV_OK);
  FUZZ_EXPECT(setInt("image.max_working_pixels", 262144) == MV_OK);
  FUZZ_EXPECT(setInt("image.max_working_side", 2048) == MV_OK);
  FUZZ_EXPECT(setInt("find.yunet", 1) == MV_OK);
  FUZZ_EXPECT(setInt("yunet.rescale_max", 512) == MV_OK);
}

bool knownCode(int rc) {
  return rc == MV_OK || rc == MV_INVALID_ARGS || rc == MV_PARSE_IMAGE || rc == MV_NO_FACE ||
         rc == MV_CREATE_VECTOR || rc == MV_EXCEPTION || rc == MV_NO_IMAGE;
}

int channelsOf(int format) {
  switch (format) {
    case MV_PIXELS_GRAY: return 1;
    case MV_PIXELS_BGR: case MV_PIXELS_RGB: return 3;
    case MV_PIXELS_BGRA: case MV_PIXELS_RGBA: return 4;
    default: return 1;  // the buffer is sized for one; the call refuses the format
  }
}

uint16_t readU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

void checkFaces(const MvFace* faces, size_t count, int width, int height) {
  for (size_t i = 0; i < count; ++i) {
    FUZZ_EXPECT(faces[i].rect.w > 0 && faces[i].rect.h > 0);
    // Faces are mapped back to the caller's image; rounding may put an
    // edge a little outside, never far.
    FUZZ_EXPECT(faces[i].rect.x > -width && faces[i].rect.x < 2 * int64_t{width});
    FUZZ_EXPECT(faces[i].rect.y > -height && faces[i].rect.y < 2 * int64_t{height});
  }
}

// The found faces' own records, after checking what the finder added.
void checkFound(const MvFoundFace* found, size_t count, MvFace* faces) {
  for (size_t i = 0; i < count; ++i) {
    FUZZ_EXPECT(found[i].point_count == 0 || found[i].point_count == 5);
    FUZZ_EXPECT(std::isnan(found[i].score) || (found[i].score >= 0.0f && found[i].score <= 1.0f));
    faces[i] = found[i].face;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::silenceLog();
  configure();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeader) return 0;
  int width = readU16(data) % kMaxSide + 1;
  int height = readU16(data + 2) % kMaxSide + 1;
  while (int64_t{width} * height > kMaxArea) (width >= height ? height : width) /= 2;
  const int format = data[4] % 7;  // 0 and 6 are not formats
  const size_t padding = data[5] % 17;
  const auto algo = static_cast<MvFindFaceAlgoType>(data[6]);
  const int call = data[7] % 3;
  const bool wide = (data[7] / 3) % 2 == 1;
  const int align_mode = (data[7] / 6) % 4;

  const size_t row = size_t(width) * channelsOf(format);
  const size_t stride = padding == 0 ? 0 : row + padding;
  std::vector<uint8_t> pixels((stride == 0 ? row : stride) * size_t(height));
  const size_t fill = size - kHeader;
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = fill == 0 ? 0 : data[kHeader + i % fill];

  const MvImage image{pixels.data(), width, height, stride, format};
  MvFace faces[4] = {};
  size_t count = 4;
  int rc;
  if (wide) {
    MvFoundFace found[4] = {};
    rc = MvFindFaces(&image, found, &count, algo | MV_FIND_YUNET_ALWAYS);
    if (rc == MV_OK) checkFound(found, count <= 4 ? count : 4, faces);
  } else {
    rc = MvExtractFacesPixels(&image, faces, &count, algo);
  }
  FUZZ_EXPECT(knownCode(rc));
  if (rc != MV_OK) return 0;
  FUZZ_EXPECT(count >= 1 && count <= 4);
  checkFaces(faces, count, width, height);

  // Faces found are described too, now and then: the alignment and the
  // landmarks see the same odd geometry, in every way of aligning.
  FUZZ_EXPECT(setInt("align.mode", align_mode) == MV_OK);
  if (call == 1) {
    MvFaceData described[1];
    size_t described_size = 1;
    const int info = MvExtractInfoPixels(&image, faces, 1, described, &described_size);
    FUZZ_EXPECT(knownCode(info));
    if (info == MV_OK) {
      for (float v : described[0].vector) FUZZ_EXPECT(std::isfinite(v));
    }
  } else if (call == 2) {
    float descriptor[128];
    FUZZ_EXPECT(knownCode(MvExtractVectorPixels(&image, &faces[0], descriptor)));
  }
  return 0;
}
