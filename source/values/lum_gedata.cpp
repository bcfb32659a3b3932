// GeData and ByteArray (see lum_gedata.h): a value's kind and payload, copies, equality,
// getters and setters. The file form is in lum_gedata_file.cpp, the custom data types in
// lum_gedata_custom.cpp.
#include "values/lum_gedata.h"

#include <cstring>

#include "lum_debug.h"
#include "lum_memory.h"
#include "stream/lum_hyperfile.h"
#include "values/datatypes/lum_gradient.h"
#include "values/datatypes/lum_inexclude.h"
#include "values/datatypes/lum_splinedata.h"
#include "values/lum_basecontainer.h"
#include "values/lum_descid.h"
#include "values/lum_gedata_private.h"
#include "values/lum_gemarker.h"

namespace lumora {

using namespace gedata_internal;

namespace {

constexpr const Char* kFile = "source/lum_gedata";

// The constant values getters hand out for a missing or mismatched value. Built by the static
// initialiser of this file before main runs and destroyed at exit; none of them allocates.
const ByteArray g_emptyBytes;
const Vector64 g_zeroVector;
const String g_emptyString;
const Matrix64 g_identityMatrix;
const BaseTime g_defaultTime;
const Filename g_emptyFilename;

Int32 MapAlias(Int32 type) {
  switch (type) {
    case VALUETYPE_ALIAS_VECTOR:
      return VALUETYPE_VECTOR;
    case VALUETYPE_ALIAS_STRING1:
    case VALUETYPE_ALIAS_STRING2:
      return VALUETYPE_STRING;
    case VALUETYPE_ALIAS_INT32:
      return VALUETYPE_INT32;
    default:
      return type;
  }
}

// Toward zero. A double outside the Int32 range has no Int32 value (converting it would be
// undefined): it saturates, and NaN gives 0.
Int32 TruncateToInt32(Float64 f) {
  if (!(f == f)) return 0;
  if (f >= 2147483647.0) return 2147483647;
  if (f <= -2147483648.0) return -2147483647 - 1;
  return static_cast<Int32>(f);
}

}  // namespace

namespace gedata_internal {

// A copy of n bytes (null for none); ok is false when the block cannot be allocated.
void* CopyBytes(const void* src, Int64 n, bool* ok) {
  *ok = true;
  if (n <= 0 || src == nullptr) return nullptr;
  void* block = MemAllocNC(n);
  if (block == nullptr) {
    *ok = false;
    return nullptr;
  }
  std::memcpy(block, src, static_cast<size_t>(n));
  return block;
}

bool SameBytes(const void* a, const void* b, Int64 n) {
  if (n <= 0 || a == b) return true;
  if (a == nullptr || b == nullptr) return false;
  return std::memcmp(a, b, static_cast<size_t>(n)) == 0;
}

}  // namespace gedata_internal

// ---- ByteArray ----

ByteArray::~ByteArray() { Free(); }

bool ByteArray::Init(const void* src, Int64 len) {
  void* block = nullptr;
  if (len > 0) {
    // A null source gives zeroed bytes rather than whatever the block held.
    block = src != nullptr ? MemAllocNC(len) : MemAlloc(len);
    if (block == nullptr) {
      Free();
      return false;
    }
    if (src != nullptr) std::memcpy(block, src, static_cast<size_t>(len));
  }
  // The old buffer goes only now: src may point into it.
  Free();
  data = block;
  length = len > 0 ? len : 0;
  return true;
}

void ByteArray::Free() {
  MemFree(data);
  length = 0;
}

// ---- GeData: construction ----

GeData::GeData(const GeData& src) { src.CopyData(this, nullptr); }

GeData::GeData(void* pointer, VOIDVALUETYPE) : _type(VALUETYPE_VOID) { _payload.pointer = pointer; }

GeData::GeData(Int32 value) : _type(VALUETYPE_INT32) {
  _payload.int64 = 0;
  _payload.int32 = value;
}

GeData::GeData(Float64 value) : _type(VALUETYPE_FLOAT) { _payload.float64 = value; }

GeData::GeData(Int64 value) : _type(VALUETYPE_INT64) { _payload.int64 = value; }

GeData::GeData(const Vector64& value) {
  Vector64* v = NewObj<Vector64>(value);
  if (v == nullptr) return;
  _type = VALUETYPE_VECTOR;
  _payload.pointer = v;
}

GeData::GeData(const BaseTime& value) {
  BaseTime* t = NewObj<BaseTime>(value);
  if (t == nullptr) return;
  _type = VALUETYPE_TIME;
  _payload.pointer = t;
}

GeData::GeData(const Matrix64& value) {
  Matrix64* m = NewObj<Matrix64>(value);
  if (m == nullptr) return;
  _type = VALUETYPE_MATRIX;
  _payload.pointer = m;
}

GeData::GeData(const String& value) {
  String* s = NewObj<String>();
  if (s == nullptr) return;
  *s = value;
  if (s->GetLength() != value.GetLength()) {
    DeleteObj(s);
    return;
  }
  _type = VALUETYPE_STRING;
  _payload.pointer = s;
}

GeData::GeData(const Filename& value) {
  Filename* f = NewObj<Filename>(value);
  if (f == nullptr) return;
  if (*f != value) {  // the path could not be copied
    DeleteObj(f);
    return;
  }
  _type = VALUETYPE_FILENAME;
  _payload.pointer = f;
}

GeData::GeData(const ByteArray& value) {
  ByteArray* b = NewObj<ByteArray>();
  if (b == nullptr) return;
  if (!b->Init(value.data, value.length)) {
    DeleteObj(b);
    return;
  }
  _type = VALUETYPE_BYTEARRAY;
  _payload.pointer = b;
}

GeData::GeData(const GeMarker& value) {
  GeMarker* m = NewObj<GeMarker>(value);
  if (m == nullptr) return;
  _type = VALUETYPE_MARKER;
  _payload.pointer = m;
}

GeData::GeData(const BaseContainer& value) {
  BaseContainer* bc = value.GetClone(COPYFLAGS_NONE, nullptr);
  if (bc == nullptr) return;
  _type = VALUETYPE_CONTAINER;
  _payload.pointer = bc;
}

GeData::GeData(const BaseLink& value) {
  BaseLink* link = _GeLinkClone(&value, nullptr);
  if (link == nullptr) return;
  _type = VALUETYPE_LINK;
  _payload.pointer = link;
}

GeData::GeData(Int32 type, DEFAULTVALUETYPE) { InitType(type); }

GeData::GeData(Int32 type, const CustomDataType& src) {
  const CustomEntry* entry = type >= VALUETYPE_CUSTOMFIRST ? FindCustom(type) : nullptr;
  if (entry == nullptr) {
    // Only custom data types copy from an object; an unknown one stays nil as in InitType.
    if (type < VALUETYPE_CUSTOMFIRST) _GeDebugBreak(__LINE__, kFile);
    return;
  }
  // A type kept as raw bytes is made only from the bytes of a stored value (see InitType).
  if (entry->kind == CustomKind::RAW && As<RawCustomData>(&src)->bytes == nullptr) return;
  CustomHolder* holder = NewCustomHolder(*entry);
  if (holder == nullptr) {
    _GeDebugBreak(__LINE__, kFile);
    return;
  }
  _type = type;
  _payload.pointer = holder;
  if (!CustomCopy(*entry, &src, holder->object, nullptr)) Free();
}

// ---- GeData: kind and payload ----

bool GeData::InitType(Int32 type) {
  Free();
  type = MapAlias(type);
  void* payload = nullptr;
  switch (type) {
    case VALUETYPE_NIL:
      return true;
    case VALUETYPE_VOID:
    case VALUETYPE_INT32:
    case VALUETYPE_FLOAT:
    case VALUETYPE_INT64:
      _type = type;
      _payload.int64 = 0;  // null pointer, 0, 0.0 alike
      return true;
    case VALUETYPE_TIME:
      payload = NewObj<BaseTime>();
      break;
    case VALUETYPE_VECTOR:
      payload = NewObj<Vector64>();
      break;
    case VALUETYPE_MATRIX:
      payload = NewObj<Matrix64>();
      break;
    case VALUETYPE_BYTEARRAY:
      payload = NewObj<ByteArray>();
      break;
    case VALUETYPE_STRING:
      payload = NewObj<String>();
      break;
    case VALUETYPE_FILENAME:
      payload = NewObj<Filename>();
      break;
    case VALUETYPE_CONTAINER:
      payload = BaseContainer::Alloc();
      break;
    case VALUETYPE_MARKER:
      payload = NewObj<GeMarker>();
      break;
    case VALUETYPE_LINK:
      payload = _GeLinkClone(nullptr, nullptr);
      break;
    case VALUETYPE_UNKNOWNCUSTOM:
      _type = type;
      _payload.pointer = nullptr;
      return true;
    default: {
      if (type < VALUETYPE_CUSTOMFIRST) {
        // No kind: kept as an id without payload.
        _GeDebugBreak(__LINE__, kFile);
        _type = type;
        _payload.pointer = nullptr;
        return true;
      }
      const CustomEntry* entry = FindCustom(type);
      // A type kept as raw bytes has no empty form: a chunk without contents is nothing its
      // readers accept, so no such value is made without the bytes of one.
      if (entry == nullptr || entry->kind == CustomKind::RAW) return false;
      payload = NewCustomHolder(*entry);
      break;
    }
  }
  if (payload == nullptr) {
    _GeDebugBreak(__LINE__, kFile);
    return false;
  }
  _type = type;
  _payload.pointer = payload;
  return true;
}

namespace {

template <typename T>
void DropPayload(void* payload) {
  T* obj = static_cast<T*>(payload);
  DeleteObj(obj);
}

}  // namespace

void GeData::Free() {
  void* payload = _payload.pointer;
  switch (_type) {
    case VALUETYPE_TIME:
      DropPayload<BaseTime>(payload);
      break;
    case VALUETYPE_VECTOR:
      DropPayload<Vector64>(payload);
      break;
    case VALUETYPE_MATRIX:
      DropPayload<Matrix64>(payload);
      break;
    case VALUETYPE_BYTEARRAY:
      DropPayload<ByteArray>(payload);
      break;
    case VALUETYPE_STRING:
      DropPayload<String>(payload);
      break;
    case VALUETYPE_FILENAME:
      DropPayload<Filename>(payload);
      break;
    case VALUETYPE_CONTAINER: {
      BaseContainer* bc = static_cast<BaseContainer*>(payload);
      BaseContainer::Free(bc);
      break;
    }
    case VALUETYPE_MARKER:
      DropPayload<GeMarker>(payload);
      break;
    case VALUETYPE_LINK: {
      BaseLink* link = static_cast<BaseLink*>(payload);
      _GeLinkFree(link);
      break;
    }
    case VALUETYPE_UNKNOWNCUSTOM: {
      UnknownCustomData* rec = static_cast<UnknownCustomData*>(payload);
      if (rec != nullptr) MemFree(rec->bytes);
      DeleteObj(rec);
      break;
    }
    default:
      if (_type >= VALUETYPE_CUSTOMFIRST) {
        // A custom kind always has its class and its holder; the object may be missing when
        // a copy could not make it.
        CustomHolder* holder = static_cast<CustomHolder*>(payload);
        if (holder->object != nullptr) CustomFree(*FindCustom(_type), holder->object);
        DeleteMem(holder);
      }
      break;
  }
  _type = VALUETYPE_NIL;
  _payload.int64 = 0;
}

// ---- GeData: copy ----

void GeData::Adopt(GeData& from) {
  _type = from._type;
  _payload = from._payload;
  from._type = VALUETYPE_NIL;
  from._payload.int64 = 0;
}

void GeData::CopyData(GeData* dest, AliasTrans* trans) const {
  if (dest == nullptr || dest == this) return;
  if (dest->_type == _type && dest->AssignInPlaceFrom(*this, trans)) return;
  dest->Free();
  if (!dest->CopyPayloadFrom(*this, trans)) dest->Free();
}

GeData& GeData::operator=(const GeData& src) {
  src.CopyData(this, nullptr);
  return *this;
}

GeData& GeData::operator=(GeData&& src) noexcept {
  if (this != &src) {
    Free();
    Adopt(src);
  }
  return *this;
}

// Same kind as src: assigns into the payload this value already has. False when the kind has
// no in-place rule (the caller then rebuilds the value) or when the assignment failed (this
// value is then nil and the rebuild fails again the same way or succeeds with fresh memory).
bool GeData::AssignInPlaceFrom(const GeData& src, AliasTrans* trans) {
  void* to = _payload.pointer;
  const void* from = src._payload.pointer;
  switch (_type) {
    case VALUETYPE_VOID:
    case VALUETYPE_FLOAT:
    case VALUETYPE_INT64:
      _payload.int64 = src._payload.int64;
      return true;
    case VALUETYPE_INT32:
      _payload.int32 = src._payload.int32;
      return true;
    case VALUETYPE_TIME:
      *static_cast<BaseTime*>(to) = *static_cast<const BaseTime*>(from);
      return true;
    case VALUETYPE_MARKER:
      *static_cast<GeMarker*>(to) = *static_cast<const GeMarker*>(from);
      return true;
    case VALUETYPE_VECTOR:
      *static_cast<Vector64*>(to) = *static_cast<const Vector64*>(from);
      return true;
    case VALUETYPE_MATRIX:
      *static_cast<Matrix64*>(to) = *static_cast<const Matrix64*>(from);
      return true;
    case VALUETYPE_BYTEARRAY: {
      const ByteArray* b = static_cast<const ByteArray*>(from);
      if (static_cast<ByteArray*>(to)->Init(b->data, b->length)) return true;
      Free();
      return true;
    }
    case VALUETYPE_STRING: {
      String* s = static_cast<String*>(to);
      const String* v = static_cast<const String*>(from);
      *s = *v;
      if (s->GetLength() != v->GetLength()) Free();
      return true;
    }
    case VALUETYPE_FILENAME: {
      Filename* f = static_cast<Filename*>(to);
      const Filename* v = static_cast<const Filename*>(from);
      *f = *v;
      if (*f != *v) Free();
      return true;
    }
    default:
      if (_type >= VALUETYPE_CUSTOMFIRST) {
        const CustomHolder* sh = static_cast<const CustomHolder*>(from);
        CustomHolder* dh = static_cast<CustomHolder*>(to);
        if (!CustomCopy(*FindCustom(_type), sh->object, dh->object, trans)) Free();
        return true;
      }
      // Containers and unknown custom values are rebuilt; links and payload-less ids have no
      // copy rule.
      return false;
  }
}

// This value is nil: builds a fresh copy of src's payload. False when src has no copy rule or
// memory runs out.
bool GeData::CopyPayloadFrom(const GeData& src, AliasTrans* trans) {
  const void* from = src._payload.pointer;
  void* payload = nullptr;
  switch (src._type) {
    case VALUETYPE_VOID:
    case VALUETYPE_INT32:
    case VALUETYPE_FLOAT:
    case VALUETYPE_INT64:
      _type = src._type;
      _payload = src._payload;
      return true;
    case VALUETYPE_TIME:
      payload = NewObj<BaseTime>(*static_cast<const BaseTime*>(from));
      break;
    case VALUETYPE_MARKER:
      payload = NewObj<GeMarker>(*static_cast<const GeMarker*>(from));
      break;
    case VALUETYPE_VECTOR:
      payload = NewObj<Vector64>(*static_cast<const Vector64*>(from));
      break;
    case VALUETYPE_MATRIX:
      payload = NewObj<Matrix64>(*static_cast<const Matrix64*>(from));
      break;
    case VALUETYPE_BYTEARRAY:
    case VALUETYPE_STRING:
    case VALUETYPE_FILENAME: {
      // The typed constructors check that the copy is complete.
      GeData built;
      if (src._type == VALUETYPE_BYTEARRAY) {
        GeData made(*static_cast<const ByteArray*>(from));
        built.Adopt(made);
      } else if (src._type == VALUETYPE_STRING) {
        GeData made(*static_cast<const String*>(from));
        built.Adopt(made);
      } else {
        GeData made(*static_cast<const Filename*>(from));
        built.Adopt(made);
      }
      if (built._type == VALUETYPE_NIL) return false;
      Adopt(built);
      return true;
    }
    case VALUETYPE_CONTAINER:  // a container value always holds its container
      payload = static_cast<const BaseContainer*>(from)->GetClone(COPYFLAGS_NONE, trans);
      break;
    case VALUETYPE_LINK:
      // Through the translation, so that copied links point at the copied nodes.
      payload = _GeLinkClone(static_cast<const BaseLink*>(from), trans);
      break;
    case VALUETYPE_UNKNOWNCUSTOM: {
      const UnknownCustomData* s = static_cast<const UnknownCustomData*>(from);
      if (s == nullptr) {
        _type = VALUETYPE_UNKNOWNCUSTOM;
        _payload.pointer = nullptr;
        return true;
      }
      UnknownCustomData* rec = NewObjClear<UnknownCustomData>();
      if (rec == nullptr) return false;
      bool ok = false;
      rec->bytes = CopyBytes(s->bytes, s->size, &ok);
      if (!ok) {
        DeleteObj(rec);
        return false;
      }
      rec->originalType = s->originalType;
      rec->level = s->level;
      rec->layout = s->layout;
      rec->size = rec->bytes != nullptr ? s->size : 0;
      payload = rec;
      break;
    }
    default: {
      if (src._type < VALUETYPE_CUSTOMFIRST) return false;  // nil, payload-less ids
      const CustomEntry* entry = FindCustom(src._type);
      const CustomHolder* sh = static_cast<const CustomHolder*>(from);
      CustomHolder* holder = static_cast<CustomHolder*>(MemAlloc(sizeof(CustomHolder)));
      if (holder == nullptr) return false;
      holder->object = CustomAlloc(*entry);
      _type = src._type;  // from here on Free releases what was built
      _payload.pointer = holder;
      return holder->object != nullptr && CustomCopy(*entry, sh->object, holder->object, trans);
    }
  }
  if (payload == nullptr) return false;
  _type = src._type;
  _payload.pointer = payload;
  return true;
}

// ---- GeData: equality ----

bool GeData::operator==(const GeData& other) const {
  if (_type == VALUETYPE_NIL || other._type == VALUETYPE_NIL) return false;
  if (_type != other._type) {
    if (_type == VALUETYPE_INT32 && other._type == VALUETYPE_FLOAT) {
      return static_cast<Float64>(_payload.int32) == other._payload.float64;
    }
    if (_type == VALUETYPE_FLOAT && other._type == VALUETYPE_INT32) {
      return _payload.float64 == static_cast<Float64>(other._payload.int32);
    }
    return false;
  }
  const void* a = _payload.pointer;
  const void* b = other._payload.pointer;
  switch (_type) {
    case VALUETYPE_VOID:
    case VALUETYPE_INT64:
      return _payload.int64 == other._payload.int64;
    case VALUETYPE_INT32:
      return _payload.int32 == other._payload.int32;
    case VALUETYPE_FLOAT:
      return _payload.float64 == other._payload.float64;
    case VALUETYPE_TIME:
      return *static_cast<const BaseTime*>(a) == *static_cast<const BaseTime*>(b);
    case VALUETYPE_VECTOR:
      return *static_cast<const Vector64*>(a) == *static_cast<const Vector64*>(b);
    case VALUETYPE_MATRIX:
      return *static_cast<const Matrix64*>(a) == *static_cast<const Matrix64*>(b);
    case VALUETYPE_BYTEARRAY: {
      // Lengths and bytes: equal lengths alone would make different values equal.
      const ByteArray* x = static_cast<const ByteArray*>(a);
      const ByteArray* y = static_cast<const ByteArray*>(b);
      return x->length == y->length && SameBytes(x->data, y->data, x->length);
    }
    case VALUETYPE_STRING:
      return *static_cast<const String*>(a) == *static_cast<const String*>(b);
    case VALUETYPE_FILENAME:
      return *static_cast<const Filename*>(a) == *static_cast<const Filename*>(b);
    case VALUETYPE_CONTAINER:
      return IdenticalContainer(*static_cast<const BaseContainer*>(a),
                                *static_cast<const BaseContainer*>(b));
    case VALUETYPE_LINK:
      // The same node (two empty links are equal).
      return _GeLinkResolve(static_cast<const BaseLink*>(a)) ==
             _GeLinkResolve(static_cast<const BaseLink*>(b));
    case VALUETYPE_MARKER:
    case VALUETYPE_UNKNOWNCUSTOM:
      return false;
    default: {
      if (_type < VALUETYPE_CUSTOMFIRST) return false;
      const CustomHolder* x = static_cast<const CustomHolder*>(a);
      const CustomHolder* y = static_cast<const CustomHolder*>(b);
      return CustomEqual(*FindCustom(_type), x->object, y->object);
    }
  }
}

// ---- GeData: getters ----

Int32 GeData::GetInt32() const {
  switch (_type) {
    case VALUETYPE_NIL:
      return 0;
    case VALUETYPE_INT32:
      return _payload.int32;
    case VALUETYPE_FLOAT:
      return TruncateToInt32(_payload.float64);
    default:
      _GeDebugBreak(__LINE__, kFile);
      return 0;
  }
}

Float64 GeData::GetFloat() const {
  switch (_type) {
    case VALUETYPE_NIL:
      return 0.0;
    case VALUETYPE_FLOAT:
      return _payload.float64;
    case VALUETYPE_INT32:
      return static_cast<Float64>(_payload.int32);
    default:
      _GeDebugBreak(__LINE__, kFile);
      return 0.0;
  }
}

bool GeData::GetBool() const {
  switch (_type) {
    case VALUETYPE_NIL:
      return false;
    case VALUETYPE_INT32:
      return _payload.int32 != 0;
    default:
      _GeDebugBreak(__LINE__, kFile);
      return false;
  }
}

Int64 GeData::GetInt64() const {
  switch (_type) {
    case VALUETYPE_NIL:
      return 0;
    case VALUETYPE_INT64:
      return _payload.int64;
    default:
      _GeDebugBreak(__LINE__, kFile);
      return 0;
  }
}

void* GeData::GetVoid() const {
  switch (_type) {
    case VALUETYPE_NIL:
      return nullptr;
    case VALUETYPE_VOID:
      return _payload.pointer;
    default:
      _GeDebugBreak(__LINE__, kFile);
      return nullptr;
  }
}

const Vector64& GeData::GetVector() const {
  if (_type == VALUETYPE_VECTOR) return *static_cast<const Vector64*>(_payload.pointer);
  if (_type != VALUETYPE_NIL) _GeDebugBreak(__LINE__, kFile);
  return g_zeroVector;
}

const Matrix64& GeData::GetMatrix() const {
  if (_type == VALUETYPE_MATRIX) return *static_cast<const Matrix64*>(_payload.pointer);
  if (_type != VALUETYPE_NIL) _GeDebugBreak(__LINE__, kFile);
  return g_identityMatrix;
}

const BaseTime& GeData::GetTime() const {
  if (_type == VALUETYPE_TIME) return *static_cast<const BaseTime*>(_payload.pointer);
  if (_type != VALUETYPE_NIL) _GeDebugBreak(__LINE__, kFile);
  return g_defaultTime;
}

const String& GeData::GetString() const {
  if (_type == VALUETYPE_STRING) return *static_cast<const String*>(_payload.pointer);
  if (_type != VALUETYPE_NIL) _GeDebugBreak(__LINE__, kFile);
  return g_emptyString;
}

const Filename& GeData::GetFilename() const {
  if (_type == VALUETYPE_FILENAME) return *static_cast<const Filename*>(_payload.pointer);
  if (_type != VALUETYPE_NIL) _GeDebugBreak(__LINE__, kFile);
  return g_emptyFilename;
}

const ByteArray& GeData::GetByteArray() const {
  if (_type == VALUETYPE_BYTEARRAY) return *static_cast<const ByteArray*>(_payload.pointer);
  if (_type != VALUETYPE_NIL) _GeDebugBreak(__LINE__, kFile);
  return g_emptyBytes;
}

const GeMarker* GeData::GetMarker() const {
  return _type == VALUETYPE_MARKER ? static_cast<const GeMarker*>(_payload.pointer) : nullptr;
}

BaseContainer* GeData::GetContainer() const {
  if (_type == VALUETYPE_CONTAINER) return static_cast<BaseContainer*>(_payload.pointer);
  if (_type != VALUETYPE_NIL) _GeDebugBreak(__LINE__, kFile);
  return nullptr;
}

BaseLink* GeData::GetBaseLink() const {
  return _type == VALUETYPE_LINK ? static_cast<BaseLink*>(_payload.pointer) : nullptr;
}

BaseList2D* GeData::GetLink() const {
  return _type == VALUETYPE_LINK ? _GeLinkResolve(static_cast<BaseLink*>(_payload.pointer))
                                 : nullptr;
}

CustomDataType* GeData::GetCustomDataType(Int32 type) const {
  if (type != _type || _type == VALUETYPE_NIL) return nullptr;
  switch (_type) {
    case VALUETYPE_INT32:
    case VALUETYPE_FLOAT:
    case VALUETYPE_INT64:
      return reinterpret_cast<CustomDataType*>(const_cast<Payload*>(&_payload));
    default:
      if (_type >= VALUETYPE_CUSTOMFIRST) {
        return static_cast<const CustomHolder*>(_payload.pointer)->object;
      }
      return static_cast<CustomDataType*>(_payload.pointer);
  }
}

const UnknownCustomData* GeData::GetUnknownCustomData() const {
  if (_type != VALUETYPE_UNKNOWNCUSTOM) return nullptr;
  return static_cast<const UnknownCustomData*>(_payload.pointer);
}

// ---- GeData: setters ----

void GeData::SetInt32(Int32 value) {
  if (_type != VALUETYPE_INT32) {
    Free();
    _type = VALUETYPE_INT32;
    _payload.int64 = 0;
  }
  _payload.int32 = value;
}

void GeData::SetBaseLink(const BaseLink& link) {
  if (_type == VALUETYPE_LINK && _payload.pointer != nullptr) {
    BaseLink* own = static_cast<BaseLink*>(_payload.pointer);
    if (own == &link || _GeLinkAssign(link, own)) return;
  }
  BaseLink* clone = _GeLinkClone(&link, nullptr);
  Free();
  if (clone == nullptr) return;
  _type = VALUETYPE_LINK;
  _payload.pointer = clone;
}

}  // namespace lumora
