// JpgSaver and BmpSaver: the JPEG stream against libjpeg driven directly with the same pixels and
// settings, the BMP layout byte for byte, size limits, open and write failures (inside libjpeg's
// destination callbacks included), allocation failures, and the Finder codes.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "jpeg_support.h"
#include "lumora.h"
#include "test_support.h"

using namespace lumora;

namespace {

using Bytes = std::vector<unsigned char>;

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// w x h pixels, 3 bytes each: smooth gradients with a little noise, so that the stream depends on
// every coding setting and a larger picture compresses to many output buffers.
Bytes MakePixels(int w, int h, int noise) {
  Bytes px(static_cast<size_t>(w) * h * 3);
  unsigned state = 12345;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      state = state * 1103515245u + 12345u;
      int n = noise > 0 ? static_cast<int>((state >> 16) % (2 * noise + 1)) - noise : 0;
      unsigned char* p = &px[(static_cast<size_t>(y) * w + x) * 3];
      p[0] = static_cast<unsigned char>(std::min(255, std::max(0, x * 255 / w + n)));
      p[1] = static_cast<unsigned char>(std::min(255, std::max(0, y * 255 / h - n)));
      p[2] = static_cast<unsigned char>(((x / 7 + y / 5) % 2) * 200 + 20);
    }
  }
  return px;
}

// A bitmap holding px (3 bytes per pixel, top row first). Depth 48 gets 16-bit samples between
// the 8-bit steps, so that reading them back as 8-bit depends on dithering.
void FillBitmap(BaseBitmap& bmp, int w, int h, const Bytes& px, int depth = 24) {
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(w, h, depth, INITBITMAPFLAGS_NONE));
  std::vector<UInt16> wide(static_cast<size_t>(w) * 3);
  for (int y = 0; y < h; ++y) {
    const unsigned char* row = &px[static_cast<size_t>(y) * w * 3];
    if (depth != 48) {
      ASSERT_TRUE(bmp.SetPixelCnt(0, y, w, row, 3, COLORMODE_RGB, PIXELCNT_NONE));
      continue;
    }
    for (int i = 0; i < 3 * w; ++i)
      wide[i] = static_cast<UInt16>(std::min(65535, row[i] * 257 + (i * 37 + y * 91) % 200));
    ASSERT_TRUE(bmp.SetPixelCnt(0, y, w, reinterpret_cast<const UChar*>(wide.data()), 6,
                                COLORMODE_RGBw, PIXELCNT_NONE));
  }
}

// ---- libjpeg as the oracle and the decoder -------------------------------------------------

// Rows handed to libjpeg: the saver's own contract (8-bit RGB with dithering, or grey).
Bytes RowsOf(const BaseBitmap& bmp, bool grey) {
  const int w = bmp.GetBw(), h = bmp.GetBh(), n = grey ? 1 : 3;
  Bytes rows(static_cast<size_t>(w) * h * n);
  for (int y = 0; y < h; ++y)
    bmp.GetPixelCnt(0, y, w, &rows[static_cast<size_t>(y) * w * n], n,
                    grey ? COLORMODE_GREY : COLORMODE_RGB, grey ? PIXELCNT_NONE : PIXELCNT_DITHER,
                    nullptr);
  return rows;
}

// The stream libjpeg writes for rows (components 1 or 3) with the saver's settings.
Bytes OracleJpeg(const Bytes& rows, int w, int h, int components, int quality,
                 J_DCT_METHOD dct = JDCT_FLOAT) {
  jpeg_compress_struct cinfo;
  lumtest::JpegError err;
  unsigned char* out = nullptr;
  unsigned long size = 0;
  cinfo.err = lumtest::UseJpegError(&err);
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    ADD_FAILURE() << "libjpeg failed in the oracle";
    return {};
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(w);
  cinfo.image_height = static_cast<JDIMENSION>(h);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.dct_method = dct;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row =
        const_cast<JSAMPROW>(&rows[static_cast<size_t>(cinfo.next_scanline) * w * components]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes result(out, out + size);
  std::free(out);
  return result;
}

lumtest::JpegPicture DecodeHeader(const Bytes& jpeg) {
  return lumtest::DecodeJpeg(jpeg, /*headerOnly=*/true);
}

Int32 SaveTo(BaseBitmap& bmp, const std::string& path, Int32 filter, BaseContainer* settings,
             SAVEBIT bits = SAVEBIT_NONE) {
  return bmp.Save(Filename(path.c_str()), filter, settings, bits);
}

}  // namespace

// ---- JPEG ------------------------------------------------------------------------------------

TEST(JpgSaver, WritesExactlyWhatLibjpegWritesWithTheSameSettings) {
  struct Picture {
    int w, h, depth;
  };
  // A picture under one output buffer, one of many, and one from 16-bit storage (whose rows come
  // back dithered).
  for (Picture pic : {Picture{5, 3, 24}, Picture{160, 120, 24}, Picture{33, 17, 48}}) {
    BaseBitmap bmp;
    const Bytes px = MakePixels(pic.w, pic.h, 40);
    FillBitmap(bmp, pic.w, pic.h, px, pic.depth);
    BaseContainer none;
    none.SetInt32(BMPSAVER_DPI, 300);  // another saver's setting: ignored
    BaseContainer q50;
    q50.SetInt32(JPGSAVER_QUALITY, 50);
    struct Case {
      BaseContainer* settings;
      int quality;
    };
    for (bool grey : {false, true}) {
      // RGB from 24-bit storage goes to libjpeg as stored; everything else as the bitmap converts.
      const Bytes rows = grey || pic.depth != 24 ? RowsOf(bmp, grey) : px;
      const int n = grey ? 1 : 3;
      for (Case c : {Case{nullptr, 95}, Case{&none, 95}, Case{&q50, 50}}) {
        SCOPED_TRACE(testing::Message() << pic.w << "x" << pic.h << " depth " << pic.depth
                                        << (grey ? " grey" : " rgb") << " quality " << c.quality);
        const std::string path = lumtest::TempPath("oracle.jpg");
        ASSERT_EQ(BITMAPRESULT_OK,
                  SaveTo(bmp, path, FILTER_JPG, c.settings, grey ? SAVEBIT_GREY : SAVEBIT_NONE));
        const Bytes written = lumtest::ReadFileBytes(path);
        const Bytes expected = OracleJpeg(rows, pic.w, pic.h, n, c.quality);
        EXPECT_EQ(expected, written) << written.size() << " bytes, expected " << expected.size();
        lumtest::JpegPicture d = DecodeHeader(written);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(n, d.components);
        EXPECT_FALSE(d.progressive);
        EXPECT_EQ(pic.w, d.width);
        EXPECT_EQ(pic.h, d.height);
      }
    }
  }
  // The comparison tells the settings apart: the DCT method and the quality change the stream,
  // and the large picture needs several 4096-byte output buffers.
  const Bytes px = MakePixels(160, 120, 40);
  const Bytes floatDct = OracleJpeg(px, 160, 120, 3, 95);
  EXPECT_NE(floatDct, OracleJpeg(px, 160, 120, 3, 95, JDCT_ISLOW));
  EXPECT_NE(floatDct, OracleJpeg(px, 160, 120, 3, 94));
  EXPECT_GT(floatDct.size(), 3u * 4096);
  EXPECT_LT(OracleJpeg(MakePixels(5, 3, 40), 5, 3, 3, 95).size(), 4096u);
}

TEST(JpgSaver, WritesTheSameStreamToAMemoryFile) {
  BaseBitmap bmp;
  FillBitmap(bmp, 64, 48, MakePixels(64, 48, 30));
  const std::string path = lumtest::TempPath("disk.jpg");
  ASSERT_EQ(BITMAPRESULT_OK, SaveTo(bmp, path, FILTER_JPG, nullptr));
  Filename memory;
  memory.SetMemoryTarget();
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Save(memory, FILTER_JPG, nullptr, SAVEBIT_NONE));
  const void* data = nullptr;
  Int64 n = 0;
  ASSERT_TRUE(memory.CollectMemoryData(&data, &n));
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  EXPECT_EQ(lumtest::ReadFileBytes(path), Bytes(bytes, bytes + n));
}

TEST(JpgSaver, AnEmptyBitmapFailsWithoutTouchingTheFile) {
  // libjpeg cannot encode a picture without pixels; the saver refuses it before opening.
  BaseBitmap empty;
  const std::string path = lumtest::TempPath("empty.jpg");
  EXPECT_EQ(BITMAPRESULT_FAILED, SaveTo(empty, path, FILTER_JPG, nullptr));
  EXPECT_FALSE(Exists(path));
}

// ---- BMP -------------------------------------------------------------------------------------

TEST(BmpSaver, WritesTheHeaderThenBottomUpPaddedBgrRows) {
  BaseBitmap bmp;
  const Bytes px = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  FillBitmap(bmp, 3, 2, px);
  const std::string path = lumtest::TempPath("three-by-two.bmp");
  ASSERT_EQ(BITMAPRESULT_OK, SaveTo(bmp, path, FILTER_BMP, nullptr, SAVEBIT_GREY));
  // R = 12, file size 78, pixel data 24, 2833 pixels per metre; SAVEBIT_GREY is ignored.
  EXPECT_EQ(
      "42 4d 4e 00 00 00 00 00 00 00 36 00 00 00 28 00 00 00 03 00 00 00 02 00 00 00 01 00 18 00 "
      "00 00 00 00 18 00 00 00 11 0b 00 00 11 0b 00 00 00 00 00 00 00 00 00 00 "
      "0c 0b 0a 0f 0e 0d 12 11 10 00 00 00 "
      "03 02 01 06 05 04 09 08 07 00 00 00",
      lumtest::ToHex(lumtest::ReadFileBytes(path)));
}

TEST(BmpSaver, ResolutionComesFromTheContainerInPixelsPerMetre) {
  BaseBitmap bmp;
  FillBitmap(bmp, 4, 1, MakePixels(4, 1, 0));
  BaseContainer dpi300, dpi96, other;
  dpi300.SetInt32(BMPSAVER_DPI, 300);
  dpi96.SetInt32(BMPSAVER_DPI, 96);
  other.SetInt32(JPGSAVER_QUALITY, 10);
  struct Case {
    BaseContainer* settings;
    const char* ppm;  // bytes 38 ... 45
  };
  for (Case c :
       {Case{&dpi300, "20 2e 00 00 20 2e 00 00"}, Case{&dpi96, "c2 0e 00 00 c2 0e 00 00"},
        Case{&other, "11 0b 00 00 11 0b 00 00"}, Case{nullptr, "11 0b 00 00 11 0b 00 00"}}) {
    const std::string path = lumtest::TempPath("dpi.bmp");
    ASSERT_EQ(BITMAPRESULT_OK, SaveTo(bmp, path, FILTER_BMP, c.settings));
    const Bytes bytes = lumtest::ReadFileBytes(path);
    ASSERT_EQ(54u + 12u, bytes.size());
    EXPECT_EQ(c.ppm, lumtest::ToHex(&bytes[38], 8)) << c.ppm;
  }
}

// ---- both savers -------------------------------------------------------------------------------

TEST(Savers, AcceptTheirMaximumSizeAndRefuseLargerBeforeTouchingTheFile) {
  EXPECT_EQ(65000, JpgSaver().GetMaxResolution(false));
  EXPECT_EQ(32000, BmpSaver().GetMaxResolution(true));

  struct Case {
    Int32 filter, max;
  };
  for (Case c : {Case{FILTER_JPG, 65000}, Case{FILTER_BMP, 32000}}) {
    SCOPED_TRACE(c.filter);
    BaseBitmap wide;
    ASSERT_EQ(BITMAPRESULT_OK, wide.Init(c.max, 1, 24, INITBITMAPFLAGS_NONE));
    const std::string path = lumtest::TempPath("largest");
    ASSERT_EQ(BITMAPRESULT_OK, SaveTo(wide, path, c.filter, nullptr));
    const Bytes bytes = lumtest::ReadFileBytes(path);
    if (c.filter == FILTER_JPG) {
      lumtest::JpegPicture d = DecodeHeader(bytes);
      EXPECT_TRUE(d.ok);
      EXPECT_EQ(c.max, d.width);
    } else {
      EXPECT_EQ(54u + 3u * 32000u, bytes.size());
    }

    // One more in either direction: refused, and a file already there is not even truncated.
    const std::string keep = lumtest::TempPath("too-large");
    ASSERT_TRUE(lumtest::WriteFileBytes(keep, {'o', 'l', 'd'}));
    for (std::pair<int, int> size :
         {std::pair<int, int>{c.max + 1, 1}, std::pair<int, int>{1, c.max + 1}}) {
      BaseBitmap big;
      ASSERT_EQ(BITMAPRESULT_OK, big.Init(size.first, size.second, 24, INITBITMAPFLAGS_NONE));
      const std::string fresh = lumtest::TempPath("too-large-new");
      EXPECT_EQ(BITMAPRESULT_TOOLARGE, SaveTo(big, fresh, c.filter, nullptr));
      EXPECT_FALSE(Exists(fresh));
      EXPECT_EQ(BITMAPRESULT_TOOLARGE, SaveTo(big, keep, c.filter, nullptr));
      EXPECT_EQ((Bytes{'o', 'l', 'd'}), lumtest::ReadFileBytes(keep));
    }
  }
}

TEST(Savers, AFileThatCannotBeOpenedGivesFileError) {
  BaseBitmap bmp;
  FillBitmap(bmp, 8, 8, MakePixels(8, 8, 0));
  const std::string missingDir = lumtest::TempPath("no-such-dir") + "/out";
  for (Int32 filter : {FILTER_JPG, FILTER_BMP}) {
    EXPECT_EQ(BITMAPRESULT_FILE, SaveTo(bmp, missingDir, filter, nullptr)) << filter;
    EXPECT_EQ(BITMAPRESULT_FILE, SaveTo(bmp, lumtest::TempDir(), filter, nullptr)) << filter;
  }
  EXPECT_FALSE(Exists(lumtest::TempPath("no-such-dir")));
}

TEST(Savers, MarkTheirFilesWithTypeAndCreator) {
  BaseBitmap bmp;
  FillBitmap(bmp, 2, 2, MakePixels(2, 2, 0));
  struct Case {
    Int32 filter, type;
  };
  for (Case c : {Case{FILTER_JPG, MakeFourCC('J', 'P', 'E', 'G')},
                 Case{FILTER_BMP, MakeFourCC('L', 'U', 'M', 'B')}}) {
    const std::string path = lumtest::TempPath("codes");
    ASSERT_EQ(BITMAPRESULT_OK, SaveTo(bmp, path, c.filter, nullptr));
    Int32 type = 0, creator = 0;
    if (!PlatformGetFinderInfo(path.c_str(), &type, &creator))
      GTEST_SKIP() << "no extended attributes on this file system";
    EXPECT_EQ(c.type, type);
    EXPECT_EQ(MakeFourCC('L', 'U', 'M', '1'), creator);
  }
}

// ---- write failures --------------------------------------------------------------------------

namespace {

// Bytes the heap holds in use (glibc); 0 where the allocator does not tell.
size_t HeapInUse() { return mallinfo2().uordblks; }

// A save into a memory file that cannot grow: the first write, from libjpeg's destination
// callbacks, fails. Called directly on the saver so that no other allocation comes first.
Int32 SaveIntoFullMemory(BaseBitmap& bmp) {
  Filename memory;
  memory.SetMemoryTarget();
  JpgSaver saver;
  lumtest::ScopedAllocFailure fail(1, true);
  Int32 result = saver.Save(memory, &bmp, nullptr, SAVEBIT_NONE);
  EXPECT_TRUE(lumtest::InjectedFailureHappened());
  return result;
}

}  // namespace

TEST(JpgSaver, AFailedWriteInsideTheEncoderEndsInFailedAndLeaksNothing) {
  // Under one buffer the only write comes from term_destination; the large picture fails in
  // empty_output_buffer.
  BaseBitmap small, large;
  FillBitmap(small, 5, 3, MakePixels(5, 3, 40));
  FillBitmap(large, 160, 120, MakePixels(160, 120, 40));
  EXPECT_EQ(BITMAPRESULT_FAILED, SaveIntoFullMemory(small));
  EXPECT_EQ(BITMAPRESULT_FAILED, SaveIntoFullMemory(large));

  // The error exit destroys the compressor with everything libjpeg allocated: repeating the
  // failure does not make the heap grow (a leaked compressor costs tens of kilobytes each time).
  const size_t before = HeapInUse();
  for (int i = 0; i < 40; ++i) {
    SaveIntoFullMemory(small);
    SaveIntoFullMemory(large);
  }
  EXPECT_LT(HeapInUse(), before + 16384);
}

TEST(Savers, AFullDeviceIsReportedNeverSuccess) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
  // A large JPEG overflows the file's buffer while libjpeg is writing: the destination callback
  // fails and the encoder stops.
  BaseBitmap large;
  FillBitmap(large, 256, 256, MakePixels(256, 256, 120));
  EXPECT_EQ(BITMAPRESULT_FAILED, SaveTo(large, "/dev/full", FILTER_JPG, nullptr));
  // A small picture fits the file's buffer and reaches the device only when the file is closed;
  // that failure is a failed save as well.
  BaseBitmap small;
  FillBitmap(small, 8, 8, MakePixels(8, 8, 0));
  EXPECT_EQ(BITMAPRESULT_FILE, SaveTo(small, "/dev/full", FILTER_JPG, nullptr));
  EXPECT_EQ(BITMAPRESULT_FILE, SaveTo(small, "/dev/full", FILTER_BMP, nullptr));
  EXPECT_EQ(BITMAPRESULT_FILE, SaveTo(large, "/dev/full", FILTER_BMP, nullptr));
}

namespace {

struct SweepCase {
  BaseBitmap* bitmap;
  Int32 filter;
  bool memory;
};

bool SaveUnderFailure(std::int64_t failAt, void* ctx) {
  SweepCase* c = static_cast<SweepCase*>(ctx);
  Filename name(lumtest::TempPath("sweep").c_str());
  if (c->memory) name.SetMemoryTarget();
  Int32 result;
  {
    lumtest::ScopedAllocFailure fail(failAt);
    result = c->bitmap->Save(name, c->filter, nullptr, SAVEBIT_NONE);
  }
  if (!lumtest::InjectedFailureHappened()) return result == BITMAPRESULT_OK;
  return result == BITMAPRESULT_FAILED || result == BITMAPRESULT_FILE;
}

}  // namespace

TEST(Savers, EveryAllocationFailureEndsInAFailureResultWithoutLeaks) {
  BaseBitmap bmp;
  FillBitmap(bmp, 160, 120, MakePixels(160, 120, 40));
  for (Int32 filter : {FILTER_JPG, FILTER_BMP}) {
    for (bool memory : {false, true}) {
      SweepCase c{&bmp, filter, memory};
      // At least the saver object itself, then the file's buffer or the memory file's blocks.
      EXPECT_GE(lumtest::SweepAllocationFailures("Save", SaveUnderFailure, &c), 2)
          << filter << (memory ? " memory" : " disk");
    }
  }
}
