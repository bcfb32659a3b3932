// Euler angles and rotation matrices for the seven rotation orders of an object.
//
// An angle vector (x, y, z) stands for a product of three elementary rotations about the X, Y
// and Z axes; the order says which product (the rightmost rotation turns a point first). The
// default order, ROTATIONORDER_HPB, reads the vector as heading (about Y), pitch (about X) and
// bank (about Z). Angles are radians.
#ifndef LUM_BASEOBJECT_ROTATION_H
#define LUM_BASEOBJECT_ROTATION_H

#include "lum_math.h"
#include "lum_types.h"

namespace lumora {

// The numbers are stored in files. Each name lists the product from left to right.
enum ROTATIONORDER : Int32 {
  ROTATIONORDER_ZXY = 0,  // Rz(z) Rx(x) Ry(y)
  ROTATIONORDER_XZY = 1,  // Rx(x) Rz(z) Ry(y)
  ROTATIONORDER_XYZ = 2,  // Rx(x) Ry(y) Rz(z)
  ROTATIONORDER_YXZ = 3,  // Ry(y) Rx(x) Rz(z)
  ROTATIONORDER_YZX = 4,  // Ry(y) Rz(z) Rx(x)
  ROTATIONORDER_ZYX = 5,  // Rz(z) Ry(y) Rx(x)
  ROTATIONORDER_HPB = 6,  // Ry(H) Rx(P) Rz(B) with (H, P, B) = (x, y, z)
};

// The rotation matrix (zero offset) of the angles in the order. All three angles exactly 0
// give the exact identity.
Matrix64 HPBToMatrix(const Vector64& angles, ROTATIONORDER order);

// The angles of the rotation part of m in the order (each axis normalised first). Near gimbal
// lock (|cos| of the middle angle <= 0.005) the first angle takes the whole turn about the
// locked axis. The clamped arcsine gives +-1.5707963705062866 (single-precision pi/2) for
// arguments at or beyond +-1. Order HPB gives H in [0, 2pi) and B in [0, 2pi].
Vector64 MatrixToHPB(const Matrix64& m, ROTATIONORDER order);

// Of nw and the equivalent triple that turns the middle rotation the other way, the one closer
// to old, each component moved by whole turns into [-pi, pi) of old. A tie keeps nw.
Vector64 GetOptimalAngle(const Vector64& old, const Vector64& nw, ROTATIONORDER order);

}  // namespace lumora

#endif  // LUM_BASEOBJECT_ROTATION_H
