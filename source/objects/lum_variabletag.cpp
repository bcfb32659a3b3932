// VariableTag: the element array of the variable tags (see lum_variabletag.h).
#include "objects/lum_variabletag.h"

#include <cstring>

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

void VariableTag::FreeData() {
  MemFree(_data);
  _count = 0;
}

void VariableTag::ClearElements() {
  if (_data != nullptr) std::memset(_data, 0, size_t(_count) * size_t(_elementSize));
}

void VariableTag::Adopt(void* block, Int32 n, Int32 elementSize) {
  MemFree(_data);
  _data = block;
  _count = block != nullptr ? n : 0;
  _elementSize = elementSize;
}

bool VariableTag::ResizeKeep(Int32 n, Int32 elementSize) {
  if (n < 0 || elementSize <= 0) return false;
  if (n == 0) {
    FreeData();
    _elementSize = elementSize;
    return true;
  }
  void* block = MemAlloc(Int64(n) * elementSize);
  if (block == nullptr) return false;
  if (_data != nullptr && elementSize == _elementSize) {
    const Int32 keep = n < _count ? n : _count;
    std::memcpy(block, _data, size_t(keep) * size_t(elementSize));
  }
  Adopt(block, n, elementSize);
  return true;
}

bool VariableTag::CopyElementsTo(VariableTag* dest) const {
  if (dest == this) return true;
  if (_count <= 0 || _data == nullptr) {
    dest->Adopt(nullptr, 0, _elementSize);
    return true;
  }
  const Int64 bytes = Int64(_count) * _elementSize;
  void* block = MemAllocNC(bytes);
  if (block == nullptr) return false;
  std::memcpy(block, _data, size_t(bytes));
  dest->Adopt(block, _count, _elementSize);
  return true;
}

bool VariableTag::CheckCount(HyperFile* hf, Int32 count, Int64 minDisk, Int32 perElement) {
  if (count < 0 || (perElement > 1 && count > 0x7FFFFFFF / perElement)) {
    hf->SetError(FILEERROR_READ);
    return false;
  }
  return hf->CheckRemaining(Int64(count) * minDisk);
}

void* VariableTag::AllocElements(HyperFile* hf, Int32 n, Int32 size) {
  void* block = MemAllocNC(Int64(n) * size);
  if (block == nullptr) hf->SetError(FILEERROR_OUTOFMEMORY);
  return block;
}

}  // namespace lumora
