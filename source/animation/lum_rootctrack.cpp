// RootCTrack: reading, writing and copying a node's track list (see lum_rootctrack.h).
#include "animation/lum_rootctrack.h"

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

RootCTrack* RootCTrack::Alloc() { return NewObj<RootCTrack>(); }

void RootCTrack::Free(RootCTrack*& list) { DeleteObj(list); }

bool RootCTrack::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (RootList2D::HandleSubChunk(hf, id, level)) return true;
  if (id != TYPE_CTRACK && id != TYPE_CTRACK_SPECIAL) return false;
  CTrack* track = NewObj<CTrack>(id);
  if (track == nullptr) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  if (!AppendRead(hf, track)) {
    if (hf->GetError() == FILEERROR_NONE) hf->SetError(FILEERROR_READ);
    return false;
  }
  track->SetObject(OwnerNode());
  return true;
}

bool RootCTrack::Write(HyperFile* hf) {
  return RootList2D::Write(hf) && WriteNodeList(hf, 0, true);
}

bool RootCTrack::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  if (!RootList2D::CopyToX(dest, flags, trans)) return false;
  RootCTrack* d = static_cast<RootCTrack*>(dest);
  BaseList2D* owner = d->OwnerNode();
  for (CTrack* t = d->GetFirst(); t != nullptr; t = t->GetNext()) t->SetObject(owner);
  return true;
}

}  // namespace lumora
