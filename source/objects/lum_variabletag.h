// VariableTag: the common part of the tags that own one array of fixed-size elements (points,
// polygons, tangents, segments, texture coordinates, normals, weights, colours).
//
// The array comes from the memory functions and is owned by the tag: zero-filled where the tag
// grows, not cleared where a reader is about to fill it whole (a reader that fails part way
// clears or frees it). The count and the array change together, and a failed allocation leaves
// both as they were.
// Counts read from a file are checked against the bytes left in the stream before anything is
// allocated (FILEERROR_READ when they cannot fit), so no file can make a tag allocate more than
// a small multiple of its own size.
#ifndef LUM_VARIABLETAG_H
#define LUM_VARIABLETAG_H

#include "objects/lum_basetag.h"

namespace lumora {

class VariableTag : public BaseTag {
 public:
  ~VariableTag() override { FreeData(); }

  // The number of elements.
  Int32 GetCount() const { return _count; }
  // The bytes of one element.
  Int32 GetElementSize() const { return _elementSize; }
  // The array (null when empty), for generic code; the classes give typed access.
  const void* GetDataAddressR() const { return _data; }
  void* GetDataAddressW() { return _data; }

 protected:
  VariableTag(Int32 nodeId, Int32 elementSize) : BaseTag(nodeId), _elementSize(elementSize) {}

  // n zero-filled elements of elementSize keeping the first min(count, n) old ones (whole
  // elements when the size stays). n < 0 or out of memory: false, nothing changed. n = 0
  // empties the tag.
  bool ResizeKeep(Int32 n, Int32 elementSize);
  bool ResizeKeep(Int32 n) { return ResizeKeep(n, _elementSize); }
  // Takes block (MemAlloc'd, n elements of elementSize) over, freeing the old array.
  void Adopt(void* block, Int32 n, Int32 elementSize);
  void FreeData();
  // Zero-fills the array: what a reader that failed part way leaves.
  void ClearElements();
  // dest's array becomes a copy of this one (same element size); false when out of memory,
  // dest unchanged then.
  bool CopyElementsTo(VariableTag* dest) const;

  // For readers: whether count elements, each taking at least minDisk bytes in the stream and
  // perElement array entries, can be read. A count whose array would not fit an Int32, or
  // that claims more than the bytes left, fails with FILEERROR_READ. count >= 0.
  static bool CheckCount(HyperFile* hf, Int32 count, Int64 minDisk, Int32 perElement = 1);
  // A block of n > 0 elements of size, not cleared: the reader fills every byte, or clears
  // (ClearElements) or frees it when the read fails. Null with FILEERROR_OUTOFMEMORY.
  static void* AllocElements(HyperFile* hf, Int32 n, Int32 size);

  void* _data = nullptr;
  Int32 _count = 0;
  Int32 _elementSize;
};

}  // namespace lumora

#endif  // LUM_VARIABLETAG_H
