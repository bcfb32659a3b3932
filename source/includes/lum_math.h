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

inline Vector64 operator+(const Vector64& a, const Vector64& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vector64 operator-(const Vector64& a, const Vector64& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vector64 operator-(const Vector64& a) { return {-a.x, -a.y, -a.z}; }
inline Vector64 operator*(Float64 s, const Vector64& v) { return {s * v.x, s * v.y, s * v.z}; }
// Dot product.
inline Float64 Dot(const Vector64& a, const Vector64& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vector64 Cross(const Vector64& a, const Vector64& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// The matrix applied to a point (offset added) and to a direction (offset left out).
inline Vector64 operator*(const Matrix64& m, const Vector64& p) {
  return {m.off.x + p.x * m.v1.x + p.y * m.v2.x + p.z * m.v3.x,
          m.off.y + p.x * m.v1.y + p.y * m.v2.y + p.z * m.v3.y,
          m.off.z + p.x * m.v1.z + p.y * m.v2.z + p.z * m.v3.z};
}
inline Vector64 TransformDirection(const Matrix64& m, const Vector64& d) {
  return {d.x * m.v1.x + d.y * m.v2.x + d.z * m.v3.x, d.x * m.v1.y + d.y * m.v2.y + d.z * m.v3.y,
          d.x * m.v1.z + d.y * m.v2.z + d.z * m.v3.z};
}

// The composition: (a * b)(p) == a(b(p)).
inline Matrix64 operator*(const Matrix64& a, const Matrix64& b) {
  return Matrix64(a * b.off, TransformDirection(a, b.v1), TransformDirection(a, b.v2),
                  TransformDirection(a, b.v3));
}

// The affine inverse (3 x 3 part by cofactors over the determinant, offset inverted with it).
// A matrix whose determinant is exactly 0 inverts to the identity.
inline Matrix64 operator~(const Matrix64& m) {
  const Vector64 c1 = Cross(m.v2, m.v3);
  const Float64 det = Dot(m.v1, c1);
  if (det == 0.0) return Matrix64();
  const Float64 inv = 1.0 / det;
  const Vector64 c2 = Cross(m.v3, m.v1);
  const Vector64 c3 = Cross(m.v1, m.v2);
  // Rows of the inverse are c1, c2, c3 over det; its columns (the axes) are read off them.
  Matrix64 r(Vector64(), Vector64(c1.x * inv, c2.x * inv, c3.x * inv),
             Vector64(c1.y * inv, c2.y * inv, c3.y * inv),
             Vector64(c1.z * inv, c2.z * inv, c3.z * inv));
  r.off = -TransformDirection(r, m.off);
  return r;
}

// The scaling matrix: zero offset, axes (v.x, 0, 0), (0, v.y, 0), (0, 0, v.z).
inline Matrix64 MatrixScale(const Vector64& v) {
  return Matrix64(Vector64(), Vector64(v.x, 0.0, 0.0), Vector64(0.0, v.y, 0.0),
                  Vector64(0.0, 0.0, v.z));
}

// A polygon as four point indices; a triangle has c == d.
struct CPolygon {
  Int32 a = 0, b = 0, c = 0, d = 0;
  CPolygon() = default;
  CPolygon(Int32 aa, Int32 bb, Int32 cc, Int32 dd) : a(aa), b(bb), c(cc), d(dd) {}
  // A triangle: d repeats c.
  CPolygon(Int32 aa, Int32 bb, Int32 cc) : a(aa), b(bb), c(cc), d(cc) {}
  bool operator==(const CPolygon& o) const { return a == o.a && b == o.b && c == o.c && d == o.d; }
  bool operator!=(const CPolygon& o) const { return !(*this == o); }
};

}  // namespace lumora

#endif  // LUM_MATH_H
