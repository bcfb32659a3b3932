// The thumbnail decoder in-process: generated documents of every version and layout decode to
// their picture exactly; hand-made and hostile heads decode as documented and never make the
// decoder read past the head or write past the picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "klaymo_thumbnail.h"
#include "klaymo_writer.h"
#include "lumora.h"
#include "test_support.h"

using namespace lumora;
using Bytes = std::vector<UChar>;

namespace {

constexpr std::size_t kGuard = 4096;

struct Decoded {
  int result;
  Bytes pixels;
};

// Decodes the first kKlaymoHeadSize bytes of `doc` twice: with buffers of exactly the documented
// sizes (so the sanitizers see any access outside them), and with the head followed by run bytes
// and the picture followed by a guard. Both must agree and the guard must stay untouched: the
// decoder neither used bytes past the head nor wrote past the picture.
Decoded Decode(const Bytes& doc) {
  const std::size_t n = std::min<std::size_t>(doc.size(), kKlaymoHeadSize);
  Bytes head(kKlaymoHeadSize, 0);
  std::copy_n(doc.begin(), n, head.begin());
  Bytes pixels(kThumbnailBytes, 0);
  int result = ReadKlaymoFileThumbnail(head.data(), pixels.data());

  Bytes wideHead(kKlaymoHeadSize + kGuard);
  std::copy(head.begin(), head.end(), wideHead.begin());
  for (std::size_t i = 0; i < kGuard; ++i)  // repeat runs of 0x5A, then literal runs
    wideHead[kKlaymoHeadSize + i] = i < kGuard / 2 ? (i % 2 ? 0x5A : 0x7F) : 0x80;
  Bytes widePixels(kThumbnailBytes + kGuard, 0);
  std::fill(widePixels.begin() + kThumbnailBytes, widePixels.end(), 0xC5);
  int wideResult = ReadKlaymoFileThumbnail(wideHead.data(), widePixels.data());

  EXPECT_EQ(result, wideResult);
  EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), widePixels.begin()))
      << "bytes past the head changed the picture";
  EXPECT_TRUE(std::all_of(widePixels.begin() + kThumbnailBytes, widePixels.end(), [](UChar c) {
    return c == 0xC5;
  })) << "wrote past the picture";
  return {result, pixels};
}

bool AllZero(const Bytes& b, std::size_t from = 0, std::size_t to = SIZE_MAX) {
  to = std::min(to, b.size());
  return std::all_of(b.begin() + from, b.begin() + to, [](UChar c) { return c == 0; });
}

Bytes Generate(const Bytes& pixels, const klaymo::DocumentOptions& o,
               klaymo::DocumentLayout* layout = nullptr) {
  Bytes doc;
  std::string why;
  EXPECT_TRUE(klaymo::WriteDocument(pixels, o, &doc, layout, &why)) << why;
  return doc;
}

klaymo::DocumentOptions Options(int version, int b, std::vector<std::size_t> split = {},
                                klaymo::RunCoding coding = klaymo::RunCoding::kMixed) {
  klaymo::DocumentOptions o;
  o.version = version;
  o.blockStart = b;
  o.segmentBytes = std::move(split);
  o.coding = coding;
  return o;
}

// A head of zeros with a thumbnail block at b: version, signature, the segment sizes (four
// int16 for version 4 and below, else two int32) and `data` from the first segment start.
Bytes Block(int version, int b, std::vector<std::int32_t> sizes, const Bytes& data) {
  Bytes head(kKlaymoHeadSize, 0);
  head[b] = static_cast<UChar>(version);
  const Bytes sig = lumtest::FromHex("00 90 00 00 04 00 80 01");
  std::copy(sig.begin(), sig.end(), head.begin() + b + 6);
  const bool wide = static_cast<std::int8_t>(version) >= 5;
  std::size_t at = b + (wide ? 26 : 14);
  for (std::int32_t s : sizes) {
    for (int i = 0; i < (wide ? 4 : 2); ++i)
      head[at++] = static_cast<UChar>(static_cast<std::uint32_t>(s) >> (8 * i));
  }
  std::copy(data.begin(), data.end(), head.begin() + b + (wide ? 34 : 22));
  return head;
}

Bytes Hex(const char* hex) { return lumtest::FromHex(hex); }

// A picture of n bytes that compresses well (runs in three of its planes) and still tells
// every pixel apart: byte 1 is the row, byte 3 the column.
Bytes Pattern(std::size_t n) {
  Bytes p(n);
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t x = (i / 4) % 96, y = (i / 4) / 96;
    switch (i % 4) {
      case 0:
        p[i] = static_cast<UChar>((x / 8) * 20 + y);
        break;
      case 1:
        p[i] = static_cast<UChar>(y * 2);
        break;
      case 2:
        p[i] = static_cast<UChar>(((x / 16) * 40) ^ y);
        break;
      default:
        p[i] = static_cast<UChar>(x);
        break;
    }
  }
  return p;
}

const Bytes& Sample() {
  static const Bytes sample = klaymo::SamplePicture();
  return sample;
}

}  // namespace

// ---- well-formed documents ---------------------------------------------------------------------

TEST(Thumbnail, GeneratedDocumentsOfEveryVersionAndLayoutDecodeExactly) {
  using klaymo::RunCoding;
  const std::size_t q = kThumbnailBytes / 4, h = kThumbnailBytes / 2;
  struct Layout {
    const char* what;
    klaymo::DocumentOptions options;
  } layouts[] = {
      {"v4 one segment", Options(4, 200)},
      {"v4 two segments", Options(4, 194, {h, h})},
      {"v4 four quarters", Options(4, 233, {q, q, q, q})},
      {"v4 uneven", Options(4, 210, {4, 20000, 12000, 4860})},
      {"v4 repeats only", Options(4, 199, {q, q, q, q}, RunCoding::kRepeatsOnly)},
      {"v5 one segment", Options(5, 233)},
      {"v5 two segments", Options(5, 194, {8, kThumbnailBytes - 8})},
      {"v6 one segment", Options(6, 212)},
      {"v6 two segments", Options(6, 212, {h, h}, RunCoding::kRepeatsOnly)},
      {"v7", Options(7, 220, {h + 384, h - 384})},
      {"v127", Options(127, 205)},
  };
  for (const Layout& l : layouts) {
    Bytes doc = Generate(Sample(), l.options);
    Decoded d = Decode(doc);
    EXPECT_EQ(0, d.result) << l.what;
    EXPECT_TRUE(d.pixels == Sample()) << l.what;
  }
}

TEST(Thumbnail, LiteralRunsAndSlackAfterTheTerminatorDecodeExactly) {
  // Literal runs cost one byte in 128, so a whole picture of them does not fit the head: the
  // top half, in two segments, each followed by bytes the stored size counts but no run reads.
  Bytes top(Sample().begin(), Sample().begin() + kThumbnailBytes / 2);
  for (int version : {4, 5, 6}) {
    klaymo::DocumentOptions o = Options(version, 201, {kThumbnailBytes / 4, kThumbnailBytes / 4},
                                        klaymo::RunCoding::kLiteralsOnly);
    o.slack = 37;
    Decoded d = Decode(Generate(top, o));
    EXPECT_EQ(0, d.result) << version;
    EXPECT_TRUE(std::equal(top.begin(), top.end(), d.pixels.begin())) << version;
    EXPECT_TRUE(AllZero(d.pixels, top.size())) << version;
  }
}

TEST(Thumbnail, CommittedSampleDecodesToTheSamplePicture) {
  Bytes doc = lumtest::ReadFileBytes(std::string(LUMORA_SOURCE_DIR) + "/samples/sample.klaymo");
  ASSERT_GT(doc.size(), static_cast<std::size_t>(kKlaymoHeadSize));  // longer than the head
  Decoded d = Decode(doc);
  EXPECT_EQ(0, d.result);
  EXPECT_TRUE(d.pixels == Sample()) << "samples/sample.klaymo is stale: rerun make-sample";
}

// ---- finding the block -------------------------------------------------------------------------

TEST(Thumbnail, BlockIsFoundFrom194To233Only) {
  Bytes px = Pattern(kThumbnailBytes);
  for (int b : {194, 233}) {
    Decoded d = Decode(Generate(px, Options(6, b)));
    EXPECT_EQ(0, d.result) << b;
    EXPECT_TRUE(d.pixels == px) << b;
  }
  for (int b : {193, 234}) {
    Decoded d = Decode(Generate(px, Options(6, b)));
    EXPECT_EQ(-1, d.result) << b;
    EXPECT_TRUE(AllZero(d.pixels)) << b;
  }
}

TEST(Thumbnail, LowestMatchingBlockStartWins) {
  Bytes px = Pattern(kThumbnailBytes);
  Bytes doc = Generate(px, Options(6, 220));
  // A second signature at 202 makes 196 a block start too; its version is too old.
  const Bytes sig = Hex("00 90 00 00 04 00 80 01");
  std::copy(sig.begin(), sig.end(), doc.begin() + 202);
  doc[196] = 3;
  Decoded d = Decode(doc);
  EXPECT_EQ(-1, d.result);
  EXPECT_TRUE(AllZero(d.pixels));
  // Version 6 at 196 with segment 0 empty (its size lies at 222, in the real block's unexamined
  // bytes): found, nothing decoded.
  doc[196] = 6;
  std::fill(doc.begin() + 222, doc.begin() + 226, 0);
  d = Decode(doc);
  EXPECT_EQ(0, d.result);
  EXPECT_TRUE(AllZero(d.pixels));
}

TEST(Thumbnail, VersionsBelow4AreRejected) {
  Bytes px = Pattern(kThumbnailBytes);
  for (int version : {3, 0, 0x80, 0xFF}) {
    Decoded d = Decode(Generate(px, Options(version, 200)));
    EXPECT_EQ(-1, d.result) << version;
    EXPECT_TRUE(AllZero(d.pixels)) << version;
  }
}

TEST(Thumbnail, EmptyDocumentGivesNoThumbnail) {
  Decoded d = Decode(Bytes());
  EXPECT_EQ(-1, d.result);
  EXPECT_TRUE(AllZero(d.pixels));
}

// ---- segments ----------------------------------------------------------------------------------

TEST(Thumbnail, RunKindsAndPlanarLayout) {
  // 03 7f: three bytes 7f; fd 01 02 03: the three bytes as they stand. Six bytes make one pixel
  // (7f 7f 7f 01); the two left over are not used, but the next segment starts six bytes on.
  // Segment 1 decodes eight bytes a0 a1 b0 b1 c0 c1 d0 d1 into two pixels.
  Bytes data = Hex("03 7f fd 01 02 03 00   f8 a0 a1 b0 b1 c0 c1 d0 d1 00");
  Decoded d = Decode(Block(4, 200, {7, 10, 0, 0}, data));
  EXPECT_EQ(0, d.result);
  EXPECT_EQ("7f 7f 7f 01 00 00 a0 b0 c0 d0 a1 b1 c1 d1 00 00", lumtest::ToHex(d.pixels.data(), 16));
  EXPECT_TRUE(AllZero(d.pixels, 16));
}

TEST(Thumbnail, TenByteSegmentMovesTheNextOneTwoBytesIntoAPixel) {
  Bytes data = Hex("f6 01 02 03 04 05 06 07 08 09 0a 00   f8 11 12 21 22 31 32 41 42 00");
  Decoded d = Decode(Block(5, 233, {12, 10}, data));
  EXPECT_EQ(0, d.result);
  // Segment 0: q = 2 pixels from planes 01 02 | 03 04 | 05 06 | 07 08; bytes 09 0a unused.
  // Segment 1 starts at byte 10.
  EXPECT_EQ("01 03 05 07 02 04 06 08 00 00 11 21 31 41 12 22 32 42 00 00",
            lumtest::ToHex(d.pixels.data(), 20));
}

TEST(Thumbnail, Version6SkipsFourBytesAtEachSegmentStart) {
  // The skipped bytes would end the stream (00) or be a run if they were read.
  Bytes data = Hex("00 7f 00 00  fc 01 02 03 04 00   7f 7f 7f 7f  fc 05 06 07 08 00");
  Decoded v6 = Decode(Block(6, 200, {10, 10}, data));
  EXPECT_EQ(0, v6.result);
  EXPECT_EQ("01 02 03 04 05 06 07 08", lumtest::ToHex(v6.pixels.data(), 8));
  // Version 5 reads the same bytes from the segment's first byte: 00 ends segment 0 at once;
  // segment 1 starts with a run of 127 bytes 7f.
  Decoded v5 = Decode(Block(5, 200, {10, 10}, data));
  EXPECT_EQ(0, v5.result);
  for (int i = 0; i < 124; ++i) ASSERT_EQ(0x7F, v5.pixels[i]) << i;
  // Generated: a version 6 document relabelled 5 decodes nothing (its prefixes hold a length
  // whose first byte here is 00).
  Bytes doc = Generate(Pattern(kThumbnailBytes), Options(6, 200, {18432, 18432}));
  doc[200] = 5;
  Decoded relabelled = Decode(doc);
  EXPECT_EQ(0, relabelled.result);
  EXPECT_TRUE(AllZero(relabelled.pixels));
}

TEST(Thumbnail, ZeroSizesEndTheSegmentList) {
  Bytes px = Pattern(kThumbnailBytes);
  const std::size_t third = kThumbnailBytes / 3;
  klaymo::DocumentLayout layout;
  Bytes doc = Generate(px, Options(4, 200, {third, third, third}), &layout);
  Bytes twoOnly = doc;
  twoOnly[layout.sizesAt + 4] = twoOnly[layout.sizesAt + 5] = 0;  // size 2 := 0
  Decoded d = Decode(twoOnly);
  EXPECT_EQ(0, d.result);
  EXPECT_TRUE(std::equal(px.begin(), px.begin() + 2 * third, d.pixels.begin()));
  EXPECT_TRUE(AllZero(d.pixels, 2 * third));

  Bytes oneOnly = doc;
  oneOnly[layout.sizesAt + 2] = oneOnly[layout.sizesAt + 3] = 0;  // size 1 := 0
  d = Decode(oneOnly);
  EXPECT_TRUE(std::equal(px.begin(), px.begin() + third, d.pixels.begin()));
  EXPECT_TRUE(AllZero(d.pixels, third));

  Bytes none = doc;
  none[layout.sizesAt] = none[layout.sizesAt + 1] = 0;  // size 0 := 0
  d = Decode(none);
  EXPECT_EQ(0, d.result);
  EXPECT_TRUE(AllZero(d.pixels));
}

TEST(Thumbnail, StoredSizesLocateSegmentsButDoNotBoundThem) {
  // Segment 0 is stored as 1 byte but its stream runs on to its terminator: one pixel.
  // Segment 1 starts 1 byte in: 01 02 -> 02; 03 04 -> 04 04 04; 00 ends it.
  Decoded d = Decode(Block(5, 200, {1, 5}, Hex("fc 01 02 03 04 00")));
  EXPECT_EQ(0, d.result);
  EXPECT_EQ("01 02 03 04 02 04 04 04 00", lumtest::ToHex(d.pixels.data(), 9));
}

// ---- hostile heads -----------------------------------------------------------------------------

TEST(Thumbnail, RunsPastTheHeadEndTheSegmentThere) {
  // Segment 1 starts 8 bytes before the head ends with a literal run of 128: the seven bytes
  // the head still holds are decoded, nothing beyond.
  const int s1 = kKlaymoHeadSize - 8;
  Bytes head = Block(5, 200, {s1 - 234, 1}, Hex("fc 01 02 03 04 00"));
  head[s1] = 0x80;
  for (int i = 1; i < 8; ++i) head[s1 + i] = static_cast<UChar>(0x10 + i);
  Decoded d = Decode(head);
  EXPECT_EQ(0, d.result);
  // Segment 0: one pixel. Segment 1: seven bytes 11..17, one pixel (11 12 13 14) at byte 4.
  EXPECT_EQ("01 02 03 04 11 12 13 14 00", lumtest::ToHex(d.pixels.data(), 9));

  // A repeat count as the head's last byte has no value byte: that run produces nothing.
  // fe 99 98 | 01 42 | 01 43 | 05 -> 99 98 42 43, one pixel.
  const Bytes tail = Hex("fe 99 98 01 42 01 43 05");
  std::copy(tail.begin(), tail.end(), head.begin() + s1);
  d = Decode(head);
  EXPECT_EQ("01 02 03 04 99 98 42 43 00", lumtest::ToHex(d.pixels.data(), 9));

  // Streams without a terminator that run to the head end decode what is there: here literal
  // runs of 127 bytes 81 in both segments, which fill the whole picture.
  Bytes endless(kKlaymoHeadSize, 0x81);
  Bytes block = Block(6, 194, {1000, 1000}, Bytes());
  std::copy(block.begin(), block.begin() + 194 + 34, endless.begin());
  d = Decode(endless);
  EXPECT_EQ(0, d.result);
  EXPECT_TRUE(std::all_of(d.pixels.begin(), d.pixels.end(), [](UChar c) { return c == 0x81; }));
}

TEST(Thumbnail, SegmentThatOverfillsTheScratchIsCutAtItsEnd) {
  // Repeat runs: 36900 bytes 11, then runs of 22 that would reach 37154. Kept: the first 37120
  // bytes, q = 9280, so plane 3 starts at 27840 and byte 3 of pixel i is 22 from i = 9060 on.
  Bytes runs;
  for (int i = 0; i < 290; ++i) runs.insert(runs.end(), {0x7F, 0x11});
  runs.insert(runs.end(), {0x46, 0x11});  // 290 * 127 + 70 = 36900
  runs.insert(runs.end(), {0x7F, 0x22, 0x7F, 0x22, 0x00});
  Bytes head = Block(5, 200, {static_cast<std::int32_t>(runs.size()), 0}, runs);
  Decoded d = Decode(head);
  EXPECT_EQ(0, d.result);
  for (int i = 0; i < kThumbnailBytes / 4; ++i) {
    ASSERT_EQ(0x11, d.pixels[4 * i]) << i;
    ASSERT_EQ(0x11, d.pixels[4 * i + 2]) << i;
    ASSERT_EQ(i < 9060 ? 0x11 : 0x22, d.pixels[4 * i + 3]) << i;
  }
}

TEST(Thumbnail, SegmentsBeyondThePictureAreDropped) {
  // Four well-formed segments of 12000 decoded bytes: 48000 in all, the picture takes 36864.
  Bytes big = Pattern(48000);
  Decoded d = Decode(Generate(big, Options(4, 200, {12000, 12000, 12000, 12000})));
  EXPECT_EQ(0, d.result);
  EXPECT_TRUE(std::equal(d.pixels.begin(), d.pixels.end(), big.begin()));
}

TEST(Thumbnail, SizesThatLeaveTheHeadEndTheDecoding) {
  Bytes px = Pattern(kThumbnailBytes);
  const std::size_t half = kThumbnailBytes / 2;
  klaymo::DocumentLayout layout;
  Bytes doc = Generate(px, Options(5, 200, {half, half}), &layout);
  auto setSize0 = [&](Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[layout.sizesAt + i] = static_cast<UChar>(v >> (8 * i));
  };
  for (std::uint32_t size0 : {0xFFFFFC18u /* -1000 */, 0x80000000u, 0x7FFFFFFFu, 37000u}) {
    Bytes bad = doc;
    setSize0(bad, size0);
    Decoded d = Decode(bad);
    EXPECT_EQ(0, d.result) << size0;
    // Segment 0 decodes; segment 1 would start outside the head.
    EXPECT_TRUE(std::equal(px.begin(), px.begin() + half, d.pixels.begin())) << size0;
    EXPECT_TRUE(AllZero(d.pixels, half)) << size0;
  }
  // Version 6: the 4 skipped bytes alone take the stream out of the head.
  Bytes v6 = Block(6, 200, {static_cast<std::int32_t>(kKlaymoHeadSize - 234 - 2), 5},
                   Hex("00 00 00 00 fc 01 02 03 04 00"));
  Decoded d = Decode(v6);
  EXPECT_EQ("01 02 03 04 00", lumtest::ToHex(d.pixels.data(), 5));
  // A version 6 segment starting 2 bytes before the head ends the decoding, though its stream
  // would begin inside.
  Bytes before = Block(6, 200, {-236, 5}, Hex("00 00 00 00 fc 01 02 03 04 00"));
  before[2] = 0xFC;  // a run there would put 01 02 03 04 ... at byte 4
  std::fill(before.begin() + 3, before.begin() + 7, 0x55);
  d = Decode(before);
  EXPECT_EQ("01 02 03 04 00", lumtest::ToHex(d.pixels.data(), 5));
  // Negative int16 sizes pointing back into the block decode whatever lies there.
  Bytes v4 = Block(4, 200, {-20, -32768, 0x7FFF, -1}, Hex("fc 01 02 03 04 00"));
  d = Decode(v4);
  EXPECT_EQ(0, d.result);
  EXPECT_EQ("01 02 03 04", lumtest::ToHex(d.pixels.data(), 4));
}

TEST(Thumbnail, RandomHeadsStayInBounds) {
  // Random bytes behind a valid signature, with sizes drawn from small, negative and huge.
  std::uint32_t state = 12345;
  auto next = [&] { return state = state * 1103515245u + 12345u; };
  for (int round = 0; round < 150; ++round) {
    Bytes head(kKlaymoHeadSize);
    for (UChar& c : head) c = static_cast<UChar>(next() >> 24);
    int b = 194 + static_cast<int>(next() % 40);
    Bytes block = Block(4 + static_cast<int>(next() % 4), b, {}, Bytes());
    std::copy(block.begin() + b, block.begin() + b + 14, head.begin() + b);
    Decoded d = Decode(head);
    EXPECT_TRUE(d.result == 0 || d.result == -1);
  }
}

// ---- into the bitmap ---------------------------------------------------------------------------

TEST(Thumbnail, PixelsFillTheBitmapRowByRowFromTheTopLeft) {
  Bytes px(kThumbnailBytes);
  for (int i = 0; i < kThumbnailSize * kThumbnailSize; ++i) {
    px[4 * i] = static_cast<UChar>(i % 96);      // column
    px[4 * i + 1] = static_cast<UChar>(i / 96);  // row
    px[4 * i + 2] = static_cast<UChar>(i & 0xFF);
    px[4 * i + 3] = 0xEE;  // not used
  }
  BaseBitmap bitmap;
  ASSERT_EQ(BITMAPRESULT_OK, bitmap.Init(96, 96, 24, INITBITMAPFLAGS_NONE));
  CopyThumbnailToBitmap(px.data(), &bitmap);
  UChar rgb[3];
  bitmap.GetPixelCnt(0, 0, 1, rgb, 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr);
  EXPECT_EQ("00 00 00", lumtest::ToHex(rgb, 3));
  bitmap.GetPixelCnt(0, 1, 1, rgb, 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr);  // pixel 96
  EXPECT_EQ("00 01 60", lumtest::ToHex(rgb, 3));
  bitmap.GetPixelCnt(95, 95, 1, rgb, 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr);
  EXPECT_EQ("5f 5f ff", lumtest::ToHex(rgb, 3));
  for (int y = 0; y < 96; ++y) {
    Bytes row(96 * 3);
    bitmap.GetPixelCnt(0, y, 96, row.data(), 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr);
    for (int x = 0; x < 96; ++x)
      for (int k = 0; k < 3; ++k) ASSERT_EQ(px[(y * 96 + x) * 4 + k], row[3 * x + k]) << x << y;
  }
}
