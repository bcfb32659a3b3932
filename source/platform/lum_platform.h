// The small layer that stands in for the operating-system services the library expects:
// the debugger hook, Finder type/creator codes, old colon-separated paths, local time and the
// high-resolution clock. One POSIX implementation (lum_platform_posix.cpp).
#ifndef LUM_PLATFORM_H
#define LUM_PLATFORM_H

#include "lum_types.h"

namespace lumora {

// Hands a length-prefixed message to the debugger hook (stderr here).
void PlatformDebugStr(const UChar* pascalText);

}  // namespace lumora

#endif  // LUM_PLATFORM_H
