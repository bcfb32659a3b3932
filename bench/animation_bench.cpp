// Curves: how the cost of adding keys in time order and of looking keys up grows with the
// number of keys, per decade from 10,000 to 1,000,000; and evaluation: GetValue on a spline
// curve against a plain loop over the same segments prepared in advance, and its growth.
//
// Each figure runs the work at N keys; its limit is the same work at N / 10 keys. growth is the
// time per key (or per lookup) at N over the time per key at N / 10: 1.0 is no growth, log n
// search gives about log(N) / log(N / 10) (1.2 to 1.25 here) before the caches have their say.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "animation/lum_curvemath.h"
#include "bench_support.h"
#include "lumora.h"

using namespace lumora;
using lumbench::Die;
using lumbench::Pair;
using lumbench::Pairs;

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
  // A playback of the large curve is a few milliseconds, and the small curve is played ten
  // times for each. On a shared machine the load changes within a pair: each pair is made of
  // rounds, one playback of the large curve and then ten of the small one, and each side's time
  // is the sum of its parts, so that both sides meet the same moments of load.
  const int rounds = inOrder ? 10 : 1;
  const int repeat = inOrder ? 10 : 1;
  // Every key is found at its own time.
  for (Int32 i = 0; i < n; i += 997) {
    Int32 at = -1;
    if (big->FindKey(Frame(i), &at, FINDANIM_EXACT) != big->GetKey(i) || at != i) Die("FindKey");
  }
  if (Lookups(big, bigProbes, true) != Lookups(big, bigProbes, false)) Die("FindKeyFrom");
  Pair pair(state);
  for (auto _ : state) {
    double figure = 0, limit = 0;
    for (int round = 0; round < rounds; ++round) {
      const double t0 = lumbench::Now(lumbench::Clock::kThreadCpu);
      benchmark::DoNotOptimize(Lookups(big, bigProbes, inOrder));
      const double t1 = lumbench::Now(lumbench::Clock::kThreadCpu);
      for (int r = 0; r < repeat; ++r)
        benchmark::DoNotOptimize(Lookups(small, smallProbes, inOrder));
      const double t2 = lumbench::Now(lumbench::Clock::kThreadCpu);
      figure += t1 - t0;
      limit += t2 - t1;
    }
    pair.AddLimit(limit);
    pair.AddFigure(figure);
  }
  // growth: the time per lookup at n over that at n / 10.
  pair.ReportGrowth(static_cast<double>(bigProbes.size()) * rounds,
                    static_cast<double>(smallProbes.size()) * repeat * rounds);
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

// ---- evaluation ----

// A spline curve of n keys a frame (1/120 s) apart, random values, handles a quarter of a frame
// long with random slopes.
CCurve* SplineCurve(Int32 n, unsigned seed) {
  CCurve* c = NewCurve();
  AddInOrder(c, n);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> value(-1, 1);
  for (Int32 i = 0; i < n; ++i) {
    CKey* k = c->GetKey(i);
    k->SetValue(c, value(rng));
    k->SetTimeLeft(c, BaseTime(-1, 480));
    k->SetTimeRight(c, BaseTime(1, 480));
    k->SetValueLeft(c, 0.01 * value(rng));
    k->SetValueRight(c, 0.01 * value(rng));
  }
  return c;
}

// The limit: the curve's segments as plain arrays (key times in seconds, and each segment's
// handles and values), found by std::upper_bound and evaluated as the same cubic with the same
// parameter solver.
struct PlainCurve {
  std::vector<double> times;
  std::vector<double> values;
  std::vector<curvemath::Segment> segments;

  explicit PlainCurve(const CCurve* c) {
    for (Int32 i = 0; i < c->GetKeyCount(); ++i) {
      times.push_back(c->GetKey(i)->GetTime().Get());
      values.push_back(c->GetKey(i)->GetValue());
      if (i + 1 < c->GetKeyCount())
        segments.push_back(curvemath::MakeSegment(*c->GetKey(i), *c->GetKey(i + 1)));
    }
  }

  double Value(double t) const {
    const size_t at = size_t(std::upper_bound(times.begin(), times.end(), t) - times.begin());
    if (at == 0) return values.front();
    if (at == times.size()) return values.back();
    const curvemath::Segment& g = segments[at - 1];
    return g.ValueAt((t - g.t0) / g.span);
  }
};

// Random times over the curve (of n frames), at a resolution of a thousandth of a frame; as
// BaseTime for GetValue and as seconds for the plain loop.
void RandomTimes(Int32 frames, Int32 count, unsigned seed, std::vector<BaseTime>& times,
                 std::vector<double>& seconds) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<Int64> d(0, Int64(frames) * 1000);
  times.clear();
  seconds.clear();
  for (Int32 i = 0; i < count; ++i) {
    times.push_back(BaseTime(double(d(rng)), 120000.0));
    seconds.push_back(times.back().Get());
  }
}

double Evaluate(const CCurve* c, const std::vector<BaseTime>& times) {
  double sum = 0;
  for (const BaseTime& t : times) sum += c->GetValue(t);
  return sum;
}

double EvaluatePlain(const PlainCurve& p, const std::vector<double>& seconds) {
  double sum = 0;
  for (double t : seconds) sum += p.Value(t);
  return sum;
}

// GetValue at 10,000,000 random times on a 1,000,000-key spline curve, against the plain loop.
void BM_CCurve_GetValue_1M(benchmark::State& state) {
  constexpr Int32 kKeys = 1000000, kTimes = 10000000;
  CCurve* c = SplineCurve(kKeys, 3);
  const PlainCurve plain(c);
  std::vector<BaseTime> times;
  std::vector<double> seconds;
  RandomTimes(kKeys, kTimes, 4, times, seconds);
  for (Int32 i = 0; i < kTimes; i += 9973)
    if (std::fabs(c->GetValue(times[i]) - plain.Value(seconds[i])) > 1e-9) Die("plain curve");
  Pair pair(state);
  for (auto _ : state) {
    pair.Limit([&] { benchmark::DoNotOptimize(EvaluatePlain(plain, seconds)); });
    pair.Figure([&] { benchmark::DoNotOptimize(Evaluate(c, times)); });
  }
  pair.Report(kTimes, kTimes, "items");
  DeleteObj(c);
}
BENCHMARK(BM_CCurve_GetValue_1M)
    ->UseManualTime()
    ->Iterations(Pairs(10))
    ->Unit(benchmark::kMillisecond);

// The same 1,000,000 random evaluations (in the curve's time span) on a curve of n keys and on
// one of n / 10: growth is the time per evaluation at n over that at n / 10. In the same turn the
// plain loop (PlainCurve) evaluates the same times on the same two curves: plain_growth is what
// the machine's caches give the plainest layout, the floor of any layout of the keys.
void GetValueGrowth(benchmark::State& state, Int32 n) {
  constexpr Int32 kTimes = 1000000;
  CCurve* big = SplineCurve(n, 5);
  CCurve* small = SplineCurve(n / 10, 6);
  std::vector<BaseTime> bigTimes, smallTimes;
  std::vector<double> bigSeconds, smallSeconds;
  RandomTimes(n, kTimes, 7, bigTimes, bigSeconds);
  RandomTimes(n / 10, kTimes, 8, smallTimes, smallSeconds);
  std::vector<double> plainGrowth;
  {
    const PlainCurve plainBig(big), plainSmall(small);
    Pair pair(state);
    for (auto _ : state) {
      pair.Limit([&] { benchmark::DoNotOptimize(Evaluate(small, smallTimes)); });
      pair.Figure([&] { benchmark::DoNotOptimize(Evaluate(big, bigTimes)); });
      const double t0 = lumbench::Now(lumbench::Clock::kThreadCpu);
      benchmark::DoNotOptimize(EvaluatePlain(plainSmall, smallSeconds));
      const double t1 = lumbench::Now(lumbench::Clock::kThreadCpu);
      benchmark::DoNotOptimize(EvaluatePlain(plainBig, bigSeconds));
      const double t2 = lumbench::Now(lumbench::Clock::kThreadCpu);
      if (t1 > t0) plainGrowth.push_back((t2 - t1) / (t1 - t0));
    }
    pair.ReportGrowth(kTimes, kTimes);
  }
  if (plainGrowth.size() > 1) {
    plainGrowth.erase(plainGrowth.begin());  // the warm-up turn
    state.counters["plain_growth"] = Pair::Median(plainGrowth);
    state.counters["plain_growth_min"] = *std::min_element(plainGrowth.begin(), plainGrowth.end());
    state.counters["plain_growth_max"] = *std::max_element(plainGrowth.begin(), plainGrowth.end());
  }
  DeleteObj(big);
  DeleteObj(small);
}

void BM_CCurve_GetValueGrowth_100k(benchmark::State& state) { GetValueGrowth(state, 100000); }
BENCHMARK(BM_CCurve_GetValueGrowth_100k)
    ->UseManualTime()
    ->Iterations(Pairs(10))
    ->Unit(benchmark::kMillisecond);
void BM_CCurve_GetValueGrowth_1M(benchmark::State& state) { GetValueGrowth(state, 1000000); }
BENCHMARK(BM_CCurve_GetValueGrowth_1M)
    ->UseManualTime()
    ->Iterations(Pairs(10))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
