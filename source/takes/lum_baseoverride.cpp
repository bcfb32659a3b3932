// BaseOverride (see lum_baseoverride.h).
#include "takes/lum_baseoverride.h"

#include "takes/lum_baseoverridedata.h"

namespace lumora {

BaseOverride* BaseOverride::From(GeListNode* node) {
  if (node == nullptr || !node->IsNodeClass(NODECLASS_PLUGINNODE)) return nullptr;
  NodeData* data = static_cast<PluginNode*>(node)->GetNthData(0);
  if (data == nullptr || !data->IsInstanceOf(TYPE_OVERRIDE) || data->GetNode() != node)
    return nullptr;
  return static_cast<BaseOverrideData*>(data)->GetOverride();
}

BaseOverride* BaseOverride::Alloc() {
  PluginNode* node = PluginNode::Alloc(TYPE_OVERRIDE);
  if (node == nullptr) return nullptr;
  bool known = true;
  if (node->AddSlot()) node->ValidateNth(0, TYPE_OVERRIDE, known);
  BaseOverride* ov = From(node);
  if (ov == nullptr) PluginNode::Free(node);
  return ov;
}

void BaseOverride::Free(BaseOverride*& ov) {
  if (ov == nullptr) return;
  PluginNode* node = ov->GetNode();
  ov = nullptr;
  PluginNode::Free(node);
}

PluginNode* BaseOverride::GetNode() const { return static_cast<PluginNode*>(_data->GetNode()); }

BaseOverride* BaseOverride::GetNext() const { return From(GetNode()->GetNext()); }

bool BaseOverride::IsOverriddenParam(const DescID& id) const {
  return _data->IsOverriddenParam(id);
}

BaseList2D* BaseOverride::GetMainNode() const { return _data->GetMainNode(); }

BaseTake* BaseOverride::GetTakeNode(BaseDocument* doc) const { return _data->GetTakeNode(doc); }

}  // namespace lumora
