// The digest fed a piece at a time is the digest of the whole, whatever the
// pieces, and it is xxHash's XXH3.
#include <gtest/gtest.h>

#include <string>

#include "digest/digest.h"

namespace {

std::string someBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  return bytes;
}

TEST(Digest, PiecesGiveTheDigestOfTheWhole) {
  // Sizes across XXH3's paths: short inputs, one stripe block, many blocks.
  for (size_t size : {size_t{0}, size_t{3}, size_t{16}, size_t{129}, size_t{240}, size_t{241},
                      size_t{1024}, (size_t{1} << 20) + 5}) {
    const std::string bytes = someBytes(size);
    const uint64_t whole = morvik::digestOf(bytes.data(), bytes.size());
    EXPECT_EQ(whole, XXH3_64bits(bytes.data(), bytes.size())) << size;
    for (size_t piece : {size_t{1}, size_t{7}, size_t{64}, size_t{4096}}) {
      morvik::Digest digest;
      for (size_t at = 0; at < size; at += piece) digest.add(bytes.data() + at, std::min(piece, size - at));
      EXPECT_EQ(whole, digest.value()) << size << " in pieces of " << piece;
    }
  }
}

TEST(Digest, EveryByteCounts) {
  const std::string bytes = someBytes(5000);
  const uint64_t whole = morvik::digestOf(bytes.data(), bytes.size());
  for (size_t at : {size_t{0}, size_t{2500}, size_t{4999}}) {
    std::string changed = bytes;
    changed[at] ^= 1;
    EXPECT_NE(whole, morvik::digestOf(changed.data(), changed.size())) << at;
  }
  EXPECT_NE(whole, morvik::digestOf(bytes.data(), bytes.size() - 1));
  morvik::Digest digest;
  digest.add(nullptr, 0);
  EXPECT_EQ(digest.value(), morvik::digestOf(nullptr, 0));
  EXPECT_EQ(digest.value(), 0x2D06800538D394C2ull);  // XXH3's digest of no bytes
}

}  // namespace
