// RootCKey: reading and writing a curve's key list (see lum_rootckey.h).
#include "animation/lum_rootckey.h"

#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

// Steps over the start of the next member chunk when it is a key's as the library writes it,
// so that the keys that follow one another are read here as the chunk loop would read them.
bool NextKeyStart(HyperFile* hf) {
  HyperFileSpan span(hf);
  if (!span.ChunkStart(TYPE_CKEY, 0)) return false;
  span.Commit();
  return true;
}

}  // namespace

bool RootCKey::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (RootList2D::HandleSubChunk(hf, id, level)) return true;
  if (id != TYPE_CKEY) return false;
  do {
    CKey* key = CKey::AllocToRead();
    if (key == nullptr) {
      hf->SetError(FILEERROR_OUTOFMEMORY);
      return false;
    }
    const bool plain = key->ReadPlain(hf);
    if (!plain) key->DrawMarker();
    if (!AppendRead(hf, key, plain)) {
      if (hf->GetError() == FILEERROR_NONE) hf->SetError(FILEERROR_READ);
      return false;
    }
  } while (NextKeyStart(hf));
  return true;
}

bool RootCKey::Write(HyperFile* hf) { return RootList2D::Write(hf) && WriteMembers(hf); }

}  // namespace lumora
