#include "text_support.h"

namespace lumtest {

using namespace lumora;

String S(const char16_t* text) {
  String s;
  s.SetUcBlock(reinterpret_cast<const UInt16*>(text), -1);
  return s;
}

std::u16string U(const String& s) {
  const UInt16* p = s.GetUnits();
  return p == nullptr ? std::u16string()
                      : std::u16string(reinterpret_cast<const char16_t*>(p),
                                       static_cast<size_t>(s.GetLength()));
}

}  // namespace lumtest
