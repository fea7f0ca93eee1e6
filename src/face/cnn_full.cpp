// The full CNN detector: the network scans an image pyramid (each level 5/6
// of the one before). The only translation unit of this network type.
#include "face/cnn_net.h"
#include "morvik/dlib_wrappers.h"

int DlibCNNExtractFaceInfo(dlib::matrix<dlib::rgb_pixel>& image, std::vector<cv::Rect>& faces) {
  return morvik::cnn::detectFaces<morvik::cnn::MmodNet<dlib::pyramid_down<6>>>(image, faces);
}

int DlibCNNExtractScoredFaces(dlib::matrix<dlib::rgb_pixel>& image, std::vector<cv::Rect>& faces,
                              std::vector<float>& confidences) {
  return morvik::cnn::detectFaces<morvik::cnn::MmodNet<dlib::pyramid_down<6>>>(image, faces, &confidences);
}
