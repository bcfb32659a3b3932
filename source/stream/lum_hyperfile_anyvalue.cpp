// HyperFile: ReadAnyValue, which reads whatever value comes next with its kind, for readers that
// do not know the stream's layout beforehand (tools that show a stream).
#include <cstring>

#include "stream/lum_hyperfile_private.h"

namespace lumora {

// ---- any value ----

namespace {

// The first n elements of a typed array of type at p, into the value's heads.
inline void DecodeHeads(HyperFileAnyValue* v, const UChar* p, Int32 n, Int32 type, bool swap) {
  switch (type) {
    case HYPERFILEARRAY_CHAR:
      for (Int32 i = 0; i < n; ++i) v->heads[i] = static_cast<Int8>(p[i]);
      return;
    case HYPERFILEARRAY_INT16:
      for (Int32 i = 0; i < n; ++i)
        v->heads[i] = static_cast<Int16>(LoadRaw<UInt16>(p + 2 * i, swap));
      return;
    case HYPERFILEARRAY_INT32:
      for (Int32 i = 0; i < n; ++i)
        v->heads[i] = static_cast<Int32>(LoadRaw<UInt32>(p + 4 * i, swap));
      return;
    case HYPERFILEARRAY_INT64:
      for (Int32 i = 0; i < n; ++i)
        v->heads[i] = static_cast<Int64>(LoadRaw<UInt64>(p + 8 * i, swap));
      return;
    case HYPERFILEARRAY_FLOAT32:
      for (Int32 i = 0; i < n; ++i)
        v->headFloats[i] = F32FromBits(LoadRaw<UInt32>(p + 4 * i, swap));
      return;
    case HYPERFILEARRAY_FLOAT64:
    default:  // the last type: the caller has checked it is one (ElementSize > 0)
      for (Int32 i = 0; i < n; ++i)
        v->headFloats[i] = F64FromBits(LoadRaw<UInt64>(p + 8 * i, swap));
      return;
  }
}

// The payload p (n bytes) of a value of kind k below 128 other than the chunk kinds.
inline void DecodeFixed(HyperFileAnyValue* v, Int32 k, const UChar* p, Int64 n, bool swap,
                        bool float32) {
  Decoder d(p, swap);
  switch (k) {
    case HYPERFILEVALUE_CHAR:
      v->integer = static_cast<Int8>(p[0]);
      return;
    case HYPERFILEVALUE_UCHAR:
    case HYPERFILEVALUE_BOOL:
      v->integer = p[0];
      return;
    case HYPERFILEVALUE_INT16:
      v->integer = static_cast<Int16>(d.U16());
      return;
    case HYPERFILEVALUE_UINT16:
      v->integer = d.U16();
      return;
    case HYPERFILEVALUE_INT32:
      v->integer = static_cast<Int32>(d.U32());
      return;
    case HYPERFILEVALUE_UINT32:
      v->integer = d.U32();
      return;
    case HYPERFILEVALUE_INT64:
    case HYPERFILEVALUE_UINT64:
      v->integer = static_cast<Int64>(d.U64());
      return;
    case HYPERFILEVALUE_FLOAT32:
    case HYPERFILEVALUE_VECTOR32:
    case HYPERFILEVALUE_MATRIX32:
      v->numberCount = static_cast<Int32>(n / 4);
      for (Int32 i = 0; i < v->numberCount; ++i) v->numbers[i] = d.F32();
      return;
    case HYPERFILEVALUE_FLOAT64:
    case HYPERFILEVALUE_VECTOR64:
    case HYPERFILEVALUE_MATRIX64:
      v->numberCount = static_cast<Int32>(n / 8);
      for (Int32 i = 0; i < v->numberCount; ++i) v->numbers[i] = d.F64();
      return;
    default:  // Float, Time, Vector, Matrix: the stream's Float
      if (float32) {
        v->numberCount = static_cast<Int32>(n >> 2);
        for (Int32 i = 0; i < v->numberCount; ++i) v->numbers[i] = d.F32();
      } else {
        v->numberCount = static_cast<Int32>(n >> 3);
        for (Int32 i = 0; i < v->numberCount; ++i) v->numbers[i] = d.F64();
      }
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
inline void StoreHeads(HyperFileAnyValue* v, Int32 k, Int32 type, const UChar* p, Int32 n,
                       bool swap) {
  if (k == HYPERFILEVALUE_STRING || k == HYPERFILEVALUE_FILENAME) {
    for (Int32 i = 0; i < n; ++i) v->heads[i] = LoadRaw<UInt16>(p + 2 * i, kHostLittle);
  } else if (k != HYPERFILEVALUE_ARRAY) {
    for (Int32 i = 0; i < n; ++i) v->heads[i] = p[i];  // memory: bytes 0..255
  } else {
    DecodeHeads(v, p, n, type, swap);
  }
  v->headCount = n;
}

}  // namespace

// ReadAnyValue for a value that lies whole in the BaseFile's buffer, read where it lies (most
// values of a stream): false, with nothing read, for any other, which the caller then reads
// piece by piece.
inline bool HyperFile::ReadBufferedAnyValue(HyperFileAnyValue* v, bool swap) {
  // FixedPayload of every kind below 128, for either width of Float (-1: no such kind).
  struct Payloads {
    Int8 size[2][128];
    constexpr Payloads() : size() {
      for (Int32 k = 0; k < 128; ++k) {
        size[0][k] = static_cast<Int8>(FixedPayload(k, 8));
        size[1][k] = static_cast<Int8>(FixedPayload(k, 4));
      }
    }
  };
  static constexpr Payloads kPayloads;
  Int64 avail = 0;
  const UChar* p = _file.PeekBuffered(&avail);
  if (p == nullptr) return false;  // otherwise at least one byte
  const Int32 k = p[0];
  Int64 used;
  if (k < HYPERFILEVALUE_MEMORY) {
    const Int64 n = kPayloads.size[_float32 ? 1 : 0][k];
    if (n < 0 || n >= avail) return false;
    if (k == HYPERFILEVALUE_CHUNKSTART) {
      v->id = static_cast<Int32>(LoadRaw<UInt32>(p + 1, swap));
      v->level = static_cast<Int32>(LoadRaw<UInt32>(p + 5, swap));
      ++_depth;
    } else if (k == HYPERFILEVALUE_CHUNKEND) {
      --_depth;
    } else {
      DecodeFixed(v, k, p + 1, n, swap, _float32);
    }
    used = 1 + n;
  } else {
    // Memory, strings, file names and current arrays of the small form only.
    Int64 header;
    Int64 size;
    Int32 type = HYPERFILEARRAY_CHAR;
    Int32 shift = 0;  // log2 of the element size
    if (k == HYPERFILEVALUE_MEMORY || k == HYPERFILEVALUE_STRING || k == HYPERFILEVALUE_FILENAME) {
      if (avail < 5) return false;
      header = 5;
      size = static_cast<Int32>(LoadRaw<UInt32>(p + 1, swap));
      if (k != HYPERFILEVALUE_MEMORY) shift = 1;
    } else if (k == HYPERFILEVALUE_ARRAY && _version > kLastOldArrayVersion) {
      if (avail < 6) return false;
      header = 6;
      size = static_cast<Int64>(static_cast<Int32>(LoadRaw<UInt32>(p + 1, swap))) - 1;
      type = p[5];
      const Int32 elementSize = ElementSize(type);
      if (elementSize == 0) return false;
      shift = __builtin_ctz(static_cast<unsigned>(elementSize));
    } else {
      return false;
    }
    if (size < 0 || header + size > avail) return false;
    v->size = size;
    v->elements = size >> shift;
    v->elementType = k == HYPERFILEVALUE_ARRAY ? type : 0;
    StoreHeads(v, k, type, p + header, HeadsKept(v, k), swap);
    used = header + size;
  }
  v->kind = static_cast<HYPERFILEVALUE>(k);
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
  v->offset = GetPosition();
  if (_error != FILEERROR_NONE) return false;
  if (ReadBufferedAnyValue(v, SwapNeeded())) return true;
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
    DecodeFixed(v, k, p, n, swap, _float32);
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
    StoreHeads(v, k, type, head, n, swap);
    SkipBytes(size - headBytes);
  } else {
    SkipBytes(size);
  }
  ReadStep();
  return true;
}

}  // namespace lumora
