// String: encodings in both directions, editing operations, comparisons, numbers, the system
// text stand-in, and every allocating operation under allocation failure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/lum_platform.h"
#include "lumora.h"
#include "test_support.h"
#include "text_support.h"

using namespace lumora;

namespace {

using lumtest::S;
using lumtest::U;

// Decodes count bytes with the encoding.
std::u16string Dec(const char* bytes, Int32 count, STRINGENCODING enc) {
  String s;
  Int32 n = s.SetCString(bytes, count, enc);
  EXPECT_EQ(n, s.GetLength());
  return U(s);
}
std::u16string Dec(const std::string& bytes, STRINGENCODING enc) {
  return Dec(bytes.data(), static_cast<Int32>(bytes.size()), enc);
}

// Encodes into a buffer of the given size and returns the bytes written; checks the terminator
// and the count against the bytes.
std::string Enc(const String& s, Int32 size, STRINGENCODING enc) {
  std::string buf(static_cast<size_t>(size) + 8, '\x7E');
  Int32 n = s.GetCString(&buf[0], size, enc);
  EXPECT_GE(n, 0);
  EXPECT_LT(n, size);
  EXPECT_EQ('\0', buf[static_cast<size_t>(n)]);
  EXPECT_EQ('\x7E', buf[static_cast<size_t>(size)]) << "wrote past the buffer";
  return buf.substr(0, static_cast<size_t>(n));
}
std::string Enc(const String& s, STRINGENCODING enc) { return Enc(s, 4096, enc); }

// Mac OS Roman bytes 0x80..0xFE, written as the characters they stand for.
const char16_t kHighHalf[] =
    u"ÄÅÇÉÑÖÜáàâäãåçéèêëíìîïñóòôöõúùûü†°¢£§•¶ß®©™´¨≠ÆØ∞±≤≥¥µ∂∑∏π∫ªºΩæø¿¡¬√ƒ≈∆«»…\u00A0ÀÃÕŒœ–—"
    u"“”‘’÷◊ÿŸ⁄€‹›ﬁﬂ‡·‚„‰ÂÊÁËÈÍÎÏÌÓÔ\uF8FFÒÚÛÙıˆ˜¯˘˙˚¸˝˛";

const STRINGENCODING kByteEncodings[] = {STRINGENCODING_CODEPAGE, STRINGENCODING_CODEPAGE_1BYTE,
                                         STRINGENCODING_ASCII_UESCAPE,
                                         STRINGENCODING_ASCII_HTMLHEX};

// Restores the tables whatever the test does.
struct TablesForgotten {
  TablesForgotten() { _GeForgetStringTables(); }
  ~TablesForgotten() { _GeInitStringTables(); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Code page

TEST(StringCodePage, TablesAreBuiltBeforeMain) { EXPECT_TRUE(GeStringTablesReady()); }

TEST(StringCodePage, EveryByteDecodesToItsCharacterAndEncodesBack) {
  ASSERT_EQ(127u, std::char_traits<char16_t>::length(kHighHalf));
  for (int b = 1; b <= 0xFE; ++b) {
    char byte = static_cast<char>(b);
    char16_t expected = b < 0x80 ? static_cast<char16_t>(b) : kHighHalf[b - 0x80];
    // The decoding encodings that go through the tables.
    for (STRINGENCODING enc : kByteEncodings) {
      if (b == '\\' || b == '&') continue;  // escape starters alone are themselves, checked below
      EXPECT_EQ(std::u16string(1, expected), Dec(&byte, 1, enc)) << "byte " << b << " enc " << enc;
    }
    String s = S(std::u16string(1, expected).c_str());
    EXPECT_EQ(std::string(1, byte), Enc(s, STRINGENCODING_CODEPAGE)) << "byte " << b;
    EXPECT_EQ(std::string(1, byte), Enc(s, STRINGENCODING_CODEPAGE_1BYTE)) << "byte " << b;
    EXPECT_EQ(1, s.GetCStringLen(STRINGENCODING_CODEPAGE));
  }
  EXPECT_EQ(u"\\&", Dec("\\&", 2, STRINGENCODING_CODEPAGE));
}

TEST(StringCodePage, LandmarkRows) {
  const std::pair<int, char16_t> rows[] = {{0x80, 0x00C4}, {0x8A, 0x00E4}, {0x9F, 0x00FC},
                                           {0xA0, 0x2020}, {0xA5, 0x2022}, {0xCA, 0x00A0},
                                           {0xD0, 0x2013}, {0xDB, 0x20AC}, {0xDE, 0xFB01},
                                           {0xF0, 0xF8FF}, {0xF5, 0x0131}, {0xFE, 0x02DB}};
  for (auto [byte, unit] : rows) {
    char b = static_cast<char>(byte);
    EXPECT_EQ(std::u16string(1, unit), Dec(&b, 1, STRINGENCODING_CODEPAGE)) << byte;
  }
}

TEST(StringCodePage, BytesWithoutEntryDecodeToOneAndZeroBytesPairUp) {
  EXPECT_EQ(u"\u0001", Dec("\xFF", 1, STRINGENCODING_CODEPAGE));
  EXPECT_EQ(u"a\u0001b", Dec("a\xFF"
                             "b",
                             3, STRINGENCODING_CODEPAGE));
  // A 0 byte looks up the two-byte code 0x00cc, which is the character of c: both consumed.
  EXPECT_EQ(u"A", Dec(std::string("\0A", 2), STRINGENCODING_CODEPAGE));
  EXPECT_EQ(u"\u00C4", Dec(std::string("\0\x80", 2), STRINGENCODING_CODEPAGE_1BYTE));
  // ... but not when nothing follows, or when 0 follows.
  EXPECT_EQ(u"A\u0001", Dec(std::string("A\0", 2), STRINGENCODING_CODEPAGE));
  EXPECT_EQ(u"\u0001\u0001", Dec(std::string("\0\0", 2), STRINGENCODING_CODEPAGE));
}

TEST(StringCodePage, UnitsWithoutCodeBecomeUnderscore) {
  String s = S(u"a\u4E2D\u02C7b");
  EXPECT_EQ("a__b", Enc(s, STRINGENCODING_CODEPAGE));
  EXPECT_EQ("a__b", Enc(s, STRINGENCODING_CODEPAGE_1BYTE));
  EXPECT_EQ("a__b", Enc(s, static_cast<STRINGENCODING>(9)));  // unknown values act as 1BYTE
  EXPECT_EQ(4, s.GetCStringLen(STRINGENCODING_CODEPAGE));
  UInt16 zero[] = {'x', 0, 'y'};
  String z;
  z.SetUcBlock(zero, 3);
  EXPECT_EQ("x_y", Enc(z, STRINGENCODING_CODEPAGE));
  EXPECT_EQ("x_y", Enc(z, STRINGENCODING_CODEPAGE_1BYTE));
}

TEST(StringCodePage, BeforeTheTablesAreBuiltEverythingIsAscii) {
  String s = S(u"\u00E9t\u00E9\u20AC");
  {
    TablesForgotten forgotten;
    EXPECT_FALSE(GeStringTablesReady());
    for (STRINGENCODING enc : {STRINGENCODING_CODEPAGE, STRINGENCODING_UTF8,
                               STRINGENCODING_ASCII_UESCAPE, STRINGENCODING_ASCII_HTMLHEX}) {
      EXPECT_EQ("_t__", Enc(s, enc)) << enc;
      EXPECT_EQ(4, s.GetCStringLen(enc)) << enc;
    }
    EXPECT_EQ(u"_a", Dec("\x8E"
                         "a",
                         2, STRINGENCODING_CODEPAGE));
    EXPECT_EQ(u"\u00E9", Dec("\\u00e9", 6, STRINGENCODING_CODEPAGE));  // escapes still work
    EXPECT_EQ(u"\u00E9", Dec("\xC3\xA9", 2, STRINGENCODING_UTF8));     // UTF-8 needs no tables
  }
  EXPECT_TRUE(GeStringTablesReady());
  EXPECT_EQ("\x8Et\x8E\xDB", Enc(s, STRINGENCODING_CODEPAGE));
}

// ---------------------------------------------------------------------------------------------
// ASCII, u-escapes and hex references

TEST(StringAscii, DecodesBelow7FOnly) {
  EXPECT_EQ(u"a_~_", Dec("a\x7F~\x80", 4, STRINGENCODING_ASCII));
  EXPECT_EQ(u"_", Dec(std::string("\0", 1), STRINGENCODING_ASCII));
  String s = S(u"a\u007F\u0080\u00E9");
  EXPECT_EQ("a\x7F__", Enc(s, STRINGENCODING_ASCII));
  EXPECT_EQ(4, s.GetCStringLen(STRINGENCODING_ASCII));
}

TEST(StringAscii, ZeroUnitBecomesZeroByteAndIsCounted) {
  UInt16 units[] = {'a', 0, 'b'};
  String s;
  s.SetUcBlock(units, 3);
  char buf[8];
  std::memset(buf, 0x7E, sizeof(buf));
  EXPECT_EQ(3, s.GetCString(buf, sizeof(buf), STRINGENCODING_ASCII));
  EXPECT_EQ(0, std::memcmp("a\0b\0", buf, 4));
}

TEST(StringEscapes, UEscapeDecodesInEveryEncodingButUtf8) {
  for (STRINGENCODING enc :
       {STRINGENCODING_CODEPAGE, STRINGENCODING_CODEPAGE_1BYTE, STRINGENCODING_ASCII,
        STRINGENCODING_ASCII_UESCAPE, STRINGENCODING_ASCII_HTMLHEX}) {
    EXPECT_EQ(u"\u00E9", Dec("\\u00E9", enc)) << enc;
    EXPECT_EQ(u"x\u20ACy", Dec("x\\u20acy", enc)) << enc;
    EXPECT_EQ(u"\\uzz\u00E9", Dec("\\uzz\\u00E9", enc)) << enc;
  }
  EXPECT_EQ(u"\\u00E9", Dec("\\u00E9", STRINGENCODING_UTF8));
}

TEST(StringEscapes, UEscapeNeedsSixBytesInsideTheCount) {
  EXPECT_EQ(u"\u00E9", Dec("\\u00E9", 6, STRINGENCODING_CODEPAGE));
  EXPECT_EQ(u"\\u00E", Dec("\\u00E9", 5, STRINGENCODING_CODEPAGE));
  EXPECT_EQ(u"a\\u12", Dec("a\\u12", STRINGENCODING_ASCII));
  // An escape of 0 still yields a character.
  EXPECT_EQ(u"_", Dec("\\u0000", STRINGENCODING_CODEPAGE));
}

TEST(StringEscapes, UEscapeTakesExactlyFourHexDigits) {
  // Blanks, signs and a "0x" prefix are not hexadecimal digits: no escape, bytes as they stand.
  EXPECT_EQ(u"\\u 0E9", Dec("\\u 0E9", STRINGENCODING_CODEPAGE));
  EXPECT_EQ(u"\\u+0E9", Dec("\\u+0E9", STRINGENCODING_CODEPAGE));
  EXPECT_EQ(u"\\u-001", Dec("\\u-001", STRINGENCODING_CODEPAGE));
  EXPECT_EQ(u"\\u0x1F", Dec("\\u0x1F", STRINGENCODING_CODEPAGE));
  EXPECT_EQ(u"\\u00G9", Dec("\\u00G9", STRINGENCODING_CODEPAGE));
}

TEST(StringEscapes, HexReferenceDecodesOnlyInHtmlHex) {
  EXPECT_EQ(u"a\u20ACb", Dec("a&#x20AC;b", STRINGENCODING_ASCII_HTMLHEX));
  EXPECT_EQ(u"&#x20AC;", Dec("&#x20AC;", STRINGENCODING_CODEPAGE));
  EXPECT_EQ(u"&#x20AC;", Dec("&#x20AC;", STRINGENCODING_ASCII_UESCAPE));
  // Eight bytes must lie inside the count, the ';' must be there, "#x" lower case.
  EXPECT_EQ(u"\u20AC", Dec("&#x20AC;", 8, STRINGENCODING_ASCII_HTMLHEX));
  EXPECT_EQ(u"&#x20AC", Dec("&#x20AC;", 7, STRINGENCODING_ASCII_HTMLHEX));
  EXPECT_EQ(u"&#x20AC:", Dec("&#x20AC:", STRINGENCODING_ASCII_HTMLHEX));
  EXPECT_EQ(u"&#X20AC;", Dec("&#X20AC;", STRINGENCODING_ASCII_HTMLHEX));
  EXPECT_EQ(u"&#x20G0;", Dec("&#x20G0;", STRINGENCODING_ASCII_HTMLHEX));
  // Code-page bytes still decode through the tables.
  EXPECT_EQ(u"\u00E9", Dec("\x8E", STRINGENCODING_ASCII_HTMLHEX));
}

TEST(StringEscapes, UEscapeOutputAtBufferEdges) {
  String s = S(u"\u00E9");
  EXPECT_EQ("\\u00E9", Enc(s, 7, STRINGENCODING_ASCII_UESCAPE));
  EXPECT_EQ("_", Enc(s, 6, STRINGENCODING_ASCII_UESCAPE));
  EXPECT_EQ(6, s.GetCStringLen(STRINGENCODING_ASCII_UESCAPE));
  String t = S(u"a\uFB01\u0001b");
  EXPECT_EQ(
      "a\\uFB01\x01"
      "b",
      Enc(t, STRINGENCODING_ASCII_UESCAPE));
  EXPECT_EQ("a\\uFB01", Enc(t, 8, STRINGENCODING_ASCII_UESCAPE));
  EXPECT_EQ(
      "a_\x01"
      "b",
      Enc(t, 7, STRINGENCODING_ASCII_UESCAPE));
  EXPECT_EQ(9, t.GetCStringLen(STRINGENCODING_ASCII_UESCAPE));
  // What is written reads back.
  EXPECT_EQ(U(t), Dec(Enc(t, STRINGENCODING_ASCII_UESCAPE), STRINGENCODING_ASCII_UESCAPE));
}

TEST(StringEscapes, HexReferenceOutputAtBufferEdges) {
  String s = S(u"\u0080z");
  EXPECT_EQ("&#x0080;z", Enc(s, 10, STRINGENCODING_ASCII_HTMLHEX));
  EXPECT_EQ("&#x0080;", Enc(s, 9, STRINGENCODING_ASCII_HTMLHEX));
  EXPECT_EQ("_z", Enc(s, 8, STRINGENCODING_ASCII_HTMLHEX));
  EXPECT_EQ(9, s.GetCStringLen(STRINGENCODING_ASCII_HTMLHEX));
  UInt16 zero[] = {0, 'q'};
  String z;
  z.SetUcBlock(zero, 2);
  EXPECT_EQ("_q", Enc(z, STRINGENCODING_ASCII_HTMLHEX));
  EXPECT_EQ("_q", Enc(z, STRINGENCODING_ASCII_UESCAPE));
  EXPECT_EQ(U(s), Dec(Enc(s, STRINGENCODING_ASCII_HTMLHEX), STRINGENCODING_ASCII_HTMLHEX));
}

TEST(StringEncoding, SmallAndZeroSizes) {
  String s = S(u"abc");
  char buf[4] = {'x', 'x', 'x', 'x'};
  for (STRINGENCODING enc : kByteEncodings) {
    EXPECT_EQ(0, s.GetCString(buf, 0, enc));
    EXPECT_EQ(0, s.GetCString(buf, -5, enc));
    EXPECT_EQ('x', buf[0]);
    EXPECT_EQ(0, s.GetCString(nullptr, 10, enc));
    EXPECT_EQ(0, s.GetCString(buf, 1, enc));
    EXPECT_EQ('\0', buf[0]);
    buf[0] = 'x';
  }
  EXPECT_EQ("ab", Enc(s, 3, STRINGENCODING_ASCII));
  EXPECT_EQ("ab", Enc(s, 3, STRINGENCODING_CODEPAGE_1BYTE));
  EXPECT_EQ("ab", Enc(s, 3, STRINGENCODING_CODEPAGE));
  String empty;
  EXPECT_EQ("", Enc(empty, STRINGENCODING_UTF8));
  EXPECT_EQ(0, empty.GetCStringLen(STRINGENCODING_ASCII_HTMLHEX));
}

// ---------------------------------------------------------------------------------------------
// UTF-8

TEST(StringUtf8, DecodesOneTwoAndThreeByteForms) {
  EXPECT_EQ(u"A\u00E9\u07FF\u0800\u20AC\uFFFF",
            Dec("A\xC3\xA9\xDF\xBF\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF", STRINGENCODING_UTF8));
  // Overlong forms are accepted; one that decodes to 0 still yields a character.
  EXPECT_EQ(u"A_", Dec("\xC1\x81\xC0\x80", STRINGENCODING_UTF8));
  // Surrogates written as three bytes come back as units.
  EXPECT_EQ(u"\xD83D", Dec("\xED\xA0\xBD", STRINGENCODING_UTF8));
}

TEST(StringUtf8, EnDashSequenceReadsAsLineFeed) {
  EXPECT_EQ(u"a\nb", Dec("a\xE2\x80\x93"
                         "b",
                         STRINGENCODING_UTF8));
  EXPECT_EQ(u"\u2014", Dec("\xE2\x80\x94", STRINGENCODING_UTF8));
}

TEST(StringUtf8, TruncatedAndStrayBytes) {
  EXPECT_EQ(u"a_", Dec("a\xC3", STRINGENCODING_UTF8));
  EXPECT_EQ(u"__", Dec("\xE2\x82", STRINGENCODING_UTF8));  // lead alone, then a stray byte
  EXPECT_EQ(u"_a", Dec("\x80"
                       "a",
                       STRINGENCODING_UTF8));
  EXPECT_EQ(u"___", Dec("\xBF\xBF\xBF", STRINGENCODING_UTF8));
  // Continuation bytes are taken without looking at them.
  EXPECT_EQ(u"\u00C1", Dec("\xC3"
                           "A",
                           STRINGENCODING_UTF8));
}

TEST(StringUtf8, LongSequencesBecomeOneUnderscore) {
  EXPECT_EQ(u"_A", Dec("\xF0\x9F\x98\x80"
                       "A",
                       STRINGENCODING_UTF8));
  EXPECT_EQ(u"_A", Dec("\xF8\x88\x80\x80\x80"
                       "A",
                       STRINGENCODING_UTF8));
  EXPECT_EQ(u"_A", Dec("\xFC\x84\x80\x80\x80\x80"
                       "A",
                       STRINGENCODING_UTF8));
  EXPECT_EQ(u"_A", Dec("\xFE\x80\x80\x80\x80\x80\x80"
                       "A",
                       STRINGENCODING_UTF8));
  // Skipped only when the whole sequence lies inside the count.
  EXPECT_EQ(u"_", Dec("\xF0\x9F\x98\x80", STRINGENCODING_UTF8));
  EXPECT_EQ(u"___", Dec("\xF0\x9F\x98", STRINGENCODING_UTF8));
  EXPECT_EQ(u"_", Dec("\xFF\x80\x80\x80\x80\x80\x80", STRINGENCODING_UTF8));
  EXPECT_EQ(u"__", Dec("\xFF\x80", STRINGENCODING_UTF8));
}

TEST(StringUtf8, EncodesOneTwoAndThreeBytesAndCounts) {
  String s = S(u"\u007F\u0080\u07FF\u0800\uFFFF\xD800");
  EXPECT_EQ("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xED\xA0\x80",
            Enc(s, STRINGENCODING_UTF8));
  EXPECT_EQ(14, s.GetCStringLen(STRINGENCODING_UTF8));
  EXPECT_EQ(U(s), Dec(Enc(s, STRINGENCODING_UTF8), STRINGENCODING_UTF8));
}

TEST(StringUtf8, UnitsThatDoNotFitAreDroppedAndConversionGoesOn) {
  String euro = S(u"\u20AC");
  EXPECT_EQ(3, euro.GetCStringLen(STRINGENCODING_UTF8));
  EXPECT_EQ("", Enc(euro, 3, STRINGENCODING_UTF8));
  EXPECT_EQ("\xE2\x82\xAC", Enc(euro, 4, STRINGENCODING_UTF8));
  String mixed = S(u"\u20ACa\u00E9b");
  EXPECT_EQ("ab", Enc(mixed, 3, STRINGENCODING_UTF8));
  EXPECT_EQ("\xE2\x82\xAC", Enc(mixed, 4, STRINGENCODING_UTF8));
  EXPECT_EQ(
      "\xE2\x82\xAC"
      "a",
      Enc(mixed, 5, STRINGENCODING_UTF8));
  EXPECT_EQ(
      "\xE2\x82\xAC"
      "ab",
      Enc(mixed, 6, STRINGENCODING_UTF8));
  EXPECT_EQ(
      "\xE2\x82\xAC"
      "a\xC3\xA9",
      Enc(mixed, 7, STRINGENCODING_UTF8));
}

TEST(StringUtf8, GeGetUnicodeFromCharLeavesPositionOnLastByte) {
  const char* bytes =
      "\xE2\x82\xAC"
      "a";
  Int32 pos = 0;
  EXPECT_EQ(0x20AC, GeGetUnicodeFromChar(bytes, &pos, 4, STRINGENCODING_UTF8));
  EXPECT_EQ(2, pos);
  pos = 3;
  EXPECT_EQ('a', GeGetUnicodeFromChar(bytes, &pos, 4, STRINGENCODING_UTF8));
  EXPECT_EQ(3, pos);
  pos = 4;
  EXPECT_EQ(0, GeGetUnicodeFromChar(bytes, &pos, 4, STRINGENCODING_UTF8));
  pos = -1;
  EXPECT_EQ(0, GeGetUnicodeFromChar(bytes, &pos, 4, STRINGENCODING_UTF8));
  EXPECT_EQ(0, GeGetUnicodeFromChar(nullptr, &pos, 4, STRINGENCODING_UTF8));
  pos = 0;
  EXPECT_EQ(0x00E9, GeGetUnicodeFromChar("\\u00E9", &pos, 6, STRINGENCODING_CODEPAGE));
  EXPECT_EQ(5, pos);
}

// Long texts take runs of plain bytes many at a time: whatever the mix, and wherever a run
// ends, the units are those of decoding character by character, and the bytes back those of
// encoding unit by unit into a buffer of every size.
TEST(StringUtf8, LongMixedTextsMatchCharacterByCharacterConversion) {
  const std::string pieces[] = {"plain ascii text ", "a", std::string(1, '\0'), "\x7F",
                                "\xC3\xA9", "\xE2\x82\xAC", "\xE2\x80\x93", "\xF0\x9F\x98\x80",
                                "\xBF", "\xC3", "\xE2\x82", "\xFF\x80",
                                // zero spelt in two and three bytes
                                "\xC0\x80", "\xE0\x80\x80", "0123456789abcdef0123456789"};
  // First every piece after every number of plain bytes up to 40, so that each lands at every
  // place of a group of 16 and at the very end; then random mixes.
  std::vector<std::string> texts;
  for (const std::string& piece : pieces)
    for (size_t n = 0; n <= 40; ++n) texts.push_back(std::string(n, 'x') + piece);
  std::mt19937 rng(2026);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const size_t want = rng() % 120;
    while (text.size() < want) text += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
    texts.push_back(text);
  }
  for (size_t round = 0; round < texts.size(); ++round) {
    const std::string& text = texts[round];
    const Int32 count = static_cast<Int32>(text.size());
    std::u16string expected;
    for (Int32 p = 0; p < count; ++p)
      expected += static_cast<char16_t>(GeGetUnicodeFromChar(text.data(), &p, count,
                                                             STRINGENCODING_UTF8));
    String s;
    ASSERT_EQ(static_cast<Int32>(expected.size()), s.SetCString(text.data(), count,
                                                                STRINGENCODING_UTF8));
    ASSERT_EQ(expected, U(s)) << round;
    // Unit by unit: a unit that does not fit before the last byte is dropped.
    const Int32 full = s.GetCStringLen(STRINGENCODING_UTF8);
    for (Int32 size = 1; size <= full + 1; size += 1 + static_cast<Int32>(rng() % 7)) {
      std::string bytes;
      for (char16_t u : expected) {
        std::string one;
        if (u < 0x80) {
          one = std::string(1, static_cast<char>(u));
        } else if (u < 0x800) {
          one = {static_cast<char>(0xC0 | (u >> 6)), static_cast<char>(0x80 | (u & 0x3F))};
        } else {
          one = {static_cast<char>(0xE0 | (u >> 12)), static_cast<char>(0x80 | ((u >> 6) & 0x3F)),
                 static_cast<char>(0x80 | (u & 0x3F))};
        }
        if (bytes.size() + 1 >= static_cast<size_t>(size)) break;
        if (bytes.size() + one.size() < static_cast<size_t>(size)) bytes += one;
      }
      ASSERT_EQ(bytes, Enc(s, size, STRINGENCODING_UTF8)) << round << " size " << size;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Construction, capacity and editing

TEST(StringBuffer, CapacityIsRoundedToSixteenUnits) {
  String s;
  EXPECT_EQ(0, s.GetCapacity());
  EXPECT_EQ(nullptr, s.GetUnits());
  EXPECT_FALSE(s.IsPopulated());
  s.SetCString("a");
  EXPECT_EQ(16, s.GetCapacity());
  s.SetCString("0123456789abcdef");
  EXPECT_EQ(16, s.GetCapacity());
  s.SetCString("0123456789abcdefg");
  EXPECT_EQ(32, s.GetCapacity());
  s.Init(0, 'x');
  EXPECT_EQ(0, s.GetCapacity());
  EXPECT_EQ(nullptr, s.GetUnits());
  s.Init(33, 'x');
  EXPECT_EQ(48, s.GetCapacity());
  EXPECT_EQ(std::u16string(33, u'x'), U(s));
}

TEST(StringBuffer, SetCStringReusesALargeEnoughBuffer) {
  String s("0123456789abcdefghij");
  const UInt16* before = s.GetUnits();
  EXPECT_EQ(3, s.SetCString("xyz"));
  EXPECT_EQ(before, s.GetUnits());
  EXPECT_EQ(32, s.GetCapacity());
  EXPECT_EQ(u"xyz", U(s));
  EXPECT_EQ(0, s.SetCString(nullptr));
  EXPECT_EQ(0, s.GetLength());
  s.SetCString("abc", 0);
  EXPECT_EQ(0, s.GetLength());
  EXPECT_EQ(2, s.SetCString("abc", 2));
  EXPECT_EQ(u"ab", U(s));
}

TEST(StringBuffer, CopyAndAssignment) {
  String a("hello");
  String b(a);
  EXPECT_EQ(u"hello", U(b));
  EXPECT_NE(a.GetUnits(), b.GetUnits());
  String c("a much longer text than hello");
  const UInt16* buffer = c.GetUnits();
  c = a;
  EXPECT_EQ(u"hello", U(c));
  EXPECT_EQ(buffer, c.GetUnits());  // reused
  String& self = c;
  c = self;
  EXPECT_EQ(u"hello", U(c));
  String empty;
  c = empty;
  EXPECT_EQ(0, c.GetLength());
  EXPECT_EQ(u"hello world", U(a + String(" world")));
  EXPECT_EQ(u"hello", U(a + empty));
  EXPECT_EQ(u"hello", U(empty + a));
  EXPECT_EQ(0, (empty + empty).GetCapacity());
}

TEST(StringBuffer, SetUcBlockAndGetUcBlock) {
  String s;
  const UInt16 units[] = {'a', 'b', 0, 'c'};
  s.SetUcBlock(units, -1);
  EXPECT_EQ(u"ab", U(s));
  s.SetUcBlock(units, 4);
  EXPECT_EQ(4, s.GetLength());
  s.SetUcBlock(nullptr, 3);  // does nothing
  EXPECT_EQ(4, s.GetLength());
  // From inside its own buffer.
  String t("0123456789");
  t.SetUcBlock(t.GetUnits() + 3, 4);
  EXPECT_EQ(u"3456", U(t));
  UInt16 out[6] = {9, 9, 9, 9, 9, 9};
  t.GetUcBlock(out, 6);
  EXPECT_EQ('3', out[0]);
  EXPECT_EQ('6', out[3]);
  EXPECT_EQ(9, out[4]);  // no terminator
  t.GetUcBlock(out, 2);
  t.GetUcBlock(out, -1);
  t.GetUcBlock(nullptr, 5);
  EXPECT_EQ('3', out[0]);
}

TEST(StringEdit, InsertPositionsAndRanges) {
  String s("abc");
  s.Insert(0, String("X"));
  s.Insert(4, String("Y"));
  s.Insert(2, String("0123"), 1, 3);
  EXPECT_EQ(u"Xa12bcY", U(s));
  s.Insert(-1, String("Z"));
  s.Insert(8, String("Z"));
  s.Insert(1, String());
  s.Insert(1, String("Z"), 1, 1);
  s.Insert(1, String("Z"), 2, 1);
  s.Insert(1, String("Z"), 5, -1);
  EXPECT_EQ(u"Xa12bcY", U(s));
  s.Insert(0, String("uvw"), -4, 99);  // clipped to the whole source
  EXPECT_EQ(u"uvwXa12bcY", U(s));
  s.Insert(0, String("uvw"), 2, -1);
  EXPECT_EQ(u"wuvwXa12bcY", U(s));
  String empty;
  empty.Insert(0, String("q"));
  EXPECT_EQ(u"q", U(empty));
}

TEST(StringEdit, InsertGrowsOncePerSixteenUnits) {
  String s;
  String unit("x");
  for (int i = 1; i <= 40; ++i) {
    s.Insert(s.GetLength(), unit);
    EXPECT_EQ((i + 15) / 16 * 16, s.GetCapacity()) << i;
  }
  EXPECT_EQ(std::u16string(40, u'x'), U(s));
}

TEST(StringEdit, InsertOfItself) {
  // Ranges before, across and after the position; in place (room left) and into a new buffer
  // (16 units, full).
  for (const char16_t* base : {u"abcdef", u"abcdefghijklmnop"}) {
    const std::u16string text = base;
    const int len = static_cast<int>(text.size());
    for (int start = 0; start < len; start += 3) {
      for (int end = start + 1; end <= len; end += 4) {
        for (int pos = 0; pos <= len; ++pos) {
          String s = S(base);
          const bool grows = len == 16;
          std::u16string expect = text;
          expect.insert(static_cast<size_t>(pos), text.substr(start, end - start));
          s.Insert(pos, s, start, end);
          EXPECT_EQ(expect, U(s)) << pos << " " << start << " " << end;
          EXPECT_EQ(grows ? 32 : 16, s.GetCapacity());
        }
      }
    }
  }
}

TEST(StringEdit, DeleteClipsAndIgnores) {
  String s("0123456789");
  s.Delete(8, 100);
  EXPECT_EQ(u"01234567", U(s));
  s.Delete(2, 3);
  EXPECT_EQ(u"01567", U(s));
  s.Delete(-1, 2);
  s.Delete(5, 1);
  s.Delete(1, 0);
  s.Delete(1, -3);
  EXPECT_EQ(u"01567", U(s));
  String none;
  none.Delete(0, 1);
  EXPECT_EQ(0, none.GetLength());
}

TEST(StringEdit, SubStrLeftRight) {
  String s("abcdef");
  EXPECT_EQ(u"bcd", U(s.SubStr(1, 3)));
  EXPECT_EQ(u"ef", U(s.SubStr(4, 10)));
  EXPECT_EQ(u"", U(s.SubStr(-1, 3)));
  EXPECT_EQ(u"", U(s.SubStr(6, 1)));
  EXPECT_EQ(u"", U(s.SubStr(1, 0)));
  EXPECT_EQ(u"abc", U(s.Left(3)));
  EXPECT_EQ(u"abcdef", U(s.Left(100)));
  EXPECT_EQ(u"", U(s.Left(0)));
  EXPECT_EQ(u"", U(s.Left(-1)));
  EXPECT_EQ(u"def", U(s.Right(3)));
  EXPECT_EQ(u"abcdef", U(s.Right(6)));
  EXPECT_EQ(u"", U(s.Right(7)));  // not clipped, unlike Left
  EXPECT_EQ(u"", U(s.Right(0)));
  EXPECT_EQ(0, s.Right(7).GetCapacity());
  EXPECT_EQ(u"", U(s.Left(Int64{1} << 40).Right(Int64{1} << 40)));
  EXPECT_EQ(u"abcdef", U(s.Left(Int64{1} << 40)));
}

TEST(StringEdit, FindFirst) {
  String s("abcabc");
  Int32 pos = 77;
  EXPECT_TRUE(s.FindFirst(String("bc"), &pos, 0));
  EXPECT_EQ(1, pos);
  EXPECT_TRUE(s.FindFirst(String("bc"), &pos, 2));
  EXPECT_EQ(4, pos);
  EXPECT_TRUE(s.FindFirst(String("abc"), nullptr, 3));
  EXPECT_TRUE(s.FindFirst(String("c"), &pos, 5));
  EXPECT_EQ(5, pos);
  for (auto [needle, start] : {std::pair<const char*, int>{"", 0},
                               {"a", -1},
                               {"a", 6},
                               {"bc", 5},
                               {"abcabcx", 0},
                               {"x", 0}}) {
    pos = 77;
    EXPECT_FALSE(s.FindFirst(String(needle), &pos, start)) << needle << " " << start;
    EXPECT_EQ(-1, pos);
  }
}

TEST(StringEdit, PCharReadsOrGivesZero) {
  String s("ab");
  EXPECT_EQ('a', static_cast<UInt16>(s[0]));
  EXPECT_EQ('b', static_cast<UInt16>(s[1]));
  EXPECT_EQ(-1, s[2].GetIndex());
  EXPECT_EQ(0, static_cast<UInt16>(s[2]));
  EXPECT_EQ(0, static_cast<UInt16>(s[-1]));
  const String& c = s;
  EXPECT_EQ('b', static_cast<UInt16>(c[1]));
  PChar late = s[1];
  s.Delete(1, 1);
  EXPECT_EQ(0, static_cast<UInt16>(late));  // no longer inside
}

// ---------------------------------------------------------------------------------------------
// Comparison and case

TEST(StringCompare, CompareDifferenceAndPrefix) {
  EXPECT_EQ(0, String("abc").Compare(String("abc")));
  EXPECT_EQ('c' - 'd', String("abc").Compare(String("abd")));
  EXPECT_EQ('d', String("abcd").Compare(String("abc")));
  EXPECT_EQ(-'d', String("abc").Compare(String("abcd")));
  EXPECT_EQ(-'x', String().Compare(String("x")));
  EXPECT_EQ(0xFFFF - 'a', S(u"\uFFFF").Compare(String("a")));  // unsigned units
  EXPECT_EQ(0, String().Compare(String()));
}

TEST(StringCompare, EqualityIgnoresTrailingZeroUnit) {
  UInt16 withZero[] = {'a', 'b', 0};
  String z;
  z.SetUcBlock(withZero, 3);
  EXPECT_TRUE(z == String("ab"));
  EXPECT_TRUE(String("ab") == z);
  EXPECT_FALSE(z != String("ab"));
  String zeroOnly;
  zeroOnly.SetUcBlock(withZero + 2, 1);
  EXPECT_EQ(1, zeroOnly.GetLength());
  EXPECT_TRUE(String() == zeroOnly);
  EXPECT_TRUE(String("ab") != String("abc"));
  EXPECT_TRUE(String("ab") != String("aB"));
}

TEST(StringCompare, LexCompareFoldsOnlyAsciiAndThreeUmlauts) {
  EXPECT_EQ(0, String("Hello").LexCompare(String("hELLO")));
  EXPECT_EQ(0, S(u"\u00E4\u00F6\u00FC").LexCompare(S(u"\u00C4\u00D6\u00DC")));
  EXPECT_NE(0, S(u"\u00E9").LexCompare(S(u"\u00C9")));
  EXPECT_EQ('A' - 'B', String("a").LexCompare(String("b")));
  EXPECT_EQ('B', String("ab").LexCompare(String("A")));  // the next unit, folded
  EXPECT_EQ(-'B', String("A").LexCompare(String("ab")));
}

TEST(StringCompare, ToLowerChangesOnlyAsciiAndThreeUmlauts) {
  EXPECT_EQ(u"abc xyz \u00E4\u00F6\u00FC \u00C9 \u00E9 [@",
            U(S(u"ABC xyz \u00C4\u00D6\u00DC \u00C9 \u00E9 [@").ToLower()));
  EXPECT_EQ(0, String().ToLower().GetCapacity());
}

// ---------------------------------------------------------------------------------------------
// Numbers

TEST(StringNumbers, ParseToInt32) {
  struct Case {
    const char* text;
    Int32 value;
    Int32 error;
  } cases[] = {{"12abc", 12, 0},
               {"abc", 0, 1},
               {"2147483647", 2147483647, 0},
               {"2147483648", 214748364, 1},
               {"-2147483648", -214748364, 1},
               {"-42", -42, 0},
               {"x-5", -5, 0},
               {"-x5", 5, 0},
               {"--7", -7, 0},
               {"  8 9", 8, 0},
               {"", 0, 1},
               {"-", 0, 1},
               {"007", 7, 0},
               {"3-4", 3, 0}};
  for (const Case& c : cases) {
    Int32 error = 0;
    EXPECT_EQ(c.value, String(c.text).ParseToInt32(&error)) << c.text;
    EXPECT_EQ(c.error, error) << c.text;
  }
  Int32 sticky = 1;
  EXPECT_EQ(5, String("5").ParseToInt32(&sticky));
  EXPECT_EQ(1, sticky);  // never cleared
  EXPECT_EQ(6, String("6").ParseToInt32(nullptr));
  EXPECT_EQ(9, S(u"\u00E99").ParseToInt32(nullptr));
}

TEST(StringNumbers, FloatToStringFillAndWidth) {
  auto F = [](double v, int before, int after, bool exp, UInt16 fill) {
    return U(String::FloatToString(v, before, after, exp, fill));
  };
  EXPECT_EQ(u"-001.50", F(-1.5, 4, 2, false, '0'));
  EXPECT_EQ(u"-  1.50", F(-1.5, 4, 2, false, ' '));
  EXPECT_EQ(u"***1.50", F(1.5, 4, 2, false, '*'));
  EXPECT_EQ(u"12345.50", F(12345.5, 4, 2, false, '0'));  // wider than the field
  EXPECT_EQ(u"-0.00", F(-0.0001, 0, 2, false, ' '));
  EXPECT_EQ(u"2", F(1.5, 0, 0, false, ' '));
  EXPECT_EQ(u"1.50E+00", F(1.5, 0, 2, true, ' '));
  EXPECT_EQ(u"01.50E+00", F(1.5, 2, 2, true, '0'));  // field width 9
  EXPECT_EQ(u"-1.50E+00", F(-1.5, 2, 2, true, '0'));
}

TEST(StringNumbers, FloatToStringTrimming) {
  auto F = [](double v, int before, int after, bool exp) {
    return U(String::FloatToString(v, before, after, exp, ' '));
  };
  EXPECT_EQ(u"1.5", F(1.5, 0, -1, false));
  EXPECT_EQ(u"0", F(-0.0001, -2, 2, false));
  EXPECT_EQ(u"0", F(0.0, -1, -1, false));
  EXPECT_EQ(u"0", F(-0.0, -1, -1, false));
  EXPECT_EQ(u"100", F(100.0, -2, 2, false));
  EXPECT_EQ(u"100", F(100.0, -2, 0, false));  // no point: integer zeros stay
  EXPECT_EQ(u"-2.25", F(-2.25, -2, 5, false));
  EXPECT_EQ(u"-5", F(-5.0, -2, 0, false));
  EXPECT_EQ(u"", F(1.0, 0x7FFFFFFF, 0x7FFFFFFF, false));  // no field that wide
  EXPECT_EQ(u"1.5E+00", F(1.5, -2, 4, true));
  EXPECT_EQ(u"1E+05", F(1e5, -2, 3, true));
  EXPECT_EQ(u"1.500", F(1.5, 0, 3, false));  // no trimming asked for
  EXPECT_EQ(u"inf", F(std::numeric_limits<double>::infinity(), -1, -1, false));
  EXPECT_EQ(u"-inf", F(-std::numeric_limits<double>::infinity(), -1, -1, false));
  // Longer than any fixed scratch buffer.
  std::u16string big = F(1e300, -1, -1, false);
  EXPECT_EQ(301u, big.size());
  EXPECT_EQ(u'1', big[0]);
}

TEST(StringNumbers, IntToString) {
  EXPECT_EQ(u"0", U(String::IntToString(Int32{0})));
  EXPECT_EQ(u"-1", U(String::IntToString(Int32{-1})));
  EXPECT_EQ(u"-2147483648", U(String::IntToString(std::numeric_limits<Int32>::min())));
  EXPECT_EQ(u"9223372036854775807", U(String::IntToString(std::numeric_limits<Int64>::max())));
  EXPECT_EQ(u"-9223372036854775808", U(String::IntToString(std::numeric_limits<Int64>::min())));
  EXPECT_EQ(u"1234567", U(String::IntToString(Int64{1234567})));
}

// ---------------------------------------------------------------------------------------------
// System text

TEST(StringSystemText, WrappedUnitsAreTheStringsOwn) {
  String s("path/x");
  PlatformText text;
  s.GetPlatformText(&text);
  EXPECT_EQ(s.GetUnits(), PlatformTextGetCharactersPtr(&text));
  EXPECT_EQ(6, PlatformTextGetLength(&text));
  char utf8[16];
  EXPECT_EQ(6, PlatformTextGetUTF8(&text, utf8, sizeof(utf8)));
  EXPECT_STREQ("path/x", utf8);
  String back;
  back.SetPlatformText(&text);
  EXPECT_EQ(u"path/x", U(back));
  PlatformTextRelease(&text);
}

TEST(StringSystemText, OwnedTextIsCopiedWholeAndKeepsAstralCharacters) {
  // Longer than the 2048 units a fixed scratch buffer would hold.
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes += "\xC3\xA9\xF0\x9F\x98\x80";
  PlatformText text;
  ASSERT_TRUE(PlatformTextCreateWithUTF8(bytes.data(), static_cast<Int64>(bytes.size()), &text));
  EXPECT_EQ(nullptr, PlatformTextGetCharactersPtr(&text));
  EXPECT_EQ(3000, PlatformTextGetLength(&text));
  String s;
  s.SetPlatformText(&text);
  ASSERT_EQ(3000, s.GetLength());
  EXPECT_EQ(0x00E9, s.GetUnit(2997));
  EXPECT_EQ(0xD83D, s.GetUnit(2998));
  EXPECT_EQ(0xDE00, s.GetUnit(2999));
  // Back to the system form: surrogate pairs become four-byte characters again.
  PlatformText wrapped;
  s.GetPlatformText(&wrapped);
  std::string round(bytes.size() + 1, '\0');
  EXPECT_EQ(static_cast<Int64>(bytes.size()),
            PlatformTextGetUTF8(&wrapped, &round[0], static_cast<Int64>(round.size())));
  EXPECT_EQ(bytes, round.substr(0, bytes.size()));
  PlatformTextRelease(&wrapped);
  PlatformTextRelease(&text);
  EXPECT_EQ(0, PlatformTextGetLength(&text));
}

TEST(StringSystemText, MalformedAndCutUtf8) {
  PlatformText text;
  ASSERT_TRUE(PlatformTextCreateWithUTF8("a\xC3(\xED\xA0\x80\xC0\x80z", -1, &text));
  String s;
  s.SetPlatformText(&text);
  EXPECT_EQ(u"a\uFFFD(\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDz", U(s));
  PlatformTextRelease(&text);
  // A lone surrogate goes out as U+FFFD; a cut never splits a character.
  String lone = S(u"\xD800\u00E9");
  PlatformText w;
  lone.GetPlatformText(&w);
  char buf[8];
  EXPECT_EQ(5, PlatformTextGetUTF8(&w, buf, sizeof(buf)));
  EXPECT_STREQ("\xEF\xBF\xBD\xC3\xA9", buf);
  EXPECT_EQ(5, PlatformTextGetUTF8(&w, buf, 5));
  EXPECT_STREQ("\xEF\xBF\xBD", buf);
  PlatformTextRelease(&w);
}

TEST(StringSystemText, EmptyTextsRangesAndSurrogatesAtTheEdges) {
  PlatformText t;
  const UInt16 units[5] = {'a', 0xD800, 'b', 0xDC00, 0xD83D};  // lone high, lone low, high last
  PlatformTextCreateNoCopy(units, 0, &t);
  EXPECT_EQ(0, PlatformTextGetLength(&t));
  PlatformTextCreateNoCopy(nullptr, 5, &t);
  EXPECT_EQ(0, PlatformTextGetLength(&t));
  EXPECT_EQ(nullptr, PlatformTextGetCharactersPtr(&t));
  PlatformTextCreateNoCopy(units, 5, &t);
  UInt16 out[8] = {};
  EXPECT_EQ(0, PlatformTextGetCharacters(&t, 5, 1, out));
  EXPECT_EQ(0, PlatformTextGetCharacters(&t, -1, 1, out));
  EXPECT_EQ(0, PlatformTextGetCharacters(&t, 0, 0, out));
  EXPECT_EQ(2, PlatformTextGetCharacters(&t, 3, 9, out));
  EXPECT_EQ(0xDC00, out[0]);
  EXPECT_EQ(0xD83D, out[1]);
  // Every lone surrogate goes out as U+FFFD; without a destination only the length is told.
  EXPECT_EQ(11, PlatformTextGetUTF8(&t, nullptr, 0));
  char buf[16] = "untouched";
  EXPECT_EQ(11, PlatformTextGetUTF8(&t, buf, 0));
  EXPECT_STREQ("untouched", buf);
  EXPECT_EQ(11, PlatformTextGetUTF8(&t, buf, sizeof(buf)));
  EXPECT_STREQ(
      "a\xEF\xBF\xBD"
      "b\xEF\xBF\xBD\xEF\xBF\xBD",
      buf);
  PlatformTextRelease(&t);
  // No bytes make an empty text; a code point beyond U+10FFFF is malformed byte by byte.
  ASSERT_TRUE(PlatformTextCreateWithUTF8(nullptr, 3, &t));
  EXPECT_EQ(0, PlatformTextGetLength(&t));
  ASSERT_TRUE(PlatformTextCreateWithUTF8("", -1, &t));
  EXPECT_EQ(0, PlatformTextGetLength(&t));
  ASSERT_TRUE(PlatformTextCreateWithUTF8("\xF4\x90\x80\x80", -1, &t));
  String s;
  s.SetPlatformText(&t);
  EXPECT_EQ(u"\uFFFD\uFFFD\uFFFD\uFFFD", U(s));
  PlatformTextRelease(&t);
}

// ---------------------------------------------------------------------------------------------
// Allocation failures: nothing leaks, and each operation ends in its stated state.

namespace {

// Runs op with every allocation failing in turn; a failed run must leave an empty string
// without buffer, a clean run the expected units.
template <typename Op>
void SweepEmptyOnFailure(const char* what, Op op, const std::u16string& expected) {
  struct Ctx {
    Op* op;
    const std::u16string* expected;
  } ctx{&op, &expected};
  int failing = lumtest::SweepAllocationFailures(
      what,
      [](std::int64_t, void* p) {
        auto* c = static_cast<Ctx*>(p);
        String r = (*c->op)();
        if (lumtest::InjectedFailureHappened()) return r.GetLength() == 0 && r.GetCapacity() == 0;
        return U(r) == *c->expected;
      },
      &ctx);
  EXPECT_GE(failing, 1) << what;
}

}  // namespace

TEST(StringAllocation, BuildingOperationsLeaveEmptyStringsWithoutBuffer) {
  const String src("abcdefghijklmnopqrstuvwxyz");
  SweepEmptyOnFailure(
      "SetCString", [] { return String("h\xC3\xA9", STRINGENCODING_UTF8); }, u"h\u00E9");
  SweepEmptyOnFailure(
      "SetUcBlock",
      [&] {
        String r;
        r.SetUcBlock(src.GetUnits(), 20);
        return r;
      },
      u"abcdefghijklmnopqrst");
  SweepEmptyOnFailure(
      "Init",
      [] {
        String r;
        r.Init(5, 'z');
        return r;
      },
      u"zzzzz");
  SweepEmptyOnFailure(
      "SubStr", [&] { return src.SubStr(2, 3); }, u"cde");
  SweepEmptyOnFailure(
      "Left", [&] { return src.Left(2); }, u"ab");
  SweepEmptyOnFailure(
      "Right", [&] { return src.Right(2); }, u"yz");
  SweepEmptyOnFailure(
      "IntToString32", [] { return String::IntToString(Int32{-77}); }, u"-77");
  SweepEmptyOnFailure(
      "IntToString64", [] { return String::IntToString(Int64{1} << 40); }, u"1099511627776");
  SweepEmptyOnFailure(
      "copy", [&] { return String(src); }, U(src));
  SweepEmptyOnFailure(
      "ToLower", [] { return String("AbC").ToLower(); }, u"abc");
  const String left("left "), right("and right");
  SweepEmptyOnFailure(
      "operator+", [&] { return left + right; }, u"left and right");
  SweepEmptyOnFailure(
      "FloatToString", [] { return String::FloatToString(-1.5, 4, 2, false, '0'); }, u"-001.50");
  SweepEmptyOnFailure(
      "FloatToString large", [] { return String::FloatToString(1e300, 0, 0, false, ' '); },
      U(String::FloatToString(1e300, 0, 0, false, ' ')));
  SweepEmptyOnFailure(
      "SetPlatformText",
      [] {
        PlatformText text;
        String r;
        if (PlatformTextCreateWithUTF8("\xC3\xA9t\xC3\xA9", -1, &text)) r.SetPlatformText(&text);
        PlatformTextRelease(&text);
        return r;
      },
      u"\u00E9t\u00E9");
}

TEST(StringAllocation, ReplacingContentThatMustGrowDropsTheOldBuffer) {
  struct Ctx {
    String s;
  } ctx;
  lumtest::SweepAllocationFailures(
      "SetCString grow",
      [](std::int64_t, void* p) {
        auto* c = static_cast<Ctx*>(p);
        c->s.SetCString("short");
        if (lumtest::InjectedFailureHappened()) {
          return c->s.GetLength() == 0 && c->s.GetCapacity() == 0;
        }
        c->s.SetCString("a text of more than sixteen units");
        bool ok = lumtest::InjectedFailureHappened()
                      ? c->s.GetLength() == 0 && c->s.GetCapacity() == 0
                      : c->s.GetCapacity() == 48;
        c->s.SetCString(nullptr);
        return ok;
      },
      &ctx);
}

TEST(StringAllocation, InsertThatCannotGrowLeavesTheStringUnchanged) {
  struct Ctx {
    String s{"0123456789abcdef"};
    String extra{"XY"};
  } ctx;
  int failing = lumtest::SweepAllocationFailures(
      "Insert",
      [](std::int64_t, void* p) {
        auto* c = static_cast<Ctx*>(p);
        const UInt16* before = c->s.GetUnits();
        c->s.Insert(4, c->extra);
        if (lumtest::InjectedFailureHappened()) {
          return U(c->s) == u"0123456789abcdef" && c->s.GetUnits() == before &&
                 c->s.GetCapacity() == 16;
        }
        bool ok = U(c->s) == u"0123XY456789abcdef" && c->s.GetCapacity() == 32;
        c->s.SetCString("0123456789abcdef");  // back to a full 16-unit buffer
        return ok;
      },
      &ctx);
  EXPECT_EQ(1, failing);
  // Assignment that cannot grow leaves the target empty.
  String target("a");
  const String longer("more than sixteen units of text");
  {
    lumtest::ScopedAllocFailure fail(1);
    target = longer;
  }
  EXPECT_EQ(0, target.GetLength());
  EXPECT_EQ(16, target.GetCapacity());
}

TEST(StringAllocation, ParseToInt32ReportsAFailedBuffer) {
  String s("123");
  Int32 error = 0;
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_EQ(0, s.ParseToInt32(&error));
  }
  EXPECT_EQ(1, error);
  error = 0;
  EXPECT_EQ(123, s.ParseToInt32(&error));
  EXPECT_EQ(0, error);
}

TEST(StringAllocation, OwnedSystemTextFailsCleanly) {
  PlatformText text;
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(PlatformTextCreateWithUTF8("abc", 3, &text));
  }
  EXPECT_EQ(0, PlatformTextGetLength(&text));
  PlatformTextRelease(&text);
}
