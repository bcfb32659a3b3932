// The glTF readers of the converter on arbitrary bytes: no crash, no read outside the bytes, and
// every entry within the data read (gltf_fuzz_support.h).
#include "gltf_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!gltffuzz::ReadStaysInside(data, size)) __builtin_trap();
  return 0;
}
