// Face data of the analysis object: each face is aligned by its eyes,
// cropped, and described by the metric network.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "image/alignment.h"
#include "check.h"
#include "analysis/box_descriptor.h"
#include "analysis/describe_models.h"
#include "analysis/landmarks.h"
#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/image.h"
#include "morvik/morvik_info.h"
#include "morvik/morvik.h"

namespace {

// A face the analysis can work on: it has an area, its far edges are
// representable, and it overlaps the image (a caller's record may say
// anything; the clipping and sub-matrix arithmetic downstream is int).
bool usableFace(const mv::Rectangle& r, const cv::Mat& image) {
  if (r.w < 1 || r.h < 1) return false;
  const int64_t right = int64_t{r.x} + r.w;
  const int64_t bottom = int64_t{r.y} + r.h;
  if (right > INT32_MAX || bottom > INT32_MAX) return false;
  return r.x < image.cols && r.y < image.rows && right > 0 && bottom > 0;
}

bool isEyeless(const mv::Face& face) {
  return face.left_eye.x == 0 && face.left_eye.y == 0 && face.right_eye.x == 0 && face.right_eye.y == 0;
}

// The loaded image as a working image at its own size, sharing its pixels.
PreparedImage fullSize(const cv::Mat& original) {
  PreparedImage full;
  full.scale = 1.0;
  full.rescale = 1.0;
  full.size = cv::Size(original.cols, original.rows);
  full.image = original;
  return full;
}

// align.mode 1: the face described from its box in the loaded image, the
// chip kept as its aligned image. A face without eyes gets the landmarks'
// eye centres: the fit that cut the chip placed them.
int describeFromBox(const cv::Mat& original, mv::Face& face, mv::FaceData& record, cv::Mat& crop) {
  morvik::BoxDescription description;
  std::vector<float> vector;
  const cv::Rect box(face.rect.x, face.rect.y, face.rect.w, face.rect.h);
  const int rc = morvik::describeFaceBox(original, box, description, vector);
  if (rc != 0) return rc;
  MV_CHECK(vector.size() == 128 && sizeof(record.vector) == 512);
  if (isEyeless(face)) {
    face.left_eye = description.left_eye;
    face.right_eye = description.right_eye;
  }
  record.rect = face.rect;
  record.left_eye = face.left_eye;
  record.right_eye = face.right_eye;
  std::copy(vector.begin(), vector.end(), record.vector);
  crop = description.chip;
  return 0;
}

}  // namespace

int MorvikInfo::prepareFaceImage(const cv::Mat& image, size_t index, const mv::FaceData& face, bool from_shape) {
  cv::Mat& cropedImage = crops.at(index);
  MV_CHECK(cropedImage.cols == 0);
  // Alignment moves the rectangle and the eyes; the caller's record stays.
  mv::FaceData local = face;
  // Faces whose eyes came from the landmarks already have a fitted box.
  const int rc = alignFaceCrop(image, &local.rect, &local.left_eye, &local.right_eye, cropedImage, !from_shape,
                               refitFaceRectWithin);
  if (rc != 0) return rc;
  MV_CHECK(cropedImage.cols);
  return 0;
}

int MorvikInfo::fillFaceVector(mv::FaceData& fd, const cv::Mat& faceImage) {
  MV_CHECK(faceImage.cols);
  std::vector<float> vector;
  const int rc = DlibExtractFaceVector(faceImage, vector);
  if (rc != 0) return rc;
  MV_CHECK(vector.size() == 128 && sizeof(fd.vector) == 512);
  std::copy(vector.begin(), vector.end(), fd.vector);
  return 0;
}

int MorvikInfo::getFacesInfo(std::vector<mv::Face>& faces, std::vector<mv::FaceData>& data) {
  data.clear();
  if (faces.empty()) return 0;
  if (original.cols == 0) return MV_NO_IMAGE;
  data.reserve(faces.size());
  crops.resize(faces.size());
  if (!usableFace(faces.front().rect, original)) return MV_INVALID_ARGS;
  morvik::loadDescribeModels();

  PreparedImage full;
  const bool from_box = g_config.align_mode != 0;
  for (size_t i = 0; i < faces.size(); ++i) {
    mv::Face& face = faces[i];
    if (from_box) {
      mv::FaceData record{};
      crops[i].release();
      const int rc = describeFromBox(original, face, record, crops[i]);
      if (rc != 0) return rc;
      data.push_back(record);
      if (i + 1 < faces.size() && !usableFace(faces[i + 1].rect, original)) return MV_INVALID_ARGS;
      continue;
    }
    if (isEyeless(face)) {
      if (full.image.cols == 0) full = fullSize(original);
      fillEyesInfo(full, face);  // the face keeps the from_shape it came with
    }
    mv::FaceData record{};
    record.rect = face.rect;
    record.right_eye = face.right_eye;
    record.left_eye = face.left_eye;
    // A slot from an earlier request on this object is refilled, not kept.
    crops[i].release();
    int rc = prepareFaceImage(original, i, record, face.from_shape);
    if (rc != 0) return rc;
    rc = fillFaceVector(record, getImage(i));
    if (rc != 0) return rc;
    data.push_back(record);
    if (i + 1 < faces.size() && !usableFace(faces[i + 1].rect, original)) return MV_INVALID_ARGS;
  }
  return 0;
}

int MorvikInfo::getFacesInfo(std::vector<mv::Face>& faces, std::vector<mv::FaceDataEx>& data) {
  std::vector<mv::FaceData> records;
  const int rc = getFacesInfo(faces, records);
  if (rc != 0) return rc;
  data.resize(records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    data[i] = records[i];
    data[i] = getImage(i);
  }
  return 0;
}

int MorvikInfo::getFacesInfo(std::vector<mv::FaceData>& data, size_t max) {
  std::vector<mv::Face> faces;
  const int rc = getFaces(faces, max);
  if (rc != 0) return rc;
  return getFacesInfo(faces, data);
}

int MorvikInfo::getFacesInfo(std::vector<mv::FaceDataEx>& data, size_t max) {
  std::vector<mv::Face> faces;
  const int rc = getFaces(faces, max);
  if (rc != 0) return rc;
  return getFacesInfo(faces, data);
}
