// Tier: class interface (for hosts that link the library's classes directly).
// Face finders: the interface all of them share, the combined finder that
// chains them, the individual finders and the confirmers.
#ifndef MORVIK_FINDFACE_H_
#define MORVIK_FINDFACE_H_

#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

#include "morvik/export.h"
#include "morvik/image.h"
#include "morvik/types.h"

// One found face: a rectangle in pixels of the image the finder was given,
// with the face's in-plane rotation (0.0 for every finder of this library).
struct rotrect {
  double angle = 0.0;
  cv::Rect rect;
};

class MORVIK_API FindFaceAlgo {
 public:
  virtual ~FindFaceAlgo();
  virtual const char* getName() = 0;
  // The working sizes at which this finder wants to see the image. The
  // default is one entry: the working size for "image.rescale_min/max".
  virtual std::vector<PreparedParams> getScales(const cv::Mat& image);
  // 0: at least one face; -1: empty image; -3: model missing; -4: no face.
  virtual int findFaces(size_t index, cv::Mat& image, std::vector<cv::Rect>& faces) = 0;
  // Returns -12 (not supported) unless a finder implements it.
  virtual int findFaces(size_t index, cv::Mat& image, std::vector<rotrect>& faces);
};

// A second opinion on a candidate face.
class MORVIK_API FaceConfirmer {
 public:
  virtual ~FaceConfirmer();
  // 0 when `crop` holds the face `face` (crop coordinates); `result` then
  // holds the confirming detection. `face` and `result` may be one object.
  virtual int confirmFace(const cv::Rect& face, const cv::Mat& crop, cv::Rect& result) = 0;
};

// Confirms with the light CNN detector, after scaling the crop so that the
// candidate is about `target_width` pixels wide (0 or less: no scaling).
class MORVIK_API CnnLightConfirmer : public FaceConfirmer {
 public:
  explicit CnnLightConfirmer(int target_width) : target_width_(target_width) {}
  int confirmFace(const cv::Rect& face, const cv::Mat& crop, cv::Rect& result) override;

 private:
  int target_width_;
};

// The chain of finders that a selection names, in the fixed order pico, LBP,
// Haar, HOG, CNN, each optionally followed by a confirmer. Scale index i runs
// member i (indices past the members belong to the CNN finder).
class MORVIK_API DefaultFindFaceAlgo : public FindFaceAlgo {
 public:
  explicit DefaultFindFaceAlgo(mv::FindFaceAlgoType type);
  ~DefaultFindFaceAlgo() override;
  DefaultFindFaceAlgo(const DefaultFindFaceAlgo&) = delete;
  DefaultFindFaceAlgo& operator=(const DefaultFindFaceAlgo&) = delete;

  const char* getName() override { return "Default"; }
  std::vector<PreparedParams> getScales(const cv::Mat& image) override;
  int findFaces(size_t index, cv::Mat& image, std::vector<cv::Rect>& faces) override;
  int findFaces(size_t index, cv::Mat& image, std::vector<rotrect>& faces) override;

  // For tests and hosts that assemble their own chain: takes ownership.
  void addFinder(FindFaceAlgo* finder, FaceConfirmer* confirmer);

  const std::vector<FindFaceAlgo*>& finders() const { return finders_; }
  // The member that scale index `index` runs (null when none does).
  FindFaceAlgo* memberFor(size_t index) const;
  const std::vector<FaceConfirmer*>& confirmers() const { return confirmers_; }

 private:
  mv::FindFaceAlgoType type_;
  FindFaceAlgo* cnn_ = nullptr;  // also the last of finders_; not owned separately
  std::vector<FaceConfirmer*> confirmers_;
  std::vector<FindFaceAlgo*> finders_;
};

// OpenCV cascade: LBP model when built with true, Haar model with false.
// Keeps only candidates in which the eye cascade finds both eyes.
class MORVIK_API HaarFindFaceAlgo : public FindFaceAlgo {
 public:
  explicit HaarFindFaceAlgo(bool lbp) : lbp_(lbp) {}
  const char* getName() override { return lbp_ ? "LBP" : "Haar"; }
  using FindFaceAlgo::findFaces;
  int findFaces(size_t index, cv::Mat& image, std::vector<cv::Rect>& faces) override;

 private:
  bool lbp_;
};

// Pixel-comparison cascade.
class MORVIK_API PicoFindFaceAlgo : public FindFaceAlgo {
 public:
  const char* getName() override { return "Pico"; }
  using FindFaceAlgo::findFaces;
  int findFaces(size_t index, cv::Mat& image, std::vector<cv::Rect>& faces) override;
};

// dlib's HOG frontal face detector (built-in model).
class MORVIK_API DlibFindFaceAlgo : public FindFaceAlgo {
 public:
  const char* getName() override { return "Dlib"; }
  using FindFaceAlgo::findFaces;
  int findFaces(size_t index, cv::Mat& image, std::vector<cv::Rect>& faces) override;
};

// The CNN finders (full and light) and CNNFaceFindFaceAlgo are declared in
// morvik/dlib_wrappers.h; this factory keeps dlib out of this header.
MORVIK_API FindFaceAlgo* newCnnFinder(bool light);

#endif  // MORVIK_FINDFACE_H_
