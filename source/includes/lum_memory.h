// The memory functions every allocation of the library goes through, and the placement
// helpers that construct objects into such blocks.
//
// The application defines the four functions, or links the default application library that
// has them on the C heap (app/lum_app_memory.cpp; tests/support has counting ones). MemAlloc
// zero-fills, MemAllocNC does not; both return null on failure. MemFree releases a block and
// clears the caller's pointer; a null pointer is left alone.
#ifndef LUM_MEMORY_H
#define LUM_MEMORY_H

#include <new>
#include <utility>

#include "lum_types.h"

namespace lumora {

void* MemAlloc(Int64 size);
void* MemAllocNC(Int64 size);
void* MemRealloc(void* block, Int64 size);
void MemFree(void*& block);

// Allocates a block for one T and constructs it there; null when the allocation fails.
template <typename T, typename... Args>
T* NewObj(Args&&... args) {
  void* block = MemAllocNC(static_cast<Int64>(sizeof(T)));
  if (block == nullptr) return nullptr;
  return new (block) T(std::forward<Args>(args)...);
}

// Like NewObj, but the block is zero-filled before the constructor runs.
template <typename T, typename... Args>
T* NewObjClear(Args&&... args) {
  void* block = MemAlloc(static_cast<Int64>(sizeof(T)));
  if (block == nullptr) return nullptr;
  return new (block) T(std::forward<Args>(args)...);
}

// Destroys the object (through its virtual destructor where it has one), frees its block and
// clears the pointer. A null pointer is left alone.
template <typename T>
void DeleteObj(T*& obj) {
  if (obj == nullptr) return;
  obj->~T();
  void* block = const_cast<void*>(static_cast<const volatile void*>(obj));
  MemFree(block);
  obj = nullptr;
}

// Typed convenience over MemFree for arrays of plain data.
template <typename T>
void DeleteMem(T*& block) {
  void* raw = const_cast<void*>(static_cast<const volatile void*>(block));
  MemFree(raw);
  block = nullptr;
}

}  // namespace lumora

#endif  // LUM_MEMORY_H
