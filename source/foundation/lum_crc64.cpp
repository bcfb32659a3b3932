// Crc64, table driven.
//
// Two ways to the same result:
//   - slicing: table k holds the effect of a byte followed by k zero bytes, so eight bytes XORed
//     into the top of the state go through in one step with eight independent lookups;
//   - folding (x86-64 with carry-less multiply, chosen at run time, inputs of 128 bytes and
//     more): with the message read as one polynomial, most significant bit first, the checksum
//     only depends on the message modulo the polynomial P, so 16-byte blocks are folded forward
//     with multiplications by x^k mod P; the 16 bytes left are then fed through the tables.
// Both give exactly the byte-by-byte result; the tests compare them on all lengths and offsets.
#include "foundation/lum_crc64.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LUM_CRC64_CLMUL 1
#include <immintrin.h>
#endif

namespace lumora {
namespace {

constexpr UInt64 kPoly = 0x42F0E1EBA9EA3693ull;

struct Tables {
  UInt64 t[8][256];
  constexpr Tables() : t() {
    for (int b = 0; b < 256; ++b) {
      UInt64 c = UInt64(b) << 56;
      for (int i = 0; i < 8; ++i) c = (c & 0x8000000000000000ull) ? (c << 1) ^ kPoly : c << 1;
      t[0][b] = c;
    }
    for (int k = 1; k < 8; ++k)
      for (int b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] << 8) ^ t[0][t[k - 1][b] >> 56];
  }
};

constexpr Tables kTables;

inline UInt64 LoadBigEndian64(const UInt8* p) {
  UInt64 v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// The state after eight more bytes that have already been XORed into s.
inline UInt64 Slice8(UInt64 s) {
  const auto& t = kTables.t;
  return t[7][s >> 56] ^ t[6][(s >> 48) & 0xFF] ^ t[5][(s >> 40) & 0xFF] ^ t[4][(s >> 32) & 0xFF] ^
         t[3][(s >> 24) & 0xFF] ^ t[2][(s >> 16) & 0xFF] ^ t[1][(s >> 8) & 0xFF] ^ t[0][s & 0xFF];
}

UInt64 UpdateTables(UInt64 s, const UInt8* p, Int64 count) {
  for (; count >= 8; p += 8, count -= 8) s = Slice8(s ^ LoadBigEndian64(p));
  while (count-- > 0) s = (s << 8) ^ kTables.t[0][*p++ ^ (s >> 56)];
  return s;
}

#ifdef LUM_CRC64_CLMUL

// x^k mod P.
constexpr UInt64 XPowMod(int k) {
  // x^64 mod P is P's low part; multiply up from there one bit at a time.
  UInt64 r = kPoly;
  for (int i = 64; i < k; ++i) r = (r & 0x8000000000000000ull) ? (r << 1) ^ kPoly : r << 1;
  return r;
}

// Folding a 128-bit remainder A = hi x^64 + lo forward over d bits: hi x^(d+64) + lo x^d.
constexpr UInt64 kFold128Hi = XPowMod(192), kFold128Lo = XPowMod(128);
constexpr UInt64 kFold512Hi = XPowMod(576), kFold512Lo = XPowMod(512);

__attribute__((target("pclmul,ssse3"))) inline __m128i Load128(const UInt8* p) {
  // Byte 0 of the block becomes the most significant byte.
  const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse);
}

__attribute__((target("pclmul,ssse3"))) inline __m128i Fold(__m128i a, __m128i k, __m128i b) {
  // k holds the constant for the high half in its high lane and for the low half in its low
  // lane.
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x11), _mm_clmulepi64_si128(a, k, 0x00)), b);
}

// count >= 64. Returns the state after the whole multiple of 16 bytes; *used tells how many.
__attribute__((target("pclmul,ssse3"))) UInt64 UpdateFolding(UInt64 s, const UInt8* p, Int64 count,
                                                             Int64* used) {
  const __m128i k512 = _mm_set_epi64x(Int64(kFold512Hi), Int64(kFold512Lo));
  const __m128i k128 = _mm_set_epi64x(Int64(kFold128Hi), Int64(kFold128Lo));
  const UInt8* start = p;
  // The state joins the message as if XORed into its first eight bytes.
  __m128i x0 = _mm_xor_si128(Load128(p), _mm_set_epi64x(Int64(s), 0));
  __m128i x1 = Load128(p + 16), x2 = Load128(p + 32), x3 = Load128(p + 48);
  p += 64;
  count -= 64;
  for (; count >= 64; p += 64, count -= 64) {
    x0 = Fold(x0, k512, Load128(p));
    x1 = Fold(x1, k512, Load128(p + 16));
    x2 = Fold(x2, k512, Load128(p + 32));
    x3 = Fold(x3, k512, Load128(p + 48));
  }
  __m128i x = Fold(x0, k128, x1);
  x = Fold(x, k128, x2);
  x = Fold(x, k128, x3);
  for (; count >= 16; p += 16, count -= 16) x = Fold(x, k128, Load128(p));
  // The 128-bit remainder fed through the tables from state 0 gives the state.
  UInt64 hi = UInt64(_mm_cvtsi128_si64(_mm_unpackhi_epi64(x, x))),
         lo = UInt64(_mm_cvtsi128_si64(x));
  *used = p - start;
  return Slice8(Slice8(hi) ^ lo);
}

bool HasCarrylessMultiply() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
  return has;
}

#endif  // LUM_CRC64_CLMUL

}  // namespace

void Crc64::UpdateByte(UInt8 byte) { _state = (_state << 8) ^ kTables.t[0][byte ^ (_state >> 56)]; }

void Crc64::Update(const void* data, Int64 count) {
  if (data == nullptr || count <= 0) return;
  const UInt8* p = static_cast<const UInt8*>(data);
  UInt64 s = _state;
#ifdef LUM_CRC64_CLMUL
  if (count >= 128 && HasCarrylessMultiply()) {
    Int64 used = 0;
    s = UpdateFolding(s, p, count, &used);
    p += used;
    count -= used;
  }
#endif
  _state = UpdateTables(s, p, count);
}

}  // namespace lumora
