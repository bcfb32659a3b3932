// KeptChunks (see lum_keptchunks.h).
#include "scene/lum_keptchunks.h"

#include <cstring>

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

bool KeptChunks::Keep(HyperFile* hf, Int32 id, Int32 level, Int32 place) {
  Chunk c;
  c.id = id;
  c.level = level;
  c.layout = hf->GetRawLayout();
  c.place = place;
  if (!hf->ReadUnknownChunk(&c.bytes, &c.size, true)) return false;
  if (!_chunks.Append(c)) {
    MemFree(c.bytes);
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  return true;
}

bool KeptChunks::Write(HyperFile* hf, Int32 place, bool rest) const {
  for (const Chunk& c : _chunks) {
    if (c.place != place && !(rest && c.place > place)) continue;
    if (!hf->WriteChunkStart(c.id, c.level) ||
        !hf->WriteKeptChunk(c.bytes, c.size, true, c.layout) || !hf->WriteChunkEnd())
      return false;
  }
  return true;
}

bool KeptChunks::CopyTo(KeptChunks* dest) const {
  if (dest == this) return true;
  dest->Free();
  for (const Chunk& c : _chunks) {
    Chunk copy = c;
    copy.bytes = nullptr;
    if (c.bytes != nullptr && c.size > 0) {
      copy.bytes = MemAllocNC(c.size);
      if (copy.bytes == nullptr) {
        dest->Free();
        return false;
      }
      std::memcpy(copy.bytes, c.bytes, size_t(c.size));
    }
    if (!dest->_chunks.Append(copy)) {
      MemFree(copy.bytes);
      dest->Free();
      return false;
    }
  }
  return true;
}

bool KeptChunks::TakeFrom(KeptChunks& from, Int32 offset) {
  for (Chunk& c : from._chunks) {
    Chunk moved = c;
    moved.place += offset;
    if (!_chunks.Append(moved)) {
      from.Free();
      return false;
    }
    c.bytes = nullptr;
  }
  from.Free();
  return true;
}

void KeptChunks::Free() {
  for (Chunk& c : _chunks) MemFree(c.bytes);
  _chunks.Flush();
}

}  // namespace lumora
