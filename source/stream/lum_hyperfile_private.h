// The parts of HyperFile its files share: the stream's constants, the byte order and float rule
// of single numbers, the value encoder and decoder, and the inline members the writers and
// readers of values and arrays call. Private to source/stream.
//
// The helpers are file-local (an unnamed namespace) and inline, as they were when HyperFile was
// one file: every file that calls them still gets them inlined on the paths that read and write
// one number at a time.
#ifndef LUMORA_STREAM_LUM_HYPERFILE_PRIVATE_H_
#define LUMORA_STREAM_LUM_HYPERFILE_PRIVATE_H_

#include <cstring>
#include <limits>

#include "stream/lum_hyperfile.h"
#include "stream/lum_hyperfile_bytes.h"

namespace lumora {

// The element conversions of arrays (lum_hyperfile_swap.cpp): called once per block, so across
// files.
namespace hyperfile_internal {

// Converts n elements of type from src (stride apart) into file order at out.
void EncodeElements(const UChar* src, Int64 stride, Int64 n, Int32 type, bool swap, UChar* out);

// The same for members consecutive elements at the start of each of n records: member k into
// out[k], each record read once.
void EncodeMembers(const UChar* src, Int64 stride, Int64 n, Int32 type, bool swap, Int32 members,
                   UChar* const* out);

// Converts n stored elements of diskType at src into destType at dst (stride apart). The
// pairs are the same type, or 32-bit and 64-bit floats either way.
void DecodeElements(const UChar* src, Int64 n, Int32 diskType, Int32 destType, bool swap,
                    UChar* dst, Int64 stride);

}  // namespace hyperfile_internal

namespace {

using hyperfile_internal::DecodeElements;
using hyperfile_internal::EncodeElements;
using hyperfile_internal::EncodeMembers;

const Char* const kFile = "source/lum_hyperfile";

constexpr bool kHostLittle = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Writing reports every this many steps; reading about every 1/500 of the file.
constexpr Int64 kWriteReportSteps = 50000;
constexpr Int64 kReadReportParts = 500;

// Versions whose files use older layouts.
constexpr Int32 kLastOldArrayVersion = 11903;   // kind 140: type byte, Int32 size
constexpr Int32 kLastOldFloatVersion = 11924;   // Float32 under kind 19; old array skipping
constexpr Int32 kLastColonPathVersion = 10001;  // file names may be colon-separated paths

constexpr Int64 kMaxInt32 = std::numeric_limits<Int32>::max();

// Arrays are converted through a block this large: more than the BaseFile's buffer, so that
// the block goes to the stream directly instead of being copied once more.
constexpr Int64 kBlockBytes = 65536;

// Large arrays are written through a block this large where memory allows: every write to the
// system costs about the same whatever its size, and small blocks pay that often.
constexpr Int64 kLargeBlockBytes = 1 << 20;

// Strings up to this many bytes are read without allocating.
constexpr Int32 kLocalStringBytes = 1024;

static_assert(sizeof(Vector64) == 24, "Vector64 arrays are written with stride 24");
static_assert(sizeof(CPolygon) == 16, "CPolygon is four Int32");

using hyperfile_bytes::F32Bits;
using hyperfile_bytes::F32FromBits;
using hyperfile_bytes::F64Bits;
using hyperfile_bytes::F64FromBits;
using hyperfile_bytes::IsInfOrNaN;
using hyperfile_bytes::LoadRaw;
using hyperfile_bytes::PutRaw;
using hyperfile_bytes::Swap;

// Sequential encoder of one value into a local buffer.
class Encoder {
 public:
  Encoder(UChar* p, bool swap) : _p(p), _start(p), _swap(swap) {}
  void Byte(UChar v) { *_p++ = v; }
  void U32(UInt32 v) { Put(v); }
  void U64(UInt64 v) { Put(v); }
  void F32(Float32 v) { Put(F32Bits(v)); }
  void F64(Float64 v) { Put(F64Bits(v)); }
  // The stream's Float: 32-bit with the float flag, else 64-bit.
  void Flt(Float v, bool float32) {
    if (float32)
      F32(static_cast<Float32>(v));
    else
      F64(v);
  }
  Int64 Size() const { return _p - _start; }

 private:
  template <typename U>
  void Put(U v) {
    PutRaw(_p, v, _swap);
    _p += sizeof v;
  }
  UChar* _p;
  UChar* _start;
  bool _swap;
};

class Decoder {
 public:
  Decoder(const UChar* p, bool swap) : _p(p), _swap(swap) {}
  UInt16 U16() { return Get<UInt16>(); }
  UInt32 U32() { return Get<UInt32>(); }
  UInt64 U64() { return Get<UInt64>(); }
  Float32 F32() { return F32FromBits(U32()); }
  Float64 F64() { return F64FromBits(U64()); }
  Float Flt(bool float32) { return float32 ? static_cast<Float>(F32()) : F64(); }

 private:
  template <typename U>
  U Get() {
    U v = LoadRaw<U>(_p, _swap);
    _p += sizeof v;
    return v;
  }
  const UChar* _p;
  bool _swap;
};

// The bytes of one element of an array type; 0 for a type no array has.
inline Int32 ElementSize(Int32 type) {
  switch (type) {
    case HYPERFILEARRAY_CHAR:
      return 1;
    case HYPERFILEARRAY_INT16:
      return 2;
    case HYPERFILEARRAY_INT32:
    case HYPERFILEARRAY_FLOAT32:
      return 4;
    case HYPERFILEARRAY_INT64:
    case HYPERFILEARRAY_FLOAT64:
      return 8;
    default:
      return 0;
  }
}

inline Int64 Min(Int64 a, Int64 b) { return a < b ? a : b; }

template <typename T>
void ClearOutputs(T** data, Int32* count) {
  if (data != nullptr) *data = nullptr;
  if (count != nullptr) *count = 0;
}

// An old colon-separated path: a ':' and neither '/' nor '\'.
inline bool IsColonPath(const String& path) {
  bool colon = false;
  for (Int32 i = 0; i < path.GetLength(); ++i) {
    UInt16 u = path.GetUnit(i);
    if (u == '/' || u == '\\') return false;
    if (u == ':') colon = true;
  }
  return colon;
}

// The payload SkipValue skips for a kind below 128, or -1 for a kind no value has (f: the
// bytes of a Float).
constexpr Int64 FixedPayload(Int32 kind, Int64 f) {
  switch (kind) {
    case HYPERFILEVALUE_CHUNKEND:
      return 0;
    case HYPERFILEVALUE_CHUNKSTART:
    case HYPERFILEVALUE_INT64:
    case HYPERFILEVALUE_UINT64:
    case HYPERFILEVALUE_FLOAT64:
      return 8;
    case HYPERFILEVALUE_CHAR:
    case HYPERFILEVALUE_UCHAR:
    case HYPERFILEVALUE_BOOL:
      return 1;
    case HYPERFILEVALUE_INT16:
    case HYPERFILEVALUE_UINT16:
      return 2;
    case HYPERFILEVALUE_INT32:
    case HYPERFILEVALUE_UINT32:
    case HYPERFILEVALUE_FLOAT32:
      return 4;
    case HYPERFILEVALUE_FLOAT:
      return f;
    case HYPERFILEVALUE_TIME:
      return 2 * f;
    case HYPERFILEVALUE_VECTOR:
      return 3 * f;
    case HYPERFILEVALUE_VECTOR64:
      return 24;
    case HYPERFILEVALUE_MATRIX:
      return 12 * f;
    case HYPERFILEVALUE_MATRIX64:
      return 96;
    case HYPERFILEVALUE_VECTOR32:
      return 12;
    case HYPERFILEVALUE_MATRIX32:
      return 48;
    default:  // 0, 3..10, 30..127 and anything negative: no value has these kinds
      return -1;
  }
}

// The payload SkipValue skips for a counted kind (128..140) whose Int32 count is m; kind 140
// with m = 0 is not handled here (its size follows as an Int64).
inline Int64 CountedPayload(Int32 kind, Int64 m, bool oldLayout) {
  if (kind == HYPERFILEVALUE_VECTORARRAY && oldLayout) return 2 * m;
  if (kind == HYPERFILEVALUE_OLDRECORDARRAY && oldLayout) return (m / 44) * 84;
  return m;
}

}  // namespace

// Inline: the writers of single values pass constant sizes, and the bytes then go into the
// BaseFile's buffer without a call.
inline bool HyperFile::Emit(const void* bytes, Int64 n) {
  if (n > 0 && !_file.PutBuffered(bytes, n) && !_file.WriteBytes(bytes, n))
    return FileFailed(__LINE__);
  return true;
}

// Reads count elements of diskSize bytes; store(src, first, n) converts n whole elements. The
// elements lying whole in the BaseFile's buffer (or a memory file's block) are converted where
// they lie; an element cut by the buffer's end is read through a local block, which refills the
// buffer, and a file that cannot be peeked into is read through that block in large steps. A
// file that ends inside the run stores the whole elements before the end and fails with the
// BaseFile's error, as element-by-element reading would.
template <typename Store>
bool HyperFile::ReadElements(Int64 count, Int32 diskSize, Store&& store) {
  UChar block[kBlockBytes];
  const Int64 perBlock = static_cast<Int64>(sizeof block) / diskSize;
  const bool peekable = _file.Peekable();
  for (Int64 first = 0; first < count;) {
    Int64 have = 0;
    const UChar* lying = peekable ? _file.PeekReadable(&have) : nullptr;
    Int64 n = Min(have / diskSize, count - first);
    if (n > 0) {
      store(lying, first, n);
      _file.SkipReadable(n * diskSize);
      first += n;
      continue;
    }
    n = Min(peekable ? 1 : perBlock, count - first);
    const Int64 want = n * diskSize;
    const Int64 got = _file.ReadBytes(block, want, true);
    if (got > 0) store(block, first, got / diskSize);
    if (got != want) return ShortRead(__LINE__);
    first += n;
  }
  return true;
}

inline bool HyperFile::EmitValue(const UChar* bytes, Int64 n) {
  if (!Emit(bytes, n)) return false;
  WriteSteps(1);
  return true;
}

// The small writers encode a value of n bytes straight into the BaseFile's buffer when the
// stream has no writing hook (no steps to count) and the buffer has room: ReserveValue gives
// that room, or null when the value is to be encoded into a local and emitted (EndValue does
// either).
inline UChar* HyperFile::ReserveValue(Int64 n) {
  return _writingHook == nullptr ? _file.ReserveBuffered(n) : nullptr;
}

inline bool HyperFile::EndValue(UChar* reserved, const UChar* local, Int64 n) {
  return reserved != nullptr || EmitValue(local, n);
}

}  // namespace lumora

#endif  // LUMORA_STREAM_LUM_HYPERFILE_PRIVATE_H_
