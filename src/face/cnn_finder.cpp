// The CNN finders over the two MMOD detectors, the BGR-to-RGB conversion
// they share with the confirmer, and the rule that turns network
// detections into face rectangles. The networks themselves live in
// cnn_full.cpp and cnn_light.cpp.
#include "face/detections.h"
#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/image.h"
#include "morvik/morvik.h"

namespace morvik {

int keepConfidentFaces(const std::vector<dlib::mmod_rect>& detections, std::vector<cv::Rect>& faces,
                       std::vector<float>* confidences) {
  const double threshold = g_config.dlib_cnn_confidence;
  faces.clear();
  faces.reserve(detections.size());
  if (confidences != nullptr) confidences->clear();
  for (const dlib::mmod_rect& d : detections) {
    if (d.ignore || threshold > d.detection_confidence) continue;
    faces.push_back(toCvRect(d.rect));
    if (confidences != nullptr) confidences->push_back(static_cast<float>(d.detection_confidence));
  }
  return static_cast<int>(faces.size());
}

}  // namespace morvik

namespace {

// The CNN scale: the image brought into [min, max]; none when the rule
// leaves the image at its size.
void appendCnnScale(const cv::Mat& image, int min, int max, std::vector<PreparedParams>& scales) {
  PreparedParams params{};
  if (getImagePrepareParams(image, min, max, params) == 0 && params.scale > 0.0) {
    scales.push_back(params);
  }
}

}  // namespace

void cv2dlib(dlib::cv_image<dlib::bgr_pixel>& src, dlib::matrix<dlib::rgb_pixel>& dst) {
  const long rows = src.nr(), cols = src.nc();
  if (dst.nr() != rows || dst.nc() != cols) dst.set_size(rows, cols);
  for (long r = 0; r < rows; ++r) {
    const dlib::bgr_pixel* in = &src[r][0];
    for (long c = 0; c < cols; ++c) {
      dlib::rgb_pixel& out = dst(r, c);
      out.red = in[c].red;
      out.green = in[c].green;
      out.blue = in[c].blue;
    }
  }
}

template <typename Fn, Fn detect>
std::vector<PreparedParams> TCNNFindFaceAlgo<Fn, detect>::getScales(const cv::Mat& image) {
  std::vector<PreparedParams> scales = FindFaceAlgo::getScales(image);
  appendCnnScale(image, g_config.dlib_cnn_rescale_min, g_config.dlib_cnn_rescale_max, scales);
  return scales;
}

template <typename Fn, Fn detect>
int TCNNFindFaceAlgo<Fn, detect>::findFaces(size_t /*index*/, cv::Mat& image,
                                            std::vector<cv::Rect>& faces) {
  if (image.cols == 0) return MV_INVALID_ARGS;
  // Throws dlib::fatal_error for anything but 8-bit BGR.
  dlib::cv_image<dlib::bgr_pixel> view(image);
  dlib::matrix<dlib::rgb_pixel> rgb;
  cv2dlib(view, rgb);
  return detect(rgb, faces) == 0 ? -4 : 0;
}

// The full detector's faces with their confidences; the light one only
// confirms, or runs alone, and reports boxes.
template <typename Fn, Fn detect>
int TCNNFindFaceAlgo<Fn, detect>::findDetailedFaces(size_t index, cv::Mat& image, std::vector<rotrect>& faces) {
  if constexpr (detect != &DlibCNNExtractFaceInfo) {
    return FindFaceAlgo::findDetailedFaces(index, image, faces);
  } else {
    if (image.cols == 0) return MV_INVALID_ARGS;
    // Throws dlib::fatal_error for anything but 8-bit BGR.
    dlib::cv_image<dlib::bgr_pixel> view(image);
    dlib::matrix<dlib::rgb_pixel> rgb;
    cv2dlib(view, rgb);
    std::vector<cv::Rect> boxes;
    std::vector<float> confidences;
    if (DlibCNNExtractScoredFaces(rgb, boxes, confidences) == 0) return MV_NO_FACE;
    faces.assign(boxes.size(), rotrect());
    for (size_t i = 0; i < boxes.size(); ++i) {
      faces[i].rect = boxes[i];
      faces[i].score = confidences[i];
    }
    return 0;
  }
}

template class TCNNFindFaceAlgo<CnnDetectFn, &DlibCNNExtractFaceInfo>;
template class TCNNFindFaceAlgo<CnnDetectFn, &DlibCNNLightExtractFaceInfo>;

std::vector<PreparedParams> CNNFaceFindFaceAlgo::getScales(const cv::Mat& image) {
  std::vector<PreparedParams> scales;
  appendCnnScale(image, g_config.dlib_cnnface_rescale_min, g_config.dlib_cnnface_rescale_max, scales);
  return scales;
}

FindFaceAlgo* newCnnFinder(bool light) {
  if (light) return new CnnLightFindFaceAlgo();
  return new CnnFindFaceAlgo();
}
