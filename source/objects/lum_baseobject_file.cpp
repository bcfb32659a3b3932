// The file form of BaseObject: writing its node data, tags, transform and children, and reading
// them back through HandleSubChunk (see lum_baseobject.h).
#include "lum_memory.h"
#include "objects/lum_baseobject.h"
#include "objects/lum_baseobject_private.h"
#include "objects/lum_polygonobject.h"
#include "objects/lum_splineobject.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

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
  if (_rawData != nullptr) return hf->WriteKeptChunk(_rawData, _rawSize, false, _rawLayout);
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
      SetRawData(bytes, size, level, hf->GetRawLayout());
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
  // Chunks of a polygon object's geometry go to its data (a joint with that data reads none).
  NodeData* data = GetNodeData();
  if (data != nullptr && data->GetDiskType() == TYPE_POLYGONOBJECTDATA_DISK &&
      GetType() == TYPE_POLYGONOBJECT)
    return data->Read(hf, id, level);
  return false;
}

}  // namespace lumora
