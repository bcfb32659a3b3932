// RootList2D: list heads (see lum_rootlist2d.h).
#include "scene/lum_rootlist2d.h"

#include "lum_debug.h"
#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

constexpr const Char* kFile = "source/lum_rootlist2d";

// Destruction nests one FlushAll per generation. Beyond GELISTNODE_STACKED_GENERATIONS the
// members are stacked here instead (linked through next) and destroyed by the outermost
// FlushAll, so that no tree is too deep to destroy.
thread_local Int32 t_flushDepth = 0;
thread_local GeToolNode2D* t_doomed = nullptr;

}  // namespace

RootList2D::~RootList2D() {
  FlushAll();
  FreeKeptChunks();
}

bool RootList2D::Accepts(const GeListNode* node) const {
  bool ok = node != nullptr && node != this && !node->IsInList() &&
            (GetMemberClass() == 0 || (node->GetNodeClasses() & GetMemberClass()) != 0);
  // Only a node that something hangs from can lie above the owner: a new leaf (every step of
  // building a chain) needs no walk.
  if (ok && node == _owner) ok = false;
  if (ok && _owner != nullptr && node->HoldsNodes())
    for (const GeListNode* up = _owner->GetHolder(); ok && up != nullptr; up = up->GetHolder())
      ok = up != node;
  if (!ok) _GeDebugBreak(__LINE__, kFile);
  return ok;
}

void RootList2D::Adopt(GeListNode* node) {
  node->_listHead = this;
  if (_owner != nullptr) ++_owner->_heldMembers;
}

void RootList2D::SetOwner(GeListNode* owner) {
  const Int32 count = GetCount();
  if (_owner != nullptr) _owner->_heldMembers -= count;
  _owner = owner;
  if (_owner != nullptr) _owner->_heldMembers += count;
}

void RootList2D::_InsertNewLast(GeListNode* node) {
  GeToolList2D::LinkAfter(node, _list.tail.prev);
  Adopt(node);
}

bool RootList2D::Insert(GeListNode* node) { return InsertAfter(node, nullptr); }

bool RootList2D::InsertLast(GeListNode* node) {
  if (!Accepts(node)) return false;
  GeToolList2D::LinkAfter(node, _list.tail.prev);
  Adopt(node);
  return true;
}

bool RootList2D::InsertAfter(GeListNode* node, GeListNode* pred) {
  if (!Accepts(node) || (pred != nullptr && !IsMember(pred))) return false;
  GeToolList2D::LinkAfter(node, pred != nullptr ? static_cast<GeToolNode2D*>(pred) : &_list.head);
  Adopt(node);
  return true;
}

bool RootList2D::InsertBefore(GeListNode* node, GeListNode* succ) {
  if (!Accepts(node) || (succ != nullptr && !IsMember(succ))) return false;
  // A member's links are never null: only the sentinels' outer ones are.
  GeToolList2D::LinkAfter(node, succ != nullptr ? succ->prev : &_list.head);
  Adopt(node);
  return true;
}

bool RootList2D::IsMember(const GeListNode* node) const {
  if (node->_listHead == this) return true;
  _GeDebugBreak(__LINE__, kFile);
  return false;
}

GeListNode* RootList2D::GetFirst() const { return static_cast<GeListNode*>(_list.First()); }

GeListNode* RootList2D::GetLast() const { return static_cast<GeListNode*>(_list.Last()); }

Int32 RootList2D::GetCount() const {
  Int32 n = 0;
  for (GeToolNode2D* m = _list.First(); m != nullptr && m != &_list.tail; m = m->next) ++n;
  return n;
}

void RootList2D::FlushAll() {
  if (t_flushDepth >= GELISTNODE_STACKED_GENERATIONS) {
    while (GeListNode* m = GetFirst()) {
      m->Remove();
      m->next = t_doomed;
      t_doomed = m;
    }
    return;
  }
  ++t_flushDepth;
  while (GeListNode* m = GetFirst()) {
    m->Remove();
    DeleteObj(m);
  }
  if (t_flushDepth == 1) {
    while (t_doomed != nullptr) {
      GeListNode* m = static_cast<GeListNode*>(t_doomed);
      t_doomed = m->next;
      m->next = nullptr;
      DeleteObj(m);
    }
  }
  --t_flushDepth;
}

bool RootList2D::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (GeListNode::HandleSubChunk(hf, id, level)) return true;
  if (id != CHUNK_NODELIST) return false;
  // A member list nested in the member list adds its members after those read so far.
  const bool nested = _readingMembers;
  if (!nested) FlushAll();
  _readingMembers = true;
  const bool ok = ReadChunk(hf, true, false);
  _readingMembers = nested;
  return ok;
}

bool RootList2D::KeepUnknownChunk(HyperFile* hf, Int32 id, Int32 level) {
  return _kept.Keep(hf, id, level, GetCount());
}

void RootList2D::FreeKeptChunks() { _kept.Free(); }

bool RootList2D::TakeKeptChunks(RootList2D& from) { return _kept.TakeFrom(from._kept, GetCount()); }

bool RootList2D::CopyKeptChunksTo(RootList2D* dest) const { return _kept.CopyTo(&dest->_kept); }

bool RootList2D::Write(HyperFile* hf) {
  bool any = GetAliasGoal().WritesRecord();
  for (Int32 i = 0; i < 4; ++i) any = any || GetNBitWord(i) != 0;
  return !any || GeListNode::Write(hf);
}

bool RootList2D::AppendRead(HyperFile* hf, GeListNode* member, bool read) {
  if (member == nullptr) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  if (!read && !member->ReadChunk(hf, true, false)) {
    DeleteObj(member);
    return false;
  }
  _InsertNewLast(member);
  if (!member->SetDocument(hf->GetDocument())) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  return true;
}

bool RootList2D::WriteNodeList(HyperFile* hf, Int32 memberId, bool evenEmpty) {
  if (GetFirst() == nullptr && _kept.GetCount() == 0 && !evenEmpty) return true;
  if (!hf->WriteChunkStart(CHUNK_NODELIST, 0)) return false;
  Int32 index = 0;
  for (GeListNode* m = GetFirst(); m != nullptr; m = m->GetNext(), ++index) {
    if (!_kept.Write(hf, index, false) ||
        !m->WriteObject(hf, memberId != 0 ? memberId : m->GetDiskType()))
      return false;
  }
  // Those kept after the last member, and those whose members have gone since.
  return _kept.Write(hf, index, true) && hf->WriteChunkEnd();
}

bool RootList2D::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  if ((flags & COPYFLAGS_NO_BRANCHES) != 0) return true;
  RootList2D* d = static_cast<RootList2D*>(dest);
  d->FlushAll();
  const COPYFLAGS memberFlags = flags & ~COPYFLAGS_NO_CHILDREN;
  for (GeListNode* m = GetFirst(); m != nullptr; m = m->GetNext()) {
    GeListNode* clone = m->GetClone(memberFlags, trans);
    if (clone == nullptr) {
      d->FlushAll();
      return false;
    }
    d->_InsertNewLast(clone);
  }
  if (!_kept.CopyTo(&d->_kept)) {
    d->FlushAll();
    return false;
  }
  return GeListNode::CopyToX(dest, flags, trans);
}

}  // namespace lumora
