// Row conversion against memcpy of the bytes the conversion writes.
//
// A 1024 x 1024 picture converted row by row, as the draw ports do it; the limit copies a row of
// the destination's size from one buffer to another.
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "bench_support.h"
#include "lumora.h"

using namespace lumora;
using lumbench::Die;
using lumbench::Pair;

namespace {

constexpr Int32 kWidth = 1024;
constexpr Int32 kHeight = 1024;

std::vector<unsigned char> RandomBytes(size_t n, unsigned seed) {
  std::vector<unsigned char> b(n);
  std::mt19937 rng(seed);
  for (auto& x : b) x = static_cast<unsigned char>(rng());
  return b;
}

// Converts the picture row by row; srcBytes / dstBytes per pixel.
void ConvertPicture(const std::vector<unsigned char>& src, Int32 srcBytes, COLORMODE srcMode,
                    std::vector<unsigned char>& dst, Int32 dstBytes, COLORMODE dstMode,
                    bool dither) {
  for (Int32 y = 0; y < kHeight; ++y) {
    const UChar* s = src.data() + static_cast<size_t>(y) * kWidth * srcBytes;
    UChar* d = dst.data() + static_cast<size_t>(y) * kWidth * dstBytes;
    if (!ConvertBits(kWidth, s, srcBytes, srcMode, d, dstBytes, dstMode, dither ? (y & 7) : -1, 0))
      Die("ConvertBits");
  }
}

void CopyRows(const std::vector<unsigned char>& from, std::vector<unsigned char>& to,
              size_t rowBytes) {
  for (Int32 y = 0; y < kHeight; ++y)
    std::memcpy(to.data() + y * rowBytes, from.data() + y * rowBytes, rowBytes);
  benchmark::DoNotOptimize(to.data());
}

void Run(benchmark::State& state, Int32 srcBytes, COLORMODE srcMode, Int32 dstBytes,
         COLORMODE dstMode, bool dither) {
  const size_t pixels = static_cast<size_t>(kWidth) * kHeight;
  const auto src = RandomBytes(pixels * srcBytes, 3);
  std::vector<unsigned char> dst(pixels * dstBytes), copyFrom = RandomBytes(pixels * dstBytes, 5),
                                                     copyTo(pixels * dstBytes);
  ConvertPicture(src, srcBytes, srcMode, dst, dstBytes, dstMode, dither);
  CopyRows(copyFrom, copyTo, static_cast<size_t>(kWidth) * dstBytes);
  Pair pair(state);
  for (auto _ : state) {
    pair.Limit([&] { CopyRows(copyFrom, copyTo, static_cast<size_t>(kWidth) * dstBytes); });
    pair.Figure([&] { ConvertPicture(src, srcBytes, srcMode, dst, dstBytes, dstMode, dither); });
  }
  pair.Report(static_cast<double>(dst.size()), static_cast<double>(dst.size()));
}

void BM_ConvertBits_RGB8_to_RGBf(benchmark::State& state) {
  Run(state, 3, COLORMODE_RGB, 12, COLORMODE_RGBf, false);
}
BENCHMARK(BM_ConvertBits_RGB8_to_RGBf)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(40))
    ->Unit(benchmark::kMillisecond);

void BM_ConvertBits_RGB16_to_RGB8_Dithered(benchmark::State& state) {
  Run(state, 6, COLORMODE_RGBw, 3, COLORMODE_RGB, true);
}
BENCHMARK(BM_ConvertBits_RGB16_to_RGB8_Dithered)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(40))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
