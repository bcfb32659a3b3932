// Curves and keys: FindKey on every position and mode, moves between curves with the keys'
// curve pointers, the tangent computations against a separate implementation of their
// formulas on random curves, key parameters and presets, and the key and curve chunks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "anim_support.h"
#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using animtest::AddKeys;
using animtest::Bytes;

namespace {

BaseTime Sec(double s) { return BaseTime(s); }

// ---- FindKey ----

// What FindKey must give, by a linear scan.
const CKey* Expected(const CCurve& c, const BaseTime& t, FINDANIM mode, Int32* index) {
  *index = -1;
  for (Int32 i = 0; i < c.GetKeyCount(); ++i) {
    if (c.GetKey(i)->GetTime() == t) {
      *index = i;
      return c.GetKey(i);
    }
  }
  if (mode == FINDANIM_EXACT) return nullptr;
  if (mode == FINDANIM_LEFT) {
    for (Int32 i = c.GetKeyCount() - 1; i >= 0; --i)
      if (c.GetKey(i)->GetTime() < t) return *index = i, c.GetKey(i);
  } else {
    for (Int32 i = 0; i < c.GetKeyCount(); ++i)
      if (c.GetKey(i)->GetTime() > t) return *index = i, c.GetKey(i);
  }
  return nullptr;
}

TEST(CurveFindKey, EveryPositionAndModeMatchesALinearScan) {
  for (int n = 0; n <= 9; ++n) {
    CCurve c;
    for (int i = 0; i < n; ++i) ASSERT_NE(nullptr, c.AddKey(Sec(i * 2)));
    for (int probe = -2; probe <= 2 * n; ++probe) {  // on every key and between every two
      for (FINDANIM mode : {FINDANIM_EXACT, FINDANIM_LEFT, FINDANIM_RIGHT}) {
        Int32 want = 0, got = 7;
        const CKey* e = Expected(c, Sec(probe), mode, &want);
        EXPECT_EQ(e, c.FindKey(Sec(probe), &got, mode))
            << n << " keys, t " << probe << " mode " << mode;
        EXPECT_EQ(want, got) << n << " keys, t " << probe << " mode " << mode;
        const CCurve& cc = c;
        EXPECT_EQ(e, cc.FindKey(Sec(probe), nullptr, mode));
      }
    }
  }
}

TEST(CurveFindKey, FourKeyCases) {
  CCurve c;
  AddKeys(c, {{0, 0}, {1, 0}, {2, 0}, {3, 0}});
  Int32 i = 9;
  EXPECT_EQ(c.GetKey(1), c.FindKey(Sec(1.5), &i, FINDANIM_LEFT));
  EXPECT_EQ(1, i);
  EXPECT_EQ(c.GetKey(2), c.FindKey(Sec(1.5), &i, FINDANIM_RIGHT));
  EXPECT_EQ(2, i);
  EXPECT_EQ(nullptr, c.FindKey(Sec(1.5), &i, FINDANIM_EXACT));
  EXPECT_EQ(-1, i);
  EXPECT_EQ(nullptr, c.FindKey(Sec(-1), &i, FINDANIM_LEFT));
  EXPECT_EQ(-1, i);
  EXPECT_EQ(nullptr, c.FindKey(Sec(4), &i, FINDANIM_RIGHT));
  EXPECT_EQ(-1, i);
  // Equal by the time rule though written differently: 3/3 s is the key at 1 s.
  EXPECT_EQ(c.GetKey(1), c.FindKey(BaseTime(3, 3), &i, FINDANIM_EXACT));
}

// ---- adding, moving, deleting ----

TEST(CurveKeys, AddMoveAndDeleteKeepOrderListAndCurvePointers) {
  CCurve a, b;
  std::mt19937 rng(5);
  std::vector<int> times(200);
  for (int i = 0; i < 200; ++i) times[i] = i;
  std::shuffle(times.begin(), times.end(), rng);
  for (int t : times) {
    CKey* k = a.AddKey(BaseTime(t, 10));
    ASSERT_NE(nullptr, k);
    EXPECT_EQ(&a, k->GetCurve());
  }
  EXPECT_EQ(a.GetKey(17), a.AddKey(BaseTime(17, 10)));  // the key already there
  ASSERT_EQ(200, a.GetKeyCount());
  EXPECT_EQ(nullptr, a.AddKey(Sec(10001)));
  // Moves within and between curves.
  CKey* k = a.GetKey(50);
  EXPECT_EQ(-1, b.MoveKey(Sec(1), 0));  // no key there
  EXPECT_EQ(-1, a.MoveKey(Sec(20000), 50));
  EXPECT_EQ(k, a.GetKey(50));
  EXPECT_EQ(-1, a.MoveKey(Sec(-3), 50, &b));
  EXPECT_EQ(&b, k->GetCurve());
  EXPECT_EQ(199, a.GetKeyCount());
  EXPECT_EQ(-1, b.MoveKey(Sec(4), 0, &b));  // alone in b: nothing precedes it
  EXPECT_EQ(Sec(4), k->GetTime());
  EXPECT_EQ(0, a.MoveKey(Sec(0.15), 0));  // the key at 0 s moves behind the one at 0.1 s
  // Onto a time another key holds: that key is destroyed, with an alert.
  lumtest::ResetAlerts();
  EXPECT_EQ(1, a.MoveKey(Sec(0.3), 0));
  EXPECT_EQ(1, lumtest::AlertCount());
  EXPECT_EQ(198, a.GetKeyCount());
  // The index is in time order, the list holds the same keys in the same order.
  GeListNode* m = a.GetKeyList()->GetFirst();
  for (Int32 i = 0; i < a.GetKeyCount(); ++i, m = m->GetNext()) {
    EXPECT_EQ(a.GetKey(i), m);
    EXPECT_EQ(&a, a.GetKey(i)->GetCurve());
    if (i > 0) {
      EXPECT_LT(a.GetKey(i - 1)->GetTime(), a.GetKey(i)->GetTime());
    }
  }
  EXPECT_EQ(nullptr, m);
  EXPECT_TRUE(a.DelKey(0));
  EXPECT_FALSE(a.DelKey(197));
  EXPECT_EQ(197, a.GetKeyCount());
  EXPECT_EQ(nullptr, a.GetKey(197));
}

// ---- tangents: a separate implementation of the formulas ----

struct RefKey {
  double t, v, vl, vr;
  int mode;
  bool weighted, skip, brk;
};

// The neighbour indices of key i (-1 when missing).
void RefNeighbours(const std::vector<RefKey>& k, int i, int* p, int* n) {
  *p = *n = -1;
  for (int j = i - 1; j >= 0 && *p < 0; --j)
    if (!k[j].skip) *p = j;
  for (int j = i + 1; j < int(k.size()) && *n < 0; ++j)
    if (!k[j].skip) *n = j;
}

BaseTime RefTime(double seconds, int mode) {
  return mode == 1 ? BaseTime(seconds) : BaseTime(seconds * 2500000.0, 2500000.0);
}

void RefSoft(const std::vector<RefKey>& k, int i, double* vl, double* vr, BaseTime* tl,
             BaseTime* tr) {
  int p, n;
  RefNeighbours(k, i, &p, &n);
  *vl = *vr = 0;
  *tl = *tr = BaseTime();
  if (p < 0 && n < 0) return;
  const RefKey& c = k[i];
  double L, R;
  if (p >= 0 && n >= 0) {
    double dp = c.t - k[p].t, dn = k[n].t - c.t;
    double s = std::fabs(dp) + std::fabs(dn);
    double u = s == 0 ? 1 : std::fabs(dp) / s, w = 1 - u;
    if (c.mode == 2) {
      double delta = k[n].v - k[p].v;
      if (c.weighted) {
        *vl = -0.25 * u * delta, *vr = 0.25 * w * delta, L = dp, R = dn;
      } else {
        double B = std::min(std::min(dp, dn) * 2, (dp + dn) * 0.5);
        double D = (u * delta / dp) * B;
        *vl = -0.25 * D, *vr = 0.25 * D, L = R = B;
      }
    } else {
      double F = (c.v - k[p].v) * w + (k[n].v - c.v) * u, E = dp * w + dn * u;
      if (c.weighted) {
        double U = u * 2 * E, Hh = w * 2 * E;
        *vl = -0.25 * (F / E) * U, *vr = 0.25 * (F / E) * Hh, L = U, R = Hh;
      } else {
        *vl = -0.25 * F, *vr = 0.25 * F, L = R = E;
      }
    }
  } else {
    double F = p >= 0 ? c.v - k[p].v : k[n].v - c.v;
    double E = p >= 0 ? c.t - k[p].t : k[n].t - c.t;
    *vl = -0.25 * F, *vr = 0.25 * F, L = R = E;
  }
  *tl = RefTime(-0.25 * L, c.mode);
  *tr = RefTime(0.25 * R, c.mode);
}

double RefFactor(double g, double a, double b) {
  double h = 1;
  if (g >= 0) {
    if (a > 0 && a < g) h = a / g;
    if (b > 0 && b < g) h = b / g;
  } else {
    if (a > g && a < 0) h = a / g;
    if (b > g && b < 0) h = b / g;
  }
  return h;
}

void RefOvershoot(const std::vector<RefKey>& k, int i, double* vl, double* vr) {
  int p, n;
  RefNeighbours(k, i, &p, &n);
  if (p >= 0 && n >= 0) {
    double a = k[p].v - k[i].v, b = k[n].v - k[i].v;
    if ((a >= 0 && b >= 0) || (a <= 0 && b <= 0)) {
      *vl = *vr = 0;
      return;
    }
    const double reach = double(1.3f);
    double h = RefFactor(reach * *vl, a, b);
    if (h != 1) *vl *= h, *vr *= h;
    double m = RefFactor(reach * *vr, a, b);
    if (m != 1) *vr *= m, *vl *= m;
  } else if (p >= 0) {
    *vl = 0;
  } else if (n >= 0) {
    *vr = 0;
  }
}

// A random curve: times in whole milliseconds (distinct), values, modes and bits.
std::vector<RefKey> RandomCurve(std::mt19937& rng, CCurve& c) {
  std::uniform_int_distribution<int> count(1, 12), ms(-5000, 5000), coin(0, 3);
  std::uniform_real_distribution<double> value(-10, 10);
  std::vector<int> times;
  const int n = count(rng);
  while (int(times.size()) < n) {
    int t = ms(rng);
    if (std::find(times.begin(), times.end(), t) == times.end()) times.push_back(t);
  }
  std::sort(times.begin(), times.end());
  std::vector<RefKey> ref;
  for (int t : times) {
    RefKey r{t / 1000.0,     value(rng),     value(rng),    value(rng), coin(rng) == 0 ? 2 : 1,
             coin(rng) == 0, coin(rng) == 0, coin(rng) == 0};
    CKey* k = c.AddKey(BaseTime(t, 1000));
    k->SetValue(&c, r.v);
    k->SetValueLeft(&c, r.vl);
    k->SetValueRight(&c, r.vr);
    k->SetAutomaticTangentMode(&c, CAUTOMODE(r.mode));
    if (r.weighted) k->ChangeNBit(CKEY_BIT_WEIGHTED, NBITCONTROL_SET);
    if (r.skip) k->ChangeNBit(CKEY_BIT_SKIPNEIGHBOUR, NBITCONTROL_SET);
    if (r.brk) k->ChangeNBit(CKEY_BIT_BREAK, NBITCONTROL_SET);
    ref.push_back(r);
  }
  return ref;
}

TEST(CurveTangents, RandomCurvesMatchTheFormulas) {
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    CCurve c;
    std::vector<RefKey> ref = RandomCurve(rng, c);
    for (int i = -1; i <= int(ref.size()); ++i) {
      double vl, vr;
      BaseTime tl, tr;
      c.CalcSoftTangents(i, &vl, &vr, &tl, &tr);
      double evl = 0, evr = 0;
      BaseTime etl, etr;
      if (i >= 0 && i < int(ref.size())) RefSoft(ref, i, &evl, &evr, &etl, &etr);
      EXPECT_DOUBLE_EQ(evl, vl) << round << "/" << i;
      EXPECT_DOUBLE_EQ(evr, vr) << round << "/" << i;
      EXPECT_EQ(etl.GetNumerator(), tl.GetNumerator()) << round << "/" << i;
      EXPECT_EQ(etl.GetDenominator(), tl.GetDenominator()) << round << "/" << i;
      EXPECT_EQ(etr.GetNumerator(), tr.GetNumerator()) << round << "/" << i;
      EXPECT_EQ(etr.GetDenominator(), tr.GetDenominator()) << round << "/" << i;
      if (i < 0 || i >= int(ref.size())) continue;
      double ovl = ref[i].vl, ovr = ref[i].vr;
      RefOvershoot(ref, i, &ovl, &ovr);
      vl = ref[i].vl, vr = ref[i].vr;
      tl = Sec(0.5), tr = Sec(0.75);
      c.CalcRemoveOvershoot(i, &vl, &vr, &tl, &tr);
      EXPECT_DOUBLE_EQ(ovl, vl) << round << "/" << i;
      EXPECT_DOUBLE_EQ(ovr, vr) << round << "/" << i;
      EXPECT_EQ(Sec(0.5), tl);  // times are left alone
      EXPECT_EQ(Sec(0.75), tr);
    }
  }
}

TEST(CurveTangents, WorkedCases) {
  double vl, vr;
  BaseTime tl, tr;
  {
    CCurve c;
    AddKeys(c, {{0, 0}, {1, 1}});
    c.CalcSoftTangents(0, &vl, &vr, &tl, &tr);
    EXPECT_EQ(-0.25, vl);
    EXPECT_EQ(0.25, vr);
    EXPECT_EQ(BaseTime(-1, 4), tl);
    EXPECT_EQ(BaseTime(1, 4), tr);
  }
  {
    CCurve c;
    AddKeys(c, {{0, 0}, {1, 1}, {3, 2}});
    c.CalcSoftTangents(1, &vl, &vr, &tl, &tr);
    EXPECT_DOUBLE_EQ(-0.25, vl);
    EXPECT_DOUBLE_EQ(0.25, vr);
    EXPECT_EQ(-333, tl.GetNumerator());
    EXPECT_EQ(1000, tl.GetDenominator());
    EXPECT_EQ(333, tr.GetNumerator());
    // Mode 2 builds the times as fractions over 2500000: 1/3 s exactly as 833333/2500000.
    c.GetKey(1)->SetAutomaticTangentMode(&c, CAUTOMODE_SLOPE);
    c.CalcSoftTangents(1, &vl, &vr, &tl, &tr);
    EXPECT_EQ(BaseTime(-937500, 2500000), tl);  // B = min(2, 1.5) = 1.5 s; a quarter of it
  }
  {
    CCurve c;
    AddKeys(c, {{0, 0}, {1, 1}, {2, 0}});
    vl = -0.3, vr = 0.3;
    c.CalcRemoveOvershoot(1, &vl, &vr, &tl, &tr);
    EXPECT_EQ(0.0, vl);
    EXPECT_EQ(0.0, vr);
    vl = -5, vr = 5;  // the first key: its right tangent goes
    c.CalcRemoveOvershoot(0, &vl, &vr, &tl, &tr);
    EXPECT_EQ(-5.0, vl);
    EXPECT_EQ(0.0, vr);
    c.CalcRemoveOvershoot(7, &vl, &vr, &tl, &tr);
    EXPECT_EQ(0.0, vl);
    EXPECT_EQ(BaseTime(), tl);
  }
}

TEST(CurveTangents, AutomaticWeightingUsesAQuarterOfTheNeighbourDistance) {
  CCurve c;
  AddKeys(c, {{0, 0}, {1, 1}, {3, 0}});
  CKey* k = c.GetKey(1);
  k->SetTimeLeft(&c, Sec(-0.5));
  k->SetTimeRight(&c, Sec(0.5));
  k->SetValueLeft(&c, -0.2);
  k->SetValueRight(&c, 0.2);
  c.AdjustTangentAutoWeight(1);
  // Left: d = -0.25 s, scaled -0.2 * 0.5 = -0.1; right: d = 0.5 s, scaled 0.2.
  EXPECT_EQ(Sec(-0.25), k->GetTimeLeft());
  EXPECT_EQ(Sec(0.5), k->GetTimeRight());
  EXPECT_DOUBLE_EQ(-0.1, k->GetValueLeft());
  EXPECT_DOUBLE_EQ(0.2, k->GetValueRight());
  // A zero-length tangent with a value cannot be scaled: the time and the candidate are set.
  k->SetTimeRight(&c, BaseTime());
  k->SetValueRight(&c, 0.2);
  EXPECT_FALSE(k->SetTimeRightAdjustValue(&c, Sec(1)));
  c.AdjustTangentAutoWeight(1);
  EXPECT_EQ(Sec(0.5), k->GetTimeRight());
  EXPECT_DOUBLE_EQ(0.5 * (100000 / 0.5), k->GetValueRight());
  // Scaled values beyond the candidate (d times the nearer side's 100000 / d) are cut to it; a
  // zero-length left tangent with a value takes the candidate.
  k->SetTimeLeft(&c, BaseTime());
  k->SetValueRight(&c, 400000);
  c.AdjustTangentAutoWeight(1);
  EXPECT_EQ(Sec(-0.25), k->GetTimeLeft());
  EXPECT_DOUBLE_EQ(-50000, k->GetValueLeft());
  EXPECT_DOUBLE_EQ(100000, k->GetValueRight());
  k->SetValueLeft(&c, -90000);
  c.AdjustTangentAutoWeight(1);
  EXPECT_DOUBLE_EQ(-50000, k->GetValueLeft());
  // The last key has no right side to weigh.
  CKey* last = c.GetKey(2);
  last->SetValueRight(&c, 7);
  c.AdjustTangentAutoWeight(2);
  EXPECT_EQ(7, last->GetValueRight());
  c.AdjustTangentAutoWeight(3);  // no key: nothing
}

// ---- key parameters ----

GeData Get(CKey* k, Int32 id) {
  GeData v;
  EXPECT_TRUE(k->GetDParameter(DescID(id), v)) << id;
  return v;
}

TEST(KeyParameters, TangentEditsMirrorUnlessBrokenAndClearTheEditedBit) {
  CKey loose;
  EXPECT_FALSE(loose.SetDParameter(DescID(CKEY_VALUE_LEFT), GeData(2.0)));
  GeData v;
  EXPECT_FALSE(loose.GetDParameter(DescID(CKEY_VALUE), v));

  CCurve c;
  AddKeys(c, {{0, 0}, {1, 1}, {2, 0}});
  CKey* k = c.GetKey(1);
  k->ChangeNBit(CKEY_BIT_EDITED, NBITCONTROL_SET);
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_VALUE_LEFT), GeData(2.0)));
  EXPECT_EQ(-2.0, k->GetValueRight());
  EXPECT_FALSE(k->GetNBit(CKEY_BIT_EDITED));
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_TIME_RIGHT), GeData(BaseTime(1, 3))));
  EXPECT_EQ(BaseTime(-1, 3), k->GetTimeLeft());
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_TIME_LEFT), GeData(BaseTime(-2, 3))));
  EXPECT_EQ(BaseTime(2, 3), k->GetTimeRight());
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_TIME_LEFT), GeData(BaseTime(-1, 3))));
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_VALUE_RIGHT), GeData(-2.0)));
  EXPECT_EQ(2.0, k->GetValueLeft());
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_BREAK), GeData(Int32(1))));
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_VALUE_RIGHT), GeData(5.0)));
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_TIME_LEFT), GeData(Sec(-1))));
  EXPECT_EQ(2.0, k->GetValueLeft());  // broken: left stays
  EXPECT_EQ(BaseTime(1, 3), k->GetTimeRight());
  // Re-joining: left mirrors right (bit 84 clear) ...
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_BREAK), GeData(Int32(0))));
  EXPECT_EQ(-5.0, k->GetValueLeft());
  EXPECT_EQ(Sec(-0.333), k->GetTimeLeft());
  // ... or, weighted, keeps the times and scales the value.
  k->ChangeNBit(CKEY_BIT_BREAK, NBITCONTROL_SET);
  k->ChangeNBit(CKEY_BIT_WEIGHTED, NBITCONTROL_SET);
  k->SetTimeLeft(&c, Sec(-1));
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_BREAK), GeData(Int32(0))));
  EXPECT_DOUBLE_EQ(5.0 * (-1 / (1.0 / 3)), k->GetValueLeft());
  EXPECT_EQ(Sec(-1), k->GetTimeLeft());
  EXPECT_EQ(0, Get(k, CKEY_BREAK).GetInt32());
}

TEST(KeyParameters, BitsValuesAndData) {
  CCurve c;
  AddKeys(c, {{0, 0}, {1, 1}});
  CKey* k = c.GetKey(0);
  const Int32 bits[][2] = {{902, 40}, {917, 44}, {918, 45},  {923, 41},  {925, 38},
                           {926, 39}, {927, 43}, {1234, 54}, {1244, 84}, {1245, 85}};
  for (auto& b : bits) {
    ASSERT_TRUE(k->SetDParameter(DescID(b[0]), GeData(Int32(1)))) << b[0];
    EXPECT_TRUE(k->GetNBit(b[1])) << b[0];
    EXPECT_EQ(1, Get(k, b[0]).GetInt32()) << b[0];
    ASSERT_TRUE(k->SetDParameter(DescID(b[0]), GeData(Int32(0)))) << b[0];
    EXPECT_FALSE(k->GetNBit(b[1])) << b[0];
  }
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_VALUE), GeData(2.5)));
  EXPECT_EQ(2.5, Get(k, CKEY_VALUE).GetFloat());
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_VALUE), GeData(0.0)));
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_INTERPOLATION), GeData(Int32(3))));
  EXPECT_EQ(3, Get(k, CKEY_INTERPOLATION).GetInt32());
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_AUTOMODE), GeData(Int32(2))));
  EXPECT_EQ(CAUTOMODE_SLOPE, k->GetAutomaticTangentMode());
  ASSERT_TRUE(k->SetDParameter(DescID(10002), GeData(Int32(7))));
  EXPECT_EQ(7, Get(k, 10002).GetInt32());
  EXPECT_EQ(VALUETYPE_CONTAINER, k->GetGeData().GetType());
  // Soft tangents stored when automatic tangents are turned off.
  k->SetAutomaticTangentMode(&c, CAUTOMODE_CLASSIC);
  k->ChangeNBit(CKEY_BIT_AUTO, NBITCONTROL_SET);
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_AUTO), GeData(Int32(0))));
  EXPECT_EQ(-0.25, k->GetValueLeft());
  EXPECT_EQ(Sec(0.25), k->GetTimeRight());
  EXPECT_FALSE(k->GetNBit(CKEY_BIT_AUTO));
  // Overshoot removal turned off stores the corrected tangents: the first key keeps no right one.
  k->ChangeNBit(CKEY_BIT_OVERSHOOT, NBITCONTROL_SET);
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_OVERSHOOT), GeData(Int32(0))));
  EXPECT_EQ(0.0, k->GetValueRight());
  // Every stored field reads back through its own parameter (a broken tangent: no mirroring);
  // a data entry of a key without data is nil; the auto-weight switch is a bit as well.
  k->ChangeNBit(CKEY_BIT_BREAK, NBITCONTROL_SET);
  const struct {
    Int32 id;
    GeData value;
  } fields[] = {
      {CKEY_TIME_LEFT, GeData(Sec(-0.5))},
      {CKEY_TIME_RIGHT, GeData(Sec(0.75))},
      {CKEY_VALUE_LEFT, GeData(1.5)},
      {CKEY_VALUE_RIGHT, GeData(-2.5)},
      {CKEY_AUTOMODE, GeData(Int32(CAUTOMODE_SLOPE))},
      {CKEY_AUTOWEIGHT, GeData(Int32(1))},
      {CKEY_QUATINTERPOLATION, GeData(Int32(ROTATIONINTERPOLATION_QUATERNION_CUBIC))},
      {CKEY_AUTOWEIGHT, GeData(Int32(0))},
      {CKEY_TIME, GeData(Sec(3))},
      {CKEY_TIME, GeData(Sec(3))},  // where it is already
      {CKEY_AUTO, GeData(Int32(1))},
  };
  for (const auto& f : fields) {
    ASSERT_TRUE(k->SetDParameter(DescID(f.id), f.value)) << f.id;
    EXPECT_EQ(f.value, Get(k, f.id)) << f.id;
  }
  EXPECT_EQ(ROTATIONINTERPOLATION_QUATERNION_CUBIC, k->GetQuatInterpolation());
  CKey* plain = c.GetKey(1);
  EXPECT_EQ(VALUETYPE_NIL, Get(plain, 10003).GetType());
  // Any other id is a parameter of the key as a node: keys and curves are named nodes of
  // their own kinds, a loose curve with no holder.
  ASSERT_TRUE(plain->SetDParameter(DescID(77), GeData(Int32(4))));
  EXPECT_EQ(4, Get(plain, 77).GetInt32());
  EXPECT_EQ(4, plain->GetDataInstance()->GetInt32(77));
  for (Int32 id : {0, TYPE_BASELIST2D}) EXPECT_TRUE(plain->IsInstanceOf(id) && c.IsInstanceOf(id));
  EXPECT_TRUE(plain->IsInstanceOf(TYPE_CKEY) && c.IsInstanceOf(TYPE_CCURVE));
  EXPECT_FALSE(plain->IsInstanceOf(TYPE_CCURVE) || c.IsInstanceOf(TYPE_CKEY));
  EXPECT_EQ(nullptr, c.GetHolder());
  // The time parameter moves the key, but not onto another key.
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_TIME), GeData(Sec(5))));
  EXPECT_EQ(k, c.GetKey(1));
  EXPECT_FALSE(k->SetDParameter(DescID(CKEY_TIME), GeData(Sec(1))));
  EXPECT_EQ(Sec(5), k->GetTime());
}

TEST(KeyParameters, UnifyAndPresets) {
  CCurve c;
  AddKeys(c, {{0, 0}});
  CKey* k = c.GetKey(0);
  k->SetTimeLeft(&c, Sec(-1));
  k->SetTimeRight(&c, Sec(3));
  k->SetValueLeft(&c, -1);
  k->SetValueRight(&c, 5);
  k->UnifyTangent();
  EXPECT_EQ(Sec(-2), k->GetTimeLeft());
  EXPECT_EQ(Sec(2), k->GetTimeRight());
  EXPECT_EQ(-3.0, k->GetValueLeft());
  EXPECT_EQ(3.0, k->GetValueRight());

  EXPECT_EQ(CKEYPRESET_CUSTOM, k->GetKeyPreset());
  struct Case {
    CKEYPRESET preset;
    CAUTOMODE mode;
    bool b41, b85, b84;
  } cases[] = {{CKEYPRESET_CLASSIC, CAUTOMODE_CLASSIC, true, false, false},
               {CKEYPRESET_AUTO_OVERSHOOT, CAUTOMODE_CLASSIC, false, true, false},
               {CKEYPRESET_AUTO_OVERSHOOTWEIGHTED, CAUTOMODE_SLOPE, false, true, true}};
  for (const Case& cs : cases) {
    k->ChangeNBit(CKEY_BIT_AUTOWEIGHT, NBITCONTROL_SET);
    k->ChangeNBit(CKEY_BIT_BREAK, NBITCONTROL_SET);
    k->SetInterpolation(&c, CINTERPOLATION_STEP);
    ASSERT_TRUE(k->SetDParameter(DescID(CKEY_PRESET), GeData(Int32(cs.preset))));
    EXPECT_EQ(cs.preset, k->GetKeyPreset());
    EXPECT_EQ(cs.preset, Get(k, CKEY_PRESET).GetInt32());
    EXPECT_EQ(cs.mode, k->GetAutomaticTangentMode());
    EXPECT_EQ(CINTERPOLATION_SPLINE, k->GetInterpolation());
    EXPECT_TRUE(k->GetNBit(CKEY_BIT_AUTO));
    EXPECT_EQ(cs.b41, k->GetNBit(CKEY_BIT_PRESET));
    EXPECT_EQ(cs.b85, k->GetNBit(CKEY_BIT_OVERSHOOT));
    EXPECT_EQ(cs.b84, k->GetNBit(CKEY_BIT_WEIGHTED));
    EXPECT_FALSE(k->GetNBit(CKEY_BIT_AUTOWEIGHT) || k->GetNBit(CKEY_BIT_BREAK));
    // One switch more or less makes the key custom.
    for (Int32 bit : {CKEY_BIT_PRESET, CKEY_BIT_BREAK, CKEY_BIT_WEIGHTED, CKEY_BIT_OVERSHOOT,
                      CKEY_BIT_AUTOWEIGHT}) {
      const bool was = k->GetNBit(bit);
      k->ChangeNBit(bit, was ? NBITCONTROL_CLEAR : NBITCONTROL_SET);
      EXPECT_EQ(CKEYPRESET_CUSTOM, k->GetKeyPreset()) << cs.preset << " " << bit;
      k->ChangeNBit(bit, was ? NBITCONTROL_SET : NBITCONTROL_CLEAR);
    }
    EXPECT_EQ(cs.preset, k->GetKeyPreset());
  }
  k->SetTimeLeft(&c, Sec(-1));  // weighted bits were set: presets 1 and 2 unify
  k->ChangeNBit(CKEY_BIT_BREAK, NBITCONTROL_SET);
  k->SetKeyPreset(&c, CKEYPRESET_CLASSIC);
  EXPECT_EQ(Sec(-1.5), k->GetTimeLeft());
  k->SetKeyPreset(&c, CKEYPRESET(9));  // other values: nothing
  EXPECT_EQ(CKEYPRESET_CLASSIC, k->GetKeyPreset());
}

// The document's preset store, as an application might keep it.
int g_saved = 0, g_restored = 0;
TEST(KeyParameters, PresetsSaveAndRestoreThroughTheDocument) {
  AnimationDocumentHooks hooks;
  hooks.copyToPresetSettings = [](BaseDocument*, const CKey*) { ++g_saved; };
  hooks.restoreFromPresetSettings = [](BaseDocument*, CKey* k) {
    ++g_restored;
    k->SetInterpolation(nullptr, CINTERPOLATION_STEP);
  };
  SetAnimationDocumentHooks(&hooks);
  BaseDocument doc;
  CCurve c;
  AddKeys(c, {{0, 0}});
  CKey* k = c.GetKey(0);
  k->SetKeyPreset(&c, CKEYPRESET_CLASSIC);  // no document: nothing saved
  k->SetKeyPreset(&c, CKEYPRESET_CUSTOM);
  EXPECT_EQ(0, g_saved + g_restored);
  k->SetDocument(&doc);
  k->SetKeyPreset(&c, CKEYPRESET_CUSTOM);
  EXPECT_EQ(1, g_restored);
  EXPECT_EQ(CKEYPRESET_CUSTOM, k->GetKeyPreset());
  k->SetKeyPreset(&c, CKEYPRESET_AUTO_OVERSHOOT);  // custom: saved first
  k->SetKeyPreset(&c, CKEYPRESET_CLASSIC);         // not custom: not saved
  EXPECT_EQ(1, g_saved);
  SetAnimationDocumentHooks(nullptr);
}

// ---- key and curve chunks ----

// A key chunk at a level: the fields up to that level's layout.
Bytes KeyChunk(Int32 level, Int32 quat, bool bits48and49) {
  return lumtest::WriteStream([&](HyperFile& hf) {
    bool ok = hf.WriteChunkStart(5352, 0) && hf.WriteChunkStart(CHUNK_GELISTNODE, 2) &&
              hf.WriteInt32(4) && hf.WriteInt32(0) &&
              hf.WriteInt32(bits48and49 ? (1 << 16) | (1 << 17) : 0) && hf.WriteInt32(0) &&
              hf.WriteInt32(0) && hf.WriteUChar(0) && hf.WriteChunkEnd() &&
              hf.WriteChunkStart(CHUNK_CKEY, level) && hf.WriteTime(BaseTime(1, 2)) &&
              hf.WriteTime(Sec(-0.25)) && hf.WriteTime(Sec(0.25)) && hf.WriteFloat(3) &&
              hf.WriteFloat(-1) && hf.WriteFloat(1) && hf.WriteInt32(2);
    if (level == 2) {
      ok = ok && hf.WriteInt32(2) && hf.WriteGeData(GeData(Int32(8)));
    } else {
      ok = ok && hf.WriteGeData(GeData(Int32(8)));
      if (level > 2) ok = ok && hf.WriteInt32(2);
      if (level >= 4) ok = ok && hf.WriteInt32(quat);
    }
    return ok && hf.WriteInt32(99) && hf.WriteChunkEnd() &&
           hf.WriteChunkEnd();  // 99: a newer field
  });
}

TEST(KeyFile, EveryLevelReads) {
  for (Int32 level = 0; level <= 5; ++level) {
    for (Int32 quat : {3, 7}) {
      CKey k;
      lumtest::MemReader r(KeyChunk(level, quat, level == 0), HYPERFILE_CURRENT_VERSION);
      ASSERT_TRUE(k.ReadObject(&r.hf, true)) << level;
      EXPECT_TRUE(r.AtEnd());
      EXPECT_EQ(BaseTime(1, 2), k.GetTime());
      EXPECT_EQ(3.0, k.GetValue());
      EXPECT_EQ(CINTERPOLATION_LINEAR, k.GetInterpolation());
      EXPECT_EQ(8, k.GetGeData().GetInt32());
      EXPECT_EQ(level >= 2 ? CAUTOMODE_SLOPE : CAUTOMODE_CLASSIC, k.GetAutomaticTangentMode());
      EXPECT_EQ(level >= 4 && quat == 3 ? 3 : 2, k.GetQuatInterpolation()) << level;
      // Level 0 with bits 48 and 49: both tangents zeroed, the bits cleared.
      EXPECT_EQ(level == 0 ? 0.0 : -1.0, k.GetValueLeft()) << level;
      EXPECT_EQ(level == 0 ? BaseTime() : Sec(0.25), k.GetTimeRight()) << level;
      EXPECT_FALSE(k.GetNBit(48) || k.GetNBit(49));
      // Every cut of the chunk fails.
      const Bytes whole = KeyChunk(level, quat, level == 0);
      for (size_t n = 1; n < whole.size(); ++n) {
        CKey cut;
        lumtest::MemReader p(Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
        EXPECT_FALSE(cut.ReadObject(&p.hf, true)) << level << " cut at " << n;
      }
    }
  }
}

TEST(CurveFile, RoundTripsKeysAndKeepsKeysBeyondTheWindow) {
  CCurve c;
  AddKeys(c, {{-3, 1}, {0, 2}, {0.5, -1}, {7, 4}});
  c.GetKey(2)->SetGeData(&c, GeData(String("d")));
  c.GetKey(1)->ChangeNBit(CKEY_BIT_BREAK, NBITCONTROL_SET);
  Bytes written = scenetest::WriteNode(c);
  CCurve back;
  ASSERT_TRUE(scenetest::ReadNode(written, back));
  ASSERT_EQ(4, back.GetKeyCount());
  EXPECT_EQ(&back, back.GetKey(3)->GetCurve());
  EXPECT_TRUE(back.GetKey(1)->GetNBit(CKEY_BIT_BREAK));
  EXPECT_EQ(written, scenetest::WriteNode(back));
}

// The stream layouts keys are read in: 64- and 32-bit floats, both byte orders.
struct KeyLayout {
  bool float32;
  BYTEORDER order;
};
constexpr KeyLayout kKeyLayouts[] = {
    {false, BYTEORDER_MOTOROLA}, {true, BYTEORDER_MOTOROLA}, {false, BYTEORDER_INTEL}};

Bytes WriteIn(CCurve& c, const KeyLayout& l) {
  lumtest::MemWriter w(l.float32, l.order);
  EXPECT_TRUE(c.WriteObject(&w.hf, 1));
  return w.Finish();
}

// Keys read from every layout, through memory and through a file whose buffer ends at each
// place of a key, and without the span (a reading hook), write back the bytes they were read
// from: keys in the layout the library writes are taken from the buffer whole, the others (data,
// a name, a container entry, cut by the buffer's end) by the general reader.
TEST(CurveFile, KeysReadAlikeWhereverTheyLieAndWhateverTheyHold) {
  CCurve c;
  for (Int32 i = 0; i < 120; ++i) {
    CKey* k = c.AddKey(BaseTime(i, 30.0));
    ASSERT_NE(nullptr, k);
    k->SetValue(&c, std::sin(0.1 * i));
    if (i % 7 == 3) k->SetGeData(&c, GeData(String("d")));
    if (i % 11 == 5) k->SetName(String("k"));
    if (i % 13 == 6) k->GetDataInstance()->SetInt32(4, i);
    if (i % 5 == 1) k->ChangeNBit(CKEY_BIT_BREAK, NBITCONTROL_SET);
    if (i % 9 == 2) k->SetBit(0x40);
  }
  for (const KeyLayout& l : kKeyLayouts) {
    const Bytes written = WriteIn(c, l);
    for (bool hook : {false, true}) {
      lumtest::MemReader r(written, HYPERFILE_CURRENT_VERSION, l.float32, l.order);
      if (hook) r.hf.SetReadingHook([](Int32, void*) {}, nullptr);
      CCurve back;
      ASSERT_TRUE(back.ReadObject(&r.hf, true));
      EXPECT_EQ(120, back.GetKeyCount());
      lumtest::MemWriter again(l.float32, l.order);
      ASSERT_TRUE(back.WriteObject(&again.hf, 1));
      EXPECT_EQ(written, again.Finish()) << l.float32 << l.order << hook;
    }
  }
  // Behind a padding of 0 .. 299 bytes, the file buffer's first end falls at every place of a
  // key (a key is 266 bytes here).
  const Bytes written = scenetest::WriteNode(c);
  const std::string path = lumtest::TempPath("keys-padded.lum");
  const std::vector<UChar> padding(300, 0);
  for (Int32 pad = 0; pad < 300; ++pad) {
    HyperFile out;
    ASSERT_TRUE(out.Open(Filename(path.c_str()), FILEOPEN_WRITE) && out.WriteChunkStart(7, 0) &&
                out.WriteMemory(padding.data(), pad) && out.WriteChunkEnd() &&
                c.WriteObject(&out, 1) && out.Close());
    HyperFile in;
    HYPERFILEVALUE kind = HYPERFILEVALUE_NONE;
    CCurve back;
    ASSERT_TRUE(in.Open(Filename(path.c_str()), FILEOPEN_READ) && in.ReadValueHeader(&kind) &&
                in.ReadChunkStart(nullptr, nullptr) && in.SkipToEndChunk() &&
                back.ReadObject(&in, true))
        << pad;
    ASSERT_EQ(written, scenetest::WriteNode(back)) << pad;
  }
  // A key whose node chunk is of a level without a marker still gets one of its own.
  CCurve one;
  AddKeys(one, {{1, 1}});
  Bytes old = scenetest::WriteNode(one);
  const Bytes nodeChunk = {0x01, 0x00, 0x01, 0xAD, 0xE2, 0x00, 0x00, 0x00, 0x08};
  auto at = std::find_end(old.begin(), old.end(), nodeChunk.begin(), nodeChunk.end());
  ASSERT_NE(old.end(), at);
  at[8] = 5;
  CCurve back;
  ASSERT_TRUE(scenetest::ReadNode(old, back));
  ASSERT_EQ(1, back.GetKeyCount());
  EXPECT_FALSE(back.GetKey(0)->GetMarker().IsNull());
}

// Every single-byte change of a curve's plain keys, in each layout, reads as the general reader
// alone (a reading hook turns the buffer's fast paths off) reads it: the same success, error and
// keys, written back alike (markers aside, which a key read without one draws afresh).
TEST(CurveFile, ChangedKeyBytesReadAsTheGeneralReaderReadsThem) {
  CCurve c;
  AddKeys(c, {{0.5, 1.0}, {1.0, -2.0}, {2.0, 0.25}});
  c.GetKey(1)->ChangeNBit(CKEY_BIT_BREAK, NBITCONTROL_SET);
  c.GetKey(2)->SetBit(0x40);
  for (const KeyLayout& l : kKeyLayouts) {
    const Bytes written = WriteIn(c, l);
    auto read = [&](const Bytes& b, bool hook, FILEERROR* error) {
      lumtest::MemReader r(b, HYPERFILE_CURRENT_VERSION, l.float32, l.order);
      if (hook) r.hf.SetReadingHook([](Int32, void*) {}, nullptr);
      CCurve back;
      const bool ok = back.ReadObject(&r.hf, true);
      *error = r.hf.GetError();
      return ok ? animtest::MaskMarkers(scenetest::WriteNode(back)) : Bytes();
    };
    Int32 fast = 0;
    for (size_t at = 0; at < written.size(); ++at) {
      for (UChar to :
           {UChar(written[at] ^ 0x01), UChar(written[at] ^ 0x80), UChar(0), UChar(0xFF)}) {
        if (to == written[at]) continue;
        Bytes changed = written;
        changed[at] = to;
        FILEERROR general = FILEERROR_NONE, ours = FILEERROR_NONE;
        const Bytes want = read(changed, true, &general);
        const Bytes got = read(changed, false, &ours);
        ASSERT_EQ(general, ours) << l.float32 << l.order << " byte " << at << " to " << Int32(to);
        ASSERT_EQ(want, got) << l.float32 << l.order << " byte " << at << " to " << Int32(to);
        fast += got.empty() ? 0 : 1;
      }
    }
    EXPECT_GT(fast, 0);
  }
}

// Replaces the time numerator `from` (whole seconds, denominator 1) by `to` in written bytes.
Bytes PatchTime(Bytes b, double from, double to) {
  auto be = [](double d) {
    unsigned char out[8];
    std::uint64_t u;
    std::memcpy(&u, &d, 8);
    for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(u >> (56 - 8 * i));
    return std::vector<unsigned char>(out, out + 8);
  };
  std::vector<unsigned char> pat = be(from), one = be(1.0), rep = be(to);
  pat.insert(pat.end(), one.begin(), one.end());
  auto at = std::search(b.begin(), b.end(), pat.begin(), pat.end());
  EXPECT_NE(b.end(), at);
  if (at != b.end()) std::copy(rep.begin(), rep.end(), at);
  return b;
}

TEST(CurveFile, KeysBeyondTheWindowAndOutOfOrderAreKept) {
  CCurve c;
  AddKeys(c, {{-3, 1}, {0, 2}, {0.5, -1}, {7, 4}});
  // The key at 7 s moved 20000 s out, the one at -3 s after the others.
  const Bytes patched = PatchTime(PatchTime(scenetest::WriteNode(c), 7, 20000), -3, 10);
  CCurve back;
  ASSERT_TRUE(scenetest::ReadNode(patched, back));
  ASSERT_EQ(3, back.GetKeyCount());  // 20000 s: in the list only
  EXPECT_EQ(4, back.GetKeyList()->GetCount());
  EXPECT_EQ(Sec(0), back.GetKey(0)->GetTime());  // the index is in time order
  EXPECT_EQ(Sec(10), back.GetKey(2)->GetTime());
  EXPECT_EQ(back.GetKey(2), back.FindKey(Sec(10), nullptr, FINDANIM_EXACT));
  EXPECT_EQ(animtest::MaskMarkers(patched), animtest::MaskMarkers(scenetest::WriteNode(back)));
  // A copy keeps the key beyond the window as well.
  CCurve copy;
  ASSERT_TRUE(back.CopyTo(&copy, COPYFLAGS_NONE, nullptr));
  EXPECT_EQ(3, copy.GetKeyCount());
  EXPECT_EQ(animtest::MaskMarkers(patched), animtest::MaskMarkers(scenetest::WriteNode(copy)));
  for (GeListNode* m = copy.GetKeyList()->GetFirst(); m != nullptr; m = m->GetNext())
    EXPECT_EQ(&copy, static_cast<CKey*>(m)->GetCurve());
}

TEST(CurveFile, KeyListHeadersAndFailures) {
  // A key chunk that is no chunk: wrong value; a chunk end: no keys.
  for (const char* body : {"0F 00000001", "02"}) {
    const std::string hex = std::string("01 00000001 00000000 01 0001AF53 00000000 ") + body +
                            (std::string(body) == "02" ? " 02" : " 02 02");
    CCurve c;
    AddKeys(c, {{1, 1}});
    lumtest::MemReader r(hex);
    const bool ok = c.ReadObject(&r.hf, true);
    if (std::string(body) == "02") {
      EXPECT_TRUE(ok);
      EXPECT_EQ(0, c.GetKeyCount());
    } else {
      EXPECT_FALSE(ok);  // wrong value, reported by the node's loop as a missing chunk end
      EXPECT_EQ(FILEERROR_CHUNKEND_MISSING, r.hf.GetError());
    }
  }
}

// The search from a hint gives FindKey's answer from every hint, on curves of fractional times
// and on one read from a file with two keys at the same time.
TEST(CurveFindKey, FromAnyHintAgreesWithFindKey) {
  std::mt19937 rng(37);
  auto check = [](const CCurve& c, const BaseTime& t, Int32 hint) {
    for (FINDANIM mode : {FINDANIM_EXACT, FINDANIM_LEFT, FINDANIM_RIGHT}) {
      Int32 want = 7, got = 9;
      const CKey* e = c.FindKey(t, &want, mode);
      ASSERT_EQ(e, c.FindKeyFrom(t, hint, &got, mode))
          << c.GetKeyCount() << " keys, t " << t.Get() << " hint " << hint << " mode " << mode;
      ASSERT_EQ(want, got);
    }
  };
  for (int round = 0; round < 200; ++round) {
    CCurve c;
    const int n = static_cast<int>(rng() % 40);
    const double den = 1 + rng() % 240;
    for (int i = 0; i < n; ++i) c.AddKey(BaseTime(static_cast<double>(rng() % 400), den));
    for (int probe = 0; probe < 30; ++probe) {
      const BaseTime t(static_cast<double>(rng() % 440) - 20, den);
      for (Int32 hint = -2; hint <= c.GetKeyCount() + 1; ++hint) check(c, t, hint);
    }
  }
  CCurve c;
  AddKeys(c, {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}});
  CCurve back;
  ASSERT_TRUE(scenetest::ReadNode(PatchTime(scenetest::WriteNode(c), 2, 1), back));
  ASSERT_EQ(Sec(1), back.GetKey(2)->GetTime());
  for (double s : {0.5, 1.0, 1.5, 3.0})
    for (Int32 hint = -1; hint <= 5; ++hint) check(back, Sec(s), hint);
}

}  // namespace
