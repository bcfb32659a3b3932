// PointTag: the points of a point-based object, one Vector64 each.
//
// Chunk TAG_POINT, level 0: Int32 count, then (count > 0) three Float arrays with the x, then
// the y, then the z of every point (doc/scene-format.md).
#ifndef LUM_POINTTAG_H
#define LUM_POINTTAG_H

#include "objects/lum_variabletag.h"

namespace lumora {

class PointTag : public VariableTag {
 public:
  PointTag() : VariableTag(TAG_POINT, Int32(sizeof(Vector64))) {}

  // tag as this class: null unless its node id is TAG_POINT (a plug-in tag whose plug-in type is
  // TAG_POINT is no PointTag).
  static PointTag* Cast(BaseTag* tag) {
    return tag != nullptr && tag->GetDiskType() == TAG_POINT ? static_cast<PointTag*>(tag)
                                                             : nullptr;
  }
  static const PointTag* Cast(const BaseTag* tag) { return Cast(const_cast<BaseTag*>(tag)); }

  const Vector64* GetPointR() const { return static_cast<const Vector64*>(_data); }
  Vector64* GetPointW() { return static_cast<Vector64*>(_data); }
  Vector64* GetPointAdr() { return GetPointW(); }
  // n zero-filled points keeping the first min(count, n); false (nothing changed) when out of
  // memory or n < 0.
  bool Resize(Int32 n) { return ResizeKeep(n); }
  bool CopyDataV(BaseTag* dest, COPYFLAGS flags, AliasTrans* trans) override;

 protected:
  bool OwnsChunk(Int32 id, Int32 level) const override { return id == TAG_POINT && level >= 0; }
  bool ReadData(HyperFile* hf, Int32 id, Int32 level) override;
  bool WriteData(HyperFile* hf) override;
};

}  // namespace lumora

#endif  // LUM_POINTTAG_H
