// RootList2D: a list head that is itself a node. Every list of nodes (children, tags, tracks,
// shaders, plug-in nodes) is a RootList2D subclass; GetUp of each member is the list's owner.
//
// Writing and reading the members is the subclass's: it writes CHUNK_NODELIST holding one
// chunk per member (id = the member's disk type, the member's Write inside) and, in
// HandleSubChunk, allocates a member for each such chunk, reads it with ReadChunk and appends it
// (AppendRead). RootList2D::HandleSubChunk takes CHUNK_NODELIST: it flushes the list and runs the
// generic loop, so that member chunks arrive at the subclass.
#ifndef LUM_ROOTLIST2D_H
#define LUM_ROOTLIST2D_H

#include "scene/lum_gelistnode.h"

namespace lumora {

class RootList2D : public GeListNode {
 public:
  RootList2D() = default;
  // Destroys every member.
  ~RootList2D() override;

  bool IsInstanceOf(Int32 id) const override { return id == 0; }
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  bool IsListHead() const override { return true; }
  // True, writes nothing of the list's own.
  bool Write(HyperFile*) override { return true; }
  // COPYFLAGS_NO_BRANCHES: nothing. Otherwise the destination is flushed and gets a clone of
  // every member (flags without COPYFLAGS_NO_CHILDREN); one failed clone flushes it and gives
  // false. Then the list-node part.
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;

  // Each links node in, sets its list head to this list and returns true. Refused (false,
  // nothing changes, debug alert) for a null node, a node already in a list (call Remove
  // first), a node of another class than GetMemberClass asks for, and a node that is this
  // list, its owner or one of the owner's ancestors; and when pred or succ is not a member of
  // this list.
  bool Insert(GeListNode* node);
  bool InsertLast(GeListNode* node);
  // After pred, or at the front when pred is null.
  bool InsertAfter(GeListNode* node, GeListNode* pred);
  // Before succ, or at the front when succ is null or first.
  bool InsertBefore(GeListNode* node, GeListNode* succ);
  GeListNode* GetFirst() const;
  GeListNode* GetLast() const;
  Int32 GetCount() const;
  // Destroys and frees every member, front to back.
  void FlushAll();

  // Whether node may be inserted (see Insert); raises the debug alert when not.
  bool Accepts(const GeListNode* node) const;
  // For readers and copies: appends node, which was just made and so cannot lie above this
  // list, checking all but the ancestors (whose walk would make deep copies quadratic).
  bool _InsertNewLast(GeListNode* node);
  // The NODECLASS a member must be of (lists whose members are read back as one class); 0:
  // any node.
  virtual UInt32 GetMemberClass() const { return 0; }

  GeListNode* GetOwner() const { return _owner; }
  void SetOwner(GeListNode* owner) { _owner = owner; }

  // CHUNK_NODELIST holding one chunk per member (its disk type, its Write); nothing for an
  // empty list.
  bool WriteMembers(HyperFile* hf);

 protected:
  // For subclasses' HandleSubChunk: reads member (just allocated, in no list) with ReadChunk,
  // appends it and gives it the file's document; a member that fails is destroyed and the
  // result is false.
  bool AppendRead(HyperFile* hf, GeListNode* member);

  // Whether node is in this list; raises the debug alert when not.
  bool IsMember(const GeListNode* node) const;

  GeToolList2D _list;
  GeListNode* _owner = nullptr;
};

}  // namespace lumora

#endif  // LUM_ROOTLIST2D_H
