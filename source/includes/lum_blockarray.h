// A two-level array for long ordered sequences that are edited in the middle: the elements lie
// in blocks of MINBLOCK to MAXBLOCK slots (capacities MINBLOCK, 2 x MINBLOCK, ... MAXBLOCK), so an
// insertion or removal moves at most one block's worth of elements plus a few block records.
//
// Positions come in two forms:
//   - the overall index, 0 .. count-1, in element order;
//   - the block-coded position b x MAXBLOCK + s (slot s of block b), which stays cheap to use
//     while the blocks are edited and is what cursors hold.
// Each block records its gap, the sum over all earlier blocks of (MAXBLOCK - their used count);
// the overall index of slot s of block b is b x MAXBLOCK + s - gap(b). Gaps are brought up to
// date lazily: edits only mark where they stop being right, and the next query that needs them
// recomputes them from there.
//
// Each block also keeps a copy of its first element, its head, which is what the search over the
// blocks compares: that search then reads the block table alone instead of one block per step.
// The array keeps the heads right through its own edits; a caller that changes the first
// element of a block in place (through At) calls RefreshHead for that block.
//
// Elements must be trivially copyable (they are moved with memmove). No operation throws; the
// ones that need memory return false on a failed allocation and leave the array unchanged.
#ifndef LUM_BLOCKARRAY_H
#define LUM_BLOCKARRAY_H

#include <cstring>
#include <type_traits>

#include "lum_array.h"
#include "lum_memory.h"
#include "lum_types.h"

namespace lumora {

template <typename T, Int32 MINBLOCK, Int32 MAXBLOCK>
class DynamicBlockArray {
  static_assert(std::is_trivially_copyable<T>::value, "blocks hold plain data only");
  static_assert(MINBLOCK > 0 && MAXBLOCK >= MINBLOCK, "bad block parameters");

 public:
  struct Block {
    T* data;         // owned, capacity slots
    Int32 used;      // 1 .. capacity
    Int32 capacity;  // MINBLOCK x 2^k, at most MAXBLOCK
    Int32 gap;       // sum over earlier blocks of (MAXBLOCK - used); see GetGap
    T head;          // a copy of data[0] (see RefreshHead)
  };
  // The block table starts at this capacity and doubles.
  static constexpr Int32 kTableStep = 128;
  // Block-coded positions must fit an Int32.
  static constexpr Int32 kMaxBlocks = 0x7FFFFFFF / MAXBLOCK;

  DynamicBlockArray() = default;
  ~DynamicBlockArray() { Flush(); }
  DynamicBlockArray(const DynamicBlockArray&) = delete;
  DynamicBlockArray& operator=(const DynamicBlockArray&) = delete;

  Int32 GetCount() const { return _count; }
  Int32 GetBlockCount() const { return _table.GetCount(); }
  Int32 GetTableCapacity() const { return _table.GetCapacity(); }
  Int32 GetUsed(Int32 b) const { return _table[b].used; }
  Int32 GetCapacity(Int32 b) const { return _table[b].capacity; }
  Int32 GetGap(Int32 b) const {
    UpdateGaps(b + 1);
    return _table[b].gap;
  }

  T& At(Int32 b, Int32 s) { return _table[b].data[s]; }
  const T& At(Int32 b, Int32 s) const { return _table[b].data[s]; }
  // Copies the first element of block b to its head; needed after an in-place edit of it.
  void RefreshHead(Int32 b) {
    if (b >= 0 && b < _table.GetCount() && _table[b].used > 0) _table[b].head = _table[b].data[0];
  }
  const T& GetHead(Int32 b) const { return _table[b].head; }

  // True when (b, s) names an element.
  bool IsPosition(Int32 b, Int32 s) const {
    return b >= 0 && b < _table.GetCount() && s >= 0 && s < _table[b].used;
  }

  // The overall index of slot s of block b.
  Int32 PositionToIndex(Int32 b, Int32 s) const { return b * MAXBLOCK + s - GetGap(b); }

  // Block and slot of an overall index; false when it is outside 0..count-1.
  bool IndexToPosition(Int32 index, Int32* b, Int32* s) const {
    if (index < 0 || index >= _count) return false;
    Int32 n = _table.GetCount();
    UpdateGaps(n);
    // The last block whose first overall index is <= index.
    Int32 lo = 0, hi = n - 1;
    while (lo < hi) {
      Int32 mid = lo + (hi - lo + 1) / 2;
      if (mid * MAXBLOCK - _table[mid].gap <= index)
        lo = mid;
      else
        hi = mid - 1;
    }
    *b = lo;
    *s = index - (lo * MAXBLOCK - _table[lo].gap);
    return true;
  }

  // Appends after the last element: the last block takes it, doubling its capacity when full;
  // a full block of MAXBLOCK starts a new block of MINBLOCK.
  bool AddData(const T& value) {
    Int32 n = _table.GetCount();
    if (_count == 0x7FFFFFFF) return false;
    if (n == 0 || _table[n - 1].used == MAXBLOCK) {
      if (!InsertBlock(n, MINBLOCK)) return false;
      ++n;
    } else {
      Block& last = _table[n - 1];
      if (last.used == last.capacity && !Resize(last, last.capacity * 2)) return false;
    }
    Block& last = _table[n - 1];
    last.data[last.used++] = value;
    if (last.used == 1) last.head = value;
    ++_count;
    Invalidate(n - 1);
    return true;
  }

  // Inserts value before slot s of block b (s may equal the block's used count: after its last
  // element). An empty array, or b = block count with s = 0, appends. *where (may be null)
  // receives the block-coded position the element ends up at.
  bool InsertData(Int32 b, Int32 s, const T& value, Int32* where) {
    Int32 n = _table.GetCount();
    if (n == 0 || (b == n && s == 0)) {
      if (!AddData(value)) return false;
      if (where != nullptr) *where = LastPosition();
      return true;
    }
    if (b < 0 || b >= n || s < 0 || s > _table[b].used || _count == 0x7FFFFFFF) return false;
    if (_table[b].used < MAXBLOCK) {
      Block& blk = _table[b];
      if (blk.used == blk.capacity && !Resize(blk, blk.capacity * 2)) return false;
      return Place(b, s, value, where, b + 1);
    }
    // The block is full: make room by moving elements to a neighbour or a new block.
    if (b + 1 < n && _table[b + 1].used < MAXBLOCK) return SpillToNext(b, s, value, where);
    if (b > 0 && _table[b - 1].used < MAXBLOCK) return SpillToPrevious(b, s, value, where);
    return SplitFull(b, s, value, where);
  }

  // Removes the element at slot s of block b (which must exist). A block above MINBLOCK that
  // falls to half its capacity or less is halved; an empty block leaves the table, and the
  // table halves when it is above kTableStep and at most half used. Never fails: a shrink that
  // cannot reallocate keeps the larger block.
  void Remove(Int32 b, Int32 s) {
    Block& blk = _table[b];
    std::memmove(static_cast<void*>(blk.data + s), static_cast<const void*>(blk.data + s + 1),
                 size_t(blk.used - s - 1) * sizeof(T));
    --blk.used;
    --_count;
    if (s == 0 && blk.used > 0) blk.head = blk.data[0];
    if (blk.used == 0) {
      DeleteMem(blk.data);
      _table.Remove(b);
      _table.Compact();
      Invalidate(b);
      return;
    }
    if (blk.capacity > MINBLOCK && blk.used <= blk.capacity / 2) Resize(blk, blk.capacity / 2);
    Invalidate(b + 1);
  }

  // Sets the number of elements. The array is laid out again as full blocks of MAXBLOCK and a
  // last partial block (capacity the smallest MINBLOCK x 2^k that holds it); the first
  // min(count, old count) elements are kept in order and new ones are zero-filled.
  bool SetCount(Int32 count) {
    if (count < 0) return false;
    Table fresh;
    Int32 blocks = count == 0 ? 0 : Int32((Int64(count) + MAXBLOCK - 1) / MAXBLOCK);
    if (blocks > kMaxBlocks) return false;
    for (Int32 i = 0; i < blocks; ++i) {
      Int32 used = i + 1 < blocks ? MAXBLOCK : count - i * MAXBLOCK;
      Int32 capacity = MINBLOCK;
      while (capacity < used) capacity *= 2;
      Block blk{static_cast<T*>(MemAlloc(Int64(capacity) * Int64(sizeof(T)))), used, capacity, 0,
                T()};
      if (blk.data == nullptr || !fresh.Append(blk)) {
        DeleteMem(blk.data);
        FreeBlocks(fresh);
        return false;
      }
    }
    // Copy the kept elements, block by block on both sides.
    Int32 keep = count < _count ? count : _count;
    Int32 ob = 0, os = 0;
    for (Int32 i = 0; i < keep; ++i) {
      while (os >= _table[ob].used) {
        ++ob;
        os = 0;
      }
      fresh[i / MAXBLOCK].data[i % MAXBLOCK] = _table[ob].data[os++];
    }
    for (Int32 i = 0; i < blocks; ++i) fresh[i].head = fresh[i].data[0];
    FreeBlocks(_table);
    _table.Swap(fresh);
    _count = count;
    _gapsValid = 0;
    return true;
  }

  // Replaces dest's contents with a copy of these, block for block.
  bool CopyTo(DynamicBlockArray* dest) const {
    if (dest == nullptr) return false;
    if (dest == this) return true;
    Table fresh;
    for (Int32 i = 0; i < _table.GetCount(); ++i) {
      const Block& src = _table[i];
      Block blk{static_cast<T*>(MemAllocNC(Int64(src.capacity) * Int64(sizeof(T)))), src.used,
                src.capacity, 0, src.head};
      if (blk.data == nullptr || !fresh.Append(blk)) {
        DeleteMem(blk.data);
        FreeBlocks(fresh);
        return false;
      }
      std::memcpy(static_cast<void*>(blk.data), static_cast<const void*>(src.data),
                  size_t(src.used) * sizeof(T));
    }
    dest->Flush();
    dest->_table.Swap(fresh);
    dest->_count = _count;
    dest->_gapsValid = 0;
    return true;
  }

  // Releases every block and the table.
  void Flush() {
    FreeBlocks(_table);
    _count = 0;
    _gapsValid = 0;
  }

  // The position after the last element's, or -1 when empty.
  Int32 LastPosition() const {
    Int32 n = _table.GetCount();
    return n == 0 ? -1 : (n - 1) * MAXBLOCK + _table[n - 1].used - 1;
  }

 protected:
  using Table = DynamicArrayBase<Block, kTableStep>;

  static void FreeBlocks(Table& table) {
    for (Int32 i = 0; i < table.GetCount(); ++i) DeleteMem(table[i].data);
    table.Flush();
  }

  bool Resize(Block& blk, Int32 capacity) {
    if (capacity > MAXBLOCK) capacity = MAXBLOCK;
    if (capacity == blk.capacity) return true;
    void* data = MemRealloc(blk.data, Int64(capacity) * Int64(sizeof(T)));
    if (data == nullptr) return false;
    blk.data = static_cast<T*>(data);
    blk.capacity = capacity;
    return true;
  }

  // A new empty block of `capacity` slots at table position pos.
  bool InsertBlock(Int32 pos, Int32 capacity) {
    if (_table.GetCount() >= kMaxBlocks) return false;
    Block blk{static_cast<T*>(MemAllocNC(Int64(capacity) * Int64(sizeof(T)))), 0, capacity, 0, T()};
    if (blk.data == nullptr) return false;
    if (!_table.Insert(pos, blk)) {
      DeleteMem(blk.data);
      return false;
    }
    Invalidate(pos);
    return true;
  }

  // Puts value at slot s of block b, which has a free slot; gaps from block `dirty` on change.
  bool Place(Int32 b, Int32 s, const T& value, Int32* where, Int32 dirty) {
    Block& blk = _table[b];
    std::memmove(static_cast<void*>(blk.data + s + 1), static_cast<const void*>(blk.data + s),
                 size_t(blk.used - s) * sizeof(T));
    blk.data[s] = value;
    ++blk.used;
    if (s == 0) blk.head = value;
    ++_count;
    Invalidate(dirty);
    if (where != nullptr) *where = b * MAXBLOCK + s;
    return true;
  }

  // Full block b, next block with room: the last elements of b move to the front of the next
  // block, as many as it has room for after doubling, at most MAXBLOCK - s.
  bool SpillToNext(Int32 b, Int32 s, const T& value, Int32* where) {
    Block& next = _table[b + 1];
    Int32 doubled = next.capacity * 2 > MAXBLOCK ? MAXBLOCK : next.capacity * 2;
    Int32 k = doubled - next.used;
    if (k > MAXBLOCK - s) k = MAXBLOCK - s;
    Int32 need = next.used + (k > 0 ? k : 1);
    if (need > next.capacity && !Resize(next, doubled)) return false;
    if (k == 0) return Place(b + 1, 0, value, where, b + 1);  // after the last element of b
    Block& blk = _table[b];
    std::memmove(static_cast<void*>(next.data + k), static_cast<const void*>(next.data),
                 size_t(next.used) * sizeof(T));
    std::memcpy(static_cast<void*>(next.data), static_cast<const void*>(blk.data + MAXBLOCK - k),
                size_t(k) * sizeof(T));
    next.used += k;
    next.head = next.data[0];
    blk.used -= k;
    return Place(b, s, value, where, b + 1);
  }

  // Full block b, previous block with room: elements from the front of b move to the end of
  // the previous block (as many as it has room for after doubling, at most s) and the value
  // goes into the space that opens.
  bool SpillToPrevious(Int32 b, Int32 s, const T& value, Int32* where) {
    Block& prev = _table[b - 1];
    Int32 doubled = prev.capacity * 2 > MAXBLOCK ? MAXBLOCK : prev.capacity * 2;
    Int32 k = doubled - prev.used;
    if (k > s) k = s;
    Int32 need = prev.used + (k > 0 ? k : 1);
    if (need > prev.capacity && !Resize(prev, doubled)) return false;
    if (k == 0) return Place(b - 1, prev.used, value, where, b);  // before the first of b
    Block& blk = _table[b];
    std::memcpy(static_cast<void*>(prev.data + prev.used), static_cast<const void*>(blk.data),
                size_t(k) * sizeof(T));
    std::memmove(static_cast<void*>(blk.data), static_cast<const void*>(blk.data + k),
                 size_t(MAXBLOCK - k) * sizeof(T));
    prev.used += k;
    blk.used -= k;
    blk.head = blk.data[0];
    return Place(b, s - k, value, where, b);
  }

  // Full block b and no neighbour with room: a new block of MINBLOCK after b takes the last
  // min(MAXBLOCK - s, MINBLOCK) elements of b.
  bool SplitFull(Int32 b, Int32 s, const T& value, Int32* where) {
    if (!InsertBlock(b + 1, MINBLOCK)) return false;
    Int32 k = MAXBLOCK - s < MINBLOCK ? MAXBLOCK - s : MINBLOCK;
    if (k == 0) return Place(b + 1, 0, value, where, b + 1);
    Block& blk = _table[b];
    Block& fresh = _table[b + 1];
    std::memcpy(static_cast<void*>(fresh.data), static_cast<const void*>(blk.data + MAXBLOCK - k),
                size_t(k) * sizeof(T));
    fresh.used = k;
    fresh.head = fresh.data[0];
    blk.used -= k;
    return Place(b, s, value, where, b + 1);
  }

  // Gaps of blocks from `from` on are no longer right.
  void Invalidate(Int32 from) const {
    if (from < _gapsValid) _gapsValid = from < 0 ? 0 : from;
  }

  // Makes the gaps of the first `upTo` blocks right.
  void UpdateGaps(Int32 upTo) const {
    if (upTo > _table.GetCount()) upTo = _table.GetCount();
    Int32 i = _gapsValid;
    if (i >= upTo) return;
    Table& table = const_cast<Table&>(_table);
    if (i == 0) {
      table[0].gap = 0;
      i = 1;
    }
    for (; i < upTo; ++i) table[i].gap = table[i - 1].gap + (MAXBLOCK - table[i - 1].used);
    _gapsValid = upTo;
  }

  Table _table;
  Int32 _count = 0;
  mutable Int32 _gapsValid = 0;  // blocks [0, _gapsValid) have the right gap
};

// A DynamicBlockArray whose elements are in ascending order of a key.
template <typename T, Int32 MINBLOCK, Int32 MAXBLOCK>
class SortedBlockArray : public DynamicBlockArray<T, MINBLOCK, MAXBLOCK> {
 public:
  // Finds the last element for which atOrBefore(element) holds (the predicate must hold for a
  // leading part of the order and not after it): binary search over the blocks by their heads,
  // then within the block. Returns its block-coded position, or -1 when the
  // predicate holds for no element.
  //
  // guess(head, nextHead, used) may name the slot the element is likely at in its block, from
  // the block's head and the next block's (null for the last block), or return -1. With a guess
  // only the lines from a little before it to the block's end are fetched ahead: those the search
  // and an insertion there touch. A wrong guess costs a few more misses, never a wrong result.
  template <typename PRED, typename GUESS>
  Int32 SearchBlockEqualIndex(PRED atOrBefore, GUESS guess) const {
    Int32 n = this->_table.GetCount();
    if (n == 0 || !atOrBefore(this->_table[0].head)) return -1;
    Int32 lo = 0, hi = n - 1;
    while (lo < hi) {
      Int32 mid = lo + (hi - lo + 1) / 2;
      if (atOrBefore(this->_table[mid].head))
        lo = mid;
      else
        hi = mid - 1;
    }
    const auto& blk = this->_table[lo];
    Int32 a = 0, z = blk.used - 1;
    const Int32 g =
        blk.used > 4 * kWindow
            ? guess(blk.head, lo + 1 < n ? &this->_table[lo + 1].head : nullptr, blk.used)
            : -1;
    if (g >= 0 && g < blk.used) {
      const Int32 wl = g > kWindow ? g - kWindow : 0;
      const Int32 wh = g + kWindow < blk.used ? g + kWindow : blk.used - 1;
      Prefetch(blk, wl);
      if (atOrBefore(blk.data[wh]))
        a = wh;
      else if (atOrBefore(blk.data[wl]))
        a = wl, z = wh - 1;
      else
        z = wl - 1;
    } else {
      // The probes within the block depend on each other; in a large array the block is seldom
      // in the cache, so all of its lines are asked for at once instead of one miss per step.
      Prefetch(blk, 0);
    }
    while (a < z) {
      Int32 mid = a + (z - a + 1) / 2;
      if (atOrBefore(blk.data[mid]))
        a = mid;
      else
        z = mid - 1;
    }
    return lo * MAXBLOCK + a;
  }
  template <typename PRED>
  Int32 SearchBlockEqualIndex(PRED atOrBefore) const {
    return SearchBlockEqualIndex(atOrBefore, [](const T&, const T*, Int32) { return -1; });
  }

 private:
  using Block = typename DynamicBlockArray<T, MINBLOCK, MAXBLOCK>::Block;
  // Elements on either side of a guessed slot that the search expects to find the element in.
  static constexpr Int32 kWindow = 32;
  // Asks for the lines of blk from slot `from` to its end.
  static void Prefetch(const Block& blk, Int32 from) {
    const char* bytes = reinterpret_cast<const char*>(blk.data);
    for (size_t at = size_t(from) * sizeof(T) & ~size_t(63); at < size_t(blk.used) * sizeof(T);
         at += 64)
      __builtin_prefetch(bytes + at);
  }
};

}  // namespace lumora

#endif  // LUM_BLOCKARRAY_H
