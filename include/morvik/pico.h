// Tier: class interface (for hosts that link the library's classes directly).
// The pixel-comparison cascade ("pico") detector: a cascade of binary
// decision trees whose nodes compare the intensities of two pixels.
//
// Cascade file (little-endian): 8 unread bytes, int32 depth d, int32 tree
// count T, then T trees of 8 * 2^d bytes each: (2^d - 1) node tests of four
// int8 (r1, c1, r2, c2), 2^d float leaf outputs, one float threshold.
#ifndef MORVIK_PICO_H_
#define MORVIK_PICO_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "morvik/export.h"

// Classify one upright window (row r, column c, size s). 1 = face, with the
// confidence in *q; -1 otherwise.
MORVIK_API int run_cascade(const void* cascade, float* q, int r, int c, int s,
                           const uint8_t* pixels, int nrows, int ncols, int ldim);
// The same, window rotated counter-clockwise by angle * 2pi (0 <= angle <= 1).
MORVIK_API int run_rotated_cascade(const void* cascade, float* q, int r, int c, int s, float angle,
                                   const uint8_t* pixels, int nrows, int ncols, int ldim);
// Scans the image; writes (r, c, s, q) per detection into rcsq and returns
// how many were stored (at most maxndetections).
MORVIK_API int find_objects(float* rcsq, int maxndetections, const void* cascade, float angle,
                            const uint8_t* pixels, int nrows, int ncols, int ldim,
                            float scalefactor, float stridefactor, float minsize, float maxsize);
// Intersection over union of two square windows.
MORVIK_API float get_overlap(float r1, float c1, float s1, float r2, float c2, float s2);
MORVIK_API void ccdfs(int* labels, int i, const float* rcsq, int n);
MORVIK_API int find_connected_components(int* labels, const float* rcsq, int n);
// Merges overlapping detections in place; returns the number of clusters.
// At most kPicoMaxClustered detections take part.
MORVIK_API int cluster_detections(float* rcsq, int n);

constexpr int kPicoMaxClustered = 4096;

// Checks that `bytes` hold a whole cascade: a sane depth and tree count and
// every tree present.
MORVIK_API bool validPicoCascade(const std::vector<char>& bytes);

class MORVIK_API PicoDetector {
 public:
  // Reads "pico.path", "pico.minsize", "pico.maxsize" and the buffer size
  // "pico.maxdetections". Throws std::runtime_error("Can't open pico config")
  // when the file is missing, empty or not a valid cascade.
  PicoDetector();
  virtual ~PicoDetector();

  bool loadCascade(std::string path);
  // Finds faces in `image` (grey or BGR); returns their number.
  virtual size_t detect(const cv::Mat& image, std::vector<cv::Rect>& faces);

  size_t capacity() const { return buffer.size() / 4; }

 private:
  float minsize;
  float maxsize;
  std::vector<char> cascade;
  std::vector<float> buffer;  // 4 floats per detection: r, c, s, q
};

#endif  // MORVIK_PICO_H_
