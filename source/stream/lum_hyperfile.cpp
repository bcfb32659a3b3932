// HyperFile: tagged values and chunks over a BaseFile.
//
// Values are encoded into a small local buffer and handed to the BaseFile in one call; arrays
// and strings are converted block by block. The bytes, positions, chunk depth and error codes
// are those of writing and reading every number with the BaseFile's typed functions, one at a
// time: the same byte order, the same float rule (infinity and NaN become 0), the same point of
// failure when the file ends early.
#include "stream/lum_hyperfile.h"

#include <cstring>
#include <initializer_list>
#include <limits>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif
#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "lum_debug.h"
#include "lum_memory.h"
#include "platform/lum_platform.h"

namespace lumora {
namespace {

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

inline UInt16 Swap(UInt16 v) { return __builtin_bswap16(v); }
inline UInt32 Swap(UInt32 v) { return __builtin_bswap32(v); }
inline UInt64 Swap(UInt64 v) { return __builtin_bswap64(v); }

// Unsigned raw numbers in file order; swap says whether file and processor orders differ.
template <typename U>
inline void PutRaw(UChar* p, U v, bool swap) {
  if (swap) v = Swap(v);
  std::memcpy(p, &v, sizeof v);
}

template <typename U>
inline U LoadRaw(const UChar* p, bool swap) {
  U v;
  std::memcpy(&v, p, sizeof v);
  return swap ? Swap(v) : v;
}

inline bool IsInfOrNaN(UInt32 bits) { return (bits & 0x7F800000u) == 0x7F800000u; }
inline bool IsInfOrNaN(UInt64 bits) {
  return (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull;
}
// Integers have no float rule.
template <typename U>
inline bool IsInfOrNaN(U) {
  return false;
}

// Float bits with the float rule: infinity and NaN become 0.
inline UInt32 F32Bits(Float32 f) {
  UInt32 b;
  std::memcpy(&b, &f, 4);
  return IsInfOrNaN(b) ? 0u : b;
}
inline UInt64 F64Bits(Float64 f) {
  UInt64 b;
  std::memcpy(&b, &f, 8);
  return IsInfOrNaN(b) ? 0ull : b;
}
inline Float32 F32FromBits(UInt32 b) {
  if (IsInfOrNaN(b)) b = 0;
  Float32 f;
  std::memcpy(&f, &b, 4);
  return f;
}
inline Float64 F64FromBits(UInt64 b) {
  if (IsInfOrNaN(b)) b = 0;
  Float64 f;
  std::memcpy(&f, &b, 8);
  return f;
}

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

Int32 ElementSize(Int32 type) {
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

inline UInt8 Swap(UInt8 v) { return v; }

// Moves n numbers of type U from src to dst (each stride apart), turning host order into file
// order (kEncode) or back, with the float rule applied to the value in host order. Packed runs
// get a loop of their own, which the compiler can vectorise.
template <typename U, bool kSwap, bool kFloat, bool kEncode>
inline U Convert(U v) {
  if (!kEncode && kSwap) v = Swap(v);
  if (kFloat && IsInfOrNaN(v)) v = 0;
  if (kEncode && kSwap) v = Swap(v);
  return v;
}

#if defined(__SSE2__)
// Packed 64-bit numbers into the other byte order two at a time, with the float rule applied
// to the host value first when kFloat: what large Float64 arrays make of Move. Returns how many
// it did (an even count; the caller does the last one).
template <bool kFloat>
Int64 EncodeSwapped64Pairs(const UChar* src, UChar* dst, Int64 n) {
  const __m128i exponent = _mm_set1_epi32(0x7FF00000);
  Int64 j = 0;
  for (; j + 2 <= n; j += 2) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8 * j));
    if (kFloat) {
      // All exponent bits set in a number's high half: infinity or NaN, stored as 0.
      const __m128i high = _mm_cmpeq_epi32(_mm_and_si128(v, exponent), exponent);
      v = _mm_andnot_si128(_mm_shuffle_epi32(high, _MM_SHUFFLE(3, 3, 1, 1)), v);
    }
    // Bytes swapped within each 16-bit word, then the four words of each number reversed.
    v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
    v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
    v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 8 * j), v);
  }
  return j;
}
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LUM_HYPERFILE_AVX2 1
// The same with AVX2, four numbers at a time, for the processors that have it (one byte shuffle
// instead of the four steps of SSE2): the bulk of large Float64 and Int64 arrays. Returns how
// many it did (a multiple of 4).
template <bool kFloat>
__attribute__((target("avx2"))) Int64 EncodeSwapped64Quads(const UChar* src, UChar* dst,
                                                            Int64 n) {
  const __m256i exponent = _mm256_set1_epi64x(0x7FF0000000000000ll);
  const __m256i reverse = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,
                                           7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
  Int64 j = 0;
  for (; j + 4 <= n; j += 4) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 8 * j));
    if (kFloat) {
      const __m256i special = _mm256_cmpeq_epi64(_mm256_and_si256(v, exponent), exponent);
      v = _mm256_andnot_si256(special, v);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 8 * j), _mm256_shuffle_epi8(v, reverse));
  }
  return j;
}

// Asked of the processor on first use, not at start: __builtin_cpu_supports would bring a
// static initialiser whose CPUID calls every program linking the library pays for at start, and
// under a hypervisor each costs a trap.
bool HasAvx2() {
  static const bool has = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0)
      return false;
    // The system saves the vector registers' upper halves (XCR0 bits 1 and 2).
    unsigned xcr0 = 0, xcr0High = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    if ((xcr0 & 6u) != 6u) return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 && (b & bit_AVX2) != 0;
  }();
  return has;
}
#endif

#if defined(LUM_HYPERFILE_AVX2)
// Whole numbers of two or four bytes with their bytes reversed, 32 bytes per step (the UVW
// words and the normals of a mesh, both ways). Returns how many it did.
template <typename U>
__attribute__((target("avx2"))) Int64 SwapSmallWords(const UChar* src, UChar* dst, Int64 n) {
  const __m256i reverse =
      sizeof(U) == 4
          ? _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7,
                             6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12)
          : _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5,
                             4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  constexpr Int64 kPerStep = 32 / static_cast<Int64>(sizeof(U));
  Int64 j = 0;
  for (; j + kPerStep <= n; j += kPerStep) {
    const __m256i v =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + sizeof(U) * j));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + sizeof(U) * j),
                        _mm256_shuffle_epi8(v, reverse));
  }
  return j;
}
#endif

template <typename U, bool kSwap, bool kFloat, bool kEncode>
void Move(const UChar* src, Int64 srcStride, UChar* dst, Int64 dstStride, Int64 n) {
  constexpr Int64 w = sizeof(U);
  if (srcStride == w && dstStride == w) {
    Int64 first = 0;
#if defined(LUM_HYPERFILE_AVX2)
    if constexpr ((std::is_same<U, UInt32>::value || std::is_same<U, UInt16>::value) && kSwap &&
                  !kFloat) {
      if (HasAvx2()) first = SwapSmallWords<U>(src, dst, n);
    }
#endif
#if defined(__SSE2__)
    if constexpr (std::is_same<U, UInt64>::value && kSwap && kEncode) {
#if defined(LUM_HYPERFILE_AVX2)
      if (HasAvx2()) first = EncodeSwapped64Quads<kFloat>(src, dst, n);
#endif
      first += EncodeSwapped64Pairs<kFloat>(src + 8 * first, dst + 8 * first, n - first);
    }
#endif
    for (Int64 j = first; j < n; ++j) {
      U v;
      std::memcpy(&v, src + j * w, w);
      v = Convert<U, kSwap, kFloat, kEncode>(v);
      std::memcpy(dst + j * w, &v, w);
    }
    return;
  }
  for (Int64 j = 0; j < n; ++j) {
    U v;
    std::memcpy(&v, src + j * srcStride, w);
    v = Convert<U, kSwap, kFloat, kEncode>(v);
    std::memcpy(dst + j * dstStride, &v, w);
  }
}

template <typename U, bool kFloat, bool kEncode>
void MoveEither(bool swap, const UChar* src, Int64 srcStride, UChar* dst, Int64 dstStride,
                Int64 n) {
  if (swap)
    Move<U, true, kFloat, kEncode>(src, srcStride, dst, dstStride, n);
  else
    Move<U, false, kFloat, kEncode>(src, srcStride, dst, dstStride, n);
}

// Moves n elements of the same type between memory (stride apart) and file order (packed).
template <bool kEncode>
void MoveElements(Int32 type, bool swap, const UChar* src, Int64 srcStride, UChar* dst,
                  Int64 dstStride, Int64 n) {
  switch (type) {
    case HYPERFILEARRAY_CHAR:
      Move<UInt8, false, false, kEncode>(src, srcStride, dst, dstStride, n);
      return;
    case HYPERFILEARRAY_INT16:
      MoveEither<UInt16, false, kEncode>(swap, src, srcStride, dst, dstStride, n);
      return;
    case HYPERFILEARRAY_INT32:
      MoveEither<UInt32, false, kEncode>(swap, src, srcStride, dst, dstStride, n);
      return;
    case HYPERFILEARRAY_INT64:
      MoveEither<UInt64, false, kEncode>(swap, src, srcStride, dst, dstStride, n);
      return;
    case HYPERFILEARRAY_FLOAT32:
      MoveEither<UInt32, true, kEncode>(swap, src, srcStride, dst, dstStride, n);
      return;
    case HYPERFILEARRAY_FLOAT64:
      MoveEither<UInt64, true, kEncode>(swap, src, srcStride, dst, dstStride, n);
      return;
    default:
      return;
  }
}

// Converts n elements of type from src (stride apart) into file order at out.
void EncodeElements(const UChar* src, Int64 stride, Int64 n, Int32 type, bool swap, UChar* out) {
  MoveElements<true>(type, swap, src, stride, out, ElementSize(type), n);
}

// Converts n stored elements of diskType at src into destType at dst (stride apart). The
// pairs are the same type, or 32-bit and 64-bit floats either way.
void DecodeElements(const UChar* src, Int64 n, Int32 diskType, Int32 destType, bool swap,
                    UChar* dst, Int64 stride) {
  if (diskType == HYPERFILEARRAY_FLOAT32 && destType == HYPERFILEARRAY_FLOAT64) {
    for (Int64 j = 0; j < n; ++j) {
      Float64 f = F32FromBits(LoadRaw<UInt32>(src + 4 * j, swap));
      std::memcpy(dst + j * stride, &f, 8);
    }
  } else if (diskType == HYPERFILEARRAY_FLOAT64 && destType == HYPERFILEARRAY_FLOAT32) {
    for (Int64 j = 0; j < n; ++j) {
      Float32 f = static_cast<Float32>(F64FromBits(LoadRaw<UInt64>(src + 8 * j, swap)));
      std::memcpy(dst + j * stride, &f, 4);
    }
  } else {
    MoveElements<false>(diskType, swap, src, ElementSize(diskType), dst, stride, n);
  }
}

inline Int64 Min(Int64 a, Int64 b) { return a < b ? a : b; }

template <typename T>
void ClearOutputs(T** data, Int32* count) {
  if (data != nullptr) *data = nullptr;
  if (count != nullptr) *count = 0;
}

// The length Filename::SetString leaves of path.
Int32 NormalisedLength(const String& path) {
  Int32 n = path.GetLength();
  if (n >= 2 && path.GetUnit(n - 1) == '/') --n;
  while (n > 0 && path.GetUnit(n - 1) == ' ') --n;
  return n;
}

// An old colon-separated path: a ':' and neither '/' nor '\'.
bool IsColonPath(const String& path) {
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
Int64 CountedPayload(Int32 kind, Int64 m, bool oldLayout) {
  if (kind == HYPERFILEVALUE_VECTORARRAY && oldLayout) return 2 * m;
  if (kind == HYPERFILEVALUE_OLDRECORDARRAY && oldLayout) return (m / 44) * 84;
  return m;
}

}  // namespace

// ---- state ----

HyperFile::HyperFile() = default;

HyperFile::~HyperFile() { _file.Close(); }

bool HyperFile::Open(const Filename& name, FILEOPEN mode) {
  _file.Close();
  _error = FILEERROR_NONE;
  _valueStart = 0;
  _errorAt = 0;
  _depth = 0;
  _progress = 0;
  _length = 0;
  _mode = mode;
  if (mode != FILEOPEN_READ && mode != FILEOPEN_WRITE) return Fail(FILEERROR_INVALID, __LINE__);
  if (!_file.Open(name, mode, FILEDIALOG_NONE, BYTEORDER_MOTOROLA, 0, 0))
    return FileFailed(__LINE__);
  if (mode == FILEOPEN_READ) {
    _length = _file.GetLength();
    if (_file.GetError() != FILEERROR_NONE) return FileFailed(__LINE__);
  }
  return true;
}

bool HyperFile::Close() {
  if (!_file.Close() && _error == FILEERROR_NONE) FileFailed(__LINE__);
  return _error == FILEERROR_NONE;
}

void HyperFile::SetError(FILEERROR error) {
  if (error != FILEERROR_NONE && _error == FILEERROR_NONE) NoteErrorPosition();
  _error = error;
  if (error != FILEERROR_NONE) _GeDebugBreak(__LINE__, kFile);
}

Int64 HyperFile::GetPosition() { return _file.IsOpen() ? _file.GetPosition() : 0; }

void HyperFile::SetReadingHook(HyperFileReadingHook hook, void* data) {
  _readingHook = hook;
  _readingData = data;
}

void HyperFile::SetWritingHook(HyperFileWritingHook hook, void* data) {
  _writingHook = hook;
  _writingData = data;
}

void HyperFile::NoteErrorPosition() {
  _errorAt = _mode == FILEOPEN_READ ? _valueStart : _file.PeekPosition();
}

bool HyperFile::Fail(FILEERROR error, Int32 line) {
  if (_error == FILEERROR_NONE) NoteErrorPosition();
  _error = error;
  _GeDebugBreak(line, kFile);
  return false;
}

bool HyperFile::FileFailed(Int32 line) {
  FILEERROR error = _file.GetError();
  return Fail(error != FILEERROR_NONE ? error : FILEERROR_INVALID, line);
}

Int64 HyperFile::BytesLeft() {
  if (!_file.IsOpen() || _file.GetMode() != FILEOPEN_READ) return -1;
  return _file.GetLength() - _file.GetPosition();
}

bool HyperFile::CheckRemaining(Int64 bytes) {
  if (_error != FILEERROR_NONE) return false;
  Int64 left = BytesLeft();
  if (bytes < 0 || left < 0 || bytes > left) return Fail(FILEERROR_READ, __LINE__);
  return true;
}

// ---- progress ----

void HyperFile::ReadStep() {
  if (_readingHook == nullptr) return;
  if (_progress >= _length / kReadReportParts) {
    Float64 percent = _length > 0 ? static_cast<Float64>(GetPosition()) * 100.0 / _length : 0.0;
    if (percent < 0.0) percent = 0.0;
    if (percent > 100.0) percent = 100.0;
    _readingHook(static_cast<Int32>(percent), _readingData);
    _progress = 0;
  }
  ++_progress;
}

// Steps up to and including the next one that reports (callers end a block of elements there,
// so that the hook sees the position right after the element that reported).
Int64 HyperFile::WriteStepsBeforeReport() const {
  if (_writingHook == nullptr) return std::numeric_limits<Int64>::max();
  if (_progress >= kWriteReportSteps) return 1;
  return kWriteReportSteps - _progress + 1;
}

void HyperFile::WriteSteps(Int64 n) {
  if (_writingHook == nullptr) return;
  while (n > 0) {
    if (_progress >= kWriteReportSteps) {
      _writingHook(GetPosition(), _writingData);
      _progress = 0;
    }
    Int64 quiet = Min(n, kWriteReportSteps - _progress);
    _progress += quiet;
    n -= quiet;
  }
}

// ---- raw access ----

// Inline: the writers of single values pass constant sizes, and the bytes then go into the
// BaseFile's buffer without a call.
inline bool HyperFile::Emit(const void* bytes, Int64 n) {
  if (n > 0 && !_file.PutBuffered(bytes, n) && !_file.WriteBytes(bytes, n))
    return FileFailed(__LINE__);
  return true;
}

// Bytes that lie whole in the BaseFile's buffer are copied from there: the small values of a
// stream, read one after another, would otherwise each pay for a call of ReadBytes and its
// checks.
bool HyperFile::Take(void* bytes, Int64 n) {
  if (n <= 0) return true;
  Int64 have = 0;
  const UChar* at = _file.PeekBuffered(&have);
  if (at != nullptr && have >= n) {
    std::memcpy(bytes, at, static_cast<size_t>(n));
    _file.SkipBuffered(n);
    return true;
  }
  if (_file.ReadBytes(bytes, n, false) != n) return FileFailed(__LINE__);
  return true;
}

bool HyperFile::ReadKindByte(UChar* kind) {
  _valueStart = _file.PeekPosition();
  UChar b = 0;
  if (!Take(&b, 1)) return false;
  if (b == HYPERFILEVALUE_CHUNKSTART) ++_depth;
  if (b == HYPERFILEVALUE_CHUNKEND) --_depth;
  *kind = b;
  return true;
}

// The kind byte and the payload in one read. A wrong kind gives back all but the kind byte; a
// file that ends early fails as reading the two apart would.
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
  if (got < 1) return ShortRead(__LINE__);
  if (value[0] == HYPERFILEVALUE_CHUNKSTART) ++_depth;
  if (value[0] == HYPERFILEVALUE_CHUNKEND) --_depth;
  if (static_cast<Int32>(value[0]) != static_cast<Int32>(kind)) {
    if (got > 1 && !_file.Seek(1 - got, FILESEEK_RELATIVE)) return FileFailed(__LINE__);
    return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  }
  if (got != 1 + n) return ShortRead(__LINE__);
  std::memcpy(payload, value + 1, static_cast<size_t>(n));
  return true;
}

// After a read with justTry came back short: the BaseFile records why, as a plain read would.
bool HyperFile::ShortRead(Int32 line) {
  if (_file.GetError() == FILEERROR_NONE) {
    UChar b;
    _file.ReadBytes(&b, 1, false);
  }
  return FileFailed(line);
}

bool HyperFile::ReadCountedHeader(HYPERFILEVALUE kind, Int32* n) {
  UChar p[4];
  if (!ReadHeaderAndPayload(kind, p, 4)) return false;
  *n = static_cast<Int32>(LoadRaw<UInt32>(p, SwapNeeded()));
  return true;
}

bool HyperFile::SkipBytes(Int64 n) {
  if (n <= 0) return true;
  Int64 left = BytesLeft();
  if (left >= 0) {
    if (n <= left) {
      if (!_file.Seek(n, FILESEEK_RELATIVE)) return FileFailed(__LINE__);
      return true;
    }
    if (left > 0 && !_file.Seek(left, FILESEEK_RELATIVE)) return FileFailed(__LINE__);
  }
  // The payload runs past the end: the next byte cannot be read, and the BaseFile says why.
  UChar b;
  _file.ReadBytes(&b, 1, false);
  return FileFailed(__LINE__);
}

// Reads count elements of diskSize bytes in blocks; store(src, first, n) converts n whole
// elements. A file that ends inside the run stores the whole elements before the end and
// fails with the BaseFile's error, as element-by-element reading would.
template <typename Store>
bool HyperFile::ReadElements(Int64 count, Int32 diskSize, Store&& store) {
  UChar block[kBlockBytes];
  const Int64 perBlock = static_cast<Int64>(sizeof block) / diskSize;
  for (Int64 first = 0; first < count;) {
    Int64 n = Min(perBlock, count - first);
    Int64 want = n * diskSize;
    Int64 got = _file.ReadBytes(block, want, true);
    if (got > 0) store(block, first, got / diskSize);
    if (got != want) return ShortRead(__LINE__);
    first += n;
  }
  return true;
}

// ---- chunks ----

bool HyperFile::WriteChunkStart(Int32 id, Int32 level) {
  if (_error != FILEERROR_NONE) return false;
  UChar b[9];
  UChar* at = ReserveValue(9);
  Encoder e(at != nullptr ? at : b, SwapNeeded());
  e.Byte(HYPERFILEVALUE_CHUNKSTART);
  e.U32(static_cast<UInt32>(id));
  e.U32(static_cast<UInt32>(level));
  return EndValue(at, b, 9);
}

bool HyperFile::WriteChunkEnd() {
  if (_error != FILEERROR_NONE) return false;
  UChar b = HYPERFILEVALUE_CHUNKEND;
  UChar* at = ReserveValue(1);
  if (at != nullptr) *at = b;
  return EndValue(at, &b, 1);
}

bool HyperFile::ReadChunkStart(Int32* id, Int32* level) {
  if (_error != FILEERROR_NONE) return false;
  UChar p[8];
  if (!Take(p, 8)) return false;
  Decoder d(p, SwapNeeded());
  Int32 i = static_cast<Int32>(d.U32());
  Int32 l = static_cast<Int32>(d.U32());
  if (id != nullptr) *id = i;
  if (level != nullptr) *level = l;
  ReadStep();
  return true;
}

bool HyperFile::ReadChunkEnd() {
  if (_error != FILEERROR_NONE) return false;
  if (_mode == FILEOPEN_WRITE) return Fail(FILEERROR_WRITE, __LINE__);
  ReadStep();
  return true;
}

bool HyperFile::ReadValueHeader(HYPERFILEVALUE* kind) {
  if (kind != nullptr) *kind = HYPERFILEVALUE_NONE;
  if (_error != FILEERROR_NONE) return false;
  UChar b;
  if (!ReadKindByte(&b)) return false;
  if (kind != nullptr) *kind = static_cast<HYPERFILEVALUE>(b);
  return true;
}

bool HyperFile::CheckIt(HYPERFILEVALUE kind) {
  if (_error != FILEERROR_NONE) return false;
  UChar b;
  if (!ReadKindByte(&b)) return false;
  if (static_cast<Int32>(b) != static_cast<Int32>(kind))
    return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  return true;
}

// Files of version 11924 and older without 32-bit floats size kinds 133 and 136 otherwise.
bool HyperFile::OldSkipLayout() const { return _version <= kLastOldFloatVersion && !_float32; }

bool HyperFile::SkipValue(HYPERFILEVALUE kind) {
  if (_error != FILEERROR_NONE) return false;
  const Int32 k = kind;
  const bool swap = SwapNeeded();
  Int64 skip = 0;
  if (k == HYPERFILEVALUE_MEMORY64) {
    UChar p[8];
    if (!Take(p, 8)) return false;
    skip = static_cast<Int64>(LoadRaw<UInt64>(p, swap));
  } else if (k == HYPERFILEVALUE_ARRAY && _version <= kLastOldArrayVersion) {
    // The older array header: the type byte, then the Int32 byte size.
    UChar p[5];
    if (!Take(p, 5)) return false;
    skip = static_cast<Int32>(LoadRaw<UInt32>(p + 1, swap));
  } else if (k >= HYPERFILEVALUE_MEMORY) {
    UChar p[8];
    if (!Take(p, 4)) return false;
    const Int64 m = static_cast<Int32>(LoadRaw<UInt32>(p, swap));
    if (k > HYPERFILEVALUE_ARRAY) return Fail(FILEERROR_WRONG_VALUE, __LINE__);
    if (k == HYPERFILEVALUE_ARRAY && m == 0) {
      if (!Take(p, 1) || !Take(p, 8)) return false;
      skip = static_cast<Int64>(LoadRaw<UInt64>(p, swap));
    } else {
      skip = CountedPayload(k, m, OldSkipLayout());
    }
  } else {
    skip = FixedPayload(k, _float32 ? 4 : 8);
    if (skip < 0) return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  }
  if (!SkipBytes(skip)) return false;
  ReadStep();
  return true;
}

// The values that lie whole in the BaseFile's buffer, skipped where they lie: what
// SkipToEndChunk's loop does value by value, for as long as it can be done without reading.
// Only without a reading hook (there are no progress steps to make then). Returns 1 when the
// chunk ended (true), 0 when the end of the file was reached (false), -1 to go on value by
// value with the next value, which does not lie whole in the buffer or needs SkipValue's
// failure handling.
Int32 HyperFile::SkipBufferedValues(Int32* nested) {
  Int64 avail = 0;
  const UChar* p = _file.PeekBuffered(&avail);
  if (p == nullptr) return -1;
  const bool swap = SwapNeeded();
  const bool oldLayout = OldSkipLayout();
  const Int64 f = _float32 ? 4 : 8;
  const Int64 start = _file.GetPosition();
  Int64 used = 0;
  Int32 result = -1;
  while (used < avail) {
    const Int32 kind = p[used];
    const Int64 left = avail - used - 1;  // bytes after the kind byte
    Int64 size;                           // bytes after the kind byte that the value takes
    if (kind == HYPERFILEVALUE_CHUNKEND) {
      size = 0;
    } else if (kind < HYPERFILEVALUE_MEMORY) {
      size = FixedPayload(kind, f);
      if (size < 0) break;
    } else if (kind == HYPERFILEVALUE_ARRAY && _version <= kLastOldArrayVersion) {
      if (left < 5) break;
      const Int64 n = static_cast<Int32>(LoadRaw<UInt32>(p + used + 2, swap));
      size = 5 + (n > 0 ? n : 0);
    } else if (kind == HYPERFILEVALUE_MEMORY64 || kind > HYPERFILEVALUE_ARRAY) {
      if (kind > HYPERFILEVALUE_ARRAY || left < 8) break;
      const Int64 n = static_cast<Int64>(LoadRaw<UInt64>(p + used + 1, swap));
      size = 8 + (n > 0 ? n : 0);
    } else {
      if (left < 4) break;
      const Int64 m = static_cast<Int32>(LoadRaw<UInt32>(p + used + 1, swap));
      if (kind == HYPERFILEVALUE_ARRAY && m == 0) {
        if (left < 13) break;
        const Int64 n = static_cast<Int64>(LoadRaw<UInt64>(p + used + 6, swap));
        size = 13 + (n > 0 ? n : 0);
      } else {
        const Int64 n = CountedPayload(kind, m, oldLayout);
        size = 4 + (n > 0 ? n : 0);
      }
    }
    if (size > left) break;
    used += 1 + size;
    if (kind == HYPERFILEVALUE_CHUNKEND) {
      --_depth;
      if (*nested <= 0) {
        result = 1;
        break;
      }
      --*nested;
    } else if (kind == HYPERFILEVALUE_CHUNKSTART) {
      ++_depth;
      ++*nested;
    }
    if (start + used >= _length) {
      result = 0;
      break;
    }
  }
  _file.SkipBuffered(used);
  return result;
}

bool HyperFile::SkipToEndChunk() {
  if (_error != FILEERROR_NONE) return false;
  Int32 nested = 0;
  for (;;) {
    if (_readingHook == nullptr) {
      Int32 done = SkipBufferedValues(&nested);
      if (done >= 0) return done > 0;
    }
    UChar kind;
    if (!ReadKindByte(&kind)) return Fail(FILEERROR_CHUNKEND_MISSING, __LINE__);
    if (kind == HYPERFILEVALUE_CHUNKEND) {
      if (nested <= 0) return true;
      --nested;
    } else {
      if (kind == HYPERFILEVALUE_CHUNKSTART) ++nested;
      SkipValue(static_cast<HYPERFILEVALUE>(kind));
    }
    if (_error != FILEERROR_NONE) return Fail(FILEERROR_CHUNKEND_MISSING, __LINE__);
    if (GetPosition() >= _length) return false;
  }
}

bool HyperFile::ReadUnknownChunk(void** bytes, Int64* size, bool withoutEnd) {
  if (bytes != nullptr) *bytes = nullptr;
  if (size != nullptr) *size = 0;
  if (_error != FILEERROR_NONE) return false;
  const Int64 start = GetPosition();
  // A chunk whose end is missing is not kept: its last byte would be taken for the end byte.
  if (!SkipToEndChunk()) return false;
  Int64 n = GetPosition() - start;
  if (withoutEnd && n > 0) --n;
  if (n < 1) return true;
  void* block = MemAllocNC(n);
  if (block == nullptr) return Fail(FILEERROR_OUTOFMEMORY, __LINE__);
  if (!_file.Seek(start, FILESEEK_START) || _file.ReadBytes(block, n, false) != n ||
      (withoutEnd && !_file.Seek(1, FILESEEK_RELATIVE))) {
    MemFree(block);
    return Fail(FILEERROR_SEEK, __LINE__);
  }
  if (bytes != nullptr)
    *bytes = block;
  else
    MemFree(block);
  if (size != nullptr) *size = n;
  return true;
}

bool HyperFile::WriteUnknownChunk(const void* bytes, Int64 size, bool withoutEnd) {
  if (_error != FILEERROR_NONE) return false;
  if (bytes != nullptr && size > 0 && !Emit(bytes, size)) return false;
  if (bytes == nullptr && !withoutEnd) WriteChunkEnd();
  return _error == FILEERROR_NONE;
}

// ---- writers ----

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

bool HyperFile::WriteUChar(UChar value) {
  if (_error != FILEERROR_NONE) return false;
  UChar b[2] = {HYPERFILEVALUE_UCHAR, value};
  UChar* at = ReserveValue(2);
  if (at != nullptr) std::memcpy(at, b, 2);
  return EndValue(at, b, 2);
}

// The common case of a 32-bit number, in a stream without a writing hook (no steps to count):
// encoded straight into the BaseFile's buffer when it has room, since long runs of numbers are
// what streams hold, and a copy through a local would read back bytes just stored. False, with
// nothing done, otherwise.
inline bool HyperFile::PutUInt32Value(HYPERFILEVALUE kind, UInt32 value) {
  if (_error != FILEERROR_NONE || _writingHook != nullptr) return false;
  UChar* at = _file.ReserveBuffered(5);
  if (at == nullptr) return false;
  at[0] = static_cast<UChar>(kind);
  PutRaw(at + 1, value, SwapNeeded());
  return true;
}

bool HyperFile::WriteInt32(Int32 value) {
  return PutUInt32Value(HYPERFILEVALUE_INT32, static_cast<UInt32>(value)) ||
         WriteUInt32Kind(HYPERFILEVALUE_INT32, static_cast<UInt32>(value));
}

bool HyperFile::WriteUInt32(UInt32 value) {
  return PutUInt32Value(HYPERFILEVALUE_UINT32, value) ||
         WriteUInt32Kind(HYPERFILEVALUE_UINT32, value);
}

// Kept out of line: the writers try PutUInt32Value first and should stay small.
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
  e.Byte(HYPERFILEVALUE_FLOAT32);
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

bool HyperFile::WriteArray(const void* data, HYPERFILEARRAY type, Int32 stride, Int32 count) {
  if (_error != FILEERROR_NONE) return false;
  Int32 t = type == HYPERFILEARRAY_FLOAT ? HYPERFILEARRAY_FLOAT64 : type;
  const Int32 size = ElementSize(t);
  if (size == 0 || count < 0 || (count > 0 && data == nullptr))
    return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  const bool swap = SwapNeeded();
  const Int64 bytes = static_cast<Int64>(count) * size;
  UChar block[kBlockBytes];
  Encoder e(block, swap);
  e.Byte(HYPERFILEVALUE_ARRAY);
  // The Int32 counts the type byte too; a size whose count would not fit takes the long form.
  if (bytes < kMaxInt32) {
    e.U32(static_cast<UInt32>(bytes + 1));
    e.Byte(static_cast<UChar>(t));
  } else {
    e.U32(0);
    e.Byte(static_cast<UChar>(t));
    e.U64(static_cast<UInt64>(bytes));
  }
  if (!Emit(block, e.Size())) return false;

  const UChar* src = static_cast<const UChar*>(data);
  // Integers already in file order and packed go out as they lie.
  const bool asIs = stride == size && t != HYPERFILEARRAY_FLOAT32 && t != HYPERFILEARRAY_FLOAT64 &&
                    (!swap || size == 1);
  // Without the memory for a large block the local one does the same, in more writes.
  struct LargeBlock {
    UChar* bytes = nullptr;
    ~LargeBlock() { DeleteMem(bytes); }
  } large;
  if (!asIs && bytes > kBlockBytes)
    large.bytes = static_cast<UChar*>(MemAllocNC(Min(bytes, kLargeBlockBytes)));
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

// ---- readers ----

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
    const Int32 expected = NormalisedLength(path);
    value->SetString(path);
    if (value->GetPath().GetLength() != expected) return Fail(FILEERROR_OUTOFMEMORY, __LINE__);
  }
  ReadStep();
  return true;
}

bool HyperFile::ReadMemory(void** data, Int64* size) {
  if (data != nullptr) *data = nullptr;
  if (size != nullptr) *size = 0;
  if (_error != FILEERROR_NONE) return false;
  UChar kind;
  if (!ReadKindByte(&kind)) return false;
  UChar p[8];
  Int64 n;
  if (kind == HYPERFILEVALUE_MEMORY) {
    if (!Take(p, 4)) return false;
    n = static_cast<Int32>(LoadRaw<UInt32>(p, SwapNeeded()));
  } else if (kind == HYPERFILEVALUE_MEMORY64) {
    if (!Take(p, 8)) return false;
    n = static_cast<Int64>(LoadRaw<UInt64>(p, SwapNeeded()));
  } else {
    return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  }
  if (n != 0) {
    if (!CheckRemaining(n)) return false;
    void* block = MemAllocNC(n);
    if (block == nullptr) return Fail(FILEERROR_OUTOFMEMORY, __LINE__);
    if (!Take(block, n)) {
      MemFree(block);
      return false;
    }
    if (data != nullptr)
      *data = block;
    else
      MemFree(block);
    if (size != nullptr) *size = n;
  }
  ReadStep();
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
  return hf->WriteInt32(count) && hf->WriteArray(&data->x, HYPERFILEARRAY_FLOAT, stride, count) &&
         hf->WriteArray(&data->y, HYPERFILEARRAY_FLOAT, stride, count) &&
         hf->WriteArray(&data->z, HYPERFILEARRAY_FLOAT, stride, count);
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

// ---- any value ----

namespace {

// The first n elements of a typed array of type at p, into the value's heads.
void DecodeHeads(HyperFileAnyValue* v, const UChar* p, Int32 n, Int32 type, bool swap) {
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
      for (Int32 i = 0; i < n; ++i)
        v->headFloats[i] = F64FromBits(LoadRaw<UInt64>(p + 8 * i, swap));
      return;
    default:
      return;
  }
}

// The payload p (n bytes) of a value of kind k below 128 other than the chunk kinds.
void DecodeFixed(HyperFileAnyValue* v, Int32 k, const UChar* p, Int64 n, bool swap, bool float32) {
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
      v->numberCount = static_cast<Int32>(n / (float32 ? 4 : 8));
      for (Int32 i = 0; i < v->numberCount; ++i) v->numbers[i] = d.Flt(float32);
      return;
  }
}

// The first elements of a string, memory block or array (type: its element type) at p, n of
// them.
void StoreHeads(HyperFileAnyValue* v, Int32 k, Int32 type, const UChar* p, Int32 n, bool swap) {
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

bool HyperFile::ReadAnyValue(HyperFileAnyValue* v) {
  v->kind = HYPERFILEVALUE_NONE;
  v->numberCount = 0;
  v->size = 0;
  v->elements = 0;
  v->elementType = 0;
  v->headCount = 0;
  v->offset = GetPosition();
  if (_error != FILEERROR_NONE) return false;
  const bool swap = SwapNeeded();
  if (ReadBufferedAnyValue(v, swap)) return true;
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
      if (!CheckRemaining(v->size) || !SkipBytes(v->size)) return false;
      ReadStep();
      return true;
    }
  }
  if (!CheckRemaining(size)) return false;
  v->size = size;
  if (elementSize > 0) {
    v->elements = size / elementSize;
    const Int32 n = static_cast<Int32>(Min(v->elements, HyperFileAnyValue::kHeadCount));
    UChar head[HyperFileAnyValue::kHeadCount * 8];
    const Int64 headBytes = static_cast<Int64>(n) * elementSize;
    if (!Take(head, headBytes)) return false;
    StoreHeads(v, k, type, head, n, swap);
    if (!SkipBytes(size - headBytes)) return false;
  } else if (!SkipBytes(size)) {
    return false;
  }
  ReadStep();
  return true;
}

// ReadAnyValue for a value that lies whole in the BaseFile's buffer, read where it lies (most
// values of a stream): false, with nothing read, for any other, which the caller then reads
// piece by piece.
bool HyperFile::ReadBufferedAnyValue(HyperFileAnyValue* v, bool swap) {
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
  if (p == nullptr || avail < 1) return false;
  const Int32 k = p[0];
  Int64 used;
  if (k < HYPERFILEVALUE_MEMORY) {
    const Int64 n = kPayloads.size[_float32 ? 1 : 0][k];
    if (n < 0 || 1 + n > avail) return false;
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
    Int32 elementSize = 1;
    if (k == HYPERFILEVALUE_MEMORY || k == HYPERFILEVALUE_STRING || k == HYPERFILEVALUE_FILENAME) {
      if (avail < 5) return false;
      header = 5;
      size = static_cast<Int32>(LoadRaw<UInt32>(p + 1, swap));
      if (k != HYPERFILEVALUE_MEMORY) elementSize = 2;
    } else if (k == HYPERFILEVALUE_ARRAY && _version > kLastOldArrayVersion) {
      if (avail < 6) return false;
      header = 6;
      size = static_cast<Int64>(static_cast<Int32>(LoadRaw<UInt32>(p + 1, swap))) - 1;
      type = p[5];
      elementSize = ElementSize(type);
      if (elementSize == 0) return false;
    } else {
      return false;
    }
    if (size < 0 || header + size > avail) return false;
    v->size = size;
    v->elements = size / elementSize;
    v->elementType = k == HYPERFILEVALUE_ARRAY ? type : 0;
    StoreHeads(v, k, type, p + header,
               static_cast<Int32>(Min(v->elements, HyperFileAnyValue::kHeadCount)), swap);
    used = header + size;
  }
  v->kind = static_cast<HYPERFILEVALUE>(k);
  _file.SkipBuffered(used);
  ReadStep();
  return true;
}

}  // namespace lumora
