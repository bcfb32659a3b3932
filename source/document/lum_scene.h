// Scene: a whole scene file in one call. A Scene owns a document, the list of objects, the
// document's render settings and its take system (the take-system hook with its main take), so
// that nothing it hands out outlives what it points to.
//
//   lumora::Scene scene;
//   lumora::FileErrorInfo error;
//   if (!scene.Read(lumora::Filename("in.lum"), &error)) std::puts(error.Describe());
//   for (lumora::BaseObject* o = scene.GetFirstObject(); o; o = o->GetNext()) { ... }
//
// The file's layout is in doc/scene-format.md: top-level chunks, one per part (a header, the
// objects, the render settings, the takes), and whatever top-level chunks this reader does not
// know, kept and written back unchanged. A file that holds only a list of objects written with
// WriteObject(hf, 1) reads as a scene of those objects.
//
// Every read of one file goes through one alias translation, resolved when the file is done,
// so links from one part to another (a take's camera, an override's node) reconnect.
#ifndef LUM_SCENE_H
#define LUM_SCENE_H

#include "foundation/lum_filename.h"
#include "lum_array.h"
#include "lum_types.h"
#include "objects/lum_baseobject.h"
#include "scene/lum_basedocument.h"
#include "stream/lum_fileerror.h"
#include "takes/lum_takesystemhook.h"

namespace lumora {

// Top-level chunk ids of a scene file.
constexpr Int32 SCENECHUNK_OBJECTS = 1;  // the object list, as WriteObject(hf, 1) writes it
constexpr Int32 SCENECHUNK_RENDERDATA = 2;
constexpr Int32 SCENECHUNK_TAKES = 3;
constexpr Int32 SCENECHUNK_HEADER = 0x4C534345;  // "LSCE"
// The header's level and the format version it carries.
constexpr Int32 SCENE_FORMAT_VERSION = 1;

class Scene {
 public:
  // An empty scene: a document with a take system and its main take, no objects, no render
  // settings. When memory runs out the getters give null and Read fails.
  Scene();
  // The objects go before the document they point at.
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  // Replaces the whole content with the file's. On failure the scene is left empty, error
  // (when given) says why and where, and nothing leaks.
  bool Read(const Filename& name, FileErrorInfo* error = nullptr);
  // Writes to a temporary file beside name and renames it over name, so that a failed write
  // leaves the old file whole and no partial file behind. A symbolic link at name is written
  // through. A memory file (Filename::SetMemoryTarget) is written in place.
  bool Write(const Filename& name, FileErrorInfo* error = nullptr) const;
  // Back to the empty scene of the constructor.
  void Clear();

  BaseDocument* GetDocument() { return _doc; }
  const BaseDocument* GetDocument() const { return _doc; }
  RootObject* GetObjects() { return _objects; }
  const RootObject* GetObjects() const { return _objects; }
  BaseObject* GetFirstObject() { return _objects != nullptr ? _objects->GetFirst() : nullptr; }
  const BaseObject* GetFirstObject() const {
    return _objects != nullptr ? _objects->GetFirst() : nullptr;
  }
  // The take system's data (GetMainTake, GetCurrentTake ...), or null.
  TakeData* GetTakeData() { return _doc != nullptr ? _doc->GetTakeData() : nullptr; }
  TakeSystemHook* GetTakeSystem() { return TakeSystemHook::Find(_doc); }

  // New render settings (a named node of type 110304) appended to the document's; null when out
  // of memory. The first become the active ones.
  BaseList2D* AddRenderData();

  // Top-level chunks the reader did not know, kept from the last Read.
  Int32 GetKeptChunkCount() const { return _kept.GetCount(); }

  // The stream-level form: the parts written as top-level chunks into an open stream, and read
  // from one up to its end. Read and Write use these.
  bool WriteTo(HyperFile* hf) const;
  bool ReadFrom(HyperFile* hf);

 private:
  struct KeptChunk {
    Int32 id;
    Int32 level;
    void* bytes;
    Int64 size;
  };

  void Release();
  bool Make();
  bool ReadRenderData(HyperFile* hf, BaseLink* active);
  bool ReadTakes(HyperFile* hf);
  bool Keep(HyperFile* hf, Int32 id, Int32 level);

  BaseDocument* _doc = nullptr;
  RootObject* _objects = nullptr;
  BaseArray<KeptChunk> _kept;
};

// The render settings' node type.
constexpr Int32 TYPE_RENDERDATA = 110304;

}  // namespace lumora

#endif  // LUM_SCENE_H
