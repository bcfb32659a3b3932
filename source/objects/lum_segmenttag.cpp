// SegmentTag (see lum_segmenttag.h).
#include "objects/lum_segmenttag.h"

#include "stream/lum_hyperfile.h"

namespace lumora {

bool SegmentTag::WriteData(HyperFile* hf) {
  if (!hf->WriteChunkStart(TAG_SEGMENT, 0) || !hf->WriteInt32(_count)) return false;
  const Segment* s = GetSegmentR();
  for (Int32 i = 0; i < _count; ++i)
    if (!hf->WriteInt32(s[i].cnt) || !hf->WriteBool(s[i].closed)) return false;
  return hf->WriteChunkEnd();
}

bool SegmentTag::ReadData(HyperFile* hf, Int32, Int32) {
  Int32 n = 0;
  if (!hf->ReadInt32(&n)) return false;
  FreeData();
  if (n > 0) {
    // An Int32 (5 bytes) and a Bool (2 bytes) each.
    if (!CheckCount(hf, n, 7)) return false;
    void* block = AllocElements(hf, n, _elementSize);
    if (block == nullptr) return false;
    Adopt(block, n, _elementSize);
    ClearElements();  // the padding after each segment's flag is never read
    Segment* s = GetSegmentW();
    for (Int32 i = 0; i < n; ++i)
      if (!hf->ReadInt32(&s[i].cnt) || !hf->ReadBool(&s[i].closed)) return false;
  }
  return hf->SkipToEndChunk();
}

bool SegmentTag::CopyDataV(BaseTag* dest, COPYFLAGS, AliasTrans*) {
  return CopyElementsTo(static_cast<SegmentTag*>(dest));
}

}  // namespace lumora
