// Any bytes read as a whole scene (objects, render settings, takes and kept chunks through one
// alias translation). What reads must write; that writes reads back, and the second and third
// writes agree to the byte (identities masked).
#include <cstddef>
#include <cstdint>

#include "node_fuzz_support.h"

namespace {

using namespace lumora;
using nodefuzz::Check;

bool ReadInto(Scene& scene, const void* bytes, Int64 n) {
  Filename name;
  return name.SetMemoryData(bytes, n, false) && scene.Read(name);
}

void WriteFrom(const Scene& scene, nodefuzz::Written& out) {
  out.name.SetMemoryTarget();
  Check(scene.Write(out.name));
  Check(out.name.CollectMemoryData(&out.bytes, &out.size) || out.size == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Scene first;
  if (!ReadInto(first, data, Int64(size))) {
    Check(first.GetFirstObject() == nullptr && first.GetKeptChunkCount() == 0);
    return 0;
  }
  nodefuzz::Written a, b, c;
  WriteFrom(first, a);
  Scene second, third;
  Check(ReadInto(second, a.bytes, a.size));
  WriteFrom(second, b);
  Check(ReadInto(third, b.bytes, b.size));
  WriteFrom(third, c);
  Check(nodefuzz::SameMasked(b, c));
  return 0;
}
