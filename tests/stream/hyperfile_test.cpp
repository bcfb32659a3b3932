// The scene-file stream: literal bytes of every writer, every reader on good and bad input,
// skipping, unknown chunks, progress hooks, hostile sizes and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes H(const std::string& hex) { return lumtest::FromHex(hex); }
std::string Hex(const Bytes& b) { return lumtest::ToHex(b); }

Bytes Write(const std::function<void(HyperFile&)>& body, bool float32 = false,
            BYTEORDER order = BYTEORDER_MOTOROLA) {
  lumtest::MemWriter w(float32, order);
  body(w.hf);
  EXPECT_EQ(FILEERROR_NONE, w.hf.GetError());
  return w.Finish();
}

String Str(const char* utf8) { return String(utf8, STRINGENCODING_UTF8); }
std::string Utf8(const String& s) {
  char buf[4096];
  s.GetCString(buf, sizeof buf, STRINGENCODING_UTF8);
  return buf;
}

const Matrix64 kMatrix(Vector64(1, 2, 3), Vector64(4, 5, 6), Vector64(7, 8, 9),
                       Vector64(10, 11, 12));

// ---- writers ----

struct WriterCase {
  const char* what;
  std::function<void(HyperFile&)> write;
  const char* hex64;  // with 64-bit floats
  const char* hex32;  // with the 32-bit float flag
};

const char* kMatrix64Hex =
    "19 3ff0000000000000 4000000000000000 4008000000000000 4010000000000000 4014000000000000"
    " 4018000000000000 401c000000000000 4020000000000000 4022000000000000 4024000000000000"
    " 4026000000000000 4028000000000000";
const char* kMatrix32Hex =
    "19 3f800000 40000000 40400000 40800000 40a00000 40c00000 40e00000 41000000 41100000"
    " 41200000 41300000 41400000";

std::vector<WriterCase> WriterCases() {
  const Int16 i16[3] = {1, 2, -3};
  const Vector64 vecs[2] = {Vector64(1, 2, 3), Vector64(4, 5, 6)};
  return {
      {"UChar", [](HyperFile& f) { f.WriteUChar(0xAB); }, "0c ab", "0c ab"},
      {"Int32", [](HyperFile& f) { f.WriteInt32(7); }, "0f 00000007", "0f 00000007"},
      {"Int32 negative", [](HyperFile& f) { f.WriteInt32(-2); }, "0f fffffffe", "0f fffffffe"},
      {"UInt32", [](HyperFile& f) { f.WriteUInt32(0x89ABCDEFu); }, "10 89abcdef", "10 89abcdef"},
      {"Int64", [](HyperFile& f) { f.WriteInt64(0x0102030405060708LL); }, "11 0102030405060708",
       "11 0102030405060708"},
      {"Float32", [](HyperFile& f) { f.WriteFloat32(1.0f); }, "1d 3f800000", "1d 3f800000"},
      {"Float", [](HyperFile& f) { f.WriteFloat(-1.0); }, "13 bff0000000000000", "13 bf800000"},
      {"Bool", [](HyperFile& f) { f.WriteBool(true), f.WriteBool(false); }, "15 01 15 00",
       "15 01 15 00"},
      {"Time", [](HyperFile& f) { f.WriteTime(BaseTime(2.0, 60.0)); },
       "16 3ff0000000000000 403e000000000000", "16 3f800000 41f00000"},
      {"Vector", [](HyperFile& f) { f.WriteVector(Vector64(1, 2, 3)); },
       "17 3ff0000000000000 4000000000000000 4008000000000000", "17 3f800000 40000000 40400000"},
      {"Vector32", [](HyperFile& f) { f.WriteVector32(Vector32(1, 2, 3)); },
       "1b 3f800000 40000000 40400000", "1b 3f800000 40000000 40400000"},
      {"Vector64", [](HyperFile& f) { f.WriteVector64(Vector64(1, 2, 3)); },
       "18 3ff0000000000000 4000000000000000 4008000000000000",
       "18 3ff0000000000000 4000000000000000 4008000000000000"},
      {"Matrix", [](HyperFile& f) { f.WriteMatrix(kMatrix); }, kMatrix64Hex, kMatrix32Hex},
      {"infinity and NaN as 0",
       [](HyperFile& f) {
         f.WriteFloat(std::numeric_limits<double>::infinity());
         f.WriteFloat32(std::nanf(""));
       },
       "13 0000000000000000 1d 00000000", "13 00000000 1d 00000000"},
      {"String", [](HyperFile& f) { f.WriteString(Str("Hi")); }, "82 00000004 0048 0069",
       "82 00000004 0048 0069"},
      {"empty String", [](HyperFile& f) { f.WriteString(String()); }, "82 00000000", "82 00000000"},
      {"String beyond ASCII", [](HyperFile& f) { f.WriteString(Str("\xC3\xA9\xE2\x82\xAC")); },
       "82 00000004 00e9 20ac", "82 00000004 00e9 20ac"},
      {"Filename normalised", [](HyperFile& f) { f.WriteFilename(Filename("dir/a.txt/")); },
       "83 00000012 0064 0069 0072 002f 0061 002e 0074 0078 0074",
       "83 00000012 0064 0069 0072 002f 0061 002e 0074 0078 0074"},
      {"Memory",
       [](HyperFile& f) {
         const UChar b[3] = {1, 2, 3};
         f.WriteMemory(b, 3);
         f.WriteMemory(nullptr, 0);
       },
       "80 00000003 010203 80 00000000", "80 00000003 010203 80 00000000"},
      {"Array Int16", [i16](HyperFile& f) { f.WriteArray(i16, HYPERFILEARRAY_INT16, 2, 3); },
       "8c 00000007 02 0001 0002 fffd", "8c 00000007 02 0001 0002 fffd"},
      {"Array empty", [](HyperFile& f) { f.WriteArray(nullptr, HYPERFILEARRAY_INT32, 4, 0); },
       "8c 00000001 03", "8c 00000001 03"},
      {"Array Float is stored as Float64 whatever the flag",
       [vecs](HyperFile& f) { f.WriteArray(&vecs[0].y, HYPERFILEARRAY_FLOAT, 24, 2); },
       "8c 00000011 06 4000000000000000 4014000000000000",
       "8c 00000011 06 4000000000000000 4014000000000000"},
      {"Array of every width",
       [](HyperFile& f) {
         const Char c[2] = {1, -1};
         const Int32 i[1] = {0x01020304};
         const Int64 l[1] = {-1};
         const Float32 s[2] = {0.5f, std::numeric_limits<float>::infinity()};
         f.WriteArray(c, HYPERFILEARRAY_CHAR, 1, 2);
         f.WriteArray(i, HYPERFILEARRAY_INT32, 4, 1);
         f.WriteArray(l, HYPERFILEARRAY_INT64, 8, 1);
         f.WriteArray(s, HYPERFILEARRAY_FLOAT32, 4, 2);
       },
       "8c 00000003 01 01ff 8c 00000005 03 01020304 8c 00000009 04 ffffffffffffffff"
       " 8c 00000009 05 3f000000 00000000",
       "8c 00000003 01 01ff 8c 00000005 03 01020304 8c 00000009 04 ffffffffffffffff"
       " 8c 00000009 05 3f000000 00000000"},
      {"Chunks",
       [](HyperFile& f) {
         f.WriteChunkStart(5000, 0);
         f.WriteChunkEnd();
       },
       "01 00001388 00000000 02", "01 00001388 00000000 02"},
      {"_HFWriteArray Vector64", [vecs](HyperFile& f) { _HFWriteArray(&f, vecs, 2); },
       "0f 00000002 8c 00000011 06 3ff0000000000000 4010000000000000"
       " 8c 00000011 06 4000000000000000 4014000000000000"
       " 8c 00000011 06 4008000000000000 4018000000000000",
       "0f 00000002 8c 00000011 06 3ff0000000000000 4010000000000000"
       " 8c 00000011 06 4000000000000000 4014000000000000"
       " 8c 00000011 06 4008000000000000 4018000000000000"},
      {"_HFWriteArray flat and empty",
       [i16, vecs](HyperFile& f) {
         const Float32 s[1] = {2.0f};
         const Int32 i[1] = {-1};
         _HFWriteArray(&f, i16, 3);
         _HFWriteArray(&f, s, 1);
         _HFWriteArray(&f, i, 1);
         _HFWriteArray(&f, static_cast<const Int32*>(nullptr), 5);
         _HFWriteArray(&f, vecs, 0);
       },
       "0f 00000003 8c 00000007 02 0001 0002 fffd 0f 00000001 8c 00000005 05 40000000"
       " 0f 00000001 8c 00000005 03 ffffffff 0f 00000000 0f 00000000",
       "0f 00000003 8c 00000007 02 0001 0002 fffd 0f 00000001 8c 00000005 05 40000000"
       " 0f 00000001 8c 00000005 03 ffffffff 0f 00000000 0f 00000000"},
      {"CDynArrayWriteHeader", [](HyperFile& f) { CDynArrayWriteHeader(&f, 3, 16); },
       "0f 00000003 0f 00000010", "0f 00000003 0f 00000010"},
  };
}

// ---- readers ----

using ReadFn = std::function<bool(HyperFile&)>;

// A reader of one value into a local.
template <typename T>
ReadFn Value(bool (HyperFile::*read)(T*)) {
  return [read](HyperFile& f) {
    T v;
    return (f.*read)(&v);
  };
}
// A reader that allocates its result, which is released again.
template <typename T>
ReadFn Block(bool (HyperFile::*read)(T**, Int32*)) {
  return [read](HyperFile& f) {
    T* b = nullptr;
    Int32 n;
    bool ok = (f.*read)(&b, &n);
    DeleteMem(b);
    return ok;
  };
}
template <typename T>
ReadFn Helper(bool (*read)(HyperFile*, T**, Int32*)) {
  return [read](HyperFile& f) {
    T* b = nullptr;
    Int32 n;
    bool ok = read(&f, &b, &n);
    DeleteMem(b);
    return ok;
  };
}
bool ReadAnyMemory(HyperFile& f) {
  void* b = nullptr;
  Int64 n;
  bool ok = f.ReadMemory(&b, &n);
  MemFree(b);
  return ok;
}

// Every reader, with the kind byte it expects.
struct ReaderCase {
  const char* what;
  UChar kind;
  ReadFn read;
};

std::vector<ReaderCase> ReaderCases() {
  return {
      {"ReadUChar", 0x0c, Value(&HyperFile::ReadUChar)},
      {"ReadInt32", 0x0f, Value(&HyperFile::ReadInt32)},
      {"ReadUInt32", 0x10, Value(&HyperFile::ReadUInt32)},
      {"ReadInt64", 0x11, Value(&HyperFile::ReadInt64)},
      {"ReadFloat32", 0x1d, Value(&HyperFile::ReadFloat32)},
      {"ReadFloat", 0x13, Value(&HyperFile::ReadFloat)},
      {"ReadFloat64", 0x14, Value(&HyperFile::ReadFloat64)},
      {"ReadBool", 0x15, Value(&HyperFile::ReadBool)},
      {"ReadTime", 0x16, Value(&HyperFile::ReadTime)},
      {"ReadVector", 0x17, Value(&HyperFile::ReadVector)},
      {"ReadVector32", 0x1b, Value(&HyperFile::ReadVector32)},
      {"ReadVector64", 0x18, Value(&HyperFile::ReadVector64)},
      {"ReadMatrix", 0x19, Value(&HyperFile::ReadMatrix)},
      {"ReadString", 0x82, Value(&HyperFile::ReadString)},
      {"ReadFilename", 0x83, Value(&HyperFile::ReadFilename)},
      {"ReadMemory", 0x80, ReadAnyMemory},
      {"ReadArray", 0x8c,
       [](HyperFile& f) {
         Int32 v[1];
         return f.ReadArray(v, HYPERFILEARRAY_INT32, 4, 1);
       }},
      {"ReadFloat32ArrayEx", 0x89, Block(&HyperFile::ReadFloat32ArrayEx)},
      {"ReadVectorArrayEx", 0x85, Block(&HyperFile::ReadVectorArrayEx)},
      {"ReadPolygonArrayEx", 0x86, Block(&HyperFile::ReadPolygonArrayEx)},
      {"ReadUInt16ArrayEx", 0x87, Block(&HyperFile::ReadUInt16ArrayEx)},
  };
}

}  // namespace

TEST(HyperFile, EveryWriterWritesItsLiteralBytesInBothFloatModes) {
  for (const WriterCase& c : WriterCases()) {
    EXPECT_EQ(lumtest::NormHex(c.hex64), Hex(Write(c.write, false))) << c.what;
    EXPECT_EQ(lumtest::NormHex(c.hex32), Hex(Write(c.write, true))) << c.what << " (32-bit floats)";
  }
}

TEST(HyperFile, IntelOrderSwapsNumbersButNotStringUnits) {
  const Int16 i16[2] = {1, 2};
  Bytes b = Write(
      [&](HyperFile& f) {
        f.WriteInt32(7);
        f.WriteString(Str("Hi"));
        f.WriteArray(i16, HYPERFILEARRAY_INT16, 2, 2);
        f.WriteChunkStart(1, 2);
      },
      false, BYTEORDER_INTEL);
  EXPECT_EQ(lumtest::NormHex(
                "0f 07000000 82 04000000 0048 0069 8c 05000000 02 0100 0200 01 01000000 02000000"),
            Hex(b));
}

TEST(HyperFile, EveryValueReadsBackInBothFloatModesAndOrders) {
  for (bool f32 : {false, true}) {
    for (BYTEORDER order : {BYTEORDER_MOTOROLA, BYTEORDER_INTEL}) {
      const UChar mem[4] = {9, 8, 7, 6};
      Bytes b = Write(
          [&](HyperFile& f) {
            f.WriteUChar(200);
            f.WriteInt32(-123456);
            f.WriteUInt32(0xFFFFFFF0u);
            f.WriteInt64(-5000000000LL);
            f.WriteFloat32(0.25f);
            f.WriteFloat(0.1);
            f.WriteBool(true);
            f.WriteTime(BaseTime(1.0, 30.0));
            f.WriteVector(Vector64(0.5, -1.5, 2.5));
            f.WriteVector32(Vector32(1.5f, 2.5f, 3.5f));
            f.WriteVector64(Vector64(0.1, 0.2, 0.3));
            f.WriteMatrix(kMatrix);
            f.WriteString(Str("caf\xC3\xA9"));
            f.WriteFilename(Filename("/tmp/x y"));
            f.WriteMemory(mem, 4);
          },
          f32, order);
      lumtest::MemReader r(b, HYPERFILE_CURRENT_VERSION, f32, order);
      HyperFile& f = r.hf;
      UChar uc;
      Int32 i;
      UInt32 u;
      Int64 l;
      Float32 s;
      Float d;
      bool bo = false;
      BaseTime t;
      Vector64 v, v64;
      Vector32 v32;
      Matrix64 m;
      String str;
      Filename fn;
      void* block = nullptr;
      Int64 size = 0;
      ASSERT_TRUE(f.ReadUChar(&uc) && f.ReadInt32(&i) && f.ReadUInt32(&u) && f.ReadInt64(&l) &&
                  f.ReadFloat32(&s) && f.ReadFloat(&d) && f.ReadBool(&bo) && f.ReadTime(&t) &&
                  f.ReadVector(&v) && f.ReadVector32(&v32) && f.ReadVector64(&v64) &&
                  f.ReadMatrix(&m) && f.ReadString(&str) && f.ReadFilename(&fn) &&
                  f.ReadMemory(&block, &size))
          << f32 << " " << order << " error " << f.GetError();
      EXPECT_EQ(200, uc);
      EXPECT_EQ(-123456, i);
      EXPECT_EQ(0xFFFFFFF0u, u);
      EXPECT_EQ(-5000000000LL, l);
      EXPECT_EQ(0.25f, s);
      EXPECT_EQ(f32 ? static_cast<double>(0.1f) : 0.1, d);
      EXPECT_TRUE(bo);
      EXPECT_EQ(1.0, t.GetNumerator());
      EXPECT_EQ(30.0, t.GetDenominator());
      EXPECT_EQ(Vector64(0.5, -1.5, 2.5), v);
      EXPECT_EQ(Vector32(1.5f, 2.5f, 3.5f), v32);
      EXPECT_EQ(Vector64(0.1, 0.2, 0.3), v64);
      EXPECT_EQ(kMatrix, m);
      EXPECT_EQ("caf\xC3\xA9", Utf8(str));
      EXPECT_EQ("/tmp/x y", Utf8(fn.GetString()));
      ASSERT_EQ(4, size);
      EXPECT_EQ(0, std::memcmp(block, mem, 4));
      MemFree(block);
      EXPECT_EQ(static_cast<Int64>(b.size()), f.GetPosition());
    }
  }
}

TEST(HyperFile, ReadTimeReducesTheStoredFraction) {
  lumtest::MemReader r("16 4000000000000000 404e000000000000");  // 2 / 60
  BaseTime t;
  ASSERT_TRUE(r.hf.ReadTime(&t));
  EXPECT_EQ(1.0, t.GetNumerator());
  EXPECT_EQ(30.0, t.GetDenominator());
}

TEST(HyperFile, ReadBoolTakesAnyNonZeroByteAsTrue) {
  lumtest::MemReader r("15 02 15 00");
  bool a = false, b = true;
  ASSERT_TRUE(r.hf.ReadBool(&a) && r.hf.ReadBool(&b));
  EXPECT_TRUE(a);
  EXPECT_FALSE(b);
}

TEST(HyperFile, StoredInfinityAndNaNReadAsZero) {
  lumtest::MemReader r("13 7ff0000000000000 1d 7fc00000 8c 00000009 05 7f800000 3f800000");
  Float d = 1;
  Float32 s = 1;
  Float64 a[2] = {5, 5};
  ASSERT_TRUE(r.hf.ReadFloat(&d) && r.hf.ReadFloat32(&s));
  ASSERT_TRUE(r.hf.ReadArray(a, HYPERFILEARRAY_FLOAT64, 8, 2));
  EXPECT_EQ(0.0, d);
  EXPECT_EQ(0.0f, s);
  EXPECT_EQ(0.0, a[0]);
  EXPECT_EQ(1.0, a[1]);
}

TEST(HyperFile, EveryReaderRejectsAnotherKindConsumingOnlyTheKindByte) {
  for (const ReaderCase& c : ReaderCases()) {
    lumtest::ResetAlerts();
    lumtest::MemReader r("0b 00 00 00 00 00 00 00 00");
    EXPECT_FALSE(c.read(r.hf)) << c.what;
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError()) << c.what;
    EXPECT_EQ(1, r.hf.GetPosition()) << c.what;
    EXPECT_EQ(0, r.hf.GetChunkDepth()) << c.what;
    EXPECT_GE(lumtest::AlertCount(), 1) << c.what;
    // Sticky: nothing further is read.
    Int32 v;
    EXPECT_FALSE(r.hf.ReadInt32(&v)) << c.what;
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError()) << c.what;
    EXPECT_EQ(1, r.hf.GetPosition()) << c.what;
  }
}

TEST(HyperFile, EveryReaderMeetingAChunkByteAdjustsTheDepth) {
  for (const ReaderCase& c : ReaderCases()) {
    lumtest::MemReader start("01 00000001 00000000");
    EXPECT_FALSE(c.read(start.hf)) << c.what;
    EXPECT_EQ(FILEERROR_WRONG_VALUE, start.hf.GetError()) << c.what;
    EXPECT_EQ(1, start.hf.GetChunkDepth()) << c.what;
    lumtest::MemReader end("02 00");
    EXPECT_FALSE(c.read(end.hf)) << c.what;
    EXPECT_EQ(-1, end.hf.GetChunkDepth()) << c.what;
  }
}

TEST(HyperFile, EveryReaderOnAShortFileFailsWithTheReadError) {
  for (const ReaderCase& c : ReaderCases()) {
    lumtest::MemReader r(Bytes{c.kind});
    EXPECT_FALSE(c.read(r.hf)) << c.what;
    EXPECT_EQ(FILEERROR_READ, r.hf.GetError()) << c.what;
    lumtest::MemReader empty(Bytes{});
    EXPECT_FALSE(c.read(empty.hf)) << c.what;
    EXPECT_EQ(FILEERROR_READ, empty.hf.GetError()) << c.what;
  }
  // A payload cut in the middle.
  lumtest::MemReader r("17 3ff0000000000000 4000");
  Vector64 v(7, 7, 7);
  EXPECT_FALSE(r.hf.ReadVector(&v));
  EXPECT_EQ(FILEERROR_READ, r.hf.GetError());
  EXPECT_EQ(Vector64(7, 7, 7), v);
}

TEST(HyperFile, ReadFloat32TakesTheOlderKindInOlderFiles) {
  Float32 s = 0;
  lumtest::MemReader old("13 3f800000", 11924);
  ASSERT_TRUE(old.hf.ReadFloat32(&s));
  EXPECT_EQ(1.0f, s);
  lumtest::MemReader oldRejects("1d 3f800000", 11924);
  EXPECT_FALSE(oldRejects.hf.ReadFloat32(&s));
  EXPECT_EQ(FILEERROR_WRONG_VALUE, oldRejects.hf.GetError());
  lumtest::MemReader current("13 3f800000", 11925);
  EXPECT_FALSE(current.hf.ReadFloat32(&s));
  EXPECT_EQ(FILEERROR_WRONG_VALUE, current.hf.GetError());
}

TEST(HyperFile, VersionPredicates) {
  HyperFile f;
  EXPECT_EQ(HYPERFILE_CURRENT_VERSION, f.GetFileVersion());
  EXPECT_FALSE(f.Before8());
  EXPECT_FALSE(f.Before12());
  f.SetFileVersion(7499);
  EXPECT_TRUE(f.Before8());
  f.SetFileVersion(7500);
  EXPECT_FALSE(f.Before8());
  EXPECT_TRUE(f.Before12());
  f.SetFileVersion(11600);
  EXPECT_FALSE(f.Before12());
}

// ---- strings and file names ----

TEST(HyperFile, StringsKeepEveryUnitAcrossTheLocalBufferAndBlockSizes) {
  for (Int32 units : {1, 511, 512, 513, 2047, 2048, 2049, 5000}) {
    std::vector<UInt16> text(units);
    for (Int32 i = 0; i < units; ++i) text[i] = static_cast<UInt16>(0x20 + (i * 7919) % 0xFFD0);
    String s;
    s.SetUcBlock(text.data(), units);
    Bytes b = Write([&](HyperFile& f) { f.WriteString(s); });
    ASSERT_EQ(5u + 2u * units, b.size());
    EXPECT_EQ(text[units - 1] >> 8, b[b.size() - 2]);
    lumtest::MemReader r(b);
    String back;
    ASSERT_TRUE(r.hf.ReadString(&back)) << units;
    ASSERT_EQ(units, back.GetLength());
    EXPECT_EQ(0, std::memcmp(back.GetUnits(), text.data(), 2 * units)) << units;
  }
}

TEST(HyperFile, StringWithAnOddByteCountDropsTheLastByte) {
  lumtest::MemReader r("82 00000003 0041 42 0f 00000001");
  String s;
  Int32 v;
  ASSERT_TRUE(r.hf.ReadString(&s));
  EXPECT_EQ("A", Utf8(s));
  ASSERT_TRUE(r.hf.ReadInt32(&v));
  EXPECT_EQ(1, v);
}

TEST(HyperFile, EmptyStringAndFilenameReadBackEmpty) {
  lumtest::MemReader r("82 00000000 83 00000000");
  String s = Str("old");
  Filename fn("old");
  ASSERT_TRUE(r.hf.ReadString(&s) && r.hf.ReadFilename(&fn));
  EXPECT_EQ(0, s.GetLength());
  EXPECT_EQ(0, fn.GetString().GetLength());
}

TEST(HyperFile, OldColonPathsAreConvertedOnlyInOldFiles) {
  // "Vol:dir:file"
  const char* colon = "83 00000018 0056 006f 006c 003a 0064 0069 0072 003a 0066 0069 006c 0065";
  Filename fn;
  lumtest::MemReader old(colon, 10001);
  ASSERT_TRUE(old.hf.ReadFilename(&fn));
  EXPECT_EQ("/Volumes/Vol/dir/file", Utf8(fn.GetString()));
  lumtest::MemReader current(colon, 10002);
  ASSERT_TRUE(current.hf.ReadFilename(&fn));
  EXPECT_EQ("Vol:dir:file", Utf8(fn.GetString()));
  // With a separator of today the text is a path already.
  lumtest::MemReader slash("83 00000008 0061 003a 002f 0062", 10001);
  ASSERT_TRUE(slash.hf.ReadFilename(&fn));
  EXPECT_EQ("a:/b", Utf8(fn.GetString()));
  lumtest::MemReader backslash("83 00000006 0061 003a 005c", 10001);
  ASSERT_TRUE(backslash.hf.ReadFilename(&fn));
  EXPECT_EQ("a:\\", Utf8(fn.GetString()));
}

TEST(HyperFile, ReadFilenameNormalisesThePath) {
  lumtest::MemReader r("83 0000000a 0064 0069 0072 002f 0020");  // "dir/ "
  Filename fn;
  ASSERT_TRUE(r.hf.ReadFilename(&fn));
  EXPECT_EQ("dir", Utf8(fn.GetString()));
}

// ---- memory ----

TEST(HyperFile, MemoryReadsBothCountForms) {
  lumtest::MemReader r("80 00000002 abcd 8b 0000000000000003 010203 80 00000000");
  void* b = nullptr;
  Int64 n = 0;
  ASSERT_TRUE(r.hf.ReadMemory(&b, &n));
  ASSERT_EQ(2, n);
  EXPECT_EQ(0xAB, static_cast<UChar*>(b)[0]);
  MemFree(b);
  ASSERT_TRUE(r.hf.ReadMemory(&b, &n));
  ASSERT_EQ(3, n);
  EXPECT_EQ(3, static_cast<UChar*>(b)[2]);
  MemFree(b);
  ASSERT_TRUE(r.hf.ReadMemory(&b, &n));
  EXPECT_EQ(nullptr, b);
  EXPECT_EQ(0, n);
}

TEST(HyperFile, LargeMemoryBlocksRoundTripThroughADiskFile) {
  std::vector<UChar> data(100000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<UChar>(i * 31);
  std::string path = lumtest::TempPath("memory.hf");
  {
    HyperFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));
    ASSERT_TRUE(f.WriteInt32(1) && f.WriteMemory(data.data(), 100000) && f.WriteInt32(2));
    ASSERT_TRUE(f.Close());
  }
  Bytes file = lumtest::ReadFileBytes(path);
  ASSERT_EQ(5u + 5u + 100000u + 5u, file.size());
  EXPECT_EQ(lumtest::NormHex("80 000186a0"), Hex(Bytes(file.begin() + 5, file.begin() + 10)));
  HyperFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_READ));
  EXPECT_EQ(static_cast<Int64>(file.size()), f.GetLength());
  Int32 a = 0, b = 0;
  void* block = nullptr;
  Int64 n = 0;
  ASSERT_TRUE(f.ReadInt32(&a) && f.ReadMemory(&block, &n) && f.ReadInt32(&b));
  EXPECT_EQ(1, a);
  EXPECT_EQ(2, b);
  ASSERT_EQ(100000, n);
  EXPECT_EQ(0, std::memcmp(block, data.data(), 100000));
  MemFree(block);
}

// ---- typed arrays ----

template <typename T>
void RoundTripArray(HYPERFILEARRAY type, Int32 count, BYTEORDER order) {
  std::vector<T> src(count);
  for (Int32 i = 0; i < count; ++i) src[i] = static_cast<T>((i * 2654435761u) % 100000) - T(500);
  Bytes b =
      Write([&](HyperFile& f) { f.WriteArray(src.data(), type, sizeof(T), count); }, false, order);
  const Int32 size = type == HYPERFILEARRAY_FLOAT ? 8 : static_cast<Int32>(sizeof(T));
  ASSERT_EQ(6u + static_cast<size_t>(size) * count, b.size());
  if constexpr (std::is_integral<T>::value) {  // every number's bytes in the file's order
    for (Int32 i = 0; i < count; ++i) {
      const UInt64 v =
          static_cast<UInt64>(static_cast<typename std::make_unsigned<T>::type>(src[i]));
      for (Int32 k = 0; k < size; ++k) {
        const Int32 shift = 8 * (order == BYTEORDER_MOTOROLA ? size - 1 - k : k);
        ASSERT_EQ(static_cast<UChar>(v >> shift), b[6 + static_cast<size_t>(size) * i + k])
            << type << " " << count << " " << order << " at " << i;
      }
    }
  }
  lumtest::MemReader r(b, HYPERFILE_CURRENT_VERSION, false, order);
  std::vector<T> back(count + 1, T(77));
  ASSERT_TRUE(r.hf.ReadArray(back.data(), type, sizeof(T), count)) << type << " " << count;
  EXPECT_EQ(T(77), back[count]);
  back.pop_back();
  EXPECT_TRUE(src == back) << type << " " << count << " " << order;
}

TEST(HyperFile, ArraysOfEveryTypeRoundTripAcrossBlockBoundaries) {
  for (BYTEORDER order : {BYTEORDER_MOTOROLA, BYTEORDER_INTEL}) {
    for (Int32 count : {1, 15, 17, 1535, 1536, 1537, 3072, 7000}) {
      RoundTripArray<Char>(HYPERFILEARRAY_CHAR, count, order);
      RoundTripArray<Int16>(HYPERFILEARRAY_INT16, count, order);
      RoundTripArray<Int32>(HYPERFILEARRAY_INT32, count, order);
      RoundTripArray<Int64>(HYPERFILEARRAY_INT64, count, order);
      RoundTripArray<Float32>(HYPERFILEARRAY_FLOAT32, count, order);
      RoundTripArray<Float64>(HYPERFILEARRAY_FLOAT64, count, order);
      RoundTripArray<Float64>(HYPERFILEARRAY_FLOAT, count, order);
    }
  }
}

TEST(HyperFile, StridedArraysWriteAndReadOneMember) {
  std::vector<Vector64> v(3000);
  for (size_t i = 0; i < v.size(); ++i) v[i] = Vector64(i, -double(i), i * 0.5);
  Bytes b = Write([&](HyperFile& f) {
    f.WriteArray(&v[0].y, HYPERFILEARRAY_FLOAT, 24, 3000);
    f.WriteArray(&v[0].z, HYPERFILEARRAY_FLOAT32, 24, 0);
  });
  lumtest::MemReader r(b);
  std::vector<Vector64> back(3000, Vector64(9, 9, 9));
  ASSERT_TRUE(r.hf.ReadArray(&back[0].y, HYPERFILEARRAY_FLOAT64, 24, 3000));
  ASSERT_TRUE(r.hf.ReadArray(nullptr, HYPERFILEARRAY_FLOAT32, 24, 0));
  for (size_t i = 0; i < v.size(); ++i) ASSERT_EQ(Vector64(9, -double(i), 9), back[i]) << i;
}

TEST(HyperFile, ArrayFloatWidthsConvertIntoEachOther) {
  lumtest::MemReader r(
      "8c 00000009 05 3f000000 c0000000 8c 00000011 06 3ff8000000000000 4004000000000000");
  Float64 wide[2];
  Float32 narrow[2];
  ASSERT_TRUE(r.hf.ReadArray(wide, HYPERFILEARRAY_FLOAT, 8, 2));
  ASSERT_TRUE(r.hf.ReadArray(narrow, HYPERFILEARRAY_FLOAT32, 4, 2));
  EXPECT_EQ(0.5, wide[0]);
  EXPECT_EQ(-2.0, wide[1]);
  EXPECT_EQ(1.5f, narrow[0]);
  EXPECT_EQ(2.5f, narrow[1]);
}

TEST(HyperFile, ArrayMismatchesFailWithWrongValue) {
  struct Case {
    const char* hex;
    HYPERFILEARRAY type;
    Int32 count;
    Int64 position;  // where the failure leaves the stream
  } cases[] = {
      {"8c 00000007 02 0001 0002 0003", HYPERFILEARRAY_INT16, 2, 6},     // count
      {"8c 00000007 02 0001 0002 0003", HYPERFILEARRAY_INT16, 4, 6},     // count
      {"8c 00000009 03 00000001 00000002", HYPERFILEARRAY_INT16, 4, 6},  // integer widths
      {"8c 00000009 03 00000001 00000002", HYPERFILEARRAY_FLOAT32, 2, 6},
      {"8c 00000009 05 00000001 00000002", HYPERFILEARRAY_INT32, 2, 6},
      {"8c 00000009 09 00000001 00000002", HYPERFILEARRAY_INT32, 2, 6},  // unknown stored type
      {"8c 00000009 03 00000001 00000002", static_cast<HYPERFILEARRAY>(8), 2, 0},
      {"8c 00000009 03 00000001 00000002", static_cast<HYPERFILEARRAY>(0), 2, 0},
      {"0f 00000009", HYPERFILEARRAY_INT32, 2, 1},
  };
  for (const Case& c : cases) {
    lumtest::MemReader r(c.hex);
    Int64 buf[8] = {};
    EXPECT_FALSE(r.hf.ReadArray(buf, c.type, 4, c.count)) << c.hex;
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError()) << c.hex;
    EXPECT_EQ(c.position, r.hf.GetPosition()) << c.hex;
  }
  // An empty array satisfies a request for none, without a destination.
  lumtest::MemReader none("8c 00000001 03");
  EXPECT_TRUE(none.hf.ReadArray(nullptr, HYPERFILEARRAY_INT32, 4, 0));
}

TEST(HyperFile, ArraysOfOldFilesUseTheOlderHeader) {
  const char* oldLayout = "8c 02 00000006 0001 0002 0003 0f 00000005";
  Int16 v[3];
  Int32 after = 0;
  lumtest::MemReader old(oldLayout, 11903);
  ASSERT_TRUE(old.hf.ReadArray(v, HYPERFILEARRAY_INT16, 2, 3));
  ASSERT_TRUE(old.hf.ReadInt32(&after));
  EXPECT_EQ(3, v[2]);
  EXPECT_EQ(5, after);
  lumtest::MemReader current(oldLayout, 11904);
  EXPECT_FALSE(current.hf.ReadArray(v, HYPERFILEARRAY_INT16, 2, 3));
  EXPECT_EQ(FILEERROR_WRONG_VALUE, current.hf.GetError());
}

TEST(HyperFile, ArraysReadTheLongHeader) {
  lumtest::MemReader r("8c 00000000 02 0000000000000006 0001 0002 0003 02");
  Int16 v[3];
  ASSERT_TRUE(r.hf.ReadArray(v, HYPERFILEARRAY_INT16, 2, 3));
  EXPECT_EQ(2, v[1]);
  HYPERFILEVALUE k;
  ASSERT_TRUE(r.hf.ReadValueHeader(&k));
  EXPECT_EQ(HYPERFILEVALUE_CHUNKEND, k);
}

// 2 GiB of one repeated byte into /dev/null: the header form shows in the final position.
TEST(HyperFile, ArrayHeaderTakesTheLongFormFromTwoGigabytesLessOne) {
  const Char byte = 5;
  for (Int32 count : {2147483646, 2147483647}) {
    HyperFile f;
    ASSERT_TRUE(f.Open(Filename("/dev/null"), FILEOPEN_WRITE));
    ASSERT_TRUE(f.WriteArray(&byte, HYPERFILEARRAY_CHAR, 0, count));
    EXPECT_EQ(static_cast<Int64>(count) + (count == 2147483647 ? 14 : 6), f.GetPosition());
    EXPECT_TRUE(f.Close());
  }
}

TEST(HyperFile, ShortArrayPayloadKeepsTheWholeElementsAndFails) {
  lumtest::MemReader r("8c 0000000d 03 00000001 00000002 0000");
  Int32 v[3] = {9, 9, 9};
  EXPECT_FALSE(r.hf.ReadArray(v, HYPERFILEARRAY_INT32, 4, 3));
  EXPECT_EQ(FILEERROR_READ, r.hf.GetError());
  EXPECT_EQ(1, v[0]);
  EXPECT_EQ(2, v[1]);
  EXPECT_EQ(9, v[2]);
}

TEST(HyperFile, WriteArrayRejectsBadArguments) {
  const Int32 v[1] = {1};
  struct Case {
    const void* data;
    Int32 type;
    Int32 count;
  } cases[] = {{v, 0, 1},
               {v, 8, 1},
               {v, -1, 1},
               {v, HYPERFILEARRAY_INT32, -1},
               {nullptr, HYPERFILEARRAY_INT32, 1}};
  for (const Case& c : cases) {
    lumtest::MemWriter w;
    EXPECT_FALSE(w.hf.WriteArray(c.data, static_cast<HYPERFILEARRAY>(c.type), 4, c.count));
    EXPECT_EQ(FILEERROR_WRONG_VALUE, w.hf.GetError());
    EXPECT_EQ(0, w.hf.GetPosition());
  }
  lumtest::MemWriter w;
  EXPECT_FALSE(w.hf.WriteMemory(nullptr, 4));
  EXPECT_EQ(FILEERROR_WRONG_VALUE, w.hf.GetError());
  lumtest::MemWriter neg;
  EXPECT_FALSE(neg.hf.WriteMemory(v, -1));
  EXPECT_EQ(FILEERROR_WRONG_VALUE, neg.hf.GetError());
}

// ---- the older array kinds ----

TEST(HyperFile, OlderArrayKindsRead) {
  lumtest::MemReader r(
      "89 00000009 3f800000 c0000000 ff"  // two floats (n / 4) and a stray byte
      " 87 00000004 0001 ffff"            // two UInt16
      " 86 00000010 00000001 0001 0002 0003 0003 fffe 0000 0001 0002"  // small polygons
      " 86 00000010 00000000 00000001 00000002 00000003 ffffffff");    // one Int32 polygon
  Float32* f = nullptr;
  UInt16* u = nullptr;
  CPolygon* p = nullptr;
  Int32 n = 0;
  ASSERT_TRUE(r.hf.ReadFloat32ArrayEx(&f, &n));
  ASSERT_EQ(2, n);
  EXPECT_EQ(-2.0f, f[1]);
  DeleteMem(f);
  HYPERFILEVALUE stray;
  ASSERT_TRUE(r.hf.ReadValueHeader(&stray));
  EXPECT_EQ(0xFF, stray);
  ASSERT_TRUE(r.hf.ReadUInt16ArrayEx(&u, &n));
  ASSERT_EQ(2, n);
  EXPECT_EQ(0xFFFF, u[1]);
  DeleteMem(u);
  ASSERT_TRUE(r.hf.ReadPolygonArrayEx(&p, &n));
  ASSERT_EQ(2, n);
  EXPECT_EQ(CPolygon(1, 2, 3, 3), p[0]);
  EXPECT_EQ(CPolygon(0xFFFE, 0, 1, 2), p[1]);
  DeleteMem(p);
  ASSERT_TRUE(r.hf.ReadPolygonArrayEx(&p, &n));
  ASSERT_EQ(1, n);
  EXPECT_EQ(CPolygon(1, 2, 3, -1), p[0]);
  DeleteMem(p);
}

TEST(HyperFile, VectorArrayCountsTwelveBytesButHoldsFloats) {
  // n = 24: two vectors, each three 64-bit floats.
  lumtest::MemReader wide(
      "85 00000018 3ff0000000000000 4000000000000000 4008000000000000"
      " 4010000000000000 4014000000000000 4018000000000000");
  Vector64* v = nullptr;
  Int32 n = 0;
  ASSERT_TRUE(wide.hf.ReadVectorArrayEx(&v, &n));
  ASSERT_EQ(2, n);
  EXPECT_EQ(Vector64(4, 5, 6), v[1]);
  DeleteMem(v);
  lumtest::MemReader narrow("85 0000000c 3f800000 40000000 40400000", HYPERFILE_CURRENT_VERSION,
                            true);
  ASSERT_TRUE(narrow.hf.ReadVectorArrayEx(&v, &n));
  ASSERT_EQ(1, n);
  EXPECT_EQ(Vector64(1, 2, 3), v[0]);
  DeleteMem(v);
}

TEST(HyperFile, OlderArrayKindsWithNothingGiveNoBlock) {
  lumtest::MemReader r("89 00000003 87 00000001 85 0000000b 86 0000000f 00000000");
  Float32* f = reinterpret_cast<Float32*>(1);
  UInt16* u = nullptr;
  Vector64* v = nullptr;
  CPolygon* p = nullptr;
  Int32 n = 5;
  ASSERT_TRUE(r.hf.ReadFloat32ArrayEx(&f, &n));
  EXPECT_EQ(nullptr, f);
  EXPECT_EQ(0, n);
  // The 3 bytes counted are not consumed by the reader (it reads n / 4 floats).
  HYPERFILEVALUE k;
  ASSERT_TRUE(r.hf.ReadValueHeader(&k));
  EXPECT_EQ(HYPERFILEVALUE_UINT16ARRAY, k);
  lumtest::MemReader r2("87 00000001 85 0000000b 86 0000000f 00000000");
  ASSERT_TRUE(r2.hf.ReadUInt16ArrayEx(&u, &n) && r2.hf.ReadVectorArrayEx(&v, &n) &&
              r2.hf.ReadPolygonArrayEx(&p, &n));
  EXPECT_EQ(nullptr, u);
  EXPECT_EQ(nullptr, v);
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(0, n);
}

// ---- hostile sizes ----

TEST(HyperFile, SizesBeyondTheFileFailBeforeAnythingIsAllocated) {
  const ReadFn string = Value(&HyperFile::ReadString);
  struct Case {
    const char* what;
    const char* hex;
    ReadFn read;
  } cases[] = {
      {"string", "82 7fffffff 0041", string},
      {"string negative", "82 fffffffe", string},
      {"string one byte over", "82 00000004 0041 00", string},
      {"file name", "83 40000000", Value(&HyperFile::ReadFilename)},
      {"memory", "80 7fffffff 00", ReadAnyMemory},
      {"memory negative", "80 80000000", ReadAnyMemory},
      {"memory64", "8b 7fffffffffffffff", ReadAnyMemory},
      {"float32 array", "89 7ffffffc", Block(&HyperFile::ReadFloat32ArrayEx)},
      {"float32 array negative", "89 fffffff0", Block(&HyperFile::ReadFloat32ArrayEx)},
      // 64-bit floats wanted, 32-bit ones there
      {"vector array", "85 0000000c 3f800000 40000000 40400000",
       Block(&HyperFile::ReadVectorArrayEx)},
      {"polygon array", "86 7ffffff0 00000000", Block(&HyperFile::ReadPolygonArrayEx)},
      {"uint16 array", "87 7ffffffe", Block(&HyperFile::ReadUInt16ArrayEx)},
      {"_HFReadArray vectors", "0f 10000000", Helper<Vector64>(_HFReadArray)},
      {"_HFReadArray negative", "0f ffffffff", Helper<Int32>(_HFReadArray)},
      {"_HFReadArray int16", "0f 00000005 8c 0000000b 02 0001", Helper<Int16>(_HFReadArray)},
  };
  for (const Case& c : cases) {
    lumtest::MemReader r(c.hex);
    const std::int64_t before = lumtest::AllocationCalls();
    EXPECT_FALSE(c.read(r.hf)) << c.what;
    EXPECT_EQ(FILEERROR_READ, r.hf.GetError()) << c.what;
    EXPECT_EQ(before, lumtest::AllocationCalls()) << c.what;
  }
}

TEST(HyperFile, CheckRemainingMeasuresTheRestOfTheFile) {
  lumtest::MemReader r("0f 00000001 00 00");
  ASSERT_TRUE(r.hf.ReadInt32(nullptr));
  EXPECT_TRUE(r.hf.CheckRemaining(0));
  EXPECT_TRUE(r.hf.CheckRemaining(2));
  EXPECT_EQ(FILEERROR_NONE, r.hf.GetError());
  EXPECT_FALSE(r.hf.CheckRemaining(3));
  EXPECT_EQ(FILEERROR_READ, r.hf.GetError());
  lumtest::MemWriter w;
  EXPECT_FALSE(w.hf.CheckRemaining(0));
}

// ---- skipping ----

TEST(HyperFile, SkipValueSkipsEveryKindByItsPayload) {
  auto Z = [](int bytes) { return std::string(2 * bytes, '0'); };
  const Int32 now = HYPERFILE_CURRENT_VERSION;
  struct Case {
    std::string hex;  // kind byte and payload; the marker 0c 5a follows
    bool float32;
    Int32 version;
  } cases[] = {
      {"0b 01", false, now},
      {"0c 01", false, now},
      {"15 01", false, now},
      {"0d 0102", false, now},
      {"0e 0102", false, now},
      {"0f 01020304", false, now},
      {"10 01020304", false, now},
      {"1d 01020304", false, now},
      {"11" + Z(8), false, now},
      {"12" + Z(8), false, now},
      {"14" + Z(8), false, now},
      {"01" + Z(8), false, now},
      {"02", false, now},
      {"13" + Z(8), false, now},
      {"13" + Z(4), true, now},
      {"16" + Z(16), false, now},
      {"16" + Z(8), true, now},
      {"17" + Z(24), false, now},
      {"17" + Z(12), true, now},
      {"18" + Z(24), true, now},
      {"1b" + Z(12), false, now},
      {"19" + Z(96), false, now},
      {"19" + Z(48), true, now},
      {"1a" + Z(96), true, now},
      {"1c" + Z(48), false, now},
      {"80 00000003 010203", false, now},
      {"81 00000002 0102", false, now},
      {"82 00000004 00410042", false, now},
      {"84 fffffff0", false, now},  // a negative count skips nothing
      {"8a 00000001 01", false, now},
      {"8b 0000000000000002 0102", false, now},
      {"8c 00000003 01 0102", false, now},
      {"8c 00000000 01 0000000000000002 0102", false, now},
      {"85 00000002 0102", false, now},
      {"85 00000002 01020304", false, 11924},  // twice the count in older files
      {"85 00000002 0102", true, 11924},       // unless floats are 32-bit
      {"87 00000002 0102", false, 11924},      // other counted kinds as they say
      {"88 0000002b", false, 11924},           // 43 / 44 records: nothing
      {"88 00000058" + Z(168), false, 11924},  // 88 / 44 records of 84 bytes
      {"88 00000058" + Z(88), true, 11924},
      {"88 00000002 0102", false, 11925},
      {"8c 01 00000002 0102", false, 11903},  // the older array header
      {"8c 00000003 01 0102", false, 11904},
  };
  for (const Case& c : cases) {
    lumtest::MemReader r(c.hex + " 0c 5a", c.version, c.float32);
    HYPERFILEVALUE k;
    ASSERT_TRUE(r.hf.ReadValueHeader(&k)) << c.hex;
    ASSERT_TRUE(r.hf.SkipValue(k)) << c.hex << " error " << r.hf.GetError();
    UChar marker = 0;
    EXPECT_TRUE(r.hf.ReadUChar(&marker)) << c.hex;
    EXPECT_EQ(0x5A, marker) << c.hex;
  }
}

TEST(HyperFile, ChunksHoldingOlderArraysAreSkippedWhole) {
  // An unknown chunk holding a typed array of a version-11903 file; the rest stays readable, in
  // the buffer and value by value alike.
  const std::string chunk = "01 00000005 00000000 8c 03 00000008 0000000100000002 02";
  for (bool hook : {false, true}) {
    lumtest::MemReader r(chunk + " 0f 0000002a", 11903);
    if (hook) r.hf.SetReadingHook([](Int32, void*) {}, nullptr);
    ASSERT_TRUE(r.hf.CheckIt(HYPERFILEVALUE_CHUNKSTART));
    ASSERT_TRUE(r.hf.ReadChunkStart(nullptr, nullptr));
    ASSERT_TRUE(r.hf.SkipToEndChunk()) << hook;
    Int32 v = 0;
    EXPECT_TRUE(r.hf.ReadInt32(&v));
    EXPECT_EQ(42, v);
  }
}

TEST(HyperFile, SkipValueRejectsKindsNoValueHas) {
  for (Int32 kind : {0, 3, 10, 30, 127}) {
    lumtest::MemReader r("00 00 00 00 00 00 00 00");
    EXPECT_FALSE(r.hf.SkipValue(static_cast<HYPERFILEVALUE>(kind))) << kind;
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError()) << kind;
    EXPECT_EQ(0, r.hf.GetPosition()) << kind;
  }
  // Counted kinds above 140 lose their count too.
  for (Int32 kind : {141, 255}) {
    lumtest::MemReader r("00000001 00 00");
    EXPECT_FALSE(r.hf.SkipValue(static_cast<HYPERFILEVALUE>(kind))) << kind;
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError()) << kind;
    EXPECT_EQ(4, r.hf.GetPosition()) << kind;
  }
}

TEST(HyperFile, SkipValuePastTheEndFailsWithTheReadError) {
  lumtest::MemReader r("80 00000010 0102");
  HYPERFILEVALUE k;
  ASSERT_TRUE(r.hf.ReadValueHeader(&k));
  EXPECT_FALSE(r.hf.SkipValue(k));
  EXPECT_EQ(FILEERROR_READ, r.hf.GetError());
  lumtest::MemReader count("80 0000");
  ASSERT_TRUE(count.hf.ReadValueHeader(&k));
  EXPECT_FALSE(count.hf.SkipValue(k));
  EXPECT_EQ(FILEERROR_READ, count.hf.GetError());
}

TEST(HyperFile, VectorWithThirtyTwoBitFloatsIsThirteenBytesAndSkipsTwelve) {
  Bytes b = Write([](HyperFile& f) { f.WriteVector(Vector64(1, 2, 3)); }, true);
  ASSERT_EQ(13u, b.size());
  lumtest::MemReader r(b, HYPERFILE_CURRENT_VERSION, true);
  HYPERFILEVALUE k;
  ASSERT_TRUE(r.hf.ReadValueHeader(&k));
  EXPECT_EQ(HYPERFILEVALUE_VECTOR, k);
  ASSERT_TRUE(r.hf.SkipValue(k));
  EXPECT_EQ(13, r.hf.GetPosition());
}

// A chunk holding every kind the library writes and a nested chunk, then a marker value.
Bytes NestedChunks() {
  const Int32 ints[3] = {1, 2, 3};
  return Write([&](HyperFile& f) {
    f.WriteChunkStart(100, 1);
    f.WriteInt32(1);
    f.WriteString(Str("inner"));
    f.WriteChunkStart(200, 2);
    f.WriteVector(Vector64(1, 2, 3));
    f.WriteChunkStart(300, 3);
    f.WriteChunkEnd();
    f.WriteArray(ints, HYPERFILEARRAY_INT32, 4, 3);
    f.WriteChunkEnd();
    f.WriteMatrix(kMatrix);
    f.WriteMemory(ints, 12);
    f.WriteFilename(Filename("a/b"));
    f.WriteTime(BaseTime(1, 2));
    f.WriteBool(false);
    f.WriteInt64(5);
    f.WriteFloat32(1);
    f.WriteFloat(2);
    f.WriteUChar(3);
    f.WriteUInt32(4);
    f.WriteVector32(Vector32());
    f.WriteVector64(Vector64());
    f.WriteChunkEnd();
    f.WriteInt32(77);
  });
}

TEST(HyperFile, SkipToEndChunkSkipsNestedChunksWhole) {
  Bytes b = NestedChunks();
  lumtest::MemReader r(b);
  ASSERT_TRUE(r.hf.CheckIt(HYPERFILEVALUE_CHUNKSTART));
  Int32 id = 0, level = 0;
  ASSERT_TRUE(r.hf.ReadChunkStart(&id, &level));
  EXPECT_EQ(100, id);
  EXPECT_EQ(1, level);
  EXPECT_EQ(1, r.hf.GetChunkDepth());
  ASSERT_TRUE(r.hf.SkipToEndChunk());
  EXPECT_EQ(0, r.hf.GetChunkDepth());
  EXPECT_EQ(static_cast<Int64>(b.size()) - 5, r.hf.GetPosition());
  Int32 marker = 0;
  ASSERT_TRUE(r.hf.ReadInt32(&marker));
  EXPECT_EQ(77, marker);
}

TEST(HyperFile, SkipToEndChunkAfterPartOfTheChunkWasRead) {
  Bytes b = NestedChunks();
  lumtest::MemReader r(b);
  Int32 v = 0;
  String s;
  ASSERT_TRUE(r.hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) && r.hf.ReadChunkStart(nullptr, nullptr));
  ASSERT_TRUE(r.hf.ReadInt32(&v) && r.hf.ReadString(&s));
  ASSERT_TRUE(r.hf.SkipToEndChunk());
  ASSERT_TRUE(r.hf.ReadInt32(&v));
  EXPECT_EQ(77, v);
  EXPECT_EQ(0, r.hf.GetChunkDepth());
}

TEST(HyperFile, SkipToEndChunkAtTheEndOfTheFile) {
  // The file ends inside the chunk: false, and no error.
  lumtest::MemReader cut("01 00000001 00000000 0f 00000001");
  ASSERT_TRUE(cut.hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) && cut.hf.ReadChunkStart(nullptr, nullptr));
  EXPECT_FALSE(cut.hf.SkipToEndChunk());
  EXPECT_EQ(FILEERROR_NONE, cut.hf.GetError());
  // Nothing left to read at all: the chunk's end is missing.
  lumtest::MemReader none("01 00000001 00000000");
  ASSERT_TRUE(none.hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) &&
              none.hf.ReadChunkStart(nullptr, nullptr));
  EXPECT_FALSE(none.hf.SkipToEndChunk());
  EXPECT_EQ(FILEERROR_CHUNKEND_MISSING, none.hf.GetError());
  // The end byte is the file's last byte.
  lumtest::MemReader last("01 00000001 00000000 0f 00000001 02");
  ASSERT_TRUE(last.hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) &&
              last.hf.ReadChunkStart(nullptr, nullptr));
  EXPECT_TRUE(last.hf.SkipToEndChunk());
  EXPECT_EQ(0, last.hf.GetChunkDepth());
}

TEST(HyperFile, SkipToEndChunkOverBadValuesReportsTheMissingEnd) {
  for (const char* hex : {"0f 00000001 07 02 02", "80 00000100 0102 02", "0f 0000"}) {
    lumtest::MemReader r(hex);
    EXPECT_FALSE(r.hf.SkipToEndChunk()) << hex;
    EXPECT_EQ(FILEERROR_CHUNKEND_MISSING, r.hf.GetError()) << hex;
  }
}

TEST(HyperFile, ChunkReadingLoopHandsEveryChunkOver) {
  Bytes b = NestedChunks();
  lumtest::MemReader r(b);
  HYPERFILEVALUE k;
  Int32 id, level, chunks = 0, values = 0;
  // A reader that knows no chunk: skips everything inside the outer one value by value.
  ASSERT_TRUE(r.hf.ReadValueHeader(&k) && k == HYPERFILEVALUE_CHUNKSTART);
  ASSERT_TRUE(r.hf.ReadChunkStart(&id, &level));
  for (;;) {
    ASSERT_TRUE(r.hf.ReadValueHeader(&k));
    if (k == HYPERFILEVALUE_CHUNKEND) {
      ASSERT_TRUE(r.hf.ReadChunkEnd());
      break;
    }
    if (k == HYPERFILEVALUE_CHUNKSTART) {
      ASSERT_TRUE(r.hf.ReadChunkStart(&id, &level));
      ++chunks;
      ASSERT_TRUE(r.hf.SkipToEndChunk());
    } else {
      ASSERT_TRUE(r.hf.SkipValue(k));
      ++values;
    }
  }
  EXPECT_EQ(1, chunks);
  EXPECT_EQ(14, values);
  EXPECT_EQ(0, r.hf.GetChunkDepth());
}

TEST(HyperFile, ReadChunkEndFailsOnAWritingStream) {
  lumtest::MemWriter w;
  EXPECT_FALSE(w.hf.ReadChunkEnd());
  EXPECT_EQ(FILEERROR_WRITE, w.hf.GetError());
}

// ---- unknown chunks ----

TEST(HyperFile, UnknownChunksAreWrittenBackByteForByte) {
  Bytes b = NestedChunks();
  for (bool withoutEnd : {false, true}) {
    lumtest::MemReader r(b);
    Int32 id, level;
    ASSERT_TRUE(r.hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) && r.hf.ReadChunkStart(&id, &level));
    void* kept = nullptr;
    Int64 size = 0;
    ASSERT_TRUE(r.hf.ReadUnknownChunk(&kept, &size, withoutEnd));
    EXPECT_EQ(static_cast<Int64>(b.size()) - 9 - 5 - (withoutEnd ? 1 : 0), size);
    EXPECT_EQ(0, r.hf.GetChunkDepth());
    Int32 marker = 0;
    ASSERT_TRUE(r.hf.ReadInt32(&marker));  // the end byte is consumed either way
    EXPECT_EQ(77, marker);
    Bytes again = Write([&](HyperFile& f) {
      f.WriteChunkStart(id, level);
      f.WriteUnknownChunk(kept, size, withoutEnd);
      if (withoutEnd) f.WriteChunkEnd();
      f.WriteInt32(77);
    });
    EXPECT_EQ(Hex(b), Hex(again)) << withoutEnd;
    MemFree(kept);
  }
}

TEST(HyperFile, EmptyUnknownChunks) {
  lumtest::MemReader r("01 00000007 00000001 02 01 00000007 00000001 02");
  void* kept = reinterpret_cast<void*>(1);
  Int64 size = 5;
  ASSERT_TRUE(r.hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) && r.hf.ReadChunkStart(nullptr, nullptr));
  ASSERT_TRUE(r.hf.ReadUnknownChunk(&kept, &size, true));
  EXPECT_EQ(nullptr, kept);
  EXPECT_EQ(0, size);
  EXPECT_EQ(10, r.hf.GetPosition());
  ASSERT_TRUE(r.hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) && r.hf.ReadChunkStart(nullptr, nullptr));
  ASSERT_TRUE(r.hf.ReadUnknownChunk(&kept, &size, false));
  ASSERT_EQ(1, size);
  EXPECT_EQ(2, *static_cast<UChar*>(kept));
  MemFree(kept);
  // Nothing kept and no end withheld: the chunk is closed for the caller.
  EXPECT_EQ("02", Hex(Write([](HyperFile& f) { f.WriteUnknownChunk(nullptr, 0, false); })));
  EXPECT_EQ("", Hex(Write([](HyperFile& f) { f.WriteUnknownChunk(nullptr, 0, true); })));
}

TEST(HyperFile, TruncatedUnknownChunkIsNotKept) {
  for (bool withoutEnd : {false, true}) {
    lumtest::MemReader r("01 00000007 00000001 0f 00000001");
    void* kept = nullptr;
    Int64 size = 0;
    ASSERT_TRUE(r.hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) && r.hf.ReadChunkStart(nullptr, nullptr));
    EXPECT_FALSE(r.hf.ReadUnknownChunk(&kept, &size, withoutEnd));
    EXPECT_EQ(FILEERROR_NONE, r.hf.GetError());
    EXPECT_EQ(nullptr, kept);
    EXPECT_EQ(0, size);
  }
}

// ---- progress ----

struct Progress {
  std::vector<Int64> values;
  static void OnRead(Int32 percent, void* data) {
    static_cast<Progress*>(data)->values.push_back(percent);
  }
  static void OnWrite(Int64 position, void* data) {
    static_cast<Progress*>(data)->values.push_back(position);
  }
};

TEST(HyperFile, ReadingHookReportsEveryOperationOfASmallFile) {
  Bytes b = Write([](HyperFile& f) {
    f.WriteChunkStart(1, 0);
    for (int i = 0; i < 10; ++i) f.WriteInt32(i);
    f.WriteChunkEnd();
  });
  lumtest::MemReader r(b);
  Progress p;
  r.hf.SetReadingHook(Progress::OnRead, &p);
  HYPERFILEVALUE k;
  ASSERT_TRUE(r.hf.ReadValueHeader(&k) && r.hf.ReadChunkStart(nullptr, nullptr));
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(r.hf.ReadInt32(nullptr));
  ASSERT_TRUE(r.hf.ReadValueHeader(&k) && r.hf.SkipValue(k));
  ASSERT_TRUE(r.hf.SkipToEndChunk());  // four values skipped
  ASSERT_TRUE(r.hf.ReadChunkEnd());
  // Chunk start, 5 reads, 1 skip, 4 skips, chunk end.
  ASSERT_EQ(12u, p.values.size());
  EXPECT_EQ(9 * 100 / 60, p.values[0]);
  EXPECT_EQ(100, p.values.back());
}

TEST(HyperFile, ReadingHookReportsEveryFiveHundredthOfALargeFile) {
  Bytes b = Write([](HyperFile& f) {
    for (int i = 0; i < 100000; ++i) f.WriteInt32(i);
  });
  ASSERT_EQ(500000u, b.size());
  lumtest::MemReader r(b);
  Progress p;
  r.hf.SetReadingHook(Progress::OnRead, &p);
  for (int i = 0; i < 100000; ++i) ASSERT_TRUE(r.hf.ReadInt32(nullptr));
  // length / 500 = 1000 operations between reports, from the 1001st on.
  ASSERT_EQ(99u, p.values.size());
  EXPECT_EQ(1, p.values[0]);    // 5005 of 500000 bytes
  EXPECT_EQ(99, p.values[98]);  // 495005
}

TEST(HyperFile, WritingHookReportsEveryFiftyThousandSteps) {
  lumtest::MemWriter w;
  Progress p;
  w.hf.SetWritingHook(Progress::OnWrite, &p);
  for (int i = 0; i < 120000; ++i) ASSERT_TRUE(w.hf.WriteInt32(i));
  // The 50001st step reports, then every 50000th.
  EXPECT_EQ((std::vector<Int64>{50001 * 5, 100001 * 5}), p.values);
  w.Finish();
}

TEST(HyperFile, WritingHookCountsArrayElementsAndSeesTheirPosition) {
  std::vector<Int32> big(120000, 1);
  {
    lumtest::MemWriter w;
    Progress p;
    w.hf.SetWritingHook(Progress::OnWrite, &p);
    ASSERT_TRUE(w.hf.WriteArray(big.data(), HYPERFILEARRAY_INT32, 4, 120000));
    // Elements 50001 and 100001 report, right after they were written.
    EXPECT_EQ((std::vector<Int64>{6 + 50001 * 4, 6 + 100001 * 4}), p.values);
    w.Finish();
  }
  {
    lumtest::MemWriter w;
    Progress p;
    w.hf.SetWritingHook(Progress::OnWrite, &p);
    for (int i = 0; i < 30000; ++i) ASSERT_TRUE(w.hf.WriteInt32(i));
    ASSERT_TRUE(w.hf.WriteArray(big.data(), HYPERFILEARRAY_INT16, 2, 30000));
    EXPECT_EQ((std::vector<Int64>{150000 + 6 + 20001 * 2}), p.values);
    w.Finish();
  }
}

TEST(HyperFile, ReadingHookAloneIsNotCalledWhileWriting) {
  lumtest::MemWriter w;
  Progress p;
  w.hf.SetReadingHook(Progress::OnRead, &p);
  for (int i = 0; i < 60000; ++i) ASSERT_TRUE(w.hf.WriteBool(true));
  EXPECT_TRUE(p.values.empty());
  w.Finish();
}

// ---- opening, closing, errors ----

TEST(HyperFile, OpenAcceptsReadAndWriteOnly) {
  Filename name;
  name.SetMemoryTarget();
  HyperFile f;
  EXPECT_FALSE(f.Open(name, FILEOPEN_APPEND));
  EXPECT_EQ(FILEERROR_INVALID, f.GetError());
  EXPECT_FALSE(f.Close());
  ASSERT_TRUE(f.Open(name, FILEOPEN_WRITE));  // a new open starts afresh
  EXPECT_EQ(FILEERROR_NONE, f.GetError());
  EXPECT_EQ(FILEOPEN_WRITE, f.GetOpenMode());
  EXPECT_TRUE(f.Close());
  HyperFile missing;
  EXPECT_FALSE(missing.Open(Filename(lumtest::TempPath("no/such/file").c_str()), FILEOPEN_READ));
  EXPECT_EQ(FILEERROR_OPEN, missing.GetError());
}

TEST(HyperFile, SetErrorRecordsAndAlerts) {
  lumtest::MemReader r("0f 00000001");
  lumtest::ResetAlerts();
  r.hf.SetError(FILEERROR_CHUNK_EXPECTED);
  EXPECT_EQ(FILEERROR_CHUNK_EXPECTED, r.hf.GetError());
  EXPECT_EQ(1, lumtest::AlertCount());
  EXPECT_EQ("source/lum_hyperfile", lumtest::Alerts()[0].file);
  EXPECT_FALSE(r.hf.ReadInt32(nullptr));
  EXPECT_EQ(0, r.hf.GetPosition());
  r.hf.SetError(FILEERROR_NONE);
  EXPECT_TRUE(r.hf.ReadInt32(nullptr));
}

TEST(HyperFile, AfterAnErrorWritersWriteNothing) {
  lumtest::MemWriter w;
  ASSERT_TRUE(w.hf.WriteInt32(1));
  w.hf.SetError(FILEERROR_WRONG_VALUE);
  EXPECT_FALSE(w.hf.WriteInt32(2));
  EXPECT_FALSE(w.hf.WriteString(Str("x")));
  EXPECT_FALSE(w.hf.WriteChunkStart(1, 1));
  EXPECT_FALSE(w.hf.WriteUnknownChunk("ab", 2, false));
  EXPECT_EQ(5, w.hf.GetPosition());
  EXPECT_FALSE(w.hf.Close());
}

TEST(HyperFile, AfterAnErrorNoOperationTouchesTheStream) {
  std::vector<std::pair<const char*, ReadFn>> reads;
  for (const ReaderCase& c : ReaderCases()) reads.push_back({c.what, c.read});
  BaseContainer bc;
  GeData value;
  reads.insert(reads.end(),
               {{"ReadChunkStart", [](HyperFile& f) { return f.ReadChunkStart(nullptr, nullptr); }},
                {"ReadChunkEnd", [](HyperFile& f) { return f.ReadChunkEnd(); }},
                {"SkipToEndChunk", [](HyperFile& f) { return f.SkipToEndChunk(); }},
                {"ReadValueHeader",
                 [](HyperFile& f) {
                   HYPERFILEVALUE kind = HYPERFILEVALUE_INT32;
                   return f.ReadValueHeader(&kind) || kind != HYPERFILEVALUE_NONE;
                 }},
                {"CheckIt", [](HyperFile& f) { return f.CheckIt(HYPERFILEVALUE_INT32); }},
                {"SkipValue", [](HyperFile& f) { return f.SkipValue(HYPERFILEVALUE_INT32); }},
                {"CheckRemaining", [](HyperFile& f) { return f.CheckRemaining(0); }},
                {"ReadUnknownChunk",
                 [](HyperFile& f) {
                   void* b = nullptr;
                   Int64 n = 0;
                   return f.ReadUnknownChunk(&b, &n, true);
                 }},
                {"ReadContainer", [&bc](HyperFile& f) { return f.ReadContainer(&bc, false); }},
                {"ReadGeData", [&value](HyperFile& f) { return f.ReadGeData(&value); }},
                {"_HFReadArray Vector64", Helper<Vector64>(_HFReadArray)},
                {"_HFReadArray Float32", Helper<Float32>(_HFReadArray)},
                {"_HFReadArray Int32", Helper<Int32>(_HFReadArray)},
                {"_HFReadArray Int16", Helper<Int16>(_HFReadArray)},
                {"_HFReadMemoryL", Helper<Int32>(_HFReadMemoryL)},
                {"_HFReadMemoryW", Helper<Int16>(_HFReadMemoryW)},
                {"_HFReadMemoryVectorArray", Helper<Vector64>(_HFReadMemoryVectorArray)},
                {"CDynArrayReadHeader",
                 [](HyperFile& f) { return CDynArrayReadHeader(&f, nullptr, nullptr); }}});
  for (const auto& r : reads) {
    lumtest::MemReader m("0f 00000001 0f 00000002 02");
    m.hf.SetError(FILEERROR_CHUNK_EXPECTED);
    EXPECT_FALSE(r.second(m.hf)) << r.first;
    EXPECT_EQ(FILEERROR_CHUNK_EXPECTED, m.hf.GetError()) << r.first;
    EXPECT_EQ(0, m.hf.GetPosition()) << r.first;
    EXPECT_EQ(0, m.hf.GetChunkDepth()) << r.first;
  }
  std::vector<WriterCase> writes = WriterCases();
  const std::pair<const char*, std::function<void(HyperFile&)>> more[] = {
      {"WriteContainer", [](HyperFile& f) { f.WriteContainer(BaseContainer()); }},
      {"WriteGeData", [](HyperFile& f) { f.WriteGeData(GeData(1)); }},
      {"WriteUnknownChunk", [](HyperFile& f) { f.WriteUnknownChunk("ab", 2, true); }},
      {"WriteUnknownChunk closing", [](HyperFile& f) { f.WriteUnknownChunk(nullptr, 0, false); }}};
  for (const auto& m : more) writes.push_back({m.first, m.second, "", ""});
  for (const WriterCase& c : writes) {
    lumtest::MemWriter w;
    w.hf.SetError(FILEERROR_CHUNK_EXPECTED);
    c.write(w.hf);
    EXPECT_EQ(0, w.hf.GetPosition()) << c.what;
    EXPECT_EQ(FILEERROR_CHUNK_EXPECTED, w.hf.GetError()) << c.what;
    EXPECT_FALSE(w.hf.Close()) << c.what;
  }
}

TEST(HyperFile, AFullDiskShowsAsTheWriteError) {
  HyperFile f;
  ASSERT_TRUE(f.Open(Filename("/dev/full"), FILEOPEN_WRITE));
  std::vector<UChar> data(40000, 1);
  // The first 16 KiB only reach the buffer; the rest meets the full disk.
  EXPECT_FALSE(f.WriteMemory(data.data(), 40000) && f.Close());
  EXPECT_EQ(FILEERROR_WRITE, f.GetError());
}

// ---- array helpers ----

TEST(HyperFile, ArrayHelpersRoundTrip) {
  std::vector<Vector64> v = {Vector64(1, 2, 3), Vector64(-4, 5.5, 6)};
  std::vector<Float32> s = {0.5f, 1.5f, 2.5f};
  std::vector<Int32> i = {7, -8};
  std::vector<Int16> w = {9};
  Bytes b = Write([&](HyperFile& f) {
    _HFWriteArray(&f, v.data(), 2);
    _HFWriteArray(&f, s.data(), 3);
    _HFWriteArray(&f, i.data(), 2);
    _HFWriteArray(&f, w.data(), 1);
    _HFWriteArray(&f, static_cast<const Int16*>(nullptr), 0);
    CDynArrayWriteHeader(&f, 4, 24);
  });
  lumtest::MemReader r(b);
  Vector64* rv = nullptr;
  Float32* rs = nullptr;
  Int32* ri = nullptr;
  Int16* rw = nullptr;
  Int16* none = reinterpret_cast<Int16*>(1);
  Int32 nv, ns, ni, nw, nn = 3, count, size;
  ASSERT_TRUE(_HFReadArray(&r.hf, &rv, &nv) && _HFReadArray(&r.hf, &rs, &ns) &&
              _HFReadArray(&r.hf, &ri, &ni) && _HFReadArray(&r.hf, &rw, &nw) &&
              _HFReadArray(&r.hf, &none, &nn) && CDynArrayReadHeader(&r.hf, &count, &size));
  EXPECT_EQ(v, std::vector<Vector64>(rv, rv + nv));
  EXPECT_EQ(s, std::vector<Float32>(rs, rs + ns));
  EXPECT_EQ(i, std::vector<Int32>(ri, ri + ni));
  EXPECT_EQ(w, std::vector<Int16>(rw, rw + nw));
  EXPECT_EQ(nullptr, none);
  EXPECT_EQ(0, nn);
  EXPECT_EQ(4, count);
  EXPECT_EQ(24, size);
  DeleteMem(rv);
  DeleteMem(rs);
  DeleteMem(ri);
  DeleteMem(rw);
}

TEST(HyperFile, ArrayHelperWithAMismatchedArrayReportsNoCount) {
  lumtest::MemReader r("0f 00000002 8c 00000005 03 00000001");
  Int32* data = nullptr;
  Int32 n = 9;
  EXPECT_FALSE(_HFReadArray(&r.hf, &data, &n));
  EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError());
  EXPECT_EQ(nullptr, data);
  EXPECT_EQ(0, n);
}

TEST(HyperFile, OlderMemoryArraysAreLittleEndian) {
  // Two words, a stray byte; one half word; one vector of little-endian floats.
  lumtest::MemReader r(
      "80 00000009 01000000 feffffff 00 80 00000003 0201 00"
      " 80 0000000d 0000803f 00000040 00004040 ff",
      11599);
  Int32* l = nullptr;
  Int16* w = nullptr;
  Vector64* v = nullptr;
  Int32 nl, nw, nv;
  ASSERT_TRUE(_HFReadMemoryL(&r.hf, &l, &nl) && _HFReadMemoryW(&r.hf, &w, &nw) &&
              _HFReadMemoryVectorArray(&r.hf, &v, &nv));
  ASSERT_EQ(2, nl);
  EXPECT_EQ(1, l[0]);
  EXPECT_EQ(-2, l[1]);
  ASSERT_EQ(1, nw);
  EXPECT_EQ(0x0102, w[0]);
  ASSERT_EQ(1, nv);
  EXPECT_EQ(Vector64(1, 2, 3), v[0]);
  DeleteMem(l);
  DeleteMem(w);
  DeleteMem(v);
  // Newer files hold the vectors as typed arrays.
  const Vector64 src[1] = {Vector64(7, 8, 9)};
  lumtest::MemReader current(Write([&](HyperFile& f) { _HFWriteArray(&f, src, 1); }), 12000);
  ASSERT_TRUE(_HFReadMemoryVectorArray(&current.hf, &v, &nv));
  ASSERT_EQ(1, nv);
  EXPECT_EQ(src[0], v[0]);
  DeleteMem(v);
}

TEST(HyperFile, ReadFloat64TakesItsOwnKindInEitherOrder) {
  lumtest::MemReader big("14 c004000000000000");
  Float64 v = 0;
  ASSERT_TRUE(big.hf.ReadFloat64(&v));
  EXPECT_EQ(-2.5, v);
  lumtest::MemReader little(H("14 00000000000004c0"), HYPERFILE_CURRENT_VERSION, false,
                            BYTEORDER_INTEL);
  ASSERT_TRUE(little.hf.ReadFloat64(&v));
  EXPECT_EQ(-2.5, v);
}

TEST(HyperFile, ReadersWithNullOutputsConsumeTheirValueWhole) {
  const std::string one = "3ff0000000000000";
  lumtest::MemReader r(
      "0c ab  0f 00000001  10 00000002  11 0000000000000003  1d 3f800000  13 " + one + "  14 " +
      one + "  15 01  16 " + one + one + "  17 " + one + one + one +
      "  1b 3f800000 3f800000 3f800000  18 " + one + one + one + "  19 " + one + one + one + one +
      one + one + one + one + one + one + one + one +
      "  82 00000004 0048 0069  83 00000002 0061  80 00000002 abcd"
      "  89 00000008 3f800000 40000000  85 0000000c " +
      one + one + one +
      "  86 00000008 00000001 0001 0002 0003 0003  87 00000004 0001 0002"
      "  01 00000005 00000001  0f 00000009 02"
      "  0f 00000001 8c 00000009 06 " +
      one + " 8c 00000009 06 " + one + " 8c 00000009 06 " + one +
      "  0f 00000002 8c 00000009 03 00000001 00000002  0f 00000001 8c 00000005 05 3f800000"
      "  0f 00000001 8c 00000003 02 0007  80 00000004 01000000  80 00000002 0100"
      "  0f 00000001 8c 00000009 06 " +
      one + " 8c 00000009 06 " + one + " 8c 00000009 06 " + one +
      "  0f 00000003 0f 00000010  0f 0000002a");
  HyperFile& f = r.hf;
  EXPECT_TRUE(f.ReadUChar(nullptr) && f.ReadInt32(nullptr) && f.ReadUInt32(nullptr) &&
              f.ReadInt64(nullptr) && f.ReadFloat32(nullptr) && f.ReadFloat(nullptr) &&
              f.ReadFloat64(nullptr) && f.ReadBool(nullptr) && f.ReadTime(nullptr) &&
              f.ReadVector(nullptr) && f.ReadVector32(nullptr) && f.ReadVector64(nullptr) &&
              f.ReadMatrix(nullptr) && f.ReadString(nullptr) && f.ReadFilename(nullptr));
  EXPECT_TRUE(f.ReadMemory(nullptr, nullptr));
  EXPECT_TRUE(f.ReadFloat32ArrayEx(nullptr, nullptr) && f.ReadVectorArrayEx(nullptr, nullptr) &&
              f.ReadPolygonArrayEx(nullptr, nullptr) && f.ReadUInt16ArrayEx(nullptr, nullptr));
  EXPECT_TRUE(f.ReadValueHeader(nullptr) && f.ReadChunkStart(nullptr, nullptr));
  EXPECT_TRUE(f.ReadUnknownChunk(nullptr, nullptr, false));
  EXPECT_EQ(0, f.GetChunkDepth());
  EXPECT_TRUE(_HFReadArray(&f, static_cast<Vector64**>(nullptr), nullptr) &&
              _HFReadArray(&f, static_cast<Int32**>(nullptr), nullptr) &&
              _HFReadArray(&f, static_cast<Float32**>(nullptr), nullptr) &&
              _HFReadArray(&f, static_cast<Int16**>(nullptr), nullptr) &&
              _HFReadMemoryL(&f, nullptr, nullptr) && _HFReadMemoryW(&f, nullptr, nullptr) &&
              _HFReadMemoryVectorArray(&f, nullptr, nullptr) &&
              CDynArrayReadHeader(&f, nullptr, nullptr))
      << f.GetError();
  Int32 last = 0;
  ASSERT_TRUE(f.ReadInt32(&last));
  EXPECT_EQ(42, last);
  EXPECT_EQ(static_cast<Int64>(r.bytes.size()), f.GetPosition());
}

TEST(HyperFile, OlderMemoryArraysShorterThanOneElementGiveNoBlock) {
  lumtest::MemReader r(
      "80 00000003 010203  80 00000001 01  80 0000000b 0000803f 00000040 000040  80 00000000",
      11000);
  Int32* l = reinterpret_cast<Int32*>(&r);
  Int16* w = reinterpret_cast<Int16*>(&r);
  Vector64* v = reinterpret_cast<Vector64*>(&r);
  Vector64* none = reinterpret_cast<Vector64*>(&r);
  Int32 nl = 5, nw = 5, nv = 5, nn = 5;
  ASSERT_TRUE(_HFReadMemoryL(&r.hf, &l, &nl) && _HFReadMemoryW(&r.hf, &w, &nw) &&
              _HFReadMemoryVectorArray(&r.hf, &v, &nv) &&
              _HFReadMemoryVectorArray(&r.hf, &none, &nn));
  EXPECT_EQ(nullptr, l);
  EXPECT_EQ(nullptr, w);
  EXPECT_EQ(nullptr, v);
  EXPECT_EQ(nullptr, none);
  EXPECT_EQ(0, nl + nw + nv + nn);
}

namespace {

// Reads every prefix of full (but full itself) with read: each must fail and hand out nothing.
template <typename T>
void ExpectEveryPrefixFails(const char* what, const Bytes& full,
                            bool (*read)(HyperFile*, T**, Int32*), Int32 version = 12000) {
  for (size_t n = 0; n < full.size(); ++n) {
    lumtest::MemReader r(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)),
                         version);
    T* data = reinterpret_cast<T*>(&r);
    Int32 count = 7;
    EXPECT_FALSE(read(&r.hf, &data, &count)) << what << " cut to " << n;
    EXPECT_NE(FILEERROR_NONE, r.hf.GetError()) << what << " cut to " << n;
    EXPECT_EQ(nullptr, data) << what << " cut to " << n;
    EXPECT_EQ(0, count) << what << " cut to " << n;
  }
  lumtest::MemReader whole(full, version);
  T* data = nullptr;
  Int32 count = 0;
  EXPECT_TRUE(read(&whole.hf, &data, &count)) << what;
  EXPECT_GT(count, 0) << what;
  DeleteMem(data);
}

// Runs write with room for 0 .. n - 1 of the n bytes it writes: every run must fail with the
// write error; with room for all of them it succeeds.
void ExpectWriteErrorWhereverTheDiskFills(const char* what,
                                          const std::function<bool(HyperFile&)>& write) {
  lumtest::MemWriter probe;
  EXPECT_TRUE(write(probe.hf)) << what;
  const Int64 n = static_cast<Int64>(probe.Finish().size());
  ASSERT_GT(n, 0) << what;
  for (Int64 room = 0; room <= n; ++room) {
    lumtest::FullFileWriter w(room);
    EXPECT_EQ(room == n, write(w.hf)) << what << " with room for " << room;
    EXPECT_EQ(room == n ? FILEERROR_NONE : FILEERROR_WRITE, w.hf.GetError())
        << what << " with room for " << room;
  }
}

}  // namespace

TEST(HyperFile, ArrayHelpersOnACutStreamFailAndHandOutNothing) {
  const Vector64 v[2] = {Vector64(1, 2, 3), Vector64(4, 5, 6)};
  const Float32 s[2] = {1, 2};
  const Int32 i[2] = {3, 4};
  const Int16 w[2] = {5, 6};
  ExpectEveryPrefixFails<Vector64>(
      "Vector64", Write([&](HyperFile& f) { _HFWriteArray(&f, v, 2); }), _HFReadArray);
  ExpectEveryPrefixFails<Float32>("Float32", Write([&](HyperFile& f) { _HFWriteArray(&f, s, 2); }),
                                  _HFReadArray);
  ExpectEveryPrefixFails<Int32>("Int32", Write([&](HyperFile& f) { _HFWriteArray(&f, i, 2); }),
                                _HFReadArray);
  ExpectEveryPrefixFails<Int16>("Int16", Write([&](HyperFile& f) { _HFWriteArray(&f, w, 2); }),
                                _HFReadArray);
  ExpectEveryPrefixFails<Int32>("memory L", H("80 00000004 01000000"), _HFReadMemoryL, 11000);
  ExpectEveryPrefixFails<Int16>("memory W", H("80 00000002 0100"), _HFReadMemoryW, 11000);
  ExpectEveryPrefixFails<Vector64>("memory vectors", H("80 0000000c 0000803f 00000040 00004040"),
                                   _HFReadMemoryVectorArray, 11000);
  Bytes header = Write([](HyperFile& f) { CDynArrayWriteHeader(&f, 3, 16); });
  for (size_t n = 0; n < header.size(); ++n) {
    lumtest::MemReader r(Bytes(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(n)));
    Int32 count = 0, size = 0;
    EXPECT_FALSE(CDynArrayReadHeader(&r.hf, &count, &size)) << n;
    EXPECT_EQ(FILEERROR_READ, r.hf.GetError()) << n;
  }
}

TEST(HyperFile, WritersFailWithTheWriteErrorWhereverTheDiskFills) {
  const Vector64 v[2] = {Vector64(1, 2, 3), Vector64(4, 5, 6)};
  const Int32 i[2] = {3, 4};
  ExpectWriteErrorWhereverTheDiskFills("Vector64 array",
                                       [&](HyperFile& f) { return _HFWriteArray(&f, v, 2); });
  ExpectWriteErrorWhereverTheDiskFills("Int32 array",
                                       [&](HyperFile& f) { return _HFWriteArray(&f, i, 2); });
  ExpectWriteErrorWhereverTheDiskFills(
      "CDynArrayWriteHeader", [](HyperFile& f) { return CDynArrayWriteHeader(&f, 3, 16); });
  ExpectWriteErrorWhereverTheDiskFills("chunk with a string", [](HyperFile& f) {
    return f.WriteChunkStart(7, 1) && f.WriteString(Str("abc")) && f.WriteChunkEnd();
  });
}

// ---- allocation failures ----

namespace {

// A read under a failing allocation: 1 when it succeeded with the right result, 0 when it
// failed, -1 when it succeeded with a wrong one.
struct SweepCase {
  const char* what;
  Bytes stream;
  Int32 version;
  std::function<int(HyperFile&)> read;
};

bool RunSweepCase(std::int64_t, void* ctx) {
  const SweepCase& c = *static_cast<const SweepCase*>(ctx);
  lumtest::MemReader r(c.stream, c.version);
  int outcome = c.read(r.hf);
  if (outcome < 0) return false;
  return r.hf.GetError() == (outcome == 1 ? FILEERROR_NONE : FILEERROR_OUTOFMEMORY);
}

// A reader that allocates n elements: on success n must be want and right(block) hold; on
// failure nothing may be handed out.
template <typename T>
std::function<int(HyperFile&)> SweptWith(std::function<bool(HyperFile&, T**, Int32*)> read,
                                         Int32 want, std::function<bool(const T*)> right) {
  return [=](HyperFile& f) {
    T* block = nullptr;
    Int32 n = 0;
    int outcome = read(f, &block, &n) ? (n == want && block != nullptr && right(block) ? 1 : -1)
                                      : (block == nullptr && n == 0 ? 0 : -1);
    DeleteMem(block);
    return outcome;
  };
}
template <typename T>
std::function<int(HyperFile&)> Swept(bool (HyperFile::*read)(T**, Int32*), Int32 want,
                                     std::function<bool(const T*)> right) {
  return SweptWith<T>([read](HyperFile& f, T** b, Int32* n) { return (f.*read)(b, n); }, want,
                      right);
}
template <typename T>
std::function<int(HyperFile&)> Swept(bool (*read)(HyperFile*, T**, Int32*), Int32 want,
                                     std::function<bool(const T*)> right) {
  return SweptWith<T>([read](HyperFile& f, T** b, Int32* n) { return read(&f, b, n); }, want,
                      right);
}

String LongText(Int32 units, UInt16 first) {
  std::vector<UInt16> u(units, 'x');
  u[0] = first;
  String s;
  s.SetUcBlock(u.data(), units);
  return s;
}

}  // namespace

TEST(HyperFile, EveryAllocatingReaderSurvivesAllocationFailures) {
  const Vector64 vecs[3] = {Vector64(1, 2, 3), Vector64(4, 5, 6), Vector64(7, 8, 9)};
  const Float32 floats[2] = {1, 2};
  const Int32 ints[2] = {3, 4};
  const Int16 shorts[2] = {5, 6};
  const String longText = LongText(3000, 'L');
  const String colonPath = LongText(1500, 'V');  // "Vxxx...x:x"
  String colon = colonPath;
  colon.Insert(1400, Str(":"));
  Filename colonName;
  colonName.SetString(colon);
  // Built before the sweep: comparing Filenames allocates nothing.
  const Filename plain("a/b/c");
  String converted = colon;
  converted.Delete(1400, 1);
  converted.Insert(1400, Str("/"));
  converted.Insert(0, Str("/Volumes/"));
  Filename convertedName;
  convertedName.SetString(converted);
  ASSERT_EQ(1510, convertedName.GetString().GetLength());
  std::vector<SweepCase> cases = {
      {"ReadString long", Write([&](HyperFile& f) { f.WriteString(longText); }), 20000,
       [&](HyperFile& f) {
         String s;
         if (!f.ReadString(&s)) return 0;
         return s.Compare(longText) == 0 ? 1 : -1;
       }},
      {"ReadString short", H("82 00000004 0048 0069"), 20000,
       [](HyperFile& f) {
         String s;
         if (!f.ReadString(&s)) return 0;
         return Utf8(s) == "Hi" ? 1 : -1;
       }},
      {"ReadFilename", Write([&](HyperFile& f) { f.WriteFilename(plain); }), 20000,
       [&](HyperFile& f) {
         Filename n;
         if (!f.ReadFilename(&n)) return 0;
         return n == plain ? 1 : -1;
       }},
      {"ReadFilename colon path", Write([&](HyperFile& f) { f.WriteFilename(colonName); }), 10001,
       [&](HyperFile& f) {
         Filename n;
         if (!f.ReadFilename(&n)) return 0;
         return n == convertedName ? 1 : -1;
       }},
      {"ReadMemory", H("80 00000003 010203"), 20000,
       [](HyperFile& f) {
         void* b;
         Int64 n;
         if (!f.ReadMemory(&b, &n)) return b == nullptr && n == 0 ? 0 : -1;
         int outcome = n == 3 && static_cast<UChar*>(b)[2] == 3 ? 1 : -1;
         MemFree(b);
         return outcome;
       }},
      {"ReadUnknownChunk", H("01 00000001 00000000 0f 00000001 02"), 20000,
       [](HyperFile& f) {
         void* b;
         Int64 n;
         if (!f.CheckIt(HYPERFILEVALUE_CHUNKSTART) || !f.ReadChunkStart(nullptr, nullptr))
           return -1;
         if (!f.ReadUnknownChunk(&b, &n, false)) return b == nullptr && n == 0 ? 0 : -1;
         int outcome = n == 6 && static_cast<UChar*>(b)[5] == 2 ? 1 : -1;
         MemFree(b);
         return outcome;
       }},
      {"ReadFloat32ArrayEx", H("89 00000008 3f800000 40000000"), 20000,
       Swept<Float32>(&HyperFile::ReadFloat32ArrayEx, 2,
                      [](const Float32* b) { return b[1] == 2; })},
      {"ReadVectorArrayEx", H("85 0000000c 3ff0000000000000 4000000000000000 4008000000000000"),
       20000,
       Swept<Vector64>(&HyperFile::ReadVectorArrayEx, 1,
                       [](const Vector64* b) { return b[0] == Vector64(1, 2, 3); })},
      {"ReadPolygonArrayEx", H("86 00000008 00000001 0001 0002 0003 0004"), 20000,
       Swept<CPolygon>(&HyperFile::ReadPolygonArrayEx, 1,
                       [](const CPolygon* b) { return b[0] == CPolygon(1, 2, 3, 4); })},
      {"ReadUInt16ArrayEx", H("87 00000002 abcd"), 20000,
       Swept<UInt16>(&HyperFile::ReadUInt16ArrayEx, 1,
                     [](const UInt16* b) { return b[0] == 0xABCD; })},
      {"_HFReadArray Vector64", Write([&](HyperFile& f) { _HFWriteArray(&f, vecs, 3); }), 20000,
       Swept<Vector64>(_HFReadArray, 3, [&](const Vector64* b) { return b[2] == vecs[2]; })},
      {"_HFReadArray Float32", Write([&](HyperFile& f) { _HFWriteArray(&f, floats, 2); }), 20000,
       Swept<Float32>(_HFReadArray, 2, [](const Float32* b) { return b[1] == 2; })},
      {"_HFReadArray Int32", Write([&](HyperFile& f) { _HFWriteArray(&f, ints, 2); }), 20000,
       Swept<Int32>(_HFReadArray, 2, [](const Int32* b) { return b[1] == 4; })},
      {"_HFReadArray Int16", Write([&](HyperFile& f) { _HFWriteArray(&f, shorts, 2); }), 20000,
       Swept<Int16>(_HFReadArray, 2, [](const Int16* b) { return b[1] == 6; })},
      {"_HFReadMemoryL", H("80 00000004 07000000"), 11000,
       Swept<Int32>(_HFReadMemoryL, 1, [](const Int32* b) { return b[0] == 7; })},
      {"_HFReadMemoryW", H("80 00000002 0800"), 11000,
       Swept<Int16>(_HFReadMemoryW, 1, [](const Int16* b) { return b[0] == 8; })},
      {"_HFReadMemoryVectorArray", H("80 0000000c 0000803f 00000040 00004040"), 11000,
       Swept<Vector64>(_HFReadMemoryVectorArray, 1,
                       [](const Vector64* b) { return b[0] == Vector64(1, 2, 3); })},
  };
  for (const SweepCase& c : cases) {
    int failing =
        lumtest::SweepAllocationFailures(c.what, RunSweepCase, const_cast<SweepCase*>(&c));
    EXPECT_GE(failing, 1) << c.what;
  }
}

TEST(HyperFile, WritingSurvivesAllocationFailures) {
  struct Ctx {
    Filename name;
    String text;
  } ctx{Filename("some/dir/file.txt"), LongText(20000, 'S')};
  auto scenario = [](std::int64_t, void* p) {
    const Filename& name = static_cast<Ctx*>(p)->name;
    const String& text = static_cast<Ctx*>(p)->text;
    Filename target;
    target.SetMemoryTarget();
    HyperFile f;
    if (!f.Open(target, FILEOPEN_WRITE)) return f.GetError() == FILEERROR_OUTOFMEMORY;
    bool ok = f.WriteFilename(name) && f.WriteString(text) && f.Close();
    if (!ok) return f.GetError() == FILEERROR_OUTOFMEMORY;
    const void* bytes;
    Int64 n;
    if (!target.CollectMemoryData(&bytes, &n)) return true;  // the collecting is not ours
    return n == 5 + 34 + 5 + 40000;
  };
  EXPECT_GE(lumtest::SweepAllocationFailures("writing", scenario, &ctx), 1);
}

// Writes the seeds of fuzz/hyperfile_fuzz.cpp (a control byte, then a stream). Run by hand:
//   hyperfile_test --gtest_also_run_disabled_tests --gtest_filter=HyperFileSeeds.*
TEST(HyperFileSeeds, DISABLED_WriteFuzzCorpus) {
  auto concat = [](bool float32, BYTEORDER order) {
    return Write(
        [](HyperFile& f) {
          for (const WriterCase& c : WriterCases()) c.write(f);
        },
        float32, order);
  };
  const Int16 shorts[3] = {1, 2, 3};
  const Vector64 vecs[2] = {Vector64(1, 2, 3), Vector64(4, 5, 6)};
  struct Seed {
    const char* name;
    UChar control;
    Bytes stream;
  } seeds[] = {
      {"nested-chunks", 0x00, NestedChunks()},
      {"every-writer", 0x00, concat(false, BYTEORDER_MOTOROLA)},
      {"every-writer-float32", 0x04, concat(true, BYTEORDER_MOTOROLA)},
      {"every-writer-intel", 0x08, concat(false, BYTEORDER_INTEL)},
      {"kept-chunks", 0x00, Write([&](HyperFile& f) {
         f.WriteChunkStart(1, 1);  // kept with its end
         f.WriteInt32(5);
         f.WriteChunkStart(5, 2);  // kept without its end
         f.WriteString(Str("x"));
         f.WriteChunkEnd();
         f.WriteChunkEnd();
         f.WriteChunkStart(2, 0);  // walked into
         f.WriteChunkStart(0, 0);  // skipped
         f.WriteBool(true);
         f.WriteChunkEnd();
         f.WriteChunkEnd();
       })},
      {"helper-arrays", 0x40, Write([&](HyperFile& f) {
         _HFWriteArray(&f, shorts, 3);
         _HFWriteArray(&f, vecs, 2);
       })},
      {"older-kinds", 0x01,
       H("89 00000008 3f800000 40000000 85 0000000c 3f800000 40000000 40400000"
         " 86 00000010 00000001 0001 0002 0003 0003 0004 0005 0006 0006"
         " 87 00000004 0001 0002 88 0000002c" +
         std::string(168, '0'))},
      {"older-array-layout", 0x02, H("8c 02 00000006 0001 0002 0003 8c 05 00000004 3f800000")},
      {"colon-path", 0x03,
       H("83 00000018 0056 006f 006c 003a 0064 0069 0072 003a 0066 0069 006c 0065")},
      {"little-endian-memory", 0x20, H("80 00000008 01000000 02000000")},
      {"little-endian-vectors", 0x63, H("80 0000000c 0000803f 00000040 00004040")},
      {"long-array-header", 0x00, H("8c 00000000 02 0000000000000006 0001 0002 0003")},
  };
  const std::string dir = std::string(LUMORA_SOURCE_DIR) + "/fuzz/corpus/hyperfile/";
  for (const Seed& s : seeds) {
    Bytes b(s.stream.size() + 1);
    b[0] = s.control;
    if (!s.stream.empty()) std::memcpy(b.data() + 1, s.stream.data(), s.stream.size());
    EXPECT_TRUE(lumtest::WriteFileBytes(dir + s.name, b)) << s.name;
  }
}

TEST(HyperFile, DiskFilesReadValuesAcrossTheBufferAndGiveBackWrongKinds) {
  std::string path = lumtest::TempPath("values.hf");
  {
    HyperFile f;
    ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));
    for (int i = 0; i < 10000; ++i) ASSERT_TRUE(f.WriteVector(Vector64(i, i + 1, i + 2)));
    ASSERT_TRUE(f.Close());
  }
  HyperFile f;
  ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_READ));
  for (int i = 0; i < 10000; ++i) {
    Vector64 v;
    ASSERT_TRUE(f.ReadVector(&v)) << i;
    ASSERT_EQ(Vector64(i, i + 1, i + 2), v) << i;
  }
  EXPECT_EQ(250000, f.GetPosition());
  HyperFile wrong;
  ASSERT_TRUE(wrong.Open(Filename(path.c_str()), FILEOPEN_READ));
  EXPECT_FALSE(wrong.ReadMatrix(nullptr));
  EXPECT_EQ(FILEERROR_WRONG_VALUE, wrong.GetError());
  EXPECT_EQ(1, wrong.GetPosition());
}

// Skipping on a disk file steps over the values that lie in the file's buffer without reading
// them one by one; it must end exactly as skipping value by value does (a memory file, or a disk
// file with a reading hook): same result, error, position and chunk depth, for whole and cut
// chunks, hostile counts and chunks larger than the buffer.
struct SkipEnd {
  bool ok;
  FILEERROR error;
  Int64 position;
  Int32 depth;
};

void NoHook(Int32, void*) {}

SkipEnd SkipOnce(HyperFile& f, Int32 chunkBytesToRead) {
  HYPERFILEVALUE kind;
  if (chunkBytesToRead > 0 && f.ReadValueHeader(&kind) && kind == HYPERFILEVALUE_CHUNKSTART)
    f.ReadChunkStart(nullptr, nullptr);
  bool ok = f.SkipToEndChunk();
  return {ok, f.GetError(), f.GetPosition(), f.GetChunkDepth()};
}

void ExpectSameSkip(const Bytes& b, const std::string& what,
                    Int32 version = HYPERFILE_CURRENT_VERSION, bool float32 = false,
                    BYTEORDER order = BYTEORDER_MOTOROLA) {
  std::string path = lumtest::TempPath("skip.hf");
  ASSERT_TRUE(lumtest::WriteFileBytes(path, b));
  for (Int32 start : {0, 1}) {
    lumtest::MemReader mem(b, version, float32, order);
    SkipEnd want = SkipOnce(mem.hf, start);
    for (bool hook : {false, true}) {
      HyperFile disk;
      disk.SetFileVersion(version);
      disk.SetFloat32Mode(float32);
      if (hook) disk.SetReadingHook(NoHook, nullptr);
      ASSERT_TRUE(disk.Open(Filename(path.c_str()), FILEOPEN_READ)) << what;
      disk.SetByteOrder(order);
      SkipEnd got = SkipOnce(disk, start);
      std::string where = what + (hook ? " with hook" : "") + " from " + std::to_string(start);
      EXPECT_EQ(want.ok, got.ok) << where;
      EXPECT_EQ(want.error, got.error) << where;
      EXPECT_EQ(want.position, got.position) << where;
      EXPECT_EQ(want.depth, got.depth) << where;
    }
  }
}

TEST(HyperFile, SkipToEndChunkOnDiskEndsAsValueByValue) {
  Bytes nested = NestedChunks();
  for (size_t n = 0; n <= nested.size(); ++n)
    ExpectSameSkip(Bytes(nested.begin(), nested.begin() + n), "nested cut at " + std::to_string(n));
  for (const char* hex :
       {"0f 00000001 07 02 02", "80 00000100 0102 02", "0f 0000", "80 ffffffff 0f 00000001 02",
        "8b ffffffffffffffff 02 02", "8b 0000000000000002 0102 02",
        "8c 00000000 06 0000000000000008 0102030405060708 02", "8c 00000000 06 00000000000000",
        "85 00000002 00000000 02", "88 0000002c 02", "8d 00000000 02", "c8 02", "1e 02",
        "01 00000001 00000002 02 02", "02", "01 00000001"}) {
    ExpectSameSkip(H(hex), hex);
    ExpectSameSkip(H(hex), std::string(hex) + " old", 11000);
    ExpectSameSkip(H(hex), std::string(hex) + " float32", HYPERFILE_CURRENT_VERSION, true);
  }
  // Far more than the buffer holds, with values and arrays across its ends, in both orders and
  // float widths.
  for (bool float32 : {false, true}) {
    for (BYTEORDER order : {BYTEORDER_MOTOROLA, BYTEORDER_INTEL}) {
      std::vector<Float64> floats(700, 0.5);
      Bytes big = Write(
          [&](HyperFile& f) {
            f.WriteChunkStart(1, 0);
            for (Int32 i = 0; i < 400; ++i) {
              f.WriteChunkStart(i, i);
              f.WriteVector(Vector64(i, 2, 3));
              f.WriteMatrix(kMatrix);
              f.WriteString(Str("name"));
              f.WriteArray(floats.data(), HYPERFILEARRAY_FLOAT64, 8, 1 + (i * 37) % 700);
              f.WriteTime(BaseTime(i, 25));
              f.WriteChunkEnd();
            }
            f.WriteChunkEnd();
            f.WriteInt32(9);
          },
          float32, order);
      ExpectSameSkip(big, "large", HYPERFILE_CURRENT_VERSION, float32, order);
      ExpectSameSkip(Bytes(big.begin(), big.end() - 6), "large, cut", HYPERFILE_CURRENT_VERSION,
                     float32, order);
    }
  }
}

// Small values lying whole in a disk file's buffer are taken from it directly, the others
// through the file: the same values, errors and positions as from memory, for a stream cut
// anywhere around the buffer's ends and for a value of the wrong kind across one.
TEST(HyperFile, DiskValuesAcrossTheBufferEndsReadAsFromMemory) {
  constexpr Int32 kGroups = 700;  // 54 bytes each: the buffer's first two ends fall inside
  const Bytes all = Write([](HyperFile& f) {
    for (Int32 i = 0; i < kGroups; ++i) {
      UChar m[16];
      std::memset(m, i & 0xFF, sizeof m);
      f.WriteUChar(static_cast<UChar>(i));
      f.WriteInt32(i * 7);
      f.WriteFloat(i * 0.5);
      f.WriteTime(BaseTime(i, 30));
      f.WriteMemory(m, sizeof m);
    }
  });
  // Reads every group (group wrongAt with the wrong kind first) and records what came back.
  auto read = [](HyperFile& f, Int32 wrongAt) {
    std::vector<Float64> trace;
    for (Int32 i = 0; i < kGroups; ++i) {
      UChar u = 0;
      Int32 n = 0;
      Float x = 0;
      BaseTime t;
      void* m = nullptr;
      Int64 size = 0;
      const bool ok = (i != wrongAt || f.ReadInt32(&n)) && f.ReadUChar(&u) && f.ReadInt32(&n) &&
                      f.ReadFloat(&x) && f.ReadTime(&t) && f.ReadMemory(&m, &size);
      trace.insert(trace.end(), {Float64(ok), Float64(u), Float64(n), x, t.Get(), Float64(size),
                                 m != nullptr ? Float64(static_cast<UChar*>(m)[15]) : -1.0});
      DeleteMem(m);
      if (!ok) break;
    }
    trace.push_back(f.GetError());
    trace.push_back(Float64(f.GetPosition()));
    return trace;
  };
  const std::string path = lumtest::TempPath("bufferends.hf");
  std::vector<size_t> cuts = {all.size()};
  for (size_t end : {size_t(16384), size_t(32768)})
    for (size_t n = end - 30; n <= end + 30; ++n) cuts.push_back(n);
  for (size_t cut : cuts) {
    for (Int32 wrongAt : {-1, 302, 303, 606}) {
      const Bytes b(all.begin(), all.begin() + cut);
      ASSERT_TRUE(lumtest::WriteFileBytes(path, b));
      lumtest::MemReader mem(b);
      HyperFile disk;
      disk.SetFileVersion(HYPERFILE_CURRENT_VERSION);
      ASSERT_TRUE(disk.Open(Filename(path.c_str()), FILEOPEN_READ));
      disk.SetByteOrder(BYTEORDER_MOTOROLA);
      EXPECT_EQ(read(mem.hf, wrongAt), read(disk, wrongAt))
          << "cut " << cut << " wrong " << wrongAt;
    }
  }
}

// Array elements are converted where they lie in a disk file's buffer (or a memory file's
// block), an element cut by the buffer's end through a local block: every kind, both orders,
// packed and strided, in a 16 KiB and a 256 KiB buffer, whole and cut around the buffer's ends,
// gives the whole elements before the cut (the rest untouched) and the read error, from a file
// as from memory.
template <typename T>
void ReadArrayCutAroundBufferEnds(HYPERFILEARRAY type, Int32 count, Int32 stride, BYTEORDER order,
                                  std::initializer_list<size_t> ends) {
  const Int32 step = stride / static_cast<Int32>(sizeof(T));
  std::vector<T> src(static_cast<size_t>(count) * step);
  for (size_t i = 0; i < src.size(); ++i)
    src[i] = static_cast<T>(static_cast<Int64>((i * 2654435761u) % 20011) - 9000);
  Bytes all = Write(
      [&](HyperFile& f) {
        f.WriteInt32(7);  // the elements start at an odd offset, 11
        f.WriteArray(src.data(), type, stride, count);
      },
      false, order);
  const Int64 size = type == HYPERFILEARRAY_FLOAT ? 8 : static_cast<Int64>(sizeof(T));
  // Every seventh float stored as infinity or NaN, read as 0.
  if (std::is_floating_point<T>::value) {
    const size_t high = order == BYTEORDER_MOTOROLA ? 0 : size - 1;
    const size_t next = order == BYTEORDER_MOTOROLA ? 1 : size - 2;
    for (Int32 e = 0; e < count; e += 7) {
      all[11 + size * e + high] |= 0x7F;
      all[11 + size * e + next] |= size == 8 ? 0xF0 : 0x80;
      src[static_cast<size_t>(e) * step] = T(0);
    }
  }
  // What came back, whether it succeeded, the error and the position.
  auto read = [&](HyperFile& f) {
    std::vector<T> back(src.size(), T(77));
    Int32 first = 0;
    const bool ok = f.ReadInt32(&first) && f.ReadArray(back.data(), type, stride, count);
    return std::make_tuple(back, ok, Int32(f.GetError()), f.GetPosition());
  };
  std::vector<size_t> cuts = {all.size(), 0, 12, all.size() - 1};
  for (size_t end : ends)
    for (size_t n = end - 9; n <= end + 9 && n < all.size(); ++n) cuts.push_back(n);
  const std::string path = lumtest::TempPath("arraycuts.hf");
  for (size_t cut : cuts) {
    const std::string what = std::to_string(type) + " stride " + std::to_string(stride) +
                             " order " + std::to_string(order) + " cut " + std::to_string(cut);
    const Bytes b(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(cut));
    ASSERT_TRUE(lumtest::WriteFileBytes(path, b));
    HyperFile disk;
    disk.SetFileVersion(HYPERFILE_CURRENT_VERSION);
    ASSERT_TRUE(disk.Open(Filename(path.c_str()), FILEOPEN_READ));
    disk.SetByteOrder(order);
    const auto got = read(disk);
    lumtest::MemReader mem(b, HYPERFILE_CURRENT_VERSION, false, order);
    ASSERT_TRUE(got == read(mem.hf)) << what;
    const bool whole = cut == all.size();
    ASSERT_EQ(whole, std::get<1>(got)) << what;
    ASSERT_EQ(whole ? FILEERROR_NONE : FILEERROR_READ, std::get<2>(got)) << what;
    const Int64 kept = cut < 11 ? 0 : std::min<Int64>(count, (Int64(cut) - 11) / size);
    const std::vector<T>& back = std::get<0>(got);
    for (size_t i = 0; i < src.size(); ++i)
      ASSERT_EQ(Int64(i) / step < kept && i % step == 0 ? src[i] : T(77), back[i])
          << what << " at " << i;
  }
}

TEST(HyperFile, ArraysCutAroundTheBufferEndsKeepTheWholeElements) {
  for (BYTEORDER order : {BYTEORDER_MOTOROLA, BYTEORDER_INTEL}) {
    for (Int32 k : {1, 3}) {  // packed, and one member of three
      ReadArrayCutAroundBufferEnds<Char>(HYPERFILEARRAY_CHAR, 20000, k, order, {16384});
      ReadArrayCutAroundBufferEnds<Int16>(HYPERFILEARRAY_INT16, 10000, 2 * k, order, {16384});
      ReadArrayCutAroundBufferEnds<Int32>(HYPERFILEARRAY_INT32, 9000, 4 * k, order, {16384, 32768});
      ReadArrayCutAroundBufferEnds<Int64>(HYPERFILEARRAY_INT64, 4500, 8 * k, order, {16384, 32768});
      ReadArrayCutAroundBufferEnds<Float32>(HYPERFILEARRAY_FLOAT32, 5000, 4 * k, order, {16384});
      ReadArrayCutAroundBufferEnds<Float64>(HYPERFILEARRAY_FLOAT, 4500, 8 * k, order, {32768});
    }
    // Past 1 MiB a file is read through 256 KiB.
    ReadArrayCutAroundBufferEnds<Float64>(HYPERFILEARRAY_FLOAT64, 140000, 24, order,
                                          {262144, 524288});
    ReadArrayCutAroundBufferEnds<Int32>(HYPERFILEARRAY_INT32, 300000, 4, order, {262144});
  }
}

// Large 64-bit arrays are converted four numbers at a time (two without AVX2): every special
// value, in both orders, at every position of a group and in the last elements that fill no
// group, to a disk file.
TEST(HyperFile, LargeSixtyFourBitArraysKeepEveryBitAndTheFloatRule) {
  const Float64 specials[] = {0.0,
                              -0.0,
                              1.5,
                              -2.25e300,
                              4.9e-324,
                              std::numeric_limits<Float64>::infinity(),
                              -std::numeric_limits<Float64>::infinity(),
                              std::numeric_limits<Float64>::quiet_NaN(),
                              std::numeric_limits<Float64>::max()};
  std::vector<Float64> values(200001);
  for (size_t i = 0; i < values.size(); ++i)
    values[i] = i % 3 == 0 ? specials[(i / 3) % 9] : static_cast<Float64>(i) * 0.1;
  std::vector<Int64> ints(values.size());
  for (size_t i = 0; i < ints.size(); ++i) std::memcpy(&ints[i], &values[i], 8);
  std::string path = lumtest::TempPath("large64.hf");
  for (BYTEORDER order : {BYTEORDER_MOTOROLA, BYTEORDER_INTEL}) {
    {
      HyperFile f;
      ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));
      f.SetByteOrder(order);
      const Int32 n = static_cast<Int32>(values.size());
      ASSERT_TRUE(f.WriteArray(values.data(), HYPERFILEARRAY_FLOAT64, 8, n));
      ASSERT_TRUE(f.WriteArray(ints.data(), HYPERFILEARRAY_INT64, 8, n));
      ASSERT_TRUE(f.Close());
    }
    Bytes b = lumtest::ReadFileBytes(path);
    const size_t size = 6 + 8 * values.size();
    ASSERT_EQ(2 * size, b.size());
    for (size_t i = 0; i < values.size(); ++i) {
      UInt64 bits;
      std::memcpy(&bits, &values[i], 8);
      const bool special = (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull;
      for (int array = 0; array < 2; ++array) {
        UInt64 want = array == 0 && special ? 0 : bits;
        const unsigned char* p = &b[array * size + 6 + 8 * i];
        UInt64 got = 0;
        for (int k = 0; k < 8; ++k) {
          int at = order == BYTEORDER_MOTOROLA ? k : 7 - k;
          got = (got << 8) | p[at];
        }
        ASSERT_EQ(want, got) << "element " << i << " of array " << array;
      }
    }
  }
}

// The arrays of a record's members, written in one pass over the records to a disk file and one
// array after another to a memory file: every element in the file's order with the float rule,
// at every position of the vector groups and across the blocks of the pass, and the stream going
// on right after the last array.
TEST(HyperFile, ArrayMembersHoldOneArrayPerMemberInEitherTarget) {
  struct Row {
    HYPERFILEARRAY type;
    Int32 size, stride, members, count;
  };
  const Row rows[] = {
      {HYPERFILEARRAY_FLOAT, 8, 24, 3, 2 * 131072 + 5},  // points: two blocks and a few more
      {HYPERFILEARRAY_FLOAT64, 8, 24, 3, 11},
      {HYPERFILEARRAY_INT32, 4, 16, 4, 262144 + 9},  // polygons
      {HYPERFILEARRAY_INT32, 4, 16, 4, 17},
      {HYPERFILEARRAY_FLOAT32, 4, 16, 3, 300007},  // one member of a record left out
      {HYPERFILEARRAY_INT64, 8, 40, 5, 140001},
      {HYPERFILEARRAY_INT16, 2, 6, 3, 600001},
  };
  const UInt64 specials64[] = {0x7FF0000000000000ull, 0xFFF8000000000001ull, 0x8000000000000000ull};
  const UInt32 specials32[] = {0x7F800000u, 0xFFC00001u, 0x80000000u};
  std::string path = lumtest::TempPath("members.hf");
  for (const Row& row : rows) {
    const bool floats = row.type == HYPERFILEARRAY_FLOAT || row.type == HYPERFILEARRAY_FLOAT64 ||
                        row.type == HYPERFILEARRAY_FLOAT32;
    Bytes records(size_t(row.count) * row.stride);
    UInt64 seed = 0x9E3779B97F4A7C15ull;
    for (size_t i = 0; i < records.size(); ++i) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      records[i] = static_cast<UChar>(seed >> 56);
    }
    for (Int32 r = 0; floats && r < row.count; r += 7) {
      const UChar* s = row.size == 8 ? reinterpret_cast<const UChar*>(&specials64[r % 3])
                                     : reinterpret_cast<const UChar*>(&specials32[r % 3]);
      std::memcpy(&records[size_t(r) * row.stride + (r % row.members) * row.size], s, row.size);
    }
    for (BYTEORDER order : {BYTEORDER_MOTOROLA, BYTEORDER_INTEL}) {
      // What one WriteArray per member writes, element by element, and an Int32 after them.
      const Int64 bytes = Int64(row.count) * row.size;
      const Int32 stored = row.type == HYPERFILEARRAY_FLOAT ? HYPERFILEARRAY_FLOAT64 : row.type;
      Bytes want;
      auto put = [&](UInt64 v, Int32 width) {
        for (Int32 k = 0; k < width; ++k)
          want.push_back(UChar(v >> 8 * (order == BYTEORDER_MOTOROLA ? width - 1 - k : k)));
      };
      for (Int32 m = 0; m < row.members; ++m) {
        want.push_back(HYPERFILEVALUE_ARRAY);
        put(UInt64(bytes + 1), 4);
        want.push_back(UChar(stored));
        for (Int32 r = 0; r < row.count; ++r) {
          UInt64 v = 0;
          std::memcpy(&v, &records[size_t(r) * row.stride + m * row.size], row.size);
          const UInt64 exponent = row.size == 8 ? 0x7FF0000000000000ull : 0x7F800000u;
          if (floats && (v & exponent) == exponent) v = 0;
          put(v, row.size);
        }
      }
      want.push_back(HYPERFILEVALUE_INT32);
      put(0x01020304, 4);
      auto body = [&](HyperFile& f) {
        EXPECT_TRUE(
            f.WriteArrayMembers(records.data(), row.type, row.stride, row.count, row.members));
        EXPECT_TRUE(f.WriteInt32(0x01020304));
      };
      Bytes inMemory = Write(body, false, order);
      {
        HyperFile f;
        ASSERT_TRUE(f.Open(Filename(path.c_str()), FILEOPEN_WRITE));
        f.SetByteOrder(order);
        body(f);
        ASSERT_TRUE(f.Close());
      }
      for (const Bytes& got : {inMemory, lumtest::ReadFileBytes(path)}) {
        ASSERT_EQ(want.size(), got.size()) << row.type << " " << row.count << " " << order;
        const auto at = std::mismatch(want.begin(), want.end(), got.begin()).first;
        ASSERT_TRUE(at == want.end()) << row.type << " " << row.count << " " << order
                                      << " differs at byte " << (at - want.begin());
      }
    }
  }
}
