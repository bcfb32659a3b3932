// The glTF finishing pass. Assimp's glTF 2.0 exporter writes no cameras and node matrices in
// single precision; this pass completes the JSON it wrote (text .gltf, or the JSON chunk of a
// .glb, whose binary chunk stays as it is): every node we exported gets its local transform at
// double precision as translation, rotation and scale (a matrix only where it has shear), and
// every camera a perspective camera. The reader side takes the node matrices back at double
// precision for files we wrote.
#include <strings.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "convert/lum_convert_internal.h"

namespace lumora {

namespace {

using Json = nlohmann::json;

// The whole file; false when it cannot be read.
bool Slurp(const char* path, BaseArray<char>& bytes) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  bool ok = std::fseek(f, 0, SEEK_END) == 0;
  const long size = ok ? std::ftell(f) : -1;
  ok = ok && size >= 0 && size < 0x7fffffff && std::fseek(f, 0, SEEK_SET) == 0 &&
       bytes.Resize(Int32(size)) &&
       std::fread(bytes.GetArray(), 1, size_t(size), f) == size_t(size);
  std::fclose(f);
  return ok;
}

UInt32 Le32(const char* p);

// The JSON of a glTF file: the whole of a .gltf, the JSON chunk alone of a .glb (its binary
// chunk, the bulk of the file, is not read); false when it cannot be read.
bool SlurpJson(const char* path, BaseArray<char>& bytes) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  char head[20];
  const size_t got = std::fread(head, 1, sizeof head, f);
  long size = -1;
  bool ok = std::fseek(f, 0, SEEK_END) == 0 && (size = std::ftell(f)) >= 0;
  if (ok && got == sizeof head && std::memcmp(head, "glTF", 4) == 0) {
    const UInt32 length = Le32(head + 12);
    ok = Le32(head + 16) == 0x4E4F534Au && length <= UInt32(size - 20) &&
         std::fseek(f, 20, SEEK_SET) == 0 && bytes.Resize(Int32(length)) &&
         std::fread(bytes.GetArray(), 1, length, f) == length;
  } else {
    ok = ok && size < 0x7fffffff && std::fseek(f, 0, SEEK_SET) == 0 && bytes.Resize(Int32(size)) &&
         std::fread(bytes.GetArray(), 1, size_t(size), f) == size_t(size);
  }
  std::fclose(f);
  return ok;
}

UInt32 Le32(const char* p) {
  return UInt32(UInt8(p[0])) | UInt32(UInt8(p[1])) << 8 | UInt32(UInt8(p[2])) << 16 |
         UInt32(UInt8(p[3])) << 24;
}

void Put32(char* p, UInt32 v) {
  for (int i = 0; i < 4; ++i) p[i] = char(v >> (8 * i));
}

// The JSON of a glTF file and, for a .glb, where its binary chunk begins (0 for text).
struct Parts {
  Json json;
  Int32 binStart = 0;
  bool binary = false;
};

bool Parse(const BaseArray<char>& bytes, Parts& out) {
  const char* p = bytes.GetArray();
  const Int32 n = bytes.GetCount();
  const char* text = p;
  Int32 length = n;
  if (n >= 20 && std::memcmp(p, "glTF", 4) == 0) {
    const UInt32 total = Le32(p + 8), jsonLength = Le32(p + 12);
    if (total > UInt32(n) || Le32(p + 16) != 0x4E4F534Au || jsonLength > UInt32(n) - 20)
      return false;
    text = p + 20;
    length = Int32(jsonLength);
    out.binary = true;
    out.binStart = 20 + length;
  }
  out.json = Json::parse(text, text + length, nullptr, false);
  return !out.json.is_discarded() && out.json.is_object();
}

bool Store(const char* path, const Parts& parts, const BaseArray<char>& bytes) {
  // Names that are not UTF-8 are written with replacement characters rather than failing.
  const std::string text = parts.json.dump(-1, ' ', false, Json::error_handler_t::replace);
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  bool ok;
  if (!parts.binary) {
    ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  } else {
    // The JSON chunk padded with spaces to four bytes; the binary chunk as it was.
    const size_t padded = (text.size() + 3) & ~size_t(3);
    const size_t rest = size_t(bytes.GetCount() - parts.binStart);
    char head[20];
    std::memcpy(head, "glTF", 4);
    Put32(head + 4, 2);
    Put32(head + 8, UInt32(20 + padded + rest));
    Put32(head + 12, UInt32(padded));
    std::memcpy(head + 16, "JSON", 4);
    ok = std::fwrite(head, 1, 20, f) == 20 &&
         std::fwrite(text.data(), 1, text.size(), f) == text.size();
    for (size_t i = text.size(); ok && i < padded; ++i) ok = std::fputc(' ', f) != EOF;
    ok = ok && std::fwrite(bytes.GetArray() + parts.binStart, 1, rest, f) == rest;
  }
  return std::fclose(f) == 0 && ok;
}

Float Length(const Vector64& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

// m as translation, rotation (x, y, z, w) and scale, when its axes are at right angles.
bool Decompose(const Matrix64& m, Float t[3], Float r[4], Float s[3]) {
  Vector64 x = m.v1, y = m.v2, z = m.v3;
  s[0] = Length(x), s[1] = Length(y), s[2] = Length(z);
  if (s[0] == 0.0 || s[1] == 0.0 || s[2] == 0.0) return false;
  x = (1.0 / s[0]) * x, y = (1.0 / s[1]) * y, z = (1.0 / s[2]) * z;
  if (std::fabs(Dot(x, y)) > 1e-12 || std::fabs(Dot(y, z)) > 1e-12 || std::fabs(Dot(x, z)) > 1e-12)
    return false;
  const Vector64 c(x.y * y.z - x.z * y.y, x.z * y.x - x.x * y.z, x.x * y.y - x.y * y.x);
  if (Dot(c, z) < 0.0) {  // a mirror: one negative scale
    s[2] = -s[2];
    z = -z;
  }
  t[0] = m.off.x, t[1] = m.off.y, t[2] = m.off.z;
  // Rotation matrix columns x, y, z to a unit quaternion.
  const Float tr = x.x + y.y + z.z;
  if (tr > 0.0) {
    const Float k = 0.5 / std::sqrt(tr + 1.0);
    r[3] = 0.25 / k, r[0] = (y.z - z.y) * k, r[1] = (z.x - x.z) * k, r[2] = (x.y - y.x) * k;
  } else if (x.x > y.y && x.x > z.z) {
    const Float k = 2.0 * std::sqrt(1.0 + x.x - y.y - z.z);
    r[3] = (y.z - z.y) / k, r[0] = 0.25 * k, r[1] = (y.x + x.y) / k, r[2] = (z.x + x.z) / k;
  } else if (y.y > z.z) {
    const Float k = 2.0 * std::sqrt(1.0 + y.y - x.x - z.z);
    r[3] = (z.x - x.z) / k, r[0] = (y.x + x.y) / k, r[1] = 0.25 * k, r[2] = (z.y + y.z) / k;
  } else {
    const Float k = 2.0 * std::sqrt(1.0 + z.z - x.x - y.y);
    r[3] = (x.y - y.x) / k, r[0] = (z.x + x.z) / k, r[1] = (z.y + y.z) / k, r[2] = 0.25 * k;
  }
  const Float n = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2] + r[3] * r[3]);
  for (int i = 0; i < 4; ++i) r[i] /= n;
  return true;
}

Matrix64 Compose(const Json& node) {
  if (node.contains("matrix") && node["matrix"].is_array() && node["matrix"].size() == 16) {
    const Json& a = node["matrix"];  // column-major
    auto v = [&](int i) { return a[size_t(i)].is_number() ? a[size_t(i)].get<double>() : 0.0; };
    return Matrix64(Vector64(v(12), v(13), v(14)), Vector64(v(0), v(1), v(2)),
                    Vector64(v(4), v(5), v(6)), Vector64(v(8), v(9), v(10)));
  }
  auto get = [&](const char* key, int n, const double* fallback, double* out) {
    for (int i = 0; i < n; ++i) out[i] = fallback[i];
    if (!node.contains(key) || !node[key].is_array() || node[key].size() != size_t(n)) return;
    for (int i = 0; i < n; ++i)
      if (node[key][size_t(i)].is_number()) out[i] = node[key][size_t(i)].get<double>();
  };
  static const double zero[3] = {0, 0, 0}, one[3] = {1, 1, 1}, unit[4] = {0, 0, 0, 1};
  double t[3], r[4], s[3];
  get("translation", 3, zero, t);
  get("rotation", 4, unit, r);
  get("scale", 3, one, s);
  const double x = r[0], y = r[1], z = r[2], w = r[3];
  const Vector64 c1(1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w));
  const Vector64 c2(2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w));
  const Vector64 c3(2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y));
  return Matrix64(Vector64(t[0], t[1], t[2]), s[0] * c1, s[1] * c2, s[2] * c3);
}

}  // namespace

bool _FinishGltf(const char* path, const BaseArray<ExportedNode>& nodes, ConvertReport& report) {
  BaseArray<char> bytes;
  Parts parts;
  if (!Slurp(path, bytes) || !Parse(bytes, parts)) {
    report.Fail(-3, "%s: cannot read back the glTF the exporter wrote", path);
    return false;
  }
  Json& json = parts.json;
  if (!json.contains("nodes") || !json["nodes"].is_array()) return true;
  Json& list = json["nodes"];
  // By name: our names are unique, and the exporter keeps them.
  for (const ExportedNode& e : nodes) {
    Json* node = nullptr;
    for (Json& n : list)
      if (n.contains("name") && n["name"].is_string() && n["name"].get<std::string>() == e.name) {
        node = &n;
        break;
      }
    if (node == nullptr) continue;
    node->erase("matrix");
    node->erase("translation");
    node->erase("rotation");
    node->erase("scale");
    double t[3], r[4], s[3];
    const Matrix64& m = e.ml;
    if (Decompose(m, t, r, s)) {
      if (t[0] != 0 || t[1] != 0 || t[2] != 0) (*node)["translation"] = {t[0], t[1], t[2]};
      if (r[0] != 0 || r[1] != 0 || r[2] != 0 || r[3] != 1)
        (*node)["rotation"] = {r[0], r[1], r[2], r[3]};
      if (s[0] != 1 || s[1] != 1 || s[2] != 1) (*node)["scale"] = {s[0], s[1], s[2]};
    } else if (m != Matrix64()) {
      (*node)["matrix"] = {m.v1.x, m.v1.y, m.v1.z, 0.0, m.v2.x,  m.v2.y,  m.v2.z,  0.0,
                           m.v3.x, m.v3.y, m.v3.z, 0.0, m.off.x, m.off.y, m.off.z, 1.0};
    }
    if (e.camera) {
      if (!json.contains("cameras") || !json["cameras"].is_array()) json["cameras"] = Json::array();
      Json camera = {
          {"type", "perspective"},
          {"name", e.name},
          {"perspective",
           {{"yfov", e.yfov}, {"aspectRatio", e.aspect}, {"znear", e.znear}, {"zfar", e.zfar}}}};
      (*node)["camera"] = json["cameras"].size();
      json["cameras"].push_back(camera);
    }
  }
  // A scene without geometry: Assimp writes one empty buffer, which glTF forbids.
  if (json.contains("buffers") && json["buffers"].is_array() &&
      (!json.contains("bufferViews") || json["bufferViews"].empty())) {
    bool empty = true;
    for (const Json& b : json["buffers"])
      empty = empty && (!b.contains("byteLength") ||
                        (b["byteLength"].is_number() && b["byteLength"].get<double>() == 0));
    if (empty) {
      json.erase("buffers");
      json.erase("bufferViews");
      if (parts.binary) bytes.Resize(parts.binStart);
    }
  }
  if (!Store(path, parts, bytes)) {
    report.Fail(-4, "%s: cannot write the completed glTF", path);
    return false;
  }
  return true;
}

bool _ReadGltfMatrices(const char* path, BaseArray<GltfNodeMatrix>& out) {
  out.Flush();
  const char* dot = std::strrchr(path, '.');
  if (dot == nullptr || (strcasecmp(dot, ".gltf") != 0 && strcasecmp(dot, ".glb") != 0))
    return true;
  BaseArray<char> bytes;
  if (!SlurpJson(path, bytes)) return true;
  return _ReadGltfMatricesFrom(bytes, out);
}

bool _ReadGltfMatricesFrom(const BaseArray<char>& bytes, BaseArray<GltfNodeMatrix>& out) {
  out.Flush();
  Parts parts;
  if (!Parse(bytes, parts)) return true;
  const Json& json = parts.json;
  if (!json.contains("nodes") || !json["nodes"].is_array()) return true;
  for (const Json& n : json["nodes"]) {
    if (!n.contains("name") || !n["name"].is_string() || !n.is_object()) continue;
    const std::string name = n["name"].get<std::string>();
    if (name.size() >= sizeof(GltfNodeMatrix::name)) continue;
    GltfNodeMatrix entry;
    std::snprintf(entry.name, sizeof entry.name, "%s", name.c_str());
    entry.ml = Compose(n);
    entry.yfov = 0.0;
    entry.aspect = 0.0;
    if (n.contains("camera") && n["camera"].is_number_unsigned() && json.contains("cameras") &&
        json["cameras"].is_array() && n["camera"].get<size_t>() < json["cameras"].size()) {
      const Json& c = json["cameras"][n["camera"].get<size_t>()];
      if (c.contains("perspective") && c["perspective"].is_object()) {
        const Json& p = c["perspective"];
        if (p.contains("yfov") && p["yfov"].is_number()) entry.yfov = p["yfov"].get<double>();
        if (p.contains("aspectRatio") && p["aspectRatio"].is_number())
          entry.aspect = p["aspectRatio"].get<double>();
      }
    }
    if (!out.Append(entry)) return false;
  }
  return true;
}

}  // namespace lumora
