// Any bytes read as a named node, a list of nodes, a shader list and a shader; see
// node_fuzz_support.h for the check.
#include <cstddef>
#include <cstdint>

#include "node_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  nodefuzz::RoundTrip<lumora::BaseList2D>(data, size, lumora::HYPERFILE_CURRENT_VERSION);
  nodefuzz::RoundTrip<lumora::RootPluginNode>(data, size, lumora::HYPERFILE_CURRENT_VERSION);
  nodefuzz::RoundTrip<lumora::RootShader>(data, size, lumora::HYPERFILE_CURRENT_VERSION);
  nodefuzz::RoundTrip<lumora::BaseShader>(data, size, lumora::HYPERFILE_CURRENT_VERSION);
  return 0;
}
