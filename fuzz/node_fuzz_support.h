// The round trip the node fuzz targets check: what reads successfully writes; that reads back;
// and from then on writing and reading give the very same bytes (goal identities, which are
// addresses of the writing process, are masked). The first write may differ from what was read:
// it normalises (goal and link records that name nothing are written empty, a plug-in node
// without slots gains one, times are reduced, ids below -1 become -1), so the comparison is
// between the second and the third write.
#ifndef LUMORA_NODE_FUZZ_SUPPORT_H
#define LUMORA_NODE_FUZZ_SUPPORT_H

#include <cstdlib>
#include <cstring>

#include "lumora.h"

namespace nodefuzz {

using namespace lumora;

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// Written bytes, owned by the Filename.
struct Written {
  Filename name;
  const void* bytes = nullptr;
  Int64 size = 0;
};

inline void Write(Written& out, PrivateChunk& node) {
  out.name.SetMemoryTarget();
  HyperFile hf;
  Check(hf.Open(out.name, FILEOPEN_WRITE));
  Check(node.WriteObject(&hf, 1));
  Check(hf.Close());
  Check(out.name.CollectMemoryData(&out.bytes, &out.size) || out.size == 0);
}

// Reads a node from bytes through a document with an alias translation (resolved afterwards).
inline bool Read(PrivateChunk& node, const void* bytes, Int64 size, Int32 version) {
  Filename name;
  if (!name.SetMemoryData(bytes, size, false)) return false;
  HyperFile hf;
  hf.SetFileVersion(version);
  if (!hf.Open(name, FILEOPEN_READ)) return false;
  BaseDocument doc;
  AliasTrans trans;
  if (!trans.Init()) return false;
  doc.SetAliasTrans(&trans);
  hf.SetDocument(&doc);
  const bool ok = node.ReadObject(&hf, true);
  trans.Zap(true);
  return ok;
}

// Goal and link records are 14-byte memory blocks (kind 0x80, length 14) that start with their
// tag and end with the writing process's address; only such blocks are masked, not the same
// six letters inside some other value.
inline bool SameMasked(const Written& a, const Written& b) {
  if (a.size != b.size) return false;
  const UChar* x = static_cast<const UChar*>(a.bytes);
  const UChar* y = static_cast<const UChar*>(b.bytes);
  static const UChar kBlockOf14[5] = {0x80, 0, 0, 0, 14};
  for (Int64 i = 0; i < a.size; ++i) {
    if (i >= 5 && i + 14 <= a.size && std::memcmp(x + i - 5, kBlockOf14, 5) == 0 &&
        std::memcmp(y + i - 5, kBlockOf14, 5) == 0 &&
        (std::memcmp(x + i, "agoal1", 6) == 0 || std::memcmp(x + i, "alias2", 6) == 0) &&
        std::memcmp(x + i, y + i, 6) == 0) {
      i += 13;
      continue;
    }
    if (x[i] != y[i]) return false;
  }
  return true;
}

// The whole check for one kind of node; Node is default-constructible.
template <typename Node>
void RoundTrip(const uint8_t* data, size_t size, Int32 version) {
  Node first;
  if (!Read(first, data, Int64(size), version)) return;
  Written a;
  Write(a, first);
  Node second;
  Check(Read(second, a.bytes, a.size, HYPERFILE_CURRENT_VERSION));
  Written b;
  Write(b, second);
  Node third;
  Check(Read(third, b.bytes, b.size, HYPERFILE_CURRENT_VERSION));
  Written c;
  Write(c, third);
  Check(SameMasked(b, c));
}

}  // namespace nodefuzz

#endif  // LUMORA_NODE_FUZZ_SUPPORT_H
