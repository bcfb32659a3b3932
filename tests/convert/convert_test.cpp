// The converter: scenes through glTF and OBJ and back, Assimp's test models through our scene
// file and glb against Assimp's own import of them, the glTF validator on everything written,
// and the command line.
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <assimp/Importer.hpp>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "animation/lum_ccurve.h"
#include "animation/lum_ckey.h"
#include "animation/lum_ctrack.h"
#include "convert/lum_convert.h"
#include "convert/lum_convert_internal.h"
#include "gltf_fuzz_support.h"
#include "lights/lum_cameraobjectdata.h"
#include "lumora.h"
#include "objects/lum_vertexcolortag.h"
#include "objects/lum_vertexmaptag.h"
#include "test_support.h"

using namespace lumora;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Every glTF file the suite writes, for the validator at the end.
std::vector<std::string>& Written() {
  static std::vector<std::string> files;
  return files;
}

bool Exists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0;
}

// The report's lines, and whether one of them holds text.
std::vector<std::string> Lines(const ConvertReport& report) {
  std::vector<std::string> lines;
  for (Int32 i = 0; i < report.GetLineCount(); ++i) {
    char line[ConvertReport::LINE_SIZE];
    report.GetLine(i, line, sizeof line);
    lines.push_back(line);
  }
  return lines;
}
bool Says(const ConvertReport& report, const char* text) {
  for (const std::string& line : Lines(report))
    if (line.find(text) != std::string::npos) return true;
  return false;
}

// The glTF validator (npm's gltf-validator) finds no error in any file written so far.
void ExpectValidGltf() {
  const std::string validator = LUMORA_GLTF_VALIDATOR_DIR;
  if (!Exists(validator + "/package.json")) {
    ADD_FAILURE() << "no glTF validator at " << validator << ": scripts/install-deps installs it";
    return;
  }
  std::vector<std::string> args = {
      "node", std::string(LUMORA_SOURCE_DIR) + "/tests/convert/validate_gltf.js", validator};
  args.insert(args.end(), Written().begin(), Written().end());
  Written().clear();
  const lumtest::ProgramRun run = lumtest::RunProgram("/usr/bin/env", args);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
}

// Our objects -> file -> our objects.
bool RoundTrip(RootObject& in, RootObject& out, const std::string& name, const char* format,
               ConvertReport& report, const ConvertOptions& options = ConvertOptions()) {
  const std::string path = lumtest::TempPath(name);
  if (!ExportObjects(&in, path.c_str(), format, options, report)) return false;
  if (std::string(format).rfind("gl", 0) == 0) Written().push_back(path);
  return ImportObjects(path.c_str(), &out, options, report);
}

PolygonObject* Mesh(const char* name, std::vector<Vector64> points, std::vector<CPolygon> polys) {
  PolygonObject* p = PolygonObject::Alloc(Int32(points.size()), Int32(polys.size()));
  p->SetName(String(name));
  std::copy(points.begin(), points.end(), p->GetPointW());
  std::copy(polys.begin(), polys.end(), p->GetPolygonW());
  return p;
}

BaseObject* Find(BaseObject* o, const char* name) {
  for (; o != nullptr; o = o->GetNext()) {
    char buf[128];
    o->GetName().GetCString(buf, sizeof buf, STRINGENCODING_UTF8);
    if (std::string(buf) == name) return o;
    if (BaseObject* d = Find(o->GetDown(), name)) return d;
  }
  return nullptr;
}

void ExpectMatrixNear(const Matrix64& a, const Matrix64& b, double rel, const char* what) {
  const Vector64* x[4] = {&a.off, &a.v1, &a.v2, &a.v3};
  const Vector64* y[4] = {&b.off, &b.v1, &b.v2, &b.v3};
  for (int i = 0; i < 4; ++i) {
    const double s = std::max({1.0, std::fabs(x[i]->x), std::fabs(x[i]->y), std::fabs(x[i]->z)});
    EXPECT_NEAR(x[i]->x, y[i]->x, rel * s) << what << " column " << i;
    EXPECT_NEAR(x[i]->y, y[i]->y, rel * s) << what << " column " << i;
    EXPECT_NEAR(x[i]->z, y[i]->z, rel * s) << what << " column " << i;
  }
}

// A mesh as triangles of (position, uv, normal) corners, sorted: what survives vertex splitting
// and triangulation unchanged.
using Corner = std::array<double, 8>;
using Triangle = std::array<Corner, 3>;
// withAttributes false: positions only.
std::vector<Triangle> Soup(PolygonObject* p, bool withAttributes = true) {
  const UVWTag* uvw = withAttributes ? UVWTag::Cast(p->GetTag(TAG_UVW)) : nullptr;
  const NormalTag* nt = withAttributes ? NormalTag::Cast(p->GetTag(TAG_NORMAL)) : nullptr;
  std::vector<Triangle> out;
  for (Int32 i = 0; i < p->GetPolygonCount(); ++i) {
    const CPolygon& c = p->GetPolygonR()[i];
    const Int32 idx[4] = {c.a, c.b, c.c, c.d};
    UVWStruct uv{};
    NormalStruct n{};
    if (uvw != nullptr) uv = uvw->Get(i);
    if (nt != nullptr) n = nt->Get(i);
    const Vector64 uvs[4] = {uv.a, uv.b, uv.c, uv.d}, ns[4] = {n.a, n.b, n.c, n.d};
    auto corner = [&](int k) {
      const Vector64& q = p->GetPointR()[idx[k]];
      return Corner{q.x, q.y, q.z, uvs[k].x, uvs[k].y, ns[k].x, ns[k].y, ns[k].z};
    };
    for (int t = 0; t < (c.c == c.d ? 1 : 2); ++t) {
      Triangle tri{corner(0), corner(t + 1), corner(t + 2)};
      std::rotate(tri.begin(), std::min_element(tri.begin(), tri.end()), tri.end());
      out.push_back(tri);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

void ExpectSoupNear(const std::vector<Triangle>& a, const std::vector<Triangle>& b) {
  ASSERT_EQ(a.size(), b.size());
  // positions in single precision, UVs in the tag's 15-bit packing, normals at 1/32000
  const double tol[8] = {1e-4, 1e-4, 1e-4, 1e-4, 1e-4, 1e-3, 1e-3, 1e-3};
  for (size_t t = 0; t < a.size(); ++t)
    for (int k = 0; k < 3; ++k)
      for (int c = 0; c < 8; ++c) EXPECT_NEAR(a[t][k][c], b[t][k][c], tol[c]) << "triangle " << t;
}

CTrack* Animate(BaseObject* o, Int32 param, Int32 component,
                std::vector<std::array<double, 2>> keys, CINTERPOLATION interpolation) {
  const DescID id(DescLevel(param, DTYPE_VECTOR, 0), DescLevel(component, VALUETYPE_FLOAT, 0));
  CTrack* track = CTrack::Alloc(o, id, String("track"));
  o->InsertTrackSorted(track);
  CCurve* curve = track->GetCurve();
  for (auto& k : keys) {
    CKey* key = curve->AddKey(BaseTime(k[0]));
    key->SetValue(curve, k[1]);
    key->SetInterpolation(curve, interpolation);
  }
  return track;
}

// Linear interpolation of a curve whose keys are all linear (what the importer makes).
double LinearValue(const CCurve* c, double t) {
  const Int32 n = c->GetKeyCount();
  if (t <= c->GetKey(0)->GetTime().Get()) return c->GetKey(0)->GetValue();
  for (Int32 i = 1; i < n; ++i) {
    const CKey *a = c->GetKey(i - 1), *b = c->GetKey(i);
    const double t0 = a->GetTime().Get(), t1 = b->GetTime().Get();
    if (t <= t1) return a->GetValue() + (b->GetValue() - a->GetValue()) * (t - t0) / (t1 - t0);
  }
  return c->GetKey(n - 1)->GetValue();
}

const CCurve* Curve(BaseObject* o, Int32 param, Int32 component) {
  for (CTrack* t = o->GetFirstCTrack(); t != nullptr; t = t->GetNext())
    if (t->GetDescriptionID()[0].id == param && t->GetDescriptionID()[1].id == component)
      return t->GetCurve(CCURVE_CURVE, false);
  return nullptr;
}

// The file name extension of a format's files in these tests.
std::string Extension(const std::string& format) {
  return format == "obj" || format == "ply" || format == "off" ? "." + format
         : format == "gltf2"                                   ? ".gltf"
                                                               : ".glb";
}

struct RoundTripCase {
  const char* name;
  const char* format;
  std::function<void(RootObject&)> build;
  std::function<void(RootObject& in, RootObject& out, ConvertReport&)> check;
  // A file written by hand instead of the export (what our exporter does not write, or what a
  // damaged file holds), in the case's format at the path given.
  std::function<void(const std::string& path)> foreign = nullptr;
};

// A .gltf of one node "bouncing" whose target (translation or rotation) is a cubic-spline
// channel of three keys at 0, 1 and 2 s, each (in-tangent, value, out-tangent) of components
// floats; its buffer in a .bin beside it.
const float kCubicKeys[3][3][3] = {{{0, 0, 0}, {0, 0, 0}, {30, 0, 6}},
                                   {{-10, 5, 0}, {10, 20, -4}, {0, 5, 0}},
                                   {{0, 0, 0}, {0, 0, 4}, {0, 0, 0}}};
// Quaternions (x, y, z, w): none, a quarter turn about Y, then a third of a turn about X, with
// tangents that take the rotation well off the plain interpolation of its keys.
const float kCubicTurns[3][3][4] = {
    {{0, 0, 0, 0}, {0, 0, 0, 1}, {0.9f, 0.6f, 0, 0}},
    {{0, 0.4f, -0.8f, 0}, {0, 0.70710678f, 0, 0.70710678f}, {0.6f, 0, 0.3f, -0.2f}},
    {{-0.5f, 0, 0, 0.2f}, {0.5f, 0, 0, 0.8660254f}, {0, 0, 0, 0}}};
void WriteCubic(const std::string& path, const char* target, const float* keys, int components) {
  const std::string bin = path + ".bin";
  FILE* f = std::fopen(bin.c_str(), "wb");
  const float times[3] = {0, 1, 2};
  std::fwrite(times, 4, 3, f);
  std::fwrite(keys, 4, size_t(9 * components), f);
  std::fclose(f);
  const std::string name = bin.substr(bin.rfind('/') + 1);
  f = std::fopen(path.c_str(), "wb");
  std::fprintf(f, R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],
    "nodes":[{"name":"bouncing"}],"buffers":[{"uri":"%s","byteLength":%d}],
    "bufferViews":[{"buffer":0,"byteLength":12},{"buffer":0,"byteOffset":12,"byteLength":%d}],
    "accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"SCALAR","min":[0],"max":[2]},
                 {"bufferView":1,"componentType":5126,"count":9,"type":"VEC%d"}],
    "animations":[{"channels":[{"sampler":0,"target":{"node":0,"path":"%s"}}],
                   "samplers":[{"input":0,"output":1,"interpolation":"CUBICSPLINE"}]}]})",
               name.c_str(), 12 + 36 * components, 36 * components, components, target);
  std::fclose(f);
}

// The channel's own curve (glTF's cubic Hermite) at t, component k, in the file's axes.
template <int N>
double Hermite(const float (&keys)[3][3][N], int k, double t) {
  const int i = t < 1 ? 0 : 1;
  const double s = t - i, d = 1.0;
  const double v0 = keys[i][1][k], b0 = keys[i][2][k];
  const double v1 = keys[i + 1][1][k], a1 = keys[i + 1][0][k];
  return (2 * s * s * s - 3 * s * s + 1) * v0 + (s * s * s - 2 * s * s + s) * d * b0 +
         (-2 * s * s * s + 3 * s * s) * v1 + (s * s * s - s * s) * d * a1;
}
double CubicValue(int k, double t) { return Hermite(kCubicKeys, k, t); }

const Vector64 kCube[8] = {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
                           {-1, -1, 1},  {1, -1, 1},  {1, 1, 1},  {-1, 1, 1}};

// A cubic-spline channel of target (translation or scale) read as spline keys on param's
// curves, z mirrored by zSign.
RoundTripCase CubicVectorCase(const char* name, const char* target, Int32 param, double zSign) {
  return {name, "gltf2", [](RootObject&) {},
          [param, zSign](RootObject&, RootObject& out, ConvertReport&) {
            BaseObject* o = Find(out.GetFirst(), "bouncing");
            ASSERT_NE(o, nullptr);
            for (int k = 0; k < 3; ++k) {
              const CCurve* c = Curve(o, param, VECTOR_X + k);
              ASSERT_NE(c, nullptr) << "component " << k;
              EXPECT_EQ(c->GetKeyCount(), 3);  // the keys themselves, not samples
              const double sign = k == 2 ? zSign : 1.0;
              // Within 2.5e-4 of the values' range (20): the playback's spline evaluation is
              // itself approximate by about that much (2.3e-3 measured).
              for (double t = 0.0; t <= 2.0; t += 0.125)
                EXPECT_NEAR(c->GetValue(BaseTime(t)), sign * CubicValue(k, t), 5e-3)
                    << "component " << k << " at " << t;
            }
          },
          [target](const std::string& path) { WriteCubic(path, target, &kCubicKeys[0][0][0], 3); }};
}

std::vector<RoundTripCase> RoundTripCases() {
  return {
      {"hierarchy, every rotation order and frozen transforms", "glb2",
       [](RootObject& s) {
         BaseObject* parent = BaseObject::Alloc(TYPE_OBJECT);
         parent->SetName(String("parent"));
         parent->SetRelPos(Vector64(10, -20, 30.5));
         parent->SetRelScale(Vector64(2, 3, 0.5));
         s.InsertLast(parent);
         for (Int32 order = 0; order <= 6; ++order) {
           BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
           o->SetName(String(("order" + std::to_string(order)).c_str()));
           o->SetRotationOrder(ROTATIONORDER(order));
           o->SetFrozenRot(Vector64(0.1 * order, -0.2, 0.3));
           o->SetFrozenPos(Vector64(1, 2, 3));
           o->SetFrozenScale(Vector64(1.5, 1, 1));
           o->SetRelRot(Vector64(0.4, 0.5 + order, -0.6));
           o->SetRelPos(Vector64(order, 0.25, -7));
           o->SetRelScale(Vector64(1, 2, 0.75));
           o->InsertUnderLast(parent);
         }
       },
       [](RootObject& in, RootObject& out, ConvertReport&) {
         BaseObject* parent = Find(out.GetFirst(), "parent");
         ASSERT_NE(parent, nullptr);
         ExpectMatrixNear(parent->GetMl(), Find(in.GetFirst(), "parent")->GetMl(), 1e-9, "parent");
         for (Int32 order = 0; order <= 6; ++order) {
           const std::string name = "order" + std::to_string(order);
           BaseObject* o = Find(out.GetFirst(), name.c_str());
           ASSERT_NE(o, nullptr) << name;
           EXPECT_EQ(o->GetUp(), parent) << name;
           ExpectMatrixNear(o->GetMl(), Find(in.GetFirst(), name.c_str())->GetMl(), 1e-9,
                            name.c_str());
         }
       }},
      {"points, triangles, quads, split UVs and normals", "glb2",
       [](RootObject& s) {
         PolygonObject* m =
             Mesh("box", std::vector<Vector64>(kCube, kCube + 8),
                  {CPolygon(0, 1, 2, 3), CPolygon(5, 4, 7, 6), CPolygon(1, 5, 6, 6)});
         UVWTag* uvw = UVWTag::Cast(m->MakeTag(TAG_UVW));
         NormalTag* nt = NormalTag::Cast(m->MakeTag(TAG_NORMAL));
         uvw->Resize(3);
         nt->Resize(3);
         // Point 1, 5 and 6 are corners of two faces with different coordinates: split.
         uvw->Set(0, UVWStruct{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
         uvw->Set(1, UVWStruct{{0.5, 0, 0}, {0.25, 0.5, 0}, {0.75, 0.5, 0}, {0.5, 1, 0}});
         uvw->Set(2, UVWStruct{{0.1, 0.2, 0}, {0.3, 0.4, 0}, {0.5, 0.6, 0}, {0.5, 0.6, 0}});
         const Vector64 a(0, 0, -1), b(0, 0, 1), c(0.6, 0, 0.8);
         nt->Set(0, NormalStruct{a, a, a, a});
         nt->Set(1, NormalStruct{b, b, b, b});
         nt->Set(2, NormalStruct{c, c, c, c});
         m->SetRelPos(Vector64(5, 6, 7));
         s.InsertLast(m);
       },
       [](RootObject& in, RootObject& out, ConvertReport&) {
         BaseObject* o = Find(out.GetFirst(), "box");
         ASSERT_NE(o, nullptr);
         ASSERT_EQ(o->GetType(), TYPE_POLYGONOBJECT);
         ExpectSoupNear(Soup(static_cast<PolygonObject*>(o)),
                        Soup(static_cast<PolygonObject*>(in.GetFirst())));
         // The halves of each quadrangle the export split come back as the quadrangle.
         EXPECT_EQ(static_cast<PolygonObject*>(o)->GetPolygonCount(), 3);
         ExpectMatrixNear(o->GetMl(), in.GetFirst()->GetMl(), 1e-9, "box");
       }},
      {"an n-gon keeps its outline where the format has polygons", "obj",
       [](RootObject& s) {
         // A hexagon as two quads joined by one n-gon record.
         PolygonObject* m =
             Mesh("hexagon", {{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {1, 2, 0}, {0, 2, 0}, {-1, 1, 0}},
                  {CPolygon(0, 1, 2, 3), CPolygon(0, 3, 4, 5)});
         m->ResizeObject(6, 2, 1);
         const UInt32 members[2] = {0, 1};
         static_cast<PolygonObjectData*>(m->GetNodeData())
             ->GetNgonBase()
             ->GetRecord(0)
             ->Set(members, 2);
         s.InsertLast(m);
       },
       [](RootObject& in, RootObject& out, ConvertReport&) {
         BaseObject* o = Find(out.GetFirst(), "hexagon");
         ASSERT_NE(o, nullptr);
         PolygonObject* p = static_cast<PolygonObject*>(o);
         const NgonBase* ngons = static_cast<PolygonObjectData*>(p->GetNodeData())->GetNgonBase();
         ASSERT_NE(ngons, nullptr);
         EXPECT_EQ(ngons->GetCount(), 1);
         EXPECT_EQ(ngons->GetRecord(0)->count, 2);
         // The outline comes back, split into pieces of its own choosing: same area, same points.
         auto area = [](PolygonObject* q) {
           double a = 0;
           for (const Triangle& t : Soup(q, false))
             a += 0.5 * std::fabs((t[1][0] - t[0][0]) * (t[2][1] - t[0][1]) -
                                  (t[2][0] - t[0][0]) * (t[1][1] - t[0][1]));
           return a;
         };
         auto points = [](PolygonObject* q) {
           std::vector<std::array<double, 3>> v;
           for (Int32 i = 0; i < q->GetPointCount(); ++i)
             v.push_back({q->GetPointR()[i].x, q->GetPointR()[i].y, q->GetPointR()[i].z});
           std::sort(v.begin(), v.end());
           v.erase(std::unique(v.begin(), v.end()), v.end());
           return v;
         };
         PolygonObject* original = static_cast<PolygonObject*>(in.GetFirst());
         EXPECT_NEAR(area(p), area(original), 1e-6);
         EXPECT_EQ(points(p), points(original));
       }},
      {"camera lens and placement", "glb2",
       [](RootObject& s) {
         BaseObject* cam = BaseObject::Alloc(TYPE_CAMERAOBJECT);
         cam->SetName(String("cam"));
         cam->SetDParameter(DescID(CAMERAOBJECT_FOCUS), GeData(50.0));
         cam->SetRelPos(Vector64(0, 200, -800));
         cam->SetRelRot(Vector64(0.3, -0.2, 0));
         s.InsertLast(cam);
       },
       [](RootObject& in, RootObject& out, ConvertReport&) {
         BaseObject* cam = Find(out.GetFirst(), "cam");
         ASSERT_NE(cam, nullptr);
         ASSERT_EQ(cam->GetType(), TYPE_CAMERAOBJECT);
         GeData focus;
         cam->GetDParameter(DescID(CAMERAOBJECT_FOCUS), focus);
         EXPECT_NEAR(focus.GetFloat(), 50.0, 1e-5);
         ExpectMatrixNear(cam->GetMl(), in.GetFirst()->GetMl(), 1e-9, "cam");
       }},
      {"animation sampled within its tolerance", "glb2",
       [](RootObject& s) {
         BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
         o->SetName(String("moving"));
         s.InsertLast(o);
         Animate(o, 903, VECTOR_X, {{0, 0}, {1, 300}, {2, 0}}, CINTERPOLATION_LINEAR);
         Animate(o, 904, VECTOR_X, {{0, 0}, {2, kPi / 2}}, CINTERPOLATION_LINEAR);
         Animate(o, 905, VECTOR_Z, {{0, 1}, {2, 3}}, CINTERPOLATION_LINEAR);
         // An ease from 0 to 100 (flat handles a quarter second long): symmetric about 0.5 s.
         CCurve* c =
             Animate(o, 903, VECTOR_Y, {{0, 0}, {1, 100}}, CINTERPOLATION_SPLINE)->GetCurve();
         c->GetKey(0)->SetTimeRight(c, BaseTime(0.25));
         c->GetKey(0)->SetValueRight(c, 0.0);
         c->GetKey(1)->SetTimeLeft(c, BaseTime(-0.25));
         c->GetKey(1)->SetValueLeft(c, 0.0);
       },
       [](RootObject&, RootObject& out, ConvertReport&) {
         BaseObject* o = Find(out.GetFirst(), "moving");
         ASSERT_NE(o, nullptr);
         const CCurve* x = Curve(o, 903, VECTOR_X);
         const CCurve* y = Curve(o, 903, VECTOR_Y);
         const CCurve* h = Curve(o, 904, VECTOR_X);
         ASSERT_TRUE(x != nullptr && y != nullptr && h != nullptr);
         const double tolY = 1e-4 * 100 + 1e-5;
         EXPECT_NEAR(LinearValue(x, 1.0), 300.0, 1e-4);
         EXPECT_NEAR(LinearValue(x, 1.5), 150.0, 1e-4);
         EXPECT_NEAR(LinearValue(y, 0.5), 50.0, tolY);
         EXPECT_GT(y->GetKeyCount(), 8);  // the spline was sampled
         for (double t = 0.05; t < 1.0; t += 0.1)
           EXPECT_LT(LinearValue(y, t), LinearValue(y, t + 0.05));
         EXPECT_NEAR(LinearValue(h, 1.0), kPi / 4, 1e-4);
         EXPECT_NEAR(LinearValue(h, 2.0), kPi / 2, 1e-4);
         const CCurve* depth = Curve(o, 905, VECTOR_Z);
         ASSERT_NE(depth, nullptr);
         EXPECT_NEAR(LinearValue(depth, 1.0), 2.0, 1e-4);
       }},
      {"a vertex map as a custom attribute", "glb2",
       [](RootObject& s) {
         PolygonObject* m =
             Mesh("weighted", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}},
                  {CPolygon(0, 1, 2, 3), CPolygon(1, 4, 2, 2)});
         VertexMapTag* map = VertexMapTag::Cast(m->MakeTag(TAG_VERTEXMAP));
         map->Resize(5);
         map->SetName(String("heat map"));
         const Float32 w[5] = {0.0f, 0.25f, 0.5f, 1.0f, 0.125f};
         std::copy(w, w + 5, map->GetWeightW());
         s.InsertLast(m);
       },
       [](RootObject& in, RootObject& out, ConvertReport& report) {
         PolygonObject* o = static_cast<PolygonObject*>(Find(out.GetFirst(), "weighted"));
         ASSERT_NE(o, nullptr);
         const VertexMapTag* map = VertexMapTag::Cast(o->GetTag(TAG_VERTEXMAP));
         ASSERT_NE(map, nullptr);
         EXPECT_EQ(map->GetName(), String("heat map"));
         ASSERT_EQ(map->GetCount(), o->GetPointCount());
         // Each point's weight is the original point's at the same place.
         PolygonObject* original = static_cast<PolygonObject*>(in.GetFirst());
         const VertexMapTag* had = VertexMapTag::Cast(original->GetTag(TAG_VERTEXMAP));
         for (Int32 i = 0; i < o->GetPointCount(); ++i) {
           Int32 j = 0;
           while (j < 5 && !(original->GetPointR()[j] - o->GetPointR()[i] == Vector64())) ++j;
           ASSERT_LT(j, 5) << "point " << i;
           EXPECT_EQ(map->GetWeightR()[i], had->GetWeightR()[j]) << "point " << i;
         }
         EXPECT_FALSE(Says(report, "vertex"));
       }},
      CubicVectorCase("a cubic-spline channel becomes spline keys with its tangents", "translation",
                      903, -1.0),
      CubicVectorCase("a cubic-spline scale channel likewise, unmirrored", "scale", 905, 1.0),
      {"a cubic-spline rotation channel becomes angle keys that follow it", "gltf2",
       [](RootObject&) {},
       [](RootObject&, RootObject& out, ConvertReport&) {
         BaseObject* o = Find(out.GetFirst(), "bouncing");
         ASSERT_NE(o, nullptr);
         const CCurve* c[3] = {Curve(o, 904, VECTOR_X), Curve(o, 904, VECTOR_Y),
                               Curve(o, 904, VECTOR_Z)};
         for (double t = 0.0; t <= 2.0; t += 0.0625) {
           double q[4], n = 0;
           for (int k = 0; k < 4; ++k) {
             q[k] = Hermite(kCubicTurns, k, t);
             n += q[k] * q[k];
           }
           n = std::sqrt(n);
           const double x = q[0] / n, y = q[1] / n, z = q[2] / n, w = q[3] / n;
           // The channel's rotation in our axes (z mirrored: F R F).
           const Matrix64 want(
               Vector64(),
               Vector64(1 - 2 * (y * y + z * z), 2 * (x * y + z * w), -2 * (x * z - y * w)),
               Vector64(2 * (x * y - z * w), 1 - 2 * (x * x + z * z), -2 * (y * z + x * w)),
               Vector64(-2 * (x * z + y * w), -2 * (y * z - x * w), 1 - 2 * (x * x + y * y)));
           Vector64 hpb;
           for (int k = 0; k < 3; ++k)
             (k == 0   ? hpb.x
              : k == 1 ? hpb.y
                       : hpb.z) = c[k] != nullptr ? LinearValue(c[k], t) : 0.0;
           ExpectMatrixNear(HPBToMatrix(hpb, o->GetRotationOrder()), want, 1e-3,
                            ("t = " + std::to_string(t)).c_str());
         }
       },
       [](const std::string& path) { WriteCubic(path, "rotation", &kCubicTurns[0][0][0], 4); }},
      {"faces naming vertices their mesh lacks are left out and reported", "ply",
       [](RootObject&) {},
       [](RootObject&, RootObject& out, ConvertReport& report) {
         const BaseObject* o = out.GetFirst();
         ASSERT_NE(o, nullptr);
         while (o->GetType() != TYPE_POLYGONOBJECT && o->GetDown() != nullptr) o = o->GetDown();
         ASSERT_EQ(o->GetType(), TYPE_POLYGONOBJECT);
         EXPECT_EQ(static_cast<const PolygonObject*>(o)->GetPolygonCount(), 1);
         EXPECT_TRUE(Says(report, "faces naming vertices"));
       },
       [](const std::string& path) {
         const std::string ply =
             "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
             "property float z\nelement face 2\nproperty list uchar int vertex_indices\n"
             "end_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n3 0 1 2000000\n";
         ASSERT_TRUE(lumtest::WriteFileBytes(path, {ply.begin(), ply.end()}));
       }},
      {"a second colour set, an attribute of the wrong count and two nodes of one name", "gltf2",
       [](RootObject&) {},
       [](RootObject&, RootObject& out, ConvertReport& report) {
         EXPECT_TRUE(Says(report, "1 further vertex colour sets not imported"));
         EXPECT_TRUE(Says(report, "1 custom vertex attributes not imported"));
         // Assimp's own placement where the file's names cannot tell the nodes apart.
         std::vector<Vector64> at;
         for (BaseObject* o = out.GetFirst(); o != nullptr; o = o->GetNext())
           at.push_back(o->GetMl().off);
         ASSERT_EQ(at.size(), 2u);
         EXPECT_EQ(at[0].x, 1.0);
         EXPECT_EQ(at[1].y, 2.0);
         ASSERT_EQ(out.GetFirst()->GetType(), TYPE_POLYGONOBJECT);
         EXPECT_NE(out.GetFirst()->GetTag(TAG_VERTEXCOLOR), nullptr);
         EXPECT_EQ(out.GetFirst()->GetTag(TAG_VERTEXMAP), nullptr);
       },
       [](const std::string& path) {
         const float bin[23] = {0,    0,    0, 1, 0, 0, 0, 1, 0,           // positions
                                1,    0,    0, 1, 0, 1, 0, 1, 0, 0, 1, 1,  // colours
                                0.5f, 0.25f};                              // two values for three
         ASSERT_TRUE(lumtest::WriteFileBytes(
             path + ".bin",
             {reinterpret_cast<const char*>(bin), reinterpret_cast<const char*>(bin + 23)}));
         const std::string name = path.substr(path.rfind('/') + 1) + ".bin";
         const std::string json =
             R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0,1]}],
             "nodes":[{"name":"twin","mesh":0,"translation":[1,0,0]},
                      {"name":"twin","translation":[0,2,0]}],
             "meshes":[{"primitives":[{"attributes":
               {"POSITION":0,"COLOR_0":1,"COLOR_1":1,"_HEAT":2}}]}],
             "buffers":[{"uri":")" +
             name + R"(","byteLength":92}],
             "bufferViews":[{"buffer":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":48},
                            {"buffer":0,"byteOffset":84,"byteLength":8}],
             "accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3",
                           "min":[0,0,0],"max":[1,1,0]},
                          {"bufferView":1,"componentType":5126,"count":3,"type":"VEC4"},
                          {"bufferView":2,"componentType":5126,"count":2,"type":"SCALAR"}]})";
         ASSERT_TRUE(lumtest::WriteFileBytes(path, {json.begin(), json.end()}));
       }},
      {"a file's quadrangle and hexagon, and no material it never had", "off", [](RootObject&) {},
       [](RootObject&, RootObject& out, ConvertReport&) {
         const BaseObject* o = out.GetFirst();
         ASSERT_NE(o, nullptr);
         while (o->GetType() != TYPE_POLYGONOBJECT && o->GetDown() != nullptr) o = o->GetDown();
         ASSERT_EQ(o->GetType(), TYPE_POLYGONOBJECT);
         const PolygonObject* p = static_cast<const PolygonObject*>(o);
         EXPECT_EQ(p->GetPolygonCount(), 3);
         const NgonBase* ngons = static_cast<PolygonObjectData*>(p->GetNodeData())->GetNgonBase();
         ASSERT_NE(ngons, nullptr);
         ASSERT_EQ(ngons->GetCount(), 1);
         EXPECT_EQ(ngons->GetRecord(0)->count, 2);
       },
       [](const std::string& path) {
         const std::string off =
             "OFF\n7 2 0\n0 0 0\n1 0 0\n2 1 0\n1 2 0\n0 2 0\n-1 1 0\n5 5 5\n"
             "4 0 1 2 3\n6 0 1 2 3 4 5\n";
         ASSERT_TRUE(lumtest::WriteFileBytes(path, {off.begin(), off.end()}));
       }},
  };
}

TEST(Convert, RoundTripsKeepEachFeature) {
  const std::vector<RoundTripCase> cases = RoundTripCases();
  for (size_t i = 0; i < cases.size(); ++i) {
    const RoundTripCase& c = cases[i];
    SCOPED_TRACE(c.name);
    RootObject in, out;
    c.build(in);
    ConvertReport report;
    const std::string format = c.format;
    const std::string file = "round" + std::to_string(i) + Extension(format);
    if (c.foreign) {
      const std::string path = lumtest::TempPath(file);
      c.foreign(path);
      ASSERT_TRUE(ImportObjects(path.c_str(), &out, ConvertOptions(), report)) << report.GetError();
    } else {
      ASSERT_TRUE(RoundTrip(in, out, file, c.format, report)) << report.GetError();
    }
    // Neither our own default material nor the one Assimp makes for a file without any is lost.
    EXPECT_FALSE(Says(report, "materials"));
    c.check(in, out, report);
  }
  ExpectValidGltf();
}

// Every feature of the round-trip table at once, exported and read back as a glb, an OBJ and a
// text glTF, an animated object alone (its glb has no binary chunk until the animation's is
// begun), and the foreign files
// read, with the library's allocation 1, 2, 3 ... failing in turn: each run fails as out of
// memory or succeeds reporting what a run without failure reports (no other failure, no
// failed allocation passed off as a loss, no crash), and leaks nothing.
struct SweepInput {
  RootObject scene;
  const char* format;
  std::string path;
  bool foreign;
  std::vector<std::string> lines;  // the report without failure
  bool recorded = false;
};
bool ConvertUnderFailure(std::int64_t, void* ctx) {
  SweepInput& in = *static_cast<SweepInput*>(ctx);
  ConvertReport report;
  RootObject out;
  const bool ok = (in.foreign || ExportObjects(&in.scene, in.path.c_str(), in.format,
                                               ConvertOptions(), report)) &&
                  ImportObjects(in.path.c_str(), &out, ConvertOptions(), report);
  if (ok && !in.recorded) in.lines = Lines(report), in.recorded = true;
  if (ok) {
    EXPECT_EQ(Lines(report), in.lines) << in.format;
    return Lines(report) == in.lines;
  }
  if (!lumtest::InjectedFailureHappened() || report.GetErrorCode() != -7) {
    ADD_FAILURE() << in.format << ": " << report.GetError();
    return false;
  }
  return true;
}

TEST(Convert, EndsAsOutOfMemoryWhereverAllocationFails) {
  std::vector<std::unique_ptr<SweepInput>> inputs;
  for (const char* format : {"glb2", "obj", "glb2", "gltf2"}) {
    const bool animated = inputs.size() == 2;
    inputs.push_back(std::make_unique<SweepInput>());
    SweepInput& in = *inputs.back();
    for (const RoundTripCase& c : RoundTripCases())
      if (!animated || std::string(c.name).find("animation") == 0) c.build(in.scene);
    in.format = format;
    in.path = lumtest::TempPath("sweep" + std::to_string(inputs.size()) + Extension(format));
    in.foreign = false;
  }
  for (const RoundTripCase& c : RoundTripCases()) {
    if (!c.foreign) continue;
    inputs.push_back(std::make_unique<SweepInput>());
    SweepInput& in = *inputs.back();
    in.format = c.format;
    in.path = lumtest::TempPath("sweep" + std::to_string(inputs.size()) + Extension(c.format));
    in.foreign = true;
    c.foreign(in.path);
  }
  for (auto& in : inputs) {
    ASSERT_TRUE(ConvertUnderFailure(0, in.get())) << in->path;
    EXPECT_GT(lumtest::SweepAllocationFailures(in->path.c_str(), ConvertUnderFailure, in.get()), 5)
        << in->path;
  }
}

// Per format, what it cannot carry is reported and what it can is not; the file is written.
TEST(Convert, ReportsWhatTheFormatCannotCarry) {
  RootObject in;
  BaseObject* spline = BaseObject::Alloc(TYPE_SPLINEOBJECT);
  static_cast<PointObjectData*>(spline->GetNodeData())->_ResizeObject(3);
  in.InsertLast(spline);
  in.InsertLast(BaseObject::Alloc(TYPE_SPLINEOBJECT));
  BaseObject* camera = BaseObject::Alloc(TYPE_CAMERAOBJECT);
  camera->SetDParameter(DescID(CAMERAOBJECT_FOCUS), GeData(35.0));
  in.InsertLast(camera);
  Animate(camera, 903, VECTOR_Y, {{0, 0}, {1, 10}}, CINTERPOLATION_LINEAR);
  PolygonObject* m = Mesh("m", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {CPolygon(0, 1, 2, 2)});
  VertexMapTag::Cast(m->MakeTag(TAG_VERTEXMAP))->Resize(3);
  VertexColorTag* colors = VertexColorTag::Cast(m->MakeTag(TAG_VERTEXCOLOR));
  colors->Resize(3, VertexColorTag::POINT_BYTES);
  colors->SetPerPointColor(true);
  in.InsertLast(m);
  // What no format carries, reported alike by each.
  BaseObject* light = BaseObject::Alloc(TYPE_LIGHTOBJECT);
  for (Int32 tag : {TAG_UVW, TAG_UVW, TAG_POINTSELECTION, TAG_TEXTURE, TAG_DISPLAY})
    light->MakeTag(tag);
  Animate(light, 1000, VECTOR_X, {{0, 1}}, CINTERPOLATION_LINEAR);
  // Neither a position track without keys nor one of no component animates it.
  Animate(light, 903, VECTOR_Z, {}, CINTERPOLATION_LINEAR);
  Animate(light, 903, VECTOR_X - 1, {{0, 1}}, CINTERPOLATION_LINEAR);
  ASSERT_TRUE(light->AddUniqueID(7, "id", 2));
  in.InsertLast(light);
  in.InsertLast(BaseObject::Alloc(TYPE_POINTOBJECT));
  // A polygon naming no point, a camera without a lens, and tags too short for their mesh
  // (left out, the vertex map with a word).
  PolygonObject* flawed = Mesh("flawed", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}},
                               {CPolygon(0, 1, 2, 2), CPolygon(0, 1, 9, 9)});
  VertexMapTag::Cast(flawed->MakeTag(TAG_VERTEXMAP))->Resize(2);
  UVWTag::Cast(flawed->MakeTag(TAG_UVW))->Resize(1);
  NormalTag::Cast(flawed->MakeTag(TAG_NORMAL))->Resize(1);
  VertexColorTag::Cast(flawed->MakeTag(TAG_VERTEXCOLOR))->Resize(1, VertexColorTag::POINT_BYTES);
  in.InsertLast(flawed);
  BaseObject* blind = BaseObject::Alloc(TYPE_CAMERAOBJECT);
  blind->SetDParameter(DescID(CAMERAOBJECT_FOCUS), GeData(0.0));
  in.InsertLast(blind);
  // Colours per polygon corner, and zero normals: the polygon's own, or for one without area
  // the default.
  PolygonObject* painted = Mesh("painted", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}},
                                {CPolygon(0, 1, 2, 3), CPolygon(0, 1, 1, 1)});
  VertexColorTag* corners = VertexColorTag::Cast(painted->MakeTag(TAG_VERTEXCOLOR));
  corners->Resize(2, VertexColorTag::POLYGON_BYTES);
  corners->SetPerPointColor(false);
  corners->GetColorW()[1].r = 1.0f;
  NormalTag::Cast(painted->MakeTag(TAG_NORMAL))->Resize(2);
  in.InsertLast(painted);
  const std::vector<const char*> kEveryFormat = {
      "1 further UVW tags not exported: one per object is carried",
      "1 selection tags not exported: the format has no selections",
      "1 texture tags not exported: materials and shaders are not carried",
      "1 tags of other kinds not exported: the format has no such data",
      "1 lights exported as empty nodes: lights are not carried",
      "1 objects of other kinds exported as empty nodes",
      "1 parameter tracks not exported: only position, rotation and scale are animated",
      "1 objects with custom data exported without it: the format has no place for it",
      "1 polygons not exported: a corner names no point"};
  const char* kNoCurves = "2 spline objects not exported: the format has no curves";
  const char* kLines = "1 spline objects exported as lines through their points";
  const char* kNoCameras = "2 cameras not exported: the format has no cameras";
  const char* kNoLens = "1 cameras not exported: no focal length or sensor width";
  const char* kNoMaps = "2 vertex maps not exported: the format has no custom attribute";
  const char* kShortMap = "1 vertex maps not exported: fewer values than points";
  const char* kNoColors = "3 vertex colour tags not exported: the format has no vertex colours";
  const char* kNoAnimation =
      "1 animated objects not animated in the export: the format keeps no animation";
  const struct {
    const char* format;
    const char* file;
    std::vector<const char*> reported, kept;
  } cases[] = {
      {"stl", "report.stl", {kNoCurves, kNoCameras, kNoMaps, kNoColors, kNoAnimation}, {}},
      {"collada", "report.dae", {kLines, kNoMaps, kNoLens}, {kNoCameras, kNoColors, kNoAnimation}},
      {"ply", "report.ply", {kNoCurves, kNoCameras, kNoMaps, kNoAnimation}, {kNoColors}},
      {"assbin",
       "report.assbin",
       {kLines, kNoMaps, kNoLens},
       {kNoCameras, kNoColors, kNoAnimation}},
      {"x", "report.x", {kNoCurves, kNoCameras, kNoMaps, kNoColors, kNoAnimation}, {}},
      {"glb2",
       "report.glb",
       {kLines, kNoLens, kShortMap},
       {kNoCameras, kNoMaps, kNoColors, kNoAnimation}},
      {"3ds", "report.3ds", {kNoCurves, kNoCameras, kNoMaps, kNoColors, kNoAnimation}, {}},
      {"fbx", "report.fbx", {kNoCurves, kNoCameras, kNoMaps, kNoAnimation}, {kNoColors}},
      // A buffer file name that is not a plain relative one ("..") is not appended to.
      {"gltf2",
       "report..dots.gltf",
       {kLines, kNoLens, kShortMap, "1 vertex maps not exported: the file has no buffer",
        "1 animations not exported: the file has no buffer"},
       {kNoCameras, kNoMaps, kNoColors, kNoAnimation}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    ConvertReport report;
    const std::string path = lumtest::TempPath(c.file);
    std::vector<Float> progress;  // rises to 1, the end
    ConvertOptions options;
    options.progress = [](void* user, Float done) {
      static_cast<std::vector<Float>*>(user)->push_back(done);
    };
    options.progressUser = &progress;
    ASSERT_TRUE(ExportObjects(&in, path.c_str(), c.format, options, report)) << report.GetError();
    EXPECT_TRUE(Exists(path));
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1.0);
    const std::vector<std::string> lines = Lines(report);
    auto has = [&](const char* s) {
      return std::find(lines.begin(), lines.end(), s) != lines.end();
    };
    for (const char* line : c.reported) EXPECT_TRUE(has(line)) << line;
    for (const char* line : kEveryFormat) EXPECT_TRUE(has(line)) << line;
    for (const char* line : c.kept) EXPECT_FALSE(has(line)) << line;
  }
}

// The scene-level calls fail with the report's code also in the file error they are given.
TEST(Convert, SceneCallsGiveTheirFailureAsAFileError) {
  const std::string dir = lumtest::TempDir();
  const std::string tooLong = dir + "/" + std::string(5000, 'n') + ".obj";
  Scene scene;
  scene.GetObjects()->InsertLast(
      Mesh("tri", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {CPolygon(0, 1, 2, 2)}));
  const struct {
    std::string path;
    const char* format;  // null: an import
    Int32 code;
  } cases[] = {
      {tooLong, "obj", -6},   {dir + "/nodir/x.obj", "obj", -4},   {dir + "/x.obj", "nosuch", -4},
      {tooLong, nullptr, -6}, {dir + "/missing.obj", nullptr, -3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 80) + (c.format != nullptr ? " export" : " import"));
    ConvertReport report;
    FileErrorInfo error;
    Scene read;
    const bool ok = c.format != nullptr ? ExportScene(scene, Filename(c.path.c_str()), c.format,
                                                      ConvertOptions(), report, &error)
                                        : ImportScene(Filename(c.path.c_str()), read,
                                                      ConvertOptions(), report, &error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(report.GetErrorCode(), c.code) << report.GetError();
    EXPECT_EQ(error.code, c.code);
    EXPECT_EQ(read.GetObjects()->GetFirst(), nullptr);
  }
}

// The report's own accounting: kinds counted once each, nothing for a count of none, kinds
// beyond its table on one last line, lines cut to the room given, a failure without a code
// still a failure, and Clear forgetting all of it.
TEST(Convert, ReportCountsEachKindOnceAndKeepsItsLinesWithinRoom) {
  ConvertReport report;
  report.Add(0, "nothing", "lost");
  report.Add(2, "spline objects", "not exported");
  report.Add(3, "spline objects", "not exported");
  EXPECT_EQ(Lines(report), std::vector<std::string>{"5 spline objects not exported"});
  for (int k = 0; k < ConvertReport::MAX_KINDS + 2; ++k)
    report.Add(1, ("kind " + std::to_string(k)).c_str(), "lost");
  const std::vector<std::string> lines = Lines(report);
  ASSERT_EQ(lines.size(), size_t(ConvertReport::MAX_KINDS));
  EXPECT_EQ(lines.back(), "4 further items not carried (too many kinds to list)");
  char small[8] = "x";
  EXPECT_EQ(report.GetLine(0, small, sizeof small), 7);
  EXPECT_STREQ(small, "5 splin");
  EXPECT_EQ(report.GetLine(-1, small, sizeof small), 0);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(report.GetLine(0, nullptr, 8) + report.GetLine(0, small, 0), 0);
  report.Fail(0, "%s", "why");
  EXPECT_TRUE(report.Failed());
  EXPECT_EQ(report.GetErrorCode(), -6);
  report.Clear();
  EXPECT_FALSE(report.Failed());
  EXPECT_EQ(report.GetLineCount(), 0);
}

// What a glTF holds beyond Assimp's reading, from bytes: read where the file says it plainly,
// nothing where an accessor, its view or its bytes are missing or of another kind.
TEST(Convert, GltfExtrasReadOnlyWhatTheFileHolds) {
  // Buffer 0 as a glb's binary chunk: 3 floats (0, 0.5, 1), 3 times (0, 1, 2), 9 vec3.
  std::vector<float> bin = {0, 0.5f, 1, 0, 1, 2};
  for (int i = 0; i < 27; ++i) bin.push_back(float(i));
  auto glb = [&](const std::string& json) {
    std::string j = json;
    while (j.size() % 4 != 0) j += ' ';
    const uint32_t binBytes = uint32_t(bin.size() * 4);
    const uint32_t head[5] = {0x46546C67u, 2, uint32_t(20 + j.size() + 8 + binBytes),
                              uint32_t(j.size()), 0x4E4F534Au};
    std::string out(reinterpret_cast<const char*>(head), 20);
    out += j;
    const uint32_t chunk[2] = {binBytes, 0x004E4942u};
    out.append(reinterpret_cast<const char*>(chunk), 8);
    out.append(reinterpret_cast<const char*>(bin.data()), binBytes);
    return out;
  };
  const std::string views =
      R"("bufferViews":[{"buffer":0,"byteLength":12},{"buffer":0,"byteOffset":12,"byteLength":12},
                        {"buffer":0,"byteOffset":24,"byteLength":108}],)";
  const std::string mesh =
      R"("nodes":[{"name":"n","mesh":0}],"meshes":[{"primitives":[{"attributes":{"_HEAT":0}}]}],)";
  const std::string anim =
      R"("animations":[{"channels":[{"sampler":0,"target":{"node":0,"path":"translation"}}],
                        "samplers":[{"input":1,"output":2,"interpolation":"CUBICSPLINE"}]}],)";
  std::string scale = anim;
  scale.replace(scale.find("translation"), 11, "scale");
  const std::string floats =
      R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"SCALAR","name":"heat"},
           {"bufferView":1,"componentType":5126,"count":3,"type":"SCALAR"},
           {"bufferView":2,"componentType":5126,"count":9,"type":"VEC3"}]})";
  // Buffer 1 as a data URI.
  auto dataUri = [&](const std::string& uri) {
    return "{" + mesh + R"("buffers":[{"byteLength":132},{"uri":")" + uri +
           R"(","byteLength":12}],"bufferViews":[{"buffer":1,"byteLength":12}],
           "accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"SCALAR"}]})";
  };
  const struct {
    const char* what;
    std::string json;
    int attributes, cubics;
  } cases[] = {
      {"a scale channel", "{" + mesh + scale + views + floats, 1, 1},
      {"accessors sparse, strided too far, too long, beyond reach, of another type or view",
       R"({"nodes":[{"name":"n","mesh":0}],"meshes":[{"primitives":[{"attributes":
           {"_A":0,"_B":1,"_C":2,"_D":3,"_E":4,"_F":5,"_G":6,"_H":"0"}}]}],
           "bufferViews":[{"buffer":0,"byteLength":12},{"buffer":0,"byteLength":12,"byteStride":256}],
           "accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"SCALAR","sparse":{}},
           {"bufferView":1,"componentType":5126,"count":3,"type":"SCALAR"},
           {"bufferView":0,"componentType":5126,"count":134217728,"type":"SCALAR"},
           {"bufferView":0,"componentType":5126,"count":3,"type":"SCALAR","byteOffset":2199023255552},
           {"bufferView":0,"componentType":5126,"count":3,"type":"VEC2"},
           {"bufferView":7,"componentType":5126,"count":3,"type":"SCALAR"},
           {"bufferView":0,"componentType":5126,"count":0,"type":"SCALAR"}]})",
       0, 0},
      {"a data URI with a character outside base64", dataUri("data:x/y;base64,AAAA!AAA"), 0, 0},
      {"a data URI with a NUL", dataUri("data:x/y;base64,AAAA\\u0000AAA"), 0, 0},
      {"a data URI too short to be one", dataUri("data:base64,AAAA"), 0, 0},
      {"both read",
       "{" + mesh + anim + views +
           R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"SCALAR","name":"heat"},
           {"bufferView":1,"componentType":5126,"count":3,"type":"SCALAR"},
           {"bufferView":2,"componentType":5126,"count":9,"type":"VEC3"}]})",
       1, 1},
      {"no accessors", "{" + mesh + anim + views + R"("x":0})", 0, 0},
      {"not floats, outputs not three per key",
       "{" + mesh + anim + views +
           R"("accessors":[{"bufferView":0,"componentType":5123,"count":3,"type":"SCALAR"},
           {"bufferView":1,"componentType":5126,"count":3,"type":"SCALAR"},
           {"bufferView":2,"componentType":5126,"count":8,"type":"VEC3"}]})",
       0, 0},
      // 0, 0.5, 1 as a data URI; a URI that is not base64 gives nothing.
      {"a buffer given as a data URI",
       "{" + mesh +
           R"("buffers":[{"byteLength":132},{"uri":"data:application/octet-stream;base64,AAAAAAAAAD8AAIA/","byteLength":12}],
           "bufferViews":[{"buffer":1,"byteLength":12}],
           "accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"SCALAR","name":"heat"}]})",
       1, 0},
      {"a data URI that is not base64",
       "{" + mesh +
           R"("buffers":[{"byteLength":132},{"uri":"data:application/octet-stream,AAAAAAAAAD8AAIA/","byteLength":12}],
           "bufferViews":[{"buffer":1,"byteLength":12}],
           "accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"SCALAR","name":"heat"}]})",
       0, 0},
      {"beyond the buffer",
       "{" + mesh + views +
           R"("accessors":[{"bufferView":2,"byteOffset":100,"componentType":5126,"count":3,"type":"SCALAR"}]})",
       0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bytes = glb(c.json);
    BaseArray<char> in;
    ASSERT_TRUE(in.Resize(Int32(bytes.size())));
    std::copy(bytes.begin(), bytes.end(), in.GetArray());
    GltfExtras extras;
    ASSERT_TRUE(_ReadGltfExtrasFrom(in, nullptr, extras));
    ASSERT_EQ(extras.attributes.GetCount(), c.attributes);
    ASSERT_EQ(extras.cubics.GetCount(), c.cubics);
    if (c.attributes > 0) {
      EXPECT_STREQ(extras.attributes[0].name, "heat");
      EXPECT_EQ(extras.data[extras.attributes[0].offset + 1], 0.5f);
    }
    if (c.cubics > 0) {  // key 1: time 1, in (9 10 11), value (12 13 14), out (15 16 17)
      const Float32* key = &extras.data[extras.cubics[0].offset + 10];
      EXPECT_EQ(key[0], 1.0f);
      EXPECT_EQ(key[4], 12.0f);
      EXPECT_EQ(key[9], 17.0f);
    }
  }
}

// The importer's own packing of normal components and UVs gives what the tags' encoders give:
// every half-way point between two normal codes, its neighbours a step of a double away,
// values beyond the unit range and the UVs' clamp, infinities and NaN.
TEST(Convert, NormalsAndUVsPackAsTheTagsPackThem) {
  std::vector<double> values = {std::nan(""), HUGE_VAL, -HUGE_VAL, 1.5,     -1.5,   1.0,
                                -1.0,         0.0,      -0.0,      1e5,     -1e5,   1e5 + 1,
                                -1e5 - 1,     1e300,    1e-300,    -1e-300, 3.4e38, -3.4e38};
  for (int k = -32000; k < 32000; ++k)
    for (const double c : {(k + 0.5) / 32000, k / 32000.0}) {
      values.push_back(c);
      values.push_back(std::nextafter(c, 2.0));
      values.push_back(std::nextafter(c, -2.0));
    }
  for (const double c : values) {
    const double clamped = c != c ? 0.0 : std::max(-1.0, std::min(1.0, c));
    ASSERT_EQ(Int16(std::lround(clamped * NormalTag::SCALE)), NormalTag::Pack(c)) << c;
  }
  for (size_t i = 0; i < values.size(); ++i) {
    const double u = values[i], v = values[(i * 31 + 5) % values.size()];
    SmallUVW want;
    FromVector(Vector64(u, v, 0.0), want);
    const SmallUVW got = _PackUV(u, v);
    ASSERT_EQ(got.word0, want.word0) << u;
    ASSERT_EQ(got.word1, want.word1) << v;
  }
}

// The glTF fuzz corpus (hand-made seeds and what fuzzing kept: damaged JSON, wrong kinds,
// entries beyond their buffers) read as the fuzz target reads it.
TEST(Convert, GltfReadersKeepInsideWhatTheyReadForEveryCorpusEntry) {
  const std::string dir = std::string(LUMORA_SOURCE_DIR) + "/fuzz/corpus/gltf";
  DIR* d = opendir(dir.c_str());
  ASSERT_NE(d, nullptr) << dir;
  int entries = 0;
  while (const dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::vector<unsigned char> bytes = lumtest::ReadFileBytes(dir + "/" + e->d_name);
    EXPECT_TRUE(gltffuzz::ReadStaysInside(bytes.data(), bytes.size())) << e->d_name;
    ++entries;
  }
  closedir(d);
  EXPECT_GE(entries, 100);
}

// ---- Assimp's own test models ------------------------------------------------------------------

struct Summary {
  unsigned cameras = 0, triangles = 0, meshes = 0;
  // Nodes, and for a node of several meshes each with faces or lines one more (ours makes such a
  // node a group of one object per mesh); and whether the root only groups (ours leaves such a root
  // out and writes its own "root" above the top objects, so only then do the counts agree exactly).
  unsigned nodes = 0;
  bool plainRoot = false;
  std::vector<std::array<double, 6>> boxes;  // world box of every mesh placed by a node
};

void Walk(const aiScene* s, const aiNode* n, const aiMatrix4x4& up, Summary& out) {
  const aiMatrix4x4 m = up * n->mTransformation;
  ++out.nodes;
  for (unsigned i = 0; i < n->mNumMeshes && n->mNumMeshes > 1; ++i)
    out.nodes += (s->mMeshes[n->mMeshes[i]]->mPrimitiveTypes &
                  (aiPrimitiveType_TRIANGLE | aiPrimitiveType_POLYGON | aiPrimitiveType_LINE)) != 0;
  for (unsigned i = 0; i < n->mNumMeshes; ++i) {
    const aiMesh* mesh = s->mMeshes[n->mMeshes[i]];
    unsigned tris = 0;
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) tris += mesh->mFaces[f].mNumIndices == 3;
    if (tris == 0) continue;  // points and lines
    out.triangles += tris;
    ++out.meshes;
    std::array<double, 6> b{1e300, 1e300, 1e300, -1e300, -1e300, -1e300};
    for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
      const aiVector3D p = m * mesh->mVertices[v];
      const double q[3] = {p.x, p.y, p.z};
      for (int k = 0; k < 3; ++k) b[k] = std::min(b[k], q[k]), b[k + 3] = std::max(b[k + 3], q[k]);
    }
    out.boxes.push_back(b);
  }
  for (unsigned i = 0; i < n->mNumChildren; ++i) Walk(s, n->mChildren[i], m, out);
}

bool Summarize(const std::string& path, Summary& out, std::string& why) {
  Assimp::Importer importer;
  const aiScene* s = importer.ReadFile(path, aiProcess_Triangulate);
  if (s == nullptr || s->mRootNode == nullptr) {
    why = importer.GetErrorString();
    return false;
  }
  out.cameras = s->mNumCameras;
  const aiNode* root = s->mRootNode;
  out.plainRoot = root->mNumMeshes == 0 && root->mTransformation.IsIdentity();
  for (unsigned i = 0; i < s->mNumCameras; ++i)
    out.plainRoot = out.plainRoot && !(s->mCameras[i]->mName == root->mName);
  for (unsigned a = 0; a < s->mNumAnimations; ++a)
    for (unsigned c = 0; c < s->mAnimations[a]->mNumChannels; ++c)
      out.plainRoot = out.plainRoot && !(s->mAnimations[a]->mChannels[c]->mNodeName == root->mName);
  Walk(s, root, aiMatrix4x4(), out);
  std::sort(out.boxes.begin(), out.boxes.end());
  return true;
}

std::vector<std::string> Models() {
  std::vector<std::string> out;
  const char* kinds[][2] = {{"glTF2", ".gltf"}, {"glTF2", ".glb"},   {"OBJ", ".obj"},
                            {"FBX", ".fbx"},    {"Collada", ".dae"}, {"PLY", ".ply"}};
  std::function<void(const std::string&, const char*)> scan = [&](const std::string& dir,
                                                                  const char* ext) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = dir + "/" + name;
      struct stat st;
      if (stat(path.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode))
        scan(path, ext);
      else if (name.size() > std::strlen(ext) &&
               strcasecmp(name.c_str() + name.size() - std::strlen(ext), ext) == 0)
        out.push_back(path);
    }
    closedir(d);
  };
  for (auto& k : kinds) scan(std::string(LUMORA_ASSIMP_MODELS_DIR) + "/" + k[0], k[1]);
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Convert, AssimpModelsThroughOurSceneFileAndGlb) {
  std::vector<std::string> models = Models();
  if (const char* only = std::getenv("LUMORA_CONVERT_MODEL")) models = {only};
  if (models.empty())
    GTEST_SKIP() << "no models under " << LUMORA_ASSIMP_MODELS_DIR << " (assimp-testmodels)";
  int converted = 0;
  std::vector<std::string> skipped;
  for (size_t i = 0; i < models.size(); ++i) {
    const std::string& model = models[i];
    SCOPED_TRACE(model);
    Summary original, ours;
    std::string why;
    if (!Summarize(model, original, why)) {
      skipped.push_back(model + ": Assimp cannot import it: " + why);
      continue;
    }
    const std::string lum = lumtest::TempPath("model" + std::to_string(i) + ".lum");
    const std::string glb = lumtest::TempPath("model" + std::to_string(i) + ".glb");
    ConvertReport report;
    ASSERT_TRUE(ConvertFile(model.c_str(), lum.c_str(), nullptr, ConvertOptions(), report))
        << report.GetError();
    ASSERT_TRUE(ConvertFile(lum.c_str(), glb.c_str(), nullptr, ConvertOptions(), report))
        << report.GetError();
    Written().push_back(glb);
    ASSERT_TRUE(Summarize(glb, ours, why)) << why;
    ++converted;
    EXPECT_EQ(ours.cameras, original.cameras);
    EXPECT_EQ(ours.triangles, original.triangles);
    EXPECT_EQ(ours.meshes, original.meshes);
    EXPECT_EQ(ours.nodes, original.nodes + (original.plainRoot ? 0 : 1));
    if (ours.boxes.size() != original.boxes.size()) continue;
    // Each original mesh's box against the nearest one of ours not yet taken.
    std::vector<bool> taken(ours.boxes.size());
    for (const auto& y : original.boxes) {
      const double size = std::max({y[3] - y[0], y[4] - y[1], y[5] - y[2], 1e-30});
      size_t best = 0;
      double bestError = 1e300;
      for (size_t b = 0; b < ours.boxes.size(); ++b) {
        double error = 0;
        for (int k = 0; k < 6; ++k) error = std::max(error, std::fabs(ours.boxes[b][k] - y[k]));
        if (!taken[b] && error < bestError) best = b, bestError = error;
      }
      taken[best] = true;
      // Within 1e-5 of the box's size, or for a small mesh far out within what single precision
      // keeps of its coordinates (both imports compose their transforms in floats).
      const double far = std::max({std::fabs(y[0]), std::fabs(y[1]), std::fabs(y[2]),
                                   std::fabs(y[3]), std::fabs(y[4]), std::fabs(y[5])});
      EXPECT_LE(bestError, std::max(1e-5 * size, 1e-6 * far))
          << "a mesh of world box size " << size;
    }
  }
  for (const std::string& s : skipped) std::printf("skipped %s\n", s.c_str());
  std::printf("%d models converted, %zu skipped\n", converted, skipped.size());
  EXPECT_GT(converted, 20);
  ExpectValidGltf();
}

// ---- the command line --------------------------------------------------------------------------

TEST(Convert, CommandLine) {
  const std::string dir = lumtest::TempDir();
  const std::string duck = std::string(LUMORA_ASSIMP_MODELS_DIR) + "/Collada/duck.dae";
  const bool haveDuck = Exists(duck);
  {
    Scene s;
    s.GetObjects()->InsertLast(
        Mesh("tri", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {CPolygon(0, 1, 2, 2)}));
    ASSERT_TRUE(s.Write(Filename((dir + "/cli.lum").c_str())));
  }
  ASSERT_TRUE(lumtest::WriteFileBytes(dir + "/bad.ply", {'p', 'l', 'y', '\n', '?'}));
  ASSERT_EQ(mkdir((dir + "/taken.glb").c_str(), 0755), 0);
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;     // in stderr
    const char* out;     // a file that must exist afterwards (or "" for none)
    const char* absent;  // a file that must not exist afterwards
    bool needsDuck;
  };
  const std::string lum = dir + "/cli.lum";
  const Case cases[] = {
      {{lum, dir + "/cli.glb"}, 0, "", "cli.glb", "", false},
      {{lum, dir + "/cli-copy.lum"}, 0, "", "cli-copy.lum", "", false},
      {{"--format", "objnomtl", lum, dir + "/cli.mesh"}, 0, "", "cli.mesh", "", false},
      {{"--triangulate", "--quiet", lum, dir + "/cli.obj"}, 0, "", "cli.obj", "", false},
      {{duck, dir + "/duck.lum"}, 0, "1 materials not imported", "duck.lum", "", true},
      {{"--quiet", duck, dir + "/duck-quiet.lum"}, 0, "", "duck-quiet.lum", "", true},
      {{dir + "/missing.lum", dir + "/x.glb"}, 1, "missing.lum", "", "x.glb", false},
      {{lum, dir + "/x.unknownext"}, 1, "x.unknownext", "", "x.unknownext", false},
      {{lum, dir + "/nodir/x.glb"}, 1, "x.glb", "", "nodir/x.glb", false},
      {{duck, dir + "/x.glb"}, 1, "scene file", "", "x.glb", true},
      {{"--", lum, dir + "/dashes.glb"}, 0, "", "dashes.glb", "", false},
      {{lum, dir + "/text.gltf"}, 0, "", "text.gltf", "", false},
      {{lum, dir + "/noextension"}, 1, "no export format", "", "noextension", false},
      {{dir + "/noextension", dir + "/n.lum"}, 1, "not a format", "", "n.lum", false},
      {{dir + "/bad.ply", dir + "/bad.lum"}, 1, "bad.ply", "", "bad.lum", false},
      {{lum, dir + "/taken.glb"}, 1, "cannot put the file in place", "", "", false},
      {{lum, lum}, 1, "names the input", "", "", false},
      {{dir + "/cli.txt", dir + "/text.lum"}, 1, "not a format", "", "text.lum", false},
      {{lum}, 2, "usage", "", "", false},
      {{lum, dir + "/a.glb", dir + "/b.glb"}, 2, "too many", "", "a.glb", false},
      {{lum, "--format"}, 2, "needs an ID", "", "", false},
      {{"--format", "glb2", lum, dir + "/f.lum"}, 2, "scene file", "", "f.lum", false},
      {{"--format", "nosuch", lum, dir + "/y.glb"}, 2, "unknown format", "", "y.glb", false},
      {{"--bogus", lum, dir + "/y.glb"}, 2, "unknown option", "", "y.glb", false},
      {{"--help"}, 0, "", "", "", false},
      {{"--version"}, 0, "", "", "", false},
      {{"--list-formats"}, 0, "", "", "", false},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    if (c.needsDuck && !haveDuck) continue;
    const lumtest::ProgramRun run = lumtest::RunProgram(LUMORA_CONVERT_PATH, c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    if (c.out[0] != 0) {
      EXPECT_TRUE(Exists(dir + "/" + c.out));
    }
    if (c.absent[0] != 0) {
      EXPECT_FALSE(Exists(dir + "/" + c.absent));
    }
  }
  // Nothing of a failed or finished conversion is left beside the output.
  DIR* d = opendir(dir.c_str());
  ASSERT_NE(d, nullptr);
  while (const dirent* e = readdir(d))
    EXPECT_EQ(std::string(e->d_name).find(".lumora-convert-"), std::string::npos);
  closedir(d);
  const lumtest::ProgramRun formats = lumtest::RunProgram(LUMORA_CONVERT_PATH, {"--list-formats"});
  EXPECT_NE(formats.out.find("glb2"), std::string::npos);
  Written().push_back(dir + "/cli.glb");
  ExpectValidGltf();
}

}  // namespace
