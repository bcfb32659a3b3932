// The row converter against a second, deliberately plain reading of its tables: the layout table
// is transcribed as text, every sample rule is one direct formula, and both are compared byte
// for byte over exhaustive value sweeps and random rows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imaging/lum_convertbits.h"
#include "lumora.h"
#include "test_support.h"

using namespace lumora;

namespace {

// ---- the reference ---------------------------------------------------------------------------

enum Type { T8 = 0, T16 = 1, TF = 2 };
int SampleSize(int type) { return type == T8 ? 1 : type == T16 ? 2 : 4; }
int SamplesOf(int layout) {
  switch (layout) {
    case 1:
      return 1;
    case 2:
      return 1;
    case 3:
      return 2;
    case 4:
      return 3;
    case 5:
      return 4;
    case 8:
      return 1;
  }
  return 0;
}
COLORMODE Mode(int type, int layout) { return static_cast<COLORMODE>(type * 16 + layout); }

const int kDitherK[64] = {1,  32, 8,  40, 2,  34, 10, 42, 48, 16, 56, 24, 50, 18, 58, 26,
                          12, 44, 4,  36, 14, 46, 6,  38, 60, 28, 52, 20, 62, 30, 54, 22,
                          3,  35, 11, 43, 1,  33, 9,  41, 51, 19, 59, 27, 49, 17, 57, 25,
                          15, 47, 7,  39, 13, 45, 5,  37, 63, 31, 55, 23, 61, 29, 53, 21};
float Threshold(int row, int col) { return static_cast<float>(kDitherK[row * 8 + col]) / 64.0f; }

// One sample of any type: integers in i, floats in f.
struct V {
  long long i = 0;
  float f = 0.0f;
};

V ReadSample(const unsigned char* p, int type) {
  V v;
  if (type == T8) v.i = p[0];
  if (type == T16) {
    unsigned short s;
    std::memcpy(&s, p, 2);
    v.i = s;
  }
  if (type == TF) std::memcpy(&v.f, p, 4);
  return v;
}

void WriteSample(unsigned char* p, int type, V v) {
  if (type == T8) p[0] = static_cast<unsigned char>(v.i);
  if (type == T16) {
    unsigned short s = static_cast<unsigned short>(v.i);
    std::memcpy(p, &s, 2);
  }
  if (type == TF) std::memcpy(p, &v.f, 4);
}

V Int(long long i) {
  V v;
  v.i = i;
  return v;
}
V Flt(float f) {
  V v;
  v.f = f;
  return v;
}

long long ClampTrunc(float e, long long full) {
  double t = std::trunc(static_cast<double>(e));
  if (t < 0) return 0;
  if (t > full) return full;
  return static_cast<long long>(t);
}

// thr < 0: no dithering.
long long Dither16(long long x, float thr) {
  float f = static_cast<float>(x) / 257.0f;
  long long v = static_cast<long long>(f);
  if (v >= 1 && v <= 254 && thr < f - static_cast<float>(v)) return v + 1;
  return v;
}
long long DitherF(float x, float thr) {
  float e = x * 255.001f;
  if (e == 0.0f) return 0;
  double fl = std::trunc(static_cast<double>(e));
  double v = (thr < static_cast<double>(e) - fl) ? fl + 1 : fl;
  return v < 0 ? 0 : v > 255 ? 255 : static_cast<long long>(v);
}

V Full(int dt) { return dt == TF ? Flt(1.0f) : Int(dt == T8 ? 255 : 65535); }

V C(int st, int dt, V x, float thr) {
  switch (st * 3 + dt) {
    case 0:
      return Int(x.i);
    case 1:
      return Int(x.i * 257);
    case 2:
      return Flt(static_cast<float>(x.i) / 255.0f);
    case 3:
      return Int(thr < 0 ? x.i >> 8 : Dither16(x.i, thr));
    case 4:
      return Int(x.i);
    case 5:
      return Flt(static_cast<float>(x.i) / 65535.0f);
    case 6:
      return Int(thr < 0 ? ClampTrunc(x.f * 255.001f, 255) : DitherF(x.f, thr));
    case 7:
      return Int(ClampTrunc(x.f * 65535.0f, 65535));
  }
  return Flt(x.f);
}

V Grey(int st, int dt, V r, V g, V b, float tr, float tg, float tb) {
  switch (st * 3 + dt) {
    case 0:
      return Int((r.i + g.i + b.i) / 3);
    case 1:
      return Int(((r.i + g.i + b.i) * 257) / 3);
    case 2:
      return Flt((static_cast<float>(r.i) / 255.0f + static_cast<float>(g.i) / 255.0f +
                  static_cast<float>(b.i) / 255.0f) /
                 3.0f);
    case 4:
      return Int((r.i + g.i + b.i) / 3);
    case 5:
      return Flt((static_cast<float>(r.i) / 65535.0f + static_cast<float>(g.i) / 65535.0f +
                  static_cast<float>(b.i) / 65535.0f) /
                 3.0f);
    case 8:
      return Flt((r.f + g.f + b.f) / 3.0f);
  }
  // 16 -> 8, float -> 8, float -> 16: the mean of the converted samples.
  return Int((C(st, dt, r, tr).i + C(st, dt, g, tg).i + C(st, dt, b, tb).i) / 3);
}

V Pm(int st, int dt, V c, V a, float thr) {
  unsigned int p = static_cast<unsigned int>(c.i) * static_cast<unsigned int>(a.i);
  switch (st * 3 + dt) {
    case 0:
      return Int((c.i * a.i) >> 8);
    case 1:
      return Int(((c.i * a.i) / 256) * 257);
    case 2:
      return Flt(static_cast<float>((c.i * a.i) >> 8) / 255.0f);
    case 3:
      return Int(thr < 0 ? p >> 24 : Dither16(p >> 16, thr));
    case 4:
      return Int(p >> 16);
    case 5:
      return Flt(static_cast<float>(p >> 16) / 65535.0f);
    case 6:
      return C(st, dt, Flt(c.f * a.f), thr);
    case 7:
      return Int(ClampTrunc(c.f * a.f * 65535.0f, 65535));
  }
  return Flt(c.f * a.f);
}

// The layout table, row by row: a = c(alpha), g = c(grey), A = c(leading alpha), F = full,
// Y = grey(R, G, B), R G B = c(colour), P Q S = pm(colour, alpha).
const char* Recipe(int sl, int dl) {
  static const char* table[6][9] = {};
  static bool filled = false;
  if (!filled) {
    const char* rows[5][5] = {{"a", "aF", "aaa", "aFFF", "a"},
                              {"g", "Fg", "ggg", "Fggg", "g"},
                              {"g", "Ag", "ggg", "Aggg", "A"},
                              {"Y", "FY", "RGB", "FRGB", "F"},
                              {"Y", "AY", "PQS", "ARGB", "A"}};
    const int dls[5] = {2, 3, 4, 5, 8};
    for (int s = 0; s < 5; ++s)
      for (int d = 0; d < 5; ++d) table[s + 1][dls[d]] = rows[s][d];
    filled = true;
  }
  if (sl < 1 || sl > 5 || dl < 0 || dl > 8) return nullptr;
  return table[sl][dl];
}

// Converts one row the plain way; false for the pairs the converter refuses.
bool Reference(int count, const unsigned char* src, int srcInc, int srcMode, unsigned char* dst,
               int dstInc, int dstMode, int ditherRow, int ditherCol) {
  int st = (srcMode >> 4) & 3, dt = (dstMode >> 4) & 3;
  if (st == 3 || dt == 3) return false;
  const char* recipe = Recipe(srcMode & 15, dstMode & 15);
  if (recipe == nullptr) return false;
  int sl = srcMode & 15;
  bool dithers = dt == T8 && (st == T16 || st == TF) && ditherRow != -1;
  int ss = SampleSize(st), ds = SampleSize(dt);
  for (int i = 0; i < count; ++i) {
    const unsigned char* s = src + i * srcInc;
    unsigned char* d = dst + i * dstInc;
    auto at = [&](int offset) {
      return dithers ? Threshold(ditherRow, (ditherCol + i + offset) % 8) : -1.0f;
    };
    int first = (sl == 3 || sl == 5) ? 1 : 0;
    // Only the samples the layout has are read.
    V sample[4];
    for (int k = 0; k < SamplesOf(sl); ++k) sample[k] = ReadSample(s + k * ss, st);
    V s0 = sample[0], r = sample[first], g = sample[first + 1], b = sample[first + 2];
    for (int j = 0; recipe[j] != 0; ++j) {
      V out;
      switch (recipe[j]) {
        case 'a':
          out = C(st, dt, s0, at(0));
          break;
        case 'A':
          out = C(st, dt, s0, at(0));
          break;
        case 'g':
          out = C(st, dt, r, at(0));
          break;
        case 'F':
          out = Full(dt);
          break;
        case 'Y':
          out = Grey(st, dt, r, g, b, at(0), at(1), at(2));
          break;
        case 'R':
          out = C(st, dt, r, at(0));
          break;
        case 'G':
          out = C(st, dt, g, at(1));
          break;
        case 'B':
          out = C(st, dt, b, at(2));
          break;
        case 'P':
          out = Pm(st, dt, r, s0, at(0));
          break;
        case 'Q':
          out = Pm(st, dt, g, s0, at(1));
          break;
        case 'S':
          out = Pm(st, dt, b, s0, at(2));
          break;
      }
      WriteSample(d + j * ds, dt, out);
    }
  }
  return true;
}

// ---- helpers ---------------------------------------------------------------------------------

const int kSrcLayouts[5] = {1, 2, 3, 4, 5};
const int kDstLayouts[5] = {2, 3, 4, 5, 8};

std::string Describe(int srcMode, int dstMode, int row, int col) {
  return "src mode " + std::to_string(srcMode) + " dst mode " + std::to_string(dstMode) +
         " dither " + std::to_string(row) + "," + std::to_string(col);
}

// Runs converter and reference on the same row (fresh destination filled with 0xA5, so that
// stray or missing writes show) and compares every byte.
void ExpectSameAsReference(int count, const std::vector<unsigned char>& src, int srcInc,
                           int srcMode, int dstInc, int dstMode, int row, int col) {
  std::vector<unsigned char> got(static_cast<size_t>(count) * dstInc + 8, 0xA5);
  std::vector<unsigned char> want(got);
  bool okGot = ConvertBits(count, src.data(), srcInc, static_cast<COLORMODE>(srcMode), got.data(),
                           dstInc, static_cast<COLORMODE>(dstMode), row, col);
  bool okWant =
      Reference(count, src.data(), srcInc, srcMode, want.data(), dstInc, dstMode, row, col);
  ASSERT_EQ(okWant, okGot) << Describe(srcMode, dstMode, row, col);
  for (size_t k = 0; k < got.size(); ++k) {
    if (got[k] != want[k]) {
      int pixel = static_cast<int>(k) / dstInc;
      FAIL() << Describe(srcMode, dstMode, row, col) << ": pixel " << pixel << " byte "
             << (k % dstInc) << " is " << int(got[k]) << ", want " << int(want[k]);
    }
  }
}

// A sample value of `type` from an index 0..255 that reaches every 8-bit value, 16-bit values
// spread over the range, and floats from below 0 to above 1.
void PutSample(unsigned char* p, int type, int index, std::mt19937* rng) {
  if (type == T8) p[0] = static_cast<unsigned char>(index);
  if (type == T16) {
    unsigned short s = static_cast<unsigned short>(index * 257 + (rng ? (*rng)() % 257 : 0));
    std::memcpy(p, &s, 2);
  }
  if (type == TF) {
    float f = (static_cast<float>(index) - 32.0f) / 191.0f;  // -0.17 ... 1.17
    std::memcpy(p, &f, 4);
  }
}

}  // namespace

TEST(ConvertBits, DitherTableMatchesTheThresholds) {
  for (int i = 0; i < 64; ++i) EXPECT_EQ(kDitherK[i] / 64.0f, RayDitherMatrix[i]) << i;
}

// Every 8-bit value in every sample position, through all 25 layout pairs and all three
// instances with 8-bit sources; 16-bit and float sources get the matching sweep.
TEST(ConvertBits, EveryLayoutPairAndInstanceMatchesTheTables) {
  std::mt19937 rng(7);
  for (int st = 0; st < 3; ++st) {
    for (int sl : kSrcLayouts) {
      int ss = SampleSize(st), n = SamplesOf(sl);
      int srcInc = n * ss + 3;  // odd strides: samples are unaligned
      std::vector<unsigned char> src(256 * srcInc);
      for (int v = 0; v < 256; ++v)
        for (int j = 0; j < n; ++j)
          PutSample(&src[v * srcInc + j * ss], st, (v + 97 * j) & 255, &rng);
      for (int dt = 0; dt < 3; ++dt) {
        for (int dl : kDstLayouts) {
          int dstInc = SamplesOf(dl) * SampleSize(dt) + 1;
          ExpectSameAsReference(256, src, srcInc, Mode(st, sl), dstInc, Mode(dt, dl), -1, -1);
          for (int row = 0; row < 8; ++row)
            ExpectSameAsReference(256, src, srcInc, Mode(st, sl), dstInc, Mode(dt, dl), row,
                                  (row * 3) % 8);
        }
      }
    }
  }
}

TEST(ConvertBits, PremultiplyOfEveryEightBitPair) {
  std::vector<unsigned char> src(65536 * 4);
  for (int c = 0; c < 256; ++c)
    for (int a = 0; a < 256; ++a) {
      unsigned char* p = &src[(c * 256 + a) * 4];
      p[0] = static_cast<unsigned char>(a);
      p[1] = static_cast<unsigned char>(c);
      p[2] = static_cast<unsigned char>(255 - c);
      p[3] = static_cast<unsigned char>(c ^ a);
    }
  for (int dt = 0; dt < 3; ++dt)
    ExpectSameAsReference(65536, src, 4, COLORMODE_ARGB, 3 * SampleSize(dt), Mode(dt, 4), -1, -1);
}

// Every 16-bit value through the 16 -> 8 sample rule, undithered and at all 64 threshold
// positions, and through the dithered premultiply rule (alpha full gives C - 1 as product).
TEST(ConvertBits, EverySixteenBitValueIntoEightBitAtEveryThreshold) {
  std::vector<unsigned char> grey(65536 * 2);
  std::vector<unsigned char> argb(65536 * 8);
  for (int x = 0; x < 65536; ++x) {
    unsigned short v = static_cast<unsigned short>(x), full = 65535;
    std::memcpy(&grey[x * 2], &v, 2);
    std::memcpy(&argb[x * 8], &full, 2);
    for (int j = 1; j < 4; ++j) std::memcpy(&argb[x * 8 + j * 2], &v, 2);
  }
  ExpectSameAsReference(65536, grey, 2, COLORMODE_GREYw, 1, COLORMODE_GREY, -1, -1);
  ExpectSameAsReference(65536, argb, 8, COLORMODE_ARGBw, 3, COLORMODE_RGB, -1, -1);
  for (int row = 0; row < 8; ++row)
    for (int col = 0; col < 8; ++col) {
      ExpectSameAsReference(65536, grey, 2, COLORMODE_GREYw, 1, COLORMODE_GREY, row, col);
      ExpectSameAsReference(65536, argb, 8, COLORMODE_ARGBw, 3, COLORMODE_RGB, row, col);
    }
}

// Packed 16-bit RGB into packed 8-bit RGB with dithering (what the savers ask for) takes a path
// of its own: every 16-bit value in every channel at every threshold, and rows that end inside
// a group of eight pixels.
TEST(ConvertBits, PackedSixteenBitRgbIntoEightBitAtEveryThreshold) {
  std::vector<unsigned char> src(65536 * 6);
  for (int x = 0; x < 65536; ++x) {
    unsigned short s[3] = {static_cast<unsigned short>(x), static_cast<unsigned short>(65535 - x),
                           static_cast<unsigned short>((x * 40503u) & 0xFFFFu)};
    std::memcpy(&src[x * 6], s, 6);
  }
  for (int row = 0; row < 8; ++row)
    for (int col = 0; col < 8; ++col)
      ExpectSameAsReference(65536, src, 6, COLORMODE_RGBw, 3, COLORMODE_RGB, row, col);
  for (int count : {1, 7, 9, 23, 25, 65533})
    ExpectSameAsReference(count, src, 6, COLORMODE_RGBw, 3, COLORMODE_RGB, 5, 3);
  ExpectSameAsReference(4099, src, 6, COLORMODE_RGBw, 3, COLORMODE_RGB, 2, 1000003);
}

// Packed 8-bit RGB into packed float RGB also has a path of its own: every value in every
// channel, and rows whose samples end inside a step of sixteen.
TEST(ConvertBits, PackedEightBitRgbIntoFloat) {
  std::vector<unsigned char> src(3 * 257);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<unsigned char>(i * 181);
  for (int count : {0, 1, 5, 6, 11, 16, 256, 257})
    ExpectSameAsReference(count, src, 3, COLORMODE_RGB, 12, COLORMODE_RGBf, -1, -1);
}

TEST(ConvertBits, RandomRowsOfEveryPair) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> real(-0.5f, 1.6f);
  for (int round = 0; round < 40; ++round) {
    for (int st = 0; st < 3; ++st) {
      for (int sl : kSrcLayouts) {
        int count = 1 + static_cast<int>(rng() % 128);
        int ss = SampleSize(st);
        int srcInc = SamplesOf(sl) * ss + static_cast<int>(rng() % 5);
        std::vector<unsigned char> src(count * srcInc);
        for (auto& b : src) b = static_cast<unsigned char>(rng());
        if (st == TF) {
          for (int i = 0; i < count; ++i)
            for (int j = 0; j < SamplesOf(sl); ++j) {
              float f = real(rng);
              std::memcpy(&src[i * srcInc + j * 4], &f, 4);
            }
        }
        int row = static_cast<int>(rng() % 9) - 1, col = row < 0 ? -1 : static_cast<int>(rng() % 8);
        for (int dt = 0; dt < 3; ++dt)
          for (int dl : kDstLayouts)
            ExpectSameAsReference(count, src, srcInc, Mode(st, sl),
                                  SamplesOf(dl) * SampleSize(dt) + static_cast<int>(rng() % 3),
                                  Mode(dt, dl), row, col);
      }
    }
  }
}

TEST(ConvertBits, WorkedExamples) {
  unsigned char out[16];
  const unsigned char rgb[3] = {10, 20, 31};
  ASSERT_TRUE(ConvertBits(1, rgb, 3, COLORMODE_RGB, out, 1, COLORMODE_GREY, -1, -1));
  EXPECT_EQ(20, out[0]);
  unsigned short w;
  ConvertBits(1, rgb, 3, COLORMODE_RGB, out, 2, COLORMODE_GREYw, -1, -1);
  std::memcpy(&w, out, 2);
  EXPECT_EQ(5225, w);

  const unsigned char argb[4] = {128, 200, 100, 0};
  ConvertBits(1, argb, 4, COLORMODE_ARGB, out, 3, COLORMODE_RGB, -1, -1);
  EXPECT_EQ(100, out[0]);
  EXPECT_EQ(50, out[1]);
  EXPECT_EQ(0, out[2]);
  ConvertBits(1, argb, 4, COLORMODE_ARGB, out, 1, COLORMODE_GREY, -1, -1);
  EXPECT_EQ(100, out[0]);
  ConvertBits(1, argb, 4, COLORMODE_ARGB, out, 1, COLORMODE_MASK, -1, -1);
  EXPECT_EQ(128, out[0]);

  const unsigned char v77 = 77;
  ConvertBits(1, &v77, 1, COLORMODE_GREY, out, 4, COLORMODE_ARGB, -1, -1);
  EXPECT_EQ(lumtest::ToHex(out, 4), "ff 4d 4d 4d");
  ConvertBits(1, &v77, 1, COLORMODE_ALPHA, out, 4, COLORMODE_ARGB, -1, -1);
  EXPECT_EQ(lumtest::ToHex(out, 4), "4d ff ff ff");
  ConvertBits(1, rgb, 3, COLORMODE_RGB, out, 1, COLORMODE_MASK, -1, -1);
  EXPECT_EQ(255, out[0]);

  unsigned short s = 0x8180;
  ConvertBits(1, reinterpret_cast<unsigned char*>(&s), 2, COLORMODE_GREYw, out, 1, COLORMODE_GREY,
              -1, -1);
  EXPECT_EQ(0x81, out[0]);
  for (int row = 0; row < 8; ++row)
    for (int col = 0; col < 8; ++col) {
      ConvertBits(1, reinterpret_cast<unsigned char*>(&s), 2, COLORMODE_GREYw, out, 1,
                  COLORMODE_GREY, row, col);
      EXPECT_EQ(129, out[0]);
    }
  s = 200;
  ConvertBits(1, reinterpret_cast<unsigned char*>(&s), 2, COLORMODE_GREYw, out, 1, COLORMODE_GREY,
              0, 0);
  EXPECT_EQ(0, out[0]);

  const float f[6] = {1.0f, 0.5f, 2.0f, -0.5f, NAN, INFINITY};
  ConvertBits(6, reinterpret_cast<const unsigned char*>(f), 4, COLORMODE_GREYf, out, 1,
              COLORMODE_GREY, -1, -1);
  EXPECT_EQ(lumtest::ToHex(out, 6), "ff 7f ff 00 00 ff");
  ConvertBits(6, reinterpret_cast<const unsigned char*>(f), 4, COLORMODE_GREYf, out, 1,
              COLORMODE_GREY, 3, 5);
  EXPECT_EQ(lumtest::ToHex(out, 6), "ff 7f ff 00 00 ff");  // 127.5005 stays below 62/64
  unsigned short w6[6];
  ConvertBits(6, reinterpret_cast<const unsigned char*>(f), 4, COLORMODE_GREYf,
              reinterpret_cast<unsigned char*>(w6), 2, COLORMODE_GREYw, -1, -1);
  EXPECT_EQ(65535, w6[0]);
  EXPECT_EQ(0, w6[3]);
  EXPECT_EQ(0, w6[4]);
  EXPECT_EQ(65535, w6[5]);
  float kept[6];
  ConvertBits(6, reinterpret_cast<const unsigned char*>(f), 4, COLORMODE_GREYf,
              reinterpret_cast<unsigned char*>(kept), 4, COLORMODE_GREYf, -1, -1);
  EXPECT_EQ(2.0f, kept[2]);
  EXPECT_EQ(-0.5f, kept[3]);
}

// Dithering reaches only the instances into 8-bit samples, and the RGB samples of one pixel use
// consecutive columns.
TEST(ConvertBits, DitherColumnsAdvancePerSample) {
  // 8-bit sources and all destinations other than 8-bit ignore the position.
  const unsigned char rgb[3] = {200, 100, 3};
  unsigned char a[12], b[12];
  for (int dt = 0; dt < 3; ++dt) {
    ConvertBits(1, rgb, 3, COLORMODE_RGB, a, 12, Mode(dt, 4), -1, -1);
    ConvertBits(1, rgb, 3, COLORMODE_RGB, b, 12, Mode(dt, 4), 4, 2);
    EXPECT_EQ(0, std::memcmp(a, b, 3 * SampleSize(dt)));
  }
  // Fraction 0.5 of x / 257 in each sample: rounded up exactly where the threshold is below it.
  unsigned short half[3];
  for (int j = 0; j < 3; ++j) half[j] = static_cast<unsigned short>(100 * 257 + 128);
  for (int col = 0; col < 8; ++col) {
    ConvertBits(1, reinterpret_cast<unsigned char*>(half), 6, COLORMODE_RGBw, a, 3, COLORMODE_RGB,
                1, col);
    for (int j = 0; j < 3; ++j) {
      float frac = (100 * 257 + 128) / 257.0f - 100;
      EXPECT_EQ(Threshold(1, (col + j) % 8) < frac ? 101 : 100, a[j]) << col << " " << j;
    }
  }
}

TEST(ConvertBits, RefusesUnknownLayoutsAndTypesWithoutWriting) {
  unsigned char src[64];
  for (int i = 0; i < 64; ++i) src[i] = static_cast<unsigned char>(i * 5);
  for (int st = 0; st < 4; ++st)
    for (int sl = 0; sl < 16; ++sl)
      for (int dt = 0; dt < 4; ++dt)
        for (int dl = 0; dl < 16; ++dl) {
          bool known = st < 3 && dt < 3 && sl >= 1 && sl <= 5 &&
                       (dl == 2 || dl == 3 || dl == 4 || dl == 5 || dl == 8);
          unsigned char dst[64];
          std::memset(dst, 0xA5, sizeof dst);
          bool ok = ConvertBits(2, src, 16, static_cast<COLORMODE>(st * 16 + sl), dst, 16,
                                static_cast<COLORMODE>(dt * 16 + dl), 0, 0);
          EXPECT_EQ(known, ok) << st << " " << sl << " " << dt << " " << dl;
          if (!known) {
            for (unsigned char c : dst) ASSERT_EQ(0xA5, c);
          }
        }
  // Handled pairs with nothing to do report success.
  unsigned char dst = 0xA5;
  EXPECT_TRUE(ConvertBits(0, src, 3, COLORMODE_RGB, &dst, 1, COLORMODE_GREY, -1, -1));
  EXPECT_TRUE(ConvertBits(-4, src, 3, COLORMODE_RGB, &dst, 1, COLORMODE_GREY, -1, -1));
  EXPECT_FALSE(ConvertBits(0, src, 3, COLORMODE_RGB, &dst, 1, COLORMODE_ALPHA, -1, -1));
  EXPECT_EQ(0xA5, dst);
  EXPECT_TRUE(
      (_ConvertBits<float, float>(0, src, 4, COLORMODE_GREYf, &dst, 4, COLORMODE_MASKf, -1, -1)));
}
