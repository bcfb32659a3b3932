// Any bytes read as a plug-in node and as a list of them, as files of a version the first byte
// picks (older files drop the chunks of unknown kinds); see node_fuzz_support.h for the check.
#include <cstddef>
#include <cstdint>

#include "node_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const lumora::Int32 versions[4] = {lumora::HYPERFILE_CURRENT_VERSION, 12000, 11000, 7000};
  const lumora::Int32 version = versions[data[0] & 3];
  nodefuzz::RoundTrip<lumora::PluginNode>(data + 1, size - 1, version);
  nodefuzz::RoundTrip<lumora::RootPluginNode>(data + 1, size - 1, version);
  return 0;
}
