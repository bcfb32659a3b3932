// Shared pieces of the benchmark programs.
//
// Every benchmark measures a figure of the library and, in the same iteration, the limit it is
// held against: the same work done the plainest fast way (fwrite, fread, memcpy, a peer
// library). Both are timed with the same clock and interleaved (limit, figure, limit, figure
// ...), so that whatever the shared machine does at the time weighs on both alike, and every
// iteration gives one ratio. The benchmark's own time is the figure's; the counter vs_limit is
// the median over the iterations of the figure's throughput over the limit's (1.0 = at the
// limit), vs_min and vs_max its spread, and limit_ns the limit's median time per iteration.
//
// Times are the thread's CPU time (user and system, so the kernel's copying for file reads and
// writes counts): on a machine shared with other work, wall time also counts the moments the
// benchmark was not running. The whole-process benchmark, whose work happens in child
// processes, takes the children's CPU time likewise.
#ifndef LUMORA_BENCH_SUPPORT_H
#define LUMORA_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lumora.h"

namespace lumbench {

enum class Clock { kThreadCpu, kWall };

inline double Now(Clock clock) {
  if (clock == Clock::kWall) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A scratch directory under $TMPDIR (default /tmp) for this program, removed with its files at
// exit.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base != nullptr && *base != 0 ? base : "/tmp") +
                       "/lumora-bench-XXXXXX";
    if (mkdtemp(&tmpl[0]) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    std::string made = tmpl;
    static std::string removeAtExit;
    removeAtExit = made;
    std::atexit([] {
      std::string cmd = "rm -rf '" + removeAtExit + "'";
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", cmd.c_str());
    });
    return made;
  }();
  return dir;
}

inline std::string ScratchPath(const char* name) { return ScratchDir() + "/" + name; }

// Fails the benchmark run loudly: a figure measured on wrong results means nothing.
[[noreturn]] inline void Die(const char* what) {
  std::fprintf(stderr, "benchmark setup failed: %s\n", what);
  std::exit(1);
}

// The iterations of a figure measured over the given number of pairs, or over BENCH_PAIRS from
// the environment when that is set; never fewer than 10 pairs. One more iteration comes first:
// it warms the caches, the heap and the files, and Pair leaves it out.
inline benchmark::IterationCount Pairs(benchmark::IterationCount fallback) {
  benchmark::IterationCount n = fallback;
  if (const char* env = std::getenv("BENCH_PAIRS")) {
    const long v = std::strtol(env, nullptr, 10);
    if (v > 0) n = v;
  }
  return (n < 10 ? 10 : n) + 1;
}

// The figure and its limit, timed as pairs over the iterations of one benchmark (which must use
// UseManualTime()): each iteration runs the limit and then the figure, and its ratio is taken
// from those two times alone, so that a moment of load weighs on one pair rather than on the
// whole figure. Report() gives the median ratio and the lowest and highest.
class Pair {
 public:
  explicit Pair(benchmark::State& state, Clock clock = Clock::kThreadCpu)
      : _state(state), _clock(clock) {
    _figures.reserve(static_cast<size_t>(state.max_iterations));
    _limits.reserve(static_cast<size_t>(state.max_iterations));
  }

  // Call Limit() and then Figure() once in every iteration. The first iteration is the warm-up.
  template <typename F>
  void Limit(F&& work) {
    double t0 = Now(_clock);
    work();
    AddLimit(Now(_clock) - t0);
  }

  template <typename F>
  void Figure(F&& work) {
    double t0 = Now(_clock);
    work();
    AddFigure(Now(_clock) - t0);
  }

  // Times measured elsewhere (for work done in child processes); one of each per iteration.
  void AddLimit(double seconds) { _limits.push_back(seconds); }
  void AddFigure(double seconds) {
    _figures.push_back(seconds);
    _state.SetIterationTime(seconds);
  }

  // figureWork and limitWork: the units of work one iteration of each does (bytes, operations).
  // The ratio of a pair is (figureWork / figure time) / (limitWork / limit time); the counters
  // are vs_limit (the median over the pairs; 1.0 = at the limit), vs_min and vs_max, pairs, and
  // limit_ns, the limit's median time.
  void Report(double figureWork, double limitWork, const char* unit = "bytes") {
    const size_t n = Count();
    if (n == 0) return;
    std::vector<double> ratios, limits;
    for (size_t i = 0; i < n; ++i) {
      limits.push_back(LimitAt(i));
      if (FigureAt(i) > 0 && LimitAt(i) > 0)
        ratios.push_back((figureWork / FigureAt(i)) / (limitWork / LimitAt(i)));
    }
    if (ratios.empty()) return;
    Spread(ratios, "vs_limit", "vs_min", "vs_max");
    _state.counters["pairs"] = static_cast<double>(ratios.size());
    _state.counters["limit_ns"] = Median(limits) * 1e9;
    const double total = figureWork * static_cast<double>(n + 1);
    if (std::string(unit) == "bytes") {
      _state.SetBytesProcessed(static_cast<int64_t>(total));
    } else {
      _state.SetItemsProcessed(static_cast<int64_t>(total));
    }
  }

  // For figures held against themselves at a smaller size: the figure does figureWork units and
  // the limit limitWork of the same kind. growth is the time per unit of the figure over that of
  // the limit (1.0 = linear), as median, growth_min and growth_max over the pairs.
  void ReportGrowth(double figureWork, double limitWork) {
    Report(figureWork, limitWork, "items");
    std::vector<double> growth;
    for (size_t i = 0; i < Count(); ++i)
      if (FigureAt(i) > 0 && LimitAt(i) > 0)
        growth.push_back((FigureAt(i) / figureWork) / (LimitAt(i) / limitWork));
    if (!growth.empty()) Spread(growth, "growth", "growth_min", "growth_max");
  }

  // The median time of the figure and of the limit over the pairs counted (0 before any).
  double FigureSeconds() const { return MedianOf(_figures); }
  double LimitSeconds() const { return MedianOf(_limits); }

  static double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 == 1 ? v[m] : 0.5 * (v[m - 1] + v[m]);
  }

 private:
  // The pairs counted: all but the first, the warm-up.
  size_t Count() const {
    const size_t n = std::min(_figures.size(), _limits.size());
    return n > 1 ? n - 1 : 0;
  }
  double MedianOf(const std::vector<double>& times) const {
    const size_t n = Count();
    return n == 0 ? 0 : Median(std::vector<double>(times.begin() + 1, times.begin() + 1 + n));
  }
  double FigureAt(size_t i) const { return _figures[i + 1]; }
  double LimitAt(size_t i) const { return _limits[i + 1]; }

  void Spread(const std::vector<double>& v, const char* median, const char* low,
              const char* high) {
    _state.counters[median] = Median(v);
    _state.counters[low] = *std::min_element(v.begin(), v.end());
    _state.counters[high] = *std::max_element(v.begin(), v.end());
  }

  benchmark::State& _state;
  Clock _clock;
  std::vector<double> _figures;
  std::vector<double> _limits;
};

// A stream of one chunk of about `bytes`: nested chunks, each holding one value of most kinds a
// node writes (numbers, a vector, a matrix, a name, a time, a small memory block) and two short
// typed arrays, so that most values are small and about a third of the bytes lie in arrays.
inline bool WriteMixedStream(const std::string& path, lumora::Int64 bytes) {
  using namespace lumora;
  HyperFile hf;
  if (!hf.Open(Filename(path.c_str()), FILEOPEN_WRITE) || !hf.WriteChunkStart(1000, 1))
    return false;
  Float64 floats[32];
  Int32 ints[16];
  UChar memory[48];
  for (int i = 0; i < 32; ++i) floats[i] = i * 0.25;
  for (int i = 0; i < 16; ++i) ints[i] = i * 3;
  for (int i = 0; i < 48; ++i) memory[i] = static_cast<UChar>(i);
  Matrix64 m;
  const String name("Cube.1");
  for (Int32 n = 0; hf.GetPosition() < bytes; ++n) {
    bool ok = hf.WriteChunkStart(5000 + (n & 7), n & 3) && hf.WriteInt32(n) &&
              hf.WriteFloat(n * 0.5) && hf.WriteVector(Vector64(n, 1.0, -2.0)) &&
              hf.WriteMatrix(m) && hf.WriteBool((n & 1) != 0) && hf.WriteString(name) &&
              hf.WriteInt64(n * 1000ll) && hf.WriteTime(BaseTime(n, 30.0)) &&
              hf.WriteUChar(static_cast<UChar>(n)) && hf.WriteMemory(memory, sizeof memory) &&
              hf.WriteArray(floats, HYPERFILEARRAY_FLOAT64, 8, 32) &&
              hf.WriteArray(ints, HYPERFILEARRAY_INT32, 4, 16) && hf.WriteChunkStart(6000, 0) &&
              hf.WriteInt32(n) && hf.WriteFloat32(1.5f) && hf.WriteChunkEnd() && hf.WriteChunkEnd();
    if (!ok) return false;
  }
  return hf.WriteChunkEnd() && hf.Close();
}

}  // namespace lumbench

#endif  // LUMORA_BENCH_SUPPORT_H
