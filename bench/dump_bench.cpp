// lumora-dump against SkipToEndChunk over the same stream, and the memory its process takes.
//
// The stream: one chunk of about 100 MB holding nested chunks, each with one value of most kinds
// a node writes (numbers, a vector, a matrix, a name, a time, a small memory block, two short
// typed arrays and a nested chunk): most values are small, about a third of the bytes lie in
// arrays. The figure dumps it as the tree (text, offsets off) into /dev/null through stdio, as
// the program does (and, as a second figure, reads it all but shows one line); the limit opens
// the stream, reads the outer chunk start and skips to its end. vs_limit = dump throughput / skip
// throughput (goal: at least 0.2).
//
// BM_Dump_Memory runs the program itself on a stream of 1 MB and on the 100 MB one and reports
// the peak resident size of each run (rss_1MB_kib, rss_100MB_kib): the second must not grow with
// the file.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "bench_support.h"
#include "lumora.h"
#include "lumora_dump.h"

using namespace lumora;
using lumbench::Die;
using lumbench::Pair;

extern char** environ;

namespace {

constexpr Int64 kStreamBytes = 100ll * 1000 * 1000;

const std::string& Stream(const char* name, Int64 bytes) {
  static std::string paths[2];
  std::string& path = paths[bytes == kStreamBytes ? 0 : 1];
  if (path.empty()) {
    path = lumbench::ScratchPath(name);
    if (!lumbench::WriteMixedStream(path, bytes)) Die("the mixed stream");
  }
  return path;
}

Int64 FileSize(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) Die(path.c_str());
  std::fseek(f, 0, SEEK_END);
  const Int64 n = std::ftell(f);
  std::fclose(f);
  return n;
}

void ToFile(const char* bytes, size_t n, void* data) {
  if (std::fwrite(bytes, 1, n, static_cast<FILE*>(data)) != n) Die("fwrite");
}

// state.range(0): 0 the tree; 1 the tree no deeper than the outer chunk, which reads every value
// as the tree does and shows one line (what the reading costs without the text).
void BM_Dump_Mixed_100MB(benchmark::State& state) {
  const std::string& path = Stream("mixed.hf", kStreamBytes);
  const Int64 size = FileSize(path);
  FILE* null = std::fopen("/dev/null", "wb");
  if (null == nullptr) Die("/dev/null");
  auto dump = [&] {
    lumdump::Options options;
    if (state.range(0) == 1) options.depth = 0;
    if (lumdump::Run(Filename(path.c_str()), "mixed", options, {ToFile, null}, {ToFile, stderr}) !=
        0)
      Die("dump");
    std::fflush(null);
  };
  auto skip = [&] {
    HyperFile hf;
    HYPERFILEVALUE kind;
    if (!hf.Open(Filename(path.c_str()), FILEOPEN_READ) || !hf.ReadValueHeader(&kind) ||
        kind != HYPERFILEVALUE_CHUNKSTART || !hf.ReadChunkStart(nullptr, nullptr) ||
        !hf.SkipToEndChunk() || hf.GetPosition() != size || !hf.Close())
      Die("SkipToEndChunk");
  };
  dump();
  skip();
  Pair pair(state);
  for (auto _ : state) {
    pair.Limit(skip);
    pair.Figure(dump);
  }
  pair.Report(static_cast<double>(size), static_cast<double>(size));
  std::fclose(null);
}
BENCHMARK(BM_Dump_Mixed_100MB)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);

// The peak resident size of one run of the program, in KiB.
long PeakKib(const std::string& path) {
  const char* program = LUMORA_DUMP_PATH;
  char* argv[] = {const_cast<char*>(program), const_cast<char*>(path.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) != 0) Die(program);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    Die(program);
  return usage.ru_maxrss;
}

void BM_Dump_Memory(benchmark::State& state) {
  const std::string& small = Stream("mixed-1MB.hf", 1000 * 1000);
  const std::string& large = Stream("mixed.hf", kStreamBytes);
  long smallKib = 0, largeKib = 0;
  for (auto _ : state) {
    smallKib = std::max(smallKib, PeakKib(small));
    largeKib = std::max(largeKib, PeakKib(large));
  }
  state.counters["rss_1MB_kib"] = static_cast<double>(smallKib);
  state.counters["rss_100MB_kib"] = static_cast<double>(largeKib);
}
BENCHMARK(BM_Dump_Memory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
