// Basic fixed-width types shared by every family of the library.
#ifndef LUM_TYPES_H
#define LUM_TYPES_H

#include <cstddef>
#include <cstdint>

namespace lumora {

using Int8 = std::int8_t;
using UInt8 = std::uint8_t;
using Int16 = std::int16_t;
using UInt16 = std::uint16_t;
using Int32 = std::int32_t;
using UInt32 = std::uint32_t;
using Int64 = std::int64_t;
using UInt64 = std::uint64_t;
using Float32 = float;
using Float64 = double;
using Float = Float64;
using UChar = unsigned char;
using Char = char;
using Bool = bool;

}  // namespace lumora

#endif  // LUM_TYPES_H
