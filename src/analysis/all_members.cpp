// Every member of the chain at each of its scales, merged; see
// all_members.h.
#include "analysis/all_members.h"

#include <algorithm>
#include <deque>

#include "analysis/found_face.h"
#include "face/face_merge.h"
#include "morvik/config.h"
#include "morvik/morvik.h"

namespace morvik {
namespace {

// The working images of a walk: scales with the same factor share one.
class WorkingImages {
 public:
  explicit WorkingImages(MorvikInfo& info) : info_(info) {}

  // The image for `params`; null when it cannot be made.
  const PreparedImage* get(const PreparedParams& params) {
    for (const PreparedImage& image : images_) {
      if (image.scale == params.scale) return &image;
    }
    PreparedImage image;
    if (info_.prepareImage(params, image) != 0) return nullptr;
    images_.push_back(image);
    return &images_.back();
  }

 private:
  MorvikInfo& info_;
  std::deque<PreparedImage> images_;  // a deque: the pointers handed out stay valid
};

size_t positionOf(const DefaultFindFaceAlgo& finder, const FindFaceAlgo* member) {
  const std::vector<FindFaceAlgo*>& members = finder.finders();
  return static_cast<size_t>(std::find(members.begin(), members.end(), member) - members.begin());
}

cv::Rect2d inLoadedImage(const cv::Rect& rect, const PreparedParams& params) {
  const double r = params.rescale == 0.0 ? 1.0 : params.rescale;
  return cv::Rect2d(rect.x * r, rect.y * r, rect.width * r, rect.height * r);
}

// Largest first; ties top to bottom, then left to right, as the walk that
// stops at the first member orders its faces.
bool largerFirst(const MergedFace& a, const MergedFace& b) {
  const cv::Rect2d& p = a.first.box;
  const cv::Rect2d& q = b.first.box;
  if (p.area() != q.area()) return p.area() > q.area();
  if (p.y != q.y) return p.y < q.y;
  if (p.x != q.x) return p.x < q.x;
  return p.width < q.width;
}

}  // namespace

int findWithAllMembers(MorvikInfo& info, DefaultFindFaceAlgo& finder, std::vector<mv::FoundFace>& faces,
                       size_t max) {
  const std::vector<PreparedParams> scales = finder.getScales(info.image());
  WorkingImages working(info);
  std::vector<const PreparedImage*> image_of(scales.size(), nullptr);
  std::vector<MemberFace> finds;
  const bool eye_check = g_config.find_eye_check != 0;
  for (size_t i = 0; i < scales.size(); ++i) {
    image_of[i] = working.get(scales[i]);
    FindFaceAlgo* member = finder.memberFor(i);
    if (image_of[i] == nullptr || member == nullptr) continue;
    cv::Mat image = image_of[i]->image;
    std::vector<rotrect> found;
    if (finder.findFaces(i, image, found) != 0) continue;
    for (const rotrect& face : found) {
      MemberFace find;
      find.scale = i;
      find.member = positionOf(finder, member);
      find.unchecked = !eye_check && isCascadeMember(*member);
      find.found = face;
      find.box = inLoadedImage(face.rect, scales[i]);
      finds.push_back(find);
    }
  }

  std::vector<MergedFace> merged = mergeMemberFaces(finds);
  std::vector<MergedFace> kept;
  for (const MergedFace& face : merged) {
    if (needsConfirmation(face)) {
      cv::Rect check = face.first.found.rect;
      FindFaceAlgo& member = *finder.memberFor(face.first.scale);
      if (!confirmWithLightCnn(image_of[face.first.scale]->image, confirmWidthFor(member), check)) continue;
    }
    kept.push_back(face);
  }
  if (kept.empty()) return MV_NO_FACE;
  std::stable_sort(kept.begin(), kept.end(), largerFirst);
  if (max != 0 && kept.size() > max) kept.resize(max);

  std::vector<mv::FoundFace> result;
  result.reserve(kept.size());
  for (const MergedFace& merged_face : kept) {
    const PreparedImage& image = *image_of[merged_face.first.scale];
    mv::FoundFace face{};
    const int rc = reportFace(info, image, merged_face.first.found, face);
    if (rc != 0) return rc;
    result.push_back(face);
  }
  faces.swap(result);
  return 0;
}

}  // namespace morvik
