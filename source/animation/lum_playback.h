// Playback: an object's transform at a time, from its position, rotation and scale tracks,
// without changing the object.
//
// The tracks are the component tracks of the relative position (903), rotation (904) and scale
// (905), each vector component (1000, 1001, 1002) a track of its own. A component without a
// track, with a track switched off (parameter 904 of the track) or with an empty main curve
// takes the object's current relative value. The rotation is read in the object's rotation
// order; an object that rotates by quaternions (parameter 929) turns between the instants of
// its rotation keys along the shortest arc between the rotations there (spherical
// interpolation), holding the earlier rotation where that key steps. The local matrix is
// composed from the values as the object composes its own (frozen transformation included).
// A transform lock tag does not stop playback. doc/animation.md has the rules.
#ifndef LUM_PLAYBACK_H
#define LUM_PLAYBACK_H

#include "animation/lum_ctrack.h"
#include "objects/lum_baseobject.h"

namespace lumora {

// The relative transform of an object at a time.
struct AnimatedTransform {
  Vector64 position;        // Pr
  Vector64 rotation;        // Rr, angles in the object's rotation order
  Vector64 scale;           // Sr
  Matrix64 rotationMatrix;  // Mr: HPBToMatrix(rotation), or the interpolated quaternion's matrix
};

// The relative position, rotation and scale of object at time (the identity transform for a
// null object). Components are clamped to +-1e50 as the object's setters clamp them.
AnimatedTransform GetAnimatedTransform(const BaseObject* object, const BaseTime& time);

// The local matrix of object at time: what _GetMl returns after the animated values are set
// with SetRelPos, SetRelRot and SetRelScale. The identity for a null object.
Matrix64 GetAnimatedMl(const BaseObject* object, const BaseTime& time);

// Unit quaternions for rotation matrices (zero offset, orthonormal axes).
struct Quaternion {
  Float w = 1.0, x = 0.0, y = 0.0, z = 0.0;
};
Quaternion MatrixToQuaternion(const Matrix64& m);
Matrix64 QuaternionToMatrix(const Quaternion& q);
// The rotation u of the way (0..1) from a to b along the shorter arc.
Quaternion QuaternionSlerp(const Quaternion& a, const Quaternion& b, Float u);

}  // namespace lumora

#endif  // LUM_PLAYBACK_H
