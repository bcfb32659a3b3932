// Reads the node transforms and cameras of a glTF file (text or binary) from arbitrary bytes,
// as the converter does for every glTF it imports, and the extras (custom attributes and
// cubic-spline channels, from a glb's binary chunk or a data URI). Shared by the fuzz target and
// the test that replays its corpus.
#pragma once

#include <cstdint>
#include <cstring>

#include "convert/lum_convert_internal.h"

namespace gltffuzz {

// False when something read lies outside what was read (a name without its end, an attribute
// or channel beyond the extras' data) or when a reader says memory ran out. Bytes that are no glTF at all are fine (nothing is read).
inline bool ReadStaysInside(const std::uint8_t* data, std::size_t size) {
  using namespace lumora;
  if (size > (1u << 24)) return true;
  BaseArray<char> bytes;
  if (!bytes.Resize(Int32(size))) return true;
  if (size > 0) std::memcpy(bytes.GetArray(), data, size);
  // Memory does not run out here: a reader that says it did mistook something else for it.
  BaseArray<GltfNodeMatrix> nodes;
  if (!_ReadGltfMatricesFrom(bytes, nodes)) return false;
  for (const GltfNodeMatrix& n : nodes)
    if (std::strlen(n.name) >= sizeof n.name) return false;
  GltfExtras extras;  // no path: buffer files are not looked for
  if (!_ReadGltfExtrasFrom(bytes, nullptr, extras)) return false;
  for (const GltfAttribute& a : extras.attributes)
    if (a.offset < 0 || a.count <= 0 || a.offset + a.count > extras.data.GetCount()) return false;
  for (const GltfCubicChannel& c : extras.cubics)
    if (c.offset < 0 || c.offset + c.Stride() * c.keys > extras.data.GetCount()) return false;
  return true;
}

}  // namespace gltffuzz
