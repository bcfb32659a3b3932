// BaseOverrideData: the plug-in data of an override (chunk level 3): which parameters of the
// main node the override holds, grouped by key, and the take it belongs to. The record is in
// doc/scene-format.md.
#ifndef LUM_BASEOVERRIDEDATA_H
#define LUM_BASEOVERRIDEDATA_H

#include "lum_array.h"
#include "takes/lum_baseoverride.h"

namespace lumora {

// One overridden parameter. value and second are kept and written; their meaning is the
// application's.
struct OverrideEntry {
  DescID id;
  Int32 value = 0;
  DescID second;
};

// A key of the map with its entries (the list is owned; null only when it could not be made).
struct OverrideMapEntry {
  OverrideMapEntry() = default;
  ~OverrideMapEntry() { DeleteObj(list); }
  OverrideMapEntry(const OverrideMapEntry&) = delete;
  OverrideMapEntry& operator=(const OverrideMapEntry&) = delete;

  DescID key;
  BaseArray<OverrideEntry>* list = nullptr;
};

class BaseOverrideData : public NodeData {
 public:
  BaseOverrideData();
  ~BaseOverrideData() override;

  bool IsInstanceOf(Int32 id) const override { return id == 0 || id == TYPE_OVERRIDE; }
  Int32 GetType() const override { return TYPE_OVERRIDE; }
  Int32 GetChunkLevel() const override { return 3; }
  bool Init() override { return true; }
  // Empties the map, the links and the link array.
  void Free() override;
  // Reads every level from 0 to 3; counts are checked against the bytes left before anything
  // is allocated for them. Out of memory sets FILEERROR_OUTOFMEMORY.
  bool Read(HyperFile* hf, Int32 id, Int32 level) override;
  bool Write(HyperFile* hf) override;
  // The map; the take and second links through trans with COPYFLAGS_TRANSLATE_TAKES, else to
  // the same nodes; the third link and the link array through trans. dest must be override
  // data.
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;
  // Redirects a parameter of the override node to the main node: true, with outNode the main
  // node and outId id, when the document's current take is this override's take or one it
  // affects (IsTakeAffected). False without document, take data, current take, override take
  // or main node.
  bool TranslateDescID(GeListNode* node, const DescID& id, DescID& outId,
                       GeListNode*& outNode) override;

  BaseOverride* GetOverride() { return &_override; }
  // The take the take link leads to; null without document.
  BaseTake* GetTakeNode(BaseDocument* doc) const;
  // Whether a change of id through this override reaches take (see doc/scene-format.md for
  // the walk).
  bool IsTakeAffected(BaseDocument* doc, BaseTake* take, const DescID& id) const;
  // The owner of the list the override node is in, or null.
  BaseList2D* GetMainNode() const;
  // The key is id's first level alone when that level is a vector (data type 23), else id.
  // True when the first map key equal to it has an entry whose id equals id.
  bool IsOverriddenParam(const DescID& id) const;

  // Building an override in a program (this library's additions).

  // Appends an entry under key (the key is added when missing). False when out of memory.
  bool AddEntry(const DescID& key, const DescID& id, Int32 value, const DescID& second);
  // AddEntry under the key IsOverriddenParam looks up for id, value 0, no second id.
  bool AddOverriddenParam(const DescID& id);
  // Points the take link at take (null empties it). False when out of memory.
  bool SetTake(BaseTake* take);
  BaseLink& GetTakeLink() { return _takeLink; }
  BaseLink& GetSecondLink() { return _secondLink; }
  BaseLink& GetThirdLink() { return _thirdLink; }
  Int32 GetMapCount() const { return _map.GetCount(); }
  const OverrideMapEntry* GetMapEntry(Int32 i) const {
    return i >= 0 && i < _map.GetCount() ? _map[i] : nullptr;
  }
  Int32 GetLinkCount() const { return _links.GetCount(); }
  BaseLink* GetArrayLink(Int32 i) const {
    return i >= 0 && i < _links.GetCount() ? _links[i] : nullptr;
  }
  // Appends a link to node to the link array. False when out of memory.
  bool AddArrayLink(BaseList2D* node);

 private:
  void FlushMap();
  void FlushLinks();

  BaseOverride _override;
  BaseArray<OverrideMapEntry*> _map;  // owned
  BaseLink _takeLink;
  BaseLink _secondLink;
  BaseLink _thirdLink;
  BaseArray<BaseLink*> _links;  // owned
};

}  // namespace lumora

#endif  // LUM_BASEOVERRIDEDATA_H
