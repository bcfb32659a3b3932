// A program with memory functions of its own: it counts the blocks the library holds.
#include <cstdio>
#include <cstdlib>

#include "lumora.h"

namespace {
long live = 0;
}

namespace lumora {

void* MemAlloc(Int64 size) {
  void* block = size < 0 ? nullptr : std::calloc(1, size > 0 ? size_t(size) : 1);
  live += block != nullptr;
  return block;
}
void* MemAllocNC(Int64 size) {
  void* block = size < 0 ? nullptr : std::malloc(size > 0 ? size_t(size) : 1);
  live += block != nullptr;
  return block;
}
void* MemRealloc(void* block, Int64 size) {
  if (size < 0) return nullptr;
  void* grown = std::realloc(block, size_t(size));
  live += (grown != nullptr) - (block != nullptr);
  return grown;
}
void MemFree(void*& block) {
  if (block == nullptr) return;
  std::free(block);
  block = nullptr;
  --live;
}

}  // namespace lumora

int main() {
  {
    lumora::String text("counted");
    std::printf("while a string lives: %s\n", live > 0 ? "blocks held" : "none held");
  }
  std::printf("after: %ld blocks held\n", live);
  return live == 0 ? 0 : 1;
}
