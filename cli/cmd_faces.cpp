// morvik faces / morvik describe: the faces of each photo, one photo after
// another; a photo that fails is reported and the batch goes on.
#include <iostream>
#include <string>
#include <vector>

#include "args.h"
#include "commands.h"
#include "finding.h"
#include "records.h"

namespace cli {
namespace {

struct PhotoResult {
  std::vector<mv::FoundFace> faces;
  std::vector<mv::FaceData> data;
};

Status analyse(const std::string& path, Finders algo, size_t max_faces, bool with_descriptors,
               PhotoResult& result) {
  if (with_descriptors) return describePhoto(path, algo, max_faces, result.faces, result.data);
  cv::Mat image;
  Status status = readPhoto(path, image);
  if (status.ok()) status = findFaces(image, algo, max_faces, result.faces);
  return status;
}

void printText(const std::string& path, const PhotoResult& result, bool with_descriptors) {
  const size_t n = result.faces.size();
  std::cout << path << ": " << n << (n == 1 ? " face" : " faces") << "\n";
  for (size_t i = 0; i < n; ++i) {
    std::cout << faceLine(i, result.faces[i]) << "\n";
    if (with_descriptors) std::cout << descriptorLine(result.data[i]) << "\n";
  }
}

int listFaces(int argc, char** argv, int first, bool with_descriptors) {
  ArgGrammar grammar{{"--algo", "--max"}, {"--json"}, 1};
  Args args;
  Finders algo = 0;
  size_t max_faces = 0;
  Status status = parseFindingCommand(argc, argv, first, grammar, args, algo, max_faces);
  if (!status.ok()) {
    report(with_descriptors ? "describe" : "faces", status);
    return exitStatus(status.code);
  }
  const bool json = args.has("--json");
  int first_failure = 0;
  for (const std::string& path : args.positional) {
    PhotoResult result;
    status = analyse(path, algo, max_faces, with_descriptors, result);
    // In records, as in an index, a photo without a face is an empty list.
    if (json && status.code == MV_NO_FACE) status = okStatus();
    if (!status.ok()) {
      report(path, status);
      if (json) std::cout << errorRecord(path, status) << std::endl;
      if (first_failure == 0) first_failure = status.code;
      continue;
    }
    if (json) {
      const DescribedBy by = describedNow(algo);
      std::cout << photoRecord(path, result.faces, with_descriptors ? &result.data : nullptr,
                               with_descriptors ? &by : nullptr)
                << "\n";
    } else {
      printText(path, result, with_descriptors);
    }
    std::cout.flush();
  }
  return exitStatus(first_failure);
}

}  // namespace

int runFaces(int argc, char** argv, int first) { return listFaces(argc, argv, first, false); }
int runDescribe(int argc, char** argv, int first) { return listFaces(argc, argv, first, true); }

}  // namespace cli
