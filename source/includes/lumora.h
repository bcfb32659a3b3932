// The umbrella header: a program that uses the library includes only this.
#ifndef LUMORA_H
#define LUMORA_H

#include "lum_types.h"
#include "lum_memory.h"
#include "lum_math.h"
#include "lum_debug.h"
#include "lum_array.h"
#include "lum_blockarray.h"
#include "foundation/lum_crc64.h"
#include "stream/lum_baseselect.h"
#include "imaging/lum_basebitmap.h"
#include "imaging/lum_bitmapsaver.h"
#include "imaging/lum_drawport.h"
#include "imaging/lum_convertbits.h"
#include "foundation/lum_string.h"
#include "foundation/lum_file.h"
#include "foundation/lum_memoryfilestruct.h"
#include "foundation/lum_filename.h"
#include "foundation/lum_basefile.h"
#include "foundation/lum_basetime.h"
#include "stream/lum_hyperfile.h"
#include "values/lum_gedata.h"
#include "values/lum_gemarker.h"
#include "values/lum_desclevel.h"
#include "values/lum_descid.h"
#include "values/lum_descidstore.h"
#include "values/lum_basecontainer.h"
#include "lights/lum_ieslight.h"

#endif  // LUMORA_H
