// POSIX implementation of the platform layer.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lum_memory.h"
#include "platform/lum_platform.h"

namespace lumora {

void PlatformDebugStr(const UChar* pascalText) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(pascalText[0]),
               reinterpret_cast<const char*>(pascalText + 1));
}

// ---- Files: Finder information and old colon-separated paths ----

namespace {

// Where the system keeps the Finder information; Linux wants extended attributes of user
// programs in the user namespace.
#if defined(__APPLE__)
constexpr const char* kFinderInfoName = "com.apple.FinderInfo";
#else
constexpr const char* kFinderInfoName = "user.com.apple.FinderInfo";
#endif
constexpr int kFinderInfoSize = 32;

ssize_t GetAttr(int fd, void* value, size_t size) {
#if defined(__APPLE__)
  return fgetxattr(fd, kFinderInfoName, value, size, 0, 0);
#else
  return fgetxattr(fd, kFinderInfoName, value, size);
#endif
}

ssize_t GetAttr(const char* path, void* value, size_t size) {
#if defined(__APPLE__)
  return getxattr(path, kFinderInfoName, value, size, 0, 0);
#else
  return getxattr(path, kFinderInfoName, value, size);
#endif
}

int SetAttr(int fd, const void* value, size_t size) {
#if defined(__APPLE__)
  return fsetxattr(fd, kFinderInfoName, value, size, 0, 0);
#else
  return fsetxattr(fd, kFinderInfoName, value, size, 0);
#endif
}

void PutCode(UChar* at, Int32 code) {
  UInt32 v = static_cast<UInt32>(code);
  at[0] = static_cast<UChar>(v >> 24);
  at[1] = static_cast<UChar>(v >> 16);
  at[2] = static_cast<UChar>(v >> 8);
  at[3] = static_cast<UChar>(v);
}

Int32 GetCode(const UChar* at) {
  return static_cast<Int32>((static_cast<UInt32>(at[0]) << 24) |
                            (static_cast<UInt32>(at[1]) << 16) | (static_cast<UInt32>(at[2]) << 8) |
                            static_cast<UInt32>(at[3]));
}

}  // namespace

bool PlatformGetFSRef(const char* utf8Path, FSRef* ref) {
  ref->device = 0;
  ref->node = 0;
  struct stat st;
  if (stat(utf8Path, &st) != 0) return false;
  ref->device = static_cast<UInt64>(st.st_dev);
  ref->node = static_cast<UInt64>(st.st_ino);
  return true;
}

bool PlatformSetFinderInfo(int fd, Int32 type, Int32 creator) {
  if (type == 0 && creator == 0) return false;
  struct stat st;  // fstat also refuses a descriptor that is not open
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  UChar info[kFinderInfoSize];
  std::memset(info, 0, sizeof info);
  UChar old[kFinderInfoSize];
  if (GetAttr(fd, old, sizeof old) == kFinderInfoSize) std::memcpy(info, old, sizeof info);
  if (type != 0) PutCode(info, type);
  if (creator != 0) PutCode(info + 4, creator);
  return SetAttr(fd, info, sizeof info) == 0;
}

bool PlatformGetFinderInfo(const char* utf8Path, Int32* type, Int32* creator) {
  UChar info[kFinderInfoSize];
  if (GetAttr(utf8Path, info, sizeof info) != kFinderInfoSize) return false;
  *type = GetCode(info);
  *creator = GetCode(info + 4);
  return true;
}

namespace {

// Appends units to a bounded output; remembers when something did not fit.
struct UnitSink {
  UInt16* out;
  Int32 capacity;
  Int32 length = 0;
  bool overflow = false;
  void Put(UInt16 u) {
    if (length < capacity)
      out[length++] = u;
    else
      overflow = true;
  }
  void PutAscii(const char* text) {
    while (*text != 0) Put(static_cast<UInt16>(*text++));
  }
};

}  // namespace

Int32 PlatformColonPathToPosix(const UInt16* units, Int32 count, UInt16* out, Int32 capacity) {
  if (units == nullptr || count <= 0 || out == nullptr || capacity <= 0) return -1;
  const UInt16 kColon = ':';
  UnitSink sink{out, capacity};
  const bool relative = units[0] == kColon;
  Int32 i = relative ? 1 : 0;
  // The part an up-level may not remove: "/Volumes/<volume>", or the ".." run of a relative path.
  Int32 floor = 0;
  while (i < count) {
    Int32 end = i;
    while (end < count && units[end] != kColon) ++end;
    if (end > i) {
      if (!relative && sink.length == 0) {
        sink.PutAscii("/Volumes/");
      } else if (sink.length > 0) {
        sink.Put('/');
      }
      for (Int32 k = i; k < end; ++k) sink.Put(units[k] == '/' ? kColon : units[k]);
      if (!relative && floor == 0) floor = sink.length;
    } else if (sink.length > floor) {
      // A ':' right after a ':' goes up one level: drop the last name and its separator.
      while (sink.length > floor && out[sink.length - 1] != '/') --sink.length;
      if (sink.length > floor) --sink.length;
    } else if (relative) {
      if (sink.length > 0) sink.Put('/');
      sink.PutAscii("..");
      floor = sink.length;
    }
    // A ':' that ends the path (a directory) adds nothing.
    i = end + 1;
  }
  if (sink.length == 0) sink.Put('.');
  return sink.overflow ? -1 : sink.length;
}

// ---- Text: the system's string objects ----

namespace {

// One character of well-formed UTF-8 at bytes[*i]; malformed input yields U+FFFD and consumes
// one byte.
UInt32 NextUtf8(const UChar* bytes, Int64 count, Int64* i) {
  UChar b = bytes[*i];
  Int32 extra = -1;  // continuation bytes to follow; -1 for a byte that cannot start one
  if (b < 0x80) {
    extra = 0;
  } else if ((b & 0xE0) == 0xC0) {
    extra = 1;
  } else if ((b & 0xF0) == 0xE0) {
    extra = 2;
  } else if ((b & 0xF8) == 0xF0) {
    extra = 3;
  }
  if (extra < 0 || *i + extra >= count) {  // a lead byte alone, or a sequence cut by the end
    *i += 1;
    return 0xFFFD;
  }
  static const UInt32 kMin[4] = {0, 0x80, 0x800, 0x10000};
  UInt32 c = extra == 0 ? b : (b & (0x3F >> extra));
  for (Int32 k = 1; k <= extra; ++k) {
    UChar t = bytes[*i + k];
    if ((t & 0xC0) != 0x80) {
      *i += 1;
      return 0xFFFD;
    }
    c = (c << 6) | (t & 0x3F);
  }
  if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    *i += 1;
    return 0xFFFD;
  }
  *i += extra + 1;
  return c;
}

}  // namespace

void PlatformTextCreateNoCopy(const UInt16* units, Int32 count, PlatformText* text) {
  if (text == nullptr) return;
  bool empty = units == nullptr || count <= 0;
  text->units = empty ? nullptr : units;
  text->length = empty ? 0 : count;
  text->owned = false;
}

bool PlatformTextCreateWithUTF8(const char* bytes, Int64 count, PlatformText* text) {
  text->units = nullptr;
  text->length = 0;
  text->owned = false;
  if (bytes == nullptr) return true;
  if (count < 0) count = static_cast<Int64>(std::strlen(bytes));
  if (count == 0) return true;
  // Never more units than bytes.
  if (count > 0x7FFFFFF0) return false;
  auto* units = static_cast<UInt16*>(MemAllocNC(count * 2));
  if (units == nullptr) return false;
  const auto* in = reinterpret_cast<const UChar*>(bytes);
  Int32 n = 0;
  for (Int64 i = 0; i < count;) {
    UInt32 c = NextUtf8(in, count, &i);
    if (c >= 0x10000) {
      c -= 0x10000;
      units[n++] = static_cast<UInt16>(0xD800 | (c >> 10));
      units[n++] = static_cast<UInt16>(0xDC00 | (c & 0x3FF));
    } else {
      units[n++] = static_cast<UInt16>(c);
    }
  }
  text->units = units;
  text->length = n;
  text->owned = true;
  return true;
}

Int32 PlatformTextGetLength(const PlatformText* text) { return text->length; }

const UInt16* PlatformTextGetCharactersPtr(const PlatformText* text) {
  return text->owned ? nullptr : text->units;
}

Int32 PlatformTextGetCharacters(const PlatformText* text, Int32 start, Int32 count, UInt16* dest) {
  if (start < 0 || count <= 0 || start >= text->length) return 0;
  Int32 n = count < text->length - start ? count : text->length - start;
  std::memcpy(dest, text->units + start, static_cast<size_t>(n) * sizeof(UInt16));
  return n;
}

Int64 PlatformTextGetUTF8(const PlatformText* text, char* dest, Int64 size) {
  Int64 need = 0, w = 0;
  bool full = false;
  const Int32 len = text->length;
  for (Int32 i = 0; i < len; ++i) {
    UInt32 c = text->units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < len && text->units[i + 1] >= 0xDC00 &&
        text->units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text->units[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    UChar out[4];
    Int32 n = 0;
    if (c < 0x80) {
      out[n++] = static_cast<UChar>(c);
    } else if (c < 0x800) {
      out[n++] = static_cast<UChar>(0xC0 | (c >> 6));
      out[n++] = static_cast<UChar>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out[n++] = static_cast<UChar>(0xE0 | (c >> 12));
      out[n++] = static_cast<UChar>(0x80 | ((c >> 6) & 0x3F));
      out[n++] = static_cast<UChar>(0x80 | (c & 0x3F));
    } else {
      out[n++] = static_cast<UChar>(0xF0 | (c >> 18));
      out[n++] = static_cast<UChar>(0x80 | ((c >> 12) & 0x3F));
      out[n++] = static_cast<UChar>(0x80 | ((c >> 6) & 0x3F));
      out[n++] = static_cast<UChar>(0x80 | (c & 0x3F));
    }
    need += n;
    if (!full && dest != nullptr && w + n < size) {
      std::memcpy(dest + w, out, static_cast<size_t>(n));
      w += n;
    } else {
      full = true;
    }
  }
  if (dest != nullptr && size > 0) dest[w] = 0;
  return need;
}

void PlatformTextRelease(PlatformText* text) {
  if (text->owned) {
    void* block = const_cast<UInt16*>(text->units);
    MemFree(block);
  }
  text->units = nullptr;
  text->length = 0;
  text->owned = false;
}

// ---- Time: local calendar time and the host clock ----

bool PlatformGetLocalDateNow(PlatformGregorianDate* date) {
  // The zone is read once; later changes of TZ do not move the clock of a running process.
  static const bool zoneRead = (tzset(), true);
  (void)zoneRead;
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
  time_t seconds = now.tv_sec;
  tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return false;
  date->year = local.tm_year + 1900;
  date->month = local.tm_mon + 1;
  date->day = local.tm_mday;
  date->hour = local.tm_hour;
  date->minute = local.tm_min;
  date->second = local.tm_sec + now.tv_nsec / 1e9;
  return true;
}

UInt64 PlatformGetHostTime() {
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
  return static_cast<UInt64>(now.tv_sec) * 1000000000u + static_cast<UInt64>(now.tv_nsec);
}

Float64 PlatformGetHostClockFrequency() { return 1e9; }

}  // namespace lumora
