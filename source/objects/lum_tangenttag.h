// TangentTag: the left and right tangent of every point of a spline.
//
// Chunk (the tag's type), level 0: Int32 count, then per element two Vector values, left and
// right.
#ifndef LUM_TANGENTTAG_H
#define LUM_TANGENTTAG_H

#include "lum_math.h"
#include "objects/lum_variabletag.h"

namespace lumora {

struct Tangent {
  Vector64 vl;  // left
  Vector64 vr;  // right
};

class TangentTag : public VariableTag {
 public:
  TangentTag() : VariableTag(TAG_TANGENT, Int32(sizeof(Tangent))) {}

  // tag as this class: null unless its node id is TAG_TANGENT (a plug-in tag whose plug-in type is
  // TAG_TANGENT is no TangentTag).
  static TangentTag* Cast(BaseTag* tag) {
    return tag != nullptr && tag->GetDiskType() == TAG_TANGENT ? static_cast<TangentTag*>(tag)
                                                               : nullptr;
  }
  static const TangentTag* Cast(const BaseTag* tag) { return Cast(const_cast<BaseTag*>(tag)); }

  const Tangent* GetTangentR() const { return static_cast<const Tangent*>(_data); }
  Tangent* GetTangentW() { return static_cast<Tangent*>(_data); }
  const Tangent* GetDataR() const { return GetTangentR(); }
  Int32 GetDataCount() const { return _count; }
  // As PointTag::Resize.
  bool Resize(Int32 n) { return ResizeKeep(n); }
  bool CopyDataV(BaseTag* dest, COPYFLAGS flags, AliasTrans* trans) override;

 protected:
  bool OwnsChunk(Int32 id, Int32 level) const override { return id == GetType() && level >= 0; }
  bool ReadData(HyperFile* hf, Int32 id, Int32 level) override;
  bool WriteData(HyperFile* hf) override;
};

}  // namespace lumora

#endif  // LUM_TANGENTTAG_H
