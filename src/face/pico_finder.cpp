// The pixel-comparison cascade as a member of the finder chain.
#include <memory>

#include "morvik/findface.h"
#include "morvik/global_cache.h"
#include "morvik/pico.h"
#include "morvik/morvik.h"

int PicoFindFaceAlgo::findFaces(size_t /*index*/, cv::Mat& image, std::vector<cv::Rect>& faces) {
  if (image.cols == 0) return MV_INVALID_ARGS;
  // The detector's constructor reads the cascade; it throws when the file is
  // unusable, and then nothing is cached.
  std::shared_ptr<PicoDetector> detector = cachedModel<PicoDetector>([](PicoDetector&) { return true; });
  return detector->detect(image, faces) != 0 ? 0 : -4;
}
