// The glTF finishing pass. Assimp's glTF 2.0 exporter writes no cameras and node matrices in
// single precision; this pass completes the JSON it wrote (text .gltf, or the JSON chunk of a
// .glb, whose binary chunk stays as it is): every node we exported gets its local transform at
// double precision as translation, rotation and scale (a matrix only where it has shear), and
// every camera a perspective camera. The reader side takes the node matrices back at double
// precision for files we wrote.
#include <assimp/anim.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>
#include <vector>

#include "convert/lum_convert_internal.h"

namespace lumora {

namespace {

using Json = nlohmann::json;

UInt32 Le32(const char* p);

// The bytes of the file at path: all of them, or with jsonOnly for a .glb its JSON chunk alone
// (its binary chunk, the bulk of the file, is not read). False when it cannot be read, with
// *noMemory set when that is for want of memory.
bool Slurp(const char* path, BaseArray<char>& bytes, bool* noMemory = nullptr,
           bool jsonOnly = false) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  char head[20];
  const size_t got = std::fread(head, 1, sizeof head, f);
  long size = -1;
  bool ok = std::fseek(f, 0, SEEK_END) == 0 && (size = std::ftell(f)) >= 0 && size < 0x7fffffff;
  Int64 from = 0, length = size;
  if (ok && jsonOnly && got == sizeof head && std::memcmp(head, "glTF", 4) == 0) {
    from = 20;
    length = Le32(head + 12);
    ok = Le32(head + 16) == 0x4E4F534Au && length <= size - 20;
  }
  ok = ok && std::fseek(f, long(from), SEEK_SET) == 0;
  if (ok && !bytes.Resize(Int32(length))) {
    if (noMemory != nullptr) *noMemory = true;
    ok = false;
  }
  ok = ok && std::fread(bytes.GetArray(), 1, size_t(length), f) == size_t(length);
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

// Where the JSON text of a glTF's bytes lies: all of a .gltf, the JSON chunk of a .glb (and
// its binary chunk's start in parts); false for a damaged glb header.
bool JsonText(const BaseArray<char>& bytes, const char*& text, Int32& length, Parts* parts) {
  const char* p = bytes.GetArray();
  const Int32 n = bytes.GetCount();
  text = p;
  length = n;
  if (n >= 20 && std::memcmp(p, "glTF", 4) == 0) {
    const UInt32 total = Le32(p + 8), jsonLength = Le32(p + 12);
    if (total > UInt32(n) || Le32(p + 16) != 0x4E4F534Au || jsonLength > UInt32(n) - 20)
      return false;
    text = p + 20;
    length = Int32(jsonLength);
    if (parts != nullptr) {
      parts->binary = true;
      parts->binStart = 20 + length;
    }
  }
  return true;
}

bool Parse(const BaseArray<char>& bytes, Parts& out) {
  const char* text;
  Int32 length;
  if (!JsonText(bytes, text, length, &out)) return false;
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

// The directory part of path, with its slash ("" for none).
std::string DirOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? std::string(path, size_t(slash - path + 1)) : std::string();
}

// o[key] when o is an object holding key as a value of that kind; null otherwise.
template <typename J>
J* Member(J& o, const char* key, Json::value_t kind) {
  const auto it = o.find(key);
  return it != o.end() && it->type() == kind ? &*it : nullptr;
}

// o[key] as a count or index, fallback when it is not an unsigned number.
Int64 Number(const Json& o, const char* key, Int64 fallback) {
  const Json* n = Member(o, key, Json::value_t::number_unsigned);
  return n != nullptr ? Int64(n->get<UInt64>()) : fallback;
}

// Element i of list (an array or null); null when there is no such element.
template <typename J>
J* At(J* list, Int64 i) {
  return list != nullptr && i >= 0 && UInt64(i) < list->size() ? &(*list)[size_t(i)] : nullptr;
}

// Element i of the array o[key].
template <typename J>
J* Item(J& o, const char* key, Int64 i) {
  return At(Member(o, key, Json::value_t::array), i);
}

// o[key] when it is a string, "" otherwise (Json::value throws on a value of another kind).
const std::string& Text(const Json& o, const char* key) {
  static const std::string kNone;
  const Json* s = Member(o, key, Json::value_t::string);
  return s != nullptr ? s->get_ref<const std::string&>() : kNone;
}

// A buffer's file beside the glTF: a plain relative name (no data URI, no scheme, no "..").
bool BufferFile(const Json& buffer, const char* gltfPath, std::string& file) {
  const std::string& uri = Text(buffer, "uri");
  if (uri.empty() || uri.find(':') != std::string::npos || uri.find("..") != std::string::npos ||
      uri[0] == '/')
    return false;
  file = DirOf(gltfPath) + uri;
  return true;
}

// A buffer given as a base64 data URI, decoded; false for any other buffer or a malformed one.
bool DataUri(const Json& buffer, BaseArray<char>& bytes, bool& noMemory) {
  const std::string& uri = Text(buffer, "uri");
  const size_t comma = uri.find(',');
  if (uri.compare(0, 5, "data:") != 0 || comma == std::string::npos || comma < 12 ||
      uri.compare(comma - 7, 7, ";base64") != 0)
    return false;
  // At most three bytes for every four characters: bounded by the text already read.
  if (!bytes.Resize(Int32(std::min<size_t>((uri.size() - comma) / 4 * 3 + 3, 0x7fffffff)))) {
    noMemory = true;
    return false;
  }
  UInt32 bits = 0;
  Int32 held = 0, n = 0;
  for (size_t i = comma + 1; i < uri.size() && uri[i] != '='; ++i) {
    const char c = uri[i];
    const char* at =
        std::strchr("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", c);
    if (c == 0 || at == nullptr) return false;
    bits =
        bits << 6 | UInt32(at - "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    if ((held += 6) >= 8) {
      held -= 8;
      bytes[n++] = char(bits >> held);
    }
  }
  return bytes.Resize(n);
}

// Data appended to buffer 0 (the binary chunk of a .glb, or the .bin file of a .gltf), each
// piece at a multiple of four bytes with a buffer view and an accessor of its own.
class Appender {
 public:
  Appender(const char* path, Parts& parts, BaseArray<char>& bytes)
      : _path(path), _parts(parts), _bytes(bytes) {}
  ~Appender() {
    if (_bin != nullptr) std::fclose(_bin);
  }

  // False when the file has no buffer 0 to append to (nothing changed), or when memory runs
  // out or the .bin cannot be opened (Failed()).
  bool Open() {
    // The exporter's lists are arrays where it wrote them; those it did not write are null,
    // which the first push_back makes an array.
    Json& buffers = _parts.json["buffers"];
    if (_parts.binary) {
      // A glb without geometry has no binary chunk: one is begun. The exporter's own chunk
      // follows its JSON.
      if (_bytes.GetCount() == _parts.binStart) {
        if (!_bytes.Resize(_parts.binStart + 8)) return !(_noMemory = true);
        Put32(_bytes.GetArray() + _parts.binStart, 0);
        Put32(_bytes.GetArray() + _parts.binStart + 4, 0x004E4942u);
        if (buffers.empty()) buffers.emplace_back()["byteLength"] = 0;
      }
      _end = Le32(_bytes.GetArray() + _parts.binStart);
      return true;
    }
    std::string file;
    if (buffers.empty() || !BufferFile(buffers[0], _path, file)) return false;
    _bin = std::fopen(file.c_str(), "ab");
    if (_bin == nullptr || std::fseek(_bin, 0, SEEK_END) != 0 || (_end = std::ftell(_bin)) < 0)
      return !(_writeFailed = true);
    return true;
  }

  // values (count elements of components floats) as a new accessor of type; its index, or -1
  // when the bytes cannot be written. withRange: its min and max, which animation inputs need.
  Int64 Add(const Float32* values, Int32 count, Int32 components, const char* type,
            const char* name, bool withRange) {
    const Int64 offset = (_end + 3) & ~Int64(3);
    const Int64 n = Int64(count) * components, length = 4 * n;
    if (_parts.binary) {
      const Int32 at = _bytes.GetCount();
      if (!_bytes.Resize(at + Int32(offset - _end + length))) return -1;
      char* out = _bytes.GetArray() + at;
      std::memset(out, 0, size_t(offset - _end));
      for (Int64 i = 0; i < n; ++i) {  // little-endian, whatever the machine's order
        UInt32 bits;
        std::memcpy(&bits, values + i, 4);
        Put32(out + (offset - _end) + 4 * i, bits);
      }
    } else {
      const char pad[3] = {0, 0, 0};
      if (std::fwrite(pad, 1, size_t(offset - _end), _bin) != size_t(offset - _end) ||
          std::fwrite(values, 4, size_t(n), _bin) != size_t(n)) {
        _writeFailed = true;
        return -1;
      }
    }
    _end = offset + length;
    Json& json = _parts.json;
    Json& view = json["bufferViews"].emplace_back();
    view["buffer"] = 0;
    view["byteOffset"] = offset;
    view["byteLength"] = length;
    Json& accessor = json["accessors"].emplace_back();
    accessor["bufferView"] = json["bufferViews"].size() - 1;
    accessor["componentType"] = 5126;
    accessor["count"] = count;
    accessor["type"] = type;
    if (name != nullptr) accessor["name"] = name;
    if (withRange && count > 0) {
      Json lo = Json::array(), hi = Json::array();
      for (Int32 k = 0; k < components; ++k) {
        Float32 a = values[k], b = values[k];
        for (Int32 i = 1; i < count; ++i)
          a = std::min(a, values[i * components + k]), b = std::max(b, values[i * components + k]);
        lo.push_back(a);
        hi.push_back(b);
      }
      accessor["min"] = lo;
      accessor["max"] = hi;
    }
    return Int64(json["accessors"].size() - 1);
  }

  // Whether the .bin could not be written; every other failure is for want of memory.
  bool WriteFailed() const { return _writeFailed; }
  bool Failed() const { return _writeFailed || _noMemory; }

  // Pads the binary chunk to four bytes and gives buffer 0 its new length; false when the
  // .bin cannot be finished.
  bool Close() {
    bool ok = true;
    if (_bin != nullptr) {
      ok = std::fclose(_bin) == 0;
      _writeFailed = _writeFailed || !ok;
      _bin = nullptr;
    }
    if (_parts.binary) {
      const Int32 at = _bytes.GetCount(), padded = (at + 3) & ~3;
      if (!_bytes.Resize(padded)) return false;
      std::memset(_bytes.GetArray() + at, 0, size_t(padded - at));
      Put32(_bytes.GetArray() + _parts.binStart, UInt32(padded - _parts.binStart - 8));
    }
    _parts.json["buffers"][0]["byteLength"] = _end;
    return ok;
  }

 private:
  const char* _path;
  Parts& _parts;
  BaseArray<char>& _bytes;
  FILE* _bin = nullptr;
  bool _writeFailed = false, _noMemory = false;
  Int64 _end = 0;
};

// node[key] as the n numbers at v, left out when they are the default d.
void PutNumbers(Json& node, const char* key, const Float* v, const Float* d, int n) {
  if (std::equal(v, v + n, d)) return;
  Json& list = node[key];
  for (int i = 0; i < n; ++i) list.push_back(v[i]);
}

// The vertex maps as "_NAME" attributes of the first primitive of their node's mesh.
bool AddAttributes(Appender& out, Json& json, const std::vector<Json*>& nodes,
                   const ExportedAttributes& attributes) {
  for (const ExportedAttribute& a : attributes.list) {
    // A map is listed only with its object's mesh, which the exporter writes as its node's
    // (found by its name) with one primitive at least.
    Json& node = *nodes[size_t(a.node)];
    Json& first = json["meshes"][node["mesh"].get<size_t>()]["primitives"][0];
    // The semantic in capitals, other characters than letters and digits as underscores.
    std::string semantic = "_";
    for (const char* c = a.name; *c != 0; ++c)
      semantic += std::isalnum(UInt8(*c)) ? char(std::toupper(UInt8(*c))) : '_';
    if (semantic == "_") semantic = "_WEIGHT";
    Json& attrs = first["attributes"];
    for (std::string base = semantic; attrs.contains(semantic);)
      semantic = base + "_" + std::to_string(attrs.size());
    const Int64 accessor =
        out.Add(attributes.data.GetArray() + a.offset, a.count, 1, "SCALAR", a.name, false);
    if (accessor < 0) return false;
    attrs[semantic] = accessor;
  }
  return true;
}

// The node animation as the file's one animation, its samplers linear, written here rather than
// by Assimp's exporter: that exporter copies its whole binary buffer for every accessor it adds,
// and the animation's accessors come after all the geometry.
bool AddAnimation(Appender& out, Json& json, const aiAnimation& animation) {
  std::unordered_map<std::string, size_t> byName;
  size_t index = 0;
  for (const Json& n : json["nodes"]) byName.emplace(Text(n, "name"), index++);
  Json channels = Json::array(), samplers = Json::array();
  BaseArray<Float32> times, values;
  auto sampler = [&](size_t node, const char* path, Int32 components) {
    const Int32 n = times.GetCount();
    const Int64 input = out.Add(times.GetArray(), n, 1, "SCALAR", nullptr, true);
    const Int64 output = out.Add(values.GetArray(), n, components,
                                 components == 4 ? "VEC4" : "VEC3", nullptr, false);
    if (input < 0 || output < 0) return false;
    Json& s = samplers.emplace_back();
    s["input"] = input;
    s["output"] = output;
    s["interpolation"] = "LINEAR";
    Json& c = channels.emplace_back();
    c["sampler"] = samplers.size() - 1;
    c["target"]["node"] = node;
    c["target"]["path"] = path;
    return true;
  };
  // The export's animation counts its time in seconds (one tick a second).
  for (unsigned c = 0; c < animation.mNumChannels; ++c) {
    const aiNodeAnim* ch = animation.mChannels[c];
    const auto at = byName.find(ch->mNodeName.C_Str());
    if (at == byName.end()) continue;
    const struct {
      unsigned count;
      const char* path;
      Int32 components;
    } parts[3] = {{ch->mNumPositionKeys, "translation", 3},
                  {ch->mNumRotationKeys, "rotation", 4},
                  {ch->mNumScalingKeys, "scale", 3}};
    for (Int32 p = 0; p < 3; ++p) {
      if (parts[p].count == 0) continue;
      times.Flush();
      values.Flush();
      for (unsigned i = 0; i < parts[p].count; ++i) {
        Float32 v[4];
        Float t;
        if (p == 1) {
          const aiQuatKey& k = ch->mRotationKeys[i];
          t = k.mTime, v[0] = k.mValue.x, v[1] = k.mValue.y, v[2] = k.mValue.z, v[3] = k.mValue.w;
        } else {
          const aiVectorKey& k = p == 0 ? ch->mPositionKeys[i] : ch->mScalingKeys[i];
          t = k.mTime, v[0] = k.mValue.x, v[1] = k.mValue.y, v[2] = k.mValue.z;
        }
        if (!times.Append(Float32(t))) return false;
        for (Int32 k = 0; k < parts[p].components; ++k)
          if (!values.Append(v[k])) return false;
      }
      if (!sampler(at->second, parts[p].path, parts[p].components)) return false;
    }
  }
  // A channel whose node was not written leaves nothing; glTF has no animation without one.
  if (channels.empty()) return true;
  Json& a = json["animations"].emplace_back();
  a["name"] = animation.mName.C_Str();
  a["channels"] = std::move(channels);
  a["samplers"] = std::move(samplers);
  return true;
}

// A buffer's bytes, for the extras: the binary chunk of a .glb (bytes, whole file) or a file
// beside a .gltf.
struct Buffers {
  const char* path = nullptr;  // the .gltf, for its buffer files; null: bytes only
  const BaseArray<char>* glb = nullptr;
  Int32 binStart = 0, binLength = 0;
  mutable bool noMemory = false;  // set when a buffer or the floats could not be held
};

// Accessor index of json as floats (components per element), appended to data. False when it is
// not a plain float accessor whose bytes can be had.
bool ReadFloats(const Json& json, Int64 index, Int32 components, const Buffers& buffers,
                BaseArray<Float32>& data, Int32& count) {
  static const char* kType[4] = {"SCALAR", "VEC2", "VEC3", "VEC4"};
  const Json* a = Item(json, "accessors", index);
  if (a == nullptr || Number(*a, "componentType", 0) != 5126 || a->contains("sparse") ||
      Text(*a, "type") != kType[components - 1])
    return false;
  const Json* view = Item(json, "bufferViews", Number(*a, "bufferView", -1));
  if (view == nullptr) return false;
  const Int64 n = Number(*a, "count", -1), element = 4 * Int64(components);
  const Int64 stride = Number(*view, "byteStride", element);
  const Int64 start = Number(*view, "byteOffset", 0) + Number(*a, "byteOffset", 0);
  const Int64 buffer = Number(*view, "buffer", -1);
  if (n <= 0 || n > (Int64(1) << 26) || stride < element || stride > 252 || start < 0 ||
      start > (Int64(1) << 40))
    return false;
  const Int64 span = (n - 1) * stride + element;
  // The bytes, checked against what the buffer holds before anything is allocated.
  BaseArray<char> file;
  const char* base = nullptr;
  Int64 size = 0;
  if (buffers.glb != nullptr && buffer == 0) {
    base = buffers.glb->GetArray() + buffers.binStart;
    size = buffers.binLength;
  } else {
    std::string name;
    const Json* b = Item(json, "buffers", buffer);
    if (b == nullptr ||
        (!DataUri(*b, file, buffers.noMemory) &&
         (buffers.noMemory || buffers.path == nullptr || !BufferFile(*b, buffers.path, name) ||
          !Slurp(name.c_str(), file, &buffers.noMemory))))
      return false;
    base = file.GetArray();
    size = file.GetCount();
  }
  if (start + span > size) return false;
  const Int32 at = data.GetCount();
  if (!data.Resize(at + Int32(n * components))) {
    buffers.noMemory = true;
    return false;
  }
  for (Int64 i = 0; i < n; ++i)
    for (Int32 k = 0; k < components; ++k) {
      const UInt32 bits = Le32(base + start + i * stride + 4 * k);
      std::memcpy(&data[at + Int32(i * components + k)], &bits, 4);
    }
  count = Int32(n);
  return true;
}

// The name of node index, when it has one that fits.
bool NodeName(const Json& json, Int64 index, char* out, size_t size) {
  const Json* n = Item(json, "nodes", index);
  const Json* name = n != nullptr ? Member(*n, "name", Json::value_t::string) : nullptr;
  if (name == nullptr || name->get_ref<const std::string&>().size() >= size) return false;
  std::snprintf(out, size, "%s", name->get_ref<const std::string&>().c_str());
  return true;
}

// The attributes of the first primitive of mesh, null when it has none.
const Json* FirstAttributes(const Json& mesh) {
  const Json* first = Item(mesh, "primitives", 0);
  return first != nullptr ? Member(*first, "attributes", Json::value_t::object) : nullptr;
}

// The file's first animation, its channels and samplers; false when it has none of them.
bool FirstAnimation(const Json& json, const Json*& channels, const Json*& samplers) {
  const Json* anim = Item(json, "animations", 0);
  channels = anim != nullptr ? Member(*anim, "channels", Json::value_t::array) : nullptr;
  samplers = anim != nullptr ? Member(*anim, "samplers", Json::value_t::array) : nullptr;
  return channels != nullptr && samplers != nullptr;
}

bool IsCubic(const Json& sampler) { return Text(sampler, "interpolation") == "CUBICSPLINE"; }

// Whether the JSON has what the extras read: a custom attribute on a mesh's first primitive or
// a cubic-spline sampler in the first animation (the only places they are read from).
bool WantsExtras(const Json& json) {
  if (const Json* meshes = Member(json, "meshes", Json::value_t::array))
    for (const Json& m : *meshes)
      if (const Json* attrs = FirstAttributes(m))
        for (auto it = attrs->begin(); it != attrs->end(); ++it)
          if (it.key()[0] == '_') return true;
  const Json *channels, *samplers;
  return FirstAnimation(json, channels, samplers) &&
         std::any_of(samplers->begin(), samplers->end(), IsCubic);
}

// The custom attributes ("_NAME") of the first primitive of every named node's mesh.
bool Attributes(const Json& json, const Buffers& buffers, GltfExtras& out) {
  const Json* nodes = Member(json, "nodes", Json::value_t::array);
  for (size_t i = 0; nodes != nullptr && i < nodes->size(); ++i) {
    GltfAttribute entry;
    const Json* mesh = Item(json, "meshes", Number((*nodes)[i], "mesh", -1));
    const Json* attrs = mesh != nullptr ? FirstAttributes(*mesh) : nullptr;
    if (attrs == nullptr || !NodeName(json, Int64(i), entry.node, sizeof entry.node)) continue;
    for (auto it = attrs->begin(); it != attrs->end(); ++it) {
      if (it.key()[0] != '_') continue;
      // The accessor's name is the map's own; the semantic without its underscore otherwise.
      const Int64 accessor = it.value().is_number_unsigned() ? Int64(it.value().get<UInt64>()) : -1;
      const Json* acc = Item(json, "accessors", accessor);
      const Json* name = acc != nullptr ? Member(*acc, "name", Json::value_t::string) : nullptr;
      std::snprintf(
          entry.name, sizeof entry.name, "%s",
          name != nullptr ? name->get_ref<const std::string&>().c_str() : it.key().c_str() + 1);
      entry.offset = out.data.GetCount();
      if (ReadFloats(json, accessor, 1, buffers, out.data, entry.count) &&
          !out.attributes.Append(entry))
        return false;
    }
  }
  return true;
}

// The cubic-spline channels of the first animation, their keys as GltfCubicChannel lays them out.
bool Extras(const Json& json, const Buffers& buffers, GltfExtras& out) {
  const Json *channels, *samplers;
  if (!Attributes(json, buffers, out)) return false;
  if (!FirstAnimation(json, channels, samplers)) return true;
  for (const Json& ch : *channels) {
    const Json* target = Member(ch, "target", Json::value_t::object);
    const Json* sampler = At(samplers, Number(ch, "sampler", -1));
    GltfCubicChannel entry;
    if (target == nullptr || sampler == nullptr || !IsCubic(*sampler) ||
        !NodeName(json, Number(*target, "node", -1), entry.node, sizeof entry.node))
      continue;
    const std::string& path = Text(*target, "path");
    if (path == "translation")
      entry.path = GltfPath::TRANSLATION;
    else if (path == "rotation")
      entry.path = GltfPath::ROTATION;
    else if (path == "scale")
      entry.path = GltfPath::SCALE;
    else
      continue;
    const Int32 components = entry.path == GltfPath::ROTATION ? 4 : 3;
    const Int32 stride = entry.Stride();
    BaseArray<Float32> times, values;
    Int32 n = 0, m = 0;
    if (!ReadFloats(json, Number(*sampler, "input", -1), 1, buffers, times, n) ||
        !ReadFloats(json, Number(*sampler, "output", -1), components, buffers, values, m) ||
        m != 3 * n)
      continue;
    entry.offset = out.data.GetCount();
    entry.keys = n;
    if (!out.data.Resize(entry.offset + stride * n)) return false;
    for (Int32 i = 0; i < n; ++i) {
      Float32* key = &out.data[entry.offset + stride * i];
      key[0] = times[i];
      for (Int32 k = 0; k < stride - 1; ++k) key[1 + k] = values[(stride - 1) * i + k];
    }
    if (!out.cubics.Append(entry)) return false;
  }
  return true;
}

}  // namespace

bool _FinishGltf(const char* path, const BaseArray<ExportedNode>& nodes,
                 const ExportedAttributes& attributes, const aiAnimation* animation,
                 ConvertReport& report) {
  BaseArray<char> bytes;
  Parts parts;
  bool noMemory = false;
  if (!Slurp(path, bytes, &noMemory) || !Parse(bytes, parts)) {
    if (noMemory)
      report.Fail(-7, "%s: out of memory reading back the glTF the exporter wrote", path);
    else
      report.Fail(-3, "%s: cannot read back the glTF the exporter wrote", path);
    return false;
  }
  Json& json = parts.json;
  std::vector<Json*> found(size_t(nodes.GetCount()), nullptr);
  // By name: our names are unique, and the exporter keeps them.
  for (const ExportedNode& e : nodes) {
    Json*& node = found[size_t(&e - nodes.GetArray())];
    for (Json& n : json["nodes"])
      if (Text(n, "name") == e.name) {
        node = &n;
        break;
      }
    if (node == nullptr) continue;
    node->erase("matrix");
    node->erase("translation");
    node->erase("rotation");
    node->erase("scale");
    static const Float kNoTurn[4] = {0, 0, 0, 1}, kOnes[3] = {1, 1, 1};
    static const Float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    double t[3], r[4], s[3];
    const Matrix64& m = e.ml;
    if (Decompose(m, t, r, s)) {
      PutNumbers(*node, "translation", t, kNoTurn, 3);
      PutNumbers(*node, "rotation", r, kNoTurn, 4);
      PutNumbers(*node, "scale", s, kOnes, 3);
    } else {
      const Float matrix[16] = {m.v1.x, m.v1.y, m.v1.z, 0.0, m.v2.x,  m.v2.y,  m.v2.z,  0.0,
                                m.v3.x, m.v3.y, m.v3.z, 0.0, m.off.x, m.off.y, m.off.z, 1.0};
      PutNumbers(*node, "matrix", matrix, kIdentity, 16);
    }
    if (e.camera) {  // the exporter writes no cameras
      Json& cameras = json["cameras"];
      (*node)["camera"] = cameras.size();
      Json& camera = cameras.emplace_back();
      camera["type"] = "perspective";
      camera["name"] = e.name;
      Json& lens = camera["perspective"];
      lens["yfov"] = e.yfov;
      lens["aspectRatio"] = e.aspect;
      lens["znear"] = e.znear;
      lens["zfar"] = e.zfar;
    }
  }
  if (attributes.list.GetCount() > 0 || animation != nullptr) {
    Appender out(path, parts, bytes);
    const bool opened = out.Open();
    if (!opened && !out.Failed()) {
      report.Add(attributes.list.GetCount(), "vertex maps", "not exported: the file has no buffer");
      report.Add(animation != nullptr ? 1 : 0, "animations",
                 "not exported: the file has no buffer");
    } else if (!opened || !AddAttributes(out, json, found, attributes) ||
               (animation != nullptr && !AddAnimation(out, json, *animation)) || !out.Close()) {
      if (out.WriteFailed())
        report.Fail(-4, "%s: cannot write the vertex maps and the animation", path);
      else
        report.Fail(-7, "%s: out of memory writing the vertex maps and the animation", path);
      return false;
    }
  }
  // A scene without geometry: Assimp writes one empty buffer, which glTF forbids. Every byte
  // the exporter or this pass writes has a buffer view.
  if (json["bufferViews"].empty()) {
    json.erase("buffers");
    json.erase("bufferViews");
    if (parts.binary) bytes.Resize(parts.binStart);
  }
  if (!Store(path, parts, bytes)) {
    report.Fail(-4, "%s: cannot write the completed glTF", path);
    return false;
  }
  return true;
}

bool _ReadGltfMatricesFrom(const BaseArray<char>& bytes, BaseArray<GltfNodeMatrix>& out) {
  out.Flush();
  const char* text;
  Int32 length;
  GltfSummary summary;
  return !JsonText(bytes, text, length, nullptr) || _ScanGltfJson(text, length, out, summary);
}

bool _ReadGltfExtrasFrom(const BaseArray<char>& bytes, const char* path, GltfExtras& out) {
  out.attributes.Flush();
  out.cubics.Flush();
  out.data.Flush();
  Parts parts;
  if (!Parse(bytes, parts) || !WantsExtras(parts.json)) return true;
  Buffers buffers;
  buffers.path = path;
  if (parts.binary && bytes.GetCount() >= parts.binStart + 8 &&
      Le32(bytes.GetArray() + parts.binStart + 4) == 0x004E4942u) {
    const UInt32 length = Le32(bytes.GetArray() + parts.binStart);
    if (length <= UInt32(bytes.GetCount() - parts.binStart - 8)) {
      buffers.glb = &bytes;
      buffers.binStart = parts.binStart + 8;
      buffers.binLength = Int32(length);
    }
  }
  return Extras(parts.json, buffers, out) && !buffers.noMemory;
}

bool _ReadGltf(const char* path, BaseArray<GltfNodeMatrix>& matrices, GltfExtras& extras) {
  matrices.Flush();
  const char* dot = std::strrchr(path, '.');
  if (dot == nullptr || (strcasecmp(dot, ".gltf") != 0 && strcasecmp(dot, ".glb") != 0))
    return true;
  // The JSON alone, scanned once; the whole file (for a glb, its geometry) parsed only when the
  // extras need its bytes.
  BaseArray<char> bytes;
  GltfSummary summary;
  bool noMemory = false;
  if (!Slurp(path, bytes, &noMemory, true)) return !noMemory;
  if (!_ScanGltfJson(bytes.GetArray(), bytes.GetCount(), matrices, summary)) return false;
  if (!summary.readable) return true;
  if (summary.wantsExtras &&
      (Slurp(path, bytes, &noMemory) ? !_ReadGltfExtrasFrom(bytes, path, extras) : noMemory))
    return false;
  extras.materials = summary.materials;
  return true;
}

}  // namespace lumora
