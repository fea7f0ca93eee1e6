// Memory for the large parts of models: file bytes and parsed values.
#ifndef MORVIK_MODEL_MEMORY_H_
#define MORVIK_MODEL_MEMORY_H_

#include <cstddef>
#include <new>
#include <utility>

namespace morvik {

// Megabytes are mapped on their own and asked for in huge pages: a fresh
// 100 MB buffer in small pages takes 25,000 page faults, which cost more
// than reading a file into it. Smaller requests come from the heap.
void* allocateModelMemory(size_t bytes);
void freeModelMemory(void* memory, size_t bytes) noexcept;

// An allocator on that memory. Elements are left uninitialised, since a
// file's bytes or a parser's values overwrite them at once; and address
// space reserved but never written costs no memory.
template <typename T>
struct ModelBytesAllocator {
  using value_type = T;
  ModelBytesAllocator() = default;
  template <typename U>
  ModelBytesAllocator(const ModelBytesAllocator<U>& /*other*/) {}
  T* allocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocateModelMemory(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept { freeModelMemory(p, n * sizeof(T)); }
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <typename U>
  bool operator==(const ModelBytesAllocator<U>& /*other*/) const {
    return true;
  }
  template <typename U>
  bool operator!=(const ModelBytesAllocator<U>& /*other*/) const {
    return false;
  }
};

}  // namespace morvik

#endif  // MORVIK_MODEL_MEMORY_H_
