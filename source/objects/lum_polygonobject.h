// PolygonObject: a point object with polygons in its polygon tag; PolygonObjectData: its node
// data, with five further selections and the n-gon records; NgonBase and Pgon: the n-gon
// records, kept as they are read.
//
// A polygon object is stored under disk type 1001091: reading gives a plain object that its
// plug-in data chunk turns into type 5100 with PolygonObjectData; the selection and n-gon chunks
// follow the transform chunk among the object's own chunks.
#ifndef LUM_POLYGONOBJECT_H
#define LUM_POLYGONOBJECT_H

#include "objects/lum_pointobject.h"

namespace lumora {

constexpr Int32 CHUNK_POLYSELECTION_A = 110119;
constexpr Int32 CHUNK_POLYSELECTION_B = 110120;
constexpr Int32 CHUNK_POLYSELECTION_C = 110128;
constexpr Int32 CHUNK_POLYSELECTION_D = 110129;
constexpr Int32 CHUNK_POLYSELECTION_E = 110132;
constexpr Int32 CHUNK_NGONS = 110133;
constexpr Int32 NGON_CHUNK_LEVEL = 1;
// Copy flag: the n-gon records are not copied.
constexpr Int32 COPYFLAGS_NO_NGONS = 0x800;

// One n-gon record: UInt32 values with their count. Owns its array.
struct Pgon {
  UInt32* values = nullptr;
  Int32 count = 0;
  Int32 reserved = 0;

  void Free();
  // The record holds a copy of count values; false when out of memory (record left empty).
  bool Set(const UInt32* src, Int32 n);
  // A copy of src's values (empty for an empty source); false when out of memory, leaving this
  // record empty.
  bool CopyFrom(const Pgon* src);
};

class NgonBase {
 public:
  NgonBase() = default;
  ~NgonBase();
  NgonBase(const NgonBase&) = delete;
  NgonBase& operator=(const NgonBase&) = delete;

  static NgonBase* Alloc();
  static void Free(NgonBase*& ngons);

  Int32 GetCount() const { return _count; }
  Pgon* GetRecord(Int32 i) const { return i >= 0 && i < _count ? &_records[i] : nullptr; }
  // n records: kept up to n, new ones empty, those beyond n freed; n <= 0 frees every record.
  // False when out of memory (nothing changed).
  bool Resize(Int32 n);
  // Chunk 110133 (whose start has been read): the records it holds replace these.
  bool Read(HyperFile* hf, Int32 id, Int32 level);
  // Chunk 110133 at level 1; nothing without records.
  bool Write(HyperFile* hf) const;
  // dest's records are replaced by copies of these.
  bool CopyTo(NgonBase* dest) const;

 private:
  void FreeRecords();

  Pgon* _records = nullptr;
  Int32 _count = 0;
};

class PolygonObjectData : public PointObjectData {
 public:
  PolygonObjectData() = default;
  ~PolygonObjectData() override { NgonBase::Free(_ngons); }

  Int32 GetDiskType() const override { return TYPE_POLYGONOBJECTDATA_DISK; }
  bool Write(HyperFile* hf) override;
  bool Read(HyperFile* hf, Int32 id, Int32 level) override;
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;

  // Points (as PointObjectData) and polygons (the polygon tag, made at the head when missing,
  // and every UVW tag; a negative count leaves them alone, and a resize to 0 polygons ends the
  // call before the n-gons). N-gons: a count above 0 makes the records when there are none, a
  // count below 1 (so also -1) frees them. All three negative: nothing.
  bool _ResizeObject(Int32 points, Int32 polygons, Int32 ngons);

  // i = 0..4.
  BaseSelect& GetPolygonSelection(Int32 i) { return _select[i < 0 || i > 4 ? 0 : i]; }
  NgonBase* GetNgonBase() const { return _ngons; }

 private:
  BaseSelect _select[5];
  NgonBase* _ngons = nullptr;
};

class PolygonObject : public PointObject {
 public:
  PolygonObject() : PointObject(TYPE_POLYGONOBJECT) {}
  ~PolygonObject() override = default;

  // BaseObject::Alloc(5100) resized to the counts (with no n-gons); null when either fails.
  static PolygonObject* Alloc(Int32 points, Int32 polygons);
  // Resizes to 0 points and polygons, then destroys the object.
  static void Free(PolygonObject*& object);

  Int32 GetDiskType() const override { return TYPE_POLYGONOBJECTDATA_DISK; }

  Int32 GetPolygonCount() const;
  const CPolygon* GetPolygonR() const;
  CPolygon* GetPolygonW();

  // The node data's _ResizeObject (the two-count form passes ngons -1); false without polygon
  // node data.
  //
  // Mind the n-gons: the two-count form frees the object's n-gon records whenever it gets past
  // the polygons, also when only the points are resized (ResizeObject(n, -1)) or only the
  // polygons (ResizeObject(-1, m) with m > 0). To resize an object with n-gons and keep them,
  // pass any count above 0 as the third argument (records that exist are left as they are).
  bool ResizeObject(Int32 points, Int32 polygons) { return ResizeObject(points, polygons, -1); }
  bool ResizeObject(Int32 points, Int32 polygons, Int32 ngons);
};

}  // namespace lumora

#endif  // LUM_POLYGONOBJECT_H
