// UVWTag and the SmallUVW packing (see lum_uvwtag.h).
#include "objects/lum_uvwtag.h"

#include <cstring>

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

constexpr Int32 kLevel = 4;
constexpr Int32 kWordsPerPolygon = 8;
constexpr Float64 kLimit = 100000.0;

UInt32 Bits(Float32 f) {
  UInt32 b;
  std::memcpy(&b, &f, 4);
  return b;
}

Float32 FromBits(UInt32 b) {
  Float32 f;
  std::memcpy(&f, &b, 4);
  return f;
}

Float32 Clamp(Float64 x) {
  if (x != x) return 0.0f;
  if (x < -kLimit) x = -kLimit;
  if (x > kLimit) x = kLimit;
  return static_cast<Float32>(x);
}

UInt32 Sign(UInt32 bits) { return bits >> 31; }
UInt32 Mantissa15(UInt32 bits) { return (bits >> 8) & 0x7FFF; }
// The bits of a clamped value: no more than 100000, below 2^17, so its exponent is at most 143
// and the field at most 31.
UInt32 ExponentField(UInt32 bits) {
  const UInt32 e = (bits >> 23) & 0xFF;
  if (e < 112) return 0;
  return e - 112;
}

Float64 Unpack(UInt32 sign, UInt32 mantissa, UInt32 field) {
  if (field == 0) return sign != 0 ? -0.0 : 0.0;
  return FromBits((sign << 31) | ((field + 112) << 23) | (mantissa << 8));
}

// The fixed-point form of files before version 11600: the top two bits choose the factor, the
// other fourteen hold a two's-complement value.
Float64 FixedPoint(UInt16 v) {
  static const Float64 kFactor[4] = {0.0002, 0.002, 0.02, 0.2};
  Int32 raw = v & 0x3FFF;
  if ((raw & 0x2000) != 0) raw -= 0x4000;
  return raw * kFactor[v >> 14];
}

}  // namespace

void FromVector(const Vector64& v, SmallUVW& out) {
  const UInt32 u = Bits(Clamp(v.x)), vv = Bits(Clamp(v.y));
  const Float32 wf = Clamp(v.z);
  if (wf == 0.0f) {
    out.word0 = u;
    out.word1 = vv & ~1u;
    return;
  }
  const UInt32 w = Bits(wf);
  out.word0 = (Sign(u) << 31) | (Mantissa15(u) << 16) | (Sign(vv) << 15) | Mantissa15(vv);
  out.word1 = (Sign(w) << 31) | (Mantissa15(w) << 16) | (ExponentField(u) << 11) |
              (ExponentField(vv) << 6) | (ExponentField(w) << 1) | 1u;
}

Vector64 ToVector(const SmallUVW& in) {
  if ((in.word1 & 1u) == 0) return Vector64(FromBits(in.word0), FromBits(in.word1), 0.0);
  return Vector64(Unpack(in.word0 >> 31, (in.word0 >> 16) & 0x7FFF, (in.word1 >> 11) & 31),
                  Unpack((in.word0 >> 15) & 1, in.word0 & 0x7FFF, (in.word1 >> 6) & 31),
                  Unpack(in.word1 >> 31, (in.word1 >> 16) & 0x7FFF, (in.word1 >> 1) & 31));
}

UVWStruct UVWTag::Get(Int32 i) const {
  UVWStruct s;
  if (i < 0 || i >= _count) return s;
  const UVWPolygon& p = GetUVWR()[i];
  s.a = ToVector(p.a);
  s.b = ToVector(p.b);
  s.c = ToVector(p.c);
  s.d = ToVector(p.d);
  return s;
}

void UVWTag::Set(Int32 i, const UVWStruct& uvw) {
  if (i < 0 || i >= _count) return;
  UVWPolygon& p = GetUVWW()[i];
  FromVector(uvw.a, p.a);
  FromVector(uvw.b, p.b);
  FromVector(uvw.c, p.c);
  FromVector(uvw.d, p.d);
}

// ---- parameters ----

bool UVWTag::GetDParameter(const DescID& id, GeData& out) {
  if (id.GetDepth() > 0 && id[0].id == SETTING) {
    out = GeData(Int32(_setting ? 1 : 0));
    return true;
  }
  return BaseTag::GetDParameter(id, out);
}

bool UVWTag::SetDParameter(const DescID& id, const GeData& value) {
  if (id.GetDepth() > 0 && id[0].id == SETTING) {
    _setting = value.GetInt32() != 0;
    return true;
  }
  return BaseTag::SetDParameter(id, value);
}

void UVWTag::NodeChunkRead() {
  if (GetName().GetLength() == 0) SetName(String("UVW", STRINGENCODING_UTF8));
}

// ---- chunks ----

bool UVWTag::WriteData(HyperFile* hf) {
  if (_count > 0x7FFFFFFF / kWordsPerPolygon) {
    hf->SetError(FILEERROR_WRONG_VALUE);
    return false;
  }
  return hf->WriteChunkStart(TAG_UVW, kLevel) && hf->WriteInt32(_count) &&
         hf->WriteArray(_data, HYPERFILEARRAY_INT32, 4, _count * kWordsPerPolygon) &&
         hf->WriteBool(_setting) && hf->WriteBool(false) && hf->WriteChunkEnd();
}

bool UVWTag::ReadSettings(HyperFile* hf, Int32 level) {
  if (level > 1 && !hf->ReadBool(&_setting)) return false;
  return level <= 3 || hf->ReadBool(nullptr);
}

bool UVWTag::ReadCurrent(HyperFile* hf, Int32 level) {
  if (level == 2) {
    Float32* words = nullptr;
    Int32 n = 0;
    if (!hf->ReadFloat32ArrayEx(&words, &n)) return false;
    const Int32 count = n / kWordsPerPolygon;
    void* block = nullptr;
    if (count > 0) {
      block = AllocElements(hf, count, _elementSize);
      if (block != nullptr) std::memcpy(block, words, size_t(count) * sizeof(UVWPolygon));
    }
    DeleteMem(words);
    if (count > 0 && block == nullptr) return false;
    Adopt(block, count, _elementSize);
    return hf->ReadBool(&_setting);
  }
  Int32 count = 0;
  if (!hf->ReadInt32(&count) || !CheckCount(hf, count, 4 * kWordsPerPolygon, kWordsPerPolygon))
    return false;
  void* block = count > 0 ? AllocElements(hf, count, _elementSize) : nullptr;
  if (count > 0 && block == nullptr) return false;
  if (!hf->ReadArray(block, HYPERFILEARRAY_INT32, 4, count * kWordsPerPolygon)) {
    MemFree(block);
    return false;
  }
  Adopt(block, count, _elementSize);
  return ReadSettings(hf, level);
}

bool UVWTag::ReadBefore12(HyperFile* hf, Int32 level) {
  Int32 count = 0;
  void* block = nullptr;
  if (level < 1) {
    UInt16* values = nullptr;
    Int32 n = 0;
    if (!hf->ReadUInt16ArrayEx(&values, &n)) return false;
    count = n / 12;
    if (count > 0 && (block = AllocElements(hf, count, _elementSize)) != nullptr) {
      SmallUVW* out = static_cast<SmallUVW*>(block);
      for (Int32 k = 0; k < count * 4; ++k) {
        const UInt16* c = values + 3 * k;
        FromVector(Vector64(FixedPoint(c[0]), FixedPoint(c[1]), FixedPoint(c[2])), out[k]);
      }
    }
    DeleteMem(values);
  } else {
    Vector64* vectors = nullptr;
    Int32 n = 0;
    if (!hf->ReadVectorArrayEx(&vectors, &n)) return false;
    count = n / 4;
    if (count > 0 && (block = AllocElements(hf, count, _elementSize)) != nullptr) {
      SmallUVW* out = static_cast<SmallUVW*>(block);
      for (Int32 k = 0; k < count * 4; ++k) FromVector(vectors[k], out[k]);
    }
    DeleteMem(vectors);
  }
  if (count > 0 && block == nullptr) return false;
  Adopt(block, count, _elementSize);
  return ReadSettings(hf, level);
}

bool UVWTag::ReadData(HyperFile* hf, Int32, Int32 level) {
  const bool ok = hf->Before12() ? ReadBefore12(hf, level) : ReadCurrent(hf, level);
  return ok && hf->SkipToEndChunk();
}

bool UVWTag::CopyDataV(BaseTag* dest, COPYFLAGS, AliasTrans*) {
  UVWTag* d = static_cast<UVWTag*>(dest);
  d->_setting = _setting;
  return CopyElementsTo(d);
}

}  // namespace lumora
