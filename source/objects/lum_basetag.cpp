// BaseTag: the tag node, its kinds, its chunks and copies (see lum_basetag.h).
#include "objects/lum_basetag.h"

#include <cstring>

#include "lum_debug.h"
#include "lum_memory.h"
#include "objects/lum_normaltag.h"
#include "objects/lum_pointtag.h"
#include "objects/lum_polygontag.h"
#include "objects/lum_segmenttag.h"
#include "objects/lum_selectiontag.h"
#include "objects/lum_tangenttag.h"
#include "objects/lum_uvwtag.h"
#include "objects/lum_vertexcolortag.h"
#include "objects/lum_vertexmaptag.h"
#include "scene/lum_rootlist2d.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

const char* const kFile = "source/lum_basetag";
// The last file version whose values have the older layouts.
constexpr Int32 kLastOldValueVersion = 11924;

bool OutOfMemory(HyperFile* hf) {
  if (hf->GetError() == FILEERROR_NONE) hf->SetError(FILEERROR_OUTOFMEMORY);
  return false;
}

// Node ids of tags that are plain BaseTags.
bool IsPlainTag(Int32 type) {
  switch (type) {
    case 5608:
    case 5612:
    case 5629:
    case 5636:
    case 5647:
    case 5675:
    case 5676:
    case 5677:
    case 5679:
    case 5683:
    case 5684:
    case 5690:
    case 5691:
    case 5693:
      return true;
    default:
      return false;
  }
}

// Plug-in tag types that come with their node data.
bool HasOwnData(Int32 type) {
  return type == 1001149 || type == 1017874 || type == 1019365 || type == TAG_POSEMORPH;
}

BaseTag* NewTag(Int32 type) {
  switch (type) {
    case TAG_POINT:
      return NewObj<PointTag>();
    case TAG_POLYGON:
      return NewObj<PolygonTag>();
    case TAG_TANGENT:
      return NewObj<TangentTag>();
    case TAG_UVW:
      return NewObj<UVWTag>();
    case TAG_SEGMENT:
      return NewObj<SegmentTag>();
    case TAG_VERTEXMAP:
      return NewObj<VertexMapTag>();
    case TAG_NORMAL:
      return NewObj<NormalTag>();
    case TAG_VERTEXCOLOR:
      return NewObj<VertexColorTag>();
    case TAG_POINTSELECTION:
    case TAG_POLYGONSELECTION:
    case TAG_EDGESELECTION:
      return NewObj<SelectionTag>(type);
    case TAG_DISPLAY:
      return NewObj<DisplayTag>();
    case TAG_TEXTURE:
      return NewObj<TextureTag>();
    case TAG_COMPOSITING:
      return NewObj<CompositingTag>();
    default:
      break;
  }
  if (IsPlainTag(type)) return NewObj<BaseTag>(type);
  BaseTag* tag = NewObj<BaseTag>(TAG_PLUGIN);
  if (tag != nullptr) tag->SetPluginType(type);
  return tag;
}

// Attaches new node data of the tag's plug-in type and initialises it keeping the container's
// values. False when out of memory or Init fails (nothing stays attached then); true without
// data when the type has none.
bool AttachData(BaseTag* tag, Int32 type, BaseList2D* asker) {
  bool known = true;
  NodeData* data = _AllocTagData(type, known, asker);
  if (data == nullptr) return !known;
  data->SetNode(tag);
  tag->SetNodeData(data);
  if (tag->InitDataKeepingContainer(data)) return true;
  tag->SetNodeData(nullptr);
  return false;
}

}  // namespace

NodeData* _AllocTagData(Int32 type, bool& known, BaseList2D* tag) {
  known = true;
  NodeData* data = AllocAlienTagData(type, known, tag);
  if (data != nullptr || known) return data;
  if (type == TAG_POSEMORPH) {
    known = true;
    return NewObj<PoseMorphTagData>(type);
  }
  return nullptr;
}

// ---- life ----

BaseTag::BaseTag(Int32 nodeId) : BaseList2D(nodeId) { SetPluginType(-1); }

BaseTag::~BaseTag() { FreeKept(); }

void BaseTag::FreeKept() { FreeKeptChunks(_kept); }

BaseTag* BaseTag::Alloc(Int32 type) {
  BaseTag* tag = NewTag(type);
  if (tag == nullptr) return nullptr;
  if (type == TAG_TARGETLINKS) {
    BaseContainer& bc = tag->GetDataInstanceRef();
    if (bc.SetData(1001, GeData(BaseLink())) == nullptr ||
        bc.SetData(1002, GeData(BaseLink())) == nullptr || !bc.SetBool(1003, true)) {
      Free(tag);
      return nullptr;
    }
  }
  // The name a UVW tag read without one gets: a new one starts with it, so that its first
  // write is the one it writes after being read back.
  if (type == TAG_UVW) {
    const String name("UVW", STRINGENCODING_UTF8);
    tag->SetName(name);
    if (tag->GetName().GetLength() != name.GetLength()) {
      Free(tag);
      return nullptr;
    }
  }
  if (HasOwnData(type) && !AttachData(tag, type, tag)) Free(tag);
  return tag;
}

void BaseTag::Free(BaseTag*& tag) { DeleteObj(tag); }

// ---- kinds ----

Int32 BaseTag::GetType() const {
  const Int32 id = BaseList2D::GetType();
  return id == TAG_PLUGIN ? GetPluginType() : id;
}

bool BaseTag::IsInstanceOf(Int32 id) const {
  return id == 0 || id == TAG_ANY || id == GetType() || id == BaseList2D::GetType();
}

BaseTag* BaseTag::FindSibling(Int32 type) const {
  RootList2D* list = GetListHead();
  if (list == nullptr) return nullptr;
  for (GeListNode* m = list->GetFirst(); m != nullptr; m = m->GetNext())
    if (m->GetType() == type) return static_cast<BaseTag*>(m);
  return nullptr;
}

// ---- reading and writing ----

bool BaseTag::KeepChunk(HyperFile* hf, Int32 id, Int32 level) {
  // Values of older files are laid out differently (vector arrays, 32-bit Floats), so their
  // bytes would not mean the same in a file written now: such chunks are skipped.
  if (hf->GetFileVersion() <= kLastOldValueVersion) return false;
  RawNodeData* raw = NewObj<RawNodeData>(id);
  if (raw == nullptr) return OutOfMemory(hf);
  if (!raw->Read(hf, id, level)) {
    DeleteObj(raw);
    return false;
  }
  if (!_kept.Append(raw)) {
    DeleteObj(raw);
    return OutOfMemory(hf);
  }
  return true;
}

bool BaseTag::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (BaseList2D::HandleSubChunk(hf, id, level)) {
    if (id == CHUNK_BASELIST2D) NodeChunkRead();
    return true;
  }
  if (hf->GetError() != FILEERROR_NONE) return false;
  if (id == CHUNK_PLUGINDATA) return _ReadPluginDataChunk(this, hf, level, _AllocTagData, false);
  if (OwnsChunk(id, level)) return ReadData(hf, id, level);
  // False (the loop skips the chunk) only when the chunk is not kept.
  return KeepChunk(hf, id, level);
}

bool BaseTag::Write(HyperFile* hf) {
  if (!BaseList2D::Write(hf)) return false;
  const bool plugin =
      GetDiskType() == TAG_PLUGIN || GetNodeData() != nullptr || GetRawData() != nullptr;
  if (plugin && !_WritePluginDataChunk(this, hf)) return false;
  if (!WriteData(hf)) return false;
  for (RawNodeData* k : _kept) {
    if (!hf->WriteChunkStart(k->GetType(), k->GetChunkLevel()) || !k->Write(hf) ||
        !hf->WriteChunkEnd()) {
      return false;
    }
  }
  return true;
}

// ---- copying ----

bool BaseTag::CopyDataV(BaseTag*, COPYFLAGS, AliasTrans*) { return true; }

bool BaseTag::CopyPluginData(BaseTag* dest, AliasTrans* trans) {
  if (dest->GetPluginType() != GetPluginType()) {
    if (GetDiskType() == TAG_PLUGIN) _GeDebugBreak(__LINE__, kFile);
    dest->SetPluginType(GetPluginType());
  }
  dest->SetNodeData(nullptr);
  dest->FreeRawData();
  NodeData* data = GetNodeData();
  if (data != nullptr) {
    bool known = true;
    NodeData* copy = _AllocTagData(GetPluginType(), known, this);
    if (copy == nullptr) return false;
    copy->SetNode(dest);
    dest->SetNodeData(copy);
    if (!dest->InitDataKeepingContainer(copy) || !data->CopyToX(copy, COPYFLAGS_NONE, trans)) {
      dest->SetNodeData(nullptr);
      return false;
    }
    return true;
  }
  if (GetRawData() == nullptr) return true;
  void* bytes = MemAllocNC(GetRawSize());
  if (bytes == nullptr) return false;
  std::memcpy(bytes, GetRawData(), size_t(GetRawSize()));
  dest->SetRawData(bytes, GetRawSize(), GetRawLevel(), GetRawLayout());
  return true;
}

bool BaseTag::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  BaseTag* d = static_cast<BaseTag*>(dest);
  if (d == this) return true;
  if (!BaseList2D::CopyToX(dest, flags, trans)) return false;
  // Only a tag of the same class may receive the class's data.
  if (d->GetDiskType() != GetDiskType()) return false;
  if (!CopyDataV(d, flags, trans) || !CopyPluginData(d, trans)) return false;
  return CopyKeptChunks(_kept, d->_kept, flags, trans);
}

GeListNode* BaseTag::GetClone(COPYFLAGS flags, AliasTrans* trans) {
  // By node id: a plug-in tag whose plug-in type names a built-in kind stays a plug-in tag.
  BaseTag* tag = GetDiskType() == TAG_PLUGIN ? NewObj<BaseTag>(TAG_PLUGIN) : Alloc(GetDiskType());
  if (tag == nullptr) return nullptr;
  if (!CopyTo(tag, flags, trans)) Free(tag);
  return tag;
}

}  // namespace lumora
