// IES photometric lights: the ten real luminaire files, the file grammar, intensity and power
// ratio, and the scene record in every version.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "lights/lum_ieslight.h"
#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using Bytes = std::vector<unsigned char>;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string IesPath(const char* name) {
  return std::string(LUMORA_SHARED_DATA_DIR) + "/ies/" + name;
}

// Imports text as a file (a memory file).
Int32 ImportText(IESLight& light, const std::string& text) {
  Filename name;
  name.SetMemoryData(text.data(), static_cast<Int64>(text.size()));
  return light.ImportFromFile(name);
}

std::string Utf8(const String& s) {
  char buf[1024];
  s.GetCString(buf, sizeof buf, STRINGENCODING_UTF8);
  return buf;
}

// A direction from the vertical angle (0 straight down) and the horizontal angle (0 along +y,
// 90 along +x), in degrees.
Vector64 Dir(double theta, double phi) {
  const double t = theta * kPi / 180, p = phi * kPi / 180;
  return Vector64(std::sin(t) * std::sin(p), std::sin(t) * std::cos(p), -std::cos(t));
}

Bytes WriteRecord(const IESLight& light) {
  lumtest::MemWriter w;
  EXPECT_TRUE(light.Write(&w.hf));
  return w.Finish();
}

void ExpectSameLight(const IESLight& a, const IESLight& b) {
  EXPECT_EQ(a.GetFormat(), b.GetFormat());
  EXPECT_EQ(a.GetTilt(), b.GetTilt());
  for (Int32 i = 0; i < IESTEXT_COUNT; ++i)
    EXPECT_TRUE(a.GetText(IESTEXT(i)) == b.GetText(IESTEXT(i))) << i;
  EXPECT_EQ(a.GetShape(), b.GetShape());
  EXPECT_TRUE(a.GetOpeningSize() == b.GetOpeningSize());
  ASSERT_EQ(a.GetVerticalCount(), b.GetVerticalCount());
  ASSERT_EQ(a.GetHorizontalCount(), b.GetHorizontalCount());
  for (Int32 i = 0; i < a.GetVerticalCount(); ++i)
    EXPECT_EQ(a.GetVerticalAngles()[i], b.GetVerticalAngles()[i]);
  for (Int32 j = 0; j < a.GetHorizontalCount(); ++j)
    EXPECT_EQ(a.GetHorizontalAngles()[j], b.GetHorizontalAngles()[j]);
  const Int64 cells = Int64(a.GetVerticalCount()) * a.GetHorizontalCount();
  for (Int64 c = 0; c < cells; ++c) EXPECT_EQ(a.GetCandela()[c], b.GetCandela()[c]);
  EXPECT_EQ(a.GetMaxCandela(), b.GetMaxCandela());
  EXPECT_EQ(a.GetPowerRatio(), b.GetPowerRatio());
}

// ---- the real files ----

struct RealFile {
  const char* name;
  Int32 nv, nh;  // the counts of the light: those of the file, or of the grid a type B file is
  double v0, v1, h0, h1;  // resampled onto (down to the horizon, where its light ends)
  Int32 shape;
  double firstCandela;    // the first table value x multiplier x ballast factors (for type B, the
                          // value of the file straight along the beam axis)
  double statedLumens;    // [_ABSOLUTELUMENS], 0 when the file states none
  Int32 photometricType;  // 1 C, 2 B
  bool mirrorX;           // the file gives one side only: x and -x evaluate alike
  UInt64 recordHash;      // FNV-1a of the record of a type C file, as every earlier import wrote
};

const RealFile kRealFiles[] = {
    {"1.ies", 74, 12, 0, 180, 0, 90, 4, 389.0 * 1.032007, 9217, 1, true, 0x323c1df390d99d13ull},
    {"2.ies", 73, 22, 0, 180, 0, 180, -1, 1732.0 * 1.045644, 5834, 1, true, 0xef0ae90747e11badull},
    {"3.ies", 37, 25, 0, 180, 0, 360, 1, 4895.584 * 1.0043784, 0, 1, false, 0xba85067f8dd883a0ull},
    {"4.ies", 73, 9, 0, 180, 0, 180, -1, 2623.0 * 0.9687, 5822, 1, true, 0xddcd4f64680ec138ull},
    {"5.ies", 37, 5, 0, 90, 0, 90, 1, 278.0, 754, 1, true, 0xd6a0d49f0a6fa65eull},
    {"6.ies", 37, 9, 0, 180, 0, 360, -1, 4660.115, 0, 1, false, 0x95b01862eceaffc1ull},
    {"7.ies", 37, 1, 0, 90, 0, 0, -1, 269.0, 532, 1, true, 0xff580e7782948605ull},
    {"8.ies", 199, 38, 0, 180, 0, 180, 4, 22.0 * 0.809, 828, 1, true, 0xd3f5581d865b44c9ull},
    {"flood-1.ies", 91, 361, 0, 90, 0, 360, 1, 4266.0, 10601, 2, true, 0},
    {"flood-2.ies", 91, 361, 0, 90, 0, 360, 1, 12688.38, 0, 2, false, 0},
};

UInt64 Fnv1a(const Bytes& bytes) {
  UInt64 h = 14695981039346656037ull;
  for (unsigned char b : bytes) h = (h ^ b) * 1099511628211ull;
  return h;
}

// The luminous flux of a type A or B file integrated in its own frame, independently of the
// light: the file's numbers read with strtod, the table interpolated bilinearly on its grid and
// summed over a fine midpoint grid, weighted by the cosine of the latitude (the horizontal angle
// for type B, the vertical one for type A). A file with horizontal angles from 0 is mirrored.
// Also gives the input watts.
double NativeFlux(const std::string& path, double* watts) {
  const Bytes bytes = lumtest::ReadFileBytes(path);
  const std::string text(bytes.begin(), bytes.end());
  const char* p = text.c_str() + text.find('\n', text.find("TILT=")) + 1;
  std::vector<double> n;
  for (char* end = nullptr;; p = end) {
    const double v = std::strtod(p, &end);
    if (end == p) break;
    n.push_back(v);
  }
  const int nv = int(n[3]), nh = int(n[4]), type = int(n[5]);
  *watts = n[12];
  const double* v = &n[13];
  const double* h = v + nv;
  const double* table = h + nh;
  const double scale = n[2] * n[10] * n[11];
  auto locate = [](const double* a, int count, double x, int* k, double* t) {
    if (count == 1) return *k = 0, *t = 0, x == a[0];
    if (x < a[0] || x > a[count - 1]) return false;
    *k = 0;
    while (*k + 2 < count && x > a[*k + 1]) ++*k;
    *t = (x - a[*k]) / (a[*k + 1] - a[*k]);
    return true;
  };
  constexpr int kSteps = 720;
  const double d = kPi / kSteps;
  double flux = 0;
  for (int a = 0; a < kSteps; ++a) {
    const double va = -90 + (a + 0.5) * 180.0 / kSteps;
    for (int b = 0; b < kSteps; ++b) {
      double hb = -90 + (b + 0.5) * 180.0 / kSteps;
      if (h[0] >= 0) hb = std::fabs(hb);
      int i, j;
      double t, s;
      if (!locate(v, nv, va, &i, &t) || !locate(h, nh, hb, &j, &s)) continue;
      auto at = [&](int jj, int ii) { return table[jj * nv + ii] * scale; };
      const int i1 = nv > 1 ? i + 1 : i, j1 = nh > 1 ? j + 1 : j;
      const double value = (1 - s) * ((1 - t) * at(j, i) + t * at(j, i1)) +
                           s * ((1 - t) * at(j1, i) + t * at(j1, i1));
      flux += value * std::cos((type == 2 ? hb : va) * kPi / 180) * d * d;
    }
  }
  return flux;
}

TEST(IESLight, RealFilesImportWithTheirGridsAndMultipliers) {
  for (const RealFile& f : kRealFiles) {
    SCOPED_TRACE(f.name);
    IESLight light;
    ASSERT_EQ(1, light.ImportFromFile(Filename(IesPath(f.name).c_str())));
    EXPECT_EQ(3, light.GetFormat());
    EXPECT_EQ(1, light.GetTilt());
    EXPECT_EQ(f.shape, light.GetShape());
    ASSERT_EQ(f.nv, light.GetVerticalCount());
    ASSERT_EQ(f.nh, light.GetHorizontalCount());
    EXPECT_EQ(f.v0, light.GetVerticalAngles()[0]);
    EXPECT_EQ(f.v1, light.GetVerticalAngles()[f.nv - 1]);
    EXPECT_EQ(f.h0, light.GetHorizontalAngles()[0]);
    EXPECT_EQ(f.h1, light.GetHorizontalAngles()[f.nh - 1]);
    EXPECT_NEAR(f.firstCandela, light.GetCandela()[0], 1e-9 * (1 + f.firstCandela));
    EXPECT_EQ(0, Utf8(light.GetText(IESTEXT_MANUFACTURER)).find("RAB LIGHTING"));
    const double flux = light.GetMaxCandela() * light.GetPowerRatio();
    std::printf("    %-12s max %9.2f cd  power ratio %.5f  flux %8.1f lm  stated %6.0f lm\n",
                f.name, light.GetMaxCandela(), light.GetPowerRatio(), flux, f.statedLumens);
    // The flux matches the one the laboratory states within the sampling error (type C) or
    // within that and the resampling of a type B grid.
    if (f.statedLumens > 0) {
      EXPECT_NEAR(f.statedLumens, flux, (f.photometricType == 1 ? 0.015 : 0.03) * f.statedLumens);
    }
    if (f.photometricType == 1) {
      EXPECT_EQ(f.recordHash, Fnv1a(WriteRecord(light)));
    } else {
      // A type B file against its own table integrated in its own frame; the luminous
      // efficacy of what the file measured must be that of a real LED flood light.
      double watts = 0;
      const double native = NativeFlux(IesPath(f.name), &watts);
      std::printf("    %-12s flux in its own frame %8.1f lm, %.1f lm/W\n", f.name, native,
                  flux / watts);
      EXPECT_NEAR(native, flux, 0.02 * native);
      EXPECT_GT(flux / watts, 60.0);
      EXPECT_LT(flux / watts, 200.0);
    }
  }
}

TEST(IESLight, RealFilesEvaluateSymmetricDirectionsAlike) {
  for (const RealFile& f : kRealFiles) {
    SCOPED_TRACE(f.name);
    IESLight light;
    ASSERT_EQ(1, light.ImportFromFile(Filename(IesPath(f.name).c_str())));
    const double span = f.h1 - f.h0;
    for (double theta = 2.5; theta < 180; theta += 17.5) {
      for (double phi = 3; phi < 360; phi += 29) {
        const double i = light.ComputeLightIntensity(Dir(theta, phi));
        EXPECT_GE(i, 0.0);
        EXPECT_LE(i, 1.5);
        if (span < 45) {  // one plane: the same all around
          EXPECT_DOUBLE_EQ(light.ComputeLightIntensity(Dir(theta, 0)), i);
        } else if (span < 135) {  // one quadrant mirrored into all four
          EXPECT_NEAR(light.ComputeLightIntensity(Dir(theta, 180 - phi)), i, 1e-9);
          EXPECT_NEAR(light.ComputeLightIntensity(Dir(theta, -phi)), i, 1e-9);
        } else if (span < 225) {  // one half mirrored about the first plane
          EXPECT_NEAR(light.ComputeLightIntensity(Dir(theta, 2 * f.h0 - phi)), i, 1e-9);
        }
        if (f.mirrorX) {
          EXPECT_NEAR(light.ComputeLightIntensity(Dir(theta, -phi)), i, 1e-9);
        }
      }
    }
    // At the grid points the interpolation gives the table (up to the slight tilt of every
    // direction the evaluation makes).
    {
      const Int32 nv = light.GetVerticalCount();
      for (Int32 j = 0; j < light.GetHorizontalCount(); j += 3) {
        for (Int32 i = 1; i + 1 < nv; i += 5) {
          const double expected = light.GetCandela()[j * nv + i] / light.GetMaxCandela();
          const double got = light.ComputeLightIntensity(
              Dir(light.GetVerticalAngles()[i], light.GetHorizontalAngles()[j]));
          EXPECT_NEAR(expected, got, 2e-3) << j << " " << i;
        }
      }
    }
  }
}

TEST(IESLight, RealFilesRoundTripThroughTheRecord) {
  for (const RealFile& f : kRealFiles) {
    SCOPED_TRACE(f.name);
    IESLight light;
    ASSERT_EQ(1, light.ImportFromFile(Filename(IesPath(f.name).c_str())));
    const Bytes first = WriteRecord(light);
    lumtest::MemReader r(first);
    IESLight back;
    ASSERT_TRUE(back.Read(&r.hf));
    EXPECT_TRUE(r.AtEnd());
    ExpectSameLight(light, back);
    EXPECT_EQ(first, WriteRecord(back));
    IESLight* copy = light.Copy();
    ASSERT_NE(nullptr, copy);
    ExpectSameLight(light, *copy);
    IESLight::Free(copy);
  }
}

// ---- the file grammar ----

// A file with a one-value table whose candela multiplier is `multiplier`.
std::string OneValueFile(const std::string& multiplier) {
  return "IESNA:LM-63-2002\r\nTILT=NONE\r\n1 -1 " + multiplier +
         " 1 1 1 2 0 0 0\r\n1 1 10\r\n0\r\n0\r\n10\r\n";
}

TEST(IESLightParser, NumberGrammar) {
  struct Case {
    const char* token;
    bool ok;
    double value;
  } cases[] = {
      {"1.5E2", true, 150}, {"-2", true, -2},       {"+7", true, 7},      {"2-1", false, 0},
      {"1.2.3", false, 0},  {"1e-2", true, 0.01},   {"2.5e+1", true, 25}, {".5", true, 0.5},
      {"1E2E3", false, 0},  {"0x10", false, 0},     {"3,", true, 3},      {"1d", false, 0},
      {"12", true, 12},     {"-0.25", true, -0.25}, {"4.", true, 4},      {"+-1", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.token);
    IESLight light;
    const Int32 r = ImportText(light, OneValueFile(c.token));
    if (!c.ok) {
      EXPECT_EQ(-5, r);
      EXPECT_EQ(0, light.GetVerticalCount());
      continue;
    }
    ASSERT_EQ(1, r);
    EXPECT_NEAR(10 * c.value, light.GetCandela()[0], 1e-12);
  }
}

TEST(IESLightParser, SeparatorsLinesAndKeywordsParseAlike) {
  const char* forms[] = {
      // one number per token, blanks, commas, tabs, numbers spread over lines
      "IESNA91\nTILT=NONE\n1 -1 2 3 2 1 2 0 0 0\n1 1 5\n0 45 90\n0 90\n1 2 3 4 5 6\n",
      "IESNA91\r\n\r\nTILT=NONE\r\n1,-1,2,3,2,1,2,0,0,0\r\n1,1,5,0,45,90,0,90,1,2,3,4,5,6\r\n",
      "IESNA91\nTILT=NONE\n1\t-1\t 2 3\n2\n1 2 0\n0 0 1\n1 5\n0\n45\n\n90 0\n90 1 2\n3 4 5\n6",
  };
  IESLight first;
  ASSERT_EQ(1, ImportText(first, forms[0]));
  EXPECT_EQ(1, first.GetFormat());
  EXPECT_EQ(2 * 6, first.GetCandela()[5]);
  for (const char* form : forms) {
    IESLight light;
    ASSERT_EQ(1, ImportText(light, form)) << form;
    ExpectSameLight(first, light);
  }
  // Texts: with a blank after the keyword or without one, at most 256 characters.
  IESLight texts;
  const std::string longText(300, 'x');
  ASSERT_EQ(1, ImportText(texts,
                          "IESNA:LM-63-1995\n[MANUFAC]  Maker Inc.\n[LUMCAT]A-1\n"
                          "[LUMINAIRE]\t" +
                              longText + "\n[LAMPCAT] L/2 x\n[LAMP]LED\n" + "[OTHER] ignored\n" +
                              (forms[0] + 8)));
  EXPECT_EQ(2, texts.GetFormat());
  EXPECT_EQ("Maker Inc.", Utf8(texts.GetText(IESTEXT_MANUFACTURER)));
  EXPECT_EQ("A-1", Utf8(texts.GetText(IESTEXT_CATALOGUE)));
  EXPECT_EQ(longText.substr(0, 256), Utf8(texts.GetText(IESTEXT_LUMINAIRE)));
  EXPECT_EQ("L/2 x", Utf8(texts.GetText(IESTEXT_LAMPCATALOGUE)));
  EXPECT_EQ("LED", Utf8(texts.GetText(IESTEXT_LAMP)));
}

TEST(IESLightParser, TiltFormsAndTheHead) {
  const std::string block = "1 -1 1 2 1 1 2 0 0 0\n1 1 1\n0 90\n0\n100 50\n";
  struct Case {
    std::string text;
    Int32 result;
    Int32 tilt;
  } cases[] = {
      {"IESNA91\nTILT=NONE\n" + block, 1, 1},
      // lamp-to-luminaire geometry 1, three angles and three multipliers, dropped
      {"IESNA91\nTILT=INCLUDE\n1\n3\n0 45 90\n1 0.9 0.8\n" + block, 1, 2},
      {"IESNA91\nTILT=lamp.tlt\n" + block, -5, 0},
      {"IESNA91\n[MANUFAC] no tilt line at all\n" + block, -5, 0},
      {"tilt=none in lower case is found in the head but is no keyword\n" + block, -5, 0},
      {"no keyword here\n" + block, -2, 0},
      {"TILT=NONE\n1 -1 1 2 1 1 2 0 0 0\n1 1 1\n0 90\n0\n100\n", -5, 1},  // ends in the table
      {"TILT=NONE\n1 -1 1 2 1 1 2 0 0 0\n1 1 1\n0 90\n0\n100 5x\n", -5, 1},
      {"TILT", -2, 0},  // too short to be looked at
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    IESLight light;
    EXPECT_EQ(c.result, ImportText(light, c.text));
    EXPECT_EQ(c.tilt, light.GetTilt());
    EXPECT_EQ(c.result == 1 ? 2 : 0, light.GetVerticalCount());
  }
  IESLight light;
  EXPECT_EQ(-1, light.ImportFromFile(Filename(lumtest::TempPath("missing.ies").c_str())));
}

TEST(IESLightParser, AFailedImportLeavesTheTablesItHad) {
  IESLight light;
  ASSERT_EQ(1, ImportText(light, OneValueFile("3")));
  const Bytes before = WriteRecord(light);
  EXPECT_EQ(-5, ImportText(light, "IESNA:LM-63-2002\nno tilt line\n"));
  EXPECT_EQ(-5, ImportText(light, OneValueFile("3").substr(0, 60)));
  EXPECT_EQ(before, WriteRecord(light));
  // A TILT that names a file leaves no usable tilt, even in a light that had one: the block
  // after it is not taken for photometry.
  EXPECT_EQ(-5,
            ImportText(light, "IESNA91\nTILT=lamp.tlt\n1 -1 1 1 1 1 2 0 0 0\n1 1 1\n0\n0\n9\n"));
  EXPECT_EQ(0, light.GetTilt());
  EXPECT_EQ(3 * 10, light.GetCandela()[0]);
}

TEST(IESLightParser, CountsLongLinesAndOpenings) {
  // 1024 x 1024 empty tokens (each a comma, read as 0) are accepted; 1025 fails.
  for (Int32 n : {1024, 1025}) {
    std::string text =
        "TILT=NONE\n1 -1 1 " + std::to_string(n) + " " + std::to_string(n) + " 1 2 0 0 0\n1 1 1\n";
    text.append(size_t(n) * n + 2 * n, ',');
    IESLight light;
    EXPECT_EQ(n == 1024 ? 1 : -5, ImportText(light, text)) << n;
    EXPECT_EQ(n == 1024 ? n : 0, light.GetVerticalCount());
  }
  // Counts beyond the bytes of the file fail before the tables are allocated.
  // (as many allocations as a count above 1024 that fails at once).
  std::int64_t calls[2];
  for (int k = 0; k < 2; ++k) {
    IESLight light;
    const std::int64_t before = lumtest::AllocationCalls();
    EXPECT_EQ(-5, ImportText(light, std::string("TILT=NONE\n1 -1 1 ") +
                                        (k == 0 ? "1000 1000" : "1025 1025") +
                                        " 1 2 0 0 0\n1 1 1\n0 1 2\n"));
    calls[k] = lumtest::AllocationCalls() - before;
  }
  EXPECT_EQ(calls[1], calls[0]);
  // A line longer than the line buffer goes on as the next line: a comment of 30000
  // characters then a number line split in the middle of a long run of blanks.
  {
    std::string text = "IESNA91\n" + std::string(30000, '#') + "\nTILT=NONE\n1 -1 1 1 1 1 2" +
                       std::string(40000, ' ') + "0 0 0\n1 1 1\n0\n0\n42\n";
    IESLight light;
    ASSERT_EQ(1, ImportText(light, text));
    EXPECT_EQ(42, light.GetCandela()[0]);
  }
  // The opening from the signs of width, length and height; feet when the units type is 1.
  struct Opening {
    double w, l, h;
    Int32 shape;
    Vector64 size;
  } openings[] = {
      {0, 0, 0, -1, {0, 0, 0}},  {1, 2, 0, 1, {1, 2, 0}},   {1, 0, 3, 1, {1, 3, 0}},
      {0, 2, 3, 1, {3, 2, 0}},   {1, 2, 3, 4, {1, 2, 3}},   {-1, 0, 0, 0, {1, 1, 1}},
      {-1, 0, -3, 2, {1, 1, 1}}, {-1, 0, 3, 3, {1, 1, 3}},  {0, 2, -3, 8, {2, 3, 3}},
      {1, 0, -3, 8, {1, 3, 3}},  {-1, 2, 3, 0, {1, 2, 0}},  {1, -2, 3, 0, {1, 2, 0}},
      {-1, 2, -3, 2, {1, 2, 3}}, {1, -2, -3, 2, {1, 2, 3}}, {-1, -2, 3, -1, {0, 0, 0}},
      {0, -2, 0, -1, {0, 0, 0}},
  };
  for (int units : {2, 1}) {
    const double k = units == 1 ? 0.3048 : 1.0;
    for (const Opening& o : openings) {
      char block[200];
      std::snprintf(block, sizeof block, "TILT=NONE\n1 -1 1 1 1 1 %d %g %g %g\n1 1 1\n0\n0\n1\n",
                    units, o.w, o.l, o.h);
      IESLight light;
      ASSERT_EQ(1, ImportText(light, block)) << block;
      EXPECT_EQ(o.shape, light.GetShape()) << block;
      EXPECT_TRUE(Vector64(o.size.x * k, o.size.y * k, o.size.z * k) == light.GetOpeningSize())
          << block;
    }
  }
}

// ---- evaluation ----

// A constant table over the given vertical angles, four horizontal planes round the axis.
std::string ConstantFile(const std::string& vertical, int nv) {
  return "TILT=NONE\n1 -1 1 " + std::to_string(nv) + " 5 1 2 0 0 0\n1 1 1\n" + vertical +
         "\n0 90 180 270 360\n" + [&] {
           std::string t;
           for (int i = 0; i < 5 * nv; ++i) t += "500 ";
           return t;
         }();
}

TEST(IESLight, IntensityAndPowerRatio) {
  IESLight sphere, half, none;
  ASSERT_EQ(1, ImportText(sphere, ConstantFile("0 45 90 135 180", 5)));
  ASSERT_EQ(1, ImportText(half, ConstantFile("0 30 60 90", 4)));
  EXPECT_EQ(500, sphere.GetMaxCandela());
  EXPECT_NEAR(4 * kPi, sphere.GetPowerRatio(), 4 * kPi * 0.001);
  EXPECT_NEAR(2 * kPi, half.GetPowerRatio(), 2 * kPi * 0.01);
  EXPECT_EQ(0.0, half.ComputeLightIntensity(Dir(120, 10)));
  EXPECT_DOUBLE_EQ(1.0, half.ComputeLightIntensity(Dir(60, 200)));
  // An empty light: no intensity anywhere, power ratio 0 once computed.
  EXPECT_EQ(0.0, none.ComputeLightIntensity(Vector64(0, 0, -1)));
  EXPECT_EQ(2 * kPi, none.GetPowerRatio());
  none.ComputePowerRatio();
  EXPECT_EQ(0.0, none.GetPowerRatio());

  // Straight down is evaluated a hair off the axis: theta = acos(0.999999), about 0.081 deg.
  // A linear ramp over the first degree shows it.
  IESLight ramp;
  ASSERT_EQ(1, ImportText(ramp, "TILT=NONE\n1 -1 1 2 1 1 2 0 0 0\n1 1 1\n0 1\n0\n0 1000\n"));
  EXPECT_NEAR(std::acos(0.999999) * 180 / kPi, ramp.ComputeLightIntensity(Vector64(0, 0, -1)),
              1e-12);
  // Equal neighbouring angles weigh 1 instead of dividing by zero.
  IESLight flat;
  ASSERT_EQ(1, ImportText(flat,
                          "TILT=NONE\n1 -1 1 3 2 1 2 0 0 0\n1 1 1\n0 0 180\n0 0\n"
                          "10 20 30 40 50 60\n"));
  EXPECT_TRUE(std::isfinite(flat.ComputeLightIntensity(Dir(0, 0))));
  EXPECT_TRUE(std::isfinite(flat.GetPowerRatio()));
  // Angles out of order (a damaged file) are searched one by one: the first interval whose
  // upper angle lies above, here 0 .. 90 degrees in both directions.
  IESLight unordered;
  ASSERT_EQ(1, ImportText(unordered,
                          "TILT=NONE\n1 -1 1 3 3 1 2 0 0 0\n1 1 1\n0 90 45\n0 90 45\n"
                          "0 0 0 90 90 90 0 0 0\n"));
  EXPECT_NEAR(0.5, unordered.ComputeLightIntensity(Dir(30, 45)), 1e-9);
  EXPECT_TRUE(std::isfinite(unordered.GetPowerRatio()));

  struct Angle {
    double a, b, expected;
  } angles[] = {
      {0, 1, 0},         {1, 0, kPi / 2},      {0, 0, kPi / 2},
      {1, 1, kPi / 4},   {1, -1, 3 * kPi / 4}, {-1, -1, -3 * kPi / 4},
      {-1, 1, -kPi / 4}, {0, -1, kPi},
  };
  for (const Angle& a : angles) EXPECT_NEAR(a.expected, IESLight::ATan2(a.a, a.b), 1e-15);
}

// ---- photometric types A and B ----

std::vector<double> Angles(double from, double to, double step) {
  std::vector<double> a;
  for (double x = from; x <= to + 1e-9; x += step) a.push_back(x);
  return a;
}

// A file of the photometric type whose table holds value(vertical, horizontal) on the grid.
std::string TypedFile(int type, const std::vector<double>& v, const std::vector<double>& h,
                      const std::function<double(double, double)>& value) {
  std::string t = "TILT=NONE\n1 -1 1 " + std::to_string(v.size()) + " " + std::to_string(h.size()) +
                  " " + std::to_string(type) + " 2 0 0 0\n1 1 1\n";
  for (double a : v) t += std::to_string(a) + " ";
  t += "\n";
  for (double b : h) t += std::to_string(b) + " ";
  t += "\n";
  for (double b : h) {
    for (double a : v) t += std::to_string(value(a, b)) + " ";
    t += "\n";
  }
  return t;
}

TEST(IESLight, PhotometricTypesAAndBBecomeTheDownwardGrid) {
  const auto full = Angles(-90, 90, 1), upper = Angles(0, 90, 1), coarse = Angles(-90, 90, 10);
  const std::vector<double> one = {0};
  struct Case {
    int type;
    std::vector<double> v, h;
    double powerRatio;        // of a constant table, within 1.5 %
    Int32 nv, nh;             // of the light
    double v1;                // its last vertical angle
    bool obliqueRim = false;  // 3 %: a rim across the grid spreads over one step of it
  } cases[] = {
      {2, full, full, 2 * kPi, 91, 361, 90},     // the hemisphere round the beam axis
      {2, full, upper, 2 * kPi, 91, 361, 90},    // one side, mirrored
      {2, full, one, 2 * kPi, 91, 361, 90},      // one horizontal angle: the same at every one
      {2, upper, full, kPi, 91, 361, 90},        // planes turned one way only: a quarter
      {3, full, full, 2 * kPi, 91, 361, 90},     // type A alike
      {3, upper, full, kPi, 91, 361, 90},        //
      {3, full, upper, 2 * kPi, 91, 361, 90},    //
      {2, coarse, coarse, 2 * kPi, 19, 73, 90},  // a 10 degree grid: 5 degree steps
      {2, Angles(-90, 90, 3), one, 2 * kPi, 37, 145, 90},     // 2.5
      {2, Angles(-90, 90, 0.4), one, 2 * kPi, 181, 721, 90},  // 0.5 at the finest
      // A beam of +-30 x +-30 degrees: 2 sin 30 x pi / 3 sr, the corners 41.4 degrees off the
      // axis.
      {2, Angles(-30, 30, 1.5), Angles(-30, 30, 1.5), kPi / 3, 42, 361, 41, true},
      {1, coarse, coarse, 2 * kPi, 19, 19, 90},  // type C: as the file has it
      {0, coarse, coarse, 2 * kPi, 19, 19, 90},  // no type: as type C
      {7, coarse, coarse, 2 * kPi, 19, 19, 90},  // an unknown type: as type C
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "type " << c.type << ", " << c.v.size() << " x " << c.h.size());
    IESLight light;
    ASSERT_EQ(1,
              ImportText(light, TypedFile(c.type, c.v, c.h, [](double, double) { return 500; })));
    EXPECT_EQ(c.nv, light.GetVerticalCount());
    EXPECT_EQ(c.nh, light.GetHorizontalCount());
    EXPECT_EQ(c.v1, light.GetVerticalAngles()[light.GetVerticalCount() - 1]);
    const double tolerance = c.obliqueRim ? 0.03 : 0.015;
    EXPECT_NEAR(c.powerRatio, light.GetPowerRatio(), tolerance * c.powerRatio);
    // Straight down is the beam axis in every type.
    EXPECT_NEAR(1.0, light.ComputeLightIntensity(Dir(1, 0)), 1e-9);
  }
}

TEST(IESLight, PhotometricFramesPlaceTheAngles) {
  // Tables that grow with one angle of the file: 100 + the vertical or the horizontal angle.
  const auto grid = Angles(-90, 90, 1);
  const double lat = std::asin(1 / std::sqrt(3.0)) * 180 / kPi;  // 35.26
  struct Case {
    int type;
    bool horizontal;  // the table grows with the horizontal angle, else with the vertical
    Vector64 direction;
    double angle;  // the angle of the file in that direction; NAN outside its grid
  } cases[] = {
      // The beam axis is straight down; positive horizontal angles lie towards +x, positive
      // vertical ones towards +y, in both types.
      {2, true, {0.5, 0, -0.8660254037844386}, 30},
      {2, false, {0.5, 0, -0.8660254037844386}, 0},
      {2, false, {0, -0.5, -0.8660254037844386}, -30},
      {3, true, {-0.5, 0, -0.8660254037844386}, -30},
      {3, false, {0, 0.5, -0.8660254037844386}, 30},
      // Off the axes the two differ: type B turns its planes about x (the horizontal angle is
      // a latitude), type A about y (the vertical angle is).
      {2, true, {1, 1, -1}, lat},
      {2, false, {1, 1, -1}, 45},
      {3, true, {1, 1, -1}, 45},
      {3, false, {1, 1, -1}, lat},
      // The axis of type B: horizontal angle 90 whatever the plane; behind the luminaire: none.
      {2, true, {1, 0.001, 0}, 90},
      {2, true, {0.6, 0, 0.8}, NAN},
      {3, false, {0.3, 0.2, 0.9}, NAN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "type " << c.type << (c.horizontal ? " h " : " v ") << c.direction.x << " "
                 << c.direction.y << " " << c.direction.z);
    IESLight light;
    ASSERT_EQ(1, ImportText(light, TypedFile(c.type, grid, grid, [&](double v, double h) {
                              return 100 + (c.horizontal ? h : v);
                            })));
    const Vector64& d = c.direction;
    const double length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    const double got =
        light.ComputeLightIntensity(Vector64(d.x / length, d.y / length, d.z / length)) *
        light.GetMaxCandela();
    EXPECT_NEAR(std::isnan(c.angle) ? 0 : 100 + c.angle, got, 0.1);
  }
}

// ---- the record ----

// A record of an older version, as older writers stored it: 64-bit floats (kind 20, which
// the stream has no writer for any more), and from version 2 on the texts, shape and opening;
// from version 3 on the power ratio.
Bytes OldRecord(Int32 version, double powerRatio) {
  Bytes out;
  auto put = [&out](const std::function<void(HyperFile&)>& body) {
    lumtest::MemWriter w;
    body(w.hf);
    const Bytes b = w.Finish();
    out.insert(out.end(), b.begin(), b.end());
  };
  auto float64 = [&out](double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    out.push_back(HYPERFILEVALUE_FLOAT64);
    for (int i = 7; i >= 0; --i) out.push_back(static_cast<unsigned char>(bits >> (8 * i)));
  };
  put([&](HyperFile& hf) {
    hf.WriteInt32(version);
    hf.WriteInt32(3);
    hf.WriteInt32(1);
  });
  float64(1000.0);
  put([](HyperFile& hf) {
    hf.WriteInt32(2);
    hf.WriteInt32(1);
  });
  for (double v : {0.0, 180.0, 0.0, 1000.0, 1000.0}) float64(v);
  if (version > 1) {
    put([](HyperFile& hf) {
      for (const char* t : {"M", "C", "L", "LC", "LA"}) hf.WriteString(String(t));
      hf.WriteInt32(4);
      hf.WriteVector(Vector64(1, 2, 3));
    });
    if (version > 2) float64(powerRatio);
  }
  return out;
}

TEST(IESLight, EveryRecordVersionReads) {
  for (Int32 version = 1; version <= 4; ++version) {
    SCOPED_TRACE(version);
    Bytes bytes;
    if (version < 4) {
      bytes = OldRecord(version, 7.5);
    } else {
      IESLight written;
      lumtest::MemReader r(OldRecord(3, 7.5));
      ASSERT_TRUE(written.Read(&r.hf));
      bytes = WriteRecord(written);
    }
    lumtest::MemReader r(bytes);
    IESLight light;
    ASSERT_TRUE(light.Read(&r.hf));
    EXPECT_TRUE(r.AtEnd());
    EXPECT_EQ(3, light.GetFormat());
    EXPECT_EQ(1000.0, light.GetMaxCandela());
    ASSERT_EQ(2, light.GetVerticalCount());
    EXPECT_EQ(180.0, light.GetVerticalAngles()[1]);
    EXPECT_EQ(version > 1 ? "LC" : "", Utf8(light.GetText(IESTEXT_LAMPCATALOGUE)));
    EXPECT_EQ(version > 1 ? 4 : 2, light.GetShape());
    // Versions 1 and 2 carry no power ratio: it is computed (a constant sphere, about 4 pi).
    if (version > 2) {
      EXPECT_EQ(7.5, light.GetPowerRatio());
    } else {
      EXPECT_NEAR(4 * kPi, light.GetPowerRatio(), 0.02);
    }
  }
}

TEST(IESLight, RecordCountsAreBoundedBeforeAllocating) {
  struct Case {
    Int32 nv, nh;
    FILEERROR error;
  } cases[] = {
      {-1, 1, FILEERROR_WRONG_VALUE},
      {1, -5, FILEERROR_WRONG_VALUE},
      {1025, 1, FILEERROR_WRONG_VALUE},
      {1024, 1024, FILEERROR_READ},  // far more than the bytes left
      {10, 10, FILEERROR_READ},      // 120 numbers, 12 there
  };
  for (const Case& c : cases) {
    lumtest::MemWriter w;
    w.hf.WriteInt32(4);
    w.hf.WriteInt32(3);
    w.hf.WriteInt32(1);
    w.hf.WriteFloat(1.0);
    w.hf.WriteInt32(c.nv);
    w.hf.WriteInt32(c.nh);
    for (int i = 0; i < 12; ++i) w.hf.WriteFloat(1.0);
    lumtest::MemReader r(w.Finish());
    IESLight light;
    ASSERT_EQ(1, ImportText(light, OneValueFile("2")));
    const Bytes before = WriteRecord(light);
    const std::int64_t calls = lumtest::AllocationCalls();
    EXPECT_FALSE(light.Read(&r.hf)) << c.nv << " " << c.nh;
    EXPECT_EQ(calls, lumtest::AllocationCalls());
    EXPECT_EQ(c.error, r.hf.GetError());
    EXPECT_EQ(before, WriteRecord(light));
  }
}

}  // namespace

namespace {

TEST(IESLight, AppliedToALightContainerInDocumentUnits) {
  IESLight light;
  ASSERT_EQ(1, light.ImportFromFile(Filename(IesPath("1.ies").c_str())));
  struct Case {
    bool haveScale;
    double scale;
    Int32 unit;
    double factor;
  } cases[] = {
      {false, 0, 0, 1},    {true, 1, 2, 1},          {true, 1, 3, 100},         {true, 2, 3, 50},
      {true, 1, 1, 0.001}, {true, 1, 9, 1 / 0.3048}, {true, 1, 10, 1 / 0.0254}, {true, 1, 99, 1},
      {true, 0, 3, 1},     {true, 1, 0, 1},
  };
  for (const Case& c : cases) {
    const double k = IESSizeFactor(c.haveScale ? &c.scale : nullptr, c.unit);
    EXPECT_DOUBLE_EQ(c.factor, k) << c.scale << " " << c.unit;
    BaseContainer bc;
    ASSERT_TRUE(IESApplyToContainer(&bc, light, k));
    EXPECT_EQ(4, bc.GetInt32(LIGHT_AREA_SHAPE));
    EXPECT_DOUBLE_EQ(1.47 * 0.3048 * c.factor, bc.GetFloat(LIGHT_AREA_SIZEX));
    EXPECT_DOUBLE_EQ(0.2375 * 0.3048 * c.factor, bc.GetFloat(LIGHT_AREA_SIZEZ));
    EXPECT_EQ(light.GetMaxCandela(), bc.GetFloat(LIGHT_IES_MAXCANDELA));
    EXPECT_TRUE(bc.GetBool(LIGHT_IES_ENABLED) && bc.GetBool(LIGHT_IES_APPLIED));
    EXPECT_EQ(1, bc.GetInt32(LIGHT_IES_MODE));
    EXPECT_EQ("RAB LIGHTING INC.", Utf8(bc.GetString(LIGHT_IES_TEXTS + IESTEXT_MANUFACTURER)));
  }
  // No opening: shape 1.
  IESLight point;
  ASSERT_EQ(1, point.ImportFromFile(Filename(IesPath("7.ies").c_str())));
  BaseContainer bc;
  ASSERT_TRUE(IESApplyToContainer(&bc, point, 1));
  EXPECT_EQ(1, bc.GetInt32(LIGHT_AREA_SHAPE));
}

}  // namespace

namespace {

TEST(IESLight, EveryCutRecordFailsAndLeavesTheLight) {
  IESLight source;
  ASSERT_EQ(1, ImportText(source,
                          "IESNA91\n[LAMP] L\nTILT=NONE\n1 -1 1 2 2 1 2 1 1 0\n1 1 1\n"
                          "0 90\n0 90\n5 6 7 8\n"));
  const Bytes record = WriteRecord(source);
  for (size_t cut = 0; cut < record.size(); ++cut) {
    IESLight light;
    ASSERT_EQ(1, ImportText(light, OneValueFile("2")));
    const Bytes before = WriteRecord(light);
    lumtest::MemReader r(Bytes(record.begin(), record.begin() + cut));
    EXPECT_FALSE(light.Read(&r.hf)) << cut;
    EXPECT_NE(FILEERROR_NONE, r.hf.GetError()) << cut;
    EXPECT_EQ(before, WriteRecord(light)) << cut;
  }
}

}  // namespace

namespace {

// A light node with the light data of the application's object hook.
LightObjectData* AttachLight(BaseList2D& node) {
  bool known = false;
  NodeData* data = AllocAlienObjectData(TYPE_LIGHTOBJECT, known, &node);
  LightObjectData* light = dynamic_cast<LightObjectData*>(data);
  EXPECT_TRUE(known && light != nullptr);
  data->SetNode(&node);
  node.SetNodeData(data);
  return light;
}

TEST(IESLight, SetOnALightObject) {
  IESLight ies;
  ASSERT_EQ(1, ies.ImportFromFile(Filename(IesPath("1.ies").c_str())));
  BaseList2D node(TYPE_LIGHTOBJECT);
  LightObjectData* data = AttachLight(node);
  BaseDocument doc;
  lumtest::ResetAlerts();
  ASSERT_TRUE(SetIESLight(&node, &ies, &doc));
  // The document's unit scale cannot be read in this build: an alert, and metres.
  EXPECT_EQ(1, lumtest::AlertCount());
  const BaseContainer& bc = *node.GetDataInstance();
  EXPECT_EQ(LIGHT_TYPE_PHOTOMETRIC, bc.GetInt32(LIGHT_TYPE));
  EXPECT_EQ(ies.GetMaxCandela(), bc.GetFloat(LIGHT_IES_MAXCANDELA));
  EXPECT_DOUBLE_EQ(1.47 * 0.3048, bc.GetFloat(LIGHT_AREA_SIZEX));
  ASSERT_NE(nullptr, data->GetIESLight());
  EXPECT_NE(&ies, data->GetIESLight());
  ExpectSameLight(ies, *data->GetIESLight());
  EXPECT_DOUBLE_EQ(1.47 * 0.3048 / 2, data->GetIESHalfSize());
  EXPECT_EQ(10, data->GetIESCount());
  EXPECT_EQ(1000.0, data->GetIESDistance());

  // A copy of the data carries its own copy of the light.
  LightObjectData copy;
  ASSERT_TRUE(data->CopyToX(&copy, COPYFLAGS_NONE, nullptr));
  ASSERT_NE(nullptr, copy.GetIESLight());
  EXPECT_NE(data->GetIESLight(), copy.GetIESLight());
  ExpectSameLight(ies, *copy.GetIESLight());
  EXPECT_EQ(10, copy.GetIESCount());

  // Setting the file name parameter imports the file and applies it.
  ASSERT_TRUE(
      node.SetDParameter(DescID(LIGHT_IES_FILE), GeData(Filename(IesPath("7.ies").c_str()))));
  EXPECT_EQ(269.0, bc.GetFloat(LIGHT_IES_MAXCANDELA));
  EXPECT_EQ(1, data->GetIESLight()->GetHorizontalCount());
  EXPECT_TRUE(Filename(IesPath("7.ies").c_str()) == bc.GetData(LIGHT_IES_FILE)->GetFilename());
  // A file that does not import leaves the light applied before.
  ASSERT_TRUE(node.SetDParameter(DescID(LIGHT_IES_FILE), GeData(Filename("missing.ies"))));
  EXPECT_EQ(1, data->GetIESLight()->GetHorizontalCount());

  // When the copy cannot be made, the old light is gone and none is stored, but the call
  // reports success.
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_TRUE(SetIESLight(&node, &ies, nullptr));
  }
  EXPECT_EQ(nullptr, data->GetIESLight());

  // Refused: no object, no light, another type, no data.
  BaseList2D camera(5103), bare(TYPE_LIGHTOBJECT);
  EXPECT_FALSE(SetIESLight(nullptr, &ies, nullptr));
  EXPECT_FALSE(SetIESLight(&node, nullptr, nullptr));
  EXPECT_FALSE(SetIESLight(&camera, &ies, nullptr));
  EXPECT_FALSE(SetIESLight(&bare, &ies, nullptr));
}

}  // namespace

namespace {

TEST(IESLightParser, EveryPrefixOfARealFileFailsOrParsesWhole) {
  const Bytes file = lumtest::ReadFileBytes(IesPath("7.ies"));
  ASSERT_FALSE(file.empty());
  // The last number of the file starts after the last blank before its final line end.
  size_t end = file.size();
  while (end > 0 && (file[end - 1] == '\r' || file[end - 1] == '\n')) --end;
  size_t lastNumber = end;
  while (lastNumber > 0 && file[lastNumber - 1] != ' ' && file[lastNumber - 1] != '\n')
    --lastNumber;
  for (size_t n = 0; n <= file.size(); ++n) {
    IESLight light;
    const Int32 r = ImportText(light, std::string(file.begin(), file.begin() + n));
    if (n > lastNumber) {
      EXPECT_EQ(1, r) << n;
      EXPECT_EQ(37, light.GetVerticalCount()) << n;
    } else {
      EXPECT_TRUE(r == -5 || r == -2) << n << ": " << r;
      EXPECT_EQ(0, light.GetVerticalCount()) << n;
    }
  }
}

}  // namespace
