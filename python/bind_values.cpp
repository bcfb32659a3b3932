// The values family in Python: text and value conversions, GeData, DescLevel, DescID and
// BaseContainer with the mapping protocol.
//
// A container maps Int32 ids to Python values (see GeDataToPython). Reading c[id] gives a copy
// of a nested container, not the stored one: change it and assign it back.
#include <pybind11/numpy.h>
#include <pybind11/operators.h>

#include <cmath>
#include <string>

#include "lum_py.h"

namespace lumpy {

using namespace lumora;

namespace {

constexpr bool kHostIsLittle = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

void CheckOutOfMemory(const GeData& d, Int32 wanted) {
  if (d.GetType() != wanted) throw std::bad_alloc();
}

py::object PathClass() {
  static py::object path = py::module_::import("pathlib").attr("PurePosixPath");
  return path;
}

bool IsNumber(py::handle h) {
  return py::isinstance<py::int_>(h) || py::isinstance<py::float_>(h) ||
         py::hasattr(h, "__float__");
}

const DescID* DescIDOf(const GeData& d) {
  return reinterpret_cast<const DescID*>(d.GetCustomDataType(CUSTOMDATATYPE_DESCID));
}

// One level from an int, a (id, type, creator) sequence or a DescLevel.
DescLevel ToLevel(py::handle h) {
  if (py::isinstance<DescLevel>(h)) return h.cast<DescLevel>();
  if (py::isinstance<py::int_>(h)) return DescLevel(h.cast<Int32>());
  py::sequence s = py::reinterpret_borrow<py::sequence>(h);
  if (s.size() != 3) throw py::type_error("a level is an int, (id, type, creator) or DescLevel");
  return DescLevel(s[0].cast<Int32>(), s[1].cast<Int32>(), s[2].cast<Int32>());
}

}  // namespace

DescID ToDescID(py::handle h) {
  if (py::isinstance<DescID>(h)) return h.cast<DescID>();
  DescID id;
  if (py::isinstance<py::int_>(h) || py::isinstance<DescLevel>(h)) {
    if (!id.PushId(ToLevel(h))) throw std::bad_alloc();
    return id;
  }
  for (py::handle level : py::reinterpret_borrow<py::iterable>(h))
    if (!id.PushId(ToLevel(level))) throw std::bad_alloc();
  return id;
}

namespace {

std::string LevelRepr(const DescLevel& l) {
  if (l.dataType == 0 && l.creatorId == 0) return std::to_string(l.id);
  return "(" + std::to_string(l.id) + ", " + std::to_string(l.dataType) + ", " +
         std::to_string(l.creatorId) + ")";
}

void BindDescID(py::module_& m) {
  py::class_<DescLevel>(m, "DescLevel", "One level of a DescID: id, data type, creator.")
      .def(py::init<Int32, Int32, Int32>(), py::arg("id"), py::arg("type") = 0,
           py::arg("creator") = 0)
      .def_readwrite("id", &DescLevel::id)
      .def_readwrite("type", &DescLevel::dataType)
      .def_readwrite("creator", &DescLevel::creatorId)
      .def("__eq__", [](const DescLevel& a, const DescLevel& b) { return a == b; })
      .def("__repr__", [](const DescLevel& l) { return "DescLevel" + LevelRepr(l); });

  py::class_<DescID>(m, "DescID",
                     "The address of a parameter: levels given as ints, (id, type, creator) "
                     "tuples or DescLevels.")
      .def(py::init([](py::args levels) { return ToDescID(levels); }))
      .def("push_id",
           [](DescID& id, py::handle l) {
             if (!id.PushId(ToLevel(l))) throw std::bad_alloc();
           })
      .def("__len__", &DescID::GetCount)
      .def_property_readonly("depth", &DescID::GetDepth)
      .def("__getitem__",
           [](const DescID& id, Int32 i) {
             if (i < -id.GetCount() || i >= id.GetCount()) throw py::index_error();
             return id[i < 0 ? id.GetCount() + i : i];
           })
      .def("__eq__",
           [](const DescID& a, py::handle b) {
             return py::isinstance<DescID>(b) && a == b.cast<const DescID&>();
           })
      .def("__repr__", [](const DescID& id) {
        std::string s = "DescID(";
        for (Int32 i = 0; i < id.GetCount(); ++i) s += (i ? ", " : "") + LevelRepr(id[i]);
        return s + ")";
      });
}

py::object ContainerItem(const BaseContainer& bc, Int32 id) {
  if (bc.FindIndex(id) < 0) throw py::key_error(std::to_string(id));
  return GeDataToPython(*bc.GetData(id));
}

void BindContainer(py::module_& m) {
  py::class_<BaseContainer>(m, "BaseContainer",
                            "The parameter bag of a node: Int32 ids mapped to values, in "
                            "insertion order, with an id of its own.")
      .def(py::init<>())
      .def(py::init<Int32>(), py::arg("id"))
      .def(py::init([](py::dict values, Int32 id) {
             BaseContainer bc(id);
             for (auto item : values)
               if (bc.SetData(item.first.cast<Int32>(), PythonToGeData(item.second)) == nullptr)
                 throw std::bad_alloc();
             return bc;
           }),
           py::arg("values"), py::arg("id") = -1)
      .def_property("id", &BaseContainer::GetId, &BaseContainer::SetId)
      .def_property_readonly("dirty", &BaseContainer::GetDirty)
      .def("__len__", &BaseContainer::GetCount)
      .def("__contains__", [](const BaseContainer& bc, Int32 id) { return bc.FindIndex(id) >= 0; })
      .def("__getitem__", &ContainerItem)
      .def("__setitem__",
           [](BaseContainer& bc, Int32 id, py::handle value) {
             if (bc.SetData(id, PythonToGeData(value)) == nullptr) throw std::bad_alloc();
           })
      .def("__delitem__",
           [](BaseContainer& bc, Int32 id) {
             if (!bc.RemoveData(id)) throw py::key_error(std::to_string(id));
           })
      .def(
          "__iter__",
          [](const BaseContainer& bc) {
            py::list ids;
            for (Int32 i = 0; i < bc.GetCount(); ++i) ids.append(bc.GetIndexId(i));
            return py::iter(ids);
          },
          "The entry ids, in order (a snapshot).")
      .def("keys",
           [](const BaseContainer& bc) {
             py::list ids;
             for (Int32 i = 0; i < bc.GetCount(); ++i) ids.append(bc.GetIndexId(i));
             return ids;
           })
      .def("items",
           [](const BaseContainer& bc) {
             py::list items;
             BrowseContainer browse(&bc);
             Int32 id = 0;
             GeData* data = nullptr;
             while (browse.GetNext(&id, &data))
               items.append(py::make_tuple(id, GeDataToPython(*data)));
             return items;
           })
      .def("values",
           [](const BaseContainer& bc) {
             py::list values;
             BrowseContainer browse(&bc);
             GeData* data = nullptr;
             while (browse.GetNext(nullptr, &data)) values.append(GeDataToPython(*data));
             return values;
           })
      .def(
          "get",
          [](const BaseContainer& bc, Int32 id, py::object preset) {
            return bc.FindIndex(id) >= 0 ? GeDataToPython(*bc.GetData(id)) : preset;
          },
          py::arg("id"), py::arg("default") = py::none())
      .def(
          "get_data", [](const BaseContainer& bc, Int32 id) { return GeData(*bc.GetData(id)); },
          "The value of the entry as a GeData (nil when there is none).")
      .def("set_data",
           [](BaseContainer& bc, Int32 id, const GeData& d) {
             if (bc.SetData(id, d) == nullptr) throw std::bad_alloc();
           })
      .def(
          "ins_data",
          [](BaseContainer& bc, Int32 id, py::handle value) {
            if (bc.InsData(id, PythonToGeData(value)) == nullptr) throw std::bad_alloc();
          },
          "Appends an entry without replacing one with the same id.")
      .def("get_parameter",
           [](const BaseContainer& bc, py::handle id) {
             GeData out;
             bc.GetParameter(ToDescID(id), out);
             return GeDataToPython(out);
           })
      .def("set_parameter",
           [](BaseContainer& bc, py::handle id, py::handle value) {
             if (!bc.SetParameter(ToDescID(id), PythonToGeData(value))) throw std::bad_alloc();
           })
      .def("merge",
           [](BaseContainer& bc, const BaseContainer& src) {
             if (!bc.MergeContainer(src)) throw std::bad_alloc();
           })
      .def("clear", &BaseContainer::FlushAll)
      .def("copy", [](const BaseContainer& bc) { return BaseContainer(bc); })
      .def("__eq__",
           [](const BaseContainer& a, py::handle b) {
             return py::isinstance<BaseContainer>(b) && a == b.cast<const BaseContainer&>();
           })
      .def("__repr__", [](const BaseContainer& bc) {
        py::dict d;
        BrowseContainer browse(&bc);
        Int32 id = 0;
        GeData* data = nullptr;
        while (browse.GetNext(&id, &data)) d[py::int_(id)] = GeDataToPython(*data);
        return "BaseContainer(" + std::string(py::repr(d)) + ", id=" + std::to_string(bc.GetId()) +
               ")";
      });
}

void BindGeData(py::module_& m) {
  py::class_<GeData>(m, "GeData",
                     "A tagged value. GeData(value) picks the kind from the Python value; "
                     "GeData(value, type) stores it as that kind (VALUETYPE_INT64, ...).")
      .def(py::init<>())
      .def(py::init([](py::handle value, py::object type) {
             if (type.is_none()) return PythonToGeData(value);
             const Int32 kind = type.cast<Int32>();
             GeData d;
             switch (kind) {
               case VALUETYPE_INT32:
                 d = GeData(value.cast<Int32>());
                 break;
               case VALUETYPE_INT64:
                 d = GeData(value.cast<Int64>());
                 break;
               case VALUETYPE_FLOAT:
                 d = GeData(value.cast<Float64>());
                 break;
               default:
                 d = PythonToGeData(value);
                 if (d.GetType() != kind) throw py::type_error("the value is not of that kind");
             }
             return d;
           }),
           py::arg("value"), py::arg("type") = py::none())
      // 257 for a custom value whose class is missing (GetType reports nil for it).
      .def_property_readonly("type",
                             [](const GeData& d) {
                               return d.GetUnknownCustomData() != nullptr
                                          ? Int32(VALUETYPE_UNKNOWNCUSTOM)
                                          : d.GetType();
                             })
      .def_property_readonly("value",
                             [](const GeData& d) {
                               if (d.GetUnknownCustomData() != nullptr)
                                 return py::object(py::none());
                               return GeDataToPython(d);
                             })
      .def("__eq__",
           [](const GeData& a, py::handle b) {
             return py::isinstance<GeData>(b) && a == b.cast<const GeData&>();
           })
      .def("__repr__", [](const GeData& d) {
        if (const UnknownCustomData* u = d.GetUnknownCustomData())
          return "GeData(custom " + std::to_string(u->originalType) + ", type=257)";
        return "GeData(" + std::string(py::repr(GeDataToPython(d))) +
               ", type=" + std::to_string(d.GetType()) + ")";
      });

  m.attr("VALUETYPE_NIL") = Int32(VALUETYPE_NIL);
  m.attr("VALUETYPE_UNKNOWNCUSTOM") = Int32(VALUETYPE_UNKNOWNCUSTOM);
  m.attr("VALUETYPE_INT32") = Int32(VALUETYPE_INT32);
  m.attr("VALUETYPE_FLOAT") = Int32(VALUETYPE_FLOAT);
  m.attr("VALUETYPE_TIME") = Int32(VALUETYPE_TIME);
  m.attr("VALUETYPE_VECTOR") = Int32(VALUETYPE_VECTOR);
  m.attr("VALUETYPE_MATRIX") = Int32(VALUETYPE_MATRIX);
  m.attr("VALUETYPE_INT64") = Int32(VALUETYPE_INT64);
  m.attr("VALUETYPE_BYTEARRAY") = Int32(VALUETYPE_BYTEARRAY);
  m.attr("VALUETYPE_STRING") = Int32(VALUETYPE_STRING);
  m.attr("VALUETYPE_FILENAME") = Int32(VALUETYPE_FILENAME);
  m.attr("VALUETYPE_CONTAINER") = Int32(VALUETYPE_CONTAINER);
  m.attr("VALUETYPE_LINK") = Int32(VALUETYPE_LINK);
  m.attr("CUSTOMDATATYPE_DESCID") = CUSTOMDATATYPE_DESCID;
}

}  // namespace

// ---- text ----

py::str ToPython(const String& s) {
  const Int32 n = s.GetLength();
  int order = kHostIsLittle ? -1 : 1;
  PyObject* text = PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(s.GetUnits()),
                                         Py_ssize_t(n) * 2, "surrogatepass", &order);
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

String ToString(py::handle text) {
  if (!py::isinstance<py::str>(text)) throw py::type_error("expected str");
  PyObject* units = PyUnicode_AsEncodedString(text.ptr(), kHostIsLittle ? "utf-16-le" : "utf-16-be",
                                              "surrogatepass");
  if (units == nullptr) throw py::error_already_set();
  py::bytes b = py::reinterpret_steal<py::bytes>(units);
  const Py_ssize_t size = PyBytes_GET_SIZE(units);
  if (size / 2 > 0x7FFFFFFF) throw py::value_error("string too long");
  String s;
  s.SetUcBlock(reinterpret_cast<const UInt16*>(PyBytes_AS_STRING(units)), Int32(size / 2));
  if (s.GetLength() != Int32(size / 2)) throw std::bad_alloc();
  return s;
}

Filename ToFilename(py::handle path) {
  py::object fs = py::module_::import("os").attr("fsdecode")(path);
  Filename name;
  name.SetString(ToString(fs));
  return name;
}

py::object ToPythonPath(const Filename& name) { return PathClass()(ToPython(name.GetString())); }

// ---- vectors and matrices ----

Vector64 ToVector(py::handle value) {
  py::sequence s =
      py::reinterpret_borrow<py::sequence>(py::module_::import("builtins").attr("tuple")(value));
  if (s.size() != 3) throw py::type_error("a vector has three components");
  return Vector64(s[0].cast<Float64>(), s[1].cast<Float64>(), s[2].cast<Float64>());
}

Matrix64 ToMatrix(py::handle value) {
  py::sequence s =
      py::reinterpret_borrow<py::sequence>(py::module_::import("builtins").attr("tuple")(value));
  if (s.size() != 4) throw py::type_error("a matrix is four vectors: offset, v1, v2, v3");
  return Matrix64(ToVector(s[0]), ToVector(s[1]), ToVector(s[2]), ToVector(s[3]));
}

py::tuple FromVector(const Vector64& v) { return py::make_tuple(v.x, v.y, v.z); }

py::tuple FromMatrix(const Matrix64& m) {
  return py::make_tuple(FromVector(m.off), FromVector(m.v1), FromVector(m.v2), FromVector(m.v3));
}

// ---- values ----

py::object GeDataToPython(const GeData& d) {
  switch (d.GetType()) {
    case VALUETYPE_NIL:
      // A custom value whose class is missing reports nil too, but is not nothing: it stays a
      // GeData, so that a container rebuilt from items() keeps it.
      if (d.GetUnknownCustomData() != nullptr) break;
      return py::none();
    case VALUETYPE_INT32:
      return py::int_(d.GetInt32());
    case VALUETYPE_INT64:
      return py::int_(d.GetInt64());
    case VALUETYPE_FLOAT:
      return py::float_(d.GetFloat());
    case VALUETYPE_TIME:
      return py::cast(d.GetTime());
    case VALUETYPE_VECTOR:
      return FromVector(d.GetVector());
    case VALUETYPE_MATRIX:
      return FromMatrix(d.GetMatrix());
    case VALUETYPE_STRING:
      return ToPython(d.GetString());
    case VALUETYPE_FILENAME:
      return ToPythonPath(d.GetFilename());
    case VALUETYPE_BYTEARRAY: {
      const ByteArray& b = d.GetByteArray();
      return py::bytes(static_cast<const char*>(b.data), size_t(b.length));
    }
    case VALUETYPE_CONTAINER:
      return py::cast(BaseContainer(*d.GetContainer()));
    case VALUETYPE_LINK:
      return py::cast(d.GetLink(), py::return_value_policy::reference);
    case CUSTOMDATATYPE_DESCID:
      if (const DescID* id = DescIDOf(d)) return py::cast(DescID(*id));
      break;
    default:
      break;
  }
  return py::cast(GeData(d));
}

GeData PythonToGeData(py::handle value) {
  if (value.is_none()) return GeData();
  if (py::isinstance<GeData>(value)) {
    GeData d(value.cast<const GeData&>());
    CheckOutOfMemory(d, value.cast<const GeData&>().GetType());
    return d;
  }
  if (py::isinstance<py::bool_>(value)) return GeData(Int32(value.cast<bool>() ? 1 : 0));
  if (py::isinstance<py::int_>(value)) {
    const Int64 v = value.cast<Int64>();
    if (v >= -2147483648LL && v <= 2147483647LL) return GeData(Int32(v));
    return GeData(v);
  }
  if (py::isinstance<py::float_>(value)) return GeData(value.cast<Float64>());
  GeData d;
  Int32 kind = VALUETYPE_NIL;
  if (py::isinstance<py::str>(value)) {
    d = GeData(ToString(value));
    kind = VALUETYPE_STRING;
  } else if (py::isinstance<py::bytes>(value) || py::isinstance<py::bytearray>(value) ||
             py::isinstance<py::memoryview>(value)) {
    py::bytes b = py::bytes(py::module_::import("builtins").attr("bytes")(value));
    std::string bytes = b;
    ByteArray array;
    if (!bytes.empty() && !array.Init(bytes.data(), Int64(bytes.size()))) throw std::bad_alloc();
    d = GeData(array);
    kind = VALUETYPE_BYTEARRAY;
  } else if (py::isinstance(value, py::module_::import("os").attr("PathLike"))) {
    d = GeData(ToFilename(value));
    kind = VALUETYPE_FILENAME;
  } else if (py::isinstance<BaseTime>(value)) {
    d = GeData(value.cast<const BaseTime&>());
    kind = VALUETYPE_TIME;
  } else if (py::isinstance<BaseContainer>(value)) {
    d = GeData(value.cast<const BaseContainer&>());
    kind = VALUETYPE_CONTAINER;
  } else if (py::isinstance<DescID>(value)) {
    const DescID& id = value.cast<const DescID&>();
    d = GeData(CUSTOMDATATYPE_DESCID, *reinterpret_cast<const CustomDataType*>(&id));
    kind = CUSTOMDATATYPE_DESCID;
  } else if (py::isinstance<BaseList2D>(value)) {
    d = GeData(VALUETYPE_LINK, DEFAULTVALUE);
    kind = VALUETYPE_LINK;
    if (d.GetType() == kind) d.GetBaseLink()->SetLink(value.cast<BaseList2D*>());
  } else if (py::isinstance<py::sequence>(value) || py::isinstance<py::array>(value)) {
    py::sequence s =
        py::reinterpret_borrow<py::sequence>(py::module_::import("builtins").attr("tuple")(value));
    if (s.size() == 3 && IsNumber(s[0])) {
      d = GeData(ToVector(value));
      kind = VALUETYPE_VECTOR;
    } else if (s.size() == 4) {
      d = GeData(ToMatrix(value));
      kind = VALUETYPE_MATRIX;
    } else {
      throw py::type_error("a sequence is a vector (3 numbers) or a matrix (4 vectors)");
    }
  } else {
    throw py::type_error("no value kind for " + std::string(py::str(value.get_type())));
  }
  CheckOutOfMemory(d, kind);
  return d;
}

void RegisterValues(py::module_& m) {
  BindDescID(m);
  BindContainer(m);
  BindGeData(m);
}

}  // namespace lumpy
