// BaseList2D: the named node, its chunks, copies, notify list and unique ids (see
// lum_baselist2d.h).
#include "scene/lum_baselist2d.h"

#include <sched.h>

#include <cstring>

#include "lum_debug.h"
#include "lum_memory.h"
#include "scene/lum_nodedata.h"
#include "scene/lum_pluginnode.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

constexpr Int32 kNodeChunkLevel = 8;
constexpr Int32 kUniqueIdsLevel = 1;
constexpr Int32 kParamNodeLink = 898;
constexpr Int32 kParamName = 900;
constexpr Int32 kParamQuaternion = 929;
constexpr Int32 kTrackRotation = 904;
constexpr Int32 kTrackScale = 905;
constexpr Int32 kTypeNodeGraphMaster = 502;

constexpr Int32 kListChunk[ATTACHEDLIST_COUNT] = {CHUNK_TRACKS, CHUNK_OVERRIDES, CHUNK_SHADERS,
                                                  CHUNK_SHADERS2, CHUNK_SHADERS3};

RootList2D* AllocOverrideList() { return RootPluginNode::Alloc(); }

GeAttachedListAllocator g_listAllocators[ATTACHEDLIST_COUNT] = {
    nullptr, AllocOverrideList, _AllocShaderList, _AllocShaderList, _AllocShaderList};

bool OutOfMemory(HyperFile* hf) {
  hf->SetError(FILEERROR_OUTOFMEMORY);
  return false;
}

}  // namespace

void GeSetAttachedListAllocator(ATTACHEDLIST which, GeAttachedListAllocator alloc) {
  if (which < 0 || which >= ATTACHEDLIST_COUNT) return;
  g_listAllocators[which] = alloc;
  if (which == ATTACHEDLIST_OVERRIDES && alloc == nullptr)
    g_listAllocators[which] = AllocOverrideList;
}

// ---- UniqueIDArray ----

void UniqueIDArray::Flush() {
  for (UniqueIDEntry& e : _entries) MemFree(e.bytes);
  _entries.Flush();
}

bool UniqueIDArray::AppendOwned(Int32 appId, void* bytes, Int64 length) {
  UniqueIDEntry e;
  e.appId = appId;
  e.bytes = bytes;
  e.length = bytes != nullptr ? length : 0;
  return _entries.Append(e);
}

bool UniqueIDArray::Add(Int32 appId, const void* bytes, Int64 length) {
  void* copy = nullptr;
  if (bytes != nullptr && length > 0) {
    copy = MemAllocNC(length);
    if (copy == nullptr) return false;
    std::memcpy(copy, bytes, size_t(length));
  }
  UniqueIDEntry e;
  e.appId = appId;
  e.bytes = copy;
  e.length = copy != nullptr ? length : 0;
  Int32 at = 0;
  while (at < _entries.GetCount() && _entries[at].appId <= appId) ++at;
  if (!_entries.Insert(at, e)) {
    MemFree(copy);
    return false;
  }
  return true;
}

const UniqueIDEntry* UniqueIDArray::Find(Int32 appId) const {
  for (const UniqueIDEntry& e : _entries)
    if (e.appId == appId) return &e;
  return nullptr;
}

bool UniqueIDArray::CopyTo(UniqueIDArray* dest) const {
  if (dest == this) return true;
  dest->Flush();
  for (const UniqueIDEntry& e : _entries)
    if (!dest->Add(e.appId, e.bytes, e.length)) return false;
  return true;
}

// ---- NotifyList ----

void NotifyList::Flush() {
  for (NotifyData* d : _entries) {
    BaseLink::Free(d->link);
    DeleteObj(d);
  }
  _entries.Flush();
}

NotifyData* NotifyList::Append(Int32 id, Int32 flags) {
  NotifyData* d = NewObj<NotifyData>();
  if (d == nullptr) return nullptr;
  d->id = id;
  d->flags = flags;
  d->link = BaseLink::Alloc();
  if (d->link == nullptr || !_entries.Append(d)) {
    BaseLink::Free(d->link);
    DeleteObj(d);
    return nullptr;
  }
  return d;
}

void NotifyList::Lock() {
  Int32 expected = 0;
  while (!__atomic_compare_exchange_n(&_lock, &expected, 1, false, __ATOMIC_ACQUIRE,
                                      __ATOMIC_RELAXED)) {
    expected = 0;
    sched_yield();
  }
}

void NotifyList::Unlock() { _lock = 0; }

bool NotifyList::CopyTo(NotifyList* dest, COPYFLAGS flags, AliasTrans* trans) {
  if (dest == nullptr) return false;
  if (dest == this) return true;
  Lock();
  dest->Lock();
  dest->Flush();
  bool ok = true;
  for (NotifyData* s : _entries) {
    bool take =
        (flags & COPYFLAGS_NOTIFY_MARKED) != 0
            ? (s->flags & 0x800) != 0
            : (s->flags & 0x1C00) != 0 &&
                  (s->flags &
                   ((flags & COPYFLAGS_NOTIFY_ALTERNATE) != 0 ? Int32(0x400) : Int32(0x1000))) != 0;
    if (!take) continue;
    NotifyData* d = dest->Append(s->id, s->flags);
    if (d == nullptr || !s->data.CopyTo(&d->data, flags, trans) ||
        !s->link->CopyData(d->link, trans)) {
      ok = false;
      break;
    }
  }
  dest->Unlock();
  Unlock();
  return ok;
}

bool NotifyList::Write(HyperFile* hf) const {
  if (!hf->WriteInt32(_entries.GetCount())) return false;
  for (const NotifyData* d : _entries) {
    if (!hf->WriteInt32(d->flags) || !hf->WriteInt32(d->id) || !hf->WriteContainer(d->data) ||
        !d->link->Write(hf)) {
      return false;
    }
  }
  return true;
}

bool NotifyList::Read(HyperFile* hf) {
  Int32 count = 0;
  if (!hf->ReadInt32(&count)) return false;
  for (Int32 i = 0; i < count; ++i) {
    NotifyData* d = Append(0, 0);
    if (d == nullptr) return OutOfMemory(hf);
    if (!hf->ReadInt32(&d->flags) || !hf->ReadInt32(&d->id) || !hf->ReadContainer(&d->data, true) ||
        !d->link->Read(hf)) {
      return false;
    }
  }
  return true;
}

// ---- BaseList2D: life ----

BaseList2D::BaseList2D(Int32 typeId) : _typeId(typeId) { GeGetNewMarker(_marker); }

BaseList2D::BaseList2D(Int32 typeId, NoMarker) : _typeId(typeId) {}

BaseList2D::~BaseList2D() {
  DeleteObj(_uniqueIds);
  _FreeNodeData(_nodeData);
  DeleteObj(_notifyList);
  DescIdStore_Free(_runtimeStore);
  DescIdStore_Free(_savedStore);
  _data.FlushAll();
  if (_attached != nullptr) {
    for (Int32 i = 0; i < ATTACHEDLIST_COUNT; ++i) FreeAttachedList(ATTACHEDLIST(i));
  }
  _description.FlushAll();
  _nodeLink.Clear();
  DeleteObj(_attached);
}

BaseList2D::Attached* BaseList2D::MakeAttached() {
  if (_attached == nullptr) _attached = NewObj<Attached>();
  return _attached;
}

void BaseList2D::FreeRawList(ATTACHEDLIST which) {
  if (_attached == nullptr) return;
  MemFree(_attached->raw[which].bytes);
  _attached->raw[which] = RawList();
}

void BaseList2D::FreeAttachedList(ATTACHEDLIST which) {
  if (_attached == nullptr) return;
  DeleteObj(_attached->lists[which]);
  FreeRawList(which);
}

bool BaseList2D::IsInstanceOf(Int32 id) const {
  return id == 0 || id == TYPE_BASELIST2D || id == _typeId;
}

void BaseList2D::SetNodeData(NodeData* data) {
  if (data == _nodeData) return;
  _FreeNodeData(_nodeData);
  _nodeData = data;
}

bool BaseList2D::InitDataKeepingContainer(NodeData* data) {
  BaseContainer saved;
  if (!_data.CopyTo(&saved, COPYFLAGS_NONE, nullptr)) return false;
  _data.FlushAll();
  bool ok = data->Init();
  if (!_data.MergeContainer(saved)) ok = false;
  return ok;
}

bool BaseList2D::AddUniqueID(Int32 appId, const void* bytes, Int64 length) {
  if (_uniqueIds == nullptr) _uniqueIds = NewObj<UniqueIDArray>();
  return _uniqueIds != nullptr && _uniqueIds->Add(appId, bytes, length);
}

NotifyList* BaseList2D::MakeNotifyList() {
  if (_notifyList == nullptr) _notifyList = NewObj<NotifyList>();
  return _notifyList;
}

// ---- parameters ----

bool BaseList2D::GetDParameter(const DescID& id, GeData& out) {
  const Int32 first = id[0].id;
  if (first == kParamNodeLink) {
    out = GeData(_nodeLink);
    return true;
  }
  if (first == kParamName) {
    out = GeData(_name);
    return true;
  }
  if (_nodeData != nullptr && _nodeData->GetDParameter(id, out)) return true;
  return _data.GetParameter(id, out);
}

bool BaseList2D::SetDParameter(const DescID& id, const GeData& value) {
  if (_nodeData != nullptr && _nodeData->SetDParameter(id, value)) return true;
  return _data.SetParameter(id, value);
}

bool BaseList2D::TranslateDescID(const DescID& id, DescID& out, GeListNode*& node) {
  return _nodeData != nullptr && _nodeData->TranslateDescID(this, id, out, node);
}

// ---- attached lists ----

RootList2D* BaseList2D::GetAttachedList(ATTACHEDLIST which, bool create) {
  if (which < 0 || which >= ATTACHEDLIST_COUNT) return nullptr;
  RootList2D* list = ListAt(which);
  if (list != nullptr || !create || g_listAllocators[which] == nullptr) return list;
  if (MakeAttached() == nullptr || (list = g_listAllocators[which]()) == nullptr) return nullptr;
  list->SetOwner(this);
  _attached->lists[which] = list;
  return list;
}

bool BaseList2D::HasAttachedList(ATTACHEDLIST which) const {
  if (which < 0 || which >= ATTACHEDLIST_COUNT) return false;
  if (_attached == nullptr) return false;
  const RootList2D* list = _attached->lists[which];
  return (list != nullptr && list->GetFirst() != nullptr) || _attached->raw[which].present;
}

BaseList2D* BaseList2D::GetFirstOverride() const {
  RootList2D* list = ListAt(ATTACHEDLIST_OVERRIDES);
  return list != nullptr ? static_cast<BaseList2D*>(list->GetFirst()) : nullptr;
}

bool BaseList2D::_InsertShader(BaseList2D* shader, BaseList2D* pred) {
  RootList2D* list = GetAttachedList(ATTACHEDLIST_SHADERS, true);
  return shader != nullptr && list != nullptr && list->InsertAfter(shader, pred);
}

// ---- tracks ----

BaseList2D* BaseList2D::_FindTrack(const DescID& id) const {
  RootList2D* list = ListAt(ATTACHEDLIST_TRACKS);
  const Int32 depth = id.GetDepth();
  if (list == nullptr || depth == 0) return nullptr;
  for (GeListNode* m = list->GetFirst(); m != nullptr; m = m->GetNext()) {
    if (!m->IsBaseList()) continue;
    const DescID* tid = static_cast<BaseList2D*>(m)->GetTrackDescID();
    if (tid == nullptr || tid->GetDepth() == 0) continue;
    bool match = true;
    for (Int32 i = 0; i < depth && match; ++i) match = (*tid)[i].id == id[i].id;
    if (match) return static_cast<BaseList2D*>(m);
  }
  return nullptr;
}

bool BaseList2D::UsesQuaternionRotation() {
  GeData value;
  if (!GetDParameter(DescID(kParamQuaternion), value)) return false;
  return value.GetType() == VALUETYPE_INT32 && value.GetInt32() != 0;
}

namespace {

// Objects order the scale track (905) before the rotation track (904).
Int32 TrackKey(Int32 id, bool object, Int32 level) {
  if (!object || level != 0) return id;
  if (id == kTrackRotation) return kTrackScale;
  if (id == kTrackScale) return kTrackRotation;
  return id;
}

// Whether a track for a sorts before one for b.
bool SortsBefore(const DescID& a, const DescID& b, bool object) {
  const Int32 da = a.GetDepth(), db = b.GetDepth();
  for (Int32 i = 0;; ++i) {
    if (i >= da || i >= db) return false;
    if (a[i].id != b[i].id) return TrackKey(a[i].id, object, i) < TrackKey(b[i].id, object, i);
  }
}

}  // namespace

bool BaseList2D::_InsertTrackSorted(BaseList2D* track) {
  if (track == nullptr) return false;
  const DescID* tid = track->GetTrackDescID();
  if (tid == nullptr) return false;
  RootList2D* list = GetAttachedList(ATTACHEDLIST_TRACKS, true);
  if (list == nullptr) return false;
  const bool object = IsInstanceOf(TYPE_ANYOBJECT);
  if (object && (*tid)[0].id == kTrackRotation && UsesQuaternionRotation())
    track->SetTrackSynchronized(true);
  for (GeListNode* m = list->GetFirst(); m != nullptr; m = m->GetNext()) {
    const DescID* mid = m->IsBaseList() ? static_cast<BaseList2D*>(m)->GetTrackDescID() : nullptr;
    if (mid != nullptr && SortsBefore(*tid, *mid, object)) return list->InsertBefore(track, m);
  }
  return list->InsertLast(track);
}

// ---- writing ----

bool BaseList2D::WriteAttachedList(HyperFile* hf, ATTACHEDLIST which) {
  if (_attached == nullptr) return true;
  RootList2D* list = _attached->lists[which];
  if (list != nullptr && (list->GetFirst() != nullptr || list->GetKeptChunkCount() > 0)) {
    return hf->WriteChunkStart(kListChunk[which], 0) && list->Write(hf) && hf->WriteChunkEnd();
  }
  const RawList& raw = _attached->raw[which];
  if (!raw.present) return true;
  return hf->WriteChunkStart(kListChunk[which], raw.level) &&
         hf->WriteKeptChunk(raw.bytes, raw.size, true, raw.layout) && hf->WriteChunkEnd();
}

bool BaseList2D::Write(HyperFile* hf) {
  if (!WriteAttachedList(hf, ATTACHEDLIST_TRACKS)) return false;
  WriteAttachedList(hf, ATTACHEDLIST_OVERRIDES);
  if (!WriteAttachedList(hf, ATTACHEDLIST_SHADERS)) return false;
  if (!WriteAttachedList(hf, ATTACHEDLIST_SHADERS2)) return false;
  WriteAttachedList(hf, ATTACHEDLIST_SHADERS3);

  _bits &= ~BIT_CLEARED_ON_WRITE;
  const bool goal = _goal.WritesRecord();
  const bool notify = _notifyList != nullptr && _notifyList->GetCount() > 0;
  if (!hf->WriteChunkStart(CHUNK_BASELIST2D, kNodeChunkLevel) || !hf->WriteInt32(_bits) ||
      !hf->WriteInt32(0) || !hf->WriteContainer(_data) || !hf->WriteUChar(goal ? 1 : 0) ||
      (goal && !_goal.Write(hf)) || !hf->WriteString(_name)) {
    return false;
  }
  if (_description.GetCount() == 0) {
    if (!hf->WriteInt32(0)) return false;
  } else if (!hf->WriteInt32(1) || !hf->WriteContainer(_description)) {
    return false;
  }
  if (!hf->WriteInt32(1) || !hf->WriteInt32(0) || !_nodeLink.Write(hf) || !hf->WriteUChar(1) ||
      !hf->WriteMemory(_marker.GetBytes(), GeMarker::SIZE) || !hf->WriteBool(notify) ||
      (notify && !_notifyList->Write(hf)) || !DescIdStore_Write(_savedStore, hf, true) ||
      !hf->WriteChunkEnd()) {
    return false;
  }

  if (_uniqueIds != nullptr && _uniqueIds->GetCount() > 0) {
    if (!hf->WriteChunkStart(CHUNK_UNIQUEIDS, kUniqueIdsLevel) ||
        !hf->WriteInt32(_uniqueIds->GetCount())) {
      return false;
    }
    for (Int32 i = 0; i < _uniqueIds->GetCount(); ++i) {
      const UniqueIDEntry& e = _uniqueIds->Get(i);
      if (!hf->WriteInt32(e.appId) || !hf->WriteMemory(e.bytes, e.bytes != nullptr ? e.length : 0))
        return false;
    }
    if (!hf->WriteChunkEnd()) return false;
  }

  if (!GeListNode::Write(hf) || (_attached != nullptr && !_attached->kept.Write(hf, 0, true)))
    return false;

  // Plug-in nodes write the chunk even without children.
  if (IsNodeClass(NODECLASS_PLUGINNODE) && GetChildren() != nullptr)
    return GetChildren()->WriteNodeList(hf, 0, true);
  if (IsNodeClass(NODECLASS_PLUGINNODE))
    return hf->WriteChunkStart(CHUNK_NODELIST, 0) && hf->WriteChunkEnd();
  return true;
}

// ---- reading ----

bool BaseList2D::Read110050(HyperFile* hf, Int32 level) {
  Int32 bits = 0;
  if (!hf->ReadInt32(&bits) || !hf->ReadInt32(nullptr)) return false;
  _bits = bits;
  if (hf->Before8()) return true;
  UChar hasGoal = 0;
  if (!hf->ReadContainer(&_data, false) || !hf->ReadUChar(&hasGoal) ||
      (hasGoal != 0 && !_goal.Read(hf)) || !hf->ReadString(&_name)) {
    return false;
  }
  if (level >= 1) {
    Int32 flag = 0;
    if (!hf->ReadInt32(&flag)) return false;
    if (flag > 0 && !hf->ReadContainer(&_description, false)) return false;
  }
  if (level != 1) {
    Int32 version = 0;
    if (!hf->ReadInt32(&version)) return false;
    if (version == 1) {
      Int32 count = 0;
      if (!hf->ReadInt32(&count)) return false;
      for (Int32 i = 0; i < count; ++i) {
        if (!hf->CheckIt(HYPERFILEVALUE_CHUNKSTART) || !hf->ReadChunkStart(nullptr, nullptr) ||
            !hf->SkipToEndChunk()) {
          return false;
        }
      }
    }
  }
  if (hf->Before12()) {
    if (level <= 3) {
      if (level == 3 && !hf->ReadInt32(nullptr)) return false;
      return true;
    }
    Int32 count = 0;
    if (!hf->ReadInt32(nullptr) || !hf->ReadInt32(&count)) return false;
    for (Int32 i = 0; i < count; ++i)
      if (!hf->ReadInt32(nullptr)) return false;
  }
  if (level >= 5 && !_nodeLink.Read(hf)) return false;
  if (level >= 6) {
    UChar marker[GeMarker::SIZE] = {};
    if (!hf->ReadUChar(nullptr) || !hf->ReadMemoryHead(marker, GeMarker::SIZE, nullptr))
      return false;
    _marker.SetBytes(marker);
  }
  if (level >= 7) {
    bool notify = false;
    if (!hf->ReadBool(&notify)) return false;
    if (notify) {
      if (MakeNotifyList() == nullptr) return OutOfMemory(hf);
      if (!_notifyList->Read(hf)) return false;
    }
  }
  if (level >= 8 && !DescIdStore_Read(_savedStore, hf, true)) return false;
  return true;
}

bool BaseList2D::ReadPlainHeader(HyperFile* hf, HyperFileSpan* span, PlainHeader* header) {
  if (hf->Before12()) return false;
  Int32 ignored = 0, flag = 0, version = 0, legacy = 0, storeVersion = 0, count = 0, words = 0;
  UChar goal = 0, hasMarker = 0;
  UChar link[BaseLink::RECORD_SIZE];
  bool notify = false;
  if (!span->ChunkStart(CHUNK_BASELIST2D, kNodeChunkLevel) || !span->Int32Value(&header->bits) ||
      !span->Int32Value(&ignored) || !span->ChunkStart(CONTAINER_CHUNK_ID, CONTAINER_CHUNK_LEVEL) ||
      !span->Int32Value(&header->containerId) || !span->ChunkEnd() || !span->UCharValue(&goal) ||
      goal != 0 || !span->EmptyString() || !span->Int32Value(&flag) || flag > 0 ||
      !span->Int32Value(&version) || (version == 1 && (!span->Int32Value(&legacy) || legacy > 0)) ||
      !span->Memory(link, BaseLink::RECORD_SIZE) || !BaseLink::IsEmptyRecord(link) ||
      !span->UCharValue(&hasMarker) || !span->Memory(header->marker, GeMarker::SIZE) ||
      !span->BoolValue(&notify) || notify || !span->Int32Value(&storeVersion) ||
      storeVersion != DESCIDSTORE_VERSION || !span->Int32Value(&count) || count > 0 ||
      !span->ChunkEnd())
    return false;
  if (!span->ChunkStart(CHUNK_GELISTNODE, GELISTNODE_CHUNK_LEVEL) || !span->Int32Value(&words) ||
      words != 4)
    return false;
  for (UInt32& word : header->nbits) {
    Int32 w = 0;
    if (!span->Int32Value(&w)) return false;
    word = UInt32(w);
  }
  return span->UCharValue(&goal) && goal == 0 && span->ChunkEnd();
}

void BaseList2D::AddPlainHeader(HyperFileLayout* layout, PlainHeaderOffsets* at) {
  UChar link[BaseLink::RECORD_SIZE];
  BaseLink::EmptyRecord(link);
  layout->ChunkStart(CHUNK_BASELIST2D, kNodeChunkLevel);
  at->bits = layout->Int32At();
  layout->Int32At();  // read and ignored
  layout->ChunkStart(CONTAINER_CHUNK_ID, CONTAINER_CHUNK_LEVEL);
  at->containerId = layout->Int32At();
  layout->ChunkEnd();
  layout->UCharIs(0);
  layout->EmptyString();
  layout->Int32Is(0);
  layout->Int32Is(1);
  layout->Int32Is(0);
  layout->MemoryIs(link, BaseLink::RECORD_SIZE);
  layout->UCharAt();  // the marker flag, read and ignored
  at->marker = layout->MemoryAt(GeMarker::SIZE);
  layout->BoolIs(false);
  layout->Int32Is(DESCIDSTORE_VERSION);
  layout->Int32Is(0);
  layout->ChunkEnd();
  layout->ChunkStart(CHUNK_GELISTNODE, GELISTNODE_CHUNK_LEVEL);
  layout->Int32Is(4);
  for (Int32& word : at->nbits) word = layout->Int32At();
  layout->UCharIs(0);
  layout->ChunkEnd();
}

void BaseList2D::PlainHeaderAt(const HyperFileSpan& span, const UChar* run,
                               const PlainHeaderOffsets& at, PlainHeader* header) {
  header->bits = span.Int32At(run + at.bits);
  header->containerId = span.Int32At(run + at.containerId);
  std::memcpy(header->marker, run + at.marker, GeMarker::SIZE);
  for (Int32 i = 0; i < 4; ++i) header->nbits[i] = UInt32(span.Int32At(run + at.nbits[i]));
}

void BaseList2D::TakePlainHeader(const PlainHeader& header) {
  _bits = header.bits;
  _data.SetId(header.containerId);
  _marker.SetBytes(header.marker);
  for (Int32 i = 0; i < 4; ++i) _nbits[i] = header.nbits[i];
}

bool BaseList2D::ReadUniqueIDs(HyperFile* hf) {
  Int32 count = 0;
  if (!hf->ReadInt32(&count)) return false;
  if (count < 1) return true;
  if (_uniqueIds == nullptr) _uniqueIds = NewObj<UniqueIDArray>();
  if (_uniqueIds == nullptr) return OutOfMemory(hf);
  _uniqueIds->Flush();
  for (Int32 i = 0; i < count; ++i) {
    Int32 appId = 0;
    void* bytes = nullptr;
    Int64 size = 0;
    if (!hf->ReadInt32(&appId) || !hf->ReadMemory(&bytes, &size)) return false;
    if (!_uniqueIds->AppendOwned(appId, bytes, size)) {
      MemFree(bytes);
      return OutOfMemory(hf);
    }
  }
  return true;
}

bool BaseList2D::ReadChildren(HyperFile* hf) {
  RootPluginNode temp;
  if (IsInstanceOf(kTypeNodeGraphMaster)) temp.SetOwner(this);
  bool ok = temp.ReadChunk(hf, true, false);
  // The chunks kept among the members go with them, placed after the children already there.
  if (GetChildren() != nullptr && !GetChildren()->TakeKeptChunks(temp) && ok) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    ok = false;
  }
  while (GeListNode* m = temp.GetFirst()) {
    m->Remove();
    if (GetChildren() != nullptr) {
      m->InsertUnderLast(this);
    } else {
      DeleteObj(m);
    }
  }
  return ok;
}

bool BaseList2D::ReadAttachedList(HyperFile* hf, ATTACHEDLIST which, Int32 level) {
  RootList2D* list = GetAttachedList(which, true);
  if (list != nullptr) return list->ReadObject(hf, false);
  if (g_listAllocators[which] != nullptr) return OutOfMemory(hf);
  // No class for the members here: the chunk is kept as it stands.
  if (MakeAttached() == nullptr) return OutOfMemory(hf);
  FreeRawList(which);
  RawList& raw = _attached->raw[which];
  if (!hf->ReadUnknownChunk(&raw.bytes, &raw.size, true)) return false;
  raw.level = level;
  raw.layout = hf->GetRawLayout();
  raw.present = true;
  return true;
}

bool BaseList2D::KeepUnknownChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (MakeAttached() == nullptr) return OutOfMemory(hf);
  return _attached->kept.Keep(hf, id, level, 0);
}

bool BaseList2D::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (GeListNode::HandleSubChunk(hf, id, level)) return true;
  switch (id) {
    case CHUNK_BASELIST2D:
      return Read110050(hf, level) && hf->SkipToEndChunk();
    case CHUNK_UNIQUEIDS:
      return ReadUniqueIDs(hf) && hf->SkipToEndChunk();
    case CHUNK_NODELIST:
      if (!IsNodeClass(NODECLASS_PLUGINNODE)) return false;
      return ReadChildren(hf);
    default:
      for (Int32 i = 0; i < ATTACHEDLIST_COUNT; ++i)
        if (id == kListChunk[i]) return ReadAttachedList(hf, ATTACHEDLIST(i), level);
      return false;
  }
}

// ---- copying ----

bool BaseList2D::CopyAttachedList(BaseList2D* dest, ATTACHEDLIST which, COPYFLAGS flags,
                                  AliasTrans* trans) {
  RootList2D* list = ListAt(which);
  dest->FreeRawList(which);
  if (_attached != nullptr && _attached->raw[which].present) {
    const RawList& raw = _attached->raw[which];
    if (dest->MakeAttached() == nullptr) return false;
    RawList& draw = dest->_attached->raw[which];
    if (raw.size > 0) {
      draw.bytes = MemAllocNC(raw.size);
      if (draw.bytes == nullptr) return false;
      std::memcpy(draw.bytes, raw.bytes, size_t(raw.size));
      draw.size = raw.size;
    }
    draw.level = raw.level;
    draw.layout = raw.layout;
    draw.present = true;
  }
  if (list == nullptr || (list->GetFirst() == nullptr && list->GetKeptChunkCount() == 0)) {
    if (RootList2D* dlist = dest->ListAt(which)) {
      dlist->FlushAll();
      dlist->FreeKeptChunks();
    }
    return true;
  }
  RootList2D* dlist = dest->GetAttachedList(which, true);
  return dlist != nullptr && list->CopyToX(dlist, flags, trans);
}

bool BaseList2D::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  BaseList2D* d = static_cast<BaseList2D*>(dest);
  if ((flags & COPYFLAGS_NO_BITS) == 0) d->_bits = _bits;
  if (!_data.CopyTo(&d->_data, flags, trans)) return false;
  if ((flags & COPYFLAGS_IDENTITY) != 0) {
    d->_marker = _marker;
    if (_uniqueIds == nullptr) {
      DeleteObj(d->_uniqueIds);
    } else {
      if (d->_uniqueIds == nullptr) d->_uniqueIds = NewObj<UniqueIDArray>();
      if (d->_uniqueIds == nullptr || !_uniqueIds->CopyTo(d->_uniqueIds)) return false;
    }
  } else {
    GeGetNewMarker(d->_marker);
  }
  if (!_nodeLink.CopyData(&d->_nodeLink, trans)) return false;
  d->_name = _name;
  if (d->_name.GetLength() != _name.GetLength()) return false;
  if (GetKeptChunkCount() > 0) {
    if (d->MakeAttached() == nullptr || !_attached->kept.CopyTo(&d->_attached->kept)) return false;
  } else if (d->_attached != nullptr) {
    d->_attached->kept.Free();
  }
  GeListNode::CopyToX(dest, flags, trans);  // the bits and the goal's identity: nothing to fail
  if (!_description.CopyTo(&d->_description, flags, trans)) return false;
  if (!DescIdStore_CopyTo(_runtimeStore, d->_runtimeStore, trans) ||
      !DescIdStore_CopyTo(_savedStore, d->_savedStore, trans)) {
    return false;
  }
  if ((flags & COPYFLAGS_NO_BRANCHES) == 0) {
    if (!CopyAttachedList(d, ATTACHEDLIST_SHADERS, flags, trans) ||
        !CopyAttachedList(d, ATTACHEDLIST_SHADERS2, flags, trans)) {
      return false;
    }
  }
  if ((flags & COPYFLAGS_NO_TRACKS) == 0 && !CopyAttachedList(d, ATTACHEDLIST_TRACKS, flags, trans))
    return false;
  if ((flags & (COPYFLAGS_NO_OVERRIDES | COPYFLAGS_NO_BRANCHES)) == 0) {
    if (!CopyAttachedList(d, ATTACHEDLIST_OVERRIDES, flags, trans) ||
        !CopyAttachedList(d, ATTACHEDLIST_SHADERS3, flags, trans)) {
      return false;
    }
  }
  if (_notifyList != nullptr && _notifyList->GetCount() > 0) {
    if (d->MakeNotifyList() == nullptr || !_notifyList->CopyTo(d->_notifyList, flags, trans))
      return false;
  }
  return true;
}

}  // namespace lumora
