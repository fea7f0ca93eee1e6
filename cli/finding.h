// Reading photographs and running the library's entry points on them. Every
// failure, thrown or returned, comes back as a Status naming what failed.
#ifndef MORVIK_TOOLS_FINDING_H_
#define MORVIK_TOOLS_FINDING_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "morvik/morvik.h"
#include "status.h"

namespace cli {

// A finder selection: the bits of mv::FindFaceAlgoType and
// mv::FindYunetAlways, as MvFindFaces takes them.
using Finders = uint32_t;

// The YuNet finder: on ordinary photos it finds far more of the faces than
// the chain of the other finders, in one pass, with each face's eyes.
constexpr Finders kDefaultAlgo = mv::FindYunetAlways;
// Faces are described as plain dlib describes them, from the box dlib's HOG
// finder draws around the face the finder found, or where it sees none,
// from the box the landmark model draws around it ("align.mode" 3): more
// pairs of photos of one person called right than with the eyes-upright
// crop of the library's own default, and alike whichever finder found the
// face (figures in the README). -o align.mode=... overrides it.
constexpr int kDefaultAlignMode = 3;
constexpr size_t kDefaultMaxFaces = 256;
constexpr long long kLargestMaxFaces = 100000;

// Decodes an image file as 8-bit BGR. -2 when it cannot be read or decoded:
// only regular files within the decoder's limit are read.
Status readPhoto(const std::string& path, cv::Mat& image);

// Encodes `image` in the format its extension names and writes it to
// `path` atomically. -5 when it cannot be encoded or written.
Status writeImageFile(const std::string& path, const cv::Mat& image);

// Up to `max_faces` faces, largest first, with their finders' scores and
// points. -4 when there is none.
Status findFaces(const cv::Mat& image, Finders algo, size_t max_faces, std::vector<mv::FoundFace>& faces);
// The face records of found faces, in order.
std::vector<mv::Face> facesOf(const std::vector<mv::FoundFace>& found);

// Descriptors of the given faces, in the same order.
Status describeFaces(const cv::Mat& image, std::vector<mv::Face>& faces,
                     std::vector<mv::FaceData>& data);

// Reads a photo, finds up to `max_faces` faces and describes them.
Status describePhoto(const std::string& path, Finders algo, size_t max_faces,
                     std::vector<mv::FoundFace>& faces, std::vector<mv::FaceData>& data);

// Euclidean distance of two descriptors.
Status distance(const mv::FaceData& a, const mv::FaceData& b, double& result);

}  // namespace cli

#endif  // MORVIK_TOOLS_FINDING_H_
