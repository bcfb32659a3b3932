// BaseTakeData, TakeFolderData and OverrideGroupData (see lum_basetakedata.h).
#include "takes/lum_basetakedata.h"

#include "lum_memory.h"
#include "scene/lum_basedocument.h"
#include "stream/lum_hyperfile.h"
#include "takes/lum_baseoverridedata.h"
#include "takes/lum_takesystemhook.h"

namespace lumora {

namespace {

constexpr Int32 kGroupListChunk = 431000075;

struct FolderKind {
  const char* name;
  Int32 nodeType;
};
// Kinds 0 to 6; any other kind has an empty name and node type -1.
constexpr FolderKind kFolderKinds[] = {
    {"None", 0},        {"Object", 5155},     {"Tag", 5694}, {"Shader", 5707},
    {"Material", 5702}, {"Layer", 100004801}, {"Other", -1},
};

// A container value holding an empty include/exclude list, stored under id. False when out of
// memory.
bool SetEmptyInExclude(BaseContainer* bc, Int32 id) {
  GeData list(CUSTOMDATATYPE_INEXCLUDE_LIST, DEFAULTVALUE);
  return list.GetType() == CUSTOMDATATYPE_INEXCLUDE_LIST && bc->SetData(id, list) != nullptr;
}

// Stores a link to node under id (null removes the entry). False when out of memory.
bool SetLinkEntry(BaseContainer* bc, Int32 id, BaseList2D* node) {
  if (node == nullptr) {
    bc->RemoveData(id);
    return true;
  }
  BaseLink link;
  if (!link.XSetLink(node->GetAliasGoal())) return false;
  GeData value(link);
  return value.GetType() == VALUETYPE_LINK && bc->SetData(id, value) != nullptr;
}

}  // namespace

// ---- OverrideGroupData ----

bool OverrideGroupData::Init() {
  BaseList2D* node = GetNode();
  return node != nullptr && SetEmptyInExclude(node->GetDataInstance(), OVERRIDEGROUP_MEMBERS);
}

bool OverrideGroupData::Read(HyperFile* hf, Int32 id, Int32 level) {
  _read = true;
  return RawNodeData::Read(hf, id, level);
}

bool OverrideGroupData::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  if (!static_cast<NodeData*>(dest)->IsInstanceOf(TYPE_OVERRIDEGROUP)) return false;
  static_cast<OverrideGroupData*>(dest)->_read = _read;
  return RawNodeData::CopyToX(dest, flags, trans);
}

// ---- BaseTakeData: life ----

BaseTakeData::BaseTakeData() : _take(this) {}

BaseTakeData::~BaseTakeData() {
  DeleteObj(_folders);
  DeleteObj(_groups);
}

bool BaseTakeData::MakeLists() {
  // Made on each call: a static string would be memory the library never gives back.
  const String kFolderName("Override Folders");
  const String kGroupName("Override Groups");
  if (_folders == nullptr) _folders = NewObj<TakeNodeList>();
  if (_groups == nullptr) _groups = NewObj<TakeNodeList>();
  if (_folders == nullptr || _groups == nullptr) return false;
  _folders->SetOwner(GetNode());
  _groups->SetOwner(GetNode());
  _folders->SetName(kFolderName);
  _groups->SetName(kGroupName);
  return _folders->GetName().GetLength() == kFolderName.GetLength() &&
         _groups->GetName().GetLength() == kGroupName.GetLength();
}

bool BaseTakeData::Init() {
  BaseList2D* node = GetNode();
  if (node == nullptr || !SetEmptyInExclude(node->GetDataInstance(), TAKE_OVERRIDES) ||
      !MakeLists()) {
    return false;
  }
  _folders->FlushAll();
  _groups->FlushAll();
  for (Int32 kind = TAKEFOLDER_NONE; kind <= TAKEFOLDER_OTHER; ++kind)
    if (AddFolder(kind) == nullptr) return false;
  return true;
}

BaseDocument* BaseTakeData::GetDocument() const {
  return GetNode() != nullptr ? GetNode()->GetDocument() : nullptr;
}

InExcludeData* BaseTakeData::GetOverrideList() const {
  if (GetNode() == nullptr) return nullptr;
  return InExcludeData::From(GetNode()->GetDataInstance()->GetCustomDataType(
      TAKE_OVERRIDES, CUSTOMDATATYPE_INEXCLUDE_LIST));
}

// ---- folders ----

PluginNode* BaseTakeData::AddFolder(Int32 kind) {
  if (!MakeLists()) return nullptr;
  PluginNode* folder = PluginNode::Alloc(TYPE_TAKEFOLDER);
  if (folder == nullptr) return nullptr;
  bool known = true;
  if (folder->AddSlot()) folder->ValidateNth(0, TYPE_TAKEFOLDER, known);
  const bool listed = kind >= 0 && kind < Int32(sizeof kFolderKinds / sizeof kFolderKinds[0]);
  const String name(listed ? kFolderKinds[kind].name : "");
  folder->SetName(name);
  BaseContainer* bc = folder->GetDataInstance();
  if (folder->GetNthData(0) == nullptr || folder->GetName().GetLength() != name.GetLength() ||
      !bc->SetInt32(TAKEFOLDER_KIND, kind) ||
      !bc->SetInt32(TAKEFOLDER_NODETYPE, listed ? kFolderKinds[kind].nodeType : -1)) {
    PluginNode::Free(folder);
    return nullptr;
  }
  if (kind == TAKEFOLDER_NONE) {
    _folders->InsertLast(folder);
    folder->SetDocument(GetDocument());
    return folder;
  }
  GeListNode* none = _folders->GetFirst();
  while (none != nullptr &&
         static_cast<BaseList2D*>(none)->GetDataInstance()->GetInt32(TAKEFOLDER_KIND, -1) != 0)
    none = none->GetNext();
  if (none == nullptr) none = AddFolder(TAKEFOLDER_NONE);
  if (none == nullptr) {
    PluginNode::Free(folder);
    return nullptr;
  }
  folder->InsertUnder(none);
  return folder;
}

// ---- file form and copies ----

bool BaseTakeData::Read(HyperFile* hf, Int32, Int32 level) {
  bool main = false;
  if (!hf->ReadBool(&main)) return false;
  _main = main;
  if (level < 1) return true;
  if (!MakeLists()) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  return _folders->ReadObject(hf, true) && _groups->ReadObject(hf, true);
}

bool BaseTakeData::Write(HyperFile* hf) {
  TakeNodeList empty;
  TakeNodeList* folders = _folders != nullptr ? _folders : &empty;
  TakeNodeList* groups = _groups != nullptr ? _groups : &empty;
  return hf->WriteBool(_main) && folders->WriteObject(hf, 0) &&
         groups->WriteObject(hf, kGroupListChunk);
}

bool BaseTakeData::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  if (!static_cast<NodeData*>(dest)->IsInstanceOf(TYPE_TAKE)) return false;
  BaseTakeData* d = static_cast<BaseTakeData*>(dest);
  if (d == this) return true;
  d->_main = _main;
  if (!MakeLists() || !d->MakeLists()) return false;
  return _folders->CopyTo(d->_folders, flags, trans) && _groups->CopyTo(d->_groups, flags, trans);
}

// ---- camera and render settings ----

bool BaseTakeData::GetDParameter(const DescID& id, GeData& out) {
  const Int32 which = id[0].id;
  if (which != TAKE_CAMERA && which != TAKE_RENDERDATA) return NodeData::GetDParameter(id, out);
  BaseDocument* doc = GetDocument();
  if (doc == nullptr) return false;
  TakeSystemHook* hook = TakeSystemHook::Find(doc);
  const BaseContainer* bc = GetNode()->GetDataInstance();
  if (which == TAKE_CAMERA) {
    BaseList2D* camera = bc->GetLink(TAKE_CAMERA_LINK);
    Int32 index = hook != nullptr ? hook->FindCamera(camera) : -1;
    if (camera == nullptr) {
      out = GeData(Int32(0));
    } else if (camera == doc->GetRenderBaseDraw()->GetEditorCamera()) {
      out = GeData(Int32(1));
    } else if (index >= 0) {
      out = GeData(index + 2);
    }
    return true;
  }
  BaseList2D* rd = bc->GetLink(TAKE_RENDERDATA_LINK);
  Int32 index = hook != nullptr ? hook->FindRenderData(rd) : -1;
  if (rd == nullptr) {
    out = GeData(Int32(0));
  } else if (index >= 0) {
    out = GeData(index + 1);
  }
  return true;
}

bool BaseTakeData::SetDParameter(const DescID& id, const GeData& value) {
  const Int32 which = id[0].id;
  if (which != TAKE_CAMERA && which != TAKE_RENDERDATA) return NodeData::SetDParameter(id, value);
  BaseDocument* doc = GetDocument();
  if (doc == nullptr) return false;
  TakeSystemHook* hook = TakeSystemHook::Find(doc);
  TakeData* takeData = doc->GetTakeData();
  const Int32 choice = value.GetInt32();
  if (which == TAKE_CAMERA) {
    if (choice == 0) return SetCamera(takeData, nullptr);
    if (choice == 1) return SetCamera(takeData, doc->GetRenderBaseDraw()->GetEditorCamera());
    if (hook != nullptr && choice >= 2 && choice - 2 < hook->GetCameraCount())
      return SetCamera(takeData, hook->GetCamera(choice - 2));
    return true;
  }
  if (choice == 0) return SetRenderData(takeData, nullptr);
  if (hook != nullptr && choice >= 1 && choice - 1 < hook->GetRenderDataCount())
    return SetRenderData(takeData, hook->GetRenderData(choice - 1));
  return true;
}

void BaseTakeData::Propagate(TakeData* takeData, bool camera) {
  if (takeData == nullptr || takeData->GetDocument() == nullptr) return;
  BaseTake* current = takeData->GetCurrentTake();
  if (current == nullptr || !current->SearchHierarchy(&_take)) return;
  // The current take's own choice wins over its ancestors': the walk starts there, not here.
  BaseList2D* found = nullptr;
  for (BaseTake* t = current; t != nullptr && found == nullptr; t = t->GetUp()) {
    found = camera ? t->GetCamera(takeData) : t->GetRenderData(takeData);
    if (t->IsMain()) break;
  }
  BaseDocument* doc = takeData->GetDocument();
  if (camera) {
    BaseDraw* view = doc->GetRenderBaseDraw();
    view->SetSceneCamera(found == view->GetEditorCamera() ? nullptr : found);
  } else {
    doc->SetActiveRenderData(found != nullptr ? found : doc->GetFirstRenderData());
  }
}

bool BaseTakeData::SetCamera(TakeData* takeData, BaseList2D* camera) {
  if (GetNode() == nullptr ||
      !SetLinkEntry(GetNode()->GetDataInstance(), TAKE_CAMERA_LINK, camera)) {
    return false;
  }
  Propagate(takeData, true);
  return true;
}

bool BaseTakeData::SetRenderData(TakeData* takeData, BaseList2D* rd) {
  if (GetNode() == nullptr || !SetLinkEntry(GetNode()->GetDataInstance(), TAKE_RENDERDATA_LINK, rd))
    return false;
  Propagate(takeData, false);
  return true;
}

// ---- overrides ----

BaseOverride* BaseTakeData::FindOverride(BaseDocument* doc, BaseList2D* node) const {
  const InExcludeData* list = GetOverrideList();
  if (list == nullptr) return nullptr;
  for (Int32 i = 0; i < list->GetObjectCount(); ++i) {
    BaseList2D* member = list->ObjectFromIndex(doc, i);
    if (member == nullptr) continue;
    BaseOverride* ov = BaseOverride::From(member);
    BaseList2D* main = ov != nullptr ? ov->GetMainNode() : nullptr;
    if (main == nullptr) return nullptr;
    if (main == node) return ov;
  }
  return nullptr;
}

BaseOverride* BaseTakeData::AddOverride(BaseList2D* node) {
  if (node == nullptr || GetNode() == nullptr) return nullptr;
  for (GeListNode* m = node->GetFirstOverride(); m != nullptr; m = m->GetNext()) {
    BaseOverride* ov = BaseOverride::From(m);
    if (ov != nullptr && ov->GetOverrideData()->GetTakeLink().GetLink() == GetNode()) return ov;
  }
  InExcludeData* list = GetOverrideList();
  RootList2D* overrides = node->GetAttachedList(ATTACHEDLIST_OVERRIDES, true);
  if (list == nullptr || overrides == nullptr) return nullptr;
  BaseOverride* ov = BaseOverride::Alloc();
  if (ov == nullptr) return nullptr;
  PluginNode* ovNode = ov->GetNode();
  if (!ov->GetOverrideData()->SetTake(&_take)) {
    BaseOverride::Free(ov);
    return nullptr;
  }
  overrides->InsertLast(ovNode);
  ovNode->SetDocument(node->GetDocument());
  if (!list->InsertObject(ovNode, 0)) {
    BaseOverride::Free(ov);
    return nullptr;
  }
  return ov;
}

}  // namespace lumora
