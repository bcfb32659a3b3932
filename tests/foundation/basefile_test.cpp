// BaseFile on disk: the own buffer across its boundary, typed values in both byte orders, the
// sticky error, locks between processes, long paths, failing devices, the Finder information,
// the stream layer (CallFileOpen, byte swappers) and every allocation on the way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "lumora.h"
#include "platform/lum_platform.h"
#include "test_support.h"

using namespace lumora;

namespace {

using Bytes = std::vector<unsigned char>;

unsigned char Pat(size_t i) { return static_cast<unsigned char>((i * 131 + (i >> 8)) & 0xFF); }

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = Pat(i);
  return b;
}

// A file of n pattern bytes; returns its path.
std::string PatternFile(const std::string& name, size_t n) {
  std::string path = lumtest::TempPath(name);
  EXPECT_TRUE(lumtest::WriteFileBytes(path, Pattern(n)));
  return path;
}

Int32 Code(const char* four) {
  return static_cast<Int32>((static_cast<UInt32>(static_cast<unsigned char>(four[0])) << 24) |
                            (static_cast<UInt32>(static_cast<unsigned char>(four[1])) << 16) |
                            (static_cast<UInt32>(static_cast<unsigned char>(four[2])) << 8) |
                            static_cast<UInt32>(static_cast<unsigned char>(four[3])));
}

// Reads n bytes at the current position and checks them against the pattern at pos.
void ExpectPatternAt(BaseFile& f, size_t pos, size_t n) {
  Bytes got(n);
  ASSERT_EQ(static_cast<Int64>(n), f.ReadBytes(got.data(), static_cast<Int64>(n)));
  for (size_t i = 0; i < n; ++i) ASSERT_EQ(Pat(pos + i), got[i]) << "at " << pos + i;
}

bool AlertRaisedIn(const char* file) {
  for (const auto& a : lumtest::Alerts())
    if (a.file == file) return true;
  return false;
}

}  // namespace

// ---- typed values ----

TEST(BaseFile, TypedValuesInMotorolaOrderAreBigEndianOnDisk) {
  std::string path = lumtest::TempPath("motorola.bin");
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));
    EXPECT_TRUE(f.WriteChar(-2));
    EXPECT_TRUE(f.WriteUChar(0x7F));
    EXPECT_TRUE(f.WriteInt16(-2));
    EXPECT_TRUE(f.WriteUInt16(0xA0B1));
    EXPECT_TRUE(f.WriteInt32(0x01020304));
    EXPECT_TRUE(f.WriteUInt32(0xF1F2F3F4u));
    EXPECT_TRUE(f.WriteInt64(0x0102030405060708LL));
    EXPECT_TRUE(f.WriteFloat32(1.0f));
    EXPECT_TRUE(f.WriteFloat64(-2.0));
    EXPECT_EQ(34, f.GetPosition());
    EXPECT_TRUE(f.Close());
  }
  EXPECT_EQ(
      "fe 7f ff fe a0 b1 01 02 03 04 f1 f2 f3 f4 01 02 03 04 05 06 07 08 3f 80 00 00 c0 00 00 "
      "00 00 00 00 00",
      lumtest::ToHex(lumtest::ReadFileBytes(path)));

  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str())));
  Char c;
  UChar uc;
  Int16 i16;
  UInt16 u16;
  Int32 i32;
  UInt32 u32;
  Int64 i64;
  Float32 f32;
  Float64 f64;
  ASSERT_TRUE(f.ReadChar(&c) && f.ReadUChar(&uc) && f.ReadInt16(&i16) && f.ReadUInt16(&u16) &&
              f.ReadInt32(&i32) && f.ReadUInt32(&u32) && f.ReadInt64(&i64) && f.ReadFloat32(&f32) &&
              f.ReadFloat64(&f64));
  EXPECT_EQ(-2, c);
  EXPECT_EQ(0x7F, uc);
  EXPECT_EQ(-2, i16);
  EXPECT_EQ(0xA0B1, u16);
  EXPECT_EQ(0x01020304, i32);
  EXPECT_EQ(0xF1F2F3F4u, u32);
  EXPECT_EQ(0x0102030405060708LL, i64);
  EXPECT_EQ(1.0f, f32);
  EXPECT_EQ(-2.0, f64);
}

TEST(BaseFile, TypedValuesInIntelOrderAreLittleEndianOnDisk) {
  std::string path = lumtest::TempPath("intel.bin");
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE, FILEDIALOG_NONE, BYTEORDER_INTEL));
    EXPECT_TRUE(f.WriteUInt16(0xA0B1));
    EXPECT_TRUE(f.WriteInt32(0x01020304));
    EXPECT_TRUE(f.WriteInt64(-2));
    EXPECT_TRUE(f.WriteFloat32(1.0f));
    // The order can change between values.
    f.SetOrder(BYTEORDER_MOTOROLA);
    EXPECT_TRUE(f.WriteUInt16(0xA0B1));
    EXPECT_TRUE(f.Close());
  }
  EXPECT_EQ("b1 a0 04 03 02 01 fe ff ff ff ff ff ff ff 00 00 80 3f a0 b1",
            lumtest::ToHex(lumtest::ReadFileBytes(path)));
  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_READ, FILEDIALOG_NONE, BYTEORDER_INTEL));
  UInt16 u16;
  Int32 i32;
  Int64 i64;
  Float32 f32;
  ASSERT_TRUE(f.ReadUInt16(&u16) && f.ReadInt32(&i32) && f.ReadInt64(&i64) && f.ReadFloat32(&f32));
  EXPECT_EQ(0xA0B1, u16);
  EXPECT_EQ(0x01020304, i32);
  EXPECT_EQ(-2, i64);
  EXPECT_EQ(1.0f, f32);
}

TEST(BaseFile, InfinityAndNaNAreWrittenAndReadAsZero) {
  std::string path = lumtest::TempPath("nan.bin");
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));
    EXPECT_TRUE(f.WriteFloat32(std::numeric_limits<Float32>::quiet_NaN()));
    EXPECT_TRUE(f.WriteFloat32(-std::numeric_limits<Float32>::infinity()));
    EXPECT_TRUE(f.WriteFloat64(std::numeric_limits<Float64>::infinity()));
    EXPECT_TRUE(f.WriteFloat64(std::numeric_limits<Float64>::quiet_NaN()));
    // The largest finite values keep their bits.
    EXPECT_TRUE(f.WriteFloat32(std::numeric_limits<Float32>::max()));
    EXPECT_TRUE(f.WriteFloat64(-std::numeric_limits<Float64>::max()));
    EXPECT_TRUE(f.Close());
  }
  EXPECT_EQ(
      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 7f 7f ff ff ff ef "
      "ff ff ff ff ff ff",
      lumtest::ToHex(lumtest::ReadFileBytes(path)));

  // Stored infinities and NaNs (from another writer) read as 0.0 as well.
  ASSERT_TRUE(lumtest::WriteFileBytes(
      path, lumtest::FromHex("7f c0 00 01 ff 80 00 00 7f f8 00 00 00 00 00 01 7f f0 00 00 00 00 "
                             "00 00 00 40 00 00")));
  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str())));
  Float32 a = 5, b = 5, denormal = 5;
  Float64 c = 5, d = 5;
  ASSERT_TRUE(f.ReadFloat32(&a) && f.ReadFloat32(&b) && f.ReadFloat64(&c) && f.ReadFloat64(&d) &&
              f.ReadFloat32(&denormal));
  EXPECT_EQ(0.0f, a);
  EXPECT_EQ(0.0f, b);
  EXPECT_EQ(0.0, c);
  EXPECT_EQ(0.0, d);
  EXPECT_GT(denormal, 0.0f);  // a denormal is no infinity
  EXPECT_LT(denormal, std::numeric_limits<Float32>::min());
}

// ---- the own buffer ----

TEST(BaseFile, ReadsAcrossTheBufferBoundaryInEveryStepSize) {
  // Steps that land on, before and after the 16 KiB boundary (and the 256 KiB one of a file
  // over 1 MiB), and requests larger than the buffer, which bypass it.
  const size_t steps[] = {1, 3, 7, 4093, 16383, 16384, 16385, 20000, 262143, 262144, 262145};
  for (const size_t n : {size_t(40000), size_t(1300000)}) {
    std::string path = PatternFile("across.bin", n);
    for (size_t step : steps) {
      BaseFile f;
      ASSERT_TRUE(f.Open(Filename(path.c_str())));
      EXPECT_EQ(static_cast<Int64>(n), f.GetLength());
      size_t pos = 0;
      while (pos < n) {
        size_t take = std::min(step, n - pos);
        ExpectPatternAt(f, pos, take);
        pos += take;
        ASSERT_EQ(static_cast<Int64>(pos), f.GetPosition());
      }
      EXPECT_EQ(FILEERROR_NONE, f.GetError()) << "step " << step;
    }
  }
}

TEST(BaseFile, ReadsThatStraddleTheBufferEndKeepTheirBytes) {
  std::string path = PatternFile("straddle.bin", 50000);
  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_READ, FILEDIALOG_NONE, BYTEORDER_INTEL));
  ASSERT_TRUE(f.Seek(16382));
  UInt32 v;
  ASSERT_TRUE(f.ReadUInt32(&v));  // 2 bytes from the first buffer, 2 from the next
  EXPECT_EQ(static_cast<UInt32>(Pat(16382) | Pat(16383) << 8 | Pat(16384) << 16 |
                                static_cast<UInt32>(Pat(16385)) << 24),
            v);
  // Interleave a small read, a large direct one and small ones again.
  ExpectPatternAt(f, 16386, 10);
  ExpectPatternAt(f, 16396, 17000);
  ExpectPatternAt(f, 33396, 5);
  Int64 i64;
  ASSERT_TRUE(f.Seek(32765));
  ASSERT_TRUE(f.ReadInt64(&i64));
  Int64 expect = 0;
  for (int i = 7; i >= 0; --i) expect = (expect << 8) | Pat(32765 + i);
  EXPECT_EQ(expect, i64);
}

TEST(BaseFile, SeeksInsideAndOutsideTheReadBuffer) {
  std::string path = PatternFile("seek.bin", 40000);
  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str())));
  ExpectPatternAt(f, 0, 10);
  ASSERT_TRUE(f.Seek(5));  // back, inside the buffer
  ExpectPatternAt(f, 5, 3);
  ASSERT_TRUE(f.Seek(16384));  // exactly the end of the buffer
  ExpectPatternAt(f, 16384, 2);
  ASSERT_TRUE(f.Seek(30000));  // far ahead
  ExpectPatternAt(f, 30000, 100);
  ASSERT_TRUE(f.Seek(100));  // back, outside the current buffer
  ExpectPatternAt(f, 100, 16384);
  ASSERT_TRUE(f.Seek(-50, FILESEEK_RELATIVE));
  EXPECT_EQ(16434, f.GetPosition());
  ExpectPatternAt(f, 16434, 60);
  ASSERT_TRUE(f.Seek(0, FILESEEK_RELATIVE));
  EXPECT_EQ(16494, f.GetPosition());
  // Past the end is allowed; reading there is short.
  ASSERT_TRUE(f.Seek(40010));
  char c;
  EXPECT_EQ(0, f.ReadBytes(&c, 1, true));
  EXPECT_EQ(FILEERROR_NONE, f.GetError());
  // The length is still right after all that, and reading goes on from where it was.
  ASSERT_TRUE(f.Seek(39990));
  EXPECT_EQ(40000, f.GetLength());
  ExpectPatternAt(f, 39990, 10);
}

TEST(BaseFile, WritesAcrossTheBufferBoundaryInEveryStepSize) {
  // A file written past 1 MiB goes on through a 256 KiB buffer.
  const size_t steps[] = {1, 5, 4093, 16383, 16384, 16385, 30000, 262143, 262144, 262145};
  for (const size_t n : {size_t(70000), size_t(1400000)}) {
    Bytes data = Pattern(n);
    for (size_t step : steps) {
      std::string path = lumtest::TempPath("wstep.bin");
      BaseFile f;
      ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));
      for (size_t pos = 0; pos < n; pos += step)
        ASSERT_TRUE(f.WriteBytes(data.data() + pos, static_cast<Int64>(std::min(step, n - pos))));
      EXPECT_EQ(static_cast<Int64>(n), f.GetPosition());
      ASSERT_TRUE(f.Close());
      EXPECT_TRUE(lumtest::ReadFileBytes(path) == data) << "step " << step;
    }
  }
}

TEST(BaseFile, SeekWhileWritingFlushesAndOverwrites) {
  std::string path = lumtest::TempPath("wseek.bin");
  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));
  Bytes data = Pattern(100);
  ASSERT_TRUE(f.WriteBytes(data.data(), 100));
  ASSERT_TRUE(f.Seek(10));
  ASSERT_TRUE(f.WriteBytes("XY", 2));
  ASSERT_TRUE(f.Seek(-7, FILESEEK_RELATIVE));  // back to 5
  ASSERT_TRUE(f.WriteBytes("Z", 1));
  ASSERT_TRUE(f.Seek(104));  // beyond the end leaves a hole of zeros
  ASSERT_TRUE(f.WriteBytes("E", 1));
  EXPECT_EQ(105, f.GetPosition());
  ASSERT_TRUE(f.Close());
  data[10] = 'X';
  data[11] = 'Y';
  data[5] = 'Z';
  data.insert(data.end(), {0, 0, 0, 0, 'E'});
  EXPECT_EQ(lumtest::ToHex(data), lumtest::ToHex(lumtest::ReadFileBytes(path)));
}

TEST(BaseFile, ShortFilesGetABufferOfTheirLengthPlusTwo) {
  std::string path = PatternFile("short.bin", 10);
  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str())));
  EXPECT_EQ(10, f.AdjustBuffer(12));  // fits the 12-byte buffer; 10 bytes are there
  EXPECT_EQ(0, f.AdjustBuffer(13));   // larger than the buffer: goes to the stream directly
  ExpectPatternAt(f, 0, 10);
  std::string big = PatternFile("big.bin", 20000);
  BaseFile g;
  ASSERT_TRUE(g.Open(Filename(big.c_str())));
  EXPECT_EQ(100, g.AdjustBuffer(100));
  EXPECT_EQ(16384, g.AdjustBuffer(16384));
  EXPECT_EQ(0, g.AdjustBuffer(16385));
}

TEST(BaseFile, ShortReadsWithJustTryReturnTheCountWithoutError) {
  std::string path = PatternFile("tryshort.bin", 10);
  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str())));
  ASSERT_TRUE(f.Seek(8));
  char buf[40];
  EXPECT_EQ(2, f.ReadBytes(buf, 4, true));
  EXPECT_EQ(Pat(8), static_cast<unsigned char>(buf[0]));
  EXPECT_EQ(10, f.GetPosition());  // advanced by what was read
  EXPECT_EQ(0, f.ReadBytes(buf, 4, true));
  EXPECT_EQ(FILEERROR_NONE, f.GetError());
  // Requests larger than the buffer take the direct path and are short as well.
  ASSERT_TRUE(f.Seek(0));
  EXPECT_EQ(10, f.ReadBytes(buf, 40, true));
  EXPECT_EQ(FILEERROR_NONE, f.GetError());
  // A count of 0 answers 1 unless only trying.
  EXPECT_EQ(1, f.ReadBytes(buf, 0, false));
  EXPECT_EQ(0, f.ReadBytes(buf, 0, true));
  EXPECT_TRUE(f.Close());
}

TEST(BaseFile, ShortReadWithoutJustTryRecordsReadErrorAndCloses) {
  std::string path = PatternFile("short2.bin", 10);
  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str())));
  ASSERT_TRUE(f.Seek(8));
  Int32 v = 77;
  EXPECT_FALSE(f.ReadInt32(&v));
  EXPECT_EQ(77, v);  // untouched
  EXPECT_EQ(FILEERROR_READ, f.GetError());
  EXPECT_FALSE(f.IsOpen());
  // Sticky: everything fails now, and the first error stays.
  char c;
  EXPECT_EQ(0, f.ReadBytes(&c, 1, true));
  EXPECT_EQ(0, f.ReadBytes(&c, 0));
  EXPECT_FALSE(f.Seek(0));
  EXPECT_EQ(0, f.GetPosition());
  EXPECT_EQ(0, f.GetLength());
  EXPECT_EQ(FILEERROR_READ, f.GetError());
  EXPECT_FALSE(f.Close());

  // The same for a direct read larger than the buffer.
  std::string big = PatternFile("short3.bin", 20000);
  BaseFile g;
  ASSERT_TRUE(g.Open(Filename(big.c_str())));
  Bytes buf(30000);
  EXPECT_EQ(0, g.ReadBytes(buf.data(), 30000));
  EXPECT_EQ(FILEERROR_READ, g.GetError());
  EXPECT_FALSE(g.Close());
  // A new Open starts afresh.
  ASSERT_TRUE(g.Open(Filename(big.c_str())));
  EXPECT_EQ(FILEERROR_NONE, g.GetError());
  ExpectPatternAt(g, 0, 20000);
}

TEST(BaseFile, InvalidOperationsRecordInvalidCloseAndRaiseAlerts) {
  std::string path = PatternFile("invalid.bin", 100);
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str())));
    lumtest::ResetAlerts();
    EXPECT_FALSE(f.Seek(-1));
    EXPECT_EQ(FILEERROR_INVALID, f.GetError());
    EXPECT_FALSE(f.IsOpen());
    EXPECT_TRUE(AlertRaisedIn("source/lum_basefile"));
    EXPECT_FALSE(f.Close());
  }
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str())));
    ASSERT_TRUE(f.Seek(10));
    EXPECT_FALSE(f.Seek(-11, FILESEEK_RELATIVE));
    EXPECT_EQ(FILEERROR_INVALID, f.GetError());
  }
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str())));
    lumtest::ResetAlerts();
    EXPECT_FALSE(f.Seek(0, static_cast<FILESEEK>(1)));
    EXPECT_EQ(FILEERROR_INVALID, f.GetError());
    EXPECT_EQ(1, lumtest::AlertCount());
  }
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str())));
    EXPECT_FALSE(f.WriteBytes("x", 1));  // writing a file opened for reading
    EXPECT_EQ(FILEERROR_INVALID, f.GetError());
  }
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str())));
    char c;
    EXPECT_EQ(0, f.ReadBytes(&c, -1));
    EXPECT_EQ(FILEERROR_INVALID, f.GetError());
  }
  std::string out = lumtest::TempPath("invalid-out.bin");
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(out.c_str()), FILEOPEN_WRITE));
    ASSERT_TRUE(f.WriteBytes("abc", 3));
    lumtest::ResetAlerts();
    EXPECT_EQ(0, f.GetLength());
    EXPECT_EQ(FILEERROR_INVALID, f.GetError());
    EXPECT_EQ(1, lumtest::AlertCount());
    EXPECT_FALSE(f.Close());
  }
  EXPECT_EQ(0u, lumtest::ReadFileBytes(out).size());  // nothing pending is written after an error
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(out.c_str()), FILEOPEN_APPEND));
    lumtest::ResetAlerts();
    char c;
    EXPECT_EQ(0, f.ReadBytes(&c, 1));
    EXPECT_EQ(FILEERROR_INVALID, f.GetError());
    EXPECT_EQ(1, lumtest::AlertCount());
  }
  {
    BaseFile f;
    lumtest::ResetAlerts();
    EXPECT_FALSE(f.Open(Filename(path.c_str()), static_cast<FILEOPEN>(6)));
    EXPECT_EQ(FILEERROR_INVALID, f.GetError());
    EXPECT_EQ(1, lumtest::AlertCount());
  }
  {
    BaseFile f;  // nothing open
    EXPECT_TRUE(f.Close());
    EXPECT_EQ(0, f.GetPosition());
    EXPECT_EQ(FILEERROR_INVALID, f.GetError());
    EXPECT_FALSE(f.Close());
  }
  // With the debug flag set an alert is also told on stderr, cut to the length byte's 254.
  const std::string longName(300, 'n');
  GeSetDebugFlag(true);
  testing::internal::CaptureStderr();
  _GeDebugBreak(12, "source/lum_x");
  _GeDebugBreak(7, nullptr);
  _GeDebugBreak(1, longName.c_str());
  const std::string told = testing::internal::GetCapturedStderr();
  GeSetDebugFlag(false);
  EXPECT_EQ(
      "ALERT: source/lum_x, Line 12\nALERT: , Line 7\nALERT: " + longName.substr(0, 247) + "\n",
      told);
}

// Bad arguments and closed files are refused with FILEERROR_INVALID (which closes the file);
// a call of no bytes on an open file succeeds, unless it only tries to read.
TEST(BaseFile, BadArgumentsAndClosedFilesAreRefused) {
  const std::string path = PatternFile("arguments.bin", 8);
  const struct {
    FILEOPEN mode;  // 0: never opened
    bool (*refused)(BaseFile&);
  } cases[] = {
      {FILEOPEN(0), [](BaseFile& f) { return f.ReadBytes(nullptr, 0) == 0; }},
      {FILEOPEN(0), [](BaseFile& f) { return !f.WriteBytes("x", 1); }},
      {FILEOPEN_READ, [](BaseFile& f) { return f.ReadBytes(nullptr, 1) == 0; }},
      {FILEOPEN_READWRITE, [](BaseFile& f) { return !f.WriteBytes(nullptr, 1); }},
      {FILEOPEN_READWRITE, [](BaseFile& f) { return !f.WriteBytes("x", -1); }},
  };
  for (const auto& c : cases) {
    BaseFile f;
    if (c.mode != 0) {
      ASSERT_TRUE(f.Open(Filename(path.c_str()), c.mode));
    }
    EXPECT_TRUE(c.refused(f)) << c.mode;
    EXPECT_EQ(FILEERROR_INVALID, f.GetError()) << c.mode;
    EXPECT_TRUE(f.ReadBytes(nullptr, 0) == 0 && !f.WriteBytes(nullptr, 0)) << c.mode;
  }
  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_READWRITE));
  EXPECT_TRUE(f.ReadBytes(nullptr, 0) == 1 && f.ReadBytes(nullptr, 0, true) == 0);
  EXPECT_TRUE(f.WriteBytes(nullptr, 0) && f.Close());
}

TEST(BaseFile, OpenFailuresRecordOpenError) {
  BaseFile f;
  EXPECT_FALSE(f.Open(Filename(lumtest::TempPath("missing/none.bin").c_str())));
  EXPECT_EQ(FILEERROR_OPEN, f.GetError());
  EXPECT_FALSE(f.Open(Filename("")));
  EXPECT_EQ(FILEERROR_OPEN, f.GetError());
  EXPECT_FALSE(f.Open(Filename(lumtest::TempDir().c_str()), FILEOPEN_WRITE));
  EXPECT_EQ(FILEERROR_OPEN, f.GetError());

  // A 0 unit inside the path must not open the file named by the part before it.
  std::string path = PatternFile("zero", 4);
  String text(path.c_str(), STRINGENCODING_UTF8);
  String withZero = text;
  UInt16 tail[] = {0, 'x'};
  String t;
  t.SetUcBlock(tail, 2);
  withZero = withZero + t;
  Filename name;
  name.SetString(withZero);
  EXPECT_FALSE(f.Open(name));
  EXPECT_EQ(FILEERROR_OPEN, f.GetError());
}

TEST(BaseFile, AppendStartsAtTheEndAndKeepsTheContent) {
  std::string path = PatternFile("append.bin", 5);
  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_APPEND));
  EXPECT_EQ(5, f.GetPosition());
  ASSERT_TRUE(f.WriteBytes("abc", 3));
  ASSERT_TRUE(f.Close());
  Bytes expect = Pattern(5);
  expect.insert(expect.end(), {'a', 'b', 'c'});
  EXPECT_EQ(lumtest::ToHex(expect), lumtest::ToHex(lumtest::ReadFileBytes(path)));
}

TEST(BaseFile, ReadWriteModeMixesReadsAndWritesAndTracksTheLength) {
  std::string path = lumtest::TempPath("rw.bin");
  ASSERT_TRUE(lumtest::WriteFileBytes(path, Bytes{'a', 'b', 'c', 'd', 'e', 'f'}));
  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_READWRITE));
  EXPECT_EQ(6, f.GetLength());
  char buf[4] = {};
  ASSERT_EQ(2, f.ReadBytes(buf, 2));
  EXPECT_EQ('a', buf[0]);
  ASSERT_TRUE(f.WriteBytes("XY", 2));  // read, then write: the stream is repositioned
  ASSERT_EQ(2, f.ReadBytes(buf, 2));   // and back
  EXPECT_EQ('e', buf[0]);
  EXPECT_EQ('f', buf[1]);
  ASSERT_TRUE(f.WriteBytes("Z", 1));
  EXPECT_EQ(7, f.GetLength());  // the known length follows what was written
  ASSERT_TRUE(f.Seek(2));
  ASSERT_EQ(3, f.ReadBytes(buf, 3));
  EXPECT_EQ(0, std::memcmp(buf, "XYe", 3));
  EXPECT_EQ(2, f.ReadBytes(buf, 4, true));
  ASSERT_TRUE(f.Close());
  EXPECT_EQ("61 62 58 59 65 66 5a", lumtest::ToHex(lumtest::ReadFileBytes(path)));

  // A read-write open creates a missing file and keeps an existing one.
  std::string fresh = lumtest::TempPath("rw-new.bin");
  ASSERT_TRUE(f.Open(Filename(fresh.c_str()), FILEOPEN_READWRITE));
  EXPECT_EQ(0, f.GetLength());
  ASSERT_TRUE(f.WriteInt32(7));
  ASSERT_TRUE(f.Seek(0));
  Int32 v;
  ASSERT_TRUE(f.ReadInt32(&v));
  EXPECT_EQ(7, v);
  ASSERT_TRUE(f.Close());
}

// A pipe named by its descriptor's path opens, but every stream seek on it fails: each mode
// meets that where it first needs one and keeps FILEERROR_SEEK, with the bytes written before.
TEST(BaseFile, AStreamThatCannotSeekFailsWithTheSeekError) {
  const struct {
    FILEOPEN mode;
    bool opens;
    bool (*after)(BaseFile&);  // the first step that seeks
  } cases[] = {
      {FILEOPEN_READ, false, nullptr},  // the length is taken at open
      {FILEOPEN_APPEND, false, nullptr},
      {FILEOPEN_WRITE, true, [](BaseFile& f) { return f.WriteInt32(1) && f.Seek(2); }},
      {FILEOPEN_READWRITE, true, [](BaseFile& f) { return f.GetLength() > 0; }},
      {FILEOPEN_READWRITE, true,
       [](BaseFile& f) {
         char c = 0;  // written, then read: the stream is repositioned first
         return f.WriteBytes("ab", 2) && f.ReadBytes(&c, 1) == 1;
       }},
      {FILEOPEN_READWRITE, true,
       [](BaseFile& f) {
         char c = 0;  // and read, then written
         return f.ReadBytes(&c, 1) == 1 && f.WriteBytes("a", 1);
       }},
  };
  for (const auto& c : cases) {
    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    ASSERT_EQ(4, write(ends[1], "wxyz", 4));
    const int fd = c.mode == FILEOPEN_READ ? ends[0] : ends[1];
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    BaseFile f;
    EXPECT_EQ(c.opens, f.Open(Filename(path.c_str()), c.mode)) << c.mode;
    if (c.opens) {
      EXPECT_FALSE(c.after(f)) << c.mode;
    }
    EXPECT_EQ(FILEERROR_SEEK, f.GetError()) << c.mode;
    EXPECT_FALSE(f.Close());
    close(ends[0]);
    close(ends[1]);
  }
}

TEST(BaseFile, WriteTruncatesAnExistingFile) {
  std::string path = PatternFile("trunc.bin", 1000);
  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));
  ASSERT_TRUE(f.WriteBytes("ab", 2));
  ASSERT_TRUE(f.Close());
  EXPECT_EQ("61 62", lumtest::ToHex(lumtest::ReadFileBytes(path)));
}

// ---- locks ----

TEST(BaseFile, AnotherDescriptorsExclusiveLockMakesEveryOpenFailAtOnce) {
  std::string path = PatternFile("locked.bin", 100);
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, flock(fd, LOCK_EX | LOCK_NB));
  BaseFile f;
  EXPECT_FALSE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));
  EXPECT_EQ(FILEERROR_OPEN, f.GetError());
  EXPECT_FALSE(f.Open(Filename(path.c_str()), FILEOPEN_READ));
  EXPECT_EQ(FILEERROR_OPEN, f.GetError());
  EXPECT_FALSE(f.Open(Filename(path.c_str()), FILEOPEN_READWRITE));
  EXPECT_EQ(100u, lumtest::ReadFileBytes(path).size());  // a refused write open cuts nothing
  close(fd);
  EXPECT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));
}

TEST(BaseFile, ReadersShareTheLockButKeepWritersOut) {
  std::string path = PatternFile("shared.bin", 100);
  BaseFile r1, r2, w;
  ASSERT_TRUE(r1.Open(Filename(path.c_str())));
  ASSERT_TRUE(r2.Open(Filename(path.c_str()), FILEOPEN_READ_SHARED));
  EXPECT_FALSE(w.Open(Filename(path.c_str()), FILEOPEN_APPEND));
  EXPECT_EQ(FILEERROR_OPEN, w.GetError());
  r1.Close();
  r2.Close();
  EXPECT_TRUE(w.Open(Filename(path.c_str()), FILEOPEN_APPEND));
}

TEST(BaseFile, AFileAnotherProcessIsWritingCannotBeOpened) {
  std::string path = lumtest::TempPath("child.bin");
  int held[2], release[2];
  ASSERT_EQ(0, pipe(held));
  ASSERT_EQ(0, pipe(release));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child opens the file for writing, says so, and holds it until told to stop.
    close(held[0]);
    close(release[1]);
    BaseFile f;
    char ok = f.Open(Filename(path.c_str()), FILEOPEN_WRITE) ? 'y' : 'n';
    if (write(held[1], &ok, 1) != 1) _exit(2);
    char c;
    if (read(release[0], &c, 1) < 0) _exit(3);
    _exit(0);
  }
  close(held[1]);
  close(release[0]);
  char ok = 0;
  ASSERT_EQ(1, read(held[0], &ok, 1));
  ASSERT_EQ('y', ok);
  BaseFile f;
  EXPECT_FALSE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));
  EXPECT_EQ(FILEERROR_OPEN, f.GetError());
  EXPECT_FALSE(f.Open(Filename(path.c_str()), FILEOPEN_READ));
  ASSERT_EQ(1, write(release[1], "x", 1));
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(held[0]);
  close(release[1]);
  EXPECT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));  // free again
}

// ---- long paths and failing devices ----

namespace {

// A path under the temporary directory whose UTF-8 form is exactly bytes long (the last
// component is a file; the directories are created). Each 'é' is two bytes.
std::string PathOfLength(const std::string& tag, size_t bytes) {
  std::string path = lumtest::TempPath(tag);
  while (path.size() + 1 + 201 < bytes) {
    path += "/";
    for (int i = 0; i < 100; ++i) path += "\xc3\xa9";
  }
  path += "/";
  std::filesystem::create_directories(std::filesystem::path(path));
  while (path.size() + 2 <= bytes && path.size() + 2 - path.rfind('/') < 250) path += "\xc3\xa9";
  while (path.size() < bytes) path += "f";
  return path;
}

void ExpectRoundTripThroughPath(const std::string& path) {
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE)) << path.size();
    ASSERT_TRUE(f.WriteInt32(0x11223344));
    ASSERT_TRUE(f.Close());
  }
  EXPECT_EQ("11 22 33 44", lumtest::ToHex(lumtest::ReadFileBytes(path)));
  BaseFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str())));
  Int32 v;
  ASSERT_TRUE(f.ReadInt32(&v));
  EXPECT_EQ(0x11223344, v);
}

}  // namespace

TEST(BaseFile, PathsOfEveryLengthAroundTheLocalBufferOpen) {
  // 2043 fits the local buffer for sure; above it the path is converted again into a heap
  // buffer, also when a two-byte character would not have fitted the local one.
  for (size_t n : {2043u, 2044u, 2046u, 2047u, 2048u, 2049u, 3000u}) {
    std::string path = PathOfLength("long" + std::to_string(n), n);
    ASSERT_EQ(n, path.size());
    ExpectRoundTripThroughPath(path);
  }
}

TEST(BaseFile, ALongPathWhoseHeapBufferCannotBeAllocatedFailsToOpen) {
  std::string path = PathOfLength("longfail", 3000);
  Filename name(path.c_str());
  BaseFile f;
  {
    lumtest::ScopedAllocFailure fail(2);  // 1: the write buffer, 2: the path buffer
    EXPECT_FALSE(f.Open(name, FILEOPEN_WRITE));
    EXPECT_TRUE(lumtest::InjectedFailureHappened());
  }
  EXPECT_EQ(FILEERROR_OPEN, f.GetError());
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(BaseFile, WritingToAFullDeviceFails) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
  {
    // More than the buffer holds goes to the device at once.
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename("/dev/full"), FILEOPEN_WRITE));
    Bytes data(20000, 1);
    EXPECT_FALSE(f.WriteBytes(data.data(), 20000));
    EXPECT_EQ(FILEERROR_WRITE, f.GetError());
    EXPECT_FALSE(f.IsOpen());
    EXPECT_FALSE(f.Close());
  }
  {
    // A full buffer fails when it is flushed.
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename("/dev/full"), FILEOPEN_WRITE));
    Bytes data(16384, 1);
    EXPECT_TRUE(f.WriteBytes(data.data(), 16384));
    EXPECT_FALSE(f.WriteInt32(1));
    EXPECT_EQ(FILEERROR_WRITE, f.GetError());
  }
  {
    // A few bytes reach the device only when closing, and the failure is reported there.
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename("/dev/full"), FILEOPEN_WRITE));
    EXPECT_TRUE(f.WriteInt32(1));
    EXPECT_FALSE(f.Close());
    EXPECT_TRUE(f.GetError() == FILEERROR_CLOSE || f.GetError() == FILEERROR_WRITE);
  }
}

// ---- Finder information ----

namespace {

bool XattrsSupported(const std::string& path) {
  if (setxattr(path.c_str(), "user.lumora.probe", "1", 1, 0) != 0) return false;
  removexattr(path.c_str(), "user.lumora.probe");
  return true;
}

}  // namespace

TEST(BaseFile, WriteOpenStoresTypeAndCreatorInTheFinderInformation) {
  std::string path = lumtest::TempPath("finder.jpg");
  ASSERT_TRUE(lumtest::WriteFileBytes(path, Bytes{1}));
  if (!XattrsSupported(path)) GTEST_SKIP() << "no extended attributes on this file system";
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE, FILEDIALOG_NONE, BYTEORDER_MOTOROLA,
                       Code("JPEG"), Code("LUM1")));
    ASSERT_TRUE(f.Close());
  }
  Int32 type = 0, creator = 0;
  ASSERT_TRUE(PlatformGetFinderInfo(path.c_str(), &type, &creator));
  EXPECT_EQ(Code("JPEG"), type);
  EXPECT_EQ(Code("LUM1"), creator);
  unsigned char raw[32];
  ASSERT_EQ(32, getxattr(path.c_str(), "user.com.apple.FinderInfo", raw, 32));
  EXPECT_EQ("4a 50 45 47 4c 55 4d 31", lumtest::ToHex(raw, 8));

  // Only the non-zero code is replaced; the other bytes of the attribute stay.
  for (int i = 8; i < 32; ++i) raw[i] = static_cast<unsigned char>(i);
  ASSERT_EQ(0, setxattr(path.c_str(), "user.com.apple.FinderInfo", raw, 32, 0));
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE, FILEDIALOG_NONE, BYTEORDER_INTEL,
                       Code("LUMB"), 0));
  }
  unsigned char after[32];
  ASSERT_EQ(32, getxattr(path.c_str(), "user.com.apple.FinderInfo", after, 32));
  EXPECT_EQ("4c 55 4d 42 4c 55 4d 31", lumtest::ToHex(after, 8));
  EXPECT_EQ(0, std::memcmp(raw + 8, after + 8, 24));

  // Other modes leave it alone.
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_APPEND, FILEDIALOG_NONE, BYTEORDER_INTEL,
                       Code("ZZZZ"), Code("ZZZZ")));
  }
  ASSERT_TRUE(PlatformGetFinderInfo(path.c_str(), &type, &creator));
  EXPECT_EQ(Code("LUMB"), type);
}

TEST(BaseFile, FinderInformationIsOnlyGivenToRegularFilesAndNeverFailsAnOpen) {
  std::string path = lumtest::TempPath("nocodes.bin");
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));  // no codes: nothing stored
  }
  Int32 type = 0, creator = 0;
  EXPECT_FALSE(PlatformGetFinderInfo(path.c_str(), &type, &creator));
  // A device no other test writes to: a write open takes an exclusive lock on it, and the
  // tests of other programs run at the same time.
  int fd = open("/dev/zero", O_WRONLY);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(PlatformSetFinderInfo(fd, Code("JPEG"), Code("LUM1")));
  close(fd);
  BaseFile f;
  EXPECT_TRUE(f.Open(Filename("/dev/zero"), FILEOPEN_WRITE, FILEDIALOG_NONE, BYTEORDER_MOTOROLA,
                     Code("JPEG"), Code("LUM1")));
  EXPECT_TRUE(f.WriteInt32(5));
  EXPECT_TRUE(f.Close());
}

// ---- the stream layer ----

TEST(CallFileOpen, RefusesFlagCombinationsAndUnknownModes) {
  std::string path = PatternFile("flags.bin", 10);
  EXPECT_EQ(nullptr, CallFileOpen(path.c_str(), FILEMODE_READ, OPENSTREAMFLAGSF_KEEP));
  EXPECT_EQ(nullptr, CallFileOpen(path.c_str(), FILEMODE_WRITE, OPENSTREAMFLAGSF_SHARED));
  EXPECT_EQ(nullptr, CallFileOpen(path.c_str(), FILEMODE_READWRITE, OPENSTREAMFLAGSF_SHARED));
  lumtest::ResetAlerts();
  EXPECT_EQ(nullptr, CallFileOpen(path.c_str(), static_cast<FILEMODE>(0), OPENSTREAMFLAGSF_NONE));
  ASSERT_EQ(1, lumtest::AlertCount());
  EXPECT_EQ("source/lum_file", lumtest::Alerts()[0].file);
  EXPECT_EQ(10u, lumtest::ReadFileBytes(path).size());  // no refused open touched the file

  // Keep + shared: a writer that shares the file with readers and cuts nothing.
  FILE* reader = CallFileOpen(path.c_str(), FILEMODE_READ, OPENSTREAMFLAGSF_NONE);
  ASSERT_NE(nullptr, reader);
  FILE* writer =
      CallFileOpen(path.c_str(), FILEMODE_WRITE,
                   static_cast<OPENSTREAMFLAGSF>(OPENSTREAMFLAGSF_KEEP | OPENSTREAMFLAGSF_SHARED));
  ASSERT_NE(nullptr, writer);
  EXPECT_EQ(nullptr, CallFileOpen(path.c_str(), FILEMODE_WRITE, OPENSTREAMFLAGSF_NONE));
  std::fclose(writer);
  std::fclose(reader);
  EXPECT_EQ(10u, lumtest::ReadFileBytes(path).size());
}

TEST(ByteSwappers, MotorSwapsEachValueAndIntelLeavesThem) {
  unsigned char w[6] = {1, 2, 3, 4, 5, 6};
  wMotor(w, 3);
  EXPECT_EQ("02 01 04 03 06 05", lumtest::ToHex(w, 6));
  wIntel(w, 3);
  EXPECT_EQ("02 01 04 03 06 05", lumtest::ToHex(w, 6));
  unsigned char l[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  lMotor(l, 1);  // only the first value
  EXPECT_EQ("04 03 02 01 05 06 07 08", lumtest::ToHex(l, 8));
  lIntel(l, 2);
  EXPECT_EQ("04 03 02 01 05 06 07 08", lumtest::ToHex(l, 8));
  lMotor(l, 0);
  lMotor(nullptr, 4);
  EXPECT_EQ("04 03 02 01 05 06 07 08", lumtest::ToHex(l, 8));
}

// ---- allocation failures ----

TEST(BaseFile, FailedBufferAllocationFailsTheOpenAndCutsNothing) {
  std::string path = PatternFile("oom.bin", 100);
  Filename name(path.c_str());
  {
    BaseFile f;
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(f.Open(name, FILEOPEN_WRITE));
    EXPECT_EQ(FILEERROR_OUTOFMEMORY, f.GetError());
    EXPECT_FALSE(f.IsOpen());
  }
  EXPECT_EQ(100u, lumtest::ReadFileBytes(path).size());
  {
    BaseFile f;
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(f.Open(name, FILEOPEN_READ));
    EXPECT_EQ(FILEERROR_OUTOFMEMORY, f.GetError());
    EXPECT_FALSE(f.IsOpen());
  }
  // The lock went with the stream: the file can be written again.
  BaseFile f;
  EXPECT_TRUE(f.Open(name, FILEOPEN_WRITE));
}

namespace {

struct SweepCtx {
  std::string path;
};

// Writes, then reads back a file; every allocation may fail. The run is right when it either
// completes or stops at an open with FILEERROR_OUTOFMEMORY or FILEERROR_OPEN.
bool WriteThenRead(std::int64_t, void* ctx) {
  const std::string& path = static_cast<SweepCtx*>(ctx)->path;
  Filename name(path.c_str());
  if (name == Filename()) return true;  // the name itself could not be built
  BaseFile f;
  if (!f.Open(name, FILEOPEN_WRITE)) {
    return f.GetError() == FILEERROR_OUTOFMEMORY || f.GetError() == FILEERROR_OPEN;
  }
  Bytes data = Pattern(20000);
  if (!f.WriteBytes(data.data(), 100) || !f.WriteBytes(data.data() + 100, 19900)) return false;
  if (!f.Close()) return false;
  if (!f.Open(name, FILEOPEN_READ)) {
    return f.GetError() == FILEERROR_OUTOFMEMORY || f.GetError() == FILEERROR_OPEN;
  }
  Bytes back(20000);
  return f.ReadBytes(back.data(), 10) == 10 && f.ReadBytes(back.data() + 10, 19990) == 19990 &&
         back == data;
}

}  // namespace

TEST(BaseFile, EveryAllocationOfOpenWriteAndReadMayFail) {
  SweepCtx shortPath{lumtest::TempPath("sweep.bin")};
  EXPECT_GE(lumtest::SweepAllocationFailures("short path", WriteThenRead, &shortPath), 3);
  SweepCtx longPath{PathOfLength("sweeplong", 2500)};
  EXPECT_GE(lumtest::SweepAllocationFailures("long path", WriteThenRead, &longPath), 5);
}
