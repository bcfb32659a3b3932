// Copying sets of linked nodes: how the cost per node grows with the size of the set.
//
// Each node of the set links to the next one (its node link) and to the one before (a link value
// in its container), so every node's goal and every link goes through the alias translation of
// the copy. The figure copies 100,000 nodes, its limit the same kind of set of 10,000; growth is
// the time per node at 100,000 over the time per node at 10,000 (1.0 = no growth).
#include "bench_support.h"
#include "lumora.h"

using namespace lumora;
using lumbench::Die;
using lumbench::Pair;

namespace {

void BuildLinked(RootPluginNode& list, Int32 n) {
  PluginNode* prev = nullptr;
  for (Int32 i = 0; i < n; ++i) {
    PluginNode* node = PluginNode::Alloc(465001514);
    if (node == nullptr) Die("Alloc");
    list.InsertLast(node);
    if (prev != nullptr) {
      prev->GetNodeLink().SetLink(node);
      GeData back(VALUETYPE_LINK, DEFAULTVALUE);
      back.GetBaseLink()->SetLink(prev);
      node->GetDataInstance()->SetData(1, back);
    }
    prev = node;
  }
}

void CopyOnce(RootPluginNode& list) {
  RootPluginNode copy;
  if (!list.CopyTo(&copy, COPYFLAGS_NONE, nullptr)) Die("CopyTo");
  PluginNode* first = copy.GetFirst();
  if (first == nullptr || first->GetNodeLink().GetLink() != first->GetNext()) Die("links");
}

void BM_Scene_CopyLinkedNodes_100k(benchmark::State& state) {
  constexpr Int32 kN = 100 * 1000;
  RootPluginNode big;
  RootPluginNode small;
  BuildLinked(big, kN);
  BuildLinked(small, kN / 10);
  CopyOnce(small);  // warms the heap
  Pair pair(state);
  for (auto _ : state) {
    pair.Figure([&] { CopyOnce(big); });
    pair.Limit([&] { CopyOnce(small); });
  }
  pair.ReportGrowth(kN, kN / 10);
}
BENCHMARK(BM_Scene_CopyLinkedNodes_100k)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
