// What the cascade search needs to know of a kind of feature: its types,
// how its values are read from a cascade file and how they are laid out
// for the search. The search, the reader and the kernels are written once
// over the kind; each kind (haar_kind.h, lbp_kind.h) names its types here
// and defines these members in its own source file. Its arithmetic on
// windows is in its *_lanes.h.
#ifndef MORVIK_CASCADE_KIND_H_
#define MORVIK_CASCADE_KIND_H_

#include <cstddef>

#include <opencv2/core.hpp>

#include "engine/cascade/cascade.h"
#include "engine/cascade/cascade_layout.h"

namespace morvik {

template <typename FeatureT, typename StumpT, typename StumpCodeT, typename WindowCodeT, bool squares,
          bool pairs_halves>
struct CascadeKind {
  using Feature = FeatureT;        // one feature, in pixels of the window
  using Stump = StumpT;            // a weak classifier: feature index, split, leaves
  using StumpCode = StumpCodeT;    // a stump laid out for the search
  using WindowCode = WindowCodeT;  // what a window is tested with before the stages

  // Whether the window test reads squared sums.
  static constexpr bool kSquares = squares;
  // Whether the AVX-512 path pairs half-empty vectors (cascade_kernels.h).
  static constexpr bool kPairsHalves = pairs_halves;

  // The file's "featureType" for this kind.
  static const char* featureType();
  // The file's "featureParams" (not empty).
  static CascadeLoadResult readParams(const cv::FileNode& params);
  // Whether a weak classifier of `node_values` values and `leaves` leaves
  // is a stump of this kind.
  static CascadeLoadResult stumpShape(size_t node_values, size_t leaves);
  // The node's values after the feature index.
  static void readSplit(cv::FileNodeIterator& it, Stump& stump);
  static CascadeLoadResult readFeature(const cv::FileNode& node, cv::Size window, Feature& feature);

  static void layOutWindow(cv::Size window, const CascadeLayout& layout, WindowCode& code);
  static void layOutStump(const Stump& stump, const Feature& feature, const CascadeLayout& layout, StumpCode& code);
};

// Declares that `Kind` defines the members above in its source file.
#define MORVIK_CASCADE_KIND_DEFINED_ELSEWHERE(Kind)                                                        \
  template <>                                                                                             \
  const char* Kind::featureType();                                                                        \
  template <>                                                                                             \
  CascadeLoadResult Kind::readParams(const cv::FileNode&);                                                \
  template <>                                                                                             \
  CascadeLoadResult Kind::stumpShape(size_t, size_t);                                                     \
  template <>                                                                                             \
  void Kind::readSplit(cv::FileNodeIterator&, Kind::Stump&);                                              \
  template <>                                                                                             \
  CascadeLoadResult Kind::readFeature(const cv::FileNode&, cv::Size, Kind::Feature&);                     \
  template <>                                                                                             \
  void Kind::layOutWindow(cv::Size, const CascadeLayout&, Kind::WindowCode&);                             \
  template <>                                                                                             \
  void Kind::layOutStump(const Kind::Stump&, const Kind::Feature&, const CascadeLayout&, Kind::StumpCode&)

}  // namespace morvik

#endif  // MORVIK_CASCADE_KIND_H_
