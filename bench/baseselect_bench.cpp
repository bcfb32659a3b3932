// Selections: how the cost of one Select grows with the size of the selection.
//
// Speed is not the point here but growth: each figure runs N selects on a fresh selection, and
// its limit is the same kind of run with N / 10 selects, the two interleaved. growth is the time
// per select at N over the time per select at N / 10 (1.0 = linear in all, no growth per
// decade), median and spread over the pairs; vs_limit is its inverse.
#include <malloc.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bench_support.h"
#include "lumora.h"

using namespace lumora;
using lumbench::Die;
using lumbench::Pair;

namespace {

// step 1: one run that grows; step 2: every select opens a new run at the end.
void SelectInOrder(Int32 n, Int32 step) {
  BaseSelect sel;
  for (Int32 i = 0; i < n; ++i)
    if (!sel.Select(i * step)) Die("Select");
  if (sel.GetCount() != n || sel.GetSegments() != (step == 1 ? 1 : n)) Die("selection");
}

void InOrder(benchmark::State& state, Int32 step) {
  constexpr Int32 kN = 10 * 1000 * 1000;
  // The C heap maps blocks above its threshold fresh from the system and, by default, raises the
  // threshold to the size of a mapped block once it is freed, up to 32 MiB. The 8 MB run array
  // of the small selection would then come back from the heap while the 80 MB one is mapped anew
  // each time, and only the large selection would pay for touching fresh pages (a fifth of its
  // time). A fixed threshold makes both map theirs fresh, so that the growth is the selection's.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  SelectInOrder(kN / 10, step);  // warms the heap and the caches for both sizes
  Pair pair(state);
  for (auto _ : state) {
    pair.Limit([&] { SelectInOrder(kN / 10, step); });
    pair.Figure([&] { SelectInOrder(kN, step); });
  }
  pair.ReportGrowth(kN, kN / 10);
}

void BM_BaseSelect_InOrder_10M(benchmark::State& state) { InOrder(state, 1); }
BENCHMARK(BM_BaseSelect_InOrder_10M)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(12))
    ->Unit(benchmark::kMillisecond);

// The worst in-order case: every select makes a new run at the end of the run array.
void BM_BaseSelect_InOrderNewRuns_10M(benchmark::State& state) { InOrder(state, 2); }
BENCHMARK(BM_BaseSelect_InOrderNewRuns_10M)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(12))
    ->Unit(benchmark::kMillisecond);

// n indices drawn uniformly from 0 .. 8n - 1: the same density of runs at every n.
std::vector<Int32> RandomIndices(Int32 n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<Int32> d(0, 8 * n - 1);
  std::vector<Int32> v(n);
  for (auto& x : v) x = d(rng);
  return v;
}

void SelectRandom(const std::vector<Int32>& indices) {
  SelectBlockArray sel;
  for (Int32 i : indices)
    if (!sel.Select(i)) Die("Select");
  benchmark::DoNotOptimize(sel.GetSegments());
}

void BM_SelectBlockArray_Random_1M(benchmark::State& state) {
  constexpr Int32 kN = 1000 * 1000;
  const auto large = RandomIndices(kN, 1), small = RandomIndices(kN / 10, 2);
  // The selection must hold exactly the distinct indices drawn.
  {
    SelectBlockArray sel;
    std::vector<bool> seen(8 * kN);
    Int32 distinct = 0;
    for (Int32 i : large) {
      if (!seen[i]) ++distinct;
      seen[i] = true;
      if (!sel.Select(i)) Die("Select");
    }
    if (sel.GetCount() != distinct) Die("selection count");
  }
  // Each pair is three rounds of the small and the large selection, each side's time the sum of
  // its parts, so that both sides meet the same moments of load on a shared machine.
  constexpr int kRounds = 3;
  const lumbench::Clock clock = lumbench::Clock::kThreadCpu;
  Pair pair(state);
  for (auto _ : state) {
    double limit = 0, figure = 0;
    for (int round = 0; round < kRounds; ++round) {
      const double t0 = lumbench::Now(clock);
      SelectRandom(small);
      const double t1 = lumbench::Now(clock);
      SelectRandom(large);
      limit += t1 - t0;
      figure += lumbench::Now(clock) - t1;
    }
    pair.AddLimit(limit);
    pair.AddFigure(figure);
  }
  pair.ReportGrowth(double(kN) * kRounds, double(kN / 10) * kRounds);
}
BENCHMARK(BM_SelectBlockArray_Random_1M)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(12))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
