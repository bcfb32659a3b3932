// Memory functions that count the blocks they hand out, for the module built as lumora_counted:
// the tests compare the count before and after many create/free cycles.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "lum_memory.h"

namespace {
std::atomic<long long> g_live{0};
}

namespace lumpy {
long long CountedLiveBlocks() { return g_live.load(); }
}  // namespace lumpy

namespace lumora {

void* MemAllocNC(Int64 size) {
  if (size < 0) return nullptr;
  void* block = std::malloc(size > 0 ? static_cast<size_t>(size) : 1);
  if (block != nullptr) ++g_live;
  return block;
}

void* MemAlloc(Int64 size) {
  void* block = MemAllocNC(size);
  if (block != nullptr) std::memset(block, 0, size > 0 ? static_cast<size_t>(size) : 1);
  return block;
}

void* MemRealloc(void* block, Int64 size) {
  if (size < 0) return nullptr;
  if (block == nullptr) return MemAllocNC(size);
  if (size == 0) {
    std::free(block);
    --g_live;
    return nullptr;
  }
  return std::realloc(block, static_cast<size_t>(size));
}

void MemFree(void*& block) {
  if (block == nullptr) return;
  std::free(block);
  --g_live;
  block = nullptr;
}

}  // namespace lumora
