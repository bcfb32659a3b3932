// The debug alert and the library's debug flag.
#include "lum_debug.h"

#include <cstdio>
#include <cstring>

#include "platform/lum_platform.h"

namespace lumora {
namespace {

bool g_debugFlag = false;
GeDebugObserver g_observer = nullptr;

}  // namespace

void _GeDebugBreak(Int32 line, const Char* file) {
  if (g_observer != nullptr) g_observer(line, file);
  if (!g_debugFlag) return;
  // A length-prefixed string: one length byte, then at most 255 characters.
  UChar text[256];
  int n = std::snprintf(reinterpret_cast<char*>(text + 1), sizeof(text) - 1, "ALERT: %s, Line %d",
                        file != nullptr ? file : "", static_cast<int>(line));
  if (n > 254) n = 254;  // never negative: the format has no conversion that can fail
  text[0] = static_cast<UChar>(n);
  PlatformDebugStr(text);
}

bool GeGetDebugFlag() { return g_debugFlag; }
void GeSetDebugFlag(bool on) { g_debugFlag = on; }
void GeSetDebugObserver(GeDebugObserver observer) { g_observer = observer; }

}  // namespace lumora
