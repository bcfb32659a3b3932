// HyperFile: arrays, written and read in blocks through the element conversions, the arrays
// that allocate their result (the Ex readers, _HFReadArray), and the counted headers of
// CDynArray.
#include <cstring>

#include "lum_memory.h"
#include "stream/lum_hyperfile_private.h"

namespace lumora {

namespace {

// WriteArrayMembers converts this many bytes of each member per step, for up to this many
// members.
constexpr Int64 kSweepBytes = kLargeBlockBytes;
constexpr Int32 kMaxSweptMembers = 8;

// The kind byte and size of an array of bytes payload bytes of type t as a file of version
// writes them, into out (14 bytes at most): their length, or 0 when that version cannot hold so
// many bytes.
Int64 ArrayHeader(UChar* out, Int32 version, bool swap, Int32 t, Int64 bytes) {
  Encoder e(out, swap);
  e.Byte(HYPERFILEVALUE_ARRAY);
  // Older versions read the type byte and then the Int32 size, and have no long form. Now the
  // Int32 counts the type byte too; a size whose count would not fit takes the long form.
  if (version <= kLastOldArrayVersion) {
    if (bytes > kMaxInt32) return 0;
    e.Byte(static_cast<UChar>(t));
    e.U32(static_cast<UInt32>(bytes));
  } else if (bytes < kMaxInt32) {
    e.U32(static_cast<UInt32>(bytes + 1));
    e.Byte(static_cast<UChar>(t));
  } else {
    e.U32(0);
    e.Byte(static_cast<UChar>(t));
    e.U64(static_cast<UInt64>(bytes));
  }
  return e.Size();
}

// A block for converted elements, freed with it; null for 0 bytes or without the memory.
struct LargeBlock {
  explicit LargeBlock(Int64 want)
      : bytes(want > 0 ? static_cast<UChar*>(MemAllocNC(want)) : nullptr) {}
  ~LargeBlock() { DeleteMem(bytes); }
  LargeBlock(const LargeBlock&) = delete;
  LargeBlock& operator=(const LargeBlock&) = delete;
  UChar* bytes;
};

}  // namespace

bool HyperFile::WriteArray(const void* data, HYPERFILEARRAY type, Int32 stride, Int32 count) {
  if (_error != FILEERROR_NONE) return false;
  Int32 t = type == HYPERFILEARRAY_FLOAT ? HYPERFILEARRAY_FLOAT64 : type;
  const Int32 size = ElementSize(t);
  if (size == 0 || count < 0 || (count > 0 && data == nullptr))
    return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  const bool swap = SwapNeeded();
  const Int64 bytes = static_cast<Int64>(count) * size;
  UChar block[kBlockBytes];
  const Int64 head = ArrayHeader(block, _version, swap, t, bytes);
  if (head == 0) return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  if (!Emit(block, head)) return false;

  const UChar* src = static_cast<const UChar*>(data);
  // Integers already in file order and packed go out as they lie.
  const bool asIs = stride == size && t != HYPERFILEARRAY_FLOAT32 && t != HYPERFILEARRAY_FLOAT64 &&
                    (!swap || size == 1);
  // Without the memory for a large block the local one does the same, in more writes.
  LargeBlock large(!asIs && bytes > kBlockBytes ? Min(bytes, kLargeBlockBytes) : 0);
  UChar* out = large.bytes != nullptr ? large.bytes : block;
  const Int64 perBlock =
      (large.bytes != nullptr ? Min(bytes, kLargeBlockBytes) : kBlockBytes) / size;
  for (Int64 first = 0; first < count;) {
    Int64 n = Min(count - first, WriteStepsBeforeReport());
    if (asIs) {
      if (!Emit(src + first * size, n * size)) return false;
    } else {
      n = Min(n, perBlock);
      EncodeElements(src + first * stride, stride, n, t, swap, out);
      if (!Emit(out, n * size)) return false;
    }
    WriteSteps(n);
    first += n;
  }
  WriteSteps(1);
  return true;
}

bool HyperFile::WriteArrayMembers(const void* data, HYPERFILEARRAY type, Int32 stride, Int32 count,
                                  Int32 members) {
  if (_error != FILEERROR_NONE) return false;
  const Int32 t = type == HYPERFILEARRAY_FLOAT ? HYPERFILEARRAY_FLOAT64 : type;
  const Int32 size = ElementSize(t);
  const Int64 bytes = static_cast<Int64>(count) * size;
  const UChar* src = static_cast<const UChar*>(data);
  // One pass over the records pays where the arrays are large, the records wider than one
  // element (every member's pass would read all of them) and the file can be written out of
  // order; there are no steps to report then. Each member has a part of the block.
  const bool sweep = size > 0 && members > 1 && members <= kMaxSweptMembers && stride > size &&
                     bytes > kSweepBytes && data != nullptr && _writingHook == nullptr &&
                     _file.CanWriteOutOfOrder();
  LargeBlock large(sweep ? members * kSweepBytes : 0);
  if (large.bytes == nullptr) {
    for (Int32 k = 0; k < members; ++k)
      if (!WriteArray(src != nullptr ? src + k * size : nullptr, type, stride, count)) return false;
    return true;
  }
  const bool swap = SwapNeeded();
  UChar header[16];
  const Int64 head = ArrayHeader(header, _version, swap, t, bytes);
  if (head == 0) return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  const Int64 perBlock = kSweepBytes / size;
  UChar* out[kMaxSweptMembers];
  for (Int32 k = 0; k < members; ++k) out[k] = large.bytes + k * perBlock * size;
  // Array k with its header starts at start + k * span.
  const Int64 start = _file.GetPosition();
  const Int64 span = head + bytes;
  for (Int64 first = 0; first < count; first += perBlock) {
    const Int64 n = Min(perBlock, count - first);
    EncodeMembers(src + first * stride, stride, n, t, swap, members, out);
    for (Int32 k = 0; k < members; ++k) {
      if (first == 0 && (!_file.Seek(start + k * span) || !_file.WriteBytes(header, head)))
        return FileFailed(__LINE__);
      if (!_file.Seek(start + k * span + head + first * size) ||
          !_file.WriteBytes(out[k], n * size))
        return FileFailed(__LINE__);
    }
  }
  if (!_file.Seek(start + members * span)) return FileFailed(__LINE__);
  return true;
}

bool HyperFile::ReadArray(void* data, HYPERFILEARRAY type, Int32 stride, Int32 count) {
  if (_error != FILEERROR_NONE) return false;
  const Int32 want = type == HYPERFILEARRAY_FLOAT ? HYPERFILEARRAY_FLOAT64 : type;
  if (ElementSize(want) == 0 || (count > 0 && data == nullptr))
    return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  if (!CheckIt(HYPERFILEVALUE_ARRAY)) return false;
  const bool swap = SwapNeeded();
  UChar p[8];
  Int64 bytes;
  Int32 stored;
  if (_version <= kLastOldArrayVersion) {
    if (!Take(p, 1)) return false;
    stored = p[0];
    if (!Take(p, 4)) return false;
    bytes = static_cast<Int32>(LoadRaw<UInt32>(p, swap));
  } else {
    if (!Take(p, 4)) return false;
    const Int32 m = static_cast<Int32>(LoadRaw<UInt32>(p, swap));
    if (!Take(p, 1)) return false;
    stored = p[0];
    if (m != 0) {
      bytes = static_cast<Int64>(m) - 1;
    } else {
      if (!Take(p, 8)) return false;
      bytes = static_cast<Int64>(LoadRaw<UInt64>(p, swap));
    }
  }
  const Int32 diskSize = ElementSize(stored);
  const Int64 storedCount = diskSize > 0 ? bytes / diskSize : 0;
  const bool floats = stored == HYPERFILEARRAY_FLOAT32 || stored == HYPERFILEARRAY_FLOAT64;
  const bool typesAgree =
      floats ? (want == HYPERFILEARRAY_FLOAT32 || want == HYPERFILEARRAY_FLOAT64) : stored == want;
  if (storedCount != count || !typesAgree) return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  if (count > 0) {
    UChar* base = static_cast<UChar*>(data);
    bool ok = ReadElements(count, diskSize, [&](const UChar* src, Int64 first, Int64 n) {
      DecodeElements(src, n, stored, want, swap, base + first * stride, stride);
    });
    if (!ok) return false;
  }
  ReadStep();
  return true;
}

// The header of an older array kind: the kind byte and the Int32 byte count n; *count is n
// divided by perCount.
bool HyperFile::ReadArrayExHeader(HYPERFILEVALUE kind, Int32 perCount, Int32* count) {
  Int32 n;
  if (!ReadCountedHeader(kind, &n)) return false;
  *count = n / perCount;
  return true;
}

// A block for count elements whose stored form takes diskBytes; null (and the error set) when
// the file cannot hold them or the block cannot be had.
void* HyperFile::AllocArrayEx(Int32 count, Int64 diskBytes, Int64 elementSize) {
  if (!CheckRemaining(count < 0 ? -1 : diskBytes)) return nullptr;
  void* block = MemAllocNC(static_cast<Int64>(count) * elementSize);
  if (block == nullptr) Fail(FILEERROR_OUTOFMEMORY, __LINE__);
  return block;
}

template <typename T>
bool HyperFile::FinishArrayEx(T* block, Int32 n, bool ok, T** data, Int32* count) {
  if (!ok) {
    DeleteMem(block);
    return false;
  }
  if (data != nullptr)
    *data = block;
  else
    DeleteMem(block);
  if (count != nullptr) *count = n;
  ReadStep();
  return true;
}

bool HyperFile::ReadFloat32ArrayEx(Float32** data, Int32* count) {
  ClearOutputs(data, count);
  if (_error != FILEERROR_NONE) return false;
  Int32 n;
  if (!ReadArrayExHeader(HYPERFILEVALUE_FLOAT32ARRAY, 4, &n)) return false;
  if (n == 0) return FinishArrayEx<Float32>(nullptr, 0, true, data, count);
  auto* block = static_cast<Float32*>(AllocArrayEx(n, 4 * static_cast<Int64>(n), 4));
  if (block == nullptr) return false;
  const bool swap = SwapNeeded();
  bool ok = ReadElements(n, 4, [&](const UChar* src, Int64 first, Int64 k) {
    for (Int64 j = 0; j < k; ++j)
      block[first + j] = F32FromBits(LoadRaw<UInt32>(src + 4 * j, swap));
  });
  return FinishArrayEx(block, n, ok, data, count);
}

bool HyperFile::ReadUInt16ArrayEx(UInt16** data, Int32* count) {
  ClearOutputs(data, count);
  if (_error != FILEERROR_NONE) return false;
  Int32 n;
  if (!ReadArrayExHeader(HYPERFILEVALUE_UINT16ARRAY, 2, &n)) return false;
  if (n == 0) return FinishArrayEx<UInt16>(nullptr, 0, true, data, count);
  auto* block = static_cast<UInt16*>(AllocArrayEx(n, 2 * static_cast<Int64>(n), 2));
  if (block == nullptr) return false;
  const bool swap = SwapNeeded();
  bool ok = ReadElements(n, 2, [&](const UChar* src, Int64 first, Int64 k) {
    for (Int64 j = 0; j < k; ++j) block[first + j] = LoadRaw<UInt16>(src + 2 * j, swap);
  });
  return FinishArrayEx(block, n, ok, data, count);
}

bool HyperFile::ReadVectorArrayEx(Vector64** data, Int32* count) {
  ClearOutputs(data, count);
  if (_error != FILEERROR_NONE) return false;
  Int32 n;
  if (!ReadArrayExHeader(HYPERFILEVALUE_VECTORARRAY, 12, &n)) return false;
  if (n == 0) return FinishArrayEx<Vector64>(nullptr, 0, true, data, count);
  // The count assumes 12 bytes a vector, but the vectors hold three of the stream's Floats.
  const bool f32 = _float32;
  const Int32 diskSize = f32 ? 12 : 24;
  auto* block = static_cast<Vector64*>(
      AllocArrayEx(n, diskSize * static_cast<Int64>(n), static_cast<Int64>(sizeof(Vector64))));
  if (block == nullptr) return false;
  const bool swap = SwapNeeded();
  bool ok = ReadElements(n, diskSize, [&](const UChar* src, Int64 first, Int64 k) {
    Decoder d(src, swap);
    for (Int64 j = 0; j < k; ++j) {
      Vector64& v = block[first + j];
      v.x = d.Flt(f32);
      v.y = d.Flt(f32);
      v.z = d.Flt(f32);
    }
  });
  return FinishArrayEx(block, n, ok, data, count);
}

bool HyperFile::ReadPolygonArrayEx(CPolygon** data, Int32* count) {
  ClearOutputs(data, count);
  if (_error != FILEERROR_NONE) return false;
  Int32 bytes;
  if (!ReadCountedHeader(HYPERFILEVALUE_POLYGONARRAY, &bytes)) return false;
  UChar p[4];
  if (!Take(p, 4)) return false;
  const bool small = LoadRaw<UInt32>(p, false) != 0;
  const Int32 diskSize = small ? 8 : 16;
  const Int32 n = bytes / diskSize;
  if (n == 0) return FinishArrayEx<CPolygon>(nullptr, 0, true, data, count);
  auto* block = static_cast<CPolygon*>(
      AllocArrayEx(n, diskSize * static_cast<Int64>(n), static_cast<Int64>(sizeof(CPolygon))));
  if (block == nullptr) return false;
  const bool swap = SwapNeeded();
  bool ok = ReadElements(n, diskSize, [&](const UChar* src, Int64 first, Int64 k) {
    Decoder d(src, swap);
    for (Int64 j = 0; j < k; ++j) {
      CPolygon& c = block[first + j];
      if (small) {
        c.a = d.U16();
        c.b = d.U16();
        c.c = d.U16();
        c.d = d.U16();
      } else {
        c.a = static_cast<Int32>(d.U32());
        c.b = static_cast<Int32>(d.U32());
        c.c = static_cast<Int32>(d.U32());
        c.d = static_cast<Int32>(d.U32());
      }
    }
  });
  return FinishArrayEx(block, n, ok, data, count);
}

// ---- array helpers ----

namespace {

// Element types, and the fewest stored bytes per element, of the _HFWriteArray forms.
template <typename T>
struct HFArrayTraits;
template <>
struct HFArrayTraits<Float32> {
  static constexpr HYPERFILEARRAY kType = HYPERFILEARRAY_FLOAT32;
  static constexpr Int64 kMinDisk = 4;  // a stored 64-bit array converts too
};
template <>
struct HFArrayTraits<Int32> {
  static constexpr HYPERFILEARRAY kType = HYPERFILEARRAY_INT32;
  static constexpr Int64 kMinDisk = 4;
};
template <>
struct HFArrayTraits<Int16> {
  static constexpr HYPERFILEARRAY kType = HYPERFILEARRAY_INT16;
  static constexpr Int64 kMinDisk = 2;
};

template <typename T>
bool WriteFlatArray(HyperFile* hf, const T* data, Int32 count) {
  if (hf == nullptr) return false;
  if (data == nullptr || count <= 0) return hf->WriteInt32(0);
  return hf->WriteInt32(count) &&
         hf->WriteArray(data, HFArrayTraits<T>::kType, static_cast<Int32>(sizeof(T)), count);
}

// Reads the Int32 count and allocates a block for it; *n is the count. A null block with true
// means a count of 0.
template <typename T>
bool BeginReadArray(HyperFile* hf, T** data, Int32* count, Int64 minDisk, T** block, Int32* n) {
  if (data != nullptr) *data = nullptr;
  if (count != nullptr) *count = 0;
  *block = nullptr;
  if (hf == nullptr || !hf->ReadInt32(n)) return false;
  if (*n == 0) return true;
  if (!hf->CheckRemaining(*n < 0 ? -1 : minDisk * *n)) return false;
  *block = static_cast<T*>(MemAlloc(static_cast<Int64>(sizeof(T)) * *n));
  if (*block == nullptr) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  return true;
}

template <typename T>
bool EndReadArray(T* block, Int32 n, bool ok, T** data, Int32* count) {
  if (!ok) {
    DeleteMem(block);
    return false;
  }
  if (data != nullptr)
    *data = block;
  else
    DeleteMem(block);
  if (count != nullptr) *count = n;
  return true;
}

template <typename T>
bool ReadFlatArray(HyperFile* hf, T** data, Int32* count) {
  T* block;
  Int32 n;
  if (!BeginReadArray(hf, data, count, HFArrayTraits<T>::kMinDisk, &block, &n)) return false;
  if (block == nullptr) return true;
  bool ok = hf->ReadArray(block, HFArrayTraits<T>::kType, static_cast<Int32>(sizeof(T)), n);
  return EndReadArray(block, n, ok, data, count);
}

// A memory value of little-endian numbers of type T.
template <typename T>
bool ReadLittleEndianMemory(HyperFile* hf, T** data, Int32* count) {
  if (data != nullptr) *data = nullptr;
  if (count != nullptr) *count = 0;
  if (hf == nullptr) return false;
  void* block;
  Int64 size;
  if (!hf->ReadMemory(&block, &size)) return false;
  const Int64 n = size / static_cast<Int64>(sizeof(T));
  if (n == 0) {
    MemFree(block);
    return true;
  }
  if (n > kMaxInt32) {
    MemFree(block);
    hf->SetError(FILEERROR_WRONG_VALUE);
    return false;
  }
  if (sizeof(T) == 4)
    lIntel(block, n);
  else
    wIntel(block, n);
  return EndReadArray(static_cast<T*>(block), static_cast<Int32>(n), true, data, count);
}

}  // namespace

bool _HFWriteArray(HyperFile* hf, const Vector64* data, Int32 count) {
  if (hf == nullptr) return false;
  if (data == nullptr || count <= 0) return hf->WriteInt32(0);
  const Int32 stride = static_cast<Int32>(sizeof(Vector64));
  return hf->WriteInt32(count) &&
         hf->WriteArrayMembers(&data->x, HYPERFILEARRAY_FLOAT, stride, count, 3);
}

bool _HFWriteArray(HyperFile* hf, const Float32* data, Int32 count) {
  return WriteFlatArray(hf, data, count);
}

bool _HFWriteArray(HyperFile* hf, const Int32* data, Int32 count) {
  return WriteFlatArray(hf, data, count);
}

bool _HFWriteArray(HyperFile* hf, const Int16* data, Int32 count) {
  return WriteFlatArray(hf, data, count);
}

bool _HFReadArray(HyperFile* hf, Vector64** data, Int32* count) {
  Vector64* block;
  Int32 n;
  // Three arrays of at least 4 bytes an element (a stored 32-bit array converts).
  if (!BeginReadArray(hf, data, count, 12, &block, &n)) return false;
  if (block == nullptr) return true;
  const Int32 stride = static_cast<Int32>(sizeof(Vector64));
  bool ok = hf->ReadArray(&block->x, HYPERFILEARRAY_FLOAT, stride, n) &&
            hf->ReadArray(&block->y, HYPERFILEARRAY_FLOAT, stride, n) &&
            hf->ReadArray(&block->z, HYPERFILEARRAY_FLOAT, stride, n);
  return EndReadArray(block, n, ok, data, count);
}

bool _HFReadArray(HyperFile* hf, Float32** data, Int32* count) {
  return ReadFlatArray(hf, data, count);
}

bool _HFReadArray(HyperFile* hf, Int32** data, Int32* count) {
  return ReadFlatArray(hf, data, count);
}

bool _HFReadArray(HyperFile* hf, Int16** data, Int32* count) {
  return ReadFlatArray(hf, data, count);
}

bool _HFReadMemoryL(HyperFile* hf, Int32** data, Int32* count) {
  return ReadLittleEndianMemory(hf, data, count);
}

bool _HFReadMemoryW(HyperFile* hf, Int16** data, Int32* count) {
  return ReadLittleEndianMemory(hf, data, count);
}

bool _HFReadMemoryVectorArray(HyperFile* hf, Vector64** data, Int32* count) {
  if (data != nullptr) *data = nullptr;
  if (count != nullptr) *count = 0;
  if (hf == nullptr) return false;
  if (hf->GetFileVersion() > 11599) return _HFReadArray(hf, data, count);
  void* memory;
  Int64 size;
  if (!hf->ReadMemory(&memory, &size)) return false;
  const Int64 n = size / 12;
  if (n == 0) {
    MemFree(memory);
    return true;
  }
  if (n > kMaxInt32) {
    MemFree(memory);
    hf->SetError(FILEERROR_WRONG_VALUE);
    return false;
  }
  auto* block = static_cast<Vector64*>(MemAlloc(static_cast<Int64>(sizeof(Vector64)) * n));
  if (block == nullptr) {
    MemFree(memory);
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  Decoder d(static_cast<const UChar*>(memory), !kHostLittle);
  for (Int64 i = 0; i < n; ++i) {
    block[i].x = d.F32();
    block[i].y = d.F32();
    block[i].z = d.F32();
  }
  MemFree(memory);
  return EndReadArray(block, static_cast<Int32>(n), true, data, count);
}

bool CDynArrayWriteHeader(HyperFile* hf, Int32 count, Int32 elementSize) {
  return hf != nullptr && hf->WriteInt32(count) && hf->WriteInt32(elementSize);
}

bool CDynArrayReadHeader(HyperFile* hf, Int32* count, Int32* elementSize) {
  return hf != nullptr && hf->ReadInt32(count) && hf->ReadInt32(elementSize);
}

}  // namespace lumora
