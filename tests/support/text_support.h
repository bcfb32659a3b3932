// Library strings as UTF-16 for the tests: expectations are written as u"" literals.
#ifndef LUMORA_TEXT_SUPPORT_H
#define LUMORA_TEXT_SUPPORT_H

#include <string>

#include "lumora.h"

namespace lumtest {

// The names are short on purpose: they stand inside dense expectations.
// A String holding the units of `text` up to its terminating zero.
lumora::String S(const char16_t* text);
// The units a String holds (empty when it holds no buffer).
std::u16string U(const lumora::String& s);

}  // namespace lumtest

#endif  // LUMORA_TEXT_SUPPORT_H
