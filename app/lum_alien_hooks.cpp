// The three data hooks with their id tables (see lum_alien_hooks.h).
#include "lum_alien_hooks.h"

#include "lights/lum_cameraobjectdata.h"
#include "lights/lum_ieslight.h"

#include "lum_memory.h"
#include "objects/lum_polygonobject.h"

using lumora::BaseList2D;
using lumora::Int32;
using lumora::NodeData;

namespace {

using Maker = NodeData* (*)(Int32 type);

template <typename T>
NodeData* Make(Int32 type) {
  return lumora::NewObj<T>(type);
}

struct Entry {
  Int32 first, last;  // an id range, both ends included
  Maker make;
};

NodeData* MakePolygonData(Int32) { return lumora::NewObj<lumora::PolygonObjectData>(); }
NodeData* MakePointData(Int32) { return lumora::NewObj<lumora::PointObjectData>(); }

// AllocAlienObjectData.
const Entry kObjectTable[] = {
    {5100, 5100, MakePolygonData},
    {5108, 5108, MakePointData},
    {5102, 5102, Make<lumora::LightObjectData>},
    {5103, 5103, Make<lumora::CameraObjectData>},
    {5126, 5126, Make<lumora::InstanceObjectData>},
    {1011146, 1011146, Make<lumora::SkyShaderObjectData>},
    {1011194, 1011194, Make<lumora::CloudGroupData>},
    {1011196, 1011196, Make<lumora::CloudData>},
    {1019362, 1019362, Make<lumora::JointObjectData>},
    {1019363, 1019363, Make<lumora::SkinObjectData>},
    {1024543, 1024543, Make<lumora::MeshDeformerObjectData>},
    {1036448, 1036448, Make<lumora::PointGenerator>},
    {1036557, 1036557, Make<lumora::ZiRuzarFractureVoronoiObject>},
    {1039859, 1039859, Make<lumora::VolumeBuilderData>},
    {1039867, 1039867, Make<lumora::VolumeSetData>},
    {431000174, 431000174, Make<lumora::LodObjectData>},
    // plain node data, no behaviour of its own
    {5104, 5106, Make<lumora::RawNodeData>},
    {5113, 5113, Make<lumora::RawNodeData>},
    {5116, 5116, Make<lumora::RawNodeData>},
    {5121, 5123, Make<lumora::RawNodeData>},
    {5128, 5129, Make<lumora::RawNodeData>},
    {5131, 5131, Make<lumora::RawNodeData>},
    {5133, 5134, Make<lumora::RawNodeData>},
    {5140, 5140, Make<lumora::RawNodeData>},
    {5145, 5149, Make<lumora::RawNodeData>},
    {5159, 5174, Make<lumora::RawNodeData>},
    {1001003, 1001003, Make<lumora::RawNodeData>},
    {1001253, 1001253, Make<lumora::RawNodeData>},
    {1002603, 1002603, Make<lumora::RawNodeData>},
    {1008796, 1008796, Make<lumora::RawNodeData>},
    {1008982, 1008982, Make<lumora::RawNodeData>},
    {1010865, 1010865, Make<lumora::RawNodeData>},
    {1025766, 1025766, Make<lumora::RawNodeData>},
};

const Entry kTagTable[] = {
    {1001149, 1001149, Make<lumora::GvExpressionData>},
    {1007579, 1007579, Make<lumora::HNWeightTagData>},
    {1017874, 1017874, Make<lumora::HairLightTagData>},
    {1019365, 1019365, Make<lumora::WeightTagData>},
};

// AllocAlienShaderData: asked when a shader's plug-in data chunk is read, when a variation shader
// is made (BaseShader::Alloc) and when a shader with data is copied.
const Entry kShaderTable[] = {
    {1033825, 1033825, Make<lumora::VariationShaderData>},
};

// The hooks' protocol: known is true on entry; an id outside the table gives null and false.
template <size_t N>
NodeData* Lookup(const Entry (&table)[N], Int32 type, bool& known) {
  known = true;
  for (const Entry& e : table)
    if (type >= e.first && type <= e.last) return e.make(type);
  known = false;
  return nullptr;
}

}  // namespace

NodeData* AllocAlienObjectData(int type, bool& known, BaseList2D*) {
  return Lookup(kObjectTable, type, known);
}

NodeData* AllocAlienTagData(int type, bool& known, BaseList2D*) {
  return Lookup(kTagTable, type, known);
}

NodeData* AllocAlienShaderData(int type, bool& known, BaseList2D*) {
  return Lookup(kShaderTable, type, known);
}

lumora::RootObject* AllocAlienRootObject() { return lumora::NewObj<lumora::AlienRootObject>(); }

lumora::BaseObject* lumora::AlienRootObject::AllocObject(Int32 type) {
  if (type != TYPE_SPLINEOBJECT && type != TYPE_SPLINEOBJECT_OLD) return BaseObject::Alloc(type);
  AlienSplineObject* spline = NewObj<AlienSplineObject>();
  if (spline == nullptr) return nullptr;
  PointObjectData* data = NewObj<PointObjectData>();
  if (data == nullptr || spline->GetChildren() == nullptr) {
    DeleteObj(data);
    DeleteObj(spline);
    return nullptr;
  }
  data->SetNode(spline);
  spline->SetNodeData(data);
  return spline;
}
