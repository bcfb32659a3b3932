// BaseBitmap: size, depth and flag rules, row transfers and their refusals, the 24-bit storage,
// raw data, channels, clones, and every allocation-failure path.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "lumora.h"
#include "test_support.h"

using namespace lumora;

namespace {

// Fills row y of a 24-bit bitmap with a pattern that differs per pixel and row.
void FillRow(BaseBitmap& bmp, int y) {
  std::vector<UChar> row(static_cast<size_t>(bmp.GetBw()) * 3);
  for (int x = 0; x < bmp.GetBw(); ++x) {
    row[3 * x] = static_cast<UChar>(x);
    row[3 * x + 1] = static_cast<UChar>(y);
    row[3 * x + 2] = static_cast<UChar>(x ^ y);
  }
  ASSERT_TRUE(bmp.SetPixelCnt(0, y, bmp.GetBw(), row.data(), 3, COLORMODE_RGB, PIXELCNT_NONE));
}

std::vector<UChar> ReadRow(const BaseBitmap& bmp, int y) {
  std::vector<UChar> row(static_cast<size_t>(bmp.GetBw()) * 3, 0xEE);
  bmp.GetPixelCnt(0, y, bmp.GetBw(), row.data(), 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr);
  return row;
}

}  // namespace

// ---- life and size ---------------------------------------------------------------------------

TEST(BaseBitmap, StartsEmpty) {
  BaseBitmap bmp;
  EXPECT_EQ(0, bmp.GetBw());
  EXPECT_EQ(0, bmp.GetBh());
  EXPECT_EQ(0, bmp.GetColorMode());
  EXPECT_EQ(nullptr, bmp.GetDrawPort());
  EXPECT_EQ(0, bmp.GetChannelCount());
  EXPECT_EQ(nullptr, bmp.GetInternalChannel());
  EXPECT_EQ(nullptr, bmp.AddChannel(false, false));
}

TEST(BaseBitmap, InitMakesBottomUpRgb24Storage) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(96, 96, 24, INITBITMAPFLAGS_NONE));
  EXPECT_EQ(96, bmp.GetBw());
  EXPECT_EQ(96, bmp.GetBh());
  EXPECT_EQ(COLORMODE_RGB, bmp.GetColorMode());
  DrawPort* port = bmp.GetDrawPort();
  ASSERT_NE(nullptr, port);
  EXPECT_EQ(24, port->GetBitsPerPixel());
  EXPECT_EQ(DRAWPORT_RGB, port->GetPortType());
  EXPECT_EQ(288, port->GetBytesPerRow());
  EXPECT_EQ(&bmp, port->GetBitmap());
  for (int i = 0; i < 96 * 288; ++i) ASSERT_EQ(0, port->GetBuffer()[i]) << i;
  EXPECT_EQ(0, lumtest::AlertCount());
}

TEST(BaseBitmap, RowsArePaddedToFourBytes) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(5, 2, 24, INITBITMAPFLAGS_NONE));
  EXPECT_EQ(16, bmp.GetDrawPort()->GetBytesPerRow());  // 15 bytes of pixels, 1 fill byte
  std::vector<UChar> row(15, 0xFF);
  ASSERT_TRUE(bmp.SetPixelCnt(0, 0, 5, row.data(), 3, COLORMODE_RGB, PIXELCNT_NONE));
  // Row 0 is the last row of the buffer; its fill byte stays zero.
  EXPECT_EQ(0xFF, bmp.GetDrawPort()->GetBuffer()[16 + 14]);
  EXPECT_EQ(0, bmp.GetDrawPort()->GetBuffer()[16 + 15]);
}

TEST(BaseBitmap, SizesAreClampedAndLimited) {
  BaseBitmap bmp;
  EXPECT_EQ(BITMAPRESULT_OK, bmp.Init(0, -5, 24, INITBITMAPFLAGS_NONE));
  EXPECT_EQ(1, bmp.GetBw());
  EXPECT_EQ(1, bmp.GetBh());

  EXPECT_EQ(BITMAPRESULT_SIZE, bmp.Init(128001, 1, 24, INITBITMAPFLAGS_NONE));
  EXPECT_EQ(nullptr, bmp.GetDrawPort());
  EXPECT_EQ(BITMAPRESULT_SIZE, bmp.Init(1, 128001, 24, INITBITMAPFLAGS_NONE));
  // The colour mode survives a failed init.
  EXPECT_EQ(COLORMODE_RGB, bmp.GetColorMode());

  EXPECT_EQ(BITMAPRESULT_OK, bmp.Init(128000, 1, 24, INITBITMAPFLAGS_NONE));
  EXPECT_EQ(128000, bmp.GetBw());
  EXPECT_EQ(384000, bmp.GetDrawPort()->GetBytesPerRow());
}

TEST(BaseBitmap, UnsupportedColourDepthsFallBackTo24Bits) {
  // 16 passes the bitmap's depth check but no colour storage has it: the port alerts.
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(4, 4, 16, INITBITMAPFLAGS_NONE));
  EXPECT_TRUE(lumtest::HasAlert(209, "source/lum_drawport"));
  EXPECT_FALSE(lumtest::HasAlert(485, "source/lum_basebitmap"));
  EXPECT_EQ(24, bmp.GetDrawPort()->GetBitsPerPixel());
  EXPECT_EQ(COLORMODE_RGB, bmp.GetColorMode());

  // 33 fails the bitmap's own check (becomes 16) and then the port's.
  lumtest::ResetAlerts();
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(4, 4, 33, INITBITMAPFLAGS_NONE));
  EXPECT_TRUE(lumtest::HasAlert(485, "source/lum_basebitmap"));
  EXPECT_TRUE(lumtest::HasAlert(209, "source/lum_drawport"));
  EXPECT_EQ(24, bmp.GetDrawPort()->GetBitsPerPixel());

  lumtest::ResetAlerts();
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(4, 4, 0, INITBITMAPFLAGS_NONE));
  EXPECT_TRUE(lumtest::HasAlert(485, "source/lum_basebitmap"));
  EXPECT_EQ(24, bmp.GetDrawPort()->GetBitsPerPixel());
}

TEST(BaseBitmap, StorageKindsThatCannotBeMadeFail) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(2, 2, 24, INITBITMAPFLAGS_NONE));
  // No 24-bit grey storage, and no grey fallback.
  EXPECT_EQ(BITMAPRESULT_FAILED, bmp.Init(2, 2, 24, INITBITMAPFLAGS_GREY));
  EXPECT_EQ(nullptr, bmp.GetDrawPort());
  EXPECT_EQ(0, lumtest::AlertCount());
  // Foreign storage wins over grey and is refused when the port is sized.
  EXPECT_EQ(BITMAPRESULT_FAILED, bmp.Init(2, 2, 8, INITBITMAPFLAGS_FOREIGN | INITBITMAPFLAGS_GREY));
  EXPECT_TRUE(lumtest::HasAlert(258, "source/lum_drawport"));
  EXPECT_EQ(nullptr, bmp.GetDrawPort());
  EXPECT_EQ(0, bmp.GetBw());
}

TEST(DrawPort, AllocTakesType4AsRgb) {
  DrawPort* port = DrawPort::Alloc(static_cast<DrawPortTypes>(4), 24, nullptr);
  ASSERT_NE(nullptr, port);
  EXPECT_EQ(DRAWPORT_RGB, port->GetPortType());
  EXPECT_EQ(24, port->GetBitsPerPixel());
  EXPECT_EQ(0, port->GetBw());
  EXPECT_EQ(nullptr, port->GetBuffer());
  EXPECT_EQ(nullptr, port->GetBitmap());
  DeleteObj(port);
  EXPECT_EQ(nullptr, DrawPort::Alloc(DRAWPORT_GREY, 24, nullptr));
  EXPECT_EQ(0, lumtest::AlertCount());
}

TEST(DrawPort, InitReplacesTheBufferAndKeepsItOnFailure) {
  DrawPort* port = DrawPort::Alloc(DRAWPORT_RGB, 24, nullptr);
  ASSERT_NE(nullptr, port);
  ASSERT_EQ(BITMAPRESULT_OK, port->Init(3, 2));
  EXPECT_EQ(12, port->GetBytesPerRow());
  UChar* first = port->GetBuffer();
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_EQ(BITMAPRESULT_FAILED, port->Init(10, 10));
  }
  EXPECT_EQ(first, port->GetBuffer());
  EXPECT_EQ(3, port->GetBw());
  EXPECT_EQ(2, port->GetBh());
  ASSERT_EQ(BITMAPRESULT_OK, port->Init(0, 0));
  EXPECT_EQ(1, port->GetBw());
  EXPECT_EQ(4, port->GetBytesPerRow());
  DeleteObj(port);
}

TEST(DrawPort, TransfersWithoutAColourModeAlertAndRefuse) {
  // A port not owned by a bitmap has no colour mode to work in.
  DrawPort* port = DrawPort::Alloc(DRAWPORT_RGB, 24, nullptr);
  ASSERT_NE(nullptr, port);
  ASSERT_EQ(BITMAPRESULT_OK, port->Init(2, 2));
  UChar px[3] = {1, 2, 3};
  EXPECT_FALSE(port->SetPixelCntX(0, 0, 1, px, 3, COLORMODE_RGB, PIXELCNT_NONE));
  EXPECT_TRUE(lumtest::HasAlert(1074, "source/lum_drawport"));
  UChar out[3] = {9, 9, 9};
  port->GetPixelCntX(0, 0, 1, out, 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr);
  EXPECT_TRUE(lumtest::HasAlert(1122, "source/lum_drawport"));
  EXPECT_EQ(9, out[0]);
  for (int i = 0; i < 2 * 8; ++i) EXPECT_EQ(0, port->GetBuffer()[i]);
  DeleteObj(port);
}

// ---- row transfers -----------------------------------------------------------------------------

TEST(BaseBitmap, RowTransferRoundTripsAndUsesOnlyThreeBytesPerPixel) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(96, 96, 24, INITBITMAPFLAGS_NONE));
  const UChar in[4] = {10, 20, 30, 40};
  ASSERT_TRUE(bmp.SetPixelCnt(0, 0, 1, in, 4, COLORMODE_RGB, PIXELCNT_NONE));
  UChar out[4] = {0, 0, 0, 0x77};
  bmp.GetPixelCnt(0, 0, 1, out, 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr);
  EXPECT_EQ(10, out[0]);
  EXPECT_EQ(20, out[1]);
  EXPECT_EQ(30, out[2]);
  EXPECT_EQ(0x77, out[3]);  // bytes past the pixel are left alone
  // Row 0 lies in the last row of the buffer, and the fourth source byte was not stored.
  const UChar* last = bmp.GetDrawPort()->GetBuffer() + 95 * 288;
  EXPECT_EQ(10, last[0]);
  EXPECT_EQ(20, last[1]);
  EXPECT_EQ(30, last[2]);
  EXPECT_EQ(0, last[3]);
  EXPECT_EQ(0, bmp.GetDrawPort()->GetBuffer()[0]);
}

TEST(BaseBitmap, RowTransfersHonourStrideAndStartColumn) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(8, 3, 24, INITBITMAPFLAGS_NONE));
  for (int y = 0; y < 3; ++y) FillRow(bmp, y);
  // Three pixels from column 5 of row 1, into a buffer with 5 bytes per pixel.
  std::vector<UChar> out(15, 0xAB);
  bmp.GetPixelCnt(5, 1, 3, out.data(), 5, COLORMODE_RGB, PIXELCNT_NONE, nullptr);
  EXPECT_EQ("05 01 04 ab ab 06 01 07 ab ab 07 01 06 ab ab", lumtest::ToHex(out));
  // Overwrite two pixels in the middle of row 2; the rest of the row is untouched.
  const UChar in[] = {100, 101, 102, 0, 0, 0, 103, 104, 105};
  ASSERT_TRUE(bmp.SetPixelCnt(3, 2, 2, in, 6, COLORMODE_RGB, PIXELCNT_NONE));
  std::vector<UChar> row = ReadRow(bmp, 2);
  EXPECT_EQ("02 02 00 64 65 66 67 68 69 05 02 07", lumtest::ToHex(row.data() + 6, 12));
  EXPECT_EQ(ReadRow(bmp, 1)[0], 0);
  // Single-pixel access sees the same bytes.
  UInt16 r = 0, g = 0, b = 0;
  bmp.GetDrawPort()->GetPixel(4, 2, &r, &g, &b);
  EXPECT_EQ(103, r);
  EXPECT_EQ(104, g);
  EXPECT_EQ(105, b);
  EXPECT_TRUE(bmp.GetDrawPort()->SetPixel(0, 0, 300, 1, 2, 99));
  EXPECT_EQ("2c 01 02", lumtest::ToHex(ReadRow(bmp, 0).data(), 3));  // stored as bytes
  Vector32 direct = bmp.GetDrawPort()->GetPixelDirect(4, 2);
  EXPECT_EQ(Vector32(103, 104, 105), direct);
}

TEST(BaseBitmap, RowTransfersOutsideTheBitmapAreRefusedWhole) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(96, 96, 24, INITBITMAPFLAGS_NONE));
  std::vector<UChar> src(96 * 4, 0xFF);
  struct Case {
    int x, y, cnt;
  } refused[] = {
      {90, 0, 10},          // 90 + 10 > 96: not clipped
      {0, 96, 1},           // below the last row
      {0, -1, 1},           // above the first
      {-1, 0, 2},           // left of the first column
      {96, 0, 1},           // right of the last
      {0, 0, 0},            // nothing to move
      {0, 0, 97},           // wider than the row
      {5, 0, -6},           // ends left of column 0
      {95, 0, 0x7FFFFFFF},  // the end column would overflow 32 bits
  };
  for (const Case& c : refused) {
    EXPECT_FALSE(bmp.SetPixelCnt(c.x, c.y, c.cnt, src.data(), 4, COLORMODE_RGB, PIXELCNT_NONE))
        << c.x << "," << c.y << "," << c.cnt;
    std::vector<UChar> out(96 * 3, 0x11);
    bmp.GetPixelCnt(c.x, c.y, c.cnt, out.data(), 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr);
    EXPECT_EQ(std::vector<UChar>(96 * 3, 0x11), out) << c.x << "," << c.y << "," << c.cnt;
  }
  EXPECT_FALSE(bmp.SetPixelCnt(0, 0, 1, nullptr, 3, COLORMODE_RGB, PIXELCNT_NONE));
  const UChar* buf = bmp.GetDrawPort()->GetBuffer();
  for (int i = 0; i < 96 * 288; ++i) ASSERT_EQ(0, buf[i]) << i;

  // The last pixel of the last row is inside.
  EXPECT_TRUE(bmp.SetPixelCnt(95, 95, 1, src.data(), 4, COLORMODE_RGB, PIXELCNT_NONE));
  EXPECT_EQ(0xFF, buf[95 * 3]);

  BaseBitmap empty;
  EXPECT_FALSE(empty.SetPixelCnt(0, 0, 1, src.data(), 4, COLORMODE_RGB, PIXELCNT_NONE));
}

TEST(BaseBitmap, NegativeCountInsideTheRowMovesNothing) {
  // x + cnt still lies in the row, so the request reaches the storage, which moves nothing.
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(8, 1, 24, INITBITMAPFLAGS_NONE));
  std::vector<UChar> src(32, 0xFF);
  bmp.SetPixelCnt(5, 0, -3, src.data(), 3, COLORMODE_RGB, PIXELCNT_NONE);
  std::vector<UChar> out(24, 0x11);
  bmp.GetPixelCnt(5, 0, -3, out.data(), 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr);
  EXPECT_EQ(std::vector<UChar>(24, 0x11), out);
  EXPECT_EQ(std::vector<UChar>(24, 0), ReadRow(bmp, 0));
}

TEST(BaseBitmap, AlphaOnlyTransfersMoveNothingOn24BitStorage) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(4, 1, 24, INITBITMAPFLAGS_NONE));
  const UChar in[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_TRUE(bmp.SetPixelCnt(0, 0, 4, in, 3, COLORMODE_RGB, PIXELCNT_ALPHAONLY));
  EXPECT_EQ(std::vector<UChar>(12, 0), ReadRow(bmp, 0));
  ASSERT_TRUE(bmp.SetPixelCnt(0, 0, 4, in, 3, COLORMODE_RGB, PIXELCNT_DITHER));
  std::vector<UChar> out(12, 0x11);
  bmp.GetPixelCnt(0, 0, 4, out.data(), 3, COLORMODE_RGB, PIXELCNT_ALPHAONLY, nullptr);
  EXPECT_EQ(std::vector<UChar>(12, 0x11), out);
  EXPECT_EQ(std::vector<UChar>(in, in + 12), ReadRow(bmp, 0));
}

TEST(BaseBitmap, ReinitDiscardsOldPixels) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(4, 4, 24, INITBITMAPFLAGS_NONE));
  for (int y = 0; y < 4; ++y) FillRow(bmp, y);
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(4, 4, 24, INITBITMAPFLAGS_NONE));
  for (int y = 0; y < 4; ++y) EXPECT_EQ(std::vector<UChar>(12, 0), ReadRow(bmp, y));
}

TEST(ColorMode, PixelAndSampleSizeTables) {
  EXPECT_EQ(0, ColorModeBytesPerPixel(0));
  EXPECT_EQ(0, ColorModeBytesPerPixel(COLORMODE_ALPHA));
  EXPECT_EQ(1, ColorModeBytesPerPixel(COLORMODE_GREY));
  EXPECT_EQ(3, ColorModeBytesPerPixel(COLORMODE_RGB));
  EXPECT_EQ(4, ColorModeBytesPerPixel(6));
  EXPECT_EQ(5, ColorModeBytesPerPixel(7));
  EXPECT_EQ(1, ColorModeBytesPerPixel(COLORMODE_MASK));
  EXPECT_EQ(2, ColorModeBytesPerPixel(9));
  EXPECT_EQ(0, ColorModeBytesPerPixel(10));
  EXPECT_EQ(8, ColorModeBytesPerPixel(COLORMODE_ARGBw));
  EXPECT_EQ(2, ColorModeBytesPerPixel(COLORMODE_MASKw));
  EXPECT_EQ(12, ColorModeBytesPerPixel(COLORMODE_RGBf));
  EXPECT_EQ(16, ColorModeBytesPerPixel(COLORMODE_ARGBf));
  EXPECT_EQ(4, ColorModeBytesPerPixel(COLORMODE_MASKf));
  EXPECT_EQ(0, ColorModeBytesPerPixel(41));
  EXPECT_EQ(0, ColorModeBytesPerPixel(-7));
  EXPECT_EQ(1, ColorModeBytesPerSample(9));
  EXPECT_EQ(0, ColorModeBytesPerSample(17));
  EXPECT_EQ(2, ColorModeBytesPerSample(COLORMODE_MASKw));
  EXPECT_EQ(0, ColorModeBytesPerSample(25));
  EXPECT_EQ(4, ColorModeBytesPerSample(COLORMODE_ARGBf));
  EXPECT_EQ(4, ColorModeBytesPerSample(COLORMODE_MASKf));
  EXPECT_EQ(0, ColorModeBytesPerSample(38));
}

// ---- raw data
// ------------------------------------------------------------------------------------

TEST(BaseBitmap, InitFromMemoryKeepsACopyAndNoStorage) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(4, 4, 24, INITBITMAPFLAGS_NONE));
  UChar bytes[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(bytes, 5));
  bytes[0] = 99;
  EXPECT_EQ(nullptr, bmp.GetDrawPort());
  EXPECT_EQ(0, bmp.GetBw());
  EXPECT_EQ(0, bmp.GetBh());
  ASSERT_EQ(5, bmp.GetRawDataSize());
  EXPECT_EQ("01 02 03 04 05", lumtest::ToHex(static_cast<const UChar*>(bmp.GetRawData()), 5));

  EXPECT_EQ(BITMAPRESULT_OK, bmp.Init(bytes, 0));
  EXPECT_EQ(0, bmp.GetRawDataSize());

  EXPECT_EQ(BITMAPRESULT_NODATA, bmp.Init(nullptr, 5));
  EXPECT_EQ(nullptr, bmp.GetRawData());
  EXPECT_EQ(BITMAPRESULT_FAILED, bmp.Init(bytes, -1));
  EXPECT_EQ(nullptr, bmp.GetRawData());
}

TEST(BaseBitmap, InitFromMemoryOutOfMemoryLeavesTheBitmapEmpty) {
  BaseBitmap bmp;
  UChar bytes[3] = {7, 8, 9};
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(bytes, 3));
  std::int64_t live = lumtest::LiveBlocks();
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_EQ(BITMAPRESULT_FAILED, bmp.Init(bytes, 3));
  }
  EXPECT_EQ(nullptr, bmp.GetRawData());
  EXPECT_EQ(0, bmp.GetRawDataSize());
  EXPECT_EQ(live - 1, lumtest::LiveBlocks());  // the old block went with the free
}

// ---- allocation failures of Init
// ------------------------------------------------------------------

namespace {

bool InitUnderFailure(std::int64_t, void*) {
  BaseBitmap bmp;
  Int32 r = bmp.Init(16, 8, 24, INITBITMAPFLAGS_NONE);
  if (lumtest::InjectedFailureHappened())
    return r == BITMAPRESULT_FAILED && bmp.GetDrawPort() == nullptr && bmp.GetBw() == 0;
  return r == BITMAPRESULT_OK && bmp.GetBw() == 16 && bmp.GetColorMode() == COLORMODE_RGB;
}

bool InitFromMemoryUnderFailure(std::int64_t, void*) {
  BaseBitmap bmp;
  const char text[] = "embedded image bytes";
  Int32 r = bmp.Init(text, sizeof text);
  if (lumtest::InjectedFailureHappened()) return r == BITMAPRESULT_FAILED && !bmp.GetRawData();
  return r == BITMAPRESULT_OK && bmp.GetRawDataSize() == static_cast<Int64>(sizeof text) &&
         std::memcmp(bmp.GetRawData(), text, sizeof text) == 0;
}

}  // namespace

TEST(BaseBitmap, InitSurvivesEveryAllocationFailure) {
  EXPECT_EQ(2, lumtest::SweepAllocationFailures("Init", InitUnderFailure));
  EXPECT_EQ(1, lumtest::SweepAllocationFailures("Init from memory", InitFromMemoryUnderFailure));
}

// ---- clones
// ----------------------------------------------------------------------------------------

TEST(BaseBitmap, CloneCopiesPixelsDeeply) {
  BaseBitmap src;
  ASSERT_EQ(BITMAPRESULT_OK, src.Init(7, 5, 24, INITBITMAPFLAGS_NONE));
  for (int y = 0; y < 5; ++y) FillRow(src, y);
  BaseBitmap dst;
  UChar junk[2] = {1, 2};
  ASSERT_EQ(BITMAPRESULT_OK, dst.Init(junk, 2));  // whatever dst held goes
  ASSERT_TRUE(src.CloneIt(&dst));
  EXPECT_EQ(nullptr, dst.GetRawData());
  EXPECT_EQ(7, dst.GetBw());
  EXPECT_EQ(5, dst.GetBh());
  EXPECT_EQ(COLORMODE_RGB, dst.GetColorMode());
  ASSERT_NE(src.GetDrawPort(), dst.GetDrawPort());
  EXPECT_EQ(&dst, dst.GetDrawPort()->GetBitmap());
  for (int y = 0; y < 5; ++y) EXPECT_EQ(ReadRow(src, y), ReadRow(dst, y)) << y;
  FillRow(dst, 0);
  UChar px[3] = {200, 201, 202};
  ASSERT_TRUE(dst.SetPixelCnt(0, 0, 1, px, 3, COLORMODE_RGB, PIXELCNT_NONE));
  EXPECT_NE(ReadRow(src, 0), ReadRow(dst, 0));

  BaseBitmap* copy = src.GetClone();
  ASSERT_NE(nullptr, copy);
  for (int y = 0; y < 5; ++y) EXPECT_EQ(ReadRow(src, y), ReadRow(*copy, y)) << y;
  DeleteObj(copy);

  EXPECT_FALSE(src.CloneIt(nullptr));
  EXPECT_TRUE(src.CloneIt(&src));  // into itself: nothing to do, nothing lost
  EXPECT_EQ(ReadRow(dst, 1), ReadRow(src, 1));
  EXPECT_EQ(7, src.GetBw());
}

TEST(BaseBitmap, CloneOfRawDataCarriesOnlyTheBlock) {
  BaseBitmap src;
  UChar bytes[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  ASSERT_EQ(BITMAPRESULT_OK, src.Init(bytes, 4));
  BaseBitmap dst;
  ASSERT_EQ(BITMAPRESULT_OK, dst.Init(3, 3, 24, INITBITMAPFLAGS_NONE));
  ASSERT_TRUE(src.CloneIt(&dst));
  EXPECT_EQ(nullptr, dst.GetDrawPort());
  ASSERT_EQ(4, dst.GetRawDataSize());
  EXPECT_NE(src.GetRawData(), dst.GetRawData());
  EXPECT_EQ("de ad be ef", lumtest::ToHex(static_cast<const UChar*>(dst.GetRawData()), 4));
}

TEST(BaseBitmap, CloneOfAnEmptyBitmapEmptiesTheTarget) {
  BaseBitmap src;
  BaseBitmap dst;
  ASSERT_EQ(BITMAPRESULT_OK, dst.Init(3, 3, 24, INITBITMAPFLAGS_NONE));
  EXPECT_TRUE(src.CloneIt(&dst));
  EXPECT_EQ(nullptr, dst.GetDrawPort());
  BaseBitmap* copy = src.GetClone();
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(0, copy->GetBw());
  DeleteObj(copy);
}

namespace {

struct CloneCtx {
  const BaseBitmap* src;
};

bool CloneUnderFailure(std::int64_t, void* p) {
  const BaseBitmap& src = *static_cast<CloneCtx*>(p)->src;
  BaseBitmap dst;
  bool ok = src.CloneIt(&dst);
  if (lumtest::InjectedFailureHappened()) return !ok;
  if (!ok || dst.GetBw() != src.GetBw() || dst.GetChannelCount() != src.GetChannelCount())
    return false;
  for (int y = 0; y < src.GetBh(); ++y)
    if (ReadRow(src, y) != ReadRow(dst, y)) return false;
  return true;
}

bool GetCloneUnderFailure(std::int64_t, void* p) {
  const BaseBitmap& src = *static_cast<CloneCtx*>(p)->src;
  BaseBitmap* copy = src.GetClone();
  if (lumtest::InjectedFailureHappened()) return copy == nullptr;
  bool ok = copy != nullptr && copy->GetBw() == src.GetBw() &&
            copy->GetChannelCount() == src.GetChannelCount() &&
            copy->GetRawDataSize() == src.GetRawDataSize();
  DeleteObj(copy);
  return ok;
}

}  // namespace

TEST(BaseBitmap, CloneSurvivesEveryAllocationFailure) {
  BaseBitmap pixels;
  ASSERT_EQ(BITMAPRESULT_OK, pixels.Init(6, 4, 24, INITBITMAPFLAGS_NONE));
  for (int y = 0; y < 4; ++y) FillRow(pixels, y);
  CloneCtx ctx{&pixels};
  EXPECT_EQ(2, lumtest::SweepAllocationFailures("CloneIt", CloneUnderFailure, &ctx));
  EXPECT_EQ(3, lumtest::SweepAllocationFailures("GetClone", GetCloneUnderFailure, &ctx));

  BaseBitmap raw;
  UChar bytes[3] = {1, 2, 3};
  ASSERT_EQ(BITMAPRESULT_OK, raw.Init(bytes, 3));
  ctx.src = &raw;
  EXPECT_EQ(1, lumtest::SweepAllocationFailures("CloneIt raw", CloneUnderFailure, &ctx));
  EXPECT_EQ(2, lumtest::SweepAllocationFailures("GetClone raw", GetCloneUnderFailure, &ctx));
}

// ---- colour modes of every storage -----------------------------------------------------------

TEST(BaseBitmap, ColourModeFollowsTheStorageThatWasMade) {
  struct Case {
    int depth;
    INITBITMAPFLAGS flags;
    COLORMODE mode;
    int bits;
  } cases[] = {
      {24, INITBITMAPFLAGS_NONE, COLORMODE_RGB, 24},
      {32, INITBITMAPFLAGS_NONE, COLORMODE_RGB, 32},
      {48, INITBITMAPFLAGS_NONE, COLORMODE_RGBw, 48},
      {96, INITBITMAPFLAGS_NONE, COLORMODE_RGBf, 96},
      {8, INITBITMAPFLAGS_NONE, COLORMODE_RGB, 24},
      {8, INITBITMAPFLAGS_GREY, COLORMODE_GREY, 8},
      {16, INITBITMAPFLAGS_GREY, COLORMODE_GREYw, 16},
      {32, INITBITMAPFLAGS_GREY, COLORMODE_GREYf, 32},
  };
  for (const Case& c : cases) {
    BaseBitmap bmp;
    ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(3, 2, c.depth, c.flags)) << c.depth << "/" << c.flags;
    EXPECT_EQ(c.mode, bmp.GetColorMode()) << c.depth << "/" << c.flags;
    EXPECT_EQ(c.bits, bmp.GetDrawPort()->GetBitsPerPixel()) << c.depth << "/" << c.flags;
  }
  BaseBitmap bmp;
  EXPECT_EQ(BITMAPRESULT_FAILED, bmp.Init(3, 2, 48, INITBITMAPFLAGS_GREY));
  EXPECT_EQ(BITMAPRESULT_FAILED, bmp.Init(3, 2, 1, INITBITMAPFLAGS_GREY));
}

// ---- alpha channels ----------------------------------------------------------------------------

TEST(BaseBitmap, ChannelsMatchTheBitmapSizeAndDepth) {
  struct Case {
    int depth;
    INITBITMAPFLAGS flags;
    COLORMODE channelMode;
  } cases[] = {
      {24, INITBITMAPFLAGS_NONE, COLORMODE_GREY},  {32, INITBITMAPFLAGS_NONE, COLORMODE_GREY},
      {48, INITBITMAPFLAGS_NONE, COLORMODE_GREYw}, {96, INITBITMAPFLAGS_NONE, COLORMODE_GREYf},
      {8, INITBITMAPFLAGS_GREY, COLORMODE_GREY},   {16, INITBITMAPFLAGS_GREY, COLORMODE_GREYw},
      {32, INITBITMAPFLAGS_GREY, COLORMODE_GREYf},
  };
  for (const Case& c : cases) {
    BaseBitmap bmp;
    ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(7, 3, c.depth, c.flags));
    BaseBitmap* ch = bmp.AddChannel(false, true);
    ASSERT_NE(nullptr, ch) << c.depth;
    EXPECT_EQ(c.channelMode, ch->GetColorMode()) << c.depth << "/" << c.flags;
    EXPECT_EQ(7, ch->GetBw());
    EXPECT_EQ(3, ch->GetBh());
  }
}

TEST(BaseBitmap, ChannelSlotsFillInOrderAndAreReused) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(4, 4, 24, INITBITMAPFLAGS_NONE));
  BaseBitmap* ch[4];
  for (int i = 0; i < 4; ++i) {
    ch[i] = bmp.AddChannel(false, false);
    ASSERT_NE(nullptr, ch[i]);
    EXPECT_EQ(i + 1, bmp.GetChannelCount());
    EXPECT_EQ(ch[i], bmp.GetChannelNum(i));
  }
  EXPECT_EQ(nullptr, bmp.AddChannel(false, false));  // a fifth
  EXPECT_EQ(4, bmp.GetChannelCount());
  EXPECT_EQ(nullptr, bmp.GetChannelNum(4));
  EXPECT_EQ(nullptr, bmp.GetChannelNum(-1));

  bmp.RemoveChannel(ch[1]);
  EXPECT_EQ(3, bmp.GetChannelCount());
  EXPECT_EQ(ch[2], bmp.GetChannelNum(1));  // counting occupied slots only
  BaseBitmap* again = bmp.AddChannel(true, false);
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(again, bmp.GetChannelNum(1));  // slot 1 filled again
  EXPECT_EQ(again, bmp.GetInternalChannel());

  BaseBitmap stranger;
  bmp.RemoveChannel(&stranger);
  bmp.RemoveChannel(nullptr);
  EXPECT_EQ(4, bmp.GetChannelCount());

  // Re-initialising discards the channels.
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(2, 2, 24, INITBITMAPFLAGS_NONE));
  EXPECT_EQ(0, bmp.GetChannelCount());
}

TEST(BaseBitmap, InternalChannelIsTheFirstFlaggedElseTheFirst) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(2, 2, 24, INITBITMAPFLAGS_NONE));
  BaseBitmap* s0 = bmp.AddChannel(false, false);
  BaseBitmap* s1 = bmp.AddChannel(false, false);
  BaseBitmap* s2 = bmp.AddChannel(true, false);
  ASSERT_TRUE(s0 && s1 && s2);
  bmp.RemoveChannel(s1);
  EXPECT_EQ(s2, bmp.GetInternalChannel());
  bmp.RemoveChannel(s2);
  EXPECT_EQ(s0, bmp.GetInternalChannel());
  bmp.RemoveChannel(s0);
  EXPECT_EQ(nullptr, bmp.GetInternalChannel());
}

TEST(BaseBitmap, AlphaPixelsAreCheckedAgainstTheChannel) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(5, 3, 24, INITBITMAPFLAGS_NONE));
  BaseBitmap* ch = bmp.AddChannel(true, false);
  ASSERT_NE(nullptr, ch);
  EXPECT_TRUE(bmp.SetAlphaPixel(ch, 4, 2, 200));
  UInt16 v = 7;
  bmp.GetAlphaPixel(ch, 4, 2, &v);
  EXPECT_EQ(200, v);
  for (auto [x, y] : {std::pair<int, int>{5, 0}, {0, 3}, {-1, 0}, {0, -1}}) {
    EXPECT_FALSE(bmp.SetAlphaPixel(ch, x, y, 1)) << x << "," << y;
    v = 7;
    bmp.GetAlphaPixel(ch, x, y, &v);
    EXPECT_EQ(0, v) << x << "," << y;  // outside: 0
  }
  EXPECT_FALSE(bmp.SetAlphaPixel(nullptr, 0, 0, 1));
  v = 7;
  bmp.GetAlphaPixel(nullptr, 0, 0, &v);
  EXPECT_EQ(7, v);  // no channel: nothing written

  // Rows of alpha values, stride 2.
  const UChar in[10] = {10, 0, 20, 0, 30, 0, 40, 0, 50, 0};
  EXPECT_TRUE(bmp.SetAlphaPixelCnt(0, 1, 5, in, 2, ch));
  UChar out[5] = {};
  bmp.GetAlphaPixelCnt(0, 1, 5, out, 1, ch);
  EXPECT_EQ("0a 14 1e 28 32", lumtest::ToHex(out, 5));
  EXPECT_FALSE(bmp.SetAlphaPixelCnt(1, 1, 5, in, 2, ch));  // 1 + 5 > 5
  EXPECT_FALSE(bmp.SetAlphaPixelCnt(0, 1, 0, in, 2, ch));
  EXPECT_FALSE(bmp.SetAlphaPixelCnt(0, 1, 1, in, 2, nullptr));
  UChar untouched[5] = {9, 9, 9, 9, 9};
  bmp.GetAlphaPixelCnt(1, 1, 5, untouched, 1, ch);
  EXPECT_EQ("09 09 09 09 09", lumtest::ToHex(untouched, 5));

  // A bitmap without storage refuses channel rows, even of someone else's channel.
  BaseBitmap empty;
  EXPECT_FALSE(empty.SetAlphaPixelCnt(0, 1, 1, in, 2, ch));
  empty.GetAlphaPixelCnt(0, 1, 5, untouched, 1, ch);
  EXPECT_EQ("09 09 09 09 09", lumtest::ToHex(untouched, 5));
}

namespace {

bool AddChannelUnderFailure(std::int64_t, void* p) {
  BaseBitmap& bmp = *static_cast<BaseBitmap*>(p);
  BaseBitmap* ch = bmp.AddChannel(true, false);
  if (lumtest::InjectedFailureHappened()) return ch == nullptr && bmp.GetChannelCount() == 0;
  bool ok = ch != nullptr && bmp.GetChannelCount() == 1 && ch->GetBw() == bmp.GetBw() &&
            bmp.GetInternalChannel() == ch;
  bmp.RemoveChannel(ch);
  return ok;
}

}  // namespace

TEST(BaseBitmap, AddChannelSurvivesEveryAllocationFailure) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(9, 9, 24, INITBITMAPFLAGS_NONE));
  // The channel object, its storage and its pixels.
  EXPECT_EQ(3, lumtest::SweepAllocationFailures("AddChannel", AddChannelUnderFailure, &bmp));
}

TEST(BaseBitmap, CloneCopiesChannelsAndTheirFlags) {
  BaseBitmap src;
  ASSERT_EQ(BITMAPRESULT_OK, src.Init(3, 2, 24, INITBITMAPFLAGS_NONE));
  FillRow(src, 1);
  BaseBitmap* a = src.AddChannel(false, false);
  BaseBitmap* b = src.AddChannel(false, false);
  BaseBitmap* c = src.AddChannel(true, false);
  ASSERT_TRUE(a && b && c);
  src.RemoveChannel(b);  // slots 0 and 2 occupied, slot 2 internal
  ASSERT_TRUE(src.SetAlphaPixel(c, 2, 1, 77));

  BaseBitmap dst;
  ASSERT_EQ(BITMAPRESULT_OK, dst.Init(8, 8, 24, INITBITMAPFLAGS_NONE));
  ASSERT_NE(nullptr, dst.AddChannel(true, false));
  ASSERT_TRUE(src.CloneIt(&dst));
  EXPECT_EQ(3, dst.GetBw());
  ASSERT_EQ(2, dst.GetChannelCount());
  BaseBitmap* dc = dst.GetInternalChannel();
  ASSERT_NE(nullptr, dc);
  EXPECT_NE(c, dc);
  EXPECT_EQ(dc, dst.GetChannelNum(1));  // still the second occupied slot
  UInt16 v = 0;
  dst.GetAlphaPixel(dc, 2, 1, &v);
  EXPECT_EQ(77, v);
  EXPECT_EQ(ReadRow(src, 1), ReadRow(dst, 1));
}

namespace {

bool CloneWithChannelsUnderFailure(std::int64_t, void* p) {
  const BaseBitmap& src = *static_cast<const BaseBitmap*>(p);
  BaseBitmap dst;
  bool ok = src.CloneIt(&dst);
  // Whatever happened, every channel dst holds is a whole one.
  for (Int32 i = 0; i < dst.GetChannelCount(); ++i) {
    BaseBitmap* ch = dst.GetChannelNum(i);
    if (ch->GetDrawPort() == nullptr || ch->GetBw() != src.GetBw()) return false;
  }
  if (lumtest::InjectedFailureHappened()) return !ok;
  return ok && dst.GetChannelCount() == 2 && dst.GetInternalChannel() == dst.GetChannelNum(1);
}

}  // namespace

TEST(BaseBitmap, CloneWithChannelsSurvivesEveryAllocationFailure) {
  BaseBitmap src;
  ASSERT_EQ(BITMAPRESULT_OK, src.Init(4, 4, 24, INITBITMAPFLAGS_NONE));
  ASSERT_NE(nullptr, src.AddChannel(false, false));
  ASSERT_NE(nullptr, src.AddChannel(true, false));
  // Storage and pixels, then object, storage and pixels of each channel.
  EXPECT_EQ(8, lumtest::SweepAllocationFailures("CloneIt with channels",
                                                CloneWithChannelsUnderFailure, &src));
}

// ---- saving ------------------------------------------------------------------------------------

TEST(BaseBitmap, SaveWithAnUnknownFilterFailsAndWritesNothing) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(2, 2, 24, INITBITMAPFLAGS_NONE));
  const std::string path = lumtest::TempPath("unknown-filter.out");
  Filename name(path.c_str());
  for (Int32 filter : {1103, 0, -1, 1105}) {
    EXPECT_EQ(BITMAPRESULT_FAILED, bmp.Save(name, filter, nullptr, SAVEBIT_NONE)) << filter;
    EXPECT_NE(0, access(path.c_str(), F_OK)) << filter;
  }
}
