// KeptChunks: chunks no class took while a node or list was read, kept as they stand (id, level
// and the bytes up to the chunk's end) with the layout of the stream they came from, each with
// its place (a number its owner gives, such as the members read before it). They are written
// back unchanged into a stream that reads them alike; elsewhere the stream drops their contents
// (HyperFile::WriteKeptChunk) and only the empty chunk remains.
#ifndef LUM_KEPTCHUNKS_H
#define LUM_KEPTCHUNKS_H

#include "lum_array.h"
#include "lum_types.h"

namespace lumora {

class HyperFile;

class KeptChunks {
 public:
  KeptChunks() = default;
  ~KeptChunks() { Free(); }
  KeptChunks(const KeptChunks&) = delete;
  KeptChunks& operator=(const KeptChunks&) = delete;

  Int32 GetCount() const { return _chunks.GetCount(); }
  // Reads the rest of the chunk id/level, whose start has just been read, and keeps it at
  // place; false with the stream's error when the read fails or memory runs out.
  bool Keep(HyperFile* hf, Int32 id, Int32 level, Int32 place);
  // Writes, in the order kept, those at place, and with rest also those at a later place.
  bool Write(HyperFile* hf, Int32 place, bool rest) const;
  // Replaces dest's chunks with copies of these; false when out of memory (dest then holds
  // none).
  bool CopyTo(KeptChunks* dest) const;
  // Appends from's chunks with offset added to their places, and empties from; false when out
  // of memory (from's chunks are freed then).
  bool TakeFrom(KeptChunks& from, Int32 offset);
  void Free();

 private:
  struct Chunk {
    Int32 id = 0;
    Int32 level = 0;
    Int32 layout = 0;  // HyperFile::GetRawLayout of the stream read
    Int32 place = 0;
    Int64 size = 0;
    void* bytes = nullptr;  // owned; without the chunk's end byte
  };
  BaseArray<Chunk> _chunks;
};

}  // namespace lumora

#endif  // LUM_KEPTCHUNKS_H
