// The whole tool, process and all, against the plainest C program doing the same work.
//
// Each iteration (one pair) starts thumbnail_reference (bench/thumbnail_reference.c) and
// klaymo-thumbnail on the sample document by turns, 100 times each; both pictures must be the
// same bytes. A run costs what its process spends on the processor, user and system (starting,
// loading, reading, encoding, writing, exiting): vs_limit = reference time / tool time. The
// same ratio in wall time, which also counts the waits of a busy machine, is vs_limit_wall (the
// whole run's, no spread). ToolFloor_Reference runs the reference on both sides: its spread is
// what the machine alone puts into a pair of this length (1.0 but for noise; no goal).
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <vector>

#include "bench_support.h"

using lumbench::Die;
using lumbench::Pair;

extern char** environ;

namespace {

constexpr int kRuns = 100;

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * t.tv_usec; }

// Runs program in out and waits for it; returns its processor time, *wall the time it took.
double Spawn(const char* program, const char* in, const char* out, double* wall = nullptr) {
  char* argv[] = {const_cast<char*>(program), const_cast<char*>(in), const_cast<char*>(out),
                  nullptr};
  const double t0 = lumbench::Now(lumbench::Clock::kWall);
  pid_t pid;
  if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) Die(program);
  int status = 0;
  rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    Die(program);
  if (wall != nullptr) *wall += lumbench::Now(lumbench::Clock::kWall) - t0;
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

std::vector<unsigned char> Bytes(const std::string& path) {
  std::vector<unsigned char> b;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) Die(path.c_str());
  int c;
  while ((c = std::fgetc(f)) != EOF) b.push_back(static_cast<unsigned char>(c));
  std::fclose(f);
  return b;
}

void BM_Tool_Sample(benchmark::State& state) {
  const std::string toolOut = lumbench::ScratchPath("tool.jpg");
  const std::string refOut = lumbench::ScratchPath("reference.jpg");
  Spawn(KLAYMO_THUMBNAIL_PATH, KLAYMO_SAMPLE_PATH, toolOut.c_str());
  Spawn(THUMBNAIL_REFERENCE_PATH, KLAYMO_SAMPLE_PATH, refOut.c_str());
  const auto picture = Bytes(toolOut);
  if (picture.empty() || picture != Bytes(refOut)) Die("the tool and the reference differ");
  Pair pair(state);
  double toolWall = 0, refWall = 0;
  for (auto _ : state) {
    double tool = 0, ref = 0;
    for (int i = 0; i < kRuns; ++i) {
      ref += Spawn(THUMBNAIL_REFERENCE_PATH, KLAYMO_SAMPLE_PATH, refOut.c_str(), &refWall);
      tool += Spawn(KLAYMO_THUMBNAIL_PATH, KLAYMO_SAMPLE_PATH, toolOut.c_str(), &toolWall);
    }
    pair.AddLimit(ref);
    pair.AddFigure(tool);
  }
  pair.Report(kRuns, kRuns, "items");
  if (toolWall > 0) state.counters["vs_limit_wall"] = refWall / toolWall;
  if (Bytes(toolOut) != picture) Die("the tool's picture changed");
}
BENCHMARK(BM_Tool_Sample)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(12))
    ->Unit(benchmark::kMillisecond);

void BM_ToolFloor_Reference(benchmark::State& state) {
  const std::string out = lumbench::ScratchPath("reference-floor.jpg");
  Pair pair(state);
  for (auto _ : state) {
    double first = 0, second = 0;
    for (int i = 0; i < kRuns; ++i) {
      first += Spawn(THUMBNAIL_REFERENCE_PATH, KLAYMO_SAMPLE_PATH, out.c_str());
      second += Spawn(THUMBNAIL_REFERENCE_PATH, KLAYMO_SAMPLE_PATH, out.c_str());
    }
    pair.AddLimit(first);
    pair.AddFigure(second);
  }
  pair.Report(kRuns, kRuns, "items");
}
BENCHMARK(BM_ToolFloor_Reference)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(12))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
