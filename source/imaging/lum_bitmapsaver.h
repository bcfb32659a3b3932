// The image savers behind BaseBitmap::Save: JpgSaver (FILTER_JPG) compresses a bitmap with
// libjpeg, BmpSaver (FILTER_BMP) writes an uncompressed 24-bit Windows bitmap.
//
// Both read the picture back row by row through BaseBitmap::GetPixelCnt in 8-bit RGB (or 8-bit
// grey), so they take a bitmap of any storage format, and both write through a BaseFile, so a
// Filename naming a memory file is written to memory. A saver keeps nothing between calls;
// BaseBitmap::Save creates one for a single call.
//
// Result codes (BITMAPRESULT): OK on success; TOOLARGE when the width or the height exceeds
// GetMaxResolution (checked before the file is touched); FILE when the file cannot be opened or
// the file reports an error once everything is written and the file is closed; FAILED when a
// buffer cannot be had or libjpeg stops with an error (a failed write inside the JPEG encoder
// included). A failed save may leave a partial file behind: callers that must not leave one
// write to a temporary name and rename it on success.
#ifndef LUM_BITMAPSAVER_H
#define LUM_BITMAPSAVER_H

#include "imaging/lum_basebitmap.h"
#include "lum_types.h"

namespace lumora {

class BaseContainer;
class Filename;

// Settings a saver reads from the container passed to Save (which may be null).
constexpr Int32 JPGSAVER_QUALITY = 10021;  // Int32 1 ... 100, default 95
constexpr Int32 BMPSAVER_DPI = 10022;      // Int32 dots per inch, default 72

// A four-character code with the first character in the most significant byte.
constexpr Int32 MakeFourCC(char a, char b, char c, char d) {
  return static_cast<Int32>((static_cast<UInt32>(static_cast<UChar>(a)) << 24) |
                            (static_cast<UInt32>(static_cast<UChar>(b)) << 16) |
                            (static_cast<UInt32>(static_cast<UChar>(c)) << 8) |
                            static_cast<UInt32>(static_cast<UChar>(d)));
}

// Finder type and creator codes of the written files.
constexpr Int32 SAVER_CREATOR = MakeFourCC('L', 'U', 'M', '1');
constexpr Int32 JPGSAVER_FILETYPE = MakeFourCC('J', 'P', 'E', 'G');
constexpr Int32 BMPSAVER_FILETYPE = MakeFourCC('L', 'U', 'M', 'B');

class BitmapSaverData {
 public:
  virtual ~BitmapSaverData() {}
  // Writes bitmap to name. settings may be null; flags are SAVEBIT bits.
  virtual Int32 Save(const Filename& name, BaseBitmap* bitmap, BaseContainer* settings,
                     SAVEBIT flags) = 0;
  // The largest width and height the saver accepts (the same for both values of the flag).
  virtual Int32 GetMaxResolution(Bool layers) const = 0;
};

// Baseline JPEG, floating-point DCT, quality JPGSAVER_QUALITY when the container holds it, else
// 95. Three RGB components, or one grey component (the bitmap's own RGB-to-grey conversion)
// with SAVEBIT_GREY. File type "JPEG", creator "LUM1". A bitmap without pixels (0 x 0) cannot be
// encoded and gives FAILED without touching the file.
class JpgSaver : public BitmapSaverData {
 public:
  static constexpr Int32 kMaxResolution = 65000;
  Int32 Save(const Filename& name, BaseBitmap* bitmap, BaseContainer* settings,
             SAVEBIT flags) override;
  Int32 GetMaxResolution(Bool layers) const override;
};

// 24-bit bottom-up Windows bitmap, rows padded to a multiple of 4 bytes, resolution
// BMPSAVER_DPI (default 72) given in the header as pixels per metre (dpi * 11808 / 300; 2833
// without a container). File type "LUMB", creator "LUM1". SAVEBIT bits are ignored.
class BmpSaver : public BitmapSaverData {
 public:
  static constexpr Int32 kMaxResolution = 32000;
  Int32 Save(const Filename& name, BaseBitmap* bitmap, BaseContainer* settings,
             SAVEBIT flags) override;
  Int32 GetMaxResolution(Bool layers) const override;
};

}  // namespace lumora

#endif  // LUM_BITMAPSAVER_H
