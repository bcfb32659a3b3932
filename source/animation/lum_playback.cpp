// Playback: an object's transform at a time (see lum_playback.h).
#include "animation/lum_playback.h"

#include <cmath>

namespace lumora {

namespace {

constexpr Int32 kPosition = ID_BASEOBJECT_REL_POSITION;
constexpr Int32 kRotation = ID_BASEOBJECT_REL_ROTATION;
constexpr Int32 kScale = ID_BASEOBJECT_REL_SCALE;
constexpr Float kLimit = 1e50;

Float ClampComponent(Float v) { return v < -kLimit ? -kLimit : (v > kLimit ? kLimit : v); }

Float& Component(Vector64& v, Int32 k) { return k == 0 ? v.x : (k == 1 ? v.y : v.z); }

// The main curves of the x, y and z tracks of vector parameter id; null where a component has
// no track, its track is off, or its curve holds no keys.
struct VectorCurves {
  const CCurve* c[3] = {};
  bool Any() const { return c[0] != nullptr || c[1] != nullptr || c[2] != nullptr; }
};

VectorCurves FindVectorCurves(const BaseObject& object, Int32 id) {
  VectorCurves out;
  if (object.GetFirstCTrack() == nullptr) return out;
  for (Int32 k = 0; k < 3; ++k) {
    const CTrack* track = object.FindCTrack(
        DescID(DescLevel(id, DTYPE_VECTOR, 0), DescLevel(VECTOR_X + k, VALUETYPE_FLOAT, 0)));
    if (track == nullptr || track->GetBit(CTRACK_BIT_OFF)) continue;
    const CCurve* curve = track->GetMainCurve();
    if (curve->GetKeyCount() > 0) out.c[k] = curve;
  }
  return out;
}

// base with every animated component replaced by its curve's value at t.
Vector64 Evaluate(const VectorCurves& curves, const Vector64& base, const BaseTime& t) {
  Vector64 v = base;
  for (Int32 k = 0; k < 3; ++k)
    if (curves.c[k] != nullptr) Component(v, k) = curves.c[k]->GetValue(t);
  return Vector64(ClampComponent(v.x), ClampComponent(v.y), ClampComponent(v.z));
}

// The rotation of a quaternion-rotating object at t: spherical interpolation between the
// rotations at the nearest key instants of any component around t.
Matrix64 QuaternionRotation(const VectorCurves& curves, const Vector64& base, ROTATIONORDER order,
                            const BaseTime& t) {
  const CKey* left[3] = {};
  const CKey* right[3] = {};
  const CKey* before = nullptr;  // the latest key at or before t
  const CKey* after = nullptr;   // the earliest key after t
  for (Int32 k = 0; k < 3; ++k) {
    if (curves.c[k] == nullptr) continue;
    curves.c[k]->FindSegment(t, &left[k], &right[k]);
    if (left[k] != nullptr && (before == nullptr || before->GetTime() < left[k]->GetTime()))
      before = left[k];
    if (right[k] != nullptr && (after == nullptr || right[k]->GetTime() < after->GetTime()))
      after = right[k];
  }
  if (before == nullptr || after == nullptr) return HPBToMatrix(Evaluate(curves, base, t), order);
  const BaseTime& t0 = before->GetTime();
  const Matrix64 m0 = HPBToMatrix(Evaluate(curves, base, t0), order);
  // A step at the earlier instant, in any component keyed there, holds its rotation.
  for (Int32 k = 0; k < 3; ++k)
    if (left[k] != nullptr && left[k]->GetTime() == t0 &&
        left[k]->GetInterpolation() == CINTERPOLATION_STEP)
      return m0;
  const BaseTime& t1 = after->GetTime();
  const Matrix64 m1 = HPBToMatrix(Evaluate(curves, base, t1), order);
  const Float span = t1.Get() - t0.Get();
  const Float u = span > 0.0 ? (t.Get() - t0.Get()) / span : 0.0;
  return QuaternionToMatrix(QuaternionSlerp(MatrixToQuaternion(m0), MatrixToQuaternion(m1), u));
}

}  // namespace

Quaternion MatrixToQuaternion(const Matrix64& m) {
  // Columns are the axes: m(row, column) with X = (m00, m10, m20) and so on.
  const Float m00 = m.v1.x, m10 = m.v1.y, m20 = m.v1.z;
  const Float m01 = m.v2.x, m11 = m.v2.y, m21 = m.v2.z;
  const Float m02 = m.v3.x, m12 = m.v3.y, m22 = m.v3.z;
  const Float trace = m00 + m11 + m22;
  Quaternion q;
  if (trace > 0.0) {
    const Float s = std::sqrt(trace + 1.0) * 2.0;
    q = {0.25 * s, (m21 - m12) / s, (m02 - m20) / s, (m10 - m01) / s};
  } else if (m00 > m11 && m00 > m22) {
    const Float s = std::sqrt(1.0 + m00 - m11 - m22) * 2.0;
    q = {(m21 - m12) / s, 0.25 * s, (m01 + m10) / s, (m02 + m20) / s};
  } else if (m11 > m22) {
    const Float s = std::sqrt(1.0 + m11 - m00 - m22) * 2.0;
    q = {(m02 - m20) / s, (m01 + m10) / s, 0.25 * s, (m12 + m21) / s};
  } else {
    const Float s = std::sqrt(1.0 + m22 - m00 - m11) * 2.0;
    q = {(m10 - m01) / s, (m02 + m20) / s, (m12 + m21) / s, 0.25 * s};
  }
  return q;
}

Matrix64 QuaternionToMatrix(const Quaternion& q) {
  const Float xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
  const Float xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
  const Float wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
  return Matrix64(Vector64(), Vector64(1.0 - 2.0 * (yy + zz), 2.0 * (xy + wz), 2.0 * (xz - wy)),
                  Vector64(2.0 * (xy - wz), 1.0 - 2.0 * (xx + zz), 2.0 * (yz + wx)),
                  Vector64(2.0 * (xz + wy), 2.0 * (yz - wx), 1.0 - 2.0 * (xx + yy)));
}

Quaternion QuaternionSlerp(const Quaternion& a, const Quaternion& b, Float u) {
  Float dot = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
  const Float sign = dot < 0.0 ? -1.0 : 1.0;
  dot *= sign;
  Float wa = 1.0 - u, wb = u;
  // Close rotations: the straight blend, normalised below, is exact enough and stays finite.
  if (dot < 0.9995) {
    const Float angle = std::acos(dot);
    const Float s = std::sin(angle);
    wa = std::sin((1.0 - u) * angle) / s;
    wb = std::sin(u * angle) / s;
  }
  wb *= sign;
  Quaternion q{wa * a.w + wb * b.w, wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z};
  const Float len = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  if (len > 0.0) q = {q.w / len, q.x / len, q.y / len, q.z / len};
  return q;
}

AnimatedTransform GetAnimatedTransform(const BaseObject* object, const BaseTime& time) {
  AnimatedTransform out;
  out.scale = Vector64(1.0, 1.0, 1.0);
  if (object == nullptr) return out;
  const ROTATIONORDER order = object->GetRotationOrder();
  out.position = Evaluate(FindVectorCurves(*object, kPosition), object->GetRelPos(), time);
  out.scale = Evaluate(FindVectorCurves(*object, kScale), object->GetRelScale(), time);
  const VectorCurves rotation = FindVectorCurves(*object, kRotation);
  if (!rotation.Any()) {
    out.rotation = object->GetRelRot();
    out.rotationMatrix = object->GetRotationMatrix();
    return out;
  }
  out.rotation = Evaluate(rotation, object->GetRelRot(), time);
  // Reading the quaternion switch goes through the parameter interface, which is not const.
  if (const_cast<BaseObject*>(object)->IsQuaternionRotationMode()) {
    out.rotationMatrix = QuaternionRotation(rotation, object->GetRelRot(), order, time);
    out.rotation = GetOptimalAngle(out.rotation, MatrixToHPB(out.rotationMatrix, order), order);
  } else {
    out.rotationMatrix = HPBToMatrix(out.rotation, order);
  }
  return out;
}

Matrix64 GetAnimatedMl(const BaseObject* object, const BaseTime& time) {
  if (object == nullptr) return Matrix64();
  const AnimatedTransform a = GetAnimatedTransform(object, time);
  const UInt32 flags = object->GetFrozenFlags();
  const Matrix64& frozen = object->GetFrozenMatrix();
  const Matrix64 r = (flags & FROZEN_ROTATION) != 0 ? frozen * a.rotationMatrix : a.rotationMatrix;
  Vector64 scale = a.scale;
  if ((flags & FROZEN_SCALE) != 0) {
    const Vector64& sf = object->GetFrozenScale();
    scale = Vector64(scale.x * sf.x, scale.y * sf.y, scale.z * sf.z);
  }
  Matrix64 ml;
  ml.off = flags != 0 ? frozen * a.position + object->GetFrozenPos() : a.position;
  ml.v1 = scale.x * r.v1;
  ml.v2 = scale.y * r.v2;
  ml.v3 = scale.z * r.v3;
  return ml;
}

}  // namespace lumora
