// BaseDocument: the document nodes belong to. Only what the node readers need lives here: the
// load flags that ask for partial loading, and the alias translation that reconnects links
// while a file is read; and the active render settings the camera reads. The code that opens
// and walks a document is not part of this library.
#ifndef LUM_BASEDOCUMENT_H
#define LUM_BASEDOCUMENT_H

#include "lum_types.h"

namespace lumora {

class AliasTrans;
class BaseList2D;

// Load flags that end a node's read early.
constexpr Int32 LOADFLAGS_STOP_AT_110015 = 0x800;  // at chunk 110015
constexpr Int32 LOADFLAGS_STOP_AT_110024 = 0x400;  // at chunk 110024 of level 2

class BaseDocument {
 public:
  BaseDocument() = default;
  BaseDocument(const BaseDocument&) = delete;
  BaseDocument& operator=(const BaseDocument&) = delete;

  Int32 GetLoadFlags() const { return _loadFlags; }
  void SetLoadFlags(Int32 flags) { _loadFlags = flags; }
  // The translation goal and link records of a file being read go through (not owned; null
  // when links are not to be reconnected). The caller resolves it with Zap after the read.
  AliasTrans* GetAliasTrans() const { return _trans; }
  void SetAliasTrans(AliasTrans* trans) { _trans = trans; }
  // The active render settings: a node whose container holds them (not owned; null when the
  // document has none). The camera's render-corrected field of view reads them.
  BaseList2D* GetActiveRenderData() const { return _activeRenderData; }
  void SetActiveRenderData(BaseList2D* renderData) { _activeRenderData = renderData; }

 private:
  Int32 _loadFlags = 0;
  AliasTrans* _trans = nullptr;
  BaseList2D* _activeRenderData = nullptr;
};

}  // namespace lumora

#endif  // LUM_BASEDOCUMENT_H
