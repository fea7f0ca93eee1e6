// dlib's HOG frontal face detector with the model dlib itself ships, loaded
// once per thread and shared by everything that runs it.
#ifndef MORVIK_FRONTAL_FACES_H_
#define MORVIK_FRONTAL_FACES_H_

#include <memory>

#include "engine/hog/hog_detection.h"

namespace morvik {

// The thread's detector; never null (the model is built into the library).
std::shared_ptr<HogDetector> frontalFacesDetector();

}  // namespace morvik

#endif  // MORVIK_FRONTAL_FACES_H_
