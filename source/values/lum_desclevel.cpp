// DescLevel is a plain record: its comparison lives in the header.
#include "values/lum_desclevel.h"

namespace lumora {

static_assert(sizeof(DescLevel) == 3 * sizeof(Int32), "a level is three Int32 fields");

}  // namespace lumora
