// RootTag (see lum_roottag.h).
#include "objects/lum_roottag.h"

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

BaseTag* RootTag::GetTag(Int32 type, Int32 nr) const {
  for (BaseTag* t = GetFirst(); t != nullptr; t = t->GetNext())
    if (t->GetType() == type && nr-- == 0) return t;
  return nullptr;
}

bool RootTag::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (RootList2D::HandleSubChunk(hf, id, level)) return true;
  if (hf->GetError() != FILEERROR_NONE) return false;
  if (id == CHUNK_GELISTNODE) return false;
  BaseTag* tag = BaseTag::Alloc(id);
  if (tag == nullptr) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  tag->SetObject(GetObject());
  // In the list while it reads, so that a tag that looks at its neighbours finds them.
  InsertLast(tag);
  const bool registered = tag->SetDocument(hf->GetDocument());
  if (!registered) hf->SetError(FILEERROR_OUTOFMEMORY);
  if (!registered || !tag->ReadChunk(hf, true, false)) {
    tag->Remove();
    BaseTag::Free(tag);
    if (hf->GetError() == FILEERROR_NONE) hf->SetError(FILEERROR_READ);
    return false;
  }
  return true;
}

}  // namespace lumora
