// The untyped pointer array and the heapsort / binary search of fixed-size elements.
#include "lum_array.h"

#include <cstring>

namespace lumora {

// ---- GeToolDynArray ----

bool GeToolDynArray::Insert(void* p, Int32 position) {
  if (_count == _capacity) {
    Int64 next;
    if (_count == 0)
      next = _initial;
    else if (_step > 0)
      next = Int64(_count) + _step;
    else
      next = Int64(_count) * 2;
    if (next <= _count || !arraydetail::CountFits(next)) return false;
    void* block = MemRealloc(_array, next * Int64(sizeof(void*)));
    if (block == nullptr) return false;
    _array = static_cast<void**>(block);
    _capacity = Int32(next);
  }
  if (position < 0) position = 0;
  if (position > _count) position = _count;
  std::memmove(_array + position + 1, _array + position, size_t(_count - position) * sizeof(void*));
  _array[position] = p;
  ++_count;
  return true;
}

bool GeToolDynArray::Remove(Int32 position) {
  if (position < 0 || position >= _count) return false;
  std::memmove(_array + position, _array + position + 1,
               size_t(_count - position - 1) * sizeof(void*));
  --_count;
  return true;
}

Int32 GeToolDynArray::Find(const void* p) const {
  for (Int32 i = 0; i < _count; ++i)
    if (_array[i] == p) return i;
  return -1;
}

void GeToolDynArray::FlushThis() {
  DeleteMem(_array);
  _count = 0;
  _capacity = 0;
}

void GeToolDynArray::Swap(GeToolDynArray& other) {
  std::swap(_array, other._array);
  std::swap(_count, other._count);
  std::swap(_capacity, other._capacity);
}

// ---- GeSortAndSearch ----

namespace {

inline void SwapElements(UChar* a, UChar* b, Int32 size, bool words) {
  if (words) {
    for (Int32 i = 0; i < size; i += 4) {
      UInt32 x, y;
      std::memcpy(&x, a + i, 4);
      std::memcpy(&y, b + i, 4);
      std::memcpy(a + i, &y, 4);
      std::memcpy(b + i, &x, 4);
    }
  } else {
    for (Int32 i = 0; i < size; ++i) {
      UChar t = a[i];
      a[i] = b[i];
      b[i] = t;
    }
  }
}

}  // namespace

void GeSortAndSearch::SiftDown(UChar* base, Int32 root, Int32 count, Int32 size, bool words) {
  for (;;) {
    Int64 child = 2 * Int64(root) + 1;
    if (child >= count) return;
    UChar* c = base + child * size;
    if (child + 1 < count && Compare(c, c + size) < 0) {
      ++child;
      c += size;
    }
    UChar* r = base + Int64(root) * size;
    if (Compare(r, c) >= 0) return;
    SwapElements(r, c, size, words);
    root = Int32(child);
  }
}

void GeSortAndSearch::Sort(void* array, Int32 count, Int32 elementSize) {
  if (array == nullptr || count < 2 || elementSize <= 0) return;
  UChar* base = static_cast<UChar*>(array);
  bool words = elementSize % 4 == 0;
  for (Int32 i = count / 2 - 1; i >= 0; --i) SiftDown(base, i, count, elementSize, words);
  for (Int32 end = count - 1; end > 0; --end) {
    SwapElements(base, base + Int64(end) * elementSize, elementSize, words);
    SiftDown(base, 0, end, elementSize, words);
  }
}

void* GeSortAndSearch::SearchOrInsert(const void* key, void* array, Int32 count, Int32 elementSize,
                                      Int32* insertAt) {
  if (key == nullptr || array == nullptr || count <= 0 || elementSize <= 0) {
    if (insertAt != nullptr) *insertAt = -1;
    return nullptr;
  }
  UChar* base = static_cast<UChar*>(array);
  Int32 first = Compare(key, base);
  if (first <= 0) {
    if (insertAt != nullptr) *insertAt = 0;
    return first == 0 ? base : nullptr;
  }
  // Lower bound over 1..count-1: the first element not below the key, which is the first of
  // the equal ones when there is a match.
  Int32 lo = 1, hi = count;
  while (lo < hi) {
    Int32 mid = lo + (hi - lo) / 2;
    if (Compare(key, base + Int64(mid) * elementSize) > 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (insertAt != nullptr) *insertAt = lo;
  if (lo < count && Compare(key, base + Int64(lo) * elementSize) == 0)
    return base + Int64(lo) * elementSize;
  return nullptr;
}

}  // namespace lumora
