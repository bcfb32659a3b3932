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
// The register over len bytes (len >= 64, a multiple of 16) by folding with carry-less
// multiplication: four 128-bit lanes folded 64 bytes at a time, then into one lane, to 64 bits
// and by Barrett reduction to 32 (the constants are powers of x modulo the reflected
// polynomial).
__attribute__((target("pclmul,sse4.1"))) UInt32 ClmulCrc(const UChar* buf, Int64 len, UInt32 crc) {
  alignas(16) static const UInt64 k1k2[2] = {0x0154442bd4ull, 0x01c6e41596ull};
  alignas(16) static const UInt64 k3k4[2] = {0x01751997d0ull, 0x00ccaa009eull};
  alignas(16) static const UInt64 k5k0[2] = {0x0163cd6124ull, 0x0000000000ull};
  alignas(16) static const UInt64 poly[2] = {0x01db710641ull, 0x01f7011641ull};
  __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
  __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
  __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
  __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(Int32(crc)));
  __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  buf += 64;
  len -= 64;
  while (len >= 64) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    const __m128i x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
    const __m128i x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
    const __m128i x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
    x3 = _mm_clmulepi64_si128(x3, x0, 0x11);
    x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00)));
    x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10)));
    x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20)));
    x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30)));
    buf += 64;
    len -= 64;
  }
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  const __m128i* rest[3] = {&x2, &x3, &x4};
  for (const __m128i* next : rest) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, *next), x5);
  }
  while (len >= 16) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf))), x5);
    buf += 16;
    len -= 16;
  }
  // 128 bits to 64.
  x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
  x3 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, x3), x0, 0x00), x2);
  // Barrett reduction to 32 bits.
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
    const UInt32 a = s ^ (UInt32(p[0]) | UInt32(p[1]) << 8 | UInt32(p[2]) << 16 | UInt32(p[3]) << 24);
    const UInt32 b = UInt32(p[4]) | UInt32(p[5]) << 8 | UInt32(p[6]) << 16 | UInt32(p[7]) << 24;
    s = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
        t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
  }
  for (Int64 i = 0; i < count; ++i) s = t[0][(s ^ p[i]) & 0xFF] ^ (s >> 8);
  _state = s;
}

}  // namespace lumora
