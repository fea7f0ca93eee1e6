#include "image/image_convert.h"
#include "morvik/morvik.h"

#include <opencv2/imgproc.hpp>

namespace morvik {

int checkImage8(const cv::Mat& image) {
  if (image.empty() || image.cols == 0 || image.rows == 0) return MV_NO_IMAGE;
  if (image.depth() != CV_8U) return MV_PARSE_IMAGE;
  const int channels = image.channels();
  if (channels != 1 && channels != 3 && channels != 4) return MV_PARSE_IMAGE;
  return 0;
}

int toBgr8(const cv::Mat& src, cv::Mat& bgr) {
  const int rc = checkImage8(src);
  if (rc != 0) return rc;
  cv::Mat out;
  switch (src.channels()) {
    case 1: cv::cvtColor(src, out, cv::COLOR_GRAY2BGR); break;
    case 4: cv::cvtColor(src, out, cv::COLOR_BGRA2BGR); break;
    default: src.copyTo(out); break;
  }
  bgr = out;
  return 0;
}

int toGrey8(const cv::Mat& src, cv::Mat& grey) {
  const int rc = checkImage8(src);
  if (rc != 0) return rc;
  switch (src.channels()) {
    case 1: grey = src; break;
    case 4: cv::cvtColor(src, grey, cv::COLOR_BGRA2GRAY); break;
    default: cv::cvtColor(src, grey, cv::COLOR_BGR2GRAY); break;
  }
  return 0;
}

}  // namespace morvik
