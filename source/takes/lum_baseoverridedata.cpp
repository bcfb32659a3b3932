// BaseOverrideData (see lum_baseoverridedata.h).
#include "takes/lum_baseoverridedata.h"

#include "lum_memory.h"
#include "scene/lum_basedocument.h"
#include "stream/lum_hyperfile.h"
#include "takes/lum_takesystemhook.h"

namespace lumora {

namespace {

// The fewest bytes a map entry (key, count) or an override entry (id, value) takes in a file:
// two values of at least five bytes. Counts beyond what the rest of the stream can hold fail
// before anything is allocated for them.
constexpr Int64 kMinEntryBytes = 10;
// A link record: a memory value of at least five bytes.
constexpr Int64 kMinLinkBytes = 5;

bool Fail(HyperFile* hf, FILEERROR error) {
  if (hf->GetError() == FILEERROR_NONE) hf->SetError(error);
  return false;
}

// dest becomes a copy of src; false when its levels could not be allocated.
bool CopyID(const DescID& src, DescID& dest) {
  dest = src;
  return dest.GetCount() == src.GetCount();
}

// A one-level id read as an Int32 (old files) or a DescID.
bool ReadKey(HyperFile* hf, bool asInt32, DescID& out) {
  if (!asInt32) return out.Read(hf);
  Int32 id = 0;
  if (!hf->ReadInt32(&id)) return false;
  out = DescID(id);
  return out.GetCount() == 1 || Fail(hf, FILEERROR_OUTOFMEMORY);
}

bool ReadCount(HyperFile* hf, Int64 minBytes, Int32* count) {
  if (!hf->ReadInt32(count)) return false;
  if (*count < 0) return Fail(hf, FILEERROR_READ);
  return hf->CheckRemaining(Int64(*count) * minBytes);
}

// One map entry: its key, Int32 m and m override entries.
bool ReadMapEntry(HyperFile* hf, Int32 level, OverrideMapEntry* e) {
  Int32 m = 0;
  if (!ReadKey(hf, level <= 2, e->key) || !ReadCount(hf, kMinEntryBytes, &m)) return false;
  e->list = NewObj<BaseArray<OverrideEntry>>();
  if (e->list == nullptr) return Fail(hf, FILEERROR_OUTOFMEMORY);
  for (Int32 j = 0; j < m; ++j) {
    OverrideEntry* oe = e->list->Append();
    if (oe == nullptr) return Fail(hf, FILEERROR_OUTOFMEMORY);
    if (!oe->id.Read(hf) || !hf->ReadInt32(&oe->value)) return false;
    if (level > 0 && !ReadKey(hf, level <= 2, oe->second)) return false;
  }
  return true;
}

}  // namespace

BaseOverrideData::BaseOverrideData() : _override(this) {}

BaseOverrideData::~BaseOverrideData() { Free(); }

void BaseOverrideData::FlushMap() {
  for (OverrideMapEntry* e : _map) DeleteObj(e);
  _map.Flush();
}

void BaseOverrideData::FlushLinks() {
  for (BaseLink* l : _links) BaseLink::Free(l);
  _links.Flush();
}

void BaseOverrideData::Free() {
  FlushMap();
  FlushLinks();
  _takeLink.Clear();
  _secondLink.Clear();
  _thirdLink.Clear();
}

// ---- building ----

bool BaseOverrideData::AddEntry(const DescID& key, const DescID& id, Int32 value,
                                const DescID& second) {
  OverrideMapEntry* e = nullptr;
  for (OverrideMapEntry* m : _map) {
    if (m->key == key && m->key.GetCount() == key.GetCount() && m->list != nullptr) {
      e = m;
      break;
    }
  }
  if (e == nullptr) {
    OverrideMapEntry* made = NewObj<OverrideMapEntry>();
    if (made == nullptr) return false;
    made->list = NewObj<BaseArray<OverrideEntry>>();
    if (made->list == nullptr || !CopyID(key, made->key) || !_map.Append(made)) {
      DeleteObj(made);
      return false;
    }
    e = made;
  }
  OverrideEntry entry;
  entry.value = value;
  if (!CopyID(id, entry.id) || !CopyID(second, entry.second)) return false;
  return e->list->Append(std::move(entry));
}

bool BaseOverrideData::AddOverriddenParam(const DescID& id) {
  if (id[0].dataType == DTYPE_VECTOR) return AddEntry(DescID(id[0].id), id, 0, DescID());
  return AddEntry(id, id, 0, DescID());
}

bool BaseOverrideData::SetTake(BaseTake* take) {
  if (take == nullptr) {
    _takeLink.Clear();
    return true;
  }
  return _takeLink.XSetLink(take->GetNode()->GetAliasGoal());
}

bool BaseOverrideData::AddArrayLink(BaseList2D* node) {
  BaseLink* link = BaseLink::Alloc();
  if (link == nullptr) return false;
  if ((node != nullptr && !link->XSetLink(node->GetAliasGoal())) || !_links.Append(link)) {
    BaseLink::Free(link);
    return false;
  }
  return true;
}

// ---- questions ----

BaseList2D* BaseOverrideData::GetMainNode() const {
  GeListNode* up = GetNode() != nullptr ? GetNode()->GetUp() : nullptr;
  return up != nullptr && up->IsBaseList() ? static_cast<BaseList2D*>(up) : nullptr;
}

BaseTake* BaseOverrideData::GetTakeNode(BaseDocument* doc) const {
  if (doc == nullptr) return nullptr;
  return BaseTake::From(_takeLink.GetLink());
}

bool BaseOverrideData::IsOverriddenParam(const DescID& id) const {
  DescID vectorKey;
  const DescID* key = &id;
  if (id[0].dataType == DTYPE_VECTOR) {
    vectorKey = DescID(id[0].id);
    key = &vectorKey;
  }
  for (const OverrideMapEntry* e : _map) {
    if (!(e->key == *key)) continue;
    if (e->list == nullptr) return false;
    for (const OverrideEntry& oe : *e->list)
      if (oe.id == id) return true;
    return false;
  }
  return false;
}

bool BaseOverrideData::IsTakeAffected(BaseDocument* doc, BaseTake* take, const DescID& id) const {
  if (doc == nullptr || take == nullptr || doc->GetTakeData() == nullptr ||
      !IsOverriddenParam(id)) {
    return false;
  }
  BaseTake* own = GetTakeNode(doc);
  if (own == nullptr || own == take) return true;
  BaseList2D* main = GetMainNode();
  if (main == nullptr || !take->SearchHierarchy(own)) return false;
  // A take between take and the override's own take that overrides id itself shadows this
  // override.
  TakeData* takeData = doc->GetTakeData();
  for (BaseTake* t = take->GetUp(); t != nullptr; t = t->GetUp()) {
    BaseOverride* ov = t->FindOverride(takeData, main);
    if (ov == nullptr || !ov->IsOverriddenParam(id)) continue;
    if (t == own && !t->IsMain()) break;
    return false;
  }
  return true;
}

bool BaseOverrideData::TranslateDescID(GeListNode*, const DescID& id, DescID& outId,
                                       GeListNode*& outNode) {
  BaseDocument* doc = GetNode() != nullptr ? GetNode()->GetDocument() : nullptr;
  TakeData* takeData = doc != nullptr ? doc->GetTakeData() : nullptr;
  BaseTake* current = takeData != nullptr ? takeData->GetCurrentTake() : nullptr;
  if (current == nullptr) return false;
  BaseTake* own = GetTakeNode(doc);
  if (own == nullptr) return false;
  if (current != own && !IsTakeAffected(doc, current, id)) return false;
  BaseList2D* main = GetMainNode();
  if (main == nullptr || !CopyID(id, outId)) return false;
  outNode = main;
  return true;
}

// ---- file form ----

bool BaseOverrideData::Write(HyperFile* hf) {
  if (!hf->WriteInt32(_map.GetCount())) return false;
  for (const OverrideMapEntry* e : _map) {
    if (e->list == nullptr) return Fail(hf, FILEERROR_OUTOFMEMORY);
    if (!e->key.Write(hf) || !hf->WriteInt32(e->list->GetCount())) return false;
    for (const OverrideEntry& oe : *e->list)
      if (!oe.id.Write(hf) || !hf->WriteInt32(oe.value) || !oe.second.Write(hf)) return false;
  }
  if (!_takeLink.Write(hf) || !_secondLink.Write(hf) || !hf->WriteInt32(0) ||
      !_thirdLink.Write(hf)) {
    return false;
  }
  Int32 resolving = 0;
  for (const BaseLink* l : _links)
    if (l->GetLink() != nullptr) ++resolving;
  if (!hf->WriteInt32(resolving)) return false;
  for (const BaseLink* l : _links)
    if (l->GetLink() != nullptr && !l->Write(hf)) return false;
  return true;
}

bool BaseOverrideData::Read(HyperFile* hf, Int32, Int32 level) {
  FlushMap();
  Int32 n = 0;
  if (!ReadCount(hf, kMinEntryBytes, &n)) return false;
  for (Int32 i = 0; i < n; ++i) {
    OverrideMapEntry* e = NewObj<OverrideMapEntry>();
    if (e == nullptr || !_map.Append(e)) {
      DeleteObj(e);
      return Fail(hf, FILEERROR_OUTOFMEMORY);
    }
    if (!ReadMapEntry(hf, level, e)) return false;
  }
  if (!_takeLink.Read(hf) || !_secondLink.Read(hf)) return false;
  if (level < 1) return true;
  Int32 k = 0;
  if (!ReadCount(hf, kMinEntryBytes, &k)) return false;
  for (Int32 i = 0; i < k; ++i) {
    OverrideMapEntry dropped;
    if (!ReadMapEntry(hf, level, &dropped)) return false;
  }
  if (level < 2) return true;
  Int32 count = 0;
  if (!_thirdLink.Read(hf) || !ReadCount(hf, kMinLinkBytes, &count)) return false;
  FlushLinks();
  for (Int32 i = 0; i < count; ++i) {
    BaseLink* link = BaseLink::Alloc();
    if (link == nullptr || !_links.Append(link)) {
      BaseLink::Free(link);
      return Fail(hf, FILEERROR_OUTOFMEMORY);
    }
    if (!link->Read(hf)) return false;
  }
  return true;
}

// ---- copies ----

bool BaseOverrideData::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  if (!static_cast<NodeData*>(dest)->IsInstanceOf(TYPE_OVERRIDE)) return false;
  BaseOverrideData* d = static_cast<BaseOverrideData*>(dest);
  if (d == this) return true;
  d->FlushMap();
  for (const OverrideMapEntry* e : _map) {
    OverrideMapEntry* c = NewObj<OverrideMapEntry>();
    if (c == nullptr || !d->_map.Append(c)) {
      DeleteObj(c);
      return false;
    }
    if (!CopyID(e->key, c->key)) return false;
    if (e->list == nullptr) continue;
    c->list = NewObj<BaseArray<OverrideEntry>>();
    if (c->list == nullptr) return false;
    for (const OverrideEntry& oe : *e->list) {
      OverrideEntry* ce = c->list->Append();
      if (ce == nullptr || !CopyID(oe.id, ce->id) || !CopyID(oe.second, ce->second)) return false;
      ce->value = oe.value;
    }
  }
  AliasTrans* takeTrans = (flags & COPYFLAGS_TRANSLATE_TAKES) != 0 ? trans : nullptr;
  if (!_takeLink.CopyData(&d->_takeLink, takeTrans) ||
      !_secondLink.CopyData(&d->_secondLink, takeTrans) ||
      !_thirdLink.CopyData(&d->_thirdLink, trans)) {
    return false;
  }
  d->FlushLinks();
  for (const BaseLink* l : _links) {
    BaseLink* c = l->GetClone(trans);
    if (c == nullptr || !d->_links.Append(c)) {
      BaseLink::Free(c);
      return false;
    }
  }
  return true;
}

}  // namespace lumora
