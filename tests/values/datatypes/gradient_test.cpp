// Gradients: the container form both ways (dominant interpolation, old interpolation codes,
// value-only knots, repaired indices), the settings a gradient accepts, copies, and the file form
// at every level from literal bytes, with failures leaving nil.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using Bytes = std::vector<unsigned char>;

namespace {

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
std::string Vec(Float64 x, Float64 y, Float64 z) {
  return "17" + Flt(x).substr(2) + Flt(y).substr(2) + Flt(z).substr(2);
}
std::string BoolV(bool b) { return b ? "15 01" : "15 00"; }
// A container value's chunk with the given entries (each "id value").
std::string Bc(const std::string& entries, Int32 id = -1) {
  return "01 00000084 00000001" + Int(id) + entries + "02";
}
std::string Entry(Int32 id, const std::string& value) { return Int(id) + value; }
std::string IntValue(Int32 v) { return Int(VALUETYPE_INT32) + Int(v); }
std::string FltValue(Float64 f) { return Int(VALUETYPE_FLOAT) + Flt(f); }
std::string BcValue(const std::string& entries) { return Int(VALUETYPE_CONTAINER) + Bc(entries); }
std::string KnotBc(const GradientKnot& k) {
  return Bc(Entry(1000, Int(VALUETYPE_VECTOR) + Vec(k.col.x, k.col.y, k.col.z)) +
            Entry(1001, FltValue(k.brightness)) + Entry(1002, FltValue(k.pos)) +
            Entry(1003, FltValue(k.bias)) + Entry(1004, IntValue(k.index)) +
            Entry(1005, IntValue(k.interpolation)));
}
// A gradient's container: its knots under 1001, the interpolation under 1000.
std::string GradientBc(const std::vector<GradientKnot>& knots, Int32 interpolation) {
  std::string k;
  for (const GradientKnot& knot : knots) k += Entry(0, Int(VALUETYPE_CONTAINER) + KnotBc(knot));
  return Bc(Entry(1001, BcValue(k)) + Entry(1000, IntValue(interpolation)));
}
std::string GradientValue(Int32 level, const std::string& contents) {
  return Int(CUSTOMDATATYPE_GRADIENT) + "01 00000000" + I32(level) + contents + "02";
}

std::string Hex(const Bytes& b) { return lumtest::ToHex(b); }
std::string Norm(const std::string& hex) { return lumtest::NormHex(hex); }

Bytes WriteValue(const GeData& d) {
  lumtest::MemWriter w;
  EXPECT_TRUE(w.hf.WriteGeData(d));
  return w.Finish();
}

// Reads one value followed by Int32 42, which must be next.
bool ReadValue(const std::string& hex, GeData* out, Int32 version = HYPERFILE_CURRENT_VERSION) {
  lumtest::MemReader r(lumtest::FromHex(hex + Int(42)), version);
  if (!r.hf.ReadGeData(out)) return false;
  Int32 next = 0;
  EXPECT_TRUE(r.hf.ReadInt32(&next) && next == 42) << "the reader left the stream elsewhere";
  return true;
}

iGradient* Of(const GeData& d) {
  return static_cast<iGradient*>(Gradient::From(d.GetCustomDataType(CUSTOMDATATYPE_GRADIENT)));
}

GradientKnot Knot(Float64 pos, Int32 interpolation, Vector64 col = Vector64(1, 0.5, 0.25),
                  Float64 bias = 0.5, Int32 index = 0) {
  GradientKnot k;
  k.col = col;
  k.pos = pos;
  k.interpolation = interpolation;
  k.bias = bias;
  k.index = index;
  k.brightness = 0.75;
  return k;
}

}  // namespace

TEST(Gradient, NewGradientHasTheDefaults) {
  GeData d(CUSTOMDATATYPE_GRADIENT, DEFAULTVALUE);
  const iGradient* g = Of(d);
  ASSERT_NE(nullptr, g);
  EXPECT_EQ(0, g->GetKnotCount());
  EXPECT_EQ(nullptr, g->child);
  EXPECT_FALSE(g->valueOnly);
  EXPECT_EQ(1.0, g->scale);
  EXPECT_FALSE(g->legacyFlag || g->newInterpolationFlag);
  // An empty gradient: empty knots, interpolation 2, no child, not value-only.
  EXPECT_EQ(Norm(GradientValue(1, GradientBc({}, 2) + BoolV(false) + BoolV(false))),
            Hex(WriteValue(d)));
  const GradientKnot fresh;
  EXPECT_EQ(Vector64(1, 1, 1), fresh.col);
  EXPECT_EQ(1.0, fresh.brightness);
  EXPECT_EQ(0.5, fresh.bias);
  EXPECT_EQ(2, fresh.interpolation);
}

TEST(Gradient, DominantInterpolationIsTheMostUsedThenTheLowest) {
  struct Case {
    std::vector<std::pair<Int32, Float64>> knots;  // interpolation, position
    Int32 want;
  } cases[] = {
      {{}, 2},
      {{{3, 0.4}, {3, 0.6}, {5, 0.2}, {5, 0.9}}, 5},  // equal counts: the lower position wins
      {{{0, 0.9}}, 0},
      {{{0, 0.5}, {1, 0.6}, {1, 0.7}}, 1},
      {{{0, 0.5}, {2, 0.1}}, 2},
      {{{7, 0.5}, {6, 0.5}}, 6},   // a tie in position keeps the earlier slot
      {{{9, 0.1}, {-1, 0.1}}, 2},  // codes outside 0..7 are not counted
  };
  for (const Case& c : cases) {
    iGradient g;
    for (const auto& k : c.knots) g.knots.Append(Knot(k.second, k.first));
    BaseContainer bc;
    ASSERT_TRUE(iGradient::GradientToContainer(g, &bc));
    EXPECT_EQ(c.want, bc.GetInt32(GRADIENT_INTERPOLATION, -9)) << c.knots.size();
    EXPECT_EQ(GRADIENT_KNOT, bc.GetIndexId(0));  // the knots come first
    ASSERT_NE(nullptr, bc.GetContainerInstance(GRADIENT_KNOT));
    EXPECT_EQ(static_cast<Int32>(c.knots.size()),
              bc.GetContainerInstance(GRADIENT_KNOT)->GetCount());
  }
}

TEST(Gradient, ContainerFormRoundTripsAndWhitensValueOnlyKnots) {
  iGradient g;
  g.knots.Append(Knot(0.25, 3, Vector64(0.1, 0.2, 0.3), 0.4, 7));
  g.knots.Append(Knot(0.75, 5, Vector64(1, 0, 0), 0.6, 2));
  BaseContainer bc;
  ASSERT_TRUE(iGradient::GradientToContainer(g, &bc));
  const BaseContainer* k0 = bc.GetContainerInstance(GRADIENT_KNOT)->GetContainerInstance(0);
  ASSERT_NE(nullptr, k0);
  EXPECT_EQ(Vector64(0.1, 0.2, 0.3), k0->GetVector(GRADIENTKNOT_COLOR));
  EXPECT_EQ(0.75, k0->GetFloat(GRADIENTKNOT_BRIGHTNESS));
  EXPECT_EQ(0.4, k0->GetFloat(GRADIENTKNOT_BIAS));
  EXPECT_EQ(7, k0->GetInt32(GRADIENTKNOT_ID));

  iGradient back;
  bool flag = true;
  ASSERT_TRUE(iGradient::ContainerToGradient(bc, &back, flag));
  EXPECT_FALSE(flag);
  ASSERT_EQ(2, back.GetKnotCount());
  for (Int32 i = 0; i < 2; ++i) {
    EXPECT_EQ(0, std::memcmp(&g.knots[i], back.GetKnot(i), sizeof(GradientKnot))) << i;
  }
  // Converting again appends.
  ASSERT_TRUE(iGradient::ContainerToGradient(bc, &back, flag));
  EXPECT_EQ(4, back.GetKnotCount());

  g.valueOnly = true;
  ASSERT_TRUE(iGradient::GradientToContainer(g, &bc));
  k0 = bc.GetContainerInstance(GRADIENT_KNOT)->GetContainerInstance(0);
  EXPECT_EQ(Vector64(1, 1, 1), k0->GetVector(GRADIENTKNOT_COLOR));
  EXPECT_EQ(0.75, k0->GetFloat(GRADIENTKNOT_BRIGHTNESS));
}

TEST(Gradient, ContainerKnotsMapOldInterpolationCodes) {
  struct Case {
    Int32 interpolation;  // -1: the entry is missing
    Float64 bias;
    Int32 wantInterpolation;
    Float64 wantBias;
    bool wantFlag;
  } cases[] = {
      {4, 0.8, 3, 0.5, false}, {1, 0.8, 3, 0.8, false}, {6, 0.8, 6, 0.8, true},
      {7, 0.8, 7, 0.8, true},  {5, 0.8, 5, 0.8, false}, {-1, 0.8, 3, 0.5, false},
  };
  for (const Case& c : cases) {
    BaseContainer knot;
    knot.SetFloat(GRADIENTKNOT_BIAS, c.bias);
    if (c.interpolation >= 0) knot.SetInt32(GRADIENTKNOT_INTERPOLATION, c.interpolation);
    BaseContainer knots;
    knots.InsContainer(0, knot);
    knots.SetInt32(5, 1);  // not a knot: passed over
    BaseContainer bc;
    bc.SetContainer(GRADIENT_KNOT, knots);
    bc.SetInt32(GRADIENT_INTERPOLATION, 4);  // the default for knots without one, mapped too
    iGradient g;
    bool flag = false;
    ASSERT_TRUE(iGradient::ContainerToGradient(bc, &g, flag));
    ASSERT_EQ(1, g.GetKnotCount()) << c.interpolation;
    EXPECT_EQ(c.wantInterpolation, g.knots[0].interpolation) << c.interpolation;
    EXPECT_EQ(c.wantBias, g.knots[0].bias) << c.interpolation;
    EXPECT_EQ(c.wantFlag, flag) << c.interpolation;
    // Missing fields take zero defaults.
    EXPECT_EQ(Vector64(), g.knots[0].col);
    EXPECT_EQ(0.0, g.knots[0].brightness);
  }
  // Without knots nothing changes, the flag included.
  iGradient g;
  bool flag = true;
  EXPECT_TRUE(iGradient::ContainerToGradient(BaseContainer(), &g, flag));
  EXPECT_TRUE(flag);
  EXPECT_EQ(0, g.GetKnotCount());
}

TEST(Gradient, ValueOnlyKnotsAreWhiteWithTheColoursValue) {
  struct Case {
    Vector64 col;
    Float64 want;
  } cases[] = {
      {Vector64(0.5, 0.5, 0.5), 0.5},   {Vector64(0.2, 0.8, 0.4), 0.8},
      {Vector64(0.9995, 1, 1), 0.9995}, {Vector64(0, 0, 0), 0.0},
      {Vector64(-1, -2, -0.5), 0.0},    {Vector64(0.3, -1, 0.1), 0.3},
  };
  for (const Case& c : cases) {
    iGradient g;
    g.valueOnly = true;
    GradientKnot k;
    k.col = c.col;
    k.brightness = 2.0;
    ASSERT_EQ(0, g.InsertKnot(k));
    EXPECT_EQ(Vector64(1, 1, 1), g.knots[0].col);
    EXPECT_DOUBLE_EQ(2.0 * c.want, g.knots[0].brightness) << c.col.x;
    // The same through the container form.
    BaseContainer knot;
    knot.SetVector(GRADIENTKNOT_COLOR, c.col);
    knot.SetFloat(GRADIENTKNOT_BRIGHTNESS, 2.0);
    BaseContainer knots, bc;
    knots.InsContainer(0, knot);
    bc.SetContainer(GRADIENT_KNOT, knots);
    bool flag = false;
    ASSERT_TRUE(iGradient::ContainerToGradient(bc, &g, flag));
    EXPECT_EQ(Vector64(1, 1, 1), g.knots[1].col);
    EXPECT_DOUBLE_EQ(2.0 * c.want, g.knots[1].brightness);
  }
}

TEST(Gradient, InsertedKnotsGetIndicesAboveAllOthers) {
  GeData d(CUSTOMDATATYPE_GRADIENT, DEFAULTVALUE);
  Gradient* g = Gradient::From(d.GetCustomDataType(CUSTOMDATATYPE_GRADIENT));
  ASSERT_NE(nullptr, g);
  GradientKnot k;
  EXPECT_EQ(0, g->InsertKnot(k));
  k.index = 10;
  EXPECT_EQ(1, g->InsertKnot(k));
  k.index = -4;
  EXPECT_EQ(2, g->InsertKnot(k));
  ASSERT_EQ(3, g->GetKnotCount());
  EXPECT_EQ(1, g->GetKnot(0)->index);
  EXPECT_EQ(11, g->GetKnot(1)->index);
  EXPECT_EQ(12, g->GetKnot(2)->index);
  EXPECT_EQ(nullptr, g->GetKnot(3));
  EXPECT_EQ(nullptr, g->GetKnot(-1));
  // At the top of the range the index stays there instead of overflowing.
  k.index = 0x7FFFFFFF;
  EXPECT_EQ(3, g->InsertKnot(k));
  EXPECT_EQ(0x7FFFFFFF, g->GetKnot(3)->index);
  g->FlushKnots();
  EXPECT_EQ(0, g->GetKnotCount());
  EXPECT_EQ(0, g->InsertKnot(GradientKnot()));
  EXPECT_EQ(1, g->GetKnot(0)->index);
}

TEST(Gradient, CheckContainerRepairsIndicesAndOldChildColours) {
  BaseContainer knots;
  for (Int32 index : {0, 5, 0, 3}) {
    BaseContainer knot;
    knot.SetInt32(GRADIENTKNOT_ID, index);
    knot.SetVector(GRADIENTKNOT_COLOR, Vector64(0.5, 0.25, 1));
    knot.SetFloat(GRADIENTKNOT_BRIGHTNESS, 0.8);
    knots.InsContainer(0, knot);
  }
  knots.SetInt32(9, 4);  // no knot: passed over
  BaseContainer bc;
  bc.SetContainer(GRADIENT_KNOT, knots);
  for (int mode = 0; mode < 3; ++mode) {
    BaseContainer c(bc);
    const bool child = mode >= 1, old = mode == 2;
    ASSERT_TRUE(iGradient::CheckContainer(&c, child, old));
    std::vector<Int32> ids;
    BrowseContainer browse(c.GetContainerInstance(GRADIENT_KNOT));
    GeData* e = nullptr;
    while (browse.GetNext(nullptr, &e)) {
      const BaseContainer* k = e->GetContainer();
      if (k == nullptr) continue;
      ids.push_back(k->GetInt32(GRADIENTKNOT_ID));
      EXPECT_EQ(old ? Vector64(1, 1, 1) : Vector64(0.5, 0.25, 1), k->GetVector(GRADIENTKNOT_COLOR));
      EXPECT_EQ(old ? 0.4 : 0.8, k->GetFloat(GRADIENTKNOT_BRIGHTNESS));
    }
    EXPECT_EQ((std::vector<Int32>{6, 5, 7, 3}), ids) << mode;
  }
  EXPECT_TRUE(iGradient::CheckContainer(&knots, false, false));  // no 1001: nothing to do
}

TEST(Gradient, SetDataTakesKnotsAndModes) {
  iGradient g;
  g.InsertKnot(GradientKnot());
  EXPECT_FALSE(g.iSetData(GRADIENT_KNOT, GeData(5)));
  EXPECT_EQ(1, g.GetKnotCount());
  BaseContainer knot;
  knot.SetInt32(GRADIENTKNOT_INTERPOLATION, 7);
  knot.SetFloat(GRADIENTKNOT_POSITION, 0.5);
  BaseContainer knots;
  knots.InsContainer(0, knot);
  knots.InsContainer(0, knot);
  EXPECT_TRUE(g.iSetData(GRADIENT_KNOT, GeData(knots)));
  ASSERT_EQ(2, g.GetKnotCount());
  EXPECT_EQ(0.5, g.knots[1].pos);
  EXPECT_TRUE(g.newInterpolationFlag);

  EXPECT_TRUE(g.iSetData(GRADIENT_MODE, GeData(2)));
  ASSERT_NE(nullptr, g.child);
  EXPECT_TRUE(g.child->valueOnly);
  EXPECT_FALSE(g.valueOnly);
  EXPECT_TRUE(g.iSetData(GRADIENT_MODE, GeData(7)));  // unknown mode: no change
  EXPECT_NE(nullptr, g.child);
  EXPECT_TRUE(g.iSetData(GRADIENT_MODE, GeData(1)));
  EXPECT_EQ(nullptr, g.child);
  EXPECT_TRUE(g.valueOnly);
  EXPECT_FALSE(g.iSetData(GRADIENT_MODE, GeData(String("1"))));
  EXPECT_TRUE(g.valueOnly);
  EXPECT_TRUE(g.iSetData(GRADIENT_MODE, GeData(0)));
  EXPECT_FALSE(g.valueOnly);
  EXPECT_TRUE(g.iSetData(GRADIENT_UNCLAMPED, GeData(1)));
  EXPECT_FALSE(g.iSetData(1004, GeData(1)));
  EXPECT_EQ(2, g.GetKnotCount());
}

TEST(Gradient, CopiesAreDeepAndNeverEqual) {
  GeData a(CUSTOMDATATYPE_GRADIENT, DEFAULTVALUE);
  iGradient* g = Of(a);
  g->InsertKnot(Knot(0.3, 5));
  g->iSetData(GRADIENT_MODE, GeData(2));
  g->child->InsertKnot(Knot(0.6, 3));
  g->spareKnots.Append(Knot(0.9, 1));
  g->scale = 3.0;
  g->legacyFlag = true;
  GeData b(a);
  const iGradient* c = Of(b);
  ASSERT_NE(nullptr, c);
  ASSERT_NE(nullptr, c->child);
  EXPECT_NE(g->child, c->child);
  EXPECT_EQ(1, c->child->GetKnotCount());
  EXPECT_EQ(1, c->spareKnots.GetCount());
  EXPECT_EQ(3.0, c->scale);
  EXPECT_TRUE(c->legacyFlag);
  EXPECT_EQ(Hex(WriteValue(a)), Hex(WriteValue(b)));
  // Two gradients are never equal, not even a value and its copy.
  EXPECT_FALSE(a == b);
  EXPECT_FALSE(a == a);
  // Copying over a gradient drops its child.
  GeData plain(CUSTOMDATATYPE_GRADIENT, DEFAULTVALUE);
  plain.CopyData(&b, nullptr);
  EXPECT_EQ(nullptr, Of(b)->child);
  EXPECT_EQ(0, Of(b)->GetKnotCount());
}

TEST(GradientFile, WritesTheContainerFormAndReadsItBack) {
  GeData d(CUSTOMDATATYPE_GRADIENT, DEFAULTVALUE);
  iGradient* g = Of(d);
  g->InsertKnot(Knot(0.2, 3, Vector64(1, 0, 0), 0.4));
  g->InsertKnot(Knot(0.8, 5, Vector64(0, 1, 0), 0.6));
  g->iSetData(GRADIENT_MODE, GeData(2));
  g->child->InsertKnot(Knot(0.5, 0, Vector64(1, 1, 1)));
  std::vector<GradientKnot> want = {g->knots[0], g->knots[1]};
  const std::string hex = GradientValue(
      1, GradientBc(want, 3) + BoolV(true) + GradientBc({g->child->knots[0]}, 0) + BoolV(false));
  EXPECT_EQ(Norm(hex), Hex(WriteValue(d)));
  GeData back;
  ASSERT_TRUE(ReadValue(hex, &back));
  const iGradient* r = Of(back);
  ASSERT_NE(nullptr, r);
  ASSERT_EQ(2, r->GetKnotCount());
  EXPECT_EQ(0, std::memcmp(&want[1], r->GetKnot(1), sizeof(GradientKnot)));
  ASSERT_NE(nullptr, r->child);
  EXPECT_EQ(1, r->child->GetKnotCount());
  EXPECT_FALSE(r->legacyFlag);
  EXPECT_EQ(Norm(hex), Hex(WriteValue(back)));
}

TEST(GradientFile, ValueOnlySurvivesThroughLevelTwo) {
  GeData d(CUSTOMDATATYPE_GRADIENT, DEFAULTVALUE);
  iGradient* g = Of(d);
  g->iSetData(GRADIENT_MODE, GeData(1));
  GradientKnot k;
  k.col = Vector64(0.5, 0.5, 0.5);
  g->InsertKnot(k);
  EXPECT_EQ(0.5, g->knots[0].brightness);
  // Level 1 has no room for the flag: a value-only gradient is written at level 2.
  const std::string hex =
      GradientValue(2, GradientBc({g->knots[0]}, 2) + BoolV(false) + BoolV(true));
  EXPECT_EQ(Norm(hex), Hex(WriteValue(d)));
  GeData back;
  ASSERT_TRUE(ReadValue(hex, &back));
  EXPECT_TRUE(Of(back)->valueOnly);
  EXPECT_EQ(Norm(hex), Hex(WriteValue(back)));
  // A level-1 chunk carries the flag too, but its readers do not take it.
  ASSERT_TRUE(ReadValue(GradientValue(1, GradientBc({g->knots[0]}, 2) + BoolV(false) + BoolV(true)),
                        &back));
  EXPECT_FALSE(Of(back)->valueOnly);
  EXPECT_EQ(1, Of(back)->GetKnotCount());
}

TEST(GradientFile, OlderFilesAndLevels) {
  GradientKnot red = Knot(0.5, 2, Vector64(0.5, 0.2, 0.1), 0.5, 0);
  red.brightness = 0.8;
  const std::string body = GradientBc({red}, 2) + BoolV(true) + GradientBc({red}, 2) + BoolV(false);
  struct Case {
    Int32 version;
    Int32 level;
    bool legacy;
    Float64 childBrightness;
  } cases[] = {
      {20000, 1, false, 0.8},
      {11005, 1, false, 0.8},
      {11004, 1, true, 0.4},
      {9000, 2, true, 0.4},
  };
  for (const Case& c : cases) {
    GeData d;
    ASSERT_TRUE(ReadValue(GradientValue(c.level, body), &d, c.version)) << c.version;
    const iGradient* g = Of(d);
    ASSERT_NE(nullptr, g);
    EXPECT_EQ(c.legacy, g->legacyFlag) << c.version;
    ASSERT_EQ(1, g->GetKnotCount());
    EXPECT_EQ(1, g->knots[0].index);  // repaired
    EXPECT_EQ(Vector64(0.5, 0.2, 0.1), g->knots[0].col);
    ASSERT_NE(nullptr, g->child);
    EXPECT_DOUBLE_EQ(c.childBrightness, g->child->knots[0].brightness) << c.version;
  }
  // Level 0 and below read nothing: an empty gradient, the chunk skipped.
  for (Int32 level : {0, -3}) {
    GeData d;
    ASSERT_TRUE(ReadValue(GradientValue(level, body), &d));
    EXPECT_EQ(0, Of(d)->GetKnotCount());
    EXPECT_EQ(nullptr, Of(d)->child);
  }
  // A later level's additions are skipped.
  GeData d;
  ASSERT_TRUE(ReadValue(GradientValue(5, body + Int(77) + Flt(1.5)), &d));
  EXPECT_EQ(1, Of(d)->GetKnotCount());
}

TEST(GradientFile, BrokenChunksFailToNil) {
  const std::string good = GradientBc({Knot(0.5, 2)}, 2);
  for (const std::string& contents : {
           std::string(),                // no container
           Int(5),                       // not a container
           good,                         // no child flag
           good + BoolV(true),           // a child flag without the child
           good + BoolV(true) + Int(3),  // a child that is no container
           good + BoolV(false),          // level 2 without the flag
       }) {
    GeData d(5);
    lumtest::MemReader r(lumtest::FromHex(GradientValue(2, contents)));
    EXPECT_FALSE(r.hf.ReadGeData(&d)) << contents;
    EXPECT_EQ(VALUETYPE_NIL, d.GetType());
    EXPECT_NE(FILEERROR_NONE, r.hf.GetError());
  }
}
