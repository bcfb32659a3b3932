// The library's own copy of its version, compiled in when the library is built.
#include "lum_version.h"

namespace lumora {

const Char* GeGetVersionString() { return LUMORA_VERSION; }

}  // namespace lumora
