#include "values/lum_descid.h"

#include <cstring>
#include <utility>

#include "stream/lum_hyperfile.h"
#include "lum_memory.h"

namespace lumora {
namespace {

// Chunk id and level of the file form. Level 1 chunks carry no creator ids.
constexpr Int32 kDescIdChunkId = 1;
constexpr Int32 kDescIdChunkLevel = 2;
// Bytes a stored level takes at least (two Int32 values of kind byte and four bytes).
constexpr Int64 kMinLevelBytes = 10;

// Handed out for every index outside a level array.
const DescLevel kZeroLevel{};

DescLevel* CopyLevels(const DescLevel* src, Int32 count) {
  if (count <= 0 || src == nullptr) return nullptr;
  auto* levels = static_cast<DescLevel*>(MemAllocNC(Int64(count) * Int64(sizeof(DescLevel))));
  if (levels != nullptr) std::memcpy(levels, src, size_t(count) * sizeof(DescLevel));
  return levels;
}

}  // namespace

DescID::DescID(Int32 id) { PushId(DescLevel(id)); }

DescID::DescID(const DescLevel& level) { PushId(level); }

DescID::DescID(const DescLevel& first, const DescLevel& second) {
  if (PushId(first)) PushId(second);
}

DescID::DescID(const DescID& src) {
  _levels = CopyLevels(src._levels, src._count);
  _count = _levels != nullptr ? src._count : 0;
}

DescID& DescID::operator=(const DescID& src) {
  if (this == &src) return *this;
  DescLevel* levels = CopyLevels(src._levels, src._count);
  DeleteMem(_levels);
  _levels = levels;
  _count = levels != nullptr ? src._count : 0;
  return *this;
}

DescID::DescID(DescID&& src) noexcept : _count(src._count), _levels(src._levels) {
  src._count = 0;
  src._levels = nullptr;
}

DescID& DescID::operator=(DescID&& src) noexcept {
  if (this != &src) {
    DeleteMem(_levels);
    _count = std::exchange(src._count, 0);
    _levels = std::exchange(src._levels, nullptr);
  }
  return *this;
}

DescID::~DescID() { Clear(); }

void DescID::Clear() {
  DeleteMem(_levels);
  _count = 0;
}

bool DescID::PushId(const DescLevel& level) {
  if (_count == 0x7FFFFFFF) return false;
  const DescLevel copy = level;  // level may live in the array that is about to move
  void* grown = MemRealloc(_levels, Int64(_count + 1) * Int64(sizeof(DescLevel)));
  if (grown == nullptr) return false;
  _levels = static_cast<DescLevel*>(grown);
  _levels[_count++] = copy;
  return true;
}

const DescLevel& DescID::operator[](Int32 i) const {
  if (i == -1) {
    if (_count == 0) return kZeroLevel;
    Int32 last = _count - 1;
    while (last > 0 && _levels[last].id == 0) --last;
    return _levels[last];
  }
  if (i < 0 || i >= _count) return kZeroLevel;
  return _levels[i];
}

Int32 DescID::GetDepth() const {
  Int32 depth = 0;
  while (depth < _count && _levels[depth].id != 0) ++depth;
  return depth;
}

bool DescID::operator==(const DescID& other) const {
  for (Int32 i = 0;; ++i) {
    const DescLevel& mine = (*this)[i];
    const DescLevel& theirs = other[i];
    if (mine != theirs) return false;
    if (theirs.id == 0) return true;
  }
}

bool DescID::Read(HyperFile* hf) {
  Clear();
  if (hf == nullptr || !hf->CheckIt(HYPERFILEVALUE_CHUNKSTART)) return false;
  Int32 chunkId = 0, level = 0;
  if (!hf->ReadChunkStart(&chunkId, &level)) return false;
  if (chunkId != kDescIdChunkId) {
    hf->SetError(FILEERROR_WRONG_VALUE);
    return false;
  }
  if (level > 0) {
    Int32 count = 0;
    if (!hf->ReadInt32(&count)) return false;
    // Every level takes bytes of the file: a count beyond them cannot be real.
    if (count > 0 && !hf->CheckRemaining(Int64(count) * kMinLevelBytes)) return false;
    bool ended = false;
    for (Int32 i = 0; i < count; ++i) {
      DescLevel l;
      if (!hf->ReadInt32(&l.id) || !hf->ReadInt32(&l.dataType)) return false;
      if (level > 1 && !hf->ReadInt32(&l.creatorId)) return false;
      // A zero id ends the path: what follows it is never written back, so keeping it would
      // give an id that compares differently once saved and loaded again.
      if (l.id == 0) ended = true;
      // A level that cannot be kept fails the read: a shorter id would address another
      // parameter.
      if (!ended && !PushId(l)) {
        hf->SetError(FILEERROR_OUTOFMEMORY);
        return false;
      }
    }
  }
  return hf->SkipToEndChunk();
}

bool DescID::Write(HyperFile* hf) const {
  if (hf == nullptr) return false;
  const Int32 depth = GetDepth();
  if (!hf->WriteChunkStart(kDescIdChunkId, kDescIdChunkLevel) || !hf->WriteInt32(depth))
    return false;
  for (Int32 i = 0; i < depth; ++i) {
    const DescLevel& l = _levels[i];
    if (!hf->WriteInt32(l.id) || !hf->WriteInt32(l.dataType) || !hf->WriteInt32(l.creatorId))
      return false;
  }
  return hf->WriteChunkEnd();
}

}  // namespace lumora
