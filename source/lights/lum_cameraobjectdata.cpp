#include "lights/lum_cameraobjectdata.h"

#include <cmath>

#include "foundation/lum_string.h"
#include "lights/lum_ieslight.h"
#include "objects/lum_basetag.h"
#include "scene/lum_basedocument.h"
#include "scene/lum_baselist2d.h"
#include "values/lum_baselink.h"

namespace lumora {

namespace {

constexpr Float kPi = 3.14159265358979323846;

enum class Kind { kInt, kBool, kFloat, kLink, kVector };

struct Default {
  Int32 id;
  Kind kind;
  Float value;
};

// The colour every default vector holds.
const Vector64 kDefaultColour(0.77, 0.87, 0.81);

constexpr Default kDefaults[] = {
    {1001, Kind::kInt, 0},          {1160, Kind::kBool, 0},         {500, Kind::kFloat, 36.0},
    {1006, Kind::kFloat, 36.0},     {1000, Kind::kFloat, 1.0},      {1010, Kind::kFloat, 2000.0},
    {1130, Kind::kLink, 0},         {1009, Kind::kBool, 0},         {1003, Kind::kInt, 0},
    {1004, Kind::kInt, 0},          {1161, Kind::kBool, 0},         {1162, Kind::kBool, 0},

    {1170, Kind::kFloat, -kPi},     {1171, Kind::kFloat, kPi},      {1172, Kind::kFloat, -kPi / 2},
    {1173, Kind::kFloat, kPi / 2},  {1180, Kind::kFloat, 0},        {1190, Kind::kInt, 0},
    {1005, Kind::kInt, 0},          {1181, Kind::kFloat, 6.5},      {1191, Kind::kFloat, 100.0},
    {1182, Kind::kFloat, 6.5},      {1192, Kind::kInt, 0},          {1193, Kind::kInt, 0},
    {1194, Kind::kFloat, -kPi / 2}, {1195, Kind::kFloat, kPi / 2},  {1196, Kind::kFloat, 0},
    {1197, Kind::kFloat, 0},

    {1111, Kind::kBool, 0},         {1114, Kind::kBool, 0},         {1112, Kind::kFloat, 0},
    {1113, Kind::kFloat, 1000.0},   {1115, Kind::kFloat, 0},        {1116, Kind::kFloat, 1000.0},
    {1123, Kind::kBool, 0},         {1122, Kind::kFloat, 0},        {1129, Kind::kBool, 0},
    {1128, Kind::kFloat, 10000.0},  {1007, Kind::kBool, 1},

    {5001, Kind::kBool, 1},         {5012, Kind::kBool, 0},         {5013, Kind::kInt, 1},
    {5014, Kind::kBool, 0},         {5015, Kind::kBool, 0},         {5031, Kind::kVector, 0},
    {5002, Kind::kBool, 0},         {5003, Kind::kInt, 3},          {5028, Kind::kVector, 0},
    {5004, Kind::kBool, 0},         {5005, Kind::kInt, 1},          {5006, Kind::kBool, 1},
    {5007, Kind::kBool, 1},         {5008, Kind::kBool, 1},         {5009, Kind::kBool, 1},
    {5029, Kind::kVector, 0},       {5010, Kind::kBool, 0},         {5011, Kind::kBool, 0},
    {5030, Kind::kVector, 0},       {5016, Kind::kBool, 0},         {5017, Kind::kBool, 0},
    {5018, Kind::kBool, 0},         {5025, Kind::kBool, 0},         {5026, Kind::kInt, 0},
    {5027, Kind::kInt, 0},          {5032, Kind::kVector, 0},       {5034, Kind::kBool, 0},
    {5035, Kind::kVector, 0},       {5036, Kind::kFloat, 1.0},

    {1201, Kind::kFloat, 8.0},      {1211, Kind::kFloat, 1.0 / 30}, {1212, Kind::kFloat, kPi},
    {1213, Kind::kFloat, 0},        {1214, Kind::kFloat, 0.7},      {1220, Kind::kBool, 0},
    {1231, Kind::kFloat, 200.0},    {1241, Kind::kFloat, 0},        {1300, Kind::kBool, 0},
    {1301, Kind::kInt, 6},          {1302, Kind::kFloat, 0},        {1303, Kind::kFloat, 0},
    {1306, Kind::kFloat, 0},        {1305, Kind::kLink, 0},         {1118, Kind::kFloat, 0},
    {1119, Kind::kFloat, 0},        {1321, Kind::kFloat, 0},        {1322, Kind::kFloat, 0},
    {1331, Kind::kFloat, 0},        {1333, Kind::kFloat, 0},        {1341, Kind::kFloat, 0},

    {4200, Kind::kInt, 0},          {4201, Kind::kFloat, 6.5},      {4202, Kind::kInt, 0},
    {4204, Kind::kFloat, 800.0},    {4205, Kind::kFloat, 1000.0},   {4206, Kind::kFloat, 1200.0},
    {4207, Kind::kBool, 1},         {1311, Kind::kFloat, 6500.0},   {1312, Kind::kFloat, 0},
    {1344, Kind::kBool, 1},
};
static_assert(sizeof kDefaults / sizeof kDefaults[0] == CameraParameters::kDefaultCount,
              "every default is listed");

// A preset: index -> stored value. Index 0 is no entry; a zero value marks an index without one.
struct Preset {
  Int32 presetId;
  Int32 storedId;
  Float tolerance;
  const Float* values;  // values[i - 1] for index i
  Int32 count;
  bool rejectUnknown;  // writing an index outside the table fails
};

constexpr Float kFilm[] = {4.8, 9.6, 36, 22, 52.5};
constexpr Float kLens[] = {15, 25, 36, 50, 80, 135, 300};
constexpr Float kFNumber[] = {1.0, 1.1, 1.2, 1.4, 1.6, 1.8, 2.0, 2.2, 2.5, 2.8, 3.2, 3.5, 4,  4.5,
                              5,   5.6, 6.3, 7.1, 8,   9,   10,  11,  13,  14,  16,  18,  20, 22};
constexpr Float kShutter[] = {0.001, 0.002, 0.004, 0.008, 1.0 / 60, 1.0 / 30, 1.0 / 15, 0.125,
                              0.25,  0,     1,     2,     4,        8,        15,       30};
constexpr Float kIso[] = {50, 100, 200, 400, 800, 1600, 3200, 6400};
constexpr Float kWhiteBalance[] = {2000, 3000, 4500, 5500, 6500, 7500, 9000};

#define LUM_PRESET(table) table, static_cast<Int32>(sizeof table / sizeof table[0])
const Preset kPresets[] = {
    {CAMERAOBJECT_FILMPRESET, CAMERAOBJECT_APERTURE, 0.001, LUM_PRESET(kFilm), false},
    {CAMERAOBJECT_LENSPRESET, CAMERAOBJECT_FOCUS, 0.001, LUM_PRESET(kLens), false},
    {CAMERAOBJECT_FNUMBERPRESET, CAMERAOBJECT_FNUMBER, 0.001, LUM_PRESET(kFNumber), false},
    {CAMERAOBJECT_SHUTTERPRESET, CAMERAOBJECT_SHUTTER, 0.0001, LUM_PRESET(kShutter), false},
    {CAMERAOBJECT_ISOPRESET, CAMERAOBJECT_ISO, 0.001, LUM_PRESET(kIso), false},
    {CAMERAOBJECT_WHITEBALANCEPRESET, CAMERAOBJECT_WHITEBALANCE, 0.001, LUM_PRESET(kWhiteBalance),
     true},
};
#undef LUM_PRESET

const Preset* FindPreset(Int32 id) {
  for (const Preset& p : kPresets) {
    if (p.presetId == id) return &p;
  }
  return nullptr;
}

// The field of view of sensor width s at focal length f, scaled by k; false when f <= 0.
bool FieldOfView(Float f, Float s, Float k, Float* fov) {
  if (!(f > 0)) return false;
  *fov = 2.0 * std::atan(k * s * 0.5 / f);
  return true;
}

// The focal length for field of view v; only for 0 < v < pi, where it is positive and finite
// (v of pi or more would give a negative or vanishing one).
bool FocalLength(Float v, Float s, Float k, Float* f) {
  if (!(v * 0.5 > 0) || !(v < kPi)) return false;
  *f = k * (s * 0.5 / std::tan(v * 0.5));
  return true;
}

void UpdateDistancePair(BaseContainer* bc) {
  if (bc->GetInt32(CAMERAOBJECT_MODE) != 0) return;
  const Int32 sw = bc->GetInt32(CAMERAOBJECT_DISTANCE_SWITCH);
  if (sw == 0) return;
  const Int32 p = bc->GetInt32(CAMERAOBJECT_DISTANCE_FORMULA);
  const Float f = bc->GetFloat(CAMERAOBJECT_FOCUS);
  const Float s = bc->GetFloat(CAMERAOBJECT_APERTURE);
  const Float z = bc->GetFloat(CAMERAOBJECT_DISTANCE_Z);
  const Float e = bc->GetFloat(CAMERAOBJECT_DISTANCE_E);
  const int j = sw == 1 ? 1 : 0;
  const Float r = s / f * z;
  if (p != 0) {
    const Float m = j == 1 ? 60.0 : 46.0;
    const Float d = z * r / ((r / m / e + 1) * (e * m));
    bc->SetFloat(CAMERAOBJECT_DISTANCE_NEAR, z - d);
    bc->SetFloat(CAMERAOBJECT_DISTANCE_FAR, d + z);
  } else {
    const Float m = j == 1 ? 30.0 : 23.0;
    const Float x = r * (e * m) / z;
    bc->SetFloat(CAMERAOBJECT_DISTANCE_NEAR, x);
    bc->SetFloat(CAMERAOBJECT_DISTANCE_FAR, x);
  }
}

}  // namespace

bool CameraParameters::InitDefaults(BaseContainer* bc) {
  bool ok = true;
  for (const Default& d : kDefaults) {
    switch (d.kind) {
      case Kind::kInt:
        ok = bc->SetInt32(d.id, static_cast<Int32>(d.value)) && ok;
        break;
      case Kind::kBool:
        ok = bc->SetBool(d.id, d.value != 0) && ok;
        break;
      case Kind::kFloat:
        ok = bc->SetFloat(d.id, d.value) && ok;
        break;
      case Kind::kVector:
        ok = bc->SetVector(d.id, kDefaultColour) && ok;
        break;
      case Kind::kLink:
        ok = bc->SetData(d.id, GeData(BaseLink())) != nullptr && ok;
        break;
    }
  }
  return ok;
}

Float CameraParameters::RenderFactor(const BaseContainer* renderSettings) {
  // Only settings that hold both the mode and the aspect correct the view, and only by a factor
  // that is finite and positive: without the aspect, 1 / 0 would make the field of view pi and
  // a focal length written through it infinite.
  if (renderSettings == nullptr || renderSettings->FindIndex(RDATA_PIXELASPECT_MODE) < 0 ||
      renderSettings->FindIndex(RDATA_PIXELASPECT) < 0) {
    return 1.0;
  }
  if (renderSettings->GetInt32(RDATA_PIXELASPECT_MODE) == RDATA_PIXELASPECT_NONE) return 1.0;
  const Float k = 1.0 / renderSettings->GetFloat(RDATA_PIXELASPECT);
  return std::isfinite(k) && k > 0.0 ? k : 1.0;
}

bool CameraParameters::GetParameter(BaseContainer* bc, Int32 id, const CameraEnvironment& env,
                                    GeData* out, bool* handled) {
  *handled = true;
  const Float f = bc->GetFloat(CAMERAOBJECT_FOCUS);
  const Float s = bc->GetFloat(CAMERAOBJECT_APERTURE);
  Float fov = 0.0;
  switch (id) {
    case CAMERAOBJECT_FOV:
      if (FieldOfView(f, s, 1.0, &fov)) *out = GeData(fov);
      return true;
    case CAMERAOBJECT_FOV_RENDER:
      if (FieldOfView(f, s, env.renderFactor, &fov)) *out = GeData(fov);
      return true;
    case CAMERAOBJECT_TARGETFLAG:
      if (!env.targetLinked) bc->SetBool(CAMERAOBJECT_TARGETFLAG, false);
      *out = GeData(Int32(bc->GetBool(CAMERAOBJECT_TARGETFLAG) ? 1 : 0));
      return true;
    case CAMERAOBJECT_35MM:
      *out = GeData(String(" ") + String::FloatToString(f * 36.0 / s, -1, -1, false, '0') +
                    String(" mm"));
      return true;
    default:
      break;
  }
  const Preset* preset = FindPreset(id);
  if (preset == nullptr) {
    *handled = false;
    return false;
  }
  const Float stored = bc->GetFloat(preset->storedId);
  Int32 index = 0;
  for (Int32 i = 0; i < preset->count && index == 0; ++i) {
    if (preset->values[i] != 0 && std::fabs(stored - preset->values[i]) < preset->tolerance)
      index = i + 1;
  }
  *out = GeData(index);
  return true;
}

bool CameraParameters::SetParameter(BaseContainer* bc, Int32 id, const GeData& value,
                                    const CameraEnvironment& env, bool* handled) {
  *handled = true;
  const Float s = bc->GetFloat(CAMERAOBJECT_APERTURE);
  Float f = 0.0;
  switch (id) {
    case CAMERAOBJECT_FOV:
      if (FocalLength(value.GetFloat(), s, 1.0, &f)) bc->SetFloat(CAMERAOBJECT_FOCUS, f);
      return true;
    case CAMERAOBJECT_FOV_RENDER:
      if (FocalLength(value.GetFloat(), s, env.renderFactor, &f))
        bc->SetFloat(CAMERAOBJECT_FOCUS, f);
      return true;
    case CAMERAOBJECT_DISTANCE_E:
    case CAMERAOBJECT_DISTANCE_Z:
    case CAMERAOBJECT_DISTANCE_SWITCH:
      bc->SetFloat(id, value.GetFloat());
      UpdateDistancePair(bc);
      return true;
    default:
      break;
  }
  const Preset* preset = FindPreset(id);
  if (preset == nullptr) {
    *handled = false;
    return false;
  }
  const Int32 index = value.GetInt32();
  if (index < 1 || index > preset->count || preset->values[index - 1] == 0)
    return !preset->rejectUnknown;
  bc->SetFloat(preset->storedId, preset->values[index - 1]);
  return true;
}

// ---- CameraObjectData ----

NodeData* CameraObjectData::Alloc(Int32 type) { return NewObj<CameraObjectData>(type); }

NodeData* _LightsAllocObjectData(Int32 type, bool& known) {
  known = true;
  if (type == TYPE_CAMERAOBJECT) return CameraObjectData::Alloc(type);
  if (type == TYPE_LIGHTOBJECT) return LightObjectData::Alloc(type);
  known = false;
  return nullptr;
}

bool CameraObjectData::Init() {
  BaseList2D* node = GetNode();
  return node != nullptr && CameraParameters::InitDefaults(node->GetDataInstance());
}

BaseContainer* CameraObjectData::ObjectContainer() const {
  BaseList2D* node = GetNode();
  if (node == nullptr || !node->IsInstanceOf(TYPE_ANYOBJECT)) return nullptr;
  return node->GetDataInstance();
}

bool CameraObjectData::TargetLinked(const BaseList2D* node) {
  const BaseObject* object = dynamic_cast<const BaseObject*>(node);
  if (object == nullptr) return false;
  const BaseTag* tag = object->GetTag(CAMERA_TARGET_TAG);
  if (tag == nullptr) return false;
  const BaseList2D* target = tag->GetDataInstance()->GetLink(CAMERA_TARGET_LINK);
  return target != nullptr && target->IsInstanceOf(TYPE_ANYOBJECT);
}

CameraEnvironment CameraObjectData::Environment() const {
  CameraEnvironment env;
  BaseDocument* doc = GetNode()->GetDocument();
  if (doc != nullptr) {
    BaseList2D* render = doc->GetActiveRenderData();
    env.renderFactor =
        CameraParameters::RenderFactor(render != nullptr ? render->GetDataInstance() : nullptr);
  }
  env.targetLinked = TargetLinked(GetNode());
  return env;
}

bool CameraObjectData::GetDParameter(const DescID& id, GeData& out) {
  BaseContainer* bc = ObjectContainer();
  if (bc == nullptr) return false;
  bool handled = false;
  const bool result = CameraParameters::GetParameter(bc, id[0].id, Environment(), &out, &handled);
  return handled ? result : RawNodeData::GetDParameter(id, out);
}

bool CameraObjectData::SetDParameter(const DescID& id, const GeData& value) {
  BaseContainer* bc = ObjectContainer();
  if (bc == nullptr) return false;
  bool handled = false;
  const bool result = CameraParameters::SetParameter(bc, id[0].id, value, Environment(), &handled);
  return handled ? result : RawNodeData::SetDParameter(id, value);
}

}  // namespace lumora
