// PluginNode and RootPluginNode (see lum_pluginnode.h).
#include "scene/lum_pluginnode.h"

#include <cstring>

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

struct RegisteredData {
  Int32 type;
  PluginDataAllocator alloc;
};
constexpr Int32 kMaxRegistered = 32;
// The last file version whose values have the older layouts.
constexpr Int32 kLastOldValueVersion = 11924;
RegisteredData g_registered[kMaxRegistered];
Int32 g_registeredCount = 0;

bool Fail(HyperFile* hf, FILEERROR error) {
  if (hf->GetError() == FILEERROR_NONE) hf->SetError(error);
  return false;
}

// The chunks the named node reads itself. When such a read stops early, the rest of the chunk is
// skipped, never kept: kept, it would read back as a chunk of its own.
bool IsNodeChunk(Int32 id) {
  switch (id) {
    case CHUNK_BASELIST2D:
    case CHUNK_UNIQUEIDS:
    case CHUNK_GELISTNODE:
    case CHUNK_NODELIST:
    case CHUNK_TRACKS:
    case CHUNK_OVERRIDES:
    case CHUNK_SHADERS:
    case CHUNK_SHADERS2:
    case CHUNK_SHADERS3:
      return true;
    default:
      return false;
  }
}

// A copy of size bytes; ok is false when they cannot be allocated.
void* CopyBytes(const void* bytes, Int64 size, bool* ok) {
  *ok = true;
  if (bytes == nullptr || size <= 0) return nullptr;
  void* copy = MemAllocNC(size);
  if (copy == nullptr) {
    *ok = false;
    return nullptr;
  }
  std::memcpy(copy, bytes, size_t(size));
  return copy;
}

// Whether every entry id of b is one of a's.
bool HoldsAllIds(const BaseContainer& a, const BaseContainer& b) {
  BrowseContainer browse(&b);
  Int32 id = 0;
  while (browse.GetNext(&id, nullptr))
    if (a.FindIndex(id) < 0) return false;
  return true;
}

}  // namespace

bool GeRegisterPluginData(Int32 type, PluginDataAllocator alloc) {
  for (Int32 i = 0; i < g_registeredCount; ++i) {
    if (g_registered[i].type == type) {
      g_registered[i].alloc = alloc;
      return true;
    }
  }
  if (g_registeredCount == kMaxRegistered) return false;
  g_registered[g_registeredCount++] = {type, alloc};
  return true;
}

// ---- PluginNode ----

PluginNode::PluginNode(Int32 pluginType) : BaseList2D(TYPE_PLUGINNODE) {
  _pluginType = pluginType;
  SetChildren(RootPluginNode::Alloc());
}

PluginNode::~PluginNode() {
  FreePluginData();
  FreeKept();
}

void PluginNode::FreeKept() { FreeKeptChunks(_kept); }

PluginNode* PluginNode::Alloc(Int32 pluginType) {
  PluginNode* node = NewObj<PluginNode>(pluginType);
  if (node != nullptr && node->GetChildren() == nullptr) DeleteObj(node);
  return node;
}

void PluginNode::Free(PluginNode*& node) { DeleteObj(node); }

bool PluginNode::IsInstanceOf(Int32 id) const {
  return id == 0 || id == TYPE_BASELIST2D || id == TYPE_PLUGINNODE;
}

Int32 PluginNode::GetType() const {
  return BaseList2D::GetType() == TYPE_PLUGINNODE ? _pluginType : BaseList2D::GetType();
}

NodeData* PluginNode::AllocData(Int32 type, bool& known) {
  known = true;
  for (Int32 i = 0; i < g_registeredCount; ++i)
    if (g_registered[i].type == type && g_registered[i].alloc != nullptr)
      return g_registered[i].alloc(type);
  switch (type) {
    case 1001101:
      return NewObj<GvRealNodeData>(type);
    case 1001102:
      return NewObj<GvRealGroupData>(type);
    case 1001103:
      return NewObj<GvRealNodeMasterData>(type);
    case 1001144:
    case 1022471:
      return NewObj<GvOperatorData>(type);
    case 100004805:
      return NewObj<OMSettings>(type);
    case 465001515:
      return NewObj<TLSettings>(type);
    case 431000051:
    case 431000054:
    case 431000073:
    case 431000075:
      return _TakeSystemAllocData(type, known);
    case 465001514:
      return NewObj<RawNodeData>(type);
    default:
      known = false;
      return nullptr;
  }
}

bool PluginNode::AddSlot() {
  // No count of slots reaches the Int32 limit: the copies of the array would exhaust memory first.
  PluginSlot* grown =
      static_cast<PluginSlot*>(MemAlloc(Int64(_count + 1) * Int64(sizeof(PluginSlot))));
  if (grown == nullptr) return false;
  for (Int32 i = 0; i < _count; ++i) grown[i] = _slots[i];
  new (&grown[_count]) PluginSlot();
  DeleteMem(_slots);
  _slots = grown;
  ++_count;
  return true;
}

void PluginNode::FreePluginData() {
  for (Int32 i = _count - 1; i >= 0; --i) {
    if (_slots[i].data != nullptr) _slots[i].data->Free();
    MemFree(_slots[i].raw);
    _slots[i].rawSize = 0;
    _slots[i].rawLevel = 0;
  }
  for (Int32 i = _count - 1; i >= 0; --i) DeleteObj(_slots[i].data);
  DeleteMem(_slots);
  _count = 0;
}

void PluginNode::ValidateNth(Int32 index, Int32 type, bool& known) {
  PluginSlot* slot = GetSlot(index);
  if (slot == nullptr) return;
  _FreeNodeData(slot->data);
  slot->type = type;
  if (type == 0) return;
  NodeData* data = AllocData(type, known);
  if (data == nullptr) return;
  data->SetNode(this);
  if (!data->Init()) {
    _FreeNodeData(data);
    return;
  }
  slot->data = data;
}

bool PluginNode::AllocPluginData(const Int32* types) {
  if (types == nullptr) return false;
  for (Int32 i = 0; i < _count; ++i) {
    bool known = true;
    NodeData* data = AllocData(types[i], known);
    if (data != nullptr) data->SetNode(this);
    if (data == nullptr || !data->Init()) {
      _FreeNodeData(data);
      for (Int32 j = 0; j < _count; ++j) _FreeNodeData(_slots[j].data);
      return false;
    }
    _FreeNodeData(_slots[i].data);
    _slots[i].type = types[i];
    _slots[i].data = data;
  }
  return true;
}

bool PluginNode::ReadSlotChunk(HyperFile* hf, Int32 level) {
  Int32 type = 0;
  Int32 index = 0;
  String name;
  if (!hf->ReadInt32(&type) || !hf->ReadInt32(&index) || !hf->ReadString(&name)) return false;
  _pluginType = type;
  if (GetName().GetLength() == 0) SetName(name);
  if (index == 0 || index != _count) FreePluginData();
  if (!AddSlot()) return Fail(hf, FILEERROR_OUTOFMEMORY);
  bool known = false;
  PluginSlot* slot = nullptr;
  if (index == _count - 1) {
    // A chunk with nothing after its header is what a node without data writes (a node without
    // slots, a slot whose chunk was skipped): it gets data only from a class that reads nothing
    // and whose defaults the file's container already holds, so that the node writes back what
    // it read. Any other class would read contents that are not there, or add entries.
    const bool empty = hf->NextIsChunkEnd();
    slot = &_slots[index];
    if (index == 0) {
      // The slot's defaults go under the values the file already gave the container.
      BaseContainer saved;
      if (!GetDataInstanceRef().CopyTo(&saved, COPYFLAGS_NONE, nullptr))
        return Fail(hf, FILEERROR_OUTOFMEMORY);
      GetDataInstanceRef().FlushAll();
      ValidateNth(0, type, known);
      if (empty && slot->data != nullptr &&
          (!slot->data->ReadsToChunkEnd() || !HoldsAllIds(saved, GetDataInstanceRef()))) {
        _FreeNodeData(slot->data);
        known = false;
        GetDataInstanceRef().FlushAll();
      }
      if (!GetDataInstanceRef().MergeContainer(saved)) return Fail(hf, FILEERROR_OUTOFMEMORY);
    } else {
      ValidateNth(index, type, known);
      if (empty && slot->data != nullptr && !slot->data->ReadsToChunkEnd()) {
        _FreeNodeData(slot->data);
        known = false;
      }
    }
  } else {
    // An index that names no slot: the chunk is kept raw on the new last slot.
    slot = &_slots[_count - 1];
    slot->type = type;
    slot->strayIndex = index;
  }
  if (known || slot->data != nullptr) {
    if (slot->data == nullptr) return Fail(hf, FILEERROR_OUTOFMEMORY);
    if (!slot->data->Read(hf, CHUNK_PLUGINDATA, level)) return Fail(hf, FILEERROR_READ);
    return slot->data->ReadsToChunkEnd() || hf->SkipToEndChunk();
  }
  if (hf->Before12()) return hf->SkipToEndChunk();
  if (!hf->ReadUnknownChunk(&slot->raw, &slot->rawSize, false)) return false;
  slot->rawLevel = level;
  slot->rawLayout = hf->GetRawLayout();
  return true;
}

bool PluginNode::KeepChunk(HyperFile* hf, Int32 id, Int32 level) {
  // Values of older files are laid out differently, so their bytes would not mean the same in a
  // file written now: such chunks are skipped.
  if (hf->GetFileVersion() <= kLastOldValueVersion) return false;
  RawNodeData* raw = NewObj<RawNodeData>(id);
  if (raw == nullptr) return Fail(hf, FILEERROR_OUTOFMEMORY);
  if (!raw->Read(hf, id, level)) {
    DeleteObj(raw);
    return false;
  }
  if (!_kept.Append(raw)) {
    DeleteObj(raw);
    return Fail(hf, FILEERROR_OUTOFMEMORY);
  }
  return true;
}

bool PluginNode::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (BaseList2D::HandleSubChunk(hf, id, level)) return true;
  if (hf->GetError() != FILEERROR_NONE || IsNodeChunk(id)) return false;
  if (id == CHUNK_PLUGINDATA) return ReadSlotChunk(hf, level);
  // False (the loop skips the chunk) only when the chunk is not kept.
  return KeepChunk(hf, id, level);
}

bool PluginNode::WriteSlots(HyperFile* hf) {
  const String empty;  // no buffer: nothing to make once and keep
  for (Int32 i = 0; i < _count; ++i) {
    const PluginSlot& s = _slots[i];
    if (s.data != nullptr) {
      if (!hf->WriteChunkStart(CHUNK_PLUGINDATA, s.data->GetChunkLevel()) ||
          !hf->WriteInt32(s.type) || !hf->WriteInt32(i) || !hf->WriteString(empty) ||
          !s.data->Write(hf) || !hf->WriteChunkEnd()) {
        return false;
      }
    } else {
      // Kept bytes end with the chunk's end byte. A slot without data or kept bytes (a type
      // without a class, made in a program, or whose chunk an older file's reader skipped) writes
      // an empty chunk that keeps its type and its place.
      if (!hf->WriteChunkStart(CHUNK_PLUGINDATA, s.rawLevel) || !hf->WriteInt32(s.type) ||
          !hf->WriteInt32(s.strayIndex != 0 ? s.strayIndex : i) || !hf->WriteString(empty) ||
          !(s.rawSize >= 1 ? hf->WriteKeptChunk(s.raw, s.rawSize, false, s.rawLayout)
                           : hf->WriteChunkEnd())) {
        return false;
      }
    }
  }
  return true;
}

bool PluginNode::Write(HyperFile* hf) {
  if (!BaseList2D::Write(hf)) return false;
  if (GetNodeData() != nullptr || _count == 0) {
    if (!_WritePluginDataChunkAlways(hf)) return false;
  } else if (!WriteSlots(hf)) {
    return false;
  }
  for (RawNodeData* k : _kept) {
    if (!hf->WriteChunkStart(k->GetType(), k->GetChunkLevel()) || !k->Write(hf) ||
        !hf->WriteChunkEnd()) {
      return false;
    }
  }
  return true;
}

bool PluginNode::_WritePluginDataChunkAlways(HyperFile* hf) {
  NodeData* data = GetNodeData();
  if (data != nullptr) return _WritePluginDataChunk(this, hf);
  // Without a name, as the slot it reads back as is written: the node's name is in its node
  // chunk already.
  const String empty;  // no buffer: nothing to make once and keep
  return hf->WriteChunkStart(CHUNK_PLUGINDATA, _rawLevel) && hf->WriteInt32(_pluginType) &&
         hf->WriteInt32(0) && hf->WriteString(empty) &&
         hf->WriteKeptChunk(_rawData, _rawSize, false, _rawLayout);
}

bool PluginNode::CopySlots(PluginNode* dest, COPYFLAGS flags, AliasTrans* trans) {
  dest->FreePluginData();
  bool ok = true;
  void* raw = CopyBytes(_rawData, _rawSize, &ok);
  if (!ok) return false;
  dest->SetRawData(raw, _rawSize, _rawLevel, _rawLayout);
  dest->_pluginType = _pluginType;
  if (_count == 0) return true;
  dest->_slots = static_cast<PluginSlot*>(MemAlloc(Int64(_count) * Int64(sizeof(PluginSlot))));
  if (dest->_slots == nullptr) return false;
  dest->_count = _count;
  for (Int32 i = 0; i < _count; ++i) {
    const PluginSlot& s = _slots[i];
    PluginSlot& d = dest->_slots[i];
    d.type = s.type;
    if (s.data != nullptr) {
      bool known = true;
      NodeData* data = AllocData(s.type, known);
      if (data == nullptr) return false;
      // Attached and initialised like a read slot, so that the copy never points at the source
      // and the values already copied into the container win over Init's defaults.
      data->SetNode(dest);
      d.data = data;
      if (!dest->InitDataKeepingContainer(data) ||
          !s.data->CopyToX(data, COPYFLAGS(flags & COPYFLAGS_TRANSLATE_TAKES), trans))
        return false;
    } else if (s.raw != nullptr) {
      d.raw = CopyBytes(s.raw, s.rawSize, &ok);
      if (!ok) return false;
      d.rawSize = s.rawSize;
      d.rawLevel = s.rawLevel;
      d.rawLayout = s.rawLayout;
    }
    d.strayIndex = s.strayIndex;
  }
  return true;
}

bool PluginNode::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  if (!BaseList2D::CopyToX(dest, flags, trans)) return false;
  PluginNode* d = static_cast<PluginNode*>(dest);
  if ((flags & COPYFLAGS_NO_PLUGINDATA) == 0 && !CopySlots(d, flags, trans)) return false;
  if (d != this && !CopyKeptChunks(_kept, d->_kept, flags, trans)) return false;
  if ((flags & COPYFLAGS_NO_CHILDREN) == 0)
    return _CopyBranch(&_CloneChildrenUnder, this, d, flags, trans);
  return true;
}

NodeData* PluginNode::GetParameterData(const DescID& id) const {
  if (GetNodeData() != nullptr || id[0].id == 898 || id[0].id == 900) return nullptr;
  return GetNthData(0);
}

bool PluginNode::GetDParameter(const DescID& id, GeData& out) {
  NodeData* data = GetParameterData(id);
  if (data != nullptr && data->GetDParameter(id, out)) return true;
  return BaseList2D::GetDParameter(id, out);
}

bool PluginNode::SetDParameter(const DescID& id, const GeData& value) {
  NodeData* data = GetParameterData(id);
  if (data != nullptr && data->SetDParameter(id, value)) return true;
  return BaseList2D::SetDParameter(id, value);
}

bool PluginNode::TranslateDescID(const DescID& id, DescID& out, GeListNode*& node) {
  NodeData* data = GetParameterData(id);
  if (data != nullptr) return data->TranslateDescID(this, id, out, node);
  return BaseList2D::TranslateDescID(id, out, node);
}

GeListNode* PluginNode::GetClone(COPYFLAGS flags, AliasTrans* trans) {
  PluginNode* node = Alloc(GetType());
  if (node == nullptr) return nullptr;
  if (!CopyTo(node, flags, trans)) Free(node);
  return node;
}

// ---- RootPluginNode ----

RootPluginNode* RootPluginNode::Alloc() { return NewObj<RootPluginNode>(); }

void RootPluginNode::Free(RootPluginNode*& list) { DeleteObj(list); }

bool RootPluginNode::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (RootList2D::HandleSubChunk(hf, id, level)) return true;
  if (id != TYPE_PLUGINNODE) return false;
  return AppendRead(hf, PluginNode::Alloc(0));
}

bool RootPluginNode::Write(HyperFile* hf) {
  return RootList2D::Write(hf) && WriteNodeList(hf, TYPE_PLUGINNODE, true);
}

GeListNode* RootPluginNode::GetClone(COPYFLAGS flags, AliasTrans* trans) {
  RootPluginNode* list = Alloc();
  if (list == nullptr) return nullptr;
  if (!CopyTo(list, flags, trans)) Free(list);
  return list;
}

}  // namespace lumora
