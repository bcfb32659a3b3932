// Vector and matrix types of the scene model.
#ifndef LUM_MATH_H
#define LUM_MATH_H

#include "lum_types.h"

namespace lumora {

struct Vector32 {
  Float32 x = 0.0f, y = 0.0f, z = 0.0f;
  Vector32() = default;
  Vector32(Float32 xx, Float32 yy, Float32 zz) : x(xx), y(yy), z(zz) {}
  bool operator==(const Vector32& o) const { return x == o.x && y == o.y && z == o.z; }
  bool operator!=(const Vector32& o) const { return !(*this == o); }
};

struct Vector64 {
  Float64 x = 0.0, y = 0.0, z = 0.0;
  Vector64() = default;
  Vector64(Float64 xx, Float64 yy, Float64 zz) : x(xx), y(yy), z(zz) {}
  bool operator==(const Vector64& o) const { return x == o.x && y == o.y && z == o.z; }
  bool operator!=(const Vector64& o) const { return !(*this == o); }
};

using Vector = Vector64;

// off + p.x * v1 + p.y * v2 + p.z * v3; the default is the identity.
struct Matrix64 {
  Vector64 off;
  Vector64 v1{1.0, 0.0, 0.0};
  Vector64 v2{0.0, 1.0, 0.0};
  Vector64 v3{0.0, 0.0, 1.0};
  Matrix64() = default;
  Matrix64(const Vector64& o, const Vector64& a, const Vector64& b, const Vector64& c)
      : off(o), v1(a), v2(b), v3(c) {}
  bool operator==(const Matrix64& o) const {
    return off == o.off && v1 == o.v1 && v2 == o.v2 && v3 == o.v3;
  }
  bool operator!=(const Matrix64& o) const { return !(*this == o); }
};

using Matrix = Matrix64;

// A polygon as four point indices; a triangle has c == d.
struct CPolygon {
  Int32 a = 0, b = 0, c = 0, d = 0;
  CPolygon() = default;
  CPolygon(Int32 aa, Int32 bb, Int32 cc, Int32 dd) : a(aa), b(bb), c(cc), d(dd) {}
  bool operator==(const CPolygon& o) const { return a == o.a && b == o.b && c == o.c && d == o.d; }
  bool operator!=(const CPolygon& o) const { return !(*this == o); }
};

}  // namespace lumora

#endif  // LUM_MATH_H
