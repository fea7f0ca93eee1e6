// The scores of one of the HOG detector's filters at every position of a
// level's features, as dlib's scanner computes them.
//
// dlib keeps each filter both whole (one 2-D filter per feature plane) and
// as a sum of separable terms (a row filter and a column filter each, from
// the filter's singular value decomposition). It uses the terms when there
// are few enough, which is the case for the frontal face model; then every
// score is the sum, term by term, of a row pass and a column pass, each
// summed in the order of dlib's float_spatially_filter_image_separable:
// three interleaved partial sums for columns in full groups of eight, one
// plain sum for the columns left over. Those orders are kept here, so the
// scores are dlib's to the bit.
#ifndef MORVIK_HOG_FILTERS_H_
#define MORVIK_HOG_FILTERS_H_

#include <vector>

#include <dlib/geometry.h>
#include <dlib/matrix.h>

#include "engine/hog/hog_features.h"
#include "engine/hog/hog_isa.h"

namespace morvik {

struct SeparableTerm {
  int plane;
  std::vector<float> row, col;  // the row filter spans columns, the column filter rows
};

// A filter as a list of separable terms, in dlib's order.
struct HogFilter {
  std::vector<SeparableTerm> terms;
};

// The fields of dlib's fhog_filterbank.
using FullFilters = std::vector<dlib::matrix<float>>;
using TermFilters = std::vector<std::vector<dlib::matrix<float, 0, 1>>>;

// The filter's terms, or false when dlib would slide the whole filters
// instead (more terms than a third of their rows or columns per plane).
bool separableFilter(const FullFilters& filters, const TermFilters& row_filters, const TermFilters& col_filters,
                     HogFilter& filter);

// A score per feature position, rows of `stride` floats.
struct ScoreImage {
  long nr = 0, nc = 0, stride = 0;
  std::vector<float> data;
  const float* row(long r) const { return data.data() + r * stride; }
};

// What dlib's scanner leaves in its saliency image for this filter and
// these features, and the area of it that holds scores (empty when none
// do). Values outside the area are undefined. scratch is reused between
// calls.
dlib::rectangle scoreImage(const HogFilter& filter, const HogPlanes& hog, ScoreImage& scores,
                           std::vector<float>& scratch, HogIsa isa = bestHogIsa());

}  // namespace morvik

#endif  // MORVIK_HOG_FILTERS_H_
