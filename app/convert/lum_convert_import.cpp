// From any file Assimp reads to a list of objects.
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <strings.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "animation/lum_ccurve.h"
#include "animation/lum_ckey.h"
#include "animation/lum_ctrack.h"
#include "convert/lum_convert_internal.h"
#include "lights/lum_cameraobjectdata.h"
#include "objects/lum_baseobject_rotation.h"
#include "objects/lum_normaltag.h"
#include "objects/lum_polygonobject.h"
#include "objects/lum_segmenttag.h"
#include "objects/lum_uvwtag.h"
#include "objects/lum_vertexcolortag.h"
#include "objects/lum_vertexmaptag.h"
#include "values/lum_desclevel.h"

namespace lumora {

namespace {

constexpr Int32 ID_POSITION = ID_BASEOBJECT_REL_POSITION;
constexpr Int32 ID_ROTATION = ID_BASEOBJECT_REL_ROTATION;
constexpr Int32 ID_SCALE = ID_BASEOBJECT_REL_SCALE;
constexpr Float kSensorWidth = 36.0;

String Name(const aiString& s) { return String(s.C_Str(), STRINGENCODING_UTF8); }

void FreeObject(BaseObject*& o) { BaseObject::Free(o); }

class Importer {
 public:
  Importer(aiScene* scene, const ConvertOptions& options, ConvertReport& report,
           const BaseArray<GltfNodeMatrix>& exact, const GltfExtras& extras)
      : _scene(scene), _options(options), _report(report), _exact(exact), _extras(extras) {}

  bool Build(RootObject* objects);

 private:
  BaseObject* Node(const aiNode* node, bool& ok);
  BaseObject* Mesh(const aiMesh* mesh, bool& ok);
  bool Faces(const aiMesh* mesh);
  BaseObject* MeshAt(unsigned index, bool& ok);
  void CountUses(const aiNode* node);
  BaseObject* Lines(const aiMesh* mesh, bool& ok);
  bool Camera(const aiCamera* camera, const GltfNodeMatrix* exact, BaseObject* object);
  const GltfNodeMatrix* Exact(const aiNode* node) const;
  bool Animate();
  Matrix64 LocalMatrix(const aiNode* node, const GltfNodeMatrix* found) const;
  void ReportScene();

  aiScene* _scene;         // ours: a mesh is freed once its last node has been converted
  BaseArray<Int32> _uses;  // per mesh, the nodes still to convert it
  const ConvertOptions& _options;
  ConvertReport& _report;
  const BaseArray<GltfNodeMatrix>& _exact;
  const GltfExtras& _extras;
  bool VertexMaps(const aiNode* node, BaseObject* object);
  const GltfCubicChannel* Cubic(const aiString& node, GltfPath path) const;
  bool Channel(const aiNodeAnim* ch, Float ticks);
  bool CubicRotation(BaseObject* object, const GltfCubicChannel& channel);
  // Every object made for a node, in the order of the nodes, for the animation channels.
  struct Made {
    const aiNode* node;
    BaseObject* object;
  };
  BaseArray<Made> _made;
  // Kept from mesh to mesh: a mesh's polygons, its n-gons (first polygon, count), an n-gon's
  // members, and each vertex's UV and normal as the tags store them.
  struct NormalCodes {
    Int16 v[4];  // the fourth pads a code to eight bytes
  };
  BaseArray<CPolygon> _polygons;  // _polygonCount of them hold the mesh's
  Int32 _polygonCount = 0;
  BaseArray<Int32> _ngons;
  BaseArray<UInt32> _members;
  BaseArray<SmallUVW> _uvCodes;
  BaseArray<NormalCodes> _normalCodes;
  Int32 _nodesDone = 0, _nodesTotal = 1;
};

// The node's local matrix in the file's axes: at double precision from the glTF itself when
// it names the node once and agrees with what Assimp read.
const GltfNodeMatrix* Importer::Exact(const aiNode* node) const {
  const GltfNodeMatrix* found = nullptr;
  for (const GltfNodeMatrix& e : _exact) {
    if (std::strcmp(e.name, node->mName.C_Str()) != 0) continue;
    if (found != nullptr) return nullptr;
    found = &e;
  }
  return found;
}

// found: the node's entry of the glTF's matrices (Exact), or null.
Matrix64 Importer::LocalMatrix(const aiNode* node, const GltfNodeMatrix* found) const {
  const aiMatrix4x4& a = node->mTransformation;
  const Matrix64 single(Vector64(a.a4, a.b4, a.c4), Vector64(a.a1, a.b1, a.c1),
                        Vector64(a.a2, a.b2, a.c2), Vector64(a.a3, a.b3, a.c3));
  if (found == nullptr) return single;
  const Matrix64& m = found->ml;
  const Vector64* x[4] = {&m.off, &m.v1, &m.v2, &m.v3};
  const Vector64* y[4] = {&single.off, &single.v1, &single.v2, &single.v3};
  for (int i = 0; i < 4; ++i) {
    const Float scale = std::max({1.0, std::fabs(x[i]->x), std::fabs(x[i]->y), std::fabs(x[i]->z)});
    if (std::fabs(x[i]->x - y[i]->x) > 1e-5 * scale ||
        std::fabs(x[i]->y - y[i]->y) > 1e-5 * scale || std::fabs(x[i]->z - y[i]->z) > 1e-5 * scale)
      return single;
  }
  return m;
}

// Makes array hold at least count elements; it never shrinks, so that what is kept from mesh
// to mesh is not constructed again. False beyond an array's reach or when memory runs out.
template <typename T>
bool Room(BaseArray<T>& array, UInt64 count) {
  return count <= UInt64(array.GetCount()) || (count <= 0x7FFFFFFF && array.Resize(Int32(count)));
}

// Whether every corner of face names a vertex of a mesh of nv vertices (a damaged file's may
// not).
bool Inside(const aiFace& face, unsigned nv) {
  for (unsigned i = 0; i < face.mNumIndices; ++i)
    if (face.mIndices[i] >= nv) return false;
  return true;
}

BaseObject* Importer::Lines(const aiMesh* mesh, bool& ok) {
  // Consecutive lines that share their ends make one segment.
  BaseArray<Int32> order;  // point indices, segment after segment
  BaseArray<Segment> segments;
  for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
    const aiFace& face = mesh->mFaces[f];
    if (face.mNumIndices != 2 || !Inside(face, mesh->mNumVertices)) continue;
    const Int32 a = Int32(face.mIndices[0]), b = Int32(face.mIndices[1]);
    if (segments.GetCount() > 0 && order[order.GetCount() - 1] == a) {
      ok = ok && order.Append(b);
      ++segments[segments.GetCount() - 1].cnt;
    } else {
      ok = ok && order.Append(a) && order.Append(b) && segments.Append(Segment{2, false});
    }
  }
  // A segment that ends where it began is closed.
  Int32 at = 0;
  for (Segment& s : segments) {
    if (s.cnt > 3 && order[at] == order[at + s.cnt - 1]) {
      s.closed = true;
      order.Erase(at + s.cnt - 1);
      --s.cnt;
    }
    at += s.cnt;
  }
  BaseObject* object = ok ? BaseObject::Alloc(TYPE_SPLINEOBJECT) : nullptr;
  PointObjectData* data =
      object != nullptr ? static_cast<PointObjectData*>(object->GetNodeData()) : nullptr;
  SegmentTag* tag = nullptr;
  if (data == nullptr || !data->_ResizeObject(order.GetCount()) ||
      (tag = SegmentTag::Cast(object->MakeTag(TAG_SEGMENT))) == nullptr ||
      !tag->Resize(segments.GetCount())) {
    if (object != nullptr) FreeObject(object);
    ok = false;
    return nullptr;
  }
  Vector64* points = static_cast<PointObject*>(object)->GetPointW();
  for (Int32 i = 0; i < order.GetCount(); ++i) {
    const aiVector3D& v = mesh->mVertices[order[i]];
    points[i] = Vector64(v.x, v.y, -v.z);
  }
  for (Int32 i = 0; i < segments.GetCount(); ++i) tag->GetSegmentW()[i] = segments[i];
  object->SetName(Name(mesh->mName));
  return object;
}

// Whether the triangle g, following the triangle f whose corners all lie inside the mesh, is
// the other half of one quadrangle as our export splits it: (a, d, c) then (a, c, b) in the
// file's corner order, four distinct points, b inside the mesh. Joined again, the quadrangle
// (a, b, c, d) is split along the same diagonal wherever it is drawn or exported.
bool OtherHalf(const unsigned* x, const aiFace& g, unsigned nv) {
  if (g.mNumIndices != 3) return false;
  const unsigned* y = g.mIndices;
  return x[0] == y[0] && x[2] == y[1] && y[2] < nv && x[0] != x[1] && x[0] != x[2] &&
         x[1] != x[2] && y[2] != x[0] && y[2] != x[1] && y[2] != x[2];
}

// The polygons of a mesh's faces in our corner order (reversed: face corner i becomes corner
// n - 1 - i, the first staying first), into _polygons (_polygonCount of them), and each n-gon's
// first polygon and count into _ngons. Faces of five or more corners become a fan of
// quadrangles (and a last triangle), the two halves of a split quadrangle that quadrangle (not
// when triangles were asked for). One pass: a face gives at most one polygon unless it is an
// n-gon, which makes room for the rest of its fan.
bool Importer::Faces(const aiMesh* mesh) {
  const unsigned faces = mesh->mNumFaces, nv = mesh->mNumVertices;
  const bool join = !_options.triangulate;
  _ngons.Flush();
  _polygonCount = 0;
  if (!Room(_polygons, faces)) return false;
  CPolygon* out = _polygons.GetArray();
  Int32 at = 0, skipped = 0, outside = 0;
  for (unsigned f = 0; f < faces; ++f) {
    const aiFace& face = mesh->mFaces[f];
    const unsigned n = face.mNumIndices;
    const unsigned* x = face.mIndices;
    if (n == 3) {
      if (x[0] >= nv || x[1] >= nv || x[2] >= nv) {
        ++outside;
      } else if (join && f + 1 < faces && OtherHalf(x, mesh->mFaces[f + 1], nv)) {
        const unsigned* y = mesh->mFaces[++f].mIndices;
        out[at++] = CPolygon(Int32(y[0]), Int32(y[2]), Int32(y[1]), Int32(x[1]));
      } else {
        out[at++] = CPolygon(Int32(x[0]), Int32(x[2]), Int32(x[1]), Int32(x[1]));
      }
    } else if (n < 3) {
      ++skipped;
    } else if (!Inside(face, nv)) {
      ++outside;
    } else if (n == 4) {
      out[at++] = CPolygon(Int32(x[0]), Int32(x[3]), Int32(x[2]), Int32(x[1]));
    } else {
      const Int32 fan = Int32((n - 1) / 2);
      if (!Room(_polygons, UInt64(at) + fan + (faces - f - 1)) || !_ngons.Append(at) ||
          !_ngons.Append(fan))
        return false;
      out = _polygons.GetArray();
      const Int32* xi = reinterpret_cast<const Int32*>(x);
      for (unsigned i = 1; i + 1 < n; i += 2)
        out[at++] =
            CPolygon(xi[0], xi[n - i], xi[n - i - 1], i + 2 < n ? xi[n - i - 2] : xi[n - i - 1]);
    }
  }
  _report.Add(skipped > 0 ? 1 : 0, "meshes with points or lines among their faces",
              "imported without them");
  _report.Add(outside, "faces naming vertices their mesh does not have", "not imported");
  _polygonCount = at;
  return true;
}

BaseObject* Importer::Mesh(const aiMesh* mesh, bool& ok) {
  if ((mesh->mPrimitiveTypes & (aiPrimitiveType_TRIANGLE | aiPrimitiveType_POLYGON)) == 0) {
    if ((mesh->mPrimitiveTypes & aiPrimitiveType_POINT) != 0)
      _report.Add(1, "point meshes", "not imported: the scene has no point primitives");
    if ((mesh->mPrimitiveTypes & aiPrimitiveType_LINE) != 0) return Lines(mesh, ok);
    return nullptr;
  }
  const Int32 nv = Int32(mesh->mNumVertices);
  const bool hasUv = mesh->HasTextureCoords(0), hasNormals = mesh->HasNormals();
  const bool hasColors = mesh->HasVertexColors(0);
  BaseObject* result = Faces(mesh) ? BaseObject::Alloc(TYPE_POLYGONOBJECT) : nullptr;
  PolygonObject* object = static_cast<PolygonObject*>(result);
  const Int32 polys = _polygonCount, ngons = _ngons.GetCount() / 2;
  UVWTag* uvw = nullptr;
  NormalTag* normals = nullptr;
  VertexColorTag* colors = nullptr;
  // Each vertex's UV and normal encoded once, then copied into every corner that uses it.
  if (object == nullptr || !object->ResizeObject(nv, polys, ngons) ||
      (hasUv && ((uvw = UVWTag::Cast(object->MakeTag(TAG_UVW))) == nullptr || !uvw->Resize(polys) ||
                 !Room(_uvCodes, UInt64(nv)))) ||
      (hasNormals && ((normals = NormalTag::Cast(object->MakeTag(TAG_NORMAL))) == nullptr ||
                      !normals->Resize(polys) || !Room(_normalCodes, UInt64(nv)))) ||
      (hasColors &&
       ((colors = VertexColorTag::Cast(object->MakeTag(TAG_VERTEXCOLOR))) == nullptr ||
        !colors->Resize(nv, VertexColorTag::POINT_BYTES) || !colors->SetPerPointColor(true)))) {
    if (result != nullptr) FreeObject(result);
    ok = false;
    return nullptr;
  }
  object->SetName(Name(mesh->mName));
  Vector64* points = object->GetPointW();
  for (Int32 v = 0; v < nv; ++v) {
    const aiVector3D& p = mesh->mVertices[v];
    points[v] = Vector64(p.x, p.y, -p.z);
  }
  for (Int32 v = 0; v < nv && hasColors; ++v) {
    const aiColor4D& c = mesh->mColors[0][v];
    colors->GetColorW()[v] = ColorA32{c.r, c.g, c.b, c.a};
  }
  for (unsigned k = 1; k < AI_MAX_NUMBER_OF_TEXTURECOORDS; ++k)
    if (mesh->HasTextureCoords(k))
      _report.Add(1, "further texture coordinate sets", "not imported: one per mesh is carried");
  for (unsigned k = 1; k < AI_MAX_NUMBER_OF_COLOR_SETS; ++k)
    if (mesh->HasVertexColors(k))
      _report.Add(1, "further vertex colour sets", "not imported: one per mesh is carried");
  for (Int32 v = 0; v < nv && hasUv; ++v) {
    const aiVector3D& t = mesh->mTextureCoords[0][v];
    _uvCodes[v] = _PackUV(t.x, 1.0 - t.y);
  }
  for (Int32 v = 0; v < nv && hasNormals; ++v) {
    const aiVector3D& q = mesh->mNormals[v];
    _normalCodes[v] =
        NormalCodes{{NormalTag::Pack(q.x), NormalTag::Pack(q.y), NormalTag::Pack(-q.z), 0}};
  }
  const CPolygon* in = _polygons.GetArray();
  std::copy(in, in + polys, object->GetPolygonW());
  if (hasUv) {
    UVWPolygon* out = uvw->GetUVWW();
    const SmallUVW* code = _uvCodes.GetArray();
    for (Int32 i = 0; i < polys; ++i)
      out[i] = UVWPolygon{code[in[i].a], code[in[i].b], code[in[i].c], code[in[i].d]};
  }
  if (hasNormals) {
    NormalPolygon* out = normals->GetNormalW();
    const NormalCodes* code = _normalCodes.GetArray();
    // A corner's three components as one eight-byte copy whose last two bytes the next
    // corner overwrites; the last corner's six alone.
    for (Int32 i = 0; i < polys; ++i) {
      Int16* v = out[i].v;
      std::memcpy(v, code + in[i].a, 8);
      std::memcpy(v + 3, code + in[i].b, 8);
      std::memcpy(v + 6, code + in[i].c, 8);
      std::memcpy(v + 9, code + in[i].d, 6);
    }
  }
  if (ngons > 0) {
    NgonBase* base = static_cast<PolygonObjectData*>(object->GetNodeData())->GetNgonBase();
    for (Int32 g = 0; g < ngons && ok; ++g) {
      const Int32 first = _ngons[2 * g], count = _ngons[2 * g + 1];
      ok = _members.Resize(count);
      for (Int32 i = 0; i < count && ok; ++i) _members[i] = UInt32(first + i);
      ok = ok && base->GetRecord(g)->Set(_members.GetArray(), count);
    }
  }
  if (!ok) FreeObject(result);
  return result;
}

// The nodes naming each mesh, so that a mesh can go as soon as its objects are made: the
// scene's geometry and ours are not held whole at the same time.
void Importer::CountUses(const aiNode* node) {
  for (unsigned i = 0; i < node->mNumMeshes; ++i)
    if (node->mMeshes[i] < _scene->mNumMeshes) ++_uses[Int32(node->mMeshes[i])];
  for (unsigned i = 0; i < node->mNumChildren; ++i) CountUses(node->mChildren[i]);
}

BaseObject* Importer::MeshAt(unsigned index, bool& ok) {
  aiMesh*& mesh = _scene->mMeshes[index];
  BaseObject* object = Mesh(mesh, ok);
  if (--_uses[Int32(index)] == 0) {
    delete mesh;
    mesh = nullptr;
  }
  return object;
}

bool Importer::Camera(const aiCamera* camera, const GltfNodeMatrix* exact, BaseObject* object) {
  // Assimp gives half the horizontal angle, except from glTF: there the file's own angle and
  // aspect are taken.
  Float half = camera->mHorizontalFOV;
  if (exact != nullptr && exact->yfov > 0.0) {
    const Float aspect = exact->aspect > 0.0 ? exact->aspect : _options.cameraAspect;
    half = std::atan(std::tan(exact->yfov * 0.5) * aspect);
  }
  if (half <= 0.0) {
    _report.Add(1, "orthographic cameras", "imported as perspective cameras with the default lens");
    return true;
  }
  const Float focus = kSensorWidth * 0.5 / std::tan(half);
  return object->SetDParameter(DescID(CAMERAOBJECT_APERTURE), GeData(kSensorWidth)) &&
         object->SetDParameter(DescID(CAMERAOBJECT_FOCUS), GeData(focus));
}

// The camera's own frame inside its node (Assimp gives position, look and up there), in the
// node's axes: it looks along -Z, Y up.
Matrix64 CameraFrame(const aiCamera* c) {
  Vector64 z(-c->mLookAt.x, -c->mLookAt.y, -c->mLookAt.z);
  Vector64 y(c->mUp.x, c->mUp.y, c->mUp.z);
  const Float lz = std::sqrt(z.x * z.x + z.y * z.y + z.z * z.z);
  if (lz == 0.0) return Matrix64();
  z = (1.0 / lz) * z;
  const Float d = y.x * z.x + y.y * z.y + y.z * z.z;
  y = y - d * z;
  const Float ly = std::sqrt(y.x * y.x + y.y * y.y + y.z * y.z);
  if (ly == 0.0) return Matrix64();
  y = (1.0 / ly) * y;
  const Vector64 x(y.y * z.z - y.z * z.y, y.z * z.x - y.x * z.z, y.x * z.y - y.y * z.x);
  return Matrix64(Vector64(c->mPosition.x, c->mPosition.y, c->mPosition.z), x, y, z);
}

BaseObject* Importer::Node(const aiNode* node, bool& ok) {
  const aiCamera* camera = nullptr;
  for (unsigned i = 0; i < _scene->mNumCameras && camera == nullptr; ++i)
    if (_scene->mCameras[i]->mName == node->mName) camera = _scene->mCameras[i];
  const GltfNodeMatrix* exact = Exact(node);
  const Matrix64 local = LocalMatrix(node, exact);

  // A node with one mesh is that mesh's object; with several, an object holding one per mesh.
  BaseObject* object = nullptr;
  Int32 firstChildMesh = 0;
  if (camera != nullptr) {
    object = BaseObject::Alloc(TYPE_CAMERAOBJECT);
    if (object != nullptr && !Camera(camera, exact, object)) FreeObject(object);
  } else if (node->mNumMeshes == 1) {
    object = MeshAt(node->mMeshes[0], ok);
    firstChildMesh = 1;
    if (object == nullptr && ok) object = BaseObject::Alloc(TYPE_OBJECT);
  } else {
    object = BaseObject::Alloc(TYPE_OBJECT);
  }
  if (object == nullptr || !ok) {
    if (object != nullptr) FreeObject(object);
    ok = false;
    return nullptr;
  }
  object->SetName(Name(node->mName));
  if (_extras.attributes.GetCount() > 0 && firstChildMesh == 1 && !VertexMaps(node, object)) {
    FreeObject(object);
    ok = false;
    return nullptr;
  }
  // A glTF camera looks along -Z of its node (Assimp's importer copies the node's placement
  // into the camera as well); other formats place the camera inside its node.
  const bool gltfCamera = exact != nullptr && exact->yfov > 0.0;
  object->SetMl(_FlipZ(camera != nullptr && !gltfCamera ? local * CameraFrame(camera) : local));
  if (!_made.Append(Made{node, object})) {
    FreeObject(object);
    ok = false;
    return nullptr;
  }
  for (unsigned i = unsigned(firstChildMesh); i < node->mNumMeshes && ok; ++i) {
    BaseObject* child = MeshAt(node->mMeshes[i], ok);
    if (child != nullptr) child->InsertUnderLast(object);
  }
  for (unsigned i = 0; i < node->mNumChildren && ok; ++i) {
    BaseObject* child = Node(node->mChildren[i], ok);
    if (child != nullptr) child->InsertUnderLast(object);
  }
  if (_options.progress != nullptr)
    _options.progress(_options.progressUser, 0.5 + 0.4 * ++_nodesDone / _nodesTotal);
  return object;
}

// The glTF's custom attributes of the node's mesh as vertex maps: the importer keeps a point
// per vertex, so a value per vertex is a value per point.
bool Importer::VertexMaps(const aiNode* node, BaseObject* object) {
  if (object->GetType() != TYPE_POLYGONOBJECT) return true;
  const Int32 points = static_cast<PolygonObject*>(object)->GetPointCount();
  for (const GltfAttribute& a : _extras.attributes) {
    if (std::strcmp(a.node, node->mName.C_Str()) != 0) continue;
    if (a.count != points) {
      _report.Add(1, "custom vertex attributes", "not imported: their count is not the mesh's");
      continue;
    }
    VertexMapTag* map = VertexMapTag::Cast(object->MakeTag(TAG_VERTEXMAP));
    if (map == nullptr || !map->Resize(points)) return false;
    map->SetName(String(a.name, STRINGENCODING_UTF8));
    std::memcpy(map->GetWeightW(), _extras.data.GetArray() + a.offset, size_t(points) * 4);
  }
  return true;
}

const GltfCubicChannel* Importer::Cubic(const aiString& node, GltfPath path) const {
  for (const GltfCubicChannel& c : _extras.cubics)
    if (c.path == path && c.keys > 1 && std::strcmp(c.node, node.C_Str()) == 0) return &c;
  return nullptr;
}

// The curve of a new track on component k of vector parameter id, named "label . X" and so on,
// inserted among the object's tracks in order; null when it cannot be made.
CCurve* AddComponentCurve(BaseObject* object, Int32 id, const char* label, Int32 k) {
  static const char* kAxis[3] = {"X", "Y", "Z"};
  char name[64];
  std::snprintf(name, sizeof name, "%s . %s", label, kAxis[k]);
  const DescID d(DescLevel(id, DTYPE_VECTOR, 0), DescLevel(VECTOR_X + k, VALUETYPE_FLOAT, 0));
  CTrack* track = CTrack::Alloc(object, d, String(name));
  if (track == nullptr) return nullptr;
  if (!object->InsertTrackSorted(track)) {
    CTrack::Free(track);
    return nullptr;
  }
  return track->GetCurve();
}

// The keys of a glTF cubic-spline channel as spline keys: key i's tangents (in, out; per
// second) become handles a third of the neighbouring interval long, which makes the curve's
// cubic the channel's own. flip mirrors z (positions); still as for AddTracks.
bool AddSplineTracks(BaseObject* object, Int32 id, const char* label, const Float32* keys, Int32 n,
                     bool flip, const Vector64& still) {
  for (Int32 k = 0; k < 3; ++k) {
    const Float sign = flip && k == 2 ? -1.0 : 1.0;
    const Float s = k == 0 ? still.x : k == 1 ? still.y : still.z;
    bool moves = false;
    for (Int32 i = 0; i < n && !moves; ++i) {
      const Float32* key = keys + 10 * i;
      moves = std::fabs(sign * key[4 + k] - s) > 1e-6 * std::max(1.0, std::fabs(s)) ||
              key[1 + k] != 0.0f || key[7 + k] != 0.0f;
    }
    if (!moves) continue;
    CCurve* curve = AddComponentCurve(object, id, label, k);
    if (curve == nullptr) return false;
    for (Int32 i = 0; i < n; ++i) {
      const Float32* key = keys + 10 * i;
      CKey* ck = curve->AddKey(BaseTime(key[0]));
      if (ck == nullptr) return false;
      ck->SetValue(curve, sign * key[4 + k]);
      ck->SetInterpolation(curve, CINTERPOLATION_SPLINE);
      const Float before = i > 0 ? (key[0] - key[-10]) / 3.0 : 0.0;
      const Float after = i + 1 < n ? (key[10] - key[0]) / 3.0 : 0.0;
      ck->SetTimeLeft(curve, BaseTime(-before));
      ck->SetValueLeft(curve, -sign * key[1 + k] * before);
      ck->SetTimeRight(curve, BaseTime(after));
      ck->SetValueRight(curve, sign * key[7 + k] * after);
    }
  }
  return true;
}

// One track per component of a vector parameter, its keys linear. A component that keeps the
// object's own value (still) throughout, to single precision, gets no track: the channel gives
// all three components, most of them often unmoving, and a key is a whole node.
bool AddTracks(BaseObject* object, Int32 id, const char* label, const BaseArray<Float>& times,
               const BaseArray<Vector64>& values, const Vector64& still) {
  for (Int32 k = 0; k < 3; ++k) {
    auto at = [k](const Vector64& v) { return k == 0 ? v.x : k == 1 ? v.y : v.z; };
    const Float s = at(still);
    bool moves = false;
    for (Int32 i = 0; i < values.GetCount() && !moves; ++i)
      moves = std::fabs(at(values[i]) - s) > 1e-6 * std::max(1.0, std::fabs(s));
    if (!moves) continue;
    CCurve* curve = AddComponentCurve(object, id, label, k);
    if (curve == nullptr) return false;
    for (Int32 i = 0; i < times.GetCount(); ++i) {
      CKey* key = curve->AddKey(BaseTime(times[i]));
      if (key == nullptr) return false;
      const Vector64& v = values[i];
      key->SetValue(curve, k == 0 ? v.x : k == 1 ? v.y : v.z);
      key->SetInterpolation(curve, CINTERPOLATION_LINEAR);
    }
  }
  return true;
}

// A rotation in the file's axes as a matrix in ours.
Matrix64 Rotation(const aiQuaternion& q) {
  const aiMatrix3x3 r = q.GetMatrix();
  return _FlipZ(Matrix64(Vector64(), Vector64(r.a1, r.b1, r.c1), Vector64(r.a2, r.b2, r.c2),
                         Vector64(r.a3, r.b3, r.c3)));
}

// A rotation (in the file's axes) as angles of order near last (in ours).
Vector64 Angles(const aiQuaternion& q, ROTATIONORDER order, const Vector64& last) {
  return GetOptimalAngle(last, MatrixToHPB(Rotation(q), order), order);
}

// A cubic-spline rotation channel at t: glTF's cubic Hermite of the quaternion's components
// between the keys around t (keys of time, in-tangent, value, out-tangent), normalised.
aiQuaternion CubicQuaternion(const Float32* keys, Int32 n, Float t) {
  Int32 lo = 0, hi = n - 1;  // the interval: keys lo and lo + 1
  while (hi - lo > 1) {
    const Int32 mid = (lo + hi) / 2;
    (t < keys[13 * mid] ? hi : lo) = mid;
  }
  const Float32 *a = keys + 13 * lo, *b = a + 13;
  const Float d = Float(b[0]) - a[0];
  const Float s = d > 0.0 ? std::min(1.0, std::max(0.0, (t - a[0]) / d)) : 0.0;
  const Float s2 = s * s, s3 = s2 * s;
  Float q[4], length = 0.0;
  for (int k = 0; k < 4; ++k) {
    q[k] = (2 * s3 - 3 * s2 + 1) * a[5 + k] + (s3 - 2 * s2 + s) * d * a[9 + k] +
           (-2 * s3 + 3 * s2) * b[5 + k] + (s3 - s2) * d * b[1 + k];
    length += q[k] * q[k];
  }
  length = length > 0.0 ? std::sqrt(length) : 1.0;
  return aiQuaternion(float(q[3] / length), float(q[0] / length), float(q[1] / length),
                      float(q[2] / length));
}

// A cubic-spline rotation channel as linear keys on the angle curves: its quaternions' tangents
// do not map onto the angles' handles, so the channel is sampled at its keys and between them
// until the angles' linear interpolation stays within the tolerance of each angle's range.
bool Importer::CubicRotation(BaseObject* object, const GltfCubicChannel& channel) {
  const Float32* keys = _extras.data.GetArray() + channel.offset;
  const Int32 n = channel.keys;
  const ROTATIONORDER order = object->GetRotationOrder();
  Vector64 lo, hi, last = object->GetRelRot();
  for (Int32 i = 0; i < n; ++i) {
    last = Angles(CubicQuaternion(keys, n, keys[13 * i]), order, last);
    lo = i == 0 ? last
                : Vector64(std::min(lo.x, last.x), std::min(lo.y, last.y), std::min(lo.z, last.z));
    hi = i == 0 ? last
                : Vector64(std::max(hi.x, last.x), std::max(hi.y, last.y), std::max(hi.z, last.z));
  }
  // The rotation's error as the largest difference of the matrices' entries, within the
  // tolerance of the largest angle's range (as the export's rotations are sampled).
  const Vector64 range = hi - lo;
  const Float tolerance =
      _options.animationTolerance * std::max({range.x, range.y, range.z, Float(1e-2)});
  auto strays = [&](Float t0, Float t1, Float t) {
    const Vector64 a = Angles(CubicQuaternion(keys, n, t0), order, object->GetRelRot());
    const Vector64 b = Angles(CubicQuaternion(keys, n, t1), order, a);
    const Matrix64 m = HPBToMatrix(a + (t - t0) / (t1 - t0) * (b - a), order);
    const Matrix64 v = Rotation(CubicQuaternion(keys, n, t));
    const Vector64 e[3] = {m.v1 - v.v1, m.v2 - v.v2, m.v3 - v.v3};
    for (const Vector64& d : e)
      if (std::fabs(d.x) > tolerance || std::fabs(d.y) > tolerance || std::fabs(d.z) > tolerance)
        return true;
    return false;
  };
  BaseArray<Float> times;
  BaseArray<Vector64> values;
  for (Int32 i = 0; i < n; ++i) {
    if (!times.Append(keys[13 * i])) return false;
    if (i + 1 < n && !_Refine(times, keys[13 * i], keys[13 * (i + 1)], 10, strays)) return false;
  }
  // Keys lie on whole milliseconds: each takes the rotation at its own time.
  Int32 kept = 0;
  last = object->GetRelRot();
  for (const Float t : times) {
    const Float at = BaseTime(t).Get();
    if (kept > 0 && at == times[kept - 1]) continue;
    times[kept++] = at;
    if (!values.Append(last = Angles(CubicQuaternion(keys, n, at), order, last))) return false;
  }
  times.Resize(kept);
  return AddTracks(object, ID_ROTATION, "Rotation", times, values, object->GetRelRot());
}

// One channel of the animation as tracks of its node's object.
bool Importer::Channel(const aiNodeAnim* ch, Float ticks) {
  BaseObject* object = nullptr;
  for (const Made& m : _made)
    if (m.node->mName == ch->mNodeName) object = m.object;
  if (object == nullptr) {
    _report.Add(1, "animation channels", "not imported: they name no node");
    return true;
  }
  BaseArray<Float> times;
  BaseArray<Vector64> values;
  auto vectorKeys = [&](const aiVectorKey* keys, unsigned count, Float flip) {
    times.Flush();
    values.Flush();
    for (unsigned i = 0; i < count; ++i) {
      const aiVectorKey& k = keys[i];
      if (!times.Append(k.mTime / ticks) ||
          !values.Append(Vector64(k.mValue.x, k.mValue.y, flip * k.mValue.z)))
        return false;
    }
    return true;
  };
  if (const GltfCubicChannel* c = Cubic(ch->mNodeName, GltfPath::TRANSLATION)) {
    if (!AddSplineTracks(object, ID_POSITION, "Position", _extras.data.GetArray() + c->offset,
                         c->keys, true, object->GetRelPos()))
      return false;
  } else if (ch->mNumPositionKeys > 1) {
    if (!vectorKeys(ch->mPositionKeys, ch->mNumPositionKeys, -1.0) ||
        !AddTracks(object, ID_POSITION, "Position", times, values, object->GetRelPos()))
      return false;
  }
  if (const GltfCubicChannel* c = Cubic(ch->mNodeName, GltfPath::ROTATION)) {
    if (!CubicRotation(object, *c)) return false;
  } else if (ch->mNumRotationKeys > 1) {
    times.Flush();
    values.Flush();
    const ROTATIONORDER order = object->GetRotationOrder();
    Vector64 last = object->GetRelRot();
    for (unsigned i = 0; i < ch->mNumRotationKeys; ++i) {
      const aiQuatKey& k = ch->mRotationKeys[i];
      if (!times.Append(k.mTime / ticks) || !values.Append(last = Angles(k.mValue, order, last)))
        return false;
    }
    if (!AddTracks(object, ID_ROTATION, "Rotation", times, values, object->GetRelRot()))
      return false;
  }
  if (const GltfCubicChannel* c = Cubic(ch->mNodeName, GltfPath::SCALE)) {
    if (!AddSplineTracks(object, ID_SCALE, "Scale", _extras.data.GetArray() + c->offset, c->keys,
                         false, object->GetRelScale()))
      return false;
  } else if (ch->mNumScalingKeys > 1) {
    if (!vectorKeys(ch->mScalingKeys, ch->mNumScalingKeys, 1.0) ||
        !AddTracks(object, ID_SCALE, "Scale", times, values, object->GetRelScale()))
      return false;
  }
  return true;
}

bool Importer::Animate() {
  if (_scene->mNumAnimations == 0) return true;
  _report.Add(Int32(_scene->mNumAnimations) - 1, "further animations",
              "not imported: the scene keeps one");
  aiAnimation* anim = _scene->mAnimations[0];
  const Float ticks = anim->mTicksPerSecond > 0.0 ? anim->mTicksPerSecond : 25.0;
  _report.Add(Int32(anim->mNumMeshChannels + anim->mNumMorphMeshChannels),
              "mesh animation channels", "not imported: morph targets are not carried");
  // Each channel goes once its tracks are made: its keys and ours are not held whole together.
  for (unsigned c = 0; c < anim->mNumChannels; ++c) {
    if (!Channel(anim->mChannels[c], ticks)) return false;
    delete anim->mChannels[c];
    anim->mChannels[c] = nullptr;
  }
  return true;
}

Int32 CountNodes(const aiNode* node) {
  Int32 n = 1;
  for (unsigned i = 0; i < node->mNumChildren; ++i) n += CountNodes(node->mChildren[i]);
  return n;
}

void Importer::ReportScene() {
  Int32 bones = 0, morphs = 0;
  for (unsigned i = 0; i < _scene->mNumMeshes; ++i) {
    bones += _scene->mMeshes[i]->mNumBones > 0 ? 1 : 0;
    morphs += _scene->mMeshes[i]->mNumAnimMeshes > 0 ? 1 : 0;
  }
  _report.Add(bones, "skinned meshes", "imported without their skins");
  _report.Add(morphs, "meshes with morph targets", "imported without them");
  _report.Add(Int32(_scene->mNumTextures), "embedded textures", "not imported");
  _report.Add(Int32(_scene->mNumLights), "lights", "imported as empty objects");
  // Assimp adds a default material where the file has none (the glTF importer an unnamed one
  // after the file's), and our export writes one named "default": neither is lost. A glTF's
  // own are counted from the file.
  Int32 materials = std::max(_extras.materials, Int32(0));
  for (unsigned i = 0; i < _scene->mNumMaterials && _extras.materials < 0; ++i) {
    aiString name;
    _scene->mMaterials[i]->Get(AI_MATKEY_NAME, name);
    bool used = false;
    for (unsigned m = 0; m < _scene->mNumMeshes && !used; ++m)
      used = _scene->mMeshes[m]->mMaterialIndex == i;
    if ((used || name.length > 0) && std::strcmp(name.C_Str(), AI_DEFAULT_MATERIAL_NAME) != 0 &&
        std::strcmp(name.C_Str(), "default") != 0)
      ++materials;
  }
  _report.Add(materials, "materials", "not imported: the scene keeps no materials");
}

bool Importer::Build(RootObject* objects) {
  const aiNode* root = _scene->mRootNode;
  if (root == nullptr) return true;
  _nodesTotal = CountNodes(root);
  ReportScene();
  if (!_uses.Resize(Int32(_scene->mNumMeshes))) return false;
  std::fill(_uses.begin(), _uses.end(), 0);
  CountUses(root);
  // A root that only groups (no mesh, no transform, no camera) is not kept: its children are
  // the scene's top objects.
  bool plain = root->mNumMeshes == 0 && root->mTransformation.IsIdentity();
  for (unsigned i = 0; i < _scene->mNumCameras; ++i)
    if (_scene->mCameras[i]->mName == root->mName) plain = false;
  for (unsigned i = 0; i < (_scene->mAnimations != nullptr ? _scene->mNumAnimations : 0); ++i)
    for (unsigned c = 0; c < _scene->mAnimations[i]->mNumChannels; ++c)
      if (_scene->mAnimations[i]->mChannels[c]->mNodeName == root->mName) plain = false;
  bool ok = true;
  RootObject built;
  if (plain) {
    for (unsigned i = 0; i < root->mNumChildren && ok; ++i) {
      BaseObject* o = Node(root->mChildren[i], ok);
      if (o != nullptr) built.InsertLast(o);
    }
  } else {
    BaseObject* o = Node(root, ok);
    if (o != nullptr) built.InsertLast(o);
  }
  ok = ok && Animate();
  if (!ok) return false;
  while (BaseObject* o = built.GetFirst()) {
    o->Remove();
    objects->InsertLast(o);
  }
  return true;
}

// Whether the file's format keeps no materials, so that the one Assimp's importer makes from its
// defaults (unnamed) stands for none: OFF has none, a PLY file only what a material element of
// its header declares.
bool HasNoMaterials(const char* path) {
  const char* dot = std::strrchr(path, '.');
  if (dot == nullptr || strcasecmp(dot, ".ply") != 0)
    return dot != nullptr && strcasecmp(dot, ".off") == 0;
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  char head[8192];
  const size_t n = std::fread(head, 1, sizeof head - 1, f);
  std::fclose(f);
  head[n] = 0;
  const char* end = std::strstr(head, "end_header");
  const char* material = std::strstr(head, "element material");
  return end != nullptr && (material == nullptr || material > end);
}

}  // namespace

bool ImportObjects(const char* path, RootObject* objects, const ConvertOptions& options,
                   ConvertReport& report) {
  Assimp::Importer importer;
  const unsigned flags = options.triangulate ? aiProcess_Triangulate : 0u;
  if (importer.ReadFile(path, flags) == nullptr) {
    report.Fail(-3, "%s: %s", path, importer.GetErrorString());
    return false;
  }
  // Ours from here: the conversion frees each mesh when it has been carried over.
  aiScene* scene = importer.GetOrphanedScene();
  struct Owned {
    aiScene* scene;
    ~Owned() { delete scene; }
  } owned{scene};
  if (options.progress != nullptr) options.progress(options.progressUser, 0.5);
  BaseArray<GltfNodeMatrix> exact;
  GltfExtras extras;
  if (!_ReadGltf(path, exact, extras)) {
    report.Fail(-7, "%s: out of memory", path);
    return false;
  }
  if (HasNoMaterials(path)) extras.materials = 0;
  Importer builder(scene, options, report, exact, extras);
  if (!builder.Build(objects)) {
    report.Fail(-7, "%s: out of memory building the objects", path);
    return false;
  }
  if (options.progress != nullptr) options.progress(options.progressUser, 1.0);
  return true;
}

}  // namespace lumora
