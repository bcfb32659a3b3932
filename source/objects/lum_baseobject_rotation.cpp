// Euler angles and rotation matrices (see lum_baseobject_rotation.h).
#include "objects/lum_baseobject_rotation.h"

#include <cmath>

namespace lumora {

namespace {

constexpr Float64 kPi = 3.14159265358979323846;
constexpr Float64 kTwoPi = 2.0 * kPi;
// The clamped arcsine and arccosine answer at their limits with these single-precision values
// widened to double, as stored files expect.
constexpr Float64 kHalfPiSingle = 1.5707963705062866;
constexpr Float64 kPiSingle = 3.1415927410125732;

Matrix64 Rx(Float64 a) {
  const Float64 c = std::cos(a), s = std::sin(a);
  return Matrix64(Vector64(), Vector64(1.0, 0.0, 0.0), Vector64(0.0, c, -s), Vector64(0.0, s, c));
}

Matrix64 Ry(Float64 a) {
  const Float64 c = std::cos(a), s = std::sin(a);
  return Matrix64(Vector64(), Vector64(c, 0.0, s), Vector64(0.0, 1.0, 0.0), Vector64(-s, 0.0, c));
}

Matrix64 Rz(Float64 a) {
  const Float64 c = std::cos(a), s = std::sin(a);
  return Matrix64(Vector64(), Vector64(c, -s, 0.0), Vector64(s, c, 0.0), Vector64(0.0, 0.0, 1.0));
}

Float64 ClampedAsin(Float64 v) {
  if (v >= 1.0) return kHalfPiSingle;
  if (v <= -1.0) return -kHalfPiSingle;
  return std::asin(v);
}

Float64 ClampedAcos(Float64 v) {
  if (v >= 1.0) return 0.0;
  if (v <= -1.0) return kPiSingle;
  return std::acos(v);
}

Vector64 Normalized(const Vector64& v) {
  const Float64 len = std::sqrt(Dot(v, v));
  if (len == 0.0) return Vector64();
  return (1.0 / len) * v;
}

bool Regular(Float64 middle) { return std::fabs(std::cos(middle)) > 0.005; }

// The order-HPB decomposition of the normalised axes.
Vector64 ToHPB(const Vector64& X, const Vector64& Z) {
  Float64 h = 0.0, p = 0.0, b = 0.0;
  const Float64 r = std::sqrt(Z.z * Z.z + Z.x * Z.x);
  if (r < 1e-5) {
    const Float64 a = ClampedAcos(X.x);
    if (Z.y > 0.0) {
      p = 1.5707963267948966;
      b = X.z < 0.0 ? kTwoPi - a : a;
    } else {
      p = -1.5707963267948966;
      b = X.z > 0.0 ? kTwoPi - a : a;
    }
    return Vector64(0.0, p, b);
  }
  const Float64 a = ClampedAsin(Z.x / r);
  p = std::atan(Z.y / r);
  const Float64 t = Z.z > 0.0 ? -a : a + kPi;
  h = t < 0.0 ? t + kTwoPi : t;
  const Float64 ac = ClampedAcos(X.x * std::cos(h) + X.z * std::sin(h));
  b = X.y > 0.0 ? kTwoPi - ac : ac;
  return Vector64(h, p, b);
}

// d wrapped by whole turns into [-pi, pi).
Float64 Wrap(Float64 d) {
  Float64 w = kTwoPi * (d / kTwoPi - std::floor(d / kTwoPi));
  if (w >= kPi) w -= kTwoPi;
  return w;
}

}  // namespace

Matrix64 HPBToMatrix(const Vector64& v, ROTATIONORDER order) {
  if (v.x == 0.0 && v.y == 0.0 && v.z == 0.0) return Matrix64();
  switch (order) {
    case ROTATIONORDER_ZXY: return Rz(v.z) * Rx(v.x) * Ry(v.y);
    case ROTATIONORDER_XZY: return Rx(v.x) * Rz(v.z) * Ry(v.y);
    case ROTATIONORDER_XYZ: return Rx(v.x) * Ry(v.y) * Rz(v.z);
    case ROTATIONORDER_YXZ: return Ry(v.y) * Rx(v.x) * Rz(v.z);
    case ROTATIONORDER_YZX: return Ry(v.y) * Rz(v.z) * Rx(v.x);
    case ROTATIONORDER_ZYX: return Rz(v.z) * Ry(v.y) * Rx(v.x);
    default: break;
  }
  const Float64 cH = std::cos(v.x), sH = std::sin(v.x);
  const Float64 cP = std::cos(v.y), sP = std::sin(v.y);
  const Float64 cB = std::cos(v.z), sB = std::sin(v.z);
  return Matrix64(Vector64(), Vector64(cB * cH - sB * sP * sH, -sB * cP, sH * cB + cH * sB * sP),
                  Vector64(sH * cB * sP + cH * sB, cB * cP, sB * sH - cB * sP * cH),
                  Vector64(-sH * cP, sP, cP * cH));
}

Vector64 MatrixToHPB(const Matrix64& m, ROTATIONORDER order) {
  const Vector64 X = Normalized(m.v1), Y = Normalized(m.v2), Z = Normalized(m.v3);
  Float64 x = 0.0, y = 0.0, z = 0.0;
  switch (order) {
    case ROTATIONORDER_ZXY:
      x = ClampedAsin(-Y.z);
      if (Regular(x)) {
        y = std::atan2(X.z, Z.z);
        z = std::atan2(Y.x, Y.y);
      } else {
        y = std::atan2(X.y, X.x);
        if (Y.z > 0.0) y = kTwoPi - y;
      }
      break;
    case ROTATIONORDER_XZY:
      z = ClampedAsin(Y.x);
      if (Regular(z)) {
        x = std::atan2(-Y.z, Y.y);
        y = std::atan2(-Z.x, X.x);
      } else {
        y = std::atan2(X.z, -X.y);
        if (Y.x < 0.0) y = kPi - y;
      }
      break;
    case ROTATIONORDER_XYZ:
      y = ClampedAsin(-Z.x);
      if (Regular(y)) {
        z = std::atan2(Y.x, X.x);
        x = std::atan2(Z.y, Z.z);
      } else {
        x = std::atan2(-X.y, Y.y);
        if (Z.x < 0.0) x = -x;
      }
      break;
    case ROTATIONORDER_YXZ:
      x = ClampedAsin(Z.y);
      if (Regular(x)) {
        y = std::atan2(-Z.x, Z.z);
        z = std::atan2(-X.y, Y.y);
      } else {
        y = std::atan2(Y.x, X.x);
        if (Z.y < 0.0) y = -y;
      }
      break;
    case ROTATIONORDER_YZX:
      z = ClampedAsin(-X.y);
      if (Regular(z)) {
        y = std::atan2(X.z, X.x);
        x = std::atan2(Z.y, Y.y);
      } else {
        x = std::atan2(Z.x, Y.x);
        if (X.y > 0.0) x += kPi;
      }
      break;
    case ROTATIONORDER_ZYX:
      y = ClampedAsin(X.z);
      if (Regular(y)) {
        z = std::atan2(-X.y, X.x);
        x = std::atan2(-Y.z, Z.z);
      } else {
        x = std::atan2(Y.x, -Z.x);
        if (X.z < 0.0) x -= kPi;
      }
      break;
    default:
      return ToHPB(X, Z);
  }
  return Vector64(x, y, z);
}

Vector64 GetOptimalAngle(const Vector64& old, const Vector64& nw, ROTATIONORDER order) {
  Vector64 alt;
  switch (order) {
    case ROTATIONORDER_ZXY:
    case ROTATIONORDER_YXZ:
      alt = Vector64(kPi - nw.x, kPi + nw.y, kPi + nw.z);
      break;
    case ROTATIONORDER_XZY:
    case ROTATIONORDER_YZX:
      alt = Vector64(kPi + nw.x, kPi + nw.y, kPi - nw.z);
      break;
    default:
      alt = Vector64(kPi + nw.x, kPi - nw.y, kPi + nw.z);
      break;
  }
  const Vector64 wn(Wrap(nw.x - old.x), Wrap(nw.y - old.y), Wrap(nw.z - old.z));
  const Vector64 wa(Wrap(alt.x - old.x), Wrap(alt.y - old.y), Wrap(alt.z - old.z));
  const Float64 costN = std::fabs(wn.x) + std::fabs(wn.y) + std::fabs(wn.z);
  const Float64 costA = std::fabs(wa.x) + std::fabs(wa.y) + std::fabs(wa.z);
  return costN > costA ? old + wa : old + wn;
}

}  // namespace lumora
