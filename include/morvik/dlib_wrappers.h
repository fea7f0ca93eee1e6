// Tier: class interface (for hosts that link the library's classes directly).
// The library's dlib wrappers: landmarks, descriptors and the CNN finders.
// This header pulls in dlib's image and matrix headers (not the network
// templates, which live in one translation unit per network type).
#ifndef MORVIK_DLIB_WRAPPERS_H_
#define MORVIK_DLIB_WRAPPERS_H_

#include <vector>

#include <dlib/geometry.h>
#include <dlib/image_processing/full_object_detection.h>
#include <dlib/matrix.h>
#include <dlib/opencv/cv_image.h>
#include <dlib/pixel.h>
#include <opencv2/core.hpp>

#include "morvik/export.h"
#include "morvik/findface.h"
#include "morvik/types.h"

// --- Landmarks --------------------------------------------------------------

// The 68-point shape of `rect` in `image`, from the thread's cached predictor
// ("dlib.shape"). Throws dlib::serialization_error when the model is missing.
MORVIK_API dlib::full_object_detection dlib_get_shape(dlib::cv_image<dlib::bgr_pixel>& image,
                                                      dlib::rectangle& rect);
// The same for an OpenCV image; the predictor's rectangle is one pixel wider
// and taller than `rect` (x, y, x + width, y + height).
MORVIK_API dlib::full_object_detection dlib_get_shape(cv::Mat& image, cv::Rect& rect);

// Integer means of landmarks 36-41 (left_eye) and 42-47 (right_eye).
MORVIK_API void dlib_get_eyes(dlib::full_object_detection& shape, mv::Point& left_eye,
                              mv::Point& right_eye);
// The rectangle enclosing the shape's rectangle and all of its parts.
MORVIK_API void dlib_get_fullrect(dlib::full_object_detection& shape, dlib::rectangle& rect);
MORVIK_API bool DlibUpdateOptimalFaceRect(dlib::full_object_detection& shape, mv::Rectangle* rect);
MORVIK_API bool DlibUpdateOptimalFaceRect(cv::Mat& image, cv::Rect& rect);
MORVIK_API mv::Point& copypoint(mv::Point& dst, const dlib::vector<long, 2>& src);
MORVIK_API mv::Rectangle& copyrect(mv::Rectangle& dst, const dlib::rectangle& src);

// --- Descriptors ------------------------------------------------------------

// The 128-value descriptor of an aligned face image (8-bit BGR). 0, -7 (no
// descriptor) or -8 (an exception while computing). A missing network file
// ("dlib.anet") throws dlib::serialization_error.
MORVIK_API int DlibExtractFaceVector(const cv::Mat& image, std::vector<float>& vector);
// Euclidean distance in single precision; -1 when the lengths differ.
MORVIK_API int DlibCompareVectors(std::vector<float>& a, std::vector<float>& b, double& distance);

// --- CNN detectors and finders ----------------------------------------------

// Run the full (pyramid) or the light (single level) MMOD detector; return
// the number of faces at or above "dlib.cnn.confidence" left in `faces`.
MORVIK_API int DlibCNNExtractFaceInfo(dlib::matrix<dlib::rgb_pixel>& image,
                                      std::vector<cv::Rect>& faces);
MORVIK_API int DlibCNNLightExtractFaceInfo(dlib::matrix<dlib::rgb_pixel>& image,
                                           std::vector<cv::Rect>& faces);
// The full detector's faces as DlibCNNExtractFaceInfo gives them, with each
// one's detection confidence beside it.
MORVIK_API int DlibCNNExtractScoredFaces(dlib::matrix<dlib::rgb_pixel>& image, std::vector<cv::Rect>& faces,
                                         std::vector<float>& confidences);

// Copies a BGR view into an RGB matrix (row stride honoured).
MORVIK_API void cv2dlib(dlib::cv_image<dlib::bgr_pixel>& src, dlib::matrix<dlib::rgb_pixel>& dst);

using CnnDetectFn = int (*)(dlib::matrix<dlib::rgb_pixel>&, std::vector<cv::Rect>&);

template <typename Fn, Fn detect>
class TCNNFindFaceAlgo : public FindFaceAlgo {
 public:
  const char* getName() override { return "CNN"; }
  std::vector<PreparedParams> getScales(const cv::Mat& image) override;
  using FindFaceAlgo::findFaces;
  int findFaces(size_t index, cv::Mat& image, std::vector<cv::Rect>& faces) override;
  // The full detector's boxes with their confidences as scores; -12 for
  // the light one.
  int findDetailedFaces(size_t index, cv::Mat& image, std::vector<rotrect>& faces) override;
};

using CnnFindFaceAlgo = TCNNFindFaceAlgo<CnnDetectFn, &DlibCNNExtractFaceInfo>;
using CnnLightFindFaceAlgo = TCNNFindFaceAlgo<CnnDetectFn, &DlibCNNLightExtractFaceInfo>;
extern template class MORVIK_API TCNNFindFaceAlgo<CnnDetectFn, &DlibCNNExtractFaceInfo>;
extern template class MORVIK_API TCNNFindFaceAlgo<CnnDetectFn, &DlibCNNLightExtractFaceInfo>;

// The full CNN detector at its own scale only ("dlib.cnnface.rescale_*").
class MORVIK_API CNNFaceFindFaceAlgo : public CnnFindFaceAlgo {
 public:
  const char* getName() override { return "CNNFace"; }
  std::vector<PreparedParams> getScales(const cv::Mat& image) override;
};

#endif  // MORVIK_DLIB_WRAPPERS_H_
