// A reader of the landmark model faster than dlib's.
//
// dlib parses the 100 MB landmark model one value at a time through a
// stream, about 25 ns for each of its 16 million numbers, into 120,000
// separate allocations: the largest part of a process's first landmark
// call. This reader walks the bytes in memory and writes the values
// straight into the flat layout of LandmarkModel.
#ifndef MORVIK_LANDMARK_MODEL_READER_H_
#define MORVIK_LANDMARK_MODEL_READER_H_

#include <cstddef>

#include "models/landmark_model.h"

namespace morvik {

// Parses bytes written by dlib's serialize(shape_predictor) into `model`,
// with the values dlib's deserialize gives. Returns false, leaving `model`
// as it was, for anything it does not read exactly as dlib would (damaged
// or truncated bytes, dlib's older text format for numbers, another
// version) and for parts that do not fit together; the caller then has
// dlib parse the bytes, and report their fault in its own words. Bytes
// after the model are ignored, as dlib ignores them.
bool readLandmarkModel(const char* data, size_t size, LandmarkModel& model);

// Where the reader pulls bytes from a chunk at a time.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Copies up to `size` next bytes into `into`; fewer only at the end.
  virtual size_t read(char* into, size_t size) = 0;
};

// The same, for the `size` bytes of `source`: the model's bytes are never
// all in memory at once. Fewer bytes than `size` make it return false.
bool readLandmarkModel(ByteSource& source, size_t size, LandmarkModel& model);

}  // namespace morvik

#endif  // MORVIK_LANDMARK_MODEL_READER_H_
