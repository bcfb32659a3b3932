// BaseFile's typed reads against fread and a bulk byte swap of the same bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "bench_support.h"
#include "lumora.h"

using namespace lumora;
using lumbench::Die;
using lumbench::Pair;

namespace {

constexpr Int32 kValues = 1000 * 1000;

Int32 Value(Int32 i) { return static_cast<Int32>(static_cast<uint32_t>(i) * 2246822519u); }

void BM_BaseFile_ReadInt32_BigEndian_1M(benchmark::State& state) {
  const std::string path = lumbench::ScratchPath("int32.be");
  {
    std::vector<uint32_t> be(kValues);
    for (Int32 i = 0; i < kValues; ++i) be[i] = __builtin_bswap32(static_cast<uint32_t>(Value(i)));
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(be.data(), 4, be.size(), f) != be.size()) Die("fwrite");
    std::fclose(f);
  }
  std::vector<Int32> figure(kValues), limit(kValues);
  auto baseRead = [&] {
    BaseFile file;
    if (!file.Open(Filename(path.c_str()), FILEOPEN_READ, FILEDIALOG_NONE, BYTEORDER_MOTOROLA))
      Die("Open");
    for (Int32 i = 0; i < kValues; ++i)
      if (!file.ReadInt32(&figure[i])) Die("ReadInt32");
    if (!file.Close()) Die("Close");
  };
  baseRead();
  for (Int32 i = 0; i < kValues; ++i)
    if (figure[i] != Value(i)) Die("ReadInt32 values");
  Pair pair(state);
  for (auto _ : state) {
    pair.Limit([&] {
      FILE* f = std::fopen(path.c_str(), "rb");
      if (f == nullptr || std::fread(limit.data(), 4, limit.size(), f) != limit.size())
        Die("fread");
      std::fclose(f);
      uint32_t* w = reinterpret_cast<uint32_t*>(limit.data());
      for (size_t i = 0; i < limit.size(); ++i) w[i] = __builtin_bswap32(w[i]);
      benchmark::DoNotOptimize(w);
    });
    pair.Figure(baseRead);
  }
  pair.Report(4.0 * kValues, 4.0 * kValues);
}
BENCHMARK(BM_BaseFile_ReadInt32_BigEndian_1M)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(30))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
