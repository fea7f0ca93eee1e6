#include "finding.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <opencv2/core.hpp>

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

}  // namespace

Status readPhoto(const std::string& path, cv::Mat& image) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return failure(MV_PARSE_IMAGE, "no such file");
  if (std::filesystem::is_directory(path, ec)) return failure(MV_PARSE_IMAGE, "is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) return failure(MV_PARSE_IMAGE, std::strerror(errno));
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) return failure(MV_PARSE_IMAGE, "empty file");
  // The library's decoder, so that its limit on decoded sizes holds here too.
  MvImage decoded{};
  if (MvDecodeImage(bytes.data(), bytes.size(), &decoded) != MV_OK) {
    return failure(MV_PARSE_IMAGE, "not an image that can be decoded");
  }
  image = cv::Mat(decoded.height, decoded.width, CV_8UC3, const_cast<void*>(decoded.pixels), decoded.stride).clone();
  MvReleaseImage(&decoded);
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
