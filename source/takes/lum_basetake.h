// BaseTake: a take, one named variation of a scene. Takes form a tree of plug-in nodes (type
// TYPE_TAKE) under the main take; a take's first plug-in data slot holds its BaseTakeData, which
// keeps the take's flags, its override folders and groups, and answers the camera and
// render-settings parameters. The take's container holds its overrides (an include/exclude list,
// TAKE_OVERRIDES) and the links to its camera and render settings.
//
// Take nodes are plain plug-in nodes: a node read from a file only learns that it is a take
// from its plug-in data. BaseTake is therefore not a node class but the take face of such a
// node, owned by the node's take data: BaseTake::From finds it, GetNode leads back, and two
// pointers to the same take compare equal. A take's face lives as long as its node's data.
#ifndef LUM_BASETAKE_H
#define LUM_BASETAKE_H

#include "scene/lum_pluginnode.h"

namespace lumora {

class BaseDocument;
class BaseOverride;
class BaseTakeData;
class TakeData;

// Plug-in types of the take system, and the take-system scene hook.
constexpr Int32 TYPE_TAKE = 431000054;
constexpr Int32 TYPE_OVERRIDE = 431000051;
constexpr Int32 TYPE_TAKEFOLDER = 431000073;
constexpr Int32 TYPE_OVERRIDEGROUP = 431000075;
constexpr Int32 ID_TAKESYSTEMHOOK = 431000055;

// Container entries and parameters of a take node.
enum : Int32 {
  TAKE_CAMERA_LINK = 10002,      // link to the take's camera
  TAKE_RENDERDATA_LINK = 10003,  // link to the take's render settings
  TAKE_CAMERA = 10004,           // parameter: the camera choice (see BaseTakeData)
  TAKE_RENDERDATA = 10005,       // parameter: the render-settings choice
  TAKE_OVERRIDES = 20000,        // include/exclude list of the take's override nodes
};

class BaseTake {
 public:
  BaseTake(const BaseTake&) = delete;
  BaseTake& operator=(const BaseTake&) = delete;

  // The take of node: node is a plug-in node whose first slot holds take data. Null otherwise.
  static BaseTake* From(GeListNode* node);
  // A new take node, in no list, its data initialised (seven override folders); null when out
  // of memory. Free destroys the node (and with it the take).
  static BaseTake* Alloc();
  static void Free(BaseTake*& take);

  PluginNode* GetNode() const;
  BaseTakeData* GetTakeData() const { return _data; }

  // The neighbours in the take tree; null where the node there is no take.
  BaseTake* GetUp() const;
  BaseTake* GetDown() const;
  BaseTake* GetNext() const;
  BaseTake* GetPred() const;

  bool IsMain() const;
  // True when t is this take or one of its ancestors.
  bool SearchHierarchy(const BaseTake* t) const;
  // The camera link (TAKE_CAMERA_LINK) when it leads to a camera, else null.
  BaseList2D* GetCamera(TakeData* takeData) const;
  // The render-settings link (TAKE_RENDERDATA_LINK), or null.
  BaseList2D* GetRenderData(TakeData* takeData) const;
  // This take's override of node: null without take data, node or document. The override
  // TakeData::FindOverride finds among node's overrides, provided that node has no document or
  // this take's own override list leads to the same override.
  BaseOverride* FindOverride(TakeData* takeData, BaseList2D* node) const;

 private:
  friend class BaseTakeData;
  explicit BaseTake(BaseTakeData* data) : _data(data) {}

  BaseTakeData* _data;
};

}  // namespace lumora

#endif  // LUM_BASETAKE_H
