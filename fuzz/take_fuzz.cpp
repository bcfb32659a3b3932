// Any bytes as a list of plug-in nodes (takes and overrides among them) and as the take and
// override records alone, at the level the first byte names. Each must read or fail cleanly;
// what reads must write, read back and write the same bytes again (node_fuzz_support.h); and the
// take operations must hold on whatever tree was read: the questions answer without crashing,
// and a copy of the tree with its overrides reads and writes like the original.
#include <cstddef>
#include <cstdint>

#include "node_fuzz_support.h"

namespace {

using namespace lumora;
using nodefuzz::Check;

// Reads the record with the data's own Read; on success writes it (the current level) and reads
// it back twice: the second and third writes must give the same bytes.
template <typename Data, typename Make>
void RecordRoundTrip(const uint8_t* data, size_t size, Int32 level, Make make) {
  auto read = [&](Data* into, const void* bytes, Int64 n, Int32 lvl) {
    Filename name;
    if (!name.SetMemoryData(bytes, n, false)) return false;
    HyperFile hf;
    if (!hf.Open(name, FILEOPEN_READ)) return false;
    return into->Read(&hf, CHUNK_PLUGINDATA, lvl);
  };
  auto write = [](nodefuzz::Written& out, Data* from) {
    out.name.SetMemoryTarget();
    HyperFile hf;
    Check(hf.Open(out.name, FILEOPEN_WRITE));
    Check(from->Write(&hf));
    Check(hf.Close());
    Check(out.name.CollectMemoryData(&out.bytes, &out.size) || out.size == 0);
  };
  auto first = make();
  if (first.node == nullptr) return;
  if (read(first.data, data, Int64(size), level)) {
    // The first write normalises (see node_fuzz_support.h): the second and third must agree.
    nodefuzz::Written a, b, c;
    write(a, first.data);
    auto second = make();
    auto third = make();
    const Int32 current = first.data->GetChunkLevel();
    Check(second.node != nullptr && read(second.data, a.bytes, a.size, current));
    write(b, second.data);
    Check(third.node != nullptr && read(third.data, b.bytes, b.size, current));
    write(c, third.data);
    Check(nodefuzz::SameMasked(b, c));
    third.Free();
    second.Free();
  }
  first.Free();
}

struct OverrideHolder {
  BaseOverride* node;
  BaseOverrideData* data;
  void Free() { BaseOverride::Free(node); }
};
struct TakeHolder {
  BaseTake* node;
  BaseTakeData* data;
  void Free() { BaseTake::Free(node); }
};

// Asks every take and override in the tree the questions the take system answers.
void Ask(GeListNode* first, BaseDocument* doc, TakeData* td, Int32 depth) {
  if (depth > 64) return;
  const DescID ids[] = {DescID(1000), DescID(DescLevel(1100, 23, 0), DescLevel(1001)), DescID()};
  for (GeListNode* n = first; n != nullptr; n = n->GetNext()) {
    if (BaseTake* t = BaseTake::From(n)) {
      t->IsMain();
      t->SearchHierarchy(t->GetUp());
      t->GetCamera(td);
      t->GetRenderData(td);
      GeData v;
      t->GetTakeData()->GetDParameter(DescID(TAKE_CAMERA), v);
      t->GetTakeData()->GetDParameter(DescID(TAKE_RENDERDATA), v);
      t->GetTakeData()->FindOverride(doc, static_cast<BaseList2D*>(n));
    }
    if (BaseOverride* ov = BaseOverride::From(n)) {
      for (const DescID& id : ids) {
        ov->IsOverriddenParam(id);
        ov->GetOverrideData()->IsTakeAffected(doc, ov->GetTakeNode(doc), id);
        DescID out;
        GeListNode* outNode = nullptr;
        ov->GetOverrideData()->TranslateDescID(n, id, out, outNode);
      }
    }
    if (n->GetChildren() != nullptr) Ask(n->GetChildren()->GetFirst(), doc, td, depth + 1);
  }
}

void Operations(const uint8_t* data, size_t size) {
  BaseDocument doc;
  TakeSystemHook* hook = TakeSystemHook::Alloc(&doc);
  if (hook == nullptr) return;
  RootPluginNode* takes = hook->GetTakeList();
  takes->FlushAll();
  // Read through this document, so that every node read belongs to it.
  Filename name;
  HyperFile hf;
  AliasTrans trans;
  if (!name.SetMemoryData(data, Int64(size), false) || !hf.Open(name, FILEOPEN_READ) ||
      !trans.Init())
    return;
  doc.SetAliasTrans(&trans);
  hf.SetDocument(&doc);
  const bool read = takes->ReadObject(&hf, true);
  trans.Zap(true);
  doc.SetAliasTrans(nullptr);
  if (!read) return;
  hook->SetCurrentTake(BaseTake::From(takes->GetFirst()));
  Ask(takes->GetFirst(), &doc, doc.GetTakeData(), 0);
  // A copy with the take links translated writes and reads like any node list.
  RootPluginNode copy;
  AliasTrans copyTrans;
  Check(copyTrans.Init());
  if (!takes->CopyTo(&copy, COPYFLAGS(COPYFLAGS_TRANSLATE_TAKES), &copyTrans)) return;
  copyTrans.Zap(true);
  nodefuzz::Written a;
  nodefuzz::Write(a, copy);
  RootPluginNode back;
  Check(nodefuzz::Read(back, a.bytes, a.size, HYPERFILE_CURRENT_VERSION));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  nodefuzz::RoundTrip<RootPluginNode>(data, size, nodefuzz::LayoutOfLast(data, size));
  Operations(data, size);
  if (size < 1) return 0;
  const Int32 level = data[0] & 3;
  RecordRoundTrip<BaseOverrideData>(data + 1, size - 1, level, [] {
    BaseOverride* ov = BaseOverride::Alloc();
    return OverrideHolder{ov, ov != nullptr ? ov->GetOverrideData() : nullptr};
  });
  RecordRoundTrip<BaseTakeData>(data + 1, size - 1, level % 3, [] {
    BaseTake* t = BaseTake::Alloc();
    return TakeHolder{t, t != nullptr ? t->GetTakeData() : nullptr};
  });
  return 0;
}
