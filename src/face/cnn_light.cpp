// The light CNN detector: one network pass over the image at its own size,
// so it sees only faces that suit its detection windows. It confirms the
// candidates of the other finders. The only translation unit of this type.
#include "face/cnn_net.h"
#include "morvik/dlib_wrappers.h"

int DlibCNNLightExtractFaceInfo(dlib::matrix<dlib::rgb_pixel>& image, std::vector<cv::Rect>& faces) {
  return morvik::cnn::detectFaces<morvik::cnn::MmodNet<dlib::pyramid_down<1>>>(image, faces);
}
