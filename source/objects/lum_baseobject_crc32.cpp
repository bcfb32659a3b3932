// Crc32 (see lum_baseobject.h): the reflected CRC-32 of the geometry checksum, eight bytes at a
// time from tables, or by carry-less multiplication where the processor has it.
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "objects/lum_baseobject.h"

namespace lumora {

namespace {

// The tables of the reflected CRC-32, eight bytes at a time: t[0] is the byte table, t[k] the
// same byte k positions further back.
struct Crc32Table {
  UInt32 t[8][256];
  Crc32Table() {
    for (UInt32 i = 0; i < 256; ++i) {
      UInt32 c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (int k = 1; k < 8; ++k)
      for (UInt32 i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
};
const Crc32Table kCrcTable;

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LUM_CRC32_CLMUL 1
// Folding by carry-less multiplication: a 128-bit lane x is multiplied, its halves apart, by the
// constants of a distance (powers of x modulo the reflected polynomial) and added to the lane
// that distance further on.
__attribute__((target("pclmul,sse4.1"))) inline __m128i FoldOnto(__m128i x, __m128i k,
                                                                 __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), next),
                       _mm_clmulepi64_si128(x, k, 0x00));
}

alignas(16) const UInt64 kFold512[2] = {0x0154442bd4ull, 0x01c6e41596ull};
alignas(16) const UInt64 kFold128[2] = {0x01751997d0ull, 0x00ccaa009eull};

// The first len bytes (len >= 64, a multiple of 16) folded into one lane holding the register's
// state: four lanes folded 64 bytes at a time, then into one.
__attribute__((target("pclmul,sse4.1"))) __m128i FoldLanes(const UChar* buf, Int64 len,
                                                           UInt32 crc) {
  __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
  __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
  __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
  __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(Int32(crc)));
  const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold512));
  for (buf += 64, len -= 64; len >= 64; buf += 64, len -= 64) {
    x1 = FoldOnto(x1, k, _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00)));
    x2 = FoldOnto(x2, k, _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10)));
    x3 = FoldOnto(x3, k, _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20)));
    x4 = FoldOnto(x4, k, _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30)));
  }
  const __m128i k128 = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold128));
  x1 = FoldOnto(FoldOnto(FoldOnto(x1, k128, x2), k128, x3), k128, x4);
  for (; len >= 16; buf += 16, len -= 16)
    x1 = FoldOnto(x1, k128, _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf)));
  return x1;
}

// The same with 256-bit carry-less multiplication, four 256-bit lanes folded 128 bytes at a time
// (len >= 128, a multiple of 16): twice the bytes per instruction, for the processors that have
// it.
__attribute__((target("avx2,vpclmulqdq,pclmul,sse4.1"))) __m128i FoldWideLanes(const UChar* buf,
                                                                               Int64 len,
                                                                               UInt32 crc) {
  const __m256i* p = reinterpret_cast<const __m256i*>(buf);
  __m256i y[4] = {_mm256_loadu_si256(p), _mm256_loadu_si256(p + 1), _mm256_loadu_si256(p + 2),
                  _mm256_loadu_si256(p + 3)};
  y[0] = _mm256_xor_si256(y[0], _mm256_zextsi128_si256(_mm_cvtsi32_si128(Int32(crc))));
  // x^(1024 + 32) and x^(1024 - 32), in each half.
  const __m256i k =
      _mm256_setr_epi64x(0x01e88ef372ll, 0x014a7fe880ll, 0x01e88ef372ll, 0x014a7fe880ll);
  for (p += 4, len -= 128; len >= 128; p += 4, len -= 128) {
    for (int i = 0; i < 4; ++i)
      y[i] = _mm256_xor_si256(
          _mm256_xor_si256(_mm256_clmulepi64_epi128(y[i], k, 0x11), _mm256_loadu_si256(p + i)),
          _mm256_clmulepi64_epi128(y[i], k, 0x00));
  }
  // The eight 128-bit lanes in order, folded into the first.
  const __m128i k128 = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold128));
  __m128i x = _mm256_castsi256_si128(y[0]);
  x = FoldOnto(x, k128, _mm256_extracti128_si256(y[0], 1));
  for (int i = 1; i < 4; ++i) {
    x = FoldOnto(x, k128, _mm256_castsi256_si128(y[i]));
    x = FoldOnto(x, k128, _mm256_extracti128_si256(y[i], 1));
  }
  for (buf = reinterpret_cast<const UChar*>(p); len >= 16; buf += 16, len -= 16)
    x = FoldOnto(x, k128, _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf)));
  return x;
}

// The register from a folded lane: 128 bits to 64, then by Barrett reduction to 32.
__attribute__((target("pclmul,sse4.1"))) UInt32 ReduceLane(__m128i x1) {
  alignas(16) static const UInt64 k5k0[2] = {0x0163cd6124ull, 0x0000000000ull};
  alignas(16) static const UInt64 poly[2] = {0x01db710641ull, 0x01f7011641ull};
  __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold128));
  __m128i x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
  const __m128i x3 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, x3), x0, 0x00), x2);
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  x2 = _mm_and_si128(x1, x3);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x10);
  x2 = _mm_and_si128(x2, x3);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return UInt32(_mm_extract_epi32(x1, 1));
}

bool HasClmul() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

bool HasWideClmul() {
  static const bool has =
      HasClmul() && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq");
  return has;
}

// The register over len bytes (len >= 64, a multiple of 16).
UInt32 ClmulCrc(const UChar* buf, Int64 len, UInt32 crc) {
  return ReduceLane(len >= 256 && HasWideClmul() ? FoldWideLanes(buf, len, crc)
                                                 : FoldLanes(buf, len, crc));
}
#endif

}  // namespace

void Crc32::Update(const void* data, Int64 count) {
  if (data == nullptr || count <= 0) return;
  const UChar* p = static_cast<const UChar*>(data);
  const auto& t = kCrcTable.t;
  UInt32 s = _state;
#ifdef LUM_CRC32_CLMUL
  if (count >= 64 && HasClmul()) {
    const Int64 folded = count & ~Int64(15);
    s = ClmulCrc(p, folded, s);
    p += folded;
    count -= folded;
  }
#endif
  for (; count >= 8; count -= 8, p += 8) {
    const UInt32 a =
        s ^ (UInt32(p[0]) | UInt32(p[1]) << 8 | UInt32(p[2]) << 16 | UInt32(p[3]) << 24);
    const UInt32 b = UInt32(p[4]) | UInt32(p[5]) << 8 | UInt32(p[6]) << 16 | UInt32(p[7]) << 24;
    s = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
        t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
  }
  for (Int64 i = 0; i < count; ++i) s = t[0][(s ^ p[i]) & 0xFF] ^ (s >> 8);
  _state = s;
}

}  // namespace lumora
