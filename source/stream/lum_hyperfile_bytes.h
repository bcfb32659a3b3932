// Byte order and the float rule of single numbers in a stream: shared by the stream's own
// readers and writers and by HyperFileSpan, which readers of other folders inline.
#ifndef LUMORA_STREAM_LUM_HYPERFILE_BYTES_H_
#define LUMORA_STREAM_LUM_HYPERFILE_BYTES_H_

#include <cstring>

#include "lum_types.h"

namespace lumora {
namespace hyperfile_bytes {

inline UInt16 Swap(UInt16 v) { return __builtin_bswap16(v); }
inline UInt32 Swap(UInt32 v) { return __builtin_bswap32(v); }
inline UInt64 Swap(UInt64 v) { return __builtin_bswap64(v); }

// Unsigned raw numbers in file order; swap says whether file and processor orders differ.
template <typename U>
inline void PutRaw(UChar* p, U v, bool swap) {
  if (swap) v = Swap(v);
  std::memcpy(p, &v, sizeof v);
}

template <typename U>
inline U LoadRaw(const UChar* p, bool swap) {
  U v;
  std::memcpy(&v, p, sizeof v);
  return swap ? Swap(v) : v;
}

inline bool IsInfOrNaN(UInt32 bits) { return (bits & 0x7F800000u) == 0x7F800000u; }
inline bool IsInfOrNaN(UInt64 bits) {
  return (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull;
}
// Integers have no float rule.
template <typename U>
inline bool IsInfOrNaN(U) {
  return false;
}

// Float bits with the float rule: infinity and NaN become 0.
inline UInt32 F32Bits(Float32 f) {
  UInt32 b;
  std::memcpy(&b, &f, 4);
  return IsInfOrNaN(b) ? 0u : b;
}
inline UInt64 F64Bits(Float64 f) {
  UInt64 b;
  std::memcpy(&b, &f, 8);
  return IsInfOrNaN(b) ? 0ull : b;
}
inline Float32 F32FromBits(UInt32 b) {
  if (IsInfOrNaN(b)) b = 0;
  Float32 f;
  std::memcpy(&f, &b, 4);
  return f;
}
inline Float64 F64FromBits(UInt64 b) {
  if (IsInfOrNaN(b)) b = 0;
  Float64 f;
  std::memcpy(&f, &b, 8);
  return f;
}

}  // namespace hyperfile_bytes
}  // namespace lumora

#endif  // LUMORA_STREAM_LUM_HYPERFILE_BYTES_H_
