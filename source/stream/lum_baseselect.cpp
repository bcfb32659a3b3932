// Selections as sorted runs (flat and in blocks) and the two bit sets.
#include "stream/lum_baseselect.h"

#include <cstring>

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

constexpr Int32 kMaxInt32 = 0x7FFFFFFF;

Int32 ClampCount(Int64 n) {
  if (n < 0) return 0;
  return n > kMaxInt32 ? kMaxInt32 : Int32(n);
}

// Runs that break the order may be stored (files); their length counts as 0 then.
Int64 RunLength(const BaseSelectData& r) {
  Int64 n = Int64(r.last) - r.first + 1;
  return n > 0 ? n : 0;
}

BaseSelectData* AllocRuns(Int32 count, bool clear) {
  Int64 bytes = Int64(count) * Int64(sizeof(BaseSelectData));
  return static_cast<BaseSelectData*>(clear ? MemAlloc(bytes) : MemAllocNC(bytes));
}

}  // namespace

// ---- BaseSelect ----

BaseSelect::~BaseSelect() { DeleteMem(_runs); }

BaseSelect* BaseSelect::Alloc() { return NewObj<BaseSelect>(); }

void BaseSelect::Free(BaseSelect*& sel) { DeleteObj(sel); }

Int32 BaseSelect::GetCount() const {
  Int64 n = 0;
  for (Int32 i = 0; i < _segments && n <= kMaxInt32; ++i) n += RunLength(_runs[i]);
  return ClampCount(n);
}

bool BaseSelect::GetRange(Int32 run, Int32* first, Int32* last) const {
  if (run < 0 || run >= _segments) return false;
  if (first != nullptr) *first = _runs[run].first;
  if (last != nullptr) *last = _runs[run].last;
  return true;
}

bool BaseSelect::FindNum(Int32 index, Int32* run, Bool) const {
  if (run != nullptr) *run = -1;
  if (_segments == 0) {
    _hint = 0;
    return false;
  }
  Int32 found = _hint;
  bool bracketed = found >= 0 && found < _segments && _runs[found].first <= index &&
                   (found == _segments - 1 || _runs[found + 1].first > index);
  if (!bracketed) {
    if (index < _runs[0].first) {
      _hint = 0;
      return false;
    }
    // The last run whose first <= index.
    Int32 lo = 0, hi = _segments - 1;
    while (lo < hi) {
      Int32 mid = lo + (hi - lo + 1) / 2;
      if (_runs[mid].first <= index)
        lo = mid;
      else
        hi = mid - 1;
    }
    found = lo;
  }
  _hint = found;
  if (run != nullptr) *run = found;
  return index <= _runs[found].last;
}

bool BaseSelect::IsSelected(Int32 index) const {
  Int32 run;
  return FindNum(index, &run);
}

bool BaseSelect::Select(Int32 index) {
  if (_segments == 0) {
    if (!InsertData(-1, index, index)) return false;
    _hint = 0;
    return true;
  }
  Int32 r;
  if (FindNum(index, &r)) return true;
  const Int64 next = Int64(index) + 1;
  if (r < 0) {
    // Below the first run.
    if (_runs[0].first == next) {
      _runs[0].first = index;
      _lastSelected = index;
      ++_changes;
    } else if (!InsertData(-1, index, index)) {
      return false;
    }
    _hint = 0;
    return true;
  }
  bool hasNext = r + 1 < _segments;
  bool touchesNext = hasNext && _runs[r + 1].first == next;
  if (Int64(_runs[r].last) + 1 == index) {
    if (touchesNext) {
      Int32 nextLast = _runs[r + 1].last;
      if (!FlushData(r + 1)) return false;
      _runs[r].last = nextLast;
    } else {
      _runs[r].last = index;
    }
    _lastSelected = index;
    ++_changes;
    _hint = r;
    return true;
  }
  if (touchesNext) {
    _runs[r + 1].first = index;
    _lastSelected = index;
    ++_changes;
    _hint = r + 1;
    return true;
  }
  if (!InsertData(r, index, index)) return false;
  _hint = r + 1;
  return true;
}

bool BaseSelect::Deselect(Int32 index) {
  Int32 r;
  if (!FindNum(index, &r)) return true;
  BaseSelectData& run = _runs[r];
  if (run.first == run.last) {
    if (!FlushData(r)) return false;
    return true;
  }
  if (index == run.first) {
    ++run.first;
  } else if (index == run.last) {
    --run.last;
  } else {
    Int32 oldLast = run.last;
    if (!InsertData(r, index + 1, oldLast)) return false;
    _runs[r].last = index - 1;
  }
  ++_changes;
  return true;
}

void BaseSelect::DeselectAll() {
  DeleteMem(_runs);
  _segments = 0;
  _capacity = 0;
  _hint = 0;
  ++_changes;
  _lastSelected = 0;
}

void BaseSelect::Adopt(BaseSelectData* runs, Int32 count, Int32 capacity) {
  if (runs != _runs) DeleteMem(_runs);
  _runs = runs;
  _segments = count;
  _capacity = capacity;
  _hint = 0;
  ++_changes;
}

bool BaseSelect::CopyTo(BaseSelect* dest) const {
  if (dest == nullptr) return false;
  if (dest == this) return true;
  BaseSelectData* copy = nullptr;
  if (_segments > 0) {
    copy = AllocRuns(_segments, false);
    if (copy == nullptr) return false;
    std::memcpy(copy, _runs, size_t(_segments) * sizeof(BaseSelectData));
  }
  dest->Adopt(copy, _segments, _segments);
  dest->_lastSelected = _lastSelected;
  return true;
}

bool BaseSelect::CopyFrom(const BaseSelectData* runs, Int32 count) {
  if (count < 0) return false;
  if (count == 0) {
    DeselectAll();
    return true;
  }
  if (count == _segments) {
    // Same size: no new block, so nothing can fail.
    if (runs != nullptr)
      std::memmove(_runs, runs, size_t(count) * sizeof(BaseSelectData));
    else
      std::memset(_runs, 0, size_t(count) * sizeof(BaseSelectData));
    Adopt(_runs, count, _capacity);
  } else {
    BaseSelectData* block = AllocRuns(count, runs == nullptr);
    if (block == nullptr) return false;
    if (runs != nullptr) std::memcpy(block, runs, size_t(count) * sizeof(BaseSelectData));
    Adopt(block, count, count);
  }
  // From the new array: runs may have pointed into the old one.
  _lastSelected = runs != nullptr ? _runs[count - 1].last : 0;
  return true;
}

bool BaseSelect::InsertData(Int32 after, Int32 first, Int32 last) {
  if (after < -1 || after >= _segments || _segments == kMaxInt32) return false;
  if (_segments == _capacity) {
    // Half as much again: a selection built run by run in index order costs O(n) in all.
    const Int32 capacity = ClampCount(Int64(_segments) + _segments / 2 + 4);
    void* block = MemRealloc(_runs, Int64(capacity) * Int64(sizeof(BaseSelectData)));
    if (block == nullptr) return false;
    _runs = static_cast<BaseSelectData*>(block);
    _capacity = capacity;
  }
  Int32 at = after + 1;
  if (at < _segments)
    std::memmove(_runs + at + 1, _runs + at, size_t(_segments - at) * sizeof(BaseSelectData));
  _runs[at].first = first;
  _runs[at].last = last;
  ++_segments;
  ++_changes;
  return true;
}

bool BaseSelect::FlushData(Int32 run) {
  if (run < 0 || run >= _segments) return false;
  if (_segments == 1) {
    DeleteMem(_runs);
    _capacity = 0;
  } else {
    std::memmove(_runs + run, _runs + run + 1,
                 size_t(_segments - run - 1) * sizeof(BaseSelectData));
  }
  --_segments;
  ++_changes;
  ReleaseSpare();
  return true;
}

void BaseSelect::ReleaseSpare() {
  // Below a quarter used, down to half used. The runs stay where they are if the smaller block
  // cannot be had.
  if (_segments == 0 || _segments >= _capacity / 4) return;
  const Int32 capacity = _segments * 2;
  void* block = MemRealloc(_runs, Int64(capacity) * Int64(sizeof(BaseSelectData)));
  if (block == nullptr) return;
  _runs = static_cast<BaseSelectData*>(block);
  _capacity = capacity;
}

bool BaseSelect::SelectRange(Int32 first, Int32 last) {
  if (first > last) return true;
  // i0: the first run that reaches first - 1; i1: the last run that starts at or before
  // last + 1. The runs i0..i1 overlap or touch the range.
  const Int64 below = Int64(first) - 1, above = Int64(last) + 1;
  Int32 lo = 0, hi = _segments;
  while (lo < hi) {
    Int32 mid = lo + (hi - lo) / 2;
    if (_runs[mid].last < below)
      lo = mid + 1;
    else
      hi = mid;
  }
  const Int32 i0 = lo;
  lo = 0;
  hi = _segments;
  while (lo < hi) {
    Int32 mid = lo + (hi - lo) / 2;
    if (_runs[mid].first <= above)
      lo = mid + 1;
    else
      hi = mid;
  }
  const Int32 i1 = lo - 1;
  if (i1 < i0) {
    if (!InsertData(i0 - 1, first, last)) return false;
    // Index by index, the first one opens a new run and each further one extends it.
    if (first != last) _lastSelected = last;
    _hint = i0;
    return true;
  }
  BaseSelectData merged = _runs[i0];
  const BaseSelectData tail = _runs[i1];
  if (i0 == i1 && merged.first <= first && last <= merged.last) return true;
  // The last index that was not selected yet is the last one to be selected.
  Int32 newest = (tail.first <= last && last <= tail.last) ? tail.first - 1 : last;
  if (first < merged.first) merged.first = first;
  merged.last = last > tail.last ? last : tail.last;
  if (i1 > i0) {
    std::memmove(_runs + i0 + 1, _runs + i1 + 1,
                 size_t(_segments - i1 - 1) * sizeof(BaseSelectData));
    _segments -= i1 - i0;
  }
  _runs[i0] = merged;
  _lastSelected = newest;
  ++_changes;
  _hint = i0;
  ReleaseSpare();
  return true;
}

bool BaseSelect::Write(HyperFile* file) const {
  if (file == nullptr || !file->WriteChunkStart(kChunkId, 1) || !file->WriteInt32(_segments))
    return false;
  for (Int32 i = 0; i < _segments; ++i)
    if (!file->WriteInt32(_runs[i].first) || !file->WriteInt32(_runs[i].last)) return false;
  return file->WriteInt32(_lastSelected) && file->WriteChunkEnd();
}

bool BaseSelect::Read(HyperFile* file, Int32 id, Int32 level) {
  if (file == nullptr || id != kChunkId) return false;
  if (level >= 0) {
    Int32 n = 0;
    if (!file->ReadInt32(&n)) return false;
    if (n < 0) {
      file->SetError(FILEERROR_WRONG_VALUE);
      return false;
    }
    // Each run takes two Int32 values of five bytes each.
    if (!file->CheckRemaining(Int64(n) * 10)) return false;
    BaseSelectData* runs = nullptr;
    if (n > 0) {
      runs = AllocRuns(n, false);
      if (runs == nullptr) {
        file->SetError(FILEERROR_OUTOFMEMORY);
        return false;
      }
    }
    bool ok = true;
    for (Int32 i = 0; i < n && ok; ++i)
      ok = file->ReadInt32(&runs[i].first) && file->ReadInt32(&runs[i].last);
    Int32 lastSelected = _lastSelected;
    if (ok && level > 0) ok = file->ReadInt32(&lastSelected);
    if (!ok) {
      DeleteMem(runs);
      return false;
    }
    Adopt(runs, n, n);
    _lastSelected = lastSelected;
  }
  // A chunk cut short is a failure, not a selection read.
  return file->SkipToEndChunk();
}

bool BaseSelect::Write_API(HyperFile* file) const {
  if (file == nullptr || !file->WriteInt32(0) || !file->WriteInt32(_segments)) return false;
  for (Int32 i = 0; i < _segments; ++i)
    if (!file->WriteInt32(_runs[i].first) || !file->WriteInt32(_runs[i].last)) return false;
  return true;
}

bool BaseSelect::Read_API(HyperFile* file) {
  if (file == nullptr) return false;
  Int32 version = 0, n = 0;
  if (!file->ReadInt32(&version)) return false;
  if (version < 0) return true;
  if (!file->ReadInt32(&n)) return false;
  if (n < 0) {
    file->SetError(FILEERROR_WRONG_VALUE);
    return false;
  }
  if (!file->CheckRemaining(Int64(n) * 10)) return false;
  // Built aside and taken over at the end, so that a failed read changes nothing. Each run is
  // added whole: the same runs and last selected as selecting its indices one by one, without
  // the cost of a run that covers most of the index range.
  BaseSelect built;
  for (Int32 i = 0; i < n; ++i) {
    Int32 first = 0, last = 0;
    if (!file->ReadInt32(&first) || !file->ReadInt32(&last)) return false;
    if (!built.SelectRange(first, last)) {
      file->SetError(FILEERROR_OUTOFMEMORY);
      return false;
    }
  }
  Adopt(built._runs, built._segments, built._capacity);
  _lastSelected = built._lastSelected;
  built._runs = nullptr;
  built._segments = 0;
  built._capacity = 0;
  return true;
}

// ---- SelectBlockArray ----

Int32 SelectBlockArray::GetCount() const { return ClampCount(_count); }

Int32 SelectBlockArray::NextPosition(Int32 pos) const {
  Int32 b = pos / 512, s = pos % 512;
  if (s + 1 < _runs.GetUsed(b)) return pos + 1;
  if (b + 1 < _runs.GetBlockCount()) return (b + 1) * 512;
  return -1;
}

Int32 SelectBlockArray::PreviousPosition(Int32 pos) const {
  Int32 b = pos / 512, s = pos % 512;
  if (s > 0) return pos - 1;
  if (b > 0) return (b - 1) * 512 + _runs.GetUsed(b - 1) - 1;
  return -1;
}

Int32 SelectBlockArray::Locate(Int32 index) const {
  if (_runs.GetCount() == 0) return -1;
  Int32 c = _cursor;
  if (_runs.IsPosition(c / 512, c % 512) && RunAt(c).first <= index) {
    Int32 next = NextPosition(c);
    if (next < 0 || RunAt(next).first > index) return c;
  }
  // The slot by proportion between the block's first run and the next block's.
  auto guess = [index](const BaseSelectData& head, const BaseSelectData* next, Int32 used) {
    if (next == nullptr || next->first <= head.first) return -1;
    return static_cast<Int32>((Int64(index) - head.first) * used /
                              (Int64(next->first) - head.first));
  };
  Int32 pos = _runs.SearchBlockEqualIndex(
      [index](const BaseSelectData& r) { return r.first <= index; }, guess);
  _cursor = pos >= 0 ? pos : 0;
  return pos;
}

bool SelectBlockArray::IsSelected(Int32 index) const {
  Int32 p = Locate(index);
  return p >= 0 && index <= RunAt(p).last;
}

bool SelectBlockArray::Select(Int32 index) {
  const Int64 next = Int64(index) + 1;
  Int32 p = Locate(index);
  if (p < 0) {
    // Below the first run, or empty.
    if (_runs.GetCount() > 0 && RunAt(0).first == next) {
      RunAt(0).first = index;
      Stored(0);
      _cursor = 0;
    } else {
      Int32 where = 0;
      if (!_runs.InsertData(0, 0, BaseSelectData{index, index}, &where)) return false;
      _cursor = where;
    }
    Changed(1);
    return true;
  }
  BaseSelectData& r = RunAt(p);
  _cursor = p;
  if (index <= r.last) return true;
  Int32 np = NextPosition(p);
  bool touchesNext = np >= 0 && RunAt(np).first == next;
  if (Int64(r.last) + 1 == index) {
    if (touchesNext) {
      r.last = RunAt(np).last;
      Stored(p);
      _runs.Remove(np / 512, np % 512);  // p is before np and stays valid
    } else {
      r.last = index;
      Stored(p);
    }
  } else if (touchesNext) {
    RunAt(np).first = index;
    Stored(np);
    _cursor = np;
  } else {
    Int32 where = 0;
    if (!_runs.InsertData(p / 512, p % 512 + 1, BaseSelectData{index, index}, &where)) return false;
    _cursor = where;
  }
  Changed(1);
  return true;
}

bool SelectBlockArray::Deselect(Int32 index) {
  Int32 p = Locate(index);
  if (p < 0) return true;
  BaseSelectData& r = RunAt(p);
  _cursor = p;
  if (index > r.last) return true;
  if (r.first == r.last) {
    _runs.Remove(p / 512, p % 512);
    _cursor = 0;
  } else if (index == r.first) {
    ++r.first;
    Stored(p);
  } else if (index == r.last) {
    --r.last;
    Stored(p);
  } else {
    Int32 oldLast = r.last, where = 0;
    if (!_runs.InsertData(p / 512, p % 512 + 1, BaseSelectData{index + 1, oldLast}, &where))
      return false;
    // The split run is the one right before the new one, wherever the insertion moved it.
    Int32 before = PreviousPosition(where);
    RunAt(before).last = index - 1;
    Stored(before);
    _cursor = before;
  }
  Changed(-1);
  return true;
}

void SelectBlockArray::DeselectAll() {
  _runs.Flush();
  _count = 0;
  _cursor = 0;
}

bool SelectBlockArray::GetRange(Int32 run, Int32* first, Int32* last) const {
  Int32 b, s;
  if (!_runs.IndexToPosition(run, &b, &s)) return false;
  const BaseSelectData& r = _runs.At(b, s);
  if (first != nullptr) *first = r.first;
  if (last != nullptr) *last = r.last;
  return true;
}

bool SelectBlockArray::GetBlockRange(Int32* cursor, Int32* first, Int32* last) const {
  if (cursor == nullptr || *cursor < 0) return false;
  Int32 b = *cursor / 512, s = *cursor % 512;
  Int32 blocks = _runs.GetBlockCount();
  while (b < blocks && s >= _runs.GetUsed(b)) {
    ++b;
    s = 0;
  }
  if (b >= blocks) return false;
  const BaseSelectData& r = _runs.At(b, s);
  if (first != nullptr) *first = r.first;
  if (last != nullptr) *last = r.last;
  *cursor = s + 1 < _runs.GetUsed(b) ? b * 512 + s + 1 : (b + 1) * 512;
  return true;
}

bool SelectBlockArray::CopyTo(SelectBlockArray* dest) const {
  if (dest == nullptr) return false;
  if (dest == this) return true;
  if (!_runs.CopyTo(&dest->_runs)) return false;
  dest->_count = _count;
  dest->_cursor = 0;
  return true;
}

bool SelectBlockArray::CopyTo(BaseSelect* dest) const {
  if (dest == nullptr) return false;
  Int32 n = _runs.GetCount();
  if (n == 0) {
    dest->DeselectAll();
    return true;
  }
  if (!dest->CopyFrom(nullptr, n)) return false;
  BaseSelectData* out = dest->GetData();
  for (Int32 b = 0; b < _runs.GetBlockCount(); ++b) {
    Int32 used = _runs.GetUsed(b);
    std::memcpy(out, &_runs.At(b, 0), size_t(used) * sizeof(BaseSelectData));
    out += used;
  }
  return true;
}

bool SelectBlockArray::CopyFrom(const BaseSelect* src) {
  if (src == nullptr) return false;
  Int32 n = src->GetSegments();
  if (!_runs.SetCount(n)) return false;
  const BaseSelectData* in = src->GetData();
  for (Int32 b = 0; b < _runs.GetBlockCount(); ++b) {
    Int32 used = _runs.GetUsed(b);
    std::memcpy(&_runs.At(b, 0), in, size_t(used) * sizeof(BaseSelectData));
    _runs.RefreshHead(b);
    in += used;
  }
  _count = src->GetCount();
  _cursor = 0;
  return true;
}

bool WriteSelectBlock(HyperFile* file, const SelectBlockArray* selection) {
  if (file == nullptr || selection == nullptr) return false;
  BaseSelect flat;
  if (!selection->CopyTo(&flat)) {
    file->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  Int32 runs = flat.GetSegments();
  if (runs > kMaxInt32 / 2) {
    file->SetError(FILEERROR_WRONG_VALUE);
    return false;
  }
  if (!file->WriteInt32(runs * 2)) return false;
  if (runs == 0) return true;
  return file->WriteArray(flat.GetData(), HYPERFILEARRAY_INT32, 4, runs * 2);
}

bool ReadSelectBlock(HyperFile* file, SelectBlockArray* selection) {
  if (file == nullptr || selection == nullptr) return false;
  BaseSelect flat;
  if (!file->Before12()) {
    Int32 m = 0;
    if (!file->ReadInt32(&m)) return false;
    if (m < 0) {
      file->SetError(FILEERROR_WRONG_VALUE);
      return false;
    }
    if (m > 0) {
      // Room for an odd last value, which belongs to no run and is dropped.
      if (!file->CheckRemaining(Int64(m) * 4)) return false;
      if (!flat.CopyFrom(nullptr, Int32((Int64(m) + 1) / 2))) {
        file->SetError(FILEERROR_OUTOFMEMORY);
        return false;
      }
      if (!file->ReadArray(flat.GetData(), HYPERFILEARRAY_INT32, 4, m)) return false;
      if ((m & 1) != 0 && !flat.FlushData(flat.GetSegments() - 1)) {
        file->SetError(FILEERROR_OUTOFMEMORY);
        return false;
      }
    }
  } else {
    Int32* values = nullptr;
    Int32 count = 0;
    if (!_HFReadMemoryL(file, &values, &count)) return false;
    Int32 runs = count / 2;
    bool ok = flat.CopyFrom(nullptr, runs);
    for (Int32 i = 0; ok && i < runs; ++i) {
      flat.GetData()[i].first = values[2 * i];
      flat.GetData()[i].last = values[2 * i + 1];
    }
    DeleteMem(values);
    if (!ok) {
      file->SetError(FILEERROR_OUTOFMEMORY);
      return false;
    }
  }
  if (!selection->CopyFrom(&flat)) {
    file->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  return true;
}

// ---- SelectBitArray ----

bool SelectBitArray::Write(HyperFile* file) const {
  if (file == nullptr) return false;
  if (!file->WriteUInt32(_first) || !file->WriteUInt32(_second) || !file->WriteUInt32(_fourth) ||
      !file->WriteUInt32(_wordCount) || !file->WriteInt32(_fifth))
    return false;
  return _wordCount == 0 || _HFWriteArray(file, _words, Int32(_wordCount));
}

bool SelectBitArray::Read(HyperFile* file) {
  UInt32 first = 0, second = 0, fourth = 0, count = 0;
  Int32 fifth = 0;
  if (file == nullptr || !file->ReadUInt32(&first) || !file->ReadUInt32(&second) ||
      !file->ReadUInt32(&fourth) || !file->ReadUInt32(&count) || !file->ReadInt32(&fifth)) {
    Clear();
    return false;
  }
  Int32* words = nullptr;
  Int32 n = 0;
  if (count != 0) {
    bool ok = file->Before12() ? _HFReadMemoryL(file, &words, &n) : _HFReadArray(file, &words, &n);
    if (!ok) {
      Clear();
      return false;
    }
  }
  // The word count is the number of words actually read: a stored count that disagrees with
  // the array must not let anyone read past the words.
  DeleteMem(_words);
  _words = words;
  _wordCount = words != nullptr ? UInt32(n) : 0;
  SetHeader(first, second, fourth, fifth);
  return true;
}

void SelectBitArray::Free() {
  DeleteMem(_words);
  _wordCount = 0;
}

void SelectBitArray::Clear() {
  Free();
  _second = 0;
  _fourth = 0;
  _fifth = -1;
}

bool SelectBitArray::SetWordCount(UInt32 count) {
  Int32* words = nullptr;
  if (count > 0) {
    if (count > UInt32(kMaxInt32)) return false;
    words = static_cast<Int32*>(MemAlloc(Int64(count) * 4));
    if (words == nullptr) return false;
  }
  DeleteMem(_words);
  _words = words;
  _wordCount = count;
  return true;
}

void SelectBitArray::SetHeader(UInt32 first, UInt32 second, UInt32 fourth, Int32 fifth) {
  _first = first;
  _second = second;
  _fourth = fourth;
  _fifth = fifth;
}

bool SelectBitArray::CopyTo(SelectBitArray* dest) const {
  if (dest == nullptr) return false;
  if (dest == this) return true;
  Int32* words = nullptr;
  if (_wordCount > 0 && _words != nullptr) {
    words = static_cast<Int32*>(MemAllocNC(Int64(_wordCount) * 4));
    if (words == nullptr) return false;
    std::memcpy(words, _words, size_t(_wordCount) * 4);
  }
  dest->Free();
  dest->_words = words;
  dest->_wordCount = words != nullptr ? _wordCount : 0;
  dest->SetHeader(_first, _second, _fourth, _fifth);
  return true;
}

// ---- BitArray ----

BitArray::~BitArray() { DeleteMem(_words); }

bool BitArray::Init(Int32 bits) {
  if (bits < 0) return false;
  Int32 words = Int32((Int64(bits) + 31) / 32);
  UInt32* block = nullptr;
  if (words > 0) {
    block = static_cast<UInt32*>(MemAlloc(Int64(words) * 4));
    if (block == nullptr) return false;
  }
  DeleteMem(_words);
  _words = block;
  _setCount = 0;
  _bitCount = bits;
  _wordCount = words;
  return true;
}

void BitArray::Select(Int32 index) {
  if (index < 0 || index >= _bitCount) return;
  UInt32 mask = UInt32(1) << (index & 31);
  UInt32& word = _words[index >> 5];
  if ((word & mask) == 0) {
    word |= mask;
    ++_setCount;
  }
}

bool BitArray::IsSelected(Int32 index) const {
  if (index < 0 || index >= _bitCount) return false;
  return (_words[index >> 5] & (UInt32(1) << (index & 31))) != 0;
}

}  // namespace lumora
