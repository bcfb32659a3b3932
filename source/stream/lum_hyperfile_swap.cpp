// HyperFile: the element conversions of arrays, between the processor's order and the file's,
// with the float rule, in packed runs that the compiler (or SSE2 and AVX2 where the processor
// has them) can vectorise.
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif
#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "stream/lum_hyperfile_private.h"

namespace lumora {
namespace {

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
// The byte shuffle that reverses each number of sizeof(U) bytes in a 32-byte vector.
template <typename U>
__attribute__((target("avx2"))) inline __m256i ReverseEach() {
  if constexpr (sizeof(U) == 8)
    return _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2,
                            1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
  else if constexpr (sizeof(U) == 4)
    return _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7, 6,
                            5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
  else
    return _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5, 4,
                            7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
}

// Stores four 64-bit numbers (or eight 32-bit ones) into the other byte order, with the float
// rule applied to the host value when kFloat.
template <typename U, bool kFloat>
__attribute__((target("avx2"))) inline void StoreSwapped(__m256i v, UChar* dst) {
  if (kFloat) {
    const __m256i exponent =
        sizeof(U) == 8 ? _mm256_set1_epi64x(0x7FF0000000000000ll) : _mm256_set1_epi32(0x7F800000);
    const __m256i bits = _mm256_and_si256(v, exponent);
    v = _mm256_andnot_si256(
        sizeof(U) == 8 ? _mm256_cmpeq_epi64(bits, exponent) : _mm256_cmpeq_epi32(bits, exponent),
        v);
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_shuffle_epi8(v, ReverseEach<U>()));
}

// The same with AVX2, four numbers at a time, for the processors that have it (one byte shuffle
// instead of the four steps of SSE2): the bulk of large Float64 and Int64 arrays. Returns how
// many it did (a multiple of 4).
template <bool kFloat>
__attribute__((target("avx2"))) Int64 EncodeSwapped64Quads(const UChar* src, UChar* dst, Int64 n) {
  Int64 j = 0;
  for (; j + 4 <= n; j += 4) {
    StoreSwapped<UInt64, kFloat>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 8 * j)),
                                 dst + 8 * j);
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
  const __m256i reverse = ReverseEach<U>();
  constexpr Int64 kPerStep = 32 / static_cast<Int64>(sizeof(U));
  Int64 j = 0;
  for (; j + kPerStep <= n; j += kPerStep) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + sizeof(U) * j));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + sizeof(U) * j),
                        _mm256_shuffle_epi8(v, reverse));
  }
  return j;
}

// Packed numbers of four or eight bytes from file order into the other byte order, with the
// float rule applied to the host value when kFloat, 32 bytes per step, stored stride apart (a
// member of a point or a polygon) or packed. Returns how many it did.
template <typename U, bool kFloat>
__attribute__((target("avx2"))) Int64 DecodeSwappedWords(const UChar* src, UChar* dst, Int64 stride,
                                                         Int64 n) {
  const __m256i reverse = ReverseEach<U>();
  const __m256i exponent =
      sizeof(U) == 8 ? _mm256_set1_epi64x(0x7FF0000000000000ll) : _mm256_set1_epi32(0x7F800000);
  constexpr Int64 kPerStep = 32 / static_cast<Int64>(sizeof(U));
  Int64 j = 0;
  for (; j + kPerStep <= n; j += kPerStep) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + sizeof(U) * j));
    v = _mm256_shuffle_epi8(v, reverse);
    if (kFloat) {
      const __m256i bits = _mm256_and_si256(v, exponent);
      v = _mm256_andnot_si256(
          sizeof(U) == 8 ? _mm256_cmpeq_epi64(bits, exponent) : _mm256_cmpeq_epi32(bits, exponent),
          v);
    }
    if (stride == static_cast<Int64>(sizeof(U))) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + sizeof(U) * j), v);
      continue;
    }
    alignas(32) U lanes[kPerStep];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
    UChar* out = dst + j * stride;
    for (Int64 k = 0; k < kPerStep; ++k) std::memcpy(out + k * stride, &lanes[k], sizeof(U));
  }
  return j;
}

// One member of records stride bytes apart (a point's coordinate) into packed 64-bit numbers of
// the other byte order, with the float rule applied to the host value when kFloat, four at a
// time: the writing side of a point array. Returns how many it did (a multiple of 4).
template <bool kFloat>
__attribute__((target("avx2"))) Int64 EncodeSwappedStrided64(const UChar* src, Int64 stride,
                                                             UChar* dst, Int64 n) {
  Int64 j = 0;
  for (; j + 4 <= n; j += 4) {
    const UChar* p = src + j * stride;
    const __m128i lo =
        _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + stride)));
    const __m128i hi =
        _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 2 * stride)),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 3 * stride)));
    StoreSwapped<UInt64, kFloat>(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1),
                                 dst + 8 * j);
  }
  return j;
}

// One member of 16-byte records (a polygon's corner) into packed 32-bit numbers of the other
// byte order, eight at a time: 32 bytes loaded at every second record hold the wanted numbers
// as their words 0 and 4. The loads reach 28 bytes past the last number they use, so the last
// records are left to the caller. Returns how many it did (a multiple of 8).
template <bool kFloat>
__attribute__((target("avx2"))) Int64 EncodeSwappedStride16Words(const UChar* src, UChar* dst,
                                                                 Int64 n) {
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  Int64 j = 0;
  for (; j + 9 <= n; j += 8) {
    const __m256i* p = reinterpret_cast<const __m256i*>(src + 16 * j);
    // Records 0 2 . . | 1 3 . . and 4 6 . . | 5 7 . ., then 0 2 4 6 | 1 3 5 7, then in order.
    const __m256i a = _mm256_unpacklo_epi32(_mm256_loadu_si256(p), _mm256_loadu_si256(p + 1));
    const __m256i b = _mm256_unpacklo_epi32(_mm256_loadu_si256(p + 2), _mm256_loadu_si256(p + 3));
    StoreSwapped<UInt32, kFloat>(_mm256_permutevar8x32_epi32(_mm256_unpacklo_epi64(a, b), order),
                                 dst + 4 * j);
  }
  return j;
}

// The three 64-bit members of 24-byte records (a point's x, y and z) into three packed runs of
// the other byte order, four records per step, with the float rule when kFloat: each record
// read once. Returns how many records it did (a multiple of 4).
template <bool kFloat>
__attribute__((target("avx2"))) Int64 EncodeSwappedTriples64(const UChar* src, Int64 n,
                                                             UChar* const* out) {
  UChar* const m0 = out[0];
  UChar* const m1 = out[1];
  UChar* const m2 = out[2];
  Int64 j = 0;
  for (; j + 4 <= n; j += 4) {
    const __m256i* p = reinterpret_cast<const __m256i*>(src + 24 * j);
    // a = x0 y0 z0 x1, b = y1 z1 x2 y2, c = z2 x3 y3 z3 (64-bit lanes, blends in 32-bit ones).
    const __m256i a = _mm256_loadu_si256(p);
    const __m256i b = _mm256_loadu_si256(p + 1);
    const __m256i c = _mm256_loadu_si256(p + 2);
    const __m256i x = _mm256_blend_epi32(_mm256_blend_epi32(a, b, 0x30), c, 0x0C);  // x0 x3 x2 x1
    const __m256i y = _mm256_blend_epi32(_mm256_blend_epi32(a, b, 0xC3), c, 0x30);  // y1 y0 y3 y2
    const __m256i z = _mm256_blend_epi32(_mm256_blend_epi32(a, b, 0x0C), c, 0xC3);  // z2 z1 z0 z3
    StoreSwapped<UInt64, kFloat>(_mm256_permute4x64_epi64(x, _MM_SHUFFLE(1, 2, 3, 0)), m0 + 8 * j);
    StoreSwapped<UInt64, kFloat>(_mm256_permute4x64_epi64(y, _MM_SHUFFLE(2, 3, 0, 1)), m1 + 8 * j);
    StoreSwapped<UInt64, kFloat>(_mm256_permute4x64_epi64(z, _MM_SHUFFLE(3, 0, 1, 2)), m2 + 8 * j);
  }
  return j;
}

// The four 32-bit members of 16-byte records (a polygon's corners) into four packed runs of the
// other byte order, eight records per step, with the float rule when kFloat: each record read
// once. Returns how many records it did (a multiple of 8).
template <bool kFloat>
__attribute__((target("avx2"))) Int64 EncodeSwappedQuads32(const UChar* src, Int64 n,
                                                           UChar* const* out) {
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  UChar* const m0 = out[0];
  UChar* const m1 = out[1];
  UChar* const m2 = out[2];
  UChar* const m3 = out[3];
  Int64 j = 0;
  for (; j + 8 <= n; j += 8) {
    const __m256i* p = reinterpret_cast<const __m256i*>(src + 16 * j);
    // Records 0 | 1, 2 | 3 ...; a 4 x 4 transpose in each half gives member k of records
    // 0 2 4 6 | 1 3 5 7, which the final permutation puts in order.
    const __m256i v0 = _mm256_loadu_si256(p), v1 = _mm256_loadu_si256(p + 1);
    const __m256i v2 = _mm256_loadu_si256(p + 2), v3 = _mm256_loadu_si256(p + 3);
    const __m256i t0 = _mm256_unpacklo_epi32(v0, v1), t1 = _mm256_unpackhi_epi32(v0, v1);
    const __m256i t2 = _mm256_unpacklo_epi32(v2, v3), t3 = _mm256_unpackhi_epi32(v2, v3);
    StoreSwapped<UInt32, kFloat>(_mm256_permutevar8x32_epi32(_mm256_unpacklo_epi64(t0, t2), order),
                                 m0 + 4 * j);
    StoreSwapped<UInt32, kFloat>(_mm256_permutevar8x32_epi32(_mm256_unpackhi_epi64(t0, t2), order),
                                 m1 + 4 * j);
    StoreSwapped<UInt32, kFloat>(_mm256_permutevar8x32_epi32(_mm256_unpacklo_epi64(t1, t3), order),
                                 m2 + 4 * j);
    StoreSwapped<UInt32, kFloat>(_mm256_permutevar8x32_epi32(_mm256_unpackhi_epi64(t1, t3), order),
                                 m3 + 4 * j);
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
    if constexpr (w >= 4 && kSwap && !kEncode && (kFloat || w == 8)) {
      if (HasAvx2()) first = DecodeSwappedWords<U, kFloat>(src, dst, w, n);
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
  Int64 first = 0;
#if defined(LUM_HYPERFILE_AVX2)
  // Reading a member of a record (a point's coordinate, a polygon's corner) from a packed array.
  if constexpr (w >= 4 && kSwap && !kEncode) {
    if (srcStride == w && HasAvx2()) first = DecodeSwappedWords<U, kFloat>(src, dst, dstStride, n);
  }
  // Writing one: into the packed block of the file's order.
  if constexpr (w == 8 && kSwap && kEncode) {
    if (dstStride == w && HasAvx2()) first = EncodeSwappedStrided64<kFloat>(src, srcStride, dst, n);
  }
  if constexpr (w == 4 && kSwap && kEncode) {
    if (srcStride == 16 && dstStride == w && HasAvx2())
      first = EncodeSwappedStride16Words<kFloat>(src, dst, n);
  }
#endif
  for (Int64 j = first; j < n; ++j) {
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
    default:  // the last type: callers have checked it is one (ElementSize > 0)
      MoveEither<UInt64, true, kEncode>(swap, src, srcStride, dst, dstStride, n);
      return;
  }
}

// Whether any byte of got, masked, differs from want: 16 bytes a step (two 64-bit lanes, one
// vector operation where there is a unit for it), the last step overlapping the one before.
// n is at least 16.
bool MaskedBytesDiffer(const UChar* got, const UChar* want, const UChar* mask, Int64 n) {
  typedef UInt64 Lanes __attribute__((vector_size(16)));
  Lanes differ = {0, 0};
  for (Int64 i = 0;; i += 16) {
    if (i > n - 16) i = n - 16;
    Lanes g, w, m;
    std::memcpy(&g, got + i, 16);
    std::memcpy(&w, want + i, 16);
    std::memcpy(&m, mask + i, 16);
    differ |= (g & m) ^ w;
    if (i == n - 16) break;
  }
  return (differ[0] | differ[1]) != 0;
}

#if defined(LUM_HYPERFILE_AVX2)
// The bytes of got at i, masked, against want: zero where they agree.
__attribute__((target("avx2"))) inline __m256i MaskedDifference(const UChar* got, const UChar* want,
                                                                const UChar* mask, Int64 i) {
  const __m256i g = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(got + i));
  const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(want + i));
  const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask + i));
  return _mm256_xor_si256(_mm256_and_si256(g, m), w);
}

// The same 32 bytes a step, two steps a round, the last 32 bytes first; n is at least 32.
__attribute__((target("avx2"))) bool MaskedBytesDifferAvx2(const UChar* got, const UChar* want,
                                                           const UChar* mask, Int64 n) {
  __m256i differ = MaskedDifference(got, want, mask, n - 32);
  Int64 i = 0;
  for (; i + 64 <= n; i += 64) {
    differ = _mm256_or_si256(differ, _mm256_or_si256(MaskedDifference(got, want, mask, i),
                                                     MaskedDifference(got, want, mask, i + 32)));
  }
  if (i + 32 <= n) differ = _mm256_or_si256(differ, MaskedDifference(got, want, mask, i));
  return _mm256_testz_si256(differ, differ) == 0;
}
#endif

}  // namespace

namespace hyperfile_internal {

bool RunDiffers(const UChar* got, const UChar* want, const UChar* mask, Int64 n) {
#if defined(LUM_HYPERFILE_AVX2)
  if (n >= 32 && HasAvx2()) return MaskedBytesDifferAvx2(got, want, mask, n);
#endif
  return MaskedBytesDiffer(got, want, mask, n);
}

void EncodeElements(const UChar* src, Int64 stride, Int64 n, Int32 type, bool swap, UChar* out) {
  MoveElements<true>(type, swap, src, stride, out, ElementSize(type), n);
}

void EncodeMembers(const UChar* src, Int64 stride, Int64 n, Int32 type, bool swap, Int32 members,
                   UChar* const* out) {
  const Int32 size = ElementSize(type);
  Int64 first = 0;
#if defined(LUM_HYPERFILE_AVX2)
  const bool floats = type == HYPERFILEARRAY_FLOAT32 || type == HYPERFILEARRAY_FLOAT64;
  if (swap && size == 8 && stride == 24 && members == 3 && HasAvx2())
    first = floats ? EncodeSwappedTriples64<true>(src, n, out)
                   : EncodeSwappedTriples64<false>(src, n, out);
  else if (swap && size == 4 && stride == 16 && members == 4 && HasAvx2())
    first =
        floats ? EncodeSwappedQuads32<true>(src, n, out) : EncodeSwappedQuads32<false>(src, n, out);
#endif
  for (Int32 k = 0; k < members; ++k)
    MoveElements<true>(type, swap, src + first * stride + k * size, stride, out[k] + first * size,
                       size, n - first);
}

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

}  // namespace hyperfile_internal
}  // namespace lumora
