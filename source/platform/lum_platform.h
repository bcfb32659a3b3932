// The small layer that stands in for the operating-system services the library expects:
// the debugger hook, Finder type/creator codes, old colon-separated paths, local time and the
// high-resolution clock. One POSIX implementation (lum_platform_posix.cpp).
#ifndef LUM_PLATFORM_H
#define LUM_PLATFORM_H

#include "lum_types.h"

namespace lumora {

// The library is the only caller: pointers are never null unless a function says otherwise.

// Hands a length-prefixed message to the debugger hook (stderr here).
void PlatformDebugStr(const UChar* pascalText);

// ---- Files: Finder information and old colon-separated paths ----

// Stands in for the system's opaque file reference: it names an existing file by device and
// node, so two references to the same file compare equal whatever path reached them.
struct FSRef {
  UInt64 device;
  UInt64 node;
};

// Fills *ref for the file at the UTF-8 path; false (and *ref zeroed) when it does not exist.
bool PlatformGetFSRef(const char* utf8Path, FSRef* ref);

// Stores the four-character type and creator codes (first character in the most significant
// byte) in the 32-byte Finder information extended attribute of the open file: type in bytes
// 0-3, creator in bytes 4-7, most significant character first, each only when non-zero; the
// other bytes of an existing attribute are kept. Only regular files are touched. Best effort:
// returns false when nothing was stored (no extended attributes here, not a regular file, both
// codes 0); callers go on either way.
bool PlatformSetFinderInfo(int fd, Int32 type, Int32 creator);

// Reads the type and creator codes back from the Finder information of the file at the UTF-8
// path; false when the file has none (missing, wrong size or no extended attributes).
bool PlatformGetFinderInfo(const char* utf8Path, Int32* type, Int32* creator);

// Converts an old colon-separated path to a POSIX path, unit for unit:
//   "Volume:dir:file" -> "/Volumes/Volume/dir/file"; a leading ':' makes the path relative
//   (":dir:file" -> "dir/file"); each further ':' directly after a ':' goes up one level
//   ("Vol:a::b" -> "/Volumes/Vol/b"; past the start of a relative path it becomes "..", an
//   absolute path stops at its volume); a trailing ':' is dropped; a '/' inside a name becomes
//   ':'. Writes at most capacity units (no terminator) and returns the number written, or -1
//   when the result does not fit or the input is empty.
Int32 PlatformColonPathToPosix(const UInt16* units, Int32 count, UInt16* out, Int32 capacity);

// ---- Text: the system's string objects ----

// Stands in for the system's string object. A text either borrows units from its creator (who
// must keep them alive and unchanged until the text is released) or owns a copy converted from
// the system's own UTF-8 form; owned texts do not expose their units directly, so readers must be
// ready to copy (PlatformTextGetCharactersPtr returns null for them).
struct PlatformText {
  const UInt16* units;  // borrowed or owned units
  Int32 length;         // in units
  bool owned;           // units were allocated through the memory functions
};

// Wraps count units without copying. Never fails; a null pointer or count <= 0 gives an empty text.
void PlatformTextCreateNoCopy(const UInt16* units, Int32 count, PlatformText* text);
// Decodes count bytes of UTF-8 (count < 0: up to the first 0 byte) into an owned text. Four-byte
// sequences become surrogate pairs; malformed bytes become U+FFFD. False (and an empty text)
// when memory runs out.
bool PlatformTextCreateWithUTF8(const char* bytes, Int64 count, PlatformText* text);
Int32 PlatformTextGetLength(const PlatformText* text);
// The units when the text holds them contiguously as borrowed; null otherwise.
const UInt16* PlatformTextGetCharactersPtr(const PlatformText* text);
// Copies up to count units from start into dest; returns the number copied.
Int32 PlatformTextGetCharacters(const PlatformText* text, Int32 start, Int32 count, UInt16* dest);
// The text in the system's UTF-8 form (surrogate pairs joined, lone surrogates as U+FFFD):
// writes at most size-1 bytes and a 0 byte, never splitting a character, and returns the full
// length the text needs (without the 0), so a result >= size means it was cut.
Int64 PlatformTextGetUTF8(const PlatformText* text, char* dest, Int64 size);
// Frees an owned copy; the text is empty afterwards.
void PlatformTextRelease(PlatformText* text);

// ---- Time: local calendar time and the host clock ----

// A Gregorian date and clock time; second carries the fraction.
struct PlatformGregorianDate {
  Int32 year;
  Int32 month;  // 1-12
  Int32 day;    // 1-31
  Int32 hour;
  Int32 minute;
  Float64 second;
};

// The current time in the system time zone, which is read once and kept for the life of the
// process. False (and *date untouched) when the system cannot tell.
bool PlatformGetLocalDateNow(PlatformGregorianDate* date);
// A monotonic clock in ticks, and its ticks per second.
UInt64 PlatformGetHostTime();
Float64 PlatformGetHostClockFrequency();

}  // namespace lumora

#endif  // LUM_PLATFORM_H
