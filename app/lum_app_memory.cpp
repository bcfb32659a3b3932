// The four memory functions of the default application library, on the C heap.
//
// The library takes every byte it uses through these functions and leaves their definition to
// the program. A program that links lumora::app gets these; one that wants its own (to count,
// limit or pool its memory) links only lumora::lumora and defines all four in namespace lumora,
// with the same contract:
//   MemAlloc(size)           size bytes, zero-filled; null on failure
//   MemAllocNC(size)         size bytes, not cleared; null on failure
//   MemRealloc(block, size)  the C library's realloc semantics
//   MemFree(block)           releases a block (null is left alone) and clears the pointer
#include <cstdlib>

#include "lum_memory.h"

namespace lumora {

void* MemAlloc(Int64 size) {
  if (size < 0) return nullptr;
  // A zero-byte request still gets a block of its own, so it cannot be mistaken for failure.
  return std::calloc(1, size > 0 ? static_cast<size_t>(size) : 1);
}

void* MemAllocNC(Int64 size) {
  if (size < 0) return nullptr;
  return std::malloc(size > 0 ? static_cast<size_t>(size) : 1);
}

void* MemRealloc(void* block, Int64 size) {
  if (size < 0) return nullptr;
  return std::realloc(block, static_cast<size_t>(size));
}

void MemFree(void*& block) {
  if (block == nullptr) return;
  std::free(block);
  block = nullptr;
}

}  // namespace lumora
