// TangentTag (see lum_tangenttag.h).
#include "objects/lum_tangenttag.h"

#include "stream/lum_hyperfile.h"

namespace lumora {

bool TangentTag::WriteData(HyperFile* hf) {
  if (!hf->WriteChunkStart(GetType(), 0) || !hf->WriteInt32(_count)) return false;
  const Tangent* t = GetTangentR();
  for (Int32 i = 0; i < _count; ++i)
    if (!hf->WriteVector(t[i].vl) || !hf->WriteVector(t[i].vr)) return false;
  return hf->WriteChunkEnd();
}

bool TangentTag::ReadData(HyperFile* hf, Int32, Int32) {
  Int32 n = 0;
  if (!hf->ReadInt32(&n)) return false;
  FreeData();
  if (n > 0) {
    // Two vectors of a kind byte and three floats of at least 4 bytes.
    if (!CheckCount(hf, n, 26)) return false;
    void* block = AllocElements(hf, n, _elementSize);
    if (block == nullptr) return false;
    Adopt(block, n, _elementSize);
    Tangent* t = GetTangentW();
    for (Int32 i = 0; i < n; ++i)
      if (!hf->ReadVector(&t[i].vl) || !hf->ReadVector(&t[i].vr)) {
        ClearElements();
        return false;
      }
  }
  return hf->SkipToEndChunk();
}

bool TangentTag::CopyDataV(BaseTag* dest, COPYFLAGS, AliasTrans*) {
  return CopyElementsTo(static_cast<TangentTag*>(dest));
}

}  // namespace lumora
