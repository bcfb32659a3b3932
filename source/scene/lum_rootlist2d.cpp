// RootList2D: list heads (see lum_rootlist2d.h).
#include "scene/lum_rootlist2d.h"

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

RootList2D::~RootList2D() { FlushAll(); }

bool RootList2D::Insert(GeListNode* node) { return InsertAfter(node, nullptr); }

bool RootList2D::InsertLast(GeListNode* node) {
  if (node == nullptr) return false;
  GeToolList2D::LinkAfter(node, _list.tail.prev);
  node->_listHead = this;
  return true;
}

bool RootList2D::InsertAfter(GeListNode* node, GeListNode* pred) {
  if (node == nullptr) return false;
  GeToolList2D::LinkAfter(node, pred != nullptr ? static_cast<GeToolNode2D*>(pred) : &_list.head);
  node->_listHead = this;
  return true;
}

bool RootList2D::InsertBefore(GeListNode* node, GeListNode* succ) {
  if (node == nullptr) return false;
  GeToolNode2D* pred = succ != nullptr ? succ->prev : nullptr;
  if (pred == nullptr) pred = &_list.head;
  GeToolList2D::LinkAfter(node, pred);
  node->_listHead = this;
  return true;
}

GeListNode* RootList2D::GetFirst() const { return static_cast<GeListNode*>(_list.First()); }

GeListNode* RootList2D::GetLast() const { return static_cast<GeListNode*>(_list.Last()); }

Int32 RootList2D::GetCount() const {
  Int32 n = 0;
  for (GeToolNode2D* m = _list.First(); m != nullptr && m != &_list.tail; m = m->next) ++n;
  return n;
}

void RootList2D::FlushAll() {
  while (GeListNode* m = GetFirst()) {
    m->Remove();
    DeleteObj(m);
  }
}

bool RootList2D::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (GeListNode::HandleSubChunk(hf, id, level)) return true;
  if (id != CHUNK_NODELIST) return false;
  FlushAll();
  return ReadChunk(hf, true, false);
}

bool RootList2D::AppendRead(HyperFile* hf, GeListNode* member) {
  if (member == nullptr) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  if (!member->ReadChunk(hf, true, false)) {
    DeleteObj(member);
    return false;
  }
  InsertLast(member);
  member->SetDocument(hf->GetDocument());
  return true;
}

bool RootList2D::WriteMembers(HyperFile* hf) {
  if (GetFirst() == nullptr) return true;
  if (!hf->WriteChunkStart(CHUNK_NODELIST, 0)) return false;
  for (GeListNode* m = GetFirst(); m != nullptr; m = m->GetNext())
    if (!m->WriteObject(hf, m->GetDiskType())) return false;
  return hf->WriteChunkEnd();
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
    d->InsertLast(clone);
  }
  return GeListNode::CopyToX(dest, flags, trans);
}

}  // namespace lumora
