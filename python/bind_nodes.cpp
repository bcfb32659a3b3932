// The node tree in Python: GeListNode, BaseList2D with its container and hierarchy, the list
// heads (RootList2D), plug-in nodes and their lists, and reading and writing nodes and lists.
//
// The ownership rule is in lum_py.h. Insertions must be of the family the list holds (a plug-in
// node's children are plug-in nodes; TypeError otherwise); what the library refuses (a node in a
// list already, a place beneath the node itself, beside a node in no list) is ValueError.
#include <string>
#include <unordered_map>
#include <vector>

#include "lum_py.h"

namespace lumpy {

using namespace lumora;

namespace {

// Live wrappers per node.
std::unordered_map<GeListNode*, int>& Wrapped() {
  static auto* wrapped = new std::unordered_map<GeListNode*, int>();
  return *wrapped;
}

std::vector<NodeListWalker>& Walkers() {
  static auto* walkers = new std::vector<NodeListWalker>();
  return *walkers;
}

std::vector<PartRule>& PartRules() {
  static auto* rules = new std::vector<PartRule>();
  return *rules;
}

struct NodeClass {
  const std::type_info* type;
  NodeCast cast;
};
std::vector<NodeClass>& NodeClasses() {
  static auto* classes = new std::vector<NodeClass>();
  return *classes;
}

bool IsPart(GeListNode* node) {
  for (PartRule rule : PartRules())
    if (rule(node)) return true;
  return false;
}

// The lists beneath a node wait here while a tree is walked, so that the walk needs no
// recursion however deep the tree is; walkers of the families push through PushList.
std::vector<RootList2D*>* g_pendingLists = nullptr;

void PushList(RootList2D* list) {
  if (list != nullptr) g_pendingLists->push_back(list);
}

// Pushes the lists node holds: its members when it is a list head, its children, its attached
// lists and those the families' walkers name.
void PushListsOf(GeListNode* node) {
  if (node->IsListHead()) PushList(static_cast<RootList2D*>(node));
  PushList(node->GetChildren());
  if (node->IsBaseList()) {
    BaseList2D* named = static_cast<BaseList2D*>(node);
    for (Int32 i = 0; i < ATTACHEDLIST_COUNT; ++i)
      PushList(named->GetAttachedList(ATTACHEDLIST(i), false));
  }
  for (NodeListWalker walker : Walkers()) walker(node, &PushList);
}

// Calls visit(member) for every member of every list beneath top, one list at a time; visit
// says whether to go on beneath that member.
template <class Visit>
void WalkBeneath(GeListNode* top, Visit visit) {
  std::vector<RootList2D*> pending;
  std::vector<RootList2D*>* outer = g_pendingLists;
  g_pendingLists = &pending;
  PushListsOf(top);
  while (!pending.empty()) {
    RootList2D* list = pending.back();
    pending.pop_back();
    GeListNode* member = list->GetFirst();
    while (member != nullptr) {
      GeListNode* next = member->GetNext();
      if (visit(member)) PushListsOf(member);
      member = next;
    }
  }
  g_pendingLists = outer;
}

// Before node is freed: every node beneath it that Python holds leaves the tree (the nodes
// beneath such a node stay with it).
void DetachWrapped(GeListNode* node) {
  WalkBeneath(node, [](GeListNode* member) {
    if (!IsWrapped(member)) return true;
    member->Remove();
    return false;
  });
}

// node and every node beneath it belong to doc from now on.
void RehomeTree(GeListNode* node, BaseDocument* doc) {
  node->SetDocument(doc);
  WalkBeneath(node, [doc](GeListNode* member) {
    member->SetDocument(doc);
    return true;
  });
}

// Whether the library frees node itself: a member of a list, or a list a node owns.
bool OwnedByTree(GeListNode* node) {
  if (node->GetListHead() != nullptr) return true;
  return node->IsListHead() && static_cast<RootList2D*>(node)->GetOwner() != nullptr;
}

BaseDocument& ReadingDocument() {
  // The document of every read: one lives as long as the module.
  static auto* document = new BaseDocument();
  return *document;
}

// ---- insertion checks ----

std::vector<MembershipRule>& Rules() {
  static auto* rules = new std::vector<MembershipRule>();
  return *rules;
}

// Whether container (a parent node or a list head) takes child: some family says so.
bool Accepts(GeListNode* container, GeListNode* child) {
  for (MembershipRule rule : Rules())
    if (rule(container, child)) return true;
  return false;
}

bool PluginNodesTakePluginNodes(GeListNode* container, GeListNode* child) {
  const bool pluginContainer = dynamic_cast<PluginNode*>(container) != nullptr ||
                               dynamic_cast<RootPluginNode*>(container) != nullptr;
  return pluginContainer && dynamic_cast<PluginNode*>(child) != nullptr;
}

// The library refused to insert node: ValueError saying why.
[[noreturn]] void Refused(GeListNode* node) {
  if (node->IsInList()) throw py::value_error("the node is in a list already: remove() it first");
  throw py::value_error("a node cannot go beneath itself, nor beside a node in no list");
}

void CheckFamily(GeListNode* container, GeListNode* child) {
  if (!Accepts(container, child))
    throw py::type_error("this list does not hold nodes of that kind");
}

void InsertUnder(BaseList2D* node, BaseList2D* parent, bool last) {
  if (parent->GetChildren() == nullptr) throw py::type_error("the parent has no children");
  CheckFamily(parent, node);
  if (!(last ? node->InsertUnderLast(parent) : node->InsertUnder(parent))) Refused(node);
}

void InsertBeside(BaseList2D* node, BaseList2D* other, bool before) {
  GeListNode* up = other->GetUp();
  GeListNode* container = up != nullptr ? up : static_cast<GeListNode*>(other->GetListHead());
  if (container != nullptr) CheckFamily(container, node);
  if (!(before ? node->InsertBefore(other) : node->InsertAfter(other))) Refused(node);
}

void InsertInList(RootList2D* list, BaseList2D* node, BaseList2D* pred) {
  CheckFamily(list, node);
  if (pred != nullptr && pred->GetListHead() != list)
    throw py::value_error("the predecessor is not in this list");
  if (!list->InsertAfter(node, pred)) Refused(node);
}

py::list Members(RootList2D* list) {
  py::list out;
  if (list == nullptr) return out;
  for (GeListNode* m = list->GetFirst(); m != nullptr; m = m->GetNext())
    out.append(py::cast(static_cast<BaseList2D*>(m), py::return_value_policy::reference));
  return out;
}

BaseList2D* AsNamed(GeListNode* node) {
  return node != nullptr && node->IsBaseList() ? static_cast<BaseList2D*>(node) : nullptr;
}

// The file's bytes for one node or list: a chunk with id, the node's chunks inside.
void WriteNodeTo(py::handle hf, GeListNode* node, Int32 id) {
  py::object write = hf.attr("_write_object");
  write(py::cast(node, py::return_value_policy::reference), id);
}

template <typename T>
T* Allocated(T* node) {
  if (node == nullptr) throw std::bad_alloc();
  return node;
}

void BindGeListNode(py::module_& m) {
  py::class_<GeListNode, NodeHolder<GeListNode>>(m, "GeListNode", "A node of the scene tree.")
      .def_property_readonly("type", &GeListNode::GetType)
      .def("is_instance_of", &GeListNode::IsInstanceOf)
      .def_property_readonly(
          "next", [](GeListNode& n) { return AsNamed(n.GetNext()); },
          py::return_value_policy::reference)
      .def_property_readonly(
          "pred", [](GeListNode& n) { return AsNamed(n.GetPred()); },
          py::return_value_policy::reference)
      .def_property_readonly(
          "parent", [](GeListNode& n) { return AsNamed(n.GetUp()); },
          py::return_value_policy::reference)
      .def_property_readonly(
          "down", [](GeListNode& n) { return AsNamed(n.GetDown()); },
          py::return_value_policy::reference)
      .def_property_readonly("children", [](GeListNode& n) { return Members(n.GetChildren()); })
      .def_property_readonly("in_list", [](GeListNode& n) { return n.GetListHead() != nullptr; })
      .def("get_nbit", &GeListNode::GetNBit)
      .def("change_nbit", &GeListNode::ChangeNBit, py::arg("bit"), py::arg("control"))
      .def(
          "remove", [](GeListNode& n) { n.Remove(); },
          "Takes the node out of its list; from then on it belongs to Python.")
      .def(
          "write", [](GeListNode& n, py::handle hf, Int32 id) { WriteNodeTo(hf, &n, id); },
          py::arg("hf"), py::arg("id") = 1,
          "Writes the node (a list: every member) as one chunk with this id.");
  m.attr("NBITCONTROL_SET") = Int32(NBITCONTROL_SET);
  m.attr("NBITCONTROL_CLEAR") = Int32(NBITCONTROL_CLEAR);
  m.attr("NBITCONTROL_TOGGLE") = Int32(NBITCONTROL_TOGGLE);
}

// The kind a parameter holds now decides what it takes: an int for a float parameter is
// converted, another kind is refused, so that a wrong value never vanishes silently.
bool SetParameterChecked(BaseList2D& n, py::handle id, py::handle value) {
  const DescID descId = ToDescID(id);
  GeData value2 = PythonToGeData(value);
  GeData now;
  if (n.GetDParameter(descId, now) && now.GetType() != VALUETYPE_NIL &&
      now.GetType() != value2.GetType()) {
    if (now.GetType() == VALUETYPE_FLOAT && value2.GetType() == VALUETYPE_INT32) {
      value2 = GeData(Float64(value2.GetInt32()));
    } else if (!(now.GetType() == VALUETYPE_INT32 && py::isinstance<py::bool_>(value))) {
      throw py::type_error("parameter " + std::string(py::str(id)) + " holds a value of kind " +
                           std::to_string(now.GetType()) + ", not " +
                           std::string(py::str(py::type::of(value).attr("__name__"))));
    }
  }
  return n.SetDParameter(descId, value2);
}

void BindBaseList2D(py::module_& m) {
  py::class_<BaseList2D, NodeHolder<BaseList2D>, GeListNode>(
      m, "BaseList2D", "A named node: type, name, parameter container, bits and hierarchy.")
      .def(py::init([](Int32 type) { return Allocated(NewObj<BaseList2D>(type)); }),
           py::arg("type") = 0)
      .def_property(
          "name", [](const BaseList2D& n) { return ToPython(n.GetName()); },
          [](BaseList2D& n, py::handle name) { n.SetName(ToString(name)); })
      .def_property_readonly(
          "data", [](BaseList2D& n) { return n.GetDataInstance(); },
          py::return_value_policy::reference_internal,
          "The node's parameter container itself (changes go to the node).")
      .def_property("bits", &BaseList2D::GetAllBits, &BaseList2D::SetAllBits)
      .def_property(
          "link", [](const BaseList2D& n) { return n.GetNodeLink().GetLink(); },
          [](BaseList2D& n, BaseList2D* target) { n.GetNodeLink().SetLink(target); },
          py::return_value_policy::reference, "The node's link parameter (a node or None).")
      .def("get_parameter",
           [](BaseList2D& n, py::handle id) {
             GeData out;
             n.GetDParameter(ToDescID(id), out);
             return GeDataToPython(out);
           })
      .def("set_parameter", &SetParameterChecked,
           "Sets a parameter. A value of another kind than the parameter holds (a string for a "
           "float, say) is refused with TypeError; an int is taken for a float.")
      .def(
          "insert_under", [](BaseList2D& n, BaseList2D& p) { InsertUnder(&n, &p, false); },
          "First child of parent.")
      .def(
          "insert_under_last", [](BaseList2D& n, BaseList2D& p) { InsertUnder(&n, &p, true); },
          "Last child of parent.")
      .def("insert_before", [](BaseList2D& n, BaseList2D& o) { InsertBeside(&n, &o, true); })
      .def("insert_after", [](BaseList2D& n, BaseList2D& o) { InsertBeside(&n, &o, false); })
      .def(
          "copy",
          [](BaseList2D& n) {
            GeListNode* clone = n.GetClone(COPYFLAGS_NONE, nullptr);
            if (clone == nullptr) throw py::type_error("this node cannot be copied");
            return static_cast<BaseList2D*>(clone);
          },
          py::return_value_policy::take_ownership, "A copy of the node and its children.")
      .def("__iter__", [](BaseList2D& n) { return py::iter(Members(n.GetChildren())); })
      .def("__repr__", [](BaseList2D& n) {
        py::object self = py::cast(&n, py::return_value_policy::reference);
        return "<" + std::string(py::str(self.get_type().attr("__name__"))) + " " +
               std::string(py::repr(ToPython(n.GetName()))) + " type " +
               std::to_string(n.GetType()) + ">";
      });
}

void BindLists(py::module_& m) {
  py::class_<RootList2D, NodeHolder<RootList2D>, GeListNode>(m, "RootList2D", "A list of nodes.")
      .def("__len__", &RootList2D::GetCount)
      .def("__iter__", [](RootList2D& l) { return py::iter(Members(&l)); })
      .def(
          "__getitem__",
          [](RootList2D& l, Int32 i) {
            const Int32 n = l.GetCount();
            if (i < -n || i >= n) throw py::index_error();
            if (i < 0) i += n;
            GeListNode* m = l.GetFirst();
            while (i-- > 0) m = m->GetNext();
            return static_cast<BaseList2D*>(m);
          },
          py::return_value_policy::reference)
      .def_property_readonly(
          "first", [](RootList2D& l) { return AsNamed(l.GetFirst()); },
          py::return_value_policy::reference)
      .def_property_readonly(
          "last", [](RootList2D& l) { return AsNamed(l.GetLast()); },
          py::return_value_policy::reference)
      .def("append",
           [](RootList2D& l, BaseList2D& n) { InsertInList(&l, &n, AsNamed(l.GetLast())); })
      .def(
          "insert",
          [](RootList2D& l, BaseList2D& n, BaseList2D* pred) { InsertInList(&l, &n, pred); },
          py::arg("node"), py::arg("pred") = nullptr,
          "After pred, or at the front when pred is None.");

  py::class_<PluginNode, NodeHolder<PluginNode>, BaseList2D>(
      m, "PluginNode", "A node with plug-in data slots and plug-in node children.")
      .def(py::init([](Int32 type, bool slot) {
             PluginNode* n = Allocated(PluginNode::Alloc(type));
             if (slot) {
               bool known = false;
               if (!n->AddSlot()) {
                 PluginNode::Free(n);
                 throw std::bad_alloc();
               }
               n->ValidateNth(0, type, known);
             }
             return n;
           }),
           py::arg("type"), py::arg("slot") = true,
           "A plug-in node of that type, with one data slot of it unless slot is False.")
      .def_property_readonly("slot_count", &PluginNode::GetSlotCount)
      .def_property_readonly("plugin_type", &PluginNode::GetPluginType)
      .def_static(
          "read",
          [](py::handle hf) {
            PluginNode* n = Allocated(PluginNode::Alloc(0));
            py::object owner = py::cast(n, py::return_value_policy::take_ownership);
            hf.attr("_read_object")(owner);
            return owner;
          },
          "Reads one plug-in node written by write().");

  py::class_<RootPluginNode, NodeHolder<RootPluginNode>, RootList2D>(m, "RootPluginNode",
                                                                     "A list of plug-in nodes.")
      .def(py::init([] { return Allocated(RootPluginNode::Alloc()); }))
      .def_static(
          "read",
          [](py::handle hf) {
            RootPluginNode* l = Allocated(RootPluginNode::Alloc());
            py::object owner = py::cast(l, py::return_value_policy::take_ownership);
            hf.attr("_read_object")(owner);
            return owner;
          },
          "Reads a list written by write().");
}

}  // namespace

void NodeWrapped(GeListNode* node) {
  if (node != nullptr) ++Wrapped()[node];
}

void NodeReleased(GeListNode* node) {
  auto it = Wrapped().find(node);
  if (it == Wrapped().end()) return;
  if (--it->second > 0) return;
  Wrapped().erase(it);
  if (OwnedByTree(node) || IsPart(node)) return;
  DetachWrapped(node);
  DeleteObj(node);
}

bool IsWrapped(GeListNode* node) { return Wrapped().count(node) != 0; }

void AddPartRule(PartRule rule) { PartRules().push_back(rule); }

void AddNodeClass(const std::type_info& type, NodeCast cast) {
  NodeClasses().push_back(NodeClass{&type, cast});
}

const void* MostDerivedNode(const GeListNode* node, const std::type_info*& type) {
  type = nullptr;
  if (node == nullptr) return nullptr;
  type = &typeid(*node);
  if (py::detail::get_type_info(*type) != nullptr) return dynamic_cast<const void*>(node);
  // Later classes derive from earlier ones: the last that node is an instance of is the most
  // derived.
  const auto& classes = NodeClasses();
  for (auto it = classes.rbegin(); it != classes.rend(); ++it) {
    if (const void* cast = it->cast(node)) {
      type = it->type;
      return cast;
    }
  }
  type = nullptr;
  return node;
}

void AddNodeListWalker(NodeListWalker walker) { Walkers().push_back(walker); }

void AddMembershipRule(MembershipRule rule) { Rules().push_back(rule); }

void ReleaseOwnedTree(GeListNode* top) {
  RehomeTree(top, &ReadingDocument());
  DetachWrapped(top);
}

bool ReadNodeFrom(HyperFile* hf, PrivateChunk* node, AliasTrans* shared) {
  // A list read into is flushed first: the members Python holds leave it beforehand.
  if (auto* listNode = dynamic_cast<GeListNode*>(node)) DetachWrapped(listNode);
  AliasTrans own;
  AliasTrans* trans = shared;
  if (trans == nullptr) {
    if (!own.Init()) throw std::bad_alloc();
    trans = &own;
  }
  BaseDocument& doc = ReadingDocument();
  doc.SetAliasTrans(trans);
  BaseDocument* before = hf->GetDocument();
  hf->SetDocument(&doc);
  const bool ok = node->ReadObject(hf, true);
  if (trans == &own) trans->Zap(true);
  doc.SetAliasTrans(nullptr);
  hf->SetDocument(before);
  return ok && hf->GetError() == FILEERROR_NONE;
}

void RegisterNodes(py::module_& m) {
  AddMembershipRule(&PluginNodesTakePluginNodes);
  AddNodeClass<GeListNode>();
  AddNodeClass<BaseList2D>();
  AddNodeClass<RootList2D>();
  AddNodeClass<PluginNode>();
  AddNodeClass<RootPluginNode>();
  BindGeListNode(m);
  BindBaseList2D(m);
  BindLists(m);
}

}  // namespace lumpy
