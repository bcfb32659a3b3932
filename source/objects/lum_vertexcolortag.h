// VertexColorTag: colours (r, g, b, a as Float32) either one per point or four per polygon
// (corners a, b, c, d). Container entry MODE selects the layout the tag reads; the array
// remembers the layout it was made in, and writing follows the array, so a tag whose entry
// was changed without converting its colours never reads or writes past its array.
//
// Chunk TAG_VERTEXCOLOR, level 0: Int32 count, then per colour a Vector32 (r, g, b) and a
// Float32 (a); count colours per point, or 4 x count per polygon.
#ifndef LUM_VERTEXCOLORTAG_H
#define LUM_VERTEXCOLORTAG_H

#include "objects/lum_variabletag.h"

namespace lumora {

struct ColorA32 {
  Float32 r = 0.0f, g = 0.0f, b = 0.0f, a = 0.0f;
};

class VertexColorTag : public VariableTag {
 public:
  // Container entry (Int32): 0 one colour per point, any other value four per polygon.
  static constexpr Int32 MODE = 1001;
  static constexpr Int32 POINT_BYTES = Int32(sizeof(ColorA32));
  static constexpr Int32 POLYGON_BYTES = 4 * POINT_BYTES;

  VertexColorTag() : VariableTag(TAG_VERTEXCOLOR, POINT_BYTES) {}

  // tag as this class: null unless its node id is TAG_VERTEXCOLOR (a plug-in tag whose plug-in type
  // is TAG_VERTEXCOLOR is no VertexColorTag).
  static VertexColorTag* Cast(BaseTag* tag) {
    return tag != nullptr && tag->GetDiskType() == TAG_VERTEXCOLOR
               ? static_cast<VertexColorTag*>(tag)
               : nullptr;
  }
  static const VertexColorTag* Cast(const BaseTag* tag) { return Cast(const_cast<BaseTag*>(tag)); }

  // By the container entry.
  bool IsPerPointColor() const { return GetDataInstanceRef().GetInt32(MODE) == 0; }
  // Sets the entry only (VertexColorTag_ConvertVertexColorMode converts the colours).
  bool SetPerPointColor(bool perPoint) {
    return GetDataInstanceRef().SetInt32(MODE, perPoint ? 0 : 1);
  }
  // Whether the array holds one colour per element (else four).
  bool HoldsPerPointColors() const { return _elementSize == POINT_BYTES; }
  // All colours: GetCount() of them per point, 4 x GetCount() per polygon.
  const ColorA32* GetColorR() const { return static_cast<const ColorA32*>(_data); }
  ColorA32* GetColorW() { return static_cast<ColorA32*>(_data); }
  Int32 GetColorCount() const { return HoldsPerPointColors() ? _count : 4 * _count; }
  // n and bytes (POINT_BYTES or POLYGON_BYTES) non-zero: a new zero-filled array of n
  // elements replaces the old one (colours are not kept). Either 0: the tag is emptied.
  // False (nothing changed) when out of memory or for other sizes or n < 0.
  bool Resize(Int32 n, Int32 bytes);

  Int32 GetInfo() const override { return TAGINFO_VISIBLE | TAGINFO_MULTIPLE; }
  bool CopyDataV(BaseTag* dest, COPYFLAGS flags, AliasTrans* trans) override;

 protected:
  bool OwnsChunk(Int32 id, Int32 level) const override;
  bool ReadData(HyperFile* hf, Int32 id, Int32 level) override;
  bool WriteData(HyperFile* hf) override;

 private:
  friend struct PerVertexColorTag;
  friend bool VertexColorTag_ConvertVertexColorMode(VertexColorTag* tag, bool toPerPoint);
  bool ReadPerPolygon(HyperFile* hf);
};

// The per-point layout's chunk.
struct PerVertexColorTag {
  static bool Write(BaseTag* tag, HyperFile* hf);
  // Level >= 0: Int32 count; count > 0 replaces the colours; skips to the chunk's end.
  static bool Read(BaseTag* tag, HyperFile* hf, Int32 id, Int32 level);
};

// Rewrites the colours for the other layout from the polygons and points of the tag's object
// (the tags beside it). To per point: one colour per point, each the mean of the corner
// colours that name it (unused points (0, 0, 0, 0)); to per polygon: each corner takes its
// point's colour. Entry MODE is the caller's to set. Polygon corners that name no point of the
// object are passed over. False for a null tag or when out of memory (the tag unchanged).
bool VertexColorTag_ConvertVertexColorMode(VertexColorTag* tag, bool toPerPoint);

}  // namespace lumora

#endif  // LUM_VERTEXCOLORTAG_H
