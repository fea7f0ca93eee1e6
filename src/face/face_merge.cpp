// Merging the faces of every member of a chain; see face_merge.h.
#include "face/face_merge.h"

#include <algorithm>
#include <cstring>

#include "face/confirmation.h"
#include "morvik/config.h"

namespace morvik {

double overlap(const cv::Rect2d& a, const cv::Rect2d& b) {
  const double common = (a & b).area();
  const double all = a.area() + b.area() - common;
  return all > 0.0 ? common / all : 0.0;
}

std::vector<MergedFace> mergeMemberFaces(const std::vector<MemberFace>& finds) {
  std::vector<MergedFace> merged;
  // Members that found each merged face, as positions in the chain, and the
  // scales it was found at.
  std::vector<std::vector<size_t>> seen_by, scales;
  for (const MemberFace& find : finds) {
    size_t best = merged.size();
    double best_overlap = kSameFaceOverlap;
    for (size_t i = 0; i < merged.size(); ++i) {
      // The faces one member reports at one scale are distinct faces, however
      // close: only finds of other scales join them.
      if (std::find(scales[i].begin(), scales[i].end(), find.scale) != scales[i].end()) continue;
      const double o = overlap(merged[i].first.box, find.box);
      if (o > best_overlap) {
        best = i;
        best_overlap = o;
      }
    }
    if (best == merged.size()) {
      MergedFace face;
      face.first = find;
      face.unchecked = find.unchecked;
      merged.push_back(face);
      seen_by.push_back({find.member});
      scales.push_back({find.scale});
      continue;
    }
    scales[best].push_back(find.scale);
    MergedFace& face = merged[best];
    std::vector<size_t>& members = seen_by[best];
    if (std::find(members.begin(), members.end(), find.member) == members.end()) members.push_back(find.member);
    face.members = members.size();
    face.unchecked = face.unchecked && find.unchecked;
  }
  return merged;
}

bool isCascadeMember(FindFaceAlgo& member) {
  const char* name = member.getName();
  return std::strcmp(name, "LBP") == 0 || std::strcmp(name, "Haar") == 0;
}

int confirmWidthFor(FindFaceAlgo& member) {
  return std::strcmp(member.getName(), "LBP") == 0 ? g_config.confirmer_lbp : g_config.confirmer_haar;
}

bool confirmWithLightCnn(const cv::Mat& image, int target_width, cv::Rect& face) {
  CnnLightConfirmer confirmer(target_width);
  return confirmInContext(confirmer, image, face);
}

}  // namespace morvik
