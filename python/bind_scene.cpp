// The scene family in Python: lumora.Scene and lumora.read_scene, a whole scene file in one call.
//
// A Scene owns its document and its object list; scene.objects is that list, part of the scene
// (it keeps the scene alive and is never freed on its own). When the scene goes, the objects
// Python still holds leave it and live on, as with any tree whose top Python lets go.
#include <memory>
#include <string>
#include <unordered_set>

#include "lum_py.h"

namespace lumpy {
namespace {

using namespace lumora;

std::unordered_set<const GeListNode*>& SceneLists() {
  static auto* lists = new std::unordered_set<const GeListNode*>();
  return *lists;
}

bool IsSceneList(GeListNode* node) { return SceneLists().count(node) != 0; }

class PyScene {
 public:
  PyScene() {
    if (_scene.GetObjects() == nullptr) throw std::bad_alloc();
    SceneLists().insert(_scene.GetObjects());
  }
  ~PyScene() {
    RootObject* objects = _scene.GetObjects();
    SceneLists().erase(objects);
    ReleaseOwnedTree(objects);
  }
  PyScene(const PyScene&) = delete;
  PyScene& operator=(const PyScene&) = delete;

  Scene& scene() { return _scene; }

  void Read(py::handle path) {
    FileErrorInfo error;
    const Filename name = ToFilename(path);
    RootObject* objects = _scene.GetObjects();
    ReleaseOwnedTree(objects);
    SceneLists().erase(objects);
    const bool ok = _scene.Read(name, &error);
    if (_scene.GetObjects() != nullptr) SceneLists().insert(_scene.GetObjects());
    if (!ok) Raise(error, "reading " + std::string(py::str(path)));
  }

#ifdef LUMORA_PYTHON_CONVERT
  // As Read, from any file Assimp reads.
  void Import(py::handle path, py::object report, bool triangulate) {
    RootObject* objects = _scene.GetObjects();
    ReleaseOwnedTree(objects);
    SceneLists().erase(objects);
    struct Relist {
      Scene& scene;
      ~Relist() {
        if (scene.GetObjects() != nullptr) SceneLists().insert(scene.GetObjects());
      }
    } relist{_scene};
    ImportWholeScene(_scene, path, report, triangulate);
  }
#endif

  void Write(py::handle path) const {
    FileErrorInfo error;
    if (!_scene.Write(ToFilename(path), &error))
      Raise(error, "writing " + std::string(py::str(path)));
  }

 private:
  [[noreturn]] static void Raise(const FileErrorInfo& error, const std::string& what) {
    RaiseFileError(error.code != FILEERROR_NONE ? error.code : FILEERROR_READ, error.offset,
                   what.c_str(), error.osError);
  }

  Scene _scene;
};

// The names of the numbers users type: object parameters, vector components, level data types
// and object types, as the C++ headers name them.
void RegisterNames(py::module_& m) {
  static const struct {
    const char* name;
    Int32 value;
  } kNames[] = {
      {"ID_BASEOBJECT_REL_POSITION", ID_BASEOBJECT_REL_POSITION},
      {"ID_BASEOBJECT_REL_ROTATION", ID_BASEOBJECT_REL_ROTATION},
      {"ID_BASEOBJECT_REL_SCALE", ID_BASEOBJECT_REL_SCALE},
      {"ID_BASEOBJECT_ENABLED", ID_BASEOBJECT_ENABLED},
      {"ID_BASEOBJECT_COLOR", ID_BASEOBJECT_COLOR},
      {"ID_BASEOBJECT_GLOBAL_POSITION", ID_BASEOBJECT_GLOBAL_POSITION},
      {"ID_BASEOBJECT_GLOBAL_ROTATION", ID_BASEOBJECT_GLOBAL_ROTATION},
      {"ID_BASEOBJECT_FROZEN_POSITION", ID_BASEOBJECT_FROZEN_POSITION},
      {"ID_BASEOBJECT_FROZEN_ROTATION", ID_BASEOBJECT_FROZEN_ROTATION},
      {"ID_BASEOBJECT_FROZEN_SCALE", ID_BASEOBJECT_FROZEN_SCALE},
      {"ID_BASEOBJECT_ABS_POSITION", ID_BASEOBJECT_ABS_POSITION},
      {"ID_BASEOBJECT_ABS_ROTATION", ID_BASEOBJECT_ABS_ROTATION},
      {"ID_BASEOBJECT_ABS_SCALE", ID_BASEOBJECT_ABS_SCALE},
      {"ID_BASEOBJECT_ROTATION_ORDER", ID_BASEOBJECT_ROTATION_ORDER},
      {"ID_BASEOBJECT_QUATERNION_ROTATION", ID_BASEOBJECT_QUATERNION_ROTATION},
      {"VECTOR_X", VECTOR_X},
      {"VECTOR_Y", VECTOR_Y},
      {"VECTOR_Z", VECTOR_Z},
      {"DTYPE_NONE", DTYPE_NONE},
      {"DTYPE_SUBCONTAINER", DTYPE_SUBCONTAINER},
      {"DTYPE_INT32", DTYPE_INT32},
      {"DTYPE_FLOAT", DTYPE_FLOAT},
      {"DTYPE_TIME", DTYPE_TIME},
      {"DTYPE_VECTOR", DTYPE_VECTOR},
      {"DTYPE_MATRIX", DTYPE_MATRIX},
      {"DTYPE_STRING", DTYPE_STRING},
      {"DTYPE_FILENAME", DTYPE_FILENAME},
      {"DTYPE_CONTAINER", DTYPE_CONTAINER},
      {"DTYPE_LINK", DTYPE_LINK},
      {"TYPE_OBJECT", TYPE_OBJECT},
      {"TYPE_POLYGONOBJECT", TYPE_POLYGONOBJECT},
      {"TYPE_SPLINEOBJECT", TYPE_SPLINEOBJECT},
      {"TYPE_LIGHTOBJECT", TYPE_LIGHTOBJECT},
      {"TYPE_CAMERAOBJECT", TYPE_CAMERAOBJECT},
      {"TYPE_POINTOBJECT", TYPE_POINTOBJECT},
      {"TYPE_RENDERDATA", TYPE_RENDERDATA},
  };
  for (const auto& n : kNames) m.attr(n.name) = n.value;
  m.def(
      "vector_component_id",
      [](Int32 parameter, Int32 component) { return VectorComponentID(parameter, component); },
      py::arg("parameter"), py::arg("component"),
      "The two-level DescID of one component of a vector parameter, e.g. "
      "vector_component_id(ID_BASEOBJECT_REL_POSITION, VECTOR_X) for a track on the x "
      "position.");
}

}  // namespace

void RegisterScene(py::module_& m) {
  RegisterNames(m);
  AddPartRule(&IsSceneList);
  py::class_<PyScene, std::unique_ptr<PyScene>> scene(
      m, "Scene",
      "A whole scene file: its objects, render settings and takes, read and written in one "
      "call. read_scene(path) reads one; write(path) writes through a temporary file renamed "
      "over path.");
  scene.def(py::init<>())
      .def_property_readonly(
          "objects", [](PyScene& s) { return s.scene().GetObjects(); },
          py::return_value_policy::reference_internal,
          "The scene's objects (a RootObject that belongs to the scene).")
      .def(
          "read", [](PyScene& s, py::handle path) { s.Read(path); }, py::arg("path"),
          "Replaces the whole content with the file's; FileError when it cannot (the scene is "
          "then empty). Objects Python holds from before leave the scene and live on.")
      .def(
          "write", [](const PyScene& s, py::handle path) { s.Write(path); }, py::arg("path"),
          "Writes the scene; FileError when it cannot, and path keeps what it held.");
#ifdef LUMORA_PYTHON_CONVERT
  scene
      .def(
          "export",
          [](PyScene& s, py::handle path, py::object format, bool triangulate) {
            return ExportWholeScene(s.scene(), path, format, triangulate);
          },
          py::arg("path"), py::arg("format") = py::none(), py::arg("triangulate") = false,
          "Writes the scene through Assimp, in format (an id of export_formats()) or the one "
          "path's extension names; returns what could not be carried (takes and render "
          "settings among it), one string per kind. FileError when it cannot.")
      .def(
          "import_file",
          [](PyScene& s, py::handle path, py::object report, bool triangulate) {
            s.Import(path, report, triangulate);
          },
          py::arg("path"), py::arg("report") = py::none(), py::arg("triangulate") = false,
          "Replaces the whole content with what Assimp reads from path (any format it "
          "imports); what could not be carried is appended to report (a list) when given. "
          "FileError when it cannot (the scene is then empty).");
#endif
  m.def(
      "read_scene",
      [](py::handle path) {
        auto scene = std::make_unique<PyScene>();
        scene->Read(path);
        return scene;
      },
      py::arg("path"),
      "The scene in a file (one that holds only an object list, as write_objects writes, "
      "reads too). FileError, with code, offset and errno, when it cannot.");
}

}  // namespace lumpy
