// Huge-page memory for models.
#include "models/model_memory.h"

#include <sys/mman.h>

#include <new>

namespace morvik {

namespace {

// Below this a buffer comes from the heap; above it, from a mapping of its
// own in whole huge pages.
constexpr size_t kHugePage = size_t{2} << 20;

size_t mappedSize(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* allocateModelMemory(size_t bytes) {
  if (bytes < kHugePage) return ::operator new(bytes);
  if (bytes > static_cast<size_t>(-1) - kHugePage) throw std::bad_alloc();
  void* memory = ::mmap(nullptr, mappedSize(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  // Only a request: without transparent huge pages the mapping keeps small
  // ones.
  ::madvise(memory, mappedSize(bytes), MADV_HUGEPAGE);
  return memory;
}

void freeModelMemory(void* memory, size_t bytes) noexcept {
  if (bytes < kHugePage) {
    ::operator delete(memory);
  } else {
    ::munmap(memory, mappedSize(bytes));
  }
}

}  // namespace morvik
