// MemoryFileStruct: readable bytes and the chain of write blocks of an in-memory file.
#include "foundation/lum_memoryfilestruct.h"

#include <cstdint>
#include <cstring>

#include "lum_memory.h"

namespace lumora {
namespace {

constexpr Int32 kTableStep = 1000;
constexpr Int64 kMinBlock = 50000;
constexpr Int64 kMaxBlock = 2000000;
// Larger writes cannot be real; refusing them keeps the size arithmetic in range.
constexpr Int64 kMaxWrite = INT64_MAX / 2;

// Size of the block that follows one of previous bytes and must take remaining bytes: twice the
// previous, clamped to 50000..2000000, then raised in steps of 50000 until remaining fits.
Int64 NextBlockSize(Int64 previous, Int64 remaining) {
  Int64 s = previous > kMaxBlock / 2 ? kMaxBlock : 2 * previous;
  if (s < kMinBlock) s = kMinBlock;
  if (remaining > s) s += kMinBlock * ((remaining - s - 1) / kMinBlock + 1);
  return s;
}

}  // namespace

MemoryFileStruct::MemoryFileStruct() : flags(FLAG_OWNS), size(0), data(nullptr), blocks(nullptr) {}

MemoryFileStruct::~MemoryFileStruct() {
  // Write blocks always belong to the record; Free leaves readable data it does not own alone.
  Free();
  flags = 0;
}

void MemoryFileStruct::ReleaseBlocks() {
  if (blocks == nullptr) return;
  if (blocks->table != nullptr) {
    for (Int32 i = 0; i <= blocks->lastBlock; ++i) MemFree(blocks->table[i].block);
    DeleteMem(blocks->table);
  }
  DeleteMem(blocks);
}

void MemoryFileStruct::FailChain() {
  if (blocks->table != nullptr) {
    for (Int32 i = 0; i <= blocks->lastBlock; ++i) MemFree(blocks->table[i].block);
    DeleteMem(blocks->table);
  }
  blocks->lastBlock = -1;
  blocks->used = 0;
  blocks->blockSize = 0;
  blocks->tableCapacity = 0;
  blocks->written = 0;
}

void MemoryFileStruct::Free() {
  ReleaseBlocks();
  if ((flags & FLAG_OWNS) != 0) {
    MemFree(data);
    size = 0;
  }
}

bool MemoryFileStruct::WriteBytes(const void* src, Int64 n) {
  return WriteBytesAt(GetWrittenSize(), src, n);
}

bool MemoryFileStruct::WriteBytesAt(Int64 pos, const void* src, Int64 n) {
  if (n < 0 || (n > 0 && src == nullptr)) return false;
  if (blocks == nullptr) {
    blocks = static_cast<MemoryFileBlockList*>(MemAlloc(sizeof(MemoryFileBlockList)));
    if (blocks == nullptr) return false;
    blocks->table = static_cast<MemoryFileBlock*>(MemAlloc(sizeof(MemoryFileBlock) * kTableStep));
    if (blocks->table == nullptr) {
      DeleteMem(blocks);
      return false;
    }
    blocks->lastBlock = -1;
    blocks->used = 0;
    blocks->blockSize = 0;
    blocks->tableCapacity = kTableStep;
    blocks->written = 0;
  }
  if (blocks->table == nullptr) return false;  // an earlier write failed
  if (pos < 0 || pos > blocks->written) return false;
  const UChar* from = static_cast<const UChar*>(src);

  // Overwrite what lies behind pos, block by block; earlier blocks are full.
  if (pos < blocks->written && n > 0) {
    Int64 blockStart = 0;
    for (Int32 i = 0; i <= blocks->lastBlock && n > 0; ++i) {
      Int64 inBlock = i == blocks->lastBlock ? blocks->used : blocks->table[i].size;
      if (pos < blockStart + inBlock) {
        Int64 offset = pos - blockStart;
        Int64 c = inBlock - offset < n ? inBlock - offset : n;
        std::memcpy(static_cast<UChar*>(blocks->table[i].block) + offset, from, c);
        from += c;
        pos += c;
        n -= c;
      }
      blockStart += inBlock;
    }
  }
  return Append(from, n);
}

bool MemoryFileStruct::Append(const UChar* src, Int64 n) {
  if (n == 0) return true;
  MemoryFileBlockList& list = *blocks;
  Int64 remaining = n;
  if (remaining > list.blockSize - list.used) {
    Int64 room = list.blockSize - list.used;
    if (list.lastBlock >= 0 && room > 0) {
      std::memcpy(static_cast<UChar*>(list.table[list.lastBlock].block) + list.used, src, room);
      src += room;
      remaining -= room;
      list.used += room;
      list.written += room;
    }
    if (list.lastBlock + 1 >= list.tableCapacity) {
      Int64 grown = static_cast<Int64>(list.tableCapacity) + kTableStep;
      void* table = MemRealloc(list.table, grown * static_cast<Int64>(sizeof(MemoryFileBlock)));
      if (table == nullptr) {
        FailChain();
        return false;
      }
      list.table = static_cast<MemoryFileBlock*>(table);
      std::memset(list.table + list.tableCapacity, 0, sizeof(MemoryFileBlock) * kTableStep);
      list.tableCapacity = static_cast<Int32>(grown);
    }
    Int64 s = NextBlockSize(list.blockSize, remaining);
    void* block = remaining < kMaxWrite ? MemAllocNC(s) : nullptr;
    if (block == nullptr) {
      FailChain();
      return false;
    }
    ++list.lastBlock;
    list.table[list.lastBlock].block = block;
    list.table[list.lastBlock].size = s;
    list.blockSize = s;
    list.used = 0;
  }
  std::memcpy(static_cast<UChar*>(list.table[list.lastBlock].block) + list.used, src, remaining);
  list.used += remaining;
  list.written += remaining;
  return true;
}

Int64 MemoryFileStruct::ReadWritten(Int64 pos, void* dst, Int64 n) const {
  if (blocks == nullptr || blocks->table == nullptr || pos < 0 || n <= 0 || dst == nullptr)
    return 0;
  UChar* to = static_cast<UChar*>(dst);
  Int64 copied = 0;
  Int64 blockStart = 0;
  for (Int32 i = 0; i <= blocks->lastBlock && n > 0; ++i) {
    Int64 inBlock = i == blocks->lastBlock ? blocks->used : blocks->table[i].size;
    if (pos < blockStart + inBlock) {
      Int64 offset = pos - blockStart;
      Int64 c = inBlock - offset < n ? inBlock - offset : n;
      std::memcpy(to, static_cast<const UChar*>(blocks->table[i].block) + offset, c);
      to += c;
      pos += c;
      n -= c;
      copied += c;
    }
    blockStart += inBlock;
  }
  return copied;
}

bool MemoryFileStruct::SetReadable(const void* src, Int64 n, bool copy) {
  if (n < 0 || (n > 0 && src == nullptr)) return false;
  Free();
  data = nullptr;
  size = 0;
  flags |= FLAG_READABLE;
  if (!copy) {
    flags &= ~FLAG_OWNS;
    data = const_cast<void*>(src);
    size = n;
    return true;
  }
  flags |= FLAG_OWNS;
  if (n == 0) return true;
  data = MemAllocNC(n);
  if (data == nullptr) return false;
  std::memcpy(data, src, static_cast<size_t>(n));
  size = n;
  return true;
}

bool MemoryFileStruct::CollectWritten() {
  Int64 n = GetWrittenSize();
  if (n == 0) {
    ReleaseBlocks();
    return true;
  }
  void* joined = MemAllocNC(n);
  if (joined == nullptr) return false;
  ReadWritten(0, joined, n);
  ReleaseBlocks();
  if ((flags & FLAG_OWNS) != 0) MemFree(data);
  data = joined;
  size = n;
  flags |= FLAG_READABLE | FLAG_OWNS;
  return true;
}

bool MemoryFileStruct::ReadableToWritten() {
  if (blocks != nullptr && blocks->table == nullptr) ReleaseBlocks();  // a failed chain
  if (blocks != nullptr || data == nullptr || size <= 0) {
    if ((flags & FLAG_OWNS) != 0) MemFree(data);
    data = nullptr;
    size = 0;
    flags |= FLAG_OWNS;
    return true;
  }
  if (!WriteBytes(data, size)) return false;
  if ((flags & FLAG_OWNS) != 0) MemFree(data);
  data = nullptr;
  size = 0;
  flags |= FLAG_OWNS;
  return true;
}

bool MemoryFileStruct::CopyFrom(const MemoryFileStruct& src) {
  if (&src == this) return true;
  Free();
  data = nullptr;
  size = 0;
  flags = src.flags;
  Int64 n = src.GetWrittenSize();
  if (n > 0) {
    flags |= FLAG_READABLE | FLAG_OWNS;
    data = MemAllocNC(n);
    if (data == nullptr) return false;
    src.ReadWritten(0, data, n);
    size = n;
    return true;
  }
  if ((src.flags & FLAG_OWNS) == 0) {
    // Borrowed bytes stay borrowed: their owner outlives both records.
    data = src.data;
    size = src.size;
    return true;
  }
  if (src.data == nullptr || src.size <= 0) return true;
  data = MemAllocNC(src.size);
  if (data == nullptr) return false;
  std::memcpy(data, src.data, static_cast<size_t>(src.size));
  size = src.size;
  return true;
}

}  // namespace lumora
