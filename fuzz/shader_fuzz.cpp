// Any bytes read as a shader list, as a single shader with its tree of child shaders, and as a
// named node that carries shader lists. The first byte picks the stream the rest is read as
// (nodefuzz::LayoutOf: every version range, float size and byte order). What reads must write, read
// back and write the same bytes again (node_fuzz_support.h); a clone of what was read back,
// identities kept (children and the links between them re-pointed to the copies), must write those
// bytes too; and comparing the read shaders with their clones must end, whatever link graph the
// stacks and containers make.
#include <cstddef>
#include <cstdint>

#include "node_fuzz_support.h"

namespace {

using namespace lumora;
using nodefuzz::Check;

// Compares every shader of the list with the first one, and a shader with its clone.
void CompareAll(RootShader& list, GeListNode*) {
  for (BaseShader* s = list.GetFirst(); s != nullptr; s = s->GetNext()) s->Compare(list.GetFirst());
}
void CompareAll(BaseShader& shader, GeListNode* clone) {
  shader.Compare(static_cast<BaseShader*>(clone));
  RootShader* children = static_cast<RootShader*>(shader.GetChildren());
  if (children != nullptr) CompareAll(*children, nullptr);
}

// The shaders of a node read twice: a clone of the second read writes what the second wrote.
template <typename Node>
void CloneWritesTheSame(const uint8_t* data, size_t size, const nodefuzz::Layout& layout) {
  Node first;
  if (!nodefuzz::Read(first, data, Int64(size), layout)) return;
  nodefuzz::Written a;
  nodefuzz::Write(a, first);
  Node second;
  Check(nodefuzz::Read(second, a.bytes, a.size, HYPERFILE_CURRENT_VERSION));
  nodefuzz::Written b;
  nodefuzz::Write(b, second);
  // With their identities, so that the bytes can agree, and through a translation of their own
  // (an identity copy alone keeps the links on the originals).
  AliasTrans trans;
  Check(trans.Init());
  GeListNode* clone = second.GetClone(COPYFLAGS_IDENTITY, &trans);
  if (clone == nullptr) return;  // only when memory runs out
  trans.Zap(true);
  nodefuzz::Written c;
  nodefuzz::Write(c, *static_cast<PrivateChunk*>(clone));
  Check(nodefuzz::SameMasked(b, c));
  // The comparison follows links through the containers; its answer depends on values that
  // never compare equal (gradients, markers), so only that it ends is checked.
  CompareAll(second, clone);
  DeleteObj(clone);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const nodefuzz::Layout version = nodefuzz::LayoutOf(data[0]);
  ++data;
  --size;
  nodefuzz::RoundTrip<RootShader>(data, size, version);
  nodefuzz::RoundTrip<BaseShader>(data, size, version);
  nodefuzz::RoundTrip<PluginNode>(data, size, version);
  CloneWritesTheSame<RootShader>(data, size, version);
  CloneWritesTheSame<BaseShader>(data, size, version);
  return 0;
}
