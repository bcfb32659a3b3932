// The geometry parts of the point and polygon objects that reach into the tag classes.
#include "objects/lum_polygonobject.h"

namespace lumora {

Int32 PointObject::GetPointCount() const { return 0; }
const Vector64* PointObject::GetPointR() const { return nullptr; }
Vector64* PointObject::GetPointW() { return nullptr; }
Int32 PolygonObject::GetPolygonCount() const { return 0; }
const CPolygon* PolygonObject::GetPolygonR() const { return nullptr; }
CPolygon* PolygonObject::GetPolygonW() { return nullptr; }

bool PointObjectData::_ResizeObject(Int32 n) { return n <= 0; }

bool PolygonObjectData::_ResizeObject(Int32 points, Int32 polygons, Int32 ngons) {
  if (!PointObjectData::_ResizeObject(points)) return false;
  if (polygons > 0) return false;
  if (polygons == 0) return true;
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
