// The geometry of point and polygon objects as their tags hold it: typed access and resizing
// (see lum_pointobject.h, lum_polygonobject.h).
#include "objects/lum_normaltag.h"
#include "objects/lum_pointtag.h"
#include "objects/lum_polygonobject.h"
#include "objects/lum_polygontag.h"
#include "objects/lum_uvwtag.h"
#include "objects/lum_vertexcolortag.h"
#include "objects/lum_vertexmaptag.h"

namespace lumora {

namespace {

PointTag* Points(const BaseObject* obj) { return PointTag::Cast(obj->GetTag(TAG_POINT, 0)); }
PolygonTag* Polygons(const BaseObject* obj) { return PolygonTag::Cast(obj->GetTag(TAG_POLYGON, 0)); }

// A new variable tag of T at the head of the object's tag list; null when out of memory.
template <typename T>
T* MakeAtHead(BaseObject* obj, Int32 type) {
  if (obj->MakeTagList() == nullptr) return nullptr;
  BaseTag* tag = BaseTag::Alloc(type);
  if (tag == nullptr) return nullptr;
  T* typed = T::Cast(tag);
  if (typed == nullptr) {
    BaseTag::Free(tag);
    return nullptr;
  }
  obj->InsertTag(tag, nullptr);
  tag->SetDocument(obj->GetDocument());
  return typed;
}

}  // namespace

// ---- typed access ----

Int32 PointObject::GetPointCount() const {
  const PointTag* t = Points(this);
  return t != nullptr ? t->GetCount() : 0;
}

const Vector64* PointObject::GetPointR() const {
  const PointTag* t = Points(this);
  return t != nullptr ? t->GetPointR() : nullptr;
}

Vector64* PointObject::GetPointW() {
  PointTag* t = Points(this);
  return t != nullptr ? t->GetPointW() : nullptr;
}

Int32 PolygonObject::GetPolygonCount() const {
  const PolygonTag* t = Polygons(this);
  return t != nullptr ? t->GetCount() : 0;
}

const CPolygon* PolygonObject::GetPolygonR() const {
  const PolygonTag* t = Polygons(this);
  return t != nullptr ? t->GetPolygonR() : nullptr;
}

CPolygon* PolygonObject::GetPolygonW() {
  PolygonTag* t = Polygons(this);
  return t != nullptr ? t->GetPolygonW() : nullptr;
}

// ---- resizing ----

bool PointObjectData::_ResizeObject(Int32 n) {
  if (n < 0) return true;
  BaseObject* obj = GetObject();
  PointTag* points = obj != nullptr ? Points(obj) : nullptr;
  if (n == 0 && (points == nullptr || points->GetCount() == 0)) return true;
  if (obj == nullptr) return false;
  if (points == nullptr) points = MakeAtHead<PointTag>(obj, TAG_POINT);
  if (points == nullptr || !points->Resize(n)) return false;
  for (BaseTag* t = obj->GetFirstTag(); t != nullptr; t = t->GetNext()) {
    if (t == points) continue;
    if (VertexMapTag* vm = VertexMapTag::Cast(t)) {
      if (!vm->Resize(n)) return false;
    } else if (VertexColorTag* vc = VertexColorTag::Cast(t)) {
      if (!vc->Resize(n, vc->IsPerPointColor() ? 16 : 64)) return false;
    } else if (NormalTag* nt = NormalTag::Cast(t)) {
      if (!nt->Resize(n)) return false;
    }
  }
  return true;
}

bool PolygonObjectData::_ResizeObject(Int32 points, Int32 polygons, Int32 ngons) {
  if (points < 0 && polygons < 0 && ngons < 0) return true;
  if (points >= 0 && !PointObjectData::_ResizeObject(points)) return false;
  if (polygons >= 0) {
    BaseObject* obj = GetObject();
    PolygonTag* polys = obj != nullptr ? Polygons(obj) : nullptr;
    if (polygons == 0 && (polys == nullptr || polys->GetCount() == 0)) return true;
    if (obj == nullptr) return false;
    if (polys == nullptr) polys = MakeAtHead<PolygonTag>(obj, TAG_POLYGON);
    if (polys == nullptr || !polys->Resize(polygons)) return false;
    for (BaseTag* t = obj->GetFirstTag(); t != nullptr; t = t->GetNext()) {
      UVWTag* uvw = UVWTag::Cast(t);
      if (uvw != nullptr && !uvw->Resize(polygons)) return false;
    }
  }
  if (ngons > 0 && _ngons == nullptr) {
    _ngons = NgonBase::Alloc();
    if (_ngons == nullptr || !_ngons->Resize(ngons)) {
      NgonBase::Free(_ngons);
      return false;
    }
  } else if (ngons < 1 && _ngons != nullptr) {
    NgonBase::Free(_ngons);
  }
  return true;
}

}  // namespace lumora
