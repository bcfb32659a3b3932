// BaseObject and RootObject (see lum_baseobject.h): life, node data, parameters, copies and
// tags. The transformation is in lum_baseobject_transform.cpp, the file form in
// lum_baseobject_file.cpp, the checksum's CRC-32 in lum_baseobject_crc32.cpp.
#include "objects/lum_baseobject.h"

#include <cmath>
#include <cstring>

#include "lum_debug.h"
#include "lum_memory.h"
#include "objects/lum_baseobject_private.h"
#include "objects/lum_polygonobject.h"
#include "objects/lum_splineobject.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

RootObject* NewRootObject() { return AllocAlienRootObject(); }

}  // namespace

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
  if (type == TYPE_SPLINEOBJECT || type == TYPE_SPLINEOBJECT_OLD) {
    // The name a spline read without one gets: a new one starts with it, so that its first
    // write is the one it writes after being read back.
    const String name("Spline");
    obj->SetName(name);
    if (obj->GetName().GetLength() != name.GetLength()) {
      DeleteObj(obj);
      return nullptr;
    }
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
    case 5126: case 1011146: case 1011194: case 1011196: case 1019362:
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
    case TYPE_LIGHTOBJECT:
    case TYPE_CAMERAOBJECT:
      return _LightsAllocObjectData(type, known);
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
      d->SetRawData(bytes, _rawSize, _rawLevel, _rawLayout);
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

namespace {

// A clone of every child object of src under dest, each with its children. dest is a clone
// Alloc made, and Alloc gives every object its list of children, so the insertion holds.
bool CopyChildObjects(GeListNode* src, GeListNode* dest, COPYFLAGS flags, AliasTrans* trans) {
  for (BaseObject* c = static_cast<BaseObject*>(src)->GetDown(); c != nullptr; c = c->GetNext()) {
    BaseObject* cc = c->GetCloneObject(true, flags, trans);
    if (cc == nullptr) return false;
    _InsertCloneUnderLast(cc, dest);
  }
  return true;
}

}  // namespace

BaseObject* BaseObject::GetCloneObject(bool children, COPYFLAGS flags, AliasTrans* trans) {
  BaseObject* clone = Alloc(GetType());
  if (clone == nullptr) return nullptr;
  if (clone->_tags != nullptr) clone->_tags->FlushAll();
  if (!CopyTo(clone, flags, trans)) {
    Free(clone);
    return nullptr;
  }
  if (children && !_CopyBranch(&CopyChildObjects, this, clone, flags, trans)) Free(clone);
  return clone;
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

bool BaseObject::InsertTag(BaseTag* tag, BaseTag* pred) {
  if (tag == nullptr) return false;
  RootTag* list = MakeTagList();
  // Without a list (out of memory) the tag stays where it is: in no list, the caller's.
  if (list == nullptr || !list->Accepts(tag) || pred == tag) return false;
  if (pred != nullptr && pred->GetListHead() != list) {
    _GeDebugBreak(__LINE__, kFile);
    return false;
  }
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
  return true;
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
