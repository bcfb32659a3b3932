// Draw ports: the seven storages' pixel rules and transfer formats, alpha-only transfers, the
// converting transfers and their chunking, clones, whole-row writes, scaling, and every
// allocation-failure path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "lumora.h"
#include "test_support.h"

using namespace lumora;

namespace {

std::string Hex(const UChar* p, int n) { return lumtest::ToHex(p, static_cast<size_t>(n)); }

// Start of row y in the port's buffer, as the storage lays rows out.
const UChar* Row(const DrawPort* port, int y, bool bottomUp) {
  int r = bottomUp ? port->GetBh() - 1 - y : y;
  return port->GetBuffer() + static_cast<Int64>(r) * port->GetBytesPerRow();
}

struct Storage {
  const char* name;
  int depth;
  INITBITMAPFLAGS flags;
  COLORMODE mode;
  int pixelBytes;     // in the storage
  int transferBytes;  // in the transfer format
  bool bottomUp;
};

const Storage kStorages[] = {
    {"RGBb24", 24, INITBITMAPFLAGS_NONE, COLORMODE_RGB, 3, 3, true},
    {"RGBb32", 32, INITBITMAPFLAGS_NONE, COLORMODE_RGB, 4, 3, true},
    {"RGBw", 48, INITBITMAPFLAGS_NONE, COLORMODE_RGBw, 6, 6, false},
    {"RGBf", 96, INITBITMAPFLAGS_NONE, COLORMODE_RGBf, 12, 12, false},
    {"GREYb8", 8, INITBITMAPFLAGS_GREY, COLORMODE_GREY, 1, 1, false},
    {"GREYw", 16, INITBITMAPFLAGS_GREY, COLORMODE_GREYw, 2, 2, false},
    {"GREYf", 32, INITBITMAPFLAGS_GREY, COLORMODE_GREYf, 4, 4, false},
};

void WriteFloats(UChar* p, std::initializer_list<float> values) {
  for (float v : values) {
    std::memcpy(p, &v, 4);
    p += 4;
  }
}

float FloatAt(const UChar* p) {
  float v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

// ---- allocation and formats --------------------------------------------------------------------

TEST(DrawPort, AllocHandsOutEveryStorage) {
  for (const Storage& s : kStorages) {
    BaseBitmap bmp;
    ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(5, 3, s.depth, s.flags)) << s.name;
    DrawPort* port = bmp.GetDrawPort();
    ASSERT_NE(nullptr, port);
    EXPECT_EQ(s.mode, bmp.GetColorMode()) << s.name;
    EXPECT_EQ(s.depth, port->GetBitsPerPixel()) << s.name;
    EXPECT_EQ(s.flags == INITBITMAPFLAGS_GREY ? DRAWPORT_GREY : DRAWPORT_RGB, port->GetPortType());
    EXPECT_EQ((5 * s.depth + 31) / 32 * 4, port->GetBytesPerRow()) << s.name;
    EXPECT_EQ(&bmp, port->GetBitmap());
  }
  EXPECT_EQ(0, lumtest::AlertCount());
  // Grey storages exist only at 8, 16 and 32 bits, and nothing else is made for them.
  EXPECT_EQ(nullptr, DrawPort::Alloc(DRAWPORT_GREY, 48, nullptr));
  EXPECT_EQ(nullptr, DrawPort::Alloc(DRAWPORT_GREY, 96, nullptr));
  EXPECT_EQ(0, lumtest::AlertCount());
}

TEST(DrawPort, AllocOfEveryStorageSurvivesAllocationFailure) {
  const DrawPortTypes types[] = {DRAWPORT_RGB,  DRAWPORT_RGB,  DRAWPORT_RGB, DRAWPORT_RGB,
                                 DRAWPORT_GREY, DRAWPORT_GREY, DRAWPORT_GREY};
  for (int i = 0; i < 7; ++i) {
    {
      lumtest::ScopedAllocFailure fail(1);
      EXPECT_EQ(nullptr, DrawPort::Alloc(types[i], kStorages[i].depth, nullptr));
    }
    BaseBitmap bmp;
    {
      lumtest::ScopedAllocFailure fail(2);  // the pixel buffer
      EXPECT_EQ(BITMAPRESULT_FAILED, bmp.Init(4, 4, kStorages[i].depth, kStorages[i].flags));
    }
    EXPECT_EQ(nullptr, bmp.GetDrawPort());
  }
}

// ---- single pixels
// -------------------------------------------------------------------------------

TEST(DrawPort, SetPixelStoresEachFormatsOwnRepresentation) {
  struct Case {
    int storage;
    const char* bytes;  // of pixel (1, 0) after SetPixel(1, 0, 255, 128, 1, 77)
    int r, g, b;        // GetPixel
    float dr, dg, db;   // GetPixelDirect
  };
  const Case cases[] = {
      {0, "ff 80 01", 255, 128, 1, 255, 128, 1},
      {1, "01 80 ff 00", 255, 128, 1, 255, 128, 1},
      {2, "00 ff 00 80 00 01", 255, 128, 1, 65280 / 257.0f, 32768 / 257.0f, 256 / 257.0f},
      {3, "00 00 80 3f 81 80 00 3f 81 80 80 3b", 255, 128, 1, 255, 128, 1},
      {4, "4d", 77, 77, 77, 77, 77, 77},
      {5, "4d 4d", 77, 77, 77, 77, 77, 77},
      {6, "9b 9a 9a 3e", 77, 77, 77, 77, 77, 77},
  };
  for (const Case& c : cases) {
    const Storage& s = kStorages[c.storage];
    BaseBitmap bmp;
    ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(3, 2, s.depth, s.flags));
    DrawPort* port = bmp.GetDrawPort();
    // The 32-bit alpha byte is cleared by a colour write.
    std::memset(port->GetBuffer(), 0xCC, static_cast<size_t>(2 * port->GetBytesPerRow()));
    EXPECT_TRUE(port->SetPixel(1, 0, 255, 128, 1, 77));
    EXPECT_EQ(c.bytes, Hex(Row(port, 0, s.bottomUp) + s.pixelBytes, s.pixelBytes)) << s.name;
    // Its neighbours are untouched.
    EXPECT_EQ(0xCC, Row(port, 0, s.bottomUp)[0]) << s.name;
    EXPECT_EQ(0xCC, Row(port, 0, s.bottomUp)[2 * s.pixelBytes]) << s.name;
    UInt16 r = 0, g = 0, b = 0;
    port->GetPixel(1, 0, &r, &g, &b);
    EXPECT_EQ(c.r, r) << s.name;
    EXPECT_EQ(c.g, g) << s.name;
    EXPECT_EQ(c.b, b) << s.name;
    Vector32 d = port->GetPixelDirect(1, 0);
    EXPECT_FLOAT_EQ(c.dr, d.x) << s.name;
    EXPECT_FLOAT_EQ(c.dg, d.y) << s.name;
    EXPECT_FLOAT_EQ(c.db, d.z) << s.name;
  }
}

TEST(DrawPort, SixteenBitStoragesWidenEightBitValues) {
  BaseBitmap grey;
  ASSERT_EQ(BITMAPRESULT_OK, grey.Init(1, 1, 16, INITBITMAPFLAGS_GREY));
  grey.GetDrawPort()->SetPixel(0, 0, 0, 0, 0, 255);
  EXPECT_EQ("ff ff", Hex(grey.GetDrawPort()->GetBuffer(), 2));
  // Only the low byte of a colour value counts.
  BaseBitmap rgb;
  ASSERT_EQ(BITMAPRESULT_OK, rgb.Init(1, 1, 48, INITBITMAPFLAGS_NONE));
  rgb.GetDrawPort()->SetPixel(0, 0, 256 + 2, -1, 0, 0);
  EXPECT_EQ("00 02 00 ff 00 00", Hex(rgb.GetDrawPort()->GetBuffer(), 6));
}

TEST(DrawPort, FloatSamplesReadBackClampedOnlyThroughGetPixel) {
  for (int storage : {3, 6}) {
    const Storage& s = kStorages[storage];
    BaseBitmap bmp;
    ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(6, 1, s.depth, s.flags));
    DrawPort* port = bmp.GetDrawPort();
    const float values[6] = {1.5f, -0.2f, 0.5f, NAN, 1e30f, -1e30f};
    for (int x = 0; x < 6; ++x) {
      UChar* p = port->GetBuffer() + x * s.pixelBytes;
      for (int k = 0; k < s.pixelBytes / 4; ++k) WriteFloats(p + 4 * k, {values[x]});
    }
    const int want[6] = {255, 0, 127, 0, 255, 0};
    for (int x = 0; x < 6; ++x) {
      UInt16 r = 1, g = 1, b = 1;
      port->GetPixel(x, 0, &r, &g, &b);
      EXPECT_EQ(want[x], r) << s.name << " " << x;
      EXPECT_EQ(want[x], b) << s.name << " " << x;
    }
    EXPECT_FLOAT_EQ(1.5f * 255, port->GetPixelDirect(0, 0).x);
    EXPECT_FLOAT_EQ(-0.2f * 255, port->GetPixelDirect(1, 0).z);
    // The float reader truncates toward zero without clamping but to the Int32 range; NaN reads
    // as 0.
    Int32 r, g, b;
    GetPixelWrapperFloat(port, 4, 0, &r, &g, &b, nullptr);
    EXPECT_EQ(2147483647, r);
    GetPixelWrapperFloat(port, 5, 0, &r, &g, &b, nullptr);
    EXPECT_EQ(-2147483647 - 1, b);
    GetPixelWrapperFloat(port, 1, 0, &r, &g, &b, nullptr);
    EXPECT_EQ(-51, r);
    GetPixelWrapperFloat(port, 0, 0, &r, &g, &b, nullptr);
    EXPECT_EQ(382, g);
    GetPixelWrapperFloat(port, 3, 0, &r, &g, &b, nullptr);
    EXPECT_EQ(0, r);
    // The 8-bit reader goes through the RGB conversion instead.
    GetPixelWrapper(port, 0, 0, &r, &g, &b, nullptr);
    EXPECT_EQ(255, r);
    GetPixelWrapper(port, 1, 0, &r, &g, &b, nullptr);
    EXPECT_EQ(0, b);
  }
}

// ---- row transfers in the storage's own format
// -----------------------------------------------------

TEST(DrawPort, SameModeTransfersMoveTheTransferFormatAndKeepTheRowOrder) {
  for (const Storage& s : kStorages) {
    BaseBitmap bmp;
    ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(4, 3, s.depth, s.flags));
    DrawPort* port = bmp.GetDrawPort();
    const int inc = s.transferBytes + 2;  // stride larger than the pixel
    std::vector<UChar> in(3 * inc, 0x5A);
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < s.transferBytes; ++k)
        in[i * inc + k] = static_cast<UChar>(16 * i + k + 1);
    ASSERT_TRUE(bmp.SetPixelCnt(1, 2, 3, in.data(), inc, s.mode, PIXELCNT_NONE)) << s.name;

    // Row 2 (the bottom row) is the first row in memory for bottom-up storages.
    const UChar* row = Row(port, 2, s.bottomUp);
    EXPECT_EQ(row, port->GetBuffer() + (s.bottomUp ? 0 : 2 * port->GetBytesPerRow()));
    for (int k = 0; k < s.pixelBytes; ++k) EXPECT_EQ(0, row[k]) << s.name;  // pixel 0 untouched
    if (s.depth == 32 && s.mode == COLORMODE_RGB) {
      EXPECT_EQ("03 02 01 00 13 12 11 00 23 22 21 00", Hex(row + 4, 12));
    } else {
      for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Hex(&in[i * inc], s.pixelBytes), Hex(row + (i + 1) * s.pixelBytes, s.pixelBytes))
            << s.name;
    }
    for (int y = 0; y < 2; ++y)
      for (int k = 0; k < port->GetBytesPerRow(); ++k) ASSERT_EQ(0, Row(port, y, s.bottomUp)[k]);

    std::vector<UChar> out(3 * inc, 0xEE);
    bmp.GetPixelCnt(1, 2, 3, out.data(), inc, s.mode, PIXELCNT_NONE, nullptr);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(Hex(&in[i * inc], s.transferBytes), Hex(&out[i * inc], s.transferBytes)) << s.name;
      EXPECT_EQ("ee ee", Hex(&out[i * inc + s.transferBytes], 2)) << s.name;
    }
    // A transfer of no pixels leaves the storage and the caller's buffer alone.
    const std::vector<UChar> stored(port->GetBuffer(),
                                    port->GetBuffer() + 3 * port->GetBytesPerRow());
    const std::vector<UChar> given = out;
    EXPECT_TRUE(port->SetPixelCntP(0, 0, 0, given.data(), inc, PIXELCNT_NONE)) << s.name;
    port->GetPixelCntP(0, 0, 0, out.data(), inc, PIXELCNT_NONE);
    EXPECT_EQ(stored, std::vector<UChar>(port->GetBuffer(),
                                         port->GetBuffer() + 3 * port->GetBytesPerRow()));
    EXPECT_EQ(given, out) << s.name;
  }
}

TEST(DrawPort, AlphaOnlyTransfersTouchOnlyThe32BitAlphaByte) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(3, 1, 32, INITBITMAPFLAGS_NONE));
  const UChar rgb[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  ASSERT_TRUE(bmp.SetPixelCnt(0, 0, 3, rgb, 3, COLORMODE_RGB, PIXELCNT_NONE));
  const UChar alpha[6] = {0xA1, 0, 0xA2, 0, 0xA3, 0};
  ASSERT_TRUE(bmp.SetPixelCnt(0, 0, 3, alpha, 2, COLORMODE_ALPHA, PIXELCNT_NONE));
  EXPECT_EQ("03 02 01 a1 06 05 04 a2 09 08 07 a3", Hex(bmp.GetDrawPort()->GetBuffer(), 12));
  UChar out[3] = {0, 0, 0};
  bmp.GetPixelCnt(0, 0, 3, out, 1, COLORMODE_ALPHA, PIXELCNT_NONE, nullptr);
  EXPECT_EQ("a1 a2 a3", Hex(out, 3));
  // ARGB reads put full alpha in front, not the stored alpha byte...
  UChar argb[12];
  bmp.GetPixelCnt(0, 0, 3, argb, 4, COLORMODE_ARGB, PIXELCNT_NONE, nullptr);
  EXPECT_EQ("ff 01 02 03 ff 04 05 06 ff 07 08 09", Hex(argb, 12));
  // ...unless the caller asks for alpha only.
  std::memset(argb, 0xEE, sizeof argb);
  bmp.GetPixelCnt(0, 0, 3, argb, 4, COLORMODE_ARGB, PIXELCNT_ALPHAONLY, nullptr);
  EXPECT_EQ("a1 ee ee ee a2 ee ee ee a3 ee ee ee", Hex(argb, 12));
  // A colour write clears the alpha again.
  ASSERT_TRUE(bmp.SetPixelCnt(1, 0, 1, rgb, 3, COLORMODE_RGB, PIXELCNT_NONE));
  EXPECT_EQ("03 02 01 00", Hex(bmp.GetDrawPort()->GetBuffer() + 4, 4));
}

TEST(DrawPort, AlphaOnlyTransfersOfTheOtherStorages) {
  for (const Storage& s : kStorages) {
    if (s.depth == 32 && s.mode == COLORMODE_RGB) continue;
    BaseBitmap bmp;
    ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(2, 1, s.depth, s.flags));
    DrawPort* port = bmp.GetDrawPort();
    std::memset(port->GetBuffer(), 0x42, static_cast<size_t>(port->GetBytesPerRow()));
    const UChar alpha[2] = {0x11, 0x22};
    EXPECT_TRUE(bmp.SetPixelCnt(0, 0, 2, alpha, 1, COLORMODE_ALPHA, PIXELCNT_NONE)) << s.name;
    for (int k = 0; k < port->GetBytesPerRow(); ++k)
      ASSERT_EQ(0x42, port->GetBuffer()[k]) << s.name;
    UChar out[2] = {0xEE, 0xEE};
    bmp.GetPixelCnt(0, 0, 2, out, 1, COLORMODE_ALPHA, PIXELCNT_NONE, nullptr);
    // An 8-bit grey storage is what alpha channels are made of: its bytes are the alpha.
    EXPECT_EQ(s.mode == COLORMODE_GREY ? "42 42" : "ee ee", Hex(out, 2)) << s.name;
  }
}

TEST(DrawPort, ReadsWithAlphaInFrontFillFullAlphaOfTheSampleType) {
  BaseBitmap w;
  ASSERT_EQ(BITMAPRESULT_OK, w.Init(2, 1, 16, INITBITMAPFLAGS_GREY));
  w.GetDrawPort()->SetPixel(0, 0, 0, 0, 0, 1);
  w.GetDrawPort()->SetPixel(1, 0, 0, 0, 0, 2);
  UChar out[8];
  w.GetPixelCnt(0, 0, 2, out, 4, COLORMODE_AGREYw, PIXELCNT_NONE, nullptr);
  EXPECT_EQ("ff ff 01 01 ff ff 02 02", Hex(out, 8));

  BaseBitmap f;
  ASSERT_EQ(BITMAPRESULT_OK, f.Init(1, 1, 96, INITBITMAPFLAGS_NONE));
  WriteFloats(f.GetDrawPort()->GetBuffer(), {0.25f, -3.0f, 7.5f});
  UChar argb[16];
  f.GetPixelCnt(0, 0, 1, argb, 16, COLORMODE_ARGBf, PIXELCNT_NONE, nullptr);
  EXPECT_EQ(1.0f, FloatAt(argb));
  EXPECT_EQ(0.25f, FloatAt(argb + 4));
  EXPECT_EQ(-3.0f, FloatAt(argb + 8));
  EXPECT_EQ(7.5f, FloatAt(argb + 12));
}

// ---- converting transfers
// ------------------------------------------------------------------------

TEST(DrawPort, ConvertingTransfersUseTheRowConverterBothWays) {
  // RGB into a grey storage: the grey rule; and back out as RGB.
  BaseBitmap grey;
  ASSERT_EQ(BITMAPRESULT_OK, grey.Init(2, 1, 8, INITBITMAPFLAGS_GREY));
  const UChar rgb[6] = {10, 20, 31, 255, 255, 0};
  EXPECT_TRUE(grey.SetPixelCnt(0, 0, 2, rgb, 3, COLORMODE_RGB, PIXELCNT_NONE));
  EXPECT_EQ("14 aa", Hex(grey.GetDrawPort()->GetBuffer(), 2));
  UChar out[8];
  grey.GetPixelCnt(0, 0, 2, out, 4, COLORMODE_ARGB, PIXELCNT_NONE, nullptr);
  EXPECT_EQ("ff 14 14 14 ff aa aa aa", Hex(out, 8));

  // ARGB into an RGB storage is premultiplied (not copied shifted).
  BaseBitmap col;
  ASSERT_EQ(BITMAPRESULT_OK, col.Init(1, 1, 24, INITBITMAPFLAGS_NONE));
  const UChar argb[4] = {128, 200, 100, 0};
  EXPECT_TRUE(col.SetPixelCnt(0, 0, 1, argb, 4, COLORMODE_ARGB, PIXELCNT_NONE));
  EXPECT_EQ("64 32 00", Hex(col.GetDrawPort()->GetBuffer(), 3));

  // 16-bit storage read as 8-bit, with the dither position of the transfer's start.
  BaseBitmap w;
  ASSERT_EQ(BITMAPRESULT_OK, w.Init(20, 12, 48, INITBITMAPFLAGS_NONE));
  std::vector<UChar> src(20 * 6);
  for (int i = 0; i < 60; ++i) {
    UInt16 v = static_cast<UInt16>(i * 1111 + 300);
    std::memcpy(&src[i * 2], &v, 2);
  }
  ASSERT_TRUE(w.SetPixelCnt(0, 11, 20, src.data(), 6, COLORMODE_RGBw, PIXELCNT_NONE));
  std::vector<UChar> got(17 * 3), want(17 * 3), plain(17 * 3);
  w.GetPixelCnt(3, 11, 17, got.data(), 3, COLORMODE_RGB, PIXELCNT_DITHER, nullptr);
  ConvertBits(17, &src[3 * 6], 6, COLORMODE_RGBw, want.data(), 3, COLORMODE_RGB, 11 % 8, 3);
  EXPECT_EQ(want, got);
  w.GetPixelCnt(3, 11, 17, got.data(), 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr);
  ConvertBits(17, &src[3 * 6], 6, COLORMODE_RGBw, plain.data(), 3, COLORMODE_RGB, -1, -1);
  EXPECT_EQ(plain, got);
  EXPECT_NE(want, plain);  // the dither did something on this row

  // And a dithered write from float into the 8-bit grey storage.
  std::vector<UChar> fl(9 * 4);
  for (int i = 0; i < 9; ++i) WriteFloats(&fl[i * 4], {i / 9.0f + 0.002f});
  BaseBitmap g2;
  ASSERT_EQ(BITMAPRESULT_OK, g2.Init(16, 8, 8, INITBITMAPFLAGS_GREY));
  EXPECT_TRUE(g2.SetPixelCnt(5, 6, 9, fl.data(), 4, COLORMODE_GREYf, PIXELCNT_DITHER));
  UChar expect[9];
  ConvertBits(9, fl.data(), 4, COLORMODE_GREYf, expect, 1, COLORMODE_GREY, 6, 5);
  EXPECT_EQ(Hex(expect, 9), Hex(g2.GetDrawPort()->GetBuffer() + 6 * 16 + 5, 9));
}

// Chunks are visible only when the caller's buffer overlaps the row being transferred: a later
// chunk then reads what an earlier one wrote. These simulate a transfer of `cnt` pixels in chunks
// of `chunk` on a copy of the row, with the grey rules the converter applies.
std::vector<UChar> SimulateChunkedRead(std::vector<UChar> row, int cnt, int chunk) {
  // GetPixelCnt(0, 0, cnt, row, 3, RGB): grey pixel i becomes the triple at 3i.
  for (int start = 0; start < cnt; start += chunk) {
    int n = std::min(chunk, cnt - start);
    std::vector<UChar> local(row.begin() + start, row.begin() + start + n);
    for (int i = 0; i < n; ++i)
      for (int k = 0; k < 3; ++k) row[3 * (start + i) + k] = local[i];
  }
  return row;
}

std::vector<UChar> SimulateChunkedWrite(std::vector<UChar> row, int x, int cnt, int chunk) {
  // SetPixelCnt(x, 0, cnt, row + x - 256, 2, AGREY): pixel i takes the grey byte at
  // x - 256 + 2i + 1, and from the second chunk on those bytes lie in what was written before.
  for (int start = 0; start < cnt; start += chunk) {
    int n = std::min(chunk, cnt - start);
    std::vector<UChar> local(n);
    for (int i = 0; i < n; ++i) local[i] = row[x - 256 + 2 * (start + i) + 1];
    for (int i = 0; i < n; ++i) row[x + start + i] = local[i];
  }
  return row;
}

TEST(DrawPort, ConversionsRunInChunksOf128) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(1024, 1, 8, INITBITMAPFLAGS_GREY));
  UChar* row = bmp.GetDrawPort()->GetBuffer();
  std::vector<UChar> initial(1024);
  for (int i = 0; i < 1024; ++i) initial[i] = static_cast<UChar>(i * 37 + 11);

  std::memcpy(row, initial.data(), 1024);
  bmp.GetPixelCnt(0, 0, 300, row, 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr);
  std::vector<UChar> got(row, row + 1024);
  EXPECT_EQ(SimulateChunkedRead(initial, 300, 128), got);
  EXPECT_NE(SimulateChunkedRead(initial, 300, 300), got);  // the simulation tells sizes apart
  EXPECT_NE(SimulateChunkedRead(initial, 300, 127), got);
  EXPECT_NE(SimulateChunkedRead(initial, 300, 129), got);

  std::memcpy(row, initial.data(), 1024);
  EXPECT_TRUE(bmp.SetPixelCnt(600, 0, 300, row + 600 - 256, 2, COLORMODE_AGREY, PIXELCNT_NONE));
  got.assign(row, row + 1024);
  EXPECT_EQ(SimulateChunkedWrite(initial, 600, 300, 128), got);
  EXPECT_NE(SimulateChunkedWrite(initial, 600, 300, 300), got);
  EXPECT_NE(SimulateChunkedWrite(initial, 600, 300, 127), got);
  EXPECT_NE(SimulateChunkedWrite(initial, 600, 300, 129), got);
}

namespace {

// An 8-bit grey port that records the row transfers it is handed and can refuse the n-th write.
class RecordingPort : public DrawPort_GREYb8 {
 public:
  RecordingPort() {
    bits_ = 8;
    type_ = DRAWPORT_GREY;
  }
  struct Call {
    int x, cnt, inc;
  };
  std::vector<Call> sets;
  int refuseSet = 0;  // 1-based call number; 0 never

  Bool SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                    PIXELCNT flags) override {
    sets.push_back({x, cnt, inc});
    if (static_cast<int>(sets.size()) == refuseSet) return false;
    return DrawPort_GREYb8::SetPixelCntP(x, y, cnt, buffer, inc, flags);
  }
};

}  // namespace

TEST(DrawPort, ConvertingWriteHandsPackedChunksToTheStorageAndStopsWhereItIsRefused) {
  BaseBitmap owner;
  ASSERT_EQ(BITMAPRESULT_OK, owner.Init(300, 1, 8, INITBITMAPFLAGS_GREY));
  RecordingPort port;
  port.SetBitmap(&owner);
  ASSERT_EQ(BITMAPRESULT_OK, port.Init(300, 1));
  std::vector<UChar> rgb(300 * 5);
  for (int i = 0; i < 300; ++i)
    rgb[i * 5] = rgb[i * 5 + 1] = rgb[i * 5 + 2] = static_cast<UChar>(i);

  EXPECT_TRUE(port.SetPixelCntX(0, 0, 300, rgb.data(), 5, COLORMODE_RGB, PIXELCNT_NONE));
  ASSERT_EQ(3u, port.sets.size());
  const int xs[3] = {0, 128, 256}, counts[3] = {128, 128, 44};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(xs[k], port.sets[k].x);
    EXPECT_EQ(counts[k], port.sets[k].cnt);
    EXPECT_EQ(1, port.sets[k].inc);
  }
  for (int i = 0; i < 300; ++i) ASSERT_EQ(static_cast<UChar>(i), port.GetBuffer()[i]);

  std::memset(port.GetBuffer(), 0, 300);
  port.sets.clear();
  port.refuseSet = 2;
  EXPECT_FALSE(port.SetPixelCntX(0, 0, 300, rgb.data(), 5, COLORMODE_RGB, PIXELCNT_NONE));
  EXPECT_EQ(2u, port.sets.size());
  EXPECT_EQ(127, port.GetBuffer()[127]);
  EXPECT_EQ(0, port.GetBuffer()[128]);
}

TEST(DrawPort, ModesTheConverterCannotTakeAreRefusedWithoutWriting) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(4, 1, 24, INITBITMAPFLAGS_NONE));
  UChar in[64];
  std::memset(in, 0x77, sizeof in);
  for (int mode : {8, 24, 6, 7, 9, 48, 52}) {
    EXPECT_FALSE(bmp.SetPixelCnt(0, 0, 4, in, 16, static_cast<COLORMODE>(mode), PIXELCNT_NONE))
        << mode;
    for (int k = 0; k < 12; ++k) ASSERT_EQ(0, bmp.GetDrawPort()->GetBuffer()[k]) << mode;
  }
  UChar out[16];
  std::memset(out, 0xEE, sizeof out);
  bmp.GetPixelCnt(0, 0, 4, out, 4, static_cast<COLORMODE>(6), PIXELCNT_NONE, nullptr);
  for (UChar c : out) EXPECT_EQ(0xEE, c);
}

// ---- clones and whole rows
// -----------------------------------------------------------------------

TEST(DrawPort, CloneCopiesEqualFormatsAndRefusesOthers) {
  for (int i = 0; i < 7; ++i) {
    const Storage& s = kStorages[i];
    BaseBitmap a, b;
    ASSERT_EQ(BITMAPRESULT_OK, a.Init(5, 3, s.depth, s.flags));
    ASSERT_EQ(BITMAPRESULT_OK, b.Init(2, 7, s.depth, s.flags));
    DrawPort* src = a.GetDrawPort();
    for (Int64 k = 0; k < 3 * src->GetBytesPerRow(); ++k)
      src->GetBuffer()[k] = static_cast<UChar>(k * 7 + 1);
    ASSERT_TRUE(src->CloneIt(b.GetDrawPort())) << s.name;
    DrawPort* dst = b.GetDrawPort();
    EXPECT_EQ(5, dst->GetBw());
    EXPECT_EQ(3, dst->GetBh());
    EXPECT_EQ(0, std::memcmp(src->GetBuffer(), dst->GetBuffer(),
                             static_cast<size_t>(3 * src->GetBytesPerRow())));
    for (int j = 0; j < 7; ++j) {
      if (j == i) continue;
      lumtest::ResetAlerts();
      BaseBitmap other;
      ASSERT_EQ(BITMAPRESULT_OK, other.Init(5, 3, kStorages[j].depth, kStorages[j].flags));
      EXPECT_FALSE(src->CloneIt(other.GetDrawPort())) << s.name << " -> " << kStorages[j].name;
      EXPECT_TRUE(lumtest::HasAlert(606, "source/lum_drawport"));
      for (Int64 k = 0; k < 3 * other.GetDrawPort()->GetBytesPerRow(); ++k)
        ASSERT_EQ(0, other.GetDrawPort()->GetBuffer()[k]);
    }
  }
  BaseBitmap a;
  ASSERT_EQ(BITMAPRESULT_OK, a.Init(2, 2, 48, INITBITMAPFLAGS_NONE));
  EXPECT_FALSE(a.GetDrawPort()->CloneIt(nullptr));
}

TEST(DrawPort, CloneThatMustResizeSurvivesAllocationFailure) {
  BaseBitmap a, b;
  ASSERT_EQ(BITMAPRESULT_OK, a.Init(6, 6, 96, INITBITMAPFLAGS_NONE));
  ASSERT_EQ(BITMAPRESULT_OK, b.Init(2, 2, 96, INITBITMAPFLAGS_NONE));
  a.GetDrawPort()->SetPixel(5, 5, 255, 0, 0, 0);
  b.GetDrawPort()->SetPixel(1, 1, 0, 255, 0, 0);
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(a.GetDrawPort()->CloneIt(b.GetDrawPort()));
  }
  EXPECT_EQ(2, b.GetDrawPort()->GetBw());
  UInt16 r, g, bl;
  b.GetDrawPort()->GetPixel(1, 1, &r, &g, &bl);
  EXPECT_EQ(255, g);
  // Same size: no allocation at all.
  ASSERT_EQ(BITMAPRESULT_OK, b.Init(6, 6, 96, INITBITMAPFLAGS_NONE));
  lumtest::ScopedAllocFailure fail(1, true);
  EXPECT_TRUE(a.GetDrawPort()->CloneIt(b.GetDrawPort()));
  b.GetDrawPort()->GetPixel(5, 5, &r, &g, &bl);
  EXPECT_EQ(255, r);
}

TEST(DrawPort, SetLineDirectWritesPackedRowsOfTheStoragesDepth) {
  const UChar line[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  BaseBitmap rgb24;
  ASSERT_EQ(BITMAPRESULT_OK, rgb24.Init(4, 2, 24, INITBITMAPFLAGS_NONE));
  EXPECT_TRUE(rgb24.GetDrawPort()->SetLineDirect(0, line, 24));
  EXPECT_EQ(Hex(line, 12), Hex(Row(rgb24.GetDrawPort(), 0, true), 12));
  EXPECT_FALSE(rgb24.GetDrawPort()->SetLineDirect(1, line, 32));
  EXPECT_FALSE(rgb24.GetDrawPort()->SetLineDirect(2, line, 24));  // no such row
  EXPECT_FALSE(rgb24.GetDrawPort()->SetLineDirect(-1, line, 24));

  // 32-bit RGB takes 3-byte pixels whether announced as 24 or 32 bits.
  BaseBitmap rgb32;
  ASSERT_EQ(BITMAPRESULT_OK, rgb32.Init(4, 2, 32, INITBITMAPFLAGS_NONE));
  for (int bits : {24, 32}) {
    EXPECT_TRUE(rgb32.GetDrawPort()->SetLineDirect(1, line, bits));
    EXPECT_EQ("03 02 01 00 06 05 04 00 09 08 07 00 0c 0b 0a 00",
              Hex(Row(rgb32.GetDrawPort(), 1, true), 16));
  }

  // Float grey takes its own 4-byte pixels, and refuses 24-bit rows it cannot read.
  BaseBitmap gf;
  ASSERT_EQ(BITMAPRESULT_OK, gf.Init(3, 1, 32, INITBITMAPFLAGS_GREY));
  EXPECT_TRUE(gf.GetDrawPort()->SetLineDirect(0, line, 32));
  EXPECT_EQ(Hex(line, 12), Hex(gf.GetDrawPort()->GetBuffer(), 12));
  EXPECT_FALSE(gf.GetDrawPort()->SetLineDirect(0, line, 24));

  BaseBitmap w;
  ASSERT_EQ(BITMAPRESULT_OK, w.Init(2, 1, 48, INITBITMAPFLAGS_NONE));
  EXPECT_TRUE(w.GetDrawPort()->SetLineDirect(0, line, 48));
  EXPECT_EQ(Hex(line, 12), Hex(w.GetDrawPort()->GetBuffer(), 12));

  // Without an owning bitmap there is no colour mode.
  DrawPort* loose = DrawPort::Alloc(DRAWPORT_GREY, 8, nullptr);
  ASSERT_NE(nullptr, loose);
  ASSERT_EQ(BITMAPRESULT_OK, loose->Init(4, 1));
  EXPECT_FALSE(loose->SetLineDirect(0, line, 8));
  EXPECT_TRUE(lumtest::HasAlert(640, "source/lum_drawport"));
  EXPECT_EQ(0, loose->GetBuffer()[0]);
  DeleteObj(loose);
}

// ---- scaling -----------------------------------------------------------------------------------

namespace {

// Source pixel (x, y) of the scaling tests: red 10x + 50y, green 200 - 20x, blue 7y.
void FillScaleSource(BaseBitmap& bmp) {
  for (int y = 0; y < bmp.GetBh(); ++y)
    for (int x = 0; x < bmp.GetBw(); ++x)
      bmp.GetDrawPort()->SetPixel(x, y, 10 * x + 50 * y, 200 - 20 * x, 7 * y, 0);
}

std::string PixelAt(const BaseBitmap& bmp, int x, int y) {
  UInt16 r, g, b;
  bmp.GetDrawPort()->GetPixel(x, y, &r, &g, &b);
  return std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b);
}

}  // namespace

TEST(DrawPort, ScaleSingleTapPicksTheMappedPixel) {
  BaseBitmap src, dst;
  ASSERT_EQ(BITMAPRESULT_OK, src.Init(8, 2, 24, INITBITMAPFLAGS_NONE));
  FillScaleSource(src);
  ASSERT_EQ(BITMAPRESULT_OK, dst.Init(4, 4, 24, INITBITMAPFLAGS_NONE));
  // Stretched: x steps by 2, y by 0.5.
  src.GetDrawPort()->ScaleIt(dst.GetDrawPort(), 256, false, true, false);
  EXPECT_EQ("0,200,0", PixelAt(dst, 0, 0));
  EXPECT_EQ("20,160,0", PixelAt(dst, 1, 1));
  EXPECT_EQ("110,80,7", PixelAt(dst, 3, 2));  // source (6, 1)
  EXPECT_EQ("110,80,7", PixelAt(dst, 3, 3));
  // Letterboxed: one scale of 2 for both axes; the single source row pair lands on row 1
  // (offset floor((4 - 1) / 2) = 1), rows 0, 2 and 3 stay black.
  src.GetDrawPort()->ScaleIt(dst.GetDrawPort(), 256, false, false, false);
  EXPECT_EQ("0,0,0", PixelAt(dst, 0, 0));
  EXPECT_EQ("0,200,0", PixelAt(dst, 0, 1));
  EXPECT_EQ("60,80,0", PixelAt(dst, 3, 1));
  EXPECT_EQ("0,0,0", PixelAt(dst, 3, 2));
  EXPECT_EQ("0,0,0", PixelAt(dst, 1, 3));
}

TEST(DrawPort, ScaleFourTapsAveragesAPixelSquare) {
  BaseBitmap src, dst;
  ASSERT_EQ(BITMAPRESULT_OK, src.Init(3, 3, 24, INITBITMAPFLAGS_NONE));
  FillScaleSource(src);
  ASSERT_EQ(BITMAPRESULT_OK, dst.Init(2, 2, 24, INITBITMAPFLAGS_NONE));
  // Scale 1.5 (step 24576): dst (1, 1) maps to source (1, 1); neighbours (2, 1), (1, 2), (2, 2).
  for (bool stretch : {true, false}) {
    src.GetDrawPort()->ScaleIt(dst.GetDrawPort(), 256, true, stretch, false);
    // red (0 + 10 + 50 + 60) / 4, green (200 + 180 + 200 + 180) / 4, blue (0 + 0 + 7 + 7) / 4
    EXPECT_EQ("30,190,3", PixelAt(dst, 0, 0));
    // red (60 + 70 + 110 + 120) / 4, green (180 + 160 + 180 + 160) / 4, blue (7 + 7 + 14 + 14) / 4
    EXPECT_EQ("90,170,10", PixelAt(dst, 1, 1));
  }
}

TEST(DrawPort, ScaleEightTapsAveragesEightNeighboursClampedToTheEdge) {
  BaseBitmap src, dst;
  ASSERT_EQ(BITMAPRESULT_OK, src.Init(8, 2, 24, INITBITMAPFLAGS_NONE));
  FillScaleSource(src);
  ASSERT_EQ(BITMAPRESULT_OK, dst.Init(4, 4, 24, INITBITMAPFLAGS_NONE));
  src.GetDrawPort()->ScaleIt(dst.GetDrawPort(), 256, true, false, false);
  // dst (3, 1) -> source (6, 0); the eight pixels (6,0) (7,0) (6,1) (7,1) (7,0) (7,1) (6,1)
  // (7,1) after clamping: red 60+70+110+120+70+120+110+120 = 780 -> 97,
  // green 80+60+80+60+60+60+80+60 = 540 -> 67, blue 0+0+7+7+0+7+7+7 = 35 -> 4.
  EXPECT_EQ("97,67,4", PixelAt(dst, 3, 1));
  EXPECT_EQ("0,0,0", PixelAt(dst, 3, 0));
  // dst (0, 1) -> source (0, 0): (0,0) (1,0) (0,1) (1,1) (2,0) (2,1) (0,1) (1,1):
  // red 0+10+50+60+20+70+50+60 = 320 -> 40, green 200+180+200+180+160+160+200+180 = 1460 -> 182,
  // blue 0+0+7+7+0+7+7+7 = 35 -> 4.
  EXPECT_EQ("40,182,4", PixelAt(dst, 0, 1));
  // Stretched: y steps by 0.5, rows 2 and 3 sample source row 1 (y + 1, y + 2 clamp to 1).
  src.GetDrawPort()->ScaleIt(dst.GetDrawPort(), 256, true, true, false);
  // (0,1) (1,1) (0,1) (1,1) (2,1) (2,1) (0,1) (1,1): red 50+60+50+60+70+70+50+60 = 470 -> 58,
  // green 200+180+200+180+160+160+200+180 = 1460 -> 182, blue 8 * 7 -> 7.
  EXPECT_EQ("58,182,7", PixelAt(dst, 0, 3));
  EXPECT_EQ("40,182,4", PixelAt(dst, 0, 0));
}

TEST(DrawPort, ScaleLetterboxesAWidePicture) {
  BaseBitmap src, dst;
  ASSERT_EQ(BITMAPRESULT_OK, src.Init(200, 100, 8, INITBITMAPFLAGS_GREY));
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) src.GetDrawPort()->SetPixel(x, y, 0, 0, 0, 100 + (y & 1) * 50);
  ASSERT_EQ(BITMAPRESULT_OK, dst.Init(100, 100, 8, INITBITMAPFLAGS_GREY));
  src.GetDrawPort()->ScaleIt(dst.GetDrawPort(), 256, false, false, false);
  const UChar* d = dst.GetDrawPort()->GetBuffer();
  const Int64 bpr = dst.GetDrawPort()->GetBytesPerRow();
  for (int x = 0; x < 100; ++x) {
    EXPECT_EQ(0, d[24 * bpr + x]);
    EXPECT_EQ(100, d[25 * bpr + x]);  // source row 0
    EXPECT_EQ(100, d[74 * bpr + x]);  // source row 98
    EXPECT_EQ(0, d[75 * bpr + x]);
  }
  // Filtered, each pixel takes three pixels of row y (100), three of y + 1 (150) and two of
  // y + 2 (100): 950 / 8.
  src.GetDrawPort()->ScaleIt(dst.GetDrawPort(), 256, true, false, false);
  EXPECT_EQ(118, d[25 * bpr + 50]);
  EXPECT_EQ(0, d[80 * bpr + 50]);
}

TEST(DrawPort, ScaleKeepsTheFullWidthWhenTheRatioIsInexact) {
  // 300 / (300 / 7) is a hair above 7 in doubles; the picture must still start at source
  // column 0 rather than being shifted by one destination column.
  BaseBitmap src, dst;
  ASSERT_EQ(BITMAPRESULT_OK, src.Init(300, 10, 24, INITBITMAPFLAGS_NONE));
  for (int x = 0; x < 300; ++x)
    for (int y = 0; y < 10; ++y) src.GetDrawPort()->SetPixel(x, y, x * 255 / 299, 100, 50, 0);
  ASSERT_EQ(BITMAPRESULT_OK, dst.Init(7, 7, 24, INITBITMAPFLAGS_NONE));
  src.GetDrawPort()->ScaleIt(dst.GetDrawPort(), 256, false, false, false);
  // step floor(300 / 7 * 16384) = 702171; column j samples source (j * 702171) >> 14; the one
  // row inside is row 3 (border floor((7 - 10 * 7 / 300) / 2) = 3).
  EXPECT_EQ("0,100,50", PixelAt(dst, 0, 3));
  EXPECT_EQ("35,100,50", PixelAt(dst, 1, 3));   // source 42
  EXPECT_EQ("219,100,50", PixelAt(dst, 6, 3));  // source 257
  EXPECT_EQ("0,0,0", PixelAt(dst, 6, 2));
}

TEST(DrawPort, ScaleIntensityScalesAndSaturates) {
  BaseBitmap src, dst;
  ASSERT_EQ(BITMAPRESULT_OK, src.Init(2, 1, 96, INITBITMAPFLAGS_NONE));
  // Float sources are read unclamped: 2.0 is 510 before intensity, -0.5 is -127.
  WriteFloats(src.GetDrawPort()->GetBuffer(), {2.0f, 0.5f, -0.5f, 0.2f, 0.2f, 0.2f});
  ASSERT_EQ(BITMAPRESULT_OK, dst.Init(2, 1, 24, INITBITMAPFLAGS_NONE));
  src.GetDrawPort()->ScaleIt(dst.GetDrawPort(), 128, false, true, false);
  // 510 * 128 / 256 = 255; 127 * 128 / 256 = 63; a negative sample is black, not white.
  EXPECT_EQ("255,63,0", PixelAt(dst, 0, 0));
  src.GetDrawPort()->ScaleIt(dst.GetDrawPort(), 512, false, true, false);
  EXPECT_EQ("255,254,0", PixelAt(dst, 0, 0));
  EXPECT_EQ("102,102,102", PixelAt(dst, 1, 0));  // 51 * 2
  src.GetDrawPort()->ScaleIt(dst.GetDrawPort(), 256, false, true, false);
  EXPECT_EQ("255,127,0", PixelAt(dst, 0, 0));

  // A grey destination stores the red channel.
  BaseBitmap grey;
  ASSERT_EQ(BITMAPRESULT_OK, grey.Init(2, 1, 16, INITBITMAPFLAGS_GREY));
  src.GetDrawPort()->ScaleIt(grey.GetDrawPort(), 256, false, true, false);
  EXPECT_EQ("ff ff 33 33", Hex(grey.GetDrawPort()->GetBuffer(), 4));

  // Nothing to do without a destination or without pixels.
  src.GetDrawPort()->ScaleIt(nullptr, 256, true, true, false);
  DrawPort* empty = DrawPort::Alloc(DRAWPORT_RGB, 24, nullptr);
  ASSERT_NE(nullptr, empty);
  empty->ScaleIt(dst.GetDrawPort(), 256, true, true, false);
  EXPECT_EQ("255,127,0", PixelAt(dst, 0, 0));
  src.GetDrawPort()->ScaleIt(empty, 256, true, true, false);
  EXPECT_EQ(nullptr, empty->GetBuffer());
  DeleteObj(empty);
}
