// BaseOverride: an override, the record of which parameters of one node a take overrides. It
// is a plug-in node (type TYPE_OVERRIDE) in the overridden node's override list (that node is
// its main node); its first plug-in data slot holds the BaseOverrideData.
//
// Like BaseTake, BaseOverride is the face of such a node, owned by the node's override data.
#ifndef LUM_BASEOVERRIDE_H
#define LUM_BASEOVERRIDE_H

#include "takes/lum_basetake.h"

namespace lumora {

class BaseOverrideData;

class BaseOverride {
 public:
  BaseOverride(const BaseOverride&) = delete;
  BaseOverride& operator=(const BaseOverride&) = delete;

  // The override of node: node is a plug-in node whose first slot holds override data. Null
  // otherwise.
  static BaseOverride* From(GeListNode* node);
  // A new override node, in no list and belonging to no take; null when out of memory. Free
  // destroys the node.
  static BaseOverride* Alloc();
  static void Free(BaseOverride*& ov);

  PluginNode* GetNode() const;
  BaseOverrideData* GetOverrideData() const { return _data; }
  // The next override in the same list, or null.
  BaseOverride* GetNext() const;

  // Forwarded to the override data.
  bool IsOverriddenParam(const DescID& id) const;
  BaseList2D* GetMainNode() const;
  BaseTake* GetTakeNode(BaseDocument* doc) const;

 private:
  friend class BaseOverrideData;
  explicit BaseOverride(BaseOverrideData* data) : _data(data) {}

  BaseOverrideData* _data;
};

}  // namespace lumora

#endif  // LUM_BASEOVERRIDE_H
