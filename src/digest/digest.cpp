#include "digest/digest.h"

namespace morvik {

Digest::Digest() {
  XXH3_INITSTATE(&state_);
  XXH3_64bits_reset(&state_);
}

void Digest::add(const void* data, size_t size) {
  if (size == 0) return;  // data may then be null
  XXH3_64bits_update(&state_, data, size);
}

uint64_t Digest::value() const { return XXH3_64bits_digest(&state_); }

uint64_t digestOf(const void* data, size_t size) { return XXH3_64bits(data, size); }

}  // namespace morvik
