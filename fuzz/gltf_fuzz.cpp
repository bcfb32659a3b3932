// Reads the node transforms and cameras of a glTF file (text or binary) from arbitrary bytes,
// as the converter does for every glTF it imports, and the extras (custom attributes and
// cubic-spline channels, from a glb's binary chunk or a data URI): no crash, no read outside the
// bytes, and every entry within the data read.
#include <cstdint>
#include <cstring>

#include "convert/lum_convert_internal.h"

using namespace lumora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 24)) return 0;
  BaseArray<char> bytes;
  if (!bytes.Resize(Int32(size))) return 0;
  if (size > 0) std::memcpy(bytes.GetArray(), data, size);
  BaseArray<GltfNodeMatrix> nodes;
  _ReadGltfMatricesFrom(bytes, nodes);
  for (const GltfNodeMatrix& n : nodes)
    if (std::strlen(n.name) >= sizeof n.name) __builtin_trap();
  GltfExtras extras;  // no path: buffer files are not looked for
  _ReadGltfExtrasFrom(bytes, nullptr, extras);
  for (const GltfAttribute& a : extras.attributes)
    if (a.offset < 0 || a.count <= 0 || a.offset + a.count > extras.data.GetCount())
      __builtin_trap();
  for (const GltfCubicChannel& c : extras.cubics)
    if (c.offset < 0 || c.offset + c.Stride() * c.keys > extras.data.GetCount()) __builtin_trap();
  return 0;
}
