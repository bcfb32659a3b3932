// PrivateChunk: the base of everything that stores itself as a chunk of a scene file, with the
// generic chunk loop every node reader runs.
//
// A node writes itself as a chunk (WriteObject: chunk start, the virtual Write, chunk end) and
// reads itself with ReadObject / ReadChunk: the loop hands every sub-chunk to the virtual
// HandleSubChunk, most derived class first, each class offering the chunk to its base before it
// looks at its own ids, and skips the chunks nobody takes. A read that would nest deeper than
// HYPERFILE_MAX_CHUNK_DEPTH (chunks, or nested reads) fails with FILEERROR_TOO_DEEP, the error
// writing such a tree gives, so that no file can exhaust the stack.
#ifndef LUM_PRIVATECHUNK_H
#define LUM_PRIVATECHUNK_H

#include "lum_types.h"
#include "stream/lum_hyperfile.h"
#include "values/lum_basecontainer.h"
#include "values/lum_baselink.h"
#include "values/lum_descid.h"
#include "values/lum_gedata.h"

namespace lumora {

class HyperFile;

// The deepest nesting of node reads: the stream's chunk depth limit.
constexpr Int32 PRIVATECHUNK_MAX_NESTING = HYPERFILE_MAX_CHUNK_DEPTH;

class PrivateChunk : public GeToolNode2D {
 public:
  PrivateChunk() = default;
  ~PrivateChunk() override = default;

  // True only for 0.
  virtual bool IsInstanceOf(Int32 id) const { return id == 0; }
  // Reads the sub-chunk id/level whose start has been read; false when the class does not know
  // the id (the loop then skips the chunk).
  virtual bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level);
  // Offered a sub-chunk no class took (no error recorded): true when the node kept the rest of
  // it, up to and including its end; false leaves it to be skipped. Keeps nothing here.
  virtual bool KeepUnknownChunk(HyperFile* hf, Int32 id, Int32 level);
  virtual bool IsListHead() const { return false; }
  virtual Int32 GetType() const { return 0; }
  virtual Int32 GetInstanceType() const { return 0; }
  // The chunks inside the node's own chunk. True, nothing written.
  virtual bool Write(HyperFile* hf);
  virtual bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans);
  virtual bool GetDParameter(const DescID& id, GeData& out);
  virtual bool SetDParameter(const DescID& id, const GeData& value);
  virtual Int32 GetChunkLevel() const { return 0; }

  // SetDParameter with the one-level id.
  bool SetParameter(Int32 id, const GeData& value) { return SetDParameter(DescID(id), value); }

  // Chunk start (id, level 0), Write, chunk end.
  bool WriteObject(HyperFile* hf, Int32 id);
  // With readHeader, one value header first: a chunk start (its id and level are read and
  // ignored) or a chunk end (nothing more is read before the loop); anything else fails with
  // FILEERROR_WRONG_VALUE. Then ReadChunk(hf, true, false).
  bool ReadObject(HyperFile* hf, bool readHeader);
  // The generic loop over the sub-chunks up to the node's chunk end.
  bool ReadChunk(HyperFile* hf, bool skipUnknown, bool headerless);
  // Whether ReadChunk may begin one more node here, or refuses with FILEERROR_TOO_DEEP.
  static bool MayReadNested(HyperFile* hf);

  // With trans or COPYFLAGS_IDENTITY: CopyToX. Otherwise through a temporary translation that
  // is resolved (Zap(true)) when the copy succeeded.
  bool CopyTo(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans);
};

}  // namespace lumora

#endif  // LUM_PRIVATECHUNK_H
