// The nearest-neighbour index beside a JSON-lines index (FILE.jsonl.mvx),
// kept by the library (morvik/collection.h). Its header records how many
// bytes of the JSON lines it covers with their digest, and its attachment
// where each face's record starts. It is trusted only while those bytes are
// unchanged: lines added after them extend it, any other change or damage
// rebuilds it from the JSON lines.
#ifndef MORVIK_TOOLS_COLLECTION_INDEX_H_
#define MORVIK_TOOLS_COLLECTION_INDEX_H_

#include <cstddef>
#include <string>
#include <vector>

#include "photo_records.h"
#include "morvik/collection.h"
#include "status.h"

namespace cli {

class Collection {
 public:
  Collection() = default;
  ~Collection() { MvIndexFree(index_); }
  Collection(const Collection&) = delete;
  Collection& operator=(const Collection&) = delete;

  MvIndex* index() const { return index_; }
  void reset(MvIndex* index) {
    MvIndexFree(index_);
    index_ = index;
  }

  std::vector<FaceAt> faces;  // by id
  size_t photos = 0;
  size_t failed_photos = 0;
  size_t damaged_lines = 0;

 private:
  MvIndex* index_ = nullptr;
};

std::string collectionIndexPath(const std::string& jsonl);

// What openCollection should build when it builds: `policy` for a new
// index; with `force`, an existing index of another policy is rebuilt too.
struct CollectionRequest {
  int policy = MV_INDEX_AUTO;
  bool force = false;
};

// Opens the index of `jsonl`, extending or rebuilding (and saving) it as
// needed. Messages about what was done go to stderr.
Status openCollection(const std::string& jsonl, const CollectionRequest& request, Collection& collection);

// "exact" or "approximate".
std::string structureName(const Collection& collection);

}  // namespace cli

#endif  // MORVIK_TOOLS_COLLECTION_INDEX_H_
