// Scene: whole scene files (see lum_scene.h and doc/scene-format.md).
#include "document/lum_scene.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"
#include "values/lum_baselink.h"

namespace lumora {
namespace {

// The render settings as a list: members of any type are named nodes of that type.
class RenderDataList : public RootList2D {
 public:
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override {
    if (RootList2D::HandleSubChunk(hf, id, level)) return true;
    if (id == CHUNK_GELISTNODE) return false;
    return AppendRead(hf, NewObj<BaseList2D>(id));
  }
};

bool ReadStart(HyperFile* hf, Int32* id, Int32* level) {
  return hf->CheckIt(HYPERFILEVALUE_CHUNKSTART) && hf->ReadChunkStart(id, level);
}

bool LocalPath(const Filename& name, char* out, size_t size) {
  const Int32 n = name.GetString().GetCString(out, static_cast<Int32>(size), STRINGENCODING_UTF8);
  return n > 0 && static_cast<size_t>(n) < size - 1 && out[0] != 0;
}

}  // namespace

Scene::Scene() { Make(); }

Scene::~Scene() { Release(); }

void Scene::Release() {
  for (KeptChunk& k : _kept) MemFree(k.bytes);
  _kept.Flush();
  RootObject::Free(_objects);
  DeleteObj(_doc);
}

bool Scene::Make() {
  _doc = NewObj<BaseDocument>();
  _objects = ::AllocAlienRootObject();
  if (_doc == nullptr || _objects == nullptr || TakeSystemHook::Alloc(_doc) == nullptr) {
    Release();
    return false;
  }
  return true;
}

void Scene::Clear() {
  Release();
  Make();
}

BaseList2D* Scene::AddRenderData() {
  if (_doc == nullptr) return nullptr;
  BaseList2D* rd = NewObj<BaseList2D>(TYPE_RENDERDATA);
  _doc->InsertRenderDataLast(rd);
  return rd;
}

// ---- writing ----

bool Scene::WriteTo(HyperFile* hf) const {
  if (_doc == nullptr || _objects == nullptr) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  if (!hf->WriteChunkStart(SCENECHUNK_HEADER, SCENE_FORMAT_VERSION) ||
      !hf->WriteInt32(SCENE_FORMAT_VERSION) || !hf->WriteChunkEnd())
    return false;
  if (!_objects->WriteObject(hf, SCENECHUNK_OBJECTS)) return false;

  // Render settings: the list, then the active ones as a link.
  if (!hf->WriteChunkStart(SCENECHUNK_RENDERDATA, 0) || !hf->WriteChunkStart(1, 0) ||
      !hf->WriteChunkStart(CHUNK_NODELIST, 0))
    return false;
  for (BaseList2D* rd = _doc->GetFirstRenderData(); rd != nullptr;
       rd = static_cast<BaseList2D*>(rd->GetNext()))
    if (!rd->WriteObject(hf, rd->GetDiskType())) return false;
  BaseLink active;
  if (BaseList2D* rd = _doc->GetActiveRenderData()) active.SetLink(rd);
  if (!hf->WriteChunkEnd() || !hf->WriteChunkEnd() || !active.Write(hf) || !hf->WriteChunkEnd())
    return false;

  // Takes: the take tree, then the hook's links.
  TakeSystemHook* hook = TakeSystemHook::Find(_doc);
  if (hook != nullptr) {
    if (!hf->WriteChunkStart(SCENECHUNK_TAKES, 0) || !hook->GetTakeList()->WriteObject(hf, 1) ||
        !hook->WriteLinks(hf) || !hf->WriteChunkEnd())
      return false;
  }
  for (const KeptChunk& k : _kept) {
    if (!hf->WriteChunkStart(k.id, k.level) || !hf->WriteUnknownChunk(k.bytes, k.size, false))
      return false;
  }
  return true;
}

bool Scene::Write(const Filename& name, FileErrorInfo* error) const {
  FileErrorInfo local;
  FileErrorInfo& err = error != nullptr ? *error : local;
  err.Clear();
  err.name = name;
  // A memory file has nothing to replace: it is written in place.
  if (name.GetMemoryFile() != nullptr) {
    HyperFile hf;
    bool ok = hf.Open(name, FILEOPEN_WRITE) && WriteTo(&hf);
    ok = hf.Close() && ok;
    if (!ok) err.Set(hf, name);
    return ok;
  }
  char path[PATH_MAX];
  char target[PATH_MAX];
  if (!LocalPath(name, path, sizeof path)) {
    err.code = FILEERROR_INVALID;
    return false;
  }
  // A symbolic link stays and the file it names is replaced; a new file gets the mode a plain
  // create would give it, an existing one keeps its own.
  struct stat st;
  const bool exists = stat(path, &st) == 0;
  if (exists && realpath(path, target) != nullptr) {
  } else {
    std::snprintf(target, sizeof target, "%s", path);
  }
  mode_t mode = exists ? (st.st_mode & 07777) : 0;
  if (!exists) {
    mode = umask(0);
    umask(mode);
    mode = 0666 & ~mode;
  }
  static const char kTemporary[] = ".lumora-scene-XXXXXX";
  const char* slash = std::strrchr(target, '/');
  const size_t dir = slash != nullptr ? static_cast<size_t>(slash - target) + 1 : 0;
  char temp[PATH_MAX + sizeof kTemporary];
  std::memcpy(temp, target, dir);
  std::memcpy(temp + dir, kTemporary, sizeof kTemporary);
  const int fd = mkstemp(temp);
  if (fd < 0) {
    err.Set(FILEERROR_OPEN, 0, errno, name);
    return false;
  }
  fchmod(fd, mode);
  close(fd);

  HyperFile hf;
  bool ok = hf.Open(Filename(temp), FILEOPEN_WRITE) && WriteTo(&hf);
  ok = hf.Close() && ok;
  if (!ok) {
    err.Set(hf, name);
    if (err.code == FILEERROR_NONE) err.code = FILEERROR_WRITE;
    unlink(temp);
    return false;
  }
  if (rename(temp, target) != 0) {
    err.Set(FILEERROR_WRITE, 0, errno, name);
    unlink(temp);
    return false;
  }
  return true;
}

// ---- reading ----

bool Scene::Keep(HyperFile* hf, Int32 id, Int32 level) {
  KeptChunk k{id, level, nullptr, 0};
  if (!hf->ReadUnknownChunk(&k.bytes, &k.size, false)) return false;
  if (!_kept.Append(k)) {
    MemFree(k.bytes);
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  return true;
}

// active receives the link to the active settings; it resolves once the whole file is read.
bool Scene::ReadRenderData(HyperFile* hf, BaseLink* active) {
  RenderDataList list;
  Int32 id = 0, level = 0;
  if (!ReadStart(hf, &id, &level) || !list.ReadObject(hf, false)) return false;
  while (GeListNode* m = list.GetFirst()) {
    m->Remove();
    _doc->InsertRenderDataLast(static_cast<BaseList2D*>(m));
  }
  return active->Read(hf) && hf->SkipToEndChunk();
}

bool Scene::ReadTakes(HyperFile* hf) {
  TakeSystemHook* hook = TakeSystemHook::Find(_doc);
  Int32 id = 0, level = 0;
  if (hook == nullptr) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  return ReadStart(hf, &id, &level) && hook->GetTakeList()->ReadObject(hf, false) &&
         hook->ReadLinks(hf) && hf->SkipToEndChunk();
}

bool Scene::ReadFrom(HyperFile* hf) {
  if (_doc == nullptr || _objects == nullptr) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  AliasTrans trans;
  if (!trans.Init()) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  AliasTrans* before = _doc->GetAliasTrans();
  BaseDocument* beforeDoc = hf->GetDocument();
  _doc->SetAliasTrans(&trans);
  hf->SetDocument(_doc);
  BaseLink active;
  bool haveActive = false;
  bool ok = true;
  while (ok && hf->GetPosition() < hf->GetLength()) {
    Int32 id = 0, level = 0;
    ok = ReadStart(hf, &id, &level);
    if (!ok) break;
    switch (id) {
      case SCENECHUNK_HEADER:
        ok = hf->SkipToEndChunk();
        break;
      case SCENECHUNK_OBJECTS:
        ok = _objects->ReadObject(hf, false);
        break;
      case SCENECHUNK_RENDERDATA:
        ok = ReadRenderData(hf, &active);
        haveActive = true;
        break;
      case SCENECHUNK_TAKES:
        ok = ReadTakes(hf);
        break;
      default:
        ok = Keep(hf, id, level);
        break;
    }
  }
  ok = ok && hf->GetError() == FILEERROR_NONE;
  trans.Zap(true);
  if (ok && haveActive) ok = _doc->SetActiveRenderData(active.GetLink());
  _doc->SetAliasTrans(before);
  hf->SetDocument(beforeDoc);
  return ok;
}

bool Scene::Read(const Filename& name, FileErrorInfo* error) {
  FileErrorInfo local;
  FileErrorInfo& err = error != nullptr ? *error : local;
  err.Clear();
  err.name = name;
  Clear();
  HyperFile hf;
  bool ok = hf.Open(name, FILEOPEN_READ) && ReadFrom(&hf);
  ok = hf.Close() && ok;
  if (!ok) {
    err.Set(hf, name);
    if (err.code == FILEERROR_NONE) err.code = FILEERROR_READ;
    Clear();
  }
  return ok;
}

}  // namespace lumora
