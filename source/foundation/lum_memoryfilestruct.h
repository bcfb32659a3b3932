// MemoryFileStruct: the storage behind a Filename that names an in-memory file.
//
// A record holds readable bytes (data, size) that a BaseFile opened for reading reads, and a
// chain of write blocks that a BaseFile opened for writing fills. Writing never copies what is
// already written: blocks grow geometrically from 50000 to 2000000 bytes and are only chained.
// CollectWritten joins the chain into the readable bytes, so that what one BaseFile wrote can be
// read by the next.
#ifndef LUM_MEMORYFILESTRUCT_H
#define LUM_MEMORYFILESTRUCT_H

#include "lum_types.h"

namespace lumora {

// One write block: its memory and its size in bytes.
struct MemoryFileBlock {
  void* block;
  Int64 size;
};

// The chain of write blocks, created by the first write.
struct MemoryFileBlockList {
  Int32 lastBlock;         // index of the block being filled, -1 when there is none
  Int64 used;              // bytes used in that block
  Int64 blockSize;         // size of that block
  MemoryFileBlock* table;  // null once a failed write released everything: writes then fail
  Int32 tableCapacity;     // entries of table; 1000 at first, grown by 1000
  Int64 written;           // bytes written in all blocks
};

class MemoryFileStruct {
 public:
  enum : Int32 {
    FLAG_READABLE = 1,  // holds readable data
    FLAG_WRITABLE = 2,  // may be written to by a BaseFile
    FLAG_OWNS = 4,      // owns its readable data
  };

  // flags FLAG_OWNS, no data, no blocks.
  MemoryFileStruct();
  // Free when the record owns its storage; the flags are cleared.
  ~MemoryFileStruct();
  MemoryFileStruct(const MemoryFileStruct&) = delete;
  MemoryFileStruct& operator=(const MemoryFileStruct&) = delete;

  // Appends n bytes to the write blocks. False when a block or a larger table cannot be had:
  // every block and the table are then released and every later write fails until Free.
  bool WriteBytes(const void* src, Int64 n);
  // Writes n bytes at pos (0 <= pos <= GetWrittenSize()): what lies there already is
  // overwritten, the rest is appended. Failures as WriteBytes.
  bool WriteBytesAt(Int64 pos, const void* src, Int64 n);
  // Copies up to n written bytes from pos into dst; returns the bytes copied.
  Int64 ReadWritten(Int64 pos, void* dst, Int64 n) const;
  // Bytes in the write blocks.
  Int64 GetWrittenSize() const { return blocks != nullptr ? blocks->written : 0; }

  // Releases every write block, the table and the list; with FLAG_OWNS also the readable data
  // (size becomes 0). Readable data it does not own is left to its owner.
  void Free();

  // Replaces everything with n readable bytes (FLAG_READABLE; the other flags are kept). With
  // copy the bytes are copied into storage the record owns (FLAG_OWNS); otherwise the record
  // only points at them and the caller keeps them alive and releases them (FLAG_OWNS cleared).
  // False when the copy cannot be allocated: the record is then empty.
  bool SetReadable(const void* src, Int64 n, bool copy);
  // Joins the write blocks into one block that becomes the readable data (owned,
  // FLAG_READABLE). Nothing written leaves the readable data as it is. False when the block
  // cannot be allocated: nothing changes.
  bool CollectWritten();
  // Moves the readable data into the write blocks, so that writing can continue behind it or
  // overwrite it. False when the blocks cannot be had: the readable data stays.
  bool ReadableToWritten();
  // Makes this record hold a copy of src's content (its readable data, or its write blocks
  // joined as readable data) and src's flags. False when the copy cannot be allocated: the
  // record then holds nothing (flags as src's, size 0).
  bool CopyFrom(const MemoryFileStruct& src);

  Int32 flags;
  Int64 size;  // readable bytes
  void* data;  // the readable bytes
  MemoryFileBlockList* blocks;

 private:
  bool Append(const UChar* src, Int64 n);
  void ReleaseBlocks();
  // Releases the blocks and the table after a failed write but keeps the list as the mark
  // that later writes fail.
  void FailChain();
};

}  // namespace lumora

#endif  // LUM_MEMORYFILESTRUCT_H
