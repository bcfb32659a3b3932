// Crc64 against zlib's crc32 over the same buffer: a well-tuned checksum of the same kind.
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bench_support.h"
#include "lumora.h"

using namespace lumora;
using lumbench::Pair;

namespace {

constexpr size_t kBytes = 64u * 1024 * 1024;

void BM_Crc64_64MB(benchmark::State& state) {
  std::vector<unsigned char> data(kBytes);
  std::mt19937_64 rng(11);
  for (size_t i = 0; i < kBytes; i += 8) {
    uint64_t v = rng();
    for (int k = 0; k < 8; ++k) data[i + k] = static_cast<unsigned char>(v >> (8 * k));
  }
  Pair pair(state);
  for (auto _ : state) {
    pair.Limit([&] {
      // zlib takes an unsigned int length: 64 MiB fits.
      uLong c = crc32(0L, Z_NULL, 0);
      c = crc32(c, data.data(), static_cast<uInt>(data.size()));
      benchmark::DoNotOptimize(c);
    });
    pair.Figure([&] {
      Crc64 crc;
      crc.Update(data.data(), static_cast<Int64>(data.size()));
      benchmark::DoNotOptimize(crc.GetCrc());
    });
  }
  pair.Report(kBytes, kBytes);
}
BENCHMARK(BM_Crc64_64MB)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
