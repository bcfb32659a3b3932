// BaseTakeData: the plug-in data of a take (chunk level 2): the main flag, the override folders
// and the override groups, the camera and render-settings choice, and the search of the take's
// own override list. TakeFolderData and OverrideGroupData are the data of the folder and group
// nodes. The records are in doc/scene-format.md.
#ifndef LUM_BASETAKEDATA_H
#define LUM_BASETAKEDATA_H

#include "takes/lum_baseoverride.h"
#include "values/datatypes/lum_inexclude.h"

namespace lumora {

// Folder kinds (container entry 10000 of a folder; 10001 holds the node type it collects).
enum : Int32 {
  TAKEFOLDER_NONE = 0,
  TAKEFOLDER_OBJECT = 1,
  TAKEFOLDER_TAG = 2,
  TAKEFOLDER_SHADER = 3,
  TAKEFOLDER_MATERIAL = 4,
  TAKEFOLDER_LAYER = 5,
  TAKEFOLDER_OTHER = 6,
};
constexpr Int32 TAKEFOLDER_KIND = 10000;
constexpr Int32 TAKEFOLDER_NODETYPE = 10001;
// Container entry of an override group: the include/exclude list of its members.
constexpr Int32 OVERRIDEGROUP_MEMBERS = 1000;

// The list of a take's folders or groups: plug-in nodes, owned by the take, with a display
// name.
class TakeNodeList : public RootPluginNode {
 public:
  TakeNodeList() = default;
  ~TakeNodeList() override = default;

  const String& GetName() const { return _name; }
  void SetName(const String& name) { _name = name; }

 private:
  String _name;
};

// The data of a folder node: no state of its own. Bytes a file holds in its chunk are kept and
// written back.
class TakeFolderData : public RawNodeData {
 public:
  explicit TakeFolderData(Int32 type = TYPE_TAKEFOLDER) : RawNodeData(type) {}
  bool IsInstanceOf(Int32 id) const override { return id == 0 || id == TYPE_TAKEFOLDER; }
};

// The data of an override group (chunk level 3 when made here; a file's level and bytes are
// kept). Init gives the node an empty member list.
class OverrideGroupData : public RawNodeData {
 public:
  explicit OverrideGroupData(Int32 type = TYPE_OVERRIDEGROUP) : RawNodeData(type) {}
  bool IsInstanceOf(Int32 id) const override { return id == 0 || id == TYPE_OVERRIDEGROUP; }
  bool Init() override;
  Int32 GetChunkLevel() const override { return _read ? RawNodeData::GetChunkLevel() : 3; }
  bool Read(HyperFile* hf, Int32 id, Int32 level) override;
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;

 private:
  bool _read = false;
};

class BaseTakeData : public NodeData {
 public:
  BaseTakeData();
  ~BaseTakeData() override;

  bool IsInstanceOf(Int32 id) const override { return id == 0 || id == TYPE_TAKE; }
  Int32 GetType() const override { return TYPE_TAKE; }
  Int32 GetChunkLevel() const override { return 2; }
  // Container TAKE_OVERRIDES := an empty list, the two lists made (owner: the take), then the
  // folders of kinds 0 to 6. False when anything fails or the data is attached to no node.
  bool Init() override;
  // Bool main; from level 1 on, the folder list and the group list (each an object with its
  // header).
  bool Read(HyperFile* hf, Int32 id, Int32 level) override;
  // Bool main; the folder list as object 0; the group list as object 431000075.
  bool Write(HyperFile* hf) override;
  // The main flag and copies of both lists (flags and trans passed on). dest must be take data.
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;
  // TAKE_CAMERA: 0 without camera link, 1 for the render view's editor camera, i + 2 for the
  // take-system hook's i-th camera; a camera in neither leaves out untouched (true).
  // TAKE_RENDERDATA: 0 without link, i + 1 for the hook's i-th render settings, otherwise out
  // untouched. Both false when the take has no document; other ids false.
  bool GetDParameter(const DescID& id, GeData& out) override;
  // TAKE_CAMERA: 0 clears, 1 the editor camera, i + 2 the hook's i-th camera (SetCamera; an
  // index outside the hook's list changes nothing). TAKE_RENDERDATA: 0 clears, i + 1 the hook's
  // i-th render settings (SetRenderData). False without document; other ids false.
  bool SetDParameter(const DescID& id, const GeData& value) override;

  BaseTake* GetTake() { return &_take; }
  bool IsMain() const { return _main; }
  void SetMain(bool main) { _main = main; }
  // Null only before Init.
  TakeNodeList* GetFolders() const { return _folders; }
  TakeNodeList* GetGroups() const { return _groups; }
  // The take's override list (container TAKE_OVERRIDES), or null.
  InExcludeData* GetOverrideList() const;

  // A new folder of kind (see the table in doc/scene-format.md): kind 0 is appended to the
  // folder list; any other kind goes first under the first "None" folder (made when missing).
  // Null when out of memory.
  PluginNode* AddFolder(Int32 kind);
  // Stores the camera link (null clears it). When this take is the current take or one of its
  // ancestors, the render view follows: its scene camera becomes the first camera found from
  // the current take up to the main take, or none when that is the editor camera or there is
  // none. False when out of memory.
  bool SetCamera(TakeData* takeData, BaseList2D* camera);
  // Stores the render-settings link (null clears it). When this take is the current take or one
  // of its ancestors, the document's active render settings become the first found from the
  // current take up, else the document's first. False when out of memory.
  bool SetRenderData(TakeData* takeData, BaseList2D* rd);
  // Walks the override list in order: the override whose main node is node; null at the first
  // entry that resolves to no override with a main node, or at the end.
  BaseOverride* FindOverride(BaseDocument* doc, BaseList2D* node) const;
  // This take's override of node (an override in node's override list whose take is this
  // one); when there is none, a new one is appended to node's override list and to this take's
  // override list. Null when out of memory or node is null.
  BaseOverride* AddOverride(BaseList2D* node);

 private:
  bool MakeLists();
  BaseDocument* GetDocument() const;
  // The effective camera or render settings of the take walk from the current take up.
  void Propagate(TakeData* takeData, bool camera);

  BaseTake _take;
  bool _main = false;
  TakeNodeList* _folders = nullptr;
  TakeNodeList* _groups = nullptr;
};

}  // namespace lumora

#endif  // LUM_BASETAKEDATA_H
