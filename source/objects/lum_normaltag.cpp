// NormalTag (see lum_normaltag.h).
#include "objects/lum_normaltag.h"

#include <cmath>
#include <cstring>

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

constexpr Int32 kLastUInt16ArrayVersion = 11924;
constexpr Int32 kValues = 12;

Vector64 Unpack(const Int16* v) {
  return Vector64(v[0] / NormalTag::SCALE, v[1] / NormalTag::SCALE, v[2] / NormalTag::SCALE);
}

}  // namespace

NormalStruct NormalTag::Get(Int32 i) const {
  NormalStruct s;
  if (i < 0 || i >= _count) return s;
  const Int16* v = GetNormalR()[i].v;
  s.a = Unpack(v);
  s.b = Unpack(v + 3);
  s.c = Unpack(v + 6);
  s.d = Unpack(v + 9);
  return s;
}

void NormalTag::Set(Int32 i, const NormalStruct& n) {
  if (i < 0 || i >= _count) return;
  Int16* v = GetNormalW()[i].v;
  const Vector64* corners[4] = {&n.a, &n.b, &n.c, &n.d};
  for (Int32 k = 0; k < 4; ++k) {
    v[3 * k] = Pack(corners[k]->x);
    v[3 * k + 1] = Pack(corners[k]->y);
    v[3 * k + 2] = Pack(corners[k]->z);
  }
}

bool NormalTag::WriteData(HyperFile* hf) {
  if (_count > 0x7FFFFFFF / kValues) {
    hf->SetError(FILEERROR_WRONG_VALUE);
    return false;
  }
  if (!hf->WriteChunkStart(TAG_NORMAL, 0) || !hf->WriteInt32(_count)) return false;
  if (_count > 0 && !hf->WriteArray(_data, HYPERFILEARRAY_INT16, 2, _count * kValues)) return false;
  return hf->WriteChunkEnd();
}

bool NormalTag::ReadData(HyperFile* hf, Int32, Int32) {
  if (hf->GetFileVersion() > kLastUInt16ArrayVersion) {
    Int32 n = 0;
    if (!hf->ReadInt32(&n)) return false;
    if (n > 0) {
      if (!CheckCount(hf, n, 2 * kValues, kValues)) return false;
      void* block = AllocElements(hf, n, _elementSize);
      if (block == nullptr) return false;
      if (!hf->ReadArray(block, HYPERFILEARRAY_INT16, 2, n * kValues)) {
        MemFree(block);
        return false;
      }
      Adopt(block, n, _elementSize);
    }
  } else {
    UInt16* values = nullptr;
    Int32 n = 0;
    if (!hf->ReadUInt16ArrayEx(&values, &n)) return false;
    const Int32 count = n / kValues;
    void* block = count > 0 ? AllocElements(hf, count, _elementSize) : nullptr;
    if (block != nullptr) std::memcpy(block, values, size_t(count) * sizeof(NormalPolygon));
    DeleteMem(values);
    if (count > 0 && block == nullptr) return false;
    Adopt(block, count, _elementSize);
  }
  return hf->SkipToEndChunk();
}

bool NormalTag::CopyDataV(BaseTag* dest, COPYFLAGS, AliasTrans*) {
  return CopyElementsTo(static_cast<NormalTag*>(dest));
}

}  // namespace lumora
