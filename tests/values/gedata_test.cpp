// Typed values: getters with their conversions and fallbacks, copies between every pair of
// kinds, equality across kinds, the file form of every kind (literal bytes for the small ones),
// custom values the library keeps as raw chunks, and allocation failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "values/lum_basecontainer.h"
#include "values/lum_descid.h"
#include "values/lum_gemarker.h"
#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes H(const std::string& hex) { return lumtest::FromHex(hex); }
std::string Hex(const Bytes& b) { return lumtest::ToHex(b); }

// Big-endian hex of a 32-bit number.
std::string I32(Int32 v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(v));
  return buf;
}
// An Int32 value in the stream.
std::string Int(Int32 v) { return "0f" + I32(v); }

Bytes WriteValue(const GeData& d, bool* ok = nullptr,
                 Int32 version = HYPERFILE_CURRENT_VERSION) {
  lumtest::MemWriter w;
  w.hf.SetFileVersion(version);
  bool written = w.hf.WriteGeData(d);
  if (ok != nullptr) *ok = written;
  return w.FinishUnchecked();
}

// Reads one value and checks that the stream stands right after it (a trailing Int32 42).
bool ReadValue(const std::string& hex, GeData* out, Int32 version = HYPERFILE_CURRENT_VERSION) {
  lumtest::MemReader r(H(hex + Int(42)), version);
  if (!r.hf.ReadGeData(out)) return false;
  Int32 next = 0;
  EXPECT_TRUE(r.hf.ReadInt32(&next));
  EXPECT_EQ(42, next) << "the reader left the stream elsewhere";
  return true;
}

GeData FromHex(const std::string& hex, Int32 version = HYPERFILE_CURRENT_VERSION) {
  GeData d;
  EXPECT_TRUE(ReadValue(hex, &d, version)) << hex;
  return d;
}

String Str(const char* s) { return String(s, STRINGENCODING_UTF8); }

const Matrix64 kMatrix(Vector64(1, 2, 3), Vector64(4, 5, 6), Vector64(7, 8, 9),
                       Vector64(10, 11, 12));
const UChar kMarkerBytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
int g_pointee = 0;

// One sample value of every kind the library can hold.
enum Sample {
  S_NIL,
  S_VOID,
  S_INT32,
  S_FLOAT,
  S_TIME,
  S_VECTOR,
  S_MATRIX,
  S_INT64,
  S_BYTES,
  S_STRING,
  S_FILENAME,
  S_CONTAINER,
  S_MARKER,
  S_UNKNOWN,
  S_DESCID,
  S_DATETIME,
  S_PRIORITY,
  S_RAW,
  S_COUNT
};

const std::string kUnknownHex = Int(1234567) + "01 00000000 00000003" + Int(9) + "02";
const std::string kRawFontHex = Int(CUSTOMDATATYPE_FONT) + "01 00000000 00000004" +
                                "82 00000004 0048 0069" + "01 00000007 00000001 15 01 02" + "02";

GeData MakeSample(int s) {
  switch (s) {
    case S_NIL:
      return GeData();
    case S_VOID:
      return GeData(&g_pointee, VOIDVALUE);
    case S_INT32:
      return GeData(7);
    case S_FLOAT:
      return GeData(2.5);
    case S_TIME:
      return GeData(BaseTime(1.0, 30.0));
    case S_VECTOR:
      return GeData(Vector64(1, -2, 3.5));
    case S_MATRIX:
      return GeData(kMatrix);
    case S_INT64:
      return GeData(Int64(1) << 40);
    case S_BYTES: {
      ByteArray b;
      b.Init("\x01\x02\x03", 3);
      return GeData(b);
    }
    case S_STRING:
      return GeData(Str("text"));
    case S_FILENAME:
      return GeData(Filename("dir/file.txt"));
    case S_CONTAINER: {
      BaseContainer bc(77);
      bc.SetInt32(1, 5);
      bc.SetString(2, Str("in"));
      return GeData(bc);
    }
    case S_MARKER:
      return GeData(GeMarker(kMarkerBytes));
    case S_UNKNOWN:
      return FromHex(kUnknownHex);
    case S_DESCID: {
      DescID id(DescLevel(5, 5, 0), DescLevel(10, 23, 0));
      return GeData(CUSTOMDATATYPE_DESCID, *reinterpret_cast<const CustomDataType*>(&id));
    }
    case S_DATETIME: {
      DateTimeData dt;
      DateTime when(2024, 2, 29, 13, 14, 15);
      dt.SetDateTime(&when, true, true);
      return GeData(CUSTOMDATATYPE_DATETIME, *reinterpret_cast<const CustomDataType*>(&dt));
    }
    case S_PRIORITY: {
      PriorityData p;
      p.first = 3;
      p.second = -4;
      p.flag = true;
      return GeData(CUSTOMDATATYPE_PRIORITY, *reinterpret_cast<const CustomDataType*>(&p));
    }
    case S_RAW:
      return FromHex(kRawFontHex);
  }
  return GeData();
}

// Same kind and same content, for every kind, also those that never compare equal.
bool SameValue(const GeData& a, const GeData& b) {
  if (a.GetType() != b.GetType()) return false;
  if (a.GetType() == VALUETYPE_VOID) return a.GetVoid() == b.GetVoid();
  if (a.GetType() == VALUETYPE_MARKER) return *a.GetMarker() == *b.GetMarker();
  return WriteValue(a) == WriteValue(b);
}

}  // namespace

// ---- getters ----

TEST(GeData, GettersConvertOnlyBetweenInt32AndFloat) {
  EXPECT_EQ(3, GeData(3.9).GetInt32());
  EXPECT_EQ(-3, GeData(-3.9).GetInt32());
  EXPECT_EQ(7.0, GeData(7).GetFloat());
  // Beyond the Int32 range the truncation saturates instead of being undefined.
  EXPECT_EQ(2147483647, GeData(1e20).GetInt32());
  EXPECT_EQ(-2147483647 - 1, GeData(-1e20).GetInt32());
  EXPECT_EQ(-2147483647 - 1, GeData(-2147483648.9).GetInt32());
  EXPECT_EQ(0, GeData(std::nan("")).GetInt32());
  EXPECT_TRUE(GeData(2).GetBool());
  EXPECT_FALSE(GeData(0).GetBool());
  lumtest::ResetAlerts();
  EXPECT_FALSE(GeData(2.0).GetBool());
  EXPECT_EQ(1, lumtest::AlertCount());
  EXPECT_EQ("source/lum_gedata", lumtest::Alerts()[0].file);
}

TEST(GeData, EachGetterOnEachKindGivesValueOrFallbackWithAlert) {
  for (int s = 0; s < S_COUNT; ++s) {
    GeData d = MakeSample(s);
    const Int32 kind = d.GetType();
    const bool nil = s == S_NIL;  // an unknown custom value reports kind 0 but is not nil
    auto expectAlert = [&](bool accepted, const char* getter) {
      EXPECT_EQ(nil || accepted ? 0 : 1, lumtest::AlertCount()) << getter << " on sample " << s;
      lumtest::ResetAlerts();
    };
    lumtest::ResetAlerts();
    Int32 i = d.GetInt32();
    expectAlert(kind == VALUETYPE_INT32 || kind == VALUETYPE_FLOAT, "GetInt32");
    EXPECT_EQ(kind == VALUETYPE_INT32 ? 7 : kind == VALUETYPE_FLOAT ? 2 : 0, i);
    Float64 f = d.GetFloat();
    expectAlert(kind == VALUETYPE_INT32 || kind == VALUETYPE_FLOAT, "GetFloat");
    EXPECT_EQ(kind == VALUETYPE_INT32 ? 7.0 : kind == VALUETYPE_FLOAT ? 2.5 : 0.0, f);
    bool b = d.GetBool();
    expectAlert(kind == VALUETYPE_INT32, "GetBool");
    EXPECT_EQ(kind == VALUETYPE_INT32, b);
    const Vector64& v = d.GetVector();
    expectAlert(kind == VALUETYPE_VECTOR, "GetVector");
    EXPECT_EQ(kind == VALUETYPE_VECTOR ? Vector64(1, -2, 3.5) : Vector64(), v);
    const String& str = d.GetString();
    expectAlert(kind == VALUETYPE_STRING, "GetString");
    EXPECT_EQ(kind == VALUETYPE_STRING ? 4 : 0, str.GetLength());
    const Filename& fn = d.GetFilename();
    expectAlert(kind == VALUETYPE_FILENAME, "GetFilename");
    EXPECT_EQ(kind == VALUETYPE_FILENAME, fn == Filename("dir/file.txt"));
    const BaseTime& t = d.GetTime();
    expectAlert(kind == VALUETYPE_TIME, "GetTime");
    EXPECT_EQ(kind == VALUETYPE_TIME ? 30.0 : 1.0, t.GetDenominator());
    BaseContainer* bc = d.GetContainer();
    expectAlert(kind == VALUETYPE_CONTAINER, "GetContainer");
    EXPECT_EQ(kind == VALUETYPE_CONTAINER, bc != nullptr && bc->GetId() == 77);
    Int64 i64 = d.GetInt64();
    expectAlert(kind == VALUETYPE_INT64, "GetInt64");
    EXPECT_EQ(kind == VALUETYPE_INT64 ? Int64(1) << 40 : 0, i64);
    const Matrix64& m = d.GetMatrix();
    expectAlert(kind == VALUETYPE_MATRIX, "GetMatrix");
    EXPECT_EQ(kind == VALUETYPE_MATRIX ? kMatrix : Matrix64(), m);
    const ByteArray& ba = d.GetByteArray();
    expectAlert(kind == VALUETYPE_BYTEARRAY, "GetByteArray");
    EXPECT_EQ(kind == VALUETYPE_BYTEARRAY ? 3 : 0, ba.length);
    void* p = d.GetVoid();
    expectAlert(kind == VALUETYPE_VOID, "GetVoid");
    EXPECT_EQ(kind == VALUETYPE_VOID ? &g_pointee : nullptr, p);
    const GeMarker* marker = d.GetMarker();
    EXPECT_EQ(kind == VALUETYPE_MARKER, marker != nullptr && *marker == GeMarker(kMarkerBytes));
    EXPECT_EQ(nullptr, d.GetBaseLink());
    EXPECT_EQ(nullptr, d.GetLink());
    expectAlert(true, "GetBaseLink");
  }
}

TEST(GeData, GetCustomDataTypeGivesThePayloadOfTheStoredKindOnly) {
  GeData i(9);
  ASSERT_NE(nullptr, i.GetCustomDataType(VALUETYPE_INT32));
  EXPECT_EQ(9, *reinterpret_cast<Int32*>(i.GetCustomDataType(VALUETYPE_INT32)));
  EXPECT_EQ(nullptr, i.GetCustomDataType(VALUETYPE_FLOAT));
  GeData v(Vector64(1, 2, 3));
  EXPECT_EQ(&v.GetVector(),
            reinterpret_cast<const Vector64*>(v.GetCustomDataType(VALUETYPE_VECTOR)));
  GeData p(&g_pointee, VOIDVALUE);
  EXPECT_EQ(static_cast<void*>(&g_pointee), p.GetCustomDataType(VALUETYPE_VOID));
  GeData dt = MakeSample(S_DATETIME);
  const DateTimeData* obj =
      reinterpret_cast<const DateTimeData*>(dt.GetCustomDataType(CUSTOMDATATYPE_DATETIME));
  ASSERT_NE(nullptr, obj);
  EXPECT_EQ(2024, obj->GetDateTime().year);
  EXPECT_EQ(nullptr, dt.GetCustomDataType(CUSTOMDATATYPE_DESCID));
  EXPECT_EQ(nullptr, GeData().GetCustomDataType(VALUETYPE_NIL));
}

TEST(GeData, MissingValuesUseTheSharedDummiesWithoutAllocating) {
  GeData nil;
  std::int64_t before = lumtest::AllocationCalls();
  EXPECT_EQ(&nil.GetString(), &GeData(1).GetString());
  EXPECT_EQ(0, nil.GetString().GetLength());
  EXPECT_EQ(Matrix64(), nil.GetMatrix());
  EXPECT_EQ(0, nil.GetByteArray().length);
  EXPECT_EQ(nullptr, nil.GetByteArray().data);
  EXPECT_EQ(before, lumtest::AllocationCalls());
}

// ---- InitType ----

TEST(GeData, InitTypeMakesTheDefaultOfEachKindAndMapsAliases) {
  GeData d;
  ASSERT_TRUE(d.InitType(VALUETYPE_MATRIX));
  EXPECT_EQ(Matrix64(), d.GetMatrix());
  ASSERT_TRUE(d.InitType(VALUETYPE_TIME));
  EXPECT_EQ(0.0, d.GetTime().GetNumerator());
  ASSERT_TRUE(d.InitType(VALUETYPE_CONTAINER));
  EXPECT_EQ(-1, d.GetContainer()->GetId());
  ASSERT_TRUE(d.InitType(VALUETYPE_MARKER));
  EXPECT_TRUE(d.GetMarker()->IsNull());
  ASSERT_TRUE(d.InitType(CUSTOMDATATYPE_DATETIME));
  const DateTimeData* dt =
      reinterpret_cast<const DateTimeData*>(d.GetCustomDataType(CUSTOMDATATYPE_DATETIME));
  EXPECT_EQ(DateTime(2000, 1, 1, 0, 0, 0), dt->GetDateTime());

  ASSERT_TRUE(d.InitType(12));
  EXPECT_EQ(VALUETYPE_STRING, d.GetType());
  ASSERT_TRUE(d.InitType(7));
  EXPECT_EQ(VALUETYPE_STRING, d.GetType());
  ASSERT_TRUE(d.InitType(3));
  EXPECT_EQ(VALUETYPE_VECTOR, d.GetType());
  ASSERT_TRUE(d.InitType(400006001));
  EXPECT_EQ(VALUETYPE_INT32, d.GetType());
  EXPECT_EQ(0, d.GetInt32());
}

TEST(GeData, InitTypeWithIdsThatAreNoKind) {
  GeData d;
  lumtest::ResetAlerts();
  EXPECT_TRUE(d.InitType(5));  // kept without payload
  EXPECT_EQ(5, d.GetType());
  EXPECT_EQ(1, lumtest::AlertCount());
  d.Free();
  EXPECT_EQ(VALUETYPE_NIL, d.GetType());

  lumtest::ResetAlerts();
  d = GeData(4);
  EXPECT_FALSE(d.InitType(1234567));  // unknown custom id: nil, silently
  EXPECT_EQ(VALUETYPE_NIL, d.GetType());
  EXPECT_EQ(0, lumtest::AlertCount());

  EXPECT_TRUE(d.InitType(VALUETYPE_LINK));  // an empty link
  EXPECT_EQ(VALUETYPE_LINK, d.GetType());
  EXPECT_EQ(nullptr, d.GetLink());
  d = GeData(4);
  EXPECT_TRUE(d.InitType(VALUETYPE_NIL));
  EXPECT_EQ(VALUETYPE_NIL, d.GetType());
  // Only custom data types are made from an object.
  lumtest::ResetAlerts();
  const DateTimeData dt;
  GeData notCustom(VALUETYPE_STRING, *reinterpret_cast<const CustomDataType*>(&dt));
  EXPECT_EQ(VALUETYPE_NIL, notCustom.GetType());
  EXPECT_EQ(1, lumtest::AlertCount());
  EXPECT_TRUE(d.InitType(VALUETYPE_UNKNOWNCUSTOM));
  EXPECT_EQ(VALUETYPE_NIL, d.GetType());  // reported as nil
  EXPECT_EQ(nullptr, d.GetUnknownCustomData());
}

TEST(GeData, SetInt32KeepsOrReplacesTheKind) {
  GeData d(Str("x"));
  d.SetInt32(4);
  EXPECT_EQ(VALUETYPE_INT32, d.GetType());
  d.SetInt32(-1);
  EXPECT_EQ(-1, d.GetInt32());
}

// ---- copy and equality ----

TEST(GeData, CopyBetweenEveryPairOfKindsIsDeepAndComplete) {
  for (int from = 0; from < S_COUNT; ++from) {
    for (int to = 0; to < S_COUNT; ++to) {
      GeData src = MakeSample(from);
      GeData dest = MakeSample(to);
      dest = src;  // in place when the kinds match
      EXPECT_TRUE(SameValue(src, dest)) << from << " into " << to;
      EXPECT_TRUE(SameValue(src, MakeSample(from))) << "source changed: " << from;
      Int32 kind = src.GetType();
      if (kind == VALUETYPE_NIL && from == S_UNKNOWN) kind = VALUETYPE_UNKNOWNCUSTOM;
      if (kind != VALUETYPE_NIL && kind != VALUETYPE_VOID && kind != VALUETYPE_INT32 &&
          kind != VALUETYPE_FLOAT && kind != VALUETYPE_INT64) {
        EXPECT_NE(src.GetCustomDataType(kind), dest.GetCustomDataType(kind))
            << "payload shared: " << from << " into " << to;
      }
    }
  }
}

TEST(GeData, CopyWithCopyDataAndSelfAssignment) {
  GeData s = MakeSample(S_BYTES);
  GeData& alias = s;
  s = alias;
  EXPECT_EQ(3, s.GetByteArray().length);
  EXPECT_EQ(0, std::memcmp(s.GetByteArray().data, "\x01\x02\x03", 3));
  GeData c = MakeSample(S_CONTAINER);
  GeData copy;
  c.CopyData(&copy, nullptr);
  EXPECT_TRUE(copy == c);
  copy.GetContainer()->SetInt32(1, 6);
  EXPECT_FALSE(copy == c);
  EXPECT_EQ(5, c.GetContainer()->GetInt32(1));
}

TEST(GeData, EqualityAcrossKinds) {
  for (int a = 0; a < S_COUNT; ++a) {
    for (int b = 0; b < S_COUNT; ++b) {
      GeData x = MakeSample(a);
      GeData y = MakeSample(b);
      // nil, markers and unknown custom values never equal anything, not even themselves
      bool never = a == S_NIL || a == S_MARKER || a == S_UNKNOWN;
      EXPECT_EQ(a == b && !never, x == y) << a << " vs " << b;
      EXPECT_EQ(!(x == y), x != y);
    }
  }
  EXPECT_TRUE(GeData(5) == GeData(5.0));
  EXPECT_TRUE(GeData(5.0) == GeData(5));
  EXPECT_FALSE(GeData(5) == GeData(5.5));
  EXPECT_FALSE(GeData(5) == GeData(Int64(5)));
  EXPECT_FALSE(GeData(std::nan("")) == GeData(std::nan("")));
  EXPECT_FALSE(GeData(BaseTime(1, 3)) == GeData(BaseTime(333, 1000)));
  EXPECT_TRUE(GeData(BaseTime(1, 30)) == GeData(BaseTime(2, 60)));
}

TEST(GeData, ByteArraysEqualOnlyWithEqualBytes) {
  ByteArray a, b;
  ASSERT_TRUE(a.Init("abcd", 4));
  ASSERT_TRUE(b.Init("abce", 4));
  EXPECT_FALSE(GeData(a) == GeData(b));
  ASSERT_TRUE(b.Init("abcd", 4));
  EXPECT_TRUE(GeData(a) == GeData(b));
  ASSERT_TRUE(b.Init("abc", 3));
  EXPECT_FALSE(GeData(a) == GeData(b));
  EXPECT_TRUE(GeData(ByteArray()) == GeData(ByteArray()));
}

TEST(GeData, CustomValuesCompareThroughTheirClass) {
  DescID wide(DescLevel(5, 0, 0));
  GeData loose(CUSTOMDATATYPE_DESCID, *reinterpret_cast<const CustomDataType*>(&wide));
  DescID narrow(DescLevel(5, 23, 1001));
  GeData tight(CUSTOMDATATYPE_DESCID, *reinterpret_cast<const CustomDataType*>(&narrow));
  EXPECT_TRUE(loose == tight);  // wildcard level equality

  PriorityData p;
  GeData a(CUSTOMDATATYPE_PRIORITY, *reinterpret_cast<const CustomDataType*>(&p));
  p.flag = true;
  GeData b(CUSTOMDATATYPE_PRIORITY, *reinterpret_cast<const CustomDataType*>(&p));
  EXPECT_FALSE(a == b);

  GeData raw1 = FromHex(kRawFontHex);
  std::string changed = kRawFontHex;
  changed.replace(changed.find("0069"), 4, "006a");
  EXPECT_TRUE(raw1 == FromHex(kRawFontHex));
  EXPECT_FALSE(raw1 == FromHex(changed));
}

// ---- ByteArray and PriorityData ----

TEST(ByteArray, InitCopiesReplacesAndFailsToEmpty) {
  ByteArray b;
  ASSERT_TRUE(b.Init("xyz", 3));
  ASSERT_TRUE(b.Init(static_cast<const char*>(b.data) + 1, 2));  // from its own buffer
  EXPECT_EQ(2, b.length);
  EXPECT_EQ(0, std::memcmp(b.data, "yz", 2));
  ASSERT_TRUE(b.Init(nullptr, 4));
  EXPECT_EQ(4, b.length);
  ASSERT_TRUE(b.Init(nullptr, 0));
  EXPECT_EQ(nullptr, b.data);
  ASSERT_TRUE(b.Init("q", 1));
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(b.Init("long", 4));
  }
  EXPECT_EQ(0, b.length);
  EXPECT_EQ(nullptr, b.data);
}

TEST(PriorityData, SetPriorityValueTakesInt32ValuesForThreeFields) {
  PriorityData p;
  EXPECT_TRUE(p.SetPriorityValue(0, GeData(4)));
  EXPECT_TRUE(p.SetPriorityValue(1, GeData(-9)));
  EXPECT_TRUE(p.SetPriorityValue(2, GeData(3)));
  EXPECT_FALSE(p.SetPriorityValue(3, GeData(1)));
  EXPECT_FALSE(p.SetPriorityValue(0, GeData(1.0)));
  EXPECT_FALSE(p.SetPriorityValue(0, GeData(Int64(1))));
  EXPECT_EQ(4, p.first);
  EXPECT_EQ(-9, p.second);
  EXPECT_TRUE(p.flag);
  EXPECT_EQ(4, p.GetPriorityValue(0).GetInt32());
  EXPECT_EQ(-9, p.GetPriorityValue(1).GetInt32());
  EXPECT_EQ(1, p.GetPriorityValue(2).GetInt32());
  EXPECT_EQ(VALUETYPE_NIL, p.GetPriorityValue(3).GetType());
  PriorityData q;
  EXPECT_FALSE(q.IsEqual(&p));
  p.CopyTo(&q);
  EXPECT_TRUE(q.IsEqual(&p));
}

// ---- file form ----

TEST(GeDataFile, SmallKindsWriteLiteralBytes) {
  struct Case {
    GeData value;
    std::string hex;
  };
  std::vector<Case> cases;
  cases.push_back({GeData(), Int(0)});
  cases.push_back({GeData(&g_pointee, VOIDVALUE), Int(14)});
  cases.push_back({GeData(7), Int(15) + Int(7)});
  cases.push_back({GeData(-2.0), Int(19) + "13 c000000000000000"});
  cases.push_back({GeData(Int64(0x0102030405060708LL)), Int(26) + "11 0102030405060708"});
  cases.push_back({GeData(BaseTime(2.0, 60.0)), Int(22) + "16 3ff0000000000000 403e000000000000"});
  cases.push_back({GeData(Vector64(1, 2, 3)),
                   Int(23) + "17 3ff0000000000000 4000000000000000 4008000000000000"});
  cases.push_back({GeData(Str("Hi")), Int(130) + "82 00000004 0048 0069"});
  cases.push_back({GeData(Filename("a/")), Int(131) + "83 00000002 0061"});
  cases.push_back({MakeSample(S_BYTES), Int(128) + "80 00000003 010203"});
  cases.push_back({GeData(ByteArray()), Int(128) + "80 00000000"});
  cases.push_back({GeData(GeMarker(kMarkerBytes)), Int(256)});
  cases.push_back({MakeSample(S_DATETIME), Int(CUSTOMDATATYPE_DATETIME) + "01 00000000 00000000" +
                                               Int(2024) + Int(2) + Int(29) + Int(13) + Int(14) +
                                               Int(15) + "02"});
  cases.push_back({MakeSample(S_PRIORITY), Int(CUSTOMDATATYPE_PRIORITY) + "01 00000000 00000000" +
                                               Int(-4) + Int(3) + "15 01 02"});
  cases.push_back({MakeSample(S_DESCID), Int(CUSTOMDATATYPE_DESCID) + "01 00000000 00000005" +
                                             "01 00000001 00000002" + Int(2) + Int(5) + Int(5) +
                                             Int(0) + Int(10) + Int(23) + Int(0) + "02 02"});
  cases.push_back({MakeSample(S_CONTAINER), Int(132) + "01 00000084 00000001" + Int(77) + Int(1) +
                                                Int(15) + Int(5) + Int(2) + Int(130) +
                                                "82 00000004 0069 006e 02"});
  for (const Case& c : cases) {
    bool ok = false;
    Bytes written = WriteValue(c.value, &ok);
    EXPECT_TRUE(ok) << c.hex;
    EXPECT_EQ(lumtest::NormHex(c.hex), Hex(written));
  }
}

TEST(GeDataFile, EveryReadableKindRoundTrips) {
  for (int s = 0; s < S_COUNT; ++s) {
    if (s == S_MARKER) continue;  // written as the id alone, not readable
    GeData value = MakeSample(s);
    Bytes bytes = WriteValue(value);
    GeData back(Str("previous content"));
    ASSERT_TRUE(ReadValue(Hex(bytes), &back)) << s;
    if (s == S_VOID) {
      EXPECT_EQ(VALUETYPE_VOID, back.GetType());
      EXPECT_EQ(nullptr, back.GetVoid());  // pointers read back as null
      continue;
    }
    EXPECT_TRUE(SameValue(value, back)) << s;
    if (s != S_NIL && s != S_UNKNOWN) {
      EXPECT_TRUE(value == back) << s;
    }
  }
}

TEST(GeDataFile, UnreadableIdsFailAndLeaveNil) {
  for (Int32 id : {Int32(VALUETYPE_MARKER), Int32(VALUETYPE_UNKNOWNCUSTOM), Int32(5), Int32(-1)}) {
    lumtest::MemReader r(H(Int(id)));
    GeData d(3);
    EXPECT_FALSE(r.hf.ReadGeData(&d)) << id;
    EXPECT_EQ(VALUETYPE_NIL, d.GetType());
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError());
  }
  // A custom id must be followed by a chunk.
  lumtest::MemReader r(H(Int(CUSTOMDATATYPE_DATETIME) + Int(1)));
  GeData d;
  EXPECT_FALSE(r.hf.ReadGeData(&d));
  EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError());
  // A value cut short.
  lumtest::MemReader cut(H(Int(VALUETYPE_VECTOR) + "17 3ff0000000000000"));
  EXPECT_FALSE(cut.hf.ReadGeData(&d));
  EXPECT_EQ(VALUETYPE_NIL, d.GetType());
}

TEST(GeDataFile, KnownCustomTypesSkipFieldsAddedByLaterWriters) {
  std::string hex = Int(CUSTOMDATATYPE_DATETIME) + "01 00000000 00000003" + Int(1999) + Int(12) +
                    Int(31) + Int(23) + Int(59) + Int(58) + "82 00000002 0041" +
                    "01 00000009 00000000 02" + "02";
  GeData d = FromHex(hex);
  ASSERT_EQ(CUSTOMDATATYPE_DATETIME, d.GetType());
  const DateTimeData* dt =
      reinterpret_cast<const DateTimeData*>(d.GetCustomDataType(CUSTOMDATATYPE_DATETIME));
  EXPECT_EQ(DateTime(1999, 12, 31, 23, 59, 58), dt->GetDateTime());
  // Written back under its own level, without the fields it does not know.
  EXPECT_EQ(lumtest::NormHex(Int(CUSTOMDATATYPE_DATETIME) + "01 00000000 00000000" + Int(1999) +
                             Int(12) + Int(31) + Int(23) + Int(59) + Int(58) + "02"),
            Hex(WriteValue(d)));
}

TEST(GeDataFile, UnknownCustomIdFromACurrentFileIsWrittenBackUnchanged) {
  GeData d = FromHex(kUnknownHex, 12000);
  EXPECT_EQ(VALUETYPE_NIL, d.GetType());
  const UnknownCustomData* rec = d.GetUnknownCustomData();
  ASSERT_NE(nullptr, rec);
  EXPECT_EQ(1234567, rec->originalType);
  EXPECT_EQ(3, rec->level);
  EXPECT_EQ(6, rec->size);  // the Int32 value and the end byte
  EXPECT_EQ(lumtest::NormHex(kUnknownHex), Hex(WriteValue(d)));
  GeData copy = d;
  EXPECT_EQ(lumtest::NormHex(kUnknownHex), Hex(WriteValue(copy)));
  EXPECT_FALSE(copy == d);
}

TEST(GeDataFile, UnknownCustomIdKeepsContentsStoredUnderLevelMinusOne) {
  // Only dropped contents are written as an empty chunk; a chunk level of -1 in the file does
  // not lose what the chunk holds.
  std::string hex = Int(1234567) + "01 00000000 ffffffff" + Int(5) + "02";
  GeData d = FromHex(hex);
  ASSERT_NE(nullptr, d.GetUnknownCustomData());
  EXPECT_EQ(lumtest::NormHex(hex), Hex(WriteValue(d)));
}

TEST(GeDataFile, UnknownCustomIdFromAnOldFileLosesItsContents) {
  GeData d = FromHex(kUnknownHex, 11000);
  const UnknownCustomData* rec = d.GetUnknownCustomData();
  ASSERT_NE(nullptr, rec);
  EXPECT_EQ(-1, rec->level);
  EXPECT_EQ(0, rec->size);
  EXPECT_EQ(lumtest::NormHex(Int(1234567) + "01 00000000 ffffffff 02"), Hex(WriteValue(d)));

  // Ids on the keep list survive old files, into a file of the same layout only: a current
  // one gets the id with an empty chunk.
  std::string kept = Int(1009617) + "01 00000000 00000002" + Int(9) + "02";
  GeData k = FromHex(kept, 11000);
  ASSERT_NE(nullptr, k.GetUnknownCustomData());
  EXPECT_EQ(lumtest::NormHex(kept), Hex(WriteValue(k, nullptr, 11000)));
  EXPECT_EQ(lumtest::NormHex(Int(1009617) + "01 00000000 00000002 02"), Hex(WriteValue(k)));
}

TEST(GeDataFile, EveryListedTypeWithoutOwnClassRoundTripsItsBytes) {
  const Int32 rawIds[] = {
      CUSTOMDATATYPE_LENSGLOW,       CUSTOMDATATYPE_FONT,
      CUSTOMDATATYPE_MATPREVIEW,     CUSTOMDATATYPE_LISTVIEW,  CUSTOMDATATYPE_ITEMLIST,
      CUSTOMDATATYPE_SPREADSHEET,    CUSTOMDATATYPE_ITEMTREE,  CUSTOMDATATYPE_DYNAMICSPLINE,
      CUSTOMDATATYPE_XRLAYERS,       CUSTOMDATATYPE_PLA,       CUSTOMDATATYPE_REALARRAY,
      CUSTOMDATATYPE_COLORPROFILE,   CUSTOMDATATYPE_UNITSCALE, CUSTOMDATATYPE_RANGE,
      CUSTOMDATATYPE_FIELD,          CUSTOMDATATYPE_SKYOBJECTS};
  const std::string body = "0f 00000001 13 4000000000000000 80 00000002 abcd" +
                           std::string("01 00000003 00000001 01 00000004 00000000 02 15 00 02");
  for (Int32 id : rawIds) {
    ASSERT_TRUE(GeIsKnownCustomDataType(id));
    for (Int32 level : {GeGetCustomDataTypeLevel(id), 42}) {
      for (const std::string& contents : {body, std::string()}) {
        std::string hex = Int(id) + "01 00000000" + I32(level) + contents + "02";
        GeData d;
        ASSERT_TRUE(ReadValue(hex, &d, 11000)) << id;  // kept even from old files
        EXPECT_EQ(id, d.GetType());
        EXPECT_EQ(lumtest::NormHex(hex), Hex(WriteValue(d, nullptr, 11000))) << id;
        GeData copy;
        d.CopyData(&copy, nullptr);
        EXPECT_TRUE(copy == d);
        EXPECT_EQ(lumtest::NormHex(hex), Hex(WriteValue(copy, nullptr, 11000))) << id;
        // Into a current file the contents go, the chunk stays.
        EXPECT_EQ(lumtest::NormHex(Int(id) + "01 00000000" + I32(level) + "02"),
                  Hex(WriteValue(d)))
            << id;
      }
    }
    // No empty value is made: its empty chunk would be nothing a reader of the type accepts.
    GeData fresh(id, DEFAULTVALUE);
    EXPECT_EQ(VALUETYPE_NIL, fresh.GetType()) << id;
    EXPECT_EQ(lumtest::NormHex(Int(0)), Hex(WriteValue(fresh))) << id;
    GeData init(5);
    EXPECT_FALSE(init.InitType(id)) << id;
    EXPECT_EQ(VALUETYPE_NIL, init.GetType()) << id;
    RawCustomData none;
    EXPECT_EQ(VALUETYPE_NIL, GeData(id, *reinterpret_cast<const CustomDataType*>(&none)).GetType());
    // The bytes of a stored value make one, written back under their own level.
    GeData stored = FromHex(Int(id) + "01 00000000 00000003" + body + "02");
    GeData made(id, *stored.GetCustomDataType(id));
    EXPECT_EQ(Hex(WriteValue(stored)), Hex(WriteValue(made))) << id;
  }
}

TEST(GeDataFile, DescIdValuesReadOldChunkLevels) {
  // A level-1 DescID chunk has no creator fields.
  std::string hex = Int(CUSTOMDATATYPE_DESCID) + "01 00000000 00000005" + "01 00000001 00000001" +
                    Int(1) + Int(8) + Int(23) + "02 02";
  GeData d = FromHex(hex);
  const DescID* id = reinterpret_cast<const DescID*>(d.GetCustomDataType(CUSTOMDATATYPE_DESCID));
  ASSERT_NE(nullptr, id);
  EXPECT_EQ(1, id->GetDepth());
  EXPECT_EQ(8, (*id)[0].id);
  EXPECT_EQ(23, (*id)[0].dataType);
  // A negative value chunk level reads nothing from the chunk.
  GeData empty = FromHex(Int(CUSTOMDATATYPE_DESCID) + "01 00000000 ffffffff" + Int(1) + "02");
  id = reinterpret_cast<const DescID*>(empty.GetCustomDataType(CUSTOMDATATYPE_DESCID));
  ASSERT_NE(nullptr, id);
  EXPECT_EQ(0, id->GetCount());
}

TEST(GeDataFile, WriteFailsWithTheStream) {
  lumtest::MemWriter w;
  w.hf.SetError(FILEERROR_WRITE);
  for (int s = 0; s < S_COUNT; ++s) EXPECT_FALSE(w.hf.WriteGeData(MakeSample(s))) << s;
  w.FinishUnchecked();
}

TEST(GeDataFile, EveryKindFailsWithTheWriteErrorWhereverTheDiskFills) {
  for (int s = 0; s < S_COUNT; ++s) {
    const GeData value = MakeSample(s);
    const Int64 n = static_cast<Int64>(WriteValue(value).size());
    for (Int64 room = 0; room <= n; ++room) {
      lumtest::FullFileWriter w(room);
      EXPECT_EQ(room == n, w.hf.WriteGeData(value)) << s << " with room for " << room;
      EXPECT_EQ(room == n ? FILEERROR_NONE : FILEERROR_WRITE, w.hf.GetError())
          << s << " with room for " << room;
    }
  }
}

TEST(GeDataFile, EveryCutOfAStoredValueFailsAndLeavesNil) {
  for (int s = 0; s < S_COUNT; ++s) {
    if (s == S_MARKER) continue;  // not readable at all
    const Bytes full = WriteValue(MakeSample(s));
    for (size_t n = 0; n < full.size(); ++n) {
      lumtest::MemReader r(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
      GeData d(Str("previous"));
      EXPECT_FALSE(r.hf.ReadGeData(&d)) << s << " cut to " << n;
      EXPECT_EQ(VALUETYPE_NIL, d.GetType()) << s << " cut to " << n;
      EXPECT_EQ(nullptr, d.GetUnknownCustomData()) << s << " cut to " << n;
    }
  }
}

// ---- allocation failures ----

namespace {

struct SampleCtx {
  int sample;
  int other;
};

// Every allocating constructor, from arguments built before the failure is armed: the value is
// nil or complete.
bool ConstructUnderFailure(std::int64_t failAt, void* ctx) {
  int s = static_cast<SampleCtx*>(ctx)->sample;
  lumtest::StopFailing();
  GeData proto = MakeSample(s);
  Int32 kind = proto.GetType();
  lumtest::FailNthAllocation(failAt);
  GeData d;
  switch (s) {
    case S_TIME:
      d = GeData(proto.GetTime());
      break;
    case S_VECTOR:
      d = GeData(proto.GetVector());
      break;
    case S_MATRIX:
      d = GeData(proto.GetMatrix());
      break;
    case S_BYTES:
      d = GeData(proto.GetByteArray());
      break;
    case S_STRING:
      d = GeData(proto.GetString());
      break;
    case S_FILENAME:
      d = GeData(proto.GetFilename());
      break;
    case S_CONTAINER:
      d = GeData(*proto.GetContainer());
      break;
    case S_MARKER:
      d = GeData(*proto.GetMarker());
      break;
    case S_DESCID:
    case S_DATETIME:
    case S_PRIORITY:
    case S_RAW:
      d = GeData(kind, *proto.GetCustomDataType(kind));
      break;
    default:
      d = GeData(proto);
      break;  // the copy constructor
  }
  lumtest::StopFailing();
  return d.GetType() == VALUETYPE_NIL || SameValue(d, proto);
}

bool CopyUnderFailure(std::int64_t failAt, void* ctx) {
  SampleCtx* c = static_cast<SampleCtx*>(ctx);
  lumtest::StopFailing();
  GeData src = MakeSample(c->sample);
  GeData dest = MakeSample(c->other);
  lumtest::FailNthAllocation(failAt);
  dest = src;
  lumtest::StopFailing();
  return dest.GetType() == VALUETYPE_NIL || SameValue(src, dest);
}

bool InitTypeUnderFailure(std::int64_t, void* ctx) {
  Int32 type = static_cast<SampleCtx*>(ctx)->sample;
  GeData d;
  lumtest::ResetAlerts();
  bool ok = d.InitType(type);
  if (ok) return d.GetType() == type;
  return d.GetType() == VALUETYPE_NIL && lumtest::AlertCount() == 1;
}

}  // namespace

TEST(GeDataAlloc, ConstructorsLeaveNilOrACompleteValue) {
  for (int s = 0; s < S_COUNT; ++s) {
    SampleCtx ctx{s, 0};
    lumtest::SweepAllocationFailures("construct", ConstructUnderFailure, &ctx);
  }
}

TEST(GeDataAlloc, CopiesLeaveNilOrACompleteValue) {
  for (int s = 0; s < S_COUNT; ++s) {
    for (int o : {int(S_NIL), s, int(S_STRING), int(S_PRIORITY)}) {
      SampleCtx ctx{s, o};
      lumtest::SweepAllocationFailures("copy", CopyUnderFailure, &ctx);
    }
  }
}

TEST(GeDataAlloc, InitTypeFailsToNilWithAlert) {
  for (Int32 type : {Int32(VALUETYPE_TIME), Int32(VALUETYPE_VECTOR), Int32(VALUETYPE_MATRIX),
                     Int32(VALUETYPE_BYTEARRAY), Int32(VALUETYPE_STRING), Int32(VALUETYPE_FILENAME),
                     Int32(VALUETYPE_CONTAINER), Int32(VALUETYPE_MARKER), CUSTOMDATATYPE_DESCID,
                     CUSTOMDATATYPE_DATETIME, CUSTOMDATATYPE_PRIORITY, CUSTOMDATATYPE_SPLINE}) {
    SampleCtx ctx{type, 0};
    EXPECT_GT(lumtest::SweepAllocationFailures("InitType", InitTypeUnderFailure, &ctx), 0);
  }
}

TEST(GeDataAlloc, ReadsFailWithOutOfMemoryAndLeaveNil) {
  for (int s = 0; s < S_COUNT; ++s) {
    if (s == S_MARKER) continue;
    Bytes bytes = WriteValue(MakeSample(s));
    // Each allocation the read makes, failed in turn (the reader's own come first).
    for (std::int64_t n = 1; n < 1000; ++n) {
      lumtest::MemReader r(bytes);
      GeData d;
      lumtest::FailNthAllocation(n);
      bool ok = r.hf.ReadGeData(&d);
      bool failed = lumtest::InjectedFailureHappened();
      lumtest::StopFailing();
      if (!failed) {
        EXPECT_TRUE(ok) << s;
        break;
      }
      if (!ok) {
        EXPECT_EQ(VALUETYPE_NIL, d.GetType()) << s;
        EXPECT_NE(FILEERROR_NONE, r.hf.GetError()) << s;
      }
    }
  }
}
