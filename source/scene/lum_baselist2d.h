// BaseList2D: the named node. A type id, a parameter container, 32 user bits, a unique marker,
// unique ids, a link parameter, five attached lists (tracks, three shader lists, overrides), a
// notify list, two description-id stores and optional node data; and the node's chunk layout
// (doc/scene-format.md).
//
// The attached lists hold classes of later families (tracks, shaders). A list is created when
// first needed by the allocator its family installs (GeSetAttachedListAllocator); overrides
// are plug-in nodes and always available, and so are the shader lists (_AllocShaderList). While
// a family is not installed (or its allocator is uninstalled), the chunk of its list is kept as
// raw bytes and written back unchanged.
//
// Tracks belong to a later layer (animation/): the node finds and orders them through the two
// virtual hooks GetTrackDescID / SetTrackSynchronized that CTrack overrides, by _FindTrack and
// _InsertTrackSorted. The CTrack-typed GetFirstCTrack, FindCTrack and InsertTrackSorted are
// declared here and defined by the track family on top of them (animation/lum_ctrack.cpp);
// InsertShader likewise by the shader family on top of _InsertShader.
#ifndef LUM_BASELIST2D_H
#define LUM_BASELIST2D_H

#include "lum_array.h"
#include "scene/lum_gelistnode.h"
#include "scene/lum_keptchunks.h"
#include "values/lum_descidstore.h"
#include "values/lum_gemarker.h"

namespace lumora {

class BaseShader;
class CTrack;
class NodeData;
class RootList2D;
class PluginNode;

// The type id and instance type of every named node.
constexpr Int32 TYPE_BASELIST2D = 110050;
constexpr Int32 CHUNK_BASELIST2D = 110050;
constexpr Int32 CHUNK_UNIQUEIDS = 110068;
constexpr Int32 CHUNK_TRACKS = 110417;
constexpr Int32 CHUNK_OVERRIDES = 431000052;
constexpr Int32 CHUNK_SHADERS = 110131;
constexpr Int32 CHUNK_SHADERS2 = 310006009;
constexpr Int32 CHUNK_SHADERS3 = 431000139;
// BaseList2D bit cleared whenever a node is written.
constexpr Int32 BIT_CLEARED_ON_WRITE = 0x100000;
// Node types the named node asks about.
constexpr Int32 TYPE_ANYOBJECT = 5155;
constexpr Int32 TYPE_PLUGINNODE = 110062;

// The five lists every named node carries.
enum ATTACHEDLIST : Int32 {
  ATTACHEDLIST_TRACKS = 0,
  ATTACHEDLIST_OVERRIDES = 1,
  ATTACHEDLIST_SHADERS = 2,
  ATTACHEDLIST_SHADERS2 = 3,
  ATTACHEDLIST_SHADERS3 = 4,
  ATTACHEDLIST_COUNT = 5,
};
// Makes a new, empty list head of the family's class; null when out of memory.
using GeAttachedListAllocator = RootList2D* (*)();
// Installs the allocator of one kind of attached list (null uninstalls). The tracks and shader
// families call it once, before nodes of theirs are read.
void GeSetAttachedListAllocator(ATTACHEDLIST which, GeAttachedListAllocator alloc);
// The allocator of the three shader lists, defined by the shader family (a RootShader). It is
// installed from the start: referring to it here links the shader family into every program
// that links the node tree, so shader lists never fall back to raw bytes for want of a
// registration.
RootList2D* _AllocShaderList();

// One application id with its bytes (unique ids of a node).
struct UniqueIDEntry {
  Int32 appId = 0;
  Int64 length = 0;
  void* bytes = nullptr;  // owned
};

// The unique ids of a node, kept in ascending order of the application id.
class UniqueIDArray {
 public:
  UniqueIDArray() = default;
  ~UniqueIDArray() { Flush(); }
  UniqueIDArray(const UniqueIDArray&) = delete;
  UniqueIDArray& operator=(const UniqueIDArray&) = delete;

  void Flush();
  Int32 GetCount() const { return _entries.GetCount(); }
  const UniqueIDEntry& Get(Int32 i) const { return _entries[i]; }
  // Inserts after the entries with the same id (sorted); false when out of memory.
  bool Add(Int32 appId, const void* bytes, Int64 length);
  // Appends in file order (the order written is sorted already); takes bytes over.
  bool AppendOwned(Int32 appId, void* bytes, Int64 length);
  // The first entry with the id, or null.
  const UniqueIDEntry* Find(Int32 appId) const;
  bool CopyTo(UniqueIDArray* dest) const;

 private:
  BaseArray<UniqueIDEntry, 4> _entries;
};

// One entry of a node's notify list.
struct NotifyData {
  Int32 id = 0;
  BaseLink* link = nullptr;  // owned; the node to notify
  BaseContainer data;
  Int32 flags = 0;
};

// The notify list: a spin-lock word and the entries (capacity 8 at the first append, doubled).
class NotifyList {
 public:
  NotifyList() = default;
  ~NotifyList() { Flush(); }
  NotifyList(const NotifyList&) = delete;
  NotifyList& operator=(const NotifyList&) = delete;

  void Flush();
  Int32 GetCount() const { return _entries.GetCount(); }
  NotifyData* Get(Int32 i) const { return _entries[i]; }
  // A new entry with an empty link; null when out of memory.
  NotifyData* Append(Int32 id, Int32 flags);
  // Takes both spin locks (this list's, then dest's), empties dest and copies the entries the
  // flags select (COPYFLAGS_NOTIFY_MARKED: flag 0x800; otherwise any of 0x1C00 and also 0x400
  // with COPYFLAGS_NOTIFY_ALTERNATE, 0x1000 without). False when out of memory.
  bool CopyTo(NotifyList* dest, COPYFLAGS flags, AliasTrans* trans);
  // Int32 count; per entry Int32 flags, Int32 id, container, link.
  bool Write(HyperFile* hf) const;
  // Appends the entries read; out of memory sets FILEERROR_OUTOFMEMORY.
  bool Read(HyperFile* hf);

 private:
  void Lock();
  void Unlock();

  volatile Int32 _lock = 0;
  DynamicArrayBase<NotifyData*, 8> _entries;
};

class BaseList2D : public GeListNode {
 public:
  explicit BaseList2D(Int32 typeId = 0);
  // For a node whose marker a file is about to give: none is drawn (the marker stays zero)
  // until DrawMarker.
  struct NoMarker {};
  BaseList2D(Int32 typeId, NoMarker);
  void DrawMarker() { GeGetNewMarker(_marker); }
  ~BaseList2D() override;

  // True for 0, 110050 and the node's own type id.
  bool IsInstanceOf(Int32 id) const override;
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  // Keeps the chunk as it stands; Write puts it back after the node's list-node chunk.
  bool KeepUnknownChunk(HyperFile* hf, Int32 id, Int32 level) override;
  Int32 GetType() const override { return _typeId; }
  Int32 GetInstanceType() const override { return TYPE_BASELIST2D; }
  bool Write(HyperFile* hf) override;
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;
  // 898: the node link; 900: the name; otherwise the node data, then the container.
  bool GetDParameter(const DescID& id, GeData& out) override;
  // The node data, then the container (898 and 900 land in the container).
  bool SetDParameter(const DescID& id, const GeData& value) override;
  GeListNode* GetClone(COPYFLAGS, AliasTrans*) override { return nullptr; }
  bool TranslateDescID(const DescID& id, DescID& out, GeListNode*& node) override;
  bool IsBaseList() const override { return true; }
  Int32 GetDiskType() const override { return GetType(); }
  GeToolNode2D* Remove() override { return GeListNode::Remove(); }

  // Track hooks (see the file comment): the animated parameter, or null for a node that is no
  // track; and the track's synchronisation flag.
  virtual const DescID* GetTrackDescID() const { return nullptr; }
  virtual void SetTrackSynchronized(bool) {}
  // Whether the node rotates by quaternions, for the track rules of objects (a rotation track
  // of such an object is synchronised when inserted). Here: parameter 929 read through
  // GetDParameter is a non-zero Int32; false when the read fails. Object classes may answer
  // from their own state.
  virtual bool UsesQuaternionRotation();
  // For link paths ('D', 'G'): the first object of the node's deform cache when it has one, else
  // of its cache; null for nodes without caches (objects override it).
  virtual BaseList2D* GetLinkPathCache() const { return nullptr; }

  // ---- fields ----

  void SetName(const String& name) { _name = name; }
  const String& GetName() const { return _name; }
  void SetID(Int32 typeId) { _typeId = typeId; }
  const GeMarker& GetMarker() const { return _marker; }
  void SetMarker(const GeMarker& marker) { _marker = marker; }
  void SetBit(Int32 mask) { _bits |= mask; }
  void DelBit(Int32 mask) { _bits &= ~mask; }
  bool GetBit(Int32 mask) const { return (_bits & mask) != 0; }
  void SetAllBits(Int32 bits) { _bits = bits; }
  Int32 GetAllBits() const { return _bits; }
  BaseContainer* GetDataInstance() { return &_data; }
  const BaseContainer* GetDataInstance() const { return &_data; }
  BaseContainer& GetDataInstanceRef() { return _data; }
  const BaseContainer& GetDataInstanceRef() const { return _data; }
  BaseLink& GetNodeLink() { return _nodeLink; }
  const BaseLink& GetNodeLink() const { return _nodeLink; }
  // The dynamic description (user-added parameters).
  BaseContainer& GetDescription() { return _description; }

  // Attaches data (owned from now on); a different data already attached is freed first
  // (Free, then destroyed). Attaching the same pointer again changes nothing.
  void SetNodeData(NodeData* data);
  NodeData* GetNodeData() const { return _nodeData; }

  // ---- unique ids, notify entries, stores ----

  // Null when the node has none.
  UniqueIDArray* GetUniqueIDs() const { return _uniqueIds; }
  // Adds an entry (creating the array); false when out of memory.
  bool AddUniqueID(Int32 appId, const void* bytes, Int64 length);
  // Null until needed.
  NotifyList* GetNotifyList() const { return _notifyList; }
  // The list, created when missing; null when out of memory.
  NotifyList* MakeNotifyList();
  DescIdStore*& GetRuntimeStore() { return _runtimeStore; }
  DescIdStore*& GetSavedStore() { return _savedStore; }

  // ---- attached lists ----

  // The list of that kind, created when create is set and the kind's family is installed;
  // otherwise null while it does not exist.
  RootList2D* GetAttachedList(ATTACHEDLIST which, bool create = false);
  // Whether the list of that kind has members or raw bytes kept from a file.
  bool HasAttachedList(ATTACHEDLIST which) const;
  // The first override (member of the override list), or null.
  BaseList2D* GetFirstOverride() const;

  // Defined by the track family (animation): the first track, the first track whose id starts
  // with id, and sorted insertion.
  CTrack* GetFirstCTrack() const;
  CTrack* FindCTrack(const DescID& id) const;
  bool InsertTrackSorted(CTrack* track);
  // Defined by the shader family: into the first shader list after pred, or at the front.
  bool InsertShader(BaseShader* shader, BaseShader* pred);

  // The first member of the track list whose animated id starts with id (level ids compared;
  // tracks with an empty id are passed over); null when none.
  BaseList2D* _FindTrack(const DescID& id) const;
  // Inserts track (in no list) into the track list, before the first track that sorts after
  // it, or at the end (see doc/scene-format.md for the order). False when the track list cannot
  // be had (no track family installed, out of memory) or track is no track.
  bool _InsertTrackSorted(BaseList2D* track);
  // Inserts shader into the first shader list after pred (or at the front).
  bool _InsertShader(BaseList2D* shader, BaseList2D* pred);

  // The node's container is saved, flushed, data initialised and the saved values merged
  // back, so that the values already in the container win over the defaults Init sets. False
  // when Init or the merge fails.
  bool InitDataKeepingContainer(NodeData* data);

  // The chunks of the node no class took.
  Int32 GetKeptChunkCount() const { return _attached != nullptr ? _attached->kept.GetCount() : 0; }

  BaseList2D* GetNext() const { return static_cast<BaseList2D*>(GeListNode::GetNext()); }
  BaseList2D* GetPred() const { return static_cast<BaseList2D*>(GeListNode::GetPred()); }

  // The header chunks (CHUNK_BASELIST2D, then CHUNK_GELISTNODE) as the current version writes
  // them for a node with no container entries, name, link, goal, description, notify entries
  // or stored ids (a key, mostly): what a node as constructed does not have already.
  struct PlainHeader {
    Int32 bits;
    Int32 containerId;
    UChar marker[GeMarker::SIZE];
    UInt32 nbits[4];
  };
  // Reads such chunks from span into *header; false for anything else (see HyperFileSpan).
  static bool ReadPlainHeader(HyperFile* hf, HyperFileSpan* span, PlainHeader* header);
  // Gives a node as constructed what the general reader gives it for those chunks.
  void TakePlainHeader(const PlainHeader& header);
  // The same chunks as a fixed run, exactly as this library writes them (the members that
  // ReadPlainHeader lets vary beyond that make Match fail, and the caller fall back to it):
  // AddPlainHeader appends them to layout, PlainHeaderAt reads a run Match found.
  struct PlainHeaderOffsets {
    Int32 bits, containerId, marker, nbits[4];
  };
  static void AddPlainHeader(HyperFileLayout* layout, PlainHeaderOffsets* at);
  static void PlainHeaderAt(const HyperFileSpan& span, const UChar* run,
                            const PlainHeaderOffsets& at, PlainHeader* header);

 private:
  struct RawList {
    void* bytes = nullptr;
    Int64 size = 0;
    Int32 level = 0;
    Int32 layout = 0;  // HyperFile::GetRawLayout of the stream read
    bool present = false;
  };
  // The attached lists, their chunks kept raw and the chunks no class took: what most nodes
  // (keys, tags) never have, held apart so that a node takes a third less memory. Made when
  // first needed.
  struct Attached {
    RootList2D* lists[ATTACHEDLIST_COUNT] = {};
    RawList raw[ATTACHEDLIST_COUNT];
    KeptChunks kept;
  };
  RootList2D* ListAt(ATTACHEDLIST which) const {
    return _attached != nullptr ? _attached->lists[which] : nullptr;
  }
  // The attached part, made when missing; null when out of memory.
  Attached* MakeAttached();

  bool Read110050(HyperFile* hf, Int32 level);
  bool ReadUniqueIDs(HyperFile* hf);
  bool ReadChildren(HyperFile* hf);
  bool ReadAttachedList(HyperFile* hf, ATTACHEDLIST which, Int32 level);
  bool WriteAttachedList(HyperFile* hf, ATTACHEDLIST which);
  bool CopyAttachedList(BaseList2D* dest, ATTACHEDLIST which, COPYFLAGS flags, AliasTrans* trans);
  void FreeAttachedList(ATTACHEDLIST which);
  void FreeRawList(ATTACHEDLIST which);

  String _name;
  BaseLink _nodeLink;
  GeMarker _marker;
  UniqueIDArray* _uniqueIds = nullptr;
  BaseContainer _description;
  Int32 _typeId = 0;
  Attached* _attached = nullptr;
  Int32 _bits = 0;
  NotifyList* _notifyList = nullptr;
  DescIdStore* _runtimeStore = nullptr;
  DescIdStore* _savedStore = nullptr;
  BaseContainer _data;
  NodeData* _nodeData = nullptr;
};

}  // namespace lumora

#endif  // LUM_BASELIST2D_H
