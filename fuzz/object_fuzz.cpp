// Any bytes read as an object list and as a single object, through read, write, read, write;
// see node_fuzz_support.h for the check. The first byte picks the file version the first read
// reports (the current one, one before 11600, one before 7500), so that the older transform
// layouts are reached too.
#include <cstddef>
#include <cstdint>

#include "node_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const lumora::Int32 kVersions[3] = {lumora::HYPERFILE_CURRENT_VERSION, 11000, 7000};
  const lumora::Int32 version = kVersions[data[0] % 3];
  nodefuzz::RoundTrip<lumora::RootObject>(data + 1, size - 1, version);
  nodefuzz::RoundTrip<lumora::BaseObject>(data + 1, size - 1, version);
  return 0;
}
