// Selections: sets of element indices (points, polygons, edges) stored as sorted runs, and the
// two bit sets.
//
// A run {first, last} stands for the indices first..last inclusive. In every selection the runs
// are sorted by first, never overlap and never touch: the next run's first is at least the
// previous run's last + 2; runs that would touch are merged.
//
//   BaseSelect        the runs in one flat array (with room to grow, so that building a
//                     selection in index order costs O(n)); what tags and geometry keep and
//                     write to scene files (chunk 110011, or the chunkless API form).
//   SelectBlockArray  the same runs in a two-level block array, so that very large selections
//                     can be edited without moving everything; converts to and from BaseSelect
//                     and is stored with WriteSelectBlock / ReadSelectBlock.
//   SelectBitArray    a word array with five header words, stored and copied as is.
//   BitArray          a plain fixed-size bit set.
//
// Runs read from a file are taken as stored (they are not re-sorted or merged). Every operation
// stays memory-safe on such runs, and counts are computed without overflow, but the answers of
// lookups on runs that break the order are unspecified.
#ifndef LUM_BASESELECT_H
#define LUM_BASESELECT_H

#include "lum_blockarray.h"
#include "lum_types.h"

namespace lumora {

class HyperFile;

// One run; arrays of runs are what BaseSelect and the block array hold.
struct BaseSelectData {
  Int32 first;
  Int32 last;
};

// The block array of runs behind SelectBlockArray (blocks of 32 to 512 runs).
using SelectArrayData = SortedBlockArray<BaseSelectData, 32, 512>;

class BaseSelect {
 public:
  // The chunk id Write uses and Read accepts.
  static constexpr Int32 kChunkId = 110011;

  BaseSelect() = default;
  virtual ~BaseSelect();
  BaseSelect(const BaseSelect&) = delete;
  BaseSelect& operator=(const BaseSelect&) = delete;

  // A new empty selection, or null when out of memory.
  static BaseSelect* Alloc();
  // Destroys, releases and nulls; a null pointer is left alone.
  static void Free(BaseSelect*& sel);

  // Number of selected indices (the sum of the run lengths; at most 2^31 - 1).
  Int32 GetCount() const;
  // Number of runs.
  Int32 GetSegments() const { return _segments; }
  // The run array (null when empty). Writing through it is allowed but keeping the run
  // invariants is then the caller's business.
  BaseSelectData* GetData() const { return _runs; }
  // The index most recently selected by extending or merging a run (0 after clearing).
  Int32 GetLastSelected() const { return _lastSelected; }
  // Increased by every modification.
  Int32 GetDirty() const { return _changes; }

  // First and last index of a run; false for a run outside 0..segments-1.
  bool GetRange(Int32 run, Int32* first, Int32* last) const;

  // Whether index is selected. *run receives the last run whose first <= index, or -1 when
  // there is none. Uses and updates the search hint, so lookups in increasing order cost
  // constant time each. The third argument is not used.
  bool FindNum(Int32 index, Int32* run, Bool unused = false) const;
  bool IsSelected(Int32 index) const;

  // Adds index, extending or merging the neighbouring runs. Already selected: true, nothing
  // changes. False when out of memory (nothing changes).
  bool Select(Int32 index);
  // Removes index: a run of one index disappears, an end index shrinks its run, an inner one
  // splits it. Not selected: true, nothing changes. False when out of memory (nothing changes).
  bool Deselect(Int32 index);
  // Releases the runs; last selected 0.
  void DeselectAll();

  // Replaces dest's runs with a copy of these (and its last selected). False when out of
  // memory, dest unchanged.
  bool CopyTo(BaseSelect* dest) const;
  // Replaces the runs with count runs copied from runs, or zero-filled when runs is null (for
  // the caller to fill through GetData). count 0 clears as DeselectAll. Last selected becomes
  // the last run's last (0 when no runs were given). False when out of memory or count < 0;
  // the selection is then unchanged.
  bool CopyFrom(const BaseSelectData* runs, Int32 count);

  // Inserts the run {first, last} after run `after` (-1: at the front); false when after is
  // outside -1..segments-1 or out of memory. A full array grows by half as much again.
  bool InsertData(Int32 after, Int32 first, Int32 last);
  // Removes one run; false when run is outside 0..segments-1. Needs no memory; an array less
  // than a quarter used is shrunk to half used when the smaller block can be had.
  bool FlushData(Int32 run);

  // Chunk 110011, level 1: Int32 segment count, first and last of each run, Int32 last
  // selected.
  bool Write(HyperFile* file) const;
  // Reads chunk 110011 (whose start has been read) up to and including its end. False for any
  // other id. level >= 0 replaces the runs; level > 0 also reads last selected. A failed read
  // leaves the selection unchanged.
  bool Read(HyperFile* file, Int32 id, Int32 level);
  // Chunkless form: Int32 0 (a version), Int32 segment count, first and last of each run.
  bool Write_API(HyperFile* file) const;
  // Reads the chunkless form. A negative version: true, nothing read further, nothing changed.
  // Otherwise the selection is rebuilt as the union of the stored runs, in any order.
  bool Read_API(HyperFile* file);

 private:
  // Selects first..last as selecting each index in turn would (the same runs and last
  // selected), in one step.
  bool SelectRange(Int32 first, Int32 last);
  // Replaces the runs by an array of capacity runs (count of them used) this selection now owns.
  void Adopt(BaseSelectData* runs, Int32 count, Int32 capacity);
  // Gives back most of the spare room of an array that has become mostly unused.
  void ReleaseSpare();

  BaseSelectData* _runs = nullptr;
  Int32 _segments = 0;
  mutable Int32 _hint = 0;
  Int32 _changes = 0;
  Int32 _lastSelected = 0;
  Int32 _capacity = 0;  // runs the array has room for; _segments of them are used
};

// A selection in a block array. Select and Deselect follow BaseSelect's run rules; each first
// tries the run at the cursor and otherwise searches the blocks.
class SelectBlockArray {
 public:
  SelectBlockArray() = default;
  ~SelectBlockArray() = default;
  SelectBlockArray(const SelectBlockArray&) = delete;
  SelectBlockArray& operator=(const SelectBlockArray&) = delete;

  // Number of selected indices (at most 2^31 - 1), number of runs.
  Int32 GetCount() const;
  Int32 GetSegments() const { return _runs.GetCount(); }

  // False only when out of memory (nothing changes then).
  bool Select(Int32 index);
  bool Deselect(Int32 index);
  void DeselectAll();
  bool IsSelected(Int32 index) const;

  // First and last index of run `run` (overall run index); false outside 0..segments-1.
  bool GetRange(Int32 run, Int32* first, Int32* last) const;
  // Iteration: the run at the block-coded *cursor (start with 0); advances *cursor to the next
  // run. False when the cursor is past the data.
  bool GetBlockRange(Int32* cursor, Int32* first, Int32* last) const;

  bool CopyTo(SelectBlockArray* dest) const;
  // All runs, in order, into one flat array (an empty selection deselects all of dest).
  bool CopyTo(BaseSelect* dest) const;
  // Lays src's runs out in full blocks; the count is src's GetCount.
  bool CopyFrom(const BaseSelect* src);

  // The block storage, for inspection.
  const SelectArrayData& GetBlocks() const { return _runs; }

 private:
  // Block-coded position of the last run whose first <= index, or -1.
  Int32 Locate(Int32 index) const;
  // Position after/before pos, or -1.
  Int32 NextPosition(Int32 pos) const;
  Int32 PreviousPosition(Int32 pos) const;
  BaseSelectData& RunAt(Int32 pos) { return _runs.At(pos / 512, pos % 512); }
  const BaseSelectData& RunAt(Int32 pos) const { return _runs.At(pos / 512, pos % 512); }
  // After an in-place edit of the run at pos: a block's first run is also its head.
  void Stored(Int32 pos) {
    if (pos % 512 == 0) _runs.RefreshHead(pos / 512);
  }
  void Changed(Int64 delta) { _count += delta; }

  SelectArrayData _runs;
  Int64 _count = 0;  // selected indices; exposed clamped to Int32
  mutable Int32 _cursor = 0;
};

// Stores a block selection as an Int32 array of 2 x segments values (first, last, ...), or the
// single value 0 when empty.
bool WriteSelectBlock(HyperFile* file, const SelectBlockArray* selection);
// Reads what WriteSelectBlock stored; files of version 11599 and older hold one memory block of
// little-endian Int32 pairs instead.
bool ReadSelectBlock(HyperFile* file, SelectBlockArray* selection);

// A word array with five header words whose meaning belongs to its users; they are stored, read
// and copied unchanged.
class SelectBitArray {
 public:
  SelectBitArray() = default;
  ~SelectBitArray() { Free(); }
  SelectBitArray(const SelectBitArray&) = delete;
  SelectBitArray& operator=(const SelectBitArray&) = delete;

  bool Read(HyperFile* file);
  bool Write(HyperFile* file) const;
  // Copies the header words and the words; an empty source leaves dest cleared. False when out
  // of memory (dest unchanged).
  bool CopyTo(SelectBitArray* dest) const;
  // Releases the words (word count 0); the header words stay.
  void Free();

  // Replaces the words by `count` zero words; false when out of memory (nothing changes).
  bool SetWordCount(UInt32 count);
  UInt32 GetWordCount() const { return _wordCount; }
  Int32* GetWords() const { return _words; }

  void SetHeader(UInt32 first, UInt32 second, UInt32 fourth, Int32 fifth);
  UInt32 GetFirst() const { return _first; }
  UInt32 GetSecond() const { return _second; }
  UInt32 GetFourth() const { return _fourth; }
  Int32 GetFifth() const { return _fifth; }

 private:
  // The state after a failed read: no words, header words 0 / -1, the first kept.
  void Clear();

  UInt32 _first = 64;
  UInt32 _second = 0;
  UInt32 _wordCount = 0;
  Int32* _words = nullptr;
  UInt32 _fourth = 0;
  Int32 _fifth = -1;
};

// A fixed-size set of bits; bit i is bit (i mod 32) of word i / 32.
class BitArray {
 public:
  BitArray() = default;
  ~BitArray();
  BitArray(const BitArray&) = delete;
  BitArray& operator=(const BitArray&) = delete;

  // bits zero bits (bits <= 0: none). False when out of memory or bits < 0 (nothing changes).
  bool Init(Int32 bits);
  // Sets bit index; indices outside 0..bits-1 are ignored.
  void Select(Int32 index);
  // False for indices outside 0..bits-1.
  bool IsSelected(Int32 index) const;

  Int32 GetCount() const { return _setCount; }
  Int32 GetBitCount() const { return _bitCount; }
  Int32 GetWordCount() const { return _wordCount; }
  const UInt32* GetWords() const { return _words; }

 private:
  Int32 _setCount = 0;
  Int32 _bitCount = 0;
  Int32 _wordCount = 0;
  UInt32* _words = nullptr;
};

}  // namespace lumora

#endif  // LUM_BASESELECT_H
