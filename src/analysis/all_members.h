// The analysis object's walk when "find.all_members" is 1: every member of
// the chain runs at each of its scales, and their faces are merged (see
// face/face_merge.h) instead of the walk stopping at the first scale that
// yields a face.
#ifndef MORVIK_ANALYSIS_ALL_MEMBERS_H_
#define MORVIK_ANALYSIS_ALL_MEMBERS_H_

#include <cstddef>
#include <vector>

#include "morvik/findface.h"
#include "morvik/morvik_info.h"
#include "morvik/types.h"

namespace morvik {

// What MorvikInfo::findFaces returns, from the merged faces of all members:
// up to `max` faces (0: no limit), largest first, with their eyes, in pixels
// of the loaded image; -4 without faces (`faces` untouched then).
int findWithAllMembers(MorvikInfo& info, DefaultFindFaceAlgo& finder, std::vector<mv::FoundFace>& faces,
                       size_t max);

}  // namespace morvik

#endif  // MORVIK_ANALYSIS_ALL_MEMBERS_H_
