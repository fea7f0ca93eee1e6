// Reading dlib model files into memory.
#include "model_file.h"

#include <sys/stat.h>

#include <fstream>

namespace morvik {

std::vector<char> readModelFile(const std::string& path) {
  const dlib::serialization_error unreadable("Unable to open " + path + " for reading.");
  // A directory opens as a stream; only regular files are models.
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) throw unreadable;
  std::ifstream file(path, std::ios::binary);
  if (!file) throw unreadable;
  std::vector<char> bytes(static_cast<size_t>(info.st_size));
  if (!bytes.empty() && !file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    // The file shrank since stat: parse what is there; dlib reports the rest.
    bytes.resize(static_cast<size_t>(file.gcount()));
  }
  return bytes;
}

dlib::serialization_error modelFileError(const dlib::serialization_error& e, const std::string& path) {
  std::string text = e.info;
  const std::string stream = "from the stream.";
  const size_t at = text.find(stream);
  if (at != std::string::npos) text.replace(at, stream.size(), "from the file '" + path + "'.");
  return dlib::serialization_error(text);
}

}  // namespace morvik
