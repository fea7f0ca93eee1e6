// The analysis object: loading an image and finding its faces with eyes.
#include "morvik/morvik_info.h"

#include <algorithm>
#include <vector>

#include <dlib/image_processing/full_object_detection.h>

#include "analysis/all_members.h"
#include "analysis/found_face.h"
#include "check.h"
#include "engine/parallel.h"
#include "image/image_size.h"
#include "image/image_convert.h"
#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/findface.h"
#include "morvik/morvik.h"

// Counted so that analyses running on several threads do not also spread
// their work over helper threads.
MorvikInfo::MorvikInfo(mv::FindFaceAlgoType algo) : algo_type(algo) { morvik::enterAnalysis(); }

MorvikInfo::~MorvikInfo() { morvik::leaveAnalysis(); }

int MorvikInfo::loadImage(const cv::Mat& image) {
  cv::Mat bgr;
  const int rc = morvik::toBgr8(image, bgr);
  if (rc != 0) return rc;
  original = bgr;
  MV_CHECK(original.channels() == 3);
  return 0;
}

int MorvikInfo::loadImage(const void* data, size_t size) {
  if (data == nullptr) return MV_INVALID_ARGS;
  cv::Mat decoded;
  const int rc = decodeImage(data, size, decoded);
  if (rc != 0) return rc;
  return loadImage(decoded);
}

int MorvikInfo::loadImage(const char* path) {
  image_path = path != nullptr ? path : "";
  std::vector<char> bytes;
  if (read_file(path, bytes) <= 0 || bytes.empty()) return MV_PARSE_IMAGE;
  return loadImage(bytes.data(), bytes.size());
}

int MorvikInfo::prepareImage(const PreparedParams& params, PreparedImage& prepared) {
  if (original.cols == 0) return MV_INVALID_ARGS;
  int rc = 0;
  if (params.rescale == 0.0) {
    // At its own size the working image is the loaded one: finders and the
    // eye search only read it, so there is nothing to protect by copying.
    prepared.image = original;
  } else {
    rc = imagePrepare(original, params, prepared.image);
    if (rc != 0) return rc;
  }
  static_cast<PreparedParams&>(prepared) = params;
  if (prepared.image.channels() != 3) {
    cv::Mat bgr;
    rc = morvik::toBgr8(prepared.image, bgr);
    if (rc != 0) return rc;
    prepared.image = bgr;
    MV_CHECK(prepared.image.channels() == 3);
  }
  return 0;
}

bool MorvikInfo::rescaleFaceInfo(const PreparedParams& params, mv::Face& face) {
  const double r = params.rescale;
  if (r == 0.0 || r == 1.0) return false;
  auto scale = [r](int32_t& v) { v = morvik::saturateToInt(v * r); };
  scale(face.rect.x);
  scale(face.rect.y);
  scale(face.rect.w);
  scale(face.rect.h);
  scale(face.right_eye.x);
  scale(face.right_eye.y);
  scale(face.left_eye.x);
  scale(face.left_eye.y);
  return true;
}

int MorvikInfo::getFaces(std::vector<mv::Face>& faces, size_t max) {
  std::vector<mv::FoundFace> found;
  const int rc = findFaces(found, max);
  if (rc != 0) return rc;
  faces.clear();
  faces.reserve(found.size());
  for (const mv::FoundFace& f : found) faces.push_back(f.face);
  return 0;
}

int MorvikInfo::findFaces(std::vector<mv::FoundFace>& faces, size_t max) {
  if (original.cols == 0) return MV_NO_IMAGE;
  if (!finder) finder = std::make_shared<DefaultFindFaceAlgo>(algo_type);
  if (g_config.find_all_members != 0) return morvik::findWithAllMembers(*this, *finder, faces, max);

  // Walk the finders' scales until one yields faces; entries with the same
  // factor share one working image.
  const std::vector<PreparedParams> scales = finder->getScales(original);
  PreparedImage prepared;
  double last = -1.0;
  std::vector<rotrect> rfaces;
  for (size_t i = 0; i < scales.size() && rfaces.empty(); ++i) {
    if (scales[i].scale != last) {
      if (prepareImage(scales[i], prepared) != 0) continue;
      last = scales[i].scale;
    }
    finder->findFaces(i, prepared.image, rfaces);
  }
  if (rfaces.empty()) return MV_NO_FACE;

  MV_CHECK(prepared.image.cols != 0);
  // Largest first. Finders that search in parallel report equal-sized faces
  // in any order, so ties go top to bottom, then left to right: the same
  // image always gives the same list.
  std::sort(rfaces.begin(), rfaces.end(), [](const rotrect& a, const rotrect& b) {
    const int64_t area_a = morvik::pixelCount(a.rect), area_b = morvik::pixelCount(b.rect);
    if (area_a != area_b) return area_a > area_b;
    if (a.rect.y != b.rect.y) return a.rect.y < b.rect.y;
    if (a.rect.x != b.rect.x) return a.rect.x < b.rect.x;
    return a.rect.width < b.rect.width;
  });
  MV_CHECK(rfaces.size() <= 1 || morvik::pixelCount(rfaces.front().rect) >= morvik::pixelCount(rfaces.back().rect));

  faces.clear();
  for (const rotrect& found : rfaces) {
    if (max != 0 && faces.size() >= max) break;
    mv::FoundFace face{};
    const int rc = morvik::reportFace(*this, prepared, found, face);
    if (rc != 0) return rc;
    faces.push_back(face);
  }
  return 0;
}

cv::Mat MorvikInfo::getImage(size_t index) { return index < crops.size() ? crops[index] : cv::Mat(); }

dlib::full_object_detection MorvikInfo::getShape(const cv::Mat& frame, const cv::Rect& face) {
  MV_CHECK(frame.cols != 0);
  dlib::cv_image<dlib::bgr_pixel> cimg(frame);
  MV_CHECK(cimg.nr() == frame.rows && cimg.nc() == frame.cols);
  dlib::rectangle rect(face.x, face.y, face.x + face.width - 1, face.y + face.height - 1);
  MV_CHECK(rect.width() == static_cast<unsigned long>(face.width) &&
           rect.height() == static_cast<unsigned long>(face.height));
  return dlib_get_shape(cimg, rect);
}
