// The camera's parameters: its defaults, and the derived parameters (field of view, presets, a
// 35 mm equivalent text, the distance pair) computed from and written back into the stored ones.
//
// A camera keeps no state of its own: every setting lives in the camera object's container.
// CameraParameters is that logic on a container; what it needs from outside the container (the
// render settings' pixel-aspect correction, whether a target tag is linked) comes in a
// CameraEnvironment. CameraObjectData, the node data of camera objects (type 5103), calls it
// with its object's container and environment.
#ifndef LUM_CAMERAOBJECTDATA_H
#define LUM_CAMERAOBJECTDATA_H

#include "lum_types.h"
#include "objects/lum_baseobject.h"  // the camera object's type
#include "scene/lum_nodedata.h"
#include "values/lum_basecontainer.h"
#include "values/lum_gedata.h"

namespace lumora {

// Stored parameters whose role the computations fix.
enum CAMERAOBJECT : Int32 {
  CAMERAOBJECT_FOCUS = 500,                // float, focal length in mm
  CAMERAOBJECT_MODE = 1001,                // int32; the distance pair only while 0
  CAMERAOBJECT_APERTURE = 1006,            // float, sensor width in mm
  CAMERAOBJECT_FOV = 1008,                 // derived: field of view, radians
  CAMERAOBJECT_TARGETFLAG = 1009,          // bool, kept only while a linked target tag sits on it
  CAMERAOBJECT_FILMPRESET = 1131,          // derived: film-format preset index
  CAMERAOBJECT_LENSPRESET = 1132,          // derived: lens preset index
  CAMERAOBJECT_35MM = 1133,                // derived: " <n> mm", the 35 mm equivalent
  CAMERAOBJECT_FNUMBERPRESET = 1200,       // derived
  CAMERAOBJECT_FNUMBER = 1201,             // float
  CAMERAOBJECT_SHUTTER = 1211,             // float, seconds
  CAMERAOBJECT_SHUTTERPRESET = 1215,       // derived
  CAMERAOBJECT_ISO = 1231,                 // float
  CAMERAOBJECT_ISOPRESET = 1232,           // derived
  CAMERAOBJECT_WHITEBALANCEPRESET = 1310,  // derived
  CAMERAOBJECT_WHITEBALANCE = 1311,        // float, kelvin
  CAMERAOBJECT_DISTANCE_E = 4201,          // float, first input of the distance pair
  CAMERAOBJECT_DISTANCE_FORMULA = 4202,    // int32
  CAMERAOBJECT_DISTANCE_NEAR = 4204,       // float, written by the computation
  CAMERAOBJECT_DISTANCE_Z = 4205,          // float, second input
  CAMERAOBJECT_DISTANCE_FAR = 4206,        // float, written by the computation
  CAMERAOBJECT_DISTANCE_SWITCH = 4208,     // 0 off, 1 second constants, other first constants
  CAMERAOBJECT_FOV_RENDER = 4600,          // derived: field of view by the render pixel aspect
};

// The tag type whose object link (under its id 1001) keeps the camera's flag 1009 set.
constexpr Int32 CAMERA_TARGET_TAG = 5676;
constexpr Int32 CAMERA_TARGET_LINK = 1001;
// Render settings: the pixel-aspect mode (1150 = none) and the pixel aspect.
constexpr Int32 RDATA_PIXELASPECT_MODE = 5033;
constexpr Int32 RDATA_PIXELASPECT_NONE = 1150;
constexpr Int32 RDATA_PIXELASPECT = 6006;

// What the derived parameters need from outside the camera's container.
struct CameraEnvironment {
  // The render correction of the field of view: 1 / pixel aspect of the active render
  // settings when their mode asks for one, else 1 (see RenderFactor).
  Float renderFactor = 1.0;
  // Whether a tag of type 5676 with an object link under its id 1001 sits on the camera.
  bool targetLinked = false;
};

class CameraParameters {
 public:
  // The number of defaults InitDefaults writes.
  static constexpr Int32 kDefaultCount = 99;

  // Writes the defaults, in their order, into bc. False when out of memory.
  static bool InitDefaults(BaseContainer* bc);
  // The factor of CameraEnvironment::renderFactor from the active render settings' container
  // (null: none): 1 / aspect when the container holds both the mode (not 1150) and the aspect
  // and that factor is finite and positive, else 1.
  static Float RenderFactor(const BaseContainer* renderSettings);

  // Reads derived parameter id into *out. False in *handled for an id that is not derived
  // (the caller answers it). The result is true for every handled id; for a field of view
  // with a focal length <= 0, *out is left as it was.
  static bool GetParameter(BaseContainer* bc, Int32 id, const CameraEnvironment& env, GeData* out,
                           bool* handled);
  // Writes derived parameter, preset or distance input id. False in *handled for any other id.
  // The result is true for every handled id except a white-balance index outside its table.
  static bool SetParameter(BaseContainer* bc, Int32 id, const GeData& value,
                           const CameraEnvironment& env, bool* handled);
};

// The node data of camera objects. The camera data chunk holds nothing the camera reads; the
// bytes a file has in it are kept and written back unchanged (RawNodeData).
class CameraObjectData : public RawNodeData {
 public:
  explicit CameraObjectData(Int32 type = TYPE_CAMERAOBJECT) : RawNodeData(type) {}

  // A new camera data (null when out of memory).
  static NodeData* Alloc(Int32 type = TYPE_CAMERAOBJECT);

  bool IsInstanceOf(Int32 id) const override { return id == 0; }
  // The defaults into the node's container; false without a node or out of memory.
  bool Init() override;
  // The derived parameters of CameraParameters, for a node that is an object (5155); false for
  // any other node, and the base answer for ids the camera does not derive.
  bool GetDParameter(const DescID& id, GeData& out) override;
  bool SetDParameter(const DescID& id, const GeData& value) override;

 private:
  // Whether node is an object whose first tag of type 5676 links an object under its id 1001.
  static bool TargetLinked(const BaseList2D* node);
  // The node's container when the node is an object, else null.
  BaseContainer* ObjectContainer() const;
  CameraEnvironment Environment() const;
};

}  // namespace lumora

#endif  // LUM_CAMERAOBJECTDATA_H
