// BaseDocument: the document nodes belong to. Only what the node readers need lives here: the
// load flags that ask for partial loading, and the alias translation that reconnects links
// while a file is read; and the active render settings the camera reads. The code that opens
// and walks a document is not part of this library.
//
// Nodes may outlive their document: when a document is destroyed, every node that still names
// it (read through it, or inserted under a node of it) simply belongs to no document from then
// on, so GetDocument never returns a destroyed document.
//
// For takes the document also keeps its render view (BaseDraw: the editor and the scene
// camera), its render settings and its scene hooks (the take system's among them); see the
// section at the end of the class.
#ifndef LUM_BASEDOCUMENT_H
#define LUM_BASEDOCUMENT_H

#include "lum_types.h"
#include "scene/lum_baselist2d.h"
#include "scene/lum_rootlist2d.h"

namespace lumora {

class AliasTrans;
class TakeData;

// The document's render view: the camera the editor shows when no scene camera is chosen (the
// editor camera), and the scene camera. Both are held as links, so a destroyed camera leaves
// the view without it.
class BaseDraw {
 public:
  BaseList2D* GetEditorCamera() const { return _editorCamera.GetLink(); }
  // False when out of memory (the view is then without editor camera).
  bool SetEditorCamera(BaseList2D* camera) { return SetTo(_editorCamera, camera); }
  // The scene camera, or null when the view shows the editor camera.
  BaseList2D* GetSceneCamera(const BaseDocument*) const { return _sceneCamera.GetLink(); }
  bool SetSceneCamera(BaseList2D* camera) { return SetTo(_sceneCamera, camera); }

 private:
  static bool SetTo(BaseLink& link, BaseList2D* node) {
    if (node == nullptr) {
      link.Clear();
      return true;
    }
    return link.XSetLink(node->GetAliasGoal());
  }

  BaseLink _editorCamera;
  BaseLink _sceneCamera;
};

// Load flags that end a node's read early.
constexpr Int32 LOADFLAGS_STOP_AT_110015 = 0x800;  // at chunk 110015
constexpr Int32 LOADFLAGS_STOP_AT_110024 = 0x400;  // at chunk 110024 of level 2

class BaseDocument {
 public:
  BaseDocument() = default;
  // Destroys the scene hooks and render settings, then clears the document of every node that
  // still names this one: a node read or inserted through a document may outlive it, and then
  // simply belongs to no document.
  ~BaseDocument();
  BaseDocument(const BaseDocument&) = delete;
  BaseDocument& operator=(const BaseDocument&) = delete;

  Int32 GetLoadFlags() const { return _loadFlags; }
  void SetLoadFlags(Int32 flags) { _loadFlags = flags; }
  // The translation goal and link records of a file being read go through (not owned; null
  // when links are not to be reconnected). The caller resolves it with Zap after the read.
  AliasTrans* GetAliasTrans() const { return _trans; }
  void SetAliasTrans(AliasTrans* trans) { _trans = trans; }

  // ---- render view, render settings and scene hooks ----

  BaseDraw* GetRenderBaseDraw() { return &_renderView; }
  // The first of the document's render settings, or null.
  BaseList2D* GetFirstRenderData() const {
    return static_cast<BaseList2D*>(_renderData.GetFirst());
  }
  // Appends rd (from NewObj, in no list) to the render settings; the document owns it from now
  // on. The first render settings inserted become the active ones.
  // Refused (false) for null or a node already in a list.
  bool InsertRenderDataLast(BaseList2D* rd) {
    if (!_renderData.InsertLast(rd)) return false;
    rd->SetDocument(this);
    if (GetActiveRenderData() == nullptr) SetActiveRenderData(rd);
    return true;
  }
  // The active render settings; null when none are set or they were destroyed.
  BaseList2D* GetActiveRenderData() const { return _activeRenderData.GetLink(); }
  // False when out of memory. Null clears.
  bool SetActiveRenderData(BaseList2D* rd) {
    if (rd == nullptr) {
      _activeRenderData.Clear();
      return true;
    }
    return _activeRenderData.XSetLink(rd->GetAliasGoal());
  }
  // The first scene hook of that type, or null.
  BaseList2D* FindSceneHook(Int32 type) const {
    for (GeListNode* h = _sceneHooks.GetFirst(); h != nullptr; h = h->GetNext())
      if (h->GetType() == type) return static_cast<BaseList2D*>(h);
    return nullptr;
  }
  // Appends hook (from NewObj, in no list); the document owns it from now on.
  // Refused (false) for null or a node already in a list.
  bool InsertSceneHook(BaseList2D* hook) {
    if (!_sceneHooks.InsertLast(hook)) return false;
    hook->SetDocument(this);
    return true;
  }
  // The take data of the document's take-system hook, or null without the hook. Defined by
  // the takes family.
  TakeData* GetTakeData() const;

 private:
  friend class GeListNode;

  Int32 _loadFlags = 0;
  AliasTrans* _trans = nullptr;
  // The cell the nodes that name this document hold, made when the first one does; null
  // until then, or when it could not be allocated.
  GeListDocumentCell* _cell = nullptr;
  GeListDocumentCell* Cell();
  // Destroyed in reverse order: the hooks (and the takes in them) before the render settings.
  BaseDraw _renderView;
  BaseLink _activeRenderData;
  RootList2D _renderData;
  RootList2D _sceneHooks;
};

}  // namespace lumora

#endif  // LUM_BASEDOCUMENT_H
