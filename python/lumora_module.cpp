// The Python module: registers each family in the library's layer order. The library's memory
// comes from the default application library (or, in the test build lumora_counted, from
// counting memory functions that report the blocks still held).
#include "lum_py.h"

#ifndef LUMORA_PYTHON_MODULE_NAME
#define LUMORA_PYTHON_MODULE_NAME lumora
#endif

#ifdef LUMORA_PYTHON_COUNTING
namespace lumpy {
long long CountedLiveBlocks();
}
#endif

PYBIND11_MODULE(LUMORA_PYTHON_MODULE_NAME, m) {
  m.doc() = "Read and write lumora scene files: streams, values, containers and nodes.";
  m.attr("__version__") = LUMORA_VERSION;
  lumpy::RegisterStream(m);
  lumpy::RegisterValues(m);
  lumpy::RegisterNodes(m);
  lumpy::RegisterObjects(m);
  lumpy::RegisterTags(m);
  lumpy::RegisterAnimation(m);
  lumpy::RegisterLights(m);
  lumpy::RegisterDump(m);
  lumpy::RegisterThumbnail(m);
  lumpy::RegisterConvert(m);
#ifdef LUMORA_PYTHON_COUNTING
  m.def("_live_blocks", &lumpy::CountedLiveBlocks,
        "Blocks the library took and has not given back.");
#endif
}
