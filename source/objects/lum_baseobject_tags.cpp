// The geometry checksum of BaseObject, which reads the point and polygon tags (see
// lum_baseobject.h).
#include <cstring>

#include "objects/lum_baseobject.h"
#include "objects/lum_pointtag.h"
#include "objects/lum_polygontag.h"

namespace lumora {

namespace {

// Feeds count elements of size bytes as the checksum defines them: little-endian numbers of
// width bytes each.
void FeedLittleEndian(Crc32& crc, const void* data, Int64 count, Int32 size, Int32 width) {
  if (data == nullptr || count <= 0) return;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  (void)width;
  crc.Update(data, count * size);
#else
  const UChar* p = static_cast<const UChar*>(data);
  UChar buf[8];
  for (Int64 i = 0; i < count * size; i += width) {
    for (Int32 k = 0; k < width; ++k) buf[k] = p[i + width - 1 - k];
    crc.Update(buf, width);
  }
#endif
}

}  // namespace

void BaseObject::CalculateCrc(Crc32& crc) const {
  crc.Reset();
  if (GetType() != TYPE_POLYGONOBJECT) return;
  const PointTag* points = PointTag::Cast(GetTag(TAG_POINT, 0));
  if (points != nullptr)
    FeedLittleEndian(crc, points->GetPointR(), points->GetCount(), sizeof(Vector64), 8);
  const PolygonTag* polys = PolygonTag::Cast(GetTag(TAG_POLYGON, 0));
  if (polys != nullptr)
    FeedLittleEndian(crc, polys->GetPolygonR(), polys->GetCount(), sizeof(CPolygon), 4);
}

}  // namespace lumora

namespace lumora {

BaseObject* BaseContainer::GetObjectLink(Int32 id) const {
  // A class check: a named node of type 5155 answers IsInstanceOf(5155) without being an object.
  return dynamic_cast<BaseObject*>(GetLink(id));
}

BaseTag* NodeData::GetTag(Int32 type) const {
  BaseList2D* node = GetNode();
  if (node == nullptr || !node->IsNodeClass(NODECLASS_OBJECT)) return nullptr;
  return static_cast<BaseObject*>(node)->GetTag(type, 0);
}

}  // namespace lumora
