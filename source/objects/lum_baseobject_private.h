// The parts of BaseObject its files share: the parameter ids, the object types with special
// rules, and small helpers. Private to source/objects; file-local and inline, as they were when
// BaseObject was one file.
#ifndef LUMORA_OBJECTS_LUM_BASEOBJECT_PRIVATE_H_
#define LUMORA_OBJECTS_LUM_BASEOBJECT_PRIVATE_H_

#include "objects/lum_baseobject.h"
#include "stream/lum_hyperfile.h"

namespace lumora {
namespace {

constexpr const Char* kFile = "source/lum_baseobject";
constexpr Float64 kLimit = 1e50;

// Parameters.
constexpr Int32 kDisplayA = 901;
constexpr Int32 kDisplayB = 902;
constexpr Int32 kRelPos = ID_BASEOBJECT_REL_POSITION;
constexpr Int32 kRelRot = ID_BASEOBJECT_REL_ROTATION;
constexpr Int32 kRelScale = ID_BASEOBJECT_REL_SCALE;
constexpr Int32 kEnabled = ID_BASEOBJECT_ENABLED;
constexpr Int32 kSettingC = 907;
constexpr Int32 kColor = ID_BASEOBJECT_COLOR;
constexpr Int32 kDisplayFlag = 909;
constexpr Int32 kGlobalPos = ID_BASEOBJECT_GLOBAL_POSITION;
constexpr Int32 kGlobalRot = ID_BASEOBJECT_GLOBAL_ROTATION;
constexpr Int32 kVectorD = 912;
constexpr Int32 kSettingE = 913;
constexpr Int32 kFrozenPos = ID_BASEOBJECT_FROZEN_POSITION;
constexpr Int32 kFrozenRot = ID_BASEOBJECT_FROZEN_ROTATION;
constexpr Int32 kFrozenScale = ID_BASEOBJECT_FROZEN_SCALE;
constexpr Int32 kAbsPos = ID_BASEOBJECT_ABS_POSITION;
constexpr Int32 kAbsRot = ID_BASEOBJECT_ABS_ROTATION;
constexpr Int32 kAbsScale = ID_BASEOBJECT_ABS_SCALE;
constexpr Int32 kRotationOrder = ID_BASEOBJECT_ROTATION_ORDER;
constexpr Int32 kQuaternion = ID_BASEOBJECT_QUATERNION_ROTATION;
constexpr Int32 kVectorX = 1000;
constexpr Int32 kVectorZ = 1002;

// Object types with special rules.
constexpr Int32 kTypeAlwaysEnabled = 5140;
constexpr Int32 kTypeNeeds5000 = 5116;
constexpr Int32 kTypePlainDisk = 440000200;

inline Float64 Clamp(Float64 v) { return v < -kLimit ? -kLimit : (v > kLimit ? kLimit : v); }
inline Vector64 Clamp(const Vector64& v) { return Vector64(Clamp(v.x), Clamp(v.y), Clamp(v.z)); }
inline Float64 Clamp01(Float64 v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }
inline Vector64 Mul(const Vector64& a, const Vector64& b) { return Vector64(a.x * b.x, a.y * b.y, a.z * b.z); }

inline bool Fail(HyperFile* hf, FILEERROR error) {
  if (hf->GetError() == FILEERROR_NONE) hf->SetError(error);
  return false;
}

}  // namespace
}  // namespace lumora

#endif  // LUMORA_OBJECTS_LUM_BASEOBJECT_PRIVATE_H_
