// Row conversion between colour modes.
#include "imaging/lum_convertbits.h"

#include <cmath>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define LUM_CONVERTBITS_AVX2 1
#endif

namespace lumora {

const Float32 RayDitherMatrix[64] = {
    1 / 64.0f,  32 / 64.0f, 8 / 64.0f,  40 / 64.0f, 2 / 64.0f,  34 / 64.0f, 10 / 64.0f, 42 / 64.0f,
    48 / 64.0f, 16 / 64.0f, 56 / 64.0f, 24 / 64.0f, 50 / 64.0f, 18 / 64.0f, 58 / 64.0f, 26 / 64.0f,
    12 / 64.0f, 44 / 64.0f, 4 / 64.0f,  36 / 64.0f, 14 / 64.0f, 46 / 64.0f, 6 / 64.0f,  38 / 64.0f,
    60 / 64.0f, 28 / 64.0f, 52 / 64.0f, 20 / 64.0f, 62 / 64.0f, 30 / 64.0f, 54 / 64.0f, 22 / 64.0f,
    3 / 64.0f,  35 / 64.0f, 11 / 64.0f, 43 / 64.0f, 1 / 64.0f,  33 / 64.0f, 9 / 64.0f,  41 / 64.0f,
    51 / 64.0f, 19 / 64.0f, 59 / 64.0f, 27 / 64.0f, 49 / 64.0f, 17 / 64.0f, 57 / 64.0f, 25 / 64.0f,
    15 / 64.0f, 47 / 64.0f, 7 / 64.0f,  39 / 64.0f, 13 / 64.0f, 45 / 64.0f, 5 / 64.0f,  37 / 64.0f,
    63 / 64.0f, 31 / 64.0f, 55 / 64.0f, 23 / 64.0f, 61 / 64.0f, 29 / 64.0f, 53 / 64.0f, 21 / 64.0f,
};

namespace {

// Samples sit at any byte offset the caller's stride gives them.
template <typename T>
T Load(const UChar* p, Int32 index) {
  T v;
  std::memcpy(&v, p + index * static_cast<Int32>(sizeof(T)), sizeof(T));
  return v;
}

template <typename T>
void Store(UChar* p, Int32 index, T v) {
  std::memcpy(p + index * static_cast<Int32>(sizeof(T)), &v, sizeof(T));
}

// The dither threshold of one sample: null when not dithering.
using Threshold = const Float32*;

// Float to 8-bit: x * 255.001 truncated toward zero and clamped; NaN gives 0. Clamping happens
// on the float so that out-of-range values never reach an integer conversion.
UChar FloatTo8(Float32 x, Threshold t) {
  Float32 e = x * 255.001f;
  if (t != nullptr && e != 0.0f) {
    Float32 whole = std::trunc(e);
    e = (*t < e - whole) ? whole + 1.0f : whole;
  }
  if (!(e > 0.0f)) return 0;
  if (e >= 255.0f) return 255;
  return static_cast<UChar>(static_cast<Int32>(e));
}

UInt16 FloatTo16(Float32 x) {
  Float32 e = x * 65535.0f;
  if (!(e > 0.0f)) return 0;
  if (e >= 65535.0f) return 65535;
  return static_cast<UInt16>(static_cast<Int32>(e));
}

// 16-bit to 8-bit: the high byte, or with a threshold x / 257 rounded up when its fraction
// exceeds the threshold. 0 and 255 are never reached by rounding up.
UChar Short8(UInt32 x, Threshold t) {
  if (t == nullptr) return static_cast<UChar>(x >> 8);
  Float32 f = static_cast<Float32>(x) / 257.0f;
  Int32 v = static_cast<Int32>(f);
  // Without branches: whether a sample rounds up is as good as random.
  Int32 up = (v >= 1) & (v <= 254) & (*t < f - static_cast<Float32>(v));
  return static_cast<UChar>(v + up);
}

// The sample rules of one instance: Full() the destination's largest value, C the sample
// conversion, Grey the grey of three colour samples, Pm a colour sample multiplied by alpha.
template <typename S, typename D>
struct Rule;

template <>
struct Rule<UChar, UChar> {
  static UChar Full() { return 255; }
  static UChar C(UChar x, Threshold) { return x; }
  static UChar Grey(UChar r, UChar g, UChar b, Threshold, Threshold, Threshold) {
    return static_cast<UChar>((r + g + b) / 3);
  }
  static UChar Pm(UChar c, UChar a, Threshold) {
    return static_cast<UChar>((static_cast<UInt32>(c) * a) >> 8);
  }
};

template <>
struct Rule<UChar, UInt16> {
  static UInt16 Full() { return 65535; }
  static UInt16 C(UChar x, Threshold) { return static_cast<UInt16>(x * 257); }
  static UInt16 Grey(UChar r, UChar g, UChar b, Threshold, Threshold, Threshold) {
    return static_cast<UInt16>(((r + g + b) * 257) / 3);
  }
  static UInt16 Pm(UChar c, UChar a, Threshold) {
    return static_cast<UInt16>(((static_cast<UInt32>(c) * a) / 256) * 257);
  }
};

template <>
struct Rule<UChar, Float32> {
  static Float32 Full() { return 1.0f; }
  static Float32 C(UChar x, Threshold) { return static_cast<Float32>(x) / 255.0f; }
  static Float32 Grey(UChar r, UChar g, UChar b, Threshold, Threshold, Threshold) {
    return (static_cast<Float32>(r) / 255.0f + static_cast<Float32>(g) / 255.0f +
            static_cast<Float32>(b) / 255.0f) /
           3.0f;
  }
  static Float32 Pm(UChar c, UChar a, Threshold) {
    return static_cast<Float32>((static_cast<UInt32>(c) * a) >> 8) / 255.0f;
  }
};

template <>
struct Rule<UInt16, UChar> {
  static UChar Full() { return 255; }
  static UChar C(UInt16 x, Threshold t) { return Short8(x, t); }
  static UChar Grey(UInt16 r, UInt16 g, UInt16 b, Threshold tr, Threshold tg, Threshold tb) {
    return static_cast<UChar>((Short8(r, tr) + Short8(g, tg) + Short8(b, tb)) / 3);
  }
  static UChar Pm(UInt16 c, UInt16 a, Threshold t) {
    UInt32 p = static_cast<UInt32>(c) * a;
    if (t == nullptr) return static_cast<UChar>(p >> 24);
    return Short8(p >> 16, t);
  }
};

template <>
struct Rule<UInt16, UInt16> {
  static UInt16 Full() { return 65535; }
  static UInt16 C(UInt16 x, Threshold) { return x; }
  static UInt16 Grey(UInt16 r, UInt16 g, UInt16 b, Threshold, Threshold, Threshold) {
    return static_cast<UInt16>((static_cast<UInt32>(r) + g + b) / 3);
  }
  static UInt16 Pm(UInt16 c, UInt16 a, Threshold) {
    return static_cast<UInt16>((static_cast<UInt32>(c) * a) >> 16);
  }
};

template <>
struct Rule<UInt16, Float32> {
  static Float32 Full() { return 1.0f; }
  static Float32 C(UInt16 x, Threshold) { return static_cast<Float32>(x) / 65535.0f; }
  static Float32 Grey(UInt16 r, UInt16 g, UInt16 b, Threshold, Threshold, Threshold) {
    return (static_cast<Float32>(r) / 65535.0f + static_cast<Float32>(g) / 65535.0f +
            static_cast<Float32>(b) / 65535.0f) /
           3.0f;
  }
  static Float32 Pm(UInt16 c, UInt16 a, Threshold) {
    return static_cast<Float32>((static_cast<UInt32>(c) * a) >> 16) / 65535.0f;
  }
};

template <>
struct Rule<Float32, UChar> {
  static UChar Full() { return 255; }
  static UChar C(Float32 x, Threshold t) { return FloatTo8(x, t); }
  static UChar Grey(Float32 r, Float32 g, Float32 b, Threshold tr, Threshold tg, Threshold tb) {
    return static_cast<UChar>((FloatTo8(r, tr) + FloatTo8(g, tg) + FloatTo8(b, tb)) / 3);
  }
  static UChar Pm(Float32 c, Float32 a, Threshold t) { return FloatTo8(c * a, t); }
};

template <>
struct Rule<Float32, UInt16> {
  static UInt16 Full() { return 65535; }
  static UInt16 C(Float32 x, Threshold) { return FloatTo16(x); }
  static UInt16 Grey(Float32 r, Float32 g, Float32 b, Threshold, Threshold, Threshold) {
    return static_cast<UInt16>((FloatTo16(r) + FloatTo16(g) + FloatTo16(b)) / 3);
  }
  static UInt16 Pm(Float32 c, Float32 a, Threshold) { return FloatTo16(c * a); }
};

template <>
struct Rule<Float32, Float32> {
  static Float32 Full() { return 1.0f; }
  static Float32 C(Float32 x, Threshold) { return x; }
  static Float32 Grey(Float32 r, Float32 g, Float32 b, Threshold, Threshold, Threshold) {
    return (r + g + b) / 3.0f;
  }
  static Float32 Pm(Float32 c, Float32 a, Threshold) { return c * a; }
};

// Converts one pixel. Every source sample has its own dither column: red, grey and alpha k,
// green k + 1, blue k + 2, so a grey source stays grey in every destination.
template <typename S, typename D>
void ConvertPixel(const UChar* s, Int32 sl, UChar* d, Int32 dl, const Float32* ditherRow,
                  UInt32 k) {
  using R = Rule<S, D>;
  Threshold t0 = nullptr, t1 = nullptr, t2 = nullptr;
  if (ditherRow != nullptr) {
    t0 = ditherRow + (k & 7u);
    t1 = ditherRow + ((k + 1u) & 7u);
    t2 = ditherRow + ((k + 2u) & 7u);
  }
  const D full = R::Full();
  const bool alphaFirst = (sl & 1) != 0 && sl != 1;
  const Int32 c = alphaFirst ? 1 : 0;  // index of the first colour sample

  // The alpha the destination keeps (layouts 3 and 5) and the mask value (layout 8).
  auto alpha = [&]() -> D {
    if (sl == 2 || sl == 4) return full;
    return R::C(Load<S>(s, 0), t0);
  };
  // One sample standing for grey, for sources without colour samples.
  auto single = [&]() -> D { return R::C(Load<S>(s, c), t0); };
  auto grey = [&]() -> D {
    if (sl >= 4) return R::Grey(Load<S>(s, c), Load<S>(s, c + 1), Load<S>(s, c + 2), t0, t1, t2);
    return single();
  };

  switch (dl) {
    case 2:
      Store<D>(d, 0, grey());
      break;
    case 3:
      Store<D>(d, 0, alpha());
      Store<D>(d, 1, sl == 1 ? full : grey());
      break;
    case 4:
      if (sl == 5) {
        const S a = Load<S>(s, 0);
        Store<D>(d, 0, R::Pm(Load<S>(s, 1), a, t0));
        Store<D>(d, 1, R::Pm(Load<S>(s, 2), a, t1));
        Store<D>(d, 2, R::Pm(Load<S>(s, 3), a, t2));
      } else if (sl == 4) {
        Store<D>(d, 0, R::C(Load<S>(s, 0), t0));
        Store<D>(d, 1, R::C(Load<S>(s, 1), t1));
        Store<D>(d, 2, R::C(Load<S>(s, 2), t2));
      } else {
        const D v = single();
        Store<D>(d, 0, v);
        Store<D>(d, 1, v);
        Store<D>(d, 2, v);
      }
      break;
    case 5:
      Store<D>(d, 0, alpha());
      if (sl >= 4) {
        Store<D>(d, 1, R::C(Load<S>(s, c), t0));
        Store<D>(d, 2, R::C(Load<S>(s, c + 1), t1));
        Store<D>(d, 3, R::C(Load<S>(s, c + 2), t2));
      } else {
        const D v = sl == 1 ? full : single();
        Store<D>(d, 1, v);
        Store<D>(d, 2, v);
        Store<D>(d, 3, v);
      }
      break;
    default:  // 8, mask: a grey source is taken as the mask itself
      Store<D>(d, 0, sl == 2 ? single() : alpha());
      break;
  }
}

// Short8 with a threshold, in integers: x = 257 v + r, and the sample rounds up when
// t = k / 64 < r / 257. The float quotient is within 2^-17 of x / 257, far closer than any
// k / 64 comes to an r / 257 (at least 1 / 16448 apart), so both forms decide alike for every
// x and k; kThreshold257 is 257 k.
inline UChar Dither16(UInt16 x, UInt16 kThreshold257) {
  const UInt16 v = static_cast<UInt16>(x / 257);
  const UInt16 r64 = static_cast<UInt16>(64 * (x - 257 * v));
  const UInt16 inside = static_cast<UInt16>(v - 1) < 254;
  return static_cast<UChar>(v + (inside & (r64 > kThreshold257)));
}

// Dither16 once more, as the vector code has it: with T = floor(257 k / 64), the sample rounds
// up exactly when r > T, that is when x + 256 - T reaches the next multiple of 257, so the
// result is (x + 256 - T) / 257, except that samples below 257 (v = 0) stay 0. At the top the
// sum may saturate at 65535, which still divides to the right 254 or 255.
#if defined(__SSE2__)
// One group of 8 pixels (24 samples, 48 bytes in, 24 out) per step; add holds 256 - T of the
// 24 samples of a group.
void DitherGroupsSse2(Int64 groups, const UChar* src, UChar* dst, const UInt16* add) {
  const __m128i add0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(add));
  const __m128i add1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(add + 8));
  const __m128i add2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(add + 16));
  const __m128i by257 = _mm_set1_epi16(static_cast<short>(0xFF01));  // 2^24 / 257, rounded up
  const __m128i v0Top = _mm_set1_epi16(256);
  const __m128i zero = _mm_setzero_si128();
  auto eight = [&](const UChar* p, __m128i a) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // (x + a) / 257 as ((x + a) * 0xFF01) >> 24, exact for every 16-bit value.
    const __m128i q = _mm_srli_epi16(_mm_mulhi_epu16(_mm_adds_epu16(x, a), by257), 8);
    const __m128i below257 = _mm_cmpeq_epi16(_mm_subs_epu16(x, v0Top), zero);
    return _mm_andnot_si128(below257, q);
  };
  for (Int64 g = 0; g < groups; ++g, src += 48, dst += 24) {
    const __m128i r0 = eight(src, add0), r1 = eight(src + 16, add1), r2 = eight(src + 32, add2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(r0, r1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm_packus_epi16(r2, r2));
  }
}
#endif

#if defined(LUM_CONVERTBITS_AVX2)
bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

// Sixteen samples of the groups below: (x + a) / 257, samples below 257 giving 0.
__attribute__((target("avx2"))) inline __m256i DitherSixteen(const UChar* p, __m256i a) {
  const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i by257 = _mm256_set1_epi16(static_cast<short>(0xFF01));
  const __m256i q = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_adds_epu16(x, a), by257), 8);
  const __m256i below257 =
      _mm256_cmpeq_epi16(_mm256_subs_epu16(x, _mm256_set1_epi16(256)), _mm256_setzero_si256());
  return _mm256_andnot_si256(below257, q);
}

// The same groups two at a time (48 samples, 96 bytes in, 48 out), 16 samples per vector, for
// processors with AVX2. Returns how many groups it did (an even number).
__attribute__((target("avx2"))) Int64 DitherGroupPairsAvx2(Int64 groups, const UChar* src,
                                                           UChar* dst, const UInt16* add) {
  UInt16 pattern[48];
  for (Int32 i = 0; i < 48; ++i) pattern[i] = add[i % 24];
  const __m256i add0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pattern));
  const __m256i add1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pattern + 16));
  const __m256i add2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pattern + 32));
  Int64 g = 0;
  for (; g + 2 <= groups; g += 2, src += 96, dst += 48) {
    const __m256i r0 = DitherSixteen(src, add0), r1 = DitherSixteen(src + 32, add1);
    const __m256i r2 = DitherSixteen(src + 64, add2);
    // The packs work within the 128-bit halves; the permutes put the halves in order.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst),
                        _mm256_permute4x64_epi64(_mm256_packus_epi16(r0, r1), 0xD8));
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(dst + 32),
        _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(r2, r2), 0xD8)));
  }
  return g;
}
#endif

// 16-bit RGB into packed 8-bit RGB with dithering, the source packed too: one run of samples
// whose thresholds repeat every 8 pixels (24 samples), converted in groups of 24 (with AVX2 in
// vectors of 16 samples, or SSE2 in vectors of 8). The same bytes as ConvertPixel.
void DitherPackedRgb16(Int32 count, const UChar* src, UChar* dst, const Float32* row, UInt32 k) {
  UInt16 thresholds[24], add[24];
  for (UInt32 i = 0; i < 8; ++i)
    for (UInt32 c = 0; c < 3; ++c) {
      const Int32 k64 = static_cast<Int32>(row[(k + i + c) & 7u] * 64.0f);
      thresholds[3 * i + c] = static_cast<UInt16>(257 * k64);
      add[3 * i + c] = static_cast<UInt16>(256 - 257 * k64 / 64);
    }
  auto sample = [src](Int64 j) {
    UInt16 x;
    std::memcpy(&x, src + 2 * j, 2);
    return x;
  };
  const Int64 samples = 3 * static_cast<Int64>(count);
  Int64 j = 0;
#if defined(__SSE2__)
  const Int64 groups = samples / 24;
  Int64 done = 0;
#if defined(LUM_CONVERTBITS_AVX2)
  if (HasAvx2()) done = DitherGroupPairsAvx2(groups, src, dst, add);
#endif
  DitherGroupsSse2(groups - done, src + 48 * done, dst + 24 * done, add);
  j = 24 * groups;
#else
  for (; j + 24 <= samples; j += 24) {
    for (Int32 m = 0; m < 24; ++m) {
      const UInt32 x = sample(j + m);
      dst[j + m] = x < 257 ? 0 : static_cast<UChar>((x + add[m]) / 257);
    }
  }
#endif
  for (; j < samples; ++j) dst[j] = Dither16(sample(j), thresholds[j % 24]);
}

// 8-bit samples into float ones, each on its own (packed RGB into packed float RGB): the rule's
// x / 255, four samples per SSE2 division, which rounds each lane as the scalar one does.
void EightBitSamplesToFloat(Int64 samples, const UChar* src, UChar* dst) {
  Int64 j = 0;
#if defined(__SSE2__)
  const __m128 full = _mm_set1_ps(255.0f);
  const __m128i zero = _mm_setzero_si128();
  for (; j + 16 <= samples; j += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + j));
    const __m128i lo = _mm_unpacklo_epi8(b, zero);
    const __m128i hi = _mm_unpackhi_epi8(b, zero);
    const __m128i words[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero),
                              _mm_unpacklo_epi16(hi, zero), _mm_unpackhi_epi16(hi, zero)};
    for (Int64 k = 0; k < 4; ++k)
      _mm_storeu_ps(reinterpret_cast<float*>(dst + 4 * (j + 4 * k)),
                    _mm_div_ps(_mm_cvtepi32_ps(words[k]), full));
  }
#endif
  for (; j < samples; ++j) {
    const Float32 v = Rule<UChar, Float32>::C(src[j], nullptr);
    std::memcpy(dst + 4 * j, &v, sizeof v);
  }
}

// Whether an instance into this destination type dithers at all.
template <typename D>
constexpr bool Dithers() {
  return sizeof(D) == 1;
}

}  // namespace

template <typename S, typename D>
bool _ConvertBits(Int32 count, const UChar* src, Int32 srcInc, COLORMODE srcMode, UChar* dst,
                  Int32 dstInc, COLORMODE dstMode, Int32 ditherRow, Int32 ditherCol) {
  const Int32 sl = static_cast<Int32>(srcMode) & 15;
  const Int32 dl = static_cast<Int32>(dstMode) & 15;
  if (sl < 1 || sl > 5) return false;
  if (dl != 2 && dl != 3 && dl != 4 && dl != 5 && dl != 8) return false;

  // Rows and columns are taken mod 8 so that no position can leave the table.
  const Float32* row = nullptr;
  if (Dithers<D>() && ditherRow != -1) {
    row = RayDitherMatrix + 8 * (static_cast<UInt32>(ditherRow) & 7u);
  }
  UInt32 k = static_cast<UInt32>(ditherCol);
  if constexpr (std::is_same<S, UInt16>::value && std::is_same<D, UChar>::value) {
    if (row != nullptr && sl == 4 && dl == 4 && srcInc == 6 && dstInc == 3) {
      DitherPackedRgb16(count, src, dst, row, k);
      return true;
    }
  }
  if constexpr (std::is_same<S, UChar>::value && std::is_same<D, Float32>::value) {
    if (sl == 4 && dl == 4 && srcInc == 3 && dstInc == 12) {
      EightBitSamplesToFloat(3 * static_cast<Int64>(count), src, dst);
      return true;
    }
  }
  for (Int32 i = 0; i < count; ++i, ++k) {
    ConvertPixel<S, D>(src + static_cast<Int64>(i) * srcInc, sl,
                       dst + static_cast<Int64>(i) * dstInc, dl, row, k);
  }
  return true;
}

template bool _ConvertBits<unsigned char, unsigned char>(Int32, const UChar*, Int32, COLORMODE,
                                                         UChar*, Int32, COLORMODE, Int32, Int32);
template bool _ConvertBits<unsigned char, unsigned short>(Int32, const UChar*, Int32, COLORMODE,
                                                          UChar*, Int32, COLORMODE, Int32, Int32);
template bool _ConvertBits<unsigned char, float>(Int32, const UChar*, Int32, COLORMODE, UChar*,
                                                 Int32, COLORMODE, Int32, Int32);
template bool _ConvertBits<unsigned short, unsigned char>(Int32, const UChar*, Int32, COLORMODE,
                                                          UChar*, Int32, COLORMODE, Int32, Int32);
template bool _ConvertBits<unsigned short, unsigned short>(Int32, const UChar*, Int32, COLORMODE,
                                                           UChar*, Int32, COLORMODE, Int32, Int32);
template bool _ConvertBits<unsigned short, float>(Int32, const UChar*, Int32, COLORMODE, UChar*,
                                                  Int32, COLORMODE, Int32, Int32);
template bool _ConvertBits<float, unsigned char>(Int32, const UChar*, Int32, COLORMODE, UChar*,
                                                 Int32, COLORMODE, Int32, Int32);
template bool _ConvertBits<float, unsigned short>(Int32, const UChar*, Int32, COLORMODE, UChar*,
                                                  Int32, COLORMODE, Int32, Int32);
template bool _ConvertBits<float, float>(Int32, const UChar*, Int32, COLORMODE, UChar*, Int32,
                                         COLORMODE, Int32, Int32);

bool ConvertBits(Int32 count, const UChar* src, Int32 srcInc, COLORMODE srcMode, UChar* dst,
                 Int32 dstInc, COLORMODE dstMode, Int32 ditherRow, Int32 ditherCol) {
  const Int32 st = (static_cast<Int32>(srcMode) >> 4) & 3;
  const Int32 dt = (static_cast<Int32>(dstMode) >> 4) & 3;
  if (st == 3 || dt == 3) return false;
  // Only the instances into 8-bit samples take the dither position.
  const Int32 none = -1;
  switch (st * 3 + dt) {
    case 0:
      return _ConvertBits<unsigned char, unsigned char>(count, src, srcInc, srcMode, dst, dstInc,
                                                        dstMode, none, none);
    case 1:
      return _ConvertBits<unsigned char, unsigned short>(count, src, srcInc, srcMode, dst, dstInc,
                                                         dstMode, none, none);
    case 2:
      return _ConvertBits<unsigned char, float>(count, src, srcInc, srcMode, dst, dstInc, dstMode,
                                                none, none);
    case 3:
      return _ConvertBits<unsigned short, unsigned char>(count, src, srcInc, srcMode, dst, dstInc,
                                                         dstMode, ditherRow, ditherCol);
    case 4:
      return _ConvertBits<unsigned short, unsigned short>(count, src, srcInc, srcMode, dst, dstInc,
                                                          dstMode, none, none);
    case 5:
      return _ConvertBits<unsigned short, float>(count, src, srcInc, srcMode, dst, dstInc, dstMode,
                                                 none, none);
    case 6:
      return _ConvertBits<float, unsigned char>(count, src, srcInc, srcMode, dst, dstInc, dstMode,
                                                ditherRow, ditherCol);
    case 7:
      return _ConvertBits<float, unsigned short>(count, src, srcInc, srcMode, dst, dstInc, dstMode,
                                                 none, none);
    default:
      return _ConvertBits<float, float>(count, src, srcInc, srcMode, dst, dstInc, dstMode, none,
                                        none);
  }
}

}  // namespace lumora
