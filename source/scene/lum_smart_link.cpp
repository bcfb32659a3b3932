// Links, alias goals and alias translations (see lum_baselink.h).
#include <algorithm>
#include <cstring>

#include "lum_debug.h"
#include "lum_memory.h"
#include "scene/lum_basedocument.h"
#include "scene/lum_baselist2d.h"
#include "stream/lum_hyperfile.h"
#include "values/lum_basecontainer.h"
#include "values/lum_baselink.h"
#include "values/lum_gedata.h"

namespace lumora {

// The record of a goal with links: the goal and the list of every link's entry, newest first.
struct GeAliasGoalRecord {
  GeAliasGoal* goal = nullptr;
  GeToolList2D links;
  Int32 count = 0;
};

// One identity of a translation.
struct TransEntry {
  GeAliasID id = 0;
  GeAliasGoal placeholder;
  BaseLink anchor;  // points at the placeholder, later at the real goal for the id
  BaseLink source;  // the goal copied links pointed at, when known
};

namespace {

constexpr const Char* kFile = "source/lum_smart_link";
constexpr Int32 kRecordSize = BaseLink::RECORD_SIZE;
const char kGoalPrefix[6] = {'a', 'g', 'o', 'a', 'l', '1'};
const char kLinkPrefix[6] = {'a', 'l', 'i', 'a', 's', '2'};

void DetachXLink(GeAliasXLink* x) {
  GeAliasGoalRecord* rec = x->goalRecord;
  if (rec == nullptr) return;
  GeToolList2D::Unlink(x);
  x->goalRecord = nullptr;
  if (--rec->count == 0) {
    // The last link left: the record goes with it.
    if (rec->goal != nullptr) rec->goal->DetachAll();
  }
}

}  // namespace

// ---- GeToolList2D ----

GeToolList2D::GeToolList2D() {
  head.next = &tail;
  tail.prev = &head;
}

GeToolList2D::~GeToolList2D() { FlushAll(); }

void GeToolList2D::LinkAfter(GeToolNode2D* node, GeToolNode2D* pred) {
  node->prev = pred;
  node->next = pred->next;
  pred->next->prev = node;
  pred->next = node;
}

void GeToolList2D::Unlink(GeToolNode2D* node) {
  if (node->next == nullptr || node->prev == nullptr) return;
  node->prev->next = node->next;
  node->next->prev = node->prev;
  node->next = node->prev = nullptr;
}

void GeToolList2D::FlushAll() {
  while (GeToolNode2D* n = First()) {
    Unlink(n);
    DeleteObj(n);
  }
}

// ---- GeAliasGoal ----

GeAliasGoal::~GeAliasGoal() { DetachAll(); }

void GeAliasGoal::DetachAll() {
  GeAliasGoalRecord* rec = _record;
  if (rec == nullptr) return;
  _record = nullptr;
  while (GeToolNode2D* n = rec->links.First()) {
    GeToolList2D::Unlink(n);
    static_cast<GeAliasXLink*>(n)->goalRecord = nullptr;
  }
  rec->goal = nullptr;
  DeleteObj(rec);
}

GeAliasGoalRecord* GeAliasGoal::MakeRecord() {
  if (_record == nullptr) {
    _record = NewObj<GeAliasGoalRecord>();
    if (_record != nullptr) _record->goal = this;
  }
  return _record;
}

GeAliasID GeAliasGoal::GetID() const {
  return _record != nullptr && _record->count > 0 ? GeAliasID(reinterpret_cast<uintptr_t>(_record))
                                                  : 0;
}

bool GeAliasGoal::HasLinks() const { return _record != nullptr && _record->count > 0; }

GeAliasXLink* GeAliasGoal::GetFirstLink(BrowseGoal& browse, bool) const {
  browse._next = nullptr;
  browse._tail = nullptr;
  if (!HasLinks()) return nullptr;
  GeToolNode2D* first = _record->links.First();
  browse._tail = &_record->links.tail;
  browse._next = first->next != browse._tail ? static_cast<GeAliasXLink*>(first->next) : nullptr;
  return static_cast<GeAliasXLink*>(first);
}

GeAliasXLink* BrowseGoal::GetNext() {
  GeAliasXLink* now = _next;
  if (now != nullptr)
    _next = now->next != nullptr && now->next != _tail ? static_cast<GeAliasXLink*>(now->next)
                                                       : nullptr;
  return now;
}

Int32 GeAliasGoal::GetLinkCount() const { return _record != nullptr ? _record->count : 0; }

void GeAliasGoal::CopyAliasTrans(GeAliasGoal* dest, AliasTrans* trans) const {
  if (trans == nullptr || dest == nullptr || trans->GetTrans() == nullptr) return;
  trans->GetTrans()->XSetGoalFromID(GetID(), dest);
}

bool GeAliasGoal::XTransfer(GeAliasGoal* dest) {
  if (dest == this || _record == nullptr) return true;
  GeAliasGoalRecord* to = dest->MakeRecord();
  if (to == nullptr) return false;
  GeAliasGoalRecord* from = _record;
  // Moved in order, each to the front: the newest link of this goal ends up first.
  while (GeToolNode2D* n = from->links.Last()) {
    GeToolList2D::Unlink(n);
    GeToolList2D::LinkAfter(n, &to->links.head);
    static_cast<GeAliasXLink*>(n)->goalRecord = to;
    --from->count;
    ++to->count;
  }
  DetachAll();
  return true;
}

bool GeAliasGoal::Write(HyperFile* hf) const {
  UChar block[kRecordSize];
  std::memcpy(block, kGoalPrefix, 6);
  GeAliasID id = GetID();
  if (id == 0 && _kept) id = GeAliasID(reinterpret_cast<uintptr_t>(this));
  std::memcpy(block + 6, &id, 8);
  return hf->WriteMemory(block, kRecordSize);
}

bool GeAliasGoal::Read(HyperFile* hf) {
  void* bytes = nullptr;
  Int64 size = 0;
  if (!hf->ReadMemory(&bytes, &size)) return false;
  GeAliasID id = 0;
  if (size == kRecordSize && std::memcmp(bytes, kGoalPrefix, 6) == 0) {
    std::memcpy(&id, static_cast<UChar*>(bytes) + 6, 8);
    _kept = true;
  }
  MemFree(bytes);
  BaseDocument* doc = hf->GetDocument();
  AliasTrans* trans = doc != nullptr ? doc->GetAliasTrans() : nullptr;
  if (trans != nullptr && trans->GetTrans() != nullptr &&
      !trans->GetTrans()->XSetGoalFromID(id, this)) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  return true;
}

// ---- BaseLink ----

BaseLink::BaseLink(const BaseLink& src) {
  _GeDebugBreak(__LINE__, kFile);
  src.CopyData(this, nullptr);
}

BaseLink& BaseLink::operator=(const BaseLink& src) {
  if (this != &src) src.CopyData(this, nullptr);
  return *this;
}

BaseLink::~BaseLink() {
  Clear();
  DeleteObj(_text);
}

BaseLink* BaseLink::Alloc() { return NewObj<BaseLink>(); }

void BaseLink::Free(BaseLink*& link) { DeleteObj(link); }

void BaseLink::Clear() {
  if (_xlink == nullptr) return;
  DetachXLink(_xlink);
  DeleteObj(_xlink);
}

BaseLink* BaseLink::GetClone(AliasTrans* trans) const {
  BaseLink* link = Alloc();
  if (link == nullptr) return nullptr;
  if (!CopyData(link, trans)) Free(link);
  return link;
}

bool BaseLink::CopyData(BaseLink* dest, AliasTrans* trans) const {
  if (dest == nullptr || dest == this) return dest != nullptr;
  bool ok = true;
  if (trans != nullptr && trans->GetTrans() != nullptr) {
    ok = trans->GetTrans()->SetAliasFromID(GetID(), dest, GetLinkGoal());
  } else {
    dest->Clear();
    GeAliasGoal* goal = GetLinkGoal();
    if (goal != nullptr) ok = dest->XSetLink(*goal);
  }
  DeleteObj(dest->_text);
  if (_text != nullptr && _text->GetLength() > 0) {
    dest->_text = NewObj<String>(*_text);
    if (dest->_text == nullptr || dest->_text->GetLength() != _text->GetLength()) {
      DeleteObj(dest->_text);
      ok = false;
    }
  }
  return ok;
}

bool BaseLink::XSetLink(GeAliasGoal& goal) {
  if (_xlink == nullptr) {
    _xlink = NewObj<GeAliasXLink>();
    if (_xlink == nullptr) return false;
    _xlink->ownerRef = _ownerRef;
  }
  if (_xlink->goalRecord != nullptr && _xlink->goalRecord->goal == &goal) {
    // Already there: move to the front like a fresh link.
    GeToolList2D::Unlink(_xlink);
    GeToolList2D::LinkAfter(_xlink, &_xlink->goalRecord->links.head);
    return true;
  }
  DetachXLink(_xlink);
  GeAliasGoalRecord* rec = goal.MakeRecord();
  if (rec == nullptr) {
    DeleteObj(_xlink);
    return false;
  }
  GeToolList2D::LinkAfter(_xlink, &rec->links.head);
  _xlink->goalRecord = rec;
  ++rec->count;
  return true;
}

void BaseLink::SetLink(GeListNode* node) {
  if (node == nullptr) {
    Clear();
    return;
  }
  XSetLink(node->GetAliasGoal());
}

GeAliasGoal* BaseLink::GetLinkGoal() const {
  if (_xlink == nullptr || _xlink->goalRecord == nullptr) return nullptr;
  return _xlink->goalRecord->goal;
}

GeAliasID BaseLink::GetID() const {
  GeAliasGoal* goal = GetLinkGoal();
  return goal != nullptr ? goal->GetID() : 0;
}

BaseList2D* BaseLink::GetLink() const {
  GeAliasGoal* goal = GetLinkGoal();
  if (goal == nullptr || !goal->GetVisibility() || goal->GetOwner() == nullptr) return nullptr;
  GeListNode* node = static_cast<GeListNode*>(goal->GetOwner());
  return node->IsBaseList() ? static_cast<BaseList2D*>(node) : nullptr;
}

bool BaseLink::SetText(const String& text) {
  DeleteObj(_text);
  if (text.GetLength() == 0) return true;
  _text = NewObj<String>(text);
  if (_text == nullptr || _text->GetLength() != text.GetLength()) {
    DeleteObj(_text);
    return false;
  }
  return true;
}

BaseList2D* BaseLink::GetLinkAtom(const BaseDocument*, Int32 instanceType) const {
  BaseList2D* node = GetLink();
  if (node == nullptr) return nullptr;
  if (_text != nullptr && _text->GetLength() > 0 && node->IsInstanceOf(TYPE_ANYOBJECT)) {
    // The path is walked from its last character to its first.
    for (Int32 i = _text->GetLength() - 1; i >= 0 && node != nullptr; --i) {
      switch (_text->GetUnit(i)) {
        case 'n':
          node = static_cast<BaseList2D*>(node->GetNext());
          break;
        case 'd':
          node = static_cast<BaseList2D*>(node->GetDown());
          break;
        case 'D':
        case 'G':
          node = node->GetLinkPathCache();
          break;
        default:
          break;
      }
    }
    if (node == nullptr) return nullptr;
  }
  if (instanceType != 0 && !node->IsInstanceOf(instanceType)) return nullptr;
  return node;
}

bool BaseLink::Write(HyperFile* hf) const {
  Int32 textBytes = _text != nullptr ? _text->GetCStringLen(STRINGENCODING_CODEPAGE) : 0;
  Int64 size = kRecordSize + (textBytes > 0 ? 4 + Int64(textBytes) : 0);
  UChar* block = static_cast<UChar*>(MemAllocNC(size));
  if (block == nullptr) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  std::memcpy(block, kLinkPrefix, 6);
  GeAliasID id = GetID();
  std::memcpy(block + 6, &id, 8);
  if (textBytes > 0) {
    block[14] = UChar(UInt32(textBytes) >> 24);
    block[15] = UChar(UInt32(textBytes) >> 16);
    block[16] = UChar(UInt32(textBytes) >> 8);
    block[17] = UChar(UInt32(textBytes));
    // GetCString writes a terminator: give it the room and leave it out of the block.
    char* text = static_cast<char*>(MemAllocNC(Int64(textBytes) + 1));
    if (text == nullptr) {
      DeleteMem(block);
      hf->SetError(FILEERROR_OUTOFMEMORY);
      return false;
    }
    _text->GetCString(text, textBytes + 1, STRINGENCODING_CODEPAGE);
    std::memcpy(block + 18, text, size_t(textBytes));
    DeleteMem(text);
  }
  bool ok = hf->WriteMemory(block, size);
  DeleteMem(block);
  return ok;
}

bool BaseLink::IsEmptyRecord(const UChar* record) {
  GeAliasID id = 0;
  std::memcpy(&id, record + 6, 8);
  return std::memcmp(record, kLinkPrefix, 6) == 0 && id == 0;
}

void BaseLink::EmptyRecord(UChar* record) {
  std::memcpy(record, kLinkPrefix, 6);
  std::memset(record + 6, 0, 8);
}

bool BaseLink::Read(HyperFile* hf) {
  UChar record[128];  // a link's record and a short text: no block of its own
  void* bytes = nullptr;
  Int64 size = 0;
  if (!hf->ReadMemoryInto(record, sizeof record, &bytes, &size)) return false;
  const UChar* b = static_cast<const UChar*>(bytes);
  bool ok = true;
  if (size >= kRecordSize && std::memcmp(b, kLinkPrefix, 6) == 0) {
    GeAliasID id = 0;
    std::memcpy(&id, b + 6, 8);
    BaseDocument* doc = hf->GetDocument();
    AliasTrans* trans = doc != nullptr ? doc->GetAliasTrans() : nullptr;
    if (trans != nullptr && trans->GetTrans() != nullptr &&
        !trans->GetTrans()->SetAliasFromID(id, this, nullptr)) {
      ok = false;
    }
    if (ok && size > kRecordSize) {
      Int64 length = 0;
      if (size >= kRecordSize + 4)
        length = (Int64(b[14]) << 24) | (Int64(b[15]) << 16) | (Int64(b[16]) << 8) | Int64(b[17]);
      // A length beyond the block takes the bytes that are there and no more.
      const Int64 avail = size >= kRecordSize + 4 ? size - kRecordSize - 4 : 0;
      if (length > avail) length = avail;
      if (length > 0) {
        String text;
        text.SetCString(reinterpret_cast<const char*>(b + 18), Int32(length));
        ok = text.GetLength() > 0 && SetText(text);
      }
    }
    if (!ok) hf->SetError(FILEERROR_OUTOFMEMORY);
  }
  if (bytes != record) MemFree(bytes);
  return ok;
}

// ---- GeAliasXTrans ----

GeAliasXTrans::~GeAliasXTrans() { Zap(false); }

namespace {

// An identity's tag: the high half of its hash, in the high half of its slot. The slot's
// position is the tag's low bits, so that growing the index moves the slots without reading
// their entries.
constexpr UInt64 kEntryBits = 0xFFFFFFFFull;
inline UInt64 TagOf(GeAliasID id) { return (id * 0x9E3779B97F4A7C15ull) & ~kEntryBits; }
inline UInt32 SlotOf(UInt64 tag, UInt32 mask) { return UInt32(tag >> 32) & mask; }

}  // namespace

bool GeAliasXTrans::GrowIndex() {
  Int32 size = _indexSize == 0 ? 64 : _indexSize * 2;
  if (size <= 0 || size > (1 << 29)) return false;
  UInt64* index = static_cast<UInt64*>(MemAlloc(Int64(size) * Int64(sizeof(UInt64))));
  if (index == nullptr) return false;
  const UInt32 mask = UInt32(size - 1);
  for (Int32 i = 0; i < _indexSize; ++i) {
    const UInt64 slot = _index[i];
    if (slot == 0) continue;
    UInt32 at = SlotOf(slot, mask);
    while (index[at] != 0) at = (at + 1) & mask;
    index[at] = slot;
  }
  DeleteMem(_index);
  _index = index;
  _indexSize = size;
  return true;
}

TransEntry* GeAliasXTrans::FindOrInsert(GeAliasID id) {
  const UInt64 tag = TagOf(id);
  if (_indexSize > 0) {
    const UInt32 mask = UInt32(_indexSize - 1);
    for (UInt32 at = SlotOf(tag, mask); _index[at] != 0; at = (at + 1) & mask) {
      if ((_index[at] & ~kEntryBits) != tag) continue;
      TransEntry* e = _entries[(_index[at] & kEntryBits) - 1];
      if (e->id == id) return e;
    }
  }
  if ((Int64(_count) + 1) * 2 > _indexSize && !GrowIndex()) return nullptr;
  if (_count == _capacity) {
    Int32 cap = _capacity == 0 ? 16 : _capacity * 2;
    void* block = MemRealloc(_entries, Int64(cap) * Int64(sizeof(TransEntry*)));
    if (block == nullptr) return nullptr;
    _entries = static_cast<TransEntry**>(block);
    _capacity = cap;
  }
  TransEntry* e = NewObj<TransEntry>();
  if (e == nullptr) return nullptr;
  e->id = id;
  if (!e->anchor.XSetLink(e->placeholder)) {
    DeleteObj(e);
    return nullptr;
  }
  _entries[_count++] = e;
  const UInt32 mask = UInt32(_indexSize - 1);
  UInt32 at = SlotOf(tag, mask);
  while (_index[at] != 0) at = (at + 1) & mask;
  _index[at] = tag | UInt64(_count);
  return e;
}

bool GeAliasXTrans::XSetGoalFromID(GeAliasID id, GeAliasGoal* goal) {
  if (goal == nullptr) return true;
  if (id == 0) {
    goal->DetachAll();
    return true;
  }
  TransEntry* e = FindOrInsert(id);
  if (e == nullptr) return false;
  GeAliasGoal* now = e->anchor.GetLinkGoal();
  // Registered under this identity already: the goal holds the entry's anchor and the links
  // translated so far, and starting it clean would empty them all.
  if (now == goal) return true;
  // Under the identity it holds itself (a node copied onto itself), its links are the ones the
  // identity stands for: they stay.
  if (id != goal->GetID()) goal->DetachAll();
  if (now == nullptr) {
    _GeDebugBreak(__LINE__, kFile);
    return true;
  }
  return now->XTransfer(goal);
}

bool GeAliasXTrans::SetAliasFromID(GeAliasID id, BaseLink* link, GeAliasGoal* source) {
  if (link == nullptr) return true;
  link->Clear();
  if (id == 0) return true;
  TransEntry* e = FindOrInsert(id);
  if (e == nullptr) return false;
  GeAliasGoal* now = e->anchor.GetLinkGoal();
  if (now == nullptr) {
    _GeDebugBreak(__LINE__, kFile);
    return true;
  }
  if (!link->XSetLink(*now)) return false;
  if (source != nullptr) return e->source.XSetLink(*source);
  e->source.Clear();
  return true;
}

void GeAliasXTrans::Zap(bool resolve) {
  if (resolve) {
    // One pass in the order the entries were made (the order of their memory) moves those still
    // on a placeholder that know their source to the front; a large translation is mostly
    // resolved, and sorting every entry would read them all at random. A transfer moves only
    // the links of a goal without an owner, so it cannot make a resolved entry wait; the few
    // moved are then visited in identity order, as a sorted table would visit them, and
    // checked again there, as that visit did.
    auto waiting = [](const TransEntry* e) {
      GeAliasGoal* now = e->anchor.GetLinkGoal();
      bool unresolved = now == &e->placeholder || now == nullptr || now->GetOwner() == nullptr;
      return unresolved && now != nullptr && e->source.GetLinkGoal() != nullptr;
    };
    TransEntry** end = std::partition(_entries, _entries + _count, waiting);
    std::sort(_entries, end,
              [](const TransEntry* a, const TransEntry* b) { return a->id < b->id; });
    for (TransEntry** at = _entries; at != end; ++at) {
      if (!waiting(*at)) continue;
      GeAliasGoal* now = (*at)->anchor.GetLinkGoal();
      GeAliasGoal* source = (*at)->source.GetLinkGoal();
      if (source->HasLinks()) now->XTransfer(source);
    }
  }
  for (Int32 i = 0; i < _count; ++i) DeleteObj(_entries[i]);
  DeleteMem(_entries);
  DeleteMem(_index);
  _count = _capacity = _indexSize = 0;
}

// ---- the operations values need of links ----

BaseLink* _GeLinkClone(const BaseLink* src, AliasTrans* trans) {
  if (src == nullptr) return BaseLink::Alloc();
  return src->GetClone(trans);
}

void _GeLinkFree(BaseLink*& link) { BaseLink::Free(link); }

bool _GeLinkAssign(const BaseLink& src, BaseLink* dest) { return src.CopyData(dest, nullptr); }

bool _GeLinkRead(BaseLink* link, HyperFile* hf) { return link != nullptr && link->Read(hf); }

bool _GeLinkWrite(const BaseLink* link, HyperFile* hf) {
  if (link != nullptr) return link->Write(hf);
  BaseLink empty;
  return empty.Write(hf);
}

// ---- the container's link setter ----

bool BaseContainer::SetLink(Int32 id, BaseList2D* node) {
  GeData value(VALUETYPE_LINK, DEFAULTVALUE);
  BaseLink* link = value.GetBaseLink();
  if (link == nullptr || (node != nullptr && !link->XSetLink(node->GetAliasGoal()))) return false;
  return SetData(id, value) != nullptr;
}

BaseList2D* _GeLinkResolve(const BaseLink* link) {
  return link != nullptr ? link->GetLink() : nullptr;
}

// ---- AliasTrans ----

AliasTrans::~AliasTrans() { DeleteObj(_trans); }

bool AliasTrans::Init() {
  if (_trans == nullptr) _trans = NewObj<GeAliasXTrans>();
  return _trans != nullptr;
}

void AliasTrans::Zap(bool resolve) {
  if (_trans != nullptr) _trans->Zap(resolve);
}

}  // namespace lumora
