// RootCTrack: the list of a node's tracks (chunk 110417 of the node).
#ifndef LUM_ROOTCTRACK_H
#define LUM_ROOTCTRACK_H

#include "animation/lum_ctrack.h"
#include "scene/lum_rootlist2d.h"

namespace lumora {

class RootCTrack : public RootList2D {
 public:
  RootCTrack() = default;
  ~RootCTrack() override = default;

  static RootCTrack* Alloc();
  static void Free(RootCTrack*& list);

  // True only for 0.
  bool IsInstanceOf(Int32 id) const override { return id == 0; }
  // CHUNK_NODELIST (RootList2D), and member chunks 5350 and 5353 as tracks: out of memory
  // FILEERROR_OUTOFMEMORY, a failed track FILEERROR_READ (unless an error is recorded). Each
  // track's node becomes the list's owner.
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  // CHUNK_NODELIST with one chunk per track (its disk type), written even for an empty list.
  bool Write(HyperFile* hf) override;
  // The list copy of RootList2D; the copies' node becomes the destination's owner.
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;

  CTrack* GetFirst() const { return static_cast<CTrack*>(RootList2D::GetFirst()); }
  // The owner when it is a named node, else null.
  BaseList2D* OwnerNode() const {
    GeListNode* o = GetOwner();
    return o != nullptr && o->IsBaseList() ? static_cast<BaseList2D*>(o) : nullptr;
  }
};

}  // namespace lumora

#endif  // LUM_ROOTCTRACK_H
