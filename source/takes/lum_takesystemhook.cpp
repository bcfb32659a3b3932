// TakeData, TakeSystemHook, the document's take data and the take system's plug-in data table
// (see lum_takesystemhook.h).
#include "takes/lum_takesystemhook.h"

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"
#include "takes/lum_baseoverridedata.h"

namespace lumora {

// The plug-in node's table asks for the take system's four types only.
NodeData* _TakeSystemAllocData(Int32 type, bool& known) {
  known = true;
  switch (type) {
    case TYPE_TAKE:
      return NewObj<BaseTakeData>();
    case TYPE_OVERRIDE:
      return NewObj<BaseOverrideData>();
    case TYPE_TAKEFOLDER:
      return NewObj<TakeFolderData>(type);
    default:  // TYPE_OVERRIDEGROUP
      return NewObj<OverrideGroupData>(type);
  }
}

TakeData* BaseDocument::GetTakeData() const {
  TakeSystemHook* hook = TakeSystemHook::Find(this);
  return hook != nullptr ? hook->GetTakeData() : nullptr;
}

// ---- TakeData ----

bool TakeData::Set(BaseDocument* doc) {
  if (doc == nullptr) return false;
  _doc = doc;
  return true;
}

TakeSystemHook* TakeData::GetHook() const { return TakeSystemHook::Find(_doc); }

BaseTake* TakeData::GetCurrentTake() const {
  TakeSystemHook* hook = GetHook();
  return hook != nullptr ? hook->GetCurrentTake() : nullptr;
}

BaseTake* TakeData::GetMainTake() const {
  TakeSystemHook* hook = GetHook();
  return hook != nullptr ? hook->GetMainTake() : nullptr;
}

bool TakeData::SetCurrentTake(BaseTake* take) {
  TakeSystemHook* hook = GetHook();
  return hook != nullptr && hook->SetCurrentTake(take);
}

BaseOverride* TakeData::FindOverride(BaseTake* take, BaseList2D* node) const {
  if (node == nullptr) return nullptr;
  for (GeListNode* m = node->GetFirstOverride(); m != nullptr; m = m->GetNext()) {
    BaseOverride* ov = BaseOverride::From(m);
    BaseTake* owner = ov != nullptr ? ov->GetTakeNode(_doc) : nullptr;
    if (owner == nullptr) return nullptr;
    if (owner == take) return ov;
  }
  return nullptr;
}

// ---- TakeSystemHook ----

TakeSystemHook::TakeSystemHook() : BaseList2D(ID_TAKESYSTEMHOOK) {}

TakeSystemHook::~TakeSystemHook() {
  DeleteObj(_takes);
  for (BaseLink* l : _cameras) BaseLink::Free(l);
  for (BaseLink* l : _renderData) BaseLink::Free(l);
}

TakeSystemHook* TakeSystemHook::Alloc(BaseDocument* doc) {
  if (doc == nullptr) return nullptr;
  TakeSystemHook* hook = NewObj<TakeSystemHook>();
  if (hook == nullptr) return nullptr;
  const String kMain("Main");
  hook->_takes = RootPluginNode::Alloc();
  BaseTake* main = hook->_takes != nullptr ? BaseTake::Alloc() : nullptr;
  if (main == nullptr) {
    DeleteObj(hook);
    return nullptr;
  }
  hook->_takes->SetOwner(hook);
  hook->_takes->InsertLast(main->GetNode());
  main->GetNode()->SetName(kMain);
  main->GetTakeData()->SetMain(true);
  hook->_takeData.Set(doc);
  doc->InsertSceneHook(hook);
  main->GetNode()->SetDocument(doc);
  if (main->GetNode()->GetName().GetLength() != kMain.GetLength() || !hook->SetCurrentTake(main)) {
    hook->Remove();
    DeleteObj(hook);
    return nullptr;
  }
  return hook;
}

TakeSystemHook* TakeSystemHook::Find(const BaseDocument* doc) {
  BaseList2D* hook = doc != nullptr ? doc->FindSceneHook(ID_TAKESYSTEMHOOK) : nullptr;
  if (hook == nullptr || hook->GetInstanceType() != ID_TAKESYSTEMHOOK) return nullptr;
  return static_cast<TakeSystemHook*>(hook);
}

BaseTake* TakeSystemHook::GetMainTake() const {
  return _takes != nullptr ? BaseTake::From(_takes->GetFirst()) : nullptr;
}

bool TakeSystemHook::SetCurrentTake(BaseTake* take) {
  if (take == nullptr) {
    _current.Clear();
    return true;
  }
  return _current.XSetLink(take->GetNode()->GetAliasGoal());
}

namespace {

BaseList2D* LinkAt(const BaseArray<BaseLink*>& links, Int32 i) {
  return i >= 0 && i < links.GetCount() ? links[i]->GetLink() : nullptr;
}

Int32 IndexOf(const BaseArray<BaseLink*>& links, const BaseList2D* node) {
  if (node == nullptr) return -1;
  for (Int32 i = 0; i < links.GetCount(); ++i)
    if (links[i]->GetLink() == node) return i;
  return -1;
}

bool AppendLink(BaseArray<BaseLink*>& links, BaseList2D* node) {
  if (node == nullptr) return false;
  BaseLink* link = BaseLink::Alloc();
  if (link == nullptr || !link->XSetLink(node->GetAliasGoal()) || !links.Append(link)) {
    BaseLink::Free(link);
    return false;
  }
  return true;
}

}  // namespace

BaseList2D* TakeSystemHook::GetCamera(Int32 i) const { return LinkAt(_cameras, i); }
Int32 TakeSystemHook::FindCamera(const BaseList2D* camera) const {
  return IndexOf(_cameras, camera);
}
bool TakeSystemHook::AddCamera(BaseList2D* camera) { return AppendLink(_cameras, camera); }
BaseList2D* TakeSystemHook::GetRenderData(Int32 i) const { return LinkAt(_renderData, i); }
Int32 TakeSystemHook::FindRenderData(const BaseList2D* rd) const {
  return IndexOf(_renderData, rd);
}
bool TakeSystemHook::AddRenderData(BaseList2D* rd) { return AppendLink(_renderData, rd); }

namespace {

bool WriteLinkArray(HyperFile* hf, const BaseArray<BaseLink*>& links) {
  if (!hf->WriteInt32(links.GetCount())) return false;
  for (const BaseLink* l : links)
    if (!l->Write(hf)) return false;
  return true;
}

// Each record needs at least a value header: a count beyond the bytes left is refused before
// anything is allocated.
bool ReadLinkArray(HyperFile* hf, BaseArray<BaseLink*>& links) {
  for (BaseLink* l : links) BaseLink::Free(l);
  links.Flush();
  Int32 n = 0;
  if (!hf->ReadInt32(&n)) return false;
  if (n < 0 || !hf->CheckRemaining(n)) {
    hf->SetError(FILEERROR_READ);
    return false;
  }
  for (Int32 i = 0; i < n; ++i) {
    BaseLink* link = BaseLink::Alloc();
    if (link == nullptr || !links.Append(link)) {
      BaseLink::Free(link);
      hf->SetError(FILEERROR_OUTOFMEMORY);
      return false;
    }
    if (!link->Read(hf)) return false;
  }
  return true;
}

}  // namespace

bool TakeSystemHook::WriteLinks(HyperFile* hf) const {
  return _current.Write(hf) && WriteLinkArray(hf, _cameras) && WriteLinkArray(hf, _renderData);
}

bool TakeSystemHook::ReadLinks(HyperFile* hf) {
  return _current.Read(hf) && ReadLinkArray(hf, _cameras) && ReadLinkArray(hf, _renderData);
}

}  // namespace lumora
