// Tier: class interface (for hosts that link the library's classes directly).
// Image input, the working-size rule, clipping, rotation and alignment.
#ifndef MORVIK_IMAGE_H_
#define MORVIK_IMAGE_H_

#include <cstddef>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "morvik/export.h"
#include "morvik/types.h"

// One working size of an image. All zero: the image is used as it is.
struct PreparedParams {
  double scale = 0.0;    // input -> working (working = input * scale)
  double rescale = 0.0;  // working -> input (= 1 / scale)
  cv::Size size;         // working width and height
};

// A working image with the parameters that made it.
struct PreparedImage : PreparedParams {
  cv::Mat image;
};

// Reads a whole file into `bytes`; returns the vector's length afterwards
// (0 for a null path; `bytes` untouched when the file cannot be opened).
MORVIK_API int read_file(const char* path, std::vector<char>& bytes);

// Decodes encoded image bytes (grey stays one channel, colour becomes BGR).
// Returns -2 when the bytes are not a decodable image.
MORVIK_API int decodeImage(const void* data, size_t length, cv::Mat& image);

// The working size for the bounds `min` and `max` (0 or negative: off).
// Every computed dimension is at least 1.
MORVIK_API int getImagePrepareParams(const cv::Mat& image, int min, int max,
                                     PreparedParams& params);

// Makes the working image: a deep copy when no scaling is needed, else a
// bicubic resize to params.size. `image` and `prepared` may be the same.
MORVIK_API int imagePrepare(const cv::Mat& image, const PreparedParams& params, cv::Mat& prepared);

// Clamps a rectangle to the image; a rectangle reaching the right (bottom)
// edge ends one pixel before it.
MORVIK_API void correctBorders(cv::Rect& rect, const cv::Mat& image);

// printf-style formatting into a string.
MORVIK_API std::string sformat(std::string format, ...);

// Rotates the image about the centre of *faceRect by `angle` degrees
// (counter-clockwise on screen) when |angle| > 3; carries the rectangle and
// the given eye points along. Returns -1 when faceRect is null.
MORVIK_API int rotateImage(double angle, const cv::Mat& image, mv::Rectangle* faceRect,
                           mv::Point* left_eye, mv::Point* right_eye, cv::Mat& rotated,
                           cv::Mat& rotation);

// Turns the face upright by its eyes and crops it (a view of the rotated
// image, or of `image` when nothing was rotated). `optimal` refits the crop
// rectangle to the landmarks. Returns -1 for bad arguments, including a
// face rectangle that lies wholly outside the image.
MORVIK_API int alignFace(const cv::Mat& image, mv::Rectangle* faceRect, mv::Point* left_eye,
                         mv::Point* right_eye, cv::Mat& cropped, bool optimal,
                         cv::Size desired_size, cv::Size_<double> desired_eyes);

#endif  // MORVIK_IMAGE_H_
