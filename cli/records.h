// How faces, descriptors and failures are shown: as text for people and as
// JSON records (one line per photo) for programs. `morvik index` writes the
// same records that `morvik describe --json` prints; the library writes them
// (MvFormatPhotoRecord), as it does for the Python package.
#ifndef MORVIK_TOOLS_RECORDS_H_
#define MORVIK_TOOLS_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "morvik/morvik.h"
#include "status.h"

namespace cli {

// Which finder chain and which alignment ("align.mode") made a record's
// descriptors: distances are only comparable between descriptors made the
// same way. -1: not recorded (an index written before records said).
struct DescribedBy {
  int finder = -1;
  int align_mode = -1;
  bool operator==(const DescribedBy& o) const { return finder == o.finder && align_mode == o.align_mode; }
  bool operator!=(const DescribedBy& o) const { return !(*this == o); }
};
// The finder bits given with the alignment the option store holds now.
DescribedBy describedNow(uint32_t algo);
// "finder 0x18, align.mode 1" (or "not recorded").
std::string describedByText(const DescribedBy& by);

// Warns on stderr, naming `where`, when `faces` were not all described as
// `expected` (or, with `expected` null, not all described one way):
// distances between them mean nothing. Returns whether it warned.
struct IndexedFace;
bool warnMixedDescriptions(const std::string& where, const std::vector<IndexedFace>& faces,
                           const DescribedBy* expected);

// "245x245 at (609,118)"
std::string rectText(const mv::Rectangle& rect);
// "  #1  245x245 at (609,118)  eyes (650,170) (720,168)", noting eyes fitted
// from the landmark shape, a non-zero angle and the finder's score.
std::string faceLine(size_t index, const mv::FoundFace& face);
// The descriptor's 128 values on one line.
std::string descriptorLine(const mv::FaceData& data);

// {"photo":...,"faces":[...]}; each face with its finder's "score" (null
// when the finder gives none) and "points" (five, or none); with `data`
// non-null each face carries its descriptor, and the rectangle and eyes that
// the description used, and with `by` non-null the record says how they were
// made ("finder":24,"align_mode":1 before "faces").
std::string photoRecord(const std::string& photo, const std::vector<mv::FoundFace>& faces,
                        const std::vector<mv::FaceData>* data, const DescribedBy* by = nullptr);
// {"photo":...,"error":{"code":...,"message":...,"detail":...}}
std::string errorRecord(const std::string& photo, const Status& status);

}  // namespace cli

#endif  // MORVIK_TOOLS_RECORDS_H_
