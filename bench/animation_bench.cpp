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
  pair.ReportGrowth(n, n / 10);
}

void BM_CCurve_AddKeyInOrder_100k(benchmark::State& state) { AddKeyInOrder(state, 100000); }
BENCHMARK(BM_CCurve_AddKeyInOrder_100k)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);
void BM_CCurve_AddKeyInOrder_1M(benchmark::State& state) { AddKeyInOrder(state, 1000000); }
BENCHMARK(BM_CCurve_AddKeyInOrder_1M)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);

// Lookups (exact, at or before, at or after in turn; on keys and between them) in a curve of n
// keys and in one of n / 10: the same number of random probes, or a playback of each curve.
constexpr Int32 kLookups = 1000000;

// Random times over the curve, half of them on keys.
std::vector<BaseTime> RandomProbes(Int32 keys, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<Int32> d(0, 2 * keys - 1);
  std::vector<BaseTime> v;
  v.reserve(kLookups);
  for (Int32 i = 0; i < kLookups; ++i) v.push_back(BaseTime(d(rng), 240));
  return v;
}

// Playback through the whole curve at four frames per key: each time a little after the last.
std::vector<BaseTime> PlaybackProbes(Int32 keys) {
  std::vector<BaseTime> v;
  v.reserve(4 * static_cast<size_t>(keys));
  for (Int32 i = 0; i < 4 * keys; ++i) v.push_back(BaseTime(i, 480));
  return v;
}

// Playback searches from the position the previous lookup found (where it found one).
Int64 Lookups(const CCurve* c, const std::vector<BaseTime>& probes, bool fromLast) {
  Int64 sum = 0;
  Int32 index = 0;
  Int32 hint = 0;
  Int32 mode = 0;
  for (const BaseTime& t : probes) {
    if (fromLast) {
      c->FindKeyFrom(t, hint, &index, FINDANIM(mode));
      if (index >= 0) hint = index;
    } else {
      c->FindKey(t, &index, FINDANIM(mode));
    }
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
  const std::vector<BaseTime> bigProbes = inOrder ? PlaybackProbes(n) : RandomProbes(n, 1);
  const std::vector<BaseTime> smallProbes =
      inOrder ? PlaybackProbes(n / 10) : RandomProbes(n / 10, 2);
  // The small curve is played ten times over, so that both sides of a pair take as long.
  const int repeat = inOrder ? 10 : 1;
  // Every key is found at its own time.
  for (Int32 i = 0; i < n; i += 997) {
    Int32 at = -1;
    if (big->FindKey(Frame(i), &at, FINDANIM_EXACT) != big->GetKey(i) || at != i) Die("FindKey");
  }
  if (Lookups(big, bigProbes, true) != Lookups(big, bigProbes, false)) Die("FindKeyFrom");
  Pair pair(state);
  for (auto _ : state) {
    pair.Figure([&] { benchmark::DoNotOptimize(Lookups(big, bigProbes, inOrder)); });
    pair.Limit([&] {
      for (int r = 0; r < repeat; ++r)
        benchmark::DoNotOptimize(Lookups(small, smallProbes, inOrder));
    });
  }
  // growth: the time per lookup at n over that at n / 10.
  pair.ReportGrowth(static_cast<double>(bigProbes.size()),
                    static_cast<double>(smallProbes.size()) * repeat);
  DeleteObj(big);
  DeleteObj(small);
}

void BM_CCurve_FindKey_100k(benchmark::State& state) { FindKey(state, 100000, false); }
BENCHMARK(BM_CCurve_FindKey_100k)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);
void BM_CCurve_FindKey_1M(benchmark::State& state) { FindKey(state, 1000000, false); }
BENCHMARK(BM_CCurve_FindKey_1M)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);

// Random probes have no goal: past the caches (the 1 M-key index is 24 MB) each of the ~20 steps
// of a binary search is a load from memory that depends on the one before, so the figure is
// the machine's memory latency growing with the index, not the search's log n.
//
// Playback: four lookups per key in time order, each searched from the key the previous one
// found (FindKeyFrom), so that a lookup costs O(1) at any size.
void BM_CCurve_PlaybackFindKey_100k(benchmark::State& state) { FindKey(state, 100000, true); }
BENCHMARK(BM_CCurve_PlaybackFindKey_100k)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);
void BM_CCurve_PlaybackFindKey_1M(benchmark::State& state) { FindKey(state, 1000000, true); }
BENCHMARK(BM_CCurve_PlaybackFindKey_1M)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
