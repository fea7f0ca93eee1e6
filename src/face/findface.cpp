// Defaults of the finder interface.

#include "morvik/config.h"
#include "morvik/findface.h"
#include "morvik/morvik.h"

FindFaceAlgo::~FindFaceAlgo() = default;

std::vector<PreparedParams> FindFaceAlgo::getScales(const cv::Mat& image) {
  std::vector<PreparedParams> scales;
  PreparedParams params;
  if (getImagePrepareParams(image, g_config.image_rescale_min, g_config.image_rescale_max, params) == MV_OK)
    scales.push_back(params);
  return scales;
}

int FindFaceAlgo::findFaces(size_t, cv::Mat&, std::vector<rotrect>&) { return MV_NOT_SUPPORTED; }

int FindFaceAlgo::findDetailedFaces(size_t, cv::Mat&, std::vector<rotrect>&) { return MV_NOT_SUPPORTED; }
