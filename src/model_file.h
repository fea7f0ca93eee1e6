// Reading dlib model files.
//
// dlib parses a model value by value through the stream; from an open file
// every value is a call into the file buffer. Reading the whole file first
// and parsing from memory cuts the load time of the large models (the
// landmark model is 100 MB) by about a third. Errors are dlib's, with the
// same texts as when dlib reads the file itself.
#ifndef MORVIK_MODEL_FILE_H_
#define MORVIK_MODEL_FILE_H_

#include <string>
#include <vector>

#include <dlib/serialize.h>

namespace morvik {

// The bytes of a model file; throws dlib::serialization_error when it is
// not a regular file that can be read.
std::vector<char> readModelFile(const std::string& path);

// dlib's error for a model that could not be parsed, naming the file.
dlib::serialization_error modelFileError(const dlib::serialization_error& e, const std::string& path);

template <typename T>
void deserializeModelFile(const std::string& path, T& item) {
  std::vector<char> bytes = readModelFile(path);
  try {
    dlib::deserialize(bytes) >> item;
  } catch (const dlib::serialization_error& e) {
    throw modelFileError(e, path);
  }
}

}  // namespace morvik

#endif  // MORVIK_MODEL_FILE_H_
