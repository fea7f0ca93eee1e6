// The 64-bit digest of bytes that tells the library whether a model file or
// an index file is the one it read before, and that MvFileDigest reports:
// xxHash's XXH3 (64 bits, seed 0), the value `xxhsum -H3` prints for a file.
// Fed a piece at a time, it gives the digest of the whole whatever the
// pieces; a few GB/s, so digesting the 100 MB landmark model costs little
// beside reading it. Not a guard against crafted collisions: the files it
// checks are the host's own.
#ifndef MORVIK_DIGEST_DIGEST_H_
#define MORVIK_DIGEST_DIGEST_H_

#include <cstddef>
#include <cstdint>

#ifndef XXH_STATIC_LINKING_ONLY
#define XXH_STATIC_LINKING_ONLY  // the state as a member, not on the heap
#endif
#include <xxhash.h>

namespace morvik {

class Digest {
 public:
  Digest();
  void add(const void* data, size_t size);
  uint64_t value() const;

 private:
  XXH3_state_t state_;
};

// The digest of `size` bytes at `data` (null when `size` is 0).
uint64_t digestOf(const void* data, size_t size);

}  // namespace morvik

#endif  // MORVIK_DIGEST_DIGEST_H_
