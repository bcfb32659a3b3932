// Helpers the tag suites, the sweeps and the fuzz seeds share: a tag list with a tag of every
// kind, filled, on an owner that counts as a polygon object.
#ifndef LUMORA_TAG_SUPPORT_H
#define LUMORA_TAG_SUPPORT_H

#include "lumora.h"

namespace tagtest {

// The type of polygon objects: an owner of this type counts as one.
constexpr lumora::Int32 kPolygonObject = 5100;

// Appends a tag of type to list (object set to the list's owner); null when out of memory.
template <typename T = lumora::BaseTag>
T* Add(lumora::RootTag& list, lumora::Int32 type) {
  lumora::BaseTag* t = lumora::BaseTag::Alloc(type);
  if (t == nullptr) return nullptr;
  t->SetObject(list.GetObject());
  list.InsertLast(t);
  return static_cast<T*>(t);
}

// Four points, a triangle and a quad (one corner outside the points), and a tag of every
// other kind sized to them. False when out of memory (list partly filled then).
inline bool BuildMesh(lumora::RootTag& list) {
  using namespace lumora;
  PointTag* pt = Add<PointTag>(list, TAG_POINT);
  if (pt == nullptr || !pt->Resize(4)) return false;
  for (Int32 i = 0; i < 4; ++i) pt->GetPointW()[i] = Vector64(i, 2.0 * i, -0.5 * i);
  PolygonTag* pg = Add<PolygonTag>(list, TAG_POLYGON);
  if (pg == nullptr || !pg->Resize(2)) return false;
  pg->GetPolygonW()[0] = CPolygon(0, 1, 2, 2);
  pg->GetPolygonW()[1] = CPolygon(0, 2, 3, 9);
  UVWTag* uv = Add<UVWTag>(list, TAG_UVW);
  if (uv == nullptr || !uv->Resize(2)) return false;
  uv->Set(0, UVWStruct{Vector64(0, 0, 0), Vector64(1, 0, 0), Vector64(1, 1, 0), Vector64(1, 1, 0)});
  uv->Set(1, UVWStruct{Vector64(0.5, 0.25, 1), Vector64(-3, 2, 0.125), Vector64(), Vector64()});
  uv->SetSetting(true);
  uv->SetName(String("UVW", STRINGENCODING_UTF8));  // a tag read without a name gets this one
  NormalTag* nt = Add<NormalTag>(list, TAG_NORMAL);
  if (nt == nullptr || !nt->Resize(2)) return false;
  nt->Set(
      1, NormalStruct{Vector64(0, 0, 1), Vector64(0, 1, 0), Vector64(1, 0, 0), Vector64(-1, 0, 0)});
  VertexMapTag* vm = Add<VertexMapTag>(list, TAG_VERTEXMAP);
  if (vm == nullptr || !vm->Resize(4)) return false;
  vm->GetWeightW()[3] = 0.75f;
  VertexColorTag* vc = Add<VertexColorTag>(list, TAG_VERTEXCOLOR);
  if (vc == nullptr || !vc->Resize(4, VertexColorTag::POINT_BYTES)) return false;
  vc->GetColorW()[1] = ColorA32{1.0f, 0.5f, 0.25f, 1.0f};
  VertexColorTag* vp = Add<VertexColorTag>(list, TAG_VERTEXCOLOR);
  if (vp == nullptr || !vp->SetPerPointColor(false) ||
      !vp->Resize(2, VertexColorTag::POLYGON_BYTES)) {
    return false;
  }
  vp->GetColorW()[7] = ColorA32{0.0f, 1.0f, 0.0f, 0.5f};
  TangentTag* tt = Add<TangentTag>(list, TAG_TANGENT);
  if (tt == nullptr || !tt->Resize(1)) return false;
  tt->GetTangentW()[0] = Tangent{Vector64(1, 2, 3), Vector64(-1, -2, -3)};
  SegmentTag* st = Add<SegmentTag>(list, TAG_SEGMENT);
  if (st == nullptr || !st->Resize(2)) return false;
  st->GetSegmentW()[0] = Segment{3, true};
  st->GetSegmentW()[1] = Segment{1, false};
  for (Int32 type : {TAG_POINTSELECTION, TAG_POLYGONSELECTION, TAG_EDGESELECTION}) {
    SelectionTag* sel = Add<SelectionTag>(list, type);
    if (sel == nullptr || !sel->GetBaseSelect()->Select(1) || !sel->GetBaseSelect()->Select(3))
      return false;
  }
  BaseTag* texture = Add(list, TAG_TEXTURE);
  if (texture == nullptr || !static_cast<TextureTag*>(texture)->SetPos(Vector64(1, 2, 3)))
    return false;
  BaseTag* plugin = Add(list, 1019597);
  if (plugin == nullptr) return false;
  plugin->SetName(String("morph", STRINGENCODING_UTF8));
  return Add(list, TAG_POSEMORPH) != nullptr && Add(list, 5629) != nullptr &&
         Add(list, TAG_DISPLAY) != nullptr && Add(list, TAG_COMPOSITING) != nullptr &&
         Add(list, TAG_TARGETLINKS) != nullptr;
}

}  // namespace tagtest

#endif  // LUMORA_TAG_SUPPORT_H
