// From a list of objects to an Assimp scene and through Assimp's exporter to a file.
#include <assimp/scene.h>
#include <assimp/version.h>

#include <algorithm>
#include <assimp/Exporter.hpp>
#include <assimp/ProgressHandler.hpp>
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

aiMatrix4x4 _ToAssimp(const Matrix64& m) {
  const Matrix64 f = _FlipZ(m);
  return aiMatrix4x4(float(f.v1.x), float(f.v2.x), float(f.v3.x), float(f.off.x),  //
                     float(f.v1.y), float(f.v2.y), float(f.v3.y), float(f.off.y),  //
                     float(f.v1.z), float(f.v2.z), float(f.v3.z), float(f.off.z),  //
                     0.0f, 0.0f, 0.0f, 1.0f);
}

Matrix64 _FlipZ(const Matrix64& m) {
  // F M F: the z row and the z column change sign (their shared entry keeps it).
  return Matrix64(Vector64(m.off.x, m.off.y, -m.off.z), Vector64(m.v1.x, m.v1.y, -m.v1.z),
                  Vector64(m.v2.x, m.v2.y, -m.v2.z), Vector64(-m.v3.x, -m.v3.y, m.v3.z));
}

FormatTraits _TraitsOf(const char* id) {
  static const struct {
    const char* id;
    FormatTraits traits;
  } kFormats[] = {
      {"gltf2", {true, true, true, true, true, true}},
      {"glb2", {true, true, true, true, true, true}},
      {"gltf", {true, true, false, false, true, false}},
      {"glb", {true, true, false, false, true, false}},
      {"collada", {false, true, true, true, true, false}},
      {"assbin", {false, true, true, true, true, false}},
      {"assxml", {false, true, true, true, true, false}},
      {"assjson", {false, true, true, true, true, false}},
      {"obj", {false, true, false, false, false, false}},
      {"objnomtl", {false, true, false, false, false, false}},
      {"stl", {true, false, false, false, false, false}},
      {"stlb", {true, false, false, false, false, false}},
      {"ply", {false, false, false, false, true, false}},
      {"plyb", {false, false, false, false, true, false}},
      {"x", {true, false, false, false, false, false}},
      {"3ds", {true, false, false, false, false, false}},
      {"fbx", {false, false, false, false, true, false}},
      {"fbxa", {false, false, false, false, true, false}},
  };
  for (const auto& f : kFormats)
    if (std::strcmp(id, f.id) == 0) return f.traits;
  return {false, false, false, false, false, false};
}

namespace {

constexpr Int32 ID_POSITION = ID_BASEOBJECT_REL_POSITION;
constexpr Int32 ID_ROTATION = ID_BASEOBJECT_REL_ROTATION;
constexpr Int32 ID_SCALE = ID_BASEOBJECT_REL_SCALE;

aiString AiName(const String& s) {
  char buf[MAXLEN];
  s.GetCString(buf, sizeof buf, STRINGENCODING_UTF8);
  return aiString(buf);
}

// ---- curves -------------------------------------------------------------------------------

// The value of a curve at t (seconds), as playback evaluates it.
Float CurveValue(const CCurve* curve, Float t) { return curve->GetValue(BaseTime(t)); }

// The three component curves of a vector parameter (null where there is no track or no key).
struct Channel {
  const CCurve* curve[3] = {nullptr, nullptr, nullptr};
  Float tolerance[3] = {0.0, 0.0, 0.0};
  bool Any() const { return curve[0] != nullptr || curve[1] != nullptr || curve[2] != nullptr; }
};

Channel FindChannel(BaseObject* object, Int32 id, Float relativeTolerance) {
  Channel c;
  for (CTrack* track = object->GetFirstCTrack(); track != nullptr; track = track->GetNext()) {
    const DescID& d = track->GetDescriptionID();
    if (d.GetDepth() != 2 || d[0].id != id) continue;
    const Int32 k = d[1].id - VECTOR_X;
    if (k < 0 || k > 2) continue;
    const CCurve* curve = track->GetCurve(CCURVE_CURVE, false);
    if (curve == nullptr || curve->GetKeyCount() == 0) continue;
    c.curve[k] = curve;
    Float lo = curve->GetKey(0)->GetValue(), hi = lo;
    for (Int32 i = 1; i < curve->GetKeyCount(); ++i) {
      lo = std::min(lo, curve->GetKey(i)->GetValue());
      hi = std::max(hi, curve->GetKey(i)->GetValue());
    }
    c.tolerance[k] = relativeTolerance * (hi > lo ? hi - lo : 1.0);
  }
  return c;
}

// The parameter's value at t: the curves where there are some, the object's value elsewhere.
Vector64 ChannelValue(const Channel& c, const Vector64& still, Float t) {
  Float v[3] = {still.x, still.y, still.z};
  for (int k = 0; k < 3; ++k)
    if (c.curve[k] != nullptr) v[k] = CurveValue(c.curve[k], t);
  return Vector64(v[0], v[1], v[2]);
}

// The key times of the channel, refined where it does not interpolate linearly: for vector
// parameters each curve's own samples within its tolerance (the union keeps every curve within
// it); for rotations every key interval refined until the quaternions' interpolation follows.
template <typename Err>
bool SampleTimes(const Channel& c, BaseArray<Float>& times, const Err& err, bool rotation) {
  BaseArray<Float> keys;
  for (int k = 0; k < 3; ++k) {
    if (c.curve[k] == nullptr) continue;
    if (!rotation) {
      BaseArray<BaseTime> samples;
      if (!SampleCurve(c.curve[k], c.tolerance[k], samples)) return false;
      for (const BaseTime& t : samples)
        if (!keys.Append(t.Get())) return false;
    } else {
      for (Int32 i = 0; i < c.curve[k]->GetKeyCount(); ++i)
        if (!keys.Append(c.curve[k]->GetKey(i)->GetTime().Get())) return false;
    }
  }
  std::sort(keys.begin(), keys.end());
  for (Int32 i = 0; i < keys.GetCount(); ++i) {
    if (i > 0 && keys[i] == keys[i - 1]) continue;
    if (i > 0 && rotation && !_Refine(times, keys[i - 1], keys[i], 10, err)) return false;
    if (!times.Append(keys[i])) return false;
  }
  std::sort(times.begin(), times.end());
  return true;
}

// ---- the scene ---------------------------------------------------------------------------

class Exporter {
 public:
  Exporter(const ConvertOptions& options, const FormatTraits& traits, ConvertReport& report)
      : _options(options), _traits(traits), _report(report) {}

  bool Build(RootObject* objects, aiScene* scene);
  const BaseArray<ExportedNode>& Nodes() const { return _nodes; }
  const ExportedAttributes& Attributes() const { return _attributes; }

 private:
  bool Node(BaseObject* object, aiNode* parent, aiNode*& out);
  bool UniqueName(aiNode* node, const String& name);
  bool Mesh(PolygonObject* object, aiNode* node);
  bool Lines(PointObject* object, aiNode* node);
  bool Camera(BaseObject* object, aiNode* node, ExportedNode& entry);
  bool Animate(BaseObject* object, const aiNode* node);
  void ReportTags(BaseObject* object);
  bool AddMesh(aiMesh* mesh, aiNode* node);
  bool AddCamera(aiCamera* camera);

  const ConvertOptions& _options;
  FormatTraits _traits;
  ConvertReport& _report;
  BaseArray<aiMesh*> _meshes;
  BaseArray<aiCamera*> _cameras;
  BaseArray<aiNodeAnim*> _channels;
  BaseArray<ExportedNode> _nodes;
  ExportedAttributes _attributes;
  BaseSortArray<UInt64> _names;  // hashes of the names given, sorted
  Float _animationEnd = 0.0;
};

UInt64 Hash(const char* s) {
  UInt64 h = 1469598103934665603ull;
  for (; *s != 0; ++s) h = (h ^ UInt8(*s)) * 1099511628211ull;
  return h;
}

// Node names are unique in what we write: the glTF pass and the channels find nodes by name.
bool Exporter::UniqueName(aiNode* node, const String& name) {
  aiString base = AiName(name);
  if (base.length == 0) base.Set("object");
  char buf[MAXLEN];
  std::snprintf(buf, sizeof buf, "%s", base.C_Str());
  for (Int32 n = 1;; ++n) {
    const UInt64 h = Hash(buf);
    if (_names.FindSorted(h) < 0) {
      if (_names.InsertSorted(h) < 0) return false;
      node->mName.Set(buf);
      return true;
    }
    std::snprintf(buf, sizeof buf, "%.*s.%d", int(MAXLEN - 16), base.C_Str(), int(n));
  }
}

bool Exporter::AddMesh(aiMesh* mesh, aiNode* node) {
  if (!_meshes.Append(mesh)) {
    delete mesh;
    return false;
  }
  unsigned* list = new unsigned[node->mNumMeshes + 1];
  for (unsigned i = 0; i < node->mNumMeshes; ++i) list[i] = node->mMeshes[i];
  list[node->mNumMeshes] = unsigned(_meshes.GetCount() - 1);
  delete[] node->mMeshes;
  node->mMeshes = list;
  ++node->mNumMeshes;
  return true;
}

bool Exporter::AddCamera(aiCamera* camera) {
  if (_cameras.Append(camera)) return true;
  delete camera;
  return false;
}

// One corner of a face: its point and where its attributes are found.
struct Corner {
  Int32 point;
  Int32 polygon;
  Int32 slot;  // 0 to 3: a, b, c, d
};

Int32 PolygonPoint(const CPolygon& p, Int32 slot) {
  return slot == 0 ? p.a : slot == 1 ? p.b : slot == 2 ? p.c : p.d;
}

// The outline of an n-gon record (the polygons it joins): the edges that only one of its
// polygons has, chained. False when they do not make one loop; the polygons are then written
// as they are.
bool NgonOutline(const CPolygon* polys, Int32 polyCount, const Pgon& record,
                 BaseArray<Corner>& outline) {
  struct Edge {
    Int32 from, to, polygon, slot;
  };
  BaseArray<Edge> edges;
  for (Int32 i = 0; i < record.count; ++i) {
    const Int32 pi = Int32(record.values[i]);
    if (pi < 0 || pi >= polyCount) return false;
    const CPolygon& p = polys[pi];
    const Int32 n = p.c == p.d ? 3 : 4;
    for (Int32 k = 0; k < n; ++k)
      if (!edges.Append(Edge{PolygonPoint(p, k), PolygonPoint(p, (k + 1) % n), pi, k}))
        return false;
  }
  BaseArray<Edge> border;
  for (const Edge& e : edges) {
    bool inner = false;
    for (const Edge& o : edges) inner = inner || (o.from == e.to && o.to == e.from);
    if (!inner && !border.Append(e)) return false;
  }
  if (border.GetCount() < 3) return false;
  Int32 at = 0;
  for (Int32 n = 0; n < border.GetCount(); ++n) {
    const Edge& e = border[at];
    if (!outline.Append(Corner{e.from, e.polygon, e.slot})) return false;
    Int32 next = -1;
    for (Int32 i = 0; i < border.GetCount() && next < 0; ++i)
      if (border[i].from == e.to) next = i;
    if (next < 0) return false;
    at = next;
  }
  return at == 0;
}

bool Exporter::Mesh(PolygonObject* object, aiNode* node) {
  const Int32 pointCount = object->GetPointCount();
  const Int32 polyCount = object->GetPolygonCount();
  const Vector64* points = object->GetPointR();
  const CPolygon* polys = object->GetPolygonR();
  if (pointCount == 0 || polyCount == 0) return true;
  const UVWTag* uvw = UVWTag::Cast(object->GetTag(TAG_UVW));
  const NormalTag* normals = NormalTag::Cast(object->GetTag(TAG_NORMAL));
  const VertexColorTag* colors =
      _traits.colors ? VertexColorTag::Cast(object->GetTag(TAG_VERTEXCOLOR)) : nullptr;
  if (uvw != nullptr && uvw->GetCount() < polyCount) uvw = nullptr;
  if (normals != nullptr && normals->GetCount() < polyCount) normals = nullptr;
  if (colors != nullptr &&
      colors->GetCount() < (colors->HoldsPerPointColors() ? pointCount : polyCount))
    colors = nullptr;

  // The faces: every polygon, or the outline of the n-gon it belongs to (once per n-gon).
  BaseArray<Corner> corners;    // all faces' corners, one after another
  BaseArray<Int32> faceStarts;  // where each face begins in corners
  BaseArray<UInt8> inNgon;
  const PolygonObjectData* data = static_cast<const PolygonObjectData*>(object->GetNodeData());
  const NgonBase* ngons = data != nullptr ? data->GetNgonBase() : nullptr;
  if (!inNgon.Resize(polyCount)) return false;
  std::fill(inNgon.begin(), inNgon.end(), UInt8(0));
  if (ngons != nullptr && !_traits.triangles && !_options.triangulate) {
    for (Int32 r = 0; r < ngons->GetCount(); ++r) {
      BaseArray<Corner> outline;
      if (!NgonOutline(polys, polyCount, *ngons->GetRecord(r), outline)) continue;
      if (!faceStarts.Append(corners.GetCount())) return false;
      for (Int32 i = outline.GetCount() - 1; i >= 0; --i)
        if (!corners.Append(outline[i])) return false;
      for (Int32 i = 0; i < ngons->GetRecord(r)->count; ++i)
        inNgon[Int32(ngons->GetRecord(r)->values[i])] = 1;
    }
  }
  const bool split = _traits.triangles || _options.triangulate;
  for (Int32 i = 0; i < polyCount; ++i) {
    if (inNgon[i] != 0) continue;
    const CPolygon& p = polys[i];
    if (p.a < 0 || p.b < 0 || p.c < 0 || p.d < 0 || p.a >= pointCount || p.b >= pointCount ||
        p.c >= pointCount || p.d >= pointCount) {
      _report.Add(1, "polygons", "not exported: a corner names no point");
      continue;
    }
    const bool quad = p.c != p.d;
    // Reversed corner order: the axes are mirrored.
    static const Int32 kTri[3] = {0, 2, 1}, kQuad[4] = {0, 3, 2, 1};
    static const Int32 kSplit[6] = {0, 3, 2, 0, 2, 1};
    const Int32* order = quad ? (split ? kSplit : kQuad) : kTri;
    const Int32 count = quad ? (split ? 6 : 4) : 3;
    for (Int32 k = 0; k < count; ++k) {
      if (k % (split ? 3 : count) == 0 && !faceStarts.Append(corners.GetCount())) return false;
      if (!corners.Append(Corner{PolygonPoint(p, order[k]), i, order[k]})) return false;
    }
  }
  if (corners.GetCount() == 0) return true;

  // Every corner's attributes, decoded once per polygon (a polygon's corners lie together).
  BaseArray<Vector64> cornerUv, cornerNormal;
  BaseArray<ColorA32> cornerColor;
  const Int32 cornerCount = corners.GetCount();
  if ((uvw != nullptr && !cornerUv.Resize(cornerCount)) ||
      (normals != nullptr && !cornerNormal.Resize(cornerCount)) ||
      (colors != nullptr && !cornerColor.Resize(cornerCount)))
    return false;
  {
    Int32 decoded = -1;
    UVWStruct uv{};
    NormalStruct nm{};
    auto pick = [](const auto& s, Int32 slot) {
      return slot == 0 ? s.a : slot == 1 ? s.b : slot == 2 ? s.c : s.d;
    };
    for (Int32 i = 0; i < cornerCount; ++i) {
      const Corner& c = corners[i];
      if (c.polygon != decoded) {
        decoded = c.polygon;
        if (uvw != nullptr) uv = uvw->Get(c.polygon);
        if (normals != nullptr) nm = normals->Get(c.polygon);
      }
      if (uvw != nullptr) cornerUv[i] = pick(uv, c.slot);
      if (normals != nullptr) cornerNormal[i] = pick(nm, c.slot);
      if (colors != nullptr)
        cornerColor[i] = colors->HoldsPerPointColors()
                             ? colors->GetColorR()[c.point]
                             : colors->GetColorR()[c.polygon * 4 + c.slot];
    }
  }
  auto same = [&](Int32 x, Int32 y) {
    if (uvw != nullptr && cornerUv[x] != cornerUv[y]) return false;
    if (normals != nullptr && cornerNormal[x] != cornerNormal[y]) return false;
    if (colors != nullptr) {
      const ColorA32 &p = cornerColor[x], &q = cornerColor[y];
      if (p.r != q.r || p.g != q.g || p.b != q.b || p.a != q.a) return false;
    }
    return true;
  };
  // Corners of one point share a vertex unless their attributes differ: each point keeps a
  // chain of its distinct vertices (usually one), and the vertices are numbered point by point.
  BaseArray<Int32> head, next, firstCorner, vertexOf;
  if (!head.Resize(pointCount) || !vertexOf.Resize(cornerCount)) return false;
  std::fill(head.begin(), head.end(), -1);
  for (Int32 i = 0; i < cornerCount; ++i) {
    Int32* link = &head[corners[i].point];
    while (*link >= 0 && !same(firstCorner[*link], i)) link = &next[*link];
    if (*link < 0) {
      *link = firstCorner.GetCount();
      if (!firstCorner.Append(i) || !next.Append(-1)) return false;
    }
    vertexOf[i] = *link;
  }
  BaseArray<Int32> number;  // the vertex's place in point order
  if (!number.Resize(firstCorner.GetCount())) return false;
  Int32 numbered = 0;
  for (Int32 p = 0; p < pointCount; ++p)
    for (Int32 v = head[p]; v >= 0; v = next[v]) number[v] = numbered++;
  {
    BaseArray<Int32> byNumber;
    if (!byNumber.Resize(firstCorner.GetCount())) return false;
    for (Int32 v = 0; v < firstCorner.GetCount(); ++v) byNumber[number[v]] = firstCorner[v];
    for (Int32 i = 0; i < cornerCount; ++i) vertexOf[i] = number[vertexOf[i]];
    firstCorner = std::move(byNumber);
  }
  auto uvOf = [&](Int32 corner) { return cornerUv[corner]; };
  auto normalOf = [&](Int32 corner) { return cornerNormal[corner]; };
  auto colorOf = [&](Int32 corner) { return cornerColor[corner]; };

  aiMesh* mesh = new aiMesh;
  mesh->mName = node->mName;
  const unsigned nv = unsigned(firstCorner.GetCount());
  mesh->mNumVertices = nv;
  mesh->mVertices = new aiVector3D[nv];
  if (uvw != nullptr) {
    mesh->mTextureCoords[0] = new aiVector3D[nv];
    mesh->mNumUVComponents[0] = 2;
  }
  if (normals != nullptr) mesh->mNormals = new aiVector3D[nv];
  if (colors != nullptr) mesh->mColors[0] = new aiColor4D[nv];
  for (unsigned v = 0; v < nv; ++v) {
    const Int32 fc = firstCorner[Int32(v)];
    const Corner& c = corners[fc];
    const Vector64& p = points[c.point];
    mesh->mVertices[v] = aiVector3D(float(p.x), float(p.y), float(-p.z));
    if (uvw != nullptr) {
      const Vector64 t = uvOf(fc);
      mesh->mTextureCoords[0][v] = aiVector3D(float(t.x), float(1.0 - t.y), 0.0f);
    }
    if (normals != nullptr) {
      // Unit length, as glTF demands; a zero normal (the tag keeps what it was given) takes
      // the polygon's own.
      Vector64 n = normalOf(fc);
      Float len = std::sqrt(Dot(n, n));
      if (!(len > 1e-12) || !std::isfinite(len)) {
        const CPolygon& p = polys[c.polygon];
        n = p.c == p.d ? Cross(points[p.b] - points[p.a], points[p.c] - points[p.a])
                       : Cross(points[p.c] - points[p.a], points[p.d] - points[p.b]);
        len = std::sqrt(Dot(n, n));
      }
      if (!(len > 1e-300) || !std::isfinite(len)) n = Vector64(0.0, 0.0, 1.0), len = 1.0;
      n = (1.0 / len) * n;
      mesh->mNormals[v] = aiVector3D(float(n.x), float(n.y), float(-n.z));
    }
    if (colors != nullptr) {
      const ColorA32 k = colorOf(fc);
      mesh->mColors[0][v] = aiColor4D(k.r, k.g, k.b, k.a);
    }
  }
  // The first vertex map, per vertex from its point, for the glTF pass (Assimp's scene has no
  // custom attribute); the node's entry is the next in the table.
  const VertexMapTag* map =
      _traits.gltf ? VertexMapTag::Cast(object->GetTag(TAG_VERTEXMAP)) : nullptr;
  if (map != nullptr && map->GetCount() >= pointCount) {
    ExportedAttribute a;
    a.node = _nodes.GetCount();
    map->GetName().GetCString(a.name, sizeof a.name, STRINGENCODING_UTF8);
    a.offset = _attributes.data.GetCount();
    a.count = Int32(nv);
    if (!_attributes.data.Resize(a.offset + a.count) || !_attributes.list.Append(a)) {
      delete mesh;
      return false;
    }
    for (unsigned v = 0; v < nv; ++v)
      _attributes.data[a.offset + Int32(v)] =
          map->GetWeightR()[corners[firstCorner[Int32(v)]].point];
  } else if (map != nullptr) {
    _report.Add(1, "vertex maps", "not exported: fewer values than points");
  }
  const unsigned nf = unsigned(faceStarts.GetCount());
  mesh->mNumFaces = nf;
  mesh->mFaces = new aiFace[nf];
  for (unsigned f = 0; f < nf; ++f) {
    const Int32 begin = faceStarts[Int32(f)];
    const Int32 end = f + 1 < nf ? faceStarts[Int32(f + 1)] : corners.GetCount();
    aiFace& face = mesh->mFaces[f];
    face.mNumIndices = unsigned(end - begin);
    face.mIndices = new unsigned[face.mNumIndices];
    for (Int32 i = begin; i < end; ++i) face.mIndices[i - begin] = unsigned(vertexOf[i]);
    mesh->mPrimitiveTypes |=
        face.mNumIndices == 3 ? aiPrimitiveType_TRIANGLE : aiPrimitiveType_POLYGON;
  }
  mesh->mMaterialIndex = 0;
  return AddMesh(mesh, node);
}

bool Exporter::Lines(PointObject* object, aiNode* node) {
  const Int32 count = object->GetPointCount();
  const Vector64* points = object->GetPointR();
  if (count < 2) return true;
  // The segments, or all points as one open line when the spline has no segment tag.
  const SegmentTag* segments = SegmentTag::Cast(object->GetTag(TAG_SEGMENT));
  Segment whole{count, false};
  const Segment* list =
      segments != nullptr && segments->GetCount() > 0 ? segments->GetSegmentR() : &whole;
  const Int32 listCount =
      segments != nullptr && segments->GetCount() > 0 ? segments->GetCount() : 1;
  Int32 lines = 0, used = 0;
  for (Int32 s = 0; s < listCount; ++s) {
    const Int32 n = std::min(list[s].cnt, count - used);
    if (n >= 2) lines += n - 1 + (list[s].closed && n > 2 ? 1 : 0);
    used += std::max(n, 0);
  }
  if (lines == 0) return true;
  aiMesh* mesh = new aiMesh;
  mesh->mName = node->mName;
  mesh->mPrimitiveTypes = aiPrimitiveType_LINE;
  mesh->mNumVertices = unsigned(count);
  mesh->mVertices = new aiVector3D[count];
  for (Int32 i = 0; i < count; ++i)
    mesh->mVertices[i] = aiVector3D(float(points[i].x), float(points[i].y), float(-points[i].z));
  mesh->mNumFaces = unsigned(lines);
  mesh->mFaces = new aiFace[lines];
  Int32 f = 0;
  used = 0;
  for (Int32 s = 0; s < listCount; ++s) {
    const Int32 n = std::min(list[s].cnt, count - used);
    const Int32 edges = n >= 2 ? n - 1 + (list[s].closed && n > 2 ? 1 : 0) : 0;
    for (Int32 e = 0; e < edges; ++e) {
      aiFace& face = mesh->mFaces[f++];
      face.mNumIndices = 2;
      face.mIndices = new unsigned[2]{unsigned(used + e), unsigned(used + (e + 1) % n)};
    }
    used += std::max(n, 0);
  }
  mesh->mMaterialIndex = 0;
  _report.Add(1, "spline objects", "exported as lines through their points");
  return AddMesh(mesh, node);
}

bool Exporter::Camera(BaseObject* object, aiNode* node, ExportedNode& entry) {
  // The stored lens: the derived parameters want a document, and the lens needs none.
  const BaseContainer& data = object->GetDataInstanceRef();
  // A camera whose container holds no sensor width has the default one.
  const Float f = data.GetFloat(CAMERAOBJECT_FOCUS), s = data.GetFloat(CAMERAOBJECT_APERTURE, 36.0);
  if (!(f > 0.0) || !(s > 0.0)) {
    _report.Add(1, "cameras", "not exported: no focal length or sensor width");
    return true;
  }
  aiCamera* camera = new aiCamera;
  camera->mName = node->mName;
  const Float half = std::atan(s * 0.5 / f);
  camera->mHorizontalFOV = float(half);
  camera->mAspect = float(_options.cameraAspect);
  camera->mLookAt = aiVector3D(0.0f, 0.0f, -1.0f);  // +Z of the scene file, mirrored
  camera->mUp = aiVector3D(0.0f, 1.0f, 0.0f);
  camera->mClipPlaneNear = 1.0f;
  camera->mClipPlaneFar = 1.0e6f;
  entry.camera = true;
  entry.aspect = _options.cameraAspect;
  entry.yfov = 2.0 * std::atan(std::tan(half) / _options.cameraAspect);
  entry.znear = camera->mClipPlaneNear;
  entry.zfar = camera->mClipPlaneFar;
  return AddCamera(camera);
}

// Position, rotation and scale tracks as one channel of the node; the local matrix at any time
// composes the frozen transformation as the object's own matrix does.
bool Exporter::Animate(BaseObject* object, const aiNode* node) {
  const Float tol = _options.animationTolerance;
  const Channel pos = FindChannel(object, ID_POSITION, tol);
  const Channel rot = FindChannel(object, ID_ROTATION, tol);
  const Channel scl = FindChannel(object, ID_SCALE, tol);
  if (!pos.Any() && !rot.Any() && !scl.Any()) return true;
  if (!_traits.animation) {
    _report.Add(1, "animated objects", "not animated in the export: the format keeps no animation");
    return true;
  }
  const ROTATIONORDER order = object->GetRotationOrder();
  const Matrix64 frozen = object->GetFrozenMatrix();
  const Vector64 fpos = object->GetFrozenPos(), fscale = object->GetFrozenScale();
  auto position = [&](Float t) {
    return frozen * ChannelValue(pos, object->GetRelPos(), t) + fpos;
  };
  auto rotation = [&](Float t) {
    return _FlipZ(frozen * HPBToMatrix(ChannelValue(rot, object->GetRelRot(), t), order));
  };
  auto scale = [&](Float t) {
    const Vector64 s = ChannelValue(scl, object->GetRelScale(), t);
    return Vector64(s.x * fscale.x, s.y * fscale.y, s.z * fscale.z);
  };
  auto quat = [&](Float t) {
    const Matrix64 m = rotation(t);
    return aiQuaternion(aiMatrix3x3(float(m.v1.x), float(m.v2.x), float(m.v3.x), float(m.v1.y),
                                    float(m.v2.y), float(m.v3.y), float(m.v1.z), float(m.v2.z),
                                    float(m.v3.z)));
  };
  Float angleTol = 1.0;
  for (int k = 0; k < 3; ++k)
    if (rot.curve[k] != nullptr) angleTol = std::min(angleTol, rot.tolerance[k]);
  auto rotationError = [&](Float t0, Float t1, Float t) {
    aiQuaternion q;
    aiQuaternion::Interpolate(q, quat(t0), quat(t1), float((t - t0) / (t1 - t0)));
    const aiQuaternion r = quat(t);
    const Float dot = std::fabs(q.w * r.w + q.x * r.x + q.y * r.y + q.z * r.z);
    return 2.0 * std::acos(std::min(1.0, dot)) > std::max(angleTol, 2e-6);
  };
  BaseArray<Float> pt, rt, st;
  if ((pos.Any() && !SampleTimes(pos, pt, rotationError, false)) ||
      (rot.Any() && !SampleTimes(rot, rt, rotationError, true)) ||
      (scl.Any() && !SampleTimes(scl, st, rotationError, false)))
    return false;
  // A channel without keys of its own holds the object's value: one key, or none for glTF,
  // whose node keeps its own transform where no channel targets it (each written channel costs
  // the exporter a copy of its whole binary buffer).
  const Float still = 0.0;
  if (!_traits.gltf) {
    if (pt.GetCount() == 0 && !pt.Append(still)) return false;
    if (rt.GetCount() == 0 && !rt.Append(still)) return false;
    if (st.GetCount() == 0 && !st.Append(still)) return false;
  }

  aiNodeAnim* channel = new aiNodeAnim;
  if (!_channels.Append(channel)) {
    delete channel;
    return false;
  }
  channel->mNodeName = node->mName;
  channel->mNumPositionKeys = unsigned(pt.GetCount());
  channel->mPositionKeys = pt.GetCount() > 0 ? new aiVectorKey[pt.GetCount()] : nullptr;
  for (Int32 i = 0; i < pt.GetCount(); ++i) {
    const Vector64 p = position(pt[i]);
    channel->mPositionKeys[i] = aiVectorKey(pt[i], aiVector3D(float(p.x), float(p.y), float(-p.z)));
  }
  channel->mNumRotationKeys = unsigned(rt.GetCount());
  channel->mRotationKeys = rt.GetCount() > 0 ? new aiQuatKey[rt.GetCount()] : nullptr;
  for (Int32 i = 0; i < rt.GetCount(); ++i) {
    aiQuaternion q = quat(rt[i]);
    // Neighbouring keys on the same half of the sphere: the shorter way round is meant.
    if (i > 0) {
      const aiQuaternion& p = channel->mRotationKeys[i - 1].mValue;
      if (p.w * q.w + p.x * q.x + p.y * q.y + p.z * q.z < 0)
        q = aiQuaternion(-q.w, -q.x, -q.y, -q.z);
    }
    channel->mRotationKeys[i] = aiQuatKey(rt[i], q);
  }
  channel->mNumScalingKeys = unsigned(st.GetCount());
  channel->mScalingKeys = st.GetCount() > 0 ? new aiVectorKey[st.GetCount()] : nullptr;
  for (Int32 i = 0; i < st.GetCount(); ++i) {
    const Vector64 s = scale(st[i]);
    channel->mScalingKeys[i] = aiVectorKey(st[i], aiVector3D(float(s.x), float(s.y), float(s.z)));
  }
  for (const BaseArray<Float>* times : {&pt, &rt, &st})
    if (times->GetCount() > 0)
      _animationEnd = std::max(_animationEnd, (*times)[times->GetCount() - 1]);
  return true;
}

void Exporter::ReportTags(BaseObject* object) {
  Int32 uvws = 0, normals = 0, colors = 0, maps = 0;
  for (BaseTag* tag = object->GetFirstTag(); tag != nullptr; tag = tag->GetNext()) {
    switch (tag->GetType()) {
      case TAG_POINT:
      case TAG_POLYGON:
      case TAG_SEGMENT:
      case TAG_TANGENT:
        break;
      case TAG_UVW:
        if (++uvws > 1)
          _report.Add(1, "further UVW tags", "not exported: one per object is carried");
        break;
      case TAG_NORMAL:
        if (++normals > 1)
          _report.Add(1, "further normal tags", "not exported: one per object is carried");
        break;
      case TAG_VERTEXCOLOR:
        if (!_traits.colors)
          _report.Add(1, "vertex colour tags", "not exported: the format has no vertex colours");
        else if (++colors > 1)
          _report.Add(1, "further vertex colour tags", "not exported: one per object is carried");
        break;
      case TAG_VERTEXMAP:
        if (!_traits.gltf || object->GetType() != TYPE_POLYGONOBJECT)
          _report.Add(1, "vertex maps", "not exported: the format has no custom attribute");
        else if (++maps > 1)
          _report.Add(1, "further vertex maps", "not exported: one per object is carried");
        break;
      case TAG_POINTSELECTION:
      case TAG_POLYGONSELECTION:
      case TAG_EDGESELECTION:
      case TAG_SELECTIONSET:
        _report.Add(1, "selection tags", "not exported: the format has no selections");
        break;
      case TAG_TEXTURE:
        _report.Add(1, "texture tags", "not exported: materials and shaders are not carried");
        break;
      default:
        _report.Add(1, "tags of other kinds", "not exported: the format has no such data");
        break;
    }
  }
  Int32 other = 0;
  for (CTrack* track = object->GetFirstCTrack(); track != nullptr; track = track->GetNext()) {
    const DescID& d = track->GetDescriptionID();
    const bool transform = d.GetDepth() == 2 && d[0].id >= ID_POSITION && d[0].id <= ID_SCALE;
    if (!transform) ++other;
  }
  _report.Add(other, "parameter tracks",
              "not exported: only position, rotation and scale are animated");
  if (object->GetUniqueIDs() != nullptr && object->GetUniqueIDs()->GetCount() > 0)
    _report.Add(1, "objects with custom data",
                "exported without it: the format has no place for it");
}

bool Exporter::Node(BaseObject* object, aiNode* parent, aiNode*& out) {
  aiNode* node = new aiNode;
  out = node;
  node->mParent = parent;
  if (!UniqueName(node, object->GetName())) return false;
  const Matrix64 ml = object->GetMl();
  node->mTransformation = _ToAssimp(ml);
  ExportedNode entry;
  entry.name = node->mName.C_Str();
  entry.ml = _FlipZ(ml);

  const Int32 type = object->GetType();
  bool ok = true;
  if (type == TYPE_POLYGONOBJECT) {
    ok = Mesh(static_cast<PolygonObject*>(object), node);
  } else if (type == TYPE_SPLINEOBJECT) {
    if (_traits.lines)
      ok = Lines(static_cast<PointObject*>(object), node);
    else
      _report.Add(1, "spline objects", "not exported: the format has no curves");
  } else if (type == TYPE_CAMERAOBJECT) {
    if (_traits.cameras)
      ok = Camera(object, node, entry);
    else
      _report.Add(1, "cameras", "not exported: the format has no cameras");
  } else if (type == TYPE_LIGHTOBJECT) {
    _report.Add(1, "lights", "exported as empty nodes: lights are not carried");
  } else if (type != TYPE_OBJECT) {
    _report.Add(1, "objects of other kinds", "exported as empty nodes");
  }
  ReportTags(object);
  ok = ok && _nodes.Append(entry) && Animate(object, node);
  if (!ok) return false;

  Int32 children = 0;
  for (BaseObject* c = object->GetDown(); c != nullptr; c = c->GetNext()) ++children;
  if (children > 0) {
    node->mChildren = new aiNode*[children]();
    for (BaseObject* c = object->GetDown(); c != nullptr; c = c->GetNext()) {
      aiNode* child = nullptr;
      const bool built = Node(c, node, child);
      node->mChildren[node->mNumChildren++] = child;
      if (!built) return false;
    }
  }
  return true;
}

template <typename T>
T** Hand(BaseArray<T*>& list, unsigned& count) {
  count = unsigned(list.GetCount());
  if (count == 0) return nullptr;
  T** out = new T*[count];
  for (unsigned i = 0; i < count; ++i) out[i] = list[Int32(i)];
  list.Flush();
  return out;
}

bool Exporter::Build(RootObject* objects, aiScene* scene) {
  scene->mRootNode = new aiNode;
  aiNode* root = scene->mRootNode;
  String rootName("root");
  bool ok =
      UniqueName(root, rootName) && _nodes.Append(ExportedNode{root->mName.C_Str(), Matrix64()});
  Int32 count = 0;
  for (BaseObject* o = objects->GetFirst(); o != nullptr; o = o->GetNext()) ++count;
  if (ok && count > 0) {
    root->mChildren = new aiNode*[count]();
    Int32 done = 0;
    for (BaseObject* o = objects->GetFirst(); o != nullptr && ok; o = o->GetNext()) {
      aiNode* child = nullptr;
      ok = Node(o, root, child);
      root->mChildren[root->mNumChildren++] = child;
      if (_options.progress != nullptr)
        _options.progress(_options.progressUser, 0.5 * ++done / count);
    }
  }
  // The scene owns what was built, also after a failure, so that one delete frees it.
  scene->mMeshes = Hand(_meshes, scene->mNumMeshes);
  scene->mCameras = Hand(_cameras, scene->mNumCameras);
  scene->mNumMaterials = 1;
  scene->mMaterials = new aiMaterial* [1] { new aiMaterial };
  aiString name("default");
  scene->mMaterials[0]->AddProperty(&name, AI_MATKEY_NAME);
  if (_channels.GetCount() > 0) {
    aiAnimation* anim = new aiAnimation;
    anim->mName.Set("animation");
    anim->mTicksPerSecond = 1.0;
    anim->mDuration = _animationEnd;
    anim->mChannels = Hand(_channels, anim->mNumChannels);
    scene->mNumAnimations = 1;
    scene->mAnimations = new aiAnimation* [1] { anim };
  }
  return ok;
}

// Assimp's exporter works on a copy of the scene it is given and says so when the copy is made
// (the first write step): our meshes then go, so that the geometry is not held three times (ours,
// the copy, the file's buffer) while the file is built. That order is the exporter's own, checked
// for its version 5 only: with any other the meshes stay until the end.
class FreeMeshesOnceCopied : public Assimp::ProgressHandler {
 public:
  explicit FreeMeshesOnceCopied(aiScene* scene)
      : _scene(aiGetVersionMajor() == 5 ? scene : nullptr) {}
  bool Update(float) override { return true; }
  void UpdateFileWrite(int step, int) override {
    if (step < 1 || _scene == nullptr) return;
    for (unsigned i = 0; i < _scene->mNumMeshes; ++i) {
      delete _scene->mMeshes[i];
      _scene->mMeshes[i] = nullptr;
    }
    _scene = nullptr;
  }

 private:
  aiScene* _scene;
};

}  // namespace

bool ExportObjects(RootObject* objects, const char* path, const char* formatId,
                   const ConvertOptions& options, ConvertReport& report) {
  const FormatTraits traits = _TraitsOf(formatId);
  aiScene* scene = new aiScene;
  Exporter exporter(options, traits, report);
  if (!exporter.Build(objects, scene)) {
    delete scene;
    report.Fail(-7, "%s: out of memory building the scene", path);
    return false;
  }
  // glTF: the animation is written by the finishing pass, not by Assimp.
  aiAnimation** animations = nullptr;
  unsigned animationCount = 0;
  if (traits.gltf) {
    std::swap(animations, scene->mAnimations);
    std::swap(animationCount, scene->mNumAnimations);
  }
  auto restore = [&] {
    if (animations != nullptr) {
      scene->mAnimations = animations;
      scene->mNumAnimations = animationCount;
    }
  };
  Assimp::Exporter writer;
  FreeMeshesOnceCopied freeMeshes(scene);
  writer.SetProgressHandler(&freeMeshes);
  const aiReturn r = writer.Export(scene, formatId, path, 0);
  writer.SetProgressHandler(nullptr);
  if (r != aiReturn_SUCCESS) {
    restore();
    delete scene;
    const char* why = writer.GetErrorString();
    report.Fail(r == aiReturn_OUTOFMEMORY ? -7 : -4, "%s: cannot export as %s: %s", path, formatId,
                why != nullptr && why[0] != 0 ? why : "the exporter failed");
    return false;
  }
  // The node table names the scene's nodes: the scene goes after the finishing pass.
  const bool ok = !traits.gltf || _FinishGltf(path, exporter.Nodes(), exporter.Attributes(),
                                              animationCount > 0 ? animations[0] : nullptr, report);
  restore();
  delete scene;
  if (!ok) return false;
  if (options.progress != nullptr) options.progress(options.progressUser, 1.0);
  return true;
}

}  // namespace lumora
