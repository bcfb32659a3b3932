// BaseTag: a node attached to one object that adds data or behaviour to it; the tag kinds
// Alloc hands out; and the kept chunks every tag writes back unchanged.
//
// A tag whose node id is TAG_PLUGIN (5691) stands for an application-defined kind: its real
// type is the plug-in type (GetType), its node id is what files store (GetDiskType), and its
// node data travels in the plug-in data chunk (CHUNK_PLUGINDATA). The carrying object is held
// as a BaseList2D so that tags need nothing of the object family.
//
// Reading a tag hands every sub-chunk to the named node, then to the plug-in data chunk reader,
// then to the tag class's own chunk (ReadData). Whatever no class takes is kept as it stands
// (chunk id, level and bytes, in a RawNodeData each) and written back after the tag's own
// chunks, so a tag of a kind this library does not interpret loses nothing (doc/scene-format.md).
// Files of version 11924 and older lay some values out differently; their unknown chunks are
// skipped, since their bytes would not mean the same in a file written now.
#ifndef LUM_BASETAG_H
#define LUM_BASETAG_H

#include "lum_array.h"
#include "scene/lum_baselist2d.h"
#include "scene/lum_nodedata.h"

namespace lumora {

// Type ids of tags.
constexpr Int32 TAG_ANY = 5694;  // the instance type of every tag
constexpr Int32 TAG_PLUGIN = 5691;
constexpr Int32 TAG_POINT = 5600;
constexpr Int32 TAG_POLYGON = 5604;
constexpr Int32 TAG_DISPLAY = 5613;
constexpr Int32 TAG_TEXTURE = 5616;
constexpr Int32 TAG_TANGENT = 5617;
constexpr Int32 TAG_PROTECTION = 5629;
constexpr Int32 TAG_COMPOSITING = 5637;
constexpr Int32 TAG_UVW = 5671;
constexpr Int32 TAG_SEGMENT = 5672;
constexpr Int32 TAG_POINTSELECTION = 5673;
constexpr Int32 TAG_POLYGONSELECTION = 5674;
constexpr Int32 TAG_TARGETLINKS = 5676;
constexpr Int32 TAG_VERTEXMAP = 5682;
constexpr Int32 TAG_EDGESELECTION = 5701;
constexpr Int32 TAG_OLDVERTEXMAP = 5708;
constexpr Int32 TAG_NORMAL = 5711;
constexpr Int32 TAG_SELECTIONSET = 1016641;
constexpr Int32 TAG_POSEMORPH = 1024237;
constexpr Int32 TAG_VERTEXCOLOR = 431000045;

// GetInfo bits.
constexpr Int32 TAGINFO_VISIBLE = 1;
constexpr Int32 TAGINFO_MULTIPLE = 2;  // an object may carry several tags of the type
constexpr Int32 TAGINFO_SELECTIONSET = 16;

// The node data of pose-morph tags, kept as it stands.
LUM_RAW_NODEDATA(PoseMorphTagData);

class BaseTag : public BaseList2D {
 public:
  // A tag with that node id; plug-in type -1, no object.
  explicit BaseTag(Int32 nodeId);
  ~BaseTag() override;

  // A new tag of the kind type stands for (the table in doc/scene-format.md): the variable
  // tags, the selection tags, the display, texture and compositing tags, plain tags, and
  // plug-in tags for every other id (four of them with their node data attached). A UVW tag is
  // named "UVW", the name one read without a name gets. Null when out of memory.
  static BaseTag* Alloc(Int32 type);
  // Destroys the tag (null is fine) and clears the pointer.
  static void Free(BaseTag*& tag);

  // True for 0, TAG_ANY, the type, the node id.
  bool IsInstanceOf(Int32 id) const override;
  // The plug-in type for plug-in tags, else the node id.
  Int32 GetType() const override;
  Int32 GetInstanceType() const override { return TAG_ANY; }
  Int32 GetDiskType() const override { return BaseList2D::GetType(); }
  Int32 GetInfo() const override { return 0; }
  // The named node's chunks, the plug-in data chunk, the class's own chunk (ReadData), and
  // otherwise the chunk is kept.
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) final;
  // The node keeps its chunks itself (HandleSubChunk); what it skips stays skipped.
  bool KeepUnknownChunk(HyperFile*, Int32, Int32) override { return false; }
  // The named node's chunks; the plug-in data chunk for plug-in tags and tags that carry node
  // data or kept plug-in bytes; the class's own chunk (WriteData); the kept chunks.
  bool Write(HyperFile* hf) final;
  // The named node part; then dest must have the same node id (false otherwise, nothing of
  // the tag's own copied); CopyDataV; the node data or kept plug-in bytes; the kept chunks.
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) final;
  // A new tag of the same node id (and plug-in type) filled by CopyTo; null when either fails.
  GeListNode* GetClone(COPYFLAGS flags, AliasTrans* trans) override;
  // The class's own data into dest (of the same node id). True here.
  virtual bool CopyDataV(BaseTag* dest, COPYFLAGS flags, AliasTrans* trans);

  // The object that carries the tag (set by the object's tag insertion and the list reader).
  BaseList2D* GetObject() const { return _object; }
  void SetObject(BaseList2D* object) { _object = object; }
  BaseTag* GetNext() const { return static_cast<BaseTag*>(GeListNode::GetNext()); }
  BaseTag* GetPred() const { return static_cast<BaseTag*>(GeListNode::GetPred()); }
  // The first tag of that type in the same tag list as this one (this one included); null
  // when the tag is in no list or none matches.
  BaseTag* FindSibling(Int32 type) const;

  // The chunks kept because no class took them.
  Int32 GetKeptChunkCount() const { return _kept.GetCount(); }

 protected:
  // Whether the class reads the chunk id/level itself (others are kept).
  virtual bool OwnsChunk(Int32, Int32) const { return false; }
  // Reads an owned chunk whose start has been read, up to and including its end.
  virtual bool ReadData(HyperFile*, Int32, Int32) { return false; }
  // The class's own chunks.
  virtual bool WriteData(HyperFile*) { return true; }
  // Called after chunk CHUNK_BASELIST2D has been read.
  virtual void NodeChunkRead() {}

 private:
  bool KeepChunk(HyperFile* hf, Int32 id, Int32 level);
  bool CopyPluginData(BaseTag* dest, AliasTrans* trans);
  void FreeKept();

  BaseList2D* _object = nullptr;
  BaseArray<RawNodeData*> _kept;  // type = chunk id
};

// The node data of a plug-in tag type: the application's hook first, then the library's own
// kinds (pose morph). The hook's protocol: null with known true is out of memory.
NodeData* _AllocTagData(Int32 type, bool& known, BaseList2D* tag);

// The tag classes this library keeps as they stand: their chunks are kept by BaseTag.
class DisplayTag : public BaseTag {
 public:
  DisplayTag() : BaseTag(TAG_DISPLAY) {}
};

class CompositingTag : public BaseTag {
 public:
  CompositingTag() : BaseTag(TAG_COMPOSITING) {}
};

// The texture tag keeps its chunks as they stand; its projection lives in its container, of
// which the library names the entries it sets itself.
class TextureTag : public BaseTag {
 public:
  static constexpr Int32 PROJECTION = 1004;
  static constexpr Int32 SIDE = 1007;
  static constexpr Int32 POSITION = 1010;
  static constexpr Int32 SCALE = 1011;
  static constexpr Int32 ROTATION = 1012;

  TextureTag() : BaseTag(TAG_TEXTURE) {}
  // An object may carry several (one per material).
  Int32 GetInfo() const override { return TAGINFO_VISIBLE | TAGINFO_MULTIPLE; }
  Vector64 GetPos() const { return GetDataInstanceRef().GetVector(POSITION); }
  Vector64 GetScale() const { return GetDataInstanceRef().GetVector(SCALE, Vector64(1, 1, 1)); }
  Vector64 GetRot() const { return GetDataInstanceRef().GetVector(ROTATION); }
  // False only when out of memory.
  bool SetPos(const Vector64& v) { return GetDataInstanceRef().SetVector(POSITION, v); }
  bool SetScale(const Vector64& v) { return GetDataInstanceRef().SetVector(SCALE, v); }
  bool SetRot(const Vector64& v) { return GetDataInstanceRef().SetVector(ROTATION, v); }
};

}  // namespace lumora

#endif  // LUM_BASETAG_H
