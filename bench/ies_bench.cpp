// IES lights against the plainest way of doing the same work.
//
// Import: the largest real file (8.ies, 7812 numbers) read by ImportFromFile, beside reading the
// same file with fread and converting the same count of numbers with strtod. The import also
// computes the power ratio, as every import does. The same for the largest file of photometric
// type B (flood-2.ies), whose import also resamples its table onto a type C grid.
// Power ratio: ComputePowerRatio (65536 directions) beside 65536 bare lookups into the table.
// Long lines: a table written on one line of 450 KB beside the same numbers one per line; the
// two cost the same when nothing is quadratic in the line length (vs_limit near 1).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "lights/lum_ieslight.h"
#include "lumora.h"

using namespace lumora;
using lumbench::Die;
using lumbench::Pair;

namespace {

const std::string kLargest = std::string(LUMORA_SHARED_DATA_DIR) + "/ies/8.ies";
const std::string kTypeB = std::string(LUMORA_SHARED_DATA_DIR) + "/ies/flood-2.ies";

std::string ReadText(const std::string& path) {
  std::string text;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) Die(path.c_str());
  char block[1 << 14];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) text.append(block, n);
  std::fclose(f);
  return text;
}

// The numbers after the TILT line, converted with strtod; returns how many.
long StrtodNumbers(const std::string& text, double* sum) {
  const size_t tilt = text.find("TILT=");
  const char* p = text.c_str() + text.find('\n', tilt) + 1;
  long count = 0;
  for (;;) {
    char* end = nullptr;
    const double v = std::strtod(p, &end);
    if (end == p) break;
    *sum += v;
    p = end;
    ++count;
  }
  return count;
}

// Imports path against fread + strtod of its numbers; numbers is the count the file holds.
void ImportAgainstStrtod(benchmark::State& state, const std::string& path, long numbers) {
  const Filename name(path.c_str());
  double sum = 0;
  if (StrtodNumbers(ReadText(path), &sum) != numbers) Die(path.c_str());
  {
    IESLight check;
    if (check.ImportFromFile(name) != 1) Die(path.c_str());
  }
  Pair pair(state);
  for (auto _ : state) {
    pair.Figure([&] {
      IESLight light;
      if (light.ImportFromFile(name) != 1) Die("import");
      benchmark::DoNotOptimize(light.GetPowerRatio());
    });
    pair.Limit([&] {
      double s = 0;
      if (StrtodNumbers(ReadText(path), &s) != numbers) Die("strtod");
      benchmark::DoNotOptimize(s);
    });
  }
  pair.Report(static_cast<double>(numbers), static_cast<double>(numbers), "items");
}

void BM_IES_ImportLargestFile(benchmark::State& state) {
  ImportAgainstStrtod(state, kLargest, 13 + 199 + 38 + 199 * 38);
}
BENCHMARK(BM_IES_ImportLargestFile)->UseManualTime()->Unit(benchmark::kMillisecond);

// The largest type B file: its 45 x 45 table is resampled onto a 181 x 361 grid (91 x 361 once
// the dark half is dropped), about 65000 evaluations of the file's table besides the parse.
void BM_IES_ImportTypeBFile(benchmark::State& state) {
  ImportAgainstStrtod(state, kTypeB, 13 + 45 + 45 + 45 * 45);
}
BENCHMARK(BM_IES_ImportTypeBFile)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_IES_ComputePowerRatio(benchmark::State& state) {
  IESLight light;
  if (light.ImportFromFile(Filename(kLargest.c_str())) != 1) Die("8.ies");
  const Float* table = light.GetCandela();
  const UInt32 cells = static_cast<UInt32>(light.GetVerticalCount() * light.GetHorizontalCount());
  const Float expected = light.GetPowerRatio();
  constexpr int kSamples = 65536;
  Pair pair(state);
  for (auto _ : state) {
    pair.Figure([&] {
      light.ComputePowerRatio();
      if (light.GetPowerRatio() != expected) Die("power ratio");
    });
    pair.Limit([&] {
      UInt32 seed = 117641;
      double s = 0;
      for (int k = 0; k < kSamples; ++k) {
        seed = seed * 69069u + 69069u;
        s += table[(seed >> 8) % cells];
      }
      benchmark::DoNotOptimize(s);
    });
  }
  pair.Report(kSamples, kSamples, "items");
}
BENCHMARK(BM_IES_ComputePowerRatio)->UseManualTime()->Unit(benchmark::kMillisecond);

// A file of a 1024 x 64 table, its numbers separated by sep.
std::string TableFile(char sep) {
  std::string t = "IESNA91\nTILT=NONE\n1 -1 1 1024 64 1 2 0 0 0\n1 1 1\n";
  for (int i = 0; i < 1024; ++i) t += std::to_string(i * 180.0 / 1023) + sep;
  for (int j = 0; j < 64; ++j) t += std::to_string(j * 90.0 / 63) + sep;
  for (int c = 0; c < 1024 * 64; ++c) t += std::to_string(c % 977) + ".5" + sep;
  return t + "\n";
}

void BM_IES_ImportOneLongLine(benchmark::State& state) {
  const std::string oneLine = TableFile(' ');
  const std::string lines = TableFile('\n');
  Filename figure, limit;
  figure.SetMemoryData(oneLine.data(), static_cast<Int64>(oneLine.size()), false);
  limit.SetMemoryData(lines.data(), static_cast<Int64>(lines.size()), false);
  Pair pair(state);
  for (auto _ : state) {
    pair.Figure([&] {
      IESLight light;
      if (light.ImportFromFile(figure) != 1) Die("one line");
    });
    pair.Limit([&] {
      IESLight light;
      if (light.ImportFromFile(limit) != 1) Die("lines");
    });
  }
  pair.Report(static_cast<double>(oneLine.size()), static_cast<double>(lines.size()));
}
BENCHMARK(BM_IES_ImportOneLongLine)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
