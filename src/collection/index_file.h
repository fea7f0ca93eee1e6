// The index file: a header, the FAISS index as FAISS serialises it, and the
// host's attachment. The header carries the sizes and digests of both
// parts (and its own digest), so that a truncated or damaged file is
// refused before FAISS reads a byte of it, and so is one whose FAISS part
// does not hold together (checkIndexLayout); files are written under a
// temporary name and renamed into place once complete and flushed.
#ifndef MORVIK_COLLECTION_INDEX_FILE_H_
#define MORVIK_COLLECTION_INDEX_FILE_H_

#include <memory>
#include <string>
#include <vector>

#include "collection/face_index.h"
#include "collection/index_layout.h"  // the reader's check of the FAISS part
#include "morvik/collection.h"

namespace morvik {

struct StoredIndex {
  std::unique_ptr<FaceIndex> index;
  MvIndexSource source{};
  std::vector<unsigned char> attachment;
};

// Throws std::runtime_error naming what failed.
void writeIndexFile(const std::string& path, const StoredIndex& stored);
// Throws std::runtime_error for a file that is missing, truncated, damaged
// or not an index file.
StoredIndex readIndexFile(const std::string& path);

// Makes the header of an index file's bytes agree with the bytes after it,
// as writeIndexFile would have written it: the size of the FAISS part (the
// attachment keeps its declared size where the bytes allow) and the three
// digests. Tests and the fuzzer craft files with it, so that what lies
// behind the digests is reached. Too short for a header: left alone.
void sealIndexImage(std::vector<unsigned char>& bytes);

}  // namespace morvik

#endif  // MORVIK_COLLECTION_INDEX_FILE_H_
