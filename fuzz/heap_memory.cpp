// Memory functions on the C heap for the fuzz targets and the benchmark programs, as the tool
// has them; under the sanitizers every block is seen.
#include <cstdlib>
#include <cstring>

#include "lumora.h"

namespace lumora {

void* MemAlloc(Int64 size) {
  if (size < 0) return nullptr;
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
