// write_scene: builds a small scene in memory and writes it to a file.
//
//   write_scene FILE
//
// The scene holds two objects: a cube made of six quadrangles, with a UVW tag (texture
// coordinates) and a normal tag, whose position is animated along X and Y; and a camera with a
// 50 mm lens. read_scene prints what such a file holds.
//
// The program links lumora::lumora and lumora::app: the application library brings the memory
// functions and the object classes (the camera's among them), so there is nothing to define here.
#include <cstdio>

#include "lumora.h"

using namespace lumora;

namespace {

// The cube's corners and its faces, each face a quadrangle of four corner indices.
const Vector64 kCorners[8] = {{-100, -100, -100}, {100, -100, -100}, {100, 100, -100},
                              {-100, 100, -100},  {-100, -100, 100}, {100, -100, 100},
                              {100, 100, 100},    {-100, 100, 100}};
const Int32 kFaces[6][4] = {{0, 1, 2, 3}, {5, 4, 7, 6}, {4, 0, 3, 7},
                            {1, 5, 6, 2}, {3, 2, 6, 7}, {4, 5, 1, 0}};
const Vector64 kFaceNormals[6] = {{0, 0, -1}, {0, 0, 1}, {-1, 0, 0},
                                  {1, 0, 0},  {0, 1, 0}, {0, -1, 0}};

// A track on one component of the position, with a key per (seconds, value) pair.
bool AnimatePosition(BaseObject* object, Int32 component, const char* name,
                     const Float64 (*keys)[2], Int32 count) {
  // The position is a vector parameter; each animated component has a track of its own.
  const DescID id = VectorComponentID(ID_BASEOBJECT_REL_POSITION, component);
  CTrack* track = CTrack::Alloc(object, id, String(name));
  if (track == nullptr) return false;
  if (!object->InsertTrackSorted(track)) {  // the object owns the track from here on
    CTrack::Free(track);
    return false;
  }
  CCurve* curve = track->GetCurve();
  for (Int32 i = 0; i < count; ++i) {
    CKey* key = curve->AddKey(BaseTime(keys[i][0]));
    if (key == nullptr) return false;
    key->SetValue(curve, keys[i][1]);
  }
  return true;
}

// The cube: points, polygons, one UVW and one normal per polygon corner, and its animation.
BaseObject* MakeCube() {
  PolygonObject* cube = PolygonObject::Alloc(8, 6);
  if (cube == nullptr) return nullptr;
  cube->SetName(String("Cube"));
  for (Int32 i = 0; i < 8; ++i) cube->GetPointW()[i] = kCorners[i];
  for (Int32 i = 0; i < 6; ++i) {
    const Int32* f = kFaces[i];
    cube->GetPolygonW()[i] = CPolygon(f[0], f[1], f[2], f[3]);
  }
  // A new tag is empty: it is sized to one record per polygon before it is filled.
  UVWTag* uvw = UVWTag::Cast(cube->MakeTag(TAG_UVW));
  NormalTag* normals = NormalTag::Cast(cube->MakeTag(TAG_NORMAL));
  if (uvw == nullptr || normals == nullptr || !uvw->Resize(6) || !normals->Resize(6)) {
    BaseObject* object = cube;
    BaseObject::Free(object);
    return nullptr;
  }
  for (Int32 i = 0; i < 6; ++i) {
    // Every face shows the whole texture; all four corners share the face's normal.
    uvw->Set(i, UVWStruct{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    const Vector64& n = kFaceNormals[i];
    normals->Set(i, NormalStruct{n, n, n, n});
  }
  // Over two seconds the cube moves right and back along X, and hops once along Y.
  const Float64 x[3][2] = {{0, 0}, {1, 300}, {2, 0}};
  const Float64 y[2][2] = {{0.5, 0}, {1.5, 150}};
  if (!AnimatePosition(cube, VECTOR_X, "Position . X", x, 3) ||
      !AnimatePosition(cube, VECTOR_Y, "Position . Y", y, 2)) {
    BaseObject* object = cube;
    BaseObject::Free(object);
    return nullptr;
  }
  return cube;
}

// The camera: its lens and sensor are parameters, set by id like any other.
BaseObject* MakeCamera() {
  BaseObject* camera = BaseObject::Alloc(TYPE_CAMERAOBJECT);
  if (camera == nullptr) return nullptr;
  camera->SetName(String("Camera"));
  camera->SetRelPos(Vector64(0, 200, -800));
  if (!camera->SetDParameter(DescID(CAMERAOBJECT_FOCUS), GeData(50.0)) ||
      !camera->SetDParameter(DescID(CAMERAOBJECT_APERTURE), GeData(36.0))) {
    BaseObject::Free(camera);
    return nullptr;
  }
  return camera;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_scene FILE\n");
    return 2;
  }
  // The scene's object list owns what is inserted into it and frees it with the scene.
  Scene scene;
  BaseObject* cube = MakeCube();
  BaseObject* camera = MakeCamera();
  if (cube != nullptr) scene.GetObjects()->InsertLast(cube);
  if (camera != nullptr) scene.GetObjects()->InsertLast(camera);
  if (cube == nullptr || camera == nullptr) {
    std::fprintf(stderr, "write_scene: out of memory\n");
    return 1;
  }
  // Written to a temporary file and renamed over FILE: a failure leaves FILE as it was.
  FileErrorInfo error;
  if (!scene.Write(Filename(argv[1]), &error)) {
    std::fprintf(stderr, "write_scene: %s\n", error.Describe());
    return 1;
  }
  return 0;
}
