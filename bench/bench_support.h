// Shared pieces of the benchmark programs.
//
// Every benchmark measures a figure of the library and, in the same iteration, the limit it is
// held against: the same work done the plainest fast way (fwrite, fread, memcpy, a peer
// library). Both are timed with the same clock and interleaved, so that whatever the shared
// machine does at the time weighs on both alike. The benchmark's own time is the figure's; the
// counter vs_limit is the figure's throughput over the limit's (1.0 = at the limit), and
// limit_ns gives the limit's time per iteration for reference.
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

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

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

// A scratch directory under /tmp for this program, removed with its files at exit.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/lumora-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
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

// The figure and its limit, timed side by side over the iterations of one benchmark (which
// must use UseManualTime()).
class Pair {
 public:
  explicit Pair(benchmark::State& state, Clock clock = Clock::kThreadCpu)
      : _state(state), _clock(clock) {}

  template <typename F>
  void Figure(F&& work) {
    double t0 = Now(_clock);
    work();
    double t = Now(_clock) - t0;
    _figure += t;
    _state.SetIterationTime(t);
  }

  template <typename F>
  void Limit(F&& work) {
    double t0 = Now(_clock);
    work();
    _limit += Now(_clock) - t0;
  }

  // Times measured elsewhere (for work done in child processes).
  void AddFigure(double seconds) {
    _figure += seconds;
    _state.SetIterationTime(seconds);
  }
  void AddLimit(double seconds) { _limit += seconds; }

  // figureWork and limitWork: the units of work one iteration of each does (bytes, operations).
  // vs_limit = (figureWork / figure time) / (limitWork / limit time).
  void Report(double figureWork, double limitWork, const char* unit = "bytes") {
    const double n = static_cast<double>(_state.iterations());
    if (n <= 0 || _figure <= 0 || _limit <= 0) return;
    const double vs = (figureWork / _figure) / (limitWork / _limit);
    _state.counters["vs_limit"] = vs;
    _state.counters["limit_ns"] = _limit / n * 1e9;
    if (std::string(unit) == "bytes") {
      _state.SetBytesProcessed(static_cast<int64_t>(figureWork * n));
    } else {
      _state.SetItemsProcessed(static_cast<int64_t>(figureWork * n));
    }
  }

  double FigureSeconds() const { return _figure; }
  double LimitSeconds() const { return _limit; }

 private:
  benchmark::State& _state;
  Clock _clock;
  double _figure = 0;
  double _limit = 0;
};

}  // namespace lumbench

#endif  // LUMORA_BENCH_SUPPORT_H
