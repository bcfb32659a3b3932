// Crc64: the library's 64-bit checksum.
//
// The CRC with the ECMA-182 polynomial 0x42F0E1EBA9EA3693, not reflected, initial value and
// output XOR all ones (known in CRC catalogues as CRC-64/WE). Bytes are taken most significant
// bit first: state = (state << 8) ^ table[byte ^ (state >> 56)]. The check value of the nine
// bytes "123456789" is 0x62EC59E3F1A4F00A; no bytes at all give 0.
#ifndef LUM_CRC64_H
#define LUM_CRC64_H

#include "lum_types.h"

namespace lumora {

class Crc64 {
 public:
  Crc64() = default;
  virtual ~Crc64() = default;

  // Starts over (state all ones).
  void Reset() { _state = ~UInt64(0); }
  // Feeds count bytes; a null pointer or count <= 0 feeds nothing.
  void Update(const void* data, Int64 count);
  void UpdateByte(UInt8 byte);
  // The checksum of everything fed since the start or the last Reset.
  UInt64 GetCrc() const { return ~_state; }

 private:
  UInt64 _state = ~UInt64(0);
};

}  // namespace lumora

#endif  // LUM_CRC64_H
