// Merging the faces of every member of a chain ("find.all_members" 1).
//
// By default the chain stops at the first member that finds a face, so one
// member's find hides the faces the next would have found. Run all of them
// instead and the same face arrives several times, in boxes that differ a
// little from member to member: boxes found at different scales (by
// different members, or by one member at two of its scales) that overlap by
// more than kSameFaceOverlap (intersection over union, in pixels of the
// caller's image) are one face, with the box of the member listed first in
// the chain. The faces one member reports at one scale stay distinct.
//
// What a face must show to be kept: a cascade face whose eyes were not
// checked ("find.eye_check" 0) is the one kind of find that is often not a
// face. It is kept when a second member found the same face, or when the
// light CNN confirms it; every other find stands on its own.
#ifndef MORVIK_FACE_FACE_MERGE_H_
#define MORVIK_FACE_FACE_MERGE_H_

#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

#include "morvik/findface.h"

namespace morvik {

constexpr double kSameFaceOverlap = 0.3;

// Intersection over union of two boxes; 0 for empty ones.
double overlap(const cv::Rect2d& a, const cv::Rect2d& b);

// A face as one member found it at one of its scales.
struct MemberFace {
  size_t scale = 0;        // index into the chain's scales
  size_t member = 0;       // position of the member in the chain
  bool unchecked = false;  // a cascade face whose eyes were not checked
  rotrect found;           // in pixels of that scale's working image
  cv::Rect2d box;          // in pixels of the caller's image
};

// One face of the merged list: the first member's find, and how many
// distinct members found it.
struct MergedFace {
  MemberFace first;
  size_t members = 1;
  bool unchecked = true;  // every find of it was an unchecked cascade face
};

// The faces of `finds` (in chain order) merged as above, in order of first
// appearance.
std::vector<MergedFace> mergeMemberFaces(const std::vector<MemberFace>& finds);

// Whether a merged face needs the light CNN's confirmation to be kept.
inline bool needsConfirmation(const MergedFace& face) { return face.unchecked && face.members < 2; }

// Whether a chain member is one of the OpenCV cascades (LBP or Haar).
bool isCascadeMember(FindFaceAlgo& member);

// The light CNN's width for a cascade member's candidates ("confirmer.lbp"
// or "confirmer.haar").
int confirmWidthFor(FindFaceAlgo& member);

// Confirms `face` (pixels of `image`) with the light CNN, looking at it with
// a quarter of its width as margin, as the chain's confirmers do; true when
// the network finds it, with `face` replaced by the network's box.
bool confirmWithLightCnn(const cv::Mat& image, int target_width, cv::Rect& face);

}  // namespace morvik

#endif  // MORVIK_FACE_FACE_MERGE_H_
