// The object family in Python: BaseObject with its transforms, tags and hierarchy; PointObject
// and PolygonObject with their geometry as numpy arrays; RootObject, the list of objects, read
// from and written to files.
//
// Geometry crosses in one copy each way: points as an (n, 3) float64 array (the layout of n
// Vector64), polygons as an (m, 4) int32 array (the layout of m CPolygon). Setting either
// resizes the object's tags through the object's node data and copies the array in; getting
// either copies the tag's array out, so that no array refers to memory a later resize frees.
//
// Objects go under objects and into object lists; tags hang in an object's tag list and are
// inserted with insert_tag or made with make_tag (bind_tags.cpp), which honour the tags that
// may occur only once: a tag of such a type that Python holds is taken out of the object
// instead of freed.
#include <pybind11/numpy.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "lum_py.h"

namespace lumpy {

using namespace lumora;

namespace {

static_assert(sizeof(Vector64) == 3 * sizeof(Float64), "Vector64 is three doubles");
static_assert(sizeof(CPolygon) == 4 * sizeof(Int32), "CPolygon is four Int32");

using PointArray = py::array_t<Float64, py::array::c_style | py::array::forcecast>;
using PolygonArray = py::array_t<Int32, py::array::c_style | py::array::forcecast>;

}  // namespace

// ---- matrices ----

// Declared in lum_py.h: the animation family returns matrices this way too.
py::array_t<Float64> MatrixToArray(const Matrix64& m) {
  py::array_t<Float64> out(std::vector<py::ssize_t>{4, 4});
  auto a = out.mutable_unchecked<2>();
  const Vector64* cols[4] = {&m.v1, &m.v2, &m.v3, &m.off};
  for (py::ssize_t c = 0; c < 4; ++c) {
    a(0, c) = cols[c]->x;
    a(1, c) = cols[c]->y;
    a(2, c) = cols[c]->z;
    a(3, c) = c == 3 ? 1.0 : 0.0;
  }
  return ReadOnly(out);
}

namespace {

// A matrix from a 3 x 4 or 4 x 4 array in homogeneous form (the last row of a 4 x 4 must be
// 0 0 0 1), or from the value form ((off), (v1), (v2), (v3)).
Matrix64 MatrixFromPython(py::handle value) {
  if (py::isinstance<py::array>(value)) {
    auto a = py::array_t<Float64, py::array::c_style | py::array::forcecast>::ensure(value);
    if (!a) throw py::type_error("a matrix array must hold numbers");
    if (a.ndim() == 2 && a.shape(1) == 4 && (a.shape(0) == 3 || a.shape(0) == 4)) {
      auto r = a.unchecked<2>();
      if (a.shape(0) == 4 && (r(3, 0) != 0 || r(3, 1) != 0 || r(3, 2) != 0 || r(3, 3) != 1))
        throw py::value_error("the last row of a 4 x 4 matrix must be 0 0 0 1");
      auto col = [&](py::ssize_t c) { return Vector64(r(0, c), r(1, c), r(2, c)); };
      return Matrix64(col(3), col(0), col(1), col(2));
    }
    if (!(a.ndim() == 2 && a.shape(0) == 4 && a.shape(1) == 3))
      throw py::value_error("a matrix array has shape (3, 4) or (4, 4), or (4, 3) rows off, v1, v2, v3");
  }
  return ToMatrix(value);
}

// ---- geometry ----

PointArray PointsOf(const PointObject& o) {
  const Int32 n = o.GetPointCount();
  PointArray out(std::vector<py::ssize_t>{n, 3});
  if (n > 0) std::memcpy(out.mutable_data(), o.GetPointR(), size_t(n) * sizeof(Vector64));
  return ReadOnly(out);
}

PolygonArray PolygonsOf(const PolygonObject& o) {
  const Int32 n = o.GetPolygonCount();
  PolygonArray out(std::vector<py::ssize_t>{n, 4});
  if (n > 0) std::memcpy(out.mutable_data(), o.GetPolygonR(), size_t(n) * sizeof(CPolygon));
  return ReadOnly(out);
}

Int32 CheckedCount(const py::array& a, py::ssize_t width, const char* what) {
  if (a.ndim() != 2 || a.shape(1) != width)
    throw py::value_error(std::string(what) + " must be an array of shape (n, " +
                          std::to_string(width) + ")");
  if (a.shape(0) > 0x3FFFFFFF) throw py::value_error(std::string("too many ") + what);
  return Int32(a.shape(0));
}

// The n-gon count to pass so that a resize keeps the records (-1 when there are none).
Int32 KeptNgons(PolygonObject& o) {
  NodeData* data = o.GetNodeData();
  if (data == nullptr || data->GetDiskType() != TYPE_POLYGONOBJECTDATA_DISK) return -1;
  NgonBase* ngons = static_cast<PolygonObjectData*>(data)->GetNgonBase();
  return ngons != nullptr && ngons->GetCount() > 0 ? ngons->GetCount() : -1;
}

void ResizePoints(PointObject& o, Int32 n) {
  bool ok = false;
  if (auto* poly = dynamic_cast<PolygonObject*>(&o)) {
    ok = poly->ResizeObject(n, -1, KeptNgons(*poly));
  } else if (auto* data = dynamic_cast<PointObjectData*>(o.GetNodeData())) {
    ok = data->_ResizeObject(n);
  } else {
    throw py::type_error("this object has no point data to resize");
  }
  if (!ok) {
    if (o.GetNodeData() == nullptr) throw py::type_error("this object has no point data");
    throw std::bad_alloc();
  }
}

void SetPoints(PointObject& o, const PointArray& points) {
  const Int32 n = CheckedCount(points, 3, "points");
  // Fewer points than the polygons name would leave corners pointing past the end.
  if (auto* poly = dynamic_cast<PolygonObject*>(&o)) {
    const CPolygon* p = poly->GetPolygonR();
    for (Int32 i = 0; i < poly->GetPolygonCount(); ++i) {
      for (Int32 c : {p[i].a, p[i].b, p[i].c, p[i].d}) {
        if (c >= n)
          throw py::value_error("polygon " + std::to_string(i) + " names point " +
                                std::to_string(c) + ", but only " + std::to_string(n) +
                                " points are given: set the polygons first, or use set_geometry");
      }
    }
  }
  ResizePoints(o, n);
  if (o.GetPointCount() != n) throw std::bad_alloc();
  if (n > 0) std::memcpy(static_cast<void*>(o.GetPointW()), points.data(), size_t(n) * sizeof(Vector64));
}

// Polygon corners name points of the object: each index lies in 0 .. point count - 1.
void CheckCorners(const Int32* corners, py::ssize_t count, Int32 points) {
  for (py::ssize_t i = 0; i < count; ++i) {
    if (corners[i] < 0 || corners[i] >= points)
      throw py::value_error("polygon " + std::to_string(i / 4) + " names point " +
                            std::to_string(corners[i]) + " of " + std::to_string(points));
  }
}

void SetPolygons(PolygonObject& o, const PolygonArray& polygons) {
  const Int32 n = CheckedCount(polygons, 4, "polygons");
  CheckCorners(polygons.data(), py::ssize_t(n) * 4, o.GetPointCount());
  if (!o.ResizeObject(-1, n, KeptNgons(o))) {
    if (o.GetNodeData() == nullptr) throw py::type_error("this object has no polygon data");
    throw std::bad_alloc();
  }
  if (o.GetPolygonCount() != n) throw std::bad_alloc();
  if (n > 0) std::memcpy(static_cast<void*>(o.GetPolygonW()), polygons.data(), size_t(n) * sizeof(CPolygon));
}

// ---- hierarchy ----

bool ObjectsTakeObjects(GeListNode* container, GeListNode* child) {
  const bool objectContainer = dynamic_cast<BaseObject*>(container) != nullptr ||
                               dynamic_cast<RootObject*>(container) != nullptr;
  return objectContainer && dynamic_cast<BaseObject*>(child) != nullptr;
}

void VisitTagList(GeListNode* node, ListVisitor visit) {
  if (auto* o = dynamic_cast<BaseObject*>(node)) visit(o->GetTagList());
}

py::list Tags(const BaseObject& o) {
  py::list out;
  for (BaseTag* t = o.GetFirstTag(); t != nullptr; t = t->GetNext())
    out.append(py::cast(t, py::return_value_policy::reference));
  return out;
}

RootObject* NewObjectList() {
  RootObject* list = AllocAlienRootObject();
  if (list == nullptr) throw std::bad_alloc();
  return list;
}

// A new object of type, with the node data BaseObject::Alloc gives it (a camera's
// CameraObjectData with its defaults, a light's LightObjectData).
BaseObject* NewObject(Int32 type) {
  // A type neither the application nor the library knows would give a plain object that stands
  // for nothing: refused.
  bool appKnows = false;
  NodeData* app = AllocAlienObjectData(type, appKnows, nullptr);
  _FreeNodeData(app);
  bool libraryKnows = false;
  NodeData* probe = BaseObject::AllocObjectData(type, libraryKnows);
  _FreeNodeData(probe);
  const bool plain = type == TYPE_OBJECT || type == TYPE_POLYGONOBJECTDATA_DISK ||
                     type == TYPE_SPLINEOBJECT_OLD || type == TYPE_POINTOBJECT;
  if (!appKnows && !libraryKnows && !plain)
    throw py::value_error("unknown object type " + std::to_string(type) +
                          " (TYPE_OBJECT, TYPE_POLYGONOBJECT, TYPE_CAMERAOBJECT ... name the "
                          "known ones)");
  BaseObject* o = BaseObject::Alloc(type);
  if (o == nullptr) throw std::bad_alloc();
  return o;
}

void CloseQuietly(py::handle hf) {
  try {
    hf.attr("close")();
  } catch (py::error_already_set&) {
  }
}

py::object ReadObjects(py::handle hf) {
  py::object owner = py::cast(NewObjectList(), py::return_value_policy::take_ownership);
  hf.attr("_read_object")(owner);
  return owner;
}

// The C++ path of bench/python_mesh_bench.py: the mesh set into a new polygon object, the
// object written in a list to path, read back, and its geometry copied out into new arrays,
// through the library alone. Seconds.
double MeshRoundTripCpp(const PointArray& points, const PolygonArray& polygons, py::handle path) {
  const Int32 np = CheckedCount(points, 3, "points");
  const Int32 nq = CheckedCount(polygons, 4, "polygons");
  const Filename name = ToFilename(path);
  const auto start = std::chrono::steady_clock::now();
  // Where the geometry read goes: taken inside the time and not cleared, as the Python path
  // makes its arrays.
  void* pointsOut = MemAllocNC(Int64(np) * Int64(sizeof(Vector64)) + 1);
  void* polygonsOut = MemAllocNC(Int64(nq) * Int64(sizeof(CPolygon)) + 1);
  bool ok = pointsOut != nullptr && polygonsOut != nullptr;
  if (ok) {
    RootObject* list = AllocAlienRootObject();
    PolygonObject* mesh = PolygonObject::Alloc(np, nq);
    ok = list != nullptr && mesh != nullptr;
    if (ok) {
      std::memcpy(static_cast<void*>(mesh->GetPointW()), points.data(), size_t(np) * sizeof(Vector64));
      std::memcpy(static_cast<void*>(mesh->GetPolygonW()), polygons.data(), size_t(nq) * sizeof(CPolygon));
      list->InsertLast(mesh);
      mesh = nullptr;
      HyperFile out;
      ok = out.Open(name, FILEOPEN_WRITE) && list->WriteObject(&out, 1) && out.Close();
    }
    if (mesh != nullptr) PolygonObject::Free(mesh);
    RootObject::Free(list);
  }
  if (ok) {
    RootObject* back = AllocAlienRootObject();
    HyperFile in;
    ok = back != nullptr && in.Open(name, FILEOPEN_READ) && ReadNodeFrom(&in, back) && in.Close();
    auto* mesh = ok ? dynamic_cast<PolygonObject*>(back->GetFirst()) : nullptr;
    ok = mesh != nullptr && mesh->GetPointCount() == np && mesh->GetPolygonCount() == nq;
    if (ok) {
      std::memcpy(pointsOut, mesh->GetPointR(), size_t(np) * sizeof(Vector64));
      std::memcpy(polygonsOut, mesh->GetPolygonR(), size_t(nq) * sizeof(CPolygon));
    }
    RootObject::Free(back);
  }
  const auto end = std::chrono::steady_clock::now();
  ok = ok && std::memcmp(pointsOut, points.data(), size_t(np) * sizeof(Vector64)) == 0 &&
       std::memcmp(polygonsOut, polygons.data(), size_t(nq) * sizeof(CPolygon)) == 0;
  MemFree(pointsOut);
  MemFree(polygonsOut);
  if (!ok) throw std::runtime_error("the C++ mesh round trip failed");
  return std::chrono::duration<double>(end - start).count();
}

template <typename C>
void Vec(C& cls, const char* name, const Vector64& (BaseObject::*get)() const,
         void (BaseObject::*set)(const Vector64&)) {
  cls.def_property(
      name, [get](const BaseObject& o) { return FromVector((o.*get)()); },
      [set](BaseObject& o, py::handle v) { (o.*set)(ToVector(v)); });
}

void BindObjects(py::module_& m) {
  py::class_<BaseObject, NodeHolder<BaseObject>, BaseList2D> obj(
      m, "BaseObject",
      "A scene object: transforms, tags, tracks and children. BaseObject.alloc(type) makes one "
      "of the class the type stands for.");
  obj.def(py::init([] { return NewObject(TYPE_OBJECT); }), "A plain object (type 5154).")
      .def_static(
          "alloc", [](Int32 type) { return NewObject(type); }, py::arg("type"),
          py::return_value_policy::take_ownership,
          "A new object of the type (5100 a PolygonObject, 5101 a spline, 5103 a camera ...).")
      .def_property_readonly("disk_type", &BaseObject::GetDiskType)
      .def_property_readonly("frozen_flags", &BaseObject::GetFrozenFlags)
      .def_property(
          "rotation_order", [](const BaseObject& o) { return Int32(o.GetRotationOrder()); },
          [](BaseObject& o, Int32 order) {
            if (order < ROTATIONORDER_ZXY || order > ROTATIONORDER_HPB)
              throw py::value_error("rotation orders are 0 .. 6 (ROTATIONORDER_*)");
            o.SetRotationOrder(ROTATIONORDER(order));
          });
  Vec(obj, "rel_pos", &BaseObject::GetRelPos, &BaseObject::SetRelPos);
  Vec(obj, "rel_rot", &BaseObject::GetRelRot, &BaseObject::SetRelRot);
  Vec(obj, "rel_scale", &BaseObject::GetRelScale, &BaseObject::SetRelScale);
  Vec(obj, "abs_pos", &BaseObject::GetAbsPos, &BaseObject::SetAbsPos);
  Vec(obj, "abs_rot", &BaseObject::GetAbsRot, &BaseObject::SetAbsRot);
  Vec(obj, "abs_scale", &BaseObject::GetAbsScale, &BaseObject::SetAbsScale);
  Vec(obj, "frozen_pos", &BaseObject::GetFrozenPos, &BaseObject::SetFrozenPos);
  Vec(obj, "frozen_rot", &BaseObject::GetFrozenRot, &BaseObject::SetFrozenRot);
  Vec(obj, "frozen_scale", &BaseObject::GetFrozenScale, &BaseObject::SetFrozenScale);
  obj.def_property(
         "ml", [](const BaseObject& o) { return MatrixToArray(o.GetMl()); },
         [](BaseObject& o, py::handle v) { o.SetMl(MatrixFromPython(v)); },
         "The local matrix, 4 x 4 (columns v1, v2, v3, offset); set from 3 x 4, 4 x 4 or "
         "((off), (v1), (v2), (v3)).")
      .def_property(
          "mg", [](const BaseObject& o) { return MatrixToArray(o.GetMg()); },
          [](BaseObject& o, py::handle v) { o.SetMg(MatrixFromPython(v)); },
          "The global matrix, as ml.")
      .def("set_rel_ml", [](BaseObject& o, py::handle v) { o.SetRelMl(MatrixFromPython(v)); })
      .def_property_readonly("tags", &Tags, "The object's tags, in list order.")
      .def_property_readonly(
          "first_tag", [](const BaseObject& o) { return o.GetFirstTag(); },
          py::return_value_policy::reference);

  py::class_<PointObject, NodeHolder<PointObject>, BaseObject>(
      m, "PointObject", "An object with points: points is an (n, 3) float64 array.")
      .def_property_readonly("point_count", &PointObject::GetPointCount)
      .def_property("points", &PointsOf, &SetPoints,
                    "A copy of the points; setting resizes the object to the array's rows.");

  py::class_<PolygonObject, NodeHolder<PolygonObject>, PointObject>(
      m, "PolygonObject",
      "A polygon mesh: points (n, 3) float64 and polygons (m, 4) int32 (a, b, c, d; a triangle "
      "repeats c).")
      .def(py::init([](Int32 points, Int32 polygons) {
             if (points < 0 || polygons < 0) throw py::value_error("counts cannot be negative");
             PolygonObject* o = PolygonObject::Alloc(points, polygons);
             if (o == nullptr) throw std::bad_alloc();
             return o;
           }),
           py::arg("points") = 0, py::arg("polygons") = 0)
      .def_property_readonly("polygon_count", &PolygonObject::GetPolygonCount)
      .def_property("polygons", &PolygonsOf, &SetPolygons,
                    "A copy of the polygons; setting resizes the object to the array's rows. "
                    "Every corner must name one of the points.")
      .def(
          "set_geometry",
          [](PolygonObject& o, const PointArray& points, const PolygonArray& polygons) {
            SetPoints(o, points);
            SetPolygons(o, polygons);
          },
          py::arg("points"), py::arg("polygons"), "Points, then polygons.");

  py::class_<RootObject, NodeHolder<RootObject>, RootList2D>(m, "RootObject",
                                                            "A list of objects (a scene's top level).")
      .def(py::init(&NewObjectList))
      .def_static("read", &ReadObjects, py::arg("hf"), "Reads a list written by write().");

  // Whole files: a HyperFile opened, the list read or written as one chunk, the file closed
  // (also when the read or write fails; the first failure is the one raised).
  m.def(
      "read_objects",
      [m](py::handle path) {
        py::object hf = m.attr("HyperFile")(path, "r");
        py::object list;
        try {
          list = ReadObjects(hf);
        } catch (py::error_already_set&) {
          CloseQuietly(hf);
          throw;
        }
        hf.attr("close")();
        return list;
      },
      py::arg("path"), "The list of objects in a file written by write_objects, as a RootObject.");
  m.def(
      "write_objects",
      [m](py::handle path, RootObject& list) {
        py::object hf = m.attr("HyperFile")(path, "w");
        try {
          hf.attr("_write_object")(py::cast(&list, py::return_value_policy::reference), 1);
        } catch (py::error_already_set&) {
          CloseQuietly(hf);
          throw;
        }
        hf.attr("close")();
      },
      py::arg("path"), py::arg("objects"), "Writes a RootObject as a file read_objects reads.");
  m.def("_mesh_round_trip_cpp", &MeshRoundTripCpp,
        "For bench/python_mesh_bench.py: the C++ path of the mesh round trip, in seconds.");
  for (Int32 i = 0; i <= ROTATIONORDER_HPB; ++i) {
    static const char* const names[] = {"ZXY", "XZY", "XYZ", "YXZ", "YZX", "ZYX", "HPB"};
    m.attr((std::string("ROTATIONORDER_") + names[i]).c_str()) = i;
  }
}

}  // namespace

void RegisterObjects(py::module_& m) {
  AddMembershipRule(&ObjectsTakeObjects);
  AddNodeListWalker(&VisitTagList);
  AddNodeClass<BaseObject>();
  AddNodeClass<PointObject>();
  AddNodeClass<PolygonObject>();
  AddNodeClass<RootObject>();
  BindObjects(m);
}

}  // namespace lumpy
