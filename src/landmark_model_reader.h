// A reader of the landmark model faster than dlib's.
//
// dlib parses the 100 MB landmark model one value at a time through a
// stream, about 25 ns for each of its 16 million numbers: the largest part
// of a process's first landmark call. This reader walks the bytes in memory
// and builds the same model, value for value.
#ifndef MORVIK_LANDMARK_MODEL_READER_H_
#define MORVIK_LANDMARK_MODEL_READER_H_

#include <cstddef>

namespace dlib {
class shape_predictor;
}

namespace morvik {

// Parses bytes written by dlib's serialize(shape_predictor) into `model`,
// with the values dlib's deserialize gives. Returns false, leaving `model`
// as it was, for anything it does not read exactly as dlib would (damaged
// or truncated bytes, dlib's older text format for numbers, another
// version); the caller then has dlib parse the bytes, and report their
// fault in its own words. Bytes after the model are ignored, as dlib
// ignores them.
bool readLandmarkModel(const char* data, size_t size, dlib::shape_predictor& model);

// Whether a parsed model's parts fit together, so that a prediction reads
// only inside them: an even-sized initial shape; per cascade as many anchor
// indices as deltas, each anchor a point of the shape; trees whose splits
// name feature pixels of their cascade and that have a leaf for every path,
// each leaf a whole shape; all coordinates finite. dlib checks none of this
// when it parses a model or predicts with it.
bool consistentLandmarkModel(const dlib::shape_predictor& model);

}  // namespace morvik

#endif  // MORVIK_LANDMARK_MODEL_READER_H_
