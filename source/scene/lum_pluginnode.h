// PluginNode: a named node that carries an array of plug-in data slots (node-graph nodes, take
// data, override data, settings) and children of its own kind; RootPluginNode, their list.
//
// A slot holds a node data of its plug-in type or, when the type has no class here, the raw
// contents and level of its chunk so that writing the node reproduces it. Chunks of the node that
// no class takes are kept as they stand (id, level and bytes) and written back after the slots;
// files of version 11924 and older lay some values out differently, so their unknown chunks are
// skipped.
#ifndef LUM_PLUGINNODE_H
#define LUM_PLUGINNODE_H

#include "scene/lum_baselist2d.h"
#include "scene/lum_nodedata.h"
#include "scene/lum_rootlist2d.h"

namespace lumora {

// One plug-in data slot.
struct PluginSlot {
  Int32 type = 0;
  NodeData* data = nullptr;  // owned
  void* raw = nullptr;       // owned; the chunk of a type without a class
  Int64 rawSize = 0;
  Int32 rawLevel = 0;
  Int32 rawLayout = 0;  // HyperFile::GetRawLayout of the stream read
  // The index of a chunk kept on the slot because its index named no slot, under which it is
  // written back (under its slot's index, a class would read bytes it never read); else 0.
  Int32 strayIndex = 0;
};

class PluginNode : public BaseList2D {
 public:
  PluginNode() : PluginNode(0) {}
  explicit PluginNode(Int32 pluginType);
  ~PluginNode() override;

  static PluginNode* Alloc(Int32 pluginType);
  static void Free(PluginNode*& node);

  // True for 0, 110050 and 110062.
  bool IsInstanceOf(Int32 id) const override;
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  // The node keeps its chunks itself (HandleSubChunk); what it skips stays skipped.
  bool KeepUnknownChunk(HyperFile*, Int32, Int32) override { return false; }
  // The plug-in type while the type id is 110062.
  Int32 GetType() const override;
  bool Write(HyperFile* hf) override;
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;
  // A new plug-in node of the same GetType filled by CopyTo; null when that fails.
  GeListNode* GetClone(COPYFLAGS flags, AliasTrans* trans) override;
  Int32 GetDiskType() const override { return TYPE_PLUGINNODE; }
  UInt32 GetNodeClasses() const override { return NODECLASS_PLUGINNODE; }
  // A node without a single node data lets its first slot's data answer before the container
  // (take and override data); the node's own 898 and 900 stay the node's.
  bool GetDParameter(const DescID& id, GeData& out) override;
  bool SetDParameter(const DescID& id, const GeData& value) override;
  bool TranslateDescID(const DescID& id, DescID& out, GeListNode*& node) override;
  virtual Int64 GetInternalMemUsage() const { return 1288; }

  // The library's own plug-in data table, with the hooks' known protocol.
  static NodeData* AllocData(Int32 type, bool& known);
  // Allocates, attaches and initialises the i-th type of types for each existing slot i. An
  // unknown type, a failed allocation or Init frees all slot data and gives false.
  bool AllocPluginData(const Int32* types);
  // Sets slot index's type; a type other than 0 gets new data (attached, initialised; a failed
  // Init leaves the slot without data). index must be a slot.
  void ValidateNth(Int32 index, Int32 type, bool& known);
  // Frees every slot (last to first) and the array.
  void FreePluginData();

  Int32 GetSlotCount() const { return _count; }
  PluginSlot* GetSlot(Int32 index) const {
    return index >= 0 && index < _count ? &_slots[index] : nullptr;
  }
  NodeData* GetNthData(Int32 index) const {
    PluginSlot* s = GetSlot(index);
    return s != nullptr ? s->data : nullptr;
  }
  // Grows the slot array by one zero slot; false when out of memory.
  bool AddSlot();
  // The chunks kept because no class took them.
  Int32 GetKeptChunkCount() const { return _kept.GetCount(); }

 private:
  // The first slot's data when it answers the node's parameters, else null.
  NodeData* GetParameterData(const DescID& id) const;
  bool ReadSlotChunk(HyperFile* hf, Int32 level);
  bool WriteSlots(HyperFile* hf);
  // The single plug-in data chunk: the attached data's, or the node's kept bytes.
  bool _WritePluginDataChunkAlways(HyperFile* hf);
  // Slot data is copied with no flags but COPYFLAGS_TRANSLATE_TAKES.
  bool CopySlots(PluginNode* dest, COPYFLAGS flags, AliasTrans* trans);
  // Keeps the chunk id/level whose start has been read; false (the loop skips the chunk) for
  // files of version 11924 and older, or when reading fails.
  bool KeepChunk(HyperFile* hf, Int32 id, Int32 level);
  void FreeKept();

  PluginSlot* _slots = nullptr;
  Int32 _count = 0;
  BaseArray<RawNodeData*> _kept;  // type = chunk id
};

class RootPluginNode : public RootList2D {
 public:
  RootPluginNode() = default;
  ~RootPluginNode() override = default;

  static RootPluginNode* Alloc();
  static void Free(RootPluginNode*& list);

  // CHUNK_NODELIST (RootList2D), and each member chunk 110062 as one plug-in node.
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  // CHUNK_NODELIST with chunk 110062 per member.
  bool Write(HyperFile* hf) override;
  GeListNode* GetClone(COPYFLAGS flags, AliasTrans* trans) override;
  UInt32 GetMemberClass() const override { return NODECLASS_PLUGINNODE; }

  PluginNode* GetFirst() const { return static_cast<PluginNode*>(RootList2D::GetFirst()); }
};

}  // namespace lumora

#endif  // LUM_PLUGINNODE_H
