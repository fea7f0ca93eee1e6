// Entry points that find and describe the faces of an encoded image in one
// call.
#include <climits>
#include <cstring>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "api/entry_points.h"
#include "image/image_decode.h"
#include "morvik/morvik.h"

namespace {

// Decodes the bytes in place (no copy). The decoder takes the length as a
// 32-bit column count, so longer inputs are refused rather than truncated.
int decodeBytes(const void* bytes, size_t length, cv::Mat& decoded) {
  if (length > static_cast<size_t>(INT_MAX)) return MV_INVALID_ARGS;
  return morvik::decodeWithinLimit(bytes, length, cv::IMREAD_ANYCOLOR, decoded);
}

bool badArgs(const void* bytes, size_t length, const void* data, const size_t* data_size) {
  return bytes == nullptr || length == 0 || morvik::missingOutput(data, data_size);
}

// Decodes and finds up to *data_size faces; on success *data_size holds
// their number and `faces` has the caller's capacity, zero past the faces.
int findFaces(const void* bytes, size_t length, size_t* data_size, mv::FindFaceAlgoType algo, cv::Mat& decoded,
              std::vector<mv::Face>& faces) {
  int rc = decodeBytes(bytes, length, decoded);
  if (rc != 0) return rc;
  faces.assign(*data_size, mv::Face{});
  return ExtractFaces(&decoded, faces.data(), data_size, algo);
}

// Finds the faces and hands them, unchanged, to the descriptor step.
template <typename Record>
int findAndDescribe(const void* bytes, size_t length, Record* data, size_t* data_size, mv::FindFaceAlgoType algo,
                    int (*describe)(const cv::Mat*, mv::Face*, size_t, Record*, size_t*)) {
  if (badArgs(bytes, length, data, data_size)) return MV_INVALID_ARGS;
  const size_t capacity = *data_size;
  cv::Mat decoded;
  std::vector<mv::Face> faces;
  const int rc = findFaces(bytes, length, data_size, algo, decoded, faces);
  if (rc != 0) return rc;
  return describe(&decoded, faces.data(), capacity, data, data_size);
}

}  // namespace

extern "C" {

int ExtractFacesInfo(const void* bytes, size_t length, mv::FaceData* data, size_t* data_size,
                     mv::FindFaceAlgoType algo) {
  return findAndDescribe(bytes, length, data, data_size, algo, &ExtractInfo);
}

int ExtractFacesInfoEx(const void* bytes, size_t length, mv::FaceDataEx* data, size_t* data_size,
                       mv::FindFaceAlgoType algo) {
  return findAndDescribe(bytes, length, data, data_size, algo, &ExtractInfoEx);
}

int ExtractFacesInfoAngle(const void* bytes, size_t length, void* data, size_t* data_size,
                          mv::FindFaceAlgoType algo) {
  if (badArgs(bytes, length, data, data_size)) return MV_INVALID_ARGS;
  const size_t capacity = *data_size;
  cv::Mat decoded;
  std::vector<mv::Face> faces;
  int rc = findFaces(bytes, length, data_size, algo, decoded, faces);
  if (rc != 0) return rc;
  std::vector<mv::FaceData> described(capacity, mv::FaceData{});
  rc = ExtractInfo(&decoded, faces.data(), capacity, described.data(), data_size);
  if (rc != 0) return rc;
  // Every record of the caller's capacity is written: the faces first, then
  // zero records.
  auto* out = static_cast<mv::FaceDataAngle*>(data);
  for (size_t i = 0; i < capacity; ++i) {
    mv::FaceDataAngle record{};
    record.data = described[i];
    record.angle = faces[i].angle;
    std::memcpy(static_cast<void*>(out + i), &record, sizeof(record));
  }
  return 0;
}

}  // extern "C"
