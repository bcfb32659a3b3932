// Lights and cameras in Python: IESLight (a luminaire's photometric description, imported from
// an IES file, its tables as numpy arrays), applying one to a light object, and the names of
// the camera parameters a camera object answers through get_parameter / set_parameter.
//
// An IESLight is a value Python owns (not a node): applying it to an object gives the object a
// copy, and ies_light gives a copy of the object's.
#include <pybind11/numpy.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lights/lum_cameraobjectdata.h"
#include "lum_py.h"

namespace lumpy {

using namespace lumora;

namespace {

struct FreeIES {
  void operator()(IESLight* light) const { IESLight::Free(light); }
};
using IESHolder = std::unique_ptr<IESLight, FreeIES>;

IESHolder NewIES() {
  IESHolder light(IESLight::Alloc());
  if (!light) throw std::bad_alloc();
  return light;
}

// The stream error a failed import stands for.
Int32 ImportFileError(Int32 result) {
  switch (result) {
    case -1:
      return FILEERROR_OPEN;
    case -3:
      return FILEERROR_OUTOFMEMORY;
    default:
      return FILEERROR_WRONG_VALUE;
  }
}

const char* ImportFailure(Int32 result) {
  switch (result) {
    case -1:
      return "the file cannot be opened";
    case -2:
      return "no IES header among the first 1024 bytes";
    case -3:
      return "no memory for the head buffer";
    default:
      return "the file does not parse";
  }
}

py::array_t<Float64> Copy(const Float* data, std::vector<py::ssize_t> shape) {
  py::array_t<Float64> out(shape);
  py::ssize_t n = 1;
  for (py::ssize_t d : shape) n *= d;
  if (n > 0) std::memcpy(out.mutable_data(), data, size_t(n) * sizeof(Float64));
  return out;
}

LightObjectData* LightData(BaseList2D& object) {
  return dynamic_cast<LightObjectData*>(object.GetNodeData());
}

void BindIES(py::module_& m) {
  py::class_<IESLight, IESHolder>(m, "IESLight",
                                  "A luminaire's photometric description: IESLight.load(path).")
      .def(py::init(&NewIES))
      .def(
          "import_file",
          [](IESLight& l, py::handle path, bool check) {
            const Int32 result = l.ImportFromFile(ToFilename(path));
            if (result != 1 && check) {
              try {
                RaiseFileError(ImportFileError(result), 0,
                               (std::string("importing ") + std::string(py::str(path)) + ": " +
                                ImportFailure(result))
                                   .c_str());
              } catch (py::error_already_set& e) {
                e.value().attr("ies_result") = result;
                throw;
              }
            }
            return result;
          },
          py::arg("path"), py::arg("check") = true,
          "Reads an IES file: 1 on success; otherwise FileError (its ies_result the import's "
          "result: -1 not opened, -2 no IES header, -3 out of memory, -5 does not parse), or "
          "with check=False that result.")
      .def_static(
          "load",
          [](py::handle path) {
            IESHolder l = NewIES();
            const Int32 result = l->ImportFromFile(ToFilename(path));
            if (result != 1)
              RaiseFileError(ImportFileError(result), 0,
                             (std::string("importing ") + std::string(py::str(path)) + ": " +
                              ImportFailure(result))
                                 .c_str());
            return l;
          },
          py::arg("path"), "A new light imported from an IES file (FileError when it fails).")
      .def_property_readonly("format", &IESLight::GetFormat)
      .def_property_readonly("tilt", &IESLight::GetTilt)
      .def_property_readonly("shape", &IESLight::GetShape)
      .def_property_readonly("opening_size",
                             [](const IESLight& l) { return FromVector(l.GetOpeningSize()); })
      .def_property_readonly(
          "texts",
          [](const IESLight& l) {
            py::tuple out{static_cast<size_t>(IESTEXT_COUNT)};
            for (Int32 i = 0; i < IESTEXT_COUNT; ++i)
              out[size_t(i)] = ToPython(l.GetText(IESTEXT(i)));
            return out;
          },
          "Manufacturer, catalogue, luminaire, lamp catalogue, lamp.")
      .def_property_readonly("max_candela", &IESLight::GetMaxCandela)
      .def_property_readonly("power_ratio", &IESLight::GetPowerRatio)
      .def_property_readonly(
          "vertical_angles",
          [](const IESLight& l) { return Copy(l.GetVerticalAngles(), {l.GetVerticalCount()}); },
          "Degrees.")
      .def_property_readonly(
          "horizontal_angles",
          [](const IESLight& l) { return Copy(l.GetHorizontalAngles(), {l.GetHorizontalCount()}); })
      .def_property_readonly(
          "candela",
          [](const IESLight& l) {
            return Copy(l.GetCandela(), {l.GetHorizontalCount(), l.GetVerticalCount()});
          },
          "Row j: the candela values of horizontal angle j at each vertical angle.")
      .def(
          "intensity",
          [](const IESLight& l, py::handle direction) {
            const Vector64 d = ToVector(direction);
            const Float64 length = std::sqrt(Dot(d, d));
            if (!(length > 0) || !std::isfinite(length))
              throw py::value_error("a direction must be a finite vector other than zero");
            // The library takes the vertical angle from the z component alone: unit length.
            return l.ComputeLightIntensity((1.0 / length) * d);
          },
          py::arg("direction"),
          "The intensity in direction divided by the maximum candela; straight down is (0, 0, -1).")
      .def("compute_power_ratio", &IESLight::ComputePowerRatio)
      .def("copy",
           [](const IESLight& l) {
             IESHolder c(l.Copy());
             if (!c) throw std::bad_alloc();
             return c;
           })
      .def(
          "write",
          [](const IESLight& l, py::handle hf) {
            UseStream(hf, "writing an IES light", [&](HyperFile* s) { return l.Write(s); });
          },
          py::arg("hf"), "The light's record.")
      .def_static(
          "read",
          [](py::handle hf) {
            IESHolder l = NewIES();
            UseStream(hf, "reading an IES light", [&](HyperFile* s) { return l->Read(s); });
            return l;
          },
          py::arg("hf"), "A light read from the record write() wrote.");

  m.def(
      "set_ies_light",
      [](BaseList2D& object, const IESLight& light) {
        if (LightData(object) == nullptr)
          throw py::type_error("IES lights go on light objects (BaseObject.alloc(5102))");
        if (!SetIESLight(&object, const_cast<IESLight*>(&light), object.GetDocument()))
          throw py::type_error("the light could not be applied");
        if (LightData(object)->GetIESLight() == nullptr) throw std::bad_alloc();
      },
      py::arg("object"), py::arg("light"),
      "Applies a copy of light to a light object: photometric, with the light's texts, maximum "
      "candela and opening in its parameters.");
  py::class_<BaseObject, NodeHolder<BaseObject>, BaseList2D> obj = m.attr("BaseObject");
  obj.def_property_readonly(
      "ies_light",
      [](BaseObject& o) -> py::object {
        LightObjectData* data = LightData(o);
        if (data == nullptr || data->GetIESLight() == nullptr) return py::none();
        IESHolder c(data->GetIESLight()->Copy());
        if (!c) throw std::bad_alloc();
        return py::cast(std::move(c));
      },
      "A copy of the IES light applied to a light object, or None.");

  struct Named {
    const char* name;
    Int32 id;
  };
  static const Named kIds[] = {
      {"CAMERAOBJECT_FOCUS", CAMERAOBJECT_FOCUS},
      {"CAMERAOBJECT_APERTURE", CAMERAOBJECT_APERTURE},
      {"CAMERAOBJECT_FOV", CAMERAOBJECT_FOV},
      {"CAMERAOBJECT_FOV_RENDER", CAMERAOBJECT_FOV_RENDER},
      {"CAMERAOBJECT_FILMPRESET", CAMERAOBJECT_FILMPRESET},
      {"CAMERAOBJECT_LENSPRESET", CAMERAOBJECT_LENSPRESET},
      {"CAMERAOBJECT_35MM", CAMERAOBJECT_35MM},
      {"CAMERAOBJECT_FNUMBER", CAMERAOBJECT_FNUMBER},
      {"CAMERAOBJECT_SHUTTER", CAMERAOBJECT_SHUTTER},
      {"CAMERAOBJECT_ISO", CAMERAOBJECT_ISO},
      {"CAMERAOBJECT_WHITEBALANCE", CAMERAOBJECT_WHITEBALANCE},
      {"LIGHT_TYPE", LIGHT_TYPE},
      {"LIGHT_TYPE_PHOTOMETRIC", LIGHT_TYPE_PHOTOMETRIC},
      {"LIGHT_IES_FILE", LIGHT_IES_FILE},
      {"LIGHT_IES_MAXCANDELA", LIGHT_IES_MAXCANDELA},
      {"LIGHT_IES_TEXTS", LIGHT_IES_TEXTS},
      {"LIGHT_AREA_SHAPE", LIGHT_AREA_SHAPE},
  };
  for (const Named& n : kIds) m.attr(n.name) = n.id;
}

}  // namespace

void RegisterLights(py::module_& m) { BindIES(m); }

}  // namespace lumpy
