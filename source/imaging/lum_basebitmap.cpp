// BaseBitmap: life and size, row transfers, alpha channels, copies and saving.
#include "imaging/lum_basebitmap.h"

#include <cstring>

#include "imaging/lum_bitmapsaver.h"
#include "lum_debug.h"
#include "imaging/lum_drawport.h"
#include "lum_memory.h"

namespace lumora {
namespace {

const Char* const kFile = "source/lum_basebitmap";

// Indexed by mode - 2 for modes 2 ... 40; 0 = not a colour mode.
const UChar kBytesPerPixel[39] = {
    1, 2, 3,  4,  4, 5, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0,  // 2 ... 17
    2, 4, 6,  8,  0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 18 ... 33
    4, 8, 12, 16, 0, 0, 4,                             // 34 ... 40
};
const UChar kBytesPerSample[39] = {
    1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0,  // 2 ... 17
    2, 2, 2, 2, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 18 ... 33
    4, 4, 4, 4, 0, 0, 4,                             // 34 ... 40
};

Bool DepthAccepted(Int32 depth) {
  return (depth >= 1 && depth <= 32) || depth == 48 || depth == 96;
}

// The colour mode a bitmap gets from the storage DrawPort::Alloc made.
COLORMODE ModeOfPort(const DrawPort* port) {
  Int32 bits = port->GetBitsPerPixel();
  if (port->GetPortType() == DRAWPORT_GREY) {
    if (bits == 16) return COLORMODE_GREYw;
    if (bits == 32) return COLORMODE_GREYf;
    return COLORMODE_GREY;
  }
  if (bits == 48) return COLORMODE_RGBw;
  if (bits == 96) return COLORMODE_RGBf;
  return COLORMODE_RGB;
}

}  // namespace

Int32 ColorModeBytesPerPixel(Int32 mode) {
  return mode >= 2 && mode <= 40 ? kBytesPerPixel[mode - 2] : 0;
}

Int32 ColorModeBytesPerSample(Int32 mode) {
  return mode >= 2 && mode <= 40 ? kBytesPerSample[mode - 2] : 0;
}

// ---- life and size -------------------------------------------------------------------------

BaseBitmap::BaseBitmap()
    : storage_(nullptr),
      colorMode_(static_cast<COLORMODE>(0)),
      channels_{},
      rawData_(nullptr),
      rawDataSize_(0) {}

BaseBitmap::~BaseBitmap() { _Free(); }

Int32 BaseBitmap::_Init(Int32 w, Int32 h, Int32 depth, DrawPortTypes type, void* reserved) {
  _Free();
  if (w <= 0) w = 1;
  if (h <= 0) h = 1;
  if (w > BITMAP_MAX_SIZE || h > BITMAP_MAX_SIZE) return BITMAPRESULT_SIZE;
  if (!DepthAccepted(depth)) {
    _GeDebugBreak(485, kFile);
    depth = 16;
  }
  DrawPort* port = DrawPort::Alloc(type, depth, reserved);
  if (port == nullptr) return BITMAPRESULT_FAILED;
  port->SetBitmap(this);
  if (port->Init(w, h) != BITMAPRESULT_OK) {
    DeleteObj(port);
    return BITMAPRESULT_FAILED;
  }
  storage_ = port;
  colorMode_ = ModeOfPort(port);
  return BITMAPRESULT_OK;
}

Int32 BaseBitmap::Init(Int32 w, Int32 h, Int32 depth, INITBITMAPFLAGS flags) {
  DrawPortTypes type = DRAWPORT_RGB;
  if ((flags & INITBITMAPFLAGS_FOREIGN) != 0)
    type = DRAWPORT_FOREIGN;
  else if ((flags & INITBITMAPFLAGS_GREY) != 0)
    type = DRAWPORT_GREY;
  return _Init(w, h, depth, type, nullptr);
}

void BaseBitmap::_Free() {
  for (ChannelSlot& slot : channels_) {
    DeleteObj(slot.channel);
    slot.internal = false;
  }
  DeleteObj(storage_);
  MemFree(rawData_);
  rawDataSize_ = 0;
}

Int32 BaseBitmap::GetBw() const { return storage_ != nullptr ? storage_->GetBw() : 0; }

Int32 BaseBitmap::GetBh() const { return storage_ != nullptr ? storage_->GetBh() : 0; }

Int32 BaseBitmap::Init(const void* data, Int64 size) {
  _Free();
  if (data == nullptr) return BITMAPRESULT_NODATA;
  if (size < 0) return BITMAPRESULT_FAILED;
  void* block = MemAlloc(size);
  if (block == nullptr) return BITMAPRESULT_FAILED;
  if (size > 0) std::memcpy(block, data, static_cast<size_t>(size));
  rawData_ = block;
  rawDataSize_ = size;
  return BITMAPRESULT_OK;
}

// ---- row transfers -------------------------------------------------------------------------

Bool BaseBitmap::RowFits(Int32 x, Int32 y, Int32 cnt, Int32 width, Int32 height) {
  if (cnt == 0 || x < 0 || y < 0 || x >= width || y >= height) return false;
  Int64 end = static_cast<Int64>(x) + cnt;
  return end > 0 && end <= width;
}

Bool BaseBitmap::SetPixelCnt(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                             COLORMODE mode, PIXELCNT flags) {
  if (storage_ == nullptr || buffer == nullptr) return false;
  if (!RowFits(x, y, cnt, storage_->GetBw(), storage_->GetBh())) return false;
  return storage_->SetPixelCntX(x, y, cnt, buffer, inc, mode, flags);
}

void BaseBitmap::GetPixelCnt(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc, COLORMODE mode,
                             PIXELCNT flags, ColorProfileConvert* profile) const {
  if (storage_ == nullptr || buffer == nullptr) return;
  if (!RowFits(x, y, cnt, storage_->GetBw(), storage_->GetBh())) return;
  storage_->GetPixelCntX(x, y, cnt, buffer, inc, mode, flags, profile);
}

// ---- alpha channels ------------------------------------------------------------------------

Bool BaseBitmap::SetAlphaPixel(BaseBitmap* channel, Int32 x, Int32 y, Int32 value) {
  if (channel == nullptr || channel->storage_ == nullptr) return false;
  if (x < 0 || y < 0 || x >= channel->GetBw() || y >= channel->GetBh()) return false;
  return channel->storage_->SetPixel(x, y, value, value, value, value);
}

void BaseBitmap::GetAlphaPixel(BaseBitmap* channel, Int32 x, Int32 y, UInt16* value) const {
  if (channel == nullptr || value == nullptr) return;
  if (channel->storage_ == nullptr || x < 0 || y < 0 || x >= channel->GetBw() ||
      y >= channel->GetBh()) {
    *value = 0;
    return;
  }
  UInt16 a = 0, b = 0, c = 0;
  channel->storage_->GetPixel(x, y, &a, &b, &c);
  *value = a;
}

Bool BaseBitmap::SetAlphaPixelCnt(Int32 x, Int32 y, Int32 cnt, const UChar* buffer, Int32 inc,
                                  BaseBitmap* channel) {
  if (channel == nullptr || storage_ == nullptr || buffer == nullptr) return false;
  if (channel->storage_ == nullptr) return false;
  if (!RowFits(x, y, cnt, channel->GetBw(), channel->GetBh())) return false;
  return channel->storage_->SetPixelCntX(x, y, cnt, buffer, inc, COLORMODE_GREY, PIXELCNT_NONE);
}

void BaseBitmap::GetAlphaPixelCnt(Int32 x, Int32 y, Int32 cnt, UChar* buffer, Int32 inc,
                                  BaseBitmap* channel) const {
  if (channel == nullptr || storage_ == nullptr) return;
  channel->GetPixelCnt(x, y, cnt, buffer, inc, COLORMODE_GREY, PIXELCNT_NONE, nullptr);
}

BaseBitmap* BaseBitmap::AddChannel(Bool internal, Bool second) {
  (void)second;
  if (storage_ == nullptr) return nullptr;
  Int32 bits = storage_->GetBitsPerPixel();
  Bool grey = storage_->GetPortType() == DRAWPORT_GREY;
  Int32 depth = 8;
  if (bits == 48 || (grey && bits == 16))
    depth = 16;
  else if (bits == 96 || (grey && bits == 32))
    depth = 32;

  ChannelSlot* slot = nullptr;
  for (ChannelSlot& s : channels_) {
    if (s.channel == nullptr) {
      slot = &s;
      break;
    }
  }
  if (slot == nullptr) return nullptr;

  BaseBitmap* channel = NewObj<BaseBitmap>();
  if (channel == nullptr) return nullptr;
  if (channel->_Init(storage_->GetBw(), storage_->GetBh(), depth, DRAWPORT_GREY, nullptr) !=
      BITMAPRESULT_OK) {
    DeleteObj(channel);
    return nullptr;
  }
  slot->channel = channel;
  slot->internal = internal;
  return channel;
}

void BaseBitmap::RemoveChannel(BaseBitmap* channel) {
  if (channel == nullptr) return;
  for (ChannelSlot& slot : channels_) {
    if (slot.channel == channel) {
      DeleteObj(slot.channel);
      slot.internal = false;
      return;
    }
  }
}

BaseBitmap* BaseBitmap::GetInternalChannel() const {
  for (const ChannelSlot& slot : channels_)
    if (slot.channel != nullptr && slot.internal) return slot.channel;
  for (const ChannelSlot& slot : channels_)
    if (slot.channel != nullptr) return slot.channel;
  return nullptr;
}

Int32 BaseBitmap::GetChannelCount() const {
  Int32 n = 0;
  for (const ChannelSlot& slot : channels_)
    if (slot.channel != nullptr) ++n;
  return n;
}

BaseBitmap* BaseBitmap::GetChannelNum(Int32 num) const {
  if (num < 0) return nullptr;
  for (const ChannelSlot& slot : channels_) {
    if (slot.channel == nullptr) continue;
    if (num == 0) return slot.channel;
    --num;
  }
  return nullptr;
}

// ---- copies --------------------------------------------------------------------------------

Bool BaseBitmap::CloneIt(BaseBitmap* dst) const {
  if (dst == nullptr) return false;
  if (dst == this) return true;

  if (rawData_ != nullptr && rawDataSize_ > 0) {
    dst->_Free();
    void* block = MemAlloc(rawDataSize_);
    if (block == nullptr) return false;
    std::memcpy(block, rawData_, static_cast<size_t>(rawDataSize_));
    dst->rawData_ = block;
    dst->rawDataSize_ = rawDataSize_;
    return true;
  }

  if (storage_ == nullptr) {
    dst->_Free();
    return true;
  }
  if (dst->_Init(storage_->GetBw(), storage_->GetBh(), storage_->GetBitsPerPixel(),
                 storage_->GetPortType(), nullptr) != BITMAPRESULT_OK)
    return false;
  if (!storage_->CloneIt(dst->storage_)) return false;

  for (Int32 i = 0; i < kChannelSlots; ++i) {
    const ChannelSlot& from = channels_[i];
    ChannelSlot& to = dst->channels_[i];
    to.internal = from.internal;
    if (from.channel == nullptr) continue;
    if (to.channel == nullptr) to.channel = NewObj<BaseBitmap>();
    if (to.channel == nullptr || !from.channel->CloneIt(to.channel)) {
      DeleteObj(to.channel);
      to.internal = false;
      return false;
    }
  }
  return true;
}

BaseBitmap* BaseBitmap::GetClone() const {
  BaseBitmap* copy = NewObj<BaseBitmap>();
  if (copy == nullptr) return nullptr;
  if (!CloneIt(copy)) {
    DeleteObj(copy);
    return nullptr;
  }
  return copy;
}

// ---- saving --------------------------------------------------------------------------------

Int32 BaseBitmap::Save(const Filename& name, Int32 filter, BaseContainer* container,
                       SAVEBIT savebit) {
  // The saver lives for this one call.
  BitmapSaverData* saver = nullptr;
  switch (filter) {
    case FILTER_JPG:
      saver = NewObj<JpgSaver>();
      break;
    case FILTER_BMP:
      saver = NewObj<BmpSaver>();
      break;
    default:
      return BITMAPRESULT_FAILED;
  }
  if (saver == nullptr) return BITMAPRESULT_FAILED;
  Int32 result = saver->Save(name, this, container, savebit);
  DeleteObj(saver);
  return result;
}

}  // namespace lumora
