// SegmentTag: the segments of a spline, each a point count and a closed flag.
//
// Chunk TAG_SEGMENT, level 0: Int32 count, then per segment Int32 point count and Bool closed.
// Point counts are kept as stored; the library never indexes memory with them.
#ifndef LUM_SEGMENTTAG_H
#define LUM_SEGMENTTAG_H

#include "objects/lum_variabletag.h"

namespace lumora {

struct Segment {
  Int32 cnt = 0;
  bool closed = false;
};

class SegmentTag : public VariableTag {
 public:
  SegmentTag() : VariableTag(TAG_SEGMENT, Int32(sizeof(Segment))) {}

  // tag as this class: null unless its node id is TAG_SEGMENT (a plug-in tag whose plug-in type is
  // TAG_SEGMENT is no SegmentTag).
  static SegmentTag* Cast(BaseTag* tag) {
    return tag != nullptr && tag->GetDiskType() == TAG_SEGMENT ? static_cast<SegmentTag*>(tag)
                                                               : nullptr;
  }
  static const SegmentTag* Cast(const BaseTag* tag) { return Cast(const_cast<BaseTag*>(tag)); }

  const Segment* GetSegmentR() const { return static_cast<const Segment*>(_data); }
  Segment* GetSegmentW() { return static_cast<Segment*>(_data); }
  Segment* GetSegment() { return GetSegmentW(); }
  // As PointTag::Resize.
  bool Resize(Int32 n) { return ResizeKeep(n); }
  bool CopyDataV(BaseTag* dest, COPYFLAGS flags, AliasTrans* trans) override;

 protected:
  bool OwnsChunk(Int32 id, Int32 level) const override { return id == TAG_SEGMENT && level >= 0; }
  bool ReadData(HyperFile* hf, Int32 id, Int32 level) override;
  bool WriteData(HyperFile* hf) override;
};

}  // namespace lumora

#endif  // LUM_SEGMENTTAG_H
