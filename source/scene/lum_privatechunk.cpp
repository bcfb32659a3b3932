// PrivateChunk: the generic chunk loop (see lum_privatechunk.h).
#include "scene/lum_privatechunk.h"

#include "scene/lum_basedocument.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

// Chunks that end a read early when the document's load flags ask for it.
constexpr Int32 kPartialChunkA = 110015;
constexpr Int32 kPartialChunkB = 110024;

// The nesting of ReadChunk calls (the library is used from one thread at a time).
Int32 g_chunkNesting = 0;

struct NestingGuard {
  NestingGuard() { ++g_chunkNesting; }
  ~NestingGuard() { --g_chunkNesting; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
};

bool StopsPartialLoad(HyperFile* hf, Int32 id, Int32 level) {
  BaseDocument* doc = hf->GetDocument();
  if (doc == nullptr) return false;
  Int32 flags = doc->GetLoadFlags();
  return ((flags & LOADFLAGS_STOP_AT_110015) != 0 && id == kPartialChunkA) ||
         ((flags & LOADFLAGS_STOP_AT_110024) != 0 && id == kPartialChunkB && level == 2);
}

}  // namespace

bool PrivateChunk::HandleSubChunk(HyperFile*, Int32, Int32) { return false; }

bool PrivateChunk::KeepUnknownChunk(HyperFile*, Int32, Int32) { return false; }

bool PrivateChunk::Write(HyperFile*) { return true; }

bool PrivateChunk::CopyToX(PrivateChunk*, COPYFLAGS, AliasTrans*) { return true; }

bool PrivateChunk::GetDParameter(const DescID&, GeData&) { return false; }

bool PrivateChunk::SetDParameter(const DescID&, const GeData&) { return false; }

bool PrivateChunk::WriteObject(HyperFile* hf, Int32 id) {
  return hf->WriteChunkStart(id, 0) && Write(hf) && hf->WriteChunkEnd();
}

bool PrivateChunk::ReadObject(HyperFile* hf, bool readHeader) {
  if (readHeader) {
    HYPERFILEVALUE kind = HYPERFILEVALUE_NONE;
    if (!hf->ReadValueHeader(&kind)) return false;
    if (kind == HYPERFILEVALUE_CHUNKSTART) {
      if (!hf->ReadChunkStart(nullptr, nullptr)) return false;
    } else if (kind != HYPERFILEVALUE_CHUNKEND) {
      hf->SetError(FILEERROR_WRONG_VALUE);
      return false;
    }
  }
  return ReadChunk(hf, true, false);
}

bool PrivateChunk::MayReadNested(HyperFile* hf) {
  return g_chunkNesting < PRIVATECHUNK_MAX_NESTING &&
         hf->GetChunkDepth() <= HYPERFILE_MAX_CHUNK_DEPTH;
}

bool PrivateChunk::ReadChunk(HyperFile* hf, bool skipUnknown, bool headerless) {
  if (hf->GetError() != FILEERROR_NONE) return false;
  if (!MayReadNested(hf)) {
    hf->SetError(FILEERROR_TOO_DEEP);
    return false;
  }
  NestingGuard guard;
  do {
    if (!headerless) {
      HYPERFILEVALUE kind = HYPERFILEVALUE_NONE;
      if (!hf->ReadValueHeader(&kind)) break;
      if (kind == HYPERFILEVALUE_CHUNKEND) return hf->ReadChunkEnd();
      if (kind != HYPERFILEVALUE_CHUNKSTART) {
        hf->SetError(FILEERROR_CHUNK_EXPECTED);
        return false;
      }
    }
    Int32 id = 0;
    Int32 level = 0;
    if (!hf->ReadChunkStart(&id, &level)) break;
    const Int64 contents = hf->GetPosition();
    bool taken = HandleSubChunk(hf, id, level);
    // Only a chunk no class has begun to read is kept: the rest of one would not stand alone.
    if (!taken && hf->GetError() == FILEERROR_NONE && hf->GetPosition() == contents)
      taken = KeepUnknownChunk(hf, id, level);
    if (!taken) {
      bool skipped = hf->SkipToEndChunk();
      if (!skipUnknown) return skipped;
    }
    if (StopsPartialLoad(hf, id, level)) return true;
  } while (hf->GetError() == FILEERROR_NONE && hf->GetPosition() < hf->GetLength());
  // A nesting refusal deeper down keeps its own error.
  const FILEERROR error = hf->GetError();
  if (error != FILEERROR_NONE && error != FILEERROR_TOO_DEEP)
    hf->SetError(FILEERROR_CHUNKEND_MISSING);
  return false;
}

bool PrivateChunk::CopyTo(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  if (dest == nullptr) return false;
  if (trans != nullptr || (flags & COPYFLAGS_IDENTITY) != 0) return CopyToX(dest, flags, trans);
  AliasTrans temp;
  if (!temp.Init()) return false;
  if (!CopyToX(dest, flags, &temp)) return false;
  temp.Zap(true);
  return true;
}

}  // namespace lumora
