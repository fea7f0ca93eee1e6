// Bytes offered as a YuNet model: the reader refuses them with the
// model-load code or builds a network that runs on an image without
// reading outside its weights.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "engine/cnn/yunet.h"
#include "fuzz_support.h"
#include "morvik/morvik.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::shared_ptr<const morvik::YunetNetwork> net;
  const int rc = morvik::parseYunetModel(data, size, net);
  FUZZ_EXPECT(rc == MV_OK || rc == MV_LOAD_CASCADE);
  FUZZ_EXPECT((rc == MV_OK) == (net != nullptr));
  if (rc != MV_OK) return 0;

  // Any weights the reader takes run: a small image that no stride
  // divides, every cell a candidate.
  static const cv::Mat image = [] {
    cv::Mat m(37, 45, CV_8UC3);
    cv::randu(m, cv::Scalar::all(0), cv::Scalar::all(255));
    return m;
  }();
  std::vector<morvik::YunetFace> faces;
  FUZZ_EXPECT(morvik::detectYunetFaces(*net, image, 0.0f, faces, 1, morvik::bestYunetIsa()) == MV_OK);
  FUZZ_EXPECT(faces.size() <= morvik::kYunetMaxFaces);
  return 0;
}
