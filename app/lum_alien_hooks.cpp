// The three data hooks with their id tables (see lum_alien_hooks.h).
#include "lum_alien_hooks.h"

#include "lum_memory.h"
#include "objects/lum_polygonobject.h"

using lumora::BaseList2D;
using lumora::Int32;
using lumora::NewObj;
using lumora::NodeData;

namespace {

// Object types whose data is a plain node data with no behaviour of its own.
bool IsPlainObjectType(Int32 type) {
  switch (type) {
    case 5104: case 5105: case 5106: case 5113: case 5116: case 5121: case 5122: case 5123:
    case 5128: case 5129: case 5131: case 5133: case 5134: case 5140:
    case 1001003: case 1001253: case 1002603: case 1008796: case 1008982: case 1010865:
    case 1025766:
      return true;
    default:
      return (type >= 5145 && type <= 5149) || (type >= 5159 && type <= 5174);
  }
}

template <typename T>
NodeData* Make(Int32 type) {
  return NewObj<T>(type);
}

}  // namespace

NodeData* AllocAlienObjectData(int type, bool& known, BaseList2D*) {
  using namespace lumora;
  known = true;
  switch (type) {
    case 5100: return NewObj<PolygonObjectData>();
    case 5108: return NewObj<PointObjectData>();
    case 5102: return Make<LightObjectData>(type);
    case 5126: return Make<InstanceObjectData>(type);
    case 1011146: return Make<SkyShaderObjectData>(type);
    case 1011194: return Make<CloudGroupData>(type);
    case 1011196: return Make<CloudData>(type);
    case 1019362: return Make<JointObjectData>(type);
    case 1019363: return Make<SkinObjectData>(type);
    case 1024543: return Make<MeshDeformerObjectData>(type);
    case 1036448: return Make<PointGenerator>(type);
    case 1036557: return Make<ZiRuzarFractureVoronoiObject>(type);
    case 1039859: return Make<VolumeBuilderData>(type);
    case 1039867: return Make<VolumeSetData>(type);
    case 431000174: return Make<LodObjectData>(type);
    default:
      break;
  }
  // 5103 (camera) is wired in with its family.
  if (IsPlainObjectType(type)) return Make<RawNodeData>(type);
  known = false;
  return nullptr;
}

NodeData* AllocAlienTagData(int type, bool& known, BaseList2D*) {
  using namespace lumora;
  known = true;
  switch (type) {
    case 1001149: return Make<GvExpressionData>(type);
    case 1007579: return Make<HNWeightTagData>(type);
    case 1017874: return Make<HairLightTagData>(type);
    case 1019365: return Make<WeightTagData>(type);
    default:
      known = false;
      return nullptr;
  }
}

NodeData* AllocAlienShaderData(int type, bool& known, BaseList2D*) {
  known = true;
  if (type == 1033825) return Make<lumora::VariationShaderData>(type);
  known = false;
  return nullptr;
}

lumora::RootObject* AllocAlienRootObject() { return NewObj<lumora::AlienRootObject>(); }

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
