// Row conversion between colour modes: the one routine every converting draw-port transfer uses.
//
// A run of pixels in one COLORMODE is rewritten in another: between 8-bit, 16-bit and float
// samples, and between the alpha, grey, alpha+grey, RGB, alpha+RGB and mask layouts. Source and
// destination are addressed by byte strides, so either side may be interleaved with other data;
// samples are read and written unaligned. Nothing is allocated.
#ifndef LUM_CONVERTBITS_H
#define LUM_CONVERTBITS_H

#include "imaging/lum_basebitmap.h"
#include "lum_types.h"

namespace lumora {

// Ordered-dither thresholds k / 64, 8 rows of 8; entry 8 * row + column.
extern const Float32 RayDitherMatrix[64];

// Converts count pixels from src (pixel i at src + i * srcInc, layout and sample type of
// srcMode) to dst (pixel i at dst + i * dstInc, dstMode). Handles source layouts 1 (alpha),
// 2 (grey), 3 (alpha, grey), 4 (RGB), 5 (alpha, RGB) and destination layouts 2, 3, 4, 5 and
// 8 (mask); S and D are the sample types (unsigned char, unsigned short, float).
// ditherRow / ditherCol are the row and column (mod 8) of the first pixel, or -1 for no
// dithering; only the two instances into 8-bit samples dither, the others ignore them.
// Returns true when the pair of layouts is handled (count <= 0 then writes nothing); any other
// pair returns false and writes nothing.
template <typename S, typename D>
bool _ConvertBits(Int32 count, const UChar* src, Int32 srcInc, COLORMODE srcMode, UChar* dst,
                  Int32 dstInc, COLORMODE dstMode, Int32 ditherRow, Int32 ditherCol);

extern template bool _ConvertBits<unsigned char, unsigned char>(Int32, const UChar*, Int32,
                                                                COLORMODE, UChar*, Int32, COLORMODE,
                                                                Int32, Int32);
extern template bool _ConvertBits<unsigned char, unsigned short>(Int32, const UChar*, Int32,
                                                                 COLORMODE, UChar*, Int32,
                                                                 COLORMODE, Int32, Int32);
extern template bool _ConvertBits<unsigned char, float>(Int32, const UChar*, Int32, COLORMODE,
                                                        UChar*, Int32, COLORMODE, Int32, Int32);
extern template bool _ConvertBits<unsigned short, unsigned char>(Int32, const UChar*, Int32,
                                                                 COLORMODE, UChar*, Int32,
                                                                 COLORMODE, Int32, Int32);
extern template bool _ConvertBits<unsigned short, unsigned short>(Int32, const UChar*, Int32,
                                                                  COLORMODE, UChar*, Int32,
                                                                  COLORMODE, Int32, Int32);
extern template bool _ConvertBits<unsigned short, float>(Int32, const UChar*, Int32, COLORMODE,
                                                         UChar*, Int32, COLORMODE, Int32, Int32);
extern template bool _ConvertBits<float, unsigned char>(Int32, const UChar*, Int32, COLORMODE,
                                                        UChar*, Int32, COLORMODE, Int32, Int32);
extern template bool _ConvertBits<float, unsigned short>(Int32, const UChar*, Int32, COLORMODE,
                                                         UChar*, Int32, COLORMODE, Int32, Int32);
extern template bool _ConvertBits<float, float>(Int32, const UChar*, Int32, COLORMODE, UChar*,
                                                Int32, COLORMODE, Int32, Int32);

// Picks the instance by the sample types of the two modes (bits 4-5: 0 8-bit, 1 16-bit,
// 2 float) and runs it. A mode with both type bits set is not a sample type: nothing is written.
// Returns whether the pixels were converted; callers that must not pass on an untouched
// destination check it.
bool ConvertBits(Int32 count, const UChar* src, Int32 srcInc, COLORMODE srcMode, UChar* dst,
                 Int32 dstInc, COLORMODE dstMode, Int32 ditherRow, Int32 ditherCol);

}  // namespace lumora

#endif  // LUM_CONVERTBITS_H
