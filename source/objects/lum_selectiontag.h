// SelectionTag: a selection of points, polygons or edges (and the other selection kinds), as a
// BaseSelect written in its own chunk (110011).
#ifndef LUM_SELECTIONTAG_H
#define LUM_SELECTIONTAG_H

#include "objects/lum_basetag.h"
#include "stream/lum_baseselect.h"

namespace lumora {

class SelectionTag : public BaseTag {
 public:
  explicit SelectionTag(Int32 type) : BaseTag(type) {}

  // tag as a selection tag: null unless its node id is a selection kind.
  static SelectionTag* Cast(BaseTag* tag) {
    const Int32 id = tag != nullptr ? tag->GetDiskType() : 0;
    return id == TAG_POINTSELECTION || id == TAG_POLYGONSELECTION || id == TAG_EDGESELECTION
               ? static_cast<SelectionTag*>(tag)
               : nullptr;
  }

  BaseSelect* GetBaseSelect() { return &_select; }
  const BaseSelect* GetBaseSelect() const { return &_select; }

  // 3 for point, polygon and edge selections, 16 for selection sets, else 0.
  Int32 GetInfo() const override;
  bool CopyDataV(BaseTag* dest, COPYFLAGS flags, AliasTrans* trans) override;

 protected:
  bool OwnsChunk(Int32 id, Int32 level) const override;
  bool ReadData(HyperFile* hf, Int32 id, Int32 level) override;
  bool WriteData(HyperFile* hf) override;

 private:
  BaseSelect _select;
};

}  // namespace lumora

#endif  // LUM_SELECTIONTAG_H
