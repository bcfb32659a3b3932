// Decoding of outside bytes in every encoding, and encoding the result back into buffers of
// every size up to the full length: no out-of-bounds access, and the counts agree.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/lum_platform.h"
#include "lumora.h"

using namespace lumora;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void EncodeEverySize(const String& s, STRINGENCODING enc, Int32 maxSize) {
  const Int32 full = s.GetCStringLen(enc);
  Check(full >= 0);
  for (Int32 size = 0; size <= maxSize; ++size) {
    // Exactly size bytes, so that the sanitizer sees any write past the end.
    char* buf = static_cast<char*>(std::malloc(size > 0 ? static_cast<size_t>(size) : 1));
    Int32 n = s.GetCString(buf, size, enc);
    Check(n >= 0 && (size == 0 ? n == 0 : n < size));
    if (size > full) Check(n == full);
    std::free(buf);
  }
}

// UTF-8 out of a string, into a buffer that holds all of it and into one a few bytes short,
// against encoding unit by unit (a unit that does not fit before the last byte is dropped).
void CheckUtf8Encoding(const String& s) {
  const Int32 full = s.GetCStringLen(STRINGENCODING_UTF8);
  for (Int32 size : {full + 1, full - 1, full / 2 + 1}) {
    if (size <= 0) continue;
    char* buf = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    char* want = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    const Int32 n = s.GetCString(buf, size, STRINGENCODING_UTF8);
    Int32 w = 0;
    for (Int32 i = 0; i < s.GetLength() && w < size - 1; ++i) {
      const UInt16 u = s.GetUnit(i);
      const Int32 length = u < 0x80 ? 1 : (u < 0x800 ? 2 : 3);
      if (w + length >= size) continue;
      if (length == 1) want[w++] = static_cast<char>(u);
      if (length == 2) {
        want[w++] = static_cast<char>(0xC0 | (u >> 6));
        want[w++] = static_cast<char>(0x80 | (u & 0x3F));
      }
      if (length == 3) {
        want[w++] = static_cast<char>(0xE0 | (u >> 12));
        want[w++] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        want[w++] = static_cast<char>(0x80 | (u & 0x3F));
      }
    }
    Check(n == w && buf[n] == 0 && std::memcmp(buf, want, static_cast<size_t>(n)) == 0);
    std::free(buf);
    std::free(want);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const char* bytes = reinterpret_cast<const char*>(data);
  const Int32 count = static_cast<Int32>(size);

  for (Int32 e = 0; e <= 5; ++e) {
    const STRINGENCODING enc = static_cast<STRINGENCODING>(e);
    // The character decoder on its own: never 0 inside the bytes, always moves forward.
    Int32 chars = 0;
    for (Int32 p = 0; p < count; ++p) {
      Int32 start = p;
      UInt16 u = GeGetUnicodeFromChar(bytes, &p, count, enc);
      Check(u != 0 && p >= start && p < count);
      ++chars;
    }

    String s;
    Check(s.SetCString(bytes, count, enc) == chars);
    Check(s.GetLength() <= s.GetCapacity() && s.GetCapacity() % 16 == 0);
    // The string holds what the character decoder gives, one character after the other.
    for (Int32 p = 0, i = 0; p < count; ++p, ++i)
      Check(s.GetUnit(i) == GeGetUnicodeFromChar(bytes, &p, count, enc));
    CheckUtf8Encoding(s);
    for (Int32 out = 0; out <= 5; ++out) {
      const STRINGENCODING outEnc = static_cast<STRINGENCODING>(out);
      const Int32 full = s.GetCStringLen(outEnc);
      EncodeEverySize(s, outEnc, full + 1 < 64 ? full + 1 : 64);
    }
  }

  // The system text decoder, and back.
  PlatformText text;
  if (PlatformTextCreateWithUTF8(bytes, static_cast<Int64>(size), &text)) {
    String s;
    s.SetPlatformText(&text);
    Check(s.GetLength() == PlatformTextGetLength(&text));
    PlatformText wrapped;
    s.GetPlatformText(&wrapped);
    const Int64 need = PlatformTextGetUTF8(&wrapped, nullptr, 0);
    char* buf = static_cast<char*>(std::malloc(static_cast<size_t>(need) + 1));
    Check(PlatformTextGetUTF8(&wrapped, buf, need + 1) == need);
    Check(std::strlen(buf) <= static_cast<size_t>(need));
    std::free(buf);
    PlatformTextRelease(&wrapped);
    PlatformTextRelease(&text);
  }
  return 0;
}
