// The application's allocation hooks and the node data classes they hand out.
//
// The library asks these hooks for the node data of objects, tags and shaders it reads (see
// scene/lum_nodedata.h for their protocol). This library of the application side, lumora_app_hooks,
// is what the tool, the tests, the fuzz targets and the benchmarks link; a program that brings its
// own hooks does not link it.
//
// Every id of the tables has its class here or in the library. The
// classes here keep the bytes they do not interpret (RawNodeData) and copy them deeply.
#ifndef LUM_ALIEN_HOOKS_H
#define LUM_ALIEN_HOOKS_H

#include "objects/lum_baseobject.h"
#include "objects/lum_splineobject.h"
#include "scene/lum_nodedata.h"
#include "shading/lum_baseshader.h"  // VariationShaderData

namespace lumora {

// The application's spline object: answers as a spline, a point object and an object, and
// executes.
class AlienSplineObject : public SplineObject {
 public:
  AlienSplineObject() = default;
  ~AlienSplineObject() override = default;
  bool IsInstanceOf(Int32 id) const override {
    return id == TYPE_SPLINEOBJECT || id == TYPE_ANYOBJECT || id == TYPE_POINTOBJECT ||
           BaseObject::IsInstanceOf(id);
  }
  bool Execute() override { return true; }
};

// The application's list of objects: the children of an object, its caches, the top level of a
// document. Splines (5101, 5137) it reads become AlienSplineObjects with point data; every other
// type is BaseObject::Alloc's.
class AlienRootObject : public RootObject {
 public:
  AlienRootObject() = default;
  ~AlienRootObject() override = default;
  BaseObject* AllocObject(Int32 type) override;
};

LUM_RAW_NODEDATA(InstanceObjectData);
LUM_RAW_NODEDATA(SkyShaderObjectData);
LUM_RAW_NODEDATA(CloudGroupData);
LUM_RAW_NODEDATA(CloudData);
LUM_RAW_NODEDATA(JointObjectData);
LUM_RAW_NODEDATA(SkinObjectData);
LUM_RAW_NODEDATA(MeshDeformerObjectData);
LUM_RAW_NODEDATA(PointGenerator);
LUM_RAW_NODEDATA(ZiRuzarFractureVoronoiObject);
LUM_RAW_NODEDATA(VolumeBuilderData);
LUM_RAW_NODEDATA(VolumeSetData);
LUM_RAW_NODEDATA(LodObjectData);
LUM_RAW_NODEDATA(GvExpressionData);
LUM_RAW_NODEDATA(HNWeightTagData);
LUM_RAW_NODEDATA(HairLightTagData);
LUM_RAW_NODEDATA(WeightTagData);

}  // namespace lumora

#endif  // LUM_ALIEN_HOOKS_H
