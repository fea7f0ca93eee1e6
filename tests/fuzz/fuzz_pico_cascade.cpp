// Bytes offered as a pico cascade file: the detector either refuses them
// when it is built or loads them, and a loaded cascade scans an image
// without reading outside the cascade or the image.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "fuzz_support.h"
#include "morvik/config.h"
#include "morvik/pico.h"

namespace {

// A small grey image with structure at several scales, so that trees take
// both branches.
cv::Mat testImage() {
  cv::Mat image(48, 56, CV_8UC1);
  for (int r = 0; r < image.rows; ++r) {
    for (int c = 0; c < image.cols; ++c) {
      image.at<uint8_t>(r, c) = static_cast<uint8_t>((r * 37) ^ (c * 11) ^ ((r / 8 + c / 8) * 64));
    }
  }
  return image;
}

void checkFaces(const std::vector<cv::Rect>& faces, size_t found) {
  FUZZ_EXPECT(found == faces.size());
  for (const cv::Rect& f : faces) FUZZ_EXPECT(f.width >= 0 && f.height >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::silenceLog();
  // Windows from 8 to 40 pixels fit the test image.
  g_config.pico_minsize = 8;
  g_config.pico_maxsize = 40;
  g_config.pico_maxdetections = 64;
  g_config.pico_qthreshold = 0.0f;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const cv::Mat image = testImage();
  const std::string path = fuzz_support::writeScratch("pico", data, size);
  const bool valid = validPicoCascade(std::vector<char>(data, data + size));

  // Built from the configured path: refused with the documented error.
  g_config.pico_path = path;
  g_config.pico_angle = 0.0f;
  try {
    PicoDetector detector;
    FUZZ_EXPECT(valid);
    std::vector<cv::Rect> faces;
    checkFaces(faces, detector.detect(image, faces));
    // The rotated scan walks the trees with other offsets.
    g_config.pico_angle = 0.125f;
    checkFaces(faces, detector.detect(image, faces));
    g_config.pico_angle = 0.0f;
  } catch (const std::runtime_error&) {
    FUZZ_EXPECT(!valid);
  }

  // A detector built on the shipped cascade, then given these bytes.
  g_config.pico_path = "/usr/share/morvik/facefinder.dat";
  static PicoDetector reloaded;
  const bool loaded = reloaded.loadCascade(path);
  FUZZ_EXPECT(loaded == valid);
  if (loaded) {
    std::vector<cv::Rect> faces;
    checkFaces(faces, reloaded.detect(image, faces));
  }
  return 0;
}
