// What the registration files of the Python module share: text and value conversions, the
// FileError exception, and the holder that carries the ownership rule for nodes.
//
// Each family registers its classes and functions in one function (RegisterStream,
// RegisterValues, RegisterNodes, RegisterThumbnail ...), called by lumora_module.cpp in layer
// order, so that a family added to the library is one more file here.
#ifndef LUM_PY_H
#define LUM_PY_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <functional>
#include <type_traits>
#include <typeinfo>

#include "lumora.h"

namespace lumpy {

namespace py = pybind11;

// ---- text ----

// UTF-16 units both ways, lone surrogates included.
py::str ToPython(const lumora::String& s);
lumora::String ToString(py::handle text);
// A path given as str or os.PathLike.
lumora::Filename ToFilename(py::handle path);
py::object ToPythonPath(const lumora::Filename& name);

// ---- values ----

// The Python value of a GeData: None, int, float, BaseTime, (x, y, z), ((off), (v1), (v2),
// (v3)), str, pathlib.Path, bytes, BaseContainer (a copy), DescID, or the GeData itself for
// kinds without a Python counterpart (links, markers, custom data).
py::object GeDataToPython(const lumora::GeData& d);
// The GeData for a Python value: None nil, bool and int Int32 (Int64 beyond its range), float
// Float, str String, os.PathLike Filename, bytes ByteArray, BaseTime, BaseContainer, DescID,
// GeData (copied), a sequence of three numbers Vector, of four such sequences (or a 4 x 3
// array) Matrix. TypeError for anything else; MemoryError when the copy cannot be allocated.
lumora::GeData PythonToGeData(py::handle value);
// A DescID from a DescID, an int, a DescLevel or a sequence of levels.
lumora::DescID ToDescID(py::handle value);
lumora::Vector64 ToVector(py::handle value);
lumora::Matrix64 ToMatrix(py::handle value);
py::tuple FromVector(const lumora::Vector64& v);
py::tuple FromMatrix(const lumora::Matrix64& m);
// A 4 x 4 float64 array in homogeneous form: the columns are v1, v2, v3 and the offset.
py::array_t<lumora::Float64> MatrixToArray(const lumora::Matrix64& m);

// A copy handed to Python is made read-only, so that writing into it fails loudly instead of
// changing a copy nobody sees.
template <typename A>
A ReadOnly(A array) {
  array.attr("setflags")(py::arg("write") = false);
  return array;
}

// ---- errors ----

// Raises lumora.FileError with the code (a FILEERROR number), the byte offset where it
// happened and a message naming what failed.
// osError is the system's errno behind the failure (0: none), given to the exception's errno.
[[noreturn]] void RaiseFileError(lumora::Int32 code, lumora::Int64 offset, const char* what,
                                 lumora::Int32 osError = 0);
// Runs op on the stream of hf (a lumora.HyperFile) and raises FileError for a failure as the
// stream's own operations do; what names the operation in the message.
void UseStream(py::handle hf, const char* what, const std::function<bool(lumora::HyperFile*)>& op);
// The Python name of a FILEERROR code ("READ", "WRONG_VALUE" ...).
const char* FileErrorName(lumora::Int32 code);

// ---- nodes ----
//
// The ownership rule. Every node Python sees is wrapped at most once. A node in no list (made
// by Python, removed from its list, or read into a list Python holds) belongs to its wrapper,
// which frees it when Python lets it go. A node inside a list or under a parent belongs to the
// tree: letting its wrapper go frees nothing. When the tree frees a node because Python let
// the tree's top go, every node beneath it that Python still holds is first taken out of the
// tree: it lives on on its own, owned by its wrapper, so that the library never frees a node
// Python holds.

void NodeWrapped(lumora::GeListNode* node);
void NodeReleased(lumora::GeListNode* node);

template <typename T>
class NodeHolder {
 public:
  NodeHolder() = default;
  explicit NodeHolder(T* node) : _node(node) { NodeWrapped(node); }
  // pybind11 copies holders only to hand them on; each copy counts as one wrapper.
  NodeHolder(const NodeHolder& other) : _node(other._node) { NodeWrapped(_node); }
  NodeHolder& operator=(const NodeHolder&) = delete;
  ~NodeHolder() {
    if (_node != nullptr) NodeReleased(_node);
  }
  T* get() const { return _node; }

 private:
  T* _node = nullptr;
};

// A family whose nodes hold further lists (an object's tags, say) adds a walker so that the
// release of a tree reaches them too: it calls visit for the head of each such list of node.
using ListVisitor = void (*)(lumora::RootList2D* list);
using NodeListWalker = void (*)(lumora::GeListNode* node, ListVisitor visit);
void AddNodeListWalker(NodeListWalker walker);

// Insertions are checked against the rules of the families: a rule says whether container (a
// parent node or a list head) takes child. A plug-in node and its list take plug-in nodes; a
// family adds its own (objects under objects, tags into an object's tag list ...).
using MembershipRule = bool (*)(lumora::GeListNode* container, lumora::GeListNode* child);
void AddMembershipRule(MembershipRule rule);

// Before an owner outside the node tree (a Scene) frees top with its document: every node
// beneath top moves to the module's own document, and those Python holds leave the tree.
void ReleaseOwnedTree(lumora::GeListNode* top);

// A whole Scene through the conversion library (bind_convert.cpp, built with it only): written
// in an Assimp format (the report's lines returned), or its content replaced by a foreign
// file's (the report's lines appended to report when it is a list). FileError on failure.
py::list ExportWholeScene(const lumora::Scene& scene, py::handle path, py::object format,
                          bool triangulate);
void ImportWholeScene(lumora::Scene& scene, py::handle path, py::object report, bool triangulate);

// Whether Python holds a wrapper of node.
bool IsWrapped(lumora::GeListNode* node);

// A node that is part of another node rather than a member of a list (a track's curves) is
// freed with that node, never by its wrapper: a family says so with a part rule. Its wrappers
// keep the owning node's wrapper alive (return_value_policy::reference_internal).
using PartRule = bool (*)(lumora::GeListNode* node);
void AddPartRule(PartRule rule);

// Nodes go to Python as the most derived class registered for them, also when their own class
// is the application's (a spline object of the application's object list is a PointObject
// there). Each node class is registered after its base classes.
using NodeCast = const void* (*)(const lumora::GeListNode* node);
void AddNodeClass(const std::type_info& type, NodeCast cast);
template <typename T>
void AddNodeClass() {
  AddNodeClass(typeid(T), [](const lumora::GeListNode* node) -> const void* {
    return dynamic_cast<const T*>(node);
  });
}
// The most derived registered class of node in type (null: none) and node as that class.
const void* MostDerivedNode(const lumora::GeListNode* node, const std::type_info*& type);

// Reads one node (or list of nodes) stored with WriteObject from hf, links between its nodes
// reconnected. With trans (the file's translation, shared by all its reads and resolved when the
// file closes) links into nodes read before or after from the same file reconnect too; without,
// the read has a translation of its own. False when the read fails (the stream's error says why).
bool ReadNodeFrom(lumora::HyperFile* hf, lumora::PrivateChunk* node,
                  lumora::AliasTrans* trans = nullptr);

// ---- registration ----

void RegisterStream(py::module_& m);
void RegisterValues(py::module_& m);
void RegisterNodes(py::module_& m);
void RegisterThumbnail(py::module_& m);
void RegisterObjects(py::module_& m);
void RegisterTags(py::module_& m);
void RegisterAnimation(py::module_& m);
void RegisterLights(py::module_& m);
void RegisterDump(py::module_& m);
void RegisterScene(py::module_& m);
void RegisterConvert(py::module_& m);

}  // namespace lumpy

PYBIND11_DECLARE_HOLDER_TYPE(T, lumpy::NodeHolder<T>, true)

namespace pybind11 {
template <typename T>
struct polymorphic_type_hook<T, std::enable_if_t<std::is_base_of<lumora::GeListNode, T>::value>> {
  static const void* get(const T* src, const std::type_info*& type) {
    return lumpy::MostDerivedNode(src, type);
  }
};
}  // namespace pybind11

#endif  // LUM_PY_H
