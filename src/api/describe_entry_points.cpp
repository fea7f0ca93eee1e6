// Entry points that describe faces the caller already knows, and compare
// two descriptors.
#include <algorithm>
#include <cstring>
#include <vector>

#include "check.h"
#include "morvik/dlib_wrappers.h"
#include "api/entry_points.h"
#include "morvik/morvik.h"
#include "morvik/morvik_info.h"

namespace {

// The finder selection does not matter: these calls never search for faces.
constexpr auto kDescribeSelection = static_cast<mv::FindFaceAlgoType>(0x1E);

// Loads the image and computes the face data of the first
// min(count, *data_size) faces. The caller's face array is never written.
template <typename Record>
int describeFaces(const cv::Mat* image, const mv::Face* faces, size_t count, size_t* data_size,
                  std::vector<Record>& out) {
  MorvikInfo info(kDescribeSelection);
  int rc = info.loadImage(*image);
  if (rc != 0) return rc;
  const size_t n = std::min(count, *data_size);
  std::vector<mv::Face> list(n);
  std::memcpy(static_cast<void*>(list.data()), faces, n * sizeof(mv::Face));
  MV_CHECK(list.size() == n);
  rc = info.getFacesInfo(list, out);
  if (rc != 0) return rc;
  MV_CHECK(out.size() == n);
  return 0;
}

bool badArgs(const cv::Mat* image, const mv::Face* faces, const void* data, const size_t* data_size) {
  return image == nullptr || faces == nullptr || morvik::missingOutput(data, data_size);
}

}  // namespace

extern "C" {

int ExtractInfo(const cv::Mat* image, mv::Face* faces, size_t count, mv::FaceData* data, size_t* data_size) {
  if (badArgs(image, faces, data, data_size)) return MV_INVALID_ARGS;
  if (count == 0) return MV_NO_FACE;
  std::vector<mv::FaceData> out;
  const int rc = describeFaces(image, faces, count, data_size, out);
  if (rc != 0) return rc;
  std::memcpy(static_cast<void*>(data), out.data(), out.size() * sizeof(mv::FaceData));
  *data_size = out.size();
  return 0;
}

int ExtractInfoEx(const cv::Mat* image, mv::Face* faces, size_t count, mv::FaceDataEx* data, size_t* data_size) {
  if (badArgs(image, faces, data, data_size)) return MV_INVALID_ARGS;
  if (count == 0) return MV_NO_FACE;
  std::vector<mv::FaceDataEx> out;  // releases its own buffers on every path
  const int rc = describeFaces(image, faces, count, data_size, out);
  if (rc != 0) return rc;
  // Assignment frees the buffer the caller's record held and deep-copies ours.
  for (size_t i = 0; i < out.size(); ++i) data[i] = out[i];
  *data_size = out.size();
  return 0;
}

int ExtractVector(const cv::Mat* image, mv::Face* face, float* descriptor) {
  if (face == nullptr || descriptor == nullptr || image == nullptr) return MV_INVALID_ARGS;
  mv::FaceData record{};
  size_t size = 1;
  const int rc = ExtractInfo(image, face, 1, &record, &size);
  if (rc != 0) return rc;
  std::memcpy(descriptor, record.vector, sizeof(record.vector));
  return 0;
}

int CompareVectors(const float* first, size_t first_size, const float* second, size_t second_size,
                   double* distance) {
  if (first == nullptr || second == nullptr || first_size == 0 || second_size == 0 || first_size != second_size ||
      distance == nullptr)
    return MV_INVALID_ARGS;
  *distance = 0.0;
  // Sizes are in bytes; a partial float at the end is ignored.
  std::vector<float> a(first, first + first_size / sizeof(float));
  std::vector<float> b(second, second + second_size / sizeof(float));
  return DlibCompareVectors(a, b, *distance);
}

}  // extern "C"
