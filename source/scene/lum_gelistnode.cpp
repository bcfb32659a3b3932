// GeListNode: tree operations, node bits and the list-node chunk (see lum_gelistnode.h).
#include "scene/lum_gelistnode.h"

#include "lum_debug.h"
#include "lum_memory.h"
#include "scene/lum_basedocument.h"
#include "scene/lum_rootlist2d.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

constexpr const Char* kFile = "source/lum_gelistnode";

// Branch copies waiting for the outermost _CopyBranch (one thread copies at a time per tree;
// each thread has its own queue).
struct PendingBranch {
  BranchCopy copy;
  GeListNode* src;
  GeListNode* dest;
  COPYFLAGS flags;
  AliasTrans* trans;
  PendingBranch* next;
};
thread_local PendingBranch* t_pending = nullptr;
thread_local Int32 t_copyDepth = 0;

// A destroyed node is no longer a destination.
void DropPendingFor(const GeListNode* node) {
  for (PendingBranch* p = t_pending; p != nullptr; p = p->next)
    if (p->dest == node) p->dest = nullptr;
}

bool Refuse(Int32 line) {
  _GeDebugBreak(line, kFile);
  return false;
}

}  // namespace

GeListNode::GeListNode() { _goal.Init(this); }

GeListNode::~GeListNode() {
  FreeRawData();
  DeleteObj(_children);
  Remove();
  SetDocument(nullptr);
  if (t_pending != nullptr) DropPendingFor(this);
}

bool _InsertCloneUnderLast(GeListNode* clone, GeListNode* parent) {
  if (parent == nullptr || parent->GetChildren() == nullptr) return Refuse(__LINE__);
  parent->GetChildren()->_InsertNewLast(clone);
  clone->SetDocument(parent->GetDocument());
  return true;
}

bool _CloneChildrenUnder(GeListNode* src, GeListNode* dest, COPYFLAGS flags, AliasTrans* trans) {
  // The chunks kept among the children go along, in their places.
  RootList2D* children = src->GetChildren();
  if (children != nullptr && children->GetKeptChunkCount() > 0 &&
      (dest->GetChildren() == nullptr || !children->CopyKeptChunksTo(dest->GetChildren())))
    return false;
  for (GeListNode* c = src->GetDown(); c != nullptr; c = c->GetNext()) {
    GeListNode* clone = c->GetClone(flags, trans);
    if (clone == nullptr) return false;
    if (!_InsertCloneUnderLast(clone, dest)) {
      DeleteObj(clone);
      return false;
    }
  }
  return true;
}

bool _CopyBranch(BranchCopy copy, GeListNode* src, GeListNode* dest, COPYFLAGS flags,
                 AliasTrans* trans) {
  if (t_copyDepth >= GELISTNODE_STACKED_GENERATIONS) {
    PendingBranch* p =
        NewObj<PendingBranch>(PendingBranch{copy, src, dest, flags, trans, t_pending});
    if (p == nullptr) return false;
    t_pending = p;
    return true;
  }
  ++t_copyDepth;
  bool ok = copy(src, dest, flags, trans);
  if (t_copyDepth == 1) {
    // The outermost call runs what deeper ones queued; a failure drops the rest.
    while (PendingBranch* p = t_pending) {
      t_pending = p->next;
      if (ok && p->dest == nullptr) ok = false;
      if (ok) ok = p->copy(p->src, p->dest, p->flags, p->trans);
      DeleteObj(p);
    }
  }
  --t_copyDepth;
  return ok;
}

bool GeListNode::SetDocument(BaseDocument* doc) {
  if (doc == GetDocument() && (doc != nullptr || _docCell == nullptr)) return true;
  GeListDocumentCell* cell = doc != nullptr ? doc->Cell() : nullptr;
  if (_docCell != nullptr && --_docCell->holders == 0) DeleteObj(_docCell);
  _docCell = cell;
  if (cell != nullptr) ++cell->holders;
  return cell != nullptr || doc == nullptr;
}

GeListDocumentCell* BaseDocument::Cell() {
  if (_cell == nullptr) {
    _cell = NewObj<GeListDocumentCell>(GeListDocumentCell{this, 1});
    // Out of memory: the node names no document, as after the document's end.
    if (_cell == nullptr) _GeDebugBreak(__LINE__, kFile);
  }
  return _cell;
}

BaseDocument::~BaseDocument() {
  // The hooks (and the takes in them) go before the render settings, while they still see the
  // document; then every other node forgets it, all at once through the cell they share.
  _sceneHooks.FlushAll();
  _renderData.FlushAll();
  if (_cell != nullptr) {
    _cell->document = nullptr;
    if (--_cell->holders == 0) DeleteObj(_cell);
  }
}

// ---- tree ----

// A node with a list head is linked (Adopt follows the link): its links are not null, and the
// sentinels are the nodes whose outer link is.
GeListNode* GeListNode::GetNext() const {
  if (_listHead == nullptr || next->next == nullptr) return nullptr;
  return static_cast<GeListNode*>(next);
}

GeListNode* GeListNode::GetPred() const {
  if (_listHead == nullptr || prev->prev == nullptr) return nullptr;
  return static_cast<GeListNode*>(prev);
}

GeListNode* GeListNode::GetUp() const {
  return _listHead != nullptr ? _listHead->GetOwner() : nullptr;
}

GeListNode* GeListNode::GetDown() const {
  return _children != nullptr ? _children->GetFirst() : nullptr;
}

bool GeListNode::InsertBefore(GeListNode* other) {
  if (other == nullptr || other->_listHead == nullptr) return Refuse(__LINE__);
  if (!other->_listHead->InsertBefore(this, other)) return false;
  SetDocument(other->GetDocument());
  return true;
}

bool GeListNode::InsertAfter(GeListNode* other) {
  if (other == nullptr || other->_listHead == nullptr) return Refuse(__LINE__);
  if (!other->_listHead->InsertAfter(this, other)) return false;
  SetDocument(other->GetDocument());
  return true;
}

bool GeListNode::InsertUnder(GeListNode* parent) {
  if (parent == nullptr || parent->_children == nullptr) return Refuse(__LINE__);
  if (!parent->_children->Insert(this)) return false;
  SetDocument(parent->GetDocument());
  return true;
}

bool GeListNode::InsertUnderLast(GeListNode* parent) {
  if (parent == nullptr || parent->_children == nullptr) return Refuse(__LINE__);
  if (!parent->_children->InsertLast(this)) return false;
  SetDocument(parent->GetDocument());
  return true;
}

GeToolNode2D* GeListNode::Remove() {
  if (prev == nullptr || next == nullptr) return nullptr;
  GeToolNode2D* former = prev;
  GeToolList2D::Unlink(this);
  if (_listHead != nullptr && _listHead->GetOwner() != nullptr)
    --_listHead->GetOwner()->_heldMembers;
  _listHead = nullptr;
  SetDocument(nullptr);
  return former;
}

void GeListNode::SetChildren(RootList2D* children) {
  if (children == _children) return;
  DeleteObj(_children);
  _children = children;
  if (_children != nullptr) _children->SetOwner(this);
}

// ---- bits ----

bool GeListNode::GetNBit(NBIT bit) const {
  if (bit >= 0 && bit < 128) return (_nbits[bit >> 5] & (1u << (bit & 31))) != 0;
  if (bit >= -4 && bit <= -1) return _nbits[-bit - 1] != 0;
  _GeDebugBreak(__LINE__, kFile);
  return false;
}

bool GeListNode::ChangeNBit(NBIT bit, Int32 control) {
  if (bit < 0 || bit >= 128) return false;
  UInt32& word = _nbits[bit >> 5];
  const UInt32 mask = 1u << (bit & 31);
  switch (control & ~0xF0) {
    case NBITCONTROL_SET:
      if ((word & mask) != 0) return false;
      word |= mask;
      return true;
    case NBITCONTROL_CLEAR:
      if ((word & mask) == 0) return false;
      word &= ~mask;
      return true;
    case NBITCONTROL_TOGGLE:
      word ^= mask;
      return true;
    default:
      return false;
  }
}

// ---- raw plug-in data ----

void GeListNode::SetRawData(void* bytes, Int64 size, Int32 level, Int32 layout) {
  FreeRawData();
  _rawData = bytes;
  _rawSize = bytes != nullptr ? size : 0;
  _rawLevel = level;
  _rawLayout = layout;
}

void GeListNode::FreeRawData() {
  MemFree(_rawData);
  _rawSize = 0;
  _rawLevel = 0;
  _rawLayout = 0;
}

// ---- virtual operations ----

GeListNode* GeListNode::GetClone(COPYFLAGS, AliasTrans*) { return nullptr; }

bool GeListNode::TranslateDescID(const DescID&, DescID&, GeListNode*&) { return false; }

// PrivateChunk's HandleSubChunk, Write and CopyToX do nothing (false, true, true): the three
// below begin with their own work.
bool GeListNode::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (id != CHUNK_GELISTNODE) return false;
  Int32 count = 0;
  if (!hf->ReadInt32(&count)) return false;
  for (Int32 i = 0; i < count; ++i) {
    Int32 word = 0;
    if (!hf->ReadInt32(&word)) return false;
    if (i < 4) _nbits[i] = UInt32(word);
  }
  if (level >= 2) {
    UChar hasGoal = 0;
    if (!hf->ReadUChar(&hasGoal)) return false;
    if (hasGoal != 0 && !_goal.Read(hf)) return false;
  }
  return hf->SkipToEndChunk();
}

bool GeListNode::Write(HyperFile* hf) {
  if (!hf->WriteChunkStart(CHUNK_GELISTNODE, GELISTNODE_CHUNK_LEVEL) || !hf->WriteInt32(4))
    return false;
  for (UInt32 word : _nbits)
    if (!hf->WriteInt32(Int32(word))) return false;
  const bool goal = WritesGoalInListChunk() && _goal.WritesRecord();
  if (!hf->WriteUChar(goal ? 1 : 0)) return false;
  if (goal && !_goal.Write(hf)) return false;
  return hf->WriteChunkEnd();
}

bool GeListNode::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  GeListNode* d = static_cast<GeListNode*>(dest);
  for (Int32 i = 0; i < 4; ++i) d->_nbits[i] = _nbits[i];
  if ((flags & COPYFLAGS_NO_GOAL) == 0) {
    _goal.CopyAliasTrans(&d->_goal, trans);
    d->_goal.SetKept(_goal.IsKept());
  }
  return true;
}

}  // namespace lumora
