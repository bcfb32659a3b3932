// HyperFile: ReadAnyValue, which reads whatever value comes next with its kind, for readers that
// do not know the stream's layout beforehand (tools that show a stream).
#include <cstring>

#include "stream/lum_hyperfile_private.h"

namespace lumora {

// ---- any value ----

namespace {

// The byte order (kSwap: whether file and processor orders differ) is a template argument of
// the decoders below, so that they test it once per value, not per number.
template <bool kSwap>
inline Float32 LoadF32(const UChar* p) {
  return F32FromBits(LoadRaw<UInt32>(p, kSwap));
}
template <bool kSwap>
inline Float64 LoadF64(const UChar* p) {
  return F64FromBits(LoadRaw<UInt64>(p, kSwap));
}

// The first n elements of a typed array of type at p, into the value's heads.
template <bool kSwap>
inline void DecodeHeads(HyperFileAnyValue* v, const UChar* p, Int32 n, Int32 type) {
  switch (type) {
    case HYPERFILEARRAY_CHAR:
      for (Int32 i = 0; i < n; ++i) v->heads[i] = static_cast<Int8>(p[i]);
      return;
    case HYPERFILEARRAY_INT16:
      for (Int32 i = 0; i < n; ++i)
        v->heads[i] = static_cast<Int16>(LoadRaw<UInt16>(p + 2 * i, kSwap));
      return;
    case HYPERFILEARRAY_INT32:
      for (Int32 i = 0; i < n; ++i)
        v->heads[i] = static_cast<Int32>(LoadRaw<UInt32>(p + 4 * i, kSwap));
      return;
    case HYPERFILEARRAY_INT64:
      for (Int32 i = 0; i < n; ++i)
        v->heads[i] = static_cast<Int64>(LoadRaw<UInt64>(p + 8 * i, kSwap));
      return;
    case HYPERFILEARRAY_FLOAT32:
      for (Int32 i = 0; i < n; ++i) v->headFloats[i] = LoadF32<kSwap>(p + 4 * i);
      return;
    case HYPERFILEARRAY_FLOAT64:
    default:  // the last type: the caller has checked it is one (ElementSize > 0)
      for (Int32 i = 0; i < n; ++i) v->headFloats[i] = LoadF64<kSwap>(p + 8 * i);
      return;
  }
}

// n numbers of 4 or 8 bytes at p into the value's numbers.
template <bool kSwap>
inline void DecodeNumbers(HyperFileAnyValue* v, const UChar* p, Int64 n, bool wide) {
  if (wide) {
    v->numberCount = static_cast<Int32>(n >> 3);
    for (Int32 i = 0; i < v->numberCount; ++i) v->numbers[i] = LoadF64<kSwap>(p + 8 * i);
  } else {
    v->numberCount = static_cast<Int32>(n >> 2);
    for (Int32 i = 0; i < v->numberCount; ++i) v->numbers[i] = LoadF32<kSwap>(p + 4 * i);
  }
}

// The payload p (n bytes) of a value of kind k below 128 other than the chunk kinds.
template <bool kSwap>
inline void DecodeFixed(HyperFileAnyValue* v, Int32 k, const UChar* p, Int64 n, bool float32) {
  switch (k) {
    case HYPERFILEVALUE_CHAR:
      v->integer = static_cast<Int8>(p[0]);
      return;
    case HYPERFILEVALUE_UCHAR:
    case HYPERFILEVALUE_BOOL:
      v->integer = p[0];
      return;
    case HYPERFILEVALUE_INT16:
      v->integer = static_cast<Int16>(LoadRaw<UInt16>(p, kSwap));
      return;
    case HYPERFILEVALUE_UINT16:
      v->integer = LoadRaw<UInt16>(p, kSwap);
      return;
    case HYPERFILEVALUE_INT32:
      v->integer = static_cast<Int32>(LoadRaw<UInt32>(p, kSwap));
      return;
    case HYPERFILEVALUE_UINT32:
      v->integer = LoadRaw<UInt32>(p, kSwap);
      return;
    case HYPERFILEVALUE_INT64:
    case HYPERFILEVALUE_UINT64:
      v->integer = static_cast<Int64>(LoadRaw<UInt64>(p, kSwap));
      return;
    case HYPERFILEVALUE_FLOAT32:
    case HYPERFILEVALUE_VECTOR32:
    case HYPERFILEVALUE_MATRIX32:
      DecodeNumbers<kSwap>(v, p, n, false);
      return;
    case HYPERFILEVALUE_FLOAT64:
    case HYPERFILEVALUE_VECTOR64:
    case HYPERFILEVALUE_MATRIX64:
      DecodeNumbers<kSwap>(v, p, n, true);
      return;
    default:  // Float, Time, Vector, Matrix: the stream's Float
      DecodeNumbers<kSwap>(v, p, n, !float32);
      return;
  }
}

// How many of a counted value's elements are kept in its heads.
inline Int32 HeadsKept(const HyperFileAnyValue* v, Int32 k) {
  Int64 n = Min(v->elements, HyperFileAnyValue::kHeadCount);
  if (k != HYPERFILEVALUE_STRING && k != HYPERFILEVALUE_FILENAME) n = Min(n, v->headLimit);
  return n > 0 ? static_cast<Int32>(n) : 0;
}

// The first elements of a string, memory block or array (type: its element type) at p, n of
// them.
template <bool kSwap>
inline void StoreHeads(HyperFileAnyValue* v, Int32 k, Int32 type, const UChar* p, Int32 n) {
  if (k == HYPERFILEVALUE_STRING || k == HYPERFILEVALUE_FILENAME) {
    for (Int32 i = 0; i < n; ++i) v->heads[i] = LoadRaw<UInt16>(p + 2 * i, kHostLittle);
  } else if (k != HYPERFILEVALUE_ARRAY) {
    for (Int32 i = 0; i < n; ++i) v->heads[i] = p[i];  // memory: bytes 0..255
  } else {
    DecodeHeads<kSwap>(v, p, n, type);
  }
  v->headCount = n;
}

// The payloads of every kind below 128 (FixedPayload), for either width of Float (-1: no such
// kind).
struct Payloads {
  Int8 size[2][128];
  constexpr Payloads() : size() {
    for (Int32 k = 0; k < 128; ++k) {
      size[0][k] = static_cast<Int8>(FixedPayload(k, 8));
      size[1][k] = static_cast<Int8>(FixedPayload(k, 4));
    }
  }
};
constexpr Payloads kPayloads;

// The value at p, of which avail bytes (at least 1) lie in the buffer, decoded where it lies:
// the bytes it takes, or 0 when it does not lie whole in them or is of a layout read piece by
// piece (the older arrays, the large forms, kinds no writer uses). A chunk's bytes are decoded
// here; the caller counts the depth.
template <bool kSwap>
inline Int64 DecodeWhole(HyperFileAnyValue* v, const UChar* p, Int64 avail, bool float32,
                         bool currentArrays) {
  const Int32 k = p[0];
  if (k < HYPERFILEVALUE_MEMORY) {
    const Int64 n = kPayloads.size[float32 ? 1 : 0][k];
    if (n < 0 || n >= avail) return 0;
    if (k == HYPERFILEVALUE_CHUNKSTART) {
      v->id = static_cast<Int32>(LoadRaw<UInt32>(p + 1, kSwap));
      v->level = static_cast<Int32>(LoadRaw<UInt32>(p + 5, kSwap));
    } else if (k != HYPERFILEVALUE_CHUNKEND) {
      DecodeFixed<kSwap>(v, k, p + 1, n, float32);
    }
    v->kind = static_cast<HYPERFILEVALUE>(k);
    return 1 + n;
  }
  // Memory, strings, file names and current arrays of the small form only.
  Int64 header;
  Int64 size;
  Int32 type = HYPERFILEARRAY_CHAR;
  Int32 shift = 0;  // log2 of the element size
  if (k == HYPERFILEVALUE_MEMORY || k == HYPERFILEVALUE_STRING || k == HYPERFILEVALUE_FILENAME) {
    if (avail < 5) return 0;
    header = 5;
    size = static_cast<Int32>(LoadRaw<UInt32>(p + 1, kSwap));
    if (k != HYPERFILEVALUE_MEMORY) shift = 1;
  } else if (k == HYPERFILEVALUE_ARRAY && currentArrays) {
    if (avail < 6) return 0;
    header = 6;
    size = static_cast<Int64>(static_cast<Int32>(LoadRaw<UInt32>(p + 1, kSwap))) - 1;
    type = p[5];
    const Int32 elementSize = ElementSize(type);
    if (elementSize == 0) return 0;
    shift = __builtin_ctz(static_cast<unsigned>(elementSize));
    v->elementType = type;
  } else {
    return 0;
  }
  if (size < 0 || header + size > avail) return 0;
  v->size = size;
  v->elements = size >> shift;
  StoreHeads<kSwap>(v, k, type, p + header, HeadsKept(v, k));
  v->kind = static_cast<HYPERFILEVALUE>(k);
  return header + size;
}

}  // namespace

// ReadAnyValue for a value that lies whole in the BaseFile's buffer, read where it lies (most
// values of a stream): false, with nothing read, for any other, which the caller then reads
// piece by piece.
inline bool HyperFile::ReadBufferedAnyValue(HyperFileAnyValue* v, bool swap) {
  Int64 avail = 0;
  const UChar* p = _file.PeekBuffered(&avail);
  if (p == nullptr) return false;  // otherwise at least one byte, of an open file
  v->offset = _file.PeekPosition();
  const bool currentArrays = _version > kLastOldArrayVersion;
  const Int64 used = swap ? DecodeWhole<true>(v, p, avail, _float32, currentArrays)
                          : DecodeWhole<false>(v, p, avail, _float32, currentArrays);
  if (used == 0) {
    v->elementType = 0;
    return false;
  }
  if (p[0] == HYPERFILEVALUE_CHUNKSTART) ++_depth;
  if (p[0] == HYPERFILEVALUE_CHUNKEND) --_depth;
  _file.SkipBuffered(used);
  ReadStep();
  return true;
}

bool HyperFile::ReadAnyValue(HyperFileAnyValue* v) {
  v->kind = HYPERFILEVALUE_NONE;
  v->numberCount = 0;
  v->size = 0;
  v->elements = 0;
  v->elementType = 0;
  v->headCount = 0;
  if (_error == FILEERROR_NONE && ReadBufferedAnyValue(v, SwapNeeded())) return true;
  v->offset = GetPosition();
  if (_error != FILEERROR_NONE) return false;
  return ReadAnyValueInParts(v);
}

// ReadAnyValue for a value that does not lie whole in the buffer, read piece by piece (the
// outputs are reset and the error checked already).
bool HyperFile::ReadAnyValueInParts(HyperFileAnyValue* v) {
  const bool swap = SwapNeeded();
  UChar kind;
  if (!ReadKindByte(&kind)) return false;
  v->kind = static_cast<HYPERFILEVALUE>(kind);
  const Int32 k = kind;
  UChar p[96];
  if (k == HYPERFILEVALUE_CHUNKSTART) return ReadChunkStart(&v->id, &v->level);
  if (k == HYPERFILEVALUE_CHUNKEND) return ReadChunkEnd();
  if (k < HYPERFILEVALUE_MEMORY) {
    const Int64 n = FixedPayload(k, _float32 ? 4 : 8);
    if (n < 0) return Fail(FILEERROR_WRONG_VALUE, __LINE__);
    if (!Take(p, n)) return false;
    if (swap)
      DecodeFixed<true>(v, k, p, n, _float32);
    else
      DecodeFixed<false>(v, k, p, n, _float32);
    ReadStep();
    return true;
  }
  if (k > HYPERFILEVALUE_ARRAY) return Fail(FILEERROR_WRONG_VALUE, __LINE__);

  // Counted kinds: the counts, then up to kHeadCount elements, then the rest skipped.
  Int64 size = 0;
  Int32 elementSize = 1;
  Int32 type = HYPERFILEARRAY_CHAR;
  if (k == HYPERFILEVALUE_MEMORY64) {
    if (!Take(p, 8)) return false;
    size = static_cast<Int64>(LoadRaw<UInt64>(p, swap));
  } else if (k == HYPERFILEVALUE_ARRAY) {
    if (_version <= kLastOldArrayVersion) {
      if (!Take(p, 5)) return false;
      type = p[0];
      size = static_cast<Int32>(LoadRaw<UInt32>(p + 1, swap));
    } else {
      if (!Take(p, 5)) return false;
      const Int64 m = static_cast<Int32>(LoadRaw<UInt32>(p, swap));
      type = p[4];
      if (m == 0) {
        if (!Take(p, 8)) return false;
        size = static_cast<Int64>(LoadRaw<UInt64>(p, swap));
      } else {
        size = m - 1;
      }
    }
    elementSize = ElementSize(type);
    v->elementType = type;
  } else {
    if (!Take(p, 4)) return false;
    const Int64 m = static_cast<Int32>(LoadRaw<UInt32>(p, swap));
    if (k == HYPERFILEVALUE_MEMORY || k == HYPERFILEVALUE_STRING || k == HYPERFILEVALUE_FILENAME) {
      size = m;
      if (k != HYPERFILEVALUE_MEMORY) elementSize = 2;
    } else {
      // The older array kinds and the kinds no writer uses: the stored count, skipped as
      // SkipValue skips it.
      v->elements = m;
      v->size = m > 0 ? CountedPayload(k, m, OldSkipLayout()) : 0;
      if (!CheckRemaining(v->size)) return false;
      SkipBytes(v->size);  // inside the stream: cannot fail
      ReadStep();
      return true;
    }
  }
  if (!CheckRemaining(size)) return false;
  v->size = size;
  // Skips inside what CheckRemaining allowed cannot fail.
  if (elementSize > 0) {
    v->elements = size / elementSize;
    const Int32 n = HeadsKept(v, k);
    UChar head[HyperFileAnyValue::kHeadCount * 8];
    const Int64 headBytes = static_cast<Int64>(n) * elementSize;
    if (!Take(head, headBytes)) return false;
    if (swap)
      StoreHeads<true>(v, k, type, head, n);
    else
      StoreHeads<false>(v, k, type, head, n);
    SkipBytes(size - headBytes);
  } else {
    SkipBytes(size);
  }
  ReadStep();
  return true;
}

}  // namespace lumora
