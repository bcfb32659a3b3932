// BaseObject: the scene object. A node of the object hierarchy with a transformation (relative
// position, rotation and scale over an optional frozen transformation), a list of tags, optional
// node data that gives it its kind, a few display settings and, when a file supplied them, two
// cache lists. RootObject: the list head of one level of the hierarchy.
//
// Transform state. The relative values (Pr, Rr, Sr) and the frozen ones (Pf, Rf, Sf) are set by
// the caller; the absolute ones (Pa, Ra, Sa), the rotation matrix Mr, the frozen matrix Mf and
// its inverse are derived and kept consistent by every setter:
//   Mr = HPBToMatrix(Rr), Mf = HPBToMatrix(Rf), inverse = ~Mf;
//   Pa = Mf * Pr + Pf (any frozen flag) else Pr;  Sa = Sr (x) Sf (flag 8) else Sr;
//   Ra = GetOptimalAngle(Rr, MatrixToHPB(Mf * Mr), order) (flag 4) else Rr;
// every component within [-1e50, +1e50]. The local matrix is cached until the next change.
//
// A transform lock tag (type 5629) on the object makes every transform setter a no-op.
//
// The tags hang in a RootTag the object owns (made with the first tag). doc/scene-format.md has
// the chunks.
#ifndef LUM_BASEOBJECT_H
#define LUM_BASEOBJECT_H

#include "lum_math.h"
#include "objects/lum_baseobject_rotation.h"
#include "objects/lum_basetag.h"
#include "objects/lum_roottag.h"
#include "scene/lum_baselist4d.h"
#include "scene/lum_nodedata.h"
#include "scene/lum_rootlist2d.h"

namespace lumora {

class RootObject;

// Object type ids.
constexpr Int32 TYPE_OBJECT = 5154;  // a plain object
constexpr Int32 TYPE_POLYGONOBJECT = 5100;
constexpr Int32 TYPE_SPLINEOBJECT = 5101;
constexpr Int32 TYPE_LIGHTOBJECT = 5102;
constexpr Int32 TYPE_CAMERAOBJECT = 5103;
constexpr Int32 TYPE_SPLINEOBJECT_OLD = 5137;
constexpr Int32 TYPE_POINTOBJECT = 5156;
constexpr Int32 TYPE_JOINTOBJECT = 1019362;
// The disk type of a polygon object's node data.
constexpr Int32 TYPE_POLYGONOBJECTDATA_DISK = 1001091;
// Tag types the object looks for.
constexpr Int32 TYPE_TAG_TRANSFORMLOCK = TAG_PROTECTION;

// Object parameters (GetDParameter / SetDParameter). The vector ones take a second level
// VECTOR_X, VECTOR_Y or VECTOR_Z for one component (VectorComponentID).
enum : Int32 {
  ID_BASEOBJECT_REL_POSITION = 903,
  ID_BASEOBJECT_REL_ROTATION = 904,
  ID_BASEOBJECT_REL_SCALE = 905,
  ID_BASEOBJECT_ENABLED = 906,
  ID_BASEOBJECT_COLOR = 908,
  ID_BASEOBJECT_GLOBAL_POSITION = 910,
  ID_BASEOBJECT_GLOBAL_ROTATION = 911,
  ID_BASEOBJECT_FROZEN_POSITION = 917,
  ID_BASEOBJECT_FROZEN_ROTATION = 918,
  ID_BASEOBJECT_FROZEN_SCALE = 919,
  ID_BASEOBJECT_ABS_POSITION = 925,
  ID_BASEOBJECT_ABS_ROTATION = 926,
  ID_BASEOBJECT_ABS_SCALE = 927,
  ID_BASEOBJECT_ROTATION_ORDER = 928,
  ID_BASEOBJECT_QUATERNION_ROTATION = 929,
};

// Chunks of an object.
constexpr Int32 CHUNK_OBJECT_TRANSFORM = 110052;
constexpr Int32 CHUNK_OBJECT_TAGS = 110108;
constexpr Int32 CHUNK_OBJECTLIST = 110063;
// The transform chunk's current level.
constexpr Int32 OBJECT_TRANSFORM_LEVEL = 10;
// Container entry of the geometry checksum.
constexpr Int32 OBJECT_CRC_ENTRY = 1020800;

// Frozen-state flags.
constexpr UInt32 FROZEN_POSITION = 2;  // Pf is not (0, 0, 0)
constexpr UInt32 FROZEN_ROTATION = 4;  // Mf is not the identity
constexpr UInt32 FROZEN_SCALE = 8;     // Sf is not (1, 1, 1)

// The standard reflected CRC-32 (polynomial 0xEDB88320). The register starts at 0xFFFFFFFF;
// GetCrc is its complement, the usual CRC-32 of the bytes fed.
class Crc32 {
 public:
  void Reset() { _state = 0xFFFFFFFFu; }
  void Update(const void* data, Int64 count);
  UInt32 GetRegister() const { return _state; }
  UInt32 GetCrc() const { return ~_state; }

 private:
  UInt32 _state = 0xFFFFFFFFu;
};

class BaseObject : public BaseList4D {
 public:
  // Type 5154; the child list comes from the application's AllocAlienRootObject (GetChildren
  // is null when that failed; Alloc refuses such an object).
  BaseObject();
  explicit BaseObject(Int32 type);
  // Frees the caches, the tags and the child list.
  ~BaseObject() override;

  // 5100: PolygonObject; 5101 and 5137: SplineObject; 5154 and 440000200: a plain object with
  // that disk type and no node data; 1001091 (a polygon object as files store it): a
  // PolygonObject without node data, which its plug-in data chunk brings; any other id: an
  // object of that type with the node data AllocObjectData gives for it (none for unknown ids).
  // Null when out of memory or when the data's initialisation fails.
  static BaseObject* Alloc(Int32 type);
  static void Free(BaseObject*& object);
  // New node data for the built-in object kinds; known false and null for other ids.
  static NodeData* AllocObjectData(Int32 type, bool& known);

  // ---- node ----

  // True for 0, 5155, the object's type and its instance type.
  bool IsInstanceOf(Int32 id) const override;
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  Int32 GetInstanceType() const override { return TYPE_ANYOBJECT; }
  bool Write(HyperFile* hf) override;
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;
  bool GetDParameter(const DescID& id, GeData& out) override;
  bool SetDParameter(const DescID& id, const GeData& value) override;
  // GetCloneObject with the children unless flags has COPYFLAGS_NO_CHILDREN.
  GeListNode* GetClone(COPYFLAGS flags, AliasTrans* trans) override;
  // The node data's disk type when data is attached, else the stored one.
  Int32 GetDiskType() const override;
  // Asks the node data; false without.
  virtual bool Execute();

  // A new object of this type with this one copied into it (tags replaced by copies unless the
  // flags say otherwise) and, with children, a clone of every child in order. Null when any
  // part fails.
  BaseObject* GetCloneObject(bool children, COPYFLAGS flags, AliasTrans* trans);
  // Feeds the geometry of a polygon object (point bytes, then polygon bytes) into crc.
  void CalculateCrc(Crc32& crc) const;
  // Reads entry 929 through GetDParameter; false when the read fails.
  bool IsQuaternionRotationMode();

  // ---- hierarchy ----

  BaseObject* GetUp() const { return AsObject(GeListNode::GetUp()); }
  BaseObject* GetDown() const { return AsObject(GeListNode::GetDown()); }
  BaseObject* GetNext() const { return AsObject(GeListNode::GetNext()); }
  BaseObject* GetPred() const { return AsObject(GeListNode::GetPred()); }
  BaseObject* GetDeformCache() const;
  BaseObject* GetCache() const;

  // ---- transformation ----

  const Vector64& GetRelPos() const { return _relPos; }
  const Vector64& GetRelRot() const { return _relRot; }
  const Vector64& GetRelScale() const { return _relScale; }
  const Vector64& GetAbsPos() const { return _absPos; }
  const Vector64& GetAbsRot() const { return _absRot; }
  const Vector64& GetAbsScale() const { return _absScale; }
  const Vector64& GetFrozenPos() const { return _frozenPos; }
  const Vector64& GetFrozenRot() const { return _frozenRot; }
  const Vector64& GetFrozenScale() const { return _frozenScale; }
  ROTATIONORDER GetRotationOrder() const { return _order; }
  UInt32 GetFrozenFlags() const { return _frozenFlags; }
  const Matrix64& GetRotationMatrix() const { return _rotMatrix; }
  const Matrix64& GetFrozenMatrix() const { return _frozenMatrix; }
  const Matrix64& GetFrozenMatrixInverse() const { return _frozenInverse; }
  bool IsMatrixDirty() const { return _dirty; }

  void SetRelPos(const Vector64& v);
  void SetRelRot(const Vector64& v);
  void SetRelScale(const Vector64& v);
  void SetAbsPos(const Vector64& v);
  void SetAbsRot(const Vector64& v);
  void SetAbsScale(const Vector64& v);
  void SetFrozenPos(const Vector64& v);
  void SetFrozenRot(const Vector64& v);
  void SetFrozenScale(const Vector64& v);
  void SetRotationOrder(ROTATIONORDER order);
  // Decomposes m into Pr, Rr, Sr (a mirrored axis goes where the current scale has its sign).
  void SetRelMl(const Matrix64& m);
  // Takes m out of the frozen transformation, then SetRelMl.
  void SetMl(const Matrix64& m);
  // Takes m into the parent's space, then SetMl.
  void SetMg(const Matrix64& m);

  // The local matrix (recomputed when dirty).
  Matrix64 _GetMl() const;
  Matrix64 GetMl() const { return _GetMl(); }
  // The global matrix: the local matrices of the ancestors applied in turn.
  Matrix64 GetMg() const;
  // The parent's global matrix; the identity without a parent.
  Matrix64 GetUpMg() const;

  // ---- settings ----

  const Matrix64& GetStoredMatrix() const { return _storedMatrix; }
  void SetStoredMatrix(const Matrix64& m) { _storedMatrix = m; }
  Int32 GetDisabled() const { return _disabled; }

  // ---- tags ----

  BaseTag* GetFirstTag() const;
  // The nr-th tag (from 0) of the type, in list order; null when there are fewer.
  BaseTag* GetTag(Int32 type, Int32 nr = 0) const;
  // Inserts tag (in no list) after pred or at the head; a tag that may occur only once
  // replaces the tags of its type. The tag's object becomes this object.
  void InsertTag(BaseTag* tag, BaseTag* pred = nullptr);
  // A new tag of the type inserted with InsertTag (texture tags get projection defaults by the
  // object's type); null when out of memory.
  BaseTag* MakeTag(Int32 type, BaseTag* pred = nullptr);
  // The tag list (null until the first tag).
  RootTag* GetTagList() const { return _tags; }
  // The tag list, created when missing; null when out of memory.
  RootTag* MakeTagList();

 protected:
  static BaseObject* AsObject(GeListNode* node) {
    return node != nullptr && node->IsInstanceOf(TYPE_ANYOBJECT) ? static_cast<BaseObject*>(node)
                                                                 : nullptr;
  }
  bool Locked() const;
  void UpdateAbsPos();
  void UpdateAbsScale();
  void UpdateAbsRot();
  bool ReadTransform(HyperFile* hf, Int32 level);
  bool ReadTransformOld(HyperFile* hf, Int32 level);
  bool ReadCacheList(HyperFile* hf, RootObject*& list);
  bool ReadChildren(HyperFile* hf);
  bool ReadTags(HyperFile* hf, Int32 level);
  bool WriteTags(HyperFile* hf);
  bool WriteTransform(HyperFile* hf);
  bool WriteNodeDataChunk(HyperFile* hf);
  // Whether the node data writes itself after the transform chunk (disk type 1001091).
  bool NodeDataWritesLast() const;
  void ClampAll();

  mutable Matrix64 _ml;
  mutable bool _dirty = true;
  Vector64 _relPos;
  Vector64 _relRot;
  Vector64 _relScale{1.0, 1.0, 1.0};
  Vector64 _frozenPos;
  Vector64 _frozenScale{1.0, 1.0, 1.0};
  Vector64 _frozenRot;
  Vector64 _absRot;
  Vector64 _absPos;
  Vector64 _absScale{1.0, 1.0, 1.0};
  Matrix64 _frozenMatrix;
  Matrix64 _frozenInverse;
  UInt32 _frozenFlags = 0;
  ROTATIONORDER _order = ROTATIONORDER_HPB;
  Matrix64 _rotMatrix;
  Matrix64 _storedMatrix;
  RootTag* _tags = nullptr;
  Int32 _displayA = 2;
  Int32 _displayB = 2;
  Int32 _disabled = 0;
  bool _displayFlag = false;
  Vector64 _displayColor{1.0, 1.0, 1.0};
  Int32 _settingC = 0;
  Vector64 _vectorD;
  Int32 _settingE = 0;
  RootObject* _deformCache = nullptr;
  RootObject* _cache = nullptr;
  Int32 _diskType = TYPE_OBJECT;
};

class RootObject : public RootList2D {
 public:
  RootObject() = default;
  ~RootObject() override = default;

  static RootObject* Alloc();
  static void Free(RootObject*& list);

  bool IsInstanceOf(Int32 id) const override { return id == 0; }
  // 110069 skipped; 110063 read into the list; any other id is an object of that disk type.
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  // CHUNK_NODELIST with one chunk per object (its disk type, its Write); nothing when empty.
  bool Write(HyperFile* hf) override;
  // 5101 and 5137: a spline object; other ids BaseObject::Alloc.
  virtual BaseObject* AllocObject(Int32 type);

  BaseObject* GetFirst() const { return static_cast<BaseObject*>(RootList2D::GetFirst()); }
  BaseObject* GetLast() const { return static_cast<BaseObject*>(RootList2D::GetLast()); }
};

}  // namespace lumora

#endif  // LUM_BASEOBJECT_H
