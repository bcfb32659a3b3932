// BaseObject and RootObject (see lum_baseobject.h).
#include "objects/lum_baseobject.h"

#include <cmath>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "lum_debug.h"
#include "lum_memory.h"
#include "objects/lum_polygonobject.h"
#include "objects/lum_splineobject.h"
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

Float64 Clamp(Float64 v) { return v < -kLimit ? -kLimit : (v > kLimit ? kLimit : v); }
Vector64 Clamp(const Vector64& v) { return Vector64(Clamp(v.x), Clamp(v.y), Clamp(v.z)); }
Float64 Clamp01(Float64 v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }
Vector64 Mul(const Vector64& a, const Vector64& b) { return Vector64(a.x * b.x, a.y * b.y, a.z * b.z); }

bool Fail(HyperFile* hf, FILEERROR error) {
  if (hf->GetError() == FILEERROR_NONE) hf->SetError(error);
  return false;
}

// The tables of the reflected CRC-32, eight bytes at a time: t[0] is the byte table, t[k] the
// same byte k positions further back.
struct Crc32Table {
  UInt32 t[8][256];
  Crc32Table() {
    for (UInt32 i = 0; i < 256; ++i) {
      UInt32 c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (int k = 1; k < 8; ++k)
      for (UInt32 i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
};
const Crc32Table kCrcTable;

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LUM_CRC32_CLMUL 1
// The register over len bytes (len >= 64, a multiple of 16) by folding with carry-less
// multiplication: four 128-bit lanes folded 64 bytes at a time, then into one lane, to 64 bits
// and by Barrett reduction to 32 (the constants are powers of x modulo the reflected
// polynomial).
__attribute__((target("pclmul,sse4.1"))) UInt32 ClmulCrc(const UChar* buf, Int64 len, UInt32 crc) {
  alignas(16) static const UInt64 k1k2[2] = {0x0154442bd4ull, 0x01c6e41596ull};
  alignas(16) static const UInt64 k3k4[2] = {0x01751997d0ull, 0x00ccaa009eull};
  alignas(16) static const UInt64 k5k0[2] = {0x0163cd6124ull, 0x0000000000ull};
  alignas(16) static const UInt64 poly[2] = {0x01db710641ull, 0x01f7011641ull};
  __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
  __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
  __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
  __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(Int32(crc)));
  __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  buf += 64;
  len -= 64;
  while (len >= 64) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    const __m128i x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
    const __m128i x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
    const __m128i x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
    x3 = _mm_clmulepi64_si128(x3, x0, 0x11);
    x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00)));
    x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10)));
    x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20)));
    x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30)));
    buf += 64;
    len -= 64;
  }
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  const __m128i* rest[3] = {&x2, &x3, &x4};
  for (const __m128i* next : rest) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, *next), x5);
  }
  while (len >= 16) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf))), x5);
    buf += 16;
    len -= 16;
  }
  // 128 bits to 64.
  x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
  x3 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, x3), x0, 0x00), x2);
  // Barrett reduction to 32 bits.
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  x2 = _mm_and_si128(x1, x3);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x10);
  x2 = _mm_and_si128(x2, x3);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return UInt32(_mm_extract_epi32(x1, 1));
}

bool HasClmul() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}
#endif

RootObject* NewRootObject() { return AllocAlienRootObject(); }

}  // namespace

void Crc32::Update(const void* data, Int64 count) {
  if (data == nullptr || count <= 0) return;
  const UChar* p = static_cast<const UChar*>(data);
  const auto& t = kCrcTable.t;
  UInt32 s = _state;
#ifdef LUM_CRC32_CLMUL
  if (count >= 64 && HasClmul()) {
    const Int64 folded = count & ~Int64(15);
    s = ClmulCrc(p, folded, s);
    p += folded;
    count -= folded;
  }
#endif
  for (; count >= 8; count -= 8, p += 8) {
    const UInt32 a = s ^ (UInt32(p[0]) | UInt32(p[1]) << 8 | UInt32(p[2]) << 16 | UInt32(p[3]) << 24);
    const UInt32 b = UInt32(p[4]) | UInt32(p[5]) << 8 | UInt32(p[6]) << 16 | UInt32(p[7]) << 24;
    s = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
        t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
  }
  for (Int64 i = 0; i < count; ++i) s = t[0][(s ^ p[i]) & 0xFF] ^ (s >> 8);
  _state = s;
}

// ---- life ----

BaseObject::BaseObject() : BaseObject(TYPE_OBJECT) {}

BaseObject::BaseObject(Int32 type) : BaseList4D(type) {
  RootObject* children = NewRootObject();
  if (children != nullptr) SetChildren(children);
}

BaseObject::~BaseObject() {
  DeleteObj(_deformCache);
  DeleteObj(_cache);
  DeleteObj(_tags);
  // The children list goes with the list node.
}

BaseObject* BaseObject::Alloc(Int32 type) {
  BaseObject* obj = nullptr;
  switch (type) {
    case TYPE_POLYGONOBJECT:
      obj = NewObj<PolygonObject>();
      break;
    case TYPE_SPLINEOBJECT:
    case TYPE_SPLINEOBJECT_OLD:
      obj = NewObj<SplineObject>();
      break;
    case TYPE_POLYGONOBJECTDATA_DISK:
      // A polygon object as files store it: its plug-in data chunk brings the type and the
      // data. Made a PolygonObject already (without data), so that the polygon object's
      // accessors serve it as the object it is.
      obj = NewObj<PolygonObject>();
      if (obj != nullptr) obj->_diskType = type;
      break;
    case TYPE_OBJECT:
    case kTypePlainDisk:
      obj = NewObj<BaseObject>();
      if (obj != nullptr) obj->_diskType = type;
      break;
    default:
      obj = NewObj<BaseObject>(type);
      break;
  }
  if (obj == nullptr) return nullptr;
  if (obj->GetChildren() == nullptr) {
    DeleteObj(obj);
    return nullptr;
  }
  if (type == TYPE_OBJECT || type == TYPE_POLYGONOBJECTDATA_DISK || type == kTypePlainDisk)
    return obj;
  bool known = false;
  NodeData* data = AllocObjectData(obj->GetType(), known);
  if (!known) return obj;
  if (data == nullptr) {
    DeleteObj(obj);
    return nullptr;
  }
  data->SetNode(obj);
  obj->SetNodeData(data);
  if (!data->Init()) {
    DeleteObj(obj);
    return nullptr;
  }
  return obj;
}

void BaseObject::Free(BaseObject*& object) { DeleteObj(object); }

namespace {

// Object kinds whose data is a plain node data with no behaviour of its own.
bool IsPlainDataType(Int32 type) {
  switch (type) {
    case 5128: case 5129: case 5131: case 5133: case 5134: case 5136: case 5140: case 5142:
    case 5143: case 5153:
    case 1001002: case 1001003: case 1001253: case 1002603: case 1007455: case 1008796:
    case 1008982: case 1010865: case 1019221: case 1025766: case 100004007:
      return true;
    default:
      return (type >= 5104 && type <= 5107) || (type >= 5109 && type <= 5125) ||
             (type >= 5145 && type <= 5150) || (type >= 5159 && type <= 5190);
  }
}

// Object kinds whose data this library keeps as the bytes it read.
bool IsKeptDataType(Int32 type) {
  switch (type) {
    case 5102: case 5103: case 5126: case 1011146: case 1011194: case 1011196: case 1019362:
    case 1019363: case 1024543: case 1036448: case 1036557: case 1039859: case 1039867:
    case 431000073: case 431000075: case 431000174:
      return true;
    default:
      return false;
  }
}

}  // namespace

NodeData* BaseObject::AllocObjectData(Int32 type, bool& known) {
  known = true;
  switch (type) {
    case TYPE_POLYGONOBJECT:
      return NewObj<PolygonObjectData>();
    case TYPE_SPLINEOBJECT:
    case 5108:
    case TYPE_SPLINEOBJECT_OLD:
      return NewObj<PointObjectData>();
    default:
      break;
  }
  // Plain and kept kinds share the class that keeps a chunk's bytes: with nothing read it
  // writes nothing, like a plain node data, and a copy of read data stays byte-exact.
  if (IsKeptDataType(type) || IsPlainDataType(type)) return NewObj<RawNodeData>(type);
  known = false;
  return nullptr;
}

// ---- node ----

bool BaseObject::IsInstanceOf(Int32 id) const {
  return id == 0 || id == TYPE_ANYOBJECT || id == GetType() || id == GetInstanceType();
}

Int32 BaseObject::GetDiskType() const {
  NodeData* data = GetNodeData();
  return data != nullptr ? data->GetDiskType() : _diskType;
}

bool BaseObject::Execute() {
  NodeData* data = GetNodeData();
  return data != nullptr && data->Execute();
}

BaseObject* BaseObject::GetDeformCache() const {
  return _deformCache != nullptr ? _deformCache->GetFirst() : nullptr;
}

BaseObject* BaseObject::GetCache() const { return _cache != nullptr ? _cache->GetFirst() : nullptr; }

bool BaseObject::IsQuaternionRotationMode() {
  GeData value;
  if (!GetDParameter(DescID(kQuaternion), value)) return false;
  return value.GetInt32() != 0;
}

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

void BaseObject::SetMl(const Matrix64& m) {
  if (Locked()) return;
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
  if (Locked()) return;
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

// ---- parameters ----

namespace {

bool IsVectorParameter(Int32 id) {
  switch (id) {
    case kRelPos: case kRelRot: case kRelScale: case kColor: case kGlobalPos: case kGlobalRot:
    case kVectorD: case kFrozenPos: case kFrozenRot: case kFrozenScale: case kAbsPos:
    case kAbsRot: case kAbsScale:
      return true;
    default:
      return false;
  }
}

// The component a second level selects: 0..2, -1 for the whole vector, -2 for anything else.
Int32 Component(const DescID& id) {
  const Int32 sub = id.GetDepth() >= 2 ? id[1].id : 0;
  if (sub == 0) return -1;
  if (sub >= kVectorX && sub <= kVectorZ) return sub - kVectorX;
  return -2;
}

Float64 Get(const Vector64& v, Int32 c) { return c == 0 ? v.x : (c == 1 ? v.y : v.z); }

}  // namespace

bool BaseObject::GetDParameter(const DescID& id, GeData& out) {
  const Int32 first = id[0].id;
  if (IsVectorParameter(first)) {
    const Int32 c = Component(id);
    if (c == -2) return BaseList4D::GetDParameter(id, out);
    Vector64 v;
    switch (first) {
      case kRelPos: v = _relPos; break;
      case kRelRot: v = _relRot; break;
      case kRelScale: v = _relScale; break;
      case kColor:
        v = _displayColor;
        _displayColor = Vector64(Clamp01(v.x), Clamp01(v.y), Clamp01(v.z));
        break;
      case kGlobalPos: v = GetMg().off; break;
      case kGlobalRot: v = GetOptimalAngle(_relRot, MatrixToHPB(GetMg(), _order), _order); break;
      case kVectorD: v = _vectorD; break;
      case kFrozenPos: v = _frozenPos; break;
      case kFrozenRot: v = _frozenRot; break;
      case kFrozenScale: v = _frozenScale; break;
      case kAbsPos: v = _absPos; break;
      case kAbsRot: v = _absRot; break;
      default: v = _absScale; break;
    }
    out = c < 0 ? GeData(v) : GeData(Get(v, c));
    return true;
  }
  switch (first) {
    case kDisplayA: out = GeData(_displayA); return true;
    case kDisplayB: out = GeData(_displayB); return true;
    case kEnabled: {
      const Int32 t = GetType();
      const bool on = t == TYPE_POLYGONOBJECT || t == TYPE_CAMERAOBJECT || t == kTypeAlwaysEnabled ||
                      _disabled == 0;
      out = GeData(Int32(on ? 1 : 0));
      return true;
    }
    case kSettingC: out = GeData(_settingC); return true;
    case kDisplayFlag: out = GeData(Int32(_displayFlag ? 1 : 0)); return true;
    case kSettingE: out = GeData(_settingE); return true;
    case kRotationOrder: out = GeData(Int32(_order)); return true;
    default: return BaseList4D::GetDParameter(id, out);
  }
}

bool BaseObject::SetDParameter(const DescID& id, const GeData& value) {
  const Int32 first = id[0].id;
  if (IsVectorParameter(first)) {
    const Int32 c = Component(id);
    if (c == -2) return BaseList4D::SetDParameter(id, value);
    // The current value with one component replaced, or the whole new vector.
    auto take = [&](const Vector64& current) {
      if (c < 0) return value.GetVector();
      Vector64 v = current;
      const Float64 f = value.GetFloat();
      if (c == 0) v.x = f; else if (c == 1) v.y = f; else v.z = f;
      return v;
    };
    switch (first) {
      case kRelPos: SetRelPos(take(_relPos)); break;
      case kRelRot: SetRelRot(take(_relRot)); break;
      case kRelScale: SetRelScale(take(_relScale)); break;
      case kColor: _displayColor = take(_displayColor); break;
      case kVectorD: _vectorD = take(_vectorD); break;
      case kFrozenPos: SetFrozenPos(take(_frozenPos)); break;
      case kFrozenRot: SetFrozenRot(take(_frozenRot)); break;
      case kFrozenScale: SetFrozenScale(take(_frozenScale)); break;
      case kAbsPos: SetAbsPos(take(_absPos)); break;
      case kAbsRot: SetAbsRot(take(_absRot)); break;
      case kAbsScale: SetAbsScale(take(_absScale)); break;
      case kGlobalPos: {
        const Vector64 p = take(GetMg().off);
        SetAbsPos(GetUp() != nullptr ? (~GetUpMg()) * p : p);
        break;
      }
      default: {  // kGlobalRot
        const Vector64 r =
            take(GetOptimalAngle(_relRot, MatrixToHPB(GetMg(), _order), _order));
        if (GetUp() == nullptr) {
          SetAbsRot(r);
        } else {
          const Matrix64 local = (~GetUpMg()) * HPBToMatrix(r, _order);
          SetAbsRot(GetOptimalAngle(_absRot, MatrixToHPB(local, _order), _order));
        }
        break;
      }
    }
    return true;
  }
  switch (first) {
    case kDisplayA: _displayA = value.GetInt32(); return true;
    case kDisplayB: _displayB = value.GetInt32(); return true;
    case kEnabled: _disabled = value.GetInt32() != 0 ? 0 : 1; return true;
    case kSettingC: _settingC = value.GetInt32(); return true;
    case kDisplayFlag: _displayFlag = value.GetInt32() != 0; return true;
    case kSettingE: _settingE = value.GetInt32(); return true;
    case kRotationOrder: {
      const Int32 o = value.GetInt32();
      // Only the seven orders exist; another number would leave the rotation undefined.
      if (o < ROTATIONORDER_ZXY || o > ROTATIONORDER_HPB) return false;
      SetRotationOrder(ROTATIONORDER(o));
      return true;
    }
    default: return BaseList4D::SetDParameter(id, value);
  }
}

// ---- copies ----

bool BaseObject::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  BaseObject* d = static_cast<BaseObject*>(dest);
  if (d == this) return true;
  if (d->GetType() != GetType()) {
    _GeDebugBreak(__LINE__, kFile);
    if (GetNodeData() != nullptr) d->SetID(GetType());
  }
  NodeData* data = GetNodeData();
  if (data != nullptr) {
    d->SetNodeData(nullptr);
    // The data's class comes from where the source's came from: the application's hook for
    // the kinds it knows, the library's own table otherwise.
    bool known = false;
    NodeData* nd = AllocAlienObjectData(GetType(), known, d);
    if (nd == nullptr && !known) nd = AllocObjectData(GetType(), known);
    if (nd == nullptr) return false;
    nd->SetNode(d);
    d->SetNodeData(nd);
    if (!d->InitDataKeepingContainer(nd)) {
      d->SetNodeData(nullptr);
      return false;
    }
    if (!data->CopyToX(nd, flags, trans)) return false;
  } else {
    d->SetNodeData(nullptr);
    d->FreeRawData();
    if (_rawData != nullptr && _rawSize > 0) {
      void* bytes = MemAllocNC(_rawSize);
      if (bytes == nullptr) return false;
      std::memcpy(bytes, _rawData, size_t(_rawSize));
      d->SetRawData(bytes, _rawSize, _rawLevel);
    } else {
      d->_rawLevel = _rawLevel;
    }
  }
  d->_pluginType = _pluginType;
  if (!BaseList4D::CopyToX(dest, flags, trans)) return false;
  if ((flags & COPYFLAGS_NO_TAGS) == 0) {
    if (_tags != nullptr && _tags->GetFirst() != nullptr) {
      RootTag* list = d->MakeTagList();
      if (list == nullptr || !_tags->CopyToX(list, flags, trans)) return false;
      for (BaseTag* t = list->GetFirst(); t != nullptr; t = t->GetNext()) t->SetObject(d);
    } else if (d->_tags != nullptr) {
      d->_tags->FlushAll();
    }
  }
  d->_displayColor = _displayColor;
  d->_settingC = _settingC;
  d->_displayFlag = _displayFlag;
  d->_vectorD = _vectorD;
  d->_settingE = _settingE;
  d->_displayA = _displayA;
  d->_displayB = _displayB;
  d->_disabled = _disabled;
  d->_storedMatrix = _storedMatrix;
  d->_frozenFlags = _frozenFlags;
  d->_diskType = _diskType;
  d->_rotMatrix = _rotMatrix;
  d->_frozenMatrix = _frozenMatrix;
  d->_frozenInverse = _frozenInverse;
  d->_relPos = _relPos;
  d->_relScale = _relScale;
  d->_relRot = _relRot;
  d->_frozenPos = _frozenPos;
  d->_frozenScale = _frozenScale;
  d->_frozenRot = _frozenRot;
  d->_absPos = _absPos;
  d->_absRot = _absRot;
  d->_absScale = _absScale;
  d->_order = _order;
  d->_dirty = true;
  return true;
}

GeListNode* BaseObject::GetClone(COPYFLAGS flags, AliasTrans* trans) {
  return GetCloneObject((flags & COPYFLAGS_NO_CHILDREN) == 0, flags, trans);
}

BaseObject* BaseObject::GetCloneObject(bool children, COPYFLAGS flags, AliasTrans* trans) {
  BaseObject* clone = Alloc(GetType());
  if (clone == nullptr) return nullptr;
  if (clone->_tags != nullptr) clone->_tags->FlushAll();
  if (!CopyTo(clone, flags, trans)) {
    Free(clone);
    return nullptr;
  }
  if (children) {
    BaseObject* last = nullptr;
    for (BaseObject* c = GetDown(); c != nullptr; c = c->GetNext()) {
      BaseObject* cc = c->GetCloneObject(true, flags, trans);
      if (cc == nullptr) {
        Free(clone);
        return nullptr;
      }
      if (last == nullptr) {
        cc->InsertUnder(clone);
      } else {
        cc->InsertAfter(last);
      }
      last = cc;
    }
  }
  return clone;
}

// ---- writing ----

bool BaseObject::NodeDataWritesLast() const {
  NodeData* data = GetNodeData();
  return data != nullptr && data->GetDiskType() == TYPE_POLYGONOBJECTDATA_DISK &&
         GetType() != TYPE_JOINTOBJECT;
}

bool BaseObject::WriteNodeDataChunk(HyperFile* hf) {
  NodeData* data = GetNodeData();
  const Int32 level = data != nullptr ? data->GetChunkLevel() : _rawLevel;
  if (!hf->WriteChunkStart(CHUNK_PLUGINDATA, level) || !hf->WriteInt32(GetType()) ||
      !hf->WriteInt32(0) || !hf->WriteString(GetName())) {
    return false;
  }
  if (data != nullptr) {
    if (!NodeDataWritesLast() && !data->Write(hf)) return false;
    return hf->WriteChunkEnd();
  }
  // The kept bytes end with the chunk's end byte.
  if (_rawData != nullptr) return hf->WriteUnknownChunk(_rawData, _rawSize, false);
  return hf->WriteChunkEnd();
}

bool BaseObject::WriteTags(HyperFile* hf) {
  if (_tags == nullptr || _tags->GetFirst() == nullptr) return true;
  return hf->WriteChunkStart(CHUNK_OBJECT_TAGS, 0) && _tags->Write(hf) && hf->WriteChunkEnd();
}

bool BaseObject::WriteTransform(HyperFile* hf) {
  if (!hf->WriteChunkStart(CHUNK_OBJECT_TRANSFORM, OBJECT_TRANSFORM_LEVEL) ||
      !hf->WriteVector(_relPos) || !hf->WriteVector(_relScale) || !hf->WriteVector(_relRot) ||
      !hf->WriteInt32(_displayA) || !hf->WriteInt32(_displayB) || !hf->WriteInt32(_disabled) ||
      !hf->WriteBool(_displayFlag) || !hf->WriteVector(_displayColor) ||
      !hf->WriteInt32(_settingC) || !hf->WriteVector(_vectorD) || !hf->WriteInt32(_settingE) ||
      !hf->WriteMatrix(_storedMatrix) || !hf->WriteBool(false) || !hf->WriteBool(false) ||
      !hf->WriteUInt32(_frozenFlags)) {
    return false;
  }
  if ((_frozenFlags & (FROZEN_POSITION | FROZEN_ROTATION | FROZEN_SCALE)) != 0) {
    if (!hf->WriteVector(_frozenPos) || !hf->WriteVector(_frozenScale) ||
        !hf->WriteVector(_frozenRot) || !hf->WriteVector(_absPos) || !hf->WriteVector(_absScale) ||
        !hf->WriteVector(_absRot)) {
      return false;
    }
  }
  return hf->WriteInt32(Int32(_order)) && hf->WriteChunkEnd();
}

bool BaseObject::Write(HyperFile* hf) {
  BaseContainer* bc = GetDataInstance();
  if (GetType() == kTypeNeeds5000 && bc->FindIndex(5000) < 0 && !bc->SetBool(5000, false)) {
    return Fail(hf, FILEERROR_OUTOFMEMORY);
  }
  if (!BaseList4D::Write(hf)) return false;
  Crc32 crc;
  CalculateCrc(crc);
  if (!bc->SetInt32(OBJECT_CRC_ENTRY, Int32(~crc.GetRegister()))) return Fail(hf, FILEERROR_OUTOFMEMORY);
  if (GetDiskType() != TYPE_SPLINEOBJECT && !WriteNodeDataChunk(hf)) return false;
  if (GetDown() != nullptr) {
    if (!hf->WriteChunkStart(CHUNK_NODELIST, 0) || !GetChildren()->Write(hf) || !hf->WriteChunkEnd())
      return false;
  }
  if (!WriteTags(hf) || !WriteTransform(hf)) return false;
  if (NodeDataWritesLast() && !GetNodeData()->Write(hf)) return false;
  return true;
}

// ---- reading ----

bool BaseObject::ReadCacheList(HyperFile* hf, RootObject*& list) {
  if (list == nullptr) list = AllocAlienRootObject();
  if (list == nullptr) return Fail(hf, FILEERROR_OUTOFMEMORY);
  list->SetOwner(this);
  return list->ReadObject(hf, true);
}

bool BaseObject::ReadTransform(HyperFile* hf, Int32 level) {
  Int32 disabled = 0;
  bool deform = false, cache = false;
  UInt32 flags = 0;
  if (!hf->ReadVector(&_relPos) || !hf->ReadVector(&_relScale) || !hf->ReadVector(&_relRot) ||
      !hf->ReadInt32(&_displayA) || !hf->ReadInt32(&_displayB) || !hf->ReadInt32(&disabled) ||
      !hf->ReadBool(&_displayFlag) || !hf->ReadVector(&_displayColor) ||
      !hf->ReadInt32(&_settingC) || !hf->ReadVector(&_vectorD) || !hf->ReadInt32(&_settingE) ||
      !hf->ReadMatrix(&_storedMatrix) || !hf->ReadBool(&deform)) {
    return false;
  }
  _disabled = disabled;
  if (deform && !ReadCacheList(hf, _deformCache)) return false;
  if (!hf->ReadBool(&cache)) return false;
  if (cache && !ReadCacheList(hf, _cache)) return false;
  if (!hf->ReadUInt32(&flags)) return false;
  _frozenFlags = flags;
  const bool frozen = (flags & (FROZEN_POSITION | FROZEN_ROTATION | FROZEN_SCALE)) != 0;
  if (frozen) {
    if (!hf->ReadVector(&_frozenPos) || !hf->ReadVector(&_frozenScale) ||
        !hf->ReadVector(&_frozenRot) || !hf->ReadVector(&_absPos) || !hf->ReadVector(&_absScale) ||
        !hf->ReadVector(&_absRot)) {
      return false;
    }
  } else {
    _frozenInverse = Matrix64();
    _frozenMatrix = Matrix64();
    _absRot = _relRot;
    _absPos = _relPos;
    _absScale = _relScale;
  }
  if (level >= 8) {
    Int32 order = 0;
    if (!hf->ReadInt32(&order)) return false;
    // Only the seven orders exist; a file with another number keeps the object's order.
    if (level > 8 && order >= ROTATIONORDER_ZXY && order <= ROTATIONORDER_HPB)
      _order = ROTATIONORDER(order);
  } else {
    _order = ROTATIONORDER_HPB;
  }
  ClampAll();
  _rotMatrix = HPBToMatrix(_relRot, _order);
  if (frozen) {
    _frozenMatrix = HPBToMatrix(_frozenRot, _order);
    _frozenInverse = ~_frozenMatrix;
  }
  _dirty = true;
  return hf->SkipToEndChunk();
}

bool BaseObject::ReadTransformOld(HyperFile* hf, Int32 level) {
  if (hf->Before8()) {
    String name;
    if (!hf->ReadContainer(GetDataInstance(), false) || !hf->ReadString(&name)) return false;
    if (GetName().GetLength() == 0) SetName(name);
  }
  Matrix64 legacyA, legacyB;
  Int32 disabled = 0;
  if (!hf->ReadVector(&_relPos) || !hf->ReadVector(&_relScale) || !hf->ReadVector(&_relRot) ||
      !hf->ReadMatrix(&legacyA) || !hf->ReadMatrix(&legacyB) || !hf->ReadInt32(&_displayA) ||
      !hf->ReadInt32(&_displayB) || !hf->ReadInt32(&disabled) || !hf->ReadBool(&_displayFlag) ||
      !hf->ReadBool(nullptr)) {
    return false;
  }
  _disabled = disabled;
  // The legacy matrices only tell the signs of the scale.
  if (legacyA.v1.x < -0.9) _relScale.x = -_relScale.x;
  if (legacyA.v2.y < -0.9) _relScale.y = -_relScale.y;
  if (legacyA.v3.z < -0.9) _relScale.z = -_relScale.z;
  if (level >= 1 && !hf->ReadVector(&_displayColor)) return false;
  if (level >= 2 && !hf->ReadInt32(&_settingC)) return false;
  if (level >= 3 && (!hf->ReadVector(&_vectorD) || !hf->ReadInt32(&_settingE))) return false;
  if (level >= 4 && !hf->ReadMatrix(&_storedMatrix)) return false;
  if (level >= 5) {
    bool deform = false, cache = false;
    if (!hf->ReadBool(&deform) || (deform && !ReadCacheList(hf, _deformCache)) ||
        !hf->ReadBool(&cache) || (cache && !ReadCacheList(hf, _cache))) {
      return false;
    }
  }
  _order = ROTATIONORDER_HPB;
  if (level >= 6) {
    UInt32 flags = 0;
    if (!hf->ReadUInt32(&flags)) return false;
    _frozenFlags = flags;
    if ((flags & (FROZEN_POSITION | FROZEN_ROTATION | FROZEN_SCALE)) != 0 &&
        (!hf->ReadVector(&_frozenPos) || !hf->ReadVector(&_frozenScale) ||
         !hf->ReadVector(&_frozenRot))) {
      return false;
    }
  }
  ClampAll();
  _rotMatrix = HPBToMatrix(_relRot, _order);
  if (_frozenFlags != 0) {
    _frozenMatrix = HPBToMatrix(_frozenRot, _order);
    _frozenInverse = ~_frozenMatrix;
  } else {
    _frozenMatrix = Matrix64();
    _frozenInverse = Matrix64();
  }
  UpdateAbsPos();
  UpdateAbsScale();
  UpdateAbsRot();
  ClampAll();
  _dirty = true;
  return hf->SkipToEndChunk();
}

bool BaseObject::ReadChildren(HyperFile* hf) {
  if (GetChildren() == nullptr) {
    RootObject* list = AllocAlienRootObject();
    if (list == nullptr) return Fail(hf, FILEERROR_OUTOFMEMORY);
    SetChildren(list);
  }
  return GetChildren()->ReadObject(hf, false);
}

bool BaseObject::ReadTags(HyperFile* hf, Int32) {
  RootTag* list = MakeTagList();
  if (list == nullptr) return Fail(hf, FILEERROR_OUTOFMEMORY);
  return list->ReadObject(hf, false);
}

bool BaseObject::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (BaseList4D::HandleSubChunk(hf, id, level)) return true;
  switch (id) {
    case CHUNK_PLUGINDATA: {
      Int32 type = 0;
      String name;
      if (!hf->ReadInt32(&type) || !hf->ReadInt32(nullptr) || !hf->ReadString(&name)) return false;
      SetID(type);
      _pluginType = type;
      if (GetName().GetLength() == 0) SetName(name);
      SetNodeData(nullptr);
      FreeRawData();
      bool known = false;
      NodeData* data = AllocAlienObjectData(type, known, this);
      if (data == nullptr && known) return Fail(hf, FILEERROR_OUTOFMEMORY);
      if (data != nullptr) {
        data->SetNode(this);
        SetNodeData(data);
        if (!InitDataKeepingContainer(data)) return Fail(hf, FILEERROR_OUTOFMEMORY);
        if (known) {
          // Light data of early files is read as level 5; data kept as bytes keeps the
          // level it was stored with.
          const Int32 l =
              level < 5 && type == TYPE_LIGHTOBJECT && !data->ReadsToChunkEnd() ? 5 : level;
          data->Read(hf, CHUNK_PLUGINDATA, l);
          if (hf->GetError() != FILEERROR_NONE) return false;
          if (data->ReadsToChunkEnd()) return true;
        }
        return hf->SkipToEndChunk();
      }
      if (hf->Before12()) return hf->SkipToEndChunk();
      void* bytes = nullptr;
      Int64 size = 0;
      if (!hf->ReadUnknownChunk(&bytes, &size, false)) return false;
      SetRawData(bytes, size, level);
      return true;
    }
    case TYPE_LIGHTOBJECT:
      if (GetType() != TYPE_LIGHTOBJECT || GetNodeData() == nullptr) break;
      GetNodeData()->Read(hf, id, level);
      if (hf->GetError() != FILEERROR_NONE) return false;
      return GetNodeData()->ReadsToChunkEnd() || hf->SkipToEndChunk();
    case CHUNK_NODELIST:
      return ReadChildren(hf);
    case CHUNK_OBJECT_TAGS:
      return ReadTags(hf, level);
    case CHUNK_OBJECT_TRANSFORM:
      return hf->Before12() ? ReadTransformOld(hf, level) : ReadTransform(hf, level);
    default:
      break;
  }
  NodeData* data = GetNodeData();
  if (data != nullptr && data->GetDiskType() == TYPE_POLYGONOBJECTDATA_DISK) {
    if (GetType() == TYPE_POLYGONOBJECT) return data->Read(hf, id, level);
    if (GetType() == TYPE_JOINTOBJECT) return false;
  }
  return false;
}

// ---- tags ----

RootTag* BaseObject::MakeTagList() {
  if (_tags == nullptr) _tags = NewObj<RootTag>(this);
  return _tags;
}

BaseTag* BaseObject::GetFirstTag() const { return _tags != nullptr ? _tags->GetFirst() : nullptr; }

BaseTag* BaseObject::GetTag(Int32 type, Int32 nr) const {
  return _tags != nullptr ? _tags->GetTag(type, nr) : nullptr;
}

void BaseObject::InsertTag(BaseTag* tag, BaseTag* pred) {
  if (tag == nullptr) return;
  RootTag* list = MakeTagList();
  // Without a list (out of memory) the tag stays where it is: in no list, the caller's.
  if (list == nullptr) return;
  const Int32 type = tag->GetType();
  if ((tag->GetInfo() & TAGINFO_MULTIPLE) != 0) {
    list->InsertAfter(tag, pred);
  } else if (pred != nullptr && pred->GetType() == type) {
    pred->Remove();
    BaseTag::Free(pred);
    list->Insert(tag);
  } else {
    for (BaseTag* t = list->GetFirst(); t != nullptr;) {
      BaseTag* next = t->GetNext();
      if (t->GetType() == type && t != pred) {
        t->Remove();
        BaseTag::Free(t);
      }
      t = next;
    }
    list->InsertAfter(tag, pred);
  }
  tag->SetObject(this);
}

BaseTag* BaseObject::MakeTag(Int32 type, BaseTag* pred) {
  BaseTag* tag = BaseTag::Alloc(type);
  if (tag == nullptr) return nullptr;
  if (MakeTagList() == nullptr) {
    BaseTag::Free(tag);
    return nullptr;
  }
  InsertTag(tag, pred);
  tag->SetDocument(GetDocument());
  if (type == TAG_TEXTURE) {
    TextureTag* tex = static_cast<TextureTag*>(tag);
    BaseContainer* bc = tex->GetDataInstance();
    switch (GetType()) {
      case 5121:
      case 5122:
        bc->SetInt32(TextureTag::PROJECTION, 4);
        bc->SetBool(TextureTag::SIDE, false);
        break;
      case 5105:
        tex->SetScale(Vector64(500, 500, 500));
        break;
      case 5104:
        bc->SetInt32(TextureTag::PROJECTION, 2);
        tex->SetPos(Vector64());
        tex->SetRot(Vector64(0, -1.5707963267948966, 0));
        break;
      default:
        tex->SetPos(Vector64());
        tex->SetRot(Vector64());
        break;
    }
  }
  return tag;
}

// ---- RootObject ----

RootObject* RootObject::Alloc() { return NewObj<RootObject>(); }

void RootObject::Free(RootObject*& list) { DeleteObj(list); }

BaseObject* RootObject::AllocObject(Int32 type) {
  if (type == TYPE_SPLINEOBJECT_OLD) type = TYPE_SPLINEOBJECT;
  return BaseObject::Alloc(type);
}

bool RootObject::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (RootList2D::HandleSubChunk(hf, id, level)) return true;
  if (id == CHUNK_GELISTNODE) return false;
  if (id == CHUNK_OBJECTLIST) return ReadChunk(hf, true, false);
  BaseObject* obj = AllocObject(id);
  if (obj == nullptr) return Fail(hf, FILEERROR_OUTOFMEMORY);
  if (!AppendRead(hf, obj)) return Fail(hf, FILEERROR_READ);
  return true;
}

bool RootObject::Write(HyperFile* hf) { return RootList2D::Write(hf) && WriteMembers(hf); }

}  // namespace lumora
