// Whether a file is a face index written by `morvik index`, checked before
// search or cluster writes anything beside it: a photo or a text file given
// in its place must not get an index file of its own.
#ifndef MORVIK_TOOLS_INDEX_CHECK_H_
#define MORVIK_TOOLS_INDEX_CHECK_H_

#include <string>

#include "status.h"

namespace cli {

// -2 unless `path` is a regular file that is empty or whose first line is a
// photo record ({"photo": ...}).
Status checkIndexFile(const std::string& path);

}  // namespace cli

#endif  // MORVIK_TOOLS_INDEX_CHECK_H_
