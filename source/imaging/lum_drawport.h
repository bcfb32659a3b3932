// Draw ports: the pixel storages behind a BaseBitmap.
//
// DrawPort is the interface the bitmap calls; IndependentDrawPort owns a zero-filled pixel
// buffer of height x bytes-per-row bytes, bytes per row = floor((width * bits + 31) / 32) * 4;
// each concrete class fixes one pixel format. Rows are validated by the bitmap before they get
// here: the storages trust x, y and cnt.
//
// Row transfers come in two layers. SetPixelCntX / GetPixelCntX take the caller's colour mode
// and forward to SetPixelCntP / GetPixelCntP, which move pixels in the layout of the owning
// bitmap's colour mode.
#ifndef LUM_DRAWPORT_H
#define LUM_DRAWPORT_H

#include "imaging/lum_basebitmap.h"
#include "lum_math.h"
#include "lum_types.h"

namespace lumora {

class DrawPort {
 public:
  // A new, unsized port for a storage of kind `type` (4 means DRAWPORT_RGB) and `depth` bits
  // per pixel, owned by the caller (DeleteObj). Grey: 8, 16 or 32 bits, anything else gives
  // null. Colour: 24, 32, 48 or 96 bits; any other depth alerts and gives a 24-bit port. Null
  // when memory runs out. Call Init before use.
  static DrawPort* Alloc(DrawPortTypes type, Int32 depth, void* reserved);

  virtual ~DrawPort();
  // Copies this port's pixels into `dst`, which must have the same format; resizes dst.
  virtual Bool CloneIt(DrawPort* dst) const = 0;
  // Draws this port's picture into the whole of `dst`. Source positions are stepped in fixed
  // point with 14 fraction bits; with `filter`, a shrink by 1 to 2 averages 4 source pixels and
  // a stronger one 8. `stretch` false keeps the aspect ratio and centres the picture between
  // black borders. Every channel is scaled by intensity / 256 and limited to 0..255 (256 leaves
  // it unchanged). `third` has no effect.
  virtual void ScaleIt(DrawPort* dst, Int32 intensity, Bool filter, Bool stretch,
                       Bool third) const = 0;
  // Frees the pixel buffer.
  virtual void Free() = 0;
  // Replaces the pixel buffer by a zero-filled one of w x h pixels; a BITMAPRESULT code. On
  // failure the old buffer and size are kept.
  virtual Int32 Init(Int32 w, Int32 h) = 0;
  // One pixel; v is what one-sample grey storages store, colour storages ignore it.
  virtual Bool SetPixel(Int32 x, Int32 y, Int32 r, Int32 g, Int32 b, Int32 v) = 0;
  virtual void GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const = 0;
  // Red, green, blue on a 0..255 scale without rounding; by default GetPixel widened.
  virtual Vector32 GetPixelDirect(Int32 x, Int32 y) const;
  // Writes the whole of row y from `data`, packed in the storage's transfer format, when `bits`
  // is the port's depth or 24 for 32-bit RGB. False for other depths, a row outside the
  // port, or while the owning bitmap has no colour mode (alert).
  virtual Bool SetLineDirect(Int32 y, const void* data, Int32 bits) = 0;
  // Row transfers in the caller's colour mode `mode`; refused while the owning bitmap has no
  // colour mode (alert). The bitmap's own mode, and for reads that mode with alpha in front
  // (filled with full alpha), go straight through; COLORMODE_ALPHA moves the storage's alpha
  // only; any other mode is converted in runs of at most 128 pixels, dithered with
  // PIXELCNT_DITHER. A write reports false when the mode cannot be converted (nothing written)
  // or the storage refused a run (the runs before it stay written).
  virtual Bool SetPixelCntX(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                            COLORMODE mode, PIXELCNT flags);
  virtual void GetPixelCntX(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc, COLORMODE mode,
                            PIXELCNT flags, ColorProfileConvert* profile) const;
  // Row transfers in the layout of the owning bitmap's colour mode, no conversion.
  virtual Bool SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                            PIXELCNT flags) = 0;
  virtual void GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                            PIXELCNT flags) const = 0;

  Int32 GetBw() const { return width_; }
  Int32 GetBh() const { return height_; }
  Int32 GetBitsPerPixel() const { return bits_; }
  Int64 GetBytesPerRow() const { return bytesPerRow_; }
  UChar* GetBuffer() const { return buffer_; }
  DrawPortTypes GetPortType() const { return type_; }
  // The bitmap the port belongs to; the port takes its colour mode from it.
  BaseBitmap* GetBitmap() const { return bitmap_; }
  void SetBitmap(BaseBitmap* bitmap) { bitmap_ = bitmap; }

  DrawPort(const DrawPort&) = delete;
  DrawPort& operator=(const DrawPort&) = delete;

 protected:
  DrawPort() = default;

  // The owning bitmap's colour mode, 0 without an owner.
  Int32 OwnerColorMode() const;

  Int32 width_ = 0;
  Int32 height_ = 0;
  Int32 bits_ = 0;
  Int64 bytesPerRow_ = 0;
  UChar* buffer_ = nullptr;
  DrawPortTypes type_ = static_cast<DrawPortTypes>(0);
  BaseBitmap* bitmap_ = nullptr;
};

// A port that owns its pixel buffer. The concrete formats supply the pixel operations.
class IndependentDrawPort : public DrawPort {
 public:
  ~IndependentDrawPort() override;
  Bool CloneIt(DrawPort* dst) const override;
  void ScaleIt(DrawPort* dst, Int32 intensity, Bool filter, Bool stretch,
               Bool third) const override;
  void Free() override;
  Int32 Init(Int32 w, Int32 h) override;
  // No pixel format here: the set is refused, the get leaves the outputs alone.
  Bool SetPixel(Int32 x, Int32 y, Int32 r, Int32 g, Int32 b, Int32 v) override;
  void GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const override;
  Bool SetLineDirect(Int32 y, const void* data, Int32 bits) override;

 protected:
  IndependentDrawPort() = default;

  // Start of row y (0 = top) for storages kept top-down and bottom-up.
  UChar* RowTopDown(Int32 y) const { return buffer_ + static_cast<Int64>(y) * bytesPerRow_; }
  UChar* RowBottomUp(Int32 y) const {
    return buffer_ + static_cast<Int64>(height_ - 1 - y) * bytesPerRow_;
  }
};

// 24-bit RGB: three bytes red, green, blue per pixel; rows bottom-up.
// Bitmap colour mode COLORMODE_RGB.
class DrawPort_RGBb24 : public IndependentDrawPort {
 public:
  DrawPort_RGBb24() = default;
  Bool SetPixel(Int32 x, Int32 y, Int32 r, Int32 g, Int32 b, Int32 v) override;
  void GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const override;
  // Bytes 0, 1, 2 of each buffer pixel are red, green, blue; further bytes are not touched.
  // Alpha-only transfers move nothing (there is no alpha byte).
  Bool SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                    PIXELCNT flags) override;
  void GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                    PIXELCNT flags) const override;
};

// 32-bit RGB: one little-endian word red * 65536 + green * 256 + blue per pixel, so the bytes are
// blue, green, red and then an alpha byte; rows bottom-up. Bitmap colour mode COLORMODE_RGB:
// transfers move 3 bytes red, green, blue per pixel, and a colour write clears the alpha byte.
// Alpha-only transfers move the alpha byte, one buffer byte per pixel.
class DrawPort_RGBb32 : public IndependentDrawPort {
 public:
  DrawPort_RGBb32() = default;
  Bool SetPixel(Int32 x, Int32 y, Int32 r, Int32 g, Int32 b, Int32 v) override;
  void GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const override;
  Vector32 GetPixelDirect(Int32 x, Int32 y) const override;
  Bool SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                    PIXELCNT flags) override;
  void GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                    PIXELCNT flags) const override;
};

// 48-bit RGB: red, green, blue as unsigned 16-bit samples; rows top-down. Bitmap colour mode
// COLORMODE_RGBw. Single pixels go in and out on the 8-bit scale (the value times 256 in, the
// high byte out). Alpha-only transfers move nothing.
class DrawPort_RGBw : public IndependentDrawPort {
 public:
  DrawPort_RGBw() = default;
  Bool SetPixel(Int32 x, Int32 y, Int32 r, Int32 g, Int32 b, Int32 v) override;
  void GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const override;
  Vector32 GetPixelDirect(Int32 x, Int32 y) const override;
  Bool SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                    PIXELCNT flags) override;
  void GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                    PIXELCNT flags) const override;
};

// 96-bit RGB: red, green, blue as 32-bit floats, 1.0 full; rows top-down. Bitmap colour mode
// COLORMODE_RGBf. Samples are not clamped when stored; GetPixel clamps, GetPixelDirect does not.
// Alpha-only transfers move nothing.
class DrawPort_RGBf : public IndependentDrawPort {
 public:
  DrawPort_RGBf() = default;
  Bool SetPixel(Int32 x, Int32 y, Int32 r, Int32 g, Int32 b, Int32 v) override;
  void GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const override;
  Vector32 GetPixelDirect(Int32 x, Int32 y) const override;
  Bool SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                    PIXELCNT flags) override;
  void GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                    PIXELCNT flags) const override;
};

// 8-bit grey, rows top-down; bitmap colour mode COLORMODE_GREY. SetPixel stores v. As the
// storage of an alpha channel its grey bytes are the alpha: an alpha-only read returns them,
// an alpha-only write is ignored.
class DrawPort_GREYb8 : public IndependentDrawPort {
 public:
  DrawPort_GREYb8() = default;
  Bool SetPixel(Int32 x, Int32 y, Int32 r, Int32 g, Int32 b, Int32 v) override;
  void GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const override;
  Vector32 GetPixelDirect(Int32 x, Int32 y) const override;
  Bool SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                    PIXELCNT flags) override;
  void GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                    PIXELCNT flags) const override;
};

// 16-bit grey, rows top-down; bitmap colour mode COLORMODE_GREYw. SetPixel stores v * 257.
// Alpha-only transfers move nothing.
class DrawPort_GREYw : public IndependentDrawPort {
 public:
  DrawPort_GREYw() = default;
  Bool SetPixel(Int32 x, Int32 y, Int32 r, Int32 g, Int32 b, Int32 v) override;
  void GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const override;
  Vector32 GetPixelDirect(Int32 x, Int32 y) const override;
  Bool SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                    PIXELCNT flags) override;
  void GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                    PIXELCNT flags) const override;
};

// Float grey, 1.0 full, rows top-down; bitmap colour mode COLORMODE_GREYf. SetPixel stores
// v / 255. Alpha-only transfers move nothing.
class DrawPort_GREYf : public IndependentDrawPort {
 public:
  DrawPort_GREYf() = default;
  Bool SetPixel(Int32 x, Int32 y, Int32 r, Int32 g, Int32 b, Int32 v) override;
  void GetPixel(Int32 x, Int32 y, UInt16* r, UInt16* g, UInt16* b) const override;
  Vector32 GetPixelDirect(Int32 x, Int32 y) const override;
  Bool SetPixelCntP(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                    PIXELCNT flags) override;
  void GetPixelCntP(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                    PIXELCNT flags) const override;
};

// One pixel of `port` as 8-bit red, green, blue, read through the port's own RGB transfer.
// `profile` is passed on unused.
void GetPixelWrapper(const DrawPort* port, Int32 x, Int32 y, Int32* r, Int32* g, Int32* b,
                     ColorProfileConvert* profile);
// One pixel of `port` from GetPixelDirect, each value truncated toward zero and not clamped to
// 0..255 (values beyond the Int32 range saturate, NaN gives 0).
void GetPixelWrapperFloat(const DrawPort* port, Int32 x, Int32 y, Int32* r, Int32* g, Int32* b,
                          ColorProfileConvert* profile);

}  // namespace lumora

#endif  // LUM_DRAWPORT_H
