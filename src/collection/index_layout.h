// The FAISS part of an index file, walked before FAISS reads a byte of it.
// FAISS trusts what it reads: it allocates every size it finds before
// reading what that size announces, and it asserts (aborting the process)
// rather than reports a structure that contradicts itself. A file whose
// digests are right was still perhaps made by someone else than the
// library, so only the two layouts the library writes pass: a flat L2
// index, or an inverted file of flat codes over a flat L2 quantizer, in
// 128 dimensions, with each declared size within the bytes that follow it
// and the lists holding exactly the faces the header counts.
#ifndef MORVIK_COLLECTION_INDEX_LAYOUT_H_
#define MORVIK_COLLECTION_INDEX_LAYOUT_H_

#include <cstdint>

namespace morvik {

// Checks the `size` bytes at `offset` of the open file `fd` (read with
// pread: the file's position is left alone) as an index of `count` faces.
// Throws std::runtime_error naming the first thing out of place.
void checkIndexLayout(int fd, uint64_t offset, uint64_t size, uint64_t count);

}  // namespace morvik

#endif  // MORVIK_COLLECTION_INDEX_LAYOUT_H_
