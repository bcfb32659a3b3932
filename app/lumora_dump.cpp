// lumora-dump: the tree and JSON forms of a stream (see lumora_dump.h).
#include "lumora_dump.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace lumdump {

using lumora::Float64;
using lumora::HyperFile;
using lumora::HyperFileAnyValue;
using lumora::Int32;
using lumora::Int64;
using lumora::UInt16;
using lumora::UInt32;
using lumora::UInt64;

namespace {

// Elements shown of a long string, memory block and array.
constexpr Int32 kShownUnits = 64;
constexpr Int32 kShownBytes = 16;
constexpr Int32 kShownElements = 8;
// Chunk levels whose ids, offsets and container roles are kept for messages and labels; deeper
// chunks are dumped all the same, without them.
constexpr Int32 kTracked = 256;
// Indentation stops growing here, so that the output of deeply nested chunks stays in proportion
// to the stream; the tree marks deeper lines with their depth.
constexpr Int64 kMaxIndent = 64;

inline Int64 Min(Int64 a, Int64 b) { return a < b ? a : b; }

// The output buffer of the dump (held on the heap), and that of a message (on the stack).
constexpr size_t kOutBytes = 1 << 18;
constexpr size_t kMessageBytes = 1024;

// Output through a buffer of kSize bytes; the sink sees large blocks (each a call into stdio and
// a system call or two: the dump's buffer is large).
template <size_t kSize>
class Out {
 public:
  explicit Out(Sink sink) : _sink(sink) {}
  ~Out() { Flush(); }
  void Flush() {
    if (_n > 0 && _sink.write != nullptr) _sink.write(_buffer, _n, _sink.data);
    _n = 0;
  }
  void Put(const char* s, size_t n) {
    if (n > kSize - _n) {
      Flush();
      if (n > kSize) {
        if (_sink.write != nullptr) _sink.write(s, n, _sink.data);
        return;
      }
    }
    char* w = _buffer + _n;
    for (size_t i = 0; i < n; ++i) w[i] = s[i];  // short pieces: no call
    _n += n;
  }
  void Put(const char* s) { Put(s, std::strlen(s)); }
  void Char(char c) {
    if (_n == kSize) Flush();
    _buffer[_n++] = c;
  }
  void Int(Int64 v) {
    Room(24);
    _n = static_cast<size_t>(std::to_chars(_buffer + _n, _buffer + kSize, v).ptr - _buffer);
  }
  // A region of at least n bytes (n <= kSize) to write into; Commit(end) takes what was written
  // up to end.
  char* Reserve(size_t n) {
    Room(n);
    return _buffer + _n;
  }
  void Commit(const char* end) { _n = static_cast<size_t>(end - _buffer); }
  // At least n bytes free in the buffer.
  void Room(size_t n) {
    if (kSize - _n < n) Flush();
  }

 private:
  Sink _sink;
  char _buffer[kSize];
  size_t _n = 0;
};

// Writers into a region of the output reserved beforehand (Out::Reserve): each takes the write
// position and returns the next one. Kept in a local pointer, the position stays in a register
// (a member would be reloaded after every byte stored).
inline char* Put(char* w, const char* s, size_t n) {
  for (size_t i = 0; i < n; ++i) w[i] = s[i];
  return w + n;
}
inline char* Put(char* w, const char* s) { return Put(w, s, std::strlen(s)); }
// A literal: its length is known, so it is stored in a few moves.
template <size_t N>
inline char* Lit(char* w, const char (&s)[N]) {
  std::memcpy(w, s, N - 1);
  return w + (N - 1);
}
// The most spaces one line starts with (2 * kMaxIndent).
constexpr Int64 kMaxSpaces = 128;
// n <= kMaxSpaces spaces; all kMaxSpaces are stored (the reserved region holds them).
inline char* Spaces(char* w, Int64 n) {
  static const char kSpaces[kMaxSpaces + 1] =
      "                                                                "
      "                                                                ";
  if (n <= 16)
    std::memcpy(w, kSpaces, 16);  // the usual indentation: one move
  else
    std::memcpy(w, kSpaces, kMaxSpaces);
  return w + n;
}
// "00" .. "99".
struct DigitPairs {
  char text[200] = {};
  constexpr DigitPairs() {
    for (Int32 i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr DigitPairs kDigitPairs;
constexpr UInt64 kPow10[] = {1ull,
                             10ull,
                             100ull,
                             1000ull,
                             10000ull,
                             100000ull,
                             1000000ull,
                             10000000ull,
                             100000000ull,
                             1000000000ull,
                             10000000000ull,
                             100000000000ull,
                             1000000000000ull,
                             10000000000000ull,
                             100000000000000ull,
                             1000000000000000ull,
                             10000000000000000ull,
                             100000000000000000ull,
                             1000000000000000000ull,
                             10000000000000000000ull};
// The count of digits of u (1 for 0): from the bit length (1233 / 4096 ~ log10(2)), which gives
// it or one less, and one comparison.
inline Int32 DigitCount(UInt64 u) {
  const Int32 t = ((64 - __builtin_clzll(u | 1)) * 1233) >> 12;
  return t + ((u | 1) >= kPow10[t] ? 1 : 0);
}
// The digits of u (below 2^32 or not), two at a time back to front, ending at end.
template <typename U>
inline void DigitsBefore(char* end, U u) {
  char* p = end;
  while (u >= 100) {
    p -= 2;
    std::memcpy(p, kDigitPairs.text + 2 * (u % 100), 2);
    u /= 100;
  }
  if (u >= 10)
    std::memcpy(p - 2, kDigitPairs.text + 2 * u, 2);
  else
    p[-1] = static_cast<char>('0' + u);
}
// The digits of u; returns the end. In 32 bits when u fits them: the divisions by 100 are
// cheaper.
inline char* UDigits(char* w, UInt64 u) {
  char* end = w + DigitCount(u);
  if (u <= 0xFFFFFFFFull)
    DigitsBefore(end, static_cast<UInt32>(u));
  else
    DigitsBefore(end, u);
  return end;
}
// The last k digits of u (leading zeros where u has fewer), at w; returns the end.
inline char* LastDigits(char* w, UInt64 u, Int32 k) {
  for (Int32 i = k - 1; i >= 0; --i) {
    w[i] = static_cast<char>('0' + u % 10);
    u /= 10;
  }
  return w + k;
}
inline char* Int(char* w, Int64 v) {
  if (static_cast<UInt64>(v) < 10) {
    *w = static_cast<char>('0' + v);
    return w + 1;
  }
  if (static_cast<UInt64>(v) < 100) {
    std::memcpy(w, kDigitPairs.text + 2 * v, 2);
    return w + 2;
  }
  if (v < 0) {
    *w++ = '-';
    return UDigits(w, 0 - static_cast<UInt64>(v));
  }
  return UDigits(w, static_cast<UInt64>(v));
}
inline char* UInt(char* w, UInt64 v) { return UDigits(w, v); }
}  // namespace

char* Integer(char* w, Int64 v) { return Int(w, v); }

char* Float(char* w, Float64 v) {
  static constexpr Float64 kPow10F[] = {1e0, 1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                                        1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
  const Float64 a = v < 0 ? -v : v;
  if (a < 1e15) {
    const Int64 i = static_cast<Int64>(v);
    if (static_cast<Float64>(i) == v && !(i == 0 && std::signbit(v))) return Int(w, i);
  }
  // Between 10^-3 and 10^15 the fixed form is never longer than the exponent form, and a
  // decimal of at most 15 significant digits is the only one of its length that rounds to v
  // (such decimals lie more than an ulp apart). So the fewest fraction digits k for which
  // round(a * 10^k) / 10^k == a give the digits the general conversion would give.
  // A k whose m lies further from a * 10^k than two roundings can take it is passed over
  // without the division: m / 10^k would not round to a.
  if (a >= 1e-3 && a < 1e15) {
    for (Int32 k = 1; k < 18; ++k) {
      const Float64 scaled = a * kPow10F[k];
      if (scaled >= 1e15) break;
      // Below 10^15: the signed conversions, one instruction each.
      const UInt64 m = static_cast<UInt64>(static_cast<Int64>(scaled + 0.5));
      const Float64 fm = static_cast<Float64>(static_cast<Int64>(m));
      if (std::fabs(scaled - fm) > fm * 1e-15 || fm / kPow10F[k] != a) continue;
      // The whole part of m / 10^k is that of a: a whole number between the two would be a
      // double nearer to m / 10^k than a is.
      if (v < 0) *w++ = '-';
      const UInt64 whole = static_cast<UInt64>(static_cast<Int64>(a));
      w = UDigits(w, whole);
      *w++ = '.';
      return LastDigits(w, m - whole * kPow10[k], k);
    }
  }
  return std::to_chars(w, w + 32, v).ptr;
}

namespace {

// Numbers formatted lately, by their bits: the numbers of a stream repeat (0, 1, the axes of
// matrices, the same coordinates, times and key values), and copying their text is cheaper
// than formatting it again. Every slot starts as +0, whose text is "0".
//
// A number missed is made where the line needs it and kept later, by Settle: read back at once,
// its bytes (stored one or two at a time) would stall the copy until the stores retire.
class NumberCache {
 public:
  char* Put(char* w, Float64 v) {
    UInt64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    Slot& slot = _slots[(bits * 0x9E3779B97F4A7C15ull) >> (64 - kSlotBits)];
    if (slot.bits != bits) return Make(&slot, bits, w, v);
    std::memcpy(w, slot.text, sizeof slot.text);
    return w + slot.size;
  }
  // Keeps the number made last. Called before the output that holds its text is written again
  // or handed over: the text must still be where it was made.
  void Settle() {
    if (_made == nullptr) return;
    std::memcpy(_made->text, _madeText, sizeof _made->text);
    _made->bits = _madeBits;
    _made->size = _madeSize;
    _made = nullptr;
  }

 private:
  struct Slot;
  // The 32 bytes from w on lie in the region reserved for the line (the copy takes them all).
  char* Make(Slot* slot, UInt64 bits, char* w, Float64 v) {
    Settle();
    char* end = Float(w, v);  // at most 24 bytes: the slot holds 32
    _made = slot;
    _madeBits = bits;
    _madeText = w;
    _madeSize = static_cast<UInt32>(end - w);
    return end;
  }

  static constexpr int kSlotBits = 7;
  struct Slot {
    UInt64 bits = 0;
    UInt32 size = 1;
    char text[32] = {'0'};
  };
  Slot _slots[1 << kSlotBits];
  // The number made and not kept yet (_made null: none).
  Slot* _made = nullptr;
  UInt64 _madeBits = 0;
  const char* _madeText = nullptr;
  UInt32 _madeSize = 0;
};

// " 00" .. " ff", each in 4 bytes so that one store writes it (and one byte more).
struct SpacedHexTable {
  char text[256][4] = {};
  constexpr SpacedHexTable() {
    const char digits[] = "0123456789abcdef";
    for (Int32 i = 0; i < 256; ++i) {
      text[i][0] = ' ';
      text[i][1] = digits[i >> 4];
      text[i][2] = digits[i & 15];
    }
  }
};
constexpr SpacedHexTable kSpacedHex;
inline char* SpacedHex(char* w, unsigned byte) {
  std::memcpy(w, kSpacedHex.text[byte], 4);
  return w + 3;
}

inline char* Hex2(char* w, unsigned v) {
  static const char kDigits[] = "0123456789abcdef";
  w[0] = kDigits[(v >> 4) & 15];
  w[1] = kDigits[v & 15];
  return w + 2;
}

// The most one line of the tree or one JSON object takes: the indentation (at most
// 2 * kMaxIndent), an offset, a depth, the kind, 64 string units as \uXXXX escapes or 12
// numbers, a role and a name.
constexpr size_t kLineRoom = 4096;

// A name and its length.
struct Word {
  const char* s;
  size_t n;
};
#define LUMDUMP_TEXT(literal) \
  Word { literal, sizeof literal - 1 }

constexpr Word KindText(Int32 kind) {
  switch (kind) {
    case lumora::HYPERFILEVALUE_CHUNKSTART:
      return LUMDUMP_TEXT("chunk");
    case lumora::HYPERFILEVALUE_CHUNKEND:
      return LUMDUMP_TEXT("end");
    case lumora::HYPERFILEVALUE_CHAR:
      return LUMDUMP_TEXT("char");
    case lumora::HYPERFILEVALUE_UCHAR:
      return LUMDUMP_TEXT("uchar");
    case lumora::HYPERFILEVALUE_INT16:
      return LUMDUMP_TEXT("int16");
    case lumora::HYPERFILEVALUE_UINT16:
      return LUMDUMP_TEXT("uint16");
    case lumora::HYPERFILEVALUE_INT32:
      return LUMDUMP_TEXT("int32");
    case lumora::HYPERFILEVALUE_UINT32:
      return LUMDUMP_TEXT("uint32");
    case lumora::HYPERFILEVALUE_INT64:
      return LUMDUMP_TEXT("int64");
    case lumora::HYPERFILEVALUE_UINT64:
      return LUMDUMP_TEXT("uint64");
    case lumora::HYPERFILEVALUE_FLOAT:
      return LUMDUMP_TEXT("float");
    case lumora::HYPERFILEVALUE_FLOAT64:
      return LUMDUMP_TEXT("float64");
    case lumora::HYPERFILEVALUE_BOOL:
      return LUMDUMP_TEXT("bool");
    case lumora::HYPERFILEVALUE_TIME:
      return LUMDUMP_TEXT("time");
    case lumora::HYPERFILEVALUE_VECTOR:
      return LUMDUMP_TEXT("vector");
    case lumora::HYPERFILEVALUE_VECTOR64:
      return LUMDUMP_TEXT("vector64");
    case lumora::HYPERFILEVALUE_MATRIX:
      return LUMDUMP_TEXT("matrix");
    case lumora::HYPERFILEVALUE_MATRIX64:
      return LUMDUMP_TEXT("matrix64");
    case lumora::HYPERFILEVALUE_VECTOR32:
      return LUMDUMP_TEXT("vector32");
    case lumora::HYPERFILEVALUE_MATRIX32:
      return LUMDUMP_TEXT("matrix32");
    case lumora::HYPERFILEVALUE_FLOAT32:
      return LUMDUMP_TEXT("float32");
    case lumora::HYPERFILEVALUE_MEMORY:
      return LUMDUMP_TEXT("memory");
    case lumora::HYPERFILEVALUE_STRING:
      return LUMDUMP_TEXT("string");
    case lumora::HYPERFILEVALUE_FILENAME:
      return LUMDUMP_TEXT("filename");
    case lumora::HYPERFILEVALUE_CONTAINER:
      return LUMDUMP_TEXT("oldcontainer");
    case lumora::HYPERFILEVALUE_VECTORARRAY:
      return LUMDUMP_TEXT("vectorarray");
    case lumora::HYPERFILEVALUE_POLYGONARRAY:
      return LUMDUMP_TEXT("polygonarray");
    case lumora::HYPERFILEVALUE_UINT16ARRAY:
      return LUMDUMP_TEXT("uint16array");
    case lumora::HYPERFILEVALUE_OLDRECORDARRAY:
      return LUMDUMP_TEXT("oldrecordarray");
    case lumora::HYPERFILEVALUE_FLOAT32ARRAY:
      return LUMDUMP_TEXT("float32array");
    case lumora::HYPERFILEVALUE_MEMORY64:
      return LUMDUMP_TEXT("memory64");
    case lumora::HYPERFILEVALUE_ARRAY:
      return LUMDUMP_TEXT("array");
    default:
      return LUMDUMP_TEXT("value");  // 129 and 138: counted kinds no writer uses
  }
}

const char* KindName(const HyperFileAnyValue& v) { return KindText(v.kind).s; }

// The kind names, each padded to 16 bytes so that a line takes one in a single move.
struct KindNames {
  char text[256][16] = {};
  unsigned char size[256] = {};
  constexpr KindNames() {
    for (Int32 k = 0; k < 256; ++k) {
      const Word t = KindText(k);
      for (size_t i = 0; i < t.n; ++i) text[k][i] = t.s[i];
      size[k] = static_cast<unsigned char>(t.n);
    }
  }
};
constexpr KindNames kKindNames;
static_assert(sizeof "oldrecordarray" <= 16, "a kind name fits its slot");

inline char* PutKind(char* w, const HyperFileAnyValue& v) {
  const unsigned k = static_cast<unsigned>(v.kind) & 255;  // a kind is a byte
  std::memcpy(w, kKindNames.text[k], 16);
  return w + kKindNames.size[k];
}

const char* ArrayTypeName(Int32 type) {
  switch (type) {
    case lumora::HYPERFILEARRAY_CHAR:
      return "int8";
    case lumora::HYPERFILEARRAY_INT16:
      return "int16";
    case lumora::HYPERFILEARRAY_INT32:
      return "int32";
    case lumora::HYPERFILEARRAY_INT64:
      return "int64";
    case lumora::HYPERFILEARRAY_FLOAT32:
      return "float32";
    case lumora::HYPERFILEARRAY_FLOAT64:
      return "float64";
    default:
      return nullptr;
  }
}

bool IsFloatArray(Int32 type) {
  return type == lumora::HYPERFILEARRAY_FLOAT32 || type == lumora::HYPERFILEARRAY_FLOAT64;
}

// c from 0x80 up: PutQuoted writes the ASCII range itself.
char* PutUtf8(char* w, UInt64 c) {
  if (c < 0x800) {
    *w++ = static_cast<char>(0xC0 | (c >> 6));
    *w++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *w++ = static_cast<char>(0xE0 | (c >> 12));
    *w++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *w++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *w++ = static_cast<char>(0xF0 | (c >> 18));
    *w++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *w++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *w++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return w;
}

// The units as a quoted string (the same escapes in both forms, valid JSON): quotes,
// backslashes and control characters escaped, unpaired surrogates as \uXXXX.
char* PutQuoted(char* w, const Int64* units, Int32 n) {
  *w++ = '"';
  for (Int32 i = 0; i < n; ++i) {
    const UInt64 u = static_cast<UInt16>(units[i]);
    if (u >= 0x20 && u < 0x7F && u != '"' && u != '\\') {
      *w++ = static_cast<char>(u);
      continue;
    }
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < n) {
      const UInt64 low = static_cast<UInt16>(units[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        w = PutUtf8(w, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u == '"' || u == '\\') {
      *w++ = '\\';
      *w++ = static_cast<char>(u);
    } else if (u == '\n') {
      w = Lit(w, "\\n");
    } else if (u == '\t') {
      w = Lit(w, "\\t");
    } else if (u < 0x20 || (u >= 0xD800 && u < 0xE000) || u == 0x7F) {
      w = Lit(w, "\\u");
      w = Hex2(w, static_cast<unsigned>(u >> 8));
      w = Hex2(w, static_cast<unsigned>(u & 0xFF));
    } else {
      w = PutUtf8(w, u);
    }
  }
  *w++ = '"';
  return w;
}

// The kinds RepeatCache keeps and their first slots (-1: not kept); an array takes the slot of its
// kind plus its element type (0 for a type no writer uses).
struct RepeatSlots {
  signed char slot[256] = {};
  int count = 0;
  constexpr RepeatSlots() {
    for (int k = 0; k < 256; ++k) slot[k] = -1;
    const int kinds[] = {lumora::HYPERFILEVALUE_MATRIX,   lumora::HYPERFILEVALUE_MATRIX32,
                         lumora::HYPERFILEVALUE_MATRIX64, lumora::HYPERFILEVALUE_MEMORY,
                         lumora::HYPERFILEVALUE_MEMORY64, lumora::HYPERFILEVALUE_STRING,
                         lumora::HYPERFILEVALUE_FILENAME, lumora::HYPERFILEVALUE_ARRAY};
    for (int k : kinds) slot[k] = static_cast<signed char>(count++);
    count += lumora::HYPERFILEARRAY_FLOAT64;  // the array types
  }
};
constexpr RepeatSlots kRepeatSlots;

// The text of the last value of each kind whose text takes many numbers or elements
// (matrices, memory blocks, strings, file names, and arrays by element type), with what it was
// made from: streams repeat such values (identity matrices, the same names, blocks and arrays in
// every node), and comparing a value with the last one of its kind costs less than making its
// text. Kinds whose values seldom repeat back to back (times, vectors) and those whose text is
// short (single numbers) are not kept.
class RepeatCache {
 public:
  // The slot of v's kind, or -1 when its kind is not kept.
  static int SlotOf(const HyperFileAnyValue& v) {
    const int s = kRepeatSlots.slot[static_cast<unsigned>(v.kind) & 255];
    if (v.kind != lumora::HYPERFILEVALUE_ARRAY) return s;
    const UInt32 type = static_cast<UInt32>(v.elementType);
    return s + (type <= lumora::HYPERFILEARRAY_FLOAT64 ? static_cast<int>(type) : 0);
  }
  // The kept text of v written at w (returns the end), or null when v differs from the last
  // value of its slot (s, not -1).
  char* Put(int s, char* w, const HyperFileAnyValue& v) {
    Slot& slot = _slots[s];
    if (slot.textBytes == 0 || !Same(slot, v)) {
      ++slot.misses;
      return nullptr;
    }
    slot.misses = 0;
    std::memcpy(w, slot.text, slot.textBytes);
    return w + slot.textBytes;
  }
  // Keeps the text [begin, end) as the text of v, a value of slot s that Put missed. A slot
  // whose values have not repeated lately keeps only every 16th, so that a stream without
  // repeats pays little more than the comparisons.
  void Keep(int s, const HyperFileAnyValue& v, const char* begin, const char* end) {
    Slot& slot = _slots[s];
    if (slot.misses > 4 && (slot.misses & 15) != 0) return;
    const size_t n = static_cast<size_t>(end - begin);
    slot.textBytes = n <= sizeof slot.text ? n : 0;  // 0: nothing kept
    if (slot.textBytes == 0) return;
    const void* payload = KeyOf(v, &slot.key);
    std::memcpy(slot.payload, payload, slot.key.payloadBytes);
    std::memcpy(slot.text, begin, n);
  }

 private:
  // What a value's text is made of besides its kind; no padding, so that it compares as bytes.
  struct Key {
    Int64 size;
    Int64 elements;
    Int32 elementType;
    Int32 headCount;
    Int32 numberCount;
    UInt32 payloadBytes;
  };
  static_assert(sizeof(Key) == 32, "a key has no padding");
  struct Slot;
  // Whether v is the value the slot's text was made from. The fields are compared where they
  // lie: a key gathered on the stack and compared as a block would be loaded wider than it was
  // stored, which waits for the stores to retire.
  static bool Same(const Slot& slot, const HyperFileAnyValue& v) {
    const Key& key = slot.key;
    if (key.size != v.size || key.elements != v.elements || key.elementType != v.elementType ||
        key.headCount != v.headCount || key.numberCount != v.numberCount)
      return false;
    Key unused;
    return std::memcmp(KeyOf(v, &unused), slot.payload, key.payloadBytes) == 0;
  }
  // The numbers or the elements shown, as bytes (their bits: 0 and -0 differ in the text).
  static const void* KeyOf(const HyperFileAnyValue& v, Key* key) {
    key->size = v.size;
    key->elements = v.elements;
    key->elementType = v.elementType;
    key->headCount = v.headCount;
    key->numberCount = v.numberCount;
    Int32 shown = kShownElements;
    const void* payload = v.heads;
    switch (v.kind) {
      case lumora::HYPERFILEVALUE_MEMORY:
      case lumora::HYPERFILEVALUE_MEMORY64:
        shown = kShownBytes;
        break;
      case lumora::HYPERFILEVALUE_STRING:
      case lumora::HYPERFILEVALUE_FILENAME:
        shown = kShownUnits;
        break;
      case lumora::HYPERFILEVALUE_ARRAY:
        if (IsFloatArray(v.elementType)) payload = v.headFloats;
        break;
      default:  // matrices
        key->payloadBytes = static_cast<UInt32>(v.numberCount) * 8;
        return v.numbers;
    }
    key->payloadBytes = static_cast<UInt32>(v.headCount < shown ? v.headCount : shown) * 8;
    return payload;
  }
  struct Slot {
    Key key = {};
    size_t textBytes = 0;
    UInt32 misses = 0;  // since the last hit
    char payload[HyperFileAnyValue::kHeadCount * 8];
    char text[512];  // a longer text (a string of many escapes) is not kept
  };
  Slot _slots[16];
  static_assert(kRepeatSlots.count <= 16, "a slot per kept kind and array type");
};

// What a container chunk's values are, by their place: the container id, then per entry the
// entry id, the value's type id and the value (nothing for nil and untyped pointers; a chunk for
// containers and custom types).
enum Role : signed char {
  kRoleNone = -1,
  kRoleContainerId = 0,
  kRoleEntryId = 1,
  kRoleType = 2,
  kRoleValue = 3,
  kRoleValueChunk = 4,  // the value is a chunk that is open
};

bool KnownValueType(Int32 type) {
  switch (type) {
    case 0:
    case 14:
    case 15:
    case 19:
    case 22:
    case 23:
    case 25:
    case 26:
    case 128:
    case 130:
    case 131:
    case 132:
    case 133:
      return true;
    default:
      return type >= 1000000;
  }
}

class Dumper {
 public:
  Dumper(HyperFile* hf, const char* label, const Options& options, Sink out, Sink err)
      : _hf(hf), _label(label), _options(options), _out(out), _err(err) {}

  int Run();

 private:
  // Depth at which an item at the stream depth d is shown, or -1 when it is not shown.
  // The plain tree (no JSON, offsets, depth limit or id): every item is shown at its depth, so
  // the loop for it leaves those tests out.
  bool Plain() const {
    return !_options.json && !_options.offsets && !_options.onlyId && _options.depth < 0;
  }
  template <bool kPlain>
  Int64 Shown(Int64 d) const {
    return kPlain ? d : ShownDepth(d);
  }
  template <bool kPlain>
  int Loop();
  Int64 ShownDepth(Int64 d) const {
    if (_options.onlyId && _matchDepth < 0) return -1;
    const Int64 shown = _options.onlyId ? d - _matchDepth : d;
    if (_options.depth >= 0 && shown > _options.depth) return -1;
    return shown;
  }
  const char* TakeRole(const HyperFileAnyValue& v, Int64 d, Int32* type);
  template <bool kPlain>
  void Line(const HyperFileAnyValue& v, Int64 shown, const char* role, Int32 roleType);
  char* Text(char* w, const HyperFileAnyValue& v);
  char* FreshText(char* w, const HyperFileAnyValue& v);
  char* Json(char* w, const HyperFileAnyValue& v);
  char* OpenItem(char* w, Int64 shown);
  void CloseChunk(Int64 shown);
  void Fault(Int64 offset, const char* expected);
  void ValueFault(const HyperFileAnyValue& v);
  // ChunkName, remembered for the ids last asked (the ids of a stream repeat), with the tree's
  // text of the last chunk start of the id.
  const char* CachedChunkName(Int32 id) { return NamedSlot(id).name; }
  char* ChunkText(char* w, const HyperFileAnyValue& v);
  struct NameSlot;
  NameSlot& NamedSlot(Int32 id) {
    NameSlot& slot = _names[static_cast<UInt32>(id) % kNameSlots];
    if (!slot.known || slot.id != id) {
      slot.id = id;
      slot.name = ChunkName(id);
      slot.known = true;
      slot.textBytes = 0;
    }
    return slot;
  }
  static size_t Slot(Int64 shown) {
    return shown < kTracked + 1 ? static_cast<size_t>(shown) : kTracked + 1;
  }

  HyperFile* _hf;
  const char* _label;
  const Options _options;  // a copy: read for every value, kept beside the rest
  Out<kOutBytes> _out;
  Sink _err;
  Int64 _matchDepth = -1;
  // Per open chunk (up to kTracked): its id and offset, and the role of the next value inside
  // it when it is a container.
  Int32 _ids[kTracked];
  Int64 _starts[kTracked];
  signed char _roles[kTracked + 1];
  // JSON: whether an item was written at each shown depth (for the commas).
  bool _first[kTracked + 2];
  Int64 _jsonOpen = 0;  // chunks whose "items" array is open
  static constexpr UInt32 kNameSlots = 64;
  static constexpr size_t kLongestKeptName = 32;
  struct NameSlot {
    Int32 id = 0;
    bool known = false;
    const char* name = nullptr;
    // " id (name) level L" of the chunk start at this level (textBytes 0: none yet), kept for
    // names of up to kLongestKeptName bytes: at most 1 + 11 + 2 + 32 + 1 + 7 + 11 bytes.
    Int32 level = 0;
    UInt32 textBytes = 0;
    char text[80];
  };
  NameSlot _names[kNameSlots];
  NumberCache _numbers;
  RepeatCache _repeats;
};

[[gnu::always_inline]] inline const char* Dumper::TakeRole(const HyperFileAnyValue& v, Int64 d,
                                                           Int32* type) {
  *type = 0;
  if (d > kTracked) return nullptr;
  signed char& role = _roles[d];
  if (role == kRoleNone || role == kRoleValueChunk) return nullptr;  // most values
  const bool isInt32 = v.kind == lumora::HYPERFILEVALUE_INT32;
  switch (role) {
    case kRoleContainerId:
      role = isInt32 ? kRoleEntryId : kRoleNone;
      return isInt32 ? "container id" : nullptr;
    case kRoleEntryId:
      role = isInt32 ? kRoleType : kRoleNone;
      return isInt32 ? "entry id" : nullptr;
    case kRoleType:
      if (!isInt32 || !KnownValueType(static_cast<Int32>(v.integer))) {
        role = kRoleNone;
        return nullptr;
      }
      *type = static_cast<Int32>(v.integer);
      role = (*type == 0 || *type == 14) ? kRoleEntryId : kRoleValue;
      return "type";
    case kRoleValue:
      role = v.kind == lumora::HYPERFILEVALUE_CHUNKSTART ? kRoleValueChunk : kRoleEntryId;
      return nullptr;
    default:
      return nullptr;
  }
}

char* Dumper::OpenItem(char* w, Int64 shown) {
  if (!_options.json) return w;
  const size_t slot = Slot(shown);
  if (!_first[slot]) *w++ = ',';
  _first[slot] = false;
  *w++ = '\n';
  w = Spaces(w, 2 * Min(shown + 1, kMaxIndent));
  return w;
}

template <bool kPlain>
[[gnu::always_inline]] inline void Dumper::Line(const HyperFileAnyValue& v, Int64 shown,
                                                const char* role, Int32 roleType) {
  _numbers.Settle();  // the last line's text stays put until then
  char* w = _out.Reserve(kLineRoom);
  if (!kPlain && _options.json) {
    w = OpenItem(w, shown);
    *w++ = '{';
    if (_options.offsets) {
      w = Lit(w, "\"offset\":");
      w = Int(w, v.offset);
      *w++ = ',';
    }
    w = Lit(w, "\"kind\":\"");
    w = PutKind(w, v);
    *w++ = '"';
    w = Json(w, v);
    if (role != nullptr) {
      w = Lit(w, ",\"role\":\"");
      w = Put(w, role);
      *w++ = '"';
      if (roleType != 0 || std::strcmp(role, "type") == 0) {
        const char* name = ValueTypeName(roleType);
        if (name != nullptr) {
          w = Lit(w, ",\"type\":\"");
          w = Put(w, name);
          *w++ = '"';
        }
      }
    }
    if (v.kind != lumora::HYPERFILEVALUE_CHUNKSTART) *w++ = '}';
    _out.Commit(w);
    return;
  }
  if (!kPlain && _options.offsets) {
    char b[24];
    auto r = std::to_chars(b, b + sizeof b, v.offset);
    const size_t n = static_cast<size_t>(r.ptr - b);
    w = Spaces(w, n < 10 ? static_cast<Int64>(10 - n) : 0);
    w = Put(w, b, n);
    *w++ = ' ';
  }
  w = Spaces(w, 2 * Min(shown, kMaxIndent));
  if (shown > kMaxIndent) {
    w = Lit(w, "(depth ");
    w = Int(w, shown);
    w = Lit(w, ") ");
  }
  w = PutKind(w, v);
  w = Text(w, v);
  if (role != nullptr) {
    w = Lit(w, "  [");
    w = Put(w, role);
    const char* name = std::strcmp(role, "type") == 0 ? ValueTypeName(roleType) : nullptr;
    if (name != nullptr) {
      *w++ = ' ';
      w = Put(w, name);
    }
    *w++ = ']';
  }
  *w++ = '\n';
  _out.Commit(w);
}

[[gnu::always_inline]] inline char* Dumper::Text(char* w, const HyperFileAnyValue& v) {
  const int slot = RepeatCache::SlotOf(v);
  if (slot < 0) return FreshText(w, v);
  char* end = _repeats.Put(slot, w, v);
  if (end != nullptr) return end;
  end = FreshText(w, v);
  _repeats.Keep(slot, v, w, end);
  return end;
}

// " id (name) level L" at w.
char* ChunkStartText(char* w, const HyperFileAnyValue& v, const char* name) {
  *w++ = ' ';
  w = Int(w, v.id);
  if (name != nullptr) {
    w = Lit(w, " (");
    w = Put(w, name);
    *w++ = ')';
  }
  w = Lit(w, " level ");
  return Int(w, v.level);
}

char* Dumper::ChunkText(char* w, const HyperFileAnyValue& v) {
  NameSlot& slot = NamedSlot(v.id);
  if (slot.textBytes == 0 || slot.level != v.level) {
    if (slot.name != nullptr && std::strlen(slot.name) > kLongestKeptName)
      return ChunkStartText(w, v, slot.name);
    slot.level = v.level;
    slot.textBytes = static_cast<UInt32>(ChunkStartText(slot.text, v, slot.name) - slot.text);
  }
  std::memcpy(w, slot.text, sizeof slot.text);
  return w + slot.textBytes;
}

[[gnu::always_inline]] inline char* Dumper::FreshText(char* w, const HyperFileAnyValue& v) {
  switch (v.kind) {
    case lumora::HYPERFILEVALUE_CHUNKSTART:
      return ChunkText(w, v);
    case lumora::HYPERFILEVALUE_BOOL:
      w = Put(w, v.integer != 0 ? " true" : " false");
      return w;
    case lumora::HYPERFILEVALUE_UINT64:
      *w++ = ' ';
      w = UInt(w, static_cast<UInt64>(v.integer));
      return w;
    case lumora::HYPERFILEVALUE_TIME:
      *w++ = ' ';
      w = _numbers.Put(w, v.numbers[0]);
      *w++ = '/';
      w = _numbers.Put(w, v.numbers[1]);
      return w;
    case lumora::HYPERFILEVALUE_MEMORY:
    case lumora::HYPERFILEVALUE_MEMORY64: {
      *w++ = ' ';
      w = Int(w, v.size);
      w = Put(w, v.size == 1 ? " byte" : " bytes");
      const Int32 n = v.headCount < kShownBytes ? v.headCount : kShownBytes;
      if (n > 0) *w++ = ':';
      for (Int32 i = 0; i < n; ++i) w = SpacedHex(w, static_cast<unsigned>(v.heads[i]) & 255);
      if (v.elements > n) w = Lit(w, " ...");
      return w;
    }
    case lumora::HYPERFILEVALUE_STRING:
    case lumora::HYPERFILEVALUE_FILENAME: {
      const Int32 n = v.headCount < kShownUnits ? v.headCount : kShownUnits;
      *w++ = ' ';
      w = PutQuoted(w, v.heads, n);
      if (v.elements > n) {
        w = Lit(w, "... (");
        w = Int(w, v.elements);
        w = Lit(w, " units)");
      }
      return w;
    }
    case lumora::HYPERFILEVALUE_ARRAY: {
      const char* type = ArrayTypeName(v.elementType);
      *w++ = ' ';
      if (type != nullptr) {
        w = Put(w, type);
      } else {
        w = Lit(w, "type ");
        w = Int(w, v.elementType);
      }
      w = Lit(w, " x");
      w = Int(w, v.elements);
      const Int32 n = v.headCount < kShownElements ? v.headCount : kShownElements;
      if (n > 0) *w++ = ':';
      for (Int32 i = 0; i < n; ++i) {
        *w++ = ' ';
        if (IsFloatArray(v.elementType))
          w = _numbers.Put(w, v.headFloats[i]);
        else
          w = Int(w, v.heads[i]);
      }
      if (v.elements > n) w = Lit(w, " ...");
      if (type == nullptr) {
        w = Lit(w, ", ");
        w = Int(w, v.size);
        w = Lit(w, " bytes");
      }
      return w;
    }
    default:
      break;
  }
  if (v.kind >= lumora::HYPERFILEVALUE_MEMORY) {  // older arrays and unused counted kinds
    w = Lit(w, " count ");
    w = Int(w, v.elements);
    w = Lit(w, ", ");
    w = Int(w, v.size);
    w = Lit(w, " bytes");
    return w;
  }
  if (v.numberCount == 0) {
    *w++ = ' ';
    w = Int(w, v.integer);
    return w;
  }
  if (v.numberCount == 1) {
    *w++ = ' ';
    w = _numbers.Put(w, v.numbers[0]);
    return w;
  }
  for (Int32 i = 0; i < v.numberCount; i += 3) {
    w = Lit(w, " (");
    for (Int32 j = i; j < i + 3; ++j) {
      if (j > i) w = Lit(w, ", ");
      w = _numbers.Put(w, v.numbers[j]);
    }
    *w++ = ')';
  }
  return w;
}

char* Dumper::Json(char* w, const HyperFileAnyValue& v) {
  switch (v.kind) {
    case lumora::HYPERFILEVALUE_CHUNKSTART: {
      w = Lit(w, ",\"id\":");
      w = Int(w, v.id);
      const char* name = CachedChunkName(v.id);
      if (name != nullptr) {
        w = Lit(w, ",\"name\":\"");
        w = Put(w, name);
        *w++ = '"';
      }
      w = Lit(w, ",\"level\":");
      w = Int(w, v.level);
      return w;
    }
    case lumora::HYPERFILEVALUE_BOOL:
      w = Put(w, v.integer != 0 ? ",\"value\":true" : ",\"value\":false");
      return w;
    case lumora::HYPERFILEVALUE_UINT64:
      w = Lit(w, ",\"value\":");
      w = UInt(w, static_cast<UInt64>(v.integer));
      return w;
    case lumora::HYPERFILEVALUE_MEMORY:
    case lumora::HYPERFILEVALUE_MEMORY64: {
      w = Lit(w, ",\"size\":");
      w = Int(w, v.size);
      w = Lit(w, ",\"first\":[");
      const Int32 n = v.headCount < kShownBytes ? v.headCount : kShownBytes;
      for (Int32 i = 0; i < n; ++i) {
        if (i > 0) *w++ = ',';
        w = Int(w, v.heads[i]);
      }
      *w++ = ']';
      return w;
    }
    case lumora::HYPERFILEVALUE_STRING:
    case lumora::HYPERFILEVALUE_FILENAME: {
      const Int32 n = v.headCount < kShownUnits ? v.headCount : kShownUnits;
      w = Lit(w, ",\"value\":");
      w = PutQuoted(w, v.heads, n);
      if (v.elements > n) {
        w = Lit(w, ",\"units\":");
        w = Int(w, v.elements);
        w = Lit(w, ",\"cut\":true");
      }
      return w;
    }
    case lumora::HYPERFILEVALUE_ARRAY: {
      w = Lit(w, ",\"type\":");
      const char* type = ArrayTypeName(v.elementType);
      if (type != nullptr) {
        *w++ = '"';
        w = Put(w, type);
        *w++ = '"';
      } else {
        w = Int(w, v.elementType);
      }
      w = Lit(w, ",\"count\":");
      w = Int(w, v.elements);
      w = Lit(w, ",\"size\":");
      w = Int(w, v.size);
      w = Lit(w, ",\"first\":[");
      const Int32 n = v.headCount < kShownElements ? v.headCount : kShownElements;
      for (Int32 i = 0; i < n; ++i) {
        if (i > 0) *w++ = ',';
        if (IsFloatArray(v.elementType))
          w = _numbers.Put(w, v.headFloats[i]);
        else
          w = Int(w, v.heads[i]);
      }
      *w++ = ']';
      return w;
    }
    default:
      break;
  }
  if (v.kind >= lumora::HYPERFILEVALUE_MEMORY) {
    w = Lit(w, ",\"count\":");
    w = Int(w, v.elements);
    w = Lit(w, ",\"size\":");
    w = Int(w, v.size);
    return w;
  }
  w = Lit(w, ",\"value\":");
  if (v.numberCount == 0) {
    w = Int(w, v.integer);
    return w;
  }
  if (v.numberCount == 1) {
    w = _numbers.Put(w, v.numbers[0]);
    return w;
  }
  *w++ = '[';
  for (Int32 i = 0; i < v.numberCount; ++i) {
    if (i > 0) *w++ = ',';
    w = _numbers.Put(w, v.numbers[i]);
  }
  *w++ = ']';
  return w;
}

void Dumper::CloseChunk(Int64 shown) {
  if (!_options.json) return;
  _numbers.Settle();
  char* w = _out.Reserve(kLineRoom);
  if (!_first[Slot(shown + 1)]) {
    *w++ = '\n';
    w = Spaces(w, 2 * Min(shown + 1, kMaxIndent));
  }
  w = Lit(w, "]}");
  _out.Commit(w);
  --_jsonOpen;
}

void Dumper::Fault(Int64 offset, const char* expected) {
  while (_jsonOpen > 0) CloseChunk(_jsonOpen - 1);  // the JSON stays well formed
  if (_options.json) _out.Put("\n]\n");
  _out.Flush();
  Out<kMessageBytes> err(_err);
  err.Put("lumora-dump: ");
  err.Put(_label);
  err.Put(": offset ");
  err.Int(offset);
  err.Put(": expected ");
  err.Put(expected);
  err.Char('\n');
}

void Dumper::ValueFault(const HyperFileAnyValue& v) {
  char what[200];
  const lumora::FILEERROR e = _hf->GetError();
  if (e == lumora::FILEERROR_WRONG_VALUE) {
    std::snprintf(what, sizeof what, "a value, found byte 0x%02x (no value has that kind)",
                  static_cast<unsigned>(v.kind));
  } else if (e == lumora::FILEERROR_READ && v.kind != lumora::HYPERFILEVALUE_NONE) {
    std::snprintf(what, sizeof what,
                  "a whole %s value: its size is negative or it runs past the end of the "
                  "stream at %lld",
                  KindName(v), static_cast<long long>(_hf->GetLength()));
  } else {
    std::snprintf(what, sizeof what, "a value (file error %d)", static_cast<int>(e));
  }
  Fault(v.offset, what);
}

int Dumper::Run() {
  for (Int32 i = 0; i < kTracked + 2; ++i) _first[i] = true;
  _roles[0] = kRoleNone;
  if (_options.json) _out.Char('[');
  return Plain() ? Loop<true>() : Loop<false>();
}

template <bool kPlain>
int Dumper::Loop() {
  const Int64 length = _hf->GetLength();
  HyperFileAnyValue v;
  static_assert(kShownElements <= kShownBytes, "the heads kept cover what is shown");
  v.headLimit = kShownBytes;
  for (;;) {
    const Int64 d = _hf->GetChunkDepth();
    if (_hf->GetPosition() >= length) {
      if (d > 0) {
        char what[160];
        const Int64 top = d <= kTracked ? d - 1 : -1;
        if (top >= 0) {
          std::snprintf(what, sizeof what, "the end of chunk %d (opened at offset %lld)",
                        static_cast<int>(_ids[top]), static_cast<long long>(_starts[top]));
        } else {
          std::snprintf(what, sizeof what, "the end of a chunk %lld levels deep",
                        static_cast<long long>(d));
        }
        Fault(length, what);
        return kExitFault;
      }
      break;
    }
    if (!_hf->ReadAnyValue(&v)) {
      ValueFault(v);
      return kExitFault;
    }
    if (v.kind == lumora::HYPERFILEVALUE_CHUNKEND) {
      // The depth counted the end byte already.
      if (d == 0) {
        Fault(v.offset, "a value or a chunk start, found a chunk end with no chunk open");
        return kExitFault;
      }
      // The chunk's contents lie at depth d: its "items" were opened when they are shown.
      const Int64 shown = Shown<kPlain>(d - 1);
      if ((!kPlain && _options.json) && shown >= 0 && Shown<kPlain>(d) >= 0) CloseChunk(shown);
      if ((!kPlain && _options.onlyId) && _matchDepth == d - 1) _matchDepth = -1;
      if (d - 1 <= kTracked && _roles[d - 1] == kRoleValueChunk) _roles[d - 1] = kRoleEntryId;
      continue;
    }
    Int32 roleType = 0;
    const char* role = TakeRole(v, d, &roleType);
    if (v.kind == lumora::HYPERFILEVALUE_CHUNKSTART) {
      if ((!kPlain && _options.onlyId) && _matchDepth < 0 && v.id == _options.id) _matchDepth = d;
      const Int64 shown = Shown<kPlain>(d);
      if (d < kTracked) {
        _ids[d] = v.id;
        _starts[d] = v.offset;
      }
      const bool inside = Shown<kPlain>(d + 1) >= 0;
      if (d + 1 <= kTracked) {
        _roles[d + 1] =
            v.id == lumora::HYPERFILEVALUE_CONTAINER && v.level == 1 ? kRoleContainerId : kRoleNone;
      }
      if (shown >= 0) _first[Slot(shown + 1)] = true;
      if (shown >= 0) {
        Line<kPlain>(v, shown, role, roleType);
        if ((!kPlain && _options.json)) {
          _numbers.Settle();
          if (inside) {
            _out.Put(",\"items\":[");
            ++_jsonOpen;
          } else {
            _out.Char('}');
          }
        }
      }
      continue;
    }
    const Int64 shown = Shown<kPlain>(d);
    if (shown >= 0) Line<kPlain>(v, shown, role, roleType);
  }
  if ((!kPlain && _options.json)) _out.Put("\n]\n");
  _out.Flush();
  return kExitOk;
}

}  // namespace

int Run(const lumora::Filename& name, const char* label, const Options& options, Sink out,
        Sink err) {
  if (options.check) return Check(name, label, options, out, err);
  HyperFile hf;
  hf.SetFileVersion(options.fileVersion);
  hf.SetFloat32Mode(options.float32);
  if (!hf.Open(name, lumora::FILEOPEN_READ)) {
    Out<kMessageBytes> e(err);
    e.Put("lumora-dump: cannot open ");
    e.Put(label);
    e.Put(": ");
    if (hf.GetOSError() != 0) {
      e.Put(std::strerror(hf.GetOSError()));
    } else {
      e.Put("file error ");
      e.Int(hf.GetError());
    }
    e.Put("\n");
    return kExitFault;
  }
  if (options.littleEndian) hf.SetByteOrder(lumora::BYTEORDER_INTEL);
  // The dumper holds a 256 KiB output buffer: not on the stack of a fuzzing or test thread.
  Dumper* dumper = lumora::NewObj<Dumper>(&hf, label, options, out, err);
  if (dumper == nullptr) {
    Out<kMessageBytes> e(err);
    e.Put("lumora-dump: out of memory\n");
    return kExitFault;
  }
  const int status = dumper->Run();
  lumora::DeleteObj(dumper);
  return status;
}

}  // namespace lumdump
