// NormalTag: the normals of every polygon's four corners, twelve Int16 per polygon (x, y, z
// of corners a, b, c, d).
//
// Chunk TAG_NORMAL, level 0: Int32 count, then (count > 0) one Int16 array of 12 x count
// values. The library stores a unit component c as the Int16 nearest to c x 32000 (Set) and
// reads it back divided by 32000 (Get).
#ifndef LUM_NORMALTAG_H
#define LUM_NORMALTAG_H

#include "lum_math.h"
#include "objects/lum_variabletag.h"

namespace lumora {

struct NormalPolygon {
  Int16 v[12] = {};
};
struct NormalStruct {
  Vector64 a, b, c, d;
};

class NormalTag : public VariableTag {
 public:
  static constexpr Float64 SCALE = 32000.0;
  // A unit component as the tag stores it: the Int16 nearest to c x SCALE (halves away from
  // zero), c clamped to [-1, 1] and NaN as 0. Inline and without a C-library call, as importers
  // pack every component of every vertex: c x SCALE lies within +-32000, where what truncation
  // takes off is exact.
  static Int16 Pack(Float64 c) {
    if (!(c >= -1.0)) c = c != c ? 0.0 : -1.0;
    if (c > 1.0) c = 1.0;
    const Float64 x = c * SCALE;
    const Int32 t = Int32(x);
    const Float64 f = x - t;
    return Int16(f >= 0.5 ? t + 1 : f <= -0.5 ? t - 1 : t);
  }

  NormalTag() : VariableTag(TAG_NORMAL, Int32(sizeof(NormalPolygon))) {}

  // tag as this class: null unless its node id is TAG_NORMAL (a plug-in tag whose plug-in type is
  // TAG_NORMAL is no NormalTag).
  static NormalTag* Cast(BaseTag* tag) {
    return tag != nullptr && tag->GetDiskType() == TAG_NORMAL ? static_cast<NormalTag*>(tag)
                                                              : nullptr;
  }
  static const NormalTag* Cast(const BaseTag* tag) { return Cast(const_cast<BaseTag*>(tag)); }

  const NormalPolygon* GetNormalR() const { return static_cast<const NormalPolygon*>(_data); }
  NormalPolygon* GetNormalW() { return static_cast<NormalPolygon*>(_data); }
  // Polygon i as vectors / from vectors (components clamped to [-1, 1]); i outside
  // 0..count-1 gives zeros / changes nothing.
  NormalStruct Get(Int32 i) const;
  void Set(Int32 i, const NormalStruct& n);
  // As PointTag::Resize.
  bool Resize(Int32 n) { return ResizeKeep(n); }

  Int32 GetInfo() const override { return TAGINFO_VISIBLE; }
  bool CopyDataV(BaseTag* dest, COPYFLAGS flags, AliasTrans* trans) override;

 protected:
  bool OwnsChunk(Int32 id, Int32 level) const override { return id == TAG_NORMAL && level >= 0; }
  bool ReadData(HyperFile* hf, Int32 id, Int32 level) override;
  bool WriteData(HyperFile* hf) override;
};

}  // namespace lumora

#endif  // LUM_NORMALTAG_H
