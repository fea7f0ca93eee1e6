// Tier: class interface (for hosts that link the library's classes directly).
// One analysis of one image: loading, finding faces with their eyes, and
// aligning and describing faces.
#ifndef MORVIK_MORVIK_INFO_H_
#define MORVIK_MORVIK_INFO_H_

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "morvik/export.h"
#include "morvik/image.h"
#include "morvik/types.h"

namespace dlib {
class full_object_detection;
}
class DefaultFindFaceAlgo;

class MORVIK_API MorvikInfo {
 public:
  explicit MorvikInfo(mv::FindFaceAlgoType algo);
  ~MorvikInfo();
  MorvikInfo(const MorvikInfo&) = delete;
  MorvikInfo& operator=(const MorvikInfo&) = delete;

  // Keeps a three-channel BGR copy. -9 for an empty image, -2 for a depth
  // other than 8 bits or a channel count other than 1, 3 or 4 (BGRA is
  // converted to BGR).
  int loadImage(const cv::Mat& image);
  int loadImage(const void* data, size_t size);  // encoded bytes
  int loadImage(const char* path);               // an image file

  // Up to `max` faces (0: no limit), largest first, with their eyes, in
  // pixels of the loaded image. -9 before an image is loaded, -4 without
  // faces (`faces` untouched then).
  int getFaces(std::vector<mv::Face>& faces, size_t max);
  // The same faces, each with its finder's score and points.
  int findFaces(std::vector<mv::FoundFace>& faces, size_t max);
  // Searches with `finder` from now on instead of the chain that the
  // constructor's selection names (a selection wider than one byte, say).
  void useFinder(std::shared_ptr<DefaultFindFaceAlgo> finder) { this->finder = std::move(finder); }

  // Face data (descriptor, and with FaceDataEx the encoded aligned face).
  int getFacesInfo(std::vector<mv::Face>& faces, std::vector<mv::FaceData>& data);
  int getFacesInfo(std::vector<mv::Face>& faces, std::vector<mv::FaceDataEx>& data);
  int getFacesInfo(std::vector<mv::FaceData>& data, size_t max);
  int getFacesInfo(std::vector<mv::FaceDataEx>& data, size_t max);

  // Shares the pixels of the aligned crop of face `index`; empty when there
  // is no such slot.
  cv::Mat getImage(size_t index);

  int prepareImage(const PreparedParams& params, PreparedImage& prepared);
  // Maps a face from working to loaded-image pixels; true when it changed.
  bool rescaleFaceInfo(const PreparedParams& params, mv::Face& face);
  // Places the eyes of `face` on prepared.image; true when they came from
  // the landmark shape (the rectangle is then refitted too).
  bool fillEyesInfo(const PreparedImage& prepared, mv::Face& face);

  // The 68-point landmark shape of the face `face` in `frame` (BGR, 8-bit).
  dlib::full_object_detection getShape(const cv::Mat& frame, const cv::Rect& face);
  // Aligned crop of `face` from `image` into slot `index`; -1 when the face
  // rectangle does not overlap the image.
  int prepareFaceImage(const cv::Mat& image, size_t index, const mv::FaceData& face,
                        bool from_shape);
  // The descriptor of a face image into fd.vector.
  int fillFaceVector(mv::FaceData& fd, const cv::Mat& faceImage);

  const cv::Mat& image() const { return original; }
  const std::string& imagePath() const { return image_path; }

 private:
  mv::FindFaceAlgoType algo_type;
  std::string image_path;
  cv::Mat original;
  std::shared_ptr<DefaultFindFaceAlgo> finder;
  std::vector<cv::Mat> crops;
};

#endif  // MORVIK_MORVIK_INFO_H_
