// Draw ports: allocation, the owned pixel buffer, the row-transfer dispatch and the storage
// formats.
#include "imaging/lum_drawport.h"

#include <cmath>
#include <cstring>

#include "imaging/lum_basebitmap.h"
#include "imaging/lum_convertbits.h"
#include "lum_debug.h"
#include "lum_memory.h"

namespace lumora {
namespace {

const Char* const kFile = "source/lum_drawport";

template <typename Port>
DrawPort* NewPort() {
  return NewObj<Port>();
}

Int64 BytesPerRow(Int32 width, Int32 bits) {
  return (static_cast<Int64>(width) * bits + 31) / 32 * 4;
}

// Converting transfers go through one local buffer of this many pixels of the largest size.
constexpr Int32 kChunkPixels = 128;
constexpr Int32 kChunkBytes = kChunkPixels * 16;

UInt16 LoadU16(const UChar* p) {
  UInt16 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void StoreU16(UChar* p, UInt16 v) { std::memcpy(p, &v, sizeof v); }
Float32 LoadF32(const UChar* p) {
  Float32 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void StoreF32(UChar* p, Float32 v) { std::memcpy(p, &v, sizeof v); }

// Moves cnt pixels of `size` bytes between a packed row and a buffer with stride inc.
void CopyIntoRow(UChar* row, Int32 cnt, const UChar* buffer, Int32 inc, Int32 size) {
  if (inc == size) {
    std::memcpy(row, buffer, static_cast<size_t>(cnt) * size);
    return;
  }
  for (Int32 i = 0; i < cnt; ++i) {
    std::memcpy(row + static_cast<Int64>(i) * size, buffer + static_cast<Int64>(i) * inc, size);
  }
}
void CopyFromRow(const UChar* row, Int32 cnt, UChar* buffer, Int32 inc, Int32 size) {
  if (inc == size) {
    std::memcpy(buffer, row, static_cast<size_t>(cnt) * size);
    return;
  }
  for (Int32 i = 0; i < cnt; ++i) {
    std::memcpy(buffer + static_cast<Int64>(i) * inc, row + static_cast<Int64>(i) * size, size);
  }
}

// A float sample on the 8-bit scale for GetPixel: 0 below 0 (and for NaN), 255 from 1.0 on.
UInt16 FloatSampleTo8(Float32 s) {
  if (!(s > 0.0f)) return 0;
  if (s >= 1.0f) return 255;
  return static_cast<UInt16>(static_cast<Int32>(s * 255.99));
}

// Truncation toward zero that cannot leave the Int32 range; NaN gives 0.
Int32 TruncToInt(Float32 v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0f) return 2147483647;
  if (v <= -2147483648.0f) return -2147483647 - 1;
  return static_cast<Int32>(v);
}

// The full value of the first sample of a pixel in `mode`.
void StoreFullSample(UChar* p, Int32 sampleBytes) {
  if (sampleBytes == 1) {
    p[0] = 255;
  } else if (sampleBytes == 2) {
    StoreU16(p, 65535);
  } else {
    StoreF32(p, 1.0f);
  }
}

// The dither position of a transfer starting at (x, y), or none.
void DitherPosition(PIXELCNT flags, Int32 x, Int32 y, Int32* row, Int32* col) {
  if ((flags & PIXELCNT_DITHER) != 0) {
    *row = y & 7;
    *col = x & 7;
  } else {
    *row = -1;
    *col = -1;
  }
}

}  // namespace

// ---- DrawPort ------------------------------------------------------------------------------

DrawPort* DrawPort::Alloc(DrawPortTypes type, Int32 depth, void* reserved) {
  (void)reserved;
  if (type == 4) type = DRAWPORT_RGB;
  DrawPort* port = nullptr;
  if (type == DRAWPORT_GREY) {
    switch (depth) {
      case 8:
        port = NewPort<DrawPort_GREYb8>();
        break;
      case 16:
        port = NewPort<DrawPort_GREYw>();
        break;
      case 32:
        port = NewPort<DrawPort_GREYf>();
        break;
      default:
        return nullptr;
    }
  } else {
    switch (depth) {
      case 24:
        port = NewPort<DrawPort_RGBb24>();
        break;
      case 32:
        port = NewPort<DrawPort_RGBb32>();
        break;
      case 48:
        port = NewPort<DrawPort_RGBw>();
        break;
      case 96:
        port = NewPort<DrawPort_RGBf>();
        break;
      default:
        _GeDebugBreak(209, kFile);
        depth = 24;
        port = NewPort<DrawPort_RGBb24>();
        break;
    }
  }
  if (port == nullptr) return nullptr;
  port->type_ = type;
  port->bits_ = depth;
  return port;
}

DrawPort::~DrawPort() = default;

Vector32 DrawPort::GetPixelDirect(Int32 x, Int32 y) const {
  UInt16 r = 0, g = 0, b = 0;
  GetPixel(x, y, &r, &g, &b);
  return Vector32(static_cast<Float32>(r), static_cast<Float32>(g), static_cast<Float32>(b));
}

Int32 DrawPort::OwnerColorMode() const {
  return bitmap_ != nullptr ? static_cast<Int32>(bitmap_->GetColorMode()) : 0;
}

Bool DrawPort::SetPixelCntX(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                            COLORMODE mode, PIXELCNT flags) {
  Int32 m = OwnerColorMode();
  if (m == 0) {
    _GeDebugBreak(1074, kFile);
    return false;
  }
  // Storage modes carry no alpha sample, so the second test only ever matches an equal mode.
  if (mode == m || m == (mode | 1)) return SetPixelCntP(x, y, cnt, buffer, inc, flags);
  if (mode == COLORMODE_ALPHA)
    return SetPixelCntP(x, y, cnt, buffer, inc, flags | PIXELCNT_ALPHAONLY);

  if (cnt < 1) return false;
  const Int32 pixelBytes = ColorModeBytesPerPixel(m);
  Int32 ditherRow, ditherCol;
  DitherPosition(flags, x, y, &ditherRow, &ditherCol);
  alignas(16) UChar local[kChunkBytes];
  while (cnt > 0) {
    const Int32 n = cnt < kChunkPixels ? cnt : kChunkPixels;
    // A mode the converter does not know is refused before anything is written.
    if (!ConvertBits(n, buffer, inc, mode, local, pixelBytes, static_cast<COLORMODE>(m), ditherRow,
                     ditherCol)) {
      return false;
    }
    if (!SetPixelCntP(x, y, n, local, pixelBytes, flags)) return false;
    x += n;
    buffer += static_cast<Int64>(n) * inc;
    cnt -= n;
  }
  return true;
}

void DrawPort::GetPixelCntX(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc, COLORMODE mode,
                            PIXELCNT flags, ColorProfileConvert* profile) const {
  (void)profile;
  Int32 m = OwnerColorMode();
  if (m == 0) {
    _GeDebugBreak(1122, kFile);
    return;
  }
  if (mode == m) {
    GetPixelCntP(x, y, cnt, buffer, inc, flags);
    return;
  }
  if (mode == m + 1) {
    // The bitmap's own layout behind a full alpha sample.
    if ((flags & PIXELCNT_ALPHAONLY) != 0) {
      GetPixelCntP(x, y, cnt, buffer, inc, flags);
      return;
    }
    const Int32 sampleBytes = ColorModeBytesPerSample(mode);
    GetPixelCntP(x, y, cnt, buffer + sampleBytes, inc, flags);
    for (Int32 i = 0; i < cnt; ++i)
      StoreFullSample(buffer + static_cast<Int64>(i) * inc, sampleBytes);
    return;
  }
  if (mode == COLORMODE_ALPHA) {
    GetPixelCntP(x, y, cnt, buffer, inc, flags | PIXELCNT_ALPHAONLY);
    return;
  }

  if (cnt < 1) return;
  const Int32 pixelBytes = ColorModeBytesPerPixel(m);
  Int32 ditherRow, ditherCol;
  DitherPosition(flags, x, y, &ditherRow, &ditherCol);
  // Cleared so that a storage that fills only part of a pixel never hands on stale stack bytes.
  alignas(16) UChar local[kChunkBytes] = {};
  while (cnt > 0) {
    const Int32 n = cnt < kChunkPixels ? cnt : kChunkPixels;
    GetPixelCntP(x, y, n, local, pixelBytes, flags);
    if (!ConvertBits(n, local, pixelBytes, static_cast<COLORMODE>(m), buffer, inc, mode, ditherRow,
                     ditherCol)) {
      return;
    }
    x += n;
    buffer += static_cast<Int64>(n) * inc;
    cnt -= n;
  }
}

void GetPixelWrapper(const DrawPort* port, Int32 x, Int32 y, Int32* r, Int32* g, Int32* b,
                     ColorProfileConvert* profile) {
  (void)profile;
  UChar tmp[3] = {0, 0, 0};
  port->GetPixelCntX(x, y, 1, tmp, 0, COLORMODE_RGB, PIXELCNT_NONE, nullptr);
  *r = tmp[0];
  *g = tmp[1];
  *b = tmp[2];
}

void GetPixelWrapperFloat(const DrawPort* port, Int32 x, Int32 y, Int32* r, Int32* g, Int32* b,
                          ColorProfileConvert* profile) {
  (void)profile;
  const Vector32 v = port->GetPixelDirect(x, y);
  *r = TruncToInt(v.x);
  *g = TruncToInt(v.y);
  *b = TruncToInt(v.z);
}

// ---- IndependentDrawPort -------------------------------------------------------------------

IndependentDrawPort::~IndependentDrawPort() { IndependentDrawPort::Free(); }

Bool IndependentDrawPort::CloneIt(DrawPort* dst) const {
  if (dst == nullptr || buffer_ == nullptr) return false;
  if (dst->GetBitsPerPixel() != bits_ || dst->GetPortType() != type_) {
    _GeDebugBreak(606, kFile);
    return false;
  }
  // A destination whose buffer was freed is re-made as well, never copied into.
  if (dst->GetBw() != width_ || dst->GetBh() != height_ || dst->GetBuffer() == nullptr) {
    if (dst->Init(width_, height_) != BITMAPRESULT_OK) return false;
  }
  std::memcpy(dst->GetBuffer(), buffer_, static_cast<size_t>(height_ * bytesPerRow_));
  return true;
}

namespace {

using PixelReader = void (*)(const DrawPort*, Int32, Int32, Int32*, Int32*, Int32*,
                             ColorProfileConvert*);

// Half the border a letterboxed axis leaves, floor((dst - src / s) / 2). The axis that sets the
// scale has no border at all; the small tolerance keeps a rounding error in src / s from
// turning that into a border of -1, which would shift the picture by a pixel.
Int64 LetterboxOffset(Int32 dstSize, Int32 srcSize, Float64 s) {
  const Float64 half = (dstSize - srcSize / s) * 0.5;
  if (half <= 0.0) return 0;
  return static_cast<Int64>(std::floor(half + 1e-6));
}

// intensity / 256 of a channel, limited to 0..255.
Int32 ApplyIntensity(Int64 c, Int32 intensity) {
  const Int64 p = c * intensity;
  if (p < 0) return 0;
  if (p >= 65536) return 255;
  return static_cast<Int32>(p >> 8);
}

}  // namespace

void IndependentDrawPort::ScaleIt(DrawPort* dst, Int32 intensity, Bool filter, Bool stretch,
                                  Bool third) const {
  (void)third;
  if (dst == nullptr || buffer_ == nullptr) return;
  const Int32 dw = dst->GetBw(), dh = dst->GetBh();
  if (dst->GetBuffer() == nullptr || dw < 1 || dh < 1) return;
  const Int32 m = OwnerColorMode();
  const PixelReader read =
      (m == COLORMODE_GREYf || m == COLORMODE_RGBf) ? GetPixelWrapperFloat : GetPixelWrapper;

  const Float64 sx = static_cast<Float64>(width_) / dw;
  const Float64 sy = static_cast<Float64>(height_) / dh;
  const Float64 s = sx > sy ? sx : sy;
  const Int32 whole = static_cast<Int32>(std::floor(s));
  const Int32 taps = whole < 2 ? whole : 2;
  const Bool single = taps == 0 || !filter;

  // Positions are 64-bit so that sources beyond 131071 pixels do not overflow.
  Int64 stepX, stepY, offX, offY;
  if (stretch) {
    stepX = static_cast<Int64>(std::floor(sx * 16384.0));
    stepY = static_cast<Int64>(std::floor(sy * 16384.0));
    offX = 0;
    offY = 0;
  } else {
    stepX = stepY = static_cast<Int64>(std::floor(s * 16384.0));
    offX = LetterboxOffset(dw, width_, s);
    offY = LetterboxOffset(dh, height_, s);
  }

  const Int32 lastX = width_ - 1, lastY = height_ - 1;
  for (Int32 i = 0; i < dh; ++i) {
    const Int64 srcY = ((i - offY) * stepY) >> 14;
    const Bool rowInside = i >= offY && i < dh - offY;
    Int64 acc = -offX * stepX;
    for (Int32 j = 0; j < dw; ++j, acc += stepX) {
      const Int64 srcX = acc >> 14;
      Int64 r = 0, g = 0, b = 0;
      if (rowInside && j >= offX && j < dw - offX && acc >= 0 && srcY >= 0 && srcX < width_ &&
          srcY < height_) {
        const Int32 x0 = static_cast<Int32>(srcX), y0 = static_cast<Int32>(srcY);
        Int32 pr, pg, pb;
        auto add = [&](Int32 px, Int32 py) {
          read(this, px, py, &pr, &pg, &pb, nullptr);
          r += pr;
          g += pg;
          b += pb;
        };
        add(x0, y0);
        if (!single) {
          const Int32 x1 = x0 + 1 < lastX ? x0 + 1 : lastX;
          const Int32 y1 = y0 + 1 < lastY ? y0 + 1 : lastY;
          add(x1, y0);
          add(x0, y1);
          add(x1, y1);
          if (taps == 1) {
            r >>= 2;
            g >>= 2;
            b >>= 2;
          } else {
            const Int32 x2 = x0 + 2 < lastX ? x0 + 2 : lastX;
            const Int32 y2 = y0 + 2 < lastY ? y0 + 2 : lastY;
            add(x2, y0);
            add(x2, y1);
            add(x0, y2);
            add(x1, y2);
            r >>= 3;
            g >>= 3;
            b >>= 3;
          }
        }
      }
      const Int32 cr = ApplyIntensity(r, intensity);
      dst->SetPixel(j, i, cr, ApplyIntensity(g, intensity), ApplyIntensity(b, intensity), cr);
    }
  }
}

void IndependentDrawPort::Free() { DeleteMem(buffer_); }

Int32 IndependentDrawPort::Init(Int32 w, Int32 h) {
  Int32 bits = bits_;
  if (bits <= 0) {
    _GeDebugBreak(253, kFile);
    bits = 16;
  }
  if (type_ == DRAWPORT_FOREIGN) {
    _GeDebugBreak(258, kFile);
    return BITMAPRESULT_FAILED;
  }
  if (w < 1) w = 1;
  if (h < 1) h = 1;
  Int64 bpr = BytesPerRow(w, bits);
  void* block = MemAlloc(static_cast<Int64>(h) * bpr);
  if (block == nullptr) return BITMAPRESULT_FAILED;
  Free();
  buffer_ = static_cast<UChar*>(block);
  width_ = w;
  height_ = h;
  bits_ = bits;
  bytesPerRow_ = bpr;
  return BITMAPRESULT_OK;
}

Bool IndependentDrawPort::SetPixel(Int32, Int32, Int32, Int32, Int32, Int32) { return false; }

void IndependentDrawPort::GetPixel(Int32, Int32, UInt16*, UInt16*, UInt16*) const {}

Bool IndependentDrawPort::SetLineDirect(Int32 y, const void* data, Int32 bits) {
  const Int32 m = OwnerColorMode();
  if (m == 0) {
    _GeDebugBreak(640, kFile);
    return false;
  }
  if (data == nullptr || buffer_ == nullptr || y < 0 || y >= height_) return false;
  // The row is packed in the transfer format: 3 bytes red, green, blue for 32-bit RGB (whether
  // announced as 24 or 32 bits), the storage's own pixel for the others. 24-bit rows are never
  // taken by the float grey storage, whose pixels are larger than that.
  const Bool rgb32 = bits_ == 32 && type_ == DRAWPORT_RGB;
  if (bits != bits_ && !(bits == 24 && rgb32)) return false;
  const Int32 inc = rgb32 ? 3 : bits / 8;
  return SetPixelCntP(0, y, width_, static_cast<const UChar*>(data), inc,
                      static_cast<PIXELCNT>(0x20000000));
}

// ---- DrawPort_RGBb24 -----------------------------------------------------------------------

Bool DrawPort_RGBb24::SetPixel(Int32 x, Int32 y, Int32 r, Int32 g, Int32 b, Int32) {
  UChar* p = RowBottomUp(y) + static_cast<Int64>(x) * 3;
  p[0] = static_cast<UChar>(r);
  p[1] = static_cast<UChar>(g);
  p[2] = static_cast<UChar>(b);
  return true;
}

void DrawPort_RGBb24::GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const {
  const UChar* p = RowBottomUp(y) + static_cast<Int64>(x) * 3;
  *r = p[0];
  *g = p[1];
  *b = p[2];
}

Bool DrawPort_RGBb24::SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                                   PIXELCNT flags) {
  if ((flags & PIXELCNT_ALPHAONLY) != 0 || cnt < 1) return true;
  UChar* dst = RowBottomUp(y) + static_cast<Int64>(x) * 3;
  for (Int32 i = 0; i < cnt; ++i, dst += 3) {
    const UChar* src = buffer + static_cast<Int64>(i) * inc;
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  }
  return true;
}

void DrawPort_RGBb24::GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                                   PIXELCNT flags) const {
  if ((flags & PIXELCNT_ALPHAONLY) != 0 || cnt <= 0) return;
  const UChar* src = RowBottomUp(y) + static_cast<Int64>(x) * 3;
  for (Int32 i = 0; i < cnt; ++i, src += 3) {
    UChar* dst = buffer + static_cast<Int64>(i) * inc;
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  }
}

// ---- DrawPort_RGBb32 -----------------------------------------------------------------------

Bool DrawPort_RGBb32::SetPixel(Int32 x, Int32 y, Int32 r, Int32 g, Int32 b, Int32) {
  UChar* p = RowBottomUp(y) + static_cast<Int64>(x) * 4;
  p[0] = static_cast<UChar>(b);
  p[1] = static_cast<UChar>(g);
  p[2] = static_cast<UChar>(r);
  p[3] = 0;
  return true;
}

void DrawPort_RGBb32::GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const {
  const UChar* p = RowBottomUp(y) + static_cast<Int64>(x) * 4;
  *r = p[2];
  *g = p[1];
  *b = p[0];
}

Vector32 DrawPort_RGBb32::GetPixelDirect(Int32 x, Int32 y) const {
  const UChar* p = RowBottomUp(y) + static_cast<Int64>(x) * 4;
  return Vector32(p[2], p[1], p[0]);
}

Bool DrawPort_RGBb32::SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                                   PIXELCNT flags) {
  if (cnt < 1) return true;
  UChar* dst = RowBottomUp(y) + static_cast<Int64>(x) * 4;
  if ((flags & PIXELCNT_ALPHAONLY) != 0) {
    for (Int32 i = 0; i < cnt; ++i, dst += 4) dst[3] = buffer[static_cast<Int64>(i) * inc];
    return true;
  }
  for (Int32 i = 0; i < cnt; ++i, dst += 4) {
    const UChar* src = buffer + static_cast<Int64>(i) * inc;
    dst[0] = src[2];
    dst[1] = src[1];
    dst[2] = src[0];
    dst[3] = 0;
  }
  return true;
}

void DrawPort_RGBb32::GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                                   PIXELCNT flags) const {
  if (cnt <= 0) return;
  const UChar* src = RowBottomUp(y) + static_cast<Int64>(x) * 4;
  if ((flags & PIXELCNT_ALPHAONLY) != 0) {
    for (Int32 i = 0; i < cnt; ++i, src += 4) buffer[static_cast<Int64>(i) * inc] = src[3];
    return;
  }
  for (Int32 i = 0; i < cnt; ++i, src += 4) {
    UChar* dst = buffer + static_cast<Int64>(i) * inc;
    dst[0] = src[2];
    dst[1] = src[1];
    dst[2] = src[0];
  }
}

// ---- DrawPort_RGBw -------------------------------------------------------------------------

Bool DrawPort_RGBw::SetPixel(Int32 x, Int32 y, Int32 r, Int32 g, Int32 b, Int32) {
  UChar* p = RowTopDown(y) + static_cast<Int64>(x) * 6;
  StoreU16(p, static_cast<UInt16>((r & 255) << 8));
  StoreU16(p + 2, static_cast<UInt16>((g & 255) << 8));
  StoreU16(p + 4, static_cast<UInt16>((b & 255) << 8));
  return true;
}

void DrawPort_RGBw::GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const {
  const UChar* p = RowTopDown(y) + static_cast<Int64>(x) * 6;
  *r = LoadU16(p) >> 8;
  *g = LoadU16(p + 2) >> 8;
  *b = LoadU16(p + 4) >> 8;
}

Vector32 DrawPort_RGBw::GetPixelDirect(Int32 x, Int32 y) const {
  const UChar* p = RowTopDown(y) + static_cast<Int64>(x) * 6;
  return Vector32(LoadU16(p) / 257.0f, LoadU16(p + 2) / 257.0f, LoadU16(p + 4) / 257.0f);
}

Bool DrawPort_RGBw::SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                                 PIXELCNT flags) {
  if ((flags & PIXELCNT_ALPHAONLY) != 0 || cnt < 1) return true;
  CopyIntoRow(RowTopDown(y) + static_cast<Int64>(x) * 6, cnt, buffer, inc, 6);
  return true;
}

void DrawPort_RGBw::GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                                 PIXELCNT flags) const {
  if ((flags & PIXELCNT_ALPHAONLY) != 0 || cnt <= 0) return;
  CopyFromRow(RowTopDown(y) + static_cast<Int64>(x) * 6, cnt, buffer, inc, 6);
}

// ---- DrawPort_RGBf -------------------------------------------------------------------------

Bool DrawPort_RGBf::SetPixel(Int32 x, Int32 y, Int32 r, Int32 g, Int32 b, Int32) {
  UChar* p = RowTopDown(y) + static_cast<Int64>(x) * 12;
  StoreF32(p, static_cast<Float32>(r / 255.0));
  StoreF32(p + 4, static_cast<Float32>(g / 255.0));
  StoreF32(p + 8, static_cast<Float32>(b / 255.0));
  return true;
}

void DrawPort_RGBf::GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const {
  const UChar* p = RowTopDown(y) + static_cast<Int64>(x) * 12;
  *r = FloatSampleTo8(LoadF32(p));
  *g = FloatSampleTo8(LoadF32(p + 4));
  *b = FloatSampleTo8(LoadF32(p + 8));
}

Vector32 DrawPort_RGBf::GetPixelDirect(Int32 x, Int32 y) const {
  const UChar* p = RowTopDown(y) + static_cast<Int64>(x) * 12;
  return Vector32(LoadF32(p) * 255.0f, LoadF32(p + 4) * 255.0f, LoadF32(p + 8) * 255.0f);
}

Bool DrawPort_RGBf::SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                                 PIXELCNT flags) {
  if ((flags & PIXELCNT_ALPHAONLY) != 0 || cnt < 1) return true;
  CopyIntoRow(RowTopDown(y) + static_cast<Int64>(x) * 12, cnt, buffer, inc, 12);
  return true;
}

void DrawPort_RGBf::GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                                 PIXELCNT flags) const {
  if ((flags & PIXELCNT_ALPHAONLY) != 0 || cnt <= 0) return;
  CopyFromRow(RowTopDown(y) + static_cast<Int64>(x) * 12, cnt, buffer, inc, 12);
}

// ---- DrawPort_GREYb8 -----------------------------------------------------------------------

Bool DrawPort_GREYb8::SetPixel(Int32 x, Int32 y, Int32, Int32, Int32, Int32 v) {
  RowTopDown(y)[x] = static_cast<UChar>(v);
  return true;
}

void DrawPort_GREYb8::GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const {
  *r = *g = *b = RowTopDown(y)[x];
}

Vector32 DrawPort_GREYb8::GetPixelDirect(Int32 x, Int32 y) const {
  const Float32 v = RowTopDown(y)[x];
  return Vector32(v, v, v);
}

Bool DrawPort_GREYb8::SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                                   PIXELCNT flags) {
  if ((flags & PIXELCNT_ALPHAONLY) != 0 || cnt < 1) return true;
  CopyIntoRow(RowTopDown(y) + x, cnt, buffer, inc, 1);
  return true;
}

void DrawPort_GREYb8::GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                                   PIXELCNT) const {
  if (cnt <= 0) return;
  CopyFromRow(RowTopDown(y) + x, cnt, buffer, inc, 1);
}

// ---- DrawPort_GREYw ------------------------------------------------------------------------

Bool DrawPort_GREYw::SetPixel(Int32 x, Int32 y, Int32, Int32, Int32, Int32 v) {
  StoreU16(RowTopDown(y) + static_cast<Int64>(x) * 2,
           static_cast<UInt16>(static_cast<UInt32>(v) * 257u));
  return true;
}

void DrawPort_GREYw::GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const {
  *r = *g = *b = LoadU16(RowTopDown(y) + static_cast<Int64>(x) * 2) >> 8;
}

Vector32 DrawPort_GREYw::GetPixelDirect(Int32 x, Int32 y) const {
  const Float32 v = LoadU16(RowTopDown(y) + static_cast<Int64>(x) * 2) / 257.0f;
  return Vector32(v, v, v);
}

Bool DrawPort_GREYw::SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                                  PIXELCNT flags) {
  if ((flags & PIXELCNT_ALPHAONLY) != 0 || cnt < 1) return true;
  CopyIntoRow(RowTopDown(y) + static_cast<Int64>(x) * 2, cnt, buffer, inc, 2);
  return true;
}

void DrawPort_GREYw::GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                                  PIXELCNT flags) const {
  if ((flags & PIXELCNT_ALPHAONLY) != 0 || cnt <= 0) return;
  CopyFromRow(RowTopDown(y) + static_cast<Int64>(x) * 2, cnt, buffer, inc, 2);
}

// ---- DrawPort_GREYf ------------------------------------------------------------------------

Bool DrawPort_GREYf::SetPixel(Int32 x, Int32 y, Int32, Int32, Int32, Int32 v) {
  StoreF32(RowTopDown(y) + static_cast<Int64>(x) * 4, static_cast<Float32>(v / 255.0));
  return true;
}

void DrawPort_GREYf::GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const {
  *r = *g = *b = FloatSampleTo8(LoadF32(RowTopDown(y) + static_cast<Int64>(x) * 4));
}

Vector32 DrawPort_GREYf::GetPixelDirect(Int32 x, Int32 y) const {
  const Float32 v = LoadF32(RowTopDown(y) + static_cast<Int64>(x) * 4) * 255.0f;
  return Vector32(v, v, v);
}

Bool DrawPort_GREYf::SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                                  PIXELCNT flags) {
  if ((flags & PIXELCNT_ALPHAONLY) != 0 || cnt < 1) return true;
  CopyIntoRow(RowTopDown(y) + static_cast<Int64>(x) * 4, cnt, buffer, inc, 4);
  return true;
}

void DrawPort_GREYf::GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                                  PIXELCNT flags) const {
  if ((flags & PIXELCNT_ALPHAONLY) != 0 || cnt <= 0) return;
  CopyFromRow(RowTopDown(y) + static_cast<Int64>(x) * 4, cnt, buffer, inc, 4);
}

}  // namespace lumora
