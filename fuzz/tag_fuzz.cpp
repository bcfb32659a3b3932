// Any bytes read as an object's tag list: the first byte picks the file version the rest is
// read as (current, 11500 (older arrays, before 11600), 7000 (before 7500)), so that the older
// layouts of the variable tags are reached too. (Versions 11600 to 11924 keep plug-in data
// chunks whose older value layouts a current file would not read the same way.) See
// node_fuzz_support.h for the check (read, write, read, write, read, write; the last two writes
// identical).
#include <cstddef>
#include <cstdint>

#include "node_fuzz_support.h"

namespace {

// A tag list on an owner that counts as a polygon object (type 5100), so that vertex colours convert.
struct TagList : lumora::RootTag {
  lumora::BaseList2D owner{5100};
  TagList() { SetOwner(&owner); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const lumora::Int32 kVersions[4] = {lumora::HYPERFILE_CURRENT_VERSION, 11900, 11000, 7000};
  nodefuzz::RoundTrip<TagList>(data + 1, size - 1, kVersions[data[0] & 3]);
  return 0;
}
