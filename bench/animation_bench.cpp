// Curves: how the cost of adding keys in time order and of looking keys up grows with the
// number of keys, per decade from 10,000 to 1,000,000.
//
// Each figure runs the work at N keys; its limit is the same work at N / 10 keys. growth is the
// time per key (or per lookup) at N over the time per key at N / 10: 1.0 is no growth, log n
// search gives about log(N) / log(N / 10) (1.2 to 1.25 here) before the caches have their say.
#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "bench_support.h"
#include "lumora.h"

using namespace lumora;
using lumbench::Die;
using lumbench::Pair;

namespace {

void ReportGrowth(benchmark::State& state, Pair& pair, double n) {
  pair.Report(n, n / 10, "items");
  if (pair.FigureSeconds() > 0 && pair.LimitSeconds() > 0)
    state.counters["growth"] = (pair.FigureSeconds() / n) / (pair.LimitSeconds() / (n / 10));
}

// Keys at 0, 1/120, 2/120 ... s: frame times, as animation holds them (a million of them fit
// the +-10000 s a curve holds).
BaseTime Frame(Int32 i) { return BaseTime(i, 120); }

CCurve* NewCurve() {
  CCurve* c = NewObj<CCurve>();
  if (c == nullptr) Die("curve");
  return c;
}

void AddInOrder(CCurve* c, Int32 n) {
  for (Int32 i = 0; i < n; ++i)
    if (c->AddKey(Frame(i)) == nullptr) Die("AddKey");
  if (c->GetKeyCount() != n) Die("key count");
}

// Adding n keys in time order to an empty curve; the curve is destroyed outside the timing.
void AddKeyInOrder(benchmark::State& state, Int32 n) {
  {
    CCurve* warm = NewCurve();  // warms the heap for both sizes
    AddInOrder(warm, n / 10);
    DeleteObj(warm);
  }
  Pair pair(state);
  for (auto _ : state) {
    CCurve* big = NewCurve();
    CCurve* small = NewCurve();
    pair.Figure([&] { AddInOrder(big, n); });
    pair.Limit([&] { AddInOrder(small, n / 10); });
    DeleteObj(big);
    DeleteObj(small);
  }
  ReportGrowth(state, pair, n);
}

void BM_CCurve_AddKeyInOrder_100k(benchmark::State& state) { AddKeyInOrder(state, 100000); }
BENCHMARK(BM_CCurve_AddKeyInOrder_100k)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
void BM_CCurve_AddKeyInOrder_1M(benchmark::State& state) { AddKeyInOrder(state, 1000000); }
BENCHMARK(BM_CCurve_AddKeyInOrder_1M)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

// The same number of lookups (exact, at or before, at or after; on keys and between them) in
// a curve of n keys and in one of n / 10.
constexpr Int32 kLookups = 1000000;

// Random times over the curve, half of them on keys; in time order for playback.
std::vector<BaseTime> Probes(Int32 keys, unsigned seed, bool inOrder) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<Int32> d(0, 2 * keys - 1);
  std::vector<Int32> ticks(kLookups);
  for (Int32& t : ticks) t = d(rng);
  if (inOrder) std::sort(ticks.begin(), ticks.end());
  std::vector<BaseTime> v;
  v.reserve(kLookups);
  for (Int32 t : ticks) v.push_back(BaseTime(t, 240));
  return v;
}

Int64 Lookups(const CCurve* c, const std::vector<BaseTime>& probes) {
  Int64 sum = 0;
  Int32 index = 0;
  Int32 mode = 0;
  for (const BaseTime& t : probes) {
    c->FindKey(t, &index, FINDANIM(mode));
    sum += index;
    mode = mode == 2 ? 0 : mode + 1;
  }
  return sum;
}

void FindKey(benchmark::State& state, Int32 n, bool inOrder) {
  CCurve* big = NewCurve();
  CCurve* small = NewCurve();
  AddInOrder(big, n);
  AddInOrder(small, n / 10);
  const std::vector<BaseTime> bigProbes = Probes(n, 1, inOrder);
  const std::vector<BaseTime> smallProbes = Probes(n / 10, 2, inOrder);
  // Every key is found at its own time.
  for (Int32 i = 0; i < n; i += 997) {
    Int32 at = -1;
    if (big->FindKey(Frame(i), &at, FINDANIM_EXACT) != big->GetKey(i) || at != i) Die("FindKey");
  }
  Pair pair(state);
  for (auto _ : state) {
    pair.Figure([&] { benchmark::DoNotOptimize(Lookups(big, bigProbes)); });
    pair.Limit([&] { benchmark::DoNotOptimize(Lookups(small, smallProbes)); });
  }
  // The same lookups at both sizes: growth is the time per lookup at n over that at n / 10.
  pair.Report(kLookups, kLookups, "items");
  if (pair.LimitSeconds() > 0)
    state.counters["growth"] = pair.FigureSeconds() / pair.LimitSeconds();
  DeleteObj(big);
  DeleteObj(small);
}

void BM_CCurve_FindKey_100k(benchmark::State& state) { FindKey(state, 100000, false); }
BENCHMARK(BM_CCurve_FindKey_100k)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
void BM_CCurve_FindKey_1M(benchmark::State& state) { FindKey(state, 1000000, false); }
BENCHMARK(BM_CCurve_FindKey_1M)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// Not a figure of its own: the same lookups in time order, as playback asks them, where the
// caches hold the part of the index being searched.
void BM_CCurve_PlaybackFindKey_100k(benchmark::State& state) { FindKey(state, 100000, true); }
BENCHMARK(BM_CCurve_PlaybackFindKey_100k)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
void BM_CCurve_PlaybackFindKey_1M(benchmark::State& state) { FindKey(state, 1000000, true); }
BENCHMARK(BM_CCurve_PlaybackFindKey_1M)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
