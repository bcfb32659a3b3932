// Any bytes read as an object list and as a single object, through read, write, read, write;
// see node_fuzz_support.h for the check. The first byte picks the stream the first read sees
// (nodefuzz::LayoutOf: every version range, float size and byte order), so that the older
// transform layouts and the raw bytes kept from them are reached too.
#include <cstddef>
#include <cstdint>

#include "node_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const nodefuzz::Layout layout = nodefuzz::LayoutOf(data[0]);
  nodefuzz::RoundTrip<lumora::RootObject>(data + 1, size - 1, layout);
  nodefuzz::RoundTrip<lumora::BaseObject>(data + 1, size - 1, layout);
  return 0;
}
