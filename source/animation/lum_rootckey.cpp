// RootCKey: reading and writing a curve's key list (see lum_rootckey.h).
#include "animation/lum_rootckey.h"

#include "stream/lum_hyperfile.h"

namespace lumora {

bool RootCKey::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (RootList2D::HandleSubChunk(hf, id, level)) return true;
  if (id != TYPE_CKEY) return false;
  CKey* key = CKey::Alloc();
  if (key == nullptr) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  if (!AppendRead(hf, key)) {
    if (hf->GetError() == FILEERROR_NONE) hf->SetError(FILEERROR_READ);
    return false;
  }
  return true;
}

bool RootCKey::Write(HyperFile* hf) { return RootList2D::Write(hf) && WriteMembers(hf); }

}  // namespace lumora
