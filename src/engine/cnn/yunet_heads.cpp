// Decoding and selection of the YuNet faces; see yunet_heads.h.
#include "engine/cnn/yunet_heads.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/cnn/yunet_model.h"

namespace morvik {
namespace {

// Logits beyond this make exp overflow or lose every digit.
constexpr float kMaxLogit = 88.3763f;

float sigmoid(float logit) {
  const float x = std::min(std::max(logit, -kMaxLogit), kMaxLogit);
  return 1.0f / (1.0f + std::exp(-x));
}

}  // namespace

void decodeYunetRow(const float* cells, long width, long row, int stride, float min_score,
                    std::vector<YunetFace>& candidates) {
  const float s = static_cast<float>(stride);
  const float py = static_cast<float>(row * stride);
  for (long c = 0; c < width; ++c) {
    const float* v = cells + c * kYunetLanes;
    const float score = std::sqrt(sigmoid(v[kYunetCls]) * sigmoid(v[kYunetObj]));
    // A NaN score is never kept.
    if (!(score >= min_score)) continue;
    const float px = static_cast<float>(c * stride);
    const float* d = v + kYunetBox;
    const float cx = px + d[0] * s, cy = py + d[1] * s;
    const float w = s * std::exp(d[2]), h = s * std::exp(d[3]);
    YunetFace face;
    face.x1 = cx - w / 2;
    face.y1 = cy - h / 2;
    face.x2 = cx + w / 2;
    face.y2 = cy + h / 2;
    face.score = score;
    const float* k = v + kYunetPoints;
    for (int i = 0; i < 5; ++i) {
      face.points[2 * i] = px + k[2 * i] * s;
      face.points[2 * i + 1] = py + k[2 * i + 1] * s;
    }
    candidates.push_back(face);
  }
}

float yunetOverlap(const YunetFace& a, const YunetFace& b) {
  const float iw = std::min(a.x2, b.x2) - std::max(a.x1, b.x1);
  const float ih = std::min(a.y2, b.y2) - std::max(a.y1, b.y1);
  if (!(iw > 0 && ih > 0)) return 0.0f;
  const float inter = iw * ih;
  const float uni = (a.x2 - a.x1) * (a.y2 - a.y1) + (b.x2 - b.x1) * (b.y2 - b.y1) - inter;
  return uni > 0 ? inter / uni : 0.0f;
}

void selectYunetFaces(std::vector<YunetFace>& candidates, std::vector<YunetFace>& faces) {
  // Only the first kYunetMaxCandidates of the stable order matter: a
  // partial sort on (score, listing position) finds them without sorting
  // every cell of a large image.
  std::vector<std::pair<float, size_t>> order(candidates.size());
  for (size_t i = 0; i < candidates.size(); ++i) order[i] = {candidates[i].score, i};
  const size_t kept = std::min(order.size(), kYunetMaxCandidates);
  std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(kept), order.end(),
                    [](const std::pair<float, size_t>& a, const std::pair<float, size_t>& b) {
                      return a.first > b.first || (a.first == b.first && a.second < b.second);
                    });
  const size_t first = faces.size();
  for (size_t i = 0; i < kept && faces.size() - first < kYunetMaxFaces; ++i) {
    const YunetFace& candidate = candidates[order[i].second];
    bool overlaps = false;
    for (size_t f = first; f < faces.size() && !overlaps; ++f)
      overlaps = yunetOverlap(candidate, faces[f]) > kYunetNmsIou;
    if (!overlaps) faces.push_back(candidate);
  }
}

}  // namespace morvik
