// The chain of finders that a selection names, and the confirmation of
// their candidates.
#include <algorithm>
#include <memory>
#include <vector>

#include "check.h"
#include "face/confirmation.h"
#include "morvik/config.h"
#include "morvik/findface.h"
#include "morvik/morvik.h"

namespace {

void deleteMembers(std::vector<FindFaceAlgo*>& finders, std::vector<FaceConfirmer*>& confirmers) {
  for (FindFaceAlgo* f : finders) delete f;
  for (FaceConfirmer* c : confirmers) delete c;
  finders.clear();
  confirmers.clear();
}

// Keeps the faces that `confirmer` agrees with, each with the confirmer's
// rectangle.
void confirmFaces(FaceConfirmer& confirmer, const cv::Mat& image, std::vector<rotrect>& faces) {
  std::vector<rotrect> kept;
  kept.reserve(faces.size());
  for (const rotrect& face : faces) {
    rotrect confirmed = face;
    if (morvik::confirmInContext(confirmer, image, confirmed.rect)) kept.push_back(confirmed);
  }
  faces.swap(kept);
}

}  // namespace

FinderSelection FinderSelection::fromByte(mv::FindFaceAlgoType type) {
  FinderSelection selection;
  selection.bits = type;
  // Bit 0x80 selected nothing before the YuNet finder existed; it still
  // does unless the option turns it on.
  if ((type & mv::FindYunet) != 0 && g_config.find_yunet != 0) selection.bits |= mv::FindYunetAlways;
  return selection;
}

DefaultFindFaceAlgo::DefaultFindFaceAlgo(mv::FindFaceAlgoType type)
    : DefaultFindFaceAlgo(FinderSelection::fromByte(type)) {}

DefaultFindFaceAlgo::DefaultFindFaceAlgo(FinderSelection selection)
    : type_(static_cast<mv::FindFaceAlgoType>(selection.bits & 0xFFu)) {
  const mv::FindFaceAlgoType type = type_;
  const bool yunet = selection.has(mv::FindYunetAlways);
  try {
    if (type == mv::FindConfirm && !yunet) {
      // The light network alone, unconfirmed.
      std::unique_ptr<FindFaceAlgo> light(newCnnFinder(true));
      if (light) {
        finders_.reserve(1);
        finders_.push_back(light.release());
      }
      return;
    }
    const bool confirm = (type & mv::FindConfirm) != 0;
    // Members in chain order; a finder that is not available is left out.
    // The network finders' faces are never confirmed.
    auto add = [&](std::unique_ptr<FindFaceAlgo> finder, const int* width) {
      if (!finder) return;
      std::unique_ptr<FaceConfirmer> confirmer;
      if (confirm && width != nullptr) confirmer.reset(new CnnLightConfirmer(*width));
      finders_.reserve(finders_.size() + 1);
      if (confirm) confirmers_.reserve(confirmers_.size() + 1);
      finders_.push_back(finder.release());
      if (confirm) confirmers_.push_back(confirmer.release());
    };
    if (yunet) add(std::make_unique<YunetFindFaceAlgo>(), nullptr);
    if (type & mv::FindPico) add(std::make_unique<PicoFindFaceAlgo>(), &g_config.confirmer_pico);
    if (type & mv::FindLBP) add(std::make_unique<HaarFindFaceAlgo>(true), &g_config.confirmer_lbp);
    if (type & mv::FindHaar) add(std::make_unique<HaarFindFaceAlgo>(false), &g_config.confirmer_haar);
    if (type & mv::FindDlib) add(std::make_unique<DlibFindFaceAlgo>(), &g_config.confirmer_dlib);
    if (type & mv::FindCNN) {
      std::unique_ptr<FindFaceAlgo> cnn(newCnnFinder(false));
      FindFaceAlgo* raw = cnn.get();
      add(std::move(cnn), nullptr);
      cnn_ = raw;
    }
  } catch (...) {
    deleteMembers(finders_, confirmers_);
    throw;
  }
}

DefaultFindFaceAlgo::~DefaultFindFaceAlgo() { deleteMembers(finders_, confirmers_); }

void DefaultFindFaceAlgo::addFinder(FindFaceAlgo* finder, FaceConfirmer* confirmer) {
  std::unique_ptr<FindFaceAlgo> f(finder);
  std::unique_ptr<FaceConfirmer> c(confirmer);
  if (!f) return;
  // Confirmers stay index-aligned with the finders once there is one.
  const bool aligned = c || !confirmers_.empty();
  finders_.reserve(finders_.size() + 1);
  if (aligned) confirmers_.reserve(finders_.size() + 1);
  if (aligned) confirmers_.resize(finders_.size(), nullptr);
  finders_.push_back(f.release());
  if (aligned) confirmers_.push_back(c.release());
}

std::vector<PreparedParams> DefaultFindFaceAlgo::getScales(const cv::Mat& image) {
  std::vector<PreparedParams> scales;
  for (FindFaceAlgo* a : finders_) {
    std::vector<PreparedParams> algoparams = a->getScales(image);
    MV_CHECK((a == cnn_ || algoparams.size() == 2) || algoparams.size() == 1);
    scales.insert(scales.end(), algoparams.begin(), algoparams.end());
  }
  return scales;
}

FindFaceAlgo* DefaultFindFaceAlgo::memberFor(size_t index) const {
  return index < finders_.size() ? finders_[index] : cnn_;
}

int DefaultFindFaceAlgo::findFaces(size_t, cv::Mat&, std::vector<cv::Rect>&) { return MV_NOT_SUPPORTED; }

int DefaultFindFaceAlgo::findFaces(size_t index, cv::Mat& image, std::vector<rotrect>& faces) {
  FindFaceAlgo* algo = memberFor(index);
  // No member owns this scale (the light network alone offers a second
  // scale that nothing answers): nothing found, nothing touched.
  if (algo == nullptr) return MV_NO_FACE;

  // A member that knows more than the boxes says so; the others answer
  // through the overloads of the finder interface.
  int rc = algo->findDetailedFaces(index, image, faces);
  if (rc == -12) rc = algo->findFaces(index, image, faces);
  if (rc == -12) {
    std::vector<cv::Rect> rects;
    rc = algo->findFaces(index, image, rects);
    if (rc == 0) {
      faces.resize(rects.size());
      for (size_t i = 0; i < rects.size(); ++i) {
        faces[i] = rotrect();
        faces[i].rect = rects[i];
      }
    }
  }
  if (rc != 0) return rc;

  if (index < confirmers_.size() && confirmers_[index] != nullptr) confirmFaces(*confirmers_[index], image, faces);
  return faces.empty() ? -4 : 0;
}
