// Evaluation: curve values by hand-computed cases and the worked example of doc/animation.md,
// the spline's properties at its keys over random curves, sampling within tolerance, and an
// object's animated matrix against the same values set by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "anim_support.h"
#include "lumora.h"
#include "test_support.h"

using namespace lumora;

namespace {

struct KeySpec {
  BaseTime time;
  double value;
  CINTERPOLATION inter;
  BaseTime tl, tr;  // tangent times
  double vl, vr;    // tangent values
  bool skipped;
};

KeySpec K(double t, double v, CINTERPOLATION i = CINTERPOLATION_SPLINE) {
  return {BaseTime(t), v, i, BaseTime(), BaseTime(), 0.0, 0.0, false};
}
KeySpec KT(BaseTime t, double v, BaseTime tl, double vl, BaseTime tr, double vr,
           CINTERPOLATION i = CINTERPOLATION_SPLINE) {
  return {t, v, i, tl, tr, vl, vr, false};
}

void Build(CCurve& c, const std::vector<KeySpec>& keys) {
  for (const KeySpec& s : keys) {
    const Int32 count = c.GetKeyCount();
    CKey* k = c.AddKey(s.time);
    if (c.GetKeyCount() == count) {
      // A second key at a time already held, as a file may bring it: a copy of the first put
      // into the list and indexed; the values given go to the one the index holds later.
      CKey* twin = static_cast<CKey*>(k->GetClone(COPYFLAGS(0), nullptr));
      c.GetKeyList()->InsertAfter(twin, k);
      ASSERT_TRUE(c._LoadKeysHack());
      Int32 at = -1;
      c.FindKey(s.time, &at, FINDANIM_EXACT);
      k = c.GetKey(at + 1) != nullptr && c.GetKey(at + 1)->GetTime() == s.time ? c.GetKey(at + 1)
                                                                               : c.GetKey(at);
    }
    k->SetValue(&c, s.value);
    k->SetInterpolation(&c, s.inter);
    k->SetTimeLeft(&c, s.tl);
    k->SetTimeRight(&c, s.tr);
    k->SetValueLeft(&c, s.vl);
    k->SetValueRight(&c, s.vr);
    if (s.skipped) k->ChangeNBit(CKEY_BIT_SKIPNEIGHBOUR, NBITCONTROL_SET);
  }
}

// Hand-computed values, one row per case: keys, then (time, value) pairs.
TEST(CurveValue, HandComputedCases) {
  const auto L = CINTERPOLATION_LINEAR, S = CINTERPOLATION_STEP;
  KeySpec skipped = K(1, 100, L);
  skipped.skipped = true;
  struct Row {
    const char* name;
    std::vector<KeySpec> keys;
    std::vector<std::pair<BaseTime, double>> expect;
  } rows[] = {
      {"empty", {}, {{BaseTime(0.0), 0.0}, {BaseTime(5.0), 0.0}}},
      {"single key", {K(1, 5)}, {{BaseTime(-3.0), 5}, {BaseTime(1.0), 5}, {BaseTime(9.0), 5}}},
      {"ends held", {K(1, 2, L), K(2, 4, L)}, {{BaseTime(0.0), 2}, {BaseTime(7.0), 4}}},
      {"step", {K(0, 1, S), K(1, 3)}, {{BaseTime(0.999), 1}, {BaseTime(1.0), 3}}},
      {"linear", {K(0, 1, L), K(2, 5)}, {{BaseTime(0.5), 2}, {BaseTime(1.5), 4}}},
      // Zero tangents: the Bezier's points are evenly spread in value as in time: a line.
      {"spline, no tangents", {K(0, 0), K(1, 2)}, {{BaseTime(1, 4), 0.5}, {BaseTime(0.6), 1.2}}},
      // Handles at thirds: the time is the parameter; y(1/2) = 3/8 + 3/8 + 1/8.
      {"spline, third handles",
       {KT(BaseTime(0.0), 0, BaseTime(), 0, BaseTime(1, 3), 1),
        KT(BaseTime(1.0), 1, BaseTime(-1, 3), 0, BaseTime(), 0)},
       {{BaseTime(1, 2), 0.875}}},
      // Handles of 2 s on a 1 s segment: clamped to 1 s, the right one's value 4 -> 2; at
      // parameter 1/4 the time is 7/16 and the value 6(1/4)(9/16) + 3(1/16)(3/4) + 1/64 = 1.
      {"spline, overlapping handles",
       {KT(BaseTime(0.0), 0, BaseTime(), 0, BaseTime(2.0), 4),
        KT(BaseTime(1.0), 1, BaseTime(-2.0), 0, BaseTime(), 0)},
       {{BaseTime(7, 16), 1.0}, {BaseTime(1.0), 1.0}}},
      {"key with bit 40 passed over", {K(0, 0, L), skipped, K(2, 2, L)}, {{BaseTime(1.0), 1.0}}},
      // Two keys at 1 s (0 and 5): the line arrives at 0, the later key holds from 1 s on.
      {"equal-time keys",
       {K(0, 2, L), K(1, 0, L), K(1, 5, L), K(2, 7, L)},
       {{BaseTime(0.5), 1}, {BaseTime(1.0), 5}, {BaseTime(1.5), 6}}},
  };
  for (const Row& r : rows) {
    CCurve c;
    Build(c, r.keys);
    for (const auto& e : r.expect)
      EXPECT_NEAR(e.second, c.GetValue(e.first), 1e-12) << r.name << " at " << e.first.Get();
  }
}

// The worked example of doc/animation.md.
TEST(CurveValue, ReproducesTheDocumentedExample) {
  CCurve c;
  Build(c, {KT(BaseTime(0.0), 0, BaseTime(), 0, BaseTime(1, 2), 1),
            KT(BaseTime(1.0), 2, BaseTime(-1, 4), -0.5, BaseTime(), 0, CINTERPOLATION_LINEAR),
            K(2, 1, CINTERPOLATION_STEP), K(3, 4)});
  EXPECT_NEAR(1.1875, c.GetValue(BaseTime(19, 32)), 1e-12);
  EXPECT_DOUBLE_EQ(1.5, c.GetValue(BaseTime(1.5)));
  EXPECT_DOUBLE_EQ(1.0, c.GetValue(BaseTime(2.5)));
  EXPECT_DOUBLE_EQ(4.0, c.GetValue(BaseTime(3.0)));
  EXPECT_DOUBLE_EQ(0.0, c.GetValue(BaseTime(-1.0)));
}

TEST(CurveValue, DataCurvesGiveTheLeftKeysData) {
  CCurve c;
  c.AddKey(BaseTime(1.0))->SetGeData(&c, GeData(Int32(7)));
  c.AddKey(BaseTime(2.0))->SetGeData(&c, GeData(Int32(9)));
  EXPECT_EQ(7, c.GetGeData(BaseTime(0.0)).GetInt32());
  EXPECT_EQ(7, c.GetGeData(BaseTime(1.9)).GetInt32());
  EXPECT_EQ(9, c.GetGeData(BaseTime(2.0)).GetInt32());
  CCurve empty;
  EXPECT_EQ(VALUETYPE_NIL, empty.GetGeData(BaseTime(1.0)).GetType());
}

// Random curves of every interpolation, handles short, long and pointing the wrong way.
void RandomCurve(CCurve& c, std::mt19937& rng, bool handlesWithinSegments) {
  std::uniform_real_distribution<double> value(-5, 5), reach(0.2, 0.45), wide(-0.5, 2.5);
  std::uniform_int_distribution<int> inter(1, handlesWithinSegments ? 1 : 3), gap(1, 40);
  Int32 frames[10] = {};
  for (int i = 1; i < 10; ++i) frames[i] = frames[i - 1] + gap(rng);
  std::vector<KeySpec> keys;
  for (int i = 1; i < 9; ++i) {
    // Reaches as fractions of the shorter neighbouring gap (in frames of 1/30 s).
    const double room = std::min(frames[i] - frames[i - 1], frames[i + 1] - frames[i]) / 30.0;
    const double l = (handlesWithinSegments ? reach(rng) : wide(rng)) * room;
    const double r = (handlesWithinSegments ? reach(rng) : wide(rng)) * room;
    keys.push_back(KT(BaseTime(frames[i], 30), value(rng), BaseTime(-l * 1e6, 1e6), value(rng),
                      BaseTime(r * 1e6, 1e6), value(rng), CINTERPOLATION(inter(rng))));
  }
  Build(c, keys);
}

// The spline passes through every key's value, and its slope at a key is the tangent's.
TEST(CurveValue, SplinePassesThroughKeysWithTheirTangentSlopes) {
  std::mt19937 rng(35);
  for (int round = 0; round < 50; ++round) {
    CCurve c;
    RandomCurve(c, rng, true);
    for (Int32 i = 0; i < c.GetKeyCount(); ++i) {
      const CKey* k = c.GetKey(i);
      EXPECT_NEAR(k->GetValue(), c.GetValue(k->GetTime()), 1e-12);
      // One-sided differences over h and 2h, extrapolated (Richardson) to cancel the bend.
      auto slope = [&](double h) {
        const double t = k->GetTime().Get() + h;
        return (c.GetValue(BaseTime(t * 1e12, 1e12)) - k->GetValue()) / h;
      };
      const double h = 1e-7;
      if (i + 1 < c.GetKeyCount()) {
        const double s = 2 * slope(h) - slope(2 * h);
        EXPECT_NEAR(k->GetValueRight() / k->GetTimeRight().Get(), s, 1e-4 * (1 + std::fabs(s)));
      }
      if (i > 0) {
        const double s = 2 * slope(-h) - slope(-2 * h);
        EXPECT_NEAR(k->GetValueLeft() / k->GetTimeLeft().Get(), s, 1e-4 * (1 + std::fabs(s)));
      }
    }
  }
}

// Lines between the sampled values stay within tolerance of the curve, away from the
// microsecond before a jump; time never runs backwards.
TEST(SampleCurve, StaysWithinToleranceOnRandomCurves) {
  std::mt19937 rng(36);
  for (double tolerance : {0.1, 1e-3, 1e-5}) {
    for (int round = 0; round < 20; ++round) {
      CCurve c;
      RandomCurve(c, rng, false);
      BaseArray<BaseTime> times;
      ASSERT_TRUE(SampleCurve(&c, tolerance, times));
      ASSERT_GE(times.GetCount(), c.GetKeyCount());
      std::vector<double> at, v;
      for (const BaseTime& t : times) {
        if (!at.empty()) {
          ASSERT_LT(at.back(), t.Get());
        }
        at.push_back(t.Get());
        v.push_back(c.GetValue(t));
      }
      EXPECT_EQ(c.GetKey(0)->GetTime().Get(), at.front());
      EXPECT_EQ(c.GetKey(c.GetKeyCount() - 1)->GetTime().Get(), at.back());
      std::uniform_real_distribution<double> u(0, 1);
      for (size_t i = 0; i + 1 < at.size(); ++i) {
        if (at[i + 1] - at[i] < 1.5e-6) continue;
        for (int j = 0; j < 8; ++j) {
          const double f = u(rng), t = at[i] + (at[i + 1] - at[i]) * f;
          const double line = v[i] + (v[i + 1] - v[i]) * f;
          ASSERT_NEAR(line, c.GetValue(BaseTime(t * 1e9, 1e9)), tolerance * 1.0001 + 1e-9)
              << "tolerance " << tolerance << " between " << at[i] << " and " << at[i + 1];
        }
      }
    }
  }
  BaseArray<BaseTime> times;
  CCurve empty;
  EXPECT_TRUE(SampleCurve(&empty, 0.1, times));
  EXPECT_EQ(0, times.GetCount());
  EXPECT_FALSE(SampleCurve(&empty, 0.0, times));
  EXPECT_FALSE(SampleCurve(nullptr, 0.1, times));
}

// ---- objects ----

CTrack* AddComponentTrack(BaseObject* o, Int32 param, Int32 component) {
  CTrack* t = CTrack::Alloc(o, DescID(DescLevel(param, 23, 0), DescLevel(1000 + component, 19, 0)),
                            String("c"));
  EXPECT_TRUE(o->InsertTrackSorted(t));
  return t;
}

void ExpectMatrixNear(const Matrix64& a, const Matrix64& b, double eps) {
  const Vector64* pa[] = {&a.off, &a.v1, &a.v2, &a.v3};
  const Vector64* pb[] = {&b.off, &b.v1, &b.v2, &b.v3};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(pa[i]->x, pb[i]->x, eps);
    EXPECT_NEAR(pa[i]->y, pb[i]->y, eps);
    EXPECT_NEAR(pa[i]->z, pb[i]->z, eps);
  }
}

// Random subsets of the nine components animated, every rotation order, with and without a
// frozen transformation: the animated matrix is the one the object gives once the same values
// are set by hand; the object itself does not change.
TEST(AnimatedMl, EqualsTheValuesSetByHand) {
  std::mt19937 rng(37);
  std::uniform_real_distribution<double> v(-2, 2);
  for (int round = 0; round < 56; ++round) {
    BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
    o->SetRotationOrder(ROTATIONORDER(round % 7));
    o->SetRelPos(Vector64(v(rng), v(rng), v(rng)));
    o->SetRelRot(Vector64(v(rng), v(rng), v(rng)));
    if (round % 2) {
      o->SetFrozenRot(Vector64(v(rng), v(rng), v(rng)));
      o->SetFrozenPos(Vector64(v(rng), v(rng), v(rng)));
      o->SetFrozenScale(Vector64(v(rng), 1.5, v(rng)));
    }
    const Matrix64 before = o->GetMl();
    const Int32 params[] = {903, 904, 905};
    for (Int32 p = 0; p < 3; ++p)
      for (Int32 k = 0; k < 3; ++k)
        if (round > 0 && rng() % 2)  // the first object has no tracks
          animtest::AddKeys(*AddComponentTrack(o, params[p], k)->GetCurve(),
                            {{0.0, v(rng)}, {1.0, v(rng)}, {2.5, v(rng)}});
    const BaseTime t(std::uniform_real_distribution<double>(-1, 3)(rng));
    const Matrix64 animated = GetAnimatedMl(o, t);
    EXPECT_EQ(before, o->GetMl());
    Vector64 value[3] = {o->GetRelPos(), o->GetRelRot(), o->GetRelScale()};
    for (Int32 p = 0; p < 3; ++p) {
      for (Int32 k = 0; k < 3; ++k) {
        const CTrack* tr = o->FindCTrack(DescID(DescLevel(params[p]), DescLevel(1000 + k)));
        double* c = k == 0 ? &value[p].x : (k == 1 ? &value[p].y : &value[p].z);
        if (tr != nullptr) *c = tr->GetValue(t);
      }
    }
    o->SetRelPos(value[0]);
    o->SetRelRot(value[1]);
    o->SetRelScale(value[2]);
    EXPECT_EQ(o->GetMl(), animated) << "round " << round;
    BaseObject::Free(o);
  }
  EXPECT_EQ(Matrix64(), GetAnimatedMl(nullptr, BaseTime(1.0)));
}

// In quaternion mode the rotation turns along the shortest arc: halfway between the identity
// and a rotation R it is the rotation whose square is R, which the Euler angles' halfway
// point is not; at the keys it is the keys' rotation.
// Any rotation turned into a quaternion and back, or blended with itself, comes out unchanged.
TEST(Quaternions, RandomRotationsRoundTripAndBlendWithThemselves) {
  std::mt19937 rng(38);
  std::uniform_real_distribution<double> angle(-3.2, 3.2);
  for (int round = 0; round < 200; ++round) {
    const Matrix64 m = HPBToMatrix(Vector64(angle(rng), angle(rng), angle(rng)), ROTATIONORDER_HPB);
    const Quaternion q = MatrixToQuaternion(m);
    ExpectMatrixNear(m, QuaternionToMatrix(q), 1e-12);
    ExpectMatrixNear(m, QuaternionToMatrix(QuaternionSlerp(q, q, 0.3)), 1e-12);
  }
}

TEST(AnimatedMl, QuaternionObjectsTurnAlongTheShortestArc) {
  BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
  ASSERT_TRUE(o->SetParameter(929, GeData(Int32(1))));
  const double end[3] = {1.2, 0.9, -0.4};
  for (Int32 k = 0; k < 3; ++k)
    animtest::AddKeys(*AddComponentTrack(o, 904, k)->GetCurve(), {{0.0, 0.0}, {2.0, end[k]}});
  const Matrix64 r = HPBToMatrix(Vector64(end[0], end[1], end[2]), ROTATIONORDER_HPB);
  ExpectMatrixNear(r, GetAnimatedMl(o, BaseTime(2.0)), 1e-12);
  const Matrix64 half = GetAnimatedMl(o, BaseTime(1.0));
  ExpectMatrixNear(r, half * half, 1e-12);
  const Matrix64 euler = HPBToMatrix(Vector64(0.6, 0.45, -0.2), ROTATIONORDER_HPB);
  EXPECT_GT(std::fabs(euler.v1.x - half.v1.x) + std::fabs(euler.v3.y - half.v3.y), 1e-3);
  // A step at the first key holds the identity until the second.
  o->GetFirstCTrack()->GetCurve()->GetKey(0)->SetInterpolation(nullptr, CINTERPOLATION_STEP);
  ExpectMatrixNear(Matrix64(), GetAnimatedMl(o, BaseTime(1.0)), 0.0);
  BaseObject::Free(o);
  // Turns near half a circle about each axis, where a different axis dominates the rotation.
  for (const Vector64& turn : {Vector64(3.0, 0, 0), Vector64(0, 3.0, 0), Vector64(0, 0, 3.0)}) {
    BaseObject* q = BaseObject::Alloc(TYPE_OBJECT);
    ASSERT_TRUE(q->SetParameter(929, GeData(Int32(1))));
    const double e[3] = {turn.x, turn.y, turn.z};
    for (Int32 k = 0; k < 3; ++k)
      animtest::AddKeys(*AddComponentTrack(q, 904, k)->GetCurve(), {{0.0, 0.0}, {2.0, e[k]}});
    const Matrix64 m = GetAnimatedMl(q, BaseTime(1.0));
    ExpectMatrixNear(HPBToMatrix(turn, ROTATIONORDER_HPB), m * m, 1e-9);
    BaseObject::Free(q);
  }
}

}  // namespace
