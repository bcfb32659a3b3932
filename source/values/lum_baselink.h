// Links between nodes: BaseLink, the alias goal every node carries, and the alias translation
// that re-points links when a set of nodes is copied or read from a file.
//
// A link never dangles. Every node embeds a GeAliasGoal; a non-empty link owns a GeAliasXLink
// that sits in the goal's record, a list of every link pointing at the goal. Destroying the
// goal (with its node) detaches those entries, so the links resolve to null from then on;
// destroying a link takes its entry out of the list. The record exists exactly while at least
// one link points at the goal, and its address is the goal's identity: the 8-byte value that
// stands for the goal in files and translations (0 for a goal without links).
//
// An AliasTrans maps identities to the goals that now stand for them. Copying a set of nodes
// registers every copied goal (GeAliasGoal::CopyAliasTrans) and every copied link
// (BaseLink::CopyData) with it; Zap(true) then points the links whose target was not copied back
// at the original target. The entries are found through a hash index, so a translation of n
// goals and links costs O(n) on average; Zap visits them in identity order.
//
// The declarations live with the values because values (links in GeData, in/exclude lists) hold
// links; the operations are defined with the node tree (scene/lum_smart_link.cpp), since a link
// resolves to a node.
//
// File records (doc/scene-format.md): a goal is "agoal1" and its identity (14 bytes), a link
// "alias2", its identity and optionally a big-endian Int32 length and the path text in the 8-bit
// code page. The identity bytes are those of the writing machine.
#ifndef LUM_BASELINK_H
#define LUM_BASELINK_H

#include "foundation/lum_string.h"
#include "lum_types.h"

namespace lumora {

class BaseDocument;
class BaseList2D;
class GeAliasGoal;
class GeListNode;
class HyperFile;
struct GeAliasGoalRecord;
struct TransEntry;

// The identity of a goal in files and translations; 0 means no goal.
using GeAliasID = UInt64;

// The link part of every list node: the neighbours, null when the node is in no list.
class GeToolNode2D {
 public:
  GeToolNode2D() = default;
  virtual ~GeToolNode2D() = default;
  GeToolNode2D(const GeToolNode2D&) = delete;
  GeToolNode2D& operator=(const GeToolNode2D&) = delete;

  GeToolNode2D* next = nullptr;
  GeToolNode2D* prev = nullptr;
};

// A doubly linked list with two embedded sentinels. Empty: head.next = &tail, tail.prev = &head.
// Destroying or flushing the list destroys and frees every node in it, front to back (the
// nodes must come from NewObj).
class GeToolList2D {
 public:
  GeToolList2D();
  virtual ~GeToolList2D();
  GeToolList2D(const GeToolList2D&) = delete;
  GeToolList2D& operator=(const GeToolList2D&) = delete;

  // The first and last real nodes, or null.
  GeToolNode2D* First() const { return head.next != &tail ? head.next : nullptr; }
  GeToolNode2D* Last() const { return tail.prev != &head ? tail.prev : nullptr; }
  bool IsEmpty() const { return head.next == &tail; }
  // Links node (in no list) in after pred, which may be the head sentinel.
  static void LinkAfter(GeToolNode2D* node, GeToolNode2D* pred);
  // Unlinks node from whatever list it is in; a node in no list stays as it is.
  static void Unlink(GeToolNode2D* node);
  // Destroys and frees every node, front to back.
  void FlushAll();

  GeToolNode2D head;
  GeToolNode2D tail;
  // Spare word; zero from construction on, used by nothing.
  Int32 spare = 0;
};

// One non-empty link's entry in its goal's record.
class GeAliasXLink : public GeToolNode2D {
 public:
  GeAliasGoalRecord* goalRecord = nullptr;  // null when detached
  void* ownerRef = nullptr;
};

// Walks the links of a goal: GeAliasGoal::GetFirstLink gives the newest and sets the walker to
// the next; GetNext gives that one and moves on (null at the end). Does not survive changes to
// the goal's links.
class BrowseGoal {
 public:
  GeAliasXLink* GetNext();

 private:
  friend class GeAliasGoal;
  GeAliasXLink* _next = nullptr;
  const GeToolNode2D* _tail = nullptr;
};

// The anchor links point at; one per node (embedded in GeListNode), and one placeholder per
// translation entry.
class GeAliasGoal {
 public:
  GeAliasGoal() = default;
  explicit GeAliasGoal(void* owner) : _owner(owner) {}
  // Detaches every link in the record (they resolve to null from then on) and releases it.
  virtual ~GeAliasGoal();
  GeAliasGoal(const GeAliasGoal&) = delete;
  GeAliasGoal& operator=(const GeAliasGoal&) = delete;

  virtual bool GetVisibility() const { return _visible; }
  virtual bool IsAliasGoal() const { return false; }
  virtual BaseDocument* GetDocument() const { return nullptr; }

  void Init(void* owner) { _owner = owner; }
  void* GetOwner() const { return _owner; }
  void SetVisibility(bool visible) { _visible = visible; }

  // The goal's identity: non-zero exactly while links point at it.
  GeAliasID GetID() const;
  // Whether links point at the goal.
  bool HasLinks() const;
  // Whether the node writes the goal's record (the test writers use): while links point at
  // the goal, and always once a record was read for it, so that a goal read from a file is
  // written back even when nothing in this read names it (links elsewhere in the file may).
  bool WritesRecord() const { return _kept || HasLinks(); }
  // Whether a record was read for the goal; a copy of the node takes it over.
  bool IsKept() const { return _kept; }
  void SetKept(bool kept) { _kept = kept; }
  // Null when no link points at the goal; otherwise the newest link's entry, and browse is set
  // to the next one. The flag is not used.
  GeAliasXLink* GetFirstLink(BrowseGoal& browse, bool = false) const;
  // The number of links pointing at the goal.
  Int32 GetLinkCount() const;

  // With trans, registers dest as the copy of this goal (XSetGoalFromID with this identity).
  void CopyAliasTrans(GeAliasGoal* dest, class AliasTrans* trans) const;
  // Moves every link of this goal to dest; this goal ends without a record. False (and nothing
  // moved) when dest's record cannot be allocated.
  bool XTransfer(GeAliasGoal* dest);
  // Detaches every link (they become empty-resolving) and releases the record.
  void DetachAll();

  // The 14-byte goal record. Read takes the identity (0 for a block that is not exactly 14
  // bytes starting with "agoal1"), keeps the goal when the block is a record, and registers this
  // goal under it when the file's document carries an alias translation. False only when the
  // block cannot be read. Write gives a kept goal without links its own address as identity
  // (non-zero and unique among the goals alive, as a record's address is).
  bool Read(HyperFile* hf);
  bool Write(HyperFile* hf) const;

 private:
  friend class BaseLink;
  friend class GeAliasXTrans;
  // The record, created when missing; null when out of memory.
  GeAliasGoalRecord* MakeRecord();

  void* _owner = nullptr;
  bool _visible = true;
  bool _kept = false;
  GeAliasGoalRecord* _record = nullptr;
};

class AliasTrans;

class BaseLink {
 public:
  // Empty.
  BaseLink() = default;
  // Raises the debug alert, then copies as CopyData without translation.
  BaseLink(const BaseLink& src);
  BaseLink& operator=(const BaseLink& src);
  virtual ~BaseLink();

  // Heap forms; Free clears the pointer. Alloc gives null when out of memory.
  static BaseLink* Alloc();
  static void Free(BaseLink*& link);

  // A new link filled by CopyData(new, trans); null when out of memory.
  virtual BaseLink* GetClone(AliasTrans* trans) const;
  // With trans, dest is entered into the translation (SetAliasFromID with this identity and
  // this goal). Without, dest points at the same goal. dest's text becomes a copy of this text.
  // False when memory ran out (dest is then empty, or without text).
  virtual bool CopyData(BaseLink* dest, AliasTrans* trans) const;

  // Null empties the link. Otherwise XSetLink(node's goal).
  void SetLink(GeListNode* node);
  // Points the link at goal (front of its list). False when out of memory (the link is then
  // empty).
  bool XSetLink(GeAliasGoal& goal);
  // Detaches and frees the entry: the link becomes empty.
  void Clear();
  // The node the link resolves to: the goal's owner while the goal exists and is visible and
  // the owner is a BaseList2D; otherwise null.
  BaseList2D* GetLink() const;
  GeAliasGoal* GetLinkGoal() const;
  // The link's identity (its goal's), 0 for an empty link.
  GeAliasID GetID() const;
  bool IsEmpty() const { return _xlink == nullptr || _xlink->goalRecord == nullptr; }

  // The path text, or null.
  const String* GetText() const { return _text; }
  // Empty text removes it. False when out of memory.
  bool SetText(const String& text);

  // The node at the end of the link's path: the resolved node, walked by the text from its last
  // character to its first when it is an object ('n' the next object, 'd' the first child, 'D'
  // and 'G' the node's GetLinkPathCache, others nothing; null ends the walk with null), then null
  // unless it is an instance of instanceType (0 accepts every node).
  BaseList2D* GetLinkAtom(const BaseDocument* doc, Int32 instanceType) const;

  // The link record. Read: a block of at least 14 bytes starting with "alias2" gives the
  // identity (registered with the file document's translation when there is one) and, when
  // bytes follow, the text; the text takes at most the bytes that are there. Other blocks leave
  // the link unchanged. False only when the block cannot be read.
  bool Read(HyperFile* hf);
  bool Write(HyperFile* hf) const;
  // The bytes of a record without text.
  static constexpr Int32 RECORD_SIZE = 14;
  // Whether such a record names no node: read into an empty link it changes nothing.
  static bool IsEmptyRecord(const UChar* record);
  // The record an empty link writes (RECORD_SIZE bytes).
  static void EmptyRecord(UChar* record);

 private:
  friend class GeAliasXTrans;
  friend class GeAliasGoal;

  String* _text = nullptr;
  GeAliasXLink* _xlink = nullptr;
  void* _ownerRef = nullptr;
};

// The translation table (GeAliasXTrans) behind an AliasTrans.
class GeAliasXTrans {
 public:
  GeAliasXTrans() = default;
  ~GeAliasXTrans();
  GeAliasXTrans(const GeAliasXTrans&) = delete;
  GeAliasXTrans& operator=(const GeAliasXTrans&) = delete;

  // goal now stands for id: links waiting for id (and later ones) point at goal. The goal's
  // own links are detached first (it starts clean), except when id is its own identity; a goal
  // registered under id already changes nothing. False when out of memory.
  bool XSetGoalFromID(GeAliasID id, GeAliasGoal* goal);
  // link points at whatever stands for id (a placeholder until the goal is registered); source
  // is the goal the link pointed at before, for Zap(true). id 0 leaves the link empty. False
  // when out of memory (the link is then empty).
  bool SetAliasFromID(GeAliasID id, BaseLink* link, GeAliasGoal* source);
  // resolve: links still waiting on a placeholder whose source goal is alive point at that goal
  // again. Then every entry is destroyed (links left on a placeholder become empty).
  void Zap(bool resolve);
  Int32 GetCount() const { return _count; }

 private:
  // The entry for id, created when missing; null when out of memory.
  TransEntry* FindOrInsert(GeAliasID id);
  bool GrowIndex();

  TransEntry** _entries = nullptr;  // in insertion order
  Int32 _count = 0;
  Int32 _capacity = 0;
  // Open addressing. A slot holds the entry index + 1 in its low half (0 = free) and the high
  // half of the identity's hash in its high half, so that a probe passes other identities
  // without reading their entries: on a large translation those reads miss the cache.
  UInt64* _index = nullptr;
  Int32 _indexSize = 0;  // a power of two, at least twice the count
};

class AliasTrans {
 public:
  AliasTrans() = default;
  ~AliasTrans();
  AliasTrans(const AliasTrans&) = delete;
  AliasTrans& operator=(const AliasTrans&) = delete;

  // Creates the table; false when out of memory.
  bool Init();
  void Zap(bool resolve);
  GeAliasXTrans* GetTrans() const { return _trans; }

 private:
  GeAliasXTrans* _trans = nullptr;
};

}  // namespace lumora

#endif  // LUM_BASELINK_H
