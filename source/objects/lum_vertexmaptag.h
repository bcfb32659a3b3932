// VertexMapTag: one Float32 weight per point.
//
// Chunk (the tag's type), level 0: Int32 count, then (count > 0) one Float32 array.
#ifndef LUM_VERTEXMAPTAG_H
#define LUM_VERTEXMAPTAG_H

#include "objects/lum_variabletag.h"

namespace lumora {

class VertexMapTag : public VariableTag {
 public:
  VertexMapTag() : VariableTag(TAG_VERTEXMAP, Int32(sizeof(Float32))) {}

  // tag as this class: null unless its node id is TAG_VERTEXMAP (a plug-in tag whose plug-in type
  // is TAG_VERTEXMAP is no VertexMapTag).
  static VertexMapTag* Cast(BaseTag* tag) {
    return tag != nullptr && tag->GetDiskType() == TAG_VERTEXMAP ? static_cast<VertexMapTag*>(tag)
                                                                 : nullptr;
  }
  static const VertexMapTag* Cast(const BaseTag* tag) { return Cast(const_cast<BaseTag*>(tag)); }

  const Float32* GetWeightR() const { return static_cast<const Float32*>(_data); }
  Float32* GetWeightW() { return static_cast<Float32*>(_data); }
  // As PointTag::Resize.
  bool Resize(Int32 n) { return ResizeKeep(n); }

  Int32 GetInfo() const override { return TAGINFO_VISIBLE | TAGINFO_MULTIPLE; }
  bool CopyDataV(BaseTag* dest, COPYFLAGS flags, AliasTrans* trans) override;

 protected:
  bool OwnsChunk(Int32 id, Int32 level) const override { return id == GetType() && level >= 0; }
  bool ReadData(HyperFile* hf, Int32 id, Int32 level) override;
  bool WriteData(HyperFile* hf) override;
};

}  // namespace lumora

#endif  // LUM_VERTEXMAPTAG_H
