// The Python module: registers each family in the library's layer order. The library's memory
// comes from the default application library (or, in the test build lumora_counted, from
// counting memory functions that report the blocks still held).
#include <string>

#include "lum_py.h"

namespace py = pybind11;

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
  // Geometry and matrices cross as numpy arrays: say so now rather than inside a property later.
  try {
    py::module_::import("numpy");
  } catch (py::error_already_set& e) {
    throw py::import_error(std::string("lumora needs numpy, which cannot be imported here (") +
                           e.what() + "); install it (Debian: python3-numpy; pip: numpy)");
  }
  lumpy::RegisterStream(m);
  lumpy::RegisterValues(m);
  lumpy::RegisterNodes(m);
  lumpy::RegisterObjects(m);
  lumpy::RegisterTags(m);
  lumpy::RegisterAnimation(m);
  lumpy::RegisterLights(m);
  lumpy::RegisterDump(m);
  lumpy::RegisterScene(m);
  lumpy::RegisterThumbnail(m);
  lumpy::RegisterConvert(m);
#ifdef LUMORA_PYTHON_COUNTING
  m.def("_live_blocks", &lumpy::CountedLiveBlocks,
        "Blocks the library took and has not given back.");
#endif
}
