// The bytes of dlib's built-in frontal face model, decompressed at build
// time (tools/embed_frontal_faces.cpp writes their definition).
#ifndef MORVIK_FRONTAL_FACES_MODEL_H_
#define MORVIK_FRONTAL_FACES_MODEL_H_

#include <cstddef>

namespace morvik {

extern const unsigned char kFrontalFacesModel[];
extern const size_t kFrontalFacesModelSize;

}  // namespace morvik

#endif  // MORVIK_FRONTAL_FACES_MODEL_H_
