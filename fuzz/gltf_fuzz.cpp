// Reads the node transforms and cameras of a glTF file (text or binary) from arbitrary bytes,
// as the converter does for every glTF it imports: no crash, no read outside the bytes, and
// every matrix read finite or taken as the file gives it.
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
  return 0;
}
