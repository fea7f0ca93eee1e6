// A part of an affine warp, pixel for pixel as OpenCV's whole warp.
//
// Turning a face upright needs only the pixels around the face, yet
// cv::warpAffine computes the whole image; and it cannot be given a smaller
// output with a shifted matrix without changing results, because it splits
// each source position into a column part and a row part that are rounded
// separately. This builds the same fixed-point source positions OpenCV
// builds for the wanted pixels, and lets cv::remap, which warpAffine itself
// calls on them, do the sampling.
#ifndef MORVIK_REGION_WARP_H_
#define MORVIK_REGION_WARP_H_

#include <opencv2/core.hpp>

namespace morvik {

// Sets `region_pixels` to the pixels inside `region` of
//   cv::warpAffine(src, dst, forward, size, cv::INTER_LINEAR,
//                  cv::BORDER_CONSTANT, cv::Scalar::all(0))
// where `forward` (2x3) maps source to destination and `region` lies
// within a destination of `size`. Returns false, leaving `region_pixels`
// alone, for an empty or outlying region or a matrix that is not 2x3.
bool warpAffineRegion(const cv::Mat& src, const cv::Mat& forward, cv::Size size, const cv::Rect& region,
                      cv::Mat& region_pixels);

}  // namespace morvik

#endif  // MORVIK_REGION_WARP_H_
