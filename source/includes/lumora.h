// The umbrella header: a program that uses the library includes only this.
#ifndef LUMORA_H
#define LUMORA_H

#include "lum_types.h"
#include "lum_memory.h"
#include "lum_math.h"
#include "lum_debug.h"

#endif  // LUMORA_H
