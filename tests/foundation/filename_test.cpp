// Filename: path normalisation, case-insensitive equality, file references; and the platform's
// conversion of old colon-separated paths.
#include <gtest/gtest.h>

#include <string>

#include "lumora.h"
#include "platform/lum_platform.h"
#include "test_support.h"
#include "text_support.h"

using namespace lumora;

namespace {

using lumtest::S;
using lumtest::U;

std::u16string Stored(const char16_t* text) {
  Filename f;
  f.SetString(S(text));
  return U(f.GetString());
}

// The POSIX form of a colon path, or "<none>" when the conversion refuses it.
std::u16string Posix(const std::u16string& colon, Int32 capacity = 2048) {
  std::u16string out(static_cast<size_t>(capacity), u'\0');
  Int32 n = PlatformColonPathToPosix(reinterpret_cast<const UInt16*>(colon.data()),
                                     static_cast<Int32>(colon.size()),
                                     reinterpret_cast<UInt16*>(&out[0]), capacity);
  if (n < 0) return u"<none>";
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace

TEST(Filename, SetStringDropsTrailingSlashesAndBlanksUntilNoneIsLeft) {
  const struct {
    const char16_t* given;
    const char16_t* stored;
  } rows[] =
      {
          {u"dir/", u"dir"},  {u"/", u"/"},
          {u"a/ ", u"a"},     {u"a/b   ", u"a/b"},
          {u"dir//", u"dir"}, {u"   ", u""},
          {u"", u""},         {u" x", u" x"},  // leading stay
          {u"a/ / ", u"a"},   {u"/ ", u"/"},
          {u"x/ ", u"x"},     {u"a\tb\t", u"a\tb\t"},  // only U+0020 counts as a blank
      };
  for (const auto& row : rows) {
    EXPECT_EQ(row.stored, Stored(row.given));
    // Stored again, a stored path stays as it is (a saved file name never changes on resave).
    EXPECT_EQ(row.stored, Stored(row.stored));
  }
}

TEST(Filename, ConstructionFromBytesDecodesUtf8AndNormalises) {
  EXPECT_EQ(u"/tmp/caf\u00e9", U(Filename("/tmp/caf\xc3\xa9/").GetString()));
  EXPECT_EQ(u"\u20ac", U(Filename("\xe2\x82\xac  ").GetString()));
  EXPECT_EQ(u"", U(Filename(nullptr).GetString()));
  EXPECT_EQ(u"", U(Filename().GetString()));
}

TEST(Filename, EqualityIgnoresTheCaseOfAsciiLettersAndThreeUmlautsOnly) {
  EXPECT_TRUE(Filename("/Users/Me/File.TXT") == Filename("/users/me/file.txt"));
  EXPECT_FALSE(Filename("/Users/Me/File.TXT") != Filename("/users/me/file.txt"));
  EXPECT_TRUE(Filename("dir/") == Filename("DIR"));  // compared normalised
  Filename upperE, lowerE, upperA, lowerA;
  upperE.SetString(S(u"\u00c9"));
  lowerE.SetString(S(u"\u00e9"));
  upperA.SetString(S(u"x\u00c4\u00d6\u00dc"));
  lowerA.SetString(S(u"X\u00e4\u00f6\u00fc"));
  EXPECT_TRUE(upperE != lowerE);
  EXPECT_TRUE(upperA == lowerA);
  EXPECT_TRUE(Filename("a") != Filename("ab"));
  EXPECT_TRUE(Filename("") == Filename());
}

TEST(Filename, CopiesOfPlainPathsCarryNoMemoryFile) {
  Filename a("some/path");
  Filename b(a);
  Filename c;
  c = a;
  EXPECT_EQ(nullptr, b.GetMemoryFile());
  EXPECT_EQ(nullptr, c.GetMemoryFile());
  EXPECT_TRUE(b == a && c == a);
  EXPECT_EQ(u"some/path", U(c.GetString()));
}

TEST(Filename, GetFSRefNamesExistingFilesOnly) {
  std::string path = lumtest::TempPath("ref.bin");
  ASSERT_TRUE(lumtest::WriteFileBytes(path, {1, 2}));
  FSRef a, b, c;
  ASSERT_TRUE(Filename(path.c_str()).GetFSRef(&a));
  std::string other = lumtest::TempDir() + "/./ref.bin";
  ASSERT_TRUE(Filename(other.c_str()).GetFSRef(&b));
  EXPECT_EQ(a.device, b.device);
  EXPECT_EQ(a.node, b.node);

  c.device = c.node = 99;
  EXPECT_FALSE(Filename().GetFSRef(&c));
  EXPECT_EQ(0u, c.device);
  EXPECT_EQ(0u, c.node);
  c.node = 99;
  EXPECT_FALSE(Filename(lumtest::TempPath("no-such-file").c_str()).GetFSRef(&c));
  EXPECT_EQ(0u, c.node);
  EXPECT_FALSE(Filename(path.c_str()).GetFSRef(nullptr));

  // The conversion buffer may fail to allocate; the answer is then no.
  Filename name(path.c_str());
  lumtest::ScopedAllocFailure fail(1);
  EXPECT_FALSE(name.GetFSRef(&c));
  EXPECT_TRUE(lumtest::InjectedFailureHappened());
}

TEST(Filename, FailedAllocationsLeaveAnEmptyPath) {
  {
    lumtest::ScopedAllocFailure fail(1, true);
    Filename f("/some/path/");
    EXPECT_EQ(0, f.GetString().GetLength());
  }
  Filename full("/full");
  Filename target;
  {
    lumtest::ScopedAllocFailure fail(1, true);
    target = full;
    EXPECT_TRUE(target == Filename());
  }
  target = full;
  EXPECT_TRUE(target == full);
}

// ---- old colon-separated paths ----

TEST(ColonPath, AbsolutePathsLiveUnderVolumes) {
  EXPECT_EQ(u"/Volumes/Volume/dir/file", Posix(u"Volume:dir:file"));
  EXPECT_EQ(u"/Volumes/Volume", Posix(u"Volume:"));
  EXPECT_EQ(u"/Volumes/Volume/dir", Posix(u"Volume:dir:"));  // a trailing colon: a directory
  EXPECT_EQ(u"/Volumes/Disk 2/caf\u00e9", Posix(u"Disk 2:caf\u00e9"));
}

TEST(ColonPath, LeadingColonIsRelativeAndDoubleColonsGoUp) {
  EXPECT_EQ(u"dir/file", Posix(u":dir:file"));
  EXPECT_EQ(u"/Volumes/Vol/b", Posix(u"Vol:a::b"));
  EXPECT_EQ(u"/Volumes/Vol/b", Posix(u"Vol:a:c:::b"));
  EXPECT_EQ(u"/Volumes/Vol/x", Posix(u"Vol::x"));  // never above the volume
  EXPECT_EQ(u"b", Posix(u":a::b"));
  EXPECT_EQ(u"../a", Posix(u"::a"));
  EXPECT_EQ(u"../../a", Posix(u":::a"));
  EXPECT_EQ(u"../x", Posix(u":a:::x"));
  EXPECT_EQ(u".", Posix(u":"));
  EXPECT_EQ(u"/Volumes/Vol", Posix(u"Vol:a::"));
}

TEST(ColonPath, SlashesInsideNamesBecomeColons) {
  EXPECT_EQ(u"/Volumes/V/a:b/c:", Posix(u"V:a/b:c/"));
}

TEST(ColonPath, ResultsThatDoNotFitAreRefused) {
  EXPECT_EQ(u"/Volumes/V/ab", Posix(u"V:ab", 13));
  EXPECT_EQ(u"<none>", Posix(u"V:ab", 12));
  EXPECT_EQ(u"<none>", Posix(u""));
  EXPECT_EQ(-1, PlatformColonPathToPosix(nullptr, 3, nullptr, 10));
  EXPECT_EQ(u"<none>", Posix(u"V:ab", 0));
  const UInt16 units[4] = {'V', ':', 'a', 'b'};
  EXPECT_EQ(-1, PlatformColonPathToPosix(units, 4, nullptr, 10));
}
