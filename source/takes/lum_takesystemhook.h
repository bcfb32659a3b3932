// The document's take system: TakeSystemHook, the scene hook (ID_TAKESYSTEMHOOK) that owns the
// take tree and keeps the current take and the cameras and render settings takes choose from;
// and TakeData, the per-document access object the hook hands out
// (BaseDocument::GetTakeData).
//
// The take tree is written and read as nodes. What the hook adds to it (the current take and
// the cameras and render settings takes choose from) is written as link records by WriteLinks
// and read back by ReadLinks, for a scene file to store beside the take tree.
#ifndef LUM_TAKESYSTEMHOOK_H
#define LUM_TAKESYSTEMHOOK_H

#include "lum_array.h"
#include "scene/lum_basedocument.h"
#include "takes/lum_basetakedata.h"

namespace lumora {

class TakeSystemHook;

class TakeData {
 public:
  TakeData() = default;
  TakeData(const TakeData&) = delete;
  TakeData& operator=(const TakeData&) = delete;

  // False for null (the document stays as it was).
  bool Set(BaseDocument* doc);
  BaseDocument* GetDocument() const { return _doc; }
  // Null without document or take-system hook.
  BaseTake* GetCurrentTake() const;
  // Walks node's override list from its first member: the first override whose take is take;
  // null at the first override without a take, or at the end.
  BaseOverride* FindOverride(BaseTake* take, BaseList2D* node) const;

  // This library's additions: the hook's main take, and choosing the current take.
  BaseTake* GetMainTake() const;
  bool SetCurrentTake(BaseTake* take);

 private:
  TakeSystemHook* GetHook() const;

  BaseDocument* _doc = nullptr;
};

class TakeSystemHook : public BaseList2D {
 public:
  TakeSystemHook();
  ~TakeSystemHook() override;

  // A new hook with a main take (named "Main", the current take), inserted into doc's scene
  // hooks; null when out of memory or doc is null.
  static TakeSystemHook* Alloc(BaseDocument* doc);
  // The document's hook, or null.
  static TakeSystemHook* Find(const BaseDocument* doc);

  Int32 GetInstanceType() const override { return ID_TAKESYSTEMHOOK; }

  TakeData* GetTakeData() { return &_takeData; }
  // The list that holds the main take (owner: the hook).
  RootPluginNode* GetTakeList() const { return _takes; }
  BaseTake* GetMainTake() const;
  BaseTake* GetCurrentTake() const { return BaseTake::From(_current.GetLink()); }
  // False when out of memory. Null clears.
  bool SetCurrentTake(BaseTake* take);

  // The cameras and render settings takes choose from (links; a destroyed node leaves an
  // entry that resolves to null).
  Int32 GetCameraCount() const { return _cameras.GetCount(); }
  BaseList2D* GetCamera(Int32 i) const;
  // The index of camera, or -1.
  Int32 FindCamera(const BaseList2D* camera) const;
  bool AddCamera(BaseList2D* camera);
  Int32 GetRenderDataCount() const { return _renderData.GetCount(); }
  BaseList2D* GetRenderData(Int32 i) const;
  Int32 FindRenderData(const BaseList2D* rd) const;
  bool AddRenderData(BaseList2D* rd);

  // The current take's link record, then Int32 count and link records of the cameras, then
  // the same for the render settings.
  bool WriteLinks(HyperFile* hf) const;
  // Replaces the current take, cameras and render settings with those read; the links
  // reconnect through the file document's alias translation (a camera read before or after).
  // False when the stream fails or memory runs out.
  bool ReadLinks(HyperFile* hf);

 private:
  TakeData _takeData;
  RootPluginNode* _takes = nullptr;
  BaseLink _current;
  BaseArray<BaseLink*> _cameras;     // owned
  BaseArray<BaseLink*> _renderData;  // owned
};

}  // namespace lumora

#endif  // LUM_TAKESYSTEMHOOK_H
