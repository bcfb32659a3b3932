// Conversion through Assimp: RootObject.export(path, format=None) and
// lumora.import_scene(path), with what could not be carried as a list of strings.
// Built when the conversion library is (LUMORA_CONVERT).
#include "lum_py.h"

#ifdef LUMORA_PYTHON_CONVERT
#include "convert/lum_convert.h"
#endif

namespace lumpy {

#ifdef LUMORA_PYTHON_CONVERT

using namespace lumora;

namespace {

std::string Utf8(py::handle path) {
  const String s = ToFilename(path).GetString();
  std::string out(size_t(s.GetCStringLen(STRINGENCODING_UTF8)) + 1, '\0');
  s.GetCString(&out[0], Int32(out.size()), STRINGENCODING_UTF8);
  out.resize(out.size() - 1);
  return out;
}

py::list Lines(const ConvertReport& report) {
  py::list out;
  char line[ConvertReport::LINE_SIZE];
  for (Int32 i = 0; i < report.GetLineCount(); ++i) {
    report.GetLine(i, line, sizeof line);
    out.append(py::str(line));
  }
  return out;
}

// The format given, or the one the path's extension names.
std::string FormatOf(const std::string& p, py::object format) {
  if (!format.is_none()) return format.cast<std::string>();
  const char* found = FindExportFormat(p.c_str());
  if (found == nullptr)
    throw py::value_error("no export format for " + p + ": give format= (see export_formats())");
  return found;
}

py::list Export(RootObject& objects, py::handle path, py::object format, bool triangulate) {
  const std::string p = Utf8(path);
  const std::string id = FormatOf(p, format);
  ConvertOptions options;
  options.triangulate = triangulate;
  ConvertReport report;
  if (!ExportObjects(&objects, p.c_str(), id.c_str(), options, report))
    RaiseFileError(report.GetErrorCode(), 0, report.GetError());
  return Lines(report);
}

py::object Import(py::handle path, py::object report, bool triangulate) {
  const std::string p = Utf8(path);
  RootObject* list = AllocAlienRootObject();
  if (list == nullptr) throw std::bad_alloc();
  py::object owner = py::cast(list, py::return_value_policy::take_ownership);
  ConvertOptions options;
  options.triangulate = triangulate;
  ConvertReport lines;
  if (!ImportObjects(p.c_str(), owner.cast<RootObject*>(), options, lines))
    RaiseFileError(lines.GetErrorCode(), 0, lines.GetError());
  if (!report.is_none()) report.attr("extend")(Lines(lines));
  return owner;
}

py::list Formats() {
  py::list out;
  ConvertFormat f;
  for (Int32 i = 0; GetExportFormat(i, f); ++i)
    out.append(py::make_tuple(f.id, f.extension, f.description));
  return out;
}

}  // namespace

py::list ExportWholeScene(const Scene& scene, py::handle path, py::object format,
                          bool triangulate) {
  const std::string id = FormatOf(Utf8(path), format);
  ConvertOptions options;
  options.triangulate = triangulate;
  ConvertReport report;
  if (!ExportScene(scene, ToFilename(path), id.c_str(), options, report))
    RaiseFileError(report.GetErrorCode(), 0, report.GetError());
  return Lines(report);
}

void ImportWholeScene(Scene& scene, py::handle path, py::object report, bool triangulate) {
  ConvertOptions options;
  options.triangulate = triangulate;
  ConvertReport lines;
  if (!ImportScene(ToFilename(path), scene, options, lines))
    RaiseFileError(lines.GetErrorCode(), 0, lines.GetError());
  if (!report.is_none()) report.attr("extend")(Lines(lines));
}

void RegisterConvert(py::module_& m) {
  auto list = py::reinterpret_borrow<py::class_<RootObject, NodeHolder<RootObject>, RootList2D>>(
      m.attr("RootObject"));
  list.def("export", &Export, py::arg("path"), py::arg("format") = py::none(),
           py::arg("triangulate") = false,
           "Writes the objects through Assimp, in format (an id of export_formats()) or the one "
           "path's extension names; returns what could not be carried, one string per kind.");
  m.def("import_scene", &Import, py::arg("path"), py::arg("report") = py::none(),
        py::arg("triangulate") = false,
        "The objects of any file Assimp reads, as a RootObject; what could not be carried is "
        "appended to report (a list) when given.");
  m.def("export_formats", &Formats, "Assimp's export formats as (id, extension, description).");
}

#else

void RegisterConvert(py::module_&) {}

#endif

}  // namespace lumpy
