// The library's growable arrays. Every one keeps its elements in a single block obtained through
// the memory functions; none of them throws or aborts: an operation that needs memory reports a
// failed allocation through its bool (or null) result and leaves the array as it was.
//
//   DynamicArrayBase<T, N>  elements of any type; capacity N at the first append, then doubled.
//   BaseArray<T, BLOCK>     elements of any type; grows to 1.5 x (capacity + requested), rounded
//                           up to a multiple of BLOCK.
//   BaseSortArray<T, BLOCK> a BaseArray kept in ascending order of T's operator<.
//   CDynArray<T>            plain (trivially copyable) elements moved with memcpy; grows like
//                           GeToolDynArray (initial capacity, then a step or doubling).
//   CDynSortArray<T>        a CDynArray sorted and searched by a Compare the subclass supplies.
//   CDynObjectArray<T>      owned object pointers; the subclass says how objects are made.
//   GeToolDynArray          untyped pointers (the objects are not owned).
//   GeTempDynArray<T>       the typed face of GeToolDynArray.
//   GeTempDynSortSearchArray<T, KEY, STEP>
//                           pointers kept sorted by a key, sorted lazily before a search.
//   GeSortAndSearch         heapsort and binary search over arrays of fixed-size elements.
//
// Element indices and counts are Int32. Capacities never exceed what an Int32 count and the
// Int64 size of the memory functions can express; a growth that would is a failed allocation.
#ifndef LUM_ARRAY_H
#define LUM_ARRAY_H

#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "lum_memory.h"
#include "lum_types.h"

namespace lumora {

namespace arraydetail {

constexpr Int32 kMaxCount = 0x7FFFFFFF;

// True when a positive element count fits an Int32 count. Its byte count then fits an Int64:
// no element is anywhere near 4 GiB.
inline bool CountFits(Int64 n) { return n <= kMaxCount; }

// Moves n elements from src into the uninitialised storage at dst and destroys the originals.
template <typename T>
void Relocate(T* dst, T* src, Int32 n) {
  if (n <= 0) return;
  if constexpr (std::is_trivially_copyable<T>::value) {
    std::memcpy(static_cast<void*>(dst), static_cast<const void*>(src), size_t(n) * sizeof(T));
  } else {
    for (Int32 i = 0; i < n; ++i) {
      new (static_cast<void*>(dst + i)) T(std::move(src[i]));
      src[i].~T();
    }
  }
}

// Shifts the n constructed elements at p one place up into the uninitialised slot p[n].
template <typename T>
void ShiftUp(T* p, Int32 n) {
  if (n <= 0) return;
  if constexpr (std::is_trivially_copyable<T>::value) {
    std::memmove(static_cast<void*>(p + 1), static_cast<const void*>(p), size_t(n) * sizeof(T));
  } else {
    new (static_cast<void*>(p + n)) T(std::move(p[n - 1]));
    for (Int32 i = n - 1; i > 0; --i) p[i] = std::move(p[i - 1]);
    p[0].~T();
  }
}

// Removes the element at p (count n including it, so at least 1): later elements move down one
// place and the last slot is left uninitialised.
template <typename T>
void ShiftDownOver(T* p, Int32 n) {
  if constexpr (std::is_trivially_copyable<T>::value) {
    std::memmove(static_cast<void*>(p), static_cast<const void*>(p + 1), size_t(n - 1) * sizeof(T));
  } else {
    for (Int32 i = 0; i + 1 < n; ++i) p[i] = std::move(p[i + 1]);
    p[n - 1].~T();
  }
}

// The storage the typed arrays share: a block of `capacity` slots, the first `count` of them
// constructed. The owners decide when and by how much it grows.
template <typename T>
class ArrayCore {
 public:
  ArrayCore() = default;
  ~ArrayCore() { Flush(); }
  ArrayCore(const ArrayCore&) = delete;
  ArrayCore& operator=(const ArrayCore&) = delete;

  Int32 GetCount() const { return _count; }
  Int32 GetCapacity() const { return _capacity; }
  T* GetArray() { return _data; }
  const T* GetArray() const { return _data; }
  T& operator[](Int32 i) { return _data[i]; }
  const T& operator[](Int32 i) const { return _data[i]; }
  T* begin() { return _data; }
  T* end() { return _data + _count; }
  const T* begin() const { return _data; }
  const T* end() const { return _data + _count; }

  // Destroys every element and releases the block.
  void Flush() {
    for (Int32 i = 0; i < _count; ++i) _data[i].~T();
    DeleteMem(_data);
    _count = 0;
    _capacity = 0;
  }

  // Exchanges the contents of two arrays without allocating.
  void Swap(ArrayCore& other) {
    std::swap(_data, other._data);
    std::swap(_count, other._count);
    std::swap(_capacity, other._capacity);
  }

 protected:
  // Moves the elements into a block of exactly newCapacity slots. Callers ask only for a
  // capacity other than the present one and above 0 and the count.
  bool Reallocate(Int64 newCapacity) {
    if (!CountFits(newCapacity)) return false;
    Int64 bytes = newCapacity * Int64(sizeof(T));
    if constexpr (std::is_trivially_copyable<T>::value) {
      void* block = MemRealloc(_data, bytes);
      if (block == nullptr) return false;
      _data = static_cast<T*>(block);
    } else {
      T* block = static_cast<T*>(MemAllocNC(bytes));
      if (block == nullptr) return false;
      Relocate(block, _data, _count);
      DeleteMem(_data);
      _data = block;
    }
    _capacity = Int32(newCapacity);
    return true;
  }

  // Inserts at pos (0..count) into a slot the caller made sure exists.
  template <typename U>
  T* EmplaceAt(Int32 pos, U&& value) {
    ShiftUp(_data + pos, _count - pos);
    T* slot = new (static_cast<void*>(_data + pos)) T(std::forward<U>(value));
    ++_count;
    return slot;
  }

  void EraseAt(Int32 pos) {
    ShiftDownOver(_data + pos, _count - pos);
    --_count;
  }

  T* _data = nullptr;
  Int32 _count = 0;
  Int32 _capacity = 0;
};

}  // namespace arraydetail

// An array whose capacity is INITIAL at the first append and doubles whenever it is full.
// Removing never shrinks by itself; Compact halves the block when it is at most half used.
template <typename T, Int32 INITIAL>
class DynamicArrayBase : public arraydetail::ArrayCore<T> {
  static_assert(INITIAL > 0, "the initial capacity must be positive");
  using Core = arraydetail::ArrayCore<T>;

 public:
  bool Append(const T& value) { return Insert(this->_count, value); }
  bool Append(T&& value) { return Insert(this->_count, std::move(value)); }
  // Appends a value-initialised element; null when out of memory.
  T* Append() {
    if (!MakeRoom()) return nullptr;
    return Core::EmplaceAt(this->_count, T());
  }

  // Inserts before pos; pos is clamped to 0..count.
  template <typename U>
  bool Insert(Int32 pos, U&& value) {
    T item(std::forward<U>(value));  // value may live inside the block that is about to move
    if (!MakeRoom()) return false;
    if (pos < 0) pos = 0;
    if (pos > this->_count) pos = this->_count;
    Core::EmplaceAt(pos, std::move(item));
    return true;
  }

  // False when pos is outside 0..count-1.
  bool Remove(Int32 pos) {
    if (pos < 0 || pos >= this->_count) return false;
    Core::EraseAt(pos);
    return true;
  }

  // Halves the capacity when it is above INITIAL and at most half of it is used. A failed
  // reallocation keeps the larger block.
  void Compact() {
    if (this->_capacity > INITIAL && this->_count <= this->_capacity / 2)
      Core::Reallocate(this->_capacity / 2);
  }

  // Makes sure one more element fits (INITIAL when empty, otherwise doubling).
  bool MakeRoom() {
    if (this->_count < this->_capacity) return true;
    Int64 next = this->_capacity == 0 ? INITIAL : Int64(this->_capacity) * 2;
    if (next > arraydetail::kMaxCount) next = arraydetail::kMaxCount;
    return next > this->_count && Core::Reallocate(next);
  }
};

// An array that grows to 1.5 x (old capacity + requested) slots, rounded up to a multiple of
// BLOCK, whenever the requested elements do not fit; the elements are moved into the new block.
template <typename T, Int32 BLOCK = 16>
class BaseArray : public arraydetail::ArrayCore<T> {
  static_assert(BLOCK > 0, "the block size must be positive");
  using Core = arraydetail::ArrayCore<T>;

 public:
  BaseArray() = default;
  BaseArray(BaseArray&& other) noexcept { this->Swap(other); }
  BaseArray& operator=(BaseArray&& other) noexcept {
    if (this != &other) {
      this->Flush();
      this->Swap(other);
    }
    return *this;
  }

  // Makes sure `additional` more elements fit, growing by the rule above.
  bool EnsureRoom(Int32 additional) {
    if (additional < 0) return false;
    Int64 needed = Int64(this->_count) + additional;
    if (needed <= this->_capacity) return true;
    // At least needed, as the capacity holds the count.
    Int64 grown = (Int64(this->_capacity) + additional) * 3 / 2;
    grown = (grown + BLOCK - 1) / BLOCK * BLOCK;
    if (grown > arraydetail::kMaxCount) grown = needed;
    return Core::Reallocate(grown);
  }

  bool Append(const T& value) { return Insert(this->_count, value); }
  bool Append(T&& value) { return Insert(this->_count, std::move(value)); }
  // Appends a value-initialised element; null when out of memory.
  T* Append() {
    if (!EnsureRoom(1)) return nullptr;
    return Core::EmplaceAt(this->_count, T());
  }

  // Inserts before pos; false (and nothing changed) when pos is outside 0..count.
  template <typename U>
  bool Insert(Int32 pos, U&& value) {
    if (pos < 0 || pos > this->_count) return false;
    T item(std::forward<U>(value));  // value may live inside the block that is about to move
    if (!EnsureRoom(1)) return false;
    Core::EmplaceAt(pos, std::move(item));
    return true;
  }

  // Removes count elements from pos; false when the range is not inside the array.
  bool Erase(Int32 pos, Int32 count = 1) {
    if (pos < 0 || count < 0 || pos > this->_count - count) return false;
    for (Int32 i = 0; i < count; ++i) Core::EraseAt(pos);
    return true;
  }

  // Grows with value-initialised elements or destroys the ones past count.
  bool Resize(Int32 count) {
    if (count < 0) return false;
    if (count > this->_count && !EnsureRoom(count - this->_count)) return false;
    while (this->_count > count) this->_data[--this->_count].~T();
    while (this->_count < count) new (static_cast<void*>(this->_data + this->_count++)) T();
    return true;
  }

  // Replaces the contents with copies of src's elements (T's copy constructor).
  bool CopyFrom(const BaseArray& src) {
    if (&src == this) return true;
    BaseArray copy;
    if (!copy.EnsureRoom(src._count)) return false;
    for (Int32 i = 0; i < src._count; ++i) copy.Core::EmplaceAt(i, src._data[i]);
    this->Flush();
    this->Swap(copy);
    return true;
  }

  // Index of the first element equal to value (operator==), or -1.
  Int32 Find(const T& value) const {
    for (Int32 i = 0; i < this->_count; ++i)
      if (this->_data[i] == value) return i;
    return -1;
  }
};

// A BaseArray kept in ascending order of T's operator<. Equal elements stay in insertion order.
template <typename T, Int32 BLOCK = 16>
class BaseSortArray : public BaseArray<T, BLOCK> {
 public:
  // Index of the first element not less than key (the count when there is none).
  template <typename K>
  Int32 LowerBound(const K& key) const {
    Int32 lo = 0, hi = this->_count;
    while (lo < hi) {
      Int32 mid = lo + (hi - lo) / 2;
      if (this->_data[mid] < key)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  }

  // Index of the first element equal to key, or -1.
  template <typename K>
  Int32 FindSorted(const K& key) const {
    Int32 i = LowerBound(key);
    if (i < this->_count && !(key < this->_data[i])) return i;
    return -1;
  }

  // Inserts after every element that is not greater; returns the index or -1 when out of memory.
  template <typename U>
  Int32 InsertSorted(U&& value) {
    Int32 lo = 0, hi = this->_count;
    while (lo < hi) {
      Int32 mid = lo + (hi - lo) / 2;
      if (value < this->_data[mid])
        hi = mid;
      else
        lo = mid + 1;
    }
    return BaseArray<T, BLOCK>::Insert(lo, std::forward<U>(value)) ? lo : -1;
  }
};

// Heapsort and binary search over arrays of fixed-size elements, ordered by the subclass's
// Compare (negative, 0 or positive, like memcmp).
class GeSortAndSearch {
 public:
  virtual ~GeSortAndSearch() = default;

  // The order of two elements (pointers to them).
  virtual Int32 Compare(const void* a, const void* b) = 0;

  // Sorts count elements of elementSize bytes in place (not stable). Elements are moved as
  // 32-bit words when the size is a multiple of 4, otherwise as bytes.
  void Sort(void* array, Int32 count, Int32 elementSize);

  // Searches a sorted array for key. Returns the first of the elements equal to key (and its
  // index in *insertAt), or null with *insertAt = the position at which key keeps the order.
  // Null pointers, a count or size of 0 or less: null with *insertAt = -1. insertAt may be null.
  void* SearchOrInsert(const void* key, void* array, Int32 count, Int32 elementSize,
                       Int32* insertAt);

 private:
  void SiftDown(UChar* base, Int32 root, Int32 count, Int32 size, bool words);
};

// An array of plain (trivially copyable) elements, grown like GeToolDynArray: to the initial
// capacity when empty, then by the growth step, or doubled when the step is 0.
template <typename T>
class CDynArray {
  static_assert(std::is_trivially_copyable<T>::value, "CDynArray holds plain data only");

 public:
  explicit CDynArray(Int32 initialCapacity = 16, Int32 growthStep = 0)
      : _initial(initialCapacity > 0 ? initialCapacity : 1),
        _step(growthStep > 0 ? growthStep : 0) {}
  virtual ~CDynArray() { FlushThis(); }
  CDynArray(const CDynArray&) = delete;
  CDynArray& operator=(const CDynArray&) = delete;

  Int32 GetCount() const { return _count; }
  Int32 GetCapacity() const { return _capacity; }
  T* GetArray() { return _data; }
  const T* GetArray() const { return _data; }
  T& operator[](Int32 i) { return _data[i]; }
  const T& operator[](Int32 i) const { return _data[i]; }
  // Null for an index outside 0..count-1.
  T* GetIndex(Int32 i) { return i >= 0 && i < _count ? _data + i : nullptr; }

  bool Append(const T& value) { return Insert(value, _count); }
  // Inserts before pos, clamped to 0..count.
  bool Insert(const T& value, Int32 pos) {
    T copy = value;  // value may live inside the block that is about to move
    if (_count == _capacity && !Grow()) return false;
    if (pos < 0) pos = 0;
    if (pos > _count) pos = _count;
    arraydetail::ShiftUp(_data + pos, _count - pos);
    _data[pos] = copy;
    ++_count;
    return true;
  }
  // False for a position outside 0..count-1.
  bool Remove(Int32 pos) {
    if (pos < 0 || pos >= _count) return false;
    arraydetail::ShiftDownOver(_data + pos, _count - pos);
    --_count;
    return true;
  }
  // Sets the count; new elements are zero-filled. Capacity becomes exactly count when growing.
  bool SetCount(Int32 count) {
    if (count < 0) return false;
    if (count > _capacity && !Reallocate(count)) return false;
    if (count > _count)
      std::memset(static_cast<void*>(_data + _count), 0, size_t(count - _count) * sizeof(T));
    _count = count;
    return true;
  }
  // Index of the first element equal to value (operator==), or -1.
  Int32 Find(const T& value) const {
    for (Int32 i = 0; i < _count; ++i)
      if (_data[i] == value) return i;
    return -1;
  }
  // Replaces dest's elements with a copy of these.
  bool CopyTo(CDynArray* dest) const {
    if (dest == nullptr) return false;
    if (dest == this) return true;
    if (_count > dest->_capacity && !dest->Reallocate(_count)) return false;
    if (_count > 0)
      std::memcpy(static_cast<void*>(dest->_data), static_cast<const void*>(_data),
                  size_t(_count) * sizeof(T));
    dest->_count = _count;
    return true;
  }
  // Releases the block; count and capacity 0.
  void FlushThis() {
    DeleteMem(_data);
    _count = 0;
    _capacity = 0;
  }

 protected:
  bool Grow() {
    Int64 next = _count == 0 ? _initial : (_step > 0 ? Int64(_count) + _step : Int64(_count) * 2);
    return next > _count && Reallocate(next);
  }
  // Callers ask only for a capacity above the count and above 0.
  bool Reallocate(Int64 capacity) {
    if (!arraydetail::CountFits(capacity)) return false;
    void* block = MemRealloc(_data, capacity * Int64(sizeof(T)));
    if (block == nullptr) return false;
    _data = static_cast<T*>(block);
    _capacity = Int32(capacity);
    return true;
  }

  T* _data = nullptr;
  Int32 _count = 0;
  Int32 _capacity = 0;
  Int32 _initial;
  Int32 _step;
};

// A CDynArray ordered by the subclass's Compare of two elements.
template <typename T>
class CDynSortArray : public CDynArray<T> {
 public:
  using CDynArray<T>::CDynArray;

  virtual Int32 Compare(const T& a, const T& b) const = 0;

  void Sort() {
    Sorter sorter(this);
    sorter.Sort(this->_data, this->_count, Int32(sizeof(T)));
  }
  // The first element equal to key in the sorted array, or null; *insertAt as in
  // GeSortAndSearch::SearchOrInsert (0 for an empty array).
  T* Search(const T& key, Int32* insertAt) {
    if (this->_count == 0) {
      if (insertAt != nullptr) *insertAt = 0;
      return nullptr;
    }
    Sorter sorter(this);
    return static_cast<T*>(
        sorter.SearchOrInsert(&key, this->_data, this->_count, Int32(sizeof(T)), insertAt));
  }
  // Inserts value after its equals; returns the index or -1 when out of memory.
  Int32 InsertSorted(const T& value) {
    Int32 lo = 0, hi = this->_count;
    while (lo < hi) {
      Int32 mid = lo + (hi - lo) / 2;
      if (Compare(value, this->_data[mid]) < 0)
        hi = mid;
      else
        lo = mid + 1;
    }
    return this->Insert(value, lo) ? lo : -1;
  }

 private:
  class Sorter : public GeSortAndSearch {
   public:
    explicit Sorter(const CDynSortArray* owner) : _owner(owner) {}
    Int32 Compare(const void* a, const void* b) override {
      return _owner->Compare(*static_cast<const T*>(a), *static_cast<const T*>(b));
    }

   private:
    const CDynSortArray* _owner;
  };
};

// A growable array of untyped pointers. The array is owned; the objects pointed to are not.
// When Append or Insert finds it full, the new capacity is the initial capacity for an empty
// array, count + growth step when a step is set, and 2 x count otherwise; a new capacity of 0
// or a failed allocation returns false and leaves the array unchanged.
class GeToolDynArray {
 public:
  explicit GeToolDynArray(Int32 initialCapacity = 16, Int32 growthStep = 0)
      : _initial(initialCapacity), _step(growthStep) {}
  virtual ~GeToolDynArray() { FlushThis(); }
  GeToolDynArray(const GeToolDynArray&) = delete;
  GeToolDynArray& operator=(const GeToolDynArray&) = delete;

  Int32 GetCount() const { return _count; }
  Int32 GetCapacity() const { return _capacity; }
  void** GetArray() const { return _array; }
  // Null for an index outside 0..count-1.
  void* GetIndex(Int32 i) const { return i >= 0 && i < _count ? _array[i] : nullptr; }

  bool Append(void* p) { return Insert(p, _count); }
  // Inserts before position, clamped to 0..count; later pointers move up.
  bool Insert(void* p, Int32 position);
  // False for a position outside 0..count-1; later pointers move down.
  bool Remove(Int32 position);
  // Index of the first slot holding p, or -1.
  Int32 Find(const void* p) const;
  // Releases the array; count and capacity 0.
  void FlushThis();
  // Exchanges the contents (not the growth settings) of two arrays.
  void Swap(GeToolDynArray& other);

 protected:
  void** _array = nullptr;
  Int32 _count = 0;
  Int32 _capacity = 0;
  Int32 _initial;
  Int32 _step;
};

// GeToolDynArray with typed pointers to T (not owned).
template <typename T>
class GeTempDynArray : public GeToolDynArray {
 public:
  using GeToolDynArray::GeToolDynArray;

  T* operator[](Int32 i) const { return static_cast<T*>(_array[i]); }
  T* GetIndex(Int32 i) const { return static_cast<T*>(GeToolDynArray::GetIndex(i)); }
  bool Append(T* p) { return GeToolDynArray::Append(p); }
  bool Insert(T* p, Int32 position) { return GeToolDynArray::Insert(p, position); }
  Int32 Find(const T* p) const { return GeToolDynArray::Find(p); }
};

// Pointers to T kept in ascending order of a key. Appending marks the array unsorted; it is
// sorted (heapsort, GeSortAndSearch) before the first search after such a change. STEP is the
// growth step of the pointer array (0 = doubling).
template <typename T, typename KEY, Int32 STEP>
class GeTempDynSortSearchArray : public GeTempDynArray<T> {
 public:
  GeTempDynSortSearchArray() : GeTempDynArray<T>(16, STEP) {}

  // Order of two elements, and of a key against an element (negative, 0, positive).
  virtual Int32 CompareElements(const T* a, const T* b) const = 0;
  virtual Int32 CompareKey(const KEY& key, const T* element) const = 0;

  bool IsSorted() const { return _sorted; }

  // Appends without keeping the order.
  bool Append(T* p) {
    if (!GeTempDynArray<T>::Append(p)) return false;
    if (this->_count > 1) _sorted = false;
    return true;
  }
  // Inserts at a position a search reported (the order is the caller's responsibility).
  bool InsertAt(T* p, Int32 position) { return GeTempDynArray<T>::Insert(p, position); }
  bool Remove(Int32 position) { return GeToolDynArray::Remove(position); }

  void Sort() {
    if (_sorted) return;
    Sorter sorter(this);
    sorter.Sort(this->_array, this->_count, Int32(sizeof(void*)));
    _sorted = true;
  }

  // The first element whose key equals key, or null with *insertAt = the position at which an
  // element with this key keeps the order. Sorts first when needed. insertAt may be null.
  T* Search(const KEY& key, Int32* insertAt = nullptr) {
    Sort();
    Int32 lo = 0, hi = this->_count;
    while (lo < hi) {
      Int32 mid = lo + (hi - lo) / 2;
      if (CompareKey(key, (*this)[mid]) > 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    if (insertAt != nullptr) *insertAt = lo;
    if (lo < this->_count && CompareKey(key, (*this)[lo]) == 0) return (*this)[lo];
    return nullptr;
  }

  // Inserts p at its sorted position (after its equals); false when out of memory.
  bool InsertSorted(T* p) {
    Sort();
    Int32 lo = 0, hi = this->_count;
    while (lo < hi) {
      Int32 mid = lo + (hi - lo) / 2;
      if (CompareElements(p, (*this)[mid]) < 0)
        hi = mid;
      else
        lo = mid + 1;
    }
    return GeTempDynArray<T>::Insert(p, lo);
  }

  void FlushThis() {
    GeToolDynArray::FlushThis();
    _sorted = true;
  }

 private:
  class Sorter : public GeSortAndSearch {
   public:
    explicit Sorter(const GeTempDynSortSearchArray* owner) : _owner(owner) {}
    Int32 Compare(const void* a, const void* b) override {
      const T* ea = static_cast<const T*>(*static_cast<void* const*>(a));
      const T* eb = static_cast<const T*>(*static_cast<void* const*>(b));
      return _owner->CompareElements(ea, eb);
    }

   private:
    const GeTempDynSortSearchArray* _owner;
  };

  bool _sorted = true;
};

// An ordered array of owned objects. The subclass says how an object is made (AllocObject) and
// destroyed (FreeObject, DeleteObj by default); removing an element or flushing destroys it.
template <typename T>
class CDynObjectArray {
 public:
  CDynObjectArray() = default;
  virtual ~CDynObjectArray() { Free(); }
  CDynObjectArray(const CDynObjectArray&) = delete;
  CDynObjectArray& operator=(const CDynObjectArray&) = delete;

  virtual T* AllocObject() = 0;
  virtual void FreeObject(T*& obj) { DeleteObj(obj); }

  Int32 GetCount() const { return _list.GetCount(); }
  T* GetObject(Int32 i) const { return _list.GetIndex(i); }
  Int32 Find(const T* obj) const { return _list.Find(obj); }

  // Takes ownership of obj when it returns true.
  bool Append(T* obj) { return obj != nullptr && _list.Append(obj); }
  bool Insert(T* obj, Int32 position) { return obj != nullptr && _list.Insert(obj, position); }
  // Makes a new object with AllocObject and appends it; null when either fails.
  T* AppendNew() {
    T* obj = AllocObject();
    if (obj == nullptr) return nullptr;
    if (!_list.Append(obj)) {
      FreeObject(obj);
      return nullptr;
    }
    return obj;
  }
  // Destroys the object at position and closes the gap.
  bool Remove(Int32 position) {
    T* obj = _list.GetIndex(position);
    if (obj == nullptr || !_list.Remove(position)) return false;
    FreeObject(obj);
    return true;
  }
  // Hands the object at position back to the caller without destroying it.
  T* Detach(Int32 position) {
    T* obj = _list.GetIndex(position);
    if (obj == nullptr || !_list.Remove(position)) return nullptr;
    return obj;
  }
  // Destroys every object and releases the array.
  void Free() {
    for (Int32 i = _list.GetCount() - 1; i >= 0; --i) {
      T* obj = _list[i];
      FreeObject(obj);
    }
    _list.FlushThis();
  }

 private:
  GeTempDynArray<T> _list;
};

}  // namespace lumora

#endif  // LUM_ARRAY_H
