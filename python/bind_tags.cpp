// The tag family in Python: BaseTag, the variable tags with their arrays as numpy arrays, the
// selection tags, and make_tag / get_tag / insert_tag on objects.
//
// Arrays cross in one copy each way, in the layout the tag keeps: points (n, 3) float64,
// polygons (n, 4) int32, texture coordinates (n, 4, 3) float64 decoded or (n, 8) uint32 as
// stored, normals (n, 4, 3) float64 decoded or (n, 12) int16 as stored, weights (n,) float32.
// Setting an array resizes the tag to its rows; the object's other tags are not resized with
// it (setting an object's points or polygons does that).
//
// Tags enter an object only through insert_tag and make_tag, which keep the rule of the tags
// that may occur only once: such a tag replaces the tags of its type, and those of them that
// Python holds are taken out of the object (and live on, Python's) rather than freed.
#include <pybind11/numpy.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "lum_py.h"

namespace lumpy {

using namespace lumora;

namespace {

template <typename T>
using Array = py::array_t<T, py::array::c_style | py::array::forcecast>;

// The rows of a, which must have the shape (n, inner...).
Int32 Rows(const py::array& a, std::vector<py::ssize_t> inner, const char* what) {
  bool ok = a.ndim() == py::ssize_t(inner.size() + 1);
  for (size_t i = 0; ok && i < inner.size(); ++i) ok = a.shape(py::ssize_t(i + 1)) == inner[i];
  if (!ok) {
    std::string shape = "(n";
    for (py::ssize_t d : inner) shape += ", " + std::to_string(d);
    throw py::value_error(std::string(what) + " must be an array of shape " + shape + ")");
  }
  if (a.shape(0) > 0x0FFFFFFF) throw py::value_error(std::string("too many ") + what);
  return Int32(a.shape(0));
}

// The tag's raw elements as an array of shape (count, inner...) of T.
template <typename T>
Array<T> ElementsOut(const VariableTag& tag, std::vector<py::ssize_t> inner) {
  std::vector<py::ssize_t> shape{tag.GetCount()};
  shape.insert(shape.end(), inner.begin(), inner.end());
  Array<T> out(shape);
  const size_t bytes = size_t(tag.GetCount()) * size_t(tag.GetElementSize());
  if (bytes > 0) std::memcpy(out.mutable_data(), tag.GetDataAddressR(), bytes);
  return ReadOnly(out);
}

// Resizes tag to the rows of a and copies a in.
template <typename Tag, typename T>
void ElementsIn(Tag& tag, const Array<T>& a, std::vector<py::ssize_t> inner, const char* what) {
  const Int32 n = Rows(a, inner, what);
  if (n == 0 && tag.GetCount() > 0 && std::is_same<Tag, PolygonTag>::value)
    throw py::value_error("a polygon tag cannot be emptied; resize its object instead");
  if (!tag.Resize(n) || tag.GetCount() != n) throw std::bad_alloc();
  const size_t bytes = size_t(n) * size_t(tag.GetElementSize());
  if (bytes > 0) std::memcpy(tag.GetDataAddressW(), a.data(), bytes);
}

Array<Float64> Corners(Int32 n) { return Array<Float64>(std::vector<py::ssize_t>{n, 4, 3}); }

void PutCorners(Array<Float64>& out, Int32 i, const Vector64& a, const Vector64& b,
                const Vector64& c, const Vector64& d) {
  Float64* row = out.mutable_data() + py::ssize_t(i) * 12;
  const Vector64* v[4] = {&a, &b, &c, &d};
  for (int k = 0; k < 4; ++k) {
    row[3 * k] = v[k]->x;
    row[3 * k + 1] = v[k]->y;
    row[3 * k + 2] = v[k]->z;
  }
}

Vector64 CornerAt(const Float64* row, int k) {
  return Vector64(row[3 * k], row[3 * k + 1], row[3 * k + 2]);
}

// A tag of four corners per polygon (UVW coordinates, normals) as an (n, 4, 3) array and back.
template <typename Tag>
Array<Float64> CornersOut(const Tag& tag) {
  Array<Float64> out = Corners(tag.GetCount());
  for (Int32 i = 0; i < tag.GetCount(); ++i) {
    const auto s = tag.Get(i);
    PutCorners(out, i, s.a, s.b, s.c, s.d);
  }
  return ReadOnly(out);
}

BaseList2D* ObjectOf(const BaseTag& tag);

// A tag on a polygon object has one record per polygon: another count is refused.
void CheckPerPolygon(const BaseTag& tag, Int32 n, const char* what) {
  auto* mesh = dynamic_cast<PolygonObject*>(ObjectOf(tag));
  if (mesh != nullptr && n != mesh->GetPolygonCount())
    throw py::value_error(std::string(what) + ": " + std::to_string(n) +
                          " rows, but the object has " + std::to_string(mesh->GetPolygonCount()) +
                          " polygons");
}

template <typename Tag, typename Struct>
void CornersIn(Tag& tag, const Array<Float64>& a, const char* what) {
  const Int32 n = Rows(a, {4, 3}, what);
  CheckPerPolygon(tag, n, what);
  if (!tag.Resize(n)) throw std::bad_alloc();
  for (Int32 i = 0; i < n; ++i) {
    const Float64* row = a.data() + py::ssize_t(i) * 12;
    tag.Set(i, Struct{CornerAt(row, 0), CornerAt(row, 1), CornerAt(row, 2), CornerAt(row, 3)});
  }
}

Array<Float64> UVWOut(const UVWTag& tag) { return CornersOut(tag); }
void UVWIn(UVWTag& tag, const Array<Float64>& a) {
  CornersIn<UVWTag, UVWStruct>(tag, a, "texture coordinates");
}
Array<Float64> NormalsOut(const NormalTag& tag) { return CornersOut(tag); }
void NormalsIn(NormalTag& tag, const Array<Float64>& a) {
  CornersIn<NormalTag, NormalStruct>(tag, a, "normals");
}

// ---- selections ----

// Every selected index once, ascending, whatever the runs of a file (overlapping, unordered,
// reaching the largest index) say.
Array<Int32> SelectedOf(const BaseSelect& sel) {
  std::vector<Int32> indices;
  Int32 first = 0, last = 0;
  for (Int32 run = 0; sel.GetRange(run, &first, &last); ++run)
    for (Int64 i = first; i <= last; ++i) indices.push_back(Int32(i));
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  Array<Int32> out(std::vector<py::ssize_t>{py::ssize_t(indices.size())});
  std::copy(indices.begin(), indices.end(), out.mutable_data());
  return ReadOnly(out);
}

void SelectOnly(BaseSelect& sel, const Array<Int32>& indices) {
  if (indices.ndim() != 1)
    throw py::value_error("a selection is a one-dimensional array of indices");
  const Int32* data = indices.data();
  for (py::ssize_t i = 0; i < indices.size(); ++i)
    if (data[i] < 0) throw py::value_error("selection indices cannot be negative");
  sel.DeselectAll();
  for (py::ssize_t i = 0; i < indices.size(); ++i)
    if (!sel.Select(data[i])) throw std::bad_alloc();
}

// ---- tags on objects ----

BaseList2D* ObjectOf(const BaseTag& tag) {
  auto* list = dynamic_cast<RootTag*>(tag.GetListHead());
  return list != nullptr ? list->GetObject() : nullptr;
}

// The tags of type on o that inserting a tag of that type would free, when Python holds them,
// leave o first; pred moves to the nearest tag before it that stays.
void SpareHeldTags(BaseObject& o, Int32 type, Int32 info, BaseTag*& pred) {
  if ((info & TAGINFO_MULTIPLE) != 0 || o.GetTagList() == nullptr) return;
  while (pred != nullptr && pred->GetType() == type && IsWrapped(pred)) pred = pred->GetPred();
  for (BaseTag* t = o.GetFirstTag(); t != nullptr;) {
    BaseTag* next = t->GetNext();
    if (t->GetType() == type && t != pred && IsWrapped(t)) t->Remove();
    t = next;
  }
}

void CheckPred(BaseObject& o, BaseTag* pred) {
  if (pred != nullptr && (o.GetTagList() == nullptr || pred->GetListHead() != o.GetTagList()))
    throw py::value_error("the predecessor is not a tag of this object");
}

void InsertTag(BaseObject& o, BaseTag& tag, BaseTag* pred) {
  if (tag.IsInList()) throw py::value_error("the tag is in a list already: remove() it first");
  CheckPred(o, pred);
  SpareHeldTags(o, tag.GetType(), tag.GetInfo(), pred);
  if (o.MakeTagList() == nullptr) throw std::bad_alloc();
  if (!o.InsertTag(&tag, pred)) throw py::value_error("the object refused the tag");
}

// A tag of type, refused when neither the library nor the application knows the type: it would
// be a plug-in tag without data that stands for nothing.
BaseTag* NewTag(Int32 type) {
  BaseTag* tag = BaseTag::Alloc(type);
  if (tag == nullptr) throw std::bad_alloc();
  if (tag->GetDiskType() == TAG_PLUGIN && tag->GetNodeData() == nullptr) {
    BaseTag::Free(tag);
    throw py::value_error("unknown tag type " + std::to_string(type) +
                          " (TAG_UVW, TAG_NORMAL, TAG_POINTSELECTION ... name the known ones)");
  }
  return tag;
}

BaseTag* MakeTag(BaseObject& o, Int32 type, BaseTag* pred) {
  CheckPred(o, pred);
  BaseTag* probe = NewTag(type);  // for the kind's info
  const Int32 info = probe->GetInfo();
  BaseTag::Free(probe);
  SpareHeldTags(o, type, info, pred);
  BaseTag* tag = o.MakeTag(type, pred);
  if (tag == nullptr) throw std::bad_alloc();
  return tag;
}

void BindTags(py::module_& m) {
  py::class_<BaseTag, NodeHolder<BaseTag>, BaseList2D>(
      m, "BaseTag", "A tag: data an object carries. BaseTag.alloc(type) makes one of its kind.")
      .def_static(
          "alloc",
          [](Int32 type) { return NewTag(type); },
          py::arg("type"), py::return_value_policy::take_ownership)
      .def_property_readonly("disk_type", &BaseTag::GetDiskType)
      .def_property_readonly("info", &BaseTag::GetInfo)
      .def_property_readonly("kept_chunk_count", &BaseTag::GetKeptChunkCount,
                             "Chunks of the tag no class reads, kept to be written back.")
      .def_property_readonly("object", &ObjectOf, py::return_value_policy::reference,
                             "The object whose tag list holds the tag, or None.");

  py::class_<VariableTag, NodeHolder<VariableTag>, BaseTag>(m, "VariableTag",
                                                            "A tag with one array of elements.")
      .def_property_readonly("count", &VariableTag::GetCount)
      .def_property_readonly("element_size", &VariableTag::GetElementSize)
      .def("__len__", &VariableTag::GetCount);

  py::class_<PointTag, NodeHolder<PointTag>, VariableTag>(m, "PointTag")
      .def_property(
          "points", [](const PointTag& t) { return ElementsOut<Float64>(t, {3}); },
          [](PointTag& t, const Array<Float64>& a) { ElementsIn(t, a, {3}, "points"); });
  py::class_<PolygonTag, NodeHolder<PolygonTag>, VariableTag>(m, "PolygonTag")
      .def_property(
          "polygons", [](const PolygonTag& t) { return ElementsOut<Int32>(t, {4}); },
          [](PolygonTag& t, const Array<Int32>& a) { ElementsIn(t, a, {4}, "polygons"); });
  py::class_<UVWTag, NodeHolder<UVWTag>, VariableTag>(m, "UVWTag")
      .def_property("uvw", &UVWOut, &UVWIn,
                    "Corners a, b, c, d of each polygon as (u, v, w); stored packed.")
      .def_property(
          "words", [](const UVWTag& t) { return ElementsOut<UInt32>(t, {8}); },
          [](UVWTag& t, const Array<UInt32>& a) { ElementsIn(t, a, {8}, "texture words"); },
          "The packed form as stored: two words per corner.")
      .def_property("setting", &UVWTag::GetSetting, &UVWTag::SetSetting);
  py::class_<NormalTag, NodeHolder<NormalTag>, VariableTag>(m, "NormalTag")
      .def_property("normals", &NormalsOut, &NormalsIn,
                    "Corners a, b, c, d of each polygon; stored as int16 of 1/32000.")
      .def_property(
          "raw", [](const NormalTag& t) { return ElementsOut<Int16>(t, {12}); },
          [](NormalTag& t, const Array<Int16>& a) { ElementsIn(t, a, {12}, "raw normals"); });
  py::class_<VertexMapTag, NodeHolder<VertexMapTag>, VariableTag>(m, "VertexMapTag")
      .def_property(
          "weights", [](const VertexMapTag& t) { return ElementsOut<Float32>(t, {}); },
          [](VertexMapTag& t, const Array<Float32>& a) { ElementsIn(t, a, {}, "weights"); });
  py::class_<SelectionTag, NodeHolder<SelectionTag>, BaseTag>(
      m, "SelectionTag", "A selection of points, polygons or edges.")
      .def_property(
          "selected", [](SelectionTag& t) { return SelectedOf(*t.GetBaseSelect()); },
          [](SelectionTag& t, const Array<Int32>& a) { SelectOnly(*t.GetBaseSelect(), a); },
          "The selected indices, ascending.")
      .def("is_selected", [](SelectionTag& t, Int32 i) { return t.GetBaseSelect()->IsSelected(i); })
      .def("select",
           [](SelectionTag& t, Int32 i) {
             if (i < 0) throw py::value_error("selection indices cannot be negative");
             if (!t.GetBaseSelect()->Select(i)) throw std::bad_alloc();
           })
      .def("deselect", [](SelectionTag& t, Int32 i) { t.GetBaseSelect()->Deselect(i); })
      .def_property_readonly("segments",
                             [](SelectionTag& t) { return t.GetBaseSelect()->GetSegments(); });

  // The object's side.
  py::class_<BaseObject, NodeHolder<BaseObject>, BaseList2D> obj = m.attr("BaseObject");
  obj.def("make_tag", &MakeTag, py::arg("type"), py::arg("pred") = nullptr,
          py::return_value_policy::reference,
          "A new tag of the type on the object, after pred (at the head when None).")
      .def(
          "get_tag", [](BaseObject& o, Int32 type, Int32 nr) { return o.GetTag(type, nr); },
          py::arg("type"), py::arg("nr") = 0, py::return_value_policy::reference,
          "The nr-th tag of the type, or None.")
      .def("insert_tag", &InsertTag, py::arg("tag"), py::arg("pred") = nullptr,
           "Puts a tag that is in no list on the object, after pred (at the head when None).");

  struct Named {
    const char* name;
    Int32 id;
  };
  static const Named kTypes[] = {{"TAG_POINT", TAG_POINT},
                                 {"TAG_POLYGON", TAG_POLYGON},
                                 {"TAG_UVW", TAG_UVW},
                                 {"TAG_NORMAL", TAG_NORMAL},
                                 {"TAG_VERTEXMAP", TAG_VERTEXMAP},
                                 {"TAG_POINTSELECTION", TAG_POINTSELECTION},
                                 {"TAG_POLYGONSELECTION", TAG_POLYGONSELECTION},
                                 {"TAG_EDGESELECTION", TAG_EDGESELECTION},
                                 {"TAG_TEXTURE", TAG_TEXTURE},
                                 {"TAG_DISPLAY", TAG_DISPLAY},
                                 {"TAG_PROTECTION", TAG_PROTECTION},
                                 {"TAG_PLUGIN", TAG_PLUGIN},
                                 {"TAGINFO_MULTIPLE", TAGINFO_MULTIPLE}};
  for (const Named& t : kTypes) m.attr(t.name) = t.id;
}

}  // namespace

void RegisterTags(py::module_& m) {
  AddNodeClass<BaseTag>();
  AddNodeClass<VariableTag>();
  AddNodeClass<PointTag>();
  AddNodeClass<PolygonTag>();
  AddNodeClass<UVWTag>();
  AddNodeClass<NormalTag>();
  AddNodeClass<VertexMapTag>();
  AddNodeClass<SelectionTag>();
  BindTags(m);
}

}  // namespace lumpy
