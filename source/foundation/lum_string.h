// String: the library's only text type.
//
// A String holds 16-bit Unicode code units (UTF-16, not terminated; the length is authoritative)
// in a buffer it owns. Buffers are allocated in steps of 16 units through the memory functions;
// there is no sharing, every copy allocates. Byte strings come in and go out in one of the six
// STRINGENCODINGs; the 8-bit code page is Mac OS Roman (with the euro sign at 0xDB).
//
// Allocation failures never report: the operations that build a new buffer leave the string
// empty without a buffer, Insert leaves the string unchanged.
#ifndef LUM_STRING_H
#define LUM_STRING_H

#include "lum_types.h"

namespace lumora {

// The numbers are fixed: callers pass them.
enum STRINGENCODING : Int32 {
  STRINGENCODING_CODEPAGE = 0,        // u-escapes in, code page (one or two bytes) both ways
  STRINGENCODING_CODEPAGE_1BYTE = 1,  // as CODEPAGE in; one byte per unit out, "_" for misses
  STRINGENCODING_ASCII = 2,           // u-escapes and bytes below 0x7F in; "_" for the rest
  STRINGENCODING_ASCII_UESCAPE = 3,   // as CODEPAGE in; ASCII and \uXXXX out
  STRINGENCODING_UTF8 = 4,            // UTF-8, one to three bytes per unit
  STRINGENCODING_ASCII_HTMLHEX = 5,  // u-escapes, &#xXXXX; and code page in; ASCII and &#xXXXX; out
};

class String;
struct PlatformText;

// What String::operator[] returns: the string and an index, -1 when the index was out of range.
// Reading it yields the unit at the index, or 0 when the index is -1 or no longer inside the
// string (the string may have shrunk since).
class PChar {
 public:
  PChar(const String* str, Int32 index) : _str(str), _index(index) {}
  operator UInt16() const;
  Int32 GetIndex() const { return _index; }

 private:
  const String* _str;
  Int32 _index;
};

class String {
 public:
  String() = default;
  String(const String& src);
  // = SetCString(text, -1, encoding).
  String(const char* text, STRINGENCODING encoding = STRINGENCODING_CODEPAGE);
  ~String();
  // Self-assignment does nothing; otherwise the buffer is reused when it is large enough.
  String& operator=(const String& src);

  // Replaces the content with the decoding of count bytes (count < 0: up to the first 0 byte).
  // A null pointer or a count of 0 empties the string. Returns the new length.
  Int32 SetCString(const char* bytes, Int32 count = -1,
                   STRINGENCODING encoding = STRINGENCODING_CODEPAGE);
  // Writes at most size-1 bytes and a 0 byte; returns the bytes written before the 0.
  // size <= 0 (or a null destination) writes nothing and returns 0.
  Int32 GetCString(char* dest, Int32 size, STRINGENCODING encoding = STRINGENCODING_CODEPAGE) const;
  // The bytes GetCString would write, without the terminator, with unlimited space.
  Int32 GetCStringLen(STRINGENCODING encoding = STRINGENCODING_CODEPAGE) const;

  // Replaces the content with count units; count -1 takes the units before the first 0 unit.
  // A null pointer does nothing.
  void SetUcBlock(const UInt16* units, Int32 count);
  // Copies min(count, length) units; no terminator.
  void GetUcBlock(UInt16* dest, Int32 count) const;
  // length = count, every unit = unit.
  void Init(Int32 count, UInt16 unit);

  // Inserts src[start, end) before pos. Ignored when pos is outside 0..length or src is empty;
  // start < 0 counts as 0, end < 0 or past src's length as src's length.
  void Insert(Int32 pos, const String& src, Int32 start = -1, Int32 end = -1);
  // Removes count units from pos, clipped to the end of the string.
  void Delete(Int32 pos, Int32 count);

  // Empty when start < 0, count <= 0 or start >= length; count clipped to the end.
  String SubStr(Int32 start, Int32 count) const;
  // Empty when count <= 0; the first min(count, length) units.
  String Left(Int64 count) const;
  // Empty when count <= 0 or count > length; the last count units.
  String Right(Int64 count) const;

  // First occurrence of needle at or after start. *pos (if given) is -1 unless found.
  bool FindFirst(const String& needle, Int32* pos, Int32 start = 0) const;

  // Unit difference at the first mismatch; the next unit of the longer string (negated when the
  // right one is longer) when one is a prefix of the other; 0 when equal.
  Int32 Compare(const String& other) const;
  // Equal when the common prefix matches and the longer string (if any) continues with a 0 unit.
  bool operator==(const String& other) const;
  bool operator!=(const String& other) const { return !(*this == other); }
  // Compare with 'a'-'z', U+00E4, U+00F6 and U+00FC folded to upper case.
  Int32 LexCompare(const String& other) const;
  // Copy with 'A'-'Z', U+00C4, U+00D6 and U+00DC lowered; nothing else changes.
  String ToLower() const;

  // Decimal value of the first run of digits, with a '-' directly before the run honoured.
  // *error (if given) is set to 1 on overflow, when there is no digit or the string is empty;
  // it is never cleared.
  Int32 ParseToInt32(Int32* error) const;

  Int32 GetLength() const { return _length; }
  bool IsPopulated() const { return _units != nullptr && _length > 0; }

  PChar operator[](Int32 index) const;
  PChar operator[](Int32 index);

  // The unit at index, or 0 outside 0..length-1.
  UInt16 GetUnit(Int32 index) const { return (index >= 0 && index < _length) ? _units[index] : 0; }
  // Read access to the units (null when there is no buffer); valid until the next change.
  const UInt16* GetUnits() const { return _units; }
  // Units allocated (a multiple of 16; 0 when there is no buffer).
  Int32 GetCapacity() const { return _capacity; }

  // Wraps the units for the system without copying (the text must be released before this
  // string changes or goes away).
  void GetPlatformText(PlatformText* text) const;
  // Replaces the content with a copy of the system text, whole however long it is. Empty
  // without buffer when memory runs out.
  void SetPlatformText(const PlatformText* text);

  // sprintf "%*.*f" / "%*.*E" with the library's fill and trimming rules: before digits before
  // the point (-2: trim trailing zeros), after digits after it (< 0: three, trimmed).
  static String FloatToString(Float64 value, Int32 before = -1, Int32 after = -1,
                              bool exponent = false, UInt16 fill = ' ');
  static String IntToString(Int32 value);
  static String IntToString(Int64 value);

 private:
  friend class PChar;
  friend String operator+(const String& left, const String& right);

  // Makes room for n units (capacity rule), dropping the content. False (and the string
  // emptied without buffer) when the allocation fails; n <= 0 frees nothing and succeeds.
  bool Reserve(Int32 n);
  void Release();

  Int32 _capacity = 0;
  Int32 _length = 0;
  UInt16* _units = nullptr;
};

String operator+(const String& left, const String& right);

// Decodes the character that starts at bytes[*pos]; *pos is left on the last byte consumed (the
// caller steps past it). 0 when *pos >= count; otherwise never 0: a character that decodes to 0
// comes back as '_'.
UInt16 GeGetUnicodeFromChar(const char* bytes, Int32* pos, Int32 count, STRINGENCODING encoding);

// True once the code-page tables are built (before that, the code-page encodings act as ASCII).
bool GeStringTablesReady();
// Builds the code-page tables; does nothing once they are built. A static initialiser calls it
// before main.
void _GeInitStringTables();
// Marks the tables as not built, so that the behaviour before the static initialiser ran can be
// exercised; _GeInitStringTables makes them ready again. For tests only.
void _GeForgetStringTables();

}  // namespace lumora

#endif  // LUM_STRING_H
