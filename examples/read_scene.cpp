// read_scene: reads a file that write_scene wrote and prints what it holds.
//
//   read_scene FILE
//
// For every object (children indented under their parent): its name and type, the points and
// polygons of a polygon object, its tags, its animation tracks with their keys, and the lens of
// a camera.
#include <cstdio>

#include "lumora.h"

using namespace lumora;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Names are Strings; printf wants bytes.
const char* Text(const String& s, char (&buf)[128]) {
  s.GetCString(buf, sizeof buf, STRINGENCODING_UTF8);
  return buf;
}

void PrintObject(BaseObject* object, int depth) {
  char name[128];
  std::printf("%*sobject \"%s\", type %d\n", depth * 2, "", Text(object->GetName(), name),
              static_cast<int>(object->GetType()));
  const int in = depth * 2 + 2;
  const Vector64& p = object->GetRelPos();
  std::printf("%*sposition (%g, %g, %g)\n", in, "", p.x, p.y, p.z);

  // A polygon object says so when asked; a cast then gives its geometry.
  if (object->IsInstanceOf(TYPE_POLYGONOBJECT)) {
    PolygonObject* mesh = static_cast<PolygonObject*>(object);
    std::printf("%*s%d points, %d polygons\n", in, "", static_cast<int>(mesh->GetPointCount()),
                static_cast<int>(mesh->GetPolygonCount()));
  }

  // Tags: each class's Cast answers null for a tag of another kind.
  for (BaseTag* tag : Tags(object)) {
    std::printf("%*stag type %d", in, "", static_cast<int>(tag->GetType()));
    if (tag->GetType() == TAG_POINT || tag->GetType() == TAG_POLYGON) {
      std::printf(" (the %s themselves)", tag->GetType() == TAG_POINT ? "points" : "polygons");
    } else if (const UVWTag* uvw = UVWTag::Cast(tag)) {
      const UVWStruct first = uvw->Get(0);
      std::printf(" (UVW, %d polygons, first (%g, %g) to (%g, %g))",
                  static_cast<int>(uvw->GetCount()), first.a.x, first.a.y, first.c.x, first.c.y);
    } else if (const NormalTag* normals = NormalTag::Cast(tag)) {
      const NormalStruct first = normals->Get(0);
      std::printf(" (normals, %d polygons, first (%g, %g, %g))",
                  static_cast<int>(normals->GetCount()), first.a.x, first.a.y, first.a.z);
    }
    std::printf("\n");
  }

  // Tracks: one per animated parameter, its keys on the track's curve.
  for (CTrack* track : Tracks(object)) {
    std::printf("%*strack \"%s\"\n", in, "", Text(track->GetName(), name));
    for (const CKey* key : Keys(track->GetCurve(CCURVE_CURVE, false)))
      std::printf("%*skey at %gs: %g\n", in + 2, "", key->GetTime().Get(), key->GetValue());
  }

  // A camera: its parameters read by id; the field of view is derived from lens and sensor.
  if (object->GetType() == TYPE_CAMERAOBJECT) {
    GeData focus, aperture, fov;
    if (object->GetDParameter(DescID(CAMERAOBJECT_FOCUS), focus) &&
        object->GetDParameter(DescID(CAMERAOBJECT_APERTURE), aperture) &&
        object->GetDParameter(DescID(CAMERAOBJECT_FOV), fov)) {
      std::printf("%*sfocal length %g mm, sensor width %g mm, field of view %.2f degrees\n", in, "",
                  focus.GetFloat(), aperture.GetFloat(), fov.GetFloat() * 180 / kPi);
    }
  }

  for (BaseObject* child : Children(object)) PrintObject(child, depth + 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: read_scene FILE\n");
    return 2;
  }
  Scene scene;
  FileErrorInfo error;
  if (!scene.Read(Filename(argv[1]), &error)) {
    std::fprintf(stderr, "read_scene: %s\n", error.Describe());
    return 1;
  }
  for (BaseObject* object : Objects(scene.GetObjects())) PrintObject(object, 0);
  return 0;
}
