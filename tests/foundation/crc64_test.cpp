// Crc64 (CRC-64/WE).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "lumora.h"
#include "test_support.h"

using lumora::Crc64;
using lumora::UInt64;
using lumora::UInt8;

namespace {

// One bit at a time, straight from the definition.
UInt64 BitwiseCrc(const UInt8* p, size_t n) {
  UInt64 s = ~UInt64(0);
  for (size_t i = 0; i < n; ++i) {
    s ^= UInt64(p[i]) << 56;
    for (int b = 0; b < 8; ++b)
      s = (s & 0x8000000000000000ull) ? (s << 1) ^ 0x42F0E1EBA9EA3693ull : s << 1;
  }
  return ~s;
}

std::vector<UInt8> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<UInt8> v(n);
  for (auto& b : v) b = UInt8(rng());
  return v;
}

}  // namespace

TEST(Crc64, CatalogueCheckValueAndEmptyInput) {
  Crc64 crc;
  EXPECT_EQ(crc.GetCrc(), 0u);
  crc.Update("123456789", 9);
  EXPECT_EQ(crc.GetCrc(), 0x62EC59E3F1A4F00Aull);
  crc.Reset();
  EXPECT_EQ(crc.GetCrc(), 0u);
  crc.Update(nullptr, 5);
  crc.Update("x", 0);
  crc.Update("x", -1);
  EXPECT_EQ(crc.GetCrc(), 0u);
  for (char c : std::string("123456789")) crc.UpdateByte(UInt8(c));
  EXPECT_EQ(crc.GetCrc(), 0x62EC59E3F1A4F00Aull);
}

TEST(Crc64, EveryLengthAndOffsetMatchesTheBitwiseDefinition) {
  // Lengths around the 8-byte slices and the 16/64/128-byte folding steps, at every alignment.
  std::vector<UInt8> data = RandomBytes(1200, 1);
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t n = 0; n + offset <= 700; ++n) {
      Crc64 crc;
      crc.Update(data.data() + offset, lumora::Int64(n));
      ASSERT_EQ(crc.GetCrc(), BitwiseCrc(data.data() + offset, n))
          << "offset " << offset << " length " << n;
    }
  }
}

TEST(Crc64, PiecewiseUpdatesEqualOneUpdate) {
  std::vector<UInt8> data = RandomBytes(1 << 20, 2);
  const UInt64 whole = BitwiseCrc(data.data(), data.size());
  Crc64 one;
  one.Update(data.data(), lumora::Int64(data.size()));
  EXPECT_EQ(one.GetCrc(), whole);
  // Pieces of random sizes, some below and some far above the folding threshold, and single
  // bytes between them.
  std::mt19937 rng(3);
  Crc64 pieces;
  size_t at = 0;
  while (at < data.size()) {
    size_t n = std::min(data.size() - at, size_t(rng() % 5000));
    pieces.Update(data.data() + at, lumora::Int64(n));
    at += n;
    if (at < data.size()) pieces.UpdateByte(data[at++]);
  }
  EXPECT_EQ(pieces.GetCrc(), whole);
}

TEST(Crc64, LongRunsOfEqualBytes) {
  // Zeros and ones exercise the state carried into the folded blocks.
  for (UInt8 fill : {UInt8(0), UInt8(0xFF)}) {
    std::vector<UInt8> data(100000, fill);
    Crc64 crc;
    crc.Update(data.data(), lumora::Int64(data.size()));
    EXPECT_EQ(crc.GetCrc(), BitwiseCrc(data.data(), data.size())) << int(fill);
  }
}
