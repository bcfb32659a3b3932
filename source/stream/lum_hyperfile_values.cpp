// HyperFile: the writers and readers of single values (numbers, vectors, matrices, times,
// strings, file names and memory blocks).
#include <cstring>
#include <initializer_list>

#include "lum_memory.h"
#include "platform/lum_platform.h"
#include "stream/lum_hyperfile_private.h"

namespace lumora {

// ---- writers ----

bool HyperFile::WriteUChar(UChar value) {
  if (_error != FILEERROR_NONE) return false;
  UChar b[2] = {HYPERFILEVALUE_UCHAR, value};
  UChar* at = ReserveValue(2);
  if (at != nullptr) std::memcpy(at, b, 2);
  return EndValue(at, b, 2);
}

// Kept out of line: the inline writers try PutUInt32Value first and should stay small.
__attribute__((noinline)) bool HyperFile::WriteUInt32Kind(HYPERFILEVALUE kind, UInt32 value) {
  if (_error != FILEERROR_NONE) return false;
  UChar b[5];
  Encoder e(b, SwapNeeded());
  e.Byte(static_cast<UChar>(kind));
  e.U32(value);
  return EmitValue(b, e.Size());
}

bool HyperFile::WriteInt64(Int64 value) {
  if (_error != FILEERROR_NONE) return false;
  UChar b[9];
  UChar* at = ReserveValue(9);
  Encoder e(at != nullptr ? at : b, SwapNeeded());
  e.Byte(HYPERFILEVALUE_INT64);
  e.U64(static_cast<UInt64>(value));
  return EndValue(at, b, 9);
}

bool HyperFile::WriteFloat32(Float32 value) {
  if (_error != FILEERROR_NONE) return false;
  UChar b[5];
  UChar* at = ReserveValue(5);
  Encoder e(at != nullptr ? at : b, SwapNeeded());
  // Older versions read a 32-bit float under the Float kind.
  e.Byte(_version <= kLastOldFloatVersion ? HYPERFILEVALUE_FLOAT : HYPERFILEVALUE_FLOAT32);
  e.F32(value);
  return EndValue(at, b, 5);
}

bool HyperFile::WriteFloat(Float value) {
  if (_error != FILEERROR_NONE) return false;
  UChar b[9];
  const Int64 n = _float32 ? 5 : 9;
  UChar* at = ReserveValue(n);
  Encoder e(at != nullptr ? at : b, SwapNeeded());
  e.Byte(HYPERFILEVALUE_FLOAT);
  e.Flt(value, _float32);
  return EndValue(at, b, n);
}

bool HyperFile::WriteBool(bool value) {
  if (_error != FILEERROR_NONE) return false;
  UChar b[2] = {HYPERFILEVALUE_BOOL, static_cast<UChar>(value ? 1 : 0)};
  UChar* at = ReserveValue(2);
  if (at != nullptr) std::memcpy(at, b, 2);
  return EndValue(at, b, 2);
}

bool HyperFile::WriteTime(const BaseTime& value) {
  if (_error != FILEERROR_NONE) return false;
  UChar b[17];
  const Int64 n = _float32 ? 9 : 17;
  UChar* at = ReserveValue(n);
  Encoder e(at != nullptr ? at : b, SwapNeeded());
  e.Byte(HYPERFILEVALUE_TIME);
  e.Flt(value.GetNumerator(), _float32);
  e.Flt(value.GetDenominator(), _float32);
  return EndValue(at, b, n);
}

bool HyperFile::WriteVector(const Vector64& value) {
  if (_error != FILEERROR_NONE) return false;
  UChar b[25];
  Encoder e(b, SwapNeeded());
  e.Byte(HYPERFILEVALUE_VECTOR);
  e.Flt(value.x, _float32);
  e.Flt(value.y, _float32);
  e.Flt(value.z, _float32);
  return EmitValue(b, e.Size());
}

bool HyperFile::WriteVector32(const Vector32& value) {
  if (_error != FILEERROR_NONE) return false;
  UChar b[13];
  Encoder e(b, SwapNeeded());
  e.Byte(HYPERFILEVALUE_VECTOR32);
  e.F32(value.x);
  e.F32(value.y);
  e.F32(value.z);
  return EmitValue(b, e.Size());
}

bool HyperFile::WriteVector64(const Vector64& value) {
  if (_error != FILEERROR_NONE) return false;
  UChar b[25];
  Encoder e(b, SwapNeeded());
  e.Byte(HYPERFILEVALUE_VECTOR64);
  e.F64(value.x);
  e.F64(value.y);
  e.F64(value.z);
  return EmitValue(b, e.Size());
}

bool HyperFile::WriteMatrix(const Matrix64& value) {
  if (_error != FILEERROR_NONE) return false;
  UChar b[97];
  Encoder e(b, SwapNeeded());
  e.Byte(HYPERFILEVALUE_MATRIX);
  for (const Vector64* v : {&value.off, &value.v1, &value.v2, &value.v3}) {
    e.Flt(v->x, _float32);
    e.Flt(v->y, _float32);
    e.Flt(v->z, _float32);
  }
  return EmitValue(b, e.Size());
}

bool HyperFile::WriteUnits(HYPERFILEVALUE kind, const UInt16* units, Int32 count) {
  if (_error != FILEERROR_NONE) return false;
  if (count < 0 || count > kMaxInt32 / 2) return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  UChar block[4096];
  Encoder e(block, SwapNeeded());
  e.Byte(static_cast<UChar>(kind));
  e.U32(static_cast<UInt32>(2 * count));
  Int64 used = e.Size();
  for (Int32 i = 0; i < count;) {
    Int32 n = static_cast<Int32>(Min(count - i, (static_cast<Int64>(sizeof block) - used) / 2));
    UChar* out = block + used;
    for (Int32 j = 0; j < n; ++j) PutRaw(out + 2 * j, units[i + j], kHostLittle);
    used += 2 * static_cast<Int64>(n);
    i += n;
    if (i < count) {
      if (!Emit(block, used)) return false;
      used = 0;
    }
  }
  return EmitValue(block, used);
}

bool HyperFile::WriteString(const String& value) {
  return WriteUnits(HYPERFILEVALUE_STRING, value.GetUnits(), value.GetLength());
}

bool HyperFile::WriteFilename(const Filename& value) {
  const String& path = value.GetPath();
  return WriteUnits(HYPERFILEVALUE_FILENAME, path.GetUnits(), path.GetLength());
}

bool HyperFile::WriteMemory(const void* data, Int64 size) {
  if (_error != FILEERROR_NONE) return false;
  if (size < 0 || (size > 0 && data == nullptr)) return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  // A small block in a stream without a writing hook (every node's marker, every link's
  // record): encoded straight into the BaseFile's buffer when it has room.
  if (size <= 512 && _writingHook == nullptr) {
    if (UChar* at = _file.ReserveBuffered(5 + size)) {
      at[0] = static_cast<UChar>(HYPERFILEVALUE_MEMORY);
      PutRaw(at + 1, static_cast<UInt32>(size), SwapNeeded());
      if (size > 0) std::memcpy(at + 5, data, static_cast<size_t>(size));
      return true;
    }
  }
  UChar b[9 + 512];
  Encoder e(b, SwapNeeded());
  if (size <= kMaxInt32) {
    e.Byte(HYPERFILEVALUE_MEMORY);
    e.U32(static_cast<UInt32>(size));
  } else {
    e.Byte(HYPERFILEVALUE_MEMORY64);
    e.U64(static_cast<UInt64>(size));
  }
  Int64 head = e.Size();
  if (size <= 512) {
    if (size > 0) std::memcpy(b + head, data, static_cast<size_t>(size));
    return EmitValue(b, head + size);
  }
  if (!Emit(b, head) || !Emit(data, size)) return false;
  WriteSteps(1);
  return true;
}

// ---- readers ----

void HyperFile::ReportReadStep() {
  if (_progress >= _length / kReadReportParts) {
    // A step follows a value read, so the stream is not empty and the position lies inside it.
    const Float64 percent = static_cast<Float64>(GetPosition()) * 100.0 / _length;
    _readingHook(static_cast<Int32>(percent), _readingData);
    _progress = 0;
  }
  ++_progress;
}

// The kind byte and the payload in one read. A wrong kind gives back all but the kind byte; a
// file that ends early fails as reading the two apart would. Every failure returns a plain false,
// so that where this is inlined the optimiser sees the payload is filled whenever true comes back.
bool HyperFile::ReadHeaderAndPayload(HYPERFILEVALUE kind, UChar* payload, Int64 n) {
  if (_error != FILEERROR_NONE) return false;
  _valueStart = _file.PeekPosition();
  // The common case, a value of the kind asked for lying whole in the BaseFile's buffer: taken
  // from there (a value kind is never a chunk's start or end, whose bytes keep the depth).
  Int64 have = 0;
  const UChar* at = _file.PeekBuffered(&have);
  if (at != nullptr && have >= 1 + n && static_cast<Int32>(at[0]) == static_cast<Int32>(kind) &&
      kind != HYPERFILEVALUE_CHUNKSTART && kind != HYPERFILEVALUE_CHUNKEND) {
    std::memcpy(payload, at + 1, static_cast<size_t>(n));
    _file.SkipBuffered(1 + n);
    return true;
  }
  UChar value[1 + 96];
  const Int64 got = _file.ReadBytes(value, 1 + n, true);
  if (got < 1) {
    ShortRead(__LINE__);
    return false;
  }
  if (value[0] == HYPERFILEVALUE_CHUNKSTART) ++_depth;
  if (value[0] == HYPERFILEVALUE_CHUNKEND) --_depth;
  if (static_cast<Int32>(value[0]) != static_cast<Int32>(kind)) {
    if (got > 1 && !_file.Seek(1 - got, FILESEEK_RELATIVE))
      FileFailed(__LINE__);
    else
      Fail(FILEERROR_WRONG_VALUE, __LINE__);
    return false;
  }
  if (got != 1 + n) {
    ShortRead(__LINE__);
    return false;
  }
  std::memcpy(payload, value + 1, static_cast<size_t>(n));
  return true;
}

bool HyperFile::ReadCountedHeader(HYPERFILEVALUE kind, Int32* n) {
  UChar p[4];
  if (!ReadHeaderAndPayload(kind, p, 4)) return false;
  *n = static_cast<Int32>(LoadRaw<UInt32>(p, SwapNeeded()));
  return true;
}

bool HyperFile::ReadUChar(UChar* value) {
  UChar p[1];
  if (!ReadHeaderAndPayload(HYPERFILEVALUE_UCHAR, p, 1)) return false;
  if (value != nullptr) *value = p[0];
  ReadStep();
  return true;
}

bool HyperFile::ReadInt32(Int32* value) {
  UChar p[4];
  if (!ReadHeaderAndPayload(HYPERFILEVALUE_INT32, p, 4)) return false;
  if (value != nullptr) *value = static_cast<Int32>(LoadRaw<UInt32>(p, SwapNeeded()));
  ReadStep();
  return true;
}

bool HyperFile::ReadUInt32(UInt32* value) {
  UChar p[4];
  if (!ReadHeaderAndPayload(HYPERFILEVALUE_UINT32, p, 4)) return false;
  if (value != nullptr) *value = LoadRaw<UInt32>(p, SwapNeeded());
  ReadStep();
  return true;
}

bool HyperFile::ReadInt64(Int64* value) {
  UChar p[8];
  if (!ReadHeaderAndPayload(HYPERFILEVALUE_INT64, p, 8)) return false;
  if (value != nullptr) *value = static_cast<Int64>(LoadRaw<UInt64>(p, SwapNeeded()));
  ReadStep();
  return true;
}

bool HyperFile::ReadFloat32(Float32* value) {
  HYPERFILEVALUE kind =
      _version > kLastOldFloatVersion ? HYPERFILEVALUE_FLOAT32 : HYPERFILEVALUE_FLOAT;
  UChar p[4];
  if (!ReadHeaderAndPayload(kind, p, 4)) return false;
  if (value != nullptr) *value = F32FromBits(LoadRaw<UInt32>(p, SwapNeeded()));
  ReadStep();
  return true;
}

bool HyperFile::ReadFloat(Float* value) {
  UChar p[8];
  if (!ReadHeaderAndPayload(HYPERFILEVALUE_FLOAT, p, _float32 ? 4 : 8)) return false;
  Decoder d(p, SwapNeeded());
  Float v = d.Flt(_float32);
  if (value != nullptr) *value = v;
  ReadStep();
  return true;
}

bool HyperFile::ReadFloat64(Float64* value) {
  UChar p[8];
  if (!ReadHeaderAndPayload(HYPERFILEVALUE_FLOAT64, p, 8)) return false;
  if (value != nullptr) *value = F64FromBits(LoadRaw<UInt64>(p, SwapNeeded()));
  ReadStep();
  return true;
}

bool HyperFile::ReadBool(bool* value) {
  UChar p[1];
  if (!ReadHeaderAndPayload(HYPERFILEVALUE_BOOL, p, 1)) return false;
  if (value != nullptr) *value = p[0] != 0;
  ReadStep();
  return true;
}

bool HyperFile::ReadTime(BaseTime* value) {
  UChar p[16];
  if (!ReadHeaderAndPayload(HYPERFILEVALUE_TIME, p, _float32 ? 8 : 16)) return false;
  Decoder d(p, SwapNeeded());
  Float num = d.Flt(_float32);
  Float den = d.Flt(_float32);
  if (value != nullptr) *value = BaseTime(num, den);
  ReadStep();
  return true;
}

bool HyperFile::ReadVector(Vector64* value) {
  UChar p[24];
  if (!ReadHeaderAndPayload(HYPERFILEVALUE_VECTOR, p, _float32 ? 12 : 24)) return false;
  Decoder d(p, SwapNeeded());
  Vector64 v;
  v.x = d.Flt(_float32);
  v.y = d.Flt(_float32);
  v.z = d.Flt(_float32);
  if (value != nullptr) *value = v;
  ReadStep();
  return true;
}

bool HyperFile::ReadVector32(Vector32* value) {
  UChar p[12];
  if (!ReadHeaderAndPayload(HYPERFILEVALUE_VECTOR32, p, 12)) return false;
  Decoder d(p, SwapNeeded());
  Vector32 v;
  v.x = d.F32();
  v.y = d.F32();
  v.z = d.F32();
  if (value != nullptr) *value = v;
  ReadStep();
  return true;
}

bool HyperFile::ReadVector64(Vector64* value) {
  UChar p[24];
  if (!ReadHeaderAndPayload(HYPERFILEVALUE_VECTOR64, p, 24)) return false;
  Decoder d(p, SwapNeeded());
  Vector64 v;
  v.x = d.F64();
  v.y = d.F64();
  v.z = d.F64();
  if (value != nullptr) *value = v;
  ReadStep();
  return true;
}

bool HyperFile::ReadMatrix(Matrix64* value) {
  UChar p[96];
  if (!ReadHeaderAndPayload(HYPERFILEVALUE_MATRIX, p, _float32 ? 48 : 96)) return false;
  Decoder d(p, SwapNeeded());
  Matrix64 m;
  for (Vector64* v : {&m.off, &m.v1, &m.v2, &m.v3}) {
    v->x = d.Flt(_float32);
    v->y = d.Flt(_float32);
    v->z = d.Flt(_float32);
  }
  if (value != nullptr) *value = m;
  ReadStep();
  return true;
}

bool HyperFile::ReadStringUnits(HYPERFILEVALUE kind, String* out) {
  Int32 n;
  if (!ReadCountedHeader(kind, &n)) return false;
  if (n == 0) {
    *out = String();
    return true;
  }
  if (!CheckRemaining(n)) return false;
  UInt16 local[kLocalStringBytes / 2];
  UInt16* units = local;
  if (n > kLocalStringBytes) {
    units = static_cast<UInt16*>(MemAllocNC(n));
    if (units == nullptr) return Fail(FILEERROR_OUTOFMEMORY, __LINE__);
  }
  bool ok = Take(units, n);
  const Int32 count = n / 2;
  if (ok) {
    if (kHostLittle)
      for (Int32 i = 0; i < count; ++i) units[i] = Swap(units[i]);
    if (count > 0)
      out->SetUcBlock(units, count);
    else
      *out = String();
    if (out->GetLength() != count) ok = Fail(FILEERROR_OUTOFMEMORY, __LINE__);
  }
  if (units != local) DeleteMem(units);
  return ok;
}

bool HyperFile::ReadString(String* value) {
  String discard;
  if (!ReadStringUnits(HYPERFILEVALUE_STRING, value != nullptr ? value : &discard)) return false;
  ReadStep();
  return true;
}

bool HyperFile::ReadFilename(Filename* value) {
  String path;
  if (!ReadStringUnits(HYPERFILEVALUE_FILENAME, &path)) return false;
  if (_version <= kLastColonPathVersion && IsColonPath(path)) {
    // "Volume:" becomes "/Volumes/Volume/" and a "::" may become "../": at most three units
    // for every unit, and the prefix.
    const Int64 capacity = 3 * static_cast<Int64>(path.GetLength()) + 16;
    UInt16 local[1024];
    UInt16* out = local;
    if (capacity > 1024) {
      out = static_cast<UInt16*>(MemAllocNC(capacity * 2));
      if (out == nullptr) return Fail(FILEERROR_OUTOFMEMORY, __LINE__);
    }
    Int32 n = PlatformColonPathToPosix(path.GetUnits(), path.GetLength(), out,
                                       static_cast<Int32>(capacity));
    bool ok = true;
    if (n >= 0) {
      path.SetUcBlock(out, n);
      if (path.GetLength() != n) ok = Fail(FILEERROR_OUTOFMEMORY, __LINE__);
    }
    if (out != local) DeleteMem(out);
    if (!ok) return false;
  }
  if (value != nullptr) {
    const Int32 expected = Filename::NormalisedLength(path);
    value->SetString(path);
    if (value->GetPath().GetLength() != expected) return Fail(FILEERROR_OUTOFMEMORY, __LINE__);
  }
  ReadStep();
  return true;
}

bool HyperFile::ReadMemoryHeader(Int64* n) {
  if (_error != FILEERROR_NONE) return false;
  UChar kind;
  if (!ReadKindByte(&kind)) return false;
  UChar p[8];
  if (kind == HYPERFILEVALUE_MEMORY) {
    if (!Take(p, 4)) return false;
    *n = static_cast<Int32>(LoadRaw<UInt32>(p, SwapNeeded()));
  } else if (kind == HYPERFILEVALUE_MEMORY64) {
    if (!Take(p, 8)) return false;
    *n = static_cast<Int64>(LoadRaw<UInt64>(p, SwapNeeded()));
  } else {
    Fail(FILEERROR_WRONG_VALUE, __LINE__);
    return false;  // plainly false: callers read *n whenever true comes back
  }
  return *n == 0 || CheckRemaining(*n);
}

bool HyperFile::ReadMemoryInto(void* head, Int64 cap, void** data, Int64* size) {
  *data = nullptr;
  *size = 0;
  Int64 n;
  if (!ReadMemoryHeader(&n)) return false;
  if (n != 0) {
    void* block = n <= cap ? head : MemAllocNC(n);
    if (block == nullptr) return Fail(FILEERROR_OUTOFMEMORY, __LINE__);
    if (!Take(block, n)) {
      if (block != head) MemFree(block);
      return false;
    }
    *data = block;
    *size = n;
  }
  ReadStep();
  return true;
}

bool HyperFile::ReadMemory(void** data, Int64* size) {
  if (data != nullptr) *data = nullptr;
  if (size != nullptr) *size = 0;
  void* block;
  Int64 n;
  if (!ReadMemoryInto(nullptr, 0, &block, &n)) return false;
  if (data != nullptr)
    *data = block;
  else
    MemFree(block);
  if (size != nullptr) *size = n;
  return true;
}

bool HyperFile::ReadMemoryHead(void* head, Int64 cap, Int64* size) {
  if (size != nullptr) *size = 0;
  Int64 n;
  if (!ReadMemoryHeader(&n)) return false;
  const Int64 take = n < cap ? n : cap;
  if (!Take(head, take) || !SkipBytes(n - take)) return false;
  if (size != nullptr) *size = n;
  ReadStep();
  return true;
}

}  // namespace lumora
