// Objects: the seven rotation orders against an independent matrix product, the matrix
// algebra, the transform setters and their invariants (frozen transformations, locks, clamping,
// decomposition), the parameter table, the object chunks at every level with a byte-exact round
// trip of a hierarchy, allocation and copies, and the geometry checksum.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "../scene/scene_support.h"
#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using scenetest::Bytes;

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---- an independent rotation model: row-major 3 x 3 arrays ----

struct M3 {
  double m[3][3];
};

M3 Mul3(const M3& a, const M3& b) {
  M3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}

// Elementary rotations as the columns the format defines (column j is axis j).
M3 RotX(double a) {
  double c = std::cos(a), s = std::sin(a);
  return M3{{{1, 0, 0}, {0, c, s}, {0, -s, c}}};
}
M3 RotY(double a) {
  double c = std::cos(a), s = std::sin(a);
  return M3{{{c, 0, -s}, {0, 1, 0}, {s, 0, c}}};
}
M3 RotZ(double a) {
  double c = std::cos(a), s = std::sin(a);
  return M3{{{c, s, 0}, {-s, c, 0}, {0, 0, 1}}};
}

M3 Reference(const Vector64& v, int order) {
  switch (order) {
    case 0: return Mul3(Mul3(RotZ(v.z), RotX(v.x)), RotY(v.y));
    case 1: return Mul3(Mul3(RotX(v.x), RotZ(v.z)), RotY(v.y));
    case 2: return Mul3(Mul3(RotX(v.x), RotY(v.y)), RotZ(v.z));
    case 3: return Mul3(Mul3(RotY(v.y), RotX(v.x)), RotZ(v.z));
    case 4: return Mul3(Mul3(RotY(v.y), RotZ(v.z)), RotX(v.x));
    case 5: return Mul3(Mul3(RotZ(v.z), RotY(v.y)), RotX(v.x));
    default: return Mul3(Mul3(RotY(v.x), RotX(v.y)), RotZ(v.z));
  }
}

double Col(const Matrix64& m, int row, int col) {
  const Vector64& a = col == 0 ? m.v1 : (col == 1 ? m.v2 : m.v3);
  return row == 0 ? a.x : (row == 1 ? a.y : a.z);
}

double MaxDiff(const Matrix64& a, const Matrix64& b) {
  double d = std::fabs(a.off.x - b.off.x) + std::fabs(a.off.y - b.off.y) + std::fabs(a.off.z - b.off.z);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) d = std::max(d, std::fabs(Col(a, i, j) - Col(b, i, j)));
  return d;
}

double MaxDiff(const Matrix64& a, const M3& b) {
  double d = 0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) d = std::max(d, std::fabs(Col(a, i, j) - b.m[i][j]));
  return d;
}

double Diff(const Vector64& a, const Vector64& b) {
  return std::max({std::fabs(a.x - b.x), std::fabs(a.y - b.y), std::fabs(a.z - b.z)});
}

// The middle angle of each order (the one whose cosine decides gimbal lock).
double Middle(const Vector64& v, int order) {
  switch (order) {
    case 0: case 3: return v.x;
    case 1: case 4: return v.z;
    default: return v.y;
  }
}

TEST(Rotation, EveryOrderMatchesAnIndependentProductAndRoundTrips) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> angle(-3 * kPi, 3 * kPi);
  for (int order = 0; order <= 6; ++order) {
    for (int i = 0; i < 2000; ++i) {
      Vector64 v(angle(rng), angle(rng), angle(rng));
      const Matrix64 m = HPBToMatrix(v, ROTATIONORDER(order));
      ASSERT_LT(MaxDiff(m, Reference(v, order)), 1e-12) << "order " << order;
      EXPECT_EQ(Vector64(), m.off);
      if (std::fabs(std::cos(Middle(v, order))) < 0.01) continue;
      const Vector64 back = MatrixToHPB(m, ROTATIONORDER(order));
      ASSERT_LT(MaxDiff(HPBToMatrix(back, ROTATIONORDER(order)), m), 1e-9) << "order " << order;
      // Brought near the original, the angles are the original ones.
      ASSERT_LT(Diff(GetOptimalAngle(v, back, ROTATIONORDER(order)), v), 1e-9) << "order " << order;
    }
    // Scaled axes decompose the same way.
    const Vector64 v(0.4, -0.7, 1.1);
    Matrix64 s = HPBToMatrix(v, ROTATIONORDER(order)) * MatrixScale(Vector64(2, 3, 0.5));
    EXPECT_LT(Diff(MatrixToHPB(s, ROTATIONORDER(order)),
                   MatrixToHPB(HPBToMatrix(v, ROTATIONORDER(order)), ROTATIONORDER(order))),
              1e-12);
    EXPECT_EQ(Matrix64(), HPBToMatrix(Vector64(), ROTATIONORDER(order)));
  }
}

TEST(Rotation, GimbalLockTakesTheWholeTurnInTheFirstAngle) {
  // Middle angles at exactly +-90 degrees: the decomposition is still the same rotation, with
  // the angle the gimbal branch zeroes at 0.
  const double quarter = kPi / 2;
  for (int order = 0; order <= 6; ++order) {
    for (double sign : {1.0, -1.0}) {
      for (double turn : {0.3, -2.0, 2.9}) {
        Vector64 v;
        switch (order) {
          case 0: case 3: v = Vector64(sign * quarter, turn, 0.0); break;
          case 1: case 4: v = Vector64(order == 1 ? 0.0 : turn, order == 1 ? turn : 0.0, sign * quarter); break;
          case 2: v = Vector64(turn, sign * quarter, 0.0); break;
          case 5: v = Vector64(turn, sign * quarter, 0.0); break;
          default: v = Vector64(0.0, sign * quarter, turn); break;
        }
        const Matrix64 m = HPBToMatrix(v, ROTATIONORDER(order));
        const Vector64 back = MatrixToHPB(m, ROTATIONORDER(order));
        EXPECT_LT(MaxDiff(HPBToMatrix(back, ROTATIONORDER(order)), m), 1e-6)
            << "order " << order << " sign " << sign << " turn " << turn;
        if (order == 6) { EXPECT_EQ(0.0, back.x); }
        if (order == 0 || order == 2 || order == 3 || order == 5) { EXPECT_EQ(0.0, back.z); }
        if (order == 1) { EXPECT_EQ(0.0, back.x); }
        if (order == 4) { EXPECT_EQ(0.0, back.y); }
      }
    }
  }
  // Order 6 at pitch +90: H = 0, the pitch is the double-precision quarter turn.
  const Vector64 hpb = MatrixToHPB(HPBToMatrix(Vector64(0.0, quarter, 0.5), ROTATIONORDER_HPB), ROTATIONORDER_HPB);
  EXPECT_EQ(0.0, hpb.x);
  EXPECT_EQ(1.5707963267948966, hpb.y);
  EXPECT_NEAR(0.5, hpb.z, 1e-7);
  // The clamped arcsine answers with the single-precision quarter turn: order 0 with -Y.z = 1.
  Matrix64 m(Vector64(), Vector64(1, 0, 0), Vector64(0, 0, -1), Vector64(0, 1, 0));
  EXPECT_EQ(1.5707963705062866, MatrixToHPB(m, ROTATIONORDER_ZXY).x);
  // And the clamped arccosine its single-precision half turn: order 6 at pitch -90 with X = -X.
  Matrix64 flip(Vector64(), Vector64(-1, 0, 0), Vector64(0, 0, -1), Vector64(0, -1, 0));
  EXPECT_EQ(3.1415927410125732, MatrixToHPB(flip, ROTATIONORDER_HPB).z);
}

TEST(Rotation, HeadingPitchBankExamples) {
  const Vector64 a = MatrixToHPB(HPBToMatrix(Vector64(0.3, 0.2, 0.1), ROTATIONORDER_HPB), ROTATIONORDER_HPB);
  EXPECT_LT(Diff(a, Vector64(0.3, 0.2, 0.1)), 1e-12);
  const Vector64 b = MatrixToHPB(HPBToMatrix(Vector64(-0.3, 0.2, -0.1), ROTATIONORDER_HPB), ROTATIONORDER_HPB);
  EXPECT_LT(Diff(b, Vector64(2 * kPi - 0.3, 0.2, 2 * kPi - 0.1)), 1e-12);
  EXPECT_LT(Diff(GetOptimalAngle(Vector64(), b, ROTATIONORDER_HPB), Vector64(-0.3, 0.2, -0.1)), 1e-12);
  // The alternative triple wins when it is closer: (pi + x, pi - y, pi + z) in order 6.
  const Vector64 c = GetOptimalAngle(Vector64(3.0, 3.0, 3.0), Vector64(0.1, 0.2, 0.1), ROTATIONORDER_HPB);
  EXPECT_LT(Diff(c, Vector64(kPi + 0.1, kPi - 0.2, kPi + 0.1)), 1e-12);
}

TEST(MatrixAlgebra, ProductInverseAndScale) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(-5, 5);
  for (int i = 0; i < 500; ++i) {
    Matrix64 m(Vector64(u(rng), u(rng), u(rng)), Vector64(u(rng), u(rng), u(rng)),
               Vector64(u(rng), u(rng), u(rng)), Vector64(u(rng), u(rng), u(rng)));
    const Vector64 p(u(rng), u(rng), u(rng));
    const Matrix64 n(Vector64(u(rng), 0, 1), Vector64(0, 2, 0), Vector64(1, 0, 1), Vector64(0, 0, 3));
    EXPECT_LT(Diff((m * n) * p, m * (n * p)), 1e-9);
    if (std::fabs(Dot(m.v1, Cross(m.v2, m.v3))) < 1e-2) continue;
    EXPECT_LT(MaxDiff(m * ~m, Matrix64()), 1e-8);
    EXPECT_LT(MaxDiff(~m * m, Matrix64()), 1e-8);
  }
  Matrix64 singular(Vector64(1, 2, 3), Vector64(1, 0, 0), Vector64(2, 0, 0), Vector64(0, 0, 1));
  EXPECT_EQ(Matrix64(), ~singular);
  EXPECT_EQ(Vector64(2, 6, -1), MatrixScale(Vector64(2, 3, -1)) * Vector64(1, 2, 1));
}

// ---- transforms ----

// Checks the invariants that every setter restores.
void ExpectInvariants(BaseObject* o, double tol = 1e-9) {
  const ROTATIONORDER order = o->GetRotationOrder();
  EXPECT_LT(MaxDiff(o->GetRotationMatrix(), HPBToMatrix(o->GetRelRot(), order)), tol);
  EXPECT_LT(MaxDiff(o->GetFrozenMatrix(), HPBToMatrix(o->GetFrozenRot(), order)), tol);
  const UInt32 f = o->GetFrozenFlags();
  const Vector64 pa = f != 0 ? o->GetFrozenMatrix() * o->GetRelPos() + o->GetFrozenPos() : o->GetRelPos();
  EXPECT_LT(Diff(o->GetAbsPos(), pa), tol * (1 + std::fabs(pa.x) + std::fabs(pa.y) + std::fabs(pa.z)));
  const Vector64 s = o->GetRelScale(), sf = o->GetFrozenScale();
  const Vector64 sa = (f & 8) != 0 ? Vector64(s.x * sf.x, s.y * sf.y, s.z * sf.z) : s;
  EXPECT_LT(Diff(o->GetAbsScale(), sa), tol * (1 + std::fabs(sa.x) + std::fabs(sa.y) + std::fabs(sa.z)));
  // The absolute rotation turns like the frozen and relative rotations together (within the
  // decomposition's accuracy near gimbal lock, where |cos| of the middle angle <= 0.005 zeroes
  // one angle).
  const Matrix64 r = (f & 4) != 0 ? o->GetFrozenMatrix() * o->GetRotationMatrix() : o->GetRotationMatrix();
  EXPECT_LT(MaxDiff(HPBToMatrix(o->GetAbsRot(), order), r), 1e-2);
}

TEST(Transform, NewObjectAndRelativeSetters) {
  BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
  ASSERT_NE(nullptr, o);
  EXPECT_TRUE(o->IsMatrixDirty());
  EXPECT_EQ(Matrix64(), o->_GetMl());
  EXPECT_EQ(Matrix64(), o->GetMg());
  EXPECT_EQ(ROTATIONORDER_HPB, o->GetRotationOrder());
  o->SetRelPos(Vector64(1, 2, 3));
  EXPECT_EQ(Vector64(1, 2, 3), o->_GetMl().off);
  EXPECT_EQ(Vector64(1, 2, 3), o->GetAbsPos());
  o->SetRelPos(Vector64(1, 2, 3));  // the same value changes nothing
  EXPECT_FALSE(o->IsMatrixDirty());
  o->SetRelRot(Vector64(kPi / 2, 0, 0));
  EXPECT_TRUE(o->IsMatrixDirty());
  const Matrix64 ml = o->_GetMl();
  EXPECT_LT(Diff(ml.v1, Vector64(0, 0, 1)), 1e-15);
  EXPECT_LT(Diff(ml.v2, Vector64(0, 1, 0)), 1e-15);
  EXPECT_LT(Diff(ml.v3, Vector64(-1, 0, 0)), 1e-15);
  o->SetRelScale(Vector64(2, 1e60, -1e70));
  EXPECT_EQ(Vector64(2, 1e50, -1e50), o->GetRelScale());
  EXPECT_EQ(o->GetRelScale(), o->GetAbsScale());
  ExpectInvariants(o);
  BaseObject::Free(o);
  EXPECT_EQ(nullptr, o);
}

TEST(Transform, FrozenValuesAndExactAbsoluteSetters) {
  BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
  o->SetRelPos(Vector64(1, 2, 3));
  o->SetFrozenRot(Vector64(0, kPi / 2, 0));
  EXPECT_EQ(4u, o->GetFrozenFlags());
  ExpectInvariants(o);
  for (const Vector64& p : {Vector64(0.1, 0.7, -3.3), Vector64(1e10, -1e-7, 12345.678)}) {
    o->SetAbsPos(p);
    EXPECT_EQ(p, o->GetAbsPos());
    EXPECT_LT(Diff(o->GetFrozenMatrix() * o->GetRelPos(), p), 1e-6 * (1 + std::fabs(p.x)));
  }
  const Vector64 rot(0.25, -0.5, 1.0);
  o->SetAbsRot(rot);
  EXPECT_EQ(rot, o->GetAbsRot());
  EXPECT_LT(MaxDiff(o->GetFrozenMatrix() * o->GetRotationMatrix(), HPBToMatrix(rot, ROTATIONORDER_HPB)), 1e-12);
  o->SetFrozenPos(Vector64(0, 0, 5));
  o->SetFrozenScale(Vector64(2, 0, 4));
  EXPECT_EQ(14u, o->GetFrozenFlags());
  ExpectInvariants(o);
  o->SetAbsScale(Vector64(3, 7, 1));
  EXPECT_EQ(Vector64(1.5, 0, 0.25), o->GetRelScale());  // a zero frozen component gives 0
  EXPECT_EQ(Vector64(3, 7, 1), o->GetAbsScale());
  // The local matrix is frozen position + frozen rotation applied to relative ones.
  const Matrix64 ml = o->_GetMl();
  EXPECT_EQ(o->GetAbsPos(), ml.off);
  // Clearing every frozen value returns to the plain relative transform.
  o->SetFrozenPos(Vector64());
  o->SetFrozenScale(Vector64(1, 1, 1));
  o->SetFrozenRot(Vector64());
  EXPECT_EQ(0u, o->GetFrozenFlags());
  EXPECT_EQ(o->GetRelPos(), o->GetAbsPos());
  EXPECT_EQ(o->GetRelRot(), o->GetAbsRot());
  EXPECT_EQ(Matrix64(), o->GetFrozenMatrixInverse());
  BaseObject::Free(o);
}

// The relative, frozen and absolute position, rotation and scale setters, in that order.
using VectorSetter = void (BaseObject::*)(const Vector64&);
const VectorSetter kVectorSetters[] = {
    &BaseObject::SetRelPos,    &BaseObject::SetRelRot,    &BaseObject::SetRelScale,
    &BaseObject::SetFrozenPos, &BaseObject::SetFrozenRot, &BaseObject::SetFrozenScale,
    &BaseObject::SetAbsPos,    &BaseObject::SetAbsRot,    &BaseObject::SetAbsScale};

TEST(Transform, RandomSetterSequencesKeepTheInvariants) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(-3, 3);
  std::uniform_int_distribution<int> pick(0, 12);
  BaseObject* parent = BaseObject::Alloc(TYPE_OBJECT);
  BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
  o->InsertUnder(parent);
  parent->SetRelPos(Vector64(1, -2, 0.5));
  parent->SetRelRot(Vector64(0.3, 0.1, -0.4));
  parent->SetRelScale(Vector64(1.5, 1.5, 1.5));  // uniform: a global matrix stays decomposable
  // The first half without a frozen transform (the absolute setters take the relative path).
  for (int i = 0; i < 3000; ++i) {
    const Vector64 v(u(rng), u(rng), u(rng));
    const Vector64 s(0.5 + std::fabs(v.x), 0.5 + std::fabs(v.y), 0.5 + std::fabs(v.z));
    const int kind = pick(rng);
    if (i < 1500 && kind >= 3 && kind <= 5) continue;
    // Matrices are decomposed exactly only away from the locked band (a middle angle whose
    // cosine is below 0.005 is taken as locked, and the angles found there are approximate).
    const bool nearLock = std::fabs(std::cos(v.x)) < 0.01 || std::fabs(std::cos(v.y)) < 0.01 ||
                          std::fabs(std::cos(v.z)) < 0.01;
    if ((kind == 10 || kind == 11) && nearLock) continue;
    switch (kind) {
      case 0: o->SetRelPos(v); break;
      case 1: o->SetRelRot(v); break;
      case 2: o->SetRelScale(s); break;
      case 3: o->SetFrozenPos(v); break;
      case 4: o->SetFrozenRot(v); break;
      case 5: o->SetFrozenScale(s); break;
      case 6: o->SetAbsPos(v); break;
      case 7: o->SetAbsRot(v); break;
      case 8: o->SetAbsScale(s); break;
      case 9: o->SetRotationOrder(ROTATIONORDER(int(std::fabs(v.x) * 2.3) % 7)); break;
      case 10: {
        const Matrix64 m = HPBToMatrix(v, o->GetRotationOrder()) * MatrixScale(s);
        Matrix64 t = m;
        t.off = v;
        o->SetMl(t);
        EXPECT_LT(MaxDiff(o->_GetMl(), t), 1e-8) << i;
        break;
      }
      case 11: {
        Matrix64 t = HPBToMatrix(v, ROTATIONORDER_XYZ) * MatrixScale(s);
        t.off = Vector64(v.z, v.x, 1.0);
        o->SetMg(t);
        EXPECT_LT(MaxDiff(o->GetMg(), t), 1e-8) << i;
        break;
      }
      default: {
        const Matrix64 before = o->GetRotationMatrix();
        o->SetRotationOrder(ROTATIONORDER((o->GetRotationOrder() + 1) % 7));
        EXPECT_LT(MaxDiff(o->GetRotationMatrix(), before), 1e-8);
        break;
      }
    }
    if (kind <= 7) {  // the same value again changes nothing
      o->_GetMl();
      (o->*kVectorSetters[kind])(kind % 3 == 2 ? s : v);
      EXPECT_FALSE(o->IsMatrixDirty()) << i;
    }
    ExpectInvariants(o, 1e-8);
    if (HasFailure()) break;
  }
  // The global matrix composes the ancestors' local matrices.
  EXPECT_LT(MaxDiff(o->GetMg(), parent->_GetMl() * o->_GetMl()), 1e-12);
  EXPECT_LT(MaxDiff(o->GetUpMg(), parent->GetMg()), 0.0 + 1e-300);
  BaseObject::Free(parent);
}

TEST(Transform, DecompositionKeepsMirrorsAndZeroScales) {
  BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
  // The axis the object's scale mirrors stays the mirrored one; a left-handed matrix the
  // object's scale does not mirror is taken as a mirrored y axis.
  const struct {
    Vector64 hint, scale, expected;
  } mirrors[] = {
      {Vector64(-1, 1, 1), Vector64(-2, 3, 4), Vector64(-2, 3, 4)},
      {Vector64(1, 1, -1), Vector64(2, 3, -4), Vector64(2, 3, -4)},
      {Vector64(1, 1, 1), Vector64(2, 3, -4), Vector64(2, -3, 4)},
      {Vector64(-1, 1, -1), Vector64(-2, 3, -4), Vector64(-2, 3, -4)},
  };
  for (const auto& m : mirrors) {
    o->SetRelScale(m.hint);
    const Matrix64 mirrored =
        HPBToMatrix(Vector64(0.2, 0.3, 0.4), ROTATIONORDER_HPB) * MatrixScale(m.scale);
    o->SetRelMl(mirrored);
    EXPECT_LT(Diff(o->GetRelScale(), m.expected), 1e-12) << m.scale.z;
    EXPECT_LT(MaxDiff(o->_GetMl(), mirrored), 1e-12) << m.scale.z;
    ExpectInvariants(o);
  }
  // With a zero relative scale the rotation becomes (0, 0, 0).
  o->SetRelScale(Vector64(0, 0, 0));
  o->SetRelMl(HPBToMatrix(Vector64(0.5, 0, 0), ROTATIONORDER_HPB));
  EXPECT_EQ(Vector64(), o->GetRelRot());
  ExpectInvariants(o);
  // Mended: a matrix without axes on an object with a non-zero scale also takes the rotation
  // (0, 0, 0), so that the rotation matrix and the angles agree.
  o->SetRelRot(Vector64(1, 1, 1));
  o->SetRelScale(Vector64(1, 2, 3));
  Matrix64 zero(Vector64(4, 5, 6), Vector64(), Vector64(), Vector64());
  o->SetRelMl(zero);
  EXPECT_EQ(Vector64(), o->GetRelRot());
  EXPECT_EQ(Vector64(), o->GetRelScale());
  EXPECT_EQ(Vector64(4, 5, 6), o->GetRelPos());
  EXPECT_EQ(Matrix64(), o->GetRotationMatrix());
  ExpectInvariants(o);
  BaseObject::Free(o);
}

// ---- parameters ----

TEST(Parameters, TheTableReadsAndWritesTheFields) {
  BaseObject* parent = BaseObject::Alloc(TYPE_OBJECT);
  BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
  o->InsertUnder(parent);
  parent->SetRelPos(Vector64(10, 0, 0));
  o->SetFrozenPos(Vector64(0, 1, 0));
  struct Row {
    Int32 id;
    Vector64 set;
    const Vector64& (BaseObject::*field)() const;
  } rows[] = {
      {903, Vector64(1, 2, 3), &BaseObject::GetRelPos},
      {904, Vector64(0.1, 0.2, 0.3), &BaseObject::GetRelRot},
      {905, Vector64(2, 3, 4), &BaseObject::GetRelScale},
      {917, Vector64(0, 2, 0), &BaseObject::GetFrozenPos},
      {918, Vector64(0.5, 0, 0), &BaseObject::GetFrozenRot},
      {919, Vector64(1, 2, 1), &BaseObject::GetFrozenScale},
      {925, Vector64(5, 6, 7), &BaseObject::GetAbsPos},
      {926, Vector64(0.2, 0.1, 0.3), &BaseObject::GetAbsRot},
      {927, Vector64(4, 4, 4), &BaseObject::GetAbsScale},
  };
  for (const Row& r : rows) {
    ASSERT_TRUE(o->SetParameter(r.id, GeData(r.set))) << r.id;
    GeData out;
    ASSERT_TRUE(o->GetDParameter(DescID(r.id), out)) << r.id;
    EXPECT_LT(Diff(out.GetVector(), r.set), 1e-12) << r.id;
    EXPECT_LT(Diff((o->*r.field)(), r.set), 1e-12) << r.id;
    // One component through the second level.
    ASSERT_TRUE(o->SetDParameter(DescID(DescLevel(r.id), DescLevel(1001)), GeData(0.75))) << r.id;
    EXPECT_NEAR(0.75, (o->*r.field)().y, 1e-12) << r.id;
    ASSERT_TRUE(o->GetDParameter(DescID(DescLevel(r.id), DescLevel(1002)), out));
    EXPECT_NEAR((o->*r.field)().z, out.GetFloat(), 1e-15) << r.id;
    ASSERT_TRUE(o->SetDParameter(DescID(DescLevel(r.id), DescLevel(1000)), GeData(0.5))) << r.id;
    EXPECT_NEAR(0.5, (o->*r.field)().x, 1e-12) << r.id;
  }
  struct IntRow {
    Int32 id;
    Int32 value;
  } ints[] = {{901, 5}, {902, 7}, {907, 9}, {909, 1}, {913, 11}, {928, 2}};
  for (const IntRow& r : ints) {
    GeData out;
    ASSERT_TRUE(o->SetParameter(r.id, GeData(r.value)));
    ASSERT_TRUE(o->GetDParameter(DescID(r.id), out));
    EXPECT_EQ(r.value, out.GetInt32()) << r.id;
  }
  EXPECT_EQ(ROTATIONORDER_XYZ, o->GetRotationOrder());
  EXPECT_FALSE(o->SetParameter(928, GeData(Int32(7))));  // no such order
  // 906: the negation of the disabled field, always on for polygon objects.
  GeData out;
  ASSERT_TRUE(o->SetParameter(906, GeData(Int32(0))));
  EXPECT_EQ(1, o->GetDisabled());
  ASSERT_TRUE(o->GetDParameter(DescID(906), out));
  EXPECT_EQ(0, out.GetInt32());
  BaseObject* poly = BaseObject::Alloc(TYPE_POLYGONOBJECT);
  poly->SetParameter(906, GeData(Int32(0)));
  ASSERT_TRUE(poly->GetDParameter(DescID(906), out));
  EXPECT_EQ(1, out.GetInt32());
  BaseObject::Free(poly);
  // 908: read as stored once, clamped to [0, 1] afterwards.
  ASSERT_TRUE(o->SetParameter(908, GeData(Vector64(2, 0, 0))));
  ASSERT_TRUE(o->GetDParameter(DescID(908), out));
  EXPECT_EQ(Vector64(2, 0, 0), out.GetVector());
  ASSERT_TRUE(o->GetDParameter(DescID(908), out));
  EXPECT_EQ(Vector64(1, 0, 0), out.GetVector());
  // 910 and 911: global position and rotation through the parent.
  o->SetParameter(910, GeData(Vector64(3, 4, 5)));
  EXPECT_LT(Diff(o->GetMg().off, Vector64(3, 4, 5)), 1e-12);
  ASSERT_TRUE(o->GetDParameter(DescID(910), out));
  EXPECT_LT(Diff(out.GetVector(), Vector64(3, 4, 5)), 1e-12);
  parent->SetRelRot(Vector64(0.4, 0, 0));
  o->SetParameter(911, GeData(Vector64(1.0, 0.2, 0.3)));
  EXPECT_LT(MaxDiff(HPBToMatrix(MatrixToHPB(o->GetMg(), o->GetRotationOrder()), o->GetRotationOrder()),
                    HPBToMatrix(Vector64(1.0, 0.2, 0.3), o->GetRotationOrder())),
            1e-9);
  ASSERT_TRUE(o->GetDParameter(DescID(911), out));
  EXPECT_LT(MaxDiff(HPBToMatrix(out.GetVector(), o->GetRotationOrder()),
                    HPBToMatrix(Vector64(1.0, 0.2, 0.3), o->GetRotationOrder())),
            1e-9);
  // Without a parent the global rotation is the absolute one.
  parent->SetParameter(911, GeData(Vector64(0.1, 0, 0)));
  EXPECT_LT(Diff(parent->GetAbsRot(), Vector64(0.1, 0, 0)), 1e-12);
  // Other ids land in the container; 929 is the quaternion switch.
  EXPECT_FALSE(o->IsQuaternionRotationMode());
  ASSERT_TRUE(o->SetParameter(929, GeData(Int32(1))));
  EXPECT_TRUE(o->IsQuaternionRotationMode());
  BaseObject::Free(parent);
}

// ---- allocation ----

TEST(ObjectAlloc, TypesDataAndDiskTypes) {
  struct Row {
    Int32 type;
    Int32 getType;
    Int32 diskType;
    bool data;
    bool point;
  } rows[] = {
      {5154, 5154, 5154, false, false},     {1001091, 5100, 1001091, false, true},
      {440000200, 5154, 440000200, false, false}, {5100, 5100, 1001091, true, true},
      {5101, 5101, 5101, true, true},       {5137, 5101, 5101, true, true},
      {5102, 5102, 5154, true, false},      {5120, 5120, 5154, true, false},
      {777777, 777777, 5154, false, false},
  };
  for (const Row& r : rows) {
    BaseObject* o = BaseObject::Alloc(r.type);
    ASSERT_NE(nullptr, o) << r.type;
    EXPECT_EQ(r.getType, o->GetType()) << r.type;
    EXPECT_EQ(r.diskType, o->GetDiskType()) << r.type;
    EXPECT_EQ(r.data, o->GetNodeData() != nullptr) << r.type;
    EXPECT_EQ(r.point, o->IsInstanceOf(TYPE_POINTOBJECT)) << r.type;
    EXPECT_TRUE(o->IsInstanceOf(TYPE_ANYOBJECT));
    EXPECT_FALSE(o->Execute());
    BaseObject::Free(o);
  }
  bool known = true;
  EXPECT_EQ(nullptr, BaseObject::AllocObjectData(1234, known));
  EXPECT_FALSE(known);
  // Kinds whose data is kept as read (the ends of each listed range, and the listed ids).
  for (Int32 id : {5102, 431000174, 5128, 5153, 1001002, 100004007, 5104, 5107, 5109, 5125, 5145,
                   5150, 5159, 5190}) {
    known = false;
    NodeData* d = BaseObject::AllocObjectData(id, known);
    EXPECT_TRUE(known && d != nullptr && d->GetType() == id) << id;
    _FreeNodeData(d);
  }
  for (Int32 id : {5127, 5144, 5151, 5155, 5191}) {
    known = true;
    NodeData* d = BaseObject::AllocObjectData(id, known);
    EXPECT_EQ(nullptr, d) << id;
    _FreeNodeData(d);
  }
  // The application's hooks: polygon and point data, and the spline its list reads.
  for (Int32 id : {5100, 5108, 5101}) {
    NodeData* d = AllocAlienObjectData(id, known, nullptr);
    EXPECT_EQ(id != 5101, known) << id;
    EXPECT_EQ(id == 5100 ? 1001091 : id == 5108 ? 5156 : -1, d != nullptr ? d->GetDiskType() : -1);
    _FreeNodeData(d);
  }
  RootObject* list = AllocAlienRootObject();
  ASSERT_NE(nullptr, list);
  BaseObject* spline = list->AllocObject(5137);
  ASSERT_NE(nullptr, spline);
  EXPECT_TRUE(spline->IsInstanceOf(5101) && spline->IsInstanceOf(5156) && spline->IsInstanceOf(5155));
  EXPECT_EQ(5101, spline->GetType());
  EXPECT_EQ(5101, spline->GetDiskType());
  EXPECT_TRUE(spline->Execute());
  EXPECT_NE(nullptr, spline->GetNodeData());
  BaseObject::Free(spline);
  RootObject::Free(list);
}

TEST(ObjectAlloc, FailuresLeaveNothing) {
  const int runs = lumtest::SweepAllocationFailures(
      "object alloc", [](std::int64_t n, void*) {
        lumtest::FailNthAllocation(n);
        BaseObject* o = BaseObject::Alloc(5100);
        lumtest::StopFailing();
        const bool ok = o != nullptr;
        BaseObject::Free(o);
        return ok || lumtest::InjectedFailureHappened();
      });
  EXPECT_GE(runs, 2);
}

// ---- files ----

// A small hierarchy: root (frozen values, children), a child with a grandchild, a sibling with
// kept plug-in data bytes of an unknown kind.
void BuildHierarchy(RootObject& list) {
  BaseObject* root = BaseObject::Alloc(TYPE_OBJECT);
  root->SetName(String("root"));
  root->SetRelPos(Vector64(1, 2, 3));
  root->SetRelRot(Vector64(0.1, 0.2, 0.3));
  root->SetFrozenRot(Vector64(0, 0.5, 0));
  root->SetFrozenScale(Vector64(2, 2, 2));
  root->SetRotationOrder(ROTATIONORDER_YZX);
  root->SetParameter(908, GeData(Vector64(0.5, 0.25, 1)));
  root->SetParameter(912, GeData(Vector64(7, 8, 9)));
  root->SetStoredMatrix(Matrix64(Vector64(1, 1, 1), Vector64(2, 0, 0), Vector64(0, 2, 0), Vector64(0, 0, 2)));
  root->GetDataInstance()->SetInt32(42, 4242);
  list.InsertLast(root);
  BaseObject* child = BaseObject::Alloc(5102);  // light: data kept as bytes
  child->SetName(String("child"));
  child->SetRelScale(Vector64(1, -1, 1));
  child->InsertUnder(root);
  BaseObject* grand = BaseObject::Alloc(5120);
  grand->SetName(String("grand"));
  grand->InsertUnder(child);
  BaseObject* sibling = BaseObject::Alloc(TYPE_OBJECT);
  sibling->SetName(String("sibling"));
  sibling->SetParameter(906, GeData(Int32(0)));
  list.InsertLast(sibling);
}

std::string Name(const BaseList2D* n) {
  if (n == nullptr) return "-";
  char buf[64] = {};
  n->GetName().GetCString(buf, sizeof buf);
  return buf;
}

TEST(ObjectFile, HierarchyRoundTripsByteForByte) {
  RootObject list;
  BuildHierarchy(list);
  const Bytes first = scenetest::WriteNode(list);
  RootObject back;
  ASSERT_TRUE(scenetest::ReadNode(first, back));
  BaseObject* root = back.GetFirst();
  ASSERT_NE(nullptr, root);
  EXPECT_EQ("root", Name(root));
  EXPECT_EQ(ROTATIONORDER_YZX, root->GetRotationOrder());
  EXPECT_EQ(list.GetFirst()->GetRelRot(), root->GetRelRot());
  EXPECT_EQ(list.GetFirst()->GetAbsRot(), root->GetAbsRot());
  EXPECT_EQ(12u, root->GetFrozenFlags());
  EXPECT_LT(MaxDiff(root->GetMg(), list.GetFirst()->GetMg()), 1e-15);
  EXPECT_EQ(4242, root->GetDataInstance()->GetInt32(42));
  BaseObject* child = root->GetDown();
  ASSERT_NE(nullptr, child);
  EXPECT_EQ("child", Name(child));
  EXPECT_EQ(5102, child->GetType());
  EXPECT_NE(nullptr, child->GetNodeData());
  ASSERT_NE(nullptr, child->GetDown());
  EXPECT_EQ("grand", Name(child->GetDown()));
  EXPECT_EQ(5120, child->GetDown()->GetType());
  ASSERT_NE(nullptr, root->GetNext());
  EXPECT_EQ(1, root->GetNext()->GetDisabled());
  const Bytes second = scenetest::WriteNode(back);
  EXPECT_EQ("equal", scenetest::FirstDifference(scenetest::MaskIdentities(first),
                                                scenetest::MaskIdentities(second)));
  // The checksum entry of a non-polygon object is 0.
  EXPECT_EQ(0, root->GetDataInstance()->GetInt32(OBJECT_CRC_ENTRY, -1));
}

// The transform chunk of a fresh object at a given level, in the current layout.
std::string TransformChunk(Int32 level, bool frozen, Int32 order) {
  char buf[64];
  snprintf(buf, sizeof buf, "01 0001ADE4 %08X", level);
  std::string s = buf;
  const std::string one = "3FF0000000000000", zero = "0000000000000000", two = "4000000000000000";
  auto vec = [](const std::string& a, const std::string& b, const std::string& c) {
    return "17 " + a + b + c;
  };
  s += vec(zero, zero, two);              // Pr
  s += vec(one, one, one);                // Sr
  s += vec(zero, zero, zero);             // Rr
  s += "0F 00000002 0F 00000002 0F 00000000 15 00";
  s += vec(one, one, one) + "0F 00000000" + vec(zero, zero, zero) + "0F 00000000";
  s += "19 " + zero + zero + zero + one + zero + zero + zero + one + zero + zero + zero + one;
  s += "15 00 15 00";
  s += frozen ? "10 00000002" : "10 00000000";
  if (frozen) {
    s += vec(zero, one, zero) + vec(one, one, one) + vec(zero, zero, zero);
    s += vec(zero, one, two) + vec(one, one, one) + vec(zero, zero, zero);
  }
  snprintf(buf, sizeof buf, "0F %08X", order);
  if (level >= 8) s += buf;
  return s + "0F 00000063 02";  // a later writer's value, skipped
}

TEST(ObjectFile, TransformChunkLevels) {
  // Level 10 with frozen values; level 8 reads and discards the order; level 7 has none.
  struct Row {
    Int32 level;
    bool frozen;
    ROTATIONORDER expect;
    Vector64 absPos;
  } rows[] = {{10, true, ROTATIONORDER_XZY, Vector64(0, 1, 2)},
              {9, false, ROTATIONORDER_XZY, Vector64(0, 0, 2)},
              {8, false, ROTATIONORDER_HPB, Vector64(0, 0, 2)},
              {7, true, ROTATIONORDER_HPB, Vector64(0, 1, 2)}};
  for (const Row& r : rows) {
    BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
    lumtest::MemReader rd(lumtest::FromHex("01 00001422 00000000" + TransformChunk(r.level, r.frozen, 1) + "02"));
    EXPECT_TRUE(o->ReadObject(&rd.hf, true)) << r.level;
    EXPECT_EQ(r.expect, o->GetRotationOrder()) << r.level;
    EXPECT_EQ(r.absPos, o->GetAbsPos()) << r.level;
    EXPECT_EQ(Vector64(0, 0, 2), o->GetRelPos());
    EXPECT_EQ(r.frozen ? 2u : 0u, o->GetFrozenFlags());
    EXPECT_EQ(r.absPos, o->GetMg().off);
    BaseObject::Free(o);
  }
  // Writing an object without frozen values leaves the six vectors out: flags 0 then the order.
  BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
  lumtest::MemWriter w;
  ASSERT_TRUE(o->WriteObject(&w.hf, 5154));
  const std::string hex = lumtest::ToHex(w.Finish());
  const std::string tail = lumtest::NormHex("15 00 15 00 10 00000000 0F 00000006 02 02");
  ASSERT_GE(hex.size(), tail.size());
  EXPECT_EQ(tail, hex.substr(hex.size() - tail.size()));
  BaseObject::Free(o);
}

TEST(ObjectFile, OlderTransformChunk) {
  // Files before version 11600: Pr, Sr, Rr, two legacy matrices (a -1 entry mirrors the scale),
  // three display values, display flag, legacy Bool, colour (level >= 1), setting C (>= 2).
  const std::string one = "3FF0000000000000", zero = "0000000000000000", minus = "BFF0000000000000";
  std::string s = "01 00001422 00000000 01 0001ADE4 00000002";
  s += "17 " + one + zero + zero;         // Pr
  s += "17 " + one + one + one;           // Sr
  s += "17 " + zero + zero + zero;        // Rr
  s += "19 " + zero + zero + zero + minus + zero + zero + zero + one + zero + zero + zero + one;
  s += "19 " + zero + zero + zero + one + zero + zero + zero + one + zero + zero + zero + one;
  s += "0F 00000003 0F 00000004 0F 00000001 15 01 15 00";
  s += "17 " + zero + one + zero;         // colour
  s += "0F 00000005 02 02";
  BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
  lumtest::MemReader rd(lumtest::FromHex(s), 11000);
  EXPECT_TRUE(o->ReadObject(&rd.hf, true));
  EXPECT_EQ(Vector64(-1, 1, 1), o->GetRelScale());
  EXPECT_EQ(Vector64(-1, 1, 1), o->GetAbsScale());
  EXPECT_EQ(Vector64(1, 0, 0), o->GetAbsPos());
  EXPECT_EQ(1, o->GetDisabled());
  GeData out;
  o->GetDParameter(DescID(907), out);
  EXPECT_EQ(5, out.GetInt32());
  o->GetDParameter(DescID(901), out);
  EXPECT_EQ(3, out.GetInt32());
  BaseObject::Free(o);
  // The later levels add a vector and a setting (3), a stored matrix (4), the deform and cache
  // lists (5: a cache list read, which the frozen values follow), the frozen values (6); files
  // before version 7500 start with the container and the name.
  for (const Int32 version : {11000, 7000}) {
    for (Int32 level = 3; level <= 6; ++level) {
      RootObject cache;  // empty: objects written now have the current layouts
      lumtest::MemWriter w;
      HyperFile& hf = w.hf;
      BaseContainer bc;
      bc.SetInt32(42, 7);
      bool ok = hf.WriteChunkStart(0x1422, 0) && hf.WriteChunkStart(0x1ADE4, level);
      if (version < 7500) ok = ok && hf.WriteContainer(bc) && hf.WriteString(String("old"));
      ok = ok && hf.WriteVector(Vector64(0, 0, 2)) && hf.WriteVector(Vector64(1, 1, 1)) &&
           hf.WriteVector(Vector64()) && hf.WriteMatrix(Matrix64()) && hf.WriteMatrix(Matrix64()) &&
           hf.WriteInt32(0) && hf.WriteInt32(0) && hf.WriteInt32(0) && hf.WriteBool(false) &&
           hf.WriteBool(false) && hf.WriteVector(Vector64()) && hf.WriteInt32(0) &&
           hf.WriteVector(Vector64(4, 5, 6)) && hf.WriteInt32(9);
      if (level >= 4) ok = ok && hf.WriteMatrix(Matrix64());
      if (level >= 5)
        ok = ok && hf.WriteBool(false) && hf.WriteBool(true) && cache.WriteObject(&hf, 1);
      if (level >= 6)
        ok = ok && hf.WriteUInt32(FROZEN_POSITION) && hf.WriteVector(Vector64(1, 0, 0)) &&
             hf.WriteVector(Vector64(1, 1, 1)) && hf.WriteVector(Vector64());
      ASSERT_TRUE(ok && hf.WriteChunkEnd() && hf.WriteChunkEnd());
      BaseObject* read = BaseObject::Alloc(TYPE_OBJECT);
      lumtest::MemReader rd(w.Finish(), version);
      EXPECT_TRUE(read->ReadObject(&rd.hf, true)) << level;
      read->GetDParameter(DescID(912), out);
      EXPECT_EQ(Vector64(4, 5, 6), out.GetVector()) << level;
      EXPECT_EQ(level >= 6 ? Vector64(1, 0, 2) : Vector64(0, 0, 2), read->GetAbsPos()) << level;
      EXPECT_EQ(version < 7500 ? 7 : 0, read->GetDataInstance()->GetInt32(42)) << level;
      BaseObject::Free(read);
    }
  }
}

TEST(ObjectFile, ReaderErrorsAndNesting) {
  // Mended: object lists nested deeper than the node reader allows are refused with its error.
  std::string hex = "01 00000001 00000000";
  for (int i = 0; i < 600; ++i) hex += "01 0001AE14 00000000 01 0001AE14 00000000 01 0000141A 00000000";
  RootObject list;
  lumtest::MemReader r(lumtest::FromHex(hex));
  EXPECT_FALSE(list.ReadObject(&r.hf, true));
  EXPECT_EQ(FILEERROR_TOO_DEEP, r.hf.GetError());
  // Within the limit a deep chain reads and reports its depth.
  std::string ok = "01 00000001 00000000";
  const int depth = 200;
  for (int i = 0; i < depth; ++i) ok += "01 0001AE14 00000000 01 0001AE14 00000000 01 0000141A 00000000";
  for (int i = 0; i < depth; ++i) ok += "02 02 02";
  ok += "02";
  RootObject deep;
  lumtest::MemReader r2(lumtest::FromHex(ok));
  ASSERT_TRUE(deep.ReadObject(&r2.hf, true));
  int n = 0;
  for (BaseObject* o = deep.GetFirst(); o != nullptr; o = o->GetDown()) ++n;
  EXPECT_EQ(depth, n);
  // A plug-in data chunk whose type the hooks cannot allocate (known, null) fails the read.
  lumtest::ScopedAllocFailure fail(1, true);
  RootObject oom;
  lumtest::MemReader r3(lumtest::FromHex("01 00000001 00000000 01 0001AE14 00000000 01 0000141A 00000000 02 02 02"));
  EXPECT_FALSE(oom.ReadObject(&r3.hf, true));
  EXPECT_NE(FILEERROR_NONE, r3.hf.GetError());  // reported by the enclosing chunk loop
}

// ---- copies and the checksum ----

TEST(ObjectCopy, ClonesCarryEverythingAndFollowTheFlags) {
  RootObject list;
  BuildHierarchy(list);
  BaseObject* root = list.GetFirst();
  BaseObject* clone = static_cast<BaseObject*>(root->GetClone(COPYFLAGS_NONE, nullptr));
  ASSERT_NE(nullptr, clone);
  EXPECT_EQ(root->GetRelRot(), clone->GetRelRot());
  EXPECT_EQ(root->GetAbsRot(), clone->GetAbsRot());
  EXPECT_EQ(root->GetFrozenFlags(), clone->GetFrozenFlags());
  EXPECT_EQ(root->GetRotationOrder(), clone->GetRotationOrder());
  EXPECT_EQ(root->GetStoredMatrix(), clone->GetStoredMatrix());
  EXPECT_TRUE(clone->IsMatrixDirty());
  EXPECT_EQ(root->GetMg(), clone->GetMg());
  ASSERT_NE(nullptr, clone->GetDown());
  EXPECT_EQ("grand", Name(clone->GetDown()->GetDown()));
  EXPECT_NE(nullptr, clone->GetDown()->GetNodeData());
  // Written alike, markers aside.
  RootObject a, b;
  a.InsertLast(clone);
  BaseObject* again = root->GetCloneObject(true, COPYFLAGS_NONE, nullptr);
  b.InsertLast(again);
  EXPECT_EQ(scenetest::MaskIdentities(scenetest::WriteNode(a)).size(),
            scenetest::MaskIdentities(scenetest::WriteNode(b)).size());
  BaseObject* flat = static_cast<BaseObject*>(root->GetClone(COPYFLAGS_NO_CHILDREN, nullptr));
  ASSERT_NE(nullptr, flat);
  EXPECT_EQ(nullptr, flat->GetDown());
  BaseObject::Free(flat);
  // A whole list copy.
  RootObject copy;
  ASSERT_TRUE(list.CopyTo(&copy, COPYFLAGS_NONE, nullptr));
  EXPECT_EQ(2, copy.GetCount());
}

TEST(ObjectCopy, FailuresFreeWhatWasMade) {
  RootObject list;
  BuildHierarchy(list);
  const int runs = lumtest::SweepAllocationFailures(
      "object clone",
      [](std::int64_t n, void* ctx) {
        RootObject* l = static_cast<RootObject*>(ctx);
        lumtest::FailNthAllocation(n);
        BaseObject* c = l->GetFirst()->GetCloneObject(true, COPYFLAGS_NONE, nullptr);
        lumtest::StopFailing();
        const bool ok = c != nullptr && c->GetDown() != nullptr && c->GetDown()->GetDown() != nullptr;
        BaseObject::Free(c);
        return ok || lumtest::InjectedFailureHappened();
      },
      &list);
  EXPECT_GE(runs, 15);
}

// ---- tags ----

TEST(ObjectTags, InsertFindAndReplaceByKind) {
  BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
  EXPECT_EQ(nullptr, o->GetFirstTag());
  BaseTag* uvw1 = o->MakeTag(TAG_UVW);
  BaseTag* uvw2 = o->MakeTag(TAG_UVW, uvw1);  // several allowed: after pred
  BaseTag* plug = o->MakeTag(1019597);         // a plug-in tag found by its plug-in type
  ASSERT_TRUE(uvw1 && uvw2 && plug);
  EXPECT_EQ(plug, o->GetFirstTag());
  EXPECT_EQ(uvw2, uvw1->GetNext());
  EXPECT_EQ(uvw1, o->GetTag(TAG_UVW, 0));
  EXPECT_EQ(uvw2, o->GetTag(TAG_UVW, 1));
  EXPECT_EQ(nullptr, o->GetTag(TAG_UVW, 2));
  EXPECT_EQ(plug, o->GetTag(1019597, 0));
  EXPECT_EQ(o, uvw2->GetObject());
  // Once-only kinds: a point tag replaces the one there (wherever it is) ...
  BaseTag* p1 = o->MakeTag(TAG_POINT, uvw2);
  BaseTag* p2 = o->MakeTag(TAG_POINT, plug);
  EXPECT_EQ(p2, o->GetTag(TAG_POINT, 0));
  EXPECT_EQ(nullptr, o->GetTag(TAG_POINT, 1));
  EXPECT_EQ(p2, plug->GetNext());
  (void)p1;
  // ... and a predecessor of the same kind is replaced, the new tag going to the head.
  BaseTag* p3 = BaseTag::Alloc(TAG_POINT);
  o->InsertTag(p3, p2);
  EXPECT_EQ(p3, o->GetFirstTag());
  EXPECT_EQ(p3, o->GetTag(TAG_POINT, 0));
  EXPECT_EQ(nullptr, o->GetTag(TAG_POINT, 1));
  o->InsertTag(nullptr, nullptr);  // nothing
  BaseObject::Free(o);
}

TEST(ObjectTags, TransformLockAndTextureDefaults) {
  BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
  o->SetRelPos(Vector64(1, 1, 1));
  ASSERT_NE(nullptr, o->MakeTag(TYPE_TAG_TRANSFORMLOCK));
  const Matrix64 before = o->GetMg();
  Matrix64 m = HPBToMatrix(Vector64(0.5, 0, 0), ROTATIONORDER_HPB);
  m.off = Vector64(9, 9, 9);
  const Vector64 v(5, 5, 5);
  o->SetMg(m);
  for (VectorSetter set : kVectorSetters) (o->*set)(v);
  o->SetRotationOrder(ROTATIONORDER_XYZ);
  o->SetParameter(903, GeData(Vector64(7, 7, 7)));
  EXPECT_EQ(before, o->GetMg());
  EXPECT_EQ(ROTATIONORDER_HPB, o->GetRotationOrder());
  EXPECT_EQ(0u, o->GetFrozenFlags());
  BaseObject::Free(o);
  struct Row {
    Int32 objectType;
    Int32 projection;  // -1: not set
    Vector64 scale;
    Vector64 rot;
  } rows[] = {{5121, 4, Vector64(1, 1, 1), Vector64()},
              {5105, -1, Vector64(500, 500, 500), Vector64()},
              {5104, 2, Vector64(1, 1, 1), Vector64(0, -kPi / 2, 0)},
              {5154, -1, Vector64(1, 1, 1), Vector64()}};
  for (const Row& r : rows) {
    BaseObject* obj = BaseObject::Alloc(r.objectType);
    TextureTag* t = static_cast<TextureTag*>(obj->MakeTag(TAG_TEXTURE));
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(r.projection, t->GetDataInstance()->GetInt32(TextureTag::PROJECTION, -1)) << r.objectType;
    EXPECT_EQ(r.scale, t->GetScale()) << r.objectType;
    EXPECT_EQ(r.rot, t->GetRot()) << r.objectType;
    BaseObject::Free(obj);
  }
}

TEST(ObjectTags, HierarchyWithTagsRoundTripsAndCopies) {
  RootObject list;
  BuildHierarchy(list);
  BaseObject* root = list.GetFirst();
  BaseTag* uvw = root->MakeTag(TAG_UVW);
  ASSERT_NE(nullptr, uvw);
  ASSERT_TRUE(UVWTag::Cast(uvw)->Resize(2));
  uvw->SetName(String("uv"));  // a UVW tag read without a name is named "UVW"
  ASSERT_NE(nullptr, root->MakeTag(1019597));
  ASSERT_NE(nullptr, root->GetDown()->MakeTag(TAG_TEXTURE));
  const Bytes first = scenetest::WriteNode(list);
  RootObject back;
  ASSERT_TRUE(scenetest::ReadNode(first, back));
  BaseObject* r = back.GetFirst();
  ASSERT_NE(nullptr, r);
  ASSERT_NE(nullptr, r->GetTag(TAG_UVW, 0));
  EXPECT_EQ(2, UVWTag::Cast(r->GetTag(TAG_UVW, 0))->GetCount());
  EXPECT_EQ(r, r->GetTag(TAG_UVW, 0)->GetObject());
  EXPECT_NE(nullptr, r->GetTag(1019597, 0));
  EXPECT_NE(nullptr, r->GetDown()->GetTag(TAG_TEXTURE, 0));
  const Bytes second = scenetest::WriteNode(back);
  EXPECT_EQ("equal", scenetest::FirstDifference(scenetest::MaskIdentities(first),
                                                scenetest::MaskIdentities(second)));
  // Copies carry the tags unless the flags say otherwise; the copied tags know their object.
  BaseObject* c = r->GetCloneObject(false, COPYFLAGS_NONE, nullptr);
  ASSERT_NE(nullptr, c);
  ASSERT_NE(nullptr, c->GetTag(TAG_UVW, 0));
  EXPECT_EQ(c, c->GetTag(TAG_UVW, 0)->GetObject());
  BaseObject::Free(c);
  c = r->GetCloneObject(false, COPYFLAGS_NO_TAGS, nullptr);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(nullptr, c->GetFirstTag());
  BaseObject::Free(c);
}

TEST(Checksum, StandardCrc32) {
  Crc32 crc;
  crc.Update("123456789", 9);
  EXPECT_EQ(0xCBF43926u, crc.GetCrc());
  EXPECT_EQ(0xCBF43926u, ~crc.GetRegister());
  Crc32 empty;
  EXPECT_EQ(0u, empty.GetCrc());
  // Every length and alignment against a bitwise CRC, fed whole and in pieces.
  std::mt19937 rng(5);
  std::vector<unsigned char> data(5000);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  for (size_t len : {0, 1, 7, 8, 15, 16, 63, 64, 65, 79, 80, 127, 128, 129, 255, 256, 257, 383,
                     384, 1000, 4093, 4999}) {
    for (size_t offset : {0, 1, 3}) {
      if (offset + len > data.size()) continue;
      UInt32 c = 0xFFFFFFFFu;
      for (size_t i = 0; i < len; ++i) {
        c ^= data[offset + i];
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
      }
      Crc32 whole;
      whole.Update(data.data() + offset, Int64(len));
      EXPECT_EQ(~c, whole.GetCrc()) << len << "+" << offset;
      Crc32 pieces;
      const size_t half = len / 3;
      pieces.Update(data.data() + offset, Int64(half));
      pieces.Update(data.data() + offset + half, Int64(len - half));
      EXPECT_EQ(~c, pieces.GetCrc()) << len << "+" << offset;
    }
  }
}

}  // namespace
