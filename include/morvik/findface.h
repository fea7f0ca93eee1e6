// Tier: class interface (for hosts that link the library's classes directly).
// Face finders: the interface all of them share, the combined finder that
// chains them, the individual finders and the confirmers.
#ifndef MORVIK_FINDFACE_H_
#define MORVIK_FINDFACE_H_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include <opencv2/core.hpp>

#include "morvik/export.h"
#include "morvik/image.h"
#include "morvik/types.h"

// One found face: a rectangle in pixels of the image the finder was given,
// with the face's in-plane rotation (0.0 for every finder of this library).
// A finder that knows more of a face than its box (a score, landmarks) says
// so in the fields after `rect`; the others leave them as they start.
struct rotrect {
  static constexpr int kPoints = 5;

  double angle = 0.0;
  cv::Rect rect;
  // The finder's own score of the face; NaN when it gives none.
  float score = std::numeric_limits<float>::quiet_NaN();
  // 0, or kPoints when `points` hold the eye on the image's left, the eye on
  // its right, the nose tip and the mouth's left and right corners, in
  // pixels of the image the finder was given (not clipped to it).
  int point_count = 0;
  cv::Point2f points[kPoints];

  bool hasPoints() const { return point_count == kPoints; }
};

// Which finders a chain holds: the bits of mv::FindFaceAlgoType as they
// stand, plus mv::FindYunetAlways. fromByte is the one place that decides
// what bit 0x80 of a one-byte selection means.
struct FinderSelection {
  uint32_t bits = 0;

  static FinderSelection fromByte(mv::FindFaceAlgoType type);
  bool has(uint32_t bit) const { return (bits & bit) != 0; }
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
  // The faces with what the finder knows of them beyond their boxes (its
  // score, its points; see rotrect), the boxes being those of the rectangle
  // overload. Returns -12 unless a finder implements it; the combined finder
  // then asks the overloads above.
  virtual int findDetailedFaces(size_t index, cv::Mat& image, std::vector<rotrect>& faces);
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

// The chain of finders that a selection names, in the fixed order YuNet,
// pico, LBP, Haar, HOG, CNN, each optionally followed by a confirmer. Scale index i runs
// member i (indices past the members belong to the CNN finder).
class MORVIK_API DefaultFindFaceAlgo : public FindFaceAlgo {
 public:
  explicit DefaultFindFaceAlgo(mv::FindFaceAlgoType type);
  // The chain of a wider selection; the YuNet finder, when selected, comes
  // first.
  explicit DefaultFindFaceAlgo(FinderSelection selection);
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
  // The same boxes, each with the detector's detection value (its margin
  // over the filter's threshold) as the score.
  int findDetailedFaces(size_t index, cv::Mat& image, std::vector<rotrect>& faces) override;
};

// The YuNet network: one pass over the working image of "yunet.rescale_min"
// and "yunet.rescale_max", faces with a score of at least "yunet.score",
// each with five points (see rotrect).
class MORVIK_API YunetFindFaceAlgo : public FindFaceAlgo {
 public:
  const char* getName() override { return "YuNet"; }
  std::vector<PreparedParams> getScales(const cv::Mat& image) override;
  using FindFaceAlgo::findFaces;
  // The boxes alone.
  int findFaces(size_t index, cv::Mat& image, std::vector<cv::Rect>& faces) override;
  // The boxes with their scores and points, in score order.
  int findDetailedFaces(size_t index, cv::Mat& image, std::vector<rotrect>& faces) override;
};

// The CNN finders (full and light) and CNNFaceFindFaceAlgo are declared in
// morvik/dlib_wrappers.h; this factory keeps dlib out of this header.
MORVIK_API FindFaceAlgo* newCnnFinder(bool light);

#endif  // MORVIK_FINDFACE_H_
