// PolygonTag (see lum_polygontag.h).
#include "objects/lum_polygontag.h"

#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

constexpr Int32 kLastPolygonArrayVersion = 11924;
constexpr Int32 kStride = Int32(sizeof(CPolygon));

}  // namespace

bool PolygonTag::WriteData(HyperFile* hf) {
  if (!hf->WriteChunkStart(TAG_POLYGON, 0) || !hf->WriteInt32(_count)) return false;
  if (_count > 0) {
    const CPolygon* p = GetPolygonR();
    if (!hf->WriteArrayMembers(&p->a, HYPERFILEARRAY_INT32, kStride, _count, 4)) return false;
  }
  return hf->WriteChunkEnd();
}

bool PolygonTag::ReadData(HyperFile* hf, Int32, Int32) {
  if (hf->GetFileVersion() > kLastPolygonArrayVersion) {
    Int32 n = 0;
    if (!hf->ReadInt32(&n)) return false;
    if (n > 0) {
      if (!CheckCount(hf, n, 16)) return false;
      void* block = AllocElements(hf, n, _elementSize);
      if (block == nullptr) return false;
      Adopt(block, n, _elementSize);
      CPolygon* p = GetPolygonW();
      if (!hf->ReadArray(&p->a, HYPERFILEARRAY_INT32, kStride, n) ||
          !hf->ReadArray(&p->b, HYPERFILEARRAY_INT32, kStride, n) ||
          !hf->ReadArray(&p->c, HYPERFILEARRAY_INT32, kStride, n) ||
          !hf->ReadArray(&p->d, HYPERFILEARRAY_INT32, kStride, n)) {
        ClearElements();
        return false;
      }
    }
  } else {
    FreeData();
    CPolygon* block = nullptr;
    Int32 n = 0;
    if (!hf->ReadPolygonArrayEx(&block, &n)) return false;
    Adopt(block, n, _elementSize);
  }
  return hf->SkipToEndChunk();
}

bool PolygonTag::CopyDataV(BaseTag* dest, COPYFLAGS, AliasTrans*) {
  if (_count <= 0) return true;
  return CopyElementsTo(static_cast<PolygonTag*>(dest));
}

}  // namespace lumora
