// PolygonTag: the polygons of a polygon object, one CPolygon (four point indices) each.
//
// Chunk TAG_POLYGON, level 0: Int32 count, then (count > 0) four Int32 arrays with every a,
// every b, every c and every d. The indices are kept as stored, also those outside the
// object's points; the library never indexes memory with them unchecked.
#ifndef LUM_POLYGONTAG_H
#define LUM_POLYGONTAG_H

#include "lum_math.h"
#include "objects/lum_variabletag.h"

namespace lumora {

class PolygonTag : public VariableTag {
 public:
  PolygonTag() : VariableTag(TAG_POLYGON, Int32(sizeof(CPolygon))) {}

  // tag as this class: null unless its node id is TAG_POLYGON (a plug-in tag whose plug-in type is
  // TAG_POLYGON is no PolygonTag).
  static PolygonTag* Cast(BaseTag* tag) {
    return tag != nullptr && tag->GetDiskType() == TAG_POLYGON ? static_cast<PolygonTag*>(tag)
                                                               : nullptr;
  }
  static const PolygonTag* Cast(const BaseTag* tag) { return Cast(const_cast<BaseTag*>(tag)); }

  const CPolygon* GetPolygonR() const { return static_cast<const CPolygon*>(_data); }
  CPolygon* GetPolygonW() { return static_cast<CPolygon*>(_data); }
  CPolygon* GetPolygonAdr() { return GetPolygonW(); }
  // As PointTag::Resize, except that n <= 0 changes nothing and gives true: a polygon tag is
  // never emptied by resizing.
  bool Resize(Int32 n) { return n <= 0 || ResizeKeep(n); }
  // The destination takes the source's polygons when the source has any; an empty source
  // leaves the destination's polygons as they are.
  bool CopyDataV(BaseTag* dest, COPYFLAGS flags, AliasTrans* trans) override;

 protected:
  bool OwnsChunk(Int32 id, Int32 level) const override { return id == TAG_POLYGON && level >= 0; }
  bool ReadData(HyperFile* hf, Int32 id, Int32 level) override;
  bool WriteData(HyperFile* hf) override;
};

}  // namespace lumora

#endif  // LUM_POLYGONTAG_H
