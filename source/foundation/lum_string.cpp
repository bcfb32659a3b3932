// String and the byte encodings.
//
// Decoding goes one character at a time through GeGetUnicodeFromChar; SetCString runs it twice
// (count, then store) so that the buffer is allocated once at its exact rounded size. UTF-8, the
// encoding files and most callers use, takes runs of plain ASCII 16 bytes at a time both ways.
#include "foundation/lum_string.h"

#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "lum_memory.h"
#include "platform/lum_platform.h"

namespace lumora {
namespace {

// Largest unit count a buffer may hold: the rounded capacity must still fit an Int32.
constexpr Int32 kMaxUnits = 0x7FFFFFF0;

// Code page byte -> Unicode for bytes 0x00..0xFE (Mac OS Roman with the euro sign at 0xDB).
// Byte 0xFF has no entry.
const UInt16 utable[255] = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007, 0x0008, 0x0009, 0x000A, 0x000B,
    0x000C, 0x000D, 0x000E, 0x000F, 0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x0017,
    0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F, 0x0020, 0x0021, 0x0022, 0x0023,
    0x0024, 0x0025, 0x0026, 0x0027, 0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039, 0x003A, 0x003B,
    0x003C, 0x003D, 0x003E, 0x003F, 0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F, 0x0050, 0x0051, 0x0052, 0x0053,
    0x0054, 0x0055, 0x0056, 0x0057, 0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067, 0x0068, 0x0069, 0x006A, 0x006B,
    0x006C, 0x006D, 0x006E, 0x006F, 0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F, 0x00C4, 0x00C5, 0x00C7, 0x00C9,
    0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4, 0x00F6, 0x00F5,
    0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0,
    0x00C3, 0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E,
    0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA,
    0x00B8, 0x02DD, 0x02DB,
};

// S2U: code page code -> Unicode (index lead byte * 256 + trail byte for two-byte codes).
// U2S: Unicode -> code page code, one byte (the code page here has no two-byte codes); 0 means
// no mapping.
Int16 S2U[65536];
UInt16 U2S[65536];
bool unicode_init = false;

struct StringTablesBuilder {
  StringTablesBuilder() { _GeInitStringTables(); }
};
const StringTablesBuilder g_stringTablesBuilder;

inline Int64 RoundCapacity(Int64 n) { return (n + 15) / 16 * 16; }

inline UInt8 ByteAt(const char* bytes, Int32 i) { return static_cast<UInt8>(bytes[i]); }

inline int HexDigit(UInt8 c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Exactly four hexadecimal digits at p (no blanks, signs or "0x" prefix).
bool ParseHex4(const char* p, UInt16* value) {
  UInt32 v = 0;
  for (int i = 0; i < 4; ++i) {
    int d = HexDigit(static_cast<UInt8>(p[i]));
    if (d < 0) return false;
    v = (v << 4) | static_cast<UInt32>(d);
  }
  *value = static_cast<UInt16>(v);
  return true;
}

// Four upper-case hexadecimal digits with leading zeros.
void WriteHex4(char* dest, UInt16 u) {
  static const char kDigits[] = "0123456789ABCDEF";
  dest[0] = kDigits[(u >> 12) & 0xF];
  dest[1] = kDigits[(u >> 8) & 0xF];
  dest[2] = kDigits[(u >> 4) & 0xF];
  dest[3] = kDigits[u & 0xF];
}

UInt16 DecodeUtf8(const char* bytes, Int32* pos, Int32 count) {
  const Int32 p = *pos;
  const Int64 p64 = p;  // p + n must not overflow near the end of a huge count
  UInt8 b = ByteAt(bytes, p);
  if (b < 0x80) return b;
  if ((b & 0xE0) == 0xC0) {
    if (p64 + 1 >= count) return 0;
    *pos = p + 1;
    return static_cast<UInt16>(((b & 0x1F) << 6) | (ByteAt(bytes, p + 1) & 0x3F));
  }
  if ((b & 0xF0) == 0xE0) {
    if (p64 + 2 >= count) return 0;
    UInt8 b1 = ByteAt(bytes, p + 1), b2 = ByteAt(bytes, p + 2);
    *pos = p + 2;
    // A fixed rule of this decoder, relied on by stored text: read as a line feed, not U+2013.
    if (b == 0xE2 && b1 == 0x80 && b2 == 0x93) return 0x000A;
    return static_cast<UInt16>(((b & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
  }
  // Sequences of four and more bytes stand for characters a 16-bit unit cannot hold: they are
  // skipped whole (when complete) and come back as one '_'.
  Int32 skip = 0;
  if ((b & 0xF8) == 0xF0) {
    skip = 3;
  } else if ((b & 0xFC) == 0xF8) {
    skip = 4;
  } else if ((b & 0xFE) == 0xFC) {
    skip = 5;
  } else if (b >= 0xFE) {
    skip = 6;
  }
  if (skip != 0 && p64 + skip < count) *pos = p + skip;
  return 0;
}

// One character of UTF-8 as SetCString stores it: bytes 1 .. 0x7F stand for themselves (and text
// is mostly made of them); the rest is GeGetUnicodeFromChar's.
inline UInt16 NextUtf8(const char* bytes, Int32* pos, Int32 count) {
  const UInt8 b = ByteAt(bytes, *pos);
  if (b - 1u < 0x7Fu) return b;
  const UInt16 u = DecodeUtf8(bytes, pos, count);
  return u != 0 ? u : static_cast<UInt16>('_');
}

// Bytes a UTF-8 character takes by its first byte's high nibble, for the forms a 16-bit unit
// holds; 0 for a continuation byte or a lead of four and more bytes, which DecodeUtf8 handles.
constexpr UInt8 kUtf8Length[16] = {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 2, 2, 3, 0};

// The character at p, at least three bytes before count, when it is of a common form: a byte
// 1 .. 0x7F or a two- or three-byte form, other than the en dash rule and other than zero.
// *unit gets it and the result is its length, computed without branching on the form; 0 for
// everything else.
inline Int32 DecodeCommonUtf8(const char* bytes, Int32 p, UInt16* unit) {
  const UInt32 b0 = ByteAt(bytes, p), b1 = ByteAt(bytes, p + 1), b2 = ByteAt(bytes, p + 2);
  const Int32 length = kUtf8Length[b0 >> 4];
  const UInt32 two = ((b0 & 0x1F) << 6) | (b1 & 0x3F);
  const UInt32 three = ((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
  const UInt32 u = length == 3 ? three : (length == 2 ? two : b0);
  // A zero, also one spelt in two or three bytes, is '_'.
  if (length == 0 || u == 0 || (b0 == 0xE2 && b1 == 0x80 && b2 == 0x93)) return 0;
  *unit = static_cast<UInt16>(u);
  return length;
}

// The units count bytes of UTF-8 decode to.
Int32 CountUtf8Units(const char* bytes, Int32 count) {
  Int32 k = 0, p = 0;
#if defined(__SSE2__)
  while (static_cast<Int64>(p) + 16 <= count) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + p));
    const int high = _mm_movemask_epi8(v);
    if (high == 0) {
      k += 16;
      p += 16;
      continue;
    }
    // The plain bytes, then the character that ended them.
    p += __builtin_ctz(static_cast<unsigned>(high));
    k += __builtin_ctz(static_cast<unsigned>(high)) + 1;
    const Int32 length = kUtf8Length[ByteAt(bytes, p) >> 4];
    if (length != 0 && static_cast<Int64>(p) + length <= count) {
      p += length;
    } else {
      DecodeUtf8(bytes, &p, count);
      ++p;
    }
  }
#endif
  for (; p < count; ++p) {
    NextUtf8(bytes, &p, count);
    ++k;
  }
  return k;
}

// Decodes count bytes of UTF-8 into k units (as counted by CountUtf8Units) at units.
void DecodeUtf8Units(const char* bytes, Int32 count, UInt16* units, Int32 k) {
  Int32 i = 0, p = 0;
#if defined(__SSE2__)
  // All 16 bytes are widened and stored, and as many units kept as there were plain bytes; the
  // character that ended them is decoded on its own. Every unit stored past the ones kept is
  // written again later, and i + 16 <= k keeps the stores inside the string.
  const __m128i zero = _mm_setzero_si128();
  while (static_cast<Int64>(p) + 16 <= count && i + 16 <= k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(units + i), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(units + i + 8), _mm_unpackhi_epi8(v, zero));
    // Plain bytes end at a byte with the high bit set or at a zero (which becomes '_').
    const int stops =
        _mm_movemask_epi8(v) | _mm_movemask_epi8(_mm_cmpeq_epi8(v, zero));
    if (stops == 0) {
      i += 16;
      p += 16;
      continue;
    }
    const int plain = __builtin_ctz(static_cast<unsigned>(stops));
    i += plain;
    p += plain;
    // p + 2 < count: the character's bytes lie within the 16 loaded.
    const Int32 length = plain < 14 ? DecodeCommonUtf8(bytes, p, units + i) : 0;
    if (length != 0) {
      ++i;
      p += length;
    } else {
      units[i++] = NextUtf8(bytes, &p, count);
      ++p;
    }
  }
#endif
  for (; p < count && i < k; ++p) units[i++] = NextUtf8(bytes, &p, count);
}

UInt16 DecodeOther(const char* bytes, Int32* pos, Int32 count, STRINGENCODING encoding) {
  Int32 p = *pos;
  UInt8 b = ByteAt(bytes, p);
  UInt16 v = 0;
  if (b == '\\' && static_cast<Int64>(p) + 5 < count && bytes[p + 1] == 'u' &&
      ParseHex4(bytes + p + 2, &v)) {
    *pos = p + 5;
    return v;
  }
  if (encoding == STRINGENCODING_ASCII_HTMLHEX && b == '&' && static_cast<Int64>(p) + 7 < count &&
      bytes[p + 1] == '#' && bytes[p + 2] == 'x' && bytes[p + 7] == ';' &&
      ParseHex4(bytes + p + 3, &v)) {
    *pos = p + 7;
    return v;
  }
  if (encoding == STRINGENCODING_ASCII || !unicode_init) return b < 0x7F ? b : 0;
  UInt16 s = static_cast<UInt16>(S2U[b]);
  if (s != 0) return s;
  if (p + 1 < count) {
    UInt16 w = static_cast<UInt16>(S2U[b * 256 + ByteAt(bytes, p + 1)]);
    if (w != 0) {
      *pos = p + 1;
      return w;
    }
  }
  // A byte without a mapping still stands for a character.
  return 0x0001;
}

inline UInt16 FoldUpper(UInt16 u) {
  if ((u >= 'a' && u <= 'z') || u == 0x00E4 || u == 0x00F6 || u == 0x00FC) return u - 32;
  return u;
}

inline UInt16 FoldLower(UInt16 u) {
  if ((u >= 'A' && u <= 'Z') || u == 0x00C4 || u == 0x00D6 || u == 0x00DC) return u + 32;
  return u;
}

template <typename Fold>
Int32 CompareUnits(const UInt16* a, Int32 la, const UInt16* b, Int32 lb, Fold fold) {
  Int32 n = la < lb ? la : lb;
  for (Int32 i = 0; i < n; ++i) {
    Int32 x = fold(a[i]), y = fold(b[i]);
    if (x != y) return x - y;
  }
  if (la > lb) return fold(a[n]);
  if (lb > la) return -static_cast<Int32>(fold(b[n]));
  return 0;
}

inline UInt16 NoFold(UInt16 u) { return u; }

}  // namespace

// ---- tables ----

// The tables start out zero and are only ever filled with the same entries, so they are not
// cleared first: clearing would touch all 256 KiB of them, which costs a short-lived program
// more than everything else it does with text.
void _GeInitStringTables() {
  if (unicode_init) return;
  for (Int32 i = 0; i < 255; ++i) S2U[i] = static_cast<Int16>(utable[i]);
  S2U[255] = 0;
  for (Int32 i = 0; i < 255; ++i) U2S[utable[i]] = static_cast<UInt16>(i);
  unicode_init = true;
}

void _GeForgetStringTables() { unicode_init = false; }

bool GeStringTablesReady() { return unicode_init; }

UInt16 GeGetUnicodeFromChar(const char* bytes, Int32* pos, Int32 count, STRINGENCODING encoding) {
  if (bytes == nullptr || pos == nullptr || *pos < 0 || *pos >= count) return 0;
  UInt16 u = encoding == STRINGENCODING_UTF8 ? DecodeUtf8(bytes, pos, count)
                                             : DecodeOther(bytes, pos, count, encoding);
  return u != 0 ? u : static_cast<UInt16>('_');
}

// ---- PChar ----

PChar::operator UInt16() const { return _str != nullptr ? _str->GetUnit(_index) : 0; }

// ---- construction ----

String::String(const String& src) { Insert(0, src); }

String::String(const char* text, STRINGENCODING encoding) { SetCString(text, -1, encoding); }

String::~String() { Release(); }

String& String::operator=(const String& src) {
  if (this == &src) return *this;
  _length = 0;
  Insert(0, src);
  return *this;
}

void String::Release() {
  if (_capacity != 0) DeleteMem(_units);
  _units = nullptr;
  _capacity = 0;
  _length = 0;
}

bool String::Reserve(Int32 n) {
  _length = 0;
  if (n <= 0 || n > kMaxUnits) {
    Release();
    return n <= 0;
  }
  Int32 cap = static_cast<Int32>(RoundCapacity(n));
  if (_capacity >= cap) {
    std::memset(_units, 0, static_cast<size_t>(n) * sizeof(UInt16));
    return true;
  }
  auto* block = static_cast<UInt16*>(MemAlloc(static_cast<Int64>(cap) * 2));
  Release();
  if (block == nullptr) return false;
  _units = block;
  _capacity = cap;
  return true;
}

// ---- content ----

Int32 String::SetCString(const char* bytes, Int32 count, STRINGENCODING encoding) {
  if (count < 0 && bytes != nullptr) {
    size_t n = std::strlen(bytes);
    count = n > static_cast<size_t>(kMaxUnits) ? kMaxUnits : static_cast<Int32>(n);
  }
  if (bytes == nullptr || count <= 0) {
    Release();
    return 0;
  }
  if (encoding == STRINGENCODING_UTF8) {
    const Int32 k = CountUtf8Units(bytes, count);
    if (!Reserve(k)) return 0;
    DecodeUtf8Units(bytes, count, _units, k);
    _length = k;
    return _length;
  }
  Int32 k = 0;
  for (Int32 p = 0; p < count; ++p) {
    GeGetUnicodeFromChar(bytes, &p, count, encoding);
    ++k;
  }
  if (!Reserve(k)) return 0;
  Int32 i = 0;
  for (Int32 p = 0; p < count && i < k; ++p)
    _units[i++] = GeGetUnicodeFromChar(bytes, &p, count, encoding);
  _length = i;
  return _length;
}

Int32 String::GetCString(char* dest, Int32 size, STRINGENCODING encoding) const {
  if (dest == nullptr || size <= 0) return 0;
  const Int32 last = size - 1;
  Int32 w = 0;
  if (!unicode_init) encoding = STRINGENCODING_ASCII;
  switch (encoding) {
    case STRINGENCODING_CODEPAGE:
      for (Int32 i = 0; i < _length && w < last; ++i) {
        const UInt16 v = U2S[_units[i]];
        dest[w++] = static_cast<char>(v != 0 ? v : '_');
      }
      break;
    case STRINGENCODING_ASCII:
      for (; w < _length && w < last; ++w) {
        UInt16 u = _units[w];
        dest[w] = static_cast<char>(u < 0x80 ? u : '_');
      }
      break;
    case STRINGENCODING_ASCII_UESCAPE:
    case STRINGENCODING_ASCII_HTMLHEX: {
      const bool html = encoding == STRINGENCODING_ASCII_HTMLHEX;
      const Int32 escLen = html ? 8 : 6;
      for (Int32 i = 0; i < _length && w < last; ++i) {
        UInt16 u = _units[i];
        if (u < 0x80) {
          dest[w++] = static_cast<char>(u != 0 ? u : '_');
        } else if (static_cast<Int64>(w) + escLen < size) {
          if (html) {
            std::memcpy(dest + w, "&#x", 3);
            WriteHex4(dest + w + 3, u);
            dest[w + 7] = ';';
          } else {
            dest[w] = '\\';
            dest[w + 1] = 'u';
            WriteHex4(dest + w + 2, u);
          }
          w += escLen;
        } else {
          dest[w++] = '_';
        }
      }
      break;
    }
    case STRINGENCODING_UTF8: {
      Int32 i = 0;
#if defined(__SSE2__)
      // Eight units at a time while they are plain ASCII; otherwise the plain ones before the
      // first that is not, and that one, whose bytes are computed without branching on its
      // form. Stores run up to ten bytes ahead of w; at least eight more units follow, and they
      // fit (w + 40 <= last), so what the stores left ahead is written again before the end.
      const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
      const __m128i zero = _mm_setzero_si128();
      while (i + 16 <= _length && w + 40 <= last) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(_units + i));
        const int ascii = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, nonAscii), zero));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dest + w), _mm_packus_epi16(v, v));
        if (ascii == 0xFFFF) {
          i += 8;
          w += 8;
          continue;
        }
        const int plain = __builtin_ctz(~static_cast<unsigned>(ascii)) / 2;
        i += plain;
        w += plain;
        const UInt32 u = _units[i++];
        const bool three = u >= 0x800;
        dest[w] = static_cast<char>(three ? 0xE0 | (u >> 12) : 0xC0 | (u >> 6));
        dest[w + 1] = static_cast<char>(0x80 | ((three ? u >> 6 : u) & 0x3F));
        dest[w + 2] = static_cast<char>(0x80 | (u & 0x3F));
        w += three ? 3 : 2;
      }
#endif
      for (; i < _length && w < last; ++i) {
        UInt16 u = _units[i];
        if (u < 0x80) {
          dest[w++] = static_cast<char>(u);
        } else if (u < 0x800) {
          if (static_cast<Int64>(w) + 2 >= size) continue;  // does not fit: dropped
          dest[w++] = static_cast<char>(0xC0 | (u >> 6));
          dest[w++] = static_cast<char>(0x80 | (u & 0x3F));
        } else {
          if (static_cast<Int64>(w) + 3 >= size) continue;
          dest[w++] = static_cast<char>(0xE0 | (u >> 12));
          dest[w++] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
          dest[w++] = static_cast<char>(0x80 | (u & 0x3F));
        }
      }
      break;
    }
    default:  // STRINGENCODING_CODEPAGE_1BYTE and unknown values
      for (; w < _length && w < last; ++w) {
        const UInt16 v = U2S[_units[w]];
        dest[w] = static_cast<char>(v != 0 ? v : '_');
      }
      break;
  }
  dest[w] = 0;
  return w;
}

Int32 String::GetCStringLen(STRINGENCODING encoding) const {
  if (!unicode_init) return _length;
  Int64 n = 0;
  switch (encoding) {
    case STRINGENCODING_ASCII_UESCAPE:
      for (Int32 i = 0; i < _length; ++i) n += _units[i] >= 0x80 ? 6 : 1;
      break;
    case STRINGENCODING_ASCII_HTMLHEX:
      for (Int32 i = 0; i < _length; ++i) n += _units[i] >= 0x80 ? 8 : 1;
      break;
    case STRINGENCODING_UTF8:
      for (Int32 i = 0; i < _length; ++i) n += _units[i] < 0x80 ? 1 : (_units[i] < 0x800 ? 2 : 3);
      break;
    default:  // the code pages and ASCII: a byte a unit
      n = _length;
      break;
  }
  // Callers size buffers from this; a count past Int32 could never be written anyway.
  return n > 0x7FFFFFFE ? 0x7FFFFFFE : static_cast<Int32>(n);
}

void String::SetUcBlock(const UInt16* units, Int32 count) {
  if (units == nullptr) return;
  if (count < 0) {
    count = 0;
    while (count < kMaxUnits && units[count] != 0) ++count;
  }
  if (count == 0 || count > kMaxUnits) {
    Release();
    return;
  }
  Int32 cap = static_cast<Int32>(RoundCapacity(count));
  if (_capacity >= cap) {
    // The units may lie inside this string's own buffer.
    std::memmove(_units, units, static_cast<size_t>(count) * sizeof(UInt16));
    _length = count;
    return;
  }
  auto* block = static_cast<UInt16*>(MemAlloc(static_cast<Int64>(cap) * 2));
  if (block != nullptr) std::memcpy(block, units, static_cast<size_t>(count) * sizeof(UInt16));
  Release();
  if (block == nullptr) return;
  _units = block;
  _capacity = cap;
  _length = count;
}

void String::GetUcBlock(UInt16* dest, Int32 count) const {
  if (dest == nullptr || count <= 0 || _length == 0) return;
  Int32 n = count < _length ? count : _length;
  std::memcpy(dest, _units, static_cast<size_t>(n) * sizeof(UInt16));
}

void String::Init(Int32 count, UInt16 unit) {
  if (!Reserve(count) || count <= 0) return;
  for (Int32 i = 0; i < count; ++i) _units[i] = unit;
  _length = count;
}

void String::Insert(Int32 pos, const String& src, Int32 start, Int32 end) {
  if (pos < 0 || pos > _length || src._length == 0) return;
  if (start < 0) start = 0;
  if (end < 0 || end > src._length) end = src._length;
  if (start >= end) return;
  const Int32 n = end - start;
  const Int64 newLength = static_cast<Int64>(_length) + n;
  if (newLength > kMaxUnits) return;
  const size_t unit = sizeof(UInt16);

  if (newLength > _capacity) {
    Int32 cap = static_cast<Int32>(RoundCapacity(newLength));
    auto* block = static_cast<UInt16*>(MemAlloc(static_cast<Int64>(cap) * 2));
    if (block == nullptr) return;  // unchanged
    if (pos > 0) std::memcpy(block, _units, static_cast<size_t>(pos) * unit);
    std::memcpy(block + pos, src._units + start, static_cast<size_t>(n) * unit);
    if (_length > pos) {
      std::memcpy(block + pos + n, _units + pos, static_cast<size_t>(_length - pos) * unit);
    }
    Int32 length = static_cast<Int32>(newLength);
    Release();
    _units = block;
    _capacity = cap;
    _length = length;
    return;
  }

  // In place: open the gap, then fill it. When src is this string, the units of the range that
  // lay at or after pos have moved up by n.
  std::memmove(_units + pos + n, _units + pos, static_cast<size_t>(_length - pos) * unit);
  if (&src != this) {
    std::memcpy(_units + pos, src._units + start, static_cast<size_t>(n) * unit);
  } else {
    Int32 before = start < pos ? (end < pos ? end : pos) - start : 0;
    if (before > 0) std::memcpy(_units + pos, _units + start, static_cast<size_t>(before) * unit);
    Int32 from = start < pos ? pos : start;
    if (end > from) {
      std::memcpy(_units + pos + before, _units + from + n, static_cast<size_t>(end - from) * unit);
    }
  }
  _length = static_cast<Int32>(newLength);
}

void String::Delete(Int32 pos, Int32 count) {
  if (_units == nullptr || pos < 0 || count <= 0 || pos >= _length) return;
  if (count > _length - pos) count = _length - pos;
  std::memmove(_units + pos, _units + pos + count,
               static_cast<size_t>(_length - pos - count) * sizeof(UInt16));
  _length -= count;
}

String String::SubStr(Int32 start, Int32 count) const {
  String result;
  if (start < 0 || count <= 0 || start >= _length) return result;
  if (count > _length - start) count = _length - start;
  result.SetUcBlock(_units + start, count);
  return result;
}

String String::Left(Int64 count) const {
  String result;
  if (count <= 0 || _length == 0) return result;
  result.SetUcBlock(_units, count < _length ? static_cast<Int32>(count) : _length);
  return result;
}

String String::Right(Int64 count) const {
  String result;
  if (count <= 0 || count > _length) return result;
  result.SetUcBlock(_units + (_length - count), static_cast<Int32>(count));
  return result;
}

bool String::FindFirst(const String& needle, Int32* pos, Int32 start) const {
  if (pos != nullptr) *pos = -1;
  const Int32 n = needle._length;
  if (n == 0 || start < 0 || start >= _length || n > _length - start) return false;
  for (Int32 i = start; i <= _length - n; ++i) {
    if (_units[i] == needle._units[0] &&
        std::memcmp(_units + i, needle._units, static_cast<size_t>(n) * sizeof(UInt16)) == 0) {
      if (pos != nullptr) *pos = i;
      return true;
    }
  }
  return false;
}

// ---- system text ----

void String::GetPlatformText(PlatformText* text) const {
  PlatformTextCreateNoCopy(_units, _length, text);
}

void String::SetPlatformText(const PlatformText* text) {
  if (text == nullptr) return;
  const Int32 n = PlatformTextGetLength(text);
  const UInt16* direct = PlatformTextGetCharactersPtr(text);
  if (direct != nullptr) {
    SetUcBlock(direct, n);
    return;
  }
  // No direct access: copy straight into a buffer of the full length rather than through a
  // fixed-size scratch buffer, so that long texts are not cut.
  if (!Reserve(n)) return;
  _length = PlatformTextGetCharacters(text, 0, n, _units);
}

// ---- comparison ----

Int32 String::Compare(const String& other) const {
  return CompareUnits(_units, _length, other._units, other._length, NoFold);
}

bool String::operator==(const String& other) const { return Compare(other) == 0; }

Int32 String::LexCompare(const String& other) const {
  return CompareUnits(_units, _length, other._units, other._length, FoldUpper);
}

String String::ToLower() const {
  String result(*this);
  for (Int32 i = 0; i < result._length; ++i) result._units[i] = FoldLower(result._units[i]);
  return result;
}

PChar String::operator[](Int32 index) const {
  return PChar(this, (index >= 0 && index < _length) ? index : -1);
}

PChar String::operator[](Int32 index) {
  return PChar(this, (index >= 0 && index < _length) ? index : -1);
}

// ---- numbers ----

Int32 String::ParseToInt32(Int32* error) const {
  Int32 size = _length > 0 ? GetCStringLen(STRINGENCODING_CODEPAGE) + 1 : 0;
  char* text = size > 0 ? static_cast<char*>(MemAllocNC(size)) : nullptr;
  if (text == nullptr) {
    if (error != nullptr) *error = 1;
    return 0;
  }
  const Int32 n = GetCString(text, size, STRINGENCODING_CODEPAGE);
  Int64 value = 0;
  Int32 sign = 1;
  bool digits = false;
  for (Int32 i = 0; i < n; ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      Int64 next = value * 10 + (c - '0');
      if (next > 2147483647) {
        if (error != nullptr) *error = 1;
        break;
      }
      value = next;
      digits = true;
    } else if (digits) {
      break;
    } else {
      sign = c == '-' ? -1 : 1;
    }
  }
  if (!digits && error != nullptr) *error = 1;
  DeleteMem(text);
  return static_cast<Int32>(value) * sign;
}

String String::FloatToString(Float64 value, Int32 before, Int32 after, bool exponent, UInt16 fill) {
  String result;
  const Int64 a = after < 0 ? 3 : after;
  const Int64 k = (before > 0 ? before : 0) + (exponent ? 4 : 0) - (a == 0 ? 1 : 0);
  const Int64 width = a + 1 + k;
  if (width > 0x7FFFFFFF) return result;
  const char* format = exponent ? "%*.*E" : "%*.*f";

  char local[512];
  char* text = local;
  int n = std::snprintf(local, sizeof(local), format, static_cast<int>(width), static_cast<int>(a),
                        value);
  if (n < 0) return result;
  if (static_cast<size_t>(n) >= sizeof(local)) {
    text = static_cast<char*>(MemAllocNC(static_cast<Int64>(n) + 1));
    if (text == nullptr) return result;
    std::snprintf(text, static_cast<size_t>(n) + 1, format, static_cast<int>(width),
                  static_cast<int>(a), value);
  }
  result.SetCString(text, n, STRINGENCODING_CODEPAGE);
  if (text != local) DeleteMem(text);
  if (result._length == 0) return result;

  UInt16* u = result._units;
  // A formatted number always holds a digit after its padding.
  Int32 blanks = 0;
  while (u[blanks] == ' ') ++blanks;
  if (k == 0) {
    result.Delete(0, blanks);
  } else {
    for (Int32 i = 0; i < blanks; ++i) u[i] = fill;
    if (u[blanks] == '-') {
      u[blanks] = fill;
      u[0] = '-';
    }
  }

  if (before == -2 || after < 0) {
    u = result._units;
    const Int32 len = result._length;
    // The mantissa holds one point at most, before the exponent's 'E'.
    Int32 point = -1, mark = len;  // mark: end of the mantissa
    for (Int32 i = 0; i < len; ++i) {
      if (u[i] == '.') point = i;
      if (u[i] == 'E') {
        mark = i;
        break;
      }
    }
    if (point >= 0) {
      Int32 cut = mark;
      while (cut > point + 1 && u[cut - 1] == '0') --cut;
      if (cut == point + 1) cut = point;
      result.Delete(cut, mark - cut);
    }
    if (result._length == 2 && result._units[0] == '-' && result._units[1] == '0')
      result.Delete(0, 1);
  }
  return result;
}

String String::IntToString(Int32 value) { return IntToString(static_cast<Int64>(value)); }

String String::IntToString(Int64 value) {
  UInt64 magnitude =
      value < 0 ? UInt64{0} - static_cast<UInt64>(value) : static_cast<UInt64>(value);
  UInt16 digits[24];
  Int32 n = 0;
  do {
    digits[23 - n++] = static_cast<UInt16>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[23 - n++] = '-';
  String result;
  result.SetUcBlock(digits + 24 - n, n);
  return result;
}

String operator+(const String& left, const String& right) {
  String result;
  const Int64 total = static_cast<Int64>(left._length) + right._length;
  if (total == 0 || total > kMaxUnits || !result.Reserve(static_cast<Int32>(total))) return result;
  if (left._length > 0) {
    std::memcpy(result._units, left._units, static_cast<size_t>(left._length) * sizeof(UInt16));
  }
  if (right._length > 0) {
    std::memcpy(result._units + left._length, right._units,
                static_cast<size_t>(right._length) * sizeof(UInt16));
  }
  result._length = static_cast<Int32>(total);
  return result;
}

}  // namespace lumora
