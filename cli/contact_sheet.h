// Contact sheets: a cluster's face crops in a grid, each labelled with the
// name of its photo, as one PNG.
#ifndef MORVIK_TOOLS_CONTACT_SHEET_H_
#define MORVIK_TOOLS_CONTACT_SHEET_H_

#include <string>
#include <vector>

#include "photo_records.h"
#include "status.h"

namespace cli {

// Faces beyond this many are counted in the sheet's title, not drawn.
constexpr size_t kSheetFaces = 100;

// Writes the sheet of `faces` to `path`. Photos that cannot be read get a
// grey tile; -5 when the PNG cannot be written.
Status writeContactSheet(const std::string& path, const std::string& title, const std::vector<IndexedFace>& faces);

}  // namespace cli

#endif  // MORVIK_TOOLS_CONTACT_SHEET_H_
