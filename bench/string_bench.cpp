// String's UTF-8 decoding and encoding against iconv doing the same two conversions.
//
// 1 MiB of text, mostly ASCII with two- and three-byte characters mixed in (accented Latin,
// Greek, CJK, currency signs), into 16-bit units and back to UTF-8. iconv converts to UTF-16 in
// the host's byte order, which is what a String holds; its descriptors are opened once, as a
// program converting often would keep them.
#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "lumora.h"

using namespace lumora;
using lumbench::Die;
using lumbench::Pair;

namespace {

constexpr size_t kBytes = 1u << 20;

std::string MakeText() {
  static const char* const kWords[] = {
      "the",
      "polygon",
      "object",
      "carries",
      "a",
      "tag",
      "with",
      "points",
      "and",
      "UVs",
      "in",
      "its",
      "scene",
      "r\xC3\xA9sum\xC3\xA9",
      "\xC3\xBC"
      "ber",
      "Stra\xC3\x9F"
      "e",
      "\xCE\xBB\xCF\x8C\xCE\xB3\xCE\xBF\xCF\x82",
      "\xE4\xB8\xAD\xE6\x96\x87",
      "\xE2\x82\xAC"
      "42",
      "na\xC3\xAF"
      "ve",
      "12.5",
      "Cube.1",
      "light",
      "camera",
      "\xE6\x97\xA5\xE6\x9C\xAC",
      "track",
  };
  std::mt19937 rng(17);
  std::string text;
  while (text.size() < kBytes) {
    text += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
    text += (rng() % 12 == 0) ? "\n" : " ";
  }
  // Cut at a character boundary.
  size_t n = kBytes;
  while ((static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  text.resize(n);
  return text;
}

size_t Iconv(iconv_t cd, const char* in, size_t inBytes, char* out, size_t outBytes) {
  char* src = const_cast<char*>(in);
  char* dst = out;
  size_t left = outBytes;
  if (iconv(cd, &src, &inBytes, &dst, &left) == static_cast<size_t>(-1) || inBytes != 0)
    Die("iconv");
  return outBytes - left;
}

void BM_String_UTF8_RoundTrip_1MB(benchmark::State& state) {
  const std::string text = MakeText();
  const Int32 n = static_cast<Int32>(text.size());
  iconv_t toUnits = iconv_open("UTF-16LE", "UTF-8");
  iconv_t toBytes = iconv_open("UTF-8", "UTF-16LE");
  if (toUnits == reinterpret_cast<iconv_t>(-1) || toBytes == reinterpret_cast<iconv_t>(-1))
    Die("iconv_open");
  std::vector<char> figureOut(3 * text.size() + 1), limitOut(3 * text.size() + 1);
  std::vector<char> units(2 * text.size() + 2);

  // Both sides must do the same conversion: the same units, and the text back unchanged.
  {
    String s;
    s.SetCString(text.data(), n, STRINGENCODING_UTF8);
    size_t unitBytes = Iconv(toUnits, text.data(), text.size(), units.data(), units.size());
    if (unitBytes != 2u * s.GetLength() || std::memcmp(units.data(), s.GetUnits(), unitBytes) != 0)
      Die("String and iconv decode differently");
    Int32 back =
        s.GetCString(figureOut.data(), static_cast<Int32>(figureOut.size()), STRINGENCODING_UTF8);
    if (std::string(figureOut.data(), back) != text) Die("String round trip");
    size_t limitBack = Iconv(toBytes, units.data(), unitBytes, limitOut.data(), limitOut.size());
    if (std::string(limitOut.data(), limitBack) != text) Die("iconv round trip");
  }

  Pair pair(state);
  for (auto _ : state) {
    pair.Limit([&] {
      size_t unitBytes = Iconv(toUnits, text.data(), text.size(), units.data(), units.size());
      size_t back = Iconv(toBytes, units.data(), unitBytes, limitOut.data(), limitOut.size());
      benchmark::DoNotOptimize(back);
    });
    pair.Figure([&] {
      String s;
      s.SetCString(text.data(), n, STRINGENCODING_UTF8);
      Int32 back =
          s.GetCString(figureOut.data(), static_cast<Int32>(figureOut.size()), STRINGENCODING_UTF8);
      benchmark::DoNotOptimize(back);
    });
  }
  pair.Report(2.0 * text.size(), 2.0 * text.size());
  iconv_close(toUnits);
  iconv_close(toBytes);
}
BENCHMARK(BM_String_UTF8_RoundTrip_1MB)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(30))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
