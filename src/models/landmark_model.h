// The 68-point landmark model, laid out for prediction.
//
// dlib's shape_predictor keeps each of its 120,000 leaves (a shape of 136
// floats) in an allocation of its own and its splits in one vector per tree;
// a prediction visits 7,500 of those leaves scattered over 65 MB, and waits
// on memory for almost every one. Here all leaves share one block in huge
// pages and all splits one array; a cascade first walks all its trees (the
// feature pixels do not change within it), then adds the chosen leaves with
// the next few already on their way from memory. The shapes are dlib's, bit
// for bit: the same feature pixels (dlib's code), comparisons and additions
// in the same order.
#ifndef MORVIK_LANDMARK_MODEL_H_
#define MORVIK_LANDMARK_MODEL_H_

#include <cstddef>
#include <istream>
#include <vector>

#include <dlib/geometry/vector.h>
#include <dlib/image_processing/full_object_detection.h>
#include <dlib/matrix.h>
#include <dlib/opencv/cv_image.h>

#include "models/model_memory.h"

namespace dlib {
class shape_predictor;
}

namespace morvik {

// A model's parts as its file lists them, flattened: every tree's splits
// in one array and every leaf's values in one block, tree after tree,
// cascade after cascade.
struct LandmarkParts {
  struct Split {
    unsigned long idx1, idx2;  // feature pixels of the tree's cascade
    float thresh;
  };
  struct Tree {
    size_t splits, leaves;  // counts
  };
  using Values = std::vector<float, ModelBytesAllocator<float>>;

  dlib::matrix<float, 0, 1> initial_shape;
  std::vector<size_t> cascade_trees;  // trees per cascade
  std::vector<Tree> trees;
  std::vector<Split> splits;
  Values leaves;  // initial_shape.size() values a leaf
  std::vector<std::vector<unsigned long>> anchors;          // per cascade
  std::vector<std::vector<dlib::vector<float, 2>>> deltas;  // per cascade
};

class LandmarkModel {
 public:
  LandmarkModel() = default;

  // Takes `parts` when they fit together, so that a prediction reads only
  // inside them: an even-sized initial shape; per cascade as many anchors
  // as deltas, each anchor a point of the shape; trees whose splits name
  // feature pixels of their cascade and that have a leaf for every path,
  // each leaf a whole shape; counts that add up. dlib checks none of this.
  // Otherwise returns false and keeps only the initial shape, as a model
  // that cannot predict (fits() false).
  bool assign(LandmarkParts&& parts);

  unsigned long num_parts() const { return static_cast<unsigned long>(parts_.initial_shape.size() / 2); }
  // The shape every prediction starts from, x and y of each point in the
  // unit square of the face box ((0,0) its top-left, (1,1) its
  // bottom-right corner): the mean face of the model's training boxes.
  const dlib::matrix<float, 0, 1>& mean_shape() const { return parts_.initial_shape; }
  bool fits() const { return fits_; }
  // Whether every coordinate (initial shape, deltas, leaves) is finite.
  bool finite() const;

  // dlib::shape_predictor's shape of the face in `rect`. Requires fits().
  dlib::full_object_detection operator()(const dlib::cv_image<dlib::bgr_pixel>& image,
                                         const dlib::rectangle& rect) const;
  // The same, for an image of which only `loaded` holds its pixels: sets
  // *inside to whether every feature pixel the fit read lay in `loaded` or
  // off the image (judged with a pixel to spare for rounding).
  dlib::full_object_detection operator()(const dlib::cv_image<dlib::bgr_pixel>& image, const dlib::rectangle& rect,
                                         const dlib::rectangle& loaded, bool* inside) const;

  // The same parts, value for value (NaN payloads and signed zeros too).
  bool operator==(const LandmarkModel& other) const;

 private:
  // Where a tree's splits and leaves start in the flat arrays.
  struct TreeAt {
    size_t first_split, splits, first_value;
  };

  dlib::full_object_detection predict(const dlib::cv_image<dlib::bgr_pixel>& image, const dlib::rectangle& rect,
                                      const dlib::rectangle* loaded, bool* inside) const;
  bool pixelsWithin(size_t cascade, const dlib::matrix<float, 0, 1>& shape, const dlib::rectangle& rect,
                    const dlib::rectangle& image_area, const dlib::rectangle& loaded) const;

  LandmarkParts parts_;
  std::vector<TreeAt> trees_at_;
  bool fits_ = false;
};

// dlib's model flattened; false (the model keeping the initial shape only)
// when its parts do not fit together.
bool flattenLandmarkModel(const dlib::shape_predictor& dlib_model, LandmarkModel& model);

// dlib's reader, for bytes the fast reader gives up: dlib parses them into
// its own model (throwing dlib::serialization_error at a fault), which is
// then flattened.
void deserialize(LandmarkModel& model, std::istream& in);

}  // namespace morvik

#endif  // MORVIK_LANDMARK_MODEL_H_
