// The umbrella header: a program that uses the library includes only this.
#ifndef LUMORA_H
#define LUMORA_H

#include "lum_types.h"
#include "lum_memory.h"
#include "lum_math.h"
#include "lum_debug.h"
#include "lum_array.h"
#include "lum_blockarray.h"
#include "lum_crc64.h"
#include "lum_baseselect.h"
#include "lum_basebitmap.h"
#include "lum_bitmapsaver.h"
#include "lum_drawport.h"
#include "lum_convertbits.h"
#include "lum_string.h"
#include "lum_file.h"
#include "lum_memoryfilestruct.h"
#include "lum_filename.h"
#include "lum_basefile.h"
#include "lum_basetime.h"
#include "lum_hyperfile.h"
#include "lum_gedata.h"
#include "lum_gemarker.h"
#include "lum_desclevel.h"
#include "lum_descid.h"
#include "lum_descidstore.h"
#include "lum_basecontainer.h"

#endif  // LUMORA_H
