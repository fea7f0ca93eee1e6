// From the YuNet heads' outputs to faces: the decoding of each cell and the
// selection among the candidates.
#ifndef MORVIK_YUNET_HEADS_H_
#define MORVIK_YUNET_HEADS_H_

#include <vector>

#include "engine/cnn/yunet.h"

namespace morvik {

// Appends the candidates of one row of a level's head map (width cells of
// 16 channels, see YunetHeadChannel) whose score is at least min_score.
// The cell (row, c) has its prior point at (c * stride, row * stride).
void decodeYunetRow(const float* cells, long width, long row, int stride, float min_score,
                    std::vector<YunetFace>& candidates);

// Sorts the candidates by score, descending, keeping the listing order
// among equal scores; keeps the first kYunetMaxCandidates; then appends to
// `faces` each candidate whose overlap with every face kept before it is
// at most kYunetNmsIou, up to kYunetMaxFaces. Reorders `candidates`.
void selectYunetFaces(std::vector<YunetFace>& candidates, std::vector<YunetFace>& faces);

// Intersection over union of two boxes' float corners (0 when the union
// is empty).
float yunetOverlap(const YunetFace& a, const YunetFace& b);

}  // namespace morvik

#endif  // MORVIK_YUNET_HEADS_H_
