// Any bytes read as an object's tag list: the first byte picks the stream the rest is read as
// (nodefuzz::LayoutOf: every version range, float size and byte order), so that the older
// layouts of the variable tags, and raw bytes kept from them, are reached too. See
// node_fuzz_support.h for the check (read, write, read, write, read, write; the last two writes
// identical).
#include <cstddef>
#include <cstdint>

#include "node_fuzz_support.h"

namespace {

// A tag list on an owner that counts as a polygon object (type 5100), so that vertex colours
// convert.
struct TagList : lumora::RootTag {
  lumora::BaseList2D owner{5100};
  TagList() { SetOwner(&owner); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  nodefuzz::RoundTrip<TagList>(data + 1, size - 1, nodefuzz::LayoutOf(data[0]));
  return 0;
}
