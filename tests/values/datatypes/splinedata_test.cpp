// Spline curves: the defaults and their literal bytes, every chunk level a file may hold, the
// legacy switch, comparison over every field, copies, the |cos| preset, flip and range edits,
// and knot counts the stream cannot hold.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using Bytes = std::vector<unsigned char>;

namespace {

constexpr Float64 kPi = 3.14159265358979323846;

std::string I32(Int32 v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(v));
  return buf;
}
std::string Int(Int32 v) { return "0f" + I32(v); }
std::string Flt(Float64 f) {
  UInt64 bits;
  std::memcpy(&bits, &f, 8);
  char buf[32];
  std::snprintf(buf, sizeof buf, "13%016llx", static_cast<unsigned long long>(bits));
  return buf;
}
std::string BoolV(bool b) { return b ? "15 01" : "15 00"; }
std::string Ascii(const char* s) {
  std::string hex = "82" + I32(static_cast<Int32>(2 * std::strlen(s)));
  for (const char* p = s; *p != 0; ++p) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "00%02x", static_cast<unsigned>(*p));
    hex += buf;
  }
  return hex;
}

std::string Hex(const Bytes& b) { return lumtest::ToHex(b); }

Bytes WriteValue(const GeData& d) {
  lumtest::MemWriter w;
  EXPECT_TRUE(w.hf.WriteGeData(d));
  return w.Finish();
}

iSpline* Of(const GeData& d) {
  return static_cast<iSpline*>(SplineData::From(d.GetCustomDataType(CUSTOMDATATYPE_SPLINE)));
}

// Reads one value from bytes, which it must use up.
bool ReadBytes(const Bytes& b, GeData* out, Int32 version = HYPERFILE_CURRENT_VERSION) {
  lumtest::MemReader r(b, version);
  const bool ok = r.hf.ReadGeData(out);
  if (ok) {
    EXPECT_TRUE(r.AtEnd());
  }
  return ok;
}

// A curve with every field away from its default.
void FillSample(iSpline* s) {
  s->knots.Resize(2);
  for (Int32 i = 0; i < 2; ++i) {
    CustomSplineKnot& k = s->knots[i];
    k.vPos = Vector64(0.25 + i, 0.5 - i, 0.0);
    k.lFlagID = ((i + 7) << 16) | (3 + i);
    k.bKnotSwitch = i == 1;
    k.vTangentLeft = Vector64(-0.1, 0.2 + i, 0.0);
    k.vTangentRight = Vector64(0.1, -0.2 - i, 0.0);
    k.lKnotValue = 40 + i;
  }
  s->valueA = 1.5;
  s->SetRange(-1, 2, 0.5, -3, 4, 0.25);
  s->rangeMode = 3;
  s->valueB = 0.125;
  s->valueC = 0.375;
  s->valueD = 2.5;
  s->valueE = 3.5;
  s->s1 = true;
  s->s3 = true;
  s->formula = String("x * x");
}

// The chunk a writer of `level` makes of s (the layouts of older files).
Bytes LevelBytes(Int32 level, const iSpline& s) {
  return lumtest::WriteStream([&](HyperFile& hf) {
    bool ok = hf.WriteInt32(CUSTOMDATATYPE_SPLINE) && hf.WriteChunkStart(0, level) &&
              hf.WriteInt32(s.knots.GetCount()) && hf.WriteFloat(s.valueA);
    if (level > 0)
      for (const CustomSplineKnot& k : s.knots)
        ok = ok && hf.WriteBool(true) && hf.WriteVector(k.vPos);
    if (level > 1)
      for (Int32 i = 0; i < s.knots.GetCount(); ++i) ok = ok && hf.WriteInt32(99);
    if (level >= 4) ok = ok && hf.WriteString(s.formula);
    if (level >= 5) {
      for (const CustomSplineKnot& k : s.knots)
        ok = ok && hf.WriteBool(k.bKnotSwitch) && hf.WriteVector(k.vTangentLeft) &&
             hf.WriteVector(k.vTangentRight) && hf.WriteInt32(k.lFlagID) &&
             hf.WriteInt32(k.lKnotValue);
      ok = ok && hf.WriteInt32(0);
    }
    if (level > 5) {
      ok = ok && (level <= 8 ? hf.WriteBool(s.rangeMode != 0) : hf.WriteInt32(s.rangeMode)) &&
           hf.WriteFloat(s.xMin) && hf.WriteFloat(s.xMax) && hf.WriteFloat(s.yMin) &&
           hf.WriteFloat(s.yMax) && hf.WriteFloat(s.valueB) && hf.WriteFloat(s.valueD) &&
           hf.WriteFloat(s.valueC) && hf.WriteFloat(s.valueE);
    }
    if (level > 6) ok = ok && hf.WriteBool(s.s1) && hf.WriteBool(s.s2) && hf.WriteBool(s.s3);
    if (level > 7) ok = ok && hf.WriteBool(true);  // the legacy switch
    return ok && hf.WriteChunkEnd();
  });
}

}  // namespace

TEST(SplineData, NewCurveHasTheDefaultsAndTheirBytes) {
  GeData d(CUSTOMDATATYPE_SPLINE, DEFAULTVALUE);
  const iSpline* s = Of(d);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(0, s->GetKnotCount());
  EXPECT_EQ(0.1, s->xStep);
  EXPECT_EQ(0.1, s->yStep);
  EXPECT_FALSE(s->s4);
  const std::string hex = Int(CUSTOMDATATYPE_SPLINE) + "01 00000000 00000009" + Int(0) + Flt(1.0) +
                          Ascii("sin(x * pi)") + Int(0) + Int(0) + Flt(0) + Flt(1) + Flt(0) +
                          Flt(1) + Flt(0) + Flt(1) + Flt(0) + Flt(1) + BoolV(false) + BoolV(false) +
                          BoolV(false) + BoolV(false) + "02";
  EXPECT_EQ(lumtest::NormHex(hex), Hex(WriteValue(d)));
  GeData back;
  ASSERT_TRUE(ReadBytes(lumtest::FromHex(hex), &back));
  EXPECT_TRUE(back == d);
}

TEST(SplineData, FullCurveRoundTripsByteForByte) {
  GeData d(CUSTOMDATATYPE_SPLINE, DEFAULTVALUE);
  FillSample(Of(d));
  const Bytes bytes = WriteValue(d);
  GeData back;
  ASSERT_TRUE(ReadBytes(bytes, &back));
  // The steps and S4 are not stored.
  Of(back)->xStep = 0.5;
  Of(back)->yStep = 0.25;
  EXPECT_TRUE(back == d);
  EXPECT_EQ(Hex(bytes), Hex(WriteValue(back)));
  // Copies are equal and write the same bytes.
  GeData copy;
  d.CopyData(&copy, nullptr);
  EXPECT_TRUE(copy == d);
  EXPECT_EQ(Hex(bytes), Hex(WriteValue(copy)));
  GeData over(CUSTOMDATATYPE_SPLINE, DEFAULTVALUE);
  d.CopyData(&over, nullptr);  // in place
  EXPECT_TRUE(over == d);
  EXPECT_EQ(String("x * x"), Of(over)->formula);
}

TEST(SplineData, EveryLevelReadsItsFields) {
  iSpline sample;
  FillSample(&sample);
  struct Case {
    Int32 level;
    Int32 knots;
    bool ids;       // ids assigned by the reader (levels 1 and 2)
    bool formula;   // level 4 on
    bool details;   // tangents, flags and knot values: level 5 on
    Int32 range;    // range mode read: -1 none, else the value
    bool switches;  // S1..S3: level 7 on
    bool legacy;    // level 8 on
  } cases[] = {
      {0, 0, false, false, false, -1, false, false}, {1, 2, true, false, false, -1, false, false},
      {2, 2, true, false, false, -1, false, false},  {3, 2, false, false, false, -1, false, false},
      {4, 2, false, true, false, -1, false, false},  {5, 2, false, true, true, -1, false, false},
      {6, 2, false, true, true, 1, false, false},    {7, 2, false, true, true, 1, true, false},
      {8, 2, false, true, true, 1, true, true},      {9, 2, false, true, true, 3, true, true},
      {12, 2, false, true, true, 3, true, true},
  };
  const iSpline fresh;
  for (const Case& c : cases) {
    GeData d;
    ASSERT_TRUE(ReadBytes(LevelBytes(c.level, sample), &d)) << c.level;
    const iSpline* s = Of(d);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(1.5, s->valueA);
    ASSERT_EQ(c.knots, s->GetKnotCount()) << c.level;
    for (Int32 i = 0; i < c.knots; ++i) {
      const CustomSplineKnot& k = s->knots[i];
      const CustomSplineKnot& w = sample.knots[i];
      EXPECT_EQ(w.vPos, k.vPos);
      const Int32 flags = c.details ? w.lFlagID : (c.ids ? (i + 1) << 16 : 0);
      EXPECT_EQ(flags, k.lFlagID) << c.level << " knot " << i;
      EXPECT_EQ(c.details ? w.vTangentLeft : Vector64(), k.vTangentLeft) << c.level;
      EXPECT_EQ(c.details ? w.vTangentRight : Vector64(), k.vTangentRight) << c.level;
      EXPECT_EQ(c.details && w.bKnotSwitch, k.bKnotSwitch) << c.level;
      EXPECT_EQ(c.details ? w.lKnotValue : 0, k.lKnotValue) << c.level;
    }
    EXPECT_EQ(c.formula ? String("x * x") : String(), s->formula) << c.level;
    EXPECT_EQ(c.range < 0 ? 0 : c.range, s->rangeMode) << c.level;
    const iSpline& r = c.range < 0 ? fresh : sample;
    EXPECT_EQ(r.xMin, s->xMin);
    EXPECT_EQ(r.xMax, s->xMax);
    EXPECT_EQ(r.yMin, s->yMin);
    EXPECT_EQ(r.yMax, s->yMax);
    EXPECT_EQ(r.valueB, s->valueB);
    EXPECT_EQ(r.valueC, s->valueC);
    EXPECT_EQ(r.valueD, s->valueD);
    EXPECT_EQ(r.valueE, s->valueE);
    EXPECT_EQ(c.switches, s->s1 && s->s3 && !s->s2) << c.level;
    EXPECT_EQ(c.legacy, s->legacySwitch) << c.level;
    EXPECT_EQ(0.1, s->xStep);
  }
}

TEST(SplineData, LegacySwitchFollowsValueAAndTheFileVersion) {
  iSpline sample;
  FillSample(&sample);
  struct Case {
    Float64 valueA;
    Int32 version;
    bool want;
  } cases[] = {
      {1.5, 20000, false}, {1.0, 12606, false}, {1.5, 12605, true},
      {1.5, 12000, true},  {0.5, 20000, true},  {1.5, 0, false},
  };
  for (const Case& c : cases) {
    sample.valueA = c.valueA;
    GeData d;
    ASSERT_TRUE(ReadBytes(LevelBytes(7, sample), &d, c.version));  // level 7: no stored switch
    EXPECT_EQ(c.want, Of(d)->legacySwitch) << c.valueA << " " << c.version;
  }
}

TEST(SplineData, ComparisonCoversEveryField) {
  iSpline base;
  FillSample(&base);
  const std::vector<std::function<void(iSpline&)>> changes = {
      [](iSpline& s) { s.knots.Resize(1); },
      [](iSpline& s) { s.valueA = 1.25; },
      [](iSpline& s) { s.knots[1].vPos.x += 1; },
      [](iSpline& s) { s.knots[1].vPos.z = 1; },
      [](iSpline& s) { s.knots[0].vTangentLeft.z = 1; },
      [](iSpline& s) { s.knots[0].vTangentRight.y = 1; },
      [](iSpline& s) { s.knots[0].bKnotSwitch = true; },
      [](iSpline& s) { s.knots[0].lFlagID ^= 1; },
      [](iSpline& s) { s.knots[0].lKnotValue = 0; },
      [](iSpline& s) { s.xMin = 0; },
      [](iSpline& s) { s.yMin = 0; },
      [](iSpline& s) { s.xMax = 0; },
      [](iSpline& s) { s.yMax = 0; },
      [](iSpline& s) { s.xStep = 0; },
      [](iSpline& s) { s.yStep = 0; },
      [](iSpline& s) { s.rangeMode = 0; },
      [](iSpline& s) { s.formula = String("x*x"); },
      [](iSpline& s) { s.legacySwitch = true; },
      [](iSpline& s) { s.valueB = 0; },
      [](iSpline& s) { s.valueC = 0; },
      [](iSpline& s) { s.valueD = 0; },
      [](iSpline& s) { s.valueE = 0; },
      [](iSpline& s) { s.s1 = false; },
      [](iSpline& s) { s.s2 = true; },
      [](iSpline& s) { s.s3 = false; },
      [](iSpline& s) { s.s4 = true; },
  };
  const CustomDataType* a =
      reinterpret_cast<const CustomDataType*>(static_cast<SplineData*>(&base));
  for (size_t i = 0; i < changes.size(); ++i) {
    iSpline other;
    ASSERT_TRUE(other.Assign(base));
    const CustomDataType* b =
        reinterpret_cast<const CustomDataType*>(static_cast<SplineData*>(&other));
    EXPECT_EQ(0, SplineDataTypeClass::Compare(a, b)) << i;
    changes[i](other);
    EXPECT_EQ(1, SplineDataTypeClass::Compare(a, b)) << "change " << i;
  }
  // Floats compare by IEEE equality: a NaN is not even equal to itself.
  base.valueE = std::nan("");
  EXPECT_EQ(1, SplineDataTypeClass::Compare(a, a));
  EXPECT_EQ(1, SplineDataTypeClass::Compare(a, nullptr));
  EXPECT_EQ(1, SplineDataTypeClass::Compare(nullptr, nullptr));
}

TEST(SplineData, AbsCosPresetPlacesKnotsAndTangents) {
  iSpline s;
  // A count of 1 makes two knots.
  ASSERT_TRUE(s.MakeAbsCosSpline(1));
  ASSERT_EQ(2, s.GetKnotCount());
  EXPECT_EQ(Vector64(0, 1, 0), s.knots[0].vPos);
  EXPECT_EQ(1.0, s.knots[1].vPos.x);
  EXPECT_DOUBLE_EQ(1.0, s.knots[1].vPos.y);
  EXPECT_EQ(1 << 16, s.knots[0].lFlagID);
  EXPECT_EQ(2 << 16, s.knots[1].lFlagID);
  EXPECT_DOUBLE_EQ(-0.125, s.knots[0].vTangentLeft.x);  // h = 5 / 2
  EXPECT_DOUBLE_EQ(0.125, s.knots[0].vTangentRight.x);

  // Three knots: the middle one at (0.5, |cos pi/2|) with tangents (-/+0.05, 0.05 pi).
  ASSERT_TRUE(s.MakeAbsCosSpline(3));
  ASSERT_EQ(3, s.GetKnotCount());
  EXPECT_EQ(0.5, s.knots[1].vPos.x);
  EXPECT_NEAR(0.0, s.knots[1].vPos.y, 1e-15);
  EXPECT_DOUBLE_EQ(-0.05, s.knots[1].vTangentLeft.x);
  EXPECT_DOUBLE_EQ(0.05 * kPi, s.knots[1].vTangentLeft.y);
  EXPECT_DOUBLE_EQ(0.05, s.knots[1].vTangentRight.x);
  EXPECT_DOUBLE_EQ(0.05 * kPi, s.knots[1].vTangentRight.y);
  for (Int32 i = 0; i < 3; ++i) EXPECT_EQ((i + 1) << 16, s.knots[i].lFlagID);

  // Four knots over a range of its own.
  s.SetRange(2, 4, 0.5, -1, 1, 0.5);
  ASSERT_TRUE(s.MakeAbsCosSpline(4));
  const CustomSplineKnot& k = s.knots[1];  // t = 1/3
  EXPECT_DOUBLE_EQ(2 + 2.0 / 3.0, k.vPos.x);
  EXPECT_NEAR(0.0, k.vPos.y, 1e-15);  // -1 + |cos pi/3| * 2
  const Float64 g = -kPi * std::sin(kPi / 3);
  EXPECT_DOUBLE_EQ(-0.05 * 1.25 * 2, k.vTangentLeft.x);
  EXPECT_DOUBLE_EQ(-0.05 * 1.25 * g * 2, k.vTangentLeft.y);
  EXPECT_DOUBLE_EQ(-k.vTangentLeft.y, k.vTangentRight.y);
  EXPECT_DOUBLE_EQ(-0.05 * 1.25 * kPi * std::sin(2 * kPi / 3) * 2, s.knots[2].vTangentLeft.y);

  // A count of 0 or less reshapes the knots there are and keeps their flags.
  s.knots[2].lFlagID = 77;
  s.knots[2].lKnotValue = 5;
  s.knots[2].vPos.z = 3;
  ASSERT_TRUE(s.MakeAbsCosSpline(0));
  EXPECT_EQ(4, s.GetKnotCount());
  EXPECT_EQ(77, s.knots[2].lFlagID);
  EXPECT_EQ(0, s.knots[2].lKnotValue);
  EXPECT_EQ(0.0, s.knots[2].vPos.z);
  s.knots.Resize(1);
  ASSERT_TRUE(s.MakeAbsCosSpline(-2));
  EXPECT_EQ(Vector64(0, 1, 0), s.knots[0].vPos);
}

TEST(SplineData, FlipMirrorsKnotsAndTangents) {
  struct Case {
    std::vector<Float64> ys;
    std::vector<Float64> want;
  } cases[] = {
      {{0.2, 0.9}, {0.9, 0.2}},
      {{0, 0.5, 1}, {1, 0.5, 0}},
      {{0.3}, {0.3}},
      {{-1, 3, 2}, {3, -1, 0}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    GeData d(CUSTOMDATATYPE_SPLINE, DEFAULTVALUE);
    SplineData* s = SplineData::From(d.GetCustomDataType(CUSTOMDATATYPE_SPLINE));
    Of(d)->knots.Resize(static_cast<Int32>(c.ys.size()));
    for (size_t i = 0; i < c.ys.size(); ++i) {
      s->GetKnot(static_cast<Int32>(i))->vPos.y = c.ys[i];
      s->GetKnot(static_cast<Int32>(i))->vTangentLeft = Vector64(1, 2, 3);
    }
    s->Flip();
    for (size_t i = 0; i < c.ys.size(); ++i) {
      EXPECT_DOUBLE_EQ(c.want[i], s->GetKnot(static_cast<Int32>(i))->vPos.y) << i;
      EXPECT_EQ(Vector64(1, -2, 3), s->GetKnot(static_cast<Int32>(i))->vTangentLeft);
    }
    EXPECT_EQ(nullptr, s->GetKnot(static_cast<Int32>(c.ys.size())));
  }
}

TEST(SplineData, KnotCountsBeyondTheStreamFailBeforeAllocating) {
  for (Int32 level : {1, 5, 9}) {
    const std::string hex = Int(CUSTOMDATATYPE_SPLINE) + "01 00000000" + I32(level) +
                            Int(100000000) + Flt(1) + BoolV(true) + "02";
    lumtest::MemReader r(hex);
    GeData d(5);
    const std::int64_t calls = lumtest::AllocationCalls();
    EXPECT_FALSE(r.hf.ReadGeData(&d));
    EXPECT_EQ(VALUETYPE_NIL, d.GetType());
    EXPECT_EQ(FILEERROR_READ, r.hf.GetError());
    EXPECT_LT(lumtest::AllocationCalls() - calls, 10);
  }
  // Without knot blocks (level 0) the count is read and nothing is allocated for it.
  GeData d;
  ASSERT_TRUE(ReadBytes(lumtest::FromHex(Int(CUSTOMDATATYPE_SPLINE) + "01 00000000 00000000" +
                                         Int(100000000) + Flt(1) + "02"),
                        &d));
  EXPECT_EQ(0, Of(d)->GetKnotCount());
  // A cut inside the knots fails to nil.
  iSpline sample;
  FillSample(&sample);
  Bytes b = LevelBytes(9, sample);
  for (size_t cut : {size_t(20), size_t(60), b.size() / 2, b.size() - 2}) {
    lumtest::MemReader r(Bytes(b.begin(), b.begin() + static_cast<long>(cut)));
    GeData v(5);
    EXPECT_FALSE(r.hf.ReadGeData(&v)) << cut;
    EXPECT_EQ(VALUETYPE_NIL, v.GetType());
  }
}
