// Any bytes read as a named node, a list of nodes, a shader list and a shader, in the stream the
// last byte picks (nodefuzz::LayoutOfLast); see node_fuzz_support.h for the check.
#include <cstddef>
#include <cstdint>

#include "node_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const nodefuzz::Layout layout = nodefuzz::LayoutOfLast(data, size);
  nodefuzz::RoundTrip<lumora::BaseList2D>(data, size, layout);
  nodefuzz::RoundTrip<lumora::RootPluginNode>(data, size, layout);
  nodefuzz::RoundTrip<lumora::RootShader>(data, size, layout);
  nodefuzz::RoundTrip<lumora::BaseShader>(data, size, layout);
  return 0;
}
