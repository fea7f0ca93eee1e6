// The plain dlib reference of HOG detection and landmarks built for any
// x86-64 processor, so that bench_vs_dlib can show what -march=native
// gains. It is a module of its own, loaded with dlopen: its copies of
// dlib's templates must not be merged with the program's native ones.
#include <memory>
#include <string>

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <opencv2/core.hpp>

#define PORTABLE_API extern "C" __attribute__((visibility("default")))

namespace {

struct Portable {
  dlib::frontal_face_detector hog = dlib::get_frontal_face_detector();
  dlib::shape_predictor landmarks;
};

dlib::cv_image<dlib::bgr_pixel> view(const unsigned char* bgr, int rows, int cols, size_t step) {
  return dlib::cv_image<dlib::bgr_pixel>(cv::Mat(rows, cols, CV_8UC3, const_cast<unsigned char*>(bgr), step));
}

}  // namespace

// null when the landmark model cannot be read.
PORTABLE_API void* portable_open(const char* shape_model) {
  try {
    auto p = std::make_unique<Portable>();
    dlib::deserialize(shape_model) >> p->landmarks;
    return p.release();
  } catch (...) {
    return nullptr;
  }
}

PORTABLE_API void portable_close(void* p) { delete static_cast<Portable*>(p); }

// The number of faces dlib's HOG detector finds.
PORTABLE_API long portable_hog(void* p, const unsigned char* bgr, int rows, int cols, size_t step) {
  return static_cast<long>(static_cast<Portable*>(p)->hog(view(bgr, rows, cols, step)).size());
}

// The number of landmarks found in the box.
PORTABLE_API long portable_landmarks(void* p, const unsigned char* bgr, int rows, int cols, size_t step, long left,
                                     long top, long right, long bottom) {
  const dlib::rectangle box(left, top, right, bottom);
  return static_cast<long>(static_cast<Portable*>(p)->landmarks(view(bgr, rows, cols, step), box).num_parts());
}
