// The transformation of BaseObject: relative, frozen and absolute position, rotation and
// scale, the local and global matrices (see lum_baseobject.h).
#include <cmath>

#include "objects/lum_baseobject.h"
#include "objects/lum_baseobject_private.h"

namespace lumora {

// ---- transformation ----

bool BaseObject::Locked() const { return GetTag(TYPE_TAG_TRANSFORMLOCK, 0) != nullptr; }

void BaseObject::UpdateAbsPos() {
  _absPos = _frozenFlags != 0 ? _frozenMatrix * _relPos + _frozenPos : _relPos;
}

void BaseObject::UpdateAbsScale() {
  _absScale = (_frozenFlags & FROZEN_SCALE) != 0 ? Mul(_relScale, _frozenScale) : _relScale;
}

void BaseObject::UpdateAbsRot() {
  _absRot = (_frozenFlags & FROZEN_ROTATION) != 0
                ? GetOptimalAngle(_relRot, MatrixToHPB(_frozenMatrix * _rotMatrix, _order), _order)
                : _relRot;
}

void BaseObject::SetRelPos(const Vector64& value) {
  if (Locked()) return;
  const Vector64 v = Clamp(value);
  if (v == _relPos) return;
  _relPos = v;
  UpdateAbsPos();
  _dirty = true;
}

void BaseObject::SetRelScale(const Vector64& value) {
  if (Locked()) return;
  const Vector64 v = Clamp(value);
  if (v == _relScale) return;
  _relScale = v;
  UpdateAbsScale();
  _dirty = true;
}

void BaseObject::SetRelRot(const Vector64& value) {
  if (Locked()) return;
  const Vector64 v = Clamp(value);
  if (v == _relRot) return;
  _relRot = v;
  _rotMatrix = HPBToMatrix(_relRot, _order);
  _dirty = true;
  UpdateAbsRot();
}

void BaseObject::SetFrozenPos(const Vector64& value) {
  if (Locked()) return;
  const Vector64 v = Clamp(value);
  if (v == _frozenPos) return;
  _frozenPos = v;
  if (v.x != 0.0 || v.y != 0.0 || v.z != 0.0) {
    _frozenFlags |= FROZEN_POSITION;
  } else {
    _frozenFlags &= ~FROZEN_POSITION;
  }
  UpdateAbsPos();
  _dirty = true;
}

void BaseObject::SetFrozenScale(const Vector64& value) {
  if (Locked()) return;
  const Vector64 v = Clamp(value);
  if (v == _frozenScale) return;
  _frozenScale = v;
  if (v.x != 1.0 || v.y != 1.0 || v.z != 1.0) {
    _frozenFlags |= FROZEN_SCALE;
  } else {
    _frozenFlags &= ~FROZEN_SCALE;
  }
  _absScale = _frozenFlags != 0 ? Mul(_relScale, _frozenScale) : _relScale;
  _dirty = true;
}

void BaseObject::SetFrozenRot(const Vector64& value) {
  if (Locked()) return;
  const Vector64 v = Clamp(value);
  if (v == _frozenRot) return;
  _frozenRot = v;
  _frozenMatrix = HPBToMatrix(_frozenRot, _order);
  _dirty = true;
  if (_frozenMatrix != Matrix64()) {
    _frozenInverse = ~_frozenMatrix;
    _frozenFlags |= FROZEN_ROTATION;
  } else {
    _frozenFlags &= ~FROZEN_ROTATION;
    _frozenInverse = Matrix64();
    if ((_frozenFlags & (FROZEN_POSITION | FROZEN_SCALE)) == 0) {
      _absRot = _relRot;
      _absPos = _relPos;
      return;
    }
  }
  _absPos = _frozenMatrix * _relPos + _frozenPos;
  _absRot = GetOptimalAngle(_relRot, MatrixToHPB(_frozenMatrix * _rotMatrix, _order), _order);
}

void BaseObject::SetAbsPos(const Vector64& value) {
  if (Locked()) return;
  const Vector64 v = Clamp(value);
  if (v == _absPos) return;
  if (_frozenFlags == 0) {
    SetRelPos(v);
    return;
  }
  const Vector64 r = _frozenInverse * (v - _frozenPos);
  SetRelPos(r);
  if (_relPos == r) _absPos = v;
  _dirty = true;
}

void BaseObject::SetAbsRot(const Vector64& value) {
  if (Locked()) return;
  const Vector64 v = Clamp(value);
  if (v == _absRot) return;
  if (_frozenFlags == 0) {
    SetRelRot(v);
    return;
  }
  const Matrix64 m = _frozenInverse * HPBToMatrix(v, _order);
  const Vector64 r = GetOptimalAngle(v, MatrixToHPB(m, _order), _order);
  SetRelRot(r);
  if (_relRot == r) _absRot = v;
}

void BaseObject::SetAbsScale(const Vector64& value) {
  if (Locked()) return;
  const Vector64 v = Clamp(value);
  if ((_frozenFlags & FROZEN_SCALE) == 0) {
    SetRelScale(v);
    return;
  }
  const Vector64 r(_frozenScale.x != 0.0 ? v.x / _frozenScale.x : 0.0,
                   _frozenScale.y != 0.0 ? v.y / _frozenScale.y : 0.0,
                   _frozenScale.z != 0.0 ? v.z / _frozenScale.z : 0.0);
  SetRelScale(r);
  if (_relScale == r) _absScale = v;
  _dirty = true;
}

void BaseObject::SetRotationOrder(ROTATIONORDER order) {
  if (Locked() || order == _order) return;
  _order = order;
  _relRot = MatrixToHPB(_rotMatrix, order);
  _rotMatrix = HPBToMatrix(_relRot, order);
  // The frozen rotation is re-expressed in the new order as well: its matrix stays, and the
  // angles go with it, so that a reader (which rebuilds the matrix from the angles in the
  // stored order) gets the same transformation back.
  if ((_frozenFlags & FROZEN_ROTATION) != 0) {
    _frozenRot = MatrixToHPB(_frozenMatrix, order);
    _frozenMatrix = HPBToMatrix(_frozenRot, order);
    _frozenInverse = ~_frozenMatrix;
    UpdateAbsPos();
  }
  _dirty = true;
  UpdateAbsRot();
}

void BaseObject::SetRelMl(const Matrix64& m) {
  if (Locked()) return;
  Vector64 X = m.v1, Y = m.v2, Z = m.v3;
  Float64 sx = std::sqrt(Dot(X, X)), sy = std::sqrt(Dot(Y, Y)), sz = std::sqrt(Dot(Z, Z));
  Vector64 rot;
  // A matrix without any axis carries no rotation: the angles stay (0, 0, 0), so that the
  // rotation matrix (the identity below) and the angles agree.
  const bool noAxes = sx == 0.0 && sy == 0.0 && sz == 0.0;
  if (!(_relScale == Vector64(0.0, 0.0, 0.0)) && !noAxes) {
    if (_relScale.z < 0.0) {
      Z = -Z;
      sz = -sz;
    }
    if (_relScale.x < 0.0) {
      X = -X;
      sx = -sx;
    }
    if (Dot(Cross(X, Y), Z) < 0.0) {
      Y = -Y;
      sy = -sy;
    }
    const Float64 lx = std::fabs(sx), ly = std::fabs(sy), lz = std::fabs(sz);
    const Matrix64 n(Vector64(), lx != 0.0 ? (1.0 / lx) * X : Vector64(),
                     ly != 0.0 ? (1.0 / ly) * Y : Vector64(), lz != 0.0 ? (1.0 / lz) * Z : Vector64());
    rot = GetOptimalAngle(_relRot, MatrixToHPB(n, _order), _order);
  }
  _relPos = Clamp(m.off);
  _relRot = Clamp(rot);
  _relScale = Clamp(Vector64(sx, sy, sz));
  _rotMatrix = noAxes ? Matrix64() : HPBToMatrix(_relRot, _order);
  _dirty = true;
  if (_frozenFlags != 0) {
    _absPos = _frozenMatrix * _relPos + _frozenPos;
    _absRot = GetOptimalAngle(_relRot, MatrixToHPB(_frozenMatrix * _rotMatrix, _order), _order);
    _absScale = Mul(_relScale, _frozenScale);
  } else {
    _absPos = _relPos;
    _absScale = _relScale;
    _absRot = _relRot;
  }
}

// SetMl and SetMg end in SetRelMl, which refuses a locked transformation.
void BaseObject::SetMl(const Matrix64& m) {
  if (_frozenFlags == 0) {
    SetRelMl(m);
    return;
  }
  Matrix64 r;
  r.off = _frozenInverse * (m.off - _frozenPos);
  r.v1 = TransformDirection(_frozenInverse, m.v1);
  r.v2 = TransformDirection(_frozenInverse, m.v2);
  r.v3 = TransformDirection(_frozenInverse, m.v3);
  if (_frozenScale.x != 0.0) r.v1 = (1.0 / _frozenScale.x) * r.v1;
  if (_frozenScale.y != 0.0) r.v2 = (1.0 / _frozenScale.y) * r.v2;
  if (_frozenScale.z != 0.0) r.v3 = (1.0 / _frozenScale.z) * r.v3;
  SetRelMl(r);
}

void BaseObject::SetMg(const Matrix64& m) {
  if (GetUp() == nullptr) {
    SetMl(m);
    return;
  }
  SetMl((~GetUpMg()) * m);
}

Matrix64 BaseObject::_GetMl() const {
  if (!_dirty) return _ml;
  const Matrix64 r = (_frozenFlags & FROZEN_ROTATION) != 0 ? _frozenMatrix * _rotMatrix : _rotMatrix;
  _ml.off = _absPos;
  _ml.v1 = _absScale.x * r.v1;
  _ml.v2 = _absScale.y * r.v2;
  _ml.v3 = _absScale.z * r.v3;
  _dirty = false;
  return _ml;
}

Matrix64 BaseObject::GetMg() const {
  Matrix64 m = _GetMl();
  for (const BaseObject* up = GetUp(); up != nullptr; up = up->GetUp()) m = up->_GetMl() * m;
  return m;
}

Matrix64 BaseObject::GetUpMg() const {
  const BaseObject* up = GetUp();
  return up != nullptr ? up->GetMg() : Matrix64();
}

void BaseObject::ClampAll() {
  _relPos = Clamp(_relPos);
  _relScale = Clamp(_relScale);
  _relRot = Clamp(_relRot);
  _frozenPos = Clamp(_frozenPos);
  _frozenScale = Clamp(_frozenScale);
  _frozenRot = Clamp(_frozenRot);
  _absPos = Clamp(_absPos);
  _absScale = Clamp(_absScale);
  _absRot = Clamp(_absRot);
}

}  // namespace lumora
