// Entry point: the faces of a decoded image.
#include <algorithm>
#include <vector>

#include "check.h"
#include "morvik/morvik.h"
#include "morvik/morvik_info.h"

int ExtractFaces(const cv::Mat* image, mv::Face* faces, size_t* faces_size, mv::FindFaceAlgoType algo) {
  if (faces == nullptr || faces_size == nullptr || image == nullptr) return MV_INVALID_ARGS;
  MorvikInfo info(algo);
  int rc = info.loadImage(*image);
  if (rc != 0) return rc;
  std::vector<mv::Face> ffaces;
  rc = info.getFaces(ffaces, *faces_size);
  if (rc != 0) return rc;
  MV_CHECK(*faces_size == 0 || ffaces.size() <= *faces_size);
  std::copy(ffaces.begin(), ffaces.end(), faces);
  *faces_size = ffaces.size();
  return 0;
}
