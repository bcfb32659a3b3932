// RootTag: the list an object keeps its tags in. Its owner is the object.
//
// Written as CHUNK_NODELIST holding one chunk per tag (id: the tag's disk type, level 0, the
// tag's Write inside); nothing for an empty list. Reading allocates each tag by its chunk id
// (BaseTag::Alloc), so a plug-in tag arrives as TAG_PLUGIN and learns its type from its
// plug-in data chunk.
#ifndef LUM_ROOTTAG_H
#define LUM_ROOTTAG_H

#include "objects/lum_basetag.h"
#include "scene/lum_rootlist2d.h"

namespace lumora {

class RootTag : public RootList2D {
 public:
  explicit RootTag(BaseList2D* object = nullptr) { SetOwner(object); }

  bool IsInstanceOf(Int32 id) const override { return id == 0; }
  // After RootList2D's chunks: CHUNK_GELISTNODE is skipped, any other id is a tag, appended
  // with its object set to the owner. A tag that cannot be allocated fails the read with
  // FILEERROR_OUTOFMEMORY, one that cannot be read with FILEERROR_READ (unless the stream
  // recorded its own error first).
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  bool Write(HyperFile* hf) override { return RootList2D::Write(hf) && WriteMembers(hf); }

  BaseTag* GetFirst() const { return static_cast<BaseTag*>(RootList2D::GetFirst()); }
  BaseTag* GetLast() const { return static_cast<BaseTag*>(RootList2D::GetLast()); }
  BaseList2D* GetObject() const { return static_cast<BaseList2D*>(GetOwner()); }
  // The nr-th tag (from 0) of that type (plug-in tags by their plug-in type); null when fewer.
  BaseTag* GetTag(Int32 type, Int32 nr = 0) const;
};

}  // namespace lumora

#endif  // LUM_ROOTTAG_H
