// UVWTag: the texture coordinates of every polygon's four corners, each packed into a
// SmallUVW of two 32-bit words; and the packing itself (FromVector / ToVector).
//
// Chunk TAG_UVW, level 4: Int32 count, one Int32 array of 8 x count words, Bool setting, Bool
// false. Older levels and files (Float32 word arrays, fixed-point and vector arrays) are read
// and converted; doc/scene-format.md lists them.
#ifndef LUM_UVWTAG_H
#define LUM_UVWTAG_H

#include "lum_math.h"
#include "objects/lum_variabletag.h"

namespace lumora {

// One texture coordinate in two words. Bit 0 of word 1 tells the forms apart: clear, the
// words are the float bits of u and v (w = 0); set, the packed form of u, v and w (sign, top
// 15 mantissa bits and a 5-bit exponent field each).
struct SmallUVW {
  UInt32 word0 = 0;
  UInt32 word1 = 0;
};

// Encodes (u, v, w), each clamped to [-100000, 100000] (NaN as 0).
void FromVector(const Vector64& v, SmallUVW& out);
// Decodes what FromVector stored: the packed form keeps 15 mantissa bits, and an exponent
// field of 0 decodes as 0 (it stands for every exponent below 112).
Vector64 ToVector(const SmallUVW& in);

// The four corners a, b, c, d of one polygon, as stored.
struct UVWPolygon {
  SmallUVW a, b, c, d;
};
// The same, decoded.
struct UVWStruct {
  Vector64 a, b, c, d;
};

class UVWTag : public VariableTag {
 public:
  // The parameter id of the Bool setting (a field of the tag, written after the coordinates).
  static constexpr Int32 SETTING = 1000;

  UVWTag() : VariableTag(TAG_UVW, Int32(sizeof(UVWPolygon))) {}

  // tag as this class: null unless its node id is TAG_UVW (a plug-in tag whose plug-in type is
  // TAG_UVW is no UVWTag).
  static UVWTag* Cast(BaseTag* tag) {
    return tag != nullptr && tag->GetDiskType() == TAG_UVW ? static_cast<UVWTag*>(tag) : nullptr;
  }
  static const UVWTag* Cast(const BaseTag* tag) { return Cast(const_cast<BaseTag*>(tag)); }

  const UVWPolygon* GetUVWR() const { return static_cast<const UVWPolygon*>(_data); }
  UVWPolygon* GetUVWW() { return static_cast<UVWPolygon*>(_data); }
  // Polygon i decoded / encoded; i outside 0..count-1 gives zeros / changes nothing.
  UVWStruct Get(Int32 i) const;
  void Set(Int32 i, const UVWStruct& uvw);
  // As PointTag::Resize.
  bool Resize(Int32 n) { return ResizeKeep(n); }
  bool GetSetting() const { return _setting; }
  void SetSetting(bool on) { _setting = on; }

  Int32 GetInfo() const override { return TAGINFO_VISIBLE | TAGINFO_MULTIPLE; }
  // SETTING as a Bool (Int32); other ids go to the node.
  bool GetDParameter(const DescID& id, GeData& out) override;
  bool SetDParameter(const DescID& id, const GeData& value) override;
  // The coordinates and the setting.
  bool CopyDataV(BaseTag* dest, COPYFLAGS flags, AliasTrans* trans) override;

 protected:
  bool OwnsChunk(Int32 id, Int32 level) const override { return id == TAG_UVW && level >= 0; }
  bool ReadData(HyperFile* hf, Int32 id, Int32 level) override;
  bool WriteData(HyperFile* hf) override;
  void NodeChunkRead() override;

 private:
  bool ReadCurrent(HyperFile* hf, Int32 level);
  bool ReadBefore12(HyperFile* hf, Int32 level);
  bool ReadSettings(HyperFile* hf, Int32 level);

  bool _setting = false;
};

}  // namespace lumora

#endif  // LUM_UVWTAG_H
