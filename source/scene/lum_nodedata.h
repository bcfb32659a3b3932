// NodeData: the kind-specific behaviour and data of a node, attached to it by type id; the plug-in
// data chunk that stores node data in files; and RawNodeData, the node data of every kind whose
// contents this library does not interpret.
//
// A node data is created unattached (by an allocation hook or PluginNode::AllocData), attached
// to exactly one node (SetNodeData, SetNode), initialised (Init) and from then on owned by the
// node: destroying the node runs Free and then the destructor.
//
// The plug-in data chunk (CHUNK_PLUGINDATA): Int32 plug-in type, Int32 slot index, String name,
// then the data's own Write; the chunk's level is the data's GetChunkLevel.
#ifndef LUM_NODEDATA_H
#define LUM_NODEDATA_H

#include "scene/lum_baselist2d.h"
#include "scene/lum_privatechunk.h"

namespace lumora {

class BaseTag;
class GeListNode;
class NodeData;
class RootObject;

constexpr Int32 CHUNK_PLUGINDATA = 110064;
// GetDiskType of a node data.
constexpr Int32 TYPE_PLAINOBJECT = 5154;

class NodeData : public PrivateChunk {
 public:
  NodeData() = default;
  ~NodeData() override = default;

  bool IsInstanceOf(Int32 id) const override { return id == 0; }
  // After the PrivateChunk operations: the node data's own.
  virtual bool Init() { return true; }
  virtual void Free() {}
  // Reads the data from inside its plug-in data chunk (id CHUNK_PLUGINDATA, the chunk's level).
  virtual bool Read(HyperFile*, Int32, Int32) { return false; }
  virtual bool Execute() { return false; }
  virtual Int32 GetDiskType() const { return TYPE_PLAINOBJECT; }
  virtual bool TranslateDescID(GeListNode*, const DescID&, DescID&, GeListNode*&) { return false; }
  // True for data whose Read takes the rest of the chunk, end byte included, so that the
  // reader must not skip to the chunk's end afterwards.
  virtual bool ReadsToChunkEnd() const { return false; }

  BaseList2D* GetNode() const { return _node; }
  void SetNode(BaseList2D* node) { _node = node; }
  // When the node is an object, its first tag of that type; otherwise null. Defined by the
  // objects family.
  BaseTag* GetTag(Int32 type) const;

 private:
  BaseList2D* _node = nullptr;
};

// Destroys data (Free, then the destructor) and clears the pointer; null is fine.
void _FreeNodeData(NodeData*& data);

// The node data of every kind this library keeps without interpreting: it remembers the chunk
// level and the bytes of its chunk after the header, writes them back unchanged and copies them
// deeply. Its type is the kind's id.
class RawNodeData : public NodeData {
 public:
  explicit RawNodeData(Int32 type = 0) : _type(type) {}
  ~RawNodeData() override { FreeBytes(); }

  Int32 GetType() const override { return _type; }
  bool Write(HyperFile* hf) override;
  // dest must be a RawNodeData; it takes a copy of the bytes and the level.
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;
  Int32 GetChunkLevel() const override { return _level; }
  bool Read(HyperFile* hf, Int32 id, Int32 level) override;
  bool ReadsToChunkEnd() const override { return true; }

  Int64 GetSize() const { return _size; }
  const void* GetBytes() const { return _bytes; }

 private:
  void FreeBytes();

  Int32 _type;
  Int32 _level = 0;
  Int32 _layout = 0;  // HyperFile::GetRawLayout of the stream read
  Int64 _size = 0;
  void* _bytes = nullptr;  // without the chunk's end byte
};

// The chunks of a node that no class takes, kept in file order (each RawNodeData's type is its
// chunk id). FreeKeptChunks destroys them; CopyKeptChunks replaces dest's with deep copies of
// from's and is false when out of memory (dest then holds the copies made so far).
void FreeKeptChunks(BaseArray<RawNodeData*>& kept);
bool CopyKeptChunks(const BaseArray<RawNodeData*>& from, BaseArray<RawNodeData*>& dest,
                    COPYFLAGS flags, AliasTrans* trans);

// The node data classes named by the allocation tables whose contents this library keeps as
// they stand (one implementation, RawNodeData, under each name).
#define LUM_RAW_NODEDATA(Name)                       \
  class Name : public RawNodeData {                  \
   public:                                           \
    explicit Name(Int32 type) : RawNodeData(type) {} \
  }
LUM_RAW_NODEDATA(GvRealNodeData);
LUM_RAW_NODEDATA(GvRealGroupData);
LUM_RAW_NODEDATA(GvRealNodeMasterData);
LUM_RAW_NODEDATA(GvOperatorData);
LUM_RAW_NODEDATA(BaseSettings);
LUM_RAW_NODEDATA(OMSettings);
LUM_RAW_NODEDATA(TLSettings);

// Plug-in data classes of later families (takes, overrides) join PluginNode::AllocData's table
// here: alloc makes a new, unattached data for type (null when out of memory). At most 32
// types; false when the table is full. A type registered again takes the new function.
using PluginDataAllocator = NodeData* (*)(Int32 type);
bool GeRegisterPluginData(Int32 type, PluginDataAllocator alloc);

// The plug-in data of the take system (takes 431000054, overrides 431000051, override folders
// 431000073 and override groups 431000075), defined by the takes family. PluginNode::AllocData
// calls it by name, so that the linker brings the takes family into every program that reads
// plug-in nodes: no registration at start-up that an unused object file could lose. A new,
// unattached data for type, which is one of the four (AllocData asks for no other); null when
// out of memory.
NodeData* _TakeSystemAllocData(Int32 type, bool& known);
// Copy flag for plug-in data: overrides re-point their take links through the translation
// (a copy of takes and overridden nodes together). PluginNode passes it on to its slots' data.
constexpr Int32 COPYFLAGS_TRANSLATE_TAKES = 0x400;

// An allocation hook: a new, unattached node data for type, or null with known false when the
// type has no class (null with known true: out of memory).
using NodeDataAllocator = NodeData* (*)(Int32 type, bool& known, BaseList2D* node);

// The common read of a plug-in data chunk into a node with a single node data (objects, tags,
// shaders), whose start has been read: type into the plug-in type, index, name (taken when the
// node has none); the old data discarded; new data from alloc, attached and initialised keeping
// the container's values, and read; or, without a class, the raw chunk kept on the node (files
// of version 11600 and newer) or skipped. takeType also makes the plug-in type the node's type
// id (shaders).
bool _ReadPluginDataChunk(BaseList2D* node, HyperFile* hf, Int32 level, NodeDataAllocator alloc,
                          bool takeType);
// The common write: the node data's chunk, or the raw chunk kept when its class was missing.
// Nothing for a node with neither.
bool _WritePluginDataChunk(BaseList2D* node, HyperFile* hf);

}  // namespace lumora

// The application's allocation hooks (global namespace; the application defines them).
lumora::NodeData* AllocAlienObjectData(int type, bool& known, lumora::BaseList2D* node);
lumora::NodeData* AllocAlienTagData(int type, bool& known, lumora::BaseList2D* node);
lumora::NodeData* AllocAlienShaderData(int type, bool& known, lumora::BaseList2D* node);
lumora::RootObject* AllocAlienRootObject();

#endif  // LUM_NODEDATA_H
