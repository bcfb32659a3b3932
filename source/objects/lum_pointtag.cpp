// PointTag (see lum_pointtag.h).
#include "objects/lum_pointtag.h"

#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

// The last file version whose point chunks hold one vector array.
constexpr Int32 kLastVectorArrayVersion = 11924;

}  // namespace

bool PointTag::WriteData(HyperFile* hf) {
  if (!hf->WriteChunkStart(TAG_POINT, 0) || !hf->WriteInt32(_count)) return false;
  if (_count > 0) {
    const Vector64* p = GetPointR();
    const Int32 stride = Int32(sizeof(Vector64));
    if (!hf->WriteArrayMembers(&p->x, HYPERFILEARRAY_FLOAT, stride, _count, 3)) return false;
  }
  return hf->WriteChunkEnd();
}

bool PointTag::ReadData(HyperFile* hf, Int32, Int32) {
  if (hf->GetFileVersion() > kLastVectorArrayVersion) {
    Int32 n = 0;
    if (!hf->ReadInt32(&n)) return false;
    if (n > 0) {
      // Three arrays of at least 4 bytes per value (32-bit floats convert).
      if (!CheckCount(hf, n, 12)) return false;
      void* block = AllocElements(hf, n, _elementSize);
      if (block == nullptr) return false;
      Adopt(block, n, _elementSize);
      Vector64* p = GetPointW();
      const Int32 stride = Int32(sizeof(Vector64));
      if (!hf->ReadArray(&p->x, HYPERFILEARRAY_FLOAT, stride, n) ||
          !hf->ReadArray(&p->y, HYPERFILEARRAY_FLOAT, stride, n) ||
          !hf->ReadArray(&p->z, HYPERFILEARRAY_FLOAT, stride, n)) {
        ClearElements();
        return false;
      }
    }
  } else {
    Vector64* block = nullptr;
    Int32 n = 0;
    if (!hf->ReadVectorArrayEx(&block, &n)) return false;
    Adopt(block, n, _elementSize);
  }
  return hf->SkipToEndChunk();
}

bool PointTag::CopyDataV(BaseTag* dest, COPYFLAGS, AliasTrans*) {
  return CopyElementsTo(static_cast<PointTag*>(dest));
}

}  // namespace lumora
