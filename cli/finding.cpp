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
    return failure(MV_PARSE_IMAGE, whyNotDecoded(bytes));
  }
  image = cv::Mat(decoded.height, decoded.width, CV_8UC3, const_cast<void*>(decoded.pixels), decoded.stride).clone();
  MvReleaseImage(&decoded);
  return okStatus();
}

Status findFaces(const cv::Mat& image, uint8_t algo, size_t max_faces, std::vector<mv::Face>& faces) {
  return guarded([&] {
    std::vector<mv::Face> found(max_faces);
    size_t size = found.size();
    const int rc = ExtractFaces(&image, found.data(), &size, static_cast<mv::FindFaceAlgoType>(algo));
    if (rc != MV_OK) return fromCode(rc);
    found.resize(size);
    faces = std::move(found);
    return okStatus();
  });
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

Status describePhoto(const std::string& path, uint8_t algo, size_t max_faces,
                     std::vector<mv::Face>& faces, std::vector<mv::FaceData>& data) {
  cv::Mat image;
  Status status = readPhoto(path, image);
  if (status.ok()) status = findFaces(image, algo, max_faces, faces);
  if (status.ok()) status = describeFaces(image, faces, data);
  return status;
}

Status distance(const mv::FaceData& a, const mv::FaceData& b, double& result) {
  return fromCode(CompareVectors(a.vector, sizeof(a.vector), b.vector, sizeof(b.vector), &result));
}

}  // namespace cli
