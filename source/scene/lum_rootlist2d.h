// RootList2D: a list head that is itself a node. Every list of nodes (children, tags, tracks,
// shaders, plug-in nodes) is a RootList2D subclass; GetUp of each member is the list's owner.
//
// Writing and reading the members is the subclass's: it writes CHUNK_NODELIST holding one
// chunk per member (id = the member's disk type, the member's Write inside) and, in
// HandleSubChunk, allocates a member for each such chunk, reads it with ReadChunk and appends it
// (AppendRead). RootList2D::HandleSubChunk takes CHUNK_NODELIST: it flushes the list and runs the
// generic loop, so that member chunks arrive at the subclass.
//
// A CHUNK_NODELIST nested among the members adds its members to those read before it. Chunks of
// the list that no class takes are kept with the number of members read before them, and
// WriteNodeList writes each back before the member that followed it. The list's own
// CHUNK_GELISTNODE (bits and goal) is written only when it carries something.
#ifndef LUM_ROOTLIST2D_H
#define LUM_ROOTLIST2D_H

#include "scene/lum_gelistnode.h"
#include "scene/lum_keptchunks.h"

namespace lumora {

class RootList2D : public GeListNode {
 public:
  RootList2D() = default;
  // Destroys every member.
  ~RootList2D() override;

  bool IsInstanceOf(Int32 id) const override { return id == 0; }
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  bool KeepUnknownChunk(HyperFile* hf, Int32 id, Int32 level) override;
  bool IsListHead() const override { return true; }
  // The list's own CHUNK_GELISTNODE when its bits or goal hold anything; else nothing.
  bool Write(HyperFile* hf) override;
  // COPYFLAGS_NO_BRANCHES: nothing. Otherwise the destination is flushed and gets a clone of
  // every member (flags without COPYFLAGS_NO_CHILDREN) and a copy of the kept chunks; one failed
  // clone or copy flushes it and gives false. Then the list-node part.
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
  // Destroys and frees every member, front to back (the kept chunks stay).
  void FlushAll();
  Int32 GetKeptChunkCount() const { return _kept.GetCount(); }
  // Frees the kept chunks.
  void FreeKeptChunks();
  // Appends from's kept chunks, after the members this list has now, and empties from's.
  bool TakeKeptChunks(RootList2D& from);
  // Replaces dest's kept chunks with copies of these (their places kept); false when out of
  // memory.
  bool CopyKeptChunksTo(RootList2D* dest) const;

  // Whether node may be inserted (see Insert); raises the debug alert when not.
  bool Accepts(const GeListNode* node) const;
  // For readers and copies: appends node, which was just made by this list's reader (of its
  // member class) or cloned from a member, and so lies in no list and above none: nothing is
  // checked (the ancestors' walk would make deep copies quadratic).
  void _InsertNewLast(GeListNode* node);
  // The NODECLASS a member must be of (lists whose members are read back as one class); 0:
  // any node.
  virtual UInt32 GetMemberClass() const { return 0; }

  GeListNode* GetOwner() const { return _owner; }
  // The members count as held by the new owner from now on.
  void SetOwner(GeListNode* owner);

  // CHUNK_NODELIST holding one chunk per member (its disk type, its Write); nothing for an
  // empty list.
  bool WriteMembers(HyperFile* hf) { return WriteNodeList(hf, 0, false); }
  // CHUNK_NODELIST holding one chunk per member (id memberId, or the member's disk type for 0)
  // with the kept chunks in their places; for a list without members or kept chunks nothing,
  // or with evenEmpty the empty chunk.
  bool WriteNodeList(HyperFile* hf, Int32 memberId, bool evenEmpty);

 protected:
  // For subclasses' HandleSubChunk: reads member (just allocated, in no list) with ReadChunk,
  // appends it and gives it the file's document; a member that fails is destroyed and the
  // result is false. With read set the member was read already, by a reader of its own.
  bool AppendRead(HyperFile* hf, GeListNode* member, bool read = false);

  // Makes node, just linked in, a member: its list head, and one more node its owner holds.
  void Adopt(GeListNode* node);

  // Whether node is in this list; raises the debug alert when not.
  bool IsMember(const GeListNode* node) const;

  GeToolList2D _list;
  GeListNode* _owner = nullptr;

 private:
  KeptChunks _kept;              // placed by the members read before them
  bool _readingMembers = false;  // inside the list's CHUNK_NODELIST
};

}  // namespace lumora

#endif  // LUM_ROOTLIST2D_H
