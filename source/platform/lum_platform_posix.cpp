// POSIX implementation of the platform layer.
#include "lum_platform.h"

#include <cstdio>

namespace lumora {

void PlatformDebugStr(const UChar* pascalText) {
  if (pascalText == nullptr) return;
  std::fprintf(stderr, "%.*s\n", static_cast<int>(pascalText[0]),
               reinterpret_cast<const char*>(pascalText + 1));
}

}  // namespace lumora
