#include "finding.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "files/atomic_file.h"
#include "files/photo_file.h"
#include "morvik/morvik_c.h"

namespace cli {
namespace {

// Library failures that arrive as exceptions become -8 with their text.
template <typename Body>
Status guarded(Body body) {
  try {
    return body();
  } catch (const std::exception& e) {
    return failure(MV_EXCEPTION, e.what());
  } catch (...) {
    return failure(MV_EXCEPTION, "unknown exception");
  }
}

Status fromCode(int code) { return code == MV_OK ? okStatus() : failure(code, ""); }

// Names the decoded-size limit when the header shows the image is over it.
std::string whyNotDecoded(const std::vector<unsigned char>& bytes) {
  uint64_t width = 0, height = 0;
  int32_t limit = 0;
  if (MvPeekImageSize(bytes.data(), bytes.size(), &width, &height) == MV_OK &&
      GetOption("image.max_decoded_pixels", &limit, sizeof(limit)) == MV_OK && limit > 0 &&
      (width > static_cast<uint64_t>(limit) || height > static_cast<uint64_t>(limit) ||
       width * height > static_cast<uint64_t>(limit))) {
    return std::to_string(width) + "x" + std::to_string(height) + " image (" + std::to_string(width * height) +
           " pixels) over the decode limit image.max_decoded_pixels = " + std::to_string(limit) +
           " (raise it with -o image.max_decoded_pixels=N, up to 1073741824)";
  }
  return "not an image that can be decoded";
}

}  // namespace

Status readPhoto(const std::string& path, cv::Mat& image) {
  int32_t max_pixels = 0;
  if (GetOption("image.max_decoded_pixels", &max_pixels, sizeof max_pixels) != MV_OK) {
    return failure(MV_EXCEPTION, "cannot read image.max_decoded_pixels");
  }
  std::vector<unsigned char> bytes;
  std::string error;
  if (!morvik::readPhotoFile(path, static_cast<uint64_t>(std::max(max_pixels, 0)), bytes, error)) {
    return failure(MV_PARSE_IMAGE, error);
  }
  // The library's decoder, so that its limit on decoded sizes holds here too.
  MvImage decoded{};
  if (MvDecodeImage(bytes.data(), bytes.size(), &decoded) != MV_OK) {
    return failure(MV_PARSE_IMAGE, whyNotDecoded(bytes));
  }
  image = cv::Mat(decoded.height, decoded.width, CV_8UC3, const_cast<void*>(decoded.pixels), decoded.stride).clone();
  MvReleaseImage(&decoded);
  return okStatus();
}

Status writeImageFile(const std::string& path, const cv::Mat& image) {
  std::vector<unsigned char> bytes;
  try {
    const std::string extension = std::filesystem::path(path).extension().string();
    if (!cv::imencode(extension, image, bytes)) {
      return failure(MV_ENCODE_IMAGE, "cannot encode " + path);
    }
  } catch (const cv::Exception& e) {
    return failure(MV_ENCODE_IMAGE, "cannot encode " + path + ": " + e.err);
  }
  std::string error;
  if (!morvik::writeFileAtomically(path, bytes.data(), bytes.size(), error)) {
    return failure(MV_ENCODE_IMAGE, error);
  }
  return okStatus();
}

Status findFaces(const cv::Mat& image, Finders algo, size_t max_faces, std::vector<mv::FoundFace>& faces) {
  static_assert(sizeof(mv::FoundFace) == sizeof(MvFoundFace), "the C record mirrors the C++ one");
  return guarded([&] {
    if (image.type() != CV_8UC3) return failure(MV_INVALID_ARGS, "not an 8-bit BGR image");
    MvImage pixels{};
    pixels.pixels = image.data;
    pixels.width = image.cols;
    pixels.height = image.rows;
    pixels.stride = image.step[0];
    pixels.format = MV_PIXELS_BGR;
    std::vector<mv::FoundFace> found(max_faces);
    size_t size = found.size();
    const int rc = MvFindFaces(&pixels, reinterpret_cast<MvFoundFace*>(found.data()), &size, algo);
    if (rc != MV_OK) return fromCode(rc);
    found.resize(size);
    faces = std::move(found);
    return okStatus();
  });
}

std::vector<mv::Face> facesOf(const std::vector<mv::FoundFace>& found) {
  std::vector<mv::Face> faces;
  faces.reserve(found.size());
  for (const mv::FoundFace& f : found) faces.push_back(f.face);
  return faces;
}

Status describeFaces(const cv::Mat& image, std::vector<mv::Face>& faces, std::vector<mv::FaceData>& data) {
  return guarded([&] {
    std::vector<mv::FaceData> described(faces.size());
    size_t size = described.size();
    const int rc = ExtractInfo(&image, faces.data(), faces.size(), described.data(), &size);
    if (rc != MV_OK) return fromCode(rc);
    described.resize(size);
    data = std::move(described);
    return okStatus();
  });
}

Status describePhoto(const std::string& path, Finders algo, size_t max_faces,
                     std::vector<mv::FoundFace>& faces, std::vector<mv::FaceData>& data) {
  cv::Mat image;
  Status status = readPhoto(path, image);
  if (status.ok()) status = findFaces(image, algo, max_faces, faces);
  std::vector<mv::Face> records = facesOf(faces);
  if (status.ok()) status = describeFaces(image, records, data);
  return status;
}

Status distance(const mv::FaceData& a, const mv::FaceData& b, double& result) {
  return fromCode(CompareVectors(a.vector, sizeof(a.vector), b.vector, sizeof(b.vector), &result));
}

}  // namespace cli
