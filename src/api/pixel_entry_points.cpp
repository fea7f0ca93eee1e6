// Entry points for C hosts that hold raw pixels instead of cv::Mat. Each one
// wraps the caller's buffer in a cv::Mat view, converts it to BGR and runs
// the cv::Mat entry point. Unlike those, nothing thrown below may cross the
// C boundary: every exception becomes -8.
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "api/entry_points.h"
#include "image/image_decode.h"
#include "image/image_header.h"
#include "morvik/findface.h"
#include "morvik/morvik.h"
#include "morvik/morvik_info.h"
// After morvik.h, so that the shared entry points keep their C++ declarations.
#include "morvik/morvik_c.h"

static_assert(sizeof(MvFace) == sizeof(mv::Face), "MvFace mirrors mv::Face");
static_assert(offsetof(MvFace, rect) == offsetof(mv::Face, rect), "MvFace mirrors mv::Face");
static_assert(offsetof(MvFace, left_eye) == offsetof(mv::Face, left_eye), "MvFace mirrors mv::Face");
static_assert(sizeof(MvFaceData) == sizeof(mv::FaceData), "MvFaceData mirrors mv::FaceData");
static_assert(offsetof(MvFaceData, vector) == offsetof(mv::FaceData, vector),
              "MvFaceData mirrors mv::FaceData");
static_assert(sizeof(MvFaceDataEx) == sizeof(mv::FaceDataEx), "MvFaceDataEx mirrors mv::FaceDataEx");
static_assert(sizeof(MvFaceDataAngle) == sizeof(mv::FaceDataAngle),
              "MvFaceDataAngle mirrors mv::FaceDataAngle");
static_assert(sizeof(MvOptionString) == sizeof(mv::OptionString),
              "MvOptionString mirrors mv::OptionString");
static_assert(sizeof(MvFoundFace) == sizeof(mv::FoundFace), "MvFoundFace mirrors mv::FoundFace");
static_assert(offsetof(MvFoundFace, score) == offsetof(mv::FoundFace, score), "MvFoundFace mirrors mv::FoundFace");
static_assert(offsetof(MvFoundFace, points) == offsetof(mv::FoundFace, points),
              "MvFoundFace mirrors mv::FoundFace");
static_assert(MV_FIND_LBP == mv::FindLBP && MV_FIND_HAAR == mv::FindHaar && MV_FIND_DLIB == mv::FindDlib &&
                  MV_FIND_CNN == mv::FindCNN && MV_FIND_PICO == mv::FindPico &&
                  MV_FIND_CONFIRM == mv::FindConfirm && MV_FIND_YUNET == mv::FindYunet &&
                  MV_FIND_YUNET_ALWAYS == mv::FindYunetAlways,
              "the C finder bits are the library's");

namespace {

// Every bit a selection of MvFindFaces may hold.
constexpr uint32_t kKnownFinders = 0xFFu | mv::FindYunetAlways;

int channelsOf(int32_t format) {
  switch (format) {
    case MV_PIXELS_GRAY: return 1;
    case MV_PIXELS_BGR:
    case MV_PIXELS_RGB: return 3;
    case MV_PIXELS_BGRA:
    case MV_PIXELS_RGBA: return 4;
    default: return 0;
  }
}

// The one place where a caller's buffer becomes an image for the library:
// checks the description, then yields BGR pixels (a view when the buffer
// already is BGR, else a converted copy).
int toBgr(const MvImage& image, cv::Mat& bgr) {
  const int channels = channelsOf(image.format);
  if (image.pixels == nullptr || channels == 0 || image.width <= 0 || image.height <= 0) {
    return MV_INVALID_ARGS;
  }
  const size_t row = static_cast<size_t>(image.width) * static_cast<size_t>(channels);
  const size_t stride = image.stride == 0 ? row : image.stride;
  if (stride < row || stride > std::numeric_limits<size_t>::max() / static_cast<size_t>(image.height)) {
    return MV_INVALID_ARGS;
  }
  const cv::Mat view(image.height, image.width, CV_8UC(channels), const_cast<void*>(image.pixels),
                     stride);
  switch (image.format) {
    case MV_PIXELS_GRAY: cv::cvtColor(view, bgr, cv::COLOR_GRAY2BGR); break;
    case MV_PIXELS_BGR: bgr = view; break;
    case MV_PIXELS_BGRA: cv::cvtColor(view, bgr, cv::COLOR_BGRA2BGR); break;
    case MV_PIXELS_RGB: cv::cvtColor(view, bgr, cv::COLOR_RGB2BGR); break;
    case MV_PIXELS_RGBA: cv::cvtColor(view, bgr, cv::COLOR_RGBA2BGR); break;
  }
  return MV_OK;
}

std::vector<mv::Face> toFaces(const MvFace* faces, size_t count) {
  std::vector<mv::Face> copies(count);
  std::memcpy(static_cast<void*>(copies.data()), faces, count * sizeof(mv::Face));
  return copies;
}

// Runs `body`, turning anything it throws into -8.
template <typename Body>
int guarded(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return MV_EXCEPTION;
  }
}

}  // namespace

extern "C" {

MORVIK_API int MvExtractFacesPixels(const MvImage* image, MvFace* faces, size_t* faces_size,
                                    MvFindFaceAlgoType algo) {
  if (image == nullptr || morvik::missingOutput(faces, faces_size)) return MV_INVALID_ARGS;
  return guarded([&]() -> int {
    cv::Mat bgr;
    int rc = toBgr(*image, bgr);
    if (rc != MV_OK) return rc;
    std::vector<mv::Face> found(*faces_size);
    size_t size = found.size();
    rc = ExtractFaces(&bgr, found.data(), &size, static_cast<mv::FindFaceAlgoType>(algo));
    if (rc != MV_OK) return rc;
    std::memcpy(faces, found.data(), size * sizeof(mv::Face));
    *faces_size = size;
    return MV_OK;
  });
}

MORVIK_API int MvFindFaces(const MvImage* image, MvFoundFace* faces, size_t* faces_size, uint32_t finders) {
  if (image == nullptr || morvik::missingOutput(faces, faces_size)) return MV_INVALID_ARGS;
  if ((finders & ~kKnownFinders) != 0) return MV_INVALID_ARGS;
  return guarded([&]() -> int {
    cv::Mat bgr;
    int rc = toBgr(*image, bgr);
    if (rc != MV_OK) return rc;
    FinderSelection selection = FinderSelection::fromByte(static_cast<mv::FindFaceAlgoType>(finders & 0xFFu));
    selection.bits |= finders & mv::FindYunetAlways;
    MorvikInfo info(static_cast<mv::FindFaceAlgoType>(finders & 0xFFu));
    info.useFinder(std::make_shared<DefaultFindFaceAlgo>(selection));
    rc = info.loadImage(bgr);
    if (rc != MV_OK) return rc;
    std::vector<mv::FoundFace> found;
    rc = info.findFaces(found, *faces_size);
    if (rc != MV_OK) return rc;
    std::memcpy(static_cast<void*>(faces), found.data(), found.size() * sizeof(mv::FoundFace));
    *faces_size = found.size();
    return MV_OK;
  });
}

MORVIK_API int MvExtractInfoPixels(const MvImage* image, const MvFace* faces, size_t count,
                                   MvFaceData* data, size_t* data_size) {
  if (image == nullptr || faces == nullptr || morvik::missingOutput(data, data_size)) {
    return MV_INVALID_ARGS;
  }
  if (count == 0) return MV_NO_FACE;
  return guarded([&]() -> int {
    cv::Mat bgr;
    int rc = toBgr(*image, bgr);
    if (rc != MV_OK) return rc;
    const size_t n = count < *data_size ? count : *data_size;
    std::vector<mv::Face> known = toFaces(faces, n);
    std::vector<mv::FaceData> described(n);
    size_t size = n;
    rc = ExtractInfo(&bgr, known.data(), n, described.data(), &size);
    if (rc != MV_OK) return rc;
    std::memcpy(data, described.data(), size * sizeof(mv::FaceData));
    *data_size = size;
    return MV_OK;
  });
}

MORVIK_API int MvExtractVectorPixels(const MvImage* image, const MvFace* face, float* descriptor) {
  if (image == nullptr || face == nullptr || descriptor == nullptr) return MV_INVALID_ARGS;
  return guarded([&]() -> int {
    cv::Mat bgr;
    int rc = toBgr(*image, bgr);
    if (rc != MV_OK) return rc;
    std::vector<mv::Face> known = toFaces(face, 1);
    float vector[128];
    rc = ExtractVector(&bgr, known.data(), vector);
    if (rc != MV_OK) return rc;
    std::memcpy(descriptor, vector, sizeof(vector));
    return MV_OK;
  });
}

MORVIK_API int MvDecodeImage(const void* bytes, size_t length, MvImage* image) {
  if (bytes == nullptr || length == 0 || image == nullptr) return MV_INVALID_ARGS;
  return guarded([&]() -> int {
    cv::Mat decoded;
    try {
      const int rc = morvik::decodeWithinLimit(bytes, length, cv::IMREAD_COLOR, decoded);
      if (rc != MV_OK) return rc;
    } catch (const cv::Exception&) {
      return MV_PARSE_IMAGE;  // some codecs throw on damaged data instead of failing
    }
    if (decoded.type() != CV_8UC3) return MV_PARSE_IMAGE;
    const size_t stride = static_cast<size_t>(decoded.cols) * 3;
    void* pixels = std::malloc(stride * static_cast<size_t>(decoded.rows));
    if (pixels == nullptr) return MV_EXCEPTION;
    cv::Mat packed(decoded.rows, decoded.cols, CV_8UC3, pixels, stride);
    decoded.copyTo(packed);
    image->pixels = pixels;
    image->width = decoded.cols;
    image->height = decoded.rows;
    image->stride = stride;
    image->format = MV_PIXELS_BGR;
    return MV_OK;
  });
}

MORVIK_API int MvPeekImageSize(const void* bytes, size_t length, uint64_t* width, uint64_t* height) {
  if (bytes == nullptr || length == 0 || width == nullptr || height == nullptr) return MV_INVALID_ARGS;
  uint64_t w = 0, h = 0;
  if (!morvik::peekImageSize(static_cast<const unsigned char*>(bytes), length, w, h)) return MV_PARSE_IMAGE;
  *width = w;
  *height = h;
  return MV_OK;
}

MORVIK_API void MvReleaseImage(MvImage* image) {
  if (image == nullptr) return;
  std::free(const_cast<void*>(image->pixels));
  *image = MvImage{};
}

}  // extern "C"
