// How faces, descriptors and failures are shown: as text for people and as
// JSON records (one line per photo) for programs. `morvik index` writes the
// same records that `morvik describe --json` prints; the library writes them
// (MvFormatPhotoRecord), as it does for the Python package.
#ifndef MORVIK_TOOLS_RECORDS_H_
#define MORVIK_TOOLS_RECORDS_H_

#include <cstddef>
#include <string>
#include <vector>

#include "morvik/morvik.h"
#include "status.h"

namespace cli {

// "245x245 at (609,118)"
std::string rectText(const mv::Rectangle& rect);
// "  #1  245x245 at (609,118)  eyes (650,170) (720,168)", noting eyes fitted
// from the landmark shape and a non-zero angle.
std::string faceLine(size_t index, const mv::Face& face);
// The descriptor's 128 values on one line.
std::string descriptorLine(const mv::FaceData& data);

// {"photo":...,"faces":[...]}; with `data` non-null each face carries its
// descriptor, and the rectangle and eyes that the description used.
std::string photoRecord(const std::string& photo, const std::vector<mv::Face>& faces,
                        const std::vector<mv::FaceData>* data);
// {"photo":...,"error":{"code":...,"message":...,"detail":...}}
std::string errorRecord(const std::string& photo, const Status& status);

}  // namespace cli

#endif  // MORVIK_TOOLS_RECORDS_H_
