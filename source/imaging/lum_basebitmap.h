// BaseBitmap, the library's in-memory picture, and the value sets every imaging class shares:
// colour modes, row-transfer flags, bitmap init flags, draw-port types, save bits and the
// bitmap result codes.
//
// A bitmap is a width x height raster held in a pixel storage (a DrawPort), a colour mode that
// names the form in which it hands out and takes in pixels, up to four alpha channels (each a
// grey BaseBitmap of the same size) and optionally a raw data block copied in from memory.
#ifndef LUM_BASEBITMAP_H
#define LUM_BASEBITMAP_H

#include "lum_types.h"

namespace lumora {

class DrawPort;
class Filename;
class BaseContainer;
// Colour profiles are not part of this library's imaging; the pointer is only passed on.
class ColorProfileConvert;

// Bits 4-5: sample type (0 8-bit, 1 16-bit unsigned, 2 32-bit float); bits 0-3: layout, bit 0
// set means an alpha sample comes first. 0 is no colour mode (a bitmap never initialised).
enum COLORMODE : Int32 {
  COLORMODE_ALPHA = 1,
  COLORMODE_GREY = 2,
  COLORMODE_AGREY = 3,
  COLORMODE_RGB = 4,
  COLORMODE_ARGB = 5,
  COLORMODE_MASK = 8,
  COLORMODE_GREYw = 18,
  COLORMODE_AGREYw = 19,
  COLORMODE_RGBw = 20,
  COLORMODE_ARGBw = 21,
  COLORMODE_MASKw = 24,
  COLORMODE_GREYf = 34,
  COLORMODE_AGREYf = 35,
  COLORMODE_RGBf = 36,
  COLORMODE_ARGBf = 37,
  COLORMODE_MASKf = 40,
};

// Bytes of one pixel / of one sample in colour mode `mode`; 0 for anything that is not a
// colour mode the transfers know (including COLORMODE_ALPHA, which moves through the storage's
// alpha byte only).
Int32 ColorModeBytesPerPixel(Int32 mode);
Int32 ColorModeBytesPerSample(Int32 mode);

// Row-transfer flags.
enum PIXELCNT : Int32 {
  PIXELCNT_NONE = 0,
  // Ordered dithering keyed by (column mod 8, row mod 8) when a conversion reduces depth.
  PIXELCNT_DITHER = 0x1,
  // Set internally when the caller's buffer holds alpha only.
  PIXELCNT_ALPHAONLY = 0x40000000,
};

enum INITBITMAPFLAGS : Int32 {
  INITBITMAPFLAGS_NONE = 0,       // colour storage
  INITBITMAPFLAGS_GREY = 0x1,     // grey storage
  INITBITMAPFLAGS_FOREIGN = 0x2,  // a storage kind this library does not provide; wins over GREY
};

// 4 is accepted wherever a port type is taken and means DRAWPORT_RGB.
enum DrawPortTypes : Int32 {
  DRAWPORT_GREY = 1,
  DRAWPORT_RGB = 2,
  DRAWPORT_FOREIGN = 3,
};

enum SAVEBIT : Int32 {
  SAVEBIT_NONE = 0,
  SAVEBIT_GREY = 0x10,  // JPEG: write one grey component
};

inline PIXELCNT operator|(PIXELCNT a, PIXELCNT b) {
  return static_cast<PIXELCNT>(static_cast<Int32>(a) | static_cast<Int32>(b));
}
inline INITBITMAPFLAGS operator|(INITBITMAPFLAGS a, INITBITMAPFLAGS b) {
  return static_cast<INITBITMAPFLAGS>(static_cast<Int32>(a) | static_cast<Int32>(b));
}
inline SAVEBIT operator|(SAVEBIT a, SAVEBIT b) {
  return static_cast<SAVEBIT>(static_cast<Int32>(a) | static_cast<Int32>(b));
}

// Results of Init, _Init, Save and the savers.
enum BITMAPRESULT : Int32 {
  BITMAPRESULT_OK = 1,
  BITMAPRESULT_SIZE = -2,      // width or height above 128000
  BITMAPRESULT_FAILED = -3,    // out of memory, storage kind not provided, unknown filter, codec
  BITMAPRESULT_FILE = -4,      // the output file cannot be opened or written
  BITMAPRESULT_NODATA = -6,    // Init from memory without data
  BITMAPRESULT_TOOLARGE = -7,  // larger than the saver's maximum resolution
};

// Filter ids accepted by BaseBitmap::Save.
constexpr Int32 FILTER_BMP = 1102;
constexpr Int32 FILTER_JPG = 1104;

// The largest width and height a bitmap accepts.
constexpr Int32 BITMAP_MAX_SIZE = 128000;

class BaseBitmap {
 public:
  static constexpr Int32 kChannelSlots = 4;

  // Empty: no storage, colour mode 0, no channels, no raw data.
  BaseBitmap();

  // Frees everything the bitmap holds (_Free), then makes w x h storage of the kind `type` and
  // depth `depth`. w and h below 1 become 1; above 128000 gives BITMAPRESULT_SIZE. A depth
  // outside 1..32, 48, 96 alerts and becomes 16. On failure after the free the bitmap is left
  // without storage and its colour mode keeps its previous value.
  virtual Int32 _Init(Int32 w, Int32 h, Int32 depth, DrawPortTypes type, void* reserved);
  virtual ~BaseBitmap();
  // _Init with the storage kind chosen by `flags` (FOREIGN, else GREY, else colour).
  virtual Int32 Init(Int32 w, Int32 h, Int32 depth, INITBITMAPFLAGS flags);

  // One value into / out of `channel` (any bitmap with storage). Outside the channel the set is
  // refused and the get writes 0; a null channel leaves *value alone.
  virtual Bool SetAlphaPixel(BaseBitmap* channel, Int32 x, Int32 y, Int32 value);
  virtual void GetAlphaPixel(BaseBitmap* channel, Int32 x, Int32 y, UInt16* value) const;

  // Writes cnt pixels of colour mode `mode` into `buffer`, pixel i at byte i * inc. The request
  // is checked like SetPixelCnt's and refused whole (nothing written) when it does not fit.
  virtual void GetPixelCnt(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc, COLORMODE mode,
                           PIXELCNT flags, ColorProfileConvert* profile) const;

  // cnt 8-bit alpha values (stride inc) into / out of `channel`, which must fit the row.
  virtual Bool SetAlphaPixelCnt(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                                BaseBitmap* channel);
  virtual void GetAlphaPixelCnt(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                                BaseBitmap* channel) const;

  // Adds a grey channel of the bitmap's size in the first free slot, deep enough for the
  // storage (16-bit for 16-bit storages, float for float storages, else 8-bit). Null without
  // storage, with all four slots taken, or when memory runs out. `second` has no effect.
  virtual BaseBitmap* AddChannel(Bool internal, Bool second);
  // Destroys `channel` if it is one of this bitmap's; anything else is ignored.
  virtual void RemoveChannel(BaseBitmap* channel);
  // The first channel flagged internal, else the first channel, else null.
  virtual BaseBitmap* GetInternalChannel() const;
  virtual Int32 GetChannelCount() const;
  // The num-th occupied slot (counting occupied slots only), or null.
  virtual BaseBitmap* GetChannelNum(Int32 num) const;

  // Destroys the channels, the storage and the raw data. The colour mode is kept.
  void _Free();

  // Copies cnt pixels of colour mode `mode` from `buffer` (pixel i at byte i * inc) into row y
  // from column x on. Nothing is clipped: a request that does not lie wholly inside the bitmap
  // is refused (false, nothing written).
  Bool SetPixelCnt(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc, COLORMODE mode,
                   PIXELCNT flags);

  // Size of the storage; 0 x 0 without storage.
  Int32 GetBw() const;
  Int32 GetBh() const;
  COLORMODE GetColorMode() const { return colorMode_; }

  // Makes `dst` a deep copy: the raw data block if this bitmap carries one (nothing else then),
  // otherwise storage, pixels, channels and their flags. On false `dst` holds whatever was
  // copied before the failure; it never holds a half-made channel. Cloning into itself is a
  // no-op that succeeds.
  Bool CloneIt(BaseBitmap* dst) const;
  // A new deep copy owned by the caller (free it with DeleteObj), or null.
  BaseBitmap* GetClone() const;

  // Frees everything, then keeps a copy of `size` bytes from `data`. Such a bitmap has no
  // storage (0 x 0); the block only travels along with CloneIt.
  Int32 Init(const void* data, Int64 size);

  // Writes the bitmap with the saver of `filter` (FILTER_JPG, FILTER_BMP); `container` holds
  // optional settings and may be null. Unknown filters give BITMAPRESULT_FAILED.
  Int32 Save(const Filename& name, Int32 filter, BaseContainer* container, SAVEBIT savebit);

  // The pixel storage (null without one), the raw data block and its size.
  DrawPort* GetDrawPort() const { return storage_; }
  const void* GetRawData() const { return rawData_; }
  Int64 GetRawDataSize() const { return rawDataSize_; }

  BaseBitmap(const BaseBitmap&) = delete;
  BaseBitmap& operator=(const BaseBitmap&) = delete;

 private:
  struct ChannelSlot {
    BaseBitmap* channel;
    Bool internal;
  };

  // True when [x, x + cnt) of row y lies inside a width x height raster.
  static Bool RowFits(Int32 x, Int32 y, Int32 cnt, Int32 width, Int32 height);

  DrawPort* storage_;
  COLORMODE colorMode_;
  ChannelSlot channels_[kChannelSlots];
  void* rawData_;
  Int64 rawDataSize_;
};

}  // namespace lumora

#endif  // LUM_BASEBITMAP_H
