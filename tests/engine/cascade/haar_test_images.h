// Images for the Haar cascade's tests and benchmark: the eye-search images
// of faces, made as HaarExtractEyesInfo makes them, of faces the library
// finds in the test photographs and of the ground-truth boxes.
#ifndef MORVIK_TESTS_HAAR_TEST_IMAGES_H_
#define MORVIK_TESTS_HAAR_TEST_IMAGES_H_

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "image/image_convert.h"
#include "morvik/config.h"
#include "morvik/image.h"
#include "morvik/morvik.h"

namespace haar_testing {

inline std::string testdata(const std::string& relative) { return std::string(MORVIK_TESTDATA) + "/" + relative; }

// An image scaled as the library scales its input (image.rescale_min and
// _max) or, with the eye options, as HaarExtractEyesInfo scales a face.
inline cv::Mat prepared(const cv::Mat& image, int min, int max) {
  PreparedParams params;
  if (getImagePrepareParams(image, min, max, params) != 0) return cv::Mat();
  if (params.rescale == 0.0) return image;
  cv::Mat out;
  if (imagePrepare(image, params, out) != 0) return cv::Mat();
  return out;
}

// The grey image HaarExtractEyesInfo searches for the eyes of `face`.
inline cv::Mat eyeSearchImage(const cv::Mat& face) {
  cv::Mat grey;
  if (morvik::toGrey8(face, grey) != 0) return cv::Mat();
  return prepared(grey, g_config.haar_eye_rescale_min, g_config.haar_eye_rescale_max);
}

// The library's working image of a photograph, as ExtractFaces sees it.
inline cv::Mat workingImage(const std::string& relative) {
  const cv::Mat photo = cv::imread(testdata(relative), cv::IMREAD_COLOR);
  if (photo.empty()) return photo;
  return prepared(photo, g_config.image_rescale_min, g_config.image_rescale_max);
}

// The faces the HOG finder reports on `image`, clipped to it.
inline std::vector<cv::Mat> hogFaces(const cv::Mat& image) {
  std::vector<cv::Mat> crops;
  std::vector<mv::Face> faces(256);
  size_t n = faces.size();
  if (image.empty() || ExtractFaces(&image, faces.data(), &n, mv::FindDlib) != 0) return crops;
  for (size_t i = 0; i < n; ++i) {
    const cv::Rect r = static_cast<cv::Rect>(faces[i].rect) & cv::Rect(0, 0, image.cols, image.rows);
    if (!r.empty()) crops.push_back(image(r));
  }
  return crops;
}

// The ground-truth boxes of faces/boxes.csv, in their photographs.
inline std::vector<cv::Mat> groundTruthFaces() {
  std::vector<cv::Mat> crops;
  std::ifstream csv(testdata("faces/boxes.csv"));
  std::string line;
  std::getline(csv, line);  // header
  while (std::getline(csv, line)) {
    std::stringstream fields(line);
    std::string name, value;
    std::getline(fields, name, ',');
    int box[4] = {0, 0, 0, 0};
    for (int& v : box) {
      std::getline(fields, value, ',');
      v = std::stoi(value);
    }
    const cv::Mat photo = cv::imread(testdata(name), cv::IMREAD_COLOR);
    const cv::Rect r = cv::Rect(box[0], box[1], box[2], box[3]) & cv::Rect(0, 0, photo.cols, photo.rows);
    if (!r.empty()) crops.push_back(photo(r));
  }
  return crops;
}

}  // namespace haar_testing

#endif  // MORVIK_TESTS_HAAR_TEST_IMAGES_H_
