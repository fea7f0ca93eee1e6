// Grouping faces by person: each face is joined to its nearest faces
// closer than the threshold (found through the index, a batch of faces at
// a time; a bounded number of them per face, so that memory grows with the
// number of faces), and dlib's chinese_whispers labels the graph, as dlib's
// own face clustering does.
#ifndef MORVIK_COLLECTION_CLUSTERING_H_
#define MORVIK_COLLECTION_CLUSTERING_H_

#include <cstdint>
#include <vector>

#include "collection/face_index.h"
#include "morvik/collection.h"

namespace morvik {

// labels[id] for every face of the index, 0 for the largest group; returns
// the number of groups.
size_t clusterFaces(const FaceIndex& index, double threshold, std::vector<uint32_t>& labels,
                    MvProgress progress, void* context);

}  // namespace morvik

#endif  // MORVIK_COLLECTION_CLUSTERING_H_
