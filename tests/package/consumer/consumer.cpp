// A C++ host built against an installed morvik through find_package.
#include <cstdio>
#include <cstring>

#include <opencv2/core.hpp>

#include "morvik/morvik.h"

int main() {
  uint16_t major = 0, minor = 0;
  if (GetVersion(&major, &minor, nullptr) != MV_OK || major != 3 || minor != 7) return 1;
  const cv::Mat blank(64, 64, CV_8UC3, cv::Scalar(128, 128, 128));
  mv::Face faces[2];
  size_t size = 2;
  const int rc = ExtractFaces(&blank, faces, &size, mv::FindLBP);
  std::printf("cmake consumer: morvik %u.%u, blank image: %s\n", major, minor, GetResult(rc));
  return rc == MV_NO_FACE && size == 2 ? 0 : 1;
}
