// BaseTake (see lum_basetake.h).
#include "takes/lum_basetake.h"

#include "takes/lum_basetakedata.h"
#include "takes/lum_takesystemhook.h"

namespace lumora {

namespace {

constexpr Int32 kTypeCamera = 5103;

}  // namespace

BaseTake* BaseTake::From(GeListNode* node) {
  if (node == nullptr || !node->IsNodeClass(NODECLASS_PLUGINNODE)) return nullptr;
  NodeData* data = static_cast<PluginNode*>(node)->GetNthData(0);
  if (data == nullptr || !data->IsInstanceOf(TYPE_TAKE) || data->GetNode() != node) return nullptr;
  return static_cast<BaseTakeData*>(data)->GetTake();
}

BaseTake* BaseTake::Alloc() {
  PluginNode* node = PluginNode::Alloc(TYPE_TAKE);
  if (node == nullptr) return nullptr;
  bool known = true;
  if (node->AddSlot()) node->ValidateNth(0, TYPE_TAKE, known);
  BaseTake* take = From(node);
  if (take == nullptr) PluginNode::Free(node);
  return take;
}

void BaseTake::Free(BaseTake*& take) {
  if (take == nullptr) return;
  PluginNode* node = take->GetNode();
  take = nullptr;
  PluginNode::Free(node);
}

PluginNode* BaseTake::GetNode() const { return static_cast<PluginNode*>(_data->GetNode()); }

BaseTake* BaseTake::GetUp() const { return From(GetNode()->GetUp()); }
BaseTake* BaseTake::GetDown() const { return From(GetNode()->GetDown()); }
BaseTake* BaseTake::GetNext() const { return From(GetNode()->GetNext()); }
BaseTake* BaseTake::GetPred() const { return From(GetNode()->GetPred()); }

bool BaseTake::IsMain() const { return _data->IsMain(); }

bool BaseTake::SearchHierarchy(const BaseTake* t) const {
  if (t == nullptr) return false;
  for (const BaseTake* x = this; x != nullptr; x = x->GetUp())
    if (x == t) return true;
  return false;
}

BaseList2D* BaseTake::GetCamera(TakeData* takeData) const {
  const GeData* value = GetNode()->GetDataInstance()->GetData(TAKE_CAMERA_LINK);
  const BaseLink* link = value != nullptr ? value->GetBaseLink() : nullptr;
  if (link == nullptr) return nullptr;
  return link->GetLinkAtom(takeData != nullptr ? takeData->GetDocument() : nullptr, kTypeCamera);
}

BaseList2D* BaseTake::GetRenderData(TakeData*) const {
  return GetNode()->GetDataInstance()->GetLink(TAKE_RENDERDATA_LINK);
}

BaseOverride* BaseTake::FindOverride(TakeData* takeData, BaseList2D* node) const {
  if (takeData == nullptr || node == nullptr || takeData->GetDocument() == nullptr) return nullptr;
  BaseOverride* ov = takeData->FindOverride(const_cast<BaseTake*>(this), node);
  if (ov == nullptr || node->GetDocument() == nullptr) return ov;
  return _data->FindOverride(takeData->GetDocument(), node) == ov ? ov : nullptr;
}

}  // namespace lumora
