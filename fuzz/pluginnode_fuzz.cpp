// Any bytes read as a plug-in node and as a list of them, in the stream the first byte picks
// (nodefuzz::LayoutOf: every version range, float size and byte order; older files drop the
// chunks of unknown kinds); see node_fuzz_support.h for the check.
#include <cstddef>
#include <cstdint>

#include "node_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const nodefuzz::Layout layout = nodefuzz::LayoutOf(data[0]);
  nodefuzz::RoundTrip<lumora::PluginNode>(data + 1, size - 1, layout);
  nodefuzz::RoundTrip<lumora::RootPluginNode>(data + 1, size - 1, layout);
  return 0;
}
