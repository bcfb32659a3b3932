// PointObject: an object whose points live in its point tag; PointObjectData: the node data of
// point-based objects, with the two point selections.
//
// The geometry accessors use only the object's tags, so they serve any object that carries
// point and polygon tags, also one read from a file as a plain object under disk type 1001091.
#ifndef LUM_POINTOBJECT_H
#define LUM_POINTOBJECT_H

#include "objects/lum_baseobject.h"
#include "stream/lum_baseselect.h"

namespace lumora {

// Chunks of the point selections.
constexpr Int32 CHUNK_POINTSELECTION_A = 110117;
constexpr Int32 CHUNK_POINTSELECTION_B = 110118;
// The disk type of PointObjectData.
constexpr Int32 TYPE_POINTOBJECTDATA_DISK = 5156;

class PointObject : public BaseObject {
 public:
  PointObject() : PointObject(TYPE_POINTOBJECT) {}
  explicit PointObject(Int32 type) : BaseObject(type) {}
  ~PointObject() override = default;

  // True for 0, 5155, 5156, the object's type and its instance type (5156).
  bool IsInstanceOf(Int32 id) const override;
  Int32 GetInstanceType() const override { return TYPE_POINTOBJECT; }
  Int32 GetDiskType() const override { return TYPE_POINTOBJECT; }

  // The count and array of the first point tag; 0 and null without one. Both accessors give the
  // same memory.
  Int32 GetPointCount() const;
  const Vector64* GetPointR() const;
  Vector64* GetPointW();

  BaseSelect& GetSelectionA() { return _selectionA; }
  BaseSelect& GetSelectionB() { return _selectionB; }

 private:
  BaseSelect _selectionA;
  BaseSelect _selectionB;
};

class PointObjectData : public NodeData {
 public:
  PointObjectData() = default;
  ~PointObjectData() override = default;

  bool IsInstanceOf(Int32 id) const override { return id == 0; }
  Int32 GetDiskType() const override { return TYPE_POINTOBJECTDATA_DISK; }
  // Chunks 110117 and 110118 for the selections that have any run.
  bool Write(HyperFile* hf) override;
  // Ids 110117 and 110118 (a selection chunk, or an immediate end); false for other ids.
  bool Read(HyperFile* hf, Int32 id, Int32 level) override;
  // The selections, when dest is data of the same kind.
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;

  // Resizes the point tag to n (made at the head of the tag list when missing) and the
  // vertex-map, vertex-colour and normal tags that follow the point count. n < 0: nothing.
  // False when out of memory or not attached to an object.
  bool _ResizeObject(Int32 n);

  BaseSelect& GetPointSelection(Int32 i) { return i == 0 ? _select[0] : _select[1]; }

 protected:
  // Reads one selection chunk's contents (a selection chunk or an immediate end).
  static bool ReadSelection(HyperFile* hf, BaseSelect& sel);
  static bool WriteSelection(HyperFile* hf, Int32 id, const BaseSelect& sel);
  BaseObject* GetObject() const;

 private:
  BaseSelect _select[2];
};

}  // namespace lumora

#endif  // LUM_POINTOBJECT_H
