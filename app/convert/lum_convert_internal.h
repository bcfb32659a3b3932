// What the conversion's parts share: the axis flip between the scene file's left-handed axes
// and Assimp's right-handed ones, the per-format traits, and the table of exported nodes that
// the glTF finishing pass completes the written file from.
#ifndef LUM_CONVERT_INTERNAL_H
#define LUM_CONVERT_INTERNAL_H

#include <assimp/anim.h>
#include <assimp/matrix4x4.h>

#include <cstring>

#include "convert/lum_convert.h"
#include "lum_array.h"
#include "objects/lum_normaltag.h"
#include "objects/lum_uvwtag.h"

namespace lumora {

// The scene file's axes are left-handed (Y up, a camera looking along +Z): its rotations turn
// X towards +Z about Y. Assimp's are right-handed. Mirroring Z maps one onto the other: points
// (x, y, -z), matrices F M F with F = diag(1, 1, -1), and the corner order of every face
// reversed.
aiMatrix4x4 _ToAssimp(const Matrix64& m);
// The same flip on double matrices only (the glTF pass writes and reads them at full precision).
Matrix64 _FlipZ(const Matrix64& m);

// FromVector's encoding of (u, v, 0) without its call: each clamped to +-100000 (NaN as 0) and
// kept as its float's bits, bit 0 of v's cleared (it marks the packed form of a w).
inline UInt32 _UVBits(Float64 x) {
  const Float32 f = x != x ? 0.0f
                           : Float32(x < -100000.0  ? -100000.0
                                     : x > 100000.0 ? 100000.0
                                                    : x);
  UInt32 bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}
inline SmallUVW _PackUV(Float64 u, Float64 v) {
  SmallUVW s;
  s.word0 = _UVBits(u);
  s.word1 = _UVBits(v) & ~1u;
  return s;
}

struct FormatTraits {
  bool triangles;  // faces must be triangles
  bool lines;      // line primitives are kept
  bool cameras;    // cameras are kept (for glTF by the finishing pass)
  bool animation;  // node animation is kept
  bool colors;     // vertex colours are kept
  bool gltf;       // the glTF finishing pass runs on the written file
};
FormatTraits _TraitsOf(const char* formatId);

// One exported node as the finishing pass needs it: its unique name, its local matrix in
// Assimp's axes at double precision, and the camera it carries.
struct ExportedNode {
  const char* name = nullptr;  // points into the Assimp scene's node name
  Matrix64 ml;
  bool camera = false;
  Float yfov = 0.0, aspect = 0.0, znear = 0.0, zfar = 0.0;
};

// Per-vertex scalars beyond what Assimp's scene carries (a vertex map): written by the glTF
// pass as an application-specific attribute "_NAME" of the node's mesh, the map's own name in
// its accessor's name. values: one per vertex of the node's mesh, in data.
struct ExportedAttribute {
  Int32 node;  // index into the node table
  char name[64];
  Int32 offset, count;
};
struct ExportedAttributes {
  BaseArray<ExportedAttribute> list;
  BaseArray<Float32> data;
};

// Completes a glTF 2.0 file (text or binary) Assimp wrote: node transforms at double precision
// as translation, rotation and scale, the cameras, the custom attributes and, when given, the
// node animation (kept from Assimp's exporter, which adds accessors at a cost that grows with
// the buffer). False with the reason in report.
bool _FinishGltf(const char* path, const BaseArray<ExportedNode>& nodes,
                 const ExportedAttributes& attributes, const aiAnimation* animation,
                 ConvertReport& report);

// What a glTF 2.0 file holds beyond Assimp's reading of it, by node name: the custom float
// attributes of a node's mesh (its first primitive), and the cubic-spline channels of the first
// animation with their tangents. Floats in data: an attribute's values one per vertex; a
// channel's keys as (time, in-tangent, value, out-tangent), each of three components (xyz) or,
// for a rotation, four (a quaternion's xyzw).
struct GltfAttribute {
  char node[128];
  char name[64];
  Int32 offset, count;
};
enum class GltfPath { TRANSLATION, ROTATION, SCALE };
struct GltfCubicChannel {
  char node[128];
  GltfPath path;
  Int32 offset, keys;
  // Floats per key.
  Int32 Stride() const { return path == GltfPath::ROTATION ? 13 : 10; }
};
struct GltfExtras {
  // The file's own materials where they are counted from the file (a glTF's, less the one our
  // export writes, "default"; none for a format without materials); -1 to count Assimp's.
  Int32 materials = -1;
  BaseArray<GltfAttribute> attributes;
  BaseArray<GltfCubicChannel> cubics;
  BaseArray<Float32> data;
};
// Read from the bytes of a .gltf or .glb (path, which may be null, for a .gltf's buffer files
// beside it; buffers that are data URIs or cannot be read give nothing). False only when memory
// runs out.
bool _ReadGltfExtrasFrom(const BaseArray<char>& bytes, const char* path, GltfExtras& out);

// Local matrices of the nodes of a glTF 2.0 file at double precision, by unique node name (in
// the file's axes), with the field of view of their cameras as the file gives it (Assimp's
// importer gives no exact angle); empty for other files or when the file's JSON cannot be read.
struct GltfNodeMatrix {
  char name[128];
  Matrix64 ml;
  Float yfov, aspect;  // the node's perspective camera; yfov 0 without one
};
// The same from the bytes of a .gltf or .glb; false only when memory runs out.
bool _ReadGltfMatricesFrom(const BaseArray<char>& bytes, BaseArray<GltfNodeMatrix>& out);

// What else the importer's first look at the JSON finds: the file's own materials (less the
// one our export writes, "default"), and whether it has anything the extras read (a custom
// attribute or a cubic-spline sampler).
struct GltfSummary {
  bool readable = false;  // the text is JSON with an object at its top
  Int32 materials = 0;
  bool wantsExtras = false;
};
// The node matrices and the summary from the JSON text alone, scanned once without a document
// built from it; out empty and summary unreadable for text that is not JSON. False only when
// memory runs out.
bool _ScanGltfJson(const char* text, Int32 length, BaseArray<GltfNodeMatrix>& out,
                   GltfSummary& summary);

// The matrices and the extras of the file at path (nothing for files other than .gltf and
// .glb), its JSON parsed once. False only when memory runs out.
bool _ReadGltf(const char* path, BaseArray<GltfNodeMatrix>& matrices, GltfExtras& extras);

// Adds the times between t0 and t1 (in order, neither of them) at which a linear interpolation
// of the samples stays within tolerance: err(t0, t1, t) says whether the interpolation between
// t0 and t1 strays at t. Depth-limited halving.
template <typename Err>
bool _Refine(BaseArray<Float>& times, Float t0, Float t1, Int32 depth, const Err& err) {
  if (depth == 0) return true;
  bool split = false;
  for (const Float f : {0.25, 0.5, 0.75})
    if (err(t0, t1, t0 + f * (t1 - t0))) split = true;
  if (!split) return true;
  const Float mid = 0.5 * (t0 + t1);
  return _Refine(times, t0, mid, depth - 1, err) && times.Append(mid) &&
         _Refine(times, mid, t1, depth - 1, err);
}

}  // namespace lumora

#endif  // LUM_CONVERT_INTERNAL_H
