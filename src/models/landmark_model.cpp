// The landmark model's flat layout, its prediction, and the way from
// dlib's model to it.
#include "models/landmark_model.h"

#include <xmmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <utility>

#include <dlib/image_processing/shape_predictor.h>

namespace morvik {
namespace {

// dlib keeps a model's parts private and fills them only in its own
// reader. An explicit instantiation is the one place C++ lets a private
// member be named from outside; this one hands out a pointer to it.
template <typename Tag, typename Tag::type Member>
struct PrivateMember {
  friend typename Tag::type memberOf(Tag) { return Member; }
};

struct InitialShape {
  using type = dlib::matrix<float, 0, 1> dlib::shape_predictor::*;
  friend type memberOf(InitialShape);
};
struct Forests {
  using type = std::vector<std::vector<dlib::impl::regression_tree>> dlib::shape_predictor::*;
  friend type memberOf(Forests);
};
struct AnchorIndices {
  using type = std::vector<std::vector<unsigned long>> dlib::shape_predictor::*;
  friend type memberOf(AnchorIndices);
};
struct Deltas {
  using type = std::vector<std::vector<dlib::vector<float, 2>>> dlib::shape_predictor::*;
  friend type memberOf(Deltas);
};

template struct PrivateMember<InitialShape, &dlib::shape_predictor::initial_shape>;
template struct PrivateMember<Forests, &dlib::shape_predictor::forests>;
template struct PrivateMember<AnchorIndices, &dlib::shape_predictor::anchor_idx>;
template struct PrivateMember<Deltas, &dlib::shape_predictor::deltas>;

// How many trees ahead a leaf is fetched: enough to keep several misses in
// flight, few enough that the leaves are still in cache when added.
constexpr size_t kFetchAhead = 4;

void fetch(const float* values, long count) {
  if (count <= 0) return;
  const char* first = reinterpret_cast<const char*>(values);
  const char* last = reinterpret_cast<const char*>(values + count) - 1;
  for (const char* p = first; p < last; p += 64) _mm_prefetch(p, _MM_HINT_T0);
  _mm_prefetch(last, _MM_HINT_T0);
}

template <typename T>
bool sameBits(const T* a, const T* b, size_t count) {
  return count == 0 || std::memcmp(a, b, count * sizeof(T)) == 0;
}

bool allFinite(const float* values, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!std::isfinite(values[i])) return false;
  return true;
}

// Counts of trees, splits and leaves that add up, and trees whose walk
// from the root ends at one of their leaves (index at most 2 * splits,
// leaf index at most splits).
bool countsAddUp(const LandmarkParts& p) {
  if (std::accumulate(p.cascade_trees.begin(), p.cascade_trees.end(), size_t{0}) != p.trees.size()) return false;
  size_t splits = 0, leaves = 0;
  for (const LandmarkParts::Tree& tree : p.trees) {
    if (tree.splits >= tree.leaves) return false;
    splits += tree.splits;
    leaves += tree.leaves;
  }
  const size_t shape = static_cast<size_t>(p.initial_shape.size());
  const size_t values = p.leaves.size();
  return splits == p.splits.size() &&
         (shape == 0 ? values == 0 : values % shape == 0 && values / shape == leaves);
}

bool cascadesFit(const LandmarkParts& p) {
  const size_t cascades = p.cascade_trees.size();
  if (p.anchors.size() != cascades || p.deltas.size() != cascades) return false;
  const unsigned long points = static_cast<unsigned long>(p.initial_shape.size() / 2);
  size_t tree = 0, split = 0;
  for (size_t c = 0; c < cascades; ++c) {
    const size_t pixels = p.deltas[c].size();
    if (p.anchors[c].size() != pixels) return false;
    for (unsigned long anchor : p.anchors[c])
      if (anchor >= points) return false;
    for (size_t t = 0; t < p.cascade_trees[c]; ++t, ++tree) {
      for (size_t s = 0; s < p.trees[tree].splits; ++s, ++split)
        if (p.splits[split].idx1 >= pixels || p.splits[split].idx2 >= pixels) return false;
    }
  }
  return true;
}

}  // namespace

bool LandmarkModel::assign(LandmarkParts&& parts) {
  parts_ = std::move(parts);
  trees_at_.clear();
  fits_ = parts_.initial_shape.size() % 2 == 0 && countsAddUp(parts_) && cascadesFit(parts_);
  if (!fits_) {
    // Only the initial shape stays, for the number of points.
    LandmarkParts kept;
    kept.initial_shape = std::move(parts_.initial_shape);
    parts_ = std::move(kept);
    return false;
  }
  const size_t shape = static_cast<size_t>(parts_.initial_shape.size());
  trees_at_.reserve(parts_.trees.size());
  size_t split = 0, value = 0;
  for (const LandmarkParts::Tree& tree : parts_.trees) {
    trees_at_.push_back({split, tree.splits, value});
    split += tree.splits;
    value += tree.leaves * shape;
  }
  return true;
}

bool LandmarkModel::finite() const {
  const LandmarkParts& p = parts_;
  for (long i = 0; i < p.initial_shape.size(); ++i)
    if (!std::isfinite(p.initial_shape(i))) return false;
  for (const auto& level : p.deltas)
    for (const dlib::vector<float, 2>& delta : level)
      if (!std::isfinite(delta.x()) || !std::isfinite(delta.y())) return false;
  return allFinite(p.leaves.data(), p.leaves.size());
}

dlib::full_object_detection LandmarkModel::operator()(const dlib::cv_image<dlib::bgr_pixel>& image,
                                                      const dlib::rectangle& rect) const {
  return predict(image, rect, nullptr, nullptr);
}

dlib::full_object_detection LandmarkModel::operator()(const dlib::cv_image<dlib::bgr_pixel>& image,
                                                      const dlib::rectangle& rect, const dlib::rectangle& loaded,
                                                      bool* inside) const {
  return predict(image, rect, &loaded, inside);
}

// The positions dlib::impl::extract_feature_pixel_values computes, by the
// same expression; a position may still differ by a rounding step, hence
// the pixel to spare on each side of `loaded` that is inside the image.
bool LandmarkModel::pixelsWithin(size_t cascade, const dlib::matrix<float, 0, 1>& shape,
                                 const dlib::rectangle& rect, const dlib::rectangle& image_area,
                                 const dlib::rectangle& loaded) const {
  const LandmarkParts& p = parts_;
  const dlib::matrix<float, 2, 2> tform =
      dlib::matrix_cast<float>(dlib::impl::find_tform_between_shapes(p.initial_shape, shape).get_m());
  const dlib::point_transform_affine to_image = dlib::impl::unnormalizing_tform(rect);
  // A side on the image's edge needs no spare pixel: past it both readings
  // give the black of outside.
  constexpr long kFar = 1L << 40;
  const dlib::rectangle safe(loaded.left() <= image_area.left() ? -kFar : loaded.left() + 1,
                             loaded.top() <= image_area.top() ? -kFar : loaded.top() + 1,
                             loaded.right() >= image_area.right() ? kFar : loaded.right() - 1,
                             loaded.bottom() >= image_area.bottom() ? kFar : loaded.bottom() - 1);
  const dlib::rectangle near_image = dlib::grow_rect(image_area, 1);
  for (size_t i = 0; i < p.deltas[cascade].size(); ++i) {
    const dlib::point at =
        to_image(tform * p.deltas[cascade][i] + dlib::impl::location(shape, p.anchors[cascade][i]));
    if (!safe.contains(at) && near_image.contains(at)) return false;
  }
  return true;
}

dlib::full_object_detection LandmarkModel::predict(const dlib::cv_image<dlib::bgr_pixel>& image,
                                                   const dlib::rectangle& rect, const dlib::rectangle* loaded,
                                                   bool* inside) const {
  const LandmarkParts& p = parts_;
  if (inside) *inside = true;
  dlib::matrix<float, 0, 1> shape = p.initial_shape;
  const long n = shape.size();
  std::vector<float> pixels;
  std::vector<const float*> chosen;
  size_t tree = 0;
  for (size_t c = 0; c < p.cascade_trees.size(); ++c) {
    dlib::impl::extract_feature_pixel_values(image, rect, shape, p.initial_shape, p.anchors[c], p.deltas[c],
                                             pixels);
    if (loaded && inside && *inside) *inside = pixelsWithin(c, shape, rect, dlib::get_rect(image), *loaded);
    // Every tree's leaf first: the pixels stay the same for the cascade.
    chosen.resize(p.cascade_trees[c]);
    for (const float*& leaf : chosen) {
      const TreeAt& at = trees_at_[tree++];
      const LandmarkParts::Split* splits = p.splits.data() + at.first_split;
      size_t i = 0;
      while (i < at.splits) {
        const LandmarkParts::Split& s = splits[i];
        i = pixels[s.idx1] - pixels[s.idx2] > s.thresh ? 2 * i + 1 : 2 * i + 2;
      }
      leaf = p.leaves.data() + at.first_value + (i - at.splits) * static_cast<size_t>(n);
    }
    for (size_t t = 0; t < chosen.size() && t < kFetchAhead; ++t) fetch(chosen[t], n);
    // Added in the trees' order, one value at a time: dlib's sums.
    float* values = shape.size() == 0 ? nullptr : &shape(0);
    for (size_t t = 0; t < chosen.size(); ++t) {
      if (t + kFetchAhead < chosen.size()) fetch(chosen[t + kFetchAhead], n);
      const float* leaf = chosen[t];
      for (long k = 0; k < n; ++k) values[k] += leaf[k];
    }
  }

  const dlib::point_transform_affine to_image = dlib::impl::unnormalizing_tform(rect);
  std::vector<dlib::point> points(static_cast<size_t>(n / 2));
  for (size_t i = 0; i < points.size(); ++i) points[i] = to_image(dlib::impl::location(shape, i));
  return dlib::full_object_detection(rect, points);
}

bool LandmarkModel::operator==(const LandmarkModel& other) const {
  const LandmarkParts& a = parts_;
  const LandmarkParts& b = other.parts_;
  if (fits_ != other.fits_ || a.initial_shape.size() != b.initial_shape.size() ||
      a.cascade_trees != b.cascade_trees || a.trees.size() != b.trees.size() || a.splits.size() != b.splits.size() ||
      a.leaves.size() != b.leaves.size() || a.anchors != b.anchors || a.deltas.size() != b.deltas.size())
    return false;
  if (a.initial_shape.size() != 0 &&
      !sameBits(&a.initial_shape(0), &b.initial_shape(0), static_cast<size_t>(a.initial_shape.size())))
    return false;
  for (size_t t = 0; t < a.trees.size(); ++t)
    if (a.trees[t].splits != b.trees[t].splits || a.trees[t].leaves != b.trees[t].leaves) return false;
  for (size_t s = 0; s < a.splits.size(); ++s) {
    const LandmarkParts::Split &x = a.splits[s], &y = b.splits[s];
    if (x.idx1 != y.idx1 || x.idx2 != y.idx2 || !sameBits(&x.thresh, &y.thresh, 1)) return false;
  }
  for (size_t c = 0; c < a.deltas.size(); ++c) {
    if (a.deltas[c].size() != b.deltas[c].size()) return false;
    for (size_t i = 0; i < a.deltas[c].size(); ++i) {
      const float xa[2] = {a.deltas[c][i].x(), a.deltas[c][i].y()};
      const float xb[2] = {b.deltas[c][i].x(), b.deltas[c][i].y()};
      if (!sameBits(xa, xb, 2)) return false;
    }
  }
  return sameBits(a.leaves.data(), b.leaves.data(), a.leaves.size());
}

bool flattenLandmarkModel(const dlib::shape_predictor& dlib_model, LandmarkModel& model) {
  LandmarkParts parts;
  parts.initial_shape = dlib_model.*memberOf(InitialShape{});
  const auto& forests = dlib_model.*memberOf(Forests{});
  const long shape = parts.initial_shape.size();
  size_t leaves = 0;
  for (const auto& forest : forests)
    for (const dlib::impl::regression_tree& tree : forest) leaves += tree.leaf_values.size();
  parts.leaves.reserve(leaves * static_cast<size_t>(shape));
  bool whole_leaves = true;
  for (const auto& forest : forests) {
    parts.cascade_trees.push_back(forest.size());
    for (const dlib::impl::regression_tree& tree : forest) {
      parts.trees.push_back({tree.splits.size(), tree.leaf_values.size()});
      for (const dlib::impl::split_feature& split : tree.splits)
        parts.splits.push_back({split.idx1, split.idx2, split.thresh});
      for (const dlib::matrix<float, 0, 1>& leaf : tree.leaf_values) {
        if (leaf.size() != shape) {
          whole_leaves = false;
          continue;
        }
        parts.leaves.insert(parts.leaves.end(), leaf.begin(), leaf.end());
      }
    }
  }
  parts.anchors = dlib_model.*memberOf(AnchorIndices{});
  parts.deltas = dlib_model.*memberOf(Deltas{});
  // A leaf of another size cannot be kept: its tree goes, and the counts
  // then show the loss.
  if (!whole_leaves) parts.trees.clear();
  return model.assign(std::move(parts));
}

void deserialize(LandmarkModel& model, std::istream& in) {
  dlib::shape_predictor dlib_model;
  dlib::deserialize(dlib_model, in);
  flattenLandmarkModel(dlib_model, model);
}

}  // namespace morvik
