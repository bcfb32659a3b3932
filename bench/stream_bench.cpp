// The scene-file stream against the C library doing the same file work.
//
// Every figure opens, fills or drains and closes a file in /tmp, as its limit does; the files
// stay in the page cache, so what is compared is the work on the way, not the disk. Writers
// write new files: the old one is removed first, outside the timing, so that neither side pays
// for dropping the pages of the last run.
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

constexpr Int32 kArrayCount = 8 * 1024 * 1024;  // Float64 elements: 64 MiB
constexpr Int32 kInt32Values = 10 * 1000 * 1000;
constexpr Int64 kSkipChunkBytes = 64ll * 1024 * 1024;

std::vector<unsigned char> ReadAll(const std::string& path) {
  std::vector<unsigned char> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) Die(path.c_str());
  unsigned char block[1 << 16];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0)
    bytes.insert(bytes.end(), block, block + n);
  std::fclose(f);
  return bytes;
}

void Remove(const std::string& path) { std::remove(path.c_str()); }

void WriteAll(const std::string& path, const std::vector<unsigned char>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) Die("fwrite");
  std::fclose(f);
}

void PutBig32(unsigned char* p, uint32_t v) {
  v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}

const std::vector<double>& ArrayValues() {
  static const std::vector<double> values = [] {
    std::vector<double> v(kArrayCount);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> d(-1e6, 1e6);
    for (auto& x : v) x = d(rng);
    return v;
  }();
  return values;
}

// The bytes WriteArray stores for ArrayValues: kind 140, Int32 size + 1, type byte, elements.
const std::vector<unsigned char>& ArrayImage() {
  static const std::vector<unsigned char> image = [] {
    const auto& v = ArrayValues();
    std::vector<unsigned char> b(6 + 8 * v.size());
    b[0] = HYPERFILEVALUE_ARRAY;
    PutBig32(&b[1], static_cast<uint32_t>(8 * v.size() + 1));
    b[5] = HYPERFILEARRAY_FLOAT64;
    for (size_t i = 0; i < v.size(); ++i) {
      uint64_t bits;
      std::memcpy(&bits, &v[i], 8);
      bits = __builtin_bswap64(bits);
      std::memcpy(&b[6 + 8 * i], &bits, 8);
    }
    return b;
  }();
  return image;
}

bool HyperWriteArray(const std::string& path) {
  HyperFile hf;
  return hf.Open(Filename(path.c_str()), FILEOPEN_WRITE) &&
         hf.WriteArray(ArrayValues().data(), HYPERFILEARRAY_FLOAT64, 8, kArrayCount) && hf.Close();
}

void BM_Stream_WriteArray_Float64(benchmark::State& state) {
  const std::string figurePath = lumbench::ScratchPath("writearray.hf");
  const std::string limitPath = lumbench::ScratchPath("writearray.raw");
  const auto& image = ArrayImage();
  if (!HyperWriteArray(figurePath) || ReadAll(figurePath) != image) Die("WriteArray bytes");
  Pair pair(state);
  for (auto _ : state) {
    Remove(limitPath);
    pair.Limit([&] {
      FILE* f = std::fopen(limitPath.c_str(), "wb");
      if (f == nullptr || std::fwrite(image.data(), 1, image.size(), f) != image.size())
        Die("fwrite");
      std::fclose(f);
    });
    Remove(figurePath);
    pair.Figure([&] {
      if (!HyperWriteArray(figurePath)) Die("WriteArray");
    });
  }
  pair.Report(image.size(), image.size());
}
BENCHMARK(BM_Stream_WriteArray_Float64)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(12))
    ->Unit(benchmark::kMillisecond);

void BM_Stream_ReadArray_Float64(benchmark::State& state) {
  const std::string path = lumbench::ScratchPath("readarray.hf");
  const auto& image = ArrayImage();
  WriteAll(path, image);
  std::vector<double> figure(kArrayCount), limit(kArrayCount);
  unsigned char header[6];
  auto hyperRead = [&] {
    HyperFile hf;
    if (!hf.Open(Filename(path.c_str()), FILEOPEN_READ) ||
        !hf.ReadArray(figure.data(), HYPERFILEARRAY_FLOAT64, 8, kArrayCount) || !hf.Close())
      Die("ReadArray");
  };
  hyperRead();
  if (figure != ArrayValues()) Die("ReadArray values");
  Pair pair(state);
  for (auto _ : state) {
    pair.Limit([&] {
      FILE* f = std::fopen(path.c_str(), "rb");
      if (f == nullptr || std::fread(header, 1, 6, f) != 6 ||
          std::fread(limit.data(), 8, limit.size(), f) != limit.size())
        Die("fread");
      std::fclose(f);
      uint64_t* w = reinterpret_cast<uint64_t*>(limit.data());
      for (size_t i = 0; i < limit.size(); ++i) w[i] = __builtin_bswap64(w[i]);
      benchmark::DoNotOptimize(w);
    });
    pair.Figure(hyperRead);
  }
  pair.Report(image.size(), image.size());
}
BENCHMARK(BM_Stream_ReadArray_Float64)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(12))
    ->Unit(benchmark::kMillisecond);

Int32 Int32Value(Int32 i) { return static_cast<Int32>(static_cast<uint32_t>(i) * 2654435761u); }

bool HyperWriteInt32s(const std::string& path) {
  HyperFile hf;
  if (!hf.Open(Filename(path.c_str()), FILEOPEN_WRITE)) return false;
  for (Int32 i = 0; i < kInt32Values; ++i)
    if (!hf.WriteInt32(Int32Value(i))) return false;
  return hf.Close();
}

void BM_Stream_WriteInt32_10M(benchmark::State& state) {
  const std::string figurePath = lumbench::ScratchPath("writeint32.hf");
  const std::string limitPath = lumbench::ScratchPath("writeint32.raw");
  std::vector<unsigned char> image(5ull * kInt32Values);
  for (Int32 i = 0; i < kInt32Values; ++i) {
    image[5ull * i] = HYPERFILEVALUE_INT32;
    PutBig32(&image[5ull * i + 1], static_cast<uint32_t>(Int32Value(i)));
  }
  if (!HyperWriteInt32s(figurePath) || ReadAll(figurePath) != image) Die("WriteInt32 bytes");
  // Each pair is three rounds of the limit and the figure, each side's time the sum of its
  // parts: a figure of 50 ms on a shared machine otherwise takes a moment of load whole.
  constexpr int kRounds = 3;
  const lumbench::Clock clock = lumbench::Clock::kThreadCpu;
  Pair pair(state);
  for (auto _ : state) {
    double limit = 0, figure = 0;
    for (int round = 0; round < kRounds; ++round) {
      Remove(limitPath);
      const double t0 = lumbench::Now(clock);
      FILE* f = std::fopen(limitPath.c_str(), "wb");
      if (f == nullptr || std::fwrite(image.data(), 1, image.size(), f) != image.size())
        Die("fwrite");
      std::fclose(f);
      limit += lumbench::Now(clock) - t0;
      Remove(figurePath);
      const double t1 = lumbench::Now(clock);
      if (!HyperWriteInt32s(figurePath)) Die("WriteInt32");
      figure += lumbench::Now(clock) - t1;
    }
    pair.AddLimit(limit);
    pair.AddFigure(figure);
  }
  pair.Report(double(image.size()) * kRounds, double(image.size()) * kRounds);
}
BENCHMARK(BM_Stream_WriteInt32_10M)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(12))
    ->Unit(benchmark::kMillisecond);

// One chunk of about 64 MiB of mixed values (lumbench::WriteMixedStream).
bool WriteMixedChunk(const std::string& path) {
  return lumbench::WriteMixedStream(path, kSkipChunkBytes);
}

void BM_Stream_SkipToEndChunk_64MB(benchmark::State& state) {
  const std::string path = lumbench::ScratchPath("skip.hf");
  if (!WriteMixedChunk(path)) Die("mixed chunk");
  const Int64 size = static_cast<Int64>(ReadAll(path).size());
  std::vector<unsigned char> buffer(size);
  auto hyperSkip = [&] {
    HyperFile hf;
    HYPERFILEVALUE kind;
    Int32 id = 0, level = 0;
    if (!hf.Open(Filename(path.c_str()), FILEOPEN_READ) || !hf.ReadValueHeader(&kind) ||
        kind != HYPERFILEVALUE_CHUNKSTART || !hf.ReadChunkStart(&id, &level) ||
        !hf.SkipToEndChunk() || hf.GetPosition() != size || hf.GetChunkDepth() != 0 || !hf.Close())
      Die("SkipToEndChunk");
  };
  hyperSkip();
  Pair pair(state);
  for (auto _ : state) {
    pair.Limit([&] {
      FILE* f = std::fopen(path.c_str(), "rb");
      if (f == nullptr || std::fread(buffer.data(), 1, buffer.size(), f) != buffer.size())
        Die("fread");
      std::fclose(f);
      benchmark::DoNotOptimize(buffer.data());
    });
    pair.Figure(hyperSkip);
  }
  pair.Report(size, size);
}
BENCHMARK(BM_Stream_SkipToEndChunk_64MB)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(12))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
