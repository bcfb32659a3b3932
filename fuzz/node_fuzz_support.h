// The round trip the node fuzz targets check: what reads successfully writes; that reads back;
// and from then on writing and reading give the very same bytes (goal identities, which are
// addresses of the writing process, are masked). The first write may differ from what was read:
// it normalises (goal and link records that name nothing are written empty, a plug-in node
// without slots gains one, times are reduced, ids below -1 become -1), so the comparison is
// between the second and the third write.
#ifndef LUMORA_NODE_FUZZ_SUPPORT_H
#define LUMORA_NODE_FUZZ_SUPPORT_H

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lumora.h"

namespace nodefuzz {

using namespace lumora;

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// The stream an input is read as, chosen by one byte: bits 0-2 a version from each range the
// readers tell apart (current, 12000, 11924, 11903, 11700, 11004, 10001, 7000), bit 3 32-bit
// floats, bit 4 little-endian numbers.
struct Layout {
  Layout(Int32 v = HYPERFILE_CURRENT_VERSION) : version(v) {}  // NOLINT: a version alone
  Int32 version;
  bool float32 = false;
  BYTEORDER order = BYTEORDER_MOTOROLA;
};

inline Layout LayoutOf(uint8_t b) {
  static const Int32 kVersions[8] = {
      HYPERFILE_CURRENT_VERSION, 12000, 11924, 11903, 11700, 11004, 10001, 7000};
  Layout l(kVersions[b & 7]);
  l.float32 = (b & 8) != 0;
  l.order = (b & 16) != 0 ? BYTEORDER_INTEL : BYTEORDER_MOTOROLA;
  return l;
}

// For targets whose inputs begin with the stream itself: the last byte chooses, counted from a
// chunk end (2), so that an input ending as streams do is read in the default layout.
inline Layout LayoutOfLast(const uint8_t* data, size_t size) {
  return size > 0 ? LayoutOf(uint8_t(data[size - 1] - 2)) : Layout();
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
inline bool Read(PrivateChunk& node, const void* bytes, Int64 size, const Layout& layout) {
  Filename name;
  if (!name.SetMemoryData(bytes, size, false)) return false;
  HyperFile hf;
  hf.SetFileVersion(layout.version);
  hf.SetFloat32Mode(layout.float32);
  if (!hf.Open(name, FILEOPEN_READ)) return false;
  hf.SetByteOrder(layout.order);
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

// The whole check for one kind of node; Node is default-constructible. What was read in any
// layout is written in the default one, and must read back there.
template <typename Node>
void RoundTrip(const uint8_t* data, size_t size, const Layout& layout) {
  Node first;
  if (!Read(first, data, Int64(size), layout)) return;
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
