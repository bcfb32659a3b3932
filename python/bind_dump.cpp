// lumora.dump(path): what the inspector lumora-dump shows of a stream, as Python data.
//
// The inspector's own sources (app/lumora_dump.cpp, lumora_dump_cmdline.cpp,
// lumora_dump_names.cpp, lumora_dump_check.cpp) are compiled into the module (CMakeLists.txt);
// this file runs its lumdump::Run with the JSON output into a buffer and hands the buffer to the
// json module, so that the tool and the module show the same tree.
#include <string>

#include "lum_py.h"
#include "lumora_dump.h"

namespace lumpy {

using namespace lumora;

namespace {

void Append(const char* bytes, size_t n, void* data) {
  static_cast<std::string*>(data)->append(bytes, n);
}

// The first "offset N" of the inspector's fault lines, or -1.
Int64 FaultOffset(const std::string& err) {
  const size_t at = err.find(": offset ");
  if (at == std::string::npos) return -1;
  return std::stoll(err.substr(at + 9));
}

py::object Dump(py::handle path, py::object depth, py::object id, Int32 version, bool float32,
                const std::string& byteOrder) {
  lumdump::Options options;
  options.json = true;
  options.fileVersion = version;
  options.float32 = float32;
  if (byteOrder == "little") {
    options.littleEndian = true;
  } else if (byteOrder != "big") {
    throw py::value_error("byte_order must be 'big' or 'little'");
  }
  if (!depth.is_none()) {
    options.depth = depth.cast<Int32>();
    if (options.depth < 0) throw py::value_error("depth cannot be negative");
  }
  if (!id.is_none()) {
    options.onlyId = true;
    options.id = id.cast<Int32>();
  }
  std::string out, err;
  const std::string label = py::str(path);
  const int status = lumdump::Run(ToFilename(path), label.c_str(), options,
                                  lumdump::Sink{&Append, &out}, lumdump::Sink{&Append, &err});
  py::object loads = py::module_::import("json").attr("loads");
  if (status != lumdump::kExitOk) {
    while (!err.empty() && err.back() == '\n') err.pop_back();
    const bool opened = err.find("cannot open") == std::string::npos;
    const Int64 offset = FaultOffset(err);
    try {
      RaiseFileError(opened ? FILEERROR_READ : FILEERROR_OPEN, offset < 0 ? 0 : offset,
                     err.c_str());
    } catch (py::error_already_set& e) {
      // What was read before the fault, as the tool shows it.
      e.value().attr("partial") = out.empty() ? py::object(py::none()) : loads(py::bytes(out));
      throw;
    }
  }
  return loads(py::bytes(out));
}

}  // namespace

void RegisterDump(py::module_& m) {
  m.def("dump", &Dump, py::arg("path"), py::arg("depth") = py::none(), py::arg("id") = py::none(),
        py::arg("version") = HYPERFILE_CURRENT_VERSION, py::arg("float32") = false,
        py::arg("byte_order") = "big",
        "What lumora-dump --json shows of the stream in path: a list of dicts, one per chunk "
        "and value, a chunk's contents under its \"items\". depth and id limit it as the tool's "
        "--depth and --id do. A malformed stream raises FileError (its partial attribute holds "
        "what was read before the fault).");
}

}  // namespace lumpy
