// RootCKey: the list that owns a curve's keys, and what gets written of them.
#ifndef LUM_ROOTCKEY_H
#define LUM_ROOTCKEY_H

#include "animation/lum_ckey.h"
#include "scene/lum_rootlist2d.h"

namespace lumora {

class RootCKey : public RootList2D {
 public:
  RootCKey() = default;
  ~RootCKey() override = default;

  // CHUNK_NODELIST (RootList2D), and each member chunk 5352 as a key (out of memory:
  // FILEERROR_OUTOFMEMORY; a failed key read: FILEERROR_READ unless an error is recorded). The
  // key chunks (level 0) that follow it are read in the same call, as the loop would read them.
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  // CHUNK_NODELIST with chunk 5352 per key; nothing for an empty list.
  bool Write(HyperFile* hf) override;

  CKey* GetFirst() const { return static_cast<CKey*>(RootList2D::GetFirst()); }
};

}  // namespace lumora

#endif  // LUM_ROOTCKEY_H
