// The debug alert: reports an internal inconsistency with its source line and file.
//
// The alert formats "ALERT: <file>, Line <line>" for the system debugger hook, but only while the
// debug flag is set. The flag is clear at start and nothing in the library sets it, so an alert
// normally has no effect and the caller continues with its documented fallback.
#ifndef LUM_DEBUG_H
#define LUM_DEBUG_H

#include "lum_types.h"

namespace lumora {

void _GeDebugBreak(Int32 line, const Char* file);

// The library's debug flag (clear at start).
bool GeGetDebugFlag();
void GeSetDebugFlag(bool on);

// Observer called on every alert, whatever the flag; lets tests see that an alert was raised
// without changing what the library does. Null removes it.
using GeDebugObserver = void (*)(Int32 line, const Char* file);
void GeSetDebugObserver(GeDebugObserver observer);

}  // namespace lumora

#endif  // LUM_DEBUG_H
