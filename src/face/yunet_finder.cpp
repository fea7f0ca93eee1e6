// The YuNet network as a member of the finder chain: one pass over the
// working image, each face with its score and five points.
#include <memory>
#include <vector>

#include "engine/cnn/yunet.h"
#include "models/yunet_loader.h"
#include "morvik/config.h"
#include "morvik/findface.h"
#include "morvik/morvik.h"

namespace {

// The network's box as the peer reports it: corners truncated toward zero,
// width and height truncated from the float difference, not clipped.
cv::Rect boxOf(const morvik::YunetFace& face) {
  return cv::Rect(static_cast<int>(face.x1), static_cast<int>(face.y1), static_cast<int>(face.x2 - face.x1),
                  static_cast<int>(face.y2 - face.y1));
}

rotrect toRotrect(const morvik::YunetFace& face) {
  rotrect found;
  found.rect = boxOf(face);
  found.score = face.score;
  found.point_count = rotrect::kPoints;
  for (int i = 0; i < rotrect::kPoints; ++i) found.points[i] = cv::Point2f(face.points[2 * i], face.points[2 * i + 1]);
  return found;
}

}  // namespace

std::vector<PreparedParams> YunetFindFaceAlgo::getScales(const cv::Mat& image) {
  std::vector<PreparedParams> scales(1);
  getImagePrepareParams(image, g_config.yunet_rescale_min, g_config.yunet_rescale_max, scales.front());
  return scales;
}

int YunetFindFaceAlgo::findDetailedFaces(size_t /*index*/, cv::Mat& image, std::vector<rotrect>& faces) {
  if (image.cols == 0 || image.rows == 0 || image.type() != CV_8UC3) return MV_INVALID_ARGS;
  // A missing or damaged model file is -3, as for a cascade: the chain goes
  // on to its next member.
  std::shared_ptr<const morvik::YunetNetwork> net;
  int rc = morvik::loadYunetModel(net);
  if (rc != MV_OK) return rc;
  std::vector<morvik::YunetFace> found;
  rc = morvik::detectYunetFaces(*net, image, g_config.yunet_score, found);
  if (rc != MV_OK) return rc;
  faces.clear();
  faces.reserve(found.size());
  for (const morvik::YunetFace& face : found) {
    rotrect r = toRotrect(face);
    // A box that truncates to nothing is no face the analysis could use.
    if (r.rect.width >= 1 && r.rect.height >= 1) faces.push_back(r);
  }
  return faces.empty() ? MV_NO_FACE : MV_OK;
}

int YunetFindFaceAlgo::findFaces(size_t index, cv::Mat& image, std::vector<cv::Rect>& faces) {
  std::vector<rotrect> found;
  const int rc = findDetailedFaces(index, image, found);
  if (rc != MV_OK) return rc;
  faces.resize(found.size());
  for (size_t i = 0; i < found.size(); ++i) faces[i] = found[i].rect;
  return MV_OK;
}
