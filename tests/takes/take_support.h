// A scene with a take tree for the take suites and the sweeps: a document with its take-system
// hook, cameras and render settings, a main take with children on three levels, overrides of
// one node by three of them, an override group, and writing and reading all of it as one
// stream with one alias translation.
#ifndef LUMORA_TAKE_SUPPORT_H
#define LUMORA_TAKE_SUPPORT_H

#include <vector>

#include "lumora.h"
#include "stream_support.h"

namespace taketest {

using namespace lumora;
using Bytes = std::vector<unsigned char>;

constexpr Int32 kTypeCamera = 5103;
constexpr Int32 kTypeRenderData = 110304;
constexpr Int32 kTypeNode = 5155;
// The overridden parameters: a plain one and the y component of a vector.
inline DescID ParamP() { return DescID(1000); }
inline DescID ParamQy() { return DescID(DescLevel(1100, DTYPE_VECTOR, 0), DescLevel(VECTOR_Y)); }

// A new named node of type (from NewObj).
inline BaseList2D* NewNode(Int32 type, const char* name) {
  BaseList2D* n = NewObj<BaseList2D>(type);
  if (n != nullptr) n->SetName(String(name));
  return n;
}

// A new take under parent (last child), named.
inline BaseTake* NewTake(BaseTake* parent, const char* name) {
  BaseTake* t = BaseTake::Alloc();
  if (t == nullptr) return nullptr;
  t->GetNode()->SetName(String(name));
  t->GetNode()->InsertUnderLast(parent->GetNode());
  return t;
}

// A group node in take's group list whose member list holds member.
inline bool AddGroup(BaseTake* take, BaseList2D* member) {
  PluginNode* g = PluginNode::Alloc(TYPE_OVERRIDEGROUP);
  if (g == nullptr) return false;
  bool known = true;
  if (g->AddSlot()) g->ValidateNth(0, TYPE_OVERRIDEGROUP, known);
  InExcludeData* list = InExcludeData::From(g->GetDataInstance()->GetCustomDataType(
      OVERRIDEGROUP_MEMBERS, CUSTOMDATATYPE_INEXCLUDE_LIST));
  g->SetName(String("Group"));
  take->GetTakeData()->GetGroups()->InsertLast(g);
  return list != nullptr && list->InsertObject(member, 3);
}

// main > a > b > c, main > d. Overrides of node: by main (P), a (P, Qy, every link) and b (P);
// of other: by d (P). Cameras cam0, cam1 in the hook, an editor camera; render settings rd0,
// rd1 in the document and the hook. a takes cam0, d cam1, b rd1; a has a group holding its
// override and an eighth folder.
struct TakeScene {
  BaseDocument doc;
  TakeSystemHook* hook = nullptr;
  TakeData* td = nullptr;
  BaseTake *main = nullptr, *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;
  BaseList2D *cam0 = nullptr, *cam1 = nullptr, *editorCam = nullptr;
  BaseList2D *rd0 = nullptr, *rd1 = nullptr;
  BaseList2D *node = nullptr, *other = nullptr;
  BaseOverride *ovMain = nullptr, *ovA = nullptr, *ovB = nullptr, *ovD = nullptr;
  bool ok = false;

  TakeScene() { ok = Build(); }
  ~TakeScene() {
    for (BaseList2D* n : {cam0, cam1, editorCam, node, other}) DeleteObj(n);
  }
  TakeScene(const TakeScene&) = delete;
  TakeScene& operator=(const TakeScene&) = delete;

  bool Build() {
    cam0 = NewNode(kTypeCamera, "cam0");
    cam1 = NewNode(kTypeCamera, "cam1");
    editorCam = NewNode(kTypeCamera, "editor");
    node = NewNode(kTypeNode, "node");
    other = NewNode(kTypeNode, "other");
    rd0 = NewNode(kTypeRenderData, "rd0");
    rd1 = NewNode(kTypeRenderData, "rd1");
    if (!cam0 || !cam1 || !editorCam || !node || !other || !rd0 || !rd1) return false;
    for (BaseList2D* n : {cam0, cam1, editorCam, node, other}) n->SetDocument(&doc);
    doc.InsertRenderDataLast(rd0);
    doc.InsertRenderDataLast(rd1);
    doc.GetRenderBaseDraw()->SetEditorCamera(editorCam);
    hook = TakeSystemHook::Alloc(&doc);
    if (hook == nullptr) return false;
    td = doc.GetTakeData();
    main = hook->GetMainTake();
    a = NewTake(main, "a");
    b = a ? NewTake(a, "b") : nullptr;
    c = b ? NewTake(b, "c") : nullptr;
    d = NewTake(main, "d");
    if (!td || !main || !a || !b || !c || !d) return false;
    if (!hook->AddCamera(cam0) || !hook->AddCamera(cam1) || !hook->AddRenderData(rd0) ||
        !hook->AddRenderData(rd1))
      return false;
    ovMain = main->GetTakeData()->AddOverride(node);
    ovA = a->GetTakeData()->AddOverride(node);
    ovB = b->GetTakeData()->AddOverride(node);
    ovD = d->GetTakeData()->AddOverride(other);
    if (!ovMain || !ovA || !ovB || !ovD) return false;
    BaseOverrideData* da = ovA->GetOverrideData();
    if (!ovMain->GetOverrideData()->AddOverriddenParam(ParamP()) ||
        !da->AddOverriddenParam(ParamP()) ||
        !da->AddEntry(DescID(1100), ParamQy(), 7, DescID(DescLevel(1100, 23, 0))) ||
        !ovB->GetOverrideData()->AddOverriddenParam(ParamP()) ||
        !ovD->GetOverrideData()->AddOverriddenParam(ParamP()))
      return false;
    da->GetSecondLink().SetLink(node);
    da->GetThirdLink().SetLink(cam0);
    if (!da->AddArrayLink(cam1) || !da->AddArrayLink(other)) return false;
    // An eighth folder, so that folders read from a file differ from a new take's.
    return a->GetTakeData()->AddFolder(TAKEFOLDER_OTHER) != nullptr &&
           a->GetTakeData()->SetCamera(td, cam0) && d->GetTakeData()->SetCamera(td, cam1) &&
           b->GetTakeData()->SetRenderData(td, rd1) && AddGroup(a, ovA->GetNode());
  }

  // What a scene file holds, in order (the take tree last).
  std::vector<PrivateChunk*> Roots() {
    return {cam0, cam1, editorCam, rd0, rd1, node, other, hook->GetTakeList()};
  }
};

// Stand-ins of the same kinds for reading a scene back into.
struct SceneSkeleton {
  BaseList2D cam0{kTypeCamera}, cam1{kTypeCamera}, editorCam{kTypeCamera};
  BaseList2D rd0{kTypeRenderData}, rd1{kTypeRenderData};
  BaseList2D node{kTypeNode}, other{kTypeNode};
  RootPluginNode takes;
  std::vector<PrivateChunk*> Roots() {
    return {&cam0, &cam1, &editorCam, &rd0, &rd1, &node, &other, &takes};
  }
};

inline Bytes WriteRoots(const std::vector<PrivateChunk*>& roots) {
  lumtest::MemWriter w;
  for (PrivateChunk* r : roots)
    if (!r->WriteObject(&w.hf, 1)) return Bytes();
  return w.FinishUnchecked();
}

// Reads roots in order through doc with one alias translation, so that links between them
// reconnect.
inline bool ReadRoots(const Bytes& bytes, const std::vector<PrivateChunk*>& roots,
                      BaseDocument* doc) {
  lumtest::MemReader r(bytes);
  AliasTrans trans;
  if (!trans.Init()) return false;
  doc->SetAliasTrans(&trans);
  r.hf.SetDocument(doc);
  bool ok = true;
  for (PrivateChunk* root : roots) ok = ok && root->ReadObject(&r.hf, true);
  trans.Zap(false);
  doc->SetAliasTrans(nullptr);
  return ok && r.hf.GetError() == FILEERROR_NONE;
}

}  // namespace taketest

#endif  // LUMORA_TAKE_SUPPORT_H
