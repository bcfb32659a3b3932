// Comparing shader graphs: how the cost per shader grows with the size of the graph.
//
// Two rings of shaders, each shader's container holding a layer stack whose shader layer links
// to the next shader of its ring (the last one back to the first), are compared from their first
// shaders. The figure compares rings of 100,000 shaders, its limit rings of 10,000; growth is the
// time per shader at 100,000 over the time per shader at 10,000 (1.0 = no growth, that is a
// comparison linear in the number of shaders).
#include <vector>

#include "bench_support.h"
#include "lumora.h"

using namespace lumora;
using lumbench::Die;
using lumbench::Pair;

namespace {

struct Ring {
  std::vector<BaseShader*> shaders;
  ~Ring() {
    for (BaseShader* s : shaders) BaseShader::Free(s);
  }
};

void BuildRing(Ring& ring, Int32 n) {
  for (Int32 i = 0; i < n; ++i) {
    BaseShader* s = BaseShader::Alloc(1011123);
    if (s == nullptr) Die("Alloc");
    ring.shaders.push_back(s);
  }
  for (Int32 i = 0; i < n; ++i) {
    GeData value(CUSTOMDATATYPE_BLEND, DEFAULTVALUE);
    CBlendLayers& layers =
        iBlendDataType::From(value.GetCustomDataType(CUSTOMDATATYPE_BLEND))->layers;
    auto* layer = static_cast<BlendShader*>(layers.Add(LAYERTYPE_SHADER, 0, true));
    if (layer == nullptr) Die("Add");
    layer->SetLink(ring.shaders[(i + 1) % n]);
    layers.Add(LAYERTYPE_CLAMP, 1, true);
    ring.shaders[i]->GetDataInstance()->SetData(1000, value);
  }
}

void CompareOnce(Ring& a, Ring& b) {
  if (!a.shaders[0]->Compare(b.shaders[0])) Die("Compare");
}

void BM_Shader_CompareRings_100k(benchmark::State& state) {
  constexpr Int32 kN = 100 * 1000;
  Ring bigA, bigB, smallA, smallB;
  BuildRing(bigA, kN);
  BuildRing(bigB, kN);
  BuildRing(smallA, kN / 10);
  BuildRing(smallB, kN / 10);
  CompareOnce(smallA, smallB);  // warms the heap
  Pair pair(state);
  for (auto _ : state) {
    pair.Figure([&] { CompareOnce(bigA, bigB); });
    pair.Limit([&] { CompareOnce(smallA, smallB); });
  }
  pair.ReportGrowth(kN, kN / 10);
}
BENCHMARK(BM_Shader_CompareRings_100k)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
