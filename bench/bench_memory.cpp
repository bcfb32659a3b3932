// Memory functions on the C heap for the benchmark programs. They also count the bytes the
// library holds (by the allocator's usable size of each block) and the most it held since the
// last reset, for benchmarks that report memory beside time.
#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lumora.h"

namespace {

std::int64_t g_liveBytes = 0;
std::int64_t g_peakBytes = 0;

void* Counted(void* block) {
  if (block != nullptr) {
    g_liveBytes += static_cast<std::int64_t>(malloc_usable_size(block));
    if (g_liveBytes > g_peakBytes) g_peakBytes = g_liveBytes;
  }
  return block;
}

void Uncount(void* block) {
  if (block != nullptr) g_liveBytes -= static_cast<std::int64_t>(malloc_usable_size(block));
}

}  // namespace

// The bytes the library holds now, and the most it held since the last reset.
std::int64_t LumHeapLiveBytes() { return g_liveBytes; }
std::int64_t LumHeapPeakBytes() { return g_peakBytes; }
void LumHeapResetPeak() { g_peakBytes = g_liveBytes; }
// Bytes taken or given back outside the memory functions (a peer library's operator new, for a
// benchmark that counts the whole conversion's memory), counted with the library's.
void LumHeapAddForeign(std::int64_t bytes) {
  g_liveBytes += bytes;
  if (g_liveBytes > g_peakBytes) g_peakBytes = g_liveBytes;
}

namespace lumora {

void* MemAlloc(Int64 size) {
  if (size < 0) return nullptr;
  return Counted(std::calloc(1, size > 0 ? static_cast<size_t>(size) : 1));
}

void* MemAllocNC(Int64 size) {
  if (size < 0) return nullptr;
  return Counted(std::malloc(size > 0 ? static_cast<size_t>(size) : 1));
}

void* MemRealloc(void* block, Int64 size) {
  if (size < 0) return nullptr;
  const std::int64_t old = block != nullptr ? malloc_usable_size(block) : 0;
  void* grown = std::realloc(block, static_cast<size_t>(size));
  if (grown == nullptr && size > 0) return nullptr;
  g_liveBytes -= old;
  return Counted(grown);
}

void MemFree(void*& block) {
  if (block == nullptr) return;
  Uncount(block);
  std::free(block);
  block = nullptr;
}

}  // namespace lumora
